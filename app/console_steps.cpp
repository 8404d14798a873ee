#include "app/console_steps.h"

#include "app/run.h"
#include "console/messages.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "platform/terminal.h"

namespace app {

void InstallConsoleSteps() {
  ReportSteps& steps = Steps();
  steps.ClearScreen = [] {
    console::SetStyle("");
    if (!platform::HasTerminal()) return;
    platform::Terminal& terminal = platform::CurrentTerminal();
    terminal.Scroll(1, 1, terminal.Rows(), terminal.Columns(), terminal.Rows());
    terminal.Flush();
  };
  steps.ShowMessage = [](const std::string& text) { console::ShowMessage(12, text); };
  steps.PopWindow = [] { console::PopWindow(); };
  steps.SuspendTerminal = [] {
    if (platform::HasTerminal()) platform::CurrentTerminal().Suspend();
  };
  steps.ResumeTerminal = [] {
    if (platform::HasTerminal()) platform::CurrentTerminal().Resume();
  };
}

}  // namespace app
