// Randomized differential test of the settings store and the scheduling run on
// Wine's real registry, profile strings and shell. Every generated case is
// checked against the small model of the store's rules written out below,
// never against the store itself read some other way.
//
// The cases come from GoogleTest's random seed, a new one on every run unless
// it is given: each test prints it, and a failure names it with the case.
// --gtest_random_seed=<seed> (or GTEST_RANDOM_SEED=<seed>) replays it;
// HANDOFF_FUZZ_LONG=1 runs twenty times as many cases.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "profile.h"
#include "test_support.h"

namespace {

// ---- The model ----

// A registry value as the ANSI functions see it, and a key's values by name.
struct Stored {
  DWORD type;
  std::string data;
};
using Values = std::map<std::string, Stored>;

// The values as Snapshot reads them.
std::vector<RegistryValue> Listed(const Values& values) {
  std::vector<RegistryValue> listed;
  for (const auto& [name, value] : values) listed.push_back({name, value.type, value.data});
  return listed;
}

// Text up to its first NUL, cut to fit a buffer of `size` bytes with its NUL.
std::string Fit(const std::string& text, int size) {
  return text.substr(0, std::min(strlen(text.c_str()), static_cast<size_t>(size - 1)));
}

// Integer read of a key that existed (`value` null when it is missing): up to
// four stored bytes overwrite the default's little-endian slot whatever the
// type; more than four, or none, give the default. The ANSI query also writes
// a NUL behind string data that has none when the slot has room for it, as
// Windows does.
int ModelRegistryInt(const Stored* value, int defaultValue) {
  if (value == nullptr || value->data.size() > 4) return defaultValue;
  std::string data = value->data;
  const DWORD type = value->type;
  const bool isString = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (isString && !data.empty() && data.back() != '\0') data += '\0';
  int slot = defaultValue;
  memcpy(&slot, data.data(), std::min<size_t>(data.size(), 4));
  return slot;
}

// String read of a key that existed, into outSize bytes: data that fits in
// outSize - 1 bytes comes back up to its first NUL; anything else gives the
// default, cut to the buffer.
std::string ModelRegistryString(const Stored* value, const std::string& defaultText, int outSize) {
  const bool fits = value != nullptr && value->data.size() < static_cast<size_t>(outSize);
  return Fit(fits ? value->data : defaultText, outSize);
}

struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;  // key, value; no blanks around them
};

bool IsQuoted(const std::string& value) {
  return value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
}

// The profile-string rules: names match in any case; the first section of a
// name is the one read, and the first entry of a key in it; one pair of
// matching quotes around a value is dropped; a missing file, section or entry
// gives the default without its trailing blanks; the result is cut to size - 1.
std::string ModelIniString(const std::vector<IniSection>& file, const std::string& section,
                           const std::string& key, std::string defaultText, int size) {
  for (const IniSection& candidate : file) {
    if (_stricmp(candidate.name.c_str(), section.c_str()) != 0) continue;
    for (const auto& [entryKey, value] : candidate.entries) {
      if (_stricmp(entryKey.c_str(), key.c_str()) != 0) continue;
      return Fit(IsQuoted(value) ? value.substr(1, value.size() - 2) : value, size);
    }
    break;
  }
  defaultText.erase(defaultText.find_last_not_of(' ') + 1);
  return Fit(defaultText, size);
}

// The store's INI integer: the entry read into 32 bytes, with the default
// written in decimal, then read as the C runtime reads a decimal, held to the
// 32-bit range.
int ModelIniInt(const std::vector<IniSection>& file, const std::string& section,
                const std::string& key, int defaultValue) {
  const std::string text = ModelIniString(file, section, key, std::to_string(defaultValue), 32);
  return static_cast<int>(
      std::clamp(strtoll(text.c_str(), nullptr, 10), 0LL + INT_MIN, 0LL + INT_MAX));
}

// ---- Generating cases ----

