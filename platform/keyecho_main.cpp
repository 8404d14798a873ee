// keyecho REPORT STOPKEY [THROWKEY]
//
// Opens the real terminal with the module's 80 x 25 screen placed on it
// (platform/fixed_screen.h), draws a double frame with an accented title and
// writes every key it reads to REPORT as "key <hex code> <hex modifiers>"
// (mouse clicks as "mouse <row> <column>") until the key STOPKEY (hex)
// arrives. "ready <pid>" is written once the screen is drawn. THROWKEY throws an
// exception nobody catches, to see the terminal given back on that path
// too. Used by the terminal test and handy for seeing what a terminal sends.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/cp850.h"
#include "platform/curses_terminal.h"
#include "platform/fixed_screen.h"
#include "platform/session_end.h"

namespace {

void DrawScreen(platform::Terminal& t) {
  using namespace std::literals;
  t.SetColour(15, 1);
  const int width = 40;
  const int top = 3, left = 10, bottom = 9;
  t.SetCursor(top, left);
  t.Write("\xc9" + std::string(width - 2, '\xcd') + "\xbb");  // ╔═╗
  for (int r = top + 1; r < bottom; ++r) {
    t.SetCursor(r, left);
    t.Write("\xba" + std::string(width - 2, ' ') + "\xba");  // ║ ║
  }
  t.SetCursor(bottom, left);
  t.Write("\xc8" + std::string(width - 2, '\xcd') + "\xbc");  // ╚═╝
  t.SetCursor(top + 2, left + 2);
  t.Write("PÀGINA Ç àéíòú ñ €"_cp);
  t.SetColour(14, 4);
  t.SetCursor(top + 4, left + 2);
  t.Write("┌─┐ └─┘ │"_cp);
  t.SetColour(7, 0);
  t.SetCursor(25, 1);
  t.Write("keyecho");
  t.SetCursor(top + 6, left + 2);
  t.Flush();
}

}  // namespace

// Reports every key and click until the stop key.
void EchoKeys(platform::Terminal& terminal, std::FILE* report, unsigned long stopKey, unsigned long throwKey) {
  for (;;) {
    platform::InputEvent e = terminal.Poll(1000);
    if (e.kind == platform::InputEvent::Kind::kMouse) {
      std::fprintf(report, "mouse %d %d\n", e.row, e.column);
    } else if (e.kind == platform::InputEvent::Kind::kKey) {
      std::fprintf(report, "key %x %x\n", e.key, e.modifiers);
      std::fflush(report);
      if (e.key == stopKey) return;
      if (e.key == throwKey) throw std::runtime_error("keyecho: the throw key was pressed");
    } else {
      continue;
    }
    std::fflush(report);
  }
}

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: keyecho REPORT STOPKEY [THROWKEY]\n");
    return 2;
  }
  std::FILE* report = std::fopen(argv[1], "w");
  if (!report) {
    std::fprintf(stderr, "keyecho: cannot write %s\n", argv[1]);
    return 2;
  }
  const unsigned long stopKey = std::strtoul(argv[2], nullptr, 16);
  const unsigned long throwKey = argc == 4 ? std::strtoul(argv[3], nullptr, 16) : 0x10000;
  std::string error;
  std::unique_ptr<platform::Terminal> terminal = platform::OpenCursesTerminal(error);
  // The module's 80 x 25 screen on it, as repquota has it.
  if (terminal) terminal = platform::OpenFixedScreen(std::move(terminal));
  if (!terminal) {
    std::fprintf(stderr, "keyecho: %s\n", error.c_str());
    std::fprintf(report, "error: %s\n", error.c_str());
    std::fclose(report);
    return 1;
  }
  terminal->EnableMouse(true);
  DrawScreen(*terminal);
  std::fprintf(report, "ready %ld\n", static_cast<long>(getpid()));
  std::fflush(report);
  try {
    EchoKeys(*terminal, report, stopKey, throwKey);
  } catch (const platform::SessionEnded& ended) {
    // The terminal went away (hang-up, input lost): the screen back and the
    // reason said, as the module does.
    terminal.reset();
    std::fprintf(report, "ended: %s\n", ended.reason.c_str());
    std::fclose(report);
    if (!ended.reason.empty()) std::fprintf(stderr, "keyecho: %s\n", ended.reason.c_str());
    return ended.exitStatus;
  }
  terminal.reset();
  std::fputs("end\n", report);
  std::fclose(report);
  return 0;
}
