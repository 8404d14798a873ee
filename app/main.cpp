// repquota: next period's budget of a property, its distribution over the
// owners, the receipts' instalments and the two listings.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/install.h"
#include "app/module.h"
#include "platform/curses_terminal.h"
#include "platform/scripted_terminal.h"
#include "platform/session_end.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/terminal.h"

namespace {

constexpr const char* kUsage =
    "Usage: repquota\n"
    "Budget and distribution of expenses of a property, on the text console.\n"
    "\n"
    "Environment:\n"
    "  KITROOT     suite root, ending in a separator (data, forms, catalogue, help)\n"
    "  KITTMP      temporary directory of this workstation (Sessio.ini, VoraTerm.ini,\n"
    "              the working and print files)\n"
    "  KITEXE      directory of the print program KITPRINT\n"
    "  KIT_KEYS    a key script: run on a scripted 80 x 25 screen instead of the terminal\n"
    "  KIT_SCREEN  with KIT_KEYS: file the screen dumps are appended to\n"
    "\n"
    "Leave the first screen with Esc to end the program.\n"
    "\n"
    "Exit status:\n"
    "  0    the operator ended the program\n"
    "  1    a failure the operator was shown: a data file or the form file cannot\n"
    "       be used, a report was stopped by a file that could not be read or\n"
    "       written, or the terminal was lost\n"
    "  2    wrong arguments\n"
    "  3    the key script (KIT_KEYS) ran out; the screen is dumped first\n"
    "  128+N  ended by signal N (SIGHUP 129, SIGINT 130, SIGTERM 143)\n"
    "However it ends, the budget lock is released and the working file\n"
    "(PressupH.tmp) and window stack file (WinPush.tmp) are removed.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }

  // Termination signals only raise a flag: the waits see it and the run
  // unwinds to here, releasing its locks and removing its files.
  platform::InstallTerminationSignals();

  std::string error;
  std::unique_ptr<platform::Terminal> terminal;
  const std::string keys = platform::GetEnv("KIT_KEYS");
  if (!keys.empty()) {
    terminal = platform::OpenScriptedTerminal(keys, platform::GetEnv("KIT_SCREEN"), error);
  } else {
    terminal = platform::OpenCursesTerminal(error);
  }
  if (!terminal) {
    std::fprintf(stderr, "repquota: %s\n", error.c_str());
    return 1;
  }
  platform::SetCurrentTerminal(terminal.get());

  app::InstallModuleParts();

  int status = 0;
  std::string reason;
  try {
    status = app::RunModule();
  } catch (const platform::SessionEnded& end) {
    status = end.exitStatus;
    reason = end.reason;
  }
  platform::SetCurrentTerminal(nullptr);
  terminal.reset();  // the real terminal is given back before anything is written
  if (!reason.empty()) std::fprintf(stderr, "%s\n", reason.c_str());
  return status;
}
