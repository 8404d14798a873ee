// The module's start and end: session, root directory, form file, data
// files, fee settings, the report dialogue, and closing everything.
#pragma once

#include <string>
#include <string_view>

#include "app/report.h"

namespace app {

inline constexpr std::string_view kModuleName = "REPQUOTA";

// The settings of RootDir + "Vora.ini" ("Membret" and the four rates).
FeeSettings ReadFeeSettings();

// Session, root directory, form file (with the catalogue), defaults. An
// empty result means ready; otherwise the operator's text of the problem,
// which names the file, and in `detail` the same in the words of standard
// error (which file, which setting) when there is more to say.
std::string PrepareModule(std::string& detail);

// The whole run of `report`: prepare, open, settings, dialogue, close.
// Returns the process's exit status: 0; 1 when the form file cannot be used
// or a failure stopped a report (after the message was shown). A session
// that ends on the way (platform::SessionEnded) passes through, after the
// data files were closed and the window stack file put back as it was.
// `startProblem` receives, as soon as it is known, why the module could not
// start, for standard error once the terminal is given back.
int RunModule(Report& report, std::string& startProblem);

}  // namespace app
