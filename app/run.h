// The report dialogue: parameters, the working budget page by page, the
// print options, printing and the hand-over to the print program, again and
// again until the operator leaves the first screen with Esc.
#pragma once

#include <functional>
#include <string>

namespace app {

// The steps of one run that the budget, listing and screen code provide.
// Each is optional; an empty one does nothing (FillBudgetPage then reports
// the last page).
struct ReportSteps {
  std::function<void()> ClearScreen;  // plain style, whole screen blank
  std::function<void(const std::string& text)> ShowMessage;  // at reference row 12, stays up
  std::function<void()> PopWindow;
  // Opens the working budget file, empty (it was deleted just before).
  std::function<void()> OpenWorkingFile;
  std::function<void()> CloseWorkingFile;
  // Periods, what was issued to each owner, and the working budget.
  std::function<void()> BuildBudget;
  // Fills screen 2 with a page; true when it is the last page.
  std::function<bool(int page)> FillBudgetPage;
  std::function<void(int page)> StoreBudgetPage;
  std::function<void()> OpenPrintChannel;
  std::function<void()> SaveStoredBudget;
  std::function<void()> PrintReport;  // both listings, in the alternative currency
  std::function<void()> ClosePrintChannel;
  std::function<void()> ReleaseBudgetLock;  // default: ReleaseLock("PressupH")
  // Around the print program, which takes the terminal over.
  std::function<void()> SuspendTerminal;
  std::function<void()> ResumeTerminal;
};
ReportSteps& Steps();
void ResetSteps();

// Default field values set once at start: the working date on screen 1,
// receipt concept 1 on screen 3.
void SetStartDefaults();

// TempDir + "PressupH.tmp" as a host path, removed when it exists (a
// directory of that name with its files too).
void DeleteWorkingFile();

// Starts ExeDir + "KITPRINT" and waits for it. One that cannot be started
// is reported to the operator by name; the print file is left for a later
// print. Returns the program's exit status, -1 when it did not start.
int RunPrintProgram();

// The run loop; returns when screen 1 ends with Esc.
void RunReport();

}  // namespace app
