#include "platform/scripted_terminal.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/key_script.h"
#include "platform/session_end.h"
#include "platform/signals.h"

namespace platform {
namespace {

struct Expected {
  std::uint16_t key;
  std::uint8_t modifiers;
  bool keypad = false;
};

std::vector<InputEvent> Events(const KeyScript& s) {
  std::vector<InputEvent> events;
  for (const ScriptStep& step : s.steps) events.push_back(step.event);
  return events;
}

TEST(KeyScriptTest, KeysAsTheTerminalDeliversThem) {
  const struct {
    const char* script;
    std::vector<Expected> keys;
  } cases[] = {
      {"aZ1 ", {{'a', 0}, {'Z', 0}, {'1', 0}, {' ', 0}}},
      {"à€Ç", {{0x85, 0}, {0xd5, 0}, {0x80, 0}}},  // € is 0xd5 in the euro variant
      {"a\r\nb", {{'a', 0}, {'b', 0}}},
      {"{{x", {{'{', 0}, {'x', 0}}},
      {"}", {{'}', 0}}},
      {"{Enter}{Esc}{Tab}{Backspace}", {{13, 0}, {27, 0}, {9, 0}, {8, 0}}},
      {"{ShiftTab}", {{0x0f00, kShift}}},
      {"{F1}{F10}{F12}", {{0x3b00, 0}, {0x4400, 0}, {0x8600, 0}}},
      {"{Shift+F1}{Shift+F3}", {{0x5400, kShift}, {0x5600, kShift}}},
      {"{Ctrl+F1}{Alt+F4}", {{0x5e00, kLeftCtrl}, {0x6b00, kLeftAlt}}},
      {"{Up}{Down}{Left}{Right}{Home}{End}{PgUp}{PgDn}{Ins}{Del}",
       {{0x4800, 0}, {0x5000, 0}, {0x4b00, 0}, {0x4d00, 0}, {0x4700, 0}, {0x4f00, 0}, {0x4900, 0},
        {0x5100, 0}, {0x5200, 0}, {0x5300, 0}}},
      {"{Ctrl+Left}{Ctrl+Right}{Ctrl+Home}", {{0x7300, kLeftCtrl}, {0x7400, kLeftCtrl}, {0x7700, kLeftCtrl}}},
      {"{Ctrl+B}{Ctrl+c}", {{2, kLeftCtrl}, {3, kLeftCtrl}}},
      {"{Alt+X}{Alt+c}{Alt+E}{Alt+F}", {{0x2d00, kLeftAlt}, {0x2e00, kLeftAlt}, {0x1200, kLeftAlt}, {0x2100, kLeftAlt}}},
  };
  for (const auto& c : cases) {
    const KeyScript s = ParseKeyScript(c.script);
    ASSERT_TRUE(s.ok()) << c.script << ": " << s.error;
    const std::vector<InputEvent> events = Events(s);
    ASSERT_EQ(events.size(), c.keys.size()) << c.script;
    for (std::size_t i = 0; i < events.size(); ++i) {
      EXPECT_EQ(events[i].kind, InputEvent::Kind::kKey) << c.script << " #" << i;
      EXPECT_EQ(events[i].key, c.keys[i].key) << c.script << " #" << i;
      EXPECT_EQ(events[i].modifiers & c.keys[i].modifiers, c.keys[i].modifiers) << c.script << " #" << i;
    }
  }
}

TEST(KeyScriptTest, ClicksSnapsAndAltKeypad) {
  KeyScript s = ParseKeyScript("{Click 3 10}{Snap}{AltPad 128}x");
  ASSERT_TRUE(s.ok()) << s.error;
  ASSERT_EQ(s.steps.size(), 7u);
  EXPECT_EQ(s.steps[0].event.kind, InputEvent::Kind::kMouse);
  EXPECT_EQ(s.steps[0].event.row, 3);
  EXPECT_EQ(s.steps[0].event.column, 10);
  EXPECT_EQ(s.steps[0].event.buttons, 1);
  EXPECT_EQ(s.steps[1].kind, ScriptStep::Kind::kSnap);
  // Keypad 1, 2, 8 with left Alt held, then a poll without key: Alt let go.
  const std::uint16_t pad[] = {0x4f00, 0x5000, 0x4800};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(s.steps[2 + i].event.key, pad[i]);
    EXPECT_TRUE(s.steps[2 + i].event.keypad);
    EXPECT_NE(s.steps[2 + i].event.modifiers & kLeftAlt, 0);
  }
  EXPECT_EQ(s.steps[5].event.kind, InputEvent::Kind::kNone);
  EXPECT_EQ(s.steps[6].event.key, 'x');

