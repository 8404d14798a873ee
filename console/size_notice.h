// What the screen says while the terminal is too small to show it.
#pragma once

#include <string>

namespace console {

// One line in the session's language (code page 850): the terminal's
// present size and the size needed, "TERMINAL MASSA PETIT (70 x 20): CAL
// 80 x 24 COM A MÍNIM". Fits platform::SizeNotice.
std::string TerminalTooSmallNotice(int neededRows, int neededColumns, int rows, int columns);

}  // namespace console
