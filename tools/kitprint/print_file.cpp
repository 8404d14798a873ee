#include "tools/kitprint/print_file.h"

#include <cctype>
#include <charconv>
#include <optional>

#include "base/strings.h"

namespace kitprint {
namespace {

// A number as the module prints it: blanks around, an optional minus.
std::optional<int> ParseNumber(std::string_view s) {
  s = base::Trim(s, " \t");
  if (s.empty()) return std::nullopt;
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Far beyond any paper: a damaged number must not make a page of millions
// of lines or columns.
constexpr int kMaxPageLength = 9999;
constexpr int kMaxColumnOrAdvance = 999;

}  // namespace

PrintFile ParsePrintFile(std::string_view bytes) {
  PrintFile file;
  int lineNumber = 0;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (base::Trim(line, " \t").empty()) continue;

    auto problem = [&](std::string message) { file.problems.push_back({lineNumber, std::move(message)}); };

    if (StartsWith(line, "DEVICE")) {
      std::string name(base::Trim(line.substr(6), " \t"));
      if (!file.hasDevice) {
        file.hasDevice = true;
        file.device = name;
      }
      file.items.push_back(DeviceLine{name});
    } else if (StartsWith(line, "PAGE")) {
      auto n = ParseNumber(line.substr(4));
      if (!n || *n < 0)
        problem("bad page length");
      else if (*n > kMaxPageLength)
        problem("page length beyond " + std::to_string(kMaxPageLength));
      else
        file.items.push_back(PageLine{*n});
    } else if (StartsWith(line, "JUS")) {
      file.items.push_back(JustifyLine{std::string(line.substr(3))});
    } else if (line.front() == '*') {
      file.items.push_back(CommandLine{std::string(line.substr(1))});
    } else {
      std::size_t first = line.find(',');
      std::size_t last = line.rfind(',');
      if (first == std::string_view::npos || first == last) {
        problem("unknown line");
        continue;
      }
      auto column = ParseNumber(line.substr(0, first));
      auto advance = ParseNumber(line.substr(last + 1));
      if (!column || !advance || *column < 0 || *advance < 0) {
        problem("bad column or advance");
        continue;
      }
      if (*column > kMaxColumnOrAdvance || *advance > kMaxColumnOrAdvance) {
        problem("column or advance beyond " + std::to_string(kMaxColumnOrAdvance));
        continue;
      }
      std::string text(line.substr(first + 1, last - first - 1));
      for (char& c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127 || b == 255) c = ' ';
      }
      file.items.push_back(TextLine{*column, std::move(text), *advance});
    }
  }
  if (!file.hasDevice) file.problems.push_back({1, "no device line: shown on the screen"});
  return file;
}

}  // namespace kitprint
