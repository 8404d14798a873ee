#include "platform/curses_terminal.h"
#include "platform/system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/session_end.h"
#include "platform/signals.h"

// ncurses keeps the "prescreen" it made for a newterm that failed (an
// unknown terminal type) for the rest of the process: not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:new_prescr\n"; }

namespace platform {
namespace {

// The real back end on a pipe: keys are written into the pipe, the drawing
// goes to /dev/null, and the cell grid is read back through ReadCell.
class CursesTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(25, 80); }

  void TearDown() override {
    terminal_.reset();
    if (in_) std::fclose(in_);
    if (out_) std::fclose(out_);
    if (writeFd_ >= 0) close(writeFd_);
    in_ = out_ = nullptr;
    writeFd_ = -1;
    unsetenv("LINES");
    unsetenv("COLUMNS");
  }

  // The terminal closed and opened again on `rows` x `columns`.
  void Reopen(int rows, int columns) {
    TearDown();
    Open(rows, columns);
    ASSERT_TRUE(terminal_) << error_;
  }

  void Open(int rows, int columns) {
    setenv("LINES", std::to_string(rows).c_str(), 1);
    setenv("COLUMNS", std::to_string(columns).c_str(), 1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    in_ = fdopen(fds[0], "r");
    writeFd_ = fds[1];
    out_ = std::tmpfile();
    ASSERT_TRUE(in_ && out_);
    terminal_ = OpenCursesTerminalOn(out_, in_, "xterm-256color", error_);
  }

  void Type(std::string_view bytes) {
    ASSERT_EQ(write(writeFd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Every event the typed bytes give.
  std::vector<InputEvent> Events() {
    std::vector<InputEvent> out;
    for (;;) {
      // Poll(0) still gives a sequence the Esc delay to complete.
      InputEvent e = terminal_->Poll(0);
      if (e.kind == InputEvent::Kind::kNone) return out;
      out.push_back(e);
    }
  }

  // What was sent to the terminal so far.
  std::string Output() {
    std::fflush(out_);
    std::string all;
    std::rewind(out_);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out_)) > 0) all.append(buffer, n);
    std::fseek(out_, 0, SEEK_END);
    return all;
  }

  std::string RowText(int row, int from, int to) {
    std::string s;
    for (int c = from; c <= to; ++c) s += static_cast<char>(terminal_->ReadCell(row, c).ch);
    return s;
  }

  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  int writeFd_ = -1;
  std::string error_;
  std::unique_ptr<Terminal> terminal_;
};

TEST_F(CursesTerminalTest, OpensAtTheTerminalSize) {
  ASSERT_TRUE(terminal_) << error_;
  EXPECT_EQ(terminal_->Rows(), 25);
  EXPECT_EQ(terminal_->Columns(), 80);
  EXPECT_EQ(terminal_->ReadCell(1, 1), (Cell{' ', 7}));
  EXPECT_EQ(terminal_->CurrentAttribute(), 7);
}

TEST_F(CursesTerminalTest, RefusesASecondTerminal) {
  ASSERT_TRUE(terminal_) << error_;
  std::string error;
  EXPECT_EQ(OpenCursesTerminalOn(out_, in_, "xterm-256color", error), nullptr);
  EXPECT_EQ(error, "the terminal is already open");
}

TEST_F(CursesTerminalTest, OpensAtAnySizeAndAsksToGrow) {
  // The size a program needs is the business of the screen placed on the
  // terminal (fixed_screen.h); the terminal opens as it is.
  ASSERT_NO_FATAL_FAILURE(Reopen(24, 80));
  EXPECT_EQ(terminal_->Rows(), 24);
  EXPECT_EQ(terminal_->Columns(), 80);
  EXPECT_TRUE(terminal_->RequestSize(24, 80));  // already that large: nothing asked
  EXPECT_EQ(Output().find("\x1b[8;"), std::string::npos);
  // xterm's window-size request; a pipe never answers with a resize. What
  // is typed meanwhile is kept.
  Type("q");
  EXPECT_FALSE(terminal_->RequestSize(25, 80));
  EXPECT_NE(Output().find("\x1b[8;25;80t"), std::string::npos);
  EXPECT_EQ(terminal_->Rows(), 24);
  auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].key, 'q');

  ASSERT_NO_FATAL_FAILURE(Reopen(30, 100));
  EXPECT_EQ(terminal_->Rows(), 30);
  EXPECT_EQ(terminal_->Columns(), 100);
}

TEST_F(CursesTerminalTest, UnknownTerminalTypeIsReported) {
  terminal_.reset();
  std::string error;
  EXPECT_EQ(OpenCursesTerminalOn(out_, in_, "no-such-terminal-type", error), nullptr);
  EXPECT_EQ(error, "the terminal type \"no-such-terminal-type\" is not known");
}

