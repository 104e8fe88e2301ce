// The settings store over the registry and Windows profile strings.
//
// Buffers are fixed and caller-owned; every copy is bounded and every text we
// hand back ends in a NUL that we wrote ourselves, since the registry may hold
// a string without one.
#include "profile.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The length of text, looking at no more than max bytes of it.
size_t BoundedLength(const char* text, size_t max) {
  const void* end = memchr(text, '\0', max);
  return end == NULL ? max : static_cast<size_t>(static_cast<const char*>(end) - text);
}

// Copies src into dst, cut to size - 1 characters; dst always ends in a NUL.
void CopyText(char* dst, size_t size, const char* src) {
  size_t length = BoundedLength(src, size - 1);
  memmove(dst, src, length);
  dst[length] = '\0';
}

bool FitsIn(const char* text, size_t size) {
  return BoundedLength(text, size) < size;
}

// Reads an INI integer as the C runtime's strtol does (blanks, sign, digits),
// held to the 32-bit range instead of overflowing.
int ParseDecimal(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Counted in the negative range, which holds INT_MIN.
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value > INT_MIN) value = value * 10 - (*text - '0');
  }
  if (!negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// A key that this store's open created is seeded: reads write their defaults.
bool SeedsKey(const ProfileStore* store) {
  return store->disposition == REG_CREATED_NEW_KEY;
}

}  // namespace

void ProfileOpen(const char* iniFile, const char* name, ProfileStore* store, int useRegistry) {
  store->key = NULL;
  store->disposition = 0;
  store->iniFile[0] = '\0';
  store->section[0] = '\0';
  store->useRegistry = useRegistry;
  if (name == NULL) name = "";

  // A name or path that does not fit is refused whole, never cut: a cut name
  // could address another product's store. A refused store holds no key and an
  // empty section, and every read then yields its default.
  if (useRegistry && name[0] != '\0' && FitsIn(name, kProfileMaxRegistryName + 1)) {
    // The prefix and a name of at most kProfileMaxRegistryName bytes, with its NUL.
    static const char kPrefix[] = "Software\\Varnolt\\";
    char subkey[256];
    memcpy(subkey, kPrefix, sizeof(kPrefix) - 1);
    memcpy(subkey + sizeof(kPrefix) - 1, name, strlen(name) + 1);
    HKEY key = NULL;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, const_cast<char*>(name),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                        &disposition) == ERROR_SUCCESS) {
      store->key = key;
      store->disposition = disposition;
    }
  }
  bool iniFits = iniFile == NULL || FitsIn(iniFile, sizeof(store->iniFile));
  if (iniFile != NULL && iniFits) CopyText(store->iniFile, sizeof(store->iniFile), iniFile);
  if (iniFits && FitsIn(name, sizeof(store->section))) {
    CopyText(store->section, sizeof(store->section), name);
  }
}

int ProfileGetInt(ProfileStore* store, const char* valueName, int defaultValue) {
  if (store->useRegistry) {
    if (store->key == NULL) return defaultValue;
    DWORD slot = static_cast<DWORD>(defaultValue);
    if (SeedsKey(store)) {
      RegSetValueExA(store->key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&slot),
                     sizeof(slot));
      return defaultValue;
    }
    // The stored type is not examined: the bytes the value holds, up to four,
    // overwrite the default's in the little-endian slot. A failed query may
    // leave the slot undefined, so failure returns the default itself.
    DWORD type = 0;
    DWORD size = sizeof(slot);
    if (RegQueryValueExA(store->key, valueName, NULL, &type, reinterpret_cast<BYTE*>(&slot),
                         &size) != ERROR_SUCCESS) {
      return defaultValue;
    }
    return static_cast<int>(slot);
  }

  if (store->section[0] == '\0') return defaultValue;
  char defaultText[32];
  char text[32];
  _itoa(defaultValue, defaultText, 10);
  GetPrivateProfileStringA(store->section, valueName, defaultText, text, sizeof(text),
                           store->iniFile);
  text[sizeof(text) - 1] = '\0';
  return ParseDecimal(text);
}

bool ProfileGetString(ProfileStore* store, const char* valueName, const char* defaultText,
                      char* out, int outSize) {
  if (out == NULL || outSize < 1) return false;
  const size_t size = static_cast<size_t>(outSize);
  if (defaultText == NULL) defaultText = "";
  const bool inPlace = out == defaultText;
  const bool readsRegistry = store->useRegistry && store->key != NULL;
  const bool readsIni = !store->useRegistry && store->section[0] != '\0';
  bool found = false;

  if (readsRegistry && SeedsKey(store)) {
    RegSetValueExA(store->key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultText),
                   static_cast<DWORD>(strlen(defaultText) + 1));
  } else if (readsRegistry) {
    if (!inPlace) CopyText(out, size, defaultText);
    // One byte is held back for the NUL we write after whatever arrives.
    DWORD type = 0;
    DWORD got = static_cast<DWORD>(size - 1);
    LONG result =
        RegQueryValueExA(store->key, valueName, NULL, &type, reinterpret_cast<BYTE*>(out), &got);
    if (result == ERROR_SUCCESS && got <= size - 1) {
      out[got] = '\0';
      return true;
    }
    // A value too long for the buffer may leave part of itself there. Out of
    // place the default is put back below; in place the default is gone, and
    // the buffer is only made to end within its size.
    if (inPlace && result == ERROR_MORE_DATA) out[size - 1] = '\0';
    found = result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
  } else if (readsIni) {
    GetPrivateProfileStringA(store->section, valueName, defaultText, out, static_cast<DWORD>(size),
                             store->iniFile);
    out[size - 1] = '\0';
    return false;
  }
  // The default stands. A buffer that holds it already is left byte for byte
  // as the caller gave it: the default is shorter than the buffer, so it ends
  // in its own NUL.
  if (!inPlace) CopyText(out, size, defaultText);
  return found;
}

int ProfileGetValueCount(ProfileStore* store, int defaultValue) {
  if (!store->useRegistry || store->key == NULL || SeedsKey(store)) return defaultValue;
  DWORD values = 0;
  if (RegQueryInfoKeyA(store->key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL,
                       NULL) != ERROR_SUCCESS) {
    return defaultValue;
  }
  return values > INT_MAX ? INT_MAX : static_cast<int>(values);
}

void ProfileClose(ProfileStore* store) {
  if (store->useRegistry && store->key != NULL) {
    RegCloseKey(store->key);
    store->key = NULL;
  }
}
