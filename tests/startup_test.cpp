// Start-up hardening and the COM apartment, in a process of their own since
// both change the whole process.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include "startup.h"
#include "system_library.h"

namespace {

TEST(Startup, DllsBesideTheProgramAreNoLongerLoadedOnceProtected) {
  // The planted DLL lies beside this test program, in the first folder the
  // default search order looks in.
  HMODULE planted = LoadLibraryA("handoff_planted.dll");
  ASSERT_NE(planted, nullptr) << "the planted DLL should load before protection";
  FreeLibrary(planted);
  DeleteFileA("handoff_planted.dll.loaded");

  ProtectAgainstDllPlanting();
  planted = LoadLibraryA("handoff_planted.dll");
  EXPECT_EQ(planted, nullptr);
  if (planted != NULL) FreeLibrary(planted);
  // Nor does the loader for the window's DLLs look there.
  EXPECT_EQ(LoadSystemLibrary("handoff_planted.dll"), nullptr);

  // System DLLs still load.
  HMODULE system = LoadSystemLibrary("version.dll");
  EXPECT_NE(system, nullptr);
  if (system != NULL) FreeLibrary(system);
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

}  // namespace
