// Puts the module's parts together: the console under the forms and the
// data layer's notices, and the budget, listing and screen steps of the run.
#pragma once

namespace app {

void InstallModuleParts();

}  // namespace app
