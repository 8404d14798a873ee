// Plugs the console's screen primitives into the form input.
#pragma once

namespace console {

// Fills Forms().ui with the console functions (the look-up list is left
// to whoever provides it).
void InstallConsoleUi();

}  // namespace console
