// Randomized differential test of the settings store and the scheduling run on
// Wine's real registry, profile strings and shell. Every generated case is
// checked against the small model of the store's rules written out below,
// never against the store itself read some other way.
//
// Each test prints its seed; HANDOFF_FUZZ_SEED=<decimal> replays it, and
// HANDOFF_FUZZ_LONG=1 runs twenty times as many cases.
#include <gtest/gtest.h>

#include <ctype.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "profile.h"
#include "schedule.h"
#include "test_support.h"

namespace {

// ---- The model ----

// A registry value as the ANSI functions see it.
struct Stored {
  bool present;
  DWORD type;
  std::string data;
  bool operator==(const Stored& other) const {
    return present == other.present && type == other.type && data == other.data;
  }
};
const Stored kMissing = {false, REG_NONE, ""};
using Values = std::map<std::string, Stored>;

// Text up to its first NUL, cut to fit a buffer of `size` bytes with its NUL.
std::string Fit(const std::string& text, int size) {
  return text.substr(0, std::min(text.find('\0'), static_cast<size_t>(size - 1)));
}

// Integer read of a key that existed: up to four stored bytes overwrite the
// default's little-endian slot whatever the type; more than four, or a missing
// value, give the default. The ANSI query also writes a NUL behind string data
// that has none when the slot has room for it, as Windows does.
int ModelRegistryInt(const Stored& value, int defaultValue) {
  if (!value.present || value.data.size() > 4) return defaultValue;
  uint8_t slot[4];
  for (int i = 0; i < 4; ++i) slot[i] = static_cast<uint32_t>(defaultValue) >> (8 * i);
  const size_t length = value.data.size();
  memcpy(slot, value.data.data(), length);
  const bool isString =
      value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
  if (isString && length > 0 && length < 4 && value.data[length - 1] != '\0') slot[length] = 0;
  return static_cast<int>(slot[0] | slot[1] << 8 | slot[2] << 16 | uint32_t{slot[3]} << 24);
}

// String read of a key that existed, into outSize bytes: data that fits in
// outSize - 1 bytes comes back up to its first NUL; anything else gives the
// default, cut to the buffer.
std::string ModelRegistryString(const Stored& value, const std::string& defaultText, int outSize) {
  const bool fits = value.present && value.data.size() < static_cast<size_t>(outSize);
  return Fit(fits ? value.data : defaultText, outSize);
}

struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;  // key, value; no blanks around them
};

bool IsQuoted(const std::string& value) {
  return value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return tolower(static_cast<unsigned char>(x)) == tolower(static_cast<unsigned char>(y));
         });
}

// The profile-string rules: names match in any case; the first section of a
// name is the one read, and the first entry of a key in it; one pair of
// matching quotes around a value is dropped; a missing file, section or entry
// gives the default without its trailing blanks; the result is cut to size - 1.
std::string ModelIniString(const std::vector<IniSection>& file, const std::string& section,
                           const std::string& key, std::string defaultText, int size) {
  for (const IniSection& candidate : file) {
    if (!SameName(candidate.name, section)) continue;
    for (const auto& [entryKey, value] : candidate.entries) {
      if (!SameName(entryKey, key)) continue;
      return Fit(IsQuoted(value) ? value.substr(1, value.size() - 2) : value, size);
    }
    break;
  }
  while (!defaultText.empty() && defaultText.back() == ' ') defaultText.pop_back();
  return Fit(defaultText, size);
}

// The store's INI integer: the entry read into 32 bytes, with the default
// written in decimal, then read as the C runtime reads a decimal (blanks, a
// sign, digits up to the first other character; 0 without digits), held to
// the 32-bit range.
int ModelIniInt(const std::vector<IniSection>& file, const std::string& section,
                const std::string& key, int defaultValue) {
  const std::string text = ModelIniString(file, section, key, std::to_string(defaultValue), 32);
  size_t i = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  long long magnitude = 0;
  for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), 1LL << 40);
  }
  return static_cast<int>(
      std::clamp(negative ? -magnitude : magnitude, -(1LL << 31), 0LL + INT_MAX));
}

