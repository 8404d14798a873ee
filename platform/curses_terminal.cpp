#include "platform/curses_terminal.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>
#include <vector>

#include "base/cp850.h"
#include "platform/held_messages.h"
#include "platform/key_decoder.h"
#include "platform/session_end.h"
#include "platform/signals.h"
#include "platform/terminal_type.h"
#include "platform/system.h"

namespace platform {
namespace {

constexpr int kDefaultEscDelayMs = 25;
// How long a terminal emulator gets to answer a window-size request.
constexpr std::int64_t kResizeWaitMs = 300;
constexpr std::int64_t kAltHoldMs = 1000;
// The longest a single wait for input blocks before looking at the
// termination flag and the state of the input.
constexpr int kWaitSliceMs = 100;

// PC colour numbers (blue 1, red 4) to curses ones (red 1, blue 4).
constexpr std::array<short, 8> kPcToCurses = {0, 4, 2, 6, 1, 5, 3, 7};

// Set while curses owns the terminal; the exit paths look at it.
std::atomic<bool> g_open{false};
// Set while a CursesTerminal exists (curses state is process-wide).
bool g_instance = false;
// The size to ask for again on the way out, when we made the window grow.
std::FILE* g_output = nullptr;
int g_restoreRows = 0, g_restoreColumns = 0;

constexpr std::array<int, 5> kFatalSignals = {SIGTERM, SIGINT, SIGHUP, SIGSEGV, SIGABRT};
std::array<struct sigaction, kFatalSignals.size()> g_previousActions{};
std::array<bool, kFatalSignals.size()> g_handled{};

void OnFatalSignal(int sig) {
  // endwin is not async-signal-safe, but a terminal left in raw mode with
  // the alternate screen on is worse than the small risk.
  RestoreCursesTerminal();
  // SA_RESETHAND put the default action back: the signal ends the process
  // as it would have without us.
  std::raise(sig);
}

// A program that turned the termination signals into a request to unwind
// (signals.h) puts the terminal back on its way out; only the signals
// that end it at once need the handler here.
bool Unwinds(int sig) {
  return TerminationSignalsInstalled() && (sig == SIGTERM || sig == SIGINT || sig == SIGHUP);
}

void InstallExitHandlers() {
  static bool atexitDone = false;
  if (!atexitDone) {
    std::atexit([] { RestoreCursesTerminal(); });
    atexitDone = true;
  }
  for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
    g_handled[i] = !Unwinds(kFatalSignals[i]);
    if (!g_handled[i]) continue;
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(kFatalSignals[i], &action, &g_previousActions[i]);
  }
}

// While another program has the terminal, Ctrl+C there must end that
// program, not us: a handler of our own (exec resets it in the child).
void AbsorbSignal(int) {}

void RemoveExitHandlers() {
  for (std::size_t i = 0; i < kFatalSignals.size(); ++i)
    if (g_handled[i]) sigaction(kFatalSignals[i], &g_previousActions[i], nullptr);
  g_handled = {};
}

bool LocaleIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

class CursesTerminal final : public Terminal {
 public:
  CursesTerminal(SCREEN* screen, std::FILE* out, std::FILE* in, int rows, int columns)
      : screen_(screen), out_(out), inFd_(fileno(in)), rows_(rows), columns_(columns),
        cells_(static_cast<std::size_t>(rows * columns)) {
    g_instance = true;
    SetUpColours();
    RedrawAll();
  }

  ~CursesTerminal() override {
    RestoreCursesTerminal();
    RemoveExitHandlers();
    delscreen(screen_);
    g_instance = false;
  }

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }

  void SetCursor(int row, int column) override {
    if (row >= 1 && row <= rows_) row_ = row;
    if (column >= 1 && column <= columns_) column_ = column;
  }
  int CursorRow() const override { return row_; }
  int CursorColumn() const override { return column_; }

  void HideCursor() override {
    cursorShown_ = false;
    curs_set(0);
  }
  void ShowCursor(int sizePercent) override {
    cursorShown_ = true;
    cursorSize_ = sizePercent;
    curs_set(sizePercent >= 50 ? 2 : 1);
  }

