#include "app/report_screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scripted_terminal.h"
#include "platform/terminal.h"

namespace app {
namespace {

// A terminal that notes what was asked of it around the print program.
class NotingTerminal : public platform::ScriptedTerminal {
 public:
  NotingTerminal() : platform::ScriptedTerminal({}, "") {}
  void DiscardInput() override { calls.push_back("discard"); }
  void Suspend() override { calls.push_back("suspend"); }
  void Resume() override { calls.push_back("resume"); }
  std::vector<std::string> calls;
};

// Keys typed while the listings were being made were meant for no one: the
// print program that takes the terminal next must not read them (a stray Esc
// or q would close its pager before the operator saw a page).
TEST(ConsoleReportScreen, KeysTypedBeforeThePrintProgramAreDiscarded) {
  NotingTerminal terminal;
  platform::SetCurrentTerminal(&terminal);
  ConsoleReportScreen screen;
  screen.SuspendTerminal();
  screen.ResumeTerminal();
  platform::SetCurrentTerminal(nullptr);
  EXPECT_EQ(terminal.calls, (std::vector<std::string>{"discard", "suspend", "resume"}));
}

}  // namespace
}  // namespace app
