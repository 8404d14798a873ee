// The console driven the way the programs are: through the scripted terminal
// and key scripts.
#include <filesystem>
#include <sstream>

#include "console/field_editor.h"
#include "console/messages.h"
#include "console/test_terminal.h"
#include "console/window_stack.h"
#include "base/cp850.h"
#include "platform/key_script.h"
#include "platform/scripted_terminal.h"

namespace console {
namespace {

class ScriptedConsoleTest : public testing::ConsoleTest {
 protected:
  void TearDown() override {
    platform::SetCurrentTerminal(nullptr);
    scripted_.reset();
    ConsoleTest::TearDown();
  }
  platform::ScriptedTerminal& Run(std::string_view script) {
    const platform::KeyScript parsed = platform::ParseKeyScript(script);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    scripted_ = std::make_unique<platform::ScriptedTerminal>(parsed.steps, "");
    platform::SetCurrentTerminal(scripted_.get());
    return *scripted_;
  }
  std::string Line(int row) {
    std::istringstream in(scripted_->ScreenText());
    std::string line;
    for (int r = 1; r <= row; ++r) std::getline(in, line);
    return line;
  }
  int Edit(std::string& text, int position, int width = 0) {
    std::int16_t row = 3, column = 5, w = static_cast<std::int16_t>(width), p = static_cast<std::int16_t>(position);
    Input ending;
    EditField(row, column, w, text, p, ending);
    lastPosition = p;
    return static_cast<std::uint16_t>(ending.key);
  }
  int lastPosition = 0;

 private:
  std::unique_ptr<platform::ScriptedTerminal> scripted_;
};

TEST_F(ScriptedConsoleTest, InsertThenOverwrite) {
  auto& t = Run("{Ins}x{Ins}y{Esc}");
  std::string text = "AB        ";
  EXPECT_EQ(Edit(text, 2), 0x1b);
  EXPECT_EQ(text, "Axy       ");
  EXPECT_EQ(lastPosition, 4);
  EXPECT_EQ(Line(3), "    Axy");
  EXPECT_EQ(t.Remaining(), 0u);
}

TEST_F(ScriptedConsoleTest, EndingKeysAreTranslated) {
  Run("{Tab}{ShiftTab}{Alt+F4}{Ctrl+F4}{F1}{Shift+F3}{Ctrl+Left}");
  std::string text = "ab";
  EXPECT_EQ(Edit(text, 1), 0x0d);
  EXPECT_EQ(Edit(text, 1), 0x4800);
  EXPECT_EQ(Edit(text, 1), 0x1b);
  EXPECT_EQ(Edit(text, 1), 0x1b);
  EXPECT_EQ(Edit(text, 1), 0x3b00);
  EXPECT_EQ(Edit(text, 1), 0x5600);
  EXPECT_EQ(Edit(text, 1), 0x7300);  // at the start of the field: ends
}

TEST_F(ScriptedConsoleTest, AltKeypadTypesTheComposedCharacter) {
  Run("{AltPad 128}{AltPad 65}{Enter}");
  std::string text = "   ";
  EXPECT_EQ(Edit(text, 1), 0x0d);
  EXPECT_EQ(text, "\x80" "A ");
  EXPECT_EQ(Line(3), "    ÇA");
}

TEST_F(ScriptedConsoleTest, WordMovementAndExitFilter) {
  Run("{Ctrl+Left}{Snap}{Down}{Enter}");
  SetKeyOptions("ea", "d,1b");
  std::string text = ",abc      ";
  EXPECT_EQ(Edit(text, 5), 0x0d);
  EXPECT_EQ(lastPosition, 2);  // Down on the only row was ignored
}

TEST_F(ScriptedConsoleTest, MessageBoxOnTheScreen) {
  Run("");
  ShowMessage(12, "Fitxer de pressupost bloquejat");  // 30 characters
  EXPECT_EQ(Line(9), std::string(23, ' ') + "┌────────────────────────────────┐");
  EXPECT_EQ(Line(10), std::string(23, ' ') + "│ Fitxer de pressupost bloquejat │");
  EXPECT_EQ(Line(11).substr(0, 26), std::string(23, ' ') + "└");
  PopWindow();
  EXPECT_EQ(Line(10), "");
  EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
}

TEST_F(ScriptedConsoleTest, HelpViewerOnTenLines) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  std::string bytes;
  for (int i = 1; i <= 10; ++i) {
    std::string line = "line " + std::to_string(i);
    line.resize(80, ' ');
    bytes += line;
  }
  scratch.Write("AJUDA/TEN.HLP", bytes + "cut");
  std::vector<std::string> seen;
  Hot().Calendar = [&] {
    seen.push_back(Line(5) + "|" + Line(14) + "|" + Line(15));
    return std::string();
  };
  Run("{Alt+C}{Down}{PgDn}{End}{Alt+C}{Esc}");
  ShowHelp("TEN");
  std::filesystem::current_path(previous);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], "║ line 1" + std::string(71, ' ') + "║|║ line 10" + std::string(70, ' ') + "║|║" +
                         std::string(78, ' ') + "║");
  EXPECT_EQ(Line(5), "");
}

}  // namespace
}  // namespace console
