// The pop-up calculator (Alt+X) and calendar (Alt+C) opened from any field
// being edited; their results are typed into the field by the editor.
#pragma once

#include <string>

namespace console {

// Runs the calculator; the shown value in hundredths after "F", "" after Esc.
// Its state is kept in "KITCALC.TMP" of the terminal's directory.
std::string Calculator();

// Runs the calendar from the session's working date; the chosen date as
// day/month/year text after "F", "" after Esc.
std::string CalendarPopup();

// Hooks Alt+X and Alt+C of the field editor to the two pop-ups, and F4 of
// the form input to the look-up lists.
void InstallLookups();

}  // namespace console
