#include "platform/terminal.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
Terminal* g_terminal = nullptr;
}

Terminal& CurrentTerminal() {
  if (!g_terminal) {
    std::fputs("internal error: no terminal set\n", stderr);
    std::abort();
  }
  return *g_terminal;
}

bool HasTerminal() { return g_terminal != nullptr; }

void SetCurrentTerminal(Terminal* terminal) { g_terminal = terminal; }

}  // namespace platform
