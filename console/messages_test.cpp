#include "console/messages.h"

#include <unistd.h>

#include <filesystem>

#include "console/test_terminal.h"
#include "console/window_stack.h"
#include "platform/system.h"

namespace console {
namespace {

using testing::ConsoleTest;
using testing::StyleAttribute;

class MessagesTest : public ConsoleTest {};

TEST_F(MessagesTest, OneLineBoxGeometry) {
  SetStyle("u");
  const std::string text(30, 'm');
  ShowMessage(12, text);
  EXPECT_EQ((PopupWindowState{1, 9, 24, 11, 57}), PopupWindow());
  EXPECT_EQ(static_cast<unsigned char>(term.ReadCell(9, 24).ch), 0xDA);
  EXPECT_EQ(static_cast<unsigned char>(term.ReadCell(11, 57).ch), 0xD9);
  EXPECT_EQ(term.Text(10, 26, 30), text);
  EXPECT_EQ(term.ReadCell(10, 26).attr, StyleAttribute(2));
  // The caller's style comes back.
  EXPECT_EQ(Screen().style, 4);
  EXPECT_TRUE(Screen().styleStack.empty());
  PopWindow();
  EXPECT_EQ(PopupWindow().Level, 0);
}

// The caller goes on working with the box up ("LLEGINT PRESSUPOST" while
// the budget is read, a wait for a lock without Esc): it must be seen at
// once, not when the program next reads a key.
TEST_F(MessagesTest, TheBoxIsOnTheTerminalBeforeShowMessageReturns) {
  const std::string text(30, 'm');
  ShowMessage(12, text);
  EXPECT_EQ(term.VisibleText(10, 26, 30), text);
  PopWindow();
}

TEST_F(MessagesTest, TwoLineBoxIsSizedByTheLongerLine) {
  std::string text;
  for (int i = 0; i < 20; ++i) text += "word ";
  text += "end";  // 103 characters: 76 fit on the first line
  ShowMessage(12, text);
  const PopupWindowState w = PopupWindow();
  EXPECT_EQ(w.Top, 9);
  EXPECT_EQ(w.Bottom, 12);
  // First line "word word ... word" of 74 characters sizes the box.
  EXPECT_EQ(w.Left, 41 - 75 / 2 - 2);
  EXPECT_EQ(w.Right, 74 / 2 + 41 + 1);
  EXPECT_EQ(term.Text(10, w.Left + 2, 4), "word");
  EXPECT_EQ(term.Text(10, w.Left + 2, 76), std::string(text.substr(0, 74)) + " \xB3");
  EXPECT_EQ(term.Text(11, w.Left + 2, 29), "word word word word word end ");
  PopWindow();
}

TEST_F(MessagesTest, BoxIsKeptOnScreenOrNotShown) {
  ShowMessage(25, "near the bottom");
  EXPECT_EQ(PopupWindow().Top, 22);
  EXPECT_EQ(PopupWindow().Bottom, 24);
  PopWindow();
  ShowMessage(27, "below the screen");  // pulled up to end on the last row
  EXPECT_EQ(PopupWindow().Top, 23);
  EXPECT_EQ(PopupWindow().Bottom, 25);
  PopWindow();
  ShowMessage(1, "near the top");
  EXPECT_EQ(PopupWindow().Top, 1);
  PopWindow();
  // 24 lines of text need 26 rows: nothing is opened and the style is restored.
  std::string tall;
  for (int i = 0; i < 24; ++i) tall += std::string(70, 'x') + " ";
  SetStyle("n");
  ShowMessage(12, tall);
  EXPECT_EQ(PopupWindow().Level, 0);
  EXPECT_EQ(Screen().style, 1);
  EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
}

class HelpTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    ConsoleTest::TearDown();
  }
  // A help file of `count` lines "line N", each padded to 80.
  void WriteHelp(const std::string& topic, int count, const std::string& tail = "") {
    std::string bytes;
    for (int i = 1; i <= count; ++i) {
      std::string line = "line " + std::to_string(i);
      line.resize(80, ' ');
      bytes += line;
    }
    scratch.Write("AJUDA/" + topic + ".HLP", bytes + tail);
  }
  // The viewer's first and last visible lines as shown at window rows 1 and 17.
  std::string Row(int windowRow) {
    std::string s = term.Text(4 + windowRow, 3, 8);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  void Snapshot() {
    shots.push_back(Row(1) + "|" + Row(17));
  }
  std::vector<std::string> shots;
  std::vector<std::uint8_t> attrs;

 private:
  std::filesystem::path previous_;
};

TEST_F(HelpTest, TenLineFileIgnoresMovingKeys) {
  WriteHelp("TOPIC", 10, "half a line");  // a short last record is left out
  Hot().Calendar = [&] {
    Snapshot();
    return std::string();
  };
  for (int key : {0x5000, 0x5100, 0x4f00, 0x4800, 0x4900, 0x4700}) {
    term.Key(key);
    term.Key(0x2e00);
  }
  term.Key(0x1b);
  term.Fill();
  const auto before = term.Cells();
  ShowHelp("TOPIC");
  ASSERT_EQ(shots.size(), 6u);
  for (const std::string& s : shots) EXPECT_EQ(s, "line 1|") << s;
  EXPECT_EQ(term.Cells(), before);
  EXPECT_EQ(PopupWindow().Level, 0);
  EXPECT_EQ(term.scrolls, 0);
}

TEST_F(HelpTest, LongFileScrollsAndPages) {
  WriteHelp("LONG", 40);
  Hot().Calendar = [&] {
    Snapshot();
    return std::string();
  };
  for (int key : {0x5000, 0x4800, 0x4800, 0x5100, 0x5100, 0x5100, 0x4900, 0x4700, 0x4f00, 0x5000}) {
    term.Key(key);
    term.Key(0x2e00);
  }
  term.Key(0x1b);
  ShowHelp("LONG");
  const std::vector<std::string> expected = {
      "line 2|line 18",  "line 1|line 17",  "line 1|line 17",  "line 18|line 34", "line 24|line 40",
      "line 24|line 40", "line 7|line 23",  "line 1|line 17",  "line 24|line 40", "line 24|line 40"};
  EXPECT_EQ(shots, expected);
}

TEST_F(HelpTest, MissingFileGivesEmptyViewerAndControlCodesTakeNoRoom) {
  term.Key(0x1b);
  ShowHelp("NOTHERE");
  EXPECT_EQ(PopupWindow().Level, 0);

  std::string line = "a\x1e" "b\x1e" "c\x10" "d";
  line += std::string(80 - line.size(), 'z');
  scratch.Write("AJUDA/CODES.HLP", line);
  Hot().Calendar = [&] {
    shots.push_back(term.Text(5, 3, 80 - 3));
    attrs = {term.ReadCell(5, 3).attr, term.ReadCell(5, 4).attr, term.ReadCell(5, 5).attr, term.ReadCell(5, 6).attr};
    return std::string();
  };
  term.Key(0x2e00);
  term.Key(0x1b);
  ShowHelp("CODES");
  ASSERT_EQ(shots.size(), 1u);
  EXPECT_EQ(shots[0].substr(0, 76), "abcd" + std::string(72, 'z'));
  EXPECT_EQ(shots[0].substr(76), " ");  // no more than 76 characters written
  EXPECT_EQ(attrs, (std::vector<std::uint8_t>{StyleAttribute(1), StyleAttribute(0), StyleAttribute(1),
                                               StyleAttribute(2)}));
}

TEST_F(HelpTest, ADirectoryInPlaceOfTheHelpFileGivesAnEmptyViewer) {
  std::filesystem::create_directories(scratch / "AJUDA/FOLDER.HLP");
  Hot().Calendar = [&] {
    Snapshot();
    return std::string();
  };
  term.Key(0x5000);
  term.Key(0x2e00);
  term.Key(0x1b);
  term.Fill();
  const auto before = term.Cells();
  ShowHelp("FOLDER");
  EXPECT_EQ(shots, std::vector<std::string>{"|"});
  EXPECT_EQ(term.Cells(), before);
  EXPECT_EQ(PopupWindow().Level, 0);
}

class RecordingSystem : public platform::SystemWrapper {
 public:
  RecordingSystem() : platform::SystemWrapper(platform::RealSystem()) {}
  std::string GetEnv(const std::string& name) override { return name == "COMSPEC" ? comspec : ""; }
  int RunAndWait(const std::string& program, const std::vector<std::string>& args) override {
    ran = program;
    for (const auto& a : args) ran += " " + a;
    return 0;
  }
  std::string comspec;
  std::string ran;
};

TEST_F(HelpTest, WindowedEnvironmentStartsTheDocumentLauncher) {
  config::Session().RunEnvironment = "WIN";
  RecordingSystem system;
  platform::ScopedSystem scoped(system);
  system.comspec = "CMD.EXE";
  ShowHelp("REPQUOTA");
  EXPECT_EQ(system.ran, "CMD.EXE /C DOCRUN AJUDA\\REPQUOTA.HTM");
  EXPECT_EQ(term.suspends, 1);
  system.ran.clear();
  system.comspec.clear();
  ShowHelp("REPQUOTA");
  EXPECT_EQ(system.ran, "");
}

}  // namespace
}  // namespace console
