// The pages on the terminal: one page at a time, scrolled with the arrows
// (pager_view.h says how the keys move).
#include <clocale>

#include <curses.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "base/cp850.h"
#include "tools/kitprint/outputs.h"
#include "tools/kitprint/page_stream.h"
#include "tools/kitprint/pager_view.h"
#include "tools/kitprint/texts.h"

namespace kitprint {
namespace {

// Curses waits a whole second after Esc for the rest of a key's sequence,
// so Esc would leave the pager a second late; terminals send a sequence at
// once. ESCDELAY, when set, has the last word, as curses reads it itself.
constexpr int kEscDelayMs = 25;

constexpr int kEsc = 27;
// Columns Left and Right move the page sideways.
constexpr int kSideStep = 8;

// A key after Esc that curses did not know: terminals whose description
// lacks a sequence (tmux's End under TERM=xterm) send Esc and the rest at
// once. A lone Esc leaves the pager; Home and End in their common spellings
// are taken as such; any other sequence is read to its end and ignored.
int ReadAfterEsc() {
  std::string rest;
  nodelay(stdscr, TRUE);
  for (int c = getch(); c != ERR && rest.size() < 16; c = getch()) {
    rest.push_back(static_cast<char>(c));
    // CSI sequences end with a byte from @ to ~, SS3 ones after one letter.
    if (rest.size() >= 2 && ((rest[0] == '[' && c >= '@' && c <= '~') || rest[0] == 'O')) break;
  }
  nodelay(stdscr, FALSE);
  if (rest.empty()) return kEsc;
  if (rest == "[4~" || rest == "[8~" || rest == "[F" || rest == "OF") return KEY_END;
  if (rest == "[1~" || rest == "[7~" || rest == "[H" || rest == "OH") return KEY_HOME;
  return ERR;
}

void StartCurses() {
  std::setlocale(LC_ALL, "");
  initscr();
  if (std::getenv("ESCDELAY") == nullptr) set_escdelay(kEscDelayMs);
  raw();
  noecho();
  keypad(stdscr, TRUE);
  curs_set(0);
  // Keys typed before the pages were shown (while the listings were made)
  // were meant for no one: a stray q or Esc must not close the pager unseen.
  flushinp();
}

// The rows of `page` from the view's top line, `left` columns in, and the
// status line in reverse video on the last row.
void Draw(const Page& page, const PagerView& view, int left, int rows, const std::string& status) {
  erase();
  for (int r = 0; r < rows; ++r) {
    const std::size_t n = static_cast<std::size_t>(view.Top() + r);
    if (n >= page.lines.size()) break;
    const std::string& line = page.lines[n];
    if (static_cast<std::size_t>(left) >= line.size()) continue;
    const std::string part = line.substr(static_cast<std::size_t>(left), static_cast<std::size_t>(COLS));
    mvaddstr(r, 0, base::Cp850ToUtf8(part).c_str());
  }
  // Cut in code page 850, one byte a character, so no character is split.
  const std::string shown = base::Cp850ToUtf8(status.substr(0, static_cast<std::size_t>(std::max(COLS, 0))));
  attron(A_REVERSE);
  mvaddstr(LINES - 1, 0, shown.c_str());
  attroff(A_REVERSE);
  refresh();
}

}  // namespace

void ShowInPager(const IndexedPages& pages) {
  if (pages.Count() == 0) return;
  StartCurses();
  // Only the page on the screen is held; another is read when it is shown
  // (or when a move needs its length).
  Page page = pages.At(0);
  std::size_t held = 0;
  const auto hold = [&](std::size_t i) -> const Page& {
    if (i != held) {
      page = pages.At(i);
      held = i;
    }
    return page;
  };
  PagerView view(pages.Count(), [&](std::size_t i) { return static_cast<int>(hold(i).lines.size()); });
  int left = 0;
  for (;;) {
    const Page& shown = hold(view.Page());
    // The last row is the status line; a terminal of one row shows it alone.
    const int rows = std::max(0, LINES - 1), cols = COLS;
    const std::string status = PagerStatus(view.Page() + 1, pages.Count(), static_cast<std::size_t>(std::max(cols, 0)));
    Draw(shown, view, left, rows, status);
    int key = getch();
    if (key == kEsc) key = ReadAfterEsc();
    if (key == kEsc || key == 'q' || key == 'Q') break;
    // With no row for the pages, only the keys that leave do anything.
    if (rows == 0) continue;
    switch (key) {
      // The keypad's corners and a VT220's Find and Select (what Home and
      // End send under such a description) count as the keys they stand for.
      case KEY_NPAGE: case KEY_C3: case ' ': view.PageDown(rows); break;
      case KEY_PPAGE: case KEY_A3: case 'b': view.PageUp(rows); break;
      case KEY_DOWN: view.LineDown(rows); break;
      case KEY_UP: view.LineUp(); break;
      case KEY_RIGHT: {
        // Only as far as the widest line of the page needs.
        std::size_t widest = 0;
        for (const std::string& line : shown.lines) widest = std::max(widest, line.size());
        if (static_cast<std::size_t>(left + cols) < widest) left += kSideStep;
        break;
      }
      case KEY_LEFT: left = std::max(0, left - kSideStep); break;
      case KEY_HOME: case KEY_A1: case KEY_FIND: view.Home(); left = 0; break;
      case KEY_END: case KEY_C1: case KEY_SELECT: view.End(rows); break;
      default: break;
    }
  }
  endwin();
}

}  // namespace kitprint
