#include "app/report_screen.h"

#include "console/messages.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "platform/terminal.h"

namespace app {

void ConsoleReportScreen::ClearScreen() {
  console::SetStyle("");
  if (!platform::HasTerminal()) return;
  platform::Terminal& terminal = platform::CurrentTerminal();
  terminal.Scroll(1, 1, terminal.Rows(), terminal.Columns(), terminal.Rows());
  terminal.Flush();
}

void ConsoleReportScreen::ShowMessage(const std::string& text) { console::ShowMessage(12, text); }

void ConsoleReportScreen::PopWindow() { console::PopWindow(); }

void ConsoleReportScreen::SuspendTerminal() {
  if (!platform::HasTerminal()) return;
  platform::Terminal& terminal = platform::CurrentTerminal();
  // Keys typed while the listings were made were meant for no one; the
  // print program reads the same terminal next, and a stray Esc or q would
  // close its pager before the first page was seen.
  terminal.DiscardInput();
  terminal.Suspend();
}

void ConsoleReportScreen::ResumeTerminal() {
  if (platform::HasTerminal()) platform::CurrentTerminal().Resume();
}

}  // namespace app