// ---- Generating cases, and reporting the first one that disagrees ----

std::string Show(long long value) {
  return std::to_string(value);
}
std::string Show(const std::string& bytes) {
  std::string text = std::to_string(bytes.size()) + " bytes [";
  char hex[4];
  for (size_t i = 0; i < std::min<size_t>(bytes.size(), 24); ++i) {
    snprintf(hex, sizeof(hex), i ? " %02x" : "%02x", static_cast<unsigned char>(bytes[i]));
    text += hex;
  }
  return text + (bytes.size() > 24 ? " ...]" : "]");
}
std::string Show(const Values& values) {
  std::string text = "key with " + std::to_string(values.size()) + " values";
  for (const auto& [name, value] : values) {
    text += "\n    \"" + name + "\" " +
            (value.present ? "type " + Show(value.type) + ", " + Show(value.data) : "missing");
  }
  return text;
}

// One test's stream of generated cases. It prints and records the seed, and
// reports the first case that disagrees with the model; the test then stops.
class Fuzz {
 public:
  Fuzz(uint64_t salt, int ciCases) {
    const char* seedText = getenv("HANDOFF_FUZZ_SEED");
    const char* longRun = getenv("HANDOFF_FUZZ_LONG");
    seed_ = seedText != nullptr && *seedText != '\0' ? strtoull(seedText, nullptr, 10) : 20261207;
    engine_.seed(seed_ * 1000003 + salt);
    cases_ = longRun != nullptr && strcmp(longRun, "1") == 0 ? ciCases * 20 : ciCases;
    std::cout << "[ FUZZ     ] seed " << seed_ << ", " << cases_ << " cases" << std::endl;
    ::testing::Test::RecordProperty("seed", std::to_string(seed_));
  }

  // Starts case `index`, unless the cases are done or one has failed. The
  // `context` (the key or file under test) stays; the case's `story` restarts.
  bool Next(int index) {
    index_ = index;
    story.str("");
    return index < cases_ && !failed_;
  }
  template <typename T, typename U>
  void Expect(const T& actual, const U& model, const char* what) {
    if (actual == model || failed_) return;
    failed_ = true;
    ADD_FAILURE() << "seed " << seed_ << ", case " << index_ << ": " << what << "\n  " << context
                  << "\n"
                  << story.str() << "  got:   " << Show(actual) << "\n  model: " << Show(model)
                  << "\n  replay with HANDOFF_FUZZ_SEED=" << seed_;
  }

  int Between(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(engine_);
  }
  bool OneIn(int n) {
    return Between(1, n) == 1;
  }
  template <typename T>
  T Pick(const std::vector<T>& items) {
    return items[Between(0, static_cast<int>(items.size()) - 1)];
  }
  std::string Text(int length, const std::string& alphabet) {
    std::string text;
    while (length-- > 0) text += alphabet[Between(0, static_cast<int>(alphabet.size()) - 1)];
    return text;
  }
  int AnyInt() {
    if (OneIn(4)) return Pick(std::vector<int>{0, -1, 1, INT_MIN, INT_MAX});
    return OneIn(3) ? Between(-5, 50) : static_cast<int>(engine_());
  }
  std::string AnyCase(std::string name) {
    for (char& c : name) c = OneIn(2) ? toupper(c) : tolower(c);
    return name;
  }

  std::string context;
  std::ostringstream story;

 private:
  uint64_t seed_;
  std::mt19937_64 engine_;
  int cases_;
  int index_ = 0;
  bool failed_ = false;
};

// Joins parts in the order written: the draws for them happen in that order,
// so a seed replays the same case whichever way a compiler orders operands.
std::string Join(std::initializer_list<std::string> parts) {
  std::string text;
  for (const std::string& part : parts) text += part;
  return text;
}

