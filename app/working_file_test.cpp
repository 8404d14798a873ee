#include "app/working_file.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <filesystem>
#include <string>
#include <vector>

#include "config/session.h"
#include "config/test_files.h"

namespace app {
namespace {

class WorkingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config::ResetSession();
    config::Session().TempDir = dir_.path() + "/";
    ASSERT_TRUE(file_.Open());
  }
  void TearDown() override {
    file_.Close();
    config::ResetSession();
  }
  static records::WorkingLine Line(const char* code, std::int32_t spent) {
    records::WorkingLine line;
    line.code = code;
    line.description = std::string("LINE ") + code;
    line.column = 'B';
    line.spent = spent;
    line.variation = "5%";
    line.budget = spent + 1;
    return line;
  }
  static std::vector<std::string> Codes(const std::vector<records::WorkingLine>& lines) {
    std::vector<std::string> codes;
    for (const records::WorkingLine& line : lines) codes.push_back(line.code + ":" + std::to_string(line.spent));
    return codes;
  }
  config::testing::ScratchDir dir_;
  WorkingFile file_;
};

TEST_F(WorkingFileTest, LinesWrittenTogetherOrOneByOneComeBackInOrder) {
  ASSERT_TRUE(file_.Append({Line("AA", 1), Line("BB", 2)}));
  ASSERT_TRUE(file_.Append(Line("CC", 3)));
  ASSERT_TRUE(file_.Append({Line("DD", 4)}));
  EXPECT_EQ(file_.Count(), 4);
  // Rewritten from the second on, in one write.
  ASSERT_TRUE(file_.Write(2, {Line("bb", 20), Line("cc", 30)}));
  const std::vector<records::WorkingLine> lines = file_.Lines();
  EXPECT_EQ(Codes(lines), (std::vector<std::string>{"AA:1", "bb:20", "cc:30", "DD:4"}));
  // Texts come back as the fixed fields keep them.
  EXPECT_EQ(lines[1].description, "LINE bb                  ");
  EXPECT_EQ(lines[1].variation, "5%      ");
  EXPECT_EQ(lines[1].budget, 21);
  records::WorkingLine one;
  ASSERT_TRUE(file_.Read(3, one));
  EXPECT_EQ(one.code, "cc");
  EXPECT_FALSE(file_.Failed());
}

TEST_F(WorkingFileTest, AFileCutInsideALineGivesTheWholeLinesAndAFailure) {
  ASSERT_TRUE(file_.Append({Line("AA", 1), Line("BB", 2), Line("CC", 3)}));
  std::filesystem::resize_file(dir_ / "PressupH.tmp", 2 * records::kWorkingLineSize + 5);
  EXPECT_EQ(Codes(file_.Lines()), (std::vector<std::string>{"AA:1", "BB:2"}));
  EXPECT_EQ(file_.Failure(), "NO ES POT LLEGIR EL FITXER DE TREBALL " + WorkingFile::SuitePath() +
                                 ": ERROR " + std::to_string(EIO) + ": Input/output error");
}

TEST_F(WorkingFileTest, AClosedFileIsAFailureToReadOrWrite) {
  file_.Close();
  EXPECT_TRUE(file_.Lines().empty());
  EXPECT_FALSE(file_.Write(1, {Line("AA", 1)}));
  EXPECT_TRUE(file_.Failed());
}

}  // namespace
}  // namespace app
