#include "app/hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <limits>
#include <map>

#include "app/data_files.h"
#include "app/records.h"
#include "app/testing/scratch_suite_root.h"
#include "config/session.h"
#include "data/files.h"
#include "data/notice.h"
#include "base/cp850.h"
#include "data/locks.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/numbers.h"
#include "platform/system.h"

namespace app {
namespace {

using namespace console::form_keys;

// Screen 1: date, property, five presets. Screen 2: totals and two budget
// lines. Screen 3: copies, copies, periodicity, concept. Screens 4 and 5:
// one-letter questions.
std::string Forms5() {
  std::string s = "5,12\r\n";
  s += "\"d,1b,2\",7,0,5,5,17,75\r\n";
  s += "2,3,\"Data: \",10,0,26,0,1,0,\"\"\r\n3,3,\"Finca: \",4,0,0,0,2,1,\"\"\r\n";
  for (int i = 0; i < 5; ++i) s += std::to_string(5 + i) + ",3,\"V: \",8,0,2,0,3,0,\"\"\r\n";
  s += "\"d,1b,2\",12,0,0,0,0,0\r\n";
  s += "19,34,\"TOTALS: \",11,0,0,4,12,0,\"\"\r\n19,69,\"\",11,0,0,4,12,0,\"\"\r\n";
  for (int r = 4; r <= 5; ++r)
    s += std::to_string(r) + ",1,\"\",29,0,0,4,0,0,\"\"\r\n" + std::to_string(r) + ",36,\"\",1,0,0,0,11,0,\"\"\r\n" +
         std::to_string(r) + ",42,\"\",11,0,0,4,12,0,\"\"\r\n" + std::to_string(r) + ",56,\"\",8,0,2,0,13,0,\"\"\r\n" +
         std::to_string(r) + ",69,\"\",11,0,0,4,12,0,\"\"\r\n";
  s += "\"d,1b,2\",4,0,7,10,15,70\r\n";
  s += "2,3,\"C1: \",3,0,0,0,21,0,\"\"\r\n3,3,\"C2: \",3,0,0,0,21,0,\"\"\r\n";
  s += "4,3,\"P: \",2,0,0,0,2,0,\"\"\r\n6,3,\"R: \",1,0,22,0,23,2,\"\"\r\n";
  s += "\"d,1b,2\",1,0,10,20,14,60\r\n2,3,\"OK? \",1,0,0,0,0,0,\"\"\r\n";
  s += "\"d,1b,2\",1,0,10,14,14,66\r\n2,3,\"MORE? \",1,0,0,0,0,0,\"\"\r\n";
  s += "0\r\n";
  return s;
}

class RecordingNotice : public data::Notice {
 public:
  void Show(const std::string& text, int row) override { shown.push_back({text, row}); }
  void Hide() override { ++hidden; }
  void Beep() override { ++beeps; }
  void DiscardKeys() override {}
  void WaitKey() override { ++waits; }
  int PollKey() override { return 0; }
  void EndProcess(int) override {}
  std::vector<std::pair<std::string, int>> shown;
  int hidden = 0, beeps = 0, waits = 0;
};

class HooksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The module's data files, empty: what is looked up is not found.
    root_.Enter();
    config::Session().Language = "CAT";
    OpenModuleFiles(report.areas);
    console::ResetForms();
    auto r = console::ParseFormFile(Forms5());
    ASSERT_TRUE(r.ok()) << r.error;
    console::Forms().forms = r.forms;
    console::Forms().hooks = &hooks;
    console::Forms().ui.WriteAt = [this](std::int16_t row, std::int16_t column, std::string_view text) {
      writes[{row, column}] = std::string(text);
    };
    console::Forms().ui.EditField = [this](std::int16_t&, std::int16_t&, std::int16_t&, std::string& text,
                                           std::int16_t&, console::Input& key) {
      if (answers.empty()) {
        key = kEsc;
        return;
      }
      text = console::FitValue(answers.front(), text.size());
      answers.pop_front();
      key = kEnter;
    };
  }
  void TearDown() override {
    console::ResetForms();
    data::ResetDataFiles();
    config::ResetSession();
  }