std::string Characters(int first, int last) {
  std::string text;
  for (int c = first; c <= last; ++c) text += static_cast<char>(c);
  return text;
}
const std::string kPrintable = Characters(' ', '~');
const std::string kNameChars = Characters('a', 'z') + Characters('0', '9') + " -_.*?ABCXYZ";
// Distinct in any case, as registry value names are; "" is the key's unnamed value.
const std::vector<std::string> kValueNames = {"inscount", "ins0", "ins1", "", "Value Name", "x"};
const std::vector<DWORD> kTypes = {REG_NONE,   REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ,
                                   REG_BINARY, REG_DWORD, REG_QWORD,     REG_DWORD_BIG_ENDIAN,
                                   0x4d2};

// Data of any type: short, at the run's 1024-byte buffer, or anything up to
// 2,000 bytes; text or any bytes; with or without a final NUL.
Stored AnyValue(Fuzz& fuzz) {
  const int length = fuzz.OneIn(3)   ? fuzz.Between(0, 8)
                     : fuzz.OneIn(2) ? fuzz.Between(1020, 1028)
                                     : fuzz.Between(0, 2000);
  Stored value = {
      true, fuzz.Pick(kTypes),
      fuzz.Text(length, fuzz.OneIn(2) ? kPrintable : Characters(fuzz.Between(0, 1), 255))};
  if (length > 0 && fuzz.OneIn(2)) value.data.back() = '\0';
  return value;
}

int AnyOutSize(Fuzz& fuzz, const Stored& value) {
  if (value.present && fuzz.OneIn(2)) {
    return std::max(1, static_cast<int>(value.data.size()) + fuzz.Between(-1, 2));
  }
  return fuzz.OneIn(3) ? fuzz.Pick(std::vector<int>{1, 2, 1023, 1024, 1025})
                       : fuzz.Between(1, 1100);
}

// Mostly shorter than the buffer, as callers give them; sometimes longer.
std::string AnyDefault(Fuzz& fuzz, int outSize) {
  const int limit = std::min(fuzz.OneIn(8) ? outSize + 40 : outSize - 1, 60);
  return fuzz.Text(fuzz.Between(0, limit), kPrintable);
}

void DeleteKey(const std::string& path) {
  RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
}

// Creates the key when it is missing and stores these values in it.
void WriteKey(const std::string& path, const Values& values) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                            NULL),
            ERROR_SUCCESS);
  for (const auto& [name, value] : values) {
    const std::string padded = value.data + '\x7f';  // or Wine counts a NUL of its own
    if (!value.present) continue;
    RegSetValueExA(key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(padded.data()),
                   static_cast<DWORD>(value.data.size()));
  }
  RegCloseKey(key);
}

Values ReadKey(const std::string& path) {
  Values values;
  for (const RegistryValue& value : Snapshot(path))
    values[value.name] = {true, value.type, value.data};
  return values;
}

// A string read into a buffer with guard bytes on both sides (now and then in
// place, with the default already in the buffer, in registry mode), told in the
// case's story and checked against `model`, and whether the store reports the
// value found against `foundModel`.
void CheckString(Fuzz& fuzz, ProfileStore* store, const std::string& name,
                 const std::string& defaultText, int outSize, const std::string& model,
                 bool foundModel = false) {
  const bool inPlace =
      store->useRegistry && defaultText.size() < static_cast<size_t>(outSize) && fuzz.OneIn(8);
  fuzz.story << "  ProfileGetString(\"" << name << "\", default " << Show(defaultText)
             << ", outSize " << outSize << (inPlace ? ", in place)\n" : ")\n");
  const std::string guard(16, '\xa5');
  std::string bytes = guard + std::string(outSize, '\xa5') + guard;
  char* out = &bytes[guard.size()];
  if (inPlace) memcpy(out, defaultText.c_str(), defaultText.size() + 1);
  const bool found =
      ProfileGetString(store, name.c_str(), inPlace ? out : defaultText.c_str(), out, outSize);
  fuzz.Expect(found, foundModel, "found");
  fuzz.Expect(bytes.substr(0, 16) + bytes.substr(16 + outSize), guard + guard, "guard bytes");
  fuzz.Expect(strnlen(out, outSize) < static_cast<size_t>(outSize), true, "a NUL within outSize");
  fuzz.Expect(std::string(out, strnlen(out, outSize)), model, "string read");
}

