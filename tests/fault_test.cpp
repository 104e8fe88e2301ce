// The run when the world misbehaves around it: a handler that crashes, a file
// that vanishes and a list that is rewritten while the run is under way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schedule.h"
#include "test_support.h"

namespace {

using Files = std::vector<std::string>;

// Absent entries between the first and the last keep the run reading for a
// few seconds, long after the handler started for the first has done its mischief.
const int kSpan = 100000;

class FaultTest : public ::testing::Test {
 protected:
  void Run() {
    std::string program = "handoff.exe";
    std::string argument = store.name();
    char* argv[] = {&program[0], &argument[0], nullptr};
    ScheduleRun(2, argv, owner.hwnd());
  }
  // A list of kSpan entries of which only the first and the last are set.
  void WriteSpan(const std::string& first, const std::string& last) {
    store.SetDword("inscount", kSpan);
    store.SetString("ins0", first);
    store.SetString(LastName().c_str(), last);
  }
  std::string LastName() const {
    return "ins" + std::to_string(kSpan - 1);
  }

  TestStore store{"fault"};
  OwnerWindow owner;
  OpenRecorder recorder;
};

TEST_F(FaultTest, AHandlerThatCrashesStillCountsAsHandedOver) {
  Files files = {recorder.MakeFile("crashes", "!crash"), recorder.MakeFile("after")};
  store.SetDword("inscount", 2);
  store.SetString("ins0", files[0]);
  store.SetString("ins1", files[1]);
  std::vector<RegistryValue> before = Snapshot(StoreKeyPath(store.name()));
  Run();
  EXPECT_TRUE(owner.TakeCloseRequest());
  EXPECT_EQ(recorder.Opened(2), files);
  EXPECT_EQ(Snapshot(StoreKeyPath(store.name())), before);
}

TEST_F(FaultTest, AFileThatVanishesDuringTheRunIsRefusedAndTheWindowStays) {
  std::string vanishing = recorder.MakeFile("vanishes");
  std::string deleter = recorder.MakeFile("deleter", "!delete " + vanishing);
  WriteSpan(deleter, vanishing);
  std::vector<RegistryValue> before = Snapshot(StoreKeyPath(store.name()));
  ShellErrorBoxes boxes(owner.hwnd());
  Run();
  boxes.ExpectRefusals(1);
  EXPECT_FALSE(owner.TakeCloseRequest());
  EXPECT_EQ(recorder.Opened(1), Files{deleter});
  EXPECT_EQ(Snapshot(StoreKeyPath(store.name())), before);
}

TEST_F(FaultTest, AListRewrittenDuringTheRunIsReadAsItStandsWhenEachEntryIsReached) {
  std::string original = recorder.MakeFile("original");
  std::string replacement = recorder.MakeFile("replacement");
  std::string rewriter = recorder.MakeFile(
      "rewriter", "!set " + StoreKeyPath(store.name()) + "|" + LastName() + "|" + replacement);
  WriteSpan(rewriter, original);
  Run();
  EXPECT_TRUE(owner.TakeCloseRequest());
  EXPECT_EQ(recorder.Opened(2), (Files{rewriter, replacement}));
  // Only this test and the other program wrote: the key holds the list as they
  // left it, untouched by the run (the texts as ANSI reads them, with their NUL).
  const DWORD count = kSpan;
  std::vector<RegistryValue> expected = {
      {"ins0", REG_SZ, rewriter + '\0'},
      {LastName(), REG_SZ, replacement + '\0'},
      {"inscount", REG_DWORD, std::string(reinterpret_cast<const char*>(&count), 4)}};
  EXPECT_EQ(Snapshot(StoreKeyPath(store.name())), expected);
}

}  // namespace
