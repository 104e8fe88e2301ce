// The settings store against the real registry and profile strings under Wine.
#include <gtest/gtest.h>

#include <string>

#include "profile.h"
#include "test_support.h"

namespace {

// Reads into a buffer with guard bytes on both sides, to catch writes past it.
std::string ReadString(ProfileStore* store, const char* valueName, const char* defaultText,
                       int size = 1024) {
  SCOPED_TRACE(valueName);
  return ReadGuarded(
      size, [&](char* out) { ProfileGetString(store, valueName, defaultText, out, size); });
}

// Each read of a key the open created writes its default, over what another
// program wrote after the open too (the store fuzz seeds every kind of
// value); an in-place read changes no byte of the
// caller's buffer, not even those after the default's NUL.
TEST(ProfileNewKey, OpenCreatesKeyWithNameAsClassAndReadsSeedDefaults) {
  TestStore store("seed");
  ProfileStore profile;
  ProfileOpen(NULL, store.c_str(), &profile, 1);
  ASSERT_NE(profile.key, nullptr);
  EXPECT_EQ(profile.disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(KeyClass(StoreKeyPath(store.name())), store.name());
  EXPECT_STREQ(profile.iniFile, "");

  store.SetDword("inscount", 4);
  EXPECT_EQ(ProfileGetInt(&profile, "inscount", 0), 0);
  EXPECT_EQ(ProfileGetInt(&profile, "other", -7), -7);
  std::string buffer = std::string("C:\\seed.prc", 12) + std::string(52, '\x5a');
  const std::string given = buffer;
  ProfileGetString(&profile, "ins1", &buffer[0], &buffer[0], static_cast<int>(buffer.size()));
  EXPECT_EQ(buffer, given);
  ProfileClose(&profile);
  EXPECT_EQ(profile.key, nullptr);

  EXPECT_EQ(
      Snapshot(StoreKeyPath(store.name())),
      (std::vector<RegistryValue>{StringValue("ins1", "C:\\seed.prc"), DwordValue("inscount", 0),
                                  DwordValue("other", static_cast<DWORD>(-7))}));

  // The next open finds the key it seeded, and reads instead of writing.
  ProfileOpen(NULL, store.c_str(), &profile, 1);
  EXPECT_EQ(profile.disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(ProfileGetInt(&profile, "other", 3), -7);
  EXPECT_EQ(ReadString(&profile, "ins1", ""), "C:\\seed.prc");
  ProfileClose(&profile);
}

// An existing key is read as it stands and never written. The store fuzz
// reads every type and size of value against the rules; these are the
// documented examples.
class ProfileExistingKey : public ::testing::Test {
 protected:
  void SetUp() override {
    store.SetString("ins0", "C:\\Program Files\\Product\\app.prc");
    store.SetString("digits", "100");
    store.SetRaw("binary2", REG_BINARY, "\x01\x02");
    store.SetRaw("binary8", REG_BINARY, "\x01\x02\x03\x04\x05\x06\x07\x08");
    before = Snapshot(StoreKeyPath(store.name()));
    ProfileOpen(store.c_str(), store.c_str(), &profile, 1);
    ASSERT_EQ(profile.disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  }
  void TearDown() override {
    ProfileClose(&profile);
    EXPECT_EQ(Snapshot(StoreKeyPath(store.name())), before) << "an existing key was written";
  }
  TestStore store{"existing"};
  ProfileStore profile;
  std::vector<RegistryValue> before;
};

TEST_F(ProfileExistingKey, IntegersTakeWhateverBytesFitTheSlot) {
  // The type is not examined: up to four bytes overwrite the default's, low
  // first ("100" and its NUL are four); more than four cannot be read at all.
  EXPECT_EQ(ProfileGetInt(&profile, "binary2", 0x11223344), 0x11220201);
  EXPECT_EQ(ProfileGetInt(&profile, "digits", 0), 3158065);
  EXPECT_EQ(ProfileGetInt(&profile, "binary8", 9), 9);
}

TEST_F(ProfileExistingKey, InPlaceReadsReplaceTheBufferOnlyWhenAValueIsThere) {
  std::string buffer = std::string("kept", 5) + std::string(1019, '\x5a');
  const std::string given = buffer;
  ProfileGetString(&profile, "absent", &buffer[0], &buffer[0], static_cast<int>(buffer.size()));
  EXPECT_EQ(buffer, given);
  ProfileGetString(&profile, "ins0", &buffer[0], &buffer[0], static_cast<int>(buffer.size()));
  EXPECT_STREQ(buffer.c_str(), "C:\\Program Files\\Product\\app.prc");
}

// Names the registry mode refuses, and names it takes as they stand. A
// refused name opens no key, not even that of the name cut to fit, and its
// reads give their defaults; a name taken addresses its own key, which the
// reads seed. No value goes into the maker's key, which no name addresses.
TEST(ProfileNames, EmptyAndOverlongNamesOpenNoKeyAndWriteNothing) {
  const std::vector<RegistryValue> makerBefore = Snapshot("Software\\Varnolt");
  TestStore base("names");
  const std::string longest =
      base.name() + std::string(kProfileMaxRegistryName - base.name().size(), 'z');
  for (const std::string& name : {std::string(), longest + "x", longest + std::string(40, 'y'),
                                  longest, base.name() + "*?", base.name() + "\\nested"}) {
    const bool taken = !name.empty() && name.size() <= kProfileMaxRegistryName;
    const std::string path = StoreKeyPath(name.substr(0, kProfileMaxRegistryName));
    ProfileStore profile;
    ProfileOpen(name.c_str(), name.c_str(), &profile, 1);
    EXPECT_EQ(profile.key != nullptr, taken) << name.size();
    EXPECT_EQ(profile.disposition, static_cast<DWORD>(taken ? REG_CREATED_NEW_KEY : 0));
    EXPECT_EQ(ProfileGetInt(&profile, "inscount", 6), 6);
    EXPECT_EQ(ReadString(&profile, "ins0", "d"), "d");
    ProfileClose(&profile);
    if (name.empty()) continue;
    EXPECT_EQ(KeyExists(path), taken) << name;
    const std::vector<RegistryValue> seeded = {StringValue("ins0", "d"), DwordValue("inscount", 6)};
    EXPECT_EQ(Snapshot(path), taken ? seeded : std::vector<RegistryValue>{}) << name;
    DeleteUserKey(path);
  }
  EXPECT_EQ(Snapshot("Software\\Varnolt"), makerBefore);
}

TEST(ProfileNames, KeyThatCannotBeCreatedYieldsDefaults) {
  // A non-volatile key cannot be created under a volatile one.
  TestStore parent("volatile");
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, StoreKeyPath(parent.name()).c_str(), 0, NULL,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL),
            ERROR_SUCCESS);
  RegCloseKey(key);
  std::string child = parent.name() + "\\child";
  ProfileStore profile;
  ProfileOpen(NULL, child.c_str(), &profile, 1);
  EXPECT_EQ(profile.key, nullptr);
  EXPECT_EQ(ProfileGetInt(&profile, "inscount", 2), 2);
  EXPECT_EQ(ReadString(&profile, "ins0", "d"), "d");
  ProfileClose(&profile);
  EXPECT_FALSE(KeyExists(StoreKeyPath(child)));
}

// The profile-string rules are the store fuzz's; these are the store's own
// parts: a read in place, and the names and paths it refuses.
class ProfileIni : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileText(path, "[Product]\r\nname=\"quoted text\"\r\n");
  }
  ScratchFolder folder{"handoff-profile-" + std::to_string(GetCurrentProcessId())};
  const std::string path = folder.File("store.ini");
  ProfileStore profile;
};

TEST_F(ProfileIni, StringsFollowTheProfileRulesAndStayInTheBuffer) {
  ProfileOpen(path.c_str(), "product", &profile, 0);
  EXPECT_EQ(ReadString(&profile, "NAME", ""), "quoted text");
  char buffer[32] = "same";
  ProfileGetString(&profile, "absent", buffer, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "same");
  ProfileClose(&profile);
}

TEST_F(ProfileIni, MissingFileSectionOrOverlongNamesGiveDefaults) {
  std::string longSection(260, 'S');
  ProfileOpen(path.c_str(), longSection.c_str(), &profile, 0);
  EXPECT_STREQ(profile.section, "");
  std::string longPath = path + std::string(260, 'p');
  ProfileOpen(longPath.c_str(), "Product", &profile, 0);
  EXPECT_STREQ(profile.iniFile, "");
  EXPECT_EQ(ReadString(&profile, "name", "d"), "d");

  ProfileOpen(NULL, "Product", &profile, 0);
  EXPECT_STREQ(profile.iniFile, "");
  EXPECT_STREQ(profile.section, "Product");
  ProfileClose(&profile);
  EXPECT_EQ(profile.key, nullptr);
}

}  // namespace
