// Which keys end a field and what the caller sees for them, and hidden
// (password-style) display, set by one-letter commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace console {

struct KeyOptionState {
  std::string ExitKeys;        // 2-byte little-endian key codes; empty = any key ends
  std::string ExitKeyResults;  // the code reported for the key at the same place
  std::int16_t MaskChar = 0;   // 0 shows the text, else drawn with this character
  std::vector<std::pair<std::string, std::string>> saved;
};

KeyOptionState& KeyOptions();
void ResetKeyOptions();

// Commands (any case): "E" empty, "A" add keys (k or k=r, hexadecimal),
// "D" delete keys, "+" save, "-" restore, "H" hidden, "V" visible.
void SetKeyOptions(std::string_view commands, std::string_view keyList);

// The 2-byte image of a key code as kept in the tables.
std::string KeyImage(std::int16_t key);

// Byte offset of `key` in `codes` at a code boundary, or npos.
std::size_t FindKeyCode(std::string_view codes, std::int16_t key);

// The value of "0" + text read as hexadecimal (stops at the first non-digit).
std::int16_t HexKey(std::string_view text);

}  // namespace console
