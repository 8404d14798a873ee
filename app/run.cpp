#include "app/run.h"

#include "app/budget.h"
#include "app/clean_up.h"
#include "app/distribution.h"
#include "app/hooks.h"
#include "app/listings.h"
#include "config/built_in_texts.h"
#include "config/catalog.h"
#include "config/session.h"
#include "console/form_input.h"
#include "data/files.h"
#include "data/locks.h"
#include "base/cp850.h"
#include "data/notice.h"
#include "format/dates.h"
#include "format/masks.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/system.h"
#include "platform/terminal.h"

namespace app {
namespace {

using namespace console::form_keys;

bool HasScreen(int s) { return s >= 1 && s <= static_cast<int>(console::Forms().forms.screens.size()); }
bool HasField(int s, int j) {
  return HasScreen(s) && j >= 1 && j <= static_cast<int>(console::Forms().forms.Screen(s).fields.size());
}
void SetIfPresent(int s, int j, std::string_view text) {
  if (HasField(s, j)) console::SetFieldValue(s, j, text);
}

// TempDir + "PressupH.tmp" as a host path, removed when it exists (a
// directory of that name with its files too).
void DeleteWorkingFile() {
  platform::CurrentFileSystem().RemoveAll(platform::HostPathOrRaw(config::Session().TempDir + "PressupH.tmp"));
}

}  // namespace

void SetStartDefaults() {
  SetIfPresent(1, 1, format::ShortDateText(config::Session().WorkDate, platform::Now().year));
  SetIfPresent(3, 4, "1");
}

int RunPrintProgram(ReportScreen& screen) {
  const std::string suitePath = config::Session().ExeDir + "KITPRINT";
  const std::string program = platform::HostPathOrRaw(suitePath);
  screen.SuspendTerminal();
  // The operator may read the listings for a while.
  data::BeforeWaiting();
  const int status = platform::RunAndWait(program, {});
  screen.ResumeTerminal();
  if (status == -1) {
    // Silence here would lose the listing: say which program is missing.
    ShowRefusal(config::CatalogText("NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSIÓ "_cp) + suitePath);
  }
  return status;
}

namespace {

// What a receipt update did, for the operator: how many owners got the new
// instalment, in which slot, and the new instalments added up.
std::string ReceiptUpdateText(const ReceiptUpdate& update) {
  std::string total = format::FormatAmount("ZZZ,ZZZ,ZZ9", static_cast<double>(update.Total));
  total.erase(0, total.find_first_not_of(' '));
  return config::CatalogText("REBUTS ACTUALITZATS") + ": " + std::to_string(update.Owners) +
         config::CatalogText(" PROPIETARIS, CONCEPTE ") + std::to_string(update.Slot) +
         config::CatalogText(", SUMA DE LES QUOTES ") + total;
}

// A message the operator reads and lets go with a key.
void ShowNote(const std::string& text) {
  data::Notice& notice = data::CurrentNotice();
  notice.Show(text, 12);
  notice.DiscardKeys();
  notice.WaitKey();
  notice.Hide();
}

// One run after screen 1 was accepted and the budget lock taken: the
// working budget, its pages, the print options, saving and printing, and
// the print program. However it ends (a failure, or the session ending on
// the way), the print file of a run that did not finish is discarded, the
// working file closed and removed and the budget lock released, in that
// order.
StepResult RunBudget(Report& report, ReportScreen& screen) {
  report.receipts = ReceiptUpdate{};
  CleanUp lock([] { data::ReleaseLock("PressupH"); });
  CleanUp working([&report] {
    report.working.Close();
    DeleteWorkingFile();
  });

  screen.ShowMessage(config::CatalogText("LLEGINT PRESSUPOST"));
  DeleteWorkingFile();
  StepResult result =
      report.working.Open() ? StepResult{} : StepResult::Failed(report.working.Failure());
  if (result.ok()) result = BuildBudget(report);
  screen.PopWindow();
  screen.ClearScreen();
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
    result = FillBudgetPage(report, page, lastPage);
    if (!result.ok()) {
      fieldCount = savedCount;
      return result;
    }
    const std::int16_t key = console::RunForm(2, page > 1, !lastPage);
    console::Forms().forms.Screen(2).fieldCount = savedCount;
    result = StoreBudgetPage(report, page);
    if (!result.ok()) return result;
    if (key == kPgUp || key == kPgDn) {
      page += key == kPgUp ? -1 : 1;
      if (page < 1) page = 1;
      continue;
    }
    if (key == kEsc) break;
    if (console::RunForm(3) == kEsc) {
      screen.ClearScreen();
      continue;
    }
    printRequested = true;
    break;
  }

  report.channel.Open(config::Session().OutputDest);
  CleanUp discard([&report] { report.channel.Discard(); });
  if (printRequested) {
    screen.ShowMessage(PrintingMessage(report));
    CleanUp message([&screen] { screen.PopWindow(); });
    // The operator may have been on the budget for a long while: the owners'
    // issues are read again for the instalments written.
    if (report.parameters.UpdatePeriodicity != 0) result = RefreshOwnerIssues(report);
    if (result.ok()) result = SaveStoredBudget(report);
    if (result.ok()) result = PrintReport(report);
    message.RunNow();
    // Receipts written before a later step failed are told with the failure:
    // the operator must not take them for unchanged.
    if (!result.ok() && report.receipts.Made)
      return StepResult::Failed(result.failure() + ". " + ReceiptUpdateText(report.receipts));
    if (!result.ok()) return result;
  }
  discard.Dismiss();
  report.channel.Close();
  if (report.channel.Failed()) {
    // A listing cut short must not reach the print program as if it were
    // whole: it goes, and the operator is told why.
    std::string text = config::CatalogText("NO S'HA POGUT ESCRIURE EL FITXER D'IMPRESSIÓ "_cp) +
                       config::Session().TempDir + "kitprint.tmp: " +
                       config::FileFailureReason(report.channel.FailureError());
    report.channel.Discard();
    if (report.receipts.Made) text += ". " + ReceiptUpdateText(report.receipts);
    return StepResult::Failed(text);
  }
  working.RunNow();
  lock.RunNow();
  // Told once the property is free for other workstations, before the
  // listing takes the screen.
  if (report.receipts.Made) ShowNote(ReceiptUpdateText(report.receipts));
  RunPrintProgram(screen);
  return {};
}

}  // namespace

bool RunReport(Report& report, ReportScreen& screen) {
  bool allWell = true;
  for (;;) {
    screen.ClearScreen();
    if (console::RunForm(1) == kEsc) return allWell;
    const StepResult result = RunBudget(report, screen);
    if (result.ok()) continue;
    // Told after the lock is released: a message left up does not keep
    // other workstations from the property.
    allWell = false;
    ShowRefusal(result.failure());
  }
}

}  // namespace app