// One test's generated cases, drawn from GoogleTest's random seed; they stop
// at the first failure.
class Fuzz {
 public:
  explicit Fuzz(int ciCases)
      : seed_(::testing::UnitTest::GetInstance()->random_seed()), engine_(seed_) {
    const char* longRun = getenv("HANDOFF_FUZZ_LONG");
    cases_ = longRun != nullptr && strcmp(longRun, "1") == 0 ? ciCases * 20 : ciCases;
    std::cout << "[ FUZZ     ] seed " << seed_ << ", " << cases_ << " cases" << std::endl;
  }

  // Counts one case; false once the cases are done or one has failed.
  bool Next() {
    return ++done_ <= cases_ && !::testing::Test::HasFailure();
  }
  // Which case of which seed this is, and what it is about, for a failure to say.
  std::string Case(const std::string& context) const {
    return "case " + std::to_string(done_) + " of --gtest_random_seed=" + std::to_string(seed_) +
           ": " + context;
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

 private:
  int seed_;
  std::mt19937_64 engine_;
  int cases_;
  int done_ = 0;
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
  const DWORD type = fuzz.Pick(kTypes);
  const std::string alphabet = fuzz.OneIn(2) ? kPrintable : Characters(fuzz.Between(0, 1), 255);
  Stored value = {type, fuzz.Text(length, alphabet)};
  if (length > 0 && fuzz.OneIn(2)) value.data.back() = '\0';
  return value;
}

// A string read into a guarded buffer (now and then in place, with the
// default already in the buffer, in registry mode), checked against the model,
// with whether the store reports the value found (only an existing key's value
// is).
void CheckString(Fuzz& fuzz, ProfileStore* store, const std::string& name,
                 const std::string& defaultText, int outSize, const std::string& model,
                 bool foundModel = false) {
  const bool inPlace =
      store->useRegistry && defaultText.size() < static_cast<size_t>(outSize) && fuzz.OneIn(8);
  SCOPED_TRACE("ProfileGetString(\"" + name + "\", " + ::testing::PrintToString(defaultText) +
               ", " + std::to_string(outSize) + (inPlace ? "), in place" : ")"));
  bool found = false;
  const std::string read = ReadGuarded(outSize, [&](char* out) {
    if (inPlace) memcpy(out, defaultText.c_str(), defaultText.size() + 1);
    found =
        ProfileGetString(store, name.c_str(), inPlace ? out : defaultText.c_str(), out, outSize);
  });
  EXPECT_EQ(read, model);
  EXPECT_EQ(found, foundModel) << "found";
}

// ---- Registry mode ----

// A store name that the store refuses: empty, one byte too long, or longer.
std::string RefusedName(Fuzz& fuzz, const std::string& base, int longest) {
  if (fuzz.OneIn(5)) return "";
  const int length = fuzz.OneIn(2) ? kProfileMaxRegistryName + 1
                                   : fuzz.Between(kProfileMaxRegistryName + 1, longest);
  return base + fuzz.Text(length - static_cast<int>(base.size()), kNameChars);
}

enum class KeyKind { kExisting, kCreated, kRefused };

// One key's cases: a key filled with generated values, or none, opened under a
// name of the kind asked for, read a few times and closed. An existing key
// must be left as it was; a created one must hold exactly the defaults its
// reads seeded, also over values that another program wrote after the open; a
// refused name must reach no key at all, not even the key of the name cut to
// fit, which holds generated values here.
void KeyCases(Fuzz& fuzz, const std::string& base, KeyKind kind) {
  // Names up to the longest taken, at the limit often.
  const int length = fuzz.OneIn(4) ? kProfileMaxRegistryName
                                   : fuzz.Between(base.size() + 1, kProfileMaxRegistryName);
  const std::string name = kind == KeyKind::kRefused
                               ? RefusedName(fuzz, base, 1100)
                               : base + fuzz.Text(length - base.size(), kNameChars);
  const std::string path = StoreKeyPath(name.substr(0, kProfileMaxRegistryName));
  if (!name.empty()) DeleteUserKey(path);
  Values values;  // what the key holds, or will hold once seeded
  if (kind != KeyKind::kCreated && !name.empty()) {
    for (int i = fuzz.Between(0, 5); i > 0; --i) values[fuzz.Pick(kValueNames)] = AnyValue(fuzz);
    WriteUserKey(path, Listed(values));
  }
  const std::vector<RegistryValue> before = Snapshot(path);  // the maker's key for no name
  const char* kinds[] = {"existing key ", "no key ", "refused; the name cut to fit has the key "};
  SCOPED_TRACE(fuzz.Case(kinds[static_cast<int>(kind)] + ::testing::PrintToString(before) +
                         ", store name of " + std::to_string(name.size())));
  ProfileStore profile;
  ProfileOpen(fuzz.OneIn(2) ? NULL : name.c_str(), name.c_str(), &profile, 1);
  EXPECT_EQ(profile.key != NULL, kind != KeyKind::kRefused) << "a key, unless the name is refused";
  EXPECT_EQ(profile.disposition,
            static_cast<DWORD>(kind == KeyKind::kCreated    ? REG_CREATED_NEW_KEY
                               : kind == KeyKind::kExisting ? REG_OPENED_EXISTING_KEY
                                                            : 0));
  const int reads = kind == KeyKind::kExisting ? 2 * values.size() + 1 : fuzz.Between(1, 10);
  for (int read = 0; read < reads && (read == 0 || fuzz.Next()); ++read) {
    const std::string valueName = fuzz.Pick(kValueNames);
    if (kind == KeyKind::kCreated && fuzz.OneIn(8)) {  // written after the open: a read replaces it
      const Stored& written = values[valueName] = AnyValue(fuzz);
      WriteUserKey(path, {{valueName, written.type, written.data}});
    }
    // Only an existing key is read; otherwise every read gives its default.
    const Stored* value =
        kind == KeyKind::kExisting && values.count(valueName) ? &values[valueName] : nullptr;
    if (fuzz.OneIn(2)) {
      const int defaultValue = fuzz.AnyInt();
      EXPECT_EQ(ProfileGetInt(&profile, valueName.c_str(), defaultValue),
                ModelRegistryInt(value, defaultValue))
          << "ProfileGetInt(\"" << valueName << "\", " << defaultValue << ")";
      const std::string seeded(reinterpret_cast<const char*>(&defaultValue), 4);
      if (kind == KeyKind::kCreated) values[valueName] = {REG_DWORD, seeded};
    } else {
      const int outSize =
          value != nullptr && fuzz.OneIn(2)
              ? std::max(1, static_cast<int>(value->data.size()) + fuzz.Between(-1, 2))
          : fuzz.OneIn(3) ? fuzz.Pick(std::vector<int>{1, 2, 1023, 1024, 1025})
                          : fuzz.Between(1, 1100);
      // Mostly shorter than the buffer, as callers give them; sometimes longer.
      const int longest = std::min(fuzz.OneIn(8) ? outSize + 40 : outSize - 1, 60);
      const std::string defaultText = fuzz.Text(fuzz.Between(0, longest), kPrintable);
      CheckString(fuzz, &profile, valueName, defaultText, outSize,
                  ModelRegistryString(value, defaultText, outSize), value != nullptr);
      if (kind == KeyKind::kCreated) values[valueName] = {REG_SZ, defaultText + '\0'};
    }
  }
  // Only an existing key counts its values; the count writes none.
  EXPECT_EQ(ProfileGetValueCount(&profile, -1),
            kind == KeyKind::kExisting ? static_cast<int>(before.size()) : -1)
      << "value count";
  ProfileClose(&profile);
  EXPECT_EQ(Snapshot(path), kind == KeyKind::kCreated ? Listed(values) : before)
      << "the key after the reads";
  if (!name.empty()) DeleteUserKey(path);
}

// The model takes the ANSI registry calls to keep every byte of text as it
// is, as the system's code page does when it has one byte to a letter; in one
// of several bytes to a letter, bytes that make no letter of it change.
bool AnsiKeepsEveryByte() {
  CPINFO info;
  return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

TEST(StoreFuzz, ReadsFollowAnExistingKeySeedACreatedOneAndReachNoKeyForARefusedName) {
  if (!AnsiKeepsEveryByte()) GTEST_SKIP() << "code page " << GetACP() << " changes some bytes";
  Fuzz fuzz(9000);
  TestStore base("fuzz-key");
  while (fuzz.Next()) {
    // As many existing keys as the others together: five in nine, then three
    // created keys and one refused name.
    const int kind = fuzz.Between(0, 8);
    KeyCases(fuzz, base.name() + "-", static_cast<KeyKind>((kind >= 5) + (kind >= 8)));
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
                                   std::string(fuzz.OneIn(3) ? fuzz.Between(20, 34) : 0, '0'),
                                   fuzz.Text(fuzz.Between(0, 22), "0123456789")});
  const std::string quote(1, fuzz.OneIn(2) ? '"' : '\'');
  // A number with more after it; one quoted, perhaps with blanks inside, perhaps
  // with mismatched quotes; a long text; any short one.
  const int shape = fuzz.Between(0, 4);
  std::string value =
      shape == 0 ? number + fuzz.Text(fuzz.Between(0, 3), "x9 -a")
      : shape == 1
          ? Join({quote, fuzz.Text(fuzz.Between(0, fuzz.OneIn(3) ? 32 : 2), " \t"), number,
                  fuzz.Text(fuzz.Between(0, 12), kPrintable), fuzz.OneIn(5) ? "\"" : quote})
      : shape == 2 ? fuzz.Text(fuzz.Between(200, 1500), kPrintable)
                   : fuzz.Text(fuzz.Between(0, 40), kPrintable + "\t");
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
    // A comment line, now and then one that would be an entry.
    return fuzz.OneIn(4) ? Join({blanks(), ";", fuzz.OneIn(2) ? fuzz.Pick(kKeys) + "=" : "",
                                 fuzz.Text(fuzz.Between(0, 30), kPrintable), eol})
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
  Fuzz fuzz(4000);
  const ScratchFolder folder("handoff-fuzz-ini-" + std::to_string(GetCurrentProcessId()));
  for (int index = 0; fuzz.Next(); ++index) {
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
    if (fuzz.OneIn(10)) file.clear();  // no file: it holds a section at least
    if (!file.empty()) WriteFileText(path, text);
    SCOPED_TRACE(
        fuzz.Case(file.empty() ? "no INI file" : "INI file " + ::testing::PrintToString(text)));
    for (int read = 0; read < 4 && (read == 0 || fuzz.Next()); ++read) {
      // Now and then a store name (none, or too long) or a path that the
      // store refuses: every read then gives its default just as it is.
      const int refused = fuzz.OneIn(10) ? fuzz.Between(1, 3) : 0;
      const std::string section = refused == 1   ? ""
                                  : refused == 2 ? longName
                                                 : fuzz.AnyCase(fuzz.Pick(kSections));
      const std::string iniPath =
          refused == 3 ? path + fuzz.Text(fuzz.Between(1, 40), kNameChars) : path;
      const std::string key = fuzz.AnyCase(fuzz.Pick(kKeys));
      SCOPED_TRACE("section of " + std::to_string(section.size()) + " characters \"" +
                   section.substr(0, 20) + "\", path of " + std::to_string(iniPath.size()));
      ProfileStore profile;
      ProfileOpen(iniPath.c_str(), section.c_str(), &profile, 0);
      if (fuzz.OneIn(2)) {
        const int defaultValue = fuzz.AnyInt();
        EXPECT_EQ(ProfileGetInt(&profile, key.c_str(), defaultValue),
                  refused ? defaultValue : ModelIniInt(file, section, key, defaultValue))
            << "ProfileGetInt(\"" << key << "\", " << defaultValue << ")";
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
    return {fuzz.Pick(std::vector<DWORD>{REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY}),
            fuzz.OneIn(2) ? file + '\0' : file};
  }
  const int kind = fuzz.Between(1, 3);
  return {type, kind == 1   ? ""
                : kind == 2 ? '\0' + fuzz.Text(fuzz.Between(0, 12), Characters(0, 255))
                            : fuzz.Text(fuzz.Between(1024, 1100), kNameChars)};
}

using StoreFuzzRun = RunFixture;

TEST_F(StoreFuzzRun, RunsCloseTheWindowOnlyWhenEveryListedEntryReadsEmpty) {
  if (!AnsiKeepsEveryByte()) GTEST_SKIP() << "code page " << GetACP() << " changes some bytes";
  Fuzz fuzz(1200);
  ShellErrorBoxes boxes(owner.hwnd());
  int refusals = 0;
  const std::string path = StoreKeyPath(store.name());
  const std::vector<RegistryValue> makerBefore = Snapshot("Software\\Varnolt");
  const ScratchFolder scratch("handoff-fuzz-run-" + std::to_string(GetCurrentProcessId()));
  const std::string missingFolder = scratch.File("missing") + "\\";
  while (fuzz.Next()) {
    const int kind = fuzz.Between(0, 9);  // 0: a refused name, 1-2: no key, else a list
    std::string name = store.name();
    Values values;
    bool closeModel = kind != 0;
    if (kind == 0) {  // too long for the store, or even for the run's own buffer
      name = RefusedName(fuzz, name, 1500);
    } else if (kind >= 3) {
      // The count: mostly a DWORD from -5 to 50, else fewer or more bytes of
      // any type, kept small whatever the integer rule makes of them; or none.
      const int count = fuzz.Between(-5, 50);
      const std::string bytes =
          std::string(reinterpret_cast<const char*>(&count), 4) + "\x01\x02\x03\x04";
      const bool dword = fuzz.OneIn(3);
      const int length = dword       ? 4
                         : count < 0 ? fuzz.Pick(std::vector<int>{4, 8})
                                     : fuzz.Between(0, 8);
      if (!fuzz.OneIn(10)) {
        values["inscount"] = {dword ? REG_DWORD : fuzz.Pick(kTypes), bytes.substr(0, length)};
      }
      const int listedCount =
          ModelRegistryInt(values.count("inscount") ? &values["inscount"] : nullptr, 0);
      const int nonEmptyOneIn = fuzz.Pick(std::vector<int>{1 << 30, 40, 8, 2});
      // Each entry of the count, some beyond it, a quarter of them missing.
      const int entries = std::max(listedCount, 0) + fuzz.Between(0, 2);
      for (int i = 0; i < entries; ++i) {
        if (fuzz.OneIn(4)) continue;
        const Stored& entry = values["ins" + std::to_string(i)] =
            AnyEntry(fuzz, missingFolder, nonEmptyOneIn);
        if (i < listedCount && !ModelRegistryString(&entry, "", 1024).empty()) closeModel = false;
      }
      if (fuzz.OneIn(4)) values["other"] = AnyValue(fuzz);
    }
    // The key of a refused name cut to fit must not appear (nor linger from a failed run).
    const std::string cutPath =
        name.empty() ? path : StoreKeyPath(name.substr(0, kProfileMaxRegistryName));
    DeleteUserKey(cutPath);
    if (kind >= 3) WriteUserKey(path, Listed(values));
    SCOPED_TRACE(fuzz.Case("store name of " + std::to_string(name.size()) + " characters, " +
                           (kind == 0  ? "refused"
                            : kind < 3 ? "no key"
                                       : "key " + ::testing::PrintToString(Listed(values)))));
    RunWith({name});
    EXPECT_EQ(owner.TakeCloseRequest(), closeModel) << "close request";
    // A list that does not close the window ends at an entry the shell
    // refused, with its error box where the shell shows one.
    refusals += kind >= 3 && !closeModel;
    boxes.ExpectRefusals(refusals);
    // A created key holds the count the run seeded; a list is left as it was.
    if (kind == 1 || kind == 2) values["inscount"] = {REG_DWORD, std::string(4, '\0')};
    EXPECT_EQ(KeyExists(cutPath), kind != 0) << "a key, unless the name (whole or cut) is refused";
    EXPECT_EQ(Snapshot(cutPath), Listed(values)) << "the key after the run";
    EXPECT_EQ(Snapshot("Software\\Varnolt"), makerBefore) << "the maker's key";
  }
}

}  // namespace