  bool Validate(int screen, int field, std::string text, std::int16_t key = kEnter) {
    text = console::FitValue(text, console::Forms().forms.Field(screen, field).value.size());
    return hooks.ValidateField(screen, text, field, key) == console::HookAnswer::kAccept;
  }
  std::string Value(int screen, int field) { return console::Forms().forms.Field(screen, field).value; }

  std::map<std::pair<int, int>, std::string> writes;
  std::deque<std::string> answers;
  RecordingNotice notice;
  testing::ScratchSuiteRoot root_;
  Report report;
  ModuleHooks hooks{report};
};

struct FieldCase {
  int screen, field;
  const char* typed;
  bool accepted;
  const char* stored;  // when accepted
};

TEST_F(HooksTest, FieldChecksByType) {
  const FieldCase cases[] = {
      {1, 1, "31/12/26", true, "31/12/26  "},
      {1, 1, "32/13/26", false, ""},
      {1, 2, "12", true, "12  "},
      {1, 2, "1a", false, ""},
      {1, 2, "-3", false, ""},
      {1, 3, "105%", true, "105%    "},
      {1, 3, "999.999%", true, "999.999%"},
      {1, 3, "1000%", false, ""},
      {1, 3, "-999.999%", false, ""},  // cut to the field the % falls off: no decimals in an amount
      {1, 3, "-250", true, "-250    "},
      {1, 3, "abc", false, ""},
      {3, 1, "P", true, "P  "},
      {3, 1, " p ", true, " p "},
      {3, 1, "2", true, "2  "},
      {3, 1, "X", false, ""},
      {3, 4, "9", false, ""},   // beyond the eight receipt slots
      {3, 4, "x", false, ""},
      {2, 4, "b", true, "B"},
      {2, 4, "G", true, "G"},
      {2, 4, "H", false, ""},
      {2, 4, "1", false, ""},
  };
  for (const FieldCase& c : cases) {
    console::SetFieldValue(c.screen, c.field, "");
    EXPECT_EQ(Validate(c.screen, c.field, c.typed), c.accepted) << c.typed;
    if (c.accepted) {
      EXPECT_EQ(Value(c.screen, c.field), c.stored) << c.typed;
    }
  }
}

TEST_F(HooksTest, BlankDateBecomesTheWorkingDate) {
  config::Session().WorkDate = format::PackDate(2026, 3, 5);
  EXPECT_TRUE(Validate(1, 1, ""));
  EXPECT_EQ(format::ParseDateText(Value(1, 1), platform::Now().year), format::PackDate(2026, 3, 5));
}

// Line 1 of screen 2: fields 3 (concept), 4 (column), 5 (spent), 6 (variation), 7 (budget).
void FillLine(int first, const char* column, const char* spent, const char* variation, const char* budget) {
  console::SetFieldValue(2, first + 1, column);
  console::SetFieldValue(2, first + 2, spent);
  console::SetFieldValue(2, first + 3, variation);
  console::SetFieldValue(2, first + 4, budget);
}

TEST_F(HooksTest, ColumnLetterMovesTheLineInAndOutOfTheTotal) {
  FillLine(3, " ", "300", "", "300");
  console::SetFieldValue(2, 2, "1000");
  EXPECT_TRUE(Validate(2, 4, "b"));
  EXPECT_EQ(Value(2, 4), "B");
  EXPECT_EQ(format::NumberValue(Value(2, 2)), 1300);
  EXPECT_TRUE(Validate(2, 4, "c"));  // another column: still counted once
  EXPECT_EQ(format::NumberValue(Value(2, 2)), 1300);
  EXPECT_TRUE(Validate(2, 4, " "));
  EXPECT_EQ(format::NumberValue(Value(2, 2)), 1000);
  EXPECT_TRUE(Validate(2, 4, " "));  // unchanged: no second subtraction
  EXPECT_EQ(format::NumberValue(Value(2, 2)), 1000);
}

