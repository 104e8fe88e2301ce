// The run when the world misbehaves around it: a handler that crashes, a file
// that vanishes and a list that is rewritten while the run is under way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Files = std::vector<std::string>;

// Absent entries between the first and the last keep the run reading for a
// few seconds, long after the handler started for the first has done its
// mischief.
const int kSpan = 100000;
const std::string kLastName = "ins" + std::to_string(kSpan - 1);

class FaultTest : public RunFixture {
 protected:
  // A list of kSpan entries of which only the first and the last are set.
  void WriteSpan(const std::string& first, const std::string& last) {
    WriteList(kSpan, {first});
    store.SetString(kLastName.c_str(), last);
    Remember();
  }
};

TEST_F(FaultTest, AFileThatVanishesDuringTheRunIsRefusedAndTheWindowStays) {
  std::string vanishing = recorder.MakeFile("vanishes");
  std::string deleter = recorder.MakeFile("deleter", "!delete " + vanishing);
  WriteSpan(deleter, vanishing);
  RunRefused();
  ExpectHandedOver({deleter});
}

// The first two entries' handlers write while the run goes on: one replaces
// the last entry, the other adds one before it. The third's crashes, and
// still counts as handed over: the run goes on.
TEST_F(FaultTest, AListRewrittenDuringTheRunIsReadAsItStandsAndAHandlerThatCrashesCounts) {
  const std::string added = "ins" + std::to_string(kSpan - 2);
  std::string original = recorder.MakeFile("original");
  std::string replacement = recorder.MakeFile("replacement");
  std::string addition = recorder.MakeFile("addition");
  std::string crashes = recorder.MakeFile("crashes", "!crash");
  const std::string set = "!set " + StoreKeyPath(store.name()) + "|";
  std::string rewriter = recorder.MakeFile("rewriter", set + kLastName + "|" + replacement);
  std::string adder = recorder.MakeFile("adder", set + added + "|" + addition);
  WriteSpan(rewriter, original);
  store.SetString("ins1", adder);
  store.SetString("ins2", crashes);
  Run();
  EXPECT_EQ(recorder.Opened(5), (Files{rewriter, adder, crashes, addition, replacement}));
  // Only this test and the other programs wrote: the key holds the list as
  // they left it, untouched by the run.
  EXPECT_EQ(Snapshot(StoreKeyPath(store.name())),
            (std::vector<RegistryValue>{StringValue("ins0", rewriter), StringValue("ins1", adder),
                                        StringValue("ins2", crashes), StringValue(added, addition),
                                        StringValue(kLastName, replacement),
                                        DwordValue("inscount", kSpan)}));
}

}  // namespace