void CheckInt(Fuzz& fuzz, ProfileStore* store, const std::string& name, int defaultValue,
              int model) {
  fuzz.story << "  ProfileGetInt(\"" << name << "\", default " << defaultValue << ")\n";
  fuzz.Expect(ProfileGetInt(store, name.c_str(), defaultValue), model, "integer read");
}

// ---- Registry mode ----

enum class KeyKind { kExisting, kCreated, kRefused };

// One key's cases: a key filled with generated values, or none, opened under a
// name of the kind asked for, read a few times and closed. An existing key
// must be left as it was; a created one must hold exactly the defaults its
// reads seeded; a refused name must reach no key at all, not even the key of
// the name cut to fit, which holds generated values here.
void KeyCases(Fuzz& fuzz, int& index, const std::string& base, KeyKind kind) {
  // Names up to the longest taken, at the limit often; refused ones empty or longer.
  const int length = kind != KeyKind::kRefused
                         ? (fuzz.OneIn(4) ? kProfileMaxRegistryName
                                          : fuzz.Between(base.size() + 1, kProfileMaxRegistryName))
                     : fuzz.OneIn(5) ? 0
                     : fuzz.OneIn(2) ? kProfileMaxRegistryName + 1
                                     : fuzz.Between(kProfileMaxRegistryName + 1, 1100);
  const std::string name = length == 0 ? "" : base + fuzz.Text(length - base.size(), kNameChars);
  const std::string path = StoreKeyPath(name.substr(0, kProfileMaxRegistryName));
  if (!name.empty()) DeleteKey(path);
  Values values;  // what the key holds, or will hold once seeded
  if (kind != KeyKind::kCreated && !name.empty()) {
    for (int i = fuzz.Between(0, 5); i > 0; --i) values[fuzz.Pick(kValueNames)] = AnyValue(fuzz);
    WriteKey(path, values);
  }
  if (name.empty()) values = ReadKey(path);  // the maker's key itself
  fuzz.context =
      Join({kind == KeyKind::kExisting  ? "existing " + Show(values)
            : kind == KeyKind::kCreated ? std::string("no key")
                                        : "refused; the name cut to fit has a " + Show(values),
            ", store name of ", std::to_string(name.size()), " characters"});
  ProfileStore profile;
  ProfileOpen(fuzz.OneIn(2) ? NULL : name.c_str(), name.c_str(), &profile, 1);
  fuzz.Expect(profile.key != NULL, kind != KeyKind::kRefused, "a key, unless the name is refused");
  if (profile.key != NULL) {
    const DWORD disposition =
        kind == KeyKind::kCreated ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    fuzz.Expect(profile.disposition, disposition, "disposition");
  }
  const int reads = kind == KeyKind::kExisting ? 2 * values.size() + 1 : fuzz.Between(1, 10);
  for (int read = 0; read < reads && fuzz.Next(index++); ++read) {
    const std::string valueName = fuzz.Pick(kValueNames);
    if (kind == KeyKind::kCreated && fuzz.OneIn(8)) {  // written after the open: a read replaces it
      values[valueName] = AnyValue(fuzz);
      fuzz.story << "  another program writes \"" << valueName << "\" type "
                 << values[valueName].type << ", " << Show(values[valueName].data) << "\n";
      WriteKey(path, {{valueName, values[valueName]}});
    }
    // Only an existing key is read; otherwise every read gives its default.
    const Stored value =
        kind == KeyKind::kExisting && values.count(valueName) ? values[valueName] : kMissing;
    if (fuzz.OneIn(2)) {
      const int defaultValue = fuzz.AnyInt();
      CheckInt(fuzz, &profile, valueName, defaultValue, ModelRegistryInt(value, defaultValue));
      const std::string seed(reinterpret_cast<const char*>(&defaultValue), 4);
      if (kind == KeyKind::kCreated) values[valueName] = {true, REG_DWORD, seed};
    } else {
      const int outSize = AnyOutSize(fuzz, value);
      const std::string defaultText = AnyDefault(fuzz, outSize);
      CheckString(fuzz, &profile, valueName, defaultText, outSize,
                  ModelRegistryString(value, defaultText, outSize), value.present);
      if (kind == KeyKind::kCreated) values[valueName] = {true, REG_SZ, defaultText + '\0'};
    }
  }
  // Only an existing key counts its values; the count writes none.
  fuzz.story << "  ProfileGetValueCount(default -1)\n";
  fuzz.Expect(ProfileGetValueCount(&profile, -1),
              kind == KeyKind::kExisting ? static_cast<int>(values.size()) : -1, "value count");
  ProfileClose(&profile);
  fuzz.Expect(ReadKey(path), values, "the key after the reads");
  if (!name.empty()) DeleteKey(path);
}

