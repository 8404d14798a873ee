#include "app/budget.h"

#include <gtest/gtest.h>

#include "app/suite_root_fixture.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <map>

#include "app/data_files.h"
#include "app/distribution.h"
#include "app/records.h"
#include "base/cp850.h"
#include "base/strings.h"
#include "config/catalog.h"
#include "config/session.h"
#include "console/form_input.h"
#include "config/test_files.h"
#include "data/failing_record_manager.h"
#include "data/key_walk.h"
#include "data/files.h"
#include "data/locks.h"
#include "data/notice.h"
#include "data/testing/losing_lock_store.h"
#include "data/testing/recorded_notice.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// The passes the distribution hands to its listing, as they come.
class RecordedPasses : public DistributionSink {
 public:
  void PassComputed(const DistributionPass& pass) override {
    passes.push_back(pass);
    if (onPass) onPass();
  }
  std::vector<DistributionPass> passes;
  std::function<void()> onPass;
};

class BudgetTest : public testing::SuiteRootFixture {
 protected:
  void SetUp() override {
    SuiteRootFixture::SetUp();
    ASSERT_TRUE(report_.working.Open());
  }
  // Screen 1's steps up to the working budget, each of which must succeed.
  void BuildTheWorkingBudget() {
    for (StepResult (*step)(Report&) : {ComputePeriods, CollectOwnerIssues, BuildWorkingBudget}) {
      const StepResult result = step(report_);
      ASSERT_TRUE(result.ok()) << result.failure();
    }
  }
  // Working line `number`, which must hold concept `code`, as the operator
  // changes it on screen 2.
  void EditLine(int number, const std::string& code, const std::function<void(records::WorkingLine&)>& edit) {
    records::WorkingLine line;
    ASSERT_TRUE(report_.working.Read(number, line));
    ASSERT_EQ(line.code, code);
    edit(line);
    report_.working.Write(number, line);
  }
  // Property 7 with 10.00 of cleaning paid, to share in column B among three
  // owners of coefficient 1: owners 1 and 3 on monthly receipts, owner 2 on
  // quarterly ones; the working budget built.
  void ThreeOwnersShareTenInColumnB() {
    Property(7, 1, 12, 0, "", {{2, {3, "ESCALA"}}});
    Concept("NE", "NETEJA");
    Payment(Date(2024, 3, 1), "NE", 1000, 'N', 2);
    Owner(1, {{2, 1}}, 1);
    Owner(2, {{2, 1}}, 3);
    Owner(3, {{2, 1}}, 1);
    ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());
  }
  // A distribution printed once: the one pass its listing was given.
  void DistributeOneCopy(DistributionPass& pass) {
    report_.parameters.DistributionCopies = 1;
    RecordedPasses listing;
    ASSERT_TRUE(DistributeBudget(report_, listing).ok());
    ASSERT_EQ(listing.passes.size(), 1u);
    pass = listing.passes[0];
  }
};

TEST_F(BudgetTest, PeriodsFollowThePropertysFirstMonthAndLength) {
  struct Case {
    std::int16_t first, months;
    std::string report, start, end, nextStart, nextEnd;
  };
  const Case cases[] = {
      {0, 0, Date(2024, 3, 15), Date(2024, 1, 1), Date(2024, 12, 31), Date(2025, 1, 1), Date(2025, 12, 31)},
      {7, 6, Date(2024, 5, 20), Date(2024, 1, 1), Date(2024, 6, 30), Date(2024, 7, 1), Date(2024, 12, 31)},
      {1, 3, Date(2024, 11, 15), Date(2024, 10, 1), Date(2024, 12, 31), Date(2025, 1, 1), Date(2025, 3, 31)},
      {4, 12, Date(2024, 2, 29), Date(2023, 4, 1), Date(2024, 3, 31), Date(2024, 4, 1), Date(2025, 3, 31)},
      // Two-year periods from January: 12 months elapsed in January.
      {1, 24, Date(2024, 1, 10), Date(2023, 1, 1), Date(2024, 12, 31), Date(2025, 1, 1), Date(2026, 12, 31)},
      {-3, -6, Date(2024, 5, 2), Date(2024, 1, 1), Date(2024, 12, 31), Date(2025, 1, 1), Date(2025, 12, 31)},
  };
  int code = 10;
  for (const Case& c : cases) {
    Property(code, c.first, c.months, 0, "");
    report_.parameters.PropertyCode = Code(code++);
    report_.parameters.ReportDate = c.report;
    ComputePeriods(report_);
    EXPECT_EQ(report_.budget.PeriodStart, c.start) << c.first << "/" << c.months;
    EXPECT_EQ(report_.budget.PeriodEnd, c.end) << c.first << "/" << c.months;
    EXPECT_EQ(report_.budget.NextStart, c.nextStart) << c.first << "/" << c.months;
    EXPECT_EQ(report_.budget.NextEnd, c.nextEnd) << c.first << "/" << c.months;
  }
}

TEST_F(BudgetTest, IssuedAmountsAndMonthsLeftPerOwner) {
  Property(7, 1, 12, 0, "");
  Owner(1, {{1, 500000}});
  Owner(2, {{1, 300000}});
  Owner(3, {{1, 200000}});
  Collection(1, Date(2024, 12, 1), 999);   // current period: not counted
  Collection(1, Date(2025, 1, 1), 100);
  Collection(1, Date(2025, 2, 1), 100);
  Collection(3, Date(2025, 1, 1), 1200);
  Collection(3, Date(2025, 12, 1), 50);     // reaches the last month
  Collection(3, Date(2026, 1, 1), 999);    // the period after: not counted
  ComputePeriods(report_);
  CollectOwnerIssues(report_);
  const BudgetState& b = report_.budget;
  EXPECT_EQ(b.OwnerCount, 3);
  EXPECT_EQ(b.OwnerIssued[1], 200);
  EXPECT_EQ(b.OwnerMonthsLeft[1], 10);  // February to December
  EXPECT_EQ(b.OwnerIssued[2], 0);
  EXPECT_EQ(b.OwnerMonthsLeft[2], 12);  // from the current period's last month
  EXPECT_EQ(b.OwnerIssued[3], 1250);
  EXPECT_EQ(b.OwnerMonthsLeft[3], 0);
}

