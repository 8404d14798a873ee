// repquota's screen on terminals of other sizes, its keys in the real form
// file, and how it finds its files, driven by key scripts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> Lines(const std::string& screen) {
  std::vector<std::string> lines;
  std::istringstream in(screen);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The UTF-8 characters of a line from character `from` (0-based), `count`
// of them, trailing blanks removed (as the dumps remove them).
std::string Characters(const std::string& line, std::size_t from, std::size_t count) {
  std::string out;
  std::size_t index = 0;
  for (std::size_t i = 0; i < line.size();) {
    std::size_t length = 1;
    const auto lead = static_cast<unsigned char>(line[i]);
    if (lead >= 0xf0) length = 4;
    else if (lead >= 0xe0) length = 3;
    else if (lead >= 0xc0) length = 2;
    if (index >= from && index < from + count) out += line.substr(i, length);
    i += length;
    ++index;
  }
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

// The 80 x 25 area of a dump of a larger terminal that starts at `top`,
// `left` (0-based), as an 80 x 25 dump would show it.
std::string Area(const std::string& screen, std::size_t top, std::size_t left) {
  const std::vector<std::string> lines = Lines(screen);
  std::string out;
  for (std::size_t r = top; r < top + 25; ++r) out += (r < lines.size() ? Characters(lines[r], left, 80) : "") + "\n";
  return out;
}

class Screen : public ::testing::Test {
 protected:
  void SetUp() override { root_.Kitdata({"demo", root_.Dir().string(), "2024-11-15"}); }
  std::vector<std::string> Run(const std::string& script, const std::string& size, const std::string& name) {
    std::vector<std::string> screens;
    const ProgramResult r = root_.RunRepquota(script, screens, name, "TMP", {{"KIT_SCREEN_SIZE", size}});
    EXPECT_EQ(r.exitStatus, 0) << size << "\n" << r.standardError;
    return screens;
  }
  SuiteRoot root_{"CAT", "15112024"};
};

// Help, a look-up list, the calculator, the calendar and a message, each
// closed with Esc (or a key), on the 80 x 25 terminal and on larger ones:
// the same cells, centred.
constexpr const char* kEveryWindow =
    "{F1}{Snap}{PgDn}{Snap}{Esc}{Snap}"
    "{Down}{F4}{Snap}{Esc}{Alt+X}{Snap}{Esc}{Alt+C}{Snap}{Esc}{Snap}"
    "99{Ctrl+B}{Snap}x{Snap}{Esc}{Esc}";

TEST_F(Screen, EveryWindowLooksTheSameOnLargerTerminals) {
  const std::vector<std::string> standard = Run(kEveryWindow, "80x25", "standard");
  ASSERT_EQ(standard.size(), 9u);
  EXPECT_THAT(standard[0], HasSubstr("PRESSUPOST I REPARTIMENT DE QUOTES"));
  EXPECT_THAT(standard[2], Not(HasSubstr("PRESSUPOST I REPARTIMENT")));  // Esc restored the screen
  EXPECT_THAT(standard[3], HasSubstr("Nom de la finca"));
  EXPECT_THAT(standard[4], HasSubstr("└────────────────────────┘"));
  EXPECT_THAT(standard[5], HasSubstr("NOVEMBRE"));
  EXPECT_THAT(standard[7], HasSubstr("FINCA INEXISTENT"));
  for (const char* popUp : {"PRESSUPOST I REPARTIMENT", "Nom de la finca", "└────", "NOVEMBRE"})
    EXPECT_THAT(standard[6], Not(HasSubstr(popUp)));  // every pop-up gone again
  for (const auto& [size, top, left] : {std::tuple{"100x30", 2, 10}, std::tuple{"120x40", 7, 20},
                                        std::tuple{"200x60", 17, 60}}) {
    const std::vector<std::string> larger = Run(kEveryWindow, size, size);
    ASSERT_EQ(larger.size(), standard.size()) << size;
    for (std::size_t i = 0; i < larger.size(); ++i) {
      EXPECT_EQ(Lines(larger[i]).size(), std::stoul(std::string(size).substr(std::string(size).find('x') + 1)));
      EXPECT_EQ(Area(larger[i], static_cast<std::size_t>(top), static_cast<std::size_t>(left)), standard[i])
          << size << ", screen " << i + 1 << ":\n" << larger[i];
      // Nothing is drawn outside the 80 x 25 area.
      const std::vector<std::string> lines = Lines(larger[i]);
      for (std::size_t r = 0; r < lines.size(); ++r) {
        const bool inside = r >= static_cast<std::size_t>(top) && r < static_cast<std::size_t>(top) + 25;
        EXPECT_EQ(Characters(lines[r], 0, inside ? static_cast<std::size_t>(left) : 1000), "")
            << size << ", screen " << i + 1 << ", row " << r + 1;
      }
    }
  }
}

TEST_F(Screen, TwentyFourRowsShowTheRowsInUse) {
  const std::vector<std::string> screens =
      Run("{Down}1{Ctrl+B}{Snap}{Alt+X}{Snap}{Esc}{Snap}{F1}{Snap}{Esc}{Snap}{Esc}N{Enter}{Esc}", "80x24", "short");
  ASSERT_EQ(screens.size(), 5u);
  for (const std::string& s : screens) EXPECT_EQ(Lines(s).size(), 24u);
  // The budget page from its title row; its last row (25) is empty anyway.
  EXPECT_EQ(Lines(screens[0])[0].rfind("FINCA : 001", 0), 0u);
  EXPECT_THAT(Lines(screens[0])[0], HasSubstr("1/2"));
  // The calculator fills rows 1 to 25: its display and bottom border show.
  const std::vector<std::string> calculator = Lines(screens[1]);
  EXPECT_EQ(calculator[23].rfind("└────────────────────────┘", 0), 0u) << screens[1];
  EXPECT_EQ(calculator[22].rfind("│                     0  │", 0), 0u) << screens[1];
  EXPECT_EQ(calculator[0].rfind("CONCEPTE", 0), 0u) << screens[1];  // screen row 2 on top
  // Closed: the title row is back.
  EXPECT_EQ(screens[2], screens[0]);
  // Help fits: shown whole, and Esc restores the page.
  EXPECT_THAT(screens[3], HasSubstr("PRESSUPOST I REPARTIMENT DE QUOTES"));
  EXPECT_EQ(Lines(screens[3])[3].rfind("╔═══", 0), 0u);
  EXPECT_EQ(screens[4], screens[0]);
}

// The terminal made smaller than 80 x 24 and large again while a form is
// being typed in, a look-up list and a message are open and a budget page
// is being edited: the size needed instead of the screen, keys ignored, and
// then the screen exactly as it was, nothing typed lost.
TEST_F(Screen, ATerminalMadeTooSmallShowsTheSizeNeededAndGivesTheScreenBackWhole) {
  std::vector<std::string> screens;
  const ProgramResult r = root_.RunRepquota(
      // 1-3: the first screen with a property code half typed.
      "{Down}1{Snap}{Resize 70x20}{Snap}99{Enter}{Ctrl+B}{Esc}{Resize 80x25}{Snap}"
      // 4-5: the look-up list, shrunk by one row only, grown to 120 x 40.
      "{F4}{Snap}{Resize 80x23}{Down}{Down}{Enter}{Resize 120x40}{Snap}{Esc}{Resize 80x25}"
      // 6-7: a message.
      "{Ctrl+Y}9{Ctrl+B}{Snap}{Resize 79x25}x{Resize 80x25}{Snap}x"
      // 8-10: a budget page with a variation being typed, at 80 x 24; the
      // script ends there (status 3, the screen dumped once more).
      "{Down}{Ctrl+Y}1{Ctrl+B}{Enter}7{Resize 80x24}{Snap}{Resize 40x12}{Snap}{PgDn}{Esc}5{Resize 80x24}{Snap}",
      screens, "shrunk", "TMP", {{"KIT_SCREEN_SIZE", "80x25"}});
  EXPECT_EQ(r.exitStatus, 3) << r.standardError;
  ASSERT_EQ(screens.size(), 11u);
  EXPECT_THAT(screens[0], HasSubstr("Finca ....................: 1"));
  EXPECT_EQ(Lines(screens[1]).size(), 20u);
  EXPECT_EQ(Lines(screens[1])[9], "       TERMINAL MASSA PETIT (70 x 20): CAL 80 x 24 COM A MÍNIM") << screens[1];
  EXPECT_THAT(screens[1], Not(HasSubstr("Finca")));
  EXPECT_EQ(screens[2], screens[0]);  // the keys typed meanwhile did nothing
  EXPECT_THAT(screens[3], HasSubstr("Nom de la finca"));
  EXPECT_EQ(Area(screens[4], 7, 20), screens[3]);
  EXPECT_THAT(screens[5], HasSubstr("FINCA INEXISTENT"));
  EXPECT_EQ(screens[6], screens[5]);
  EXPECT_EQ(Lines(screens[7])[0].rfind("FINCA : 001", 0), 0u) << screens[7];
  EXPECT_THAT(screens[8], HasSubstr("TERMINAL MASSA PETIT (40 x 12): CAL 80"));
  EXPECT_EQ(screens[9], screens[7]);
}

TEST_F(Screen, KeysOfTheRealFormFile) {
  // Enter goes from field to field; Ctrl+Y (0x19) clears the property typed.
  std::vector<std::string> screens =
      Run("{Enter}99{Ctrl+Y}1{Enter}{Snap}{Ctrl+B}{Snap}{PgDn}{PgDn}{Snap}{Esc}N{Enter}{Esc}", "80x25", "keys");
  ASSERT_EQ(screens.size(), 3u);
  EXPECT_THAT(screens[0], HasSubstr("Finca ....................: 1 "));
  EXPECT_THAT(screens[0], Not(HasSubstr("FINCA : 001")));  // still the first screen
  EXPECT_THAT(screens[0], Not(HasSubstr("FINCA INEXISTENT")));
  // The budget page says which page it shows.
  EXPECT_EQ(Lines(screens[1])[0].substr(Lines(screens[1])[0].size() - 4), " 1/2");
  EXPECT_EQ(Lines(screens[2])[0].substr(Lines(screens[2])[0].size() - 4), " 2/2");
}

TEST_F(Screen, ARootWithoutItsFinalSeparatorIsFound) {
  std::vector<std::string> screens;
  std::string root = root_.Dir().string();
  const ProgramResult r = root_.RunRepquota("{Snap}{Esc}", screens, "noslash", "TMP", {{"KITROOT", root}});
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_THAT(screens[0], HasSubstr("Data del pressupost"));
}

TEST_F(Screen, AMissingRootIsNamedOnStandardError) {
  std::vector<std::string> screens;
  const ProgramResult r = root_.RunRepquota("{Snap}x", screens, "noroot", "TMP", {{"KITROOT", ""}});
  EXPECT_EQ(r.exitStatus, 1);
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_THAT(screens[0], HasSubstr("NO ES POT LLEGIR"));  // the operator's message box
  EXPECT_THAT(r.standardError, HasSubstr("repquota: KITROOT is not set"));
  EXPECT_THAT(r.standardError, HasSubstr("FORMS\\REPQUOTA.JPN"));
}

TEST_F(Screen, RelativeScriptAndDumpPathsAreTakenFromTheStartingDirectory) {
  const std::filesystem::path start = root_.Dir() / "start";
  std::filesystem::create_directories(start);
  {
    std::ofstream(start / "keys.txt") << "{Snap}{Esc}";
  }
  std::map<std::string, std::string> environment = root_.Environment("keys.txt", "screens.txt");
  const ProgramResult r = RunProgram(
      {"/bin/sh", "-c", "cd '" + start.string() + "' && exec '" + std::string(KIT_REPQUOTA) + "'"}, environment);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  EXPECT_THAT(ReadFile(start / "screens.txt"), HasSubstr("Data del pressupost"));
  EXPECT_FALSE(std::filesystem::exists(root_.Dir() / "screens.txt"));
}

}  // namespace
}  // namespace e2e
