#include "console/calculator_model.h"

#include <gtest/gtest.h>

#include <string>

namespace console {
namespace {

// Types a script: one character per key, "E" for Enter, "B" for Backspace.
void Type(CalcState& s, std::string_view keys) {
  for (char c : keys) {
    std::int16_t key = static_cast<unsigned char>(c);
    if (c == 'E') key = 13;
    if (c == 'B') key = 8;
    CalcHandleKey(s, key);
  }
}

TEST(CalculatorModel, AddingLeavesTapeAndDisplay) {
  CalcState s;
  Type(s, "200+15=");
  EXPECT_EQ(s.CalcEntry, 215);
  EXPECT_EQ(s.CalcAccumulator, 215);
  EXPECT_EQ(s.TapeTop, 20);
  EXPECT_EQ(s.tape[19].value, 200);
  EXPECT_EQ(s.tape[19].op, '+');
  EXPECT_EQ(s.tape[20].value, 15);
  EXPECT_EQ(s.tape[20].op, '=');
  EXPECT_EQ(s.tape[21].value, 215);
  EXPECT_EQ(s.tape[21].op, ' ');
  EXPECT_EQ(s.pending, "");
  EXPECT_FALSE(s.entering);
  EXPECT_FALSE(s.cleared);
}

TEST(CalculatorModel, EqualsWithoutNewNumberDoesNothing) {
  for (std::string_view keys : {"5+=", "5+E"}) {
    CalcState s;
    Type(s, keys);
    EXPECT_EQ(s.TapeTop, 22) << keys;
    EXPECT_EQ(s.pending, "+") << keys;
    EXPECT_EQ(s.CalcEntry, 5) << keys;
  }
  CalcState s;
  Type(s, "5+3E");
  EXPECT_EQ(s.CalcEntry, 8);
}

TEST(CalculatorModel, Results) {
  struct Case {
    std::string_view keys;
    double entry;
  } cases[] = {
      {"200+15%=", 230}, {"200*15%=", 30},  {"200-10%=", 180}, {"50%", 0.5},
      {"10/4=", 2.5},    {"1/3=", 1.0 / 3}, {"7-9=", -2},      {"2.5*4=", 10},
      {"12.345R", 12.34}, {"12.355R", 12.36}, {"123B", 12},    {"1.25B", 1.2},
      {"1.2BB", 1},       {"5T", -5},        {"0.1+0.2=", 0.3},
  };
  for (const Case& c : cases) {
    CalcState s;
    Type(s, c.keys);
    EXPECT_NEAR(s.CalcEntry, c.entry, 1e-12) << c.keys;
  }
}

TEST(CalculatorModel, NormalisingDropsFloatingNoise) {
  CalcState s;
  Type(s, "0.1+0.2=");
  EXPECT_EQ(s.CalcEntry, 0.3);
  EXPECT_EQ(s.decimals, 1);
  EXPECT_TRUE(s.point);
  Type(s, "C2*5=");
  EXPECT_EQ(s.decimals, 0);
  EXPECT_FALSE(s.point);
}

TEST(CalculatorModel, ThreeClearLevels) {
  CalcState s;
  Type(s, "200+15");
  CalcHandleKey(s, 'C');
  EXPECT_EQ(s.CalcEntry, 200);
  EXPECT_FALSE(s.entering);
  EXPECT_EQ(s.lastKey, "+");
  EXPECT_EQ(s.TapeTop, 22);
  CalcHandleKey(s, 'c');
  EXPECT_EQ(s.CalcEntry, 0);
  EXPECT_EQ(s.CalcAccumulator, 0);
  EXPECT_TRUE(s.cleared);
  EXPECT_EQ(s.pending, "+");
  EXPECT_EQ(s.TapeTop, 22);
  EXPECT_EQ(CalcHandleKey(s, 'C'), CalcAction::Reopen);
  EXPECT_EQ(s.TapeTop, 23);
  EXPECT_TRUE(s.cleared);
}

TEST(CalculatorModel, TapeKeepsLast22AndStopsAtRowOne) {
  CalcState s;
  for (int i = 1; i <= 30; ++i) {
    Type(s, std::to_string(i));
    Type(s, "+");
  }
  EXPECT_EQ(s.TapeTop, 2);  // the top border then lies on row 1
  for (int slot = 0; slot < 22; ++slot) EXPECT_EQ(s.tape[static_cast<std::size_t>(slot)].value, 9 + slot);
}

TEST(CalculatorModel, WindowMovesAroundTheScreen) {
  CalcState s;
  EXPECT_EQ(CalcHandleKey(s, 0x4b00), CalcAction::Move);
  EXPECT_EQ(s.CalcColumn, 55);
  CalcHandleKey(s, 0x4d00);
  EXPECT_EQ(s.CalcColumn, 1);
  CalcHandleKey(s, 0x7400);
  EXPECT_EQ(s.CalcColumn, 2);
  CalcHandleKey(s, 0x7300);
  EXPECT_EQ(s.CalcColumn, 1);
}

TEST(CalculatorModel, ResultTexts) {
  struct Case {
    std::string_view keys;
    std::string text;
  } cases[] = {
      {"12.5", "1250"}, {"0.05", "5"}, {"12.345", "1234.5"}, {"0", ""},  {"", ""},
      {"5T", "-500"}, {"2-7.25=", "-525"},    {"200+15=", "21500"}, {"1/8=", "12.5"}, {"0.001", ".1"},
  };
  for (const Case& c : cases) {
    CalcState s;
    Type(s, c.keys);
    EXPECT_EQ(CalcResultText(s), c.text) << c.keys;
  }
}

TEST(CalculatorModel, DivisionByZeroShowsOverflowAndRecovers) {
  CalcState s;
  Type(s, "5/0=");
  EXPECT_EQ(CalcNumberText(s.CalcEntry, s.point, s.decimals), std::string(22, '!'));
  EXPECT_EQ(CalcResultText(s), "");
  Type(s, "CC3+4=");
  EXPECT_EQ(s.CalcEntry, 7);
  CalcState parsed;
  EXPECT_TRUE(ParseCalcState(CalcStateText(s), parsed));
}

TEST(CalculatorModel, DisplayText) {
  EXPECT_EQ(CalcNumberText(0, false, 0), std::string(21, ' ') + "0");
  const std::string neg = CalcNumberText(-215, false, 0);
  EXPECT_EQ(neg, "-" + std::string(18, ' ') + "215");
  const std::string typed = CalcNumberText(1234.5, true, 1);
  EXPECT_EQ(typed.size(), 22u);
  EXPECT_EQ(typed, std::string(15, ' ') + "1.234'5");
  EXPECT_EQ(CalcNumberText(-12.25, true, 2), "-" + std::string(16, ' ') + "12'25");
  EXPECT_EQ(CalcNumberText(-0.5, true, 1), "-" + std::string(18, ' ') + "0'5");
  EXPECT_EQ(CalcNumberText(0, true, 0), std::string(20, ' ') + "0'");
}

TEST(CalculatorModel, StateFileRoundTrip) {
  CalcState s;
  Type(s, "12.5*3+0.25");
  CalcHandleKey(s, 0x4b00);
  CalcState back;
  ASSERT_TRUE(ParseCalcState(CalcStateText(s), back));
  EXPECT_EQ(back.CalcColumn, 55);
  EXPECT_EQ(back.TapeTop, s.TapeTop);
  EXPECT_EQ(back.CalcEntry, s.CalcEntry);
  EXPECT_EQ(back.CalcAccumulator, s.CalcAccumulator);
  EXPECT_EQ(back.entering, s.entering);
  EXPECT_EQ(back.point, s.point);
  EXPECT_EQ(back.decimals, s.decimals);
  EXPECT_EQ(back.pending, "+");
  for (std::size_t i = 0; i < s.tape.size(); ++i) {
    EXPECT_EQ(back.tape[i].value, s.tape[i].value);
    EXPECT_EQ(back.tape[i].op, s.tape[i].op);
  }
  const std::string text = CalcStateText(s);
  EXPECT_EQ(text.substr(0, text.find('\r')), "55,21,0.25,37.5");
  EXPECT_NE(text.find("0,-1,-1,2\r\n\"\",\"+\"\r\n"), std::string::npos);
}

// Found by fuzzing: a '"' typed last was written between quotes as it is,
// and the whole state was lost at the next opening.
TEST(CalculatorModel, AnyKeyTypedLastLeavesAStateThatReadsBack) {
  for (int key = 1; key < 256; ++key) {
    CalcState s;
    Type(s, "12+3");
    CalcHandleKey(s, static_cast<std::int16_t>(key));
    CalcState back;
    EXPECT_TRUE(ParseCalcState(CalcStateText(s), back)) << key;
    EXPECT_EQ(back.CalcEntry, s.CalcEntry) << key;
    EXPECT_EQ(back.pending, s.pending) << key;
  }
}

TEST(CalculatorModel, DamagedStateFileStartsAfresh) {
  CalcState sample;
  Type(sample, "7+1");
  const std::string good = CalcStateText(sample);
  std::string extra = good + "1,0,0,\" \"\r\n";
  std::string missing = good.substr(0, good.rfind("\r\n", good.size() - 3) + 2);
  std::string wordy = good;
  wordy.replace(0, 1, "x");
  std::string column = good;
  column.replace(0, 1, "99");
  std::string unclosed = good.substr(0, good.find("\"+") + 2);
  for (const std::string& bad : {extra, missing, wordy, column, unclosed}) {
    CalcState s;
    s.CalcEntry = 42;
    EXPECT_FALSE(ParseCalcState(bad, s)) << bad;
    EXPECT_EQ(s.CalcEntry, 0);
    EXPECT_EQ(s.TapeTop, 23);
    EXPECT_TRUE(s.cleared);
  }
  CalcState s;
  s.CalcEntry = 42;
  EXPECT_TRUE(ParseCalcState("", s));
  EXPECT_EQ(s.CalcEntry, 0);
}

}  // namespace
}  // namespace console