TEST_F(BudgetTest, FeeLineWithAndWithoutWithholding) {
  report_.fees.VatRate = {21.0F, 10.0F};
  report_.fees.WithholdingRate = {15.0F, 7.0F};
  Property(7, 1, 12, 650, "ESH08123456");
  Owner(1, {});
  Owner(2, {});
  ComputePeriods(report_);
  CollectOwnerIssues(report_);
  // 2 owners x 6.50 x 12 months = 156.00; with 21 % VAT 188.76.
  WriteVora("[Administrador]\r\nNIF=ES-B12345678\r\n");  // a company: no withholding
  EXPECT_EQ(ComputeFeeAmount(report_), 18876);
  WriteVora("[Administrador]\r\nNIF=43456789Z\r\n");  // a person without the country prefix
  EXPECT_EQ(ComputeFeeAmount(report_), 18876);
  // A person (written any way), the property a company: 15 % of 156.00 held.
  WriteVora("[Administrador]\r\nNIF=es 43.456.789-z\r\n");
  EXPECT_EQ(ComputeFeeAmount(report_), 18876 - 2340);
  Property(8, 1, 12, 650, "ES12345678Z");  // a property that is not a company: nothing held
  report_.parameters.PropertyCode = Code(8);
  ComputePeriods(report_);
  EXPECT_EQ(ComputeFeeAmount(report_), 18876);
}

TEST_F(BudgetTest, WorkingBudgetFromConceptsStoredLinesAndPayments) {
  Property(7, 1, 12, 0, "", {{2, {3, "ESCALA"}}, {3, {1000, "ASCENSOR"}}});
  Concept("AS", "ASCENSOR");
  Concept("HO", "HONORARIS");
  Concept("NE", "NETEJA");
  Concept("PI", "PINTURA");
  Insert(kConceptColumnsFile, [&](std::span<char> area) {
    const records::ConceptColumns r{area};
    r.SetPropertyCode(Code(7));
    r.SetList("NEBASCXNE");  // "NE" again at a position that is no entry start
  });
  Stored("NE", 'B', 110000, 0, 0);   // 110 %: the budget is 110 % of the spending
  Stored("AS", 'C', 0, 15000, 0);    // an amount added
  Stored("ZZ", 'A', 0, 500, 500);    // a concept that no longer exists
  Payment(Date(2024, 3, 1), "NE", 1500, 'N', 2);
  Payment(Date(2024, 6, 1), "NE", 500, 'N', 2);
  Payment(Date(2024, 7, 1), "AS", 10000, 'N', 3);
  Payment(Date(2024, 8, 1), "QQ", 700, 'N', 3);   // unlisted: miscellaneous of column C
  Payment(Date(2024, 9, 1), "QQ", 300, 'S', 0);   // particular
  Payment(Date(2025, 1, 2), "NE", 9999, 'N', 2);  // next period: ignored
  ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());

  const records::WorkingLine ne = Line("NE");
  EXPECT_EQ(ne.column, 'B');
  EXPECT_EQ(ne.spent, 2000);
  EXPECT_EQ(ne.budget, 2200);
  const records::WorkingLine as = Line("AS");
  EXPECT_EQ(as.column, 'C');
  EXPECT_EQ(as.spent, 10000);
  EXPECT_EQ(as.budget, 25000);
  EXPECT_EQ(Line("HO").column, 'A');
  EXPECT_EQ(Line("PI").column, ' ');
  EXPECT_EQ(Line("\xFF" "C").spent, 700);
  EXPECT_EQ(Line("\xFF" "C").column, 'C');
  EXPECT_EQ(Line("\xFF\xFF").spent, 300);
  EXPECT_EQ(Line("\xFF\xFF").column, ' ');
  EXPECT_EQ(report_.working.Count(), 4 + 8);
  // The particular line has no column: spent, but not budgeted.
  EXPECT_EQ(report_.budget.TotalSpent, 2000 + 10000 + 700 + 300);
  EXPECT_EQ(report_.budget.TotalBudget, 2200 + 25000 + 700);
}

TEST_F(BudgetTest, LineBudgetFromPercentagesAndAmounts) {
  EXPECT_EQ(LineBudget(2000, "110%"), 2200);
  EXPECT_EQ(LineBudget(2000, "150"), 2150);
  EXPECT_EQ(LineBudget(2000, ""), 2000);
  EXPECT_EQ(LineBudget(2000, "-2500"), -500);
  EXPECT_EQ(LineBudget(25, "50%"), 12);  // 12.5 rounds to even
  EXPECT_EQ(LineBudget(0, "110%"), 0);
  // A percentage that takes the budget past what a record holds stops there.
  EXPECT_EQ(LineBudget(2000000000, "9999999%"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(LineBudget(-2000000000, "9999999%"), std::numeric_limits<std::int32_t>::min());
}

TEST_F(BudgetTest, AmountsStoredBackFromTheBudgetPageStopAtWhatARecordHolds) {
  Property(7, 1, 12, 0, "");
  Concept("NE", "NETEJA");
  ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());
  // Screen 2 with its totals and one line, as the operator leaves it.
  console::ResetForms();
  console::Forms().forms.screens.resize(2);
  console::FormScreen& page = console::Forms().forms.Screen(2);
  page.fields.resize(7);
  page.fieldCount = 7;
  const char* values[] = {"99999999999", "-99999999999", "NE  NETEJA", "B", "0", "9999999", "99999999999"};
  for (std::size_t j = 0; j < page.fields.size(); ++j) page.fields[j].value = values[j];
  ASSERT_TRUE(StoreBudgetPage(report_, 1).ok());
  console::ResetForms();
  EXPECT_EQ(report_.budget.TotalSpent, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(report_.budget.TotalBudget, std::numeric_limits<std::int32_t>::min());
  const records::WorkingLine line = Line("NE");
  EXPECT_EQ(line.column, 'B');
  EXPECT_EQ(line.budget, std::numeric_limits<std::int32_t>::max());
}

TEST_F(BudgetTest, SavingReplacesTheStoredLinesWithoutEmptyOnes) {
  Property(7, 1, 12, 0, "");
  Concept("AS", "ASCENSOR");
  Concept("NE", "NETEJA");
  Concept("PI", "PINTURA");
  Stored("ZZ", 'A', 0, 500, 500);
  Stored("NE", 'B', 110000, 0, 0);
  Payment(Date(2024, 3, 1), "NE", 2000, 'N', 2);
  ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());
  ASSERT_EQ(SaveStoredBudget(report_).failure(), "");
  // The old line of a vanished concept is gone; lines with nothing are not kept.
  EXPECT_EQ(StoredLines(), (std::vector<std::string>{"NE B 110000 0 2200"}));
}

TEST_F(BudgetTest, SavingLeavesOtherPropertiesAndKeepsEditedVariations) {
  Property(7, 1, 12, 0, "");
  Concept("AS", "ASCENSOR");
  Concept("NE", "NETEJA");
  Stored(6, "NE", 'B', 0, 100, 100);
  Stored(8, "AS", 'C', 5000, 0, 7);
  Stored("AS", 'C', 0, 300, 300);
  Payment(Date(2024, 3, 1), "NE", 2000, 'N', 2);
  ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());
  // The operator's edits as screen 2 leaves them in the working file.
  ASSERT_NO_FATAL_FAILURE(EditLine(1, "AS", [](records::WorkingLine& line) {
    line.variation = "12.5%";
    line.budget = 0;
  }));
  ASSERT_NO_FATAL_FAILURE(EditLine(2, "NE", [](records::WorkingLine& line) {
    line.variation = "-2000";
    line.budget = 0;
  }));
  ASSERT_EQ(SaveStoredBudget(report_).failure(), "");
  // A percentage alone or an amount alone keeps a line even with budget 0.
  EXPECT_EQ(StoredLines(), (std::vector<std::string>{"AS C 12500 0 0", "NE B 0 -2000 0"}));
  const records::StoredLine stored{report_.areas.For(kStoredBudgetFile)};
  ASSERT_EQ(data::ReadByKey(kStoredBudgetFile, 0, Code(6) + "NE", 0), 0);
  EXPECT_EQ(stored.Amount(), 100);
  ASSERT_EQ(data::ReadByKey(kStoredBudgetFile, 0, Code(8) + "AS", 0), 0);
  EXPECT_EQ(stored.Percent(), 5000);
  // Saving twice gives the same lines, not twice as many.
  ASSERT_EQ(SaveStoredBudget(report_).failure(), "");
  EXPECT_EQ(StoredLines().size(), 2U);
}