  void Write(std::string_view cp850) override {
    for (char c : cp850) {
      Cell& cell = At(row_, column_);
      cell.ch = static_cast<std::uint8_t>(c);
      cell.attr = attr_;
      Draw(row_, column_);
      if (column_ < columns_) {
        ++column_;
      } else if (row_ < rows_) {
        column_ = 1;
        ++row_;
      }
      // At the bottom right corner the cursor stays put: scrolling the
      // whole screen would tear the frames drawn there.
    }
  }

  void SetColour(int foreground, int background) override {
    int fg = attr_ & 15, bg = attr_ >> 4;
    if (foreground >= 0 && foreground < 16) fg = foreground;
    if (background >= 0 && background < 16) bg = background;
    attr_ = static_cast<std::uint8_t>(fg + 16 * bg);
  }
  std::uint8_t CurrentAttribute() const override { return attr_; }

  Cell ReadCell(int row, int column) const override {
    if (row < 1 || row > rows_ || column < 1 || column > columns_) return Cell{};
    return cells_[Index(row, column)];
  }

  void Scroll(int top, int left, int bottom, int right, int lines) override {
    top = std::max(top, 1);
    left = std::max(left, 1);
    bottom = std::min(bottom, rows_);
    right = std::min(right, columns_);
    if (lines == 0 || top > bottom || left > right) return;
    const int height = bottom - top + 1;
    lines = std::clamp(lines, -height, height);  // more than the height blanks it all
    const Cell blank{' ', attr_};
    for (int i = 0; i < height; ++i) {
      // Up: fill from the top, each row taking the one `lines` below it.
      const int row = lines > 0 ? top + i : bottom - i;
      const int source = row + lines;
      for (int c = left; c <= right; ++c)
        At(row, c) = (source >= top && source <= bottom) ? At(source, c) : blank;
    }
    for (int r = top; r <= bottom; ++r)
      for (int c = left; c <= right; ++c) Draw(r, c);
  }

  void Flush() override {
    if (suspended_) return;
    wmove(stdscr, row_ - 1, column_ - 1);
    wrefresh(stdscr);
  }

  // A terminal does not tell when Alt is let go. After Alt+digit (the
  // keypad keys that compose a character code) Alt counts as held, so
  // that nothing-pressed polls carry it, until another key comes (a
  // release is reported first) or no key for kAltHoldMs.
  InputEvent Poll(int timeoutMs) override {
    EndSessionIfTerminated();
    if (suspended_) return {};
    InputEvent e = Next(timeoutMs);
    const bool altDigit = e.kind == InputEvent::Kind::kKey && e.keypad &&
                          (e.modifiers & kLeftAlt) != 0;
    if (altHeld_) {
      if (e.kind == InputEvent::Kind::kNone) {
        if (MonotonicMs() - altSince_ < kAltHoldMs) {
          e.modifiers = kLeftAlt;
          return e;
        }
        altHeld_ = false;
        return e;
      }
      if (!altDigit) {
        altHeld_ = false;
        queue_.push_front(e);
        return InputEvent{};  // Alt let go
      }
    }
    if (altDigit) {
      altHeld_ = true;
      altSince_ = MonotonicMs();
    }
    return e;
  }

