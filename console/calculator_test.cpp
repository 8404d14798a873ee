#include "console/calculator.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/test_files.h"
#include "console/calculator_model.h"
#include "console/form_input.h"
#include "console/hot_keys.h"
#include "console/snap_terminal.h"
#include "console/test_terminal.h"
#include "base/cp850.h"
#include "format/dates.h"
#include "platform/system.h"

namespace console {
namespace {

using testing::ConsoleTest;
using testing::StyleAttribute;
using testing::SnapTerminal;

std::string Cp(std::string_view utf8) { return base::Utf8ToCp850(utf8); }
std::string Rule(std::string_view left, std::string_view right) {
  std::string line(left);
  for (int i = 0; i < 24; ++i) line += "─";
  return Cp(line + std::string(right));
}

class PopupTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    config::Session().TerminalDir = scratch.path() + "/";
    snap.Fill();
  }
  std::string StateFile() const { return scratch.path() + "/KITCALC.TMP"; }
  std::string ReadState() const {
    std::ifstream in(StateFile(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Type(std::string_view keys) { snap.Keys(keys); }
  SnapTerminal snap;
};

constexpr int kEsc = 27, kEnter = 13, kLeft = 0x4b00, kRight = 0x4d00;

TEST_F(PopupTest, CalculatorOpensEmptyAndEscStillSaves) {
  const std::string under = snap.Text(24, 1, 26);
  Type("12");
  snap.Key(kEsc);
  EXPECT_EQ(Calculator(), "");
  ASSERT_EQ(snap.shots.size(), 3u);
  EXPECT_EQ(snap.ShotText(0, 24, 1, 26), Cp("│") + std::string(21, ' ') + "0  " + Cp("│"));
  EXPECT_EQ(snap.ShotText(0, 23, 1, 26), Rule("┌", "┐"));
  EXPECT_EQ(snap.ShotText(0, 25, 1, 26), Rule("└", "┘"));
  EXPECT_EQ(snap.ShotText(0, 22, 1, 26), snap.Text(22, 1, 26));  // no tape shown
  EXPECT_EQ(snap.ShotText(2, 24, 2, 22), std::string(20, ' ') + "12");
  // Everything drawn is gone, the cursor and the caller's style are back.
  EXPECT_EQ(snap.Text(24, 1, 26), under);
  EXPECT_TRUE(snap.cursorShown);
  EXPECT_TRUE(Screen().styleStack.empty());
  CalcState saved;
  ASSERT_TRUE(ParseCalcState(ReadState(), saved));
  EXPECT_EQ(saved.CalcEntry, 12);
  EXPECT_TRUE(saved.entering);
  // Reopened as it was left.
  snap.shots.clear();
  Type("F");
  EXPECT_EQ(Calculator(), "1200");
  EXPECT_EQ(snap.ShotText(0, 24, 2, 22), std::string(20, ' ') + "12");
}

TEST_F(PopupTest, CalculatorTapeAndResult) {
  Type("200+15");
  snap.Key(kEnter);
  Type("F");
  EXPECT_EQ(Calculator(), "21500");
  const std::size_t last = snap.shots.size() - 1;
  EXPECT_EQ(snap.ShotText(last, 19, 1, 26), Rule("┌", "┐"));
  EXPECT_EQ(snap.ShotText(last, 20, 1, 26), Cp("│") + std::string(19, ' ') + "200 +" + Cp("│"));
  EXPECT_EQ(snap.ShotText(last, 21, 1, 26), Cp("│") + std::string(20, ' ') + "15 =" + Cp("│"));
  EXPECT_EQ(snap.ShotText(last, 22, 1, 26), Cp("│") + std::string(19, ' ') + "215  " + Cp("│"));
  EXPECT_EQ(snap.ShotText(last, 23, 1, 26), Rule("├", "┤"));
  EXPECT_EQ(snap.ShotText(last, 24, 1, 26), Cp("│") + std::string(19, ' ') + "215  " + Cp("│"));
}

TEST_F(PopupTest, CalculatorWindowMovesAndTapeStopsAtRowOne) {
  for (int i = 0; i < 25; ++i) Type("1+");
  snap.Key(kLeft);
  snap.Key(kRight);
  Type("C");  // after an operator: zeroes
  Type("C");  // hides the tape
  snap.Key(kEsc);
  EXPECT_EQ(Calculator(), "");
  const std::size_t afterOps = 50;
  EXPECT_EQ(snap.ShotText(afterOps, 1, 1, 26), Rule("┌", "┐"));
  EXPECT_EQ(snap.ShotText(afterOps, 2, 23, 4), "1 +" + Cp("│"));
  // Left from column 1: columns 55 to 80; Right brings it back.
  EXPECT_EQ(snap.ShotText(afterOps + 1, 25, 55, 26), Rule("└", "┘"));
  EXPECT_EQ(snap.ShotText(afterOps + 1, 25, 1, 26), snap.Text(25, 1, 26));
  EXPECT_EQ(snap.ShotText(afterOps + 2, 25, 1, 26), Rule("└", "┘"));
  // The third clear level leaves no tape above the display.
  EXPECT_EQ(snap.ShotText(afterOps + 4, 23, 1, 26), Rule("┌", "┐"));
  EXPECT_EQ(snap.ShotText(afterOps + 4, 22, 1, 26), snap.Text(22, 1, 26));
}

TEST_F(PopupTest, CalculatorDamagedStateFileStartsAfresh) {
  {
    std::ofstream out(StateFile(), std::ios::binary);
    out << "1,abc,0,0\r\n0,0,0,0\r\n";
  }
  Type("7");
  snap.Key(kEsc);
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(snap.ShotText(0, 24, 1, 26), Cp("│") + std::string(21, ' ') + "0  " + Cp("│"));
  CalcState saved;
  EXPECT_TRUE(ParseCalcState(ReadState(), saved));
  EXPECT_EQ(saved.CalcEntry, 7);
}

TEST_F(PopupTest, CalculatorStartsAfreshWhenItsStateFileCannotBeRead) {
  // A directory in place of the state file.
  std::filesystem::create_directories(StateFile());
  Type("12F");
  EXPECT_EQ(Calculator(), "1200");
  EXPECT_TRUE(std::filesystem::is_directory(StateFile()));
  std::filesystem::remove(StateFile());
  // A state on the disk that cannot be read is not used, and the state left
  // behind cannot be written: nothing changes on the disk.
  CalcState kept;
  kept.CalcEntry = 55;
  kept.entering = true;
  { std::ofstream(StateFile(), std::ios::binary) << CalcStateText(kept); }
  const std::string before = ReadState();
  config::testing::FailingFile failing("/KITCALC.TMP");
  const std::size_t shot = snap.shots.size();
  Type("F");
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(snap.ShotText(shot, 24, 1, 26), Cp("│") + std::string(21, ' ') + "0  " + Cp("│"));
  EXPECT_EQ(ReadState(), before);
}

TEST_F(PopupTest, HotKeysInstalled) {
  InstallLookups();
  ASSERT_TRUE(Hot().Calculator);
  ASSERT_TRUE(Hot().Calendar);
  EXPECT_TRUE(Forms().ui.BrowseList);
  ResetForms();
  Type("5F");
  EXPECT_EQ(Hot().Calculator(), "500");
}

class FixedToday : public platform::SystemWrapper {
 public:
  using SystemWrapper::SystemWrapper;
  platform::LocalTime Now() override { return {2025, 3, 14, 10, 0, 0, 0}; }
};

TEST_F(PopupTest, CalendarOpensOnWorkDate) {
  config::Session().WorkDate = format::PackDate(2024, 4, 5);
  const std::string under = snap.Text(4, 72, 2);
  Type("F");
  EXPECT_EQ(CalendarPopup(), "5/4/2024  ");
  ASSERT_EQ(snap.shots.size(), 1u);
  EXPECT_EQ(snap.ShotText(0, 1, 67, 6), " 2024 ");
  EXPECT_EQ(snap.ShotText(0, 2, 60, 20), "DL DT DC DJ DV DS DG");
  // April 2024 starts on a Monday: 1 to 7 fill the first week.
  EXPECT_EQ(snap.ShotText(0, 4, 60, 20), " 1  2  3  4  5  6  7");
  EXPECT_EQ(snap.ShotAttr(0, 4, 72), StyleAttribute(4));
  EXPECT_NE(snap.ShotAttr(0, 4, 69), StyleAttribute(4));
  // June 2024 begins on a Saturday and ends in its fifth week.
  EXPECT_EQ(snap.ShotText(0, 18, 60, 20), "                1  2");
  EXPECT_EQ(snap.ShotText(0, 22, 60, 20), "24 25 26 27 28 29 30");
  EXPECT_EQ(snap.ShotText(0, 23, 60, 20), std::string(20, ' '));
  EXPECT_EQ(snap.Text(4, 72, 2), under);  // the screen below came back
}

TEST_F(PopupTest, CalendarMovesAcrossQuarters) {
  struct Case {
    int y, m, d;
    std::vector<int> keys;
    std::string result;
  } cases[] = {
      {2024, 6, 30, {kRight}, "1/7/2024  "},
      {2024, 1, 1, {kLeft}, "31/12/2023"},
      {2024, 1, 31, {0x5100}, "30/4/2024 "},
      {2023, 11, 30, {0x5100}, "29/2/2024 "},
      {2024, 5, 17, {0x4700, 0x4f00}, "17/12/2024"},
  };
  for (const Case& c : cases) {
    snap.shots.clear();
    config::Session().WorkDate = format::PackDate(c.y, c.m, c.d);
    for (int k : c.keys) snap.Key(k);
    Type("f");
    EXPECT_EQ(CalendarPopup(), c.result);
  }
  // After Right on 30 June the display shows July to September.
  config::Session().WorkDate = format::PackDate(2024, 6, 30);
  snap.shots.clear();
  snap.Key(kRight);
  snap.Key(kEsc);
  EXPECT_EQ(CalendarPopup(), "");
  ASSERT_EQ(snap.shots.size(), 2u);
  // July 2024 starts on a Monday too.
  EXPECT_EQ(snap.ShotText(1, 4, 60, 20), " 1  2  3  4  5  6  7");
  EXPECT_EQ(snap.ShotAttr(1, 4, 60), StyleAttribute(4));
  // September 2024 starts on a Sunday and needs a sixth week for the 30th.
  EXPECT_EQ(snap.ShotText(1, 23, 60, 20), "30" + std::string(18, ' '));
  // Left on 1 January: October to December 2023.
  config::Session().WorkDate = format::PackDate(2024, 1, 1);
  snap.shots.clear();
  snap.Key(kLeft);
  snap.Key(kEsc);
  EXPECT_EQ(CalendarPopup(), "");
  EXPECT_EQ(snap.ShotText(1, 1, 67, 6), " 2023 ");
  // October 2023 starts on a Sunday.
  EXPECT_EQ(snap.ShotText(1, 4, 60, 20), "                   1");
}

TEST_F(PopupTest, CalendarHeadersAndInvalidWorkDate) {
  FixedToday fixed(platform::CurrentSystem());
  platform::ScopedSystem scoped(fixed);
  const std::pair<std::string, std::string> headers[] = {
      {"SPA", " L  M  X  J  V  S  D"}, {"GLG", " L  M  X  J  V  S  D"}, {"OCI", "DL DT DC DJ DD DS DG"}};
  for (const auto& [language, header] : headers) {
    config::Session().Language = language;
    config::Session().WorkDate = format::ZeroDate();
    snap.shots.clear();
    Type("F");
    EXPECT_EQ(CalendarPopup(), "14/3/2025 ") << language;
    EXPECT_EQ(snap.ShotText(0, 2, 60, 20), header);
  }
}

}  // namespace
}  // namespace console
