// The report dialogue: parameters, the working budget page by page, the
// print options, printing and the hand-over to the print program, again and
// again until the operator leaves the first screen with Esc.
#pragma once

#include <functional>
#include <string>

#include "app/step_result.h"

namespace app {

// The steps of one run that the budget, listing and screen code provide.
// Each is optional; an empty one does nothing (FillBudgetPage then reports
// the last page). A step that fails stops the run: nothing is saved,
// updated or printed after it, the print file is discarded, the working
// file removed, the budget lock released, and the operator is shown the
// failure before screen 1 comes back.
struct ReportSteps {
  std::function<void()> ClearScreen;  // plain style, whole screen blank
  std::function<void(const std::string& text)> ShowMessage;  // at reference row 12, stays up
  std::function<void()> PopWindow;
  // Opens the working budget file, empty (it was deleted just before).
  std::function<StepResult()> OpenWorkingFile;
  std::function<void()> CloseWorkingFile;
  // Periods, what was issued to each owner, and the working budget.
  std::function<StepResult()> BuildBudget;
  // Fills screen 2 with a page and tells whether it is the last one.
  std::function<StepResult(int page, bool& lastPage)> FillBudgetPage;
  std::function<StepResult(int page)> StoreBudgetPage;
  std::function<void()> OpenPrintChannel;
  std::function<StepResult()> SaveStoredBudget;
  std::function<StepResult()> PrintReport;  // both listings, in the alternative currency
  std::function<void()> ClosePrintChannel;
  // Closes the channel and removes what was printed (after a failure).
  std::function<void()> DiscardPrintChannel;
  std::function<void()> ReleaseBudgetLock;  // default: ReleaseLock("PressupH")
  // The failure of a run; default: ShowRefusal.
  std::function<void(const std::string& text)> ShowFailure;
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

// The run loop; returns when screen 1 ends with Esc: true when every run
// went as the operator asked, false when a failure stopped one of them.
// However the loop is left (also by a session that ends and unwinds), the
// working file is removed and the budget lock released.
bool RunReport();

}  // namespace app
