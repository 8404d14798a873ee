// The line editor all typed input goes through: edits a fixed-length text
// in place, optionally as a choice among fixed options.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace console {

// "|value,shown|value,shown..." for the next EditField; "" = ordinary field.
void SetFieldOptions(std::string_view options);
const std::string& FieldOptions();

// Row and column relative to the current window (0 = the cursor's);
// width = characters per screen row (0 = length + 1); position 1..length+1.
// On return `key` is the key that ended the edit, translated through the
// exit-key table, and `position` the final cursor position.
void EditField(std::int16_t& row, std::int16_t& column, std::int16_t& width, std::string& text,
               std::int16_t& position, std::int16_t& key);

}  // namespace console
