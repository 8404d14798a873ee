#include "app/run.h"

#include "app/clean_up.h"
#include "app/hooks.h"
#include "config/catalog.h"
#include "config/session.h"
#include "console/form_input.h"
#include "data/locks.h"
#include "format/cp850.h"
#include "format/dates.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/system.h"
#include "platform/terminal.h"

namespace app {
namespace {

using namespace console::form_keys;

template <typename F, typename... A>
void Call(const F& f, A&&... a) {
  if (f) f(std::forward<A>(a)...);
}

bool HasScreen(int s) { return s >= 1 && s <= static_cast<int>(console::Forms().forms.screens.size()); }
bool HasField(int s, int j) {
  return HasScreen(s) && j >= 1 && j <= static_cast<int>(console::Forms().forms.Screen(s).fields.size());
}
void SetIfPresent(int s, int j, std::string_view text) {
  if (HasField(s, j)) console::SetFieldValue(s, j, text);
}

}  // namespace

ReportSteps& Steps() {
  static ReportSteps steps;
  return steps;
}
void ResetSteps() { Steps() = ReportSteps{}; }

void SetStartDefaults() {
  SetIfPresent(1, 1, format::ShortDateText(config::Session().WorkDate));
  SetIfPresent(3, 4, "1");
}

void DeleteWorkingFile() {
  platform::CurrentFileSystem().RemoveAll(platform::HostPathOrRaw(config::Session().TempDir + "PressupH.tmp"));
}

int RunPrintProgram() {
  const std::string suitePath = config::Session().ExeDir + "KITPRINT";
  const std::string program = platform::HostPathOrRaw(suitePath);
  Call(Steps().SuspendTerminal);
  const int status = platform::RunAndWait(program, {});
  Call(Steps().ResumeTerminal);
  if (status == -1) {
    // Silence here would lose the listing: say which program is missing.
    ShowRefusal(config::CatalogText("NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSIÓ "_cp) + suitePath);
  }
  return status;
}

namespace {

StepResult Run(const std::function<StepResult()>& step) { return step ? step() : StepResult{}; }

void ReleaseBudgetLock() {
  if (Steps().ReleaseBudgetLock) {
    Steps().ReleaseBudgetLock();
  } else {
    data::ReleaseLock("PressupH");
  }
}

// One run after screen 1 was accepted and the budget lock taken: the
// working budget, its pages, the print options, saving and printing, and
// the print program. However it ends (a failure, or the session ending on
// the way), the print file of a run that did not finish is discarded, the
// working file closed and removed and the budget lock released, in that
// order.
StepResult RunBudget() {
  ReportSteps& steps = Steps();
  CleanUp lock([] { ReleaseBudgetLock(); });
  CleanUp working([&steps] {
    Call(steps.CloseWorkingFile);
    DeleteWorkingFile();
  });

  Call(steps.ShowMessage, config::CatalogText("LLEGINT PRESSUPOST"));
  DeleteWorkingFile();
  StepResult result = Run(steps.OpenWorkingFile);
  if (result.ok()) result = Run(steps.BuildBudget);
  Call(steps.PopWindow);
  Call(steps.ClearScreen);
  if (!result.ok()) return result;

  SetIfPresent(3, 1, "");
  SetIfPresent(3, 2, "");
  SetIfPresent(3, 3, "0");

  int page = 1;
  bool printRequested = false;
  for (;;) {
    if (!HasScreen(2)) break;
    std::int16_t& fieldCount = console::Forms().forms.Screen(2).fieldCount;
    const std::int16_t savedCount = fieldCount;
    bool lastPage = true;
    if (steps.FillBudgetPage) result = steps.FillBudgetPage(page, lastPage);
    if (!result.ok()) {
      fieldCount = savedCount;
      return result;
    }
    const std::int16_t key = console::RunForm(2, page > 1, !lastPage);
    console::Forms().forms.Screen(2).fieldCount = savedCount;
    if (steps.StoreBudgetPage) result = steps.StoreBudgetPage(page);
    if (!result.ok()) return result;
    if (key == kPgUp || key == kPgDn) {
      page += key == kPgUp ? -1 : 1;
      if (page < 1) page = 1;
      continue;
    }
    if (key == kEsc) break;
    if (console::RunForm(3) == kEsc) {
      Call(steps.ClearScreen);
      continue;
    }
    printRequested = true;
    break;
  }

  Call(steps.OpenPrintChannel);
  CleanUp discard([&steps] { Call(steps.DiscardPrintChannel); });
  if (printRequested) {
    result = Run(steps.SaveStoredBudget);
    if (result.ok()) result = Run(steps.PrintReport);
    if (!result.ok()) return result;
  }
  discard.Dismiss();
  Call(steps.ClosePrintChannel);
  working.RunNow();
  lock.RunNow();
  RunPrintProgram();
  return {};
}

}  // namespace

bool RunReport() {
  ReportSteps& steps = Steps();
  bool allWell = true;
  for (;;) {
    Call(steps.ClearScreen);
    if (console::RunForm(1) == kEsc) return allWell;
    const StepResult result = RunBudget();
    if (result.ok()) continue;
    // Told after the lock is released: a message left up does not keep
    // other workstations from the property.
    allWell = false;
    if (steps.ShowFailure) {
      steps.ShowFailure(result.failure());
    } else {
      ShowRefusal(result.failure());
    }
  }
}

}  // namespace app
