// The framed message box and the help viewer.
#pragma once

#include <cstdint>
#include <string_view>

namespace console {

// Opens a framed box centred on column 41 holding `text` (wrapped at 76),
// placed by the reference row: one line occupies rows row-3 to row-1. The
// box stays as the current window; the caller closes it with PopWindow.
void ShowMessage(std::int16_t row, std::string_view text);

// Help on `topic`: the suite's document launcher under the windowed
// environment, else the built-in viewer over "AJUDA\" topic ".HLP".
void ShowHelp(std::string_view topic);

}  // namespace console