struct VariationCase {
  const char* column;
  const char* typed;
  std::int16_t key;
  bool accepted;
  double budget;
  double total;  // starting at 5000 with the line's old budget 1000 inside when it has a column
};

TEST_F(HooksTest, VariationRecomputesTheLineAndTheTotal) {
  report.parameters.ReportOptions = {"3%", "-200", "", "10.5%", "0"};
  const VariationCase cases[] = {
      {"A", "105%", kEnter, true, 1050, 5050},
      {"A", "1000%", kEnter, false, 1000, 5000},
      {"A", "250", kEnter, true, 1250, 5250},
      {" ", "250", kEnter, true, 1250, 5000},  // without a column the total stays
      {"A", "", kF5, true, 30, 4030},          // 3 % of 1000
      {"A", "", static_cast<std::int16_t>(kF5 + 0x100), true, 800, 4800},
      {"A", "", static_cast<std::int16_t>(kF5 + 0x200), true, 1000, 5000},        // empty preset: the budget is what was spent
      {"A", "", static_cast<std::int16_t>(kF5 + 0x300), true, 105, 4105},         // 10.5 % of 1000
      {"A", "0.5%", kEnter, true, 5, 4005},    // halves to even
  };
  for (const VariationCase& c : cases) {
    FillLine(3, c.column, "1000", "", "1000");
    console::SetFieldValue(2, 2, "5000");
    std::int16_t key = c.key;
    int field = 6;
    std::string text = console::FitValue(c.typed, 8);
    const bool accepted = hooks.ValidateField(2, text, field, key) == console::HookAnswer::kAccept;
    EXPECT_EQ(accepted, c.accepted) << c.typed << " key " << c.key;
    EXPECT_EQ(format::NumberValue(Value(2, 7)), c.budget) << c.typed << " key " << c.key;
    EXPECT_EQ(format::NumberValue(Value(2, 2)), c.total) << c.typed << " key " << c.key;
    if (c.key != kEnter && c.accepted) {
      EXPECT_EQ(key, kEnter);
    }
  }
}

TEST_F(HooksTest, ABudgetPastWhatARecordHoldsStopsAtItsLimit) {
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  struct Case {
    const char* spent;
    const char* typed;
  } cases[] = {{"2000000000", "110%"}, {"2100000000", "99999999"}};
  for (const Case& c : cases) {
    FillLine(3, "A", c.spent, "", c.spent);
    console::SetFieldValue(2, 2, c.spent);
    EXPECT_TRUE(Validate(2, 6, c.typed)) << c.typed;
    EXPECT_EQ(format::NumberValue(Value(2, 7)), kMax) << c.typed;
    EXPECT_EQ(format::NumberValue(Value(2, 2)), kMax) << c.typed;
  }
}

TEST_F(HooksTest, EscOnTheBudgetPageAsksWhetherToGoOn) {
  using console::HookAnswer;
  answers = {"S"};
  EXPECT_EQ(hooks.ValidateScreen(2, kEsc), HookAnswer::kRefuse);  // yes: stay on the page
  answers = {"N"};
  EXPECT_EQ(hooks.ValidateScreen(2, kEsc), HookAnswer::kAccept);
  answers = {"s"};
  EXPECT_EQ(hooks.ValidateScreen(2, kEsc), HookAnswer::kRefuse);  // lower case is yes too
  answers = {"n"};
  EXPECT_EQ(hooks.ValidateScreen(2, kEsc), HookAnswer::kAccept);
  answers = {"S"};
  EXPECT_EQ(hooks.ValidateScreen(1, kEsc), HookAnswer::kAccept);  // Esc elsewhere just leaves
  EXPECT_EQ(answers.size(), 1u);
}

