#include "app/data_checks.h"

#include <gtest/gtest.h>

#include "app/budget.h"
#include "app/suite_root_fixture.h"
#include "config/session.h"
#include "base/cp850.h"

namespace app {
namespace {

// Column totals as ComputePeriods leaves them: A a million, B 3, C 2.
std::array<std::int32_t, kColumns + 1> Totals() { return {0, 1000000, 3, 2, 0, 0, 0, 0}; }

CheckedOwner Owner(std::int16_t number, std::int32_t a, std::int32_t b, std::int32_t c, std::int16_t months = 12) {
  CheckedOwner o;
  o.number = number;
  o.coefficient[1] = a;
  o.coefficient[2] = b;
  o.coefficient[3] = c;
  o.monthsLeft = months;
  return o;
}

CheckedLine Line(const char* description, char column, std::int32_t budget) { return {description, column, budget}; }

TEST(DataChecks, EachKindOfBadDataIsFoundAndSoundDataPassesClean) {
  const struct {
    const char* name;
    std::vector<CheckedOwner> owners;
    std::vector<CheckedLine> lines;
    std::vector<ColumnMismatch> columns;
    std::vector<std::int16_t> withoutCoefficient, withoutMonths;
    std::vector<UnpaidColumn> unpaid;
  } cases[] = {
      {"columns that add up",
       {Owner(1, 500000, 1, 1), Owner(2, 500000, 2, 1)},
       {Line("NETEJA", 'B', 1000), Line("ASSEGURANCA", 'A', 500)},
       {}, {}, {}, {}},
      {"column A short of its million",
       {Owner(1, 500000, 1, 0), Owner(2, 400000, 2, 0)},
       {Line("ASSEGURANCA", 'A', 500)},
       {{1, 1000000, 900000}}, {}, {}, {}},
      {"column B over its total, column C not in use",
       {Owner(1, 500000, 2, 5), Owner(2, 500000, 2, 0)},
       {Line("NETEJA", 'B', 1000), Line("ASCENSOR", 'C', 0)},
       {{2, 3, 4}}, {}, {}, {}},
      {"a column whose lines have no budget is not in use",
       {Owner(1, 700000, 1, 1), Owner(2, 300000, 2, 1)},
       {Line("ASSEGURANCA", 'A', 0), Line("NETEJA", ' ', 1000)},
       {}, {}, {}, {}},
      {"owners without a coefficient, owners without months",
       {Owner(1, 1000000, 3, 2, 0), Owner(2, 0, 0, 0, 5), Owner(3, 0, 0, 0, -1)},
       {Line("ASSEGURANCA", 'A', 500)},
       {}, {2, 3}, {1, 3}, {}},
      {"a budget line in a column nobody pays, and one in no column at all",
       {Owner(1, 1000000, 3, 0)},
       {Line("ASCENSOR", 'C', 700), Line("JARDI", 'C', 50), Line("PINTURA", 'H', 20), Line("AIGUA", 'A', 10)},
       {{3, 2, 0}}, {}, {}, {{'C', {"ASCENSOR", "JARDI"}}, {'H', {"PINTURA"}}}},
      {"a column without total nor owners still has nobody to pay it",
       {Owner(1, 1000000, 3, 2)},
       {Line("PORTER                   ", 'D', 100)},
       {}, {}, {}, {{'D', {"PORTER"}}}},
  };
  for (const auto& c : cases) {
    DataCheckInput input;
    input.columnTotal = Totals();
    input.owners = c.owners;
    input.lines = c.lines;
    const DataFindings found = CheckData(input);
    EXPECT_EQ(found.columns, c.columns) << c.name;
    EXPECT_EQ(found.ownersWithoutCoefficient, c.withoutCoefficient) << c.name;
    EXPECT_EQ(found.ownersWithoutMonths, c.withoutMonths) << c.name;
    EXPECT_EQ(found.unpaidColumns, c.unpaid) << c.name;
    EXPECT_EQ(found.Empty(), c.columns.empty() && c.withoutCoefficient.empty() && c.withoutMonths.empty() &&
                                 c.unpaid.empty())
        << c.name;
  }
}

// The message box's lines, as 76-character rows with trailing blanks cut.
std::vector<std::string> BoxLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size(); at += 76) {
    std::string line = text.substr(at, 76);
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(line);
  }
  return lines;
}

