// The scheduling run against the real registry and shell under Wine, with a
// recording handler standing in for the handheld's desktop software.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Files = std::vector<std::string>;

using ScheduleRunTest = RunFixture;
using ScheduleRunArguments = RunFixture;

// Also from a handoff.exe that the Windows Installer service or the Task
// Scheduler starts, whose hand-overs inherit their environment, with nothing
// of the test's: the recording handler still records them.
TEST_F(ScheduleRunTest, HandsEveryEntryOverInOrderThenClosesTheWindow) {
  Files files = {recorder.MakeFile("first"), recorder.MakeFile("second")};
  WriteList(2, files);
  // At least one variable of the test's.
  SetEnvironmentVariableA("HANDOFF_TEST_OWN", "1");
  {
    OnlyWindowsEnvironment environment;
    EXPECT_GT(environment.Removed(), 0u);
    EXPECT_EQ(GetEnvironmentVariableA("HANDOFF_TEST_OWN", NULL, 0), 0u);
    Run();
  }
  EXPECT_EQ(GetEnvironmentVariableA("HANDOFF_TEST_OWN", NULL, 0), 2u) << "not restored";
  SetEnvironmentVariableA("HANDOFF_TEST_OWN", NULL);
  ExpectHandedOver(files);
}

// An entry too long for the run's buffer is skipped too.
TEST_F(ScheduleRunTest, SkipsMissingAndEmptyEntries) {
  Files files = {recorder.MakeFile("a"), "", recorder.MakeFile("c"), "", std::string(1023, 'q'),
                 recorder.MakeFile("e")};
  WriteList(6, files);
  store.SetString("ins3", "");
  Remember();
  Run();
  ExpectHandedOver({files[0], files[2], files[5]});
}

TEST_F(ScheduleRunTest, ZeroOrNegativeCountHandsNothingOverAndCloses) {
  for (int count : {0, -1, -2147483647 - 1}) {
    WriteList(count, {recorder.MakeFile("never")});
    SCOPED_TRACE(count);
    Run();
    ExpectListUnchanged();
  }
  EXPECT_EQ(recorder.Opened(0), Files{});
}

TEST_F(ScheduleRunTest, MissingKeyIsCreatedWithACountOfZeroAndCloses) {
  ASSERT_FALSE(store.Exists());
  Run();
  EXPECT_EQ(Snapshot(StoreKeyPath(store.name())),
            (std::vector<RegistryValue>{{"inscount", REG_DWORD, std::string(4, '\0')}}));
  EXPECT_EQ(KeyClass(StoreKeyPath(store.name())), store.name());
}

TEST_F(ScheduleRunTest, RefusalStopsTheRunAndLeavesTheWindowOpen) {
  // Neither a missing file nor one whose program is missing is accepted, nor,
  // under Wine, one with no program at all (Windows offers a chooser of
  // programs for it instead); what follows is never tried.
  Files refusedFiles = {recorder.MissingFile("gone"), recorder.MakeRefusedFile("noprogram")};
  if (RunningUnderWine()) refusedFiles.push_back(recorder.MakeUnassociatedFile("nohandler"));
  // Made once: a handler of the last round may still be reading them.
  const std::string before = recorder.MakeFile("before");
  const std::string after = recorder.MakeFile("after");
  for (const std::string& refused : refusedFiles) {
    Files files = {before, refused, after};
    WriteList(3, files);
    SCOPED_TRACE(refused);
    RunRefused();
    ExpectListUnchanged();
  }
  EXPECT_EQ(recorder.Opened(refusedFiles.size()), Files(refusedFiles.size(), before));
}

TEST_F(ScheduleRunTest, PressingOkAgainAfterARefusalStartsAgainAtTheFirstEntry) {
  Files files = {recorder.MakeFile("one"), recorder.MakeRefusedFile("two")};
  WriteList(2, files);
  RunRefused();
  // The refused file now has a handler, as after the user fixed the problem.
  std::string fixed = recorder.MakeFile("two");
  store.SetString("ins1", fixed);
  Run();
  EXPECT_EQ(recorder.Opened(3), (Files{files[0], files[0], fixed}));
}

TEST_F(ScheduleRunTest, BadlyTypedListsAreReadAsStoredAndNeverWritten) {
  // A count that cannot be read is no count; an entry of the wrong type is
  // handed over as the text its bytes make, and the shell refuses it.
  store.SetRaw("inscount", REG_BINARY, std::string("\x02\0\0\0\0\0\0\0", 8));
  store.SetString("ins0", recorder.MakeFile("x"));
  Remember();
  Run();
  ExpectListUnchanged();

  // A text stored without its NUL arrives whole, ended by the NUL the store
  // writes after it. A number is a text of its bytes, here "\x05", refused.
  std::string unterminated = recorder.MakeFile("unterminated");
  store.SetDword("inscount", 2);
  store.SetRaw("ins0", REG_SZ, unterminated);
  store.SetDword("ins1", 5);
  Remember();
  RunRefused();
  ExpectHandedOver({unterminated});
}

