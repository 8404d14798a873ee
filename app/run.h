// The report dialogue: parameters, the working budget page by page, the
// print options, printing and the hand-over to the print program, again and
// again until the operator leaves the first screen with Esc.
#pragma once

#include "app/report.h"
#include "app/report_screen.h"

namespace app {

// Default field values set once at start: the working date on screen 1,
// receipt concept 1 on screen 3.
void SetStartDefaults();

// Starts ExeDir + "KITPRINT" and waits for it, the terminal handed over
// meanwhile. One that cannot be started is reported to the operator by
// name; the print file is left for a later print. Returns the program's
// exit status, -1 when it did not start.
int RunPrintProgram(ReportScreen& screen);

// The run loop over the forms (the module's hooks installed); returns when
// screen 1 ends with Esc: true when every run went as the operator asked,
// false when a failure stopped one of them.
//
// A failure of a step (building, paging, saving, printing) stops its run:
// nothing is saved, updated or printed after it, the print file is
// discarded, the working file removed, the budget lock released, and then
// the operator is shown the failure before screen 1 comes back. However the
// loop is left (also by a session that ends and unwinds), the working file
// is removed and the budget lock released.
bool RunReport(Report& report, ReportScreen& screen);

}  // namespace app
