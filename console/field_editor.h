// The line editor all typed input goes through: edits a fixed-length text
// in place, optionally as a choice among fixed options. This is the drawing
// side; what the keys do is field_edit_model.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/input.h"

namespace console {

// "|value,shown|value,shown..." for the next EditField; "" = ordinary field.
void SetFieldOptions(std::string_view options);
const std::string& FieldOptions();

// Row and column relative to the current window (0 = the cursor's);
// width = characters per screen row (0 = length + 1); position 1..length+1.
// On return `ending` is the key that ended the edit, translated through the
// exit-key table (0 after a click on the field, which moved the cursor), or
// the click outside the field that ended it; `position` is the final cursor
// position. The options, the exit-key table and the hidden-input mask are
// those set by SetFieldOptions and SetKeyOptions.
void EditField(std::int16_t& row, std::int16_t& column, std::int16_t& width, std::string& text,
               std::int16_t& position, Input& ending);

}  // namespace console
