#include "app/screen_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "console/form_input.h"
#include "format/dates.h"
#include "format/numbers.h"

namespace app {
namespace {

using namespace console::form_keys;
namespace t = field_types;

// An edit of a field `width` wide holding `stored`, text fitted as the
// form input hands it over.
FieldEdit Edit(int type, std::string_view typed, std::string_view stored, std::int16_t key = kEnter) {
  FieldEdit e;
  e.type = type;
  e.stored = std::string(stored);
  e.text = std::string(typed);
  e.text.resize(std::max(e.text.size(), e.stored.size()), ' ');
  e.key = key;
  e.workDate = format::PackDate(2026, 3, 5);
  e.thisYear = 2026;
  return e;
}

TEST(FieldCheckTest, EachTypeAcceptsWhatItShould) {
  const struct {
    int type;
    const char* typed;
    const char* stored;
    bool accepted;
    const char* value;  // when accepted
  } cases[] = {
      {t::kDate, "31/12/26", "          ", true, "31/12/26  "},
      {t::kDate, "32/13/26", "          ", false, ""},
      {t::kDate, "", "          ", true, "050326"},  // blank: the working date
      {t::kNumber, "12", "    ", true, "12  "},
      {t::kNumber, "1a", "    ", false, ""},
      {t::kNumber, "-3", "    ", false, ""},
      {t::kNumber, "1.5", "    ", false, ""},
      {t::kVariation, "105%", "        ", true, "105%    "},
      {t::kVariation, "999.999%", "        ", true, "999.999%"},
      {t::kVariation, "-999.999%", "         ", true, "-999.999%"},
      {t::kVariation, "1000%", "        ", false, ""},
      // The budget keeps a percentage in thousandths: a fourth decimal would
      // print one budget and save another.
      {t::kVariation, "12.125%", "        ", true, "12.125% "},
      {t::kVariation, "33.3333%", "        ", false, ""},
      {t::kVariation, ".0005%", "        ", false, ""},
      {t::kVariation, "5.000 %", "        ", true, "5.000 % "},
      {t::kVariation, "5.5000%", "        ", true, "5.5000% "},
      {t::kVariation, "5.50001%", "        ", false, ""},
      {t::kLineVariation, "33.3333%", "        ", false, ""},
      {t::kVariation, "-250", "        ", true, "-250    "},
      {t::kVariation, "12.5", "        ", false, ""},  // an amount has no decimals
      {t::kVariation, "abc", "        ", false, ""},
      {t::kVariation, "", "        ", true, "        "},
      {t::kCopies, "P", "   ", true, "P  "},
      {t::kCopies, " p ", "   ", true, " p "},
      {t::kCopies, "2", "   ", true, "2  "},
      {t::kCopies, "X", "   ", false, ""},
      {t::kReceiptConcept, "8", " ", true, "8"},
      {t::kReceiptConcept, "9", " ", false, ""},  // beyond the eight receipt slots
      {t::kReceiptConcept, "x", " ", false, ""},
      {t::kColumn, "b", " ", true, "B"},
      {t::kColumn, "G", " ", true, "G"},
      {t::kColumn, " ", "A", true, " "},
      {t::kColumn, "H", " ", false, ""},
      {t::kColumn, "1", " ", false, ""},
      {t::kAmount, "anything", "        ", true, "anything"},
      {0, "as typed", "        ", true, "as typed"},
  };
  for (const auto& c : cases) {
    const FieldDecision d = CheckField(Edit(c.type, c.typed, c.stored));
    EXPECT_EQ(d.accepted, c.accepted) << c.type << " \"" << c.typed << "\"";
    if (c.accepted) {
      EXPECT_EQ(d.value, c.value) << c.type << " \"" << c.typed << "\"";
    }
    EXPECT_EQ(d.key, kEnter) << c.typed;
    EXPECT_FALSE(d.lineBudget || d.total) << c.typed;  // no budget line given
  }
}

TEST(FieldCheckTest, AReceiptConceptIsAcceptedOnlyIfItsTypeExists) {
  const FieldDecision d = CheckField(Edit(t::kReceiptConcept, "3", " "));
  ASSERT_TRUE(d.accepted);
  ASSERT_TRUE(d.receiptConcept.has_value());
  EXPECT_EQ(*d.receiptConcept, 3);
  EXPECT_FALSE(CheckField(Edit(t::kNumber, "3", " ")).receiptConcept.has_value());
}

TEST(FieldCheckTest, AColumnLetterMovesTheLineInAndOutOfTheTotal) {
  const struct {
    const char* stored;
    const char* typed;
    const char* total;  // nullptr: unchanged
  } cases[] = {
      {" ", "b", "1300"},  // the line joins the total
      {"B", "c", "1000"},  // another column: still counted once
      {"B", " ", "700"},   // the line leaves it
      {" ", " ", nullptr},  // nothing changed, nothing counted twice
      {"B", "b", nullptr},
  };
  for (const auto& c : cases) {
    FieldEdit e = Edit(t::kColumn, c.typed, c.stored);
    e.line = BudgetLineTexts{c.stored, "250", "300", "1000"};
    const FieldDecision d = CheckField(e);
    ASSERT_TRUE(d.accepted) << c.stored << "->" << c.typed;
    EXPECT_FALSE(d.lineBudget.has_value());
    if (c.total == nullptr) {
      EXPECT_FALSE(d.total.has_value()) << c.stored << "->" << c.typed;
    } else {
      ASSERT_TRUE(d.total.has_value()) << c.stored << "->" << c.typed;
      EXPECT_EQ(*d.total, c.total) << c.stored << "->" << c.typed;
    }
  }
}

TEST(FieldCheckTest, AVariationWorksTheLineOutAgainAndMovesTheTotal) {
  constexpr std::int16_t kF6 = kF5 + 0x100, kF7 = kF5 + 0x200, kF8 = kF5 + 0x300;
  const struct {
    const char* column;
    const char* spent;
    const char* stored;
    const char* typed;
    std::int16_t key;
    bool accepted;
    const char* budget;  // nullptr: the line is not worked out again
    const char* total;   // nullptr: unchanged
    std::int16_t keyAfter;
  } cases[] = {
      {"A", "1000", "", "105%", kEnter, true, "1050", "5050", kEnter},
      {"A", "1000", "", "1000%", kEnter, false, nullptr, nullptr, kEnter},
      {"A", "1000", "", "250", kEnter, true, "1250", "5250", kEnter},
      {" ", "1000", "", "250", kEnter, true, "1250", nullptr, kEnter},  // no column: the total stays
      {"A", "1000", "", "0.5%", kEnter, true, "5", "4005", kEnter},     // halves to even
      {"A", "1000", "", "", kF5, true, "30", "4030", kEnter},           // preset 3 %
      {"A", "1000", "", "", kF6, true, "800", "4800", kEnter},          // preset -200
      {"A", "1000", "", "", kF7, true, nullptr, nullptr, kEnter},       // an empty preset on an empty variation
      {"A", "1000", "", "", kF8, false, nullptr, nullptr, kEnter},      // a preset that is no variation
      {"A", "1000", "250", "250", kEnter, true, nullptr, nullptr, kEnter},  // unchanged
      // Past what a record holds: the budget and the total stop at the limit.
      {"A", "2000000000", "", "110%", kEnter, true, "2147483647", "2147483647", kEnter},
      {"A", "-2000000000", "", "110%", kEnter, true, "-2147483648", "-2147479648", kEnter},
  };
  for (const auto& c : cases) {
    FieldEdit e = Edit(t::kLineVariation, c.typed, std::string(c.stored) + std::string(8 - std::strlen(c.stored), ' '),
                       c.key);
    e.presets = {"3%", "-200", "", "abc", "0"};
    e.line = BudgetLineTexts{c.column, c.spent, "1000", "5000"};
    const FieldDecision d = CheckField(e);
    const std::string name = std::string(c.typed) + " key " + std::to_string(c.key) + " spent " + c.spent;
    EXPECT_EQ(d.accepted, c.accepted) << name;
    EXPECT_EQ(d.key, c.keyAfter) << name;
    EXPECT_EQ(d.lineBudget.value_or("-"), c.budget ? c.budget : "-") << name;
    EXPECT_EQ(d.total.value_or("-"), c.total ? c.total : "-") << name;
  }
}

TEST(ScreenCheckTest, WhatEndingEachScreenCallsFor) {
  const struct {
    int screen;
    std::int16_t key;
    ScreenCheck check;
  } cases[] = {
      {1, kEnter, ScreenCheck::kCheckParameters},   {1, kCtrlB, ScreenCheck::kCheckParameters},
      {1, kEsc, ScreenCheck::kLetItEnd},            {2, kEsc, ScreenCheck::kAskWhetherToGoOnEditing},
      {2, kPgDn, ScreenCheck::kLetItEnd},           {2, kCtrlB, ScreenCheck::kLetItEnd},
      {3, kCtrlB, ScreenCheck::kCheckPrintOptions}, {3, kEsc, ScreenCheck::kLetItEnd},
      {4, kEnter, ScreenCheck::kLetItEnd},          {5, kEsc, ScreenCheck::kLetItEnd},
  };
  for (const auto& c : cases) EXPECT_EQ(ScreenCheckFor(c.screen, c.key), c.check) << c.screen << " " << c.key;
}

TEST(ScreenCheckTest, TheParameterScreenSetsDatePropertyAndPresets) {
  const ParameterChoice c = ReadParameterScreen({"01/03/26  ", "7   ", "5%      ", "-200    ", "", "", "1"}, 2026);
  EXPECT_EQ(c.ReportDate, format::PackDate(2026, 3, 1));
  EXPECT_EQ(c.PropertyCode, format::PackCode("7"));
  EXPECT_EQ(c.ReportOptions, (std::array<std::string, 5>{"5%      ", "-200    ", "", "", "1"}));
}

TEST(ScreenCheckTest, ThePrintOptionsScreenSetsCopiesAndTheUpdate) {
  const struct {
    std::array<std::string, 4> fields;
    std::int16_t distribution, budget, periodicity, slot;
  } cases[] = {
      {{"P  ", "2  ", "1 ", "3"}, -1, 2, 1, 3},  // "P": one copy per owner
      {{" p ", "P", "0 ", "8"}, -1, -1, 0, 8},
      {{"", "", "", ""}, 0, 0, 0, 0},
      {{"99999999", "-99999999", "7", "1"}, 32767, -32768, 7, 1},  // no option holds more
  };
  for (const auto& c : cases) {
    const PrintOptions o = ReadPrintOptionsScreen(c.fields);
    EXPECT_EQ(o.DistributionCopies, c.distribution) << c.fields[0];
    EXPECT_EQ(o.BudgetCopies, c.budget) << c.fields[1];
    EXPECT_EQ(o.UpdatePeriodicity, c.periodicity) << c.fields[2];
    EXPECT_EQ(o.UpdateSlot, c.slot) << c.fields[3];
  }
}

TEST(ScreenCheckTest, OnlyAFundsProvisionLetsPrintingBeConfirmed) {
  EXPECT_EQ(JudgeReceiptConcept(std::nullopt), ReceiptConceptVerdict::kUnknown);
  EXPECT_EQ(JudgeReceiptConcept(0), ReceiptConceptVerdict::kConfirmPrinting);
  EXPECT_EQ(JudgeReceiptConcept(1), ReceiptConceptVerdict::kNotAFundsProvision);
  EXPECT_EQ(JudgeReceiptConcept(-1), ReceiptConceptVerdict::kNotAFundsProvision);
}

// An S typed in lower case is the same answer: taking it for "no" would
// throw away a budget the operator meant to go on editing.
TEST(ScreenCheckTest, SInEitherCaseIsYes) {
  for (const char* answer : {"S", "s"}) EXPECT_TRUE(AnsweredYes(answer)) << answer;
  for (const char* answer : {"N", "n", " ", "", "SI", "x"}) EXPECT_FALSE(AnsweredYes(answer)) << answer;
}

}  // namespace
}  // namespace app
