// Not part of the kit: the test program by which ./x test shows the kit's
// runner counting what it reads, under Wine after the kit's own run. Run by
// the runner from a build folder of its own, it has one test that passes,
// one that fails and one that is skipped, and one that needs an interactive
// desktop (the runner's list of such tests names it), which the runner must
// not run where there is none. It leaves two files in the tests' temporary
// folder: one named as the tests name theirs, which the runner must count as
// left behind and remove, and one of another program's, which it must only
// note, as it cannot remove it (it is read-only, as a file held open by
// another program cannot be removed either). It leaves the mouse buttons
// swapped too, as a click test cut short does, which the runner must put
// back.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "test_support.h"

namespace {

TEST(RunnerCheck, RunsWithTheKitsTemporaryFolderAndLeavesFilesAndSwappedButtons) {
  // The runner gives the tests <kit>\temp, the kit being the folder above
  // this program's.
  const std::string folder = ModuleFolder();
  const std::string temp = folder.substr(0, folder.find_last_of('\\')) + "\\temp";
  for (const char* name : {"TEMP", "TMP"}) ASSERT_STREQ(getenv(name), temp.c_str()) << name;
  // Each file is written there, which fails this test where the folder is not.
  WriteFileText(temp + "\\handoff-check-left-behind.txt", "");
  WriteFileText(temp + "\\MSI1a2b3.LOG", "");
  ASSERT_TRUE(SetFileAttributesA((temp + "\\MSI1a2b3.LOG").c_str(), FILE_ATTRIBUTE_READONLY));
  SwapMouseButton(TRUE);
}

TEST(RunnerCheck, NeedsTheDesktop) {
  HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
  ASSERT_NE(input, nullptr) << "run without an interactive desktop: error " << GetLastError();
  CloseDesktop(input);
}

TEST(RunnerCheck, FailsOnPurpose) {
  ADD_FAILURE() << "on purpose: the runner counts this one as failed";
}

TEST(RunnerCheck, IsSkippedOnPurpose) {
  GTEST_SKIP() << "on purpose: the runner counts this one as skipped";
}

}  // namespace