TEST_F(BudgetTest, OwnerNumbersOutsideTheTablesAreCountedButNotStored) {
  Property(7, 1, 12, 0, "", {{2, {2, "ESCALA"}}});
  Owner(0, {{2, 1}});     // owner number 0
  Owner(1000, {{2, 1}});  // the last three digits are 000 as well
  Owner(5, {{2, 0}});
  Collection(0, Date(2025, 3, 1), 4000);
  Collection(1000, Date(2025, 3, 1), 4000);
  Collection(5, Date(2025, 1, 1), 70);
  ComputePeriods(report_);
  CollectOwnerIssues(report_);
  const BudgetState& b = report_.budget;
  EXPECT_EQ(b.OwnerCount, 3);
  EXPECT_EQ(b.OwnerIssued[0], 0);
  EXPECT_EQ(b.OwnerMonthsLeft[0], 0);
  EXPECT_EQ(b.OwnerIssued[5], 70);
  EXPECT_EQ(b.OwnerMonthsLeft[5], 11);
  // Each keeps what was issued to it, apart from the other.
  Collection(1000, Date(2025, 6, 1), 1000);
  CollectOwnerIssues(report_);
  Concept("NE", "NETEJA");
  Payment(Date(2024, 3, 1), "NE", 12000, 'N', 2);
  BuildWorkingBudget(report_);
  DistributionPass pass;
  ASSERT_NO_FATAL_FAILURE(DistributeOneCopy(pass));
  std::vector<std::string> lines;
  for (const OwnerShares& o : pass.owners)
    lines.push_back(std::to_string(o.OwnerNumber) + " " + std::to_string(o.OwnerTotal) + " " +
                    std::to_string(o.Issued) + " " + std::to_string(o.Monthly));
  // 6000 each; owner 0: 2000 left over 9 months, owner 1000: 1000 over 6.
  EXPECT_EQ(lines, (std::vector<std::string>{"0 6000 4000 222", "5 0 70 -6", "0 6000 5000 167"}));
}

TEST_F(BudgetTest, LinesWithoutAColumnAreNotDistributed) {
  Property(7, 1, 12, 0, "", {{2, {4, "ESCALA"}}});
  Concept("AS", "ASCENSOR");
  Concept("NE", "NETEJA");
  Concept("PI", "PINTURA");
  Payment(Date(2024, 3, 1), "NE", 1000, 'N', 2);
  Payment(Date(2024, 4, 1), "AS", 5000, 'X', 0);  // another kind: no column
  Payment(Date(2024, 5, 1), "PI", 3000, 'N', 2);
  Owner(1, {{1, 500000}, {2, 1}});
  Owner(2, {{1, 500000}, {2, 3}});
  ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());
  ASSERT_NO_FATAL_FAILURE(EditLine(3, "PI", [](records::WorkingLine& line) {
    line.column = 'H';  // typed over screen 2: no column of the property
  }));
  DistributionPass pass;
  ASSERT_NO_FATAL_FAILURE(DistributeOneCopy(pass));
  const std::vector<OwnerShares>& owners = pass.owners;
  const DistributionTotals& totals = pass.totals;
  EXPECT_EQ(totals.ColumnBudget, (std::array<std::int32_t, kColumns + 1>{0, 0, 1000, 0, 0, 0, 0, 0}));
  EXPECT_EQ(totals.BudgetTotal, 1000);
  ASSERT_EQ(owners.size(), 2U);
  EXPECT_EQ(owners[0].Share[2], 250);
  EXPECT_EQ(owners[1].Share[2], 750);
  EXPECT_EQ(owners[0].Share[1], 0);
  EXPECT_EQ(totals.OwnersTotal, 1000);
}

