// Windows-1252 texts written readably: "FICHÈR"_cp1252.
//
// The record layer's Aranese notices were written on Windows and reach the
// console as Windows-1252 bytes, which code page 850 shows as other letters;
// the suite shows them that way and so do we. Only the Latin-1 letters
// (U+00A0 to U+00FF, one byte each) are accepted.
#pragma once

#include <array>
#include <string_view>

#include "base/cp850.h"

namespace base {
namespace detail {

template <Utf8Literal L>
struct Windows1252Literal {
  static constexpr auto Convert() {
    struct Result {
      std::array<char, sizeof(L.bytes)> data{};
      std::size_t size = 0;
    } r;
    constexpr std::size_t n = sizeof(L.bytes) - 1;  // without the final zero
    for (std::size_t i = 0; i < n;) {
      auto d = DecodeUtf8(L.bytes, i, n);
      if (d.cp > 0xFF || (d.cp >= 0x80 && d.cp < 0xA0))
        throw "character outside the Latin-1 letters of Windows-1252";  // compile-time error
      r.data[r.size++] = static_cast<char>(d.cp);
      i += d.length;
    }
    return r;
  }
  static constexpr auto value = Convert();
};

}  // namespace detail

// "texts with accents"_cp1252: the Windows-1252 bytes of a UTF-8 literal.
template <detail::Utf8Literal L>
constexpr std::string_view operator""_cp1252() {
  return {detail::Windows1252Literal<L>::value.data.data(), detail::Windows1252Literal<L>::value.size};
}

}  // namespace base

using base::operator""_cp1252;