TEST_F(CursesTerminalTest, WriteWrapsAndStopsAtTheBottomRight) {
  ASSERT_TRUE(terminal_) << error_;
  Terminal& t = *terminal_;
  t.SetColour(14, 1);
  t.SetCursor(1, 79);
  t.Write("abc");
  EXPECT_EQ(t.ReadCell(1, 79), (Cell{'a', 0x1e}));
  EXPECT_EQ(t.ReadCell(1, 80), (Cell{'b', 0x1e}));
  EXPECT_EQ(t.ReadCell(2, 1), (Cell{'c', 0x1e}));
  EXPECT_EQ(t.CursorRow(), 2);
  EXPECT_EQ(t.CursorColumn(), 2);
  // Box characters, accents and control bytes are kept as bytes.
  t.SetCursor(3, 1);
  t.Write("\xc9\xcd\x82\x01");
  EXPECT_EQ(RowText(3, 1, 4), "\xc9\xcd\x82\x01");
  t.SetCursor(25, 79);
  t.Write("xyz");
  EXPECT_EQ(t.ReadCell(25, 79).ch, 'x');
  EXPECT_EQ(t.ReadCell(25, 80).ch, 'z');
  EXPECT_EQ(t.ReadCell(24, 80).ch, ' ');  // nothing scrolled
  EXPECT_EQ(t.CursorRow(), 25);
  EXPECT_EQ(t.CursorColumn(), 80);
}

TEST_F(CursesTerminalTest, CursorOutsideTheScreenKeepsThatCoordinate) {
  ASSERT_TRUE(terminal_) << error_;
  Terminal& t = *terminal_;
  struct Case {
    int row, column, wantRow, wantColumn;
  };
  t.SetCursor(10, 20);
  for (const Case& c : {Case{0, 5, 10, 5}, Case{26, 81, 10, 5}, Case{3, 0, 3, 5},
                        Case{25, 80, 25, 80}, Case{-1, 1, 25, 1}}) {
    t.SetCursor(c.row, c.column);
    EXPECT_EQ(t.CursorRow(), c.wantRow) << c.row << "," << c.column;
    EXPECT_EQ(t.CursorColumn(), c.wantColumn) << c.row << "," << c.column;
  }
}

TEST_F(CursesTerminalTest, ColourValuesOf16OrMoreKeepTheirPart) {
  ASSERT_TRUE(terminal_) << error_;
  Terminal& t = *terminal_;
  struct Case {
    int fg, bg;
    int want;
  };
  t.SetColour(14, 1);
  for (const Case& c : {Case{16, 4, 0x4e}, Case{2, 99, 0x42}, Case{20, 20, 0x42},
                        Case{15, 15, 0xff}, Case{0, 0, 0x00}}) {
    t.SetColour(c.fg, c.bg);
    EXPECT_EQ(t.CurrentAttribute(), c.want) << c.fg << "," << c.bg;
  }
}

TEST_F(CursesTerminalTest, ScrollsARectangleUpAndDown) {
  ASSERT_TRUE(terminal_) << error_;
  Terminal& t = *terminal_;
  for (int r = 1; r <= 5; ++r) {
    t.SetCursor(r, 1);
    t.Write(std::string(6, static_cast<char>('0' + r)));
  }
  t.SetColour(7, 1);
  t.Scroll(2, 2, 4, 4, 1);  // rows 2-4, columns 2-4, up by one
  EXPECT_EQ(RowText(1, 1, 6), "111111");
  EXPECT_EQ(RowText(2, 1, 6), "233322");
  EXPECT_EQ(RowText(3, 1, 6), "344433");
  EXPECT_EQ(RowText(4, 1, 6), "4   44");
  EXPECT_EQ(RowText(5, 1, 6), "555555");
  EXPECT_EQ(t.ReadCell(4, 2).attr, 0x17);  // freed line in the current colour
  EXPECT_EQ(t.ReadCell(4, 1).attr, 0x07);

  t.Scroll(1, 1, 5, 6, -2);  // whole block down by two
  EXPECT_EQ(RowText(1, 1, 6), "      ");
  EXPECT_EQ(RowText(2, 1, 6), "      ");
  EXPECT_EQ(RowText(3, 1, 6), "111111");
  EXPECT_EQ(RowText(4, 1, 6), "233322");
  EXPECT_EQ(RowText(5, 1, 6), "344433");

  t.Scroll(1, 1, 2, 6, 5);  // more lines than the rectangle: all blank
  EXPECT_EQ(RowText(3, 1, 6), "111111");
  t.Scroll(1, 1, 3, 6, 9);
  EXPECT_EQ(RowText(3, 1, 6), "      ");
  t.SetCursor(5, 1);
  t.Write("55");
  t.Scroll(5, 1, 5, 6, INT_MAX);
  EXPECT_EQ(RowText(5, 1, 2), "  ");
  t.SetCursor(5, 1);
  t.Write("55");
  EXPECT_EQ(RowText(5, 1, 2), "55");
  t.Scroll(5, 1, 5, 6, INT_MIN);
  EXPECT_EQ(RowText(5, 1, 2), "  ");

  t.Scroll(24, 79, 99, 99, 1);  // clipped to the screen, no crash
  EXPECT_EQ(t.ReadCell(26, 1), Cell{});
}