TEST_F(HooksTest, AFormFileWithoutTheQuestionLetsTheBudgetPageEnd) {
  console::Forms().forms.screens.resize(2);
  answers = {"S"};
  EXPECT_EQ(hooks.ValidateScreen(2, kEsc), console::HookAnswer::kAccept);
  EXPECT_EQ(answers.size(), 1u);  // nothing was asked
}

TEST_F(HooksTest, UnknownPropertyAndConceptAreRefusedWithTheirMessages) {
  data::ScopedNotice scoped(notice);
  console::SetFieldValue(1, 1, "01/03/26");
  console::SetFieldValue(1, 2, "7");
  console::SetFieldValue(1, 3, "5%");
  EXPECT_EQ(hooks.ValidateScreen(1, kEnter), console::HookAnswer::kRefuse);
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_EQ(notice.shown[0].first, "FINCA INEXISTENT");
  EXPECT_EQ(notice.shown[0].second, 12);
  EXPECT_EQ(notice.beeps, 1);
  EXPECT_EQ(notice.waits, 1);
  EXPECT_EQ(notice.hidden, 1);
  // The parameters were taken all the same.
  EXPECT_EQ(report.parameters.ReportOptions[0], "5%      ");
  EXPECT_EQ(report.parameters.ReportDate, format::PackDate(2026, 3, 1));

  console::SetFieldValue(3, 1, "P");
  console::SetFieldValue(3, 2, "2");
  console::SetFieldValue(3, 3, "1");
  console::SetFieldValue(3, 4, "3");
  EXPECT_EQ(hooks.ValidateScreen(3, kEnter), console::HookAnswer::kRefuse);
  ASSERT_EQ(notice.shown.size(), 2u);
  EXPECT_EQ(notice.shown[1].first, "NO EXISTEIX EL CONCEPTE 3");
  EXPECT_EQ(report.parameters.DistributionCopies, -1);
  EXPECT_EQ(report.parameters.BudgetCopies, 2);
  EXPECT_EQ(report.parameters.UpdatePeriodicity, 1);
  EXPECT_EQ(report.parameters.UpdateSlot, 3);
  EXPECT_EQ(data::Locks().LockWaitMode, ' ');
}

TEST_F(HooksTest, DisplayForms) {
  struct Case {
    int screen, field;
    const char* value;
    std::string shown;  // start of what is written
  };
  const Case cases[] = {
      {1, 3, "105%", format::FormatWithMask("+ZZ9.999 %", 105)},
      {1, 3, "-5.5%", format::FormatWithMask("+ZZ9.999 %", -5.5)},
      {1, 3, "-250", format::FormatAmount("ZZ,ZZZ,ZZ9", -250)},
      {3, 1, "P", "P  "},
      {3, 2, "2", "  2"},
      {3, 4, "5", "5  *** conc.no def. ***"},
  };
  for (const Case& c : cases) {
    console::SetFieldValue(c.screen, c.field, c.value);
    writes.clear();
    hooks.ShowField(c.screen, c.field);
    const auto& f = console::Forms().forms.Field(c.screen, c.field);
    const auto it = writes.find({f.Row(), f.CaptionColumn() + static_cast<int>(f.caption.size())});
    ASSERT_NE(it, writes.end()) << c.value;
    EXPECT_EQ(it->second.substr(0, c.shown.size()), c.shown) << c.value;
    // The whole area is rewritten, trailing cells included.
    EXPECT_GE(it->second.size(), f.value.size() + static_cast<std::size_t>(f.TrailingCells())) << c.value;
  }
}

