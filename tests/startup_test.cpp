// Start-up hardening and the COM apartment, in a process of their own since
// both change the whole process.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <stdint.h>
#include <string.h>

#include <string>

#include "startup.h"
#include "system_library.h"
#include "test_support.h"

namespace {

// Whether a load by name maps the planted copy at this path: it leaves its
// marker beside itself when it is loaded (planted_dll.c).
bool LoadByNameTakes(const std::string& planted) {
  const std::string marker = planted + ".loaded";
  DeleteFileA(marker.c_str());
  const std::string name = planted.substr(planted.find_last_of('\\') + 1);
  HMODULE module = LoadLibraryA(name.c_str());
  if (module != NULL) FreeLibrary(module);
  return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Startup, DllsBesideTheProgramAreNoLongerLoadedOnceProtected) {
  // Planted in the two folders that the default search order looks in first:
  // the program's and the current one.
  ScratchFolder current("handoff-current-" + std::to_string(GetCurrentProcessId()));
  const std::string beside = ModuleFolder() + "\\handoff_planted.dll";
  const std::string inCurrent = current.File("handoff_planted_current.dll");
  ASSERT_TRUE(CopyFileA(beside.c_str(), inCurrent.c_str(), FALSE));
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof(previous), previous);
  ASSERT_TRUE(SetCurrentDirectoryA(current.path().c_str()));
  // The loader's search as it stands when the program starts: both are
  // taken. The protection lasts as long as the process (no call brings the
  // standard search back): a case run again in it (--gtest_repeat) finds
  // it still on, and checks what follows only.
  static bool protectedBefore = false;
  if (!protectedBefore) {
    EXPECT_TRUE(LoadByNameTakes(beside)) << "the program's folder is not searched to begin with";
    EXPECT_TRUE(LoadByNameTakes(inCurrent)) << "the current folder is not searched to begin with";
  }
  ProtectAgainstDllPlanting();
  protectedBefore = true;
  EXPECT_FALSE(LoadByNameTakes(beside)) << "loaded from the program's folder once protected";
  EXPECT_FALSE(LoadByNameTakes(inCurrent)) << "loaded from the current folder once protected";
  // Nor does the loader for the window's DLLs look there.
  EXPECT_EQ(LoadSystemLibrary("handoff_planted.dll"), nullptr);
  // System DLLs still load.
  HMODULE system = LoadSystemLibrary("version.dll");
  EXPECT_NE(system, nullptr);
  if (system != NULL) FreeLibrary(system);

  SetCurrentDirectoryA(previous);
  DeleteFileA((beside + ".loaded").c_str());
}

TEST(Startup, TheComApartmentIsEnteredOnceOnFirstNeedAndLastsUntilLeft) {
  EnterComApartment();
  EnterComApartment();
  HRESULT asMultithreaded = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  EXPECT_EQ(asMultithreaded, RPC_E_CHANGED_MODE) << "not a single-threaded apartment";
  if (SUCCEEDED(asMultithreaded)) CoUninitialize();
  // One leave ends it, though it was asked for twice.
  LeaveComApartment();
  HRESULT again = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  EXPECT_EQ(again, S_OK);
  if (SUCCEEDED(again)) CoUninitialize();
}

// How a program with the program's stack guard ends (stack_overrun.c): an
// overwritten frame at once, with the status Windows gives a failed stack
// cookie and before any handler of the process runs; a plain fault through
// its handlers, which shows that they would have left their marker. Where no
// loader seeds the guard (Windows before 8 fills no cookie of an executable;
// no loader one that the header does not name, as stack_overrun's), its own
// start-up does: the guard it writes as its marker is neither 0 nor the
// default, and as in Windows' own cookies the top 16 bits of a 64-bit one
// are clear.
struct Ending {
  const char* how;
  DWORD exitCode;
  bool marked;  // whether a handler of the process ran, or the guard was written
};

class StackGuardEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(StackGuardEnding, EndsWithItsStatusAndLeavesItsMarkerAsItSays) {
  ScratchFolder folder("handoff-overrun-" + std::to_string(GetCurrentProcessId()));
  const std::string marker = folder.File("marker");
  DWORD exitCode = 0;
  ASSERT_TRUE(RunToEnd(
      "\"" + ModuleFolder() + "\\stack_overrun.exe\" " + GetParam().how + " \"" + marker + "\"",
      60000, &exitCode));
  EXPECT_EQ(exitCode, GetParam().exitCode) << std::hex << exitCode;
  EXPECT_EQ(GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES, GetParam().marked)
      << "whether a handler of the process ran, or the guard was written";
  if (std::string(GetParam().how) != "guard") return;
  const std::string saved = ReadFileText(marker);
  uint64_t guard = 0;
  ASSERT_EQ(saved.size(), sizeof(ULONG_PTR));
  memcpy(&guard, saved.data(), saved.size());
  EXPECT_NE(guard, 0u);
  EXPECT_NE(guard, DefaultSecurityCookie()) << "the stack guard was never seeded";
  EXPECT_EQ(guard >> 48, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, StackGuardEnding,
    ::testing::Values(Ending{"overrun", static_cast<DWORD>(STATUS_STACK_BUFFER_OVERRUN), false},
                      Ending{"fault", static_cast<DWORD>(STATUS_ACCESS_VIOLATION), true},
                      Ending{"guard", 0, true}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.how); });

}  // namespace
