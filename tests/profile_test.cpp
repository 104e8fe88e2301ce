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

// A store name or store that the registry mode must not use: the reads give
// their defaults.
void ExpectDefaultsOnly(ProfileStore* profile, int intDefault, const std::string& what) {
  EXPECT_EQ(profile->key, nullptr) << what;
  EXPECT_EQ(ProfileGetInt(profile, "inscount", intDefault), intDefault) << what;
  EXPECT_EQ(ReadString(profile, "ins0", "d"), "d") << what;
}

// Each read of a key the open created writes its default, over what another
// program wrote after the open too; an in-place read changes no byte of the
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
  store.SetString("ins0", "C:\\late.prc");
  EXPECT_EQ(ProfileGetInt(&profile, "inscount", 0), 0);
  EXPECT_EQ(ProfileGetInt(&profile, "other", -7), -7);
  EXPECT_EQ(ReadString(&profile, "ins0", ""), "");
  EXPECT_EQ(ReadString(&profile, "label", "fallback"), "fallback");
  std::string buffer = std::string("C:\\seed.prc", 12) + std::string(52, '\x5a');
  const std::string given = buffer;
  ProfileGetString(&profile, "ins1", &buffer[0], &buffer[0], static_cast<int>(buffer.size()));
  EXPECT_EQ(buffer, given);
  ProfileClose(&profile);
  EXPECT_EQ(profile.key, nullptr);

  EXPECT_EQ(
      Snapshot(StoreKeyPath(store.name())),
      (std::vector<RegistryValue>{StringValue("ins0", ""), StringValue("ins1", "C:\\seed.prc"),
                                  DwordValue("inscount", 0), StringValue("label", "fallback"),
                                  DwordValue("other", static_cast<DWORD>(-7))}));

  // The next open finds the key it seeded, and reads instead of writing.
  ProfileOpen(NULL, store.c_str(), &profile, 1);
  EXPECT_EQ(profile.disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(ProfileGetInt(&profile, "other", 3), -7);
  EXPECT_EQ(ReadString(&profile, "label", ""), "fallback");
  ProfileClose(&profile);
}

