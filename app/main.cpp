// repquota: next period's budget of a property, its distribution over the
// owners, the receipts' instalments and the two listings.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/batch.h"
#include "app/install.h"
#include "app/module.h"
#include "app/report.h"
#include "console/size_notice.h"
#include "platform/curses_terminal.h"
#include "platform/fixed_screen.h"
#include "platform/scripted_terminal.h"
#include "platform/session_end.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/terminal.h"

namespace {

constexpr const char* kUsage =
    "Usage: repquota\n"
    "       repquota batch [OPTION]... [CODES]...\n"
    "Budget and distribution of expenses of a property, on the text console.\n"
    "\n"
    "\"repquota batch\" prepares the budgets of many properties at once, without\n"
    "a terminal, with the options of the screens on the command line or in an\n"
    "INI file; its listings go to print files and PDF documents, its figures to\n"
    "CSV files, and a summary to standard output (\"repquota batch --help\").\n"
    "\n"
    "The screen is 80 columns by 25 rows. A larger terminal shows it in its\n"
    "middle. A terminal of 24 rows (80 x 24) is asked to grow to 25; when it\n"
    "cannot, it shows 24 of the 25 rows and follows the cursor and the open\n"
    "window. While the terminal is smaller than 80 x 24 a line says the size\n"
    "needed and keys are ignored; the screen comes back as it was once the\n"
    "terminal is large enough. A terminal type that cannot show full screens\n"
    "(TERM=dumb, an unknown type) is refused.\n"
    "\n"
    "Environment:\n"
    "  KITROOT     suite root (data, forms, catalogue, help); a final \"/\" is\n"
    "              added when it has none\n"
    "  KITTMP      temporary directory of this workstation (Sessio.ini, VoraTerm.ini,\n"
    "              the working and print files)\n"
    "  KITEXE      directory of the print program KITPRINT\n"
    "  KIT_KEYS    a key script: run on a scripted terminal instead of the real one\n"
    "  KIT_SCREEN  with KIT_KEYS: file the screen dumps are appended to\n"
    "  KIT_SCREEN_SIZE\n"
    "              with KIT_KEYS: the scripted terminal's size as COLUMNSxROWS\n"
    "              (default 80x25, for example 120x40); dumps show its cells\n"
    "              and {Click R C} takes its rows and columns; {Resize 70x20}\n"
    "              in the script resizes it\n"
    "  Relative KIT_KEYS and KIT_SCREEN paths are taken from the directory\n"
    "  repquota was started in.\n"
    "\n"
    "  KITDB       a PostgreSQL connection string (libpq), for example\n"
    "              \"host=server dbname=kit\": the data files are tables on that server\n"
    "              instead of SQLite files under KITROOT (unset or empty: files);\n"
    "              the program locks are kept there too instead of in KITROOT/LOCKS\n"
    "  KITDB_SCHEMA  with KITDB: the schema of this suite root's files (default kit)\n"
    "\n"
    "Leave the first screen with Esc to end the program.\n"
    "\n"
    "Each session needs a temporary directory of its own: a second repquota on a\n"
    "KITTMP already in use by a running program says so and ends with status 1.\n"
    "\n"
    "Exit status:\n"
    "  0    the operator ended the program\n"
    "  1    a failure the operator was shown: a data file or the form file cannot\n"
    "       be used, a report was stopped by a file that could not be read or\n"
    "       written, or the terminal was lost\n"
    "  2    wrong arguments\n"
    "  3    the key script (KIT_KEYS) ran out; the screen is dumped first\n"
    "  128+N  ended by signal N (SIGHUP 129, SIGINT 130, SIGTERM 143)\n"
    "(\"repquota batch --help\" gives the statuses of the batch.)\n"
    "However it ends, the budget lock is released and the working file\n"
    "(PressupH.tmp) and window stack file (WinPush.tmp) are removed.\n";

// The program changes to the suite root: a path given relative to where
// it was started must keep naming the same file afterwards.
std::string FromStartDirectory(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
}

std::unique_ptr<platform::Terminal> OpenTerminal(std::string& error) {
  std::unique_ptr<platform::Terminal> device;
  const std::string keys = FromStartDirectory(platform::GetEnv("KIT_KEYS"));
  if (!keys.empty()) {
    int rows = platform::kScreenRows, columns = platform::kScreenColumns;
    const std::string size = platform::GetEnv("KIT_SCREEN_SIZE");
    if (!size.empty() && !platform::ParseScreenSize(size, rows, columns)) {
      error = "KIT_SCREEN_SIZE is \"" + size + "\"; it must be COLUMNSxROWS, for example 120x40";
      return nullptr;
    }
    device = platform::OpenScriptedTerminal(keys, FromStartDirectory(platform::GetEnv("KIT_SCREEN")), error, rows,
                                            columns);
  } else {
    device = platform::OpenCursesTerminal(error);
  }
  return platform::OpenFixedScreen(std::move(device), console::TerminalTooSmallNotice);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "batch") == 0) return app::BatchMain({argv + 2, argv + argc});
  if (argc > 1) {
    const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }

  // Termination signals only raise a flag: the waits see it and the run
  // unwinds to here, releasing its locks and removing its files.
  platform::InstallTerminationSignals();

  std::string error;
  std::unique_ptr<platform::Terminal> terminal = OpenTerminal(error);
  if (!terminal) {
    std::fprintf(stderr, "repquota: %s\n", error.c_str());
    return 1;
  }
  platform::SetCurrentTerminal(terminal.get());

  app::InstallModuleParts();

  int status = 0;
  std::string reason, startProblem;
  app::Report report;
  try {
    status = app::RunModule(report, startProblem);
  } catch (const platform::SessionEnded& end) {
    status = end.exitStatus;
    reason = end.reason;
  }
  platform::SetCurrentTerminal(nullptr);
  terminal.reset();  // the real terminal is given back before anything is written
  // Said on the screen already; said again where it stays once the
  // terminal is given back.
  if (!startProblem.empty()) std::fprintf(stderr, "repquota: %s\n", startProblem.c_str());
  if (!reason.empty()) std::fprintf(stderr, "%s\n", reason.c_str());
  return status;
}