struct TypedCase {
  std::string bytes;
  std::vector<int> keys;
};

TEST_F(CursesTerminalTest, TypedBytesArriveAsPcKeys) {
  ASSERT_TRUE(terminal_) << error_;
  const std::vector<TypedCase> cases = {
      {"a\r\x7f\x03", {'a', 13, 8, 3}},
      {"\x1bOP", {0x3b00}},                   // F1 from the terminal database
      {"\x1b[1;2R", {0x5600}},                // Shift+F3
      {"\x1b[1;5D", {0x7300}},                // Ctrl+Left
      {"\x1b[1;5H", {0x7700}},                // Ctrl+Home
      {"\x1b[6~\x1b[5~", {0x5100, 0x4900}},   // PgDn, PgUp
      {"\x1b[24;3~", {0x8c00}},               // Alt+F12
      {"\x1bx", {0x2d00}},                    // Alt+X
      {"\x1b" "e", {0x1200}},                 // Alt+E
      {"\x1b[Z\t", {0x0f00, 9}},              // Shift+Tab, Tab
      {"\xc3\xa9\xc3\x87\xe2\x82\xac", {0x82, 0x80, 0xd5}},  // é Ç €
      {"\x1b", {27}},                         // Esc alone, after the delay
      {"\x1b\x1bOP", {0x6800}},               // Alt+F1 as Esc + F1
  };
  for (const TypedCase& c : cases) {
    Type(c.bytes);
    std::vector<int> got;
    for (const InputEvent& e : Events()) got.push_back(e.key);
    EXPECT_EQ(got, c.keys) << "bytes of length " << c.bytes.size();
  }
}

TEST_F(CursesTerminalTest, ModifierBitsTravelWithTheKey) {
  ASSERT_TRUE(terminal_) << error_;
  Type("\x1b[1;5D");
  auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].modifiers, kLeftCtrl);
  Type("\x1b" "1");
  events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].key, 0x4f00);  // Alt+1: keypad End, composing digit 1
  EXPECT_EQ(events[0].modifiers, kLeftAlt);
  EXPECT_TRUE(events[0].keypad);
}

class SteppedClock : public SystemWrapper {
 public:
  SteppedClock() : SystemWrapper(RealSystem()) {}
  std::int64_t MonotonicMs() override { return now; }
  std::int64_t now = 5000;
};

TEST_F(CursesTerminalTest, AltStaysHeldBetweenComposingDigits) {
  ASSERT_TRUE(terminal_) << error_;
  SteppedClock clock;
  ScopedSystem scoped(clock);
  Terminal& t = *terminal_;
  Type("\x1b" "1\x1b" "2\x1b" "8");
  for (int key : {0x4f00, 0x5000, 0x4800}) {
    InputEvent e = t.Poll(0);
    EXPECT_EQ(e.key, key);
    EXPECT_EQ(e.modifiers, kLeftAlt);
    EXPECT_TRUE(e.keypad);
    clock.now += 300;
  }
  // Nothing typed yet, and not long: Alt still counts as held.
  InputEvent idle = t.Poll(0);
  EXPECT_EQ(idle.kind, InputEvent::Kind::kNone);
  EXPECT_EQ(idle.modifiers, kLeftAlt);
  clock.now += 1000;
  idle = t.Poll(0);
  EXPECT_EQ(idle.kind, InputEvent::Kind::kNone);
  EXPECT_EQ(idle.modifiers, 0);  // let go
  EXPECT_EQ(t.Poll(0).modifiers, 0);

  // Another key: first the release, then the key itself, nothing lost.
  Type("\x1b" "4a");
  EXPECT_EQ(t.Poll(0).key, 0x4b00);
  InputEvent release = t.Poll(0);
  EXPECT_EQ(release.kind, InputEvent::Kind::kNone);
  EXPECT_EQ(release.modifiers, 0);
  InputEvent a = t.Poll(0);
  EXPECT_EQ(a.key, 'a');
  EXPECT_EQ(a.modifiers, 0);

  // Alt with a letter holds nothing.
  Type("\x1bx");
  EXPECT_EQ(t.Poll(0).key, 0x2d00);
  EXPECT_EQ(t.Poll(0).modifiers, 0);
}