class OperatorText : public ::testing::Test {
 protected:
  void SetUp() override {
    config::ResetSession();
    config::Session().Language = "CAT";
  }
  void TearDown() override { config::ResetSession(); }
};

TEST_F(OperatorText, EachFindingStartsALineOfTheBoxAndLongListsAreCut) {
  DataFindings f;
  f.columns = {{1, 1000000, 1100000}, {2, 3, 2}};
  for (std::int16_t n = 1; n <= 25; ++n) f.ownersWithoutCoefficient.push_back(n);
  f.ownersWithoutMonths = {7};
  f.unpaidColumns = {{'D', {"PORTER", "JARDI", "A", "B", "C", "D", "E"}}};
  const std::string text = FindingsForOperator(f);
  ASSERT_EQ(text.size() % 76, 0u);
  const std::vector<std::string> lines = BoxLines(text);
  ASSERT_EQ(lines.size(), 7u) << text;
  EXPECT_EQ(lines[0], "REVISEU LES DADES ABANS D'IMPRIMIR:");
  EXPECT_EQ(lines[1], "COLUMNA A: TOTAL 1000000, SUMA DELS COEFICIENTS 1100000");
  EXPECT_EQ(lines[2], "COLUMNA B: TOTAL 3, SUMA DELS COEFICIENTS 2");
  // Twenty owners named, then how many there are; the list wraps.
  EXPECT_EQ(lines[3] + " " + lines[4],
            "PROPIETARIS SENSE COEFICIENT: 001, 002, 003, 004, 005, 006, 007, 008, 009, 010, 011, 012, 013, 014, "
            "015, 016, 017, 018, 019, 020, ... (25)");
  EXPECT_EQ(lines[5], "PROPIETARIS SENSE MESOS PER GIRAR: 007");
  EXPECT_EQ(lines[6], "COLUMNA D SENSE PROPIETARIS: PORTER, JARDI, A, B, C, ... (7)");
}

TEST_F(OperatorText, ABoxThatWouldNotFitTheScreenEndsInDots) {
  DataFindings f;
  for (char letter : std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ")) f.unpaidColumns.push_back({letter, {"X"}});
  const std::vector<std::string> lines = BoxLines(FindingsForOperator(f));
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[19], "COLUMNA S SENSE PROPIETARIS: X");
  EXPECT_EQ(lines[20], "...");
}

// The checks over a report, from its owners and working budget.
using testing::Date;
class CheckReportDataTest : public testing::SuiteRootFixture {};

TEST_F(CheckReportDataTest, FindsWhatTheOwnersRecordsAndTheBudgetHold) {
  Property(7, 1, 12, 0, "", {{2, {3, "ESCALA"}}});
  Concept("NE", "NETEJA");
  Concept("AS", "ASCENSOR");
  Payment(Date(2024, 3, 1), "NE", 1000, 'N', 2);
  Payment(Date(2024, 3, 1), "AS", 500, 'N', 4);  // column D: nobody pays it
  Owner(1, {{1, 600000}, {2, 1}});
  Owner(2, {{2, 1}});
  Owner(3, {});
  Collection(2, Date(2025, 12, 1), 10);  // receipts issued to the end of the next period
  ASSERT_TRUE(report_.working.Open());
  const StepResult built = BuildBudget(report_);
  ASSERT_TRUE(built.ok()) << built.failure();
  DataFindings found;
  const StepResult checked = CheckReportData(report_, found);
  ASSERT_TRUE(checked.ok()) << checked.failure();
  // Column A is the fee line's (none here): not in use.
  EXPECT_EQ(found.columns, (std::vector<ColumnMismatch>{{2, 3, 2}}));
  EXPECT_EQ(found.ownersWithoutCoefficient, (std::vector<std::int16_t>{3}));
  EXPECT_EQ(found.ownersWithoutMonths, (std::vector<std::int16_t>{2}));
  ASSERT_EQ(found.unpaidColumns.size(), 1u);
  EXPECT_EQ(found.unpaidColumns[0].column, 'D');
  EXPECT_EQ(found.unpaidColumns[0].descriptions, std::vector<std::string>{"ASCENSOR"});
}

}  // namespace
}  // namespace app
