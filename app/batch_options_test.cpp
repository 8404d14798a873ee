#include "app/batch_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/session.h"
#include "config/test_files.h"
#include "format/dates.h"
#include "format/user_settings.h"
#include "platform/file_system.h"

namespace app {
namespace {

TEST(BatchOptions, PropertySelections) {
  const struct {
    const char* text;
    std::vector<CodeRange> ranges;  // empty: refused
  } cases[] = {
      {"7", {{7, 7}}},
      {"1-20", {{1, 20}}},
      {"1,4,10-12", {{1, 1}, {4, 4}, {10, 12}}},
      {" 3 , 5 ", {{3, 3}, {5, 5}}},
      {"0-9999", {{0, 9999}}},
      {"12-3", {}},
      {"10000", {}},
      {"1,,2", {}},
      {"a", {}},
      {"-3", {}},
      {"1-", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ParsePropertySelection(c.text, error), c.ranges) << c.text;
    EXPECT_EQ(error.empty(), !c.ranges.empty()) << c.text;
  }
}

TEST(BatchOptions, TheCommandLine) {
  const BatchArguments a = ParseBatchArguments(
      {"1-3", "--date", "15/11/2024", "--f5=103%", "--distribution-copies", "P", "--budget-copies=2", "--periodicity",
       "1", "--concept", "2", "--out", "listings", "--pdf", "/srv/pdf", "--csv=figures/", "--lock-wait", "3",
       "--dry-run", "7"},
      "/home/admin");
  ASSERT_EQ(a.error, "");
  EXPECT_FALSE(a.help);
  const BatchOptions& o = a.options;
  EXPECT_EQ(o.properties, (std::vector<CodeRange>{{1, 3}, {7, 7}}));
  EXPECT_EQ(o.screens.date, "15/11/2024");
  EXPECT_EQ(o.screens.presets[0], "103%");
  EXPECT_EQ(o.screens.presets[1], "");
  EXPECT_EQ(o.screens.distributionCopies, "P");
  EXPECT_EQ(o.screens.budgetCopies, "2");
  EXPECT_EQ(o.screens.periodicity, "1");
  EXPECT_EQ(o.screens.receiptConcept, "2");
  EXPECT_EQ(o.outDir, "/home/admin/listings");
  EXPECT_EQ(o.pdfDir, "/srv/pdf");
  EXPECT_EQ(o.csvDir, "/home/admin/figures");
  EXPECT_EQ(o.lockWaitSeconds, 3);
  EXPECT_TRUE(o.dryRun);

  // What is not given: every property, one copy of each listing, no
  // update, the current folder, ten seconds.
  const BatchArguments d = ParseBatchArguments({}, "/home/admin");
  ASSERT_EQ(d.error, "");
  EXPECT_TRUE(d.options.properties.empty());
  EXPECT_EQ(d.options.screens, ScreenOptions{});
  EXPECT_EQ(d.options.screens.distributionCopies, "1");
  EXPECT_EQ(d.options.screens.budgetCopies, "1");
  EXPECT_EQ(d.options.screens.periodicity, "0");
  EXPECT_EQ(d.options.outDir, "/home/admin");
  EXPECT_EQ(d.options.pdfDir, "");
  EXPECT_EQ(d.options.lockWaitSeconds, 10);
  EXPECT_FALSE(d.options.dryRun);

  EXPECT_TRUE(ParseBatchArguments({"--pdf", "x", "-h"}, "/").help);
  EXPECT_TRUE(ParseBatchArguments({"--help"}, "/").help);
}

TEST(BatchOptions, WrongArgumentsAreNamed) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--colour", "red"}, "unknown option --colour"},
      {{"--copies=2"}, "unknown option --copies"},
      {{"--date"}, "--date needs a value"},
      {{"--lock-wait", "forever"}, "--lock-wait forever: give the seconds to wait, 0 to 3600"},
      {{"--lock-wait", "-1"}, "--lock-wait -1"},
      {{"--out="}, "--out needs a folder"},
      {{"1-x"}, "\"1-x\" is not a property code"},
      {{"--dry-run=yes"}, "--dry-run takes no value"},
  };
  for (const auto& c : cases) {
    const BatchArguments a = ParseBatchArguments(c.args, "/");
    EXPECT_NE(a.error.find(c.says), std::string::npos) << c.args[0] << ": " << a.error;
  }
}