  s = ParseKeyScript("{Pause 250}");
  ASSERT_EQ(s.steps.size(), 1u);
  EXPECT_EQ(s.steps[0].kind, ScriptStep::Kind::kPause);
  EXPECT_EQ(s.steps[0].pauseMs, 250);

  s = ParseKeyScript("{Resize 70x20}");
  ASSERT_EQ(s.steps.size(), 1u);
  EXPECT_EQ(s.steps[0].kind, ScriptStep::Kind::kResize);
  EXPECT_EQ(s.steps[0].columns, 70);
  EXPECT_EQ(s.steps[0].rows, 20);
}

TEST(ScriptedTerminal, AResizeKeepsTheCellsThatFitAndComesBackAsNoInput) {
  ScriptedTerminal t(ParseKeyScript("{Resize 3x2}{Resize 5x4}a").steps, "", 3, 4);
  t.SetCursor(3, 4);
  t.Write("Z");
  t.SetCursor(1, 1);
  t.Write("abcdefgh");
  EXPECT_EQ(t.Poll(0).kind, InputEvent::Kind::kNone);
  EXPECT_EQ(t.Rows(), 2);
  EXPECT_EQ(t.Columns(), 3);
  EXPECT_EQ(t.ScreenText(), "abc\nefg\n");
  EXPECT_EQ(t.CursorRow(), 2);
  EXPECT_EQ(t.CursorColumn(), 1);
  EXPECT_EQ(t.Poll(0).kind, InputEvent::Kind::kNone);
  EXPECT_EQ(t.ScreenText(), "abc\nefg\n\n\n");
  EXPECT_EQ(t.Poll(0).key, 'a');
}

TEST(KeyScriptTest, MistakesNameTheirPlace) {
  const std::pair<const char*, const char*> cases[] = {
      {"ab\ncd{Foo}", "line 2, column 3: unknown key {Foo}"},
      {"{Enter", "line 1, column 1: unclosed {"},
      {"{Enter\n}", "line 1, column 1: unclosed {"},
      {"{Click 0 5}", "line 1, column 1: {Click R C} wants a row and a column from 1"},
      {"{Click 3}", "line 1, column 1: {Click R C} wants a row and a column from 1"},
      {"{AltPad 12a}", "line 1, column 1: {AltPad N} wants one to three digits"},
      {"{Pause}", "line 1, column 1: {Pause MS} wants a number of milliseconds"},
      {"{Pause -5}", "line 1, column 1: {Pause MS} wants a number of milliseconds"},
      {"{Resize 70}", "line 1, column 1: {Resize COLUMNSxROWS} wants a size such as 70x20"},
      {"{Resize 0x20}", "line 1, column 1: {Resize COLUMNSxROWS} wants a size such as 70x20"},
      {"x\u4e2d", "line 1, column 2: \"\u4e2d\" has no code page 850 key"},
      {"{Ctrl+}", "line 1, column 1: unknown key {Ctrl+}"},
  };
  for (const auto& [script, error] : cases) {
    const KeyScript s = ParseKeyScript(script);
    EXPECT_EQ(s.error, error) << script;
    EXPECT_TRUE(s.steps.empty()) << script;
  }
}

class ScriptedTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dump_ = std::filesystem::temp_directory_path() /
            ("scripted-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove(dump_);
  }
  void TearDown() override { std::filesystem::remove(dump_); }
  std::string Dump() const {
    std::ifstream in(dump_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dump_;
};

TEST_F(ScriptedTerminalTest, DumpsTheScreenAtEverySnap) {
  ScriptedTerminal t(ParseKeyScript("a{Snap}b").steps, dump_.string(), 3, 10);
  t.SetCursor(1, 9);
  t.Write("\xc9\xcd\xbb");  // double frame corner, line, corner: wraps
  t.SetCursor(3, 1);
  t.Write("S\x85 \x10  ");
  EXPECT_EQ(t.Poll(0).key, 'a');
  EXPECT_EQ(t.Poll(0).key, 'b');  // the snap is taken on the way
  EXPECT_EQ(Dump(), "=== screen 1 ===\n        ╔═\n╗\nSà ►\n");
  t.Snapshot();
  EXPECT_EQ(Dump(), "=== screen 1 ===\n        ╔═\n╗\nSà ►\n=== screen 2 ===\n        ╔═\n╗\nSà ►\n");
}

TEST_F(ScriptedTerminalTest, ScrollsAndReadsCellsLikeTheConsole) {
  ScriptedTerminal t({}, "", 4, 5);
  for (int r = 1; r <= 4; ++r) {
    t.SetCursor(r, 1);
    t.Write(std::string(5, static_cast<char>('0' + r)));
  }
  t.SetColour(15, 1);
  t.Scroll(2, 2, 4, 4, 1);
  EXPECT_EQ(t.ScreenText(), "11111\n23332\n34443\n4   4\n");
  EXPECT_EQ(t.ReadCell(4, 2).attr, 0x1f);
  t.Scroll(1, 1, 4, 5, -2);
  EXPECT_EQ(t.ScreenText(), "\n\n11111\n23332\n");
  EXPECT_EQ(t.ReadCell(9, 9), Cell{});  // outside: a blank, no crash
  t.SetColour(16, 4);                   // 16 keeps the foreground
  EXPECT_EQ(t.CurrentAttribute(), 0x4f);
}

TEST_F(ScriptedTerminalTest, PollsWithoutWaitingLeaveTheEndedScriptAlone) {
  ScriptedTerminal t(ParseKeyScript("q").steps, dump_.string());
  EXPECT_EQ(t.Poll(0).key, 'q');
  EXPECT_EQ(t.Poll(0).kind, InputEvent::Kind::kNone);
  EXPECT_EQ(t.Poll(0).kind, InputEvent::Kind::kNone);
  EXPECT_EQ(Dump(), "");
}

TEST_F(ScriptedTerminalTest, WaitingPastTheEndDumpsAndEndsTheSessionWithThree) {
  ScriptedTerminal t(ParseKeyScript("x").steps, dump_.string(), 2, 4);
  t.Write("ok");
  EXPECT_EQ(t.Poll(50).key, 'x');
  try {
    t.Poll(50);
    FAIL() << "the session went on past the script";
  } catch (const SessionEnded& end) {
    EXPECT_EQ(end.exitStatus, 3);
    EXPECT_EQ(end.reason, "key script ended");
  }
  EXPECT_EQ(Dump(), "=== screen 1 ===\nok\n\n");
}

TEST_F(ScriptedTerminalTest, APauseHoldsTheNextKeyAndATerminationRequestEndsIt) {
  ScriptedTerminal t(ParseKeyScript("{Pause 30}a{Pause 60000}b").steps, "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(t.Poll(0).key, 'a');
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  // A signal while the script pauses: the session ends at once, as SIGTERM
  // would end a real run, instead of after a minute.
  InstallTerminationSignals();
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(::getpid(), SIGTERM);
  });
  try {
    t.Poll(0);
    ADD_FAILURE() << "the pause was not ended";
  } catch (const SessionEnded& end) {
    EXPECT_EQ(end.exitStatus, 128 + SIGTERM);
  }
  signaller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  ClearTerminationSignal();
}

TEST_F(ScriptedTerminalTest, OpeningReportsBadScripts) {
  std::string error;
  EXPECT_EQ(OpenScriptedTerminal(dump_.string() + ".none", "", error), nullptr);
  EXPECT_NE(error.find("cannot read the key script"), std::string::npos);
  const std::string keys = dump_.string() + ".keys";
  std::ofstream(keys) << "abc\n{Nope}";
  error.clear();
  EXPECT_EQ(OpenScriptedTerminal(keys, "", error), nullptr);
  EXPECT_EQ(error, keys + ": line 2, column 1: unknown key {Nope}");
  std::ofstream(keys) << "abc";
  error.clear();
  auto t = OpenScriptedTerminal(keys, "", error);
  ASSERT_NE(t, nullptr) << error;
  EXPECT_EQ(t->Rows(), 25);
  EXPECT_EQ(t->Columns(), 80);
  EXPECT_EQ(t->Poll(0).key, 'a');
  std::filesystem::remove(keys);
}

TEST_F(ScriptedTerminalTest, AKeyScriptThatIsADirectoryIsRefusedWithTheReason) {
  const std::string keys = dump_.string() + ".keys";
  std::filesystem::create_directories(keys);
  std::string error;
  EXPECT_EQ(OpenScriptedTerminal(keys, "", error), nullptr);
  EXPECT_EQ(error, "cannot read the key script " + keys + ": Is a directory");
  std::filesystem::remove(keys);
}

}  // namespace
}  // namespace platform
