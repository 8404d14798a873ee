// Puts the console under the module: the screen primitives of the forms,
// the data layer's notices on the message box, and the look-up keys.
#pragma once

namespace app {

void InstallModuleParts();

}  // namespace app
