// Pop-up windows: the screen area under each one is saved in "WinPush.tmp"
// in the temporary directory, one record per open window, and restored when
// it closes.
#pragma once

#include <cstdint>
#include <string>

namespace console {

// Saves the area (screen rows and columns, inclusive) and makes it the
// current window. An area outside the screen does nothing.
void PushWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right);

// Closes the current window, restoring the cells, the cursor and the window
// below. A missing, empty or damaged stack file closes nothing and is
// deleted, so a crashed run cannot make later programs fail.
void PopWindow();

// The host path of the stack file.
std::string WindowStackPath();

}  // namespace console
