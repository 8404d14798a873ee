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
    "  KITDB       a PostgreSQL connection string (libpq), for example\n"
    "              \"host=server dbname=kit\": the data files are tables on that server\n"
    "              instead of SQLite files under KITROOT (unset or empty: files)\n"
    "  KITDB_SCHEMA  with KITDB: the schema of this suite root's files (default kit)\n"
    "\n"
    "Leave the first screen with Esc to end the program.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }

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

  const int status = app::RunModule();
  platform::SetCurrentTerminal(nullptr);
  terminal.reset();
  return status;
}
