#include "app/module.h"

#include <unistd.h>

#include "app/clean_up.h"
#include "app/hooks.h"
#include "app/report_screen.h"
#include "app/run.h"
#include "app/saved_file.h"
#include "config/catalog.h"
#include "config/ini.h"
#include "config/built_in_texts.h"
#include "config/session.h"
#include "console/form_file.h"
#include "console/form_input.h"
#include "console/window_stack.h"
#include "data/files.h"
#include "data/locks.h"
#include "data/notice.h"
#include "format/numbers.h"
#include "platform/host_path.h"

namespace app {
namespace {

float Rate(std::string_view section) {
  const std::string file = config::Session().RootDir + "Vora.ini";
  return static_cast<float>(format::NumberValue(config::ReadIniValue(file, section, "Honoraris")));
}

// The operator's message for a form file the module cannot use, in the
// session's language; the technical detail goes to standard error.
std::string FormFileMessage(const std::string& path, bool missing) {
  using config::InSessionLanguage;
  return std::string(InSessionLanguage(config::texts::kFormFile)) + path +
         std::string(InSessionLanguage(missing ? config::texts::kCannotBeRead : config::texts::kIsDamaged));
}

}  // namespace

FeeSettings ReadFeeSettings() {
  FeeSettings f;
  f.LetterheadSetting = config::ReadIniValue(config::Session().RootDir + "Vora.ini", "Rebut", "Membret");
  f.VatRate = {Rate("Iva0"), Rate("Iva1")};
  f.WithholdingRate = {Rate("Ret0"), Rate("Ret1")};
  return f;
}

std::string PrepareModule(std::string& detail) {
  detail.clear();
  config::LoadSession();
  const config::SessionSettings& session = config::Session();
  if (!session.RootDir.empty()) {
    const std::string root = platform::HostPathOrRaw(session.RootDir);
    if (::chdir(root.c_str()) != 0) {
      detail = "the suite root " + session.RootDir + " (KITROOT) cannot be entered";
      return "The suite root " + session.RootDir + " cannot be entered.";
    }
  }
  // Two programs on one temporary folder would share its working, print and
  // screen files, and the last to save a budget would win.
  const data::TempFolderClaim claim = data::ClaimTempFolder();
  if (!claim.claimed) {
    // For standard error once the terminal is back: written now, it would
    // land across the screen.
    detail = claim.detail;
    return claim.message;
  }
  console::FormFileResult forms = console::LoadFormFile(session.RootDir, kModuleName);
  if (!forms.ok()) {
    // The technical detail, for standard error once the terminal is back.
    detail = forms.error;
    if (session.RootDir.empty())
      detail.insert(0, "KITROOT is not set (it names the suite root, for example KITROOT=/srv/kit/): ");
    return FormFileMessage(session.RootDir + "FORMS\\" + std::string(kModuleName) + ".JPN", forms.missing);
  }
  console::FormState& state = console::Forms();
  state.forms = std::move(forms.forms);
  state.helpTopic = session.MenuName;
  SetStartDefaults();
  return std::string();
}

int RunModule(Report& report, std::string& startProblem) {
  const std::string problem = PrepareModule(startProblem);
  // The window stack is shared with the other programs of the workstation:
  // however this run ends, it leaves the file as it found it.
  CleanUp windowStack([saved = SavedFile(console::WindowStackPath())] { saved.PutBack(); });
  if (!problem.empty()) {
    // Running on without screens would show nothing and do nothing.
    data::Notice& notice = data::CurrentNotice();
    notice.Show(problem, 12);
    notice.Beep();
    notice.WaitKey();
    notice.Hide();
    return 1;
  }
  CleanUp closeFiles([] { data::ResetDataFiles(); });
  OpenModuleFiles(report.areas);
  report.fees = ReadFeeSettings();
  ModuleHooks hooks(report);
  console::ScopedFormHooks installed(hooks);
  ConsoleReportScreen screen;
  const bool allWell = RunReport(report, screen);
  closeFiles.RunNow();
  return allWell ? 0 : platform::kExitFailure;
}

}  // namespace app
