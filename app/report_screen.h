// What the run loop does on the screen between the forms: clearing it, the
// message that stays up while the budget is read, and handing the terminal
// over to the print program and back.
#pragma once

#include <string>

namespace app {

class ReportScreen {
 public:
  virtual ~ReportScreen() = default;
  virtual void ClearScreen() = 0;                        // plain style, whole screen blank
  virtual void ShowMessage(const std::string& text) = 0;  // at reference row 12; stays up
  virtual void PopWindow() = 0;                           // removes the message
  virtual void SuspendTerminal() = 0;
  virtual void ResumeTerminal() = 0;
};

// The real one, over the console and the current terminal.
class ConsoleReportScreen final : public ReportScreen {
 public:
  void ClearScreen() override;
  void ShowMessage(const std::string& text) override;
  void PopWindow() override;
  void SuspendTerminal() override;
  void ResumeTerminal() override;
};

}  // namespace app
