#include "console/key_options.h"

#include "base/little_endian.h"
#include "base/strings.h"

namespace console {

KeyOptionState& KeyOptions() {
  static KeyOptionState state;
  return state;
}

void ResetKeyOptions() { KeyOptions() = KeyOptionState{}; }

std::string KeyImage(std::int16_t key) {
  std::string image(2, '\0');
  base::WriteLe<std::int16_t>(image, 0, key);
  return image;
}

std::size_t FindKeyCode(std::string_view codes, std::int16_t key) {
  const std::string image = KeyImage(key);
  std::size_t from = 0;
  while (true) {
    const std::size_t hit = codes.find(image, from);
    if (hit == std::string_view::npos) return hit;
    if (hit % 2 == 0) return hit;  // a code boundary (odd position counting from 1)
    from = hit + 1;
  }
}

namespace {

// The value of a hexadecimal digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::int16_t HexKey(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) break;
    // Only the last four digits count: a key code is 16 bits.
    value = (value << 4 | static_cast<std::uint32_t>(d)) & 0xFFFFu;
  }
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

namespace {

std::vector<std::string_view> Items(std::string_view keys) {
  std::vector<std::string_view> items;
  std::size_t p = 0;
  while (true) {
    const std::size_t comma = keys.find(',', p);
    items.push_back(keys.substr(p, comma == std::string_view::npos ? std::string_view::npos : comma - p));
    if (comma == std::string_view::npos) break;
    p = comma + 1;
  }
  return items;
}

}  // namespace

void SetKeyOptions(std::string_view commands, std::string_view keyList) {
  KeyOptionState& s = KeyOptions();
  for (char raw : commands) {
    switch (base::AsciiUpper(raw)) {
      case 'E':
        s.ExitKeys.clear();
        s.ExitKeyResults.clear();
        break;
      case 'A':
        for (std::string_view item : Items(keyList)) {
          const std::size_t eq = item.find('=');
          const std::int16_t key = HexKey(item.substr(0, eq));
          const std::int16_t result = eq == std::string_view::npos ? key : HexKey(item.substr(eq + 1));
          s.ExitKeys += KeyImage(key);
          s.ExitKeyResults += KeyImage(result);
        }
        break;
      case 'D':
        for (std::string_view item : Items(keyList)) {
          const std::size_t at = FindKeyCode(s.ExitKeys, HexKey(item));
          if (at == std::string::npos) continue;
          s.ExitKeys.erase(at, 2);
          if (at + 2 <= s.ExitKeyResults.size()) s.ExitKeyResults.erase(at, 2);
        }
        break;
      case '+':
        s.saved.emplace_back(s.ExitKeys, s.ExitKeyResults);
        break;
      case '-':
        if (!s.saved.empty()) {
          s.ExitKeys = std::move(s.saved.back().first);
          s.ExitKeyResults = std::move(s.saved.back().second);
          s.saved.pop_back();
        }
        break;
      case 'H':
        s.MaskChar = 'X';  // hidden text shows an X for every character
        break;
      case 'V':
        s.MaskChar = 0;
        break;
      default:
        break;
    }
  }
}

}  // namespace console
