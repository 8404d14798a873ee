// Code page 850 (with the euro sign at byte 213) <-> Unicode.
//
// Every text of the suite is a byte string in code page 850. Source files are
// UTF-8; literals with accents are written readably and turned into code page
// 850 bytes at compile time with the _cp literal:  "PÀGINA "_cp
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace base {

inline constexpr std::array<char32_t, 256> kCp850ToUnicode = {
#include "base/cp850_table.inc"
};

// The code point a byte shows as on screen (bytes 1-31 and 127 as PC glyphs).
constexpr char32_t Cp850ToUnicode(std::uint8_t byte) { return kCp850ToUnicode[byte]; }

// The code page 850 byte for a code point; control characters map to
// themselves as well as from their PC glyphs. Empty when there is none.
constexpr std::optional<std::uint8_t> UnicodeToCp850(char32_t cp) {
  if (cp < 0x80) return static_cast<std::uint8_t>(cp);
  // Printable bytes first: the glyphs of bytes 20 and 21 (pilcrow and
  // section sign) are also the printable bytes 244 and 245.
  for (int b = 128; b < 256; ++b)
    if (kCp850ToUnicode[static_cast<std::size_t>(b)] == cp) return static_cast<std::uint8_t>(b);
  for (int b = 1; b < 32; ++b)
    if (kCp850ToUnicode[static_cast<std::size_t>(b)] == cp) return static_cast<std::uint8_t>(b);
  if (cp == kCp850ToUnicode[127]) return 127;
  return std::nullopt;
}

// UTF-8 text to code page 850; characters without a byte become '?'.
std::string Utf8ToCp850(std::string_view utf8);
// Code page 850 text to UTF-8 (bytes 1-31 and 127 as their PC glyphs when
// `glyphs` is true, else as the control characters themselves).
std::string Cp850ToUtf8(std::string_view cp850, bool glyphs = false);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
// The text with its control bytes (0-31, 127) and byte 255 (a blank that
// does not break) as plain blanks, as the listings print them: a field
// never filled holds zeros, and an escape byte must not reach a terminal.
std::string BlankControlBytes(std::string cp850);

namespace detail {

template <std::size_t N>
struct Utf8Literal {
  char bytes[N]{};
  constexpr Utf8Literal(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) bytes[i] = s[i];
  }
};

struct Decoded {
  char32_t cp;
  std::size_t length;
};

constexpr Decoded DecodeUtf8(const char* s, std::size_t i, std::size_t n) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return {b, 1};
  int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
  char32_t cp = b & (0x3F >> more);
  std::size_t len = 1;
  for (int k = 0; k < more && i + len < n; ++k, ++len)
    cp = (cp << 6) | (static_cast<unsigned char>(s[i + len]) & 0x3F);
  return {cp, len};
}

// The bytes of a UTF-8 literal in a one-byte character set: `ToByte` gives
// each code point's byte, or none, which stops the compilation.
template <Utf8Literal L, auto ToByte>
struct EncodedLiteral {
  static constexpr auto Convert() {
    struct Result {
      std::array<char, sizeof(L.bytes)> data{};
      std::size_t size = 0;
    } r;
    constexpr std::size_t n = sizeof(L.bytes) - 1;  // without the final zero
    for (std::size_t i = 0; i < n;) {
      auto d = DecodeUtf8(L.bytes, i, n);
      auto b = ToByte(d.cp);
      if (!b) throw "character without a byte in the literal's character set";  // compile-time error
      r.data[r.size++] = static_cast<char>(*b);
      i += d.length;
    }
    return r;
  }
  static constexpr auto value = Convert();
};

template <Utf8Literal L>
using Cp850Literal = EncodedLiteral<L, UnicodeToCp850>;

}  // namespace detail

// The code point starting at byte `at` of the UTF-8 `text`, and the bytes it
// takes (a sequence cut short by the end of the text takes what is left).
constexpr detail::Decoded DecodeUtf8(std::string_view text, std::size_t at) {
  return detail::DecodeUtf8(text.data(), at, text.size());
}

// "texts with accents"_cp: the code page 850 bytes of a UTF-8 literal.
template <detail::Utf8Literal L>
constexpr std::string_view operator""_cp() {
  return {detail::Cp850Literal<L>::value.data.data(), detail::Cp850Literal<L>::value.size};
}

}  // namespace base

using base::operator""_cp;