// The model takes the ANSI registry calls to keep every byte of text as it
// is, as the system's code page does when it has one byte to a letter; in one
// of several bytes to a letter, bytes that make no letter of it change.
bool AnsiKeepsEveryByte() {
  CPINFO info;
  return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

TEST(StoreFuzz, ReadsOfAnExistingKeyFollowTheStoredBytesAndWriteNothing) {
  if (!AnsiKeepsEveryByte()) GTEST_SKIP() << "code page " << GetACP() << " changes some bytes";
  Fuzz fuzz(1, 5000);
  TestStore base("fuzz-existing");
  for (int index = 0; fuzz.Next(index);)
    KeyCases(fuzz, index, base.name() + "-", KeyKind::kExisting);
}

TEST(StoreFuzz, ReadsSeedACreatedKeyAndARefusedNameReachesNoKey) {
  if (!AnsiKeepsEveryByte()) GTEST_SKIP() << "code page " << GetACP() << " changes some bytes";
  Fuzz fuzz(2, 4000);
  TestStore base("fuzz-created");
  for (int index = 0; fuzz.Next(index);) {
    KeyCases(fuzz, index, base.name() + "-", fuzz.OneIn(4) ? KeyKind::kRefused : KeyKind::kCreated);
  }
}

// ---- INI mode ----

const std::vector<std::string> kSections = {"Product", "other", "Handoff Store", "x"};
const std::vector<std::string> kKeys = {"inscount", "name", "ins0", "a b", "K"};

// Wine cuts a quoted value one character short when its text just fills the
// buffer (n characters read into n + 1 bytes), where the profile functions are
// documented to return all of it. No buffer here is that size for a quoted
// value of the file, not even the 32 bytes of an integer read.

std::string IniValue(Fuzz& fuzz) {
  // Leading zeros or blanks put digits on both sides of the 31 characters an integer read sees.
  const std::string number = Join({fuzz.Text(fuzz.Between(0, 1), "+-"),
                                   std::string(fuzz.OneIn(3) ? fuzz.Between(20, 34) : 0, '0')});
  const std::string digits = fuzz.Text(fuzz.Between(0, 22), "0123456789");
  const std::string quote(1, fuzz.OneIn(2) ? '"' : '\'');
  std::string value;
  switch (fuzz.Between(0, 4)) {
    case 0:
      value = number + digits + fuzz.Text(fuzz.Between(0, 3), "x9 -a");
      break;
    case 1:  // quoted, perhaps with blanks inside, perhaps with mismatched quotes
      value =
          Join({quote, fuzz.Text(fuzz.Between(0, fuzz.OneIn(3) ? 32 : 2), " \t"), number, digits,
                fuzz.Text(fuzz.Between(0, 12), kPrintable), fuzz.OneIn(5) ? "\"" : quote});
      break;
    case 2:
      value = fuzz.Text(fuzz.Between(200, 1500), kPrintable);
      break;
    default:
      value = fuzz.Text(fuzz.Between(0, 40), kPrintable + "\t");
  }
  // The blanks around a value on its line are not part of it.
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  value = value.substr(first, value.find_last_not_of(" \t") - first + 1);
  return IsQuoted(value) && value.size() == 33 ? value.insert(1, " ") : value;
}

// The file's text: sections and entries with blanks around names and values,
// comment and blank lines between them, and stray entries before the first
// section, which belong to none.
std::string RenderIni(Fuzz& fuzz, const std::vector<IniSection>& file) {
  const std::string eol = fuzz.OneIn(4) ? "\n" : "\r\n";
  auto blanks = [&] { return fuzz.OneIn(3) ? fuzz.Text(fuzz.Between(1, 3), " \t") : ""; };
  auto noise = [&] {
    if (fuzz.OneIn(4)) return blanks() + eol;
    return fuzz.OneIn(4) ? Join({blanks(), ";", fuzz.Text(fuzz.Between(0, 30), kPrintable), eol})
                         : "";
  };
  std::string text = fuzz.OneIn(3) ? fuzz.Pick(kKeys) + "=stray" + eol : "";
  for (const IniSection& section : file) {
    text += Join({noise(), blanks(), "[", fuzz.AnyCase(section.name), "]", blanks(), eol});
    for (const auto& [key, value] : section.entries) {
      text += Join(
          {noise(), blanks(), fuzz.AnyCase(key), blanks(), "=", blanks(), value, blanks(), eol});
    }
  }
  if (fuzz.OneIn(3) && !text.empty()) text.resize(text.size() - eol.size());  // no final line end
  return text;
}

TEST(StoreFuzz, IniReadsFollowTheProfileStringRules) {
  Fuzz fuzz(4, 4000);
  const ScratchFolder folder("handoff-fuzz-ini-" + std::to_string(GetCurrentProcessId()));
  for (int index = 0; fuzz.Next(index);) {
    std::vector<IniSection> file(fuzz.Between(0, 4));
    std::set<int> quotedFills;  // buffer sizes that a quoted value just fills (see IniValue)
    for (IniSection& section : file) {
      section.name = fuzz.Pick(kSections);
      for (int i = fuzz.Between(0, 6); i > 0; --i) {
        const std::string key = fuzz.Pick(kKeys);
        section.entries.push_back({key, IniValue(fuzz)});
        const std::string& value = section.entries.back().second;
        if (IsQuoted(value)) quotedFills.insert(static_cast<int>(value.size()) - 1);
      }
    }
    // What a store name or INI path too long for the store would find, cut to fit.
    const std::string longName = fuzz.Text(fuzz.Between(260, 600), kNameChars);
    file.push_back({longName.substr(0, 259), {{"inscount", "7"}, {"name", "cut"}, {"k", "cut"}}});
    const std::string text = RenderIni(fuzz, file);
    // A new name for every file, as the profile functions keep recently read
    // files; the longest path the store takes.
    std::string path = folder.File("case" + std::to_string(index) + "-");
    path += std::string(259 - path.size(), 'p');
    fuzz.context = "no INI file";
    if (fuzz.OneIn(10)) {
      file.clear();
    } else {
      WriteFileText(path, text);
      fuzz.context = "INI file, each line after a '|', long ones shortened:";
      std::istringstream lines(text);
      for (std::string line; std::getline(lines, line);) {
        fuzz.context += "\n    |" + line.substr(0, 80) + (line.size() > 80 ? "..." : "");
      }
    }
    for (int read = 0; read < 4 && fuzz.Next(index++); ++read) {
      // Now and then a store name (none, or too long) or a path that the
      // store refuses: every read then gives its default just as it is.
      const int refused = fuzz.OneIn(10) ? fuzz.Between(1, 3) : 0;
      const std::string section = refused == 1   ? ""
                                  : refused == 2 ? longName
                                                 : fuzz.AnyCase(fuzz.Pick(kSections));
      const std::string iniPath =
          refused == 3 ? path + fuzz.Text(fuzz.Between(1, 40), kNameChars) : path;
      const std::string key = fuzz.AnyCase(fuzz.Pick(kKeys));
      fuzz.story << "  section of " << section.size() << " characters \"" << section.substr(0, 20)
                 << "\", path of " << iniPath.size() << "\n";
      ProfileStore profile;
      ProfileOpen(iniPath.c_str(), section.c_str(), &profile, 0);
      if (fuzz.OneIn(2)) {
        const int defaultValue = fuzz.AnyInt();
        CheckInt(fuzz, &profile, key, defaultValue,
                 refused ? defaultValue : ModelIniInt(file, section, key, defaultValue));
      } else {
        // Wine drops quotes around a default as around a value, and keeps the
        // first blank of a default of blanks only, where the profile functions
        // are documented to take the default as it is, less trailing blanks.
        // So defaults here start with neither a quote nor a blank.
        const std::string defaultText =
            fuzz.OneIn(6) ? ""
                          : Join({fuzz.Text(1, "d:7-"), fuzz.Text(fuzz.Between(0, 20), kPrintable),
                                  std::string(fuzz.Between(0, 2), ' ')});
        int outSize = fuzz.Between(1, 1100);
        while (quotedFills.count(outSize)) ++outSize;
        CheckString(fuzz, &profile, key, defaultText, outSize,
                    refused ? Fit(defaultText, outSize)
                            : ModelIniString(file, section, key, defaultText, outSize));
      }
      ProfileClose(&profile);
    }
    DeleteFileA(path.c_str());
  }
  for (const std::string& section : kSections) {
    EXPECT_FALSE(KeyExists(StoreKeyPath(section))) << "INI mode wrote the registry: " << section;
  }
}

// ---- Runs ----

// An install list entry: missing, reading as empty, too long for the run's
// buffer (so also read as empty), or a file in a folder that does not exist,
// which the shell refuses at once. Wine's shell overruns a stack buffer and
// crashes on a file name of about 1,000 characters, so entries that reach it
// stay short.
Stored AnyEntry(Fuzz& fuzz, const std::string& missingFolder, int nonEmptyOneIn) {
  const DWORD type = fuzz.Pick(kTypes);
  if (fuzz.OneIn(nonEmptyOneIn)) {
    const std::string file = missingFolder + fuzz.Text(fuzz.Between(1, 200), kNameChars);
    return {true, fuzz.Pick(std::vector<DWORD>{REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY}),
            fuzz.OneIn(2) ? file + '\0' : file};
  }
  switch (fuzz.Between(0, 3)) {
    case 0:
      return kMissing;
    case 1:
      return {true, type, ""};
    case 2:
      return {true, type, '\0' + fuzz.Text(fuzz.Between(0, 12), Characters(0, 255))};
    default:
      return {true, type, fuzz.Text(fuzz.Between(1024, 1100), kNameChars)};
  }
}

// The count: mostly a DWORD from -5 to 50, else fewer or more bytes of any
// type, kept small whatever the integer rule makes of them.
Stored AnyCount(Fuzz& fuzz) {
  const int count = fuzz.Between(-5, 50);
  const std::string bytes =
      std::string(reinterpret_cast<const char*>(&count), 4) + "\x01\x02\x03\x04";
  if (fuzz.OneIn(10)) return kMissing;
  if (fuzz.OneIn(3)) return {true, REG_DWORD, bytes.substr(0, 4)};
  const int length = count < 0 ? fuzz.Pick(std::vector<int>{4, 8}) : fuzz.Between(0, 8);
  return {true, fuzz.Pick(kTypes), bytes.substr(0, length)};
}

TEST(StoreFuzz, RunsCloseTheWindowOnlyWhenEveryListedEntryReadsEmpty) {
  if (!AnsiKeepsEveryByte()) GTEST_SKIP() << "code page " << GetACP() << " changes some bytes";
  Fuzz fuzz(5, 1200);
  TestStore store("fuzz-run");
  OwnerWindow owner;
  ShellErrorBoxes boxes(owner.hwnd());
  const std::string path = StoreKeyPath(store.name());
  const Values makerBefore = ReadKey("Software\\Varnolt");
  const ScratchFolder scratch("handoff-fuzz-run-" + std::to_string(GetCurrentProcessId()));
  const std::string missingFolder = scratch.File("missing") + "\\";
  const Values seededCount = {{"inscount", {true, REG_DWORD, std::string(4, '\0')}}};
  std::string program = "handoff.exe";
  for (int index = 0; fuzz.Next(index); ++index) {
    const int kind = fuzz.Between(0, 9);  // 0: a refused name, 1-2: no key, else a list
    std::string name = store.name();
    Values values;
    bool closeModel = kind != 0;
    if (kind == 0) {  // too long for the store, or even for the run's own buffer
      const int length = fuzz.OneIn(2) ? kProfileMaxRegistryName + 1 : fuzz.Between(1000, 1500);
      name =
          fuzz.OneIn(4) ? "" : name + fuzz.Text(length - static_cast<int>(name.size()), kNameChars);
    } else if (kind >= 3) {
      values["inscount"] = AnyCount(fuzz);
      const int count = ModelRegistryInt(values["inscount"], 0);
      const int nonEmptyOneIn = fuzz.Pick(std::vector<int>{1 << 30, 40, 8, 2});
      const int listed = std::max(count, 0) + fuzz.Between(0, 2);  // some beyond the count
      for (int i = 0; i < listed; ++i) {
        const Stored entry = AnyEntry(fuzz, missingFolder, nonEmptyOneIn);
        if (entry.present) values["ins" + std::to_string(i)] = entry;
        if (i < count && !ModelRegistryString(entry, "", 1024).empty()) closeModel = false;
      }
      if (fuzz.OneIn(4)) values["other"] = AnyValue(fuzz);
      if (!values["inscount"].present) values.erase("inscount");
    }
    // The key of a refused name cut to fit must not appear (nor linger from a failed run).
    const std::string cutPath =
        name.empty() ? path : StoreKeyPath(name.substr(0, kProfileMaxRegistryName));
    DeleteKey(cutPath);
    if (kind >= 3) WriteKey(path, values);
    fuzz.context = "store name of " + std::to_string(name.size()) + " characters, " +
                   (kind == 0  ? "refused"
                    : kind < 3 ? "no key"
                               : Show(values));

    char* argv[] = {&program[0], &name[0], nullptr};
    const int boxesBefore = boxes.Dismissed();
    ScheduleRun(2, argv, owner.hwnd());
    fuzz.Expect(owner.TakeCloseRequest(), closeModel, "close request");
    // A list that does not close the window ends at an entry the shell
    // refused, with its error box where the shell shows one.
    if (ShellShowsErrorBoxes()) {
      fuzz.Expect(boxes.Dismissed() - boxesBefore, kind >= 3 && !closeModel ? 1 : 0,
                  "the shell's error boxes");
    }
    if (kind == 0) {
      fuzz.Expect(KeyExists(cutPath) && !name.empty(), false, "no key for the name cut to fit");
      fuzz.Expect(ReadKey("Software\\Varnolt"), makerBefore, "the maker's key");
      DeleteKey(cutPath);
    } else {
      fuzz.Expect(ReadKey(path), kind < 3 ? seededCount : values,
                  kind < 3 ? "the created key holds the seeded count" : "the key after the run");
    }
  }
}

}  // namespace
