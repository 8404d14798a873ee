#include "app/install.h"

#include "app/budget.h"
#include "app/console_steps.h"
#include "app/listings.h"
#include "console/calculator.h"
#include "console/console_ui.h"
#include "console/data_notices.h"

namespace app {

void InstallModuleParts() {
  console::InstallConsoleUi();
  console::InstallDataNotices();
  console::InstallLookups();
  InstallConsoleSteps();
  InstallBudgetSteps();
  InstallListingSteps();
}

}  // namespace app