TEST_F(ScheduleRunArguments, WithoutAUsableStoreNameNothingIsReadAndTheWindowStays) {
  std::vector<RegistryValue> makerBefore = Snapshot("Software\\Varnolt");
  const std::string overlong = store.name() + std::string(239 - store.name().size(), 'n');
  const std::string huge(5000, 'h');
  // No argument, then an empty one, one just too long and one far too long.
  for (const Files& arguments : {Files{}, Files{""}, Files{overlong}, Files{huge}}) {
    RunWith(arguments);
    EXPECT_FALSE(owner.TakeCloseRequest()) << testing::PrintToString(arguments).substr(0, 40);
  }
  // No key of any name given, whole or cut, and no value in the maker's key,
  // which an empty name would address.
  EXPECT_EQ(StoreKeysNamedFrom({"handoff.exe", overlong, huge}), std::vector<std::string>{});
  EXPECT_EQ(Snapshot("Software\\Varnolt"), makerBefore);
}

TEST_F(ScheduleRunArguments, FurtherArgumentsAreIgnored) {
  const std::string other = "handoff-test-not-this-one";
  RunWith({store.name(), other});
  EXPECT_TRUE(owner.TakeCloseRequest());
  EXPECT_TRUE(store.Exists());
  EXPECT_FALSE(KeyExists(StoreKeyPath(other)));
}

// The watcher that the refusal tests rely on where the shell shows its error
// boxes, shown here on real boxes on every system: a box that the window's
// thread shows is found, counted by its owner and dismissed with Ok, and the
// call that showed it returns, as ShellExecuteA returns on Windows once its
// box is dismissed and the run goes on.
// A box that the watcher left is ended after 15 s, answered IDABORT, so that a
// broken watcher fails instead of hanging.
void CALLBACK EndLeftBox(HWND, UINT, UINT_PTR, DWORD) {
  EndDialog(FindWindowA("#32770", "handoff test"), IDABORT);
}

// Shows an error box on this thread, as the shell shows one on the thread of
// the window it was given, owned by `owner` (NULL: by no window), and returns
// its answer.
int ShowWatchedBox(HWND owner) {
  const UINT_PTR rescue = SetTimer(NULL, 0, 15000, EndLeftBox);
  const int answer = MessageBoxA(owner, "Refused.", "handoff test", MB_OK | MB_ICONERROR);
  KillTimer(NULL, rescue);
  return answer;
}

void ShowABoxOwnedByNoWindowWhileWatched() {
  OwnerWindow owner;
  ShellErrorBoxes boxes(owner.hwnd());
  EXPECT_EQ(ShowWatchedBox(NULL), IDOK) << "not dismissed";
  EXPECT_EQ(boxes.Dismissed(), 0) << "counted as the window's";
}

// A box of the window's thread that the window does not own is dismissed
// too, and fails the test.
TEST(ShellErrorBoxesWatch, BoxesOwnedByTheWindowAreCountedAndDismissedAndTheirCallsReturn) {
  {  // one watcher of this thread at a time
    OwnerWindow owner;
    ShellErrorBoxes boxes(owner.hwnd());
    for (int shown = 1; shown <= 2; ++shown) {
      EXPECT_EQ(ShowWatchedBox(owner.hwnd()), IDOK);
      EXPECT_EQ(boxes.Dismissed(shown, 0), shown);
    }
  }
  EXPECT_NONFATAL_FAILURE(ShowABoxOwnedByNoWindowWhileWatched(),
                          "error boxes that the window's thread showed without "
                          "the window as owner");
}

// The recording handler that the tests order hand-overs by, shown on
// handlers that it starts itself: created in one order and let run in the
// other, their records come in the order they were created, which is the
// order of the shell's calls that created them.
TEST(OpenRecorderOrder, RecordsComeInTheOrderTheHandlersWereCreatedNotRan) {
  OpenRecorder recorder;
  const Files files = {recorder.MakeFile("first"), recorder.MakeFile("second"),
                       recorder.MakeFile("third")};
  // Made suspended, as the shell's calls make them, and let run last first.
  ChildOptions options;
  options.flags = CREATE_SUSPENDED;
  options.hidden = true;
  std::vector<std::unique_ptr<ChildProcess>> handlers;
  for (const std::string& file : files) {
    handlers.push_back(std::make_unique<ChildProcess>());
    ASSERT_TRUE(handlers.back()->Start(Widen(recorder.Command(file)), options)) << file;
  }
  for (auto handler = handlers.rbegin(); handler != handlers.rend(); ++handler) {
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, (*handler)->threadId());
    EXPECT_NE(ResumeThread(thread), static_cast<DWORD>(-1));
    CloseHandle(thread);
    ExpectEndsWithZero(**handler, 20000, "a handler");
  }
  EXPECT_EQ(recorder.Opened(files.size()), files);
}

}  // namespace