class ProfileExistingKey : public ::testing::Test {
 protected:
  void SetUp() override {
    store.SetDword("inscount", 5);
    store.SetDword("negative", static_cast<DWORD>(-3));
    store.SetString("ins0", "C:\\Program Files\\Product\\app.prc");
    store.SetString("fits", std::string(1022, 'a'));
    store.SetString("toolong", std::string(1023, 'b'));
    store.SetRaw("unterminated", REG_SZ, std::string(15, 'c'));
    store.SetRaw("binary8", REG_BINARY, "\x01\x02\x03\x04\x05\x06\x07\x08");
    store.SetRaw("binary2", REG_BINARY, "\x01\x02");
    store.SetString("digits", "7");
    before = Snapshot(StoreKeyPath(store.name()));
    ProfileOpen(store.c_str(), store.c_str(), &profile, 1);
    ASSERT_NE(profile.key, nullptr);
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

TEST_F(ProfileExistingKey, IntegersComeFromDwordsAndMissingOnesFromTheDefault) {
  EXPECT_EQ(ProfileGetInt(&profile, "inscount", 0), 5);
  EXPECT_EQ(ProfileGetInt(&profile, "negative", 0), -3);
  EXPECT_EQ(ProfileGetInt(&profile, "absent", 42), 42);
}

TEST_F(ProfileExistingKey, IntegersTakeWhateverBytesFitTheSlot) {
  // The type is not examined: up to four bytes overwrite the default's, low
  // first.
  EXPECT_EQ(ProfileGetInt(&profile, "binary2", 0x11223344), 0x11220201);
  EXPECT_EQ(ProfileGetInt(&profile, "digits", 0), '7');
  // More than four bytes cannot be read at all.
  EXPECT_EQ(ProfileGetInt(&profile, "binary8", 9), 9);
}

TEST_F(ProfileExistingKey, StringsComeWholeOrNotAtAll) {
  EXPECT_EQ(ReadString(&profile, "ins0", ""), "C:\\Program Files\\Product\\app.prc");
  EXPECT_EQ(ReadString(&profile, "absent", "dflt"), "dflt");
  EXPECT_EQ(ReadString(&profile, "fits", ""), std::string(1022, 'a'));
  EXPECT_EQ(ReadString(&profile, "toolong", "dflt"), "dflt");
  EXPECT_EQ(ReadString(&profile, "ins0", "dflt", 8), "dflt");
  EXPECT_EQ(ReadString(&profile, "ins0", "", 1), "");
}

TEST_F(ProfileExistingKey, StringsAreTerminatedWhateverTheRegistryHolds) {
  EXPECT_EQ(ReadString(&profile, "unterminated", "", 16), std::string(15, 'c'));
  EXPECT_EQ(ReadString(&profile, "unterminated", "", 1024), std::string(15, 'c'));
  EXPECT_EQ(ReadString(&profile, "inscount", "", 1024), "\x05");
  EXPECT_EQ(ReadString(&profile, "binary8", "", 1024), "\x01\x02\x03\x04\x05\x06\x07\x08");
}

TEST_F(ProfileExistingKey, InPlaceReadsReplaceTheBufferOnlyWhenAValueIsThere) {
  std::string buffer = std::string("kept", 5) + std::string(1019, '\x5a');
  const std::string given = buffer;
  ProfileGetString(&profile, "absent", &buffer[0], &buffer[0], static_cast<int>(buffer.size()));
  EXPECT_EQ(buffer, given);
  ProfileGetString(&profile, "ins0", &buffer[0], &buffer[0], static_cast<int>(buffer.size()));
  EXPECT_STREQ(buffer.c_str(), "C:\\Program Files\\Product\\app.prc");
}

// Names the registry mode refuses, and names it takes as they stand.
TEST(ProfileNames, EmptyAndOverlongNamesOpenNoKeyAndWriteNothing) {
  const std::string maker = "Software\\Varnolt";
  std::vector<RegistryValue> makerBefore = Snapshot(maker);
  TestStore longest("");
  std::string tooLong =
      longest.name() + std::string(kProfileMaxRegistryName + 1 - longest.name().size(), 'x');
  for (const std::string& name : {std::string(), tooLong, tooLong + std::string(40, 'y')}) {
    ProfileStore profile;
    ProfileOpen(name.c_str(), name.c_str(), &profile, 1);
    ExpectDefaultsOnly(&profile, 6, std::to_string(name.size()));
    ProfileClose(&profile);
    if (!name.empty()) {
      EXPECT_FALSE(KeyExists(StoreKeyPath(name))) << name.size();
      EXPECT_FALSE(KeyExists(StoreKeyPath(name.substr(0, kProfileMaxRegistryName))));
    }
  }
  EXPECT_EQ(Snapshot(maker), makerBefore);
}

TEST(ProfileNames, LongestNameAndSpecialCharactersAddressTheirOwnKey) {
  TestStore base("names");
  std::string longest =
      base.name() + std::string(kProfileMaxRegistryName - base.name().size(), 'z');
  for (const std::string& name : {longest, base.name() + "*?", base.name() + "\\nested"}) {
    ProfileStore profile;
    ProfileOpen(NULL, name.c_str(), &profile, 1);
    ASSERT_NE(profile.key, nullptr) << name;
    EXPECT_EQ(profile.disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(ProfileGetInt(&profile, "inscount", 0), 0);
    ProfileClose(&profile);
    EXPECT_EQ(Snapshot(StoreKeyPath(name)), std::vector<RegistryValue>{DwordValue("inscount", 0)})
        << name;
    DeleteUserKey(StoreKeyPath(name));
  }
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
  ExpectDefaultsOnly(&profile, 2, child);
  ProfileClose(&profile);
  EXPECT_FALSE(KeyExists(StoreKeyPath(child)));
}

class ProfileIni : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileText(path,
                  "[other]\r\ncount=99\r\n[Product]\r\ncount=12abc\r\nletters=abc\r\n"
                  "spaced=   -40 \r\nhuge=99999999999\r\ntiny=-99999999999\r\n"
                  "name=\"quoted text\"\r\n; comment=1\r\nlong=" +
                      std::string(300, 'L') + "\r\n");
  }
  ScratchFolder folder{"handoff-profile-" + std::to_string(GetCurrentProcessId())};
  const std::string path = folder.File("store.ini");
  ProfileStore profile;
};

TEST_F(ProfileIni, IntegersParseLeadingDigitsAndSaturate) {
  ProfileOpen(path.c_str(), "Product", &profile, 0);
  EXPECT_EQ(profile.key, nullptr);
  EXPECT_EQ(ProfileGetInt(&profile, "count", 0), 12);
  EXPECT_EQ(ProfileGetInt(&profile, "letters", 5), 0);
  EXPECT_EQ(ProfileGetInt(&profile, "spaced", 0), -40);
  EXPECT_EQ(ProfileGetInt(&profile, "huge", 0), 2147483647);
  EXPECT_EQ(ProfileGetInt(&profile, "tiny", 0), -2147483647 - 1);
  EXPECT_EQ(ProfileGetInt(&profile, "comment", 8), 8);
  EXPECT_EQ(ProfileGetInt(&profile, "absent", -9), -9);
  ProfileClose(&profile);
  EXPECT_FALSE(KeyExists(StoreKeyPath("Product")));
}

TEST_F(ProfileIni, StringsFollowTheProfileRulesAndStayInTheBuffer) {
  ProfileOpen(path.c_str(), "product", &profile, 0);
  EXPECT_EQ(ReadString(&profile, "NAME", ""), "quoted text");
  EXPECT_EQ(ReadString(&profile, "absent", "dflt"), "dflt");
  EXPECT_EQ(ReadString(&profile, "long", "", 32), std::string(31, 'L'));
  char buffer[32] = "same";
  ProfileGetString(&profile, "absent", buffer, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "same");
  ProfileClose(&profile);
}

TEST_F(ProfileIni, MissingFileSectionOrOverlongNamesGiveDefaults) {
  ProfileOpen((path + ".missing").c_str(), "Product", &profile, 0);
  EXPECT_EQ(ProfileGetInt(&profile, "count", 3), 3);
  ProfileOpen(path.c_str(), "Nowhere", &profile, 0);
  EXPECT_EQ(ProfileGetInt(&profile, "count", 3), 3);
  EXPECT_EQ(ReadString(&profile, "count", "d"), "d");

  std::string longSection(260, 'S');
  ProfileOpen(path.c_str(), longSection.c_str(), &profile, 0);
  EXPECT_STREQ(profile.section, "");
  EXPECT_EQ(ProfileGetInt(&profile, "count", 4), 4);
  std::string longPath = path + std::string(260, 'p');
  ProfileOpen(longPath.c_str(), "Product", &profile, 0);
  EXPECT_STREQ(profile.iniFile, "");
  EXPECT_EQ(ProfileGetInt(&profile, "count", 4), 4);
  EXPECT_EQ(ReadString(&profile, "name", "d"), "d");

  ProfileOpen(NULL, "Product", &profile, 0);
  EXPECT_STREQ(profile.iniFile, "");
  EXPECT_STREQ(profile.section, "Product");
  ProfileClose(&profile);
  EXPECT_EQ(profile.key, nullptr);
}

}  // namespace
