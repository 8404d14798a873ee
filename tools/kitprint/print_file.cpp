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

ParsedLine ParsePrintLine(std::string_view line) {
  ParsedLine parsed;
  const bool tooLong = line.size() >= kLongestPrintLine;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (base::Trim(line, " \t").empty()) return parsed;
  auto problem = [&](std::string message) {
    parsed.kind = ParsedLine::Kind::kProblem;
    parsed.problem = std::move(message);
    return std::move(parsed);
  };
  auto item = [&](PrintItem value) {
    parsed.kind = ParsedLine::Kind::kItem;
    parsed.item = std::move(value);
    return std::move(parsed);
  };
  // No print line is anywhere near this long: what the reader cut short
  // (a file without line ends) is reported, not printed.
  if (tooLong) return problem("line of " + std::to_string(kLongestPrintLine) + " bytes or more");

  if (StartsWith(line, "DEVICE")) return item(DeviceLine{std::string(base::Trim(line.substr(6), " \t"))});
  if (StartsWith(line, "PAGE")) {
    auto n = ParseNumber(line.substr(4));
    if (!n || *n < 0) return problem("bad page length");
    if (*n > kMaxPageLength) return problem("page length beyond " + std::to_string(kMaxPageLength));
    return item(PageLine{*n});
  }
  if (StartsWith(line, "JUS")) return item(JustifyLine{std::string(line.substr(3))});
  if (line.front() == '*') return item(CommandLine{std::string(line.substr(1))});
  std::size_t first = line.find(',');
  std::size_t last = line.rfind(',');
  if (first == std::string_view::npos || first == last) return problem("unknown line");
  auto column = ParseNumber(line.substr(0, first));
  auto advance = ParseNumber(line.substr(last + 1));
  if (!column || !advance || *column < 0 || *advance < 0) return problem("bad column or advance");
  if (*column > kMaxColumnOrAdvance || *advance > kMaxColumnOrAdvance)
    return problem("column or advance beyond " + std::to_string(kMaxColumnOrAdvance));
  std::string text(line.substr(first + 1, last - first - 1));
  for (char& c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127 || b == 255) c = ' ';
  }
  return item(TextLine{*column, std::move(text), *advance});
}

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
    ParsedLine parsed = ParsePrintLine(line);
    if (parsed.kind == ParsedLine::Kind::kProblem) {
      file.problems.push_back({lineNumber, std::move(parsed.problem)});
    } else if (parsed.kind == ParsedLine::Kind::kItem) {
      if (const auto* device = std::get_if<DeviceLine>(&parsed.item); device && !file.hasDevice) {
        file.hasDevice = true;
        file.device = device->name;
      }
      file.items.push_back(std::move(parsed.item));
    }
  }
  if (!file.hasDevice) file.problems.push_back({1, kNoDeviceProblem});
  return file;
}

}  // namespace kitprint