TEST_F(BudgetTest, ColumnSumsPastWhatARecordHoldsStopAtItsLimit) {
  Property(7, 1, 12, 0, "", {{2, {1, "ESCALA"}}});
  Owner(1, {{2, 1}});
  ComputePeriods(report_);
  CollectOwnerIssues(report_);
  for (const char* code : {"AS", "NE", "PI"}) {
    records::WorkingLine line;
    line.code = code;
    line.column = 'B';
    line.budget = std::numeric_limits<std::int32_t>::max() - 10;
    report_.working.Append(line);
  }
  DistributionPass pass;
  ASSERT_NO_FATAL_FAILURE(DistributeOneCopy(pass));
  const DistributionTotals& totals = pass.totals;
  EXPECT_EQ(totals.ColumnBudget[2], std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(totals.BudgetTotal, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(totals.ColumnOwnerSum[2], std::numeric_limits<std::int32_t>::max());
}

TEST_F(BudgetTest, UpdateWithoutCopiesPrintsNothingAndABadSlotChangesNothing) {
  Property(7, 1, 12, 0, "", {{2, {2, "ESCALA"}}});
  Concept("NE", "NETEJA");
  Payment(Date(2024, 3, 1), "NE", 2400, 'N', 2);
  Owner(1, {{2, 1}}, 1);
  Owner(2, {{2, 1}}, 3);
  Collection(2, Date(2025, 1, 1), 300);  // 11 months left, three quarters
  ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());
  RecordedPasses listing;
  report_.parameters.DistributionCopies = 0;
  report_.parameters.UpdatePeriodicity = 0;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());  // no pass at all
  EXPECT_EQ(Slots(8), (std::vector<std::string>{"0:0", "0:0"}));

  report_.parameters.UpdatePeriodicity = 1;
  report_.parameters.UpdateSlot = 9;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  EXPECT_EQ(Slots(1), (std::vector<std::string>{"1:0", "3:0"}));
  EXPECT_EQ(Slots(8), (std::vector<std::string>{"0:0", "0:0"}));

  report_.parameters.UpdateSlot = 8;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  EXPECT_TRUE(listing.passes.empty());
  // Owner 1: 1200 over 12 months; owner 2: 900 left over 11 months, 3 quarters.
  EXPECT_EQ(Slots(8), (std::vector<std::string>{"1:100", "1:300"}));
}

