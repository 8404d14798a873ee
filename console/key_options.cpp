#include "console/key_options.h"

#include <cctype>

#include "base/little_endian.h"

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

std::int16_t HexKey(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text) {
    const int d = std::isxdigit(static_cast<unsigned char>(c)) ? (std::isdigit(static_cast<unsigned char>(c))
                                                                      ? c - '0'
                                                                      : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10)
                                                                : -1;
    if (d < 0) break;
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
    switch (std::toupper(static_cast<unsigned char>(raw))) {
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
        s.MaskChar = 88;
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
