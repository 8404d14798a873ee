// Text operations shared by the report and the console widgets: upper-case
// folding of code page 850 text, person names in reading order and a
// paragraph formatter.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace format {

// Replacements for the codes 64 to 237 (entry c - 64 for code c); codes
// outside that range are never changed.
inline constexpr int kFoldFirst = 64;
inline constexpr int kFoldLast = 237;
using FoldTable = std::array<char, kFoldLast - kFoldFirst + 1>;

// Unaccented capitals; everything else in the range becomes a blank. Used
// to build search keys.
const FoldTable& KeyFoldTable();
// Capitals with their accents kept; everything else unchanged.
const FoldTable& CaseFoldTable();

// Every code from 64 to 237 replaced through the case fold table.
std::string FoldText(std::string_view text);
// The same through `table`.
std::string FoldText(std::string_view text, const FoldTable& table);

// "GARCIA PUIG*JOAN" -> "JOAN GARCIA PUIG"; "ARTAGNAN*D'" -> "D'ARTAGNAN".
// A name without "*", or starting with it, comes back without surrounding
// blanks.
std::string NameInReadingOrder(std::string_view storedName);

// True when every byte of `text` has the code `code` (also for an empty text).
bool IsAllChar(std::string_view text, std::int16_t code);

// Cuts `text` into lines of `width` characters and replaces it with the
// lines joined. A positive `indent` indents the first line, a negative one
// every line but the first. Control characters take no room. The first
// letter of `alignment` says how a line is padded: "E", "L", "I" blanks on
// the right; "N" dashes on the right; "D", "R" blanks on the left; "C"
// centred; "A", "B" justified (every line but the last); anything else not
// padded.
void WrapText(std::string& text, std::int16_t indent, std::int16_t width, std::string_view alignment);

}  // namespace format
