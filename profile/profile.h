// The settings store: named integer and string values of one store name, read
// from HKEY_CURRENT_USER\Software\Varnolt\<name> or from one INI file section.
//
// Nothing here reports failure. Every read takes the caller's default, and the
// default stands in for anything missing, unreadable or refused. A registry key
// that the open had to create is seeded instead of read: each read writes its
// default into the key and returns it.
#pragma once

#include <windows.h>

struct ProfileStore {
  HKEY key;           // open key in registry mode; NULL when no key could be had
  DWORD disposition;  // REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY
  char iniFile[260];  // INI path, "" when none was given
  char section[260];  // the store name; "" when the name was refused
  int useRegistry;    // nonzero: registry mode; zero: INI mode
};

// Longest store name that fits the 256-byte subkey path after the maker's key.
const int kProfileMaxRegistryName = 238;

void ProfileOpen(const char* iniFile, const char* name, ProfileStore* store, int useRegistry);
int ProfileGetInt(ProfileStore* store, const char* valueName, int defaultValue);
// Returns true only when an existing key holds a value of this name, whether
// or not it fitted the buffer: the caller can count the values it has met,
// empty ones too. A missing value, a seeded key and INI mode give false.
bool ProfileGetString(ProfileStore* store, const char* valueName, const char* defaultText,
                      char* out, int outSize);
// The number of values an existing key holds; nothing is written. A seeded
// key, INI mode, a refused store or a failed query give the default.
int ProfileGetValueCount(ProfileStore* store, int defaultValue);
void ProfileClose(ProfileStore* store);