TEST_F(HooksTest, BudgetPageShowsHeadingsPresetsAndBlanksMissingLines) {
  report.parameters.ReportOptions = {"3%", "-200", "", "", ""};
  report.parameters.PropertyCode = format::PackCode("12");
  console::Forms().forms.Screen(2).fieldCount = 7;  // one line on this page
  hooks.PaintScreen(2);
  EXPECT_EQ(writes[std::make_pair(1, 1)].substr(0, 11), "FINCA : 012");
  EXPECT_EQ(writes[std::make_pair(2, 1)].substr(0, 8), "CONCEPTE");
  EXPECT_EQ(writes[std::make_pair(21, 1)].substr(0, 13), "F5=" + format::FormatWithMask("+ZZ9.999 %", 3));
  EXPECT_NE(writes[std::make_pair(21, 1)].find("F6="), std::string::npos);
  // Line 2 (row 5) is beyond the count: blanked.
  EXPECT_EQ(writes[std::make_pair(5, 36)], " ");
  EXPECT_EQ(writes[std::make_pair(5, 1)], std::string(29, ' '));
  EXPECT_EQ(writes[std::make_pair(19, 34)], "TOTALS: ");
}

TEST_F(HooksTest, BudgetPageSaysWhichPageIsShown) {
  report.parameters.PropertyCode = format::PackCode("12");
  report.budget.Page = 2;
  report.budget.Pages = 3;
  hooks.PaintScreen(2);
  const std::string title = writes[std::make_pair(1, 1)];
  ASSERT_EQ(title.size(), 80u);
  EXPECT_EQ(title.substr(76), " 2/3");
  EXPECT_EQ(title.substr(0, 11), "FINCA : 012");
  report.budget.Page = 12;
  report.budget.Pages = 12;
  hooks.PaintScreen(2);
  EXPECT_EQ(writes[std::make_pair(1, 1)].substr(74), " 12/12");
}

TEST_F(HooksTest, ListRangesAndLines) {
  std::string start = "x", end = "y";
  EXPECT_EQ(hooks.PrepareList(2, start, end), console::HookAnswer::kAccept);
  EXPECT_EQ(start, std::string(1, '\x01'));
  EXPECT_EQ(end, std::string(1, '\x63'));
  EXPECT_EQ(hooks.PrepareList(1, start, end), console::HookAnswer::kAccept);
  EXPECT_TRUE(start.empty() && end.empty());

  const records::Property property{report.areas.For(kPropertiesFile)};
  std::ranges::fill(property.Bytes(), ' ');
  property.SetCode(format::PackCode("12"));
  property.SetName("GARCIA*JOAN");
  EXPECT_EQ(hooks.FormatListLine(1), "012  GARCIA*JOAN" + std::string(19, ' '));
  const records::ReceiptType receiptType{report.areas.For(kReceiptTypesFile)};
  std::ranges::fill(receiptType.Bytes(), ' ');
  receiptType.SetNumber(3);
  EXPECT_EQ(hooks.FormatListLine(2).substr(0, 6), " 3  " + std::string("  "));

  // The chosen property goes through the field check like a typed code.
  int field = 2;
  EXPECT_EQ(hooks.ApplyLookup(1, 1, field), console::HookAnswer::kAccept);
  EXPECT_EQ(Value(1, 2), "012 ");
}

// Codes fill the four digits of the field: property 1234 is not property 234,
// neither when chosen from the list nor in the budget page's title.
TEST_F(HooksTest, AFourDigitPropertyCodeKeepsAllItsDigits) {
  const records::Property property{report.areas.For(kPropertiesFile)};
  std::ranges::fill(property.Bytes(), ' ');
  property.SetCode(format::PackCode("1234"));
  property.SetName("GARCIA*JOAN");
  EXPECT_EQ(hooks.FormatListLine(1), "1234  GARCIA*JOAN" + std::string(19, ' '));
  int field = 2;
  EXPECT_EQ(hooks.ApplyLookup(1, 1, field), console::HookAnswer::kAccept);
  EXPECT_EQ(Value(1, 2), "1234");

  report.parameters.PropertyCode = format::PackCode("1234");
  report.budget.Page = 1;
  report.budget.Pages = 1;
  hooks.PaintScreen(2);
  EXPECT_EQ(writes[std::make_pair(1, 1)].substr(0, 13), "FINCA : 1234 ");
}

}  // namespace
}  // namespace app