TEST(DistributionTest, SharesRoundHalfToEvenAndInstalmentsFollowTheMonthsLeft) {
  std::array<std::int32_t, kColumns + 1> budget{}, total{}, coefficients{};
  budget[2] = 1000;
  total[2] = 3;
  coefficients[2] = 1;
  EXPECT_EQ(ShareOut(budget, total, coefficients, 0, 0).Share[2], 333);
  budget[2] = 10;
  total[2] = 4;
  coefficients[2] = 1;
  EXPECT_EQ(ShareOut(budget, total, coefficients, 0, 0).Share[2], 2);  // 2.5
  coefficients[2] = 3;
  EXPECT_EQ(ShareOut(budget, total, coefficients, 0, 0).Share[2], 8);  // 7.5
  total[2] = 0;  // a column without total gives nothing
  EXPECT_EQ(ShareOut(budget, total, coefficients, 0, 0).OwnerTotal, 0);

  // A coefficient far above its column's total (a damaged record) stops at
  // the largest amount instead of turning negative.
  budget[2] = 1000000;
  total[2] = 1;
  coefficients[2] = 100000;
  budget[3] = 1000000;
  total[3] = 1;
  coefficients[3] = 100000;
  const OwnerShares huge = ShareOut(budget, total, coefficients, 0, 12);
  EXPECT_EQ(huge.Share[2], std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(huge.OwnerTotal, std::numeric_limits<std::int32_t>::max());
  EXPECT_GT(huge.Monthly, 0);
  budget[2] = -1000000;
  EXPECT_EQ(ShareOut(budget, total, coefficients, 0, 0).Share[2], std::numeric_limits<std::int32_t>::min());

  std::array<std::int32_t, kColumns + 1> a{}, aTotal{}, aCoefficient{};
  a[1] = 120000;
  aTotal[1] = 1000000;
  aCoefficient[1] = 250000;  // a quarter of column A: 30000
  const struct {
    std::int32_t issued;
    std::int16_t monthsLeft;
    std::int32_t monthly, quarterly;
  } cases[] = {
      {0, 0, 0, 0},          {0, 2, 15000, 0},       {0, 3, 10000, 30000},
      {6000, 12, 2000, 6000}, {0, 5, 6000, 30000},   {40000, 6, -1667, -5000},
  };
  for (const auto& c : cases) {
    const OwnerShares o = ShareOut(a, aTotal, aCoefficient, c.issued, c.monthsLeft);
    EXPECT_EQ(o.OwnerTotal, 30000);
    EXPECT_EQ(o.Monthly, c.monthly) << c.monthsLeft;
    EXPECT_EQ(o.Quarterly, c.quarterly) << c.monthsLeft;
  }
}

TEST(DistributionTest, PassesByCopiesAndUpdate) {
  const struct {
    std::int16_t copies, update, owners;
    int count;
    bool printing;
  } cases[] = {{0, 0, 5, 0, false}, {0, 1, 5, 1, false}, {2, 1, 5, 2, true}, {3, 0, 5, 3, true}, {-1, 0, 5, 5, true}};
  for (const auto& c : cases) {
    const DistributionPasses p = PassesFor(c.copies, c.update, c.owners);
    EXPECT_EQ(p.count, c.count) << c.copies;
    EXPECT_EQ(p.printing, c.printing) << c.copies;
  }
}

TEST_F(BudgetTest, ReceiptSlotsAreUpdatedInTheLastPassOnly) {
  ASSERT_NO_FATAL_FAILURE(ThreeOwnersShareTenInColumnB());
  report_.parameters.DistributionCopies = 2;
  report_.parameters.UpdatePeriodicity = 4;
  report_.parameters.UpdateSlot = 2;
  // What the owners' records hold as each copy reaches the listing.
  RecordedPasses listing;
  std::vector<std::vector<std::string>> slotsAtCopy;
  listing.onPass = [&] { slotsAtCopy.push_back(SlotsTwo()); };
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  ASSERT_EQ(listing.passes.size(), 2u);
  for (const DistributionPass& pass : listing.passes) {
    ASSERT_EQ(pass.owners.size(), 3u);
    for (const OwnerShares& o : pass.owners) EXPECT_EQ(o.Share[2], 333) << o.OwnerNumber;
  }
  const DistributionTotals& totals = listing.passes[1].totals;
  EXPECT_EQ(totals.ColumnBudget[2], 1000);
  EXPECT_EQ(totals.ColumnOwnerSum[2], 999);
  EXPECT_EQ(totals.BudgetTotal - totals.OwnersTotal, 1);
  ASSERT_EQ(slotsAtCopy.size(), 2u);
  EXPECT_EQ(slotsAtCopy[0], (std::vector<std::string>{"0:0", "0:0", "0:0"}));  // not in the first pass
  // 333 over 12 months left: 28 a month, 83 a quarter.
  EXPECT_EQ(slotsAtCopy[1], (std::vector<std::string>{"4:28", "4:83", "4:28"}));
  EXPECT_EQ(SlotsTwo(), slotsAtCopy[1]);
}

TEST_F(BudgetTest, AReceiptUpdateIsCountedAndARunThatWritesNoDataLeavesTheOwners) {
  ASSERT_NO_FATAL_FAILURE(ThreeOwnersShareTenInColumnB());
  const std::vector<std::string> before = SlotsTwo();
  report_.parameters.DistributionCopies = 1;
  report_.parameters.UpdatePeriodicity = 4;
  report_.parameters.UpdateSlot = 2;
  RecordedPasses listing;

  // A dry run: the same listing, the update counted, nobody rewritten.
  report_.WriteData = false;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  EXPECT_EQ(SlotsTwo(), before);
  ASSERT_EQ(listing.passes.size(), 1u);
  EXPECT_EQ(listing.passes[0].owners.size(), 3u);
  const ReceiptUpdate counted = report_.receipts;
  EXPECT_TRUE(counted.Made);
  EXPECT_EQ(counted.Owners, 3);
  EXPECT_EQ(counted.Slot, 2);
  EXPECT_EQ(counted.Periodicity, 4);
  EXPECT_EQ(counted.Total, 28 + 83 + 28);

  report_.WriteData = true;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  EXPECT_EQ(SlotsTwo(), (std::vector<std::string>{"4:28", "4:83", "4:28"}));
  EXPECT_EQ(report_.receipts.Owners, 3);
  EXPECT_EQ(report_.receipts.Total, counted.Total);

  // A slot that is none changes no owner; no update, no count.
  report_.parameters.UpdateSlot = 9;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  EXPECT_TRUE(report_.receipts.Made);
  EXPECT_EQ(report_.receipts.Owners, 0);
  EXPECT_EQ(report_.receipts.Total, 0);
  report_.parameters.UpdatePeriodicity = 0;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  EXPECT_FALSE(report_.receipts.Made);
}

// The operator may spend a long while on the budget; meanwhile another
// workstation issues receipts of the next period or adds an owner. The
// instalments written count what has been issued by the time they are
// written, not what had been when the budget was read.
TEST_F(BudgetTest, TheReceiptUpdateCountsWhatWasIssuedWhileTheBudgetWasEdited) {
  ASSERT_NO_FATAL_FAILURE(ThreeOwnersShareTenInColumnB());
  Collection(1, Date(2025, 1, 1), 100);  // January's receipt of owner 1
  Owner(4, {{2, 1}}, 1);                 // a new owner
  report_.parameters.DistributionCopies = 1;
  report_.parameters.UpdatePeriodicity = 4;
  report_.parameters.UpdateSlot = 2;
  ASSERT_TRUE(RefreshOwnerIssues(report_).ok());
  RecordedPasses listing;
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  // Owner 1: (333 - 100) over the 11 months left, 21 a month. Owner 4, not
  // there when the budget was read: 333 over 12 months too, not nothing.
  EXPECT_EQ(SlotsTwo(), (std::vector<std::string>{"4:21", "4:83", "4:28", "4:28"}));
  ASSERT_EQ(listing.passes.size(), 1u);
  ASSERT_EQ(listing.passes[0].owners.size(), 4u);
  EXPECT_EQ(listing.passes[0].owners[0].Issued, 100);
  EXPECT_EQ(listing.passes[0].owners[0].MonthsLeft, 11);
  EXPECT_EQ(listing.passes[0].owners[3].MonthsLeft, 12);
}

TEST_F(BudgetTest, TheFiguresOfADistributionKeepEveryOwnerAndWriteNothing) {
  Property(7, 1, 12, 0, "", {{2, {4, "ESCALA"}}});
  Concept("NE", "NETEJA");
  Payment(Date(2024, 3, 1), "NE", 1000, 'N', 2);
  Owner(1, {{1, 250000}, {2, 1}});
  Owner(2, {{1, 750000}, {2, 3}});
  Collection(2, Date(2025, 3, 1), 100);
  ASSERT_NO_FATAL_FAILURE(BuildTheWorkingBudget());
  // Options that would print nothing and update the receipts: the figures
  // are one pass all the same, and no owner changes.
  report_.parameters.DistributionCopies = 0;
  report_.parameters.UpdatePeriodicity = 1;
  report_.parameters.UpdateSlot = 2;
  DistributionPass figures;
  ASSERT_TRUE(ComputeDistribution(report_, figures).ok());
  ASSERT_EQ(figures.owners.size(), 2u);
  const OwnerShares& second = figures.owners[1];
  EXPECT_EQ(second.OwnerKey, testing::OwnerKey(7, 2));
  EXPECT_EQ(second.OwnerNumber, 2);
  EXPECT_EQ(second.Department, "1r 2a     ");
  EXPECT_EQ(second.Coefficient[1], 750000);
  EXPECT_EQ(second.Coefficient[2], 3);
  EXPECT_EQ(second.MonthsLeft, 9);
  EXPECT_EQ(second.Share[2], 750);
  EXPECT_EQ(figures.totals.ColumnBudget[2], 1000);
  EXPECT_EQ(figures.totals.OwnersTotal, 1000);
  EXPECT_FALSE(report_.receipts.Made);
  for (int n = 1; n <= 2; ++n) {
    ASSERT_EQ(data::ReadByKey(kOwnersFile, 0, testing::OwnerKey(7, n), 0), 0);
    EXPECT_EQ(records::Owner{report_.areas.For(kOwnersFile)}.SlotPeriodicity(2), 0) << n;
  }
}


// ---------------------------------------------------------------------------
// Failures. A walk along a key that stops at a failed read has not seen every
// record; what it built (fewer owners, a lower fee line, a budget without
// some payments) must not be saved, printed or written into the receipts.

constexpr std::int16_t kIoError = 2;
constexpr std::uint16_t kGetEqual = 5, kGetNext = 6, kGetGreaterOrEqual = 9;

// A record-manager call made to fail: the Nth `operation` on `file`.
struct InjectedFailure {
  std::int16_t file;
  std::uint16_t operation;
  int nth;
};

class BudgetFailureTest : public BudgetTest {
 protected:
  // A property with five owners, receipts issued, concepts, a stored budget
  // and payments: every walk of the build has records to go through.
  void SetUp() override {
    BudgetTest::SetUp();
    report_.fees.VatRate = {21.0F, 10.0F};
    Property(7, 1, 12, 650, "", {{2, {5, "ESCALA"}}});
    for (int n = 1; n <= 5; ++n) Owner(n, {{1, 200000}, {2, 1}}, n % 2 == 0 ? 3 : 1);
    for (int n = 1; n <= 5; ++n) {
      Collection(n, Date(2025, 1, 1), 100);
      Collection(n, Date(2025, 2, 1), 100);
    }
    Concept("AS", "ASCENSOR");
    Concept("HO", "HONORARIS");
    Concept("NE", "NETEJA");
    Stored("NE", 'B', 110000, 0, 0);
    Stored("AS", 'A', 0, 100, 100);
    Payment(Date(2024, 3, 1), "NE", 1500, 'N', 2);
    Payment(Date(2024, 6, 1), "NE", 500, 'N', 2);
    Payment(Date(2024, 7, 1), "AS", 1000, 'N', 1);
  }

  // A fresh, empty working file.
  void ReopenWorkingFile() {
    report_.working.Close();
    ASSERT_TRUE(report_.working.Open());
  }
  // A fresh working file with the whole budget built in it.
  void BuildAfresh() {
    ReopenWorkingFile();
    ASSERT_TRUE(BuildBudget(report_).ok());
  }
  // A program lock still held by this workstation.
  bool HoldsLock(std::string_view name) { return data::ReleaseLock(name) == 0; }
};

TEST_F(BudgetFailureTest, AReadThatFailsAnywhereInTheBuildStopsItNamingTheFile) {
  ASSERT_TRUE(BuildBudget(report_).ok());
  const std::int16_t owners = report_.budget.OwnerCount;
  ASSERT_EQ(owners, 5);
  const struct {
    std::int16_t file;
    std::uint16_t operation;
    int nth;
    const char* name;
  } cases[] = {
      {kPropertiesFile, kGetEqual, 1, "DADES\\FinquesH"},
      {kOwnersFile, kGetGreaterOrEqual, 1, "DADES\\PropietH"},
      {kOwnersFile, kGetNext, 3, "DADES\\PropietH"},  // mid-walk: two owners read, three left
      {kCollectionsFile, kGetGreaterOrEqual, 4, "DADES\\CobramH"},
      {kCollectionsFile, kGetNext, 5, "DADES\\CobramH"},
      {kConceptColumnsFile, kGetEqual, 1, "DADES\\FinDespH"},
      {kConceptsFile, kGetNext, 2, "DADES\\TDespesa"},
      {kStoredBudgetFile, kGetNext, 1, "DADES\\PressupH"},
      {kPaymentsFile, kGetNext, 2, "DADES\\PagamH"},
  };
  for (const auto& c : cases) {
    ASSERT_NO_FATAL_FAILURE(ReopenWorkingFile());
    data::testing::FailingRecordManager manager;
    manager.Fail(c.file, c.operation, c.nth, kIoError);
    const StepResult result = BuildBudget(report_);
    EXPECT_FALSE(result.ok()) << c.name << " call " << c.nth;
    EXPECT_EQ(result.failure(), std::string("NO ES POT ACCEDIR AL FITXER ") + c.name + " (2)");
    // The owners' program lock does not outlive the failure.
    EXPECT_FALSE(HoldsLock("PropietH")) << c.name;
  }
  // The ends of the walks are no failures: a property without a concept
  // list, owners without receipts, no payments, an empty stored budget.
  data::testing::FailingRecordManager quiet;
  quiet.Fail(kConceptColumnsFile, kGetEqual, 1, data::kStatusKeyNotFound);
  quiet.Fail(kPaymentsFile, kGetGreaterOrEqual, 1, data::kStatusEndOfFile);
  quiet.Fail(kStoredBudgetFile, kGetGreaterOrEqual, 1, data::kStatusEndOfFile);
  ASSERT_NO_FATAL_FAILURE(ReopenWorkingFile());
  const StepResult result = BuildBudget(report_);
  EXPECT_TRUE(result.ok()) << result.failure();
  EXPECT_EQ(report_.budget.OwnerCount, owners);
  EXPECT_EQ(Line("NE").spent, 0);
}

TEST_F(BudgetFailureTest, AWalkTellsItsEndFromAFailure) {
  const records::Owner owner{report_.areas.For(kOwnersFile)};
  const auto walk = [&](std::int16_t failWith) {
    data::testing::FailingRecordManager manager;
    if (failWith != 0) manager.Fail(kOwnersFile, kGetNext, 2, failWith);
    data::KeyWalk owners(kOwnersFile, 0, Code(7), [&] { return owner.PropertyCode() == Code(7); });
    int seen = 0;
    for (; owners.Valid(); owners.Next()) ++seen;
    return std::make_pair(seen, owners.status());
  };
  EXPECT_EQ(walk(0), std::make_pair(5, std::int16_t{0}));  // out of the property's range
  EXPECT_EQ(walk(data::kStatusEndOfFile), std::make_pair(2, std::int16_t{0}));
  EXPECT_EQ(walk(data::kStatusKeyNotFound), std::make_pair(2, std::int16_t{0}));
  for (const std::int16_t failure : {kIoError, std::int16_t{84}, std::int16_t{85}, std::int16_t{8}, std::int16_t{43}})
    EXPECT_EQ(walk(failure), std::make_pair(2, failure)) << failure;
}


TEST_F(BudgetFailureTest, AWorkingFileThatCannotBeMadeWrittenOrReadBackLeavesTheStoredBudget) {
  const std::vector<std::string> before = StoredLines();
  ASSERT_EQ(before.size(), 2u);
  const std::string path = root_.Path() + "/PressupH.tmp";
  report_.working.Close();
  FailingWorkingFile fs;
  platform::ScopedFileSystem scoped(fs);

  // Cannot be made: the step that opens it says which file and why.
  fs.openError = EACCES;
  EXPECT_FALSE(report_.working.Open());
  EXPECT_EQ(report_.working.Failure(), "NO ES POT CREAR EL FITXER DE TREBALL " + path + ": " + std::string("PERMÍS DENEGAT"_cp));
  EXPECT_FALSE(BuildBudget(report_).ok());
  const StepResult save = SaveStoredBudget(report_);
  EXPECT_FALSE(save.ok());
  EXPECT_NE(save.failure().find("NO S'HA POGUT DESAR EL PRESSUPOST"), std::string::npos) << save.failure();
  EXPECT_EQ(StoredLines(), before);

  // A write that fails while the budget is built (the disk fills up): the
  // lines go out in one write.
  fs.openError = 0;
  fs.failingWrite = 1;
  ASSERT_TRUE(report_.working.Open());
  const StepResult build = BuildBudget(report_);
  EXPECT_EQ(build.failure(), "NO ES POT ESCRIURE EL FITXER DE TREBALL " + path + ": DISC PLE");
  EXPECT_FALSE(SaveStoredBudget(report_).ok());
  EXPECT_EQ(StoredLines(), before);

  // Built whole, then a read back fails while it is saved: nothing is
  // deleted, nothing half inserted.
  fs.failingWrite = 0;
  ASSERT_NO_FATAL_FAILURE(BuildAfresh());
  fs.reads = 0;
  fs.failingRead = 1;
  const StepResult saved = SaveStoredBudget(report_);
  EXPECT_NE(saved.failure().find("NO ES POT LLEGIR EL FITXER DE TREBALL " + path + ": ERROR " + std::to_string(EIO) + ": Input/output error"),
            std::string::npos)
      << saved.failure();
  EXPECT_EQ(StoredLines(), before);

  // An edit of screen 2 that cannot be written back is a failure too.
  fs.failingRead = 0;
  ASSERT_NO_FATAL_FAILURE(BuildAfresh());
  fs.writes = 0;
  fs.failingWrite = 1;
  console::Forms().forms.screens.resize(2);
  console::Forms().forms.Screen(2).fields.resize(7);
  console::Forms().forms.Screen(2).fieldCount = 7;
  EXPECT_FALSE(StoreBudgetPage(report_, 1).ok());
  console::ResetForms();
}

TEST_F(BudgetFailureTest, ASaveThatCannotBeMadeWholeKeepsTheOldBudget) {
  ASSERT_TRUE(BuildBudget(report_).ok());
  const std::vector<std::string> before = StoredLines();
  ASSERT_EQ(before.size(), 2u);
  constexpr std::uint16_t kInsert = 2, kDelete = 4, kBegin = 19, kEnd = 20;
  const InjectedFailure cases[] = {
      {0, kBegin, 1, },                          // no transaction: nothing may be written
      {kStoredBudgetFile, kGetGreaterOrEqual, 2},  // the walk over the old lines
      {kStoredBudgetFile, kDelete, 2},
      {kStoredBudgetFile, kInsert, 2},
      {0, kEnd, 1},
  };
  for (const auto& c : cases) {
    data::testing::FailingRecordManager manager;
    manager.Fail(c.file, c.operation, c.nth, kIoError);
    const StepResult result = SaveStoredBudget(report_);
    EXPECT_FALSE(result.ok()) << c.operation;
    EXPECT_NE(result.failure().find("NO S'HA POGUT DESAR EL PRESSUPOST"), std::string::npos) << result.failure();
    EXPECT_EQ(StoredLines(), before) << c.operation;
  }
}

TEST_F(BudgetFailureTest, TheReceiptUpdateChangesEveryOwnerOrNone) {
  ASSERT_TRUE(BuildBudget(report_).ok());
  report_.parameters.DistributionCopies = 0;
  report_.parameters.UpdatePeriodicity = 4;
  report_.parameters.UpdateSlot = 2;
  const std::vector<std::string> before = SlotsTwo();
  ASSERT_EQ(before, std::vector<std::string>(5, "0:0"));
  constexpr std::uint16_t kUpdate = 3, kBegin = 19, kEnd = 20, kGetDirect = 23;
  const InjectedFailure cases[] = {
      {0, kBegin, 1},                   // without a transaction no owner is touched
      {kOwnersFile, kUpdate, 1},
      {kOwnersFile, kUpdate, 3},        // two owners rewritten before it
      {kOwnersFile, kGetNext, 4},       // an owner that cannot be read
      {kOwnersFile, kGetDirect, 3},     // nor read again under its lock
      {0, kEnd, 1},
  };
  for (const auto& c : cases) {
    data::testing::FailingRecordManager manager;
    manager.Fail(c.file, c.operation, c.nth, kIoError);
    RecordedPasses listing;
    const StepResult result = DistributeBudget(report_, listing);
    EXPECT_FALSE(result.ok()) << c.operation << " call " << c.nth;
    EXPECT_NE(result.failure().find("NO S'HAN POGUT ACTUALITZAR ELS REBUTS: NO S'HA CANVIAT CAP PROPIETARI"),
              std::string::npos)
        << result.failure();
    EXPECT_EQ(SlotsTwo(), before) << c.operation << " call " << c.nth;
    EXPECT_FALSE(HoldsLock("PropietH"));
  }
  // And when nothing fails, all of them.
  RecordedPasses listing;
  const StepResult result = DistributeBudget(report_, listing);
  ASSERT_TRUE(result.ok()) << result.failure();
  for (const std::string& slot : SlotsTwo()) EXPECT_EQ(slot.substr(0, 2), "4:") << slot;
  EXPECT_NE(SlotsTwo(), before);
}

// The property's locks, held when the budget was built, are lost before the
// writes (on the server: the session that held them ended and another
// workstation took them meanwhile): the budget is not saved, no receipt is
// updated, and the operator is told why.
TEST_F(BudgetFailureTest, AWriteUnderALostLockIsNotMade) {
  ASSERT_TRUE(BuildBudget(report_).ok());
  report_.parameters.DistributionCopies = 0;
  report_.parameters.UpdatePeriodicity = 4;
  report_.parameters.UpdateSlot = 2;
  const std::vector<std::string> stored = StoredLines(), slots = SlotsTwo();
  ASSERT_NO_FATAL_FAILURE(EditLine(1, "AS", [](records::WorkingLine& line) { line.variation = "12.5%"; }));
  ASSERT_EQ(data::LockKey("PressupH", Code(7)), 0);
  const struct {
    const char* lost;
    data::LockStanding standing;
    const char* told;
  } cases[] = {
      {"PRESSUPH", data::LockStanding::kLost, "S'HA PERDUT EL BLOQUEIG DE LA FINCA"},
      {"PRESSUPH", data::LockStanding::kUnreachable, "NO ES POT COMPROVAR EL BLOQUEIG DE LA FINCA"},
      // Taken by the update itself.
      {"PROPIETH", data::LockStanding::kLost, "S'HA PERDUT EL BLOQUEIG DE LA FINCA"},
  };
  for (const auto& c : cases) {
    data::locktest::LosingLockStore losing([&](std::string_view name) { return base::AsciiUpper(name) == c.lost; },
                                           c.standing);
    if (std::string_view(c.lost) == "PRESSUPH") {
      const StepResult save = SaveStoredBudget(report_);
      EXPECT_EQ(save.failure(), config::CatalogText("NO S'HA POGUT DESAR EL PRESSUPOST: ES MANTÉ L'ANTERIOR"_cp) +
                                    ". " + c.told);
      EXPECT_EQ(StoredLines(), stored) << c.told;
    }
    RecordedPasses listing;
    EXPECT_EQ(DistributeBudget(report_, listing).failure(),
              std::string("NO S'HAN POGUT ACTUALITZAR ELS REBUTS: NO S'HA CANVIAT CAP PROPIETARI. ") + c.told);
    EXPECT_EQ(SlotsTwo(), slots) << c.lost << " " << c.told;
    EXPECT_FALSE(HoldsLock("PropietH"));
  }
  // Still held: both are made.
  ASSERT_EQ(SaveStoredBudget(report_).failure(), "");
  EXPECT_NE(StoredLines(), stored);
  RecordedPasses listing;
  ASSERT_EQ(DistributeBudget(report_, listing).failure(), "");
  EXPECT_NE(SlotsTwo(), slots);
  EXPECT_TRUE(HoldsLock("PressupH"));
}

// Another workstation has owner 3 open for editing (its record locked): the
// update changes nobody and says which owner is in use.
TEST_F(BudgetFailureTest, AnOwnerHeldElsewhereStopsTheReceiptUpdateNamingTheOwner) {
  ASSERT_TRUE(BuildBudget(report_).ok());
  report_.parameters.DistributionCopies = 0;
  report_.parameters.UpdatePeriodicity = 4;
  report_.parameters.UpdateSlot = 2;
  const std::vector<std::string> before = SlotsTwo();
  constexpr std::int16_t kElsewhere = 599;  // the same owners file, opened again
  std::vector<char> area(report_.areas.For(kOwnersFile).size());
  ASSERT_EQ(data::OpenDataFile(kElsewhere, "DADES\\PropietH", area), 0);
  std::int16_t status = 0;
  data::SetLockMode(kElsewhere, "b", status);
  ASSERT_EQ(data::ReadByKey(kElsewhere, 0, OwnerKey(7, 3), 0), 0);

  RecordedPasses listing;
  const StepResult result = DistributeBudget(report_, listing);
  EXPECT_EQ(result.failure(),
            "NO S'HAN POGUT ACTUALITZAR ELS REBUTS: NO S'HA CANVIAT CAP PROPIETARI. "
            "PROPIETARI EN \xE9S EN UN ALTRE LLOC: 003");
  EXPECT_EQ(SlotsTwo(), before);
  EXPECT_FALSE(HoldsLock("PropietH"));

  // Once it is let go, the update goes through.
  ASSERT_EQ(data::UnlockRecord(kElsewhere), 0);
  ASSERT_TRUE(DistributeBudget(report_, listing).ok());
  for (const std::string& slot : SlotsTwo()) EXPECT_EQ(slot.substr(0, 2), "4:") << slot;
}

TEST_F(BudgetFailureTest, AnOwnerThatCannotBeReadStopsThePrintedDistribution) {
  ASSERT_TRUE(BuildBudget(report_).ok());
  report_.parameters.DistributionCopies = 2;
  data::testing::FailingRecordManager manager;
  manager.Fail(kOwnersFile, kGetNext, 7, kIoError);  // in the second pass
  RecordedPasses listing;
  const StepResult result = DistributeBudget(report_, listing);
  EXPECT_EQ(result.failure(), "NO ES POT ACCEDIR AL FITXER DADES\\PropietH (2)");
  // The first copy was whole; of the second, which misses owners, nothing.
  ASSERT_EQ(listing.passes.size(), 1u);
  EXPECT_EQ(listing.passes[0].owners.size(), 5u);
}

// The owners' lock file out of reach (another user's file, say).
class OwnersLockOutOfReach : public platform::FileSystemWrapper {
 public:
  OwnersLockOutOfReach() : FileSystemWrapper(platform::RealFileSystem()) {}
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    if (path.ends_with("PropietH.lck")) {
      status = platform::FileStatus{EACCES};
      return nullptr;
    }
    return target().Open(path, flags, status, mode);
  }
};

