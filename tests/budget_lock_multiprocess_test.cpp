// Two workstations on one suite root: the budget of a property is edited by
// one at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(BudgetLock, ASecondWorkstationWaitsForTheSamePropertyAndMayGiveUp) {
  SuiteRoot root("CAT", "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  root.AddWorkstation("TMP2");
  std::vector<std::string> second;

  // The first workstation reaches the budget of property 1 and stays there.
  RunningProgram running = root.StartRepquota("{Down}1{Ctrl+B}{Snap}{Pause 60000}", "first", "TMP");
  ASSERT_TRUE(root.WaitForScreens("first", 1));
  EXPECT_THAT(root.Screens("first")[0], HasSubstr("CONCEPTE"));

  // The second asks for the same property: it waits with the lock message,
  // gives up with Esc and stays on the first screen; another property goes on.
  const ProgramResult b = root.RunRepquota(
      "{Down}1{Ctrl+B}{Snap}{Esc}{Snap}{Up}{Up}{Up}{Up}{Up}{Up}{Down}2{Ctrl+B}{Snap}", second, "second", "TMP2");
  EXPECT_EQ(b.exitStatus, 3) << b.standardError;
  ASSERT_EQ(second.size(), 4u);
  EXPECT_THAT(second[0], HasSubstr("FITXER BLOQUEJAT. ESPEREU UN MOMENT"));
  EXPECT_THAT(second[1], Not(HasSubstr("FITXER BLOQUEJAT")));
  EXPECT_THAT(second[1], HasSubstr("Data del pressupost"));
  EXPECT_THAT(second[2], HasSubstr("CONCEPTE"));
  EXPECT_THAT(second[2], HasSubstr("GRAN DE GRÀCIA, 88"));

  running.Signal(SIGTERM);
  const ProgramResult a = running.Wait();
  EXPECT_EQ(a.exitStatus, 128 + SIGTERM) << a.standardError;
}

}  // namespace
}  // namespace e2e