  InputEvent Next(int timeoutMs) {
    Flush();
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    bool waiting = true;  // until the first byte arrives
    for (;;) {
      Settle(true);
      if (!queue_.empty()) {
        InputEvent e = queue_.front();
        queue_.pop_front();
        return e;
      }
      const bool midSequence = !pending_.empty();
      // The wait goes in slices, never blocking for long: a termination
      // request or a lost terminal must be noticed while nothing is typed.
      int slice = 0;
      if (midSequence) {
        slice = escDelay_;
      } else if (waiting) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        slice = forever ? kWaitSliceMs : static_cast<int>(std::clamp<std::int64_t>(left, 0, kWaitSliceMs));
      }
      wtimeout(stdscr, slice);
      wint_t ch = 0;
      const int r = wget_wch(stdscr, &ch);
      if (r == ERR) {
        if (midSequence) {
          Settle(false);
          continue;
        }
        EndSessionIfTerminated();
        if (InputLost()) throw SessionEnded{kExitFailure, "the terminal's input was lost"};
        if (waiting && (forever || Clock::now() < deadline)) continue;
        return {};
      }
      waiting = false;
      if (r == KEY_CODE_YES) {
        TakeCursesKey(static_cast<int>(ch));
        continue;
      }
      base::AppendUtf8(pending_, static_cast<char32_t>(ch));
    }
  }

  // Input that can never come: the terminal hung up, or the stream of keys
  // ended (a pipe whose writer is gone) or fails.
  bool InputLost() const {
    pollfd p{inFd_, POLLIN, 0};
    int r = 0;
    do {
      r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return true;
    if ((p.revents & (POLLERR | POLLNVAL)) != 0) return true;
    return (p.revents & POLLHUP) != 0 && (p.revents & POLLIN) == 0;
  }

  void DiscardInput() override {
    altHeld_ = false;
    queue_.clear();
    pending_.clear();
    flushinp();
    if (suspended_) return;
    // flushinp cannot empty every kind of input (a pipe): read off what is
    // already waiting, within bounds so a stream of input cannot hold us.
    wtimeout(stdscr, 0);
    wint_t ch = 0;
    for (int i = 0; i < 4096 && wget_wch(stdscr, &ch) != ERR; ++i) {
    }
  }

  bool InsertMode() const override { return insert_; }
  void SetInsertMode(bool on) override { insert_ = on; }

  int MouseButtons() const override { return mouseButtons_; }
  void EnableMouse(bool on) override {
    mouseOn_ = on;
    mousemask(on ? (BUTTON1_PRESSED | BUTTON1_CLICKED) : 0, nullptr);
  }

  std::string ClipboardText() override { return clipboard_; }
  void SetClipboardText(std::string_view cp850) override {
    clipboard_.assign(cp850);
    // Also hand the text to the terminal's own clipboard (OSC 52), where
    // the terminal takes it; the others ignore the sequence.
    if (suspended_) return;
    const std::string utf8 = base::Cp850ToUtf8(cp850, /*glyphs=*/true);
    Flush();
    std::fputs(("\x1b]52;c;" + Base64(utf8) + "\x07").c_str(), out_);
    std::fflush(out_);
  }

  void Beep() override { beep(); }

  // xterm's window-size request (CSI 8 ; rows ; columns t). Terminals that
  // do not take it ignore it; the answer, when there is one, is the
  // resize that follows.
  bool RequestSize(int rows, int columns) override {
    if (suspended_) return false;
    if (rows_ >= rows && columns_ >= columns) return true;
    const int oldRows = rows_, oldColumns = columns_;
    Flush();
    std::fprintf(out_, "\x1b[8;%d;%dt", rows, columns);
    std::fflush(out_);
    const std::int64_t until = MonotonicMs() + kResizeWaitMs;
    for (std::int64_t now = MonotonicMs(); now < until && (rows_ < rows || columns_ < columns);
         now = MonotonicMs()) {
      wtimeout(stdscr, static_cast<int>(until - now));
      wint_t ch = 0;
      const int r = wget_wch(stdscr, &ch);
      if (r == KEY_CODE_YES) {
        TakeCursesKey(static_cast<int>(ch));
      } else if (r != ERR) {
        base::AppendUtf8(pending_, static_cast<char32_t>(ch));  // typed meanwhile: kept
      }
    }
    if (rows_ != oldRows || columns_ != oldColumns) {
      g_output = out_;
      g_restoreRows = oldRows;
      g_restoreColumns = oldColumns;
    }
    return rows_ >= rows && columns_ >= columns;
  }

  void Suspend() override {
    if (suspended_) return;
    def_prog_mode();
    endwin();
    g_open = false;
    suspended_ = true;
    struct sigaction absorb {};
    absorb.sa_handler = AbsorbSignal;
    sigemptyset(&absorb.sa_mask);
    sigaction(SIGINT, &absorb, &interruptAction_);
  }

  void Resume() override {
    if (!suspended_) return;
    suspended_ = false;
    sigaction(SIGINT, &interruptAction_, nullptr);
    g_open = true;
    reset_prog_mode();
    RedrawAll();
    clearok(curscr, TRUE);
    if (cursorShown_) ShowCursor(cursorSize_); else HideCursor();
    Flush();
  }

  void Configure() {
    const std::string delay = GetEnv("ESCDELAY");
    escDelay_ = kDefaultEscDelayMs;
    if (!delay.empty()) {
      const int v = std::atoi(delay.c_str());
      if (v >= 0 && v <= 10000) escDelay_ = v;
    }
    set_escdelay(escDelay_);
    mouseinterval(0);
    // The terminal database says whether the terminal reports the mouse.
    const char* kmous = tigetstr(const_cast<char*>("kmous"));
    mouseButtons_ = (kmous != nullptr && kmous != reinterpret_cast<char*>(-1)) ? 3 : 0;
  }

 private:
  std::size_t Index(int row, int column) const {
    return static_cast<std::size_t>((row - 1) * columns_ + (column - 1));
  }
  Cell& At(int row, int column) { return cells_[Index(row, column)]; }

  void SetUpColours() {
    if (!has_colors()) return;
    start_color();
    if (COLORS >= 16 && COLOR_PAIRS >= 257) {
      mode_ = ColourMode::kSixteen;
      for (int a = 0; a < 256; ++a) {
        const short fg = static_cast<short>(kPcToCurses[a & 7] + ((a & 8) ? 8 : 0));
        const short bg = static_cast<short>(kPcToCurses[(a >> 4) & 7] + ((a & 128) ? 8 : 0));
        init_pair(static_cast<short>(a + 1), fg, bg);
      }
    } else if (COLOR_PAIRS >= 64) {
      mode_ = ColourMode::kEight;
      // Pair 0 is the terminal's own default, taken as light grey on black.
      for (int fg = 0; fg < 8; ++fg)
        for (int bg = 0; bg < 8; ++bg) {
          const int pair = EightColourPair(fg, bg);
          if (pair != 0)
            init_pair(static_cast<short>(pair), kPcToCurses[static_cast<std::size_t>(fg)],
                      kPcToCurses[static_cast<std::size_t>(bg)]);
        }
    }
  }

  static int EightColourPair(int fg, int bg) { return bg * 8 + (fg ^ 7); }

  void Draw(int row, int column) {
    if (suspended_) return;
    const Cell& cell = cells_[Index(row, column)];
    wchar_t text[2] = {static_cast<wchar_t>(base::Cp850ToUnicode(cell.ch)), 0};
    if (cell.ch == 0) text[0] = L' ';
    attr_t attrs = A_NORMAL;
    short pair = 0;
    const int fg = cell.attr & 15, bg = cell.attr >> 4;
    switch (mode_) {
      case ColourMode::kSixteen:
        pair = static_cast<short>(cell.attr + 1);
        break;
      case ColourMode::kEight:
        pair = static_cast<short>(EightColourPair(fg & 7, bg & 7));
        if (fg & 8) attrs |= A_BOLD;
        break;
      case ColourMode::kNone:
        if (bg != 0) attrs |= A_REVERSE;
        if (fg & 8) attrs |= A_BOLD;
        break;
    }
    cchar_t cc;
    setcchar(&cc, text, attrs, pair, nullptr);
    // The bottom right cell reports an error once written: expected.
    mvwadd_wch(stdscr, row - 1, column - 1, &cc);
  }

  void RedrawAll() {
    for (int r = 1; r <= rows_; ++r)
      for (int c = 1; c <= columns_; ++c) Draw(r, c);
  }

  // The grid takes the terminal's new size, keeping the cells that still
  // fit; the screen placed on it notices the change and redraws itself.
  void Resize() {
    int rows = 0, columns = 0;
    getmaxyx(stdscr, rows, columns);
    if (rows >= 1 && columns >= 1 && (rows != rows_ || columns != columns_)) {
      std::vector<Cell> cells(static_cast<std::size_t>(rows * columns));
      for (int r = 1; r <= std::min(rows, rows_); ++r)
        for (int c = 1; c <= std::min(columns, columns_); ++c)
          cells[static_cast<std::size_t>((r - 1) * columns + (c - 1))] = cells_[Index(r, c)];
      cells_ = std::move(cells);
      rows_ = rows;
      columns_ = columns;
      row_ = std::min(row_, rows_);
      column_ = std::min(column_, columns_);
    }
    RedrawAll();
    clearok(curscr, TRUE);
  }

  // Decodes what can be decoded of the raw bytes into the queue.
  void Settle(bool moreMayCome) {
    while (!pending_.empty()) {
      DecodedBytes d = DecodeBytes(pending_, moreMayCome);
      if (d.used == 0) return;
      pending_.erase(0, d.used);
      if (d.event.kind != InputEvent::Kind::kNone) queue_.push_back(d.event);
    }
  }

  void TakeCursesKey(int code) {
    if (code == KEY_RESIZE) {
      Resize();
      return;
    }
    const bool altPrefix = pending_ == "\x1b";
    if (!altPrefix) Settle(false);
    pending_.clear();
    if (code == KEY_MOUSE) {
      MEVENT m{};
      if (getmouse(&m) == OK && mouseOn_ && (m.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))) {
        InputEvent e;
        e.kind = InputEvent::Kind::kMouse;
        e.buttons = 1;
        e.row = m.y + 1;
        e.column = m.x + 1;
        queue_.push_back(e);
      }
      return;
    }
    const char* name = keyname(code);
    if (!name) return;
    auto e = DecodeKeyName(name);
    if (!e) return;
    queue_.push_back(altPrefix ? WithAlt(*e) : *e);
  }

  enum class ColourMode { kNone, kEight, kSixteen };

  SCREEN* screen_;
  std::FILE* out_;
  int inFd_;
  int rows_, columns_;
  std::vector<Cell> cells_;
  int row_ = 1, column_ = 1;
  std::uint8_t attr_ = 7;
  bool cursorShown_ = true;
  int cursorSize_ = 25;
  ColourMode mode_ = ColourMode::kNone;
  int escDelay_ = kDefaultEscDelayMs;
  bool insert_ = false;
  bool mouseOn_ = false;
  int mouseButtons_ = 0;
  bool suspended_ = false;
  std::string clipboard_;
  std::string pending_;  // raw UTF-8 bytes not yet decoded
  std::deque<InputEvent> queue_;
  bool altHeld_ = false;
  std::int64_t altSince_ = 0;
  struct sigaction interruptAction_ {};  // SIGINT's action while suspended
};

}  // namespace

