// The built repquota, driven by key scripts on demo suite roots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Repquota : public ::testing::Test {
 protected:
  void SetUp() override { root_.Kitdata({"demo", root_.Dir().string(), "2024-11-15"}); }
  SuiteRoot root_{"CAT", "15112024"};
  std::vector<std::string> screens_;
};

TEST_F(Repquota, AnUnknownPropertyIsRefusedOnTheFirstScreen) {
  const ProgramResult r = root_.RunRepquota("{Down}99{Ctrl+B}{Snap}x{Snap}{Esc}{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_GE(screens_.size(), 2u);
  EXPECT_THAT(screens_[0], HasSubstr("FINCA INEXISTENT"));
  EXPECT_THAT(screens_[1], Not(HasSubstr("FINCA INEXISTENT")));
  EXPECT_THAT(screens_[1], HasSubstr("Finca ....................: 99"));
  // Nothing was started: no working file, no lock left, nothing printed.
  EXPECT_FALSE(std::filesystem::exists(root_.TempDir() / "PressupH.tmp"));
  EXPECT_TRUE(root_.PrintedFiles().empty());
}

TEST_F(Repquota, EscOnTheFirstScreenEndsTheRun) {
  const ProgramResult r = root_.RunRepquota("{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  EXPECT_EQ(r.standardError, "");
}

TEST_F(Repquota, AScriptThatRunsOutEndsWithStatusThree) {
  const ProgramResult r = root_.RunRepquota("{Down}", screens_);
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_THAT(r.standardError, HasSubstr("key script ended"));
  ASSERT_EQ(screens_.size(), 1u);
  EXPECT_THAT(screens_[0], HasSubstr("Data del pressupost ......: 151124"));
}

}  // namespace
}  // namespace e2e
