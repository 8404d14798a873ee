#include "base/cp850.h"

namespace base {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf8ToCp850(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    auto d = detail::DecodeUtf8(utf8.data(), i, utf8.size());
    auto b = UnicodeToCp850(d.cp);
    out += b ? static_cast<char>(*b) : '?';
    i += d.length;
  }
  return out;
}

std::string Cp850ToUtf8(std::string_view cp850, bool glyphs) {
  std::string out;
  out.reserve(cp850.size() * 2);
  for (char c : cp850) {
    auto b = static_cast<std::uint8_t>(c);
    if (!glyphs && (b < 32 || b == 127))
      out += c;
    else
      AppendUtf8(out, Cp850ToUnicode(b));
  }
  return out;
}

std::string BlankControlBytes(std::string cp850) {
  for (char& c : cp850) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 31 || b == 127 || b == 255) c = ' ';
  }
  return cp850;
}

}  // namespace base
