// The run loop's screen steps done with the console: clearing the screen,
// the reading message, and handing the terminal to the print program.
#pragma once

namespace app {

// Fills the screen steps of Steps() (ClearScreen, ShowMessage, PopWindow,
// SuspendTerminal, ResumeTerminal).
void InstallConsoleSteps();

}  // namespace app
