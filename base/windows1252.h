// Windows-1252 texts written readably: "FICHÈR"_cp1252.
//
// The record layer's Aranese notices were written on Windows and reach the
// console as Windows-1252 bytes, which code page 850 shows as other letters;
// the suite shows them that way and so do we. Only the Latin-1 letters
// (U+00A0 to U+00FF, one byte each) are accepted.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/cp850.h"

namespace base {

// The Windows-1252 byte of a code point among ASCII and the Latin-1 letters.
constexpr std::optional<std::uint8_t> UnicodeToWindows1252Letter(char32_t cp) {
  if (cp > 0xFF || (cp >= 0x80 && cp < 0xA0)) return std::nullopt;
  return static_cast<std::uint8_t>(cp);
}

// "texts with accents"_cp1252: the Windows-1252 bytes of a UTF-8 literal.
template <detail::Utf8Literal L>
constexpr std::string_view operator""_cp1252() {
  using Literal = detail::EncodedLiteral<L, UnicodeToWindows1252Letter>;
  return {Literal::value.data.data(), Literal::value.size};
}

}  // namespace base

using base::operator""_cp1252;