class InstantPauses : public platform::SystemWrapper {
 public:
  InstantPauses() : SystemWrapper(platform::RealSystem()) {}
  void Pause(int) override {}
};

TEST_F(BudgetFailureTest, AnOwnersLockGivenUpAtAFileOutOfReachStopsThePassUnguarded) {
  ASSERT_TRUE(BuildBudget(report_).ok());
  report_.parameters.DistributionCopies = 1;
  report_.parameters.UpdatePeriodicity = 4;
  report_.parameters.UpdateSlot = 2;
  const std::vector<std::string> before = SlotsTwo();
  InstantPauses pauses;
  platform::ScopedSystem system(pauses);
  data::testing::RecordedNotice operatorAtTheDesk(27);  // gives up with Esc at once
  data::ScopedNotice notice(operatorAtTheDesk);
  OwnersLockOutOfReach outOfReach;
  platform::ScopedFileSystem files(outOfReach);

  const StepResult built = BuildBudget(report_);
  EXPECT_EQ(built.failure(), "NO S'HA POGUT PRENDRE EL BLOQUEIG PropietH");
  RecordedPasses listing;
  const StepResult distributed = DistributeBudget(report_, listing);
  EXPECT_EQ(distributed.failure(), "NO S'HA POGUT PRENDRE EL BLOQUEIG PropietH");
  // Nor are the owners' issues read again for an update.
  EXPECT_EQ(RefreshOwnerIssues(report_).failure(),
            "NO S'HAN POGUT ACTUALITZAR ELS REBUTS: NO S'HA CANVIAT CAP PROPIETARI. "
            "NO S'HA POGUT PRENDRE EL BLOQUEIG PropietH");
  EXPECT_TRUE(listing.passes.empty());
  EXPECT_EQ(SlotsTwo(), before);
  ASSERT_FALSE(operatorAtTheDesk.shown.empty());
  EXPECT_NE(operatorAtTheDesk.shown[0].find("PropietH.lck"), std::string::npos) << operatorAtTheDesk.shown[0];
  EXPECT_NE(operatorAtTheDesk.shown[0].find("[ESC]"), std::string::npos) << operatorAtTheDesk.shown[0];
}

}  // namespace
}  // namespace app
