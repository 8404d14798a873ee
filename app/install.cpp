#include "app/install.h"

#include "console/calculator.h"
#include "console/console_ui.h"
#include "console/data_notices.h"

namespace app {

void InstallModuleParts() {
  console::InstallConsoleUi();
  console::InstallDataNotices();
  console::InstallLookups();
}

}  // namespace app
