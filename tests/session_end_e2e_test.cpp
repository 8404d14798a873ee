// However a run of repquota ends without the operator (its key script runs
// out, it is sent SIGTERM or SIGHUP), it releases the property's budget
// lock and removes its working and window stack files on the way out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class SessionEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.Kitdata({"demo", root_.Dir().string(), "2024-11-15"});
    root_.AddWorkstation("TMP2");
  }

  // Nothing of the run is left in its temporary folder.
  void ExpectNoTemporaryFiles(const std::filesystem::path& tmp) {
    EXPECT_FALSE(std::filesystem::exists(tmp / "PressupH.tmp"));
    EXPECT_FALSE(std::filesystem::exists(tmp / "WinPush.tmp"));
  }

  // Another workstation opens the budget of property 1 at once: the lock
  // was released, not left for the 30 minutes that free an abandoned one.
  void ExpectBudgetFree() {
    std::vector<std::string> other;
    const ProgramResult r = root_.RunRepquota("{Down}1{Ctrl+B}{Snap}", other, "other", "TMP2");
    EXPECT_EQ(r.exitStatus, 3) << r.standardError;
    ASSERT_EQ(other.size(), 2u);
    EXPECT_THAT(other[0], HasSubstr("AC  ASSEGURANÇA"));
    EXPECT_THAT(other[0], Not(HasSubstr("BLOQUEJAT")));
  }

  SuiteRoot root_{"CAT", "15112024"};
  std::vector<std::string> screens_;
};

TEST_F(SessionEnd, AScriptThatRunsOutOnTheBudgetLetsEverythingGo) {
  const ProgramResult r = root_.RunRepquota("{Down}1{Ctrl+B}", screens_);
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_EQ(r.standardError, "key script ended\n");
  ASSERT_EQ(screens_.size(), 1u);  // the screen it ended on
  EXPECT_THAT(screens_[0], HasSubstr("AC  ASSEGURANÇA"));
  ExpectNoTemporaryFiles(root_.TempDir());
  ExpectBudgetFree();
}

TEST_F(SessionEnd, SigtermOnTheBudgetLetsEverythingGo) {
  RunningProgram run = root_.StartRepquota("{Down}1{Ctrl+B}{Snap}{Pause 60000}", "waiting");
  ASSERT_TRUE(root_.WaitForScreens("waiting", 1));
  EXPECT_THAT(root_.Screens("waiting")[0], HasSubstr("AC  ASSEGURANÇA"));
  EXPECT_TRUE(std::filesystem::exists(root_.TempDir() / "PressupH.tmp"));
  run.Signal(SIGTERM);
  const ProgramResult r = run.Wait(std::chrono::seconds(20));
  EXPECT_EQ(r.exitStatus, 128 + SIGTERM) << r.standardError;
  EXPECT_THAT(r.standardError, HasSubstr("SIGTERM"));
  ExpectNoTemporaryFiles(root_.TempDir());
  ExpectBudgetFree();
}

TEST_F(SessionEnd, SighupWhileWaitingForALockedBudgetLeavesTheWindowStackAsFound) {
  // The first workstation holds the budget of property 1; the second waits
  // for it with the lock message up (a window on the stack) when its
  // terminal hangs up.
  RunningProgram holder = root_.StartRepquota("{Down}1{Ctrl+B}{Snap}{Pause 60000}", "holder");
  ASSERT_TRUE(root_.WaitForScreens("holder", 1));
  RunningProgram waiter = root_.StartRepquota("{Down}1{Ctrl+B}{Snap}{Pause 60000}", "waiter", "TMP2");
  ASSERT_TRUE(root_.WaitForScreens("waiter", 1));
  EXPECT_THAT(root_.Screens("waiter")[0], HasSubstr("BLOQUEJAT"));
  EXPECT_TRUE(std::filesystem::exists(root_.Dir() / "TMP2" / "WinPush.tmp"));
  waiter.Signal(SIGHUP);
  const ProgramResult w = waiter.Wait(std::chrono::seconds(20));
  EXPECT_EQ(w.exitStatus, 128 + SIGHUP) << w.standardError;
  ExpectNoTemporaryFiles(root_.Dir() / "TMP2");

  holder.Signal(SIGTERM);
  EXPECT_EQ(holder.Wait(std::chrono::seconds(20)).exitStatus, 128 + SIGTERM);
  ExpectNoTemporaryFiles(root_.TempDir());
  ExpectBudgetFree();
}

TEST_F(SessionEnd, ADataFileThatCannotBeOpenedEndsTheRunThroughMain) {
  if (DataOnServer()) GTEST_SKIP() << "damages a data file of the embedded storage";
  // A folder where the payments file should be.
  std::filesystem::remove(root_.Dir() / "DADES" / "PagamH.dat");
  std::filesystem::create_directory(root_.Dir() / "DADES" / "PagamH.dat");
  const ProgramResult r = root_.RunRepquota("{Snap}{Enter}", screens_);
  EXPECT_EQ(r.exitStatus, 1) << r.standardError;
  ASSERT_EQ(screens_.size(), 1u);
  EXPECT_THAT(screens_[0], HasSubstr("NO ES POT ACCEDIR AL FITXER DADES\\PagamH"));
  ExpectNoTemporaryFiles(root_.TempDir());
}

}  // namespace
}  // namespace e2e
