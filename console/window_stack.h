// Pop-up windows: the screen area under each one is saved in "WinPush.tmp"
// in the temporary directory, one record per open window, and restored when
// it closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace console {

// Saves the area (screen rows and columns, inclusive) and makes it the
// current window. An area outside the screen does nothing.
void PushWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right);

// Closes the current window, restoring the cells, the cursor and the window
// below. A missing, empty or damaged stack file closes nothing and is
// deleted, so a crashed run cannot make later programs fail. While the file
// cannot be read or written (a directory in its place, a full disk) the
// stack is kept in memory instead, so windows still close as they opened.
void PopWindow();

// The host path of the stack file.
std::string WindowStackPath();

// The newest record of a stack: what PopWindow restores.
struct SavedArea {
  int cursorRow = 0, cursorColumn = 0;
  // The window that was current before this one.
  int previousTop = 0, previousLeft = 0, previousBottom = 0, previousRight = 0;
  // The saved area, screen rows and columns.
  int top = 0, left = 0, bottom = 0, right = 0;
  std::string cells;      // character and attribute of each cell, row by row
  std::size_t start = 0;  // where the record begins in the stack's bytes
};

enum class StackTop {
  kNoStack,  // 3 bytes or fewer: no stack at all
  kEmpty,    // a stack without records
  kDamaged,  // a start pointer or record that cannot be right
  kArea,     // a record to restore
};

// Reads the newest record of the stack's bytes into `area`.
StackTop ReadStackTop(std::string_view bytes, SavedArea& area);

}  // namespace console