TEST_F(CursesTerminalTest, MouseClicksOnlyWhileEnabled) {
  ASSERT_TRUE(terminal_) << error_;
  terminal_->EnableMouse(true);
  Type("\x1b[<0;12;7M\x1b[<0;12;7m");
  auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, InputEvent::Kind::kMouse);
  EXPECT_EQ(events[0].buttons, 1);
  EXPECT_EQ(events[0].row, 7);
  EXPECT_EQ(events[0].column, 12);

  terminal_->EnableMouse(false);
  Type("\x1b[<0;12;7M\x1b[<0;12;7mz");
  events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().key, 'z');
  for (const InputEvent& e : events) EXPECT_NE(e.kind, InputEvent::Kind::kMouse);
}

TEST_F(CursesTerminalTest, DiscardInputDropsWhatWasTyped) {
  ASSERT_TRUE(terminal_) << error_;
  Type("abc");
  EXPECT_EQ(terminal_->Poll(0).key, 'a');
  terminal_->DiscardInput();
  Type("d");
  auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].key, 'd');
}

TEST_F(CursesTerminalTest, SuspendAndResumeKeepTheCells) {
  ASSERT_TRUE(terminal_) << error_;
  Terminal& t = *terminal_;
  t.SetColour(15, 4);
  t.SetCursor(5, 5);
  t.Write("\xc9\xbb");
  t.Suspend();
  // Ctrl+C meant for the program that has the terminal now leaves us be.
  std::raise(SIGINT);
  Type("q");
  EXPECT_EQ(t.Poll(0).kind, InputEvent::Kind::kNone);  // the terminal is not ours
  t.Resume();
  EXPECT_EQ(t.ReadCell(5, 5), (Cell{0xc9, 0x4f}));
  EXPECT_EQ(t.ReadCell(5, 6), (Cell{0xbb, 0x4f}));
  EXPECT_EQ(t.CursorColumn(), 7);
  auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].key, 'q');
}

TEST_F(CursesTerminalTest, InputThatCanNoLongerComeEndsTheSession) {
  ASSERT_TRUE(terminal_) << error_;
  Type("k");
  close(writeFd_);  // the terminal hung up: its keys stop for good
  writeFd_ = -1;
  EXPECT_EQ(terminal_->Poll(0).key, 'k');  // what was typed before still counts
  try {
    terminal_->Poll(5000);
    FAIL() << "the wait went on without a terminal";
  } catch (const SessionEnded& end) {
    EXPECT_EQ(end.exitStatus, kExitFailure);
    EXPECT_NE(end.reason.find("lost"), std::string::npos);
  }
}

TEST_F(CursesTerminalTest, ATerminationRequestEndsTheWaitForAKey) {
  ASSERT_TRUE(terminal_) << error_;
  InstallTerminationSignals();
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(::getpid(), SIGHUP);
  });
  const auto start = std::chrono::steady_clock::now();
  try {
    for (int i = 0; i < 100; ++i) terminal_->Poll(1000);
    ADD_FAILURE() << "the terminal kept waiting";
  } catch (const SessionEnded& end) {
    EXPECT_EQ(end.exitStatus, 128 + SIGHUP);
  }
  signaller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ClearTerminationSignal();
}

TEST_F(CursesTerminalTest, InsertToggleAndClipboardAreKept) {
  ASSERT_TRUE(terminal_) << error_;
  Terminal& t = *terminal_;
  EXPECT_FALSE(t.InsertMode());
  t.SetInsertMode(true);
  EXPECT_TRUE(t.InsertMode());
  EXPECT_EQ(t.ClipboardText(), "");
  t.SetClipboardText("PA\xd6S");
  EXPECT_EQ(t.ClipboardText(), "PA\xd6S");
  // The terminal's clipboard gets it too, as UTF-8 ("PAÍS") in base 64.
  EXPECT_NE(Output().find("\x1b]52;c;UEHDjVM=\x07"), std::string::npos);
  t.SetClipboardText("ab");
  EXPECT_NE(Output().find("\x1b]52;c;YWI=\x07"), std::string::npos);
  t.SetClipboardText("");
  EXPECT_NE(Output().find("\x1b]52;c;\x07"), std::string::npos);
}

}  // namespace
}  // namespace platform
