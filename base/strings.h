// Byte-text helpers that need no code page: trimming the blanks that pad
// the suite's fixed-width fields, and upper case of the plain ASCII letters
// its keywords use (units, picture letters, option letters). Accented
// letters are left as they are; format/text.h folds them.
#pragma once

#include <string>
#include <string_view>

namespace base {

// `text` without the characters of `blanks` at its end.
constexpr std::string_view TrimRight(std::string_view text, std::string_view blanks = " ") {
  const std::size_t last = text.find_last_not_of(blanks);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

// `text` without the characters of `blanks` at its start.
constexpr std::string_view TrimLeft(std::string_view text, std::string_view blanks = " ") {
  const std::size_t first = text.find_first_not_of(blanks);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// `text` without the characters of `blanks` at either end.
constexpr std::string_view Trim(std::string_view text, std::string_view blanks = " ") {
  return TrimLeft(TrimRight(text, blanks), blanks);
}

// 'a' to 'z' as capitals; every other byte unchanged.
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }
std::string AsciiUpper(std::string_view text);

}  // namespace base