void RestoreCursesTerminal() {
  if (g_open.exchange(false)) {
    endwin();
    if (g_output != nullptr && g_restoreRows > 0) {
      // The window grew at our request: give it its own size back.
      std::fprintf(g_output, "\x1b[8;%d;%dt", g_restoreRows, g_restoreColumns);
      std::fflush(g_output);
      g_restoreRows = g_restoreColumns = 0;
    }
    std::fflush(stdout);
  }
  ReleaseStandardError();
}

std::unique_ptr<Terminal> OpenCursesTerminal(std::string& error) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    error = "standard input and output must be a terminal";
    return nullptr;
  }
  std::setlocale(LC_ALL, "");
  const std::string type = GetEnv("TERM");
  std::unique_ptr<Terminal> terminal = OpenCursesTerminalOn(stdout, stdin, type, error);
  if (terminal) HoldStandardError();
  return terminal;
}

std::unique_ptr<Terminal> OpenCursesTerminalOn(std::FILE* out, std::FILE* in,
                                               const std::string& termType,
                                               std::string& error) {
  if (g_open || g_instance) {
    error = "the terminal is already open";
    return nullptr;
  }
  // The screen shows code page 850 through Unicode: without a UTF-8
  // locale the box characters and accents would be lost.
  if (!LocaleIsUtf8()) std::setlocale(LC_CTYPE, "C.UTF-8");
  if (!CanShowScreens(termType, error)) return nullptr;
  SCREEN* screen = newterm(termType.c_str(), out, in);
  if (!screen) {
    error = "the terminal type \"" + termType + "\" is not known";
    return nullptr;
  }
  set_term(screen);
  g_open = true;
  int rows = 0, columns = 0;
  getmaxyx(stdscr, rows, columns);
  InstallExitHandlers();
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  meta(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  scrollok(stdscr, FALSE);
  leaveok(stdscr, FALSE);
  auto terminal = std::make_unique<CursesTerminal>(screen, out, in, rows, columns);
  terminal->Configure();
  terminal->ShowCursor(25);
  terminal->Flush();
  return terminal;
}

}  // namespace platform
