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
// few seconds, long after the handler started for the first has done its
// mischief.
const int kSpan = 100000;

class FaultTest : public ::testing::Test {
 protected:
  // Runs with the store name as the one argument; expects the window closed or left open.
  void Run(bool closes) {
    std::string program = "handoff.exe";
    std::string argument = store.name();
    char* argv[] = {&program[0], &argument[0], nullptr};
    ScheduleRun(2, argv, owner.hwnd());
    EXPECT_EQ(owner.TakeCloseRequest(), closes);
  }
  // A list of `count` entries of which only the first and the last are set.
  void WriteList(const std::string& first, const std::string& last, int count = kSpan) {
    store.SetDword("inscount", count);
    store.SetString("ins0", first);
    store.SetString(("ins" + std::to_string(count - 1)).c_str(), last);
  }
  std::vector<RegistryValue> List() const {
    return Snapshot(StoreKeyPath(store.name()));
  }
  const std::string lastName = "ins" + std::to_string(kSpan - 1);

  TestStore store{"fault"};
  OwnerWindow owner;
  OpenRecorder recorder;
};

TEST_F(FaultTest, AHandlerThatCrashesStillCountsAsHandedOver) {
  Files files = {recorder.MakeFile("crashes", "!crash"), recorder.MakeFile("after")};
  WriteList(files[0], files[1], 2);
  const std::vector<RegistryValue> before = List();
  Run(true);
  EXPECT_EQ(recorder.Opened(2), files);
  EXPECT_EQ(List(), before);
}

TEST_F(FaultTest, AFileThatVanishesDuringTheRunIsRefusedAndTheWindowStays) {
  std::string vanishing = recorder.MakeFile("vanishes");
  std::string deleter = recorder.MakeFile("deleter", "!delete " + vanishing);
  WriteList(deleter, vanishing);
  const std::vector<RegistryValue> before = List();
  ShellErrorBoxes boxes(owner.hwnd());
  Run(false);
  boxes.ExpectRefusals(1);
  EXPECT_EQ(recorder.Opened(1), Files{deleter});
  EXPECT_EQ(List(), before);
}

// The first two entries' handlers write while the run goes on: one replaces
// the last entry, the other adds one before it.
TEST_F(FaultTest, AListRewrittenDuringTheRunIsReadAsItStandsWhenEachEntryIsReached) {
  const std::string added = "ins" + std::to_string(kSpan - 2);
  std::string original = recorder.MakeFile("original");
  std::string replacement = recorder.MakeFile("replacement");
  std::string addition = recorder.MakeFile("addition");
  std::string rewriter = recorder.MakeFile(
      "rewriter", "!set " + StoreKeyPath(store.name()) + "|" + lastName + "|" + replacement);
  std::string adder = recorder.MakeFile(
      "adder", "!set " + StoreKeyPath(store.name()) + "|" + added + "|" + addition);
  WriteList(rewriter, original);
  store.SetString("ins1", adder);
  Run(true);
  EXPECT_EQ(recorder.Opened(4), (Files{rewriter, adder, addition, replacement}));
  // Only this test and the other programs wrote: the key holds the list as
  // they left it, untouched by the run (the texts as ANSI reads them, with
  // their NUL).
  const DWORD count = kSpan;
  EXPECT_EQ(List(),
            (std::vector<RegistryValue>{
                {"ins0", REG_SZ, rewriter + '\0'},
                {"ins1", REG_SZ, adder + '\0'},
                {added, REG_SZ, addition + '\0'},
                {lastName, REG_SZ, replacement + '\0'},
                {"inscount", REG_DWORD, std::string(reinterpret_cast<const char*>(&count), 4)}}));
}

}  // namespace