TEST(BatchOptions, AnOptionsFileGivesWhatTheCommandLineLeavesOut) {
  config::testing::ScratchDir dir;
  const std::string file = dir.path() + "/batch.ini";
  std::ofstream(file) << "; the November run\n[other]\ndate=01/01/2000\n[Batch]\ndate = 15/11/2024\nF6=5%\n"
                         "distribution-copies=2\nbudget-copies=0\nperiodicity=1\nconcept=2\n";
  const BatchArguments a = ParseBatchArguments({"--options", "batch.ini", "--budget-copies", "3"}, dir.path());
  ASSERT_EQ(a.error, "");
  const ScreenOptions& s = a.options.screens;
  EXPECT_EQ(s.date, "15/11/2024");
  EXPECT_EQ(s.presets[1], "5%");
  EXPECT_EQ(s.distributionCopies, "2");
  EXPECT_EQ(s.budgetCopies, "3");  // the command line has the last word
  EXPECT_EQ(s.periodicity, "1");
  EXPECT_EQ(s.receiptConcept, "2");

  const BatchArguments missing = ParseBatchArguments({"--options", "none.ini"}, dir.path());
  EXPECT_NE(missing.error.find("the options file " + dir.path() + "/none.ini cannot be read"), std::string::npos)
      << missing.error;
  const BatchArguments folder = ParseBatchArguments({"--options", "."}, dir.path());
  EXPECT_NE(folder.error.find("cannot be read"), std::string::npos) << folder.error;
}

// A key mistyped, a line cut, a key given twice or a file without the
// section would leave an option at its default without a word: each is
// refused naming the file and the line.
TEST(BatchOptions, AnOptionsFileThatSaysSomethingElseIsRefusedNamingTheLine) {
  config::testing::ScratchDir dir;
  const struct {
    const char* contents;
    const char* says;  // after "the options file <path>"; the message begins so
  } cases[] = {
      {"[batch]\ndate=15/11/2024\nperiodicty=1\n",
       ", line 3: unknown key \"periodicty\" (the keys are date, f5 to f9, distribution-copies, budget-copies, "
       "periodicity and concept)"},
      {"[batch]\nout=/srv/listings\n", ", line 2: unknown key \"out\""},
      {"; November\n[batch]\n\nperiodicity 1\n", ", line 4: \"periodicity 1\" is not KEY=VALUE"},
      {"[batch]\nconcept=1\nConcept=2\n", ", line 3: concept is given twice (also on line 2)"},
      {"[options]\nperiodicity=1\n", " has no section [batch]"},
      {"", " has no section [batch]"},
  };
  for (const auto& c : cases) {
    dir.Write("batch.ini", c.contents);
    const BatchArguments a = ParseBatchArguments({"--options", "batch.ini"}, dir.path());
    const std::string expected = "the options file " + dir.path() + "/batch.ini" + c.says;
    EXPECT_EQ(a.error.substr(0, expected.size()), expected) << c.contents;
  }
  // Comments, blank lines and other sections are no business of the batch.
  dir.Write("batch.ini", "[other]\nkey=x\n[batch]\n; the run\n\nperiodicity=1 ; yes\n[more]\nthing\n");
  const BatchArguments fine = ParseBatchArguments({"--options", "batch.ini"}, dir.path());
  EXPECT_EQ(fine.error, "");
  EXPECT_EQ(fine.options.screens.periodicity, "1");
}

// A file the program may not read (permissions do not stop root: the
// refusal comes from the file system).
class RefusedOptionsFile : public platform::FileSystemWrapper {
 public:
  RefusedOptionsFile() : FileSystemWrapper(platform::RealFileSystem()) {}
  platform::ReadResult ReadWholeFile(const std::string& path) override {
    if (path.ends_with("batch.ini")) return {{}, {EACCES}};
    return FileSystemWrapper::ReadWholeFile(path);
  }
};

TEST(BatchOptions, AnOptionsFileThatCannotBeReadIsNamedWithTheReason) {
  config::testing::ScratchDir dir;
  dir.Write("batch.ini", "[batch]\nperiodicity=1\n");
  RefusedOptionsFile refused;
  platform::ScopedFileSystem scoped(refused);
  const BatchArguments a = ParseBatchArguments({"--options", "batch.ini"}, dir.path());
  EXPECT_EQ(a.error, "the options file " + dir.path() + "/batch.ini cannot be read: Permission denied");
}

TEST(BatchOptions, WrongSelectionsSayWhatIsWrong) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"12-3"}, "\"12-3\": a range goes from the lower code to the higher (3-12)"},
      {{"1,20-10"}, "\"20-10\": a range goes from the lower code to the higher (10-20)"},
      {{"10000"}, "\"10000\": property codes go from 0 to 9999"},
      {{"5-12000"}, "\"5-12000\": property codes go from 0 to 9999"},
      {{"-n"}, "unknown option -n"},
      {{"x"}, "\"x\" is not a property code, a range such as 1-20, or a list of them"},
      // A minus sign is no part of a code: not a range backwards to -3.
      {{"1--3"}, "\"1--3\" is not a property code, a range such as 1-20, or a list of them"},
      {{"5,2--1"}, "\"5,2--1\" is not a property code, a range such as 1-20, or a list of them"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseBatchArguments(c.args, "/").error, c.says) << c.args[0];
}

class ScreenOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config::ResetSession();
    format::ResetUserSettings();
  }
  void TearDown() override { config::ResetSession(); }
};

TEST_F(ScreenOptionsTest, TheFieldsChecksDecide) {
  const struct {
    const char* option;
    const char* value;
    bool accepted;
  } cases[] = {
      {"date", "15/11/2024", true},  {"date", "151124", true},     {"date", "31/02/2024", false},
      {"date", "15/11/2024x", false}, {"f5", "103%", true},        {"f5", "-2550", true},         {"f6", "-25.5", false},
      {"f9", "1000%", false},        {"f7", "abc", false},         {"f8", "123456789", false},
      {"distribution-copies", "P", true}, {"distribution-copies", "999", true},
      {"distribution-copies", "1000", false}, {"budget-copies", "-1", false}, {"budget-copies", "", false},
      {"periodicity", "12", true},   {"periodicity", "123", false}, {"periodicity", "-1", false},
      {"concept", "8", true},        {"concept", "9", false},       {"concept", "0", true},
  };
  for (const auto& c : cases) {
    ScreenOptions o;
    const std::string name = c.option;
    if (name == "date") o.date = c.value;
    if (name[0] == 'f') o.presets[static_cast<std::size_t>(name[1] - '5')] = c.value;
    if (name == "distribution-copies") o.distributionCopies = c.value;
    if (name == "budget-copies") o.budgetCopies = c.value;
    if (name == "periodicity") o.periodicity = c.value;
    if (name == "concept") o.receiptConcept = c.value;
    const std::string problem = CheckScreenOptions(o);
    EXPECT_EQ(problem.empty(), c.accepted) << name << " " << c.value << ": " << problem;
    if (!c.accepted) {
      EXPECT_EQ(problem.rfind("--" + name + " \"" + c.value + "\"", 0), 0u) << problem;
    }
  }
  EXPECT_EQ(CheckScreenOptions(ScreenOptions{}), "");
}

// A wrong value from the options file is named where it was written; the
// command line, which has the last word, is named as the option.
TEST_F(ScreenOptionsTest, AWrongValueIsNamedWhereItWasGiven) {
  config::testing::ScratchDir dir;
  dir.Write("batch.ini", "[batch]\ndate=15/11/2024\nperiodicity=123\nconcept=9\n");
  BatchArguments a = ParseBatchArguments({"--options", "batch.ini"}, dir.path());
  ASSERT_EQ(a.error, "");
  EXPECT_EQ(CheckScreenOptions(a.options.screens, a.options.optionsFile),
            "the options file " + dir.path() + "/batch.ini, line 3: periodicity \"123\": give a number 0 to 99");
  a = ParseBatchArguments({"--options", "batch.ini", "--periodicity", "456"}, dir.path());
  ASSERT_EQ(a.error, "");
  EXPECT_EQ(CheckScreenOptions(a.options.screens, a.options.optionsFile), "--periodicity \"456\": give a number 0 to 99");
  a = ParseBatchArguments({"--options", "batch.ini", "--periodicity", "1"}, dir.path());
  EXPECT_EQ(CheckScreenOptions(a.options.screens, a.options.optionsFile),
            "the options file " + dir.path() + "/batch.ini, line 4: concept \"9\": give a receipt concept 1 to 8");
}

TEST_F(ScreenOptionsTest, TheParametersAreWhatTheScreensWouldSet) {
  ScreenOptions o;
  o.presets[0] = "103%";
  o.distributionCopies = "P";
  o.budgetCopies = "2";
  o.periodicity = "1";
  o.receiptConcept = "3";
  ReportParameters p = ParametersFrom(o, format::PackDate(2024, 11, 15), 2024);
  EXPECT_EQ(p.ReportDate, format::PackDate(2024, 11, 15));  // the working date
  EXPECT_EQ(p.ReportOptions[0], "103%");
  EXPECT_EQ(p.DistributionCopies, -1);
  EXPECT_EQ(p.BudgetCopies, 2);
  EXPECT_EQ(p.UpdatePeriodicity, 1);
  EXPECT_EQ(p.UpdateSlot, 3);
  o.date = "1/3/2025";
  p = ParametersFrom(o, format::PackDate(2024, 11, 15), 2024);
  EXPECT_EQ(p.ReportDate, format::PackDate(2025, 3, 1));
  o.date = "1/3/25";  // two digits: the century of the year given
  p = ParametersFrom(o, format::PackDate(2024, 11, 15), 2024);
  EXPECT_EQ(p.ReportDate, format::PackDate(2025, 3, 1));
}

}  // namespace
}  // namespace app
