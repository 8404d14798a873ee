#include "app/run.h"

#include <filesystem>
#include <system_error>

#include "app/hooks.h"
#include "config/catalog.h"
#include "config/session.h"
#include "console/form_input.h"
#include "data/locks.h"
#include "format/cp850.h"
#include "format/dates.h"
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
  const std::string path = platform::HostPathOrRaw(config::Session().TempDir + "PressupH.tmp");
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
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

void RunReport() {
  ReportSteps& steps = Steps();
  for (;;) {
    Call(steps.ClearScreen);
    if (console::RunForm(1) == kEsc) return;

    Call(steps.ShowMessage, config::CatalogText("LLEGINT PRESSUPOST"));
    DeleteWorkingFile();
    Call(steps.OpenWorkingFile);
    Call(steps.BuildBudget);
    Call(steps.PopWindow);
    Call(steps.ClearScreen);

    SetIfPresent(3, 1, "");
    SetIfPresent(3, 2, "");
    SetIfPresent(3, 3, "0");

    int page = 1;
    bool printRequested = false;
    for (;;) {
      if (!HasScreen(2)) break;
      const std::int16_t savedCount = console::Forms().forms.Screen(2).fieldCount;
      const bool lastPage = steps.FillBudgetPage ? steps.FillBudgetPage(page) : true;
      const std::int16_t key = console::RunForm(2, page > 1, !lastPage);
      console::Forms().forms.Screen(2).fieldCount = savedCount;
      Call(steps.StoreBudgetPage, page);
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
    if (printRequested) {
      Call(steps.SaveStoredBudget);
      Call(steps.PrintReport);
    }
    Call(steps.ClosePrintChannel);
    Call(steps.CloseWorkingFile);
    DeleteWorkingFile();
    if (steps.ReleaseBudgetLock) {
      steps.ReleaseBudgetLock();
    } else {
      data::ReleaseLock("PressupH");
    }
    RunPrintProgram();
  }
}

}  // namespace app
