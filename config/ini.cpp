#include "config/ini.h"

#include <optional>

#include "base/cp850.h"
#include "base/strings.h"
#include "platform/file_system.h"
#include "platform/host_path.h"

namespace config {
namespace {

constexpr char kEndOfFile = 26;  // Ctrl-Z

bool SameName(std::string_view a, std::string_view b) { return IniUpper(a) == IniUpper(b); }

// The next line of `bytes` from `pos`: it ends at CR LF, LF or CR.
std::optional<std::string_view> NextLine(std::string_view bytes, std::size_t& pos) {
  if (pos >= bytes.size()) return std::nullopt;
  std::size_t end = bytes.find_first_of("\r\n", pos);
  if (end == std::string_view::npos) end = bytes.size();
  std::string_view line = bytes.substr(pos, end - pos);
  pos = end;
  if (pos < bytes.size() && bytes[pos] == '\r') ++pos;
  if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
  return line;
}

}  // namespace

std::string IniUpper(std::string_view text) {
  static constexpr std::string_view small = "äöüéñåç"_cp;
  static constexpr std::string_view capital = "ÄÖÜÉÑÅÇ"_cp;
  std::string out(text);
  for (char& c : out) {
    if (auto i = small.find(c); i != std::string_view::npos) c = capital[i];
    else c = base::AsciiUpper(c);
  }
  return out;
}

std::optional<std::vector<IniLine>> IniSectionLines(std::string_view bytes, std::string_view section) {
  if (auto eof = bytes.find(kEndOfFile); eof != std::string_view::npos) bytes = bytes.substr(0, eof);
  const std::string_view wantedSection = base::Trim(section);

  std::optional<std::vector<IniLine>> lines;
  std::size_t pos = 0;
  int number = 0;
  while (auto next = NextLine(bytes, pos)) {
    ++number;
    std::string_view line = *next;
    // A ";" starts a comment, even inside quotes.
    if (auto semicolon = line.find(';'); semicolon != std::string_view::npos) line = line.substr(0, semicolon);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (base::TrimRight(line).empty()) continue;

    if (!lines) {
      if (line.front() != '[') continue;
      std::string_view name = line.substr(1);
      if (auto close = name.find(']'); close != std::string_view::npos) name = name.substr(0, close);
      if (SameName(base::Trim(name), wantedSection)) lines.emplace();
      continue;
    }
    // Only the first section of that name counts.
    if (line.front() == '[') break;
    IniLine entry;
    entry.number = number;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      entry.key = base::TrimRight(line);
      entry.hasEquals = false;
    } else {
      entry.key = base::TrimRight(line.substr(0, equals));
      entry.value = line.substr(equals + 1);
      if (entry.value.size() > 1 && entry.value.front() == '"' && entry.value.back() == '"')
        entry.value = entry.value.substr(1, entry.value.size() - 2);
    }
    lines->push_back(std::move(entry));
  }
  return lines;
}

std::string IniValueFromBytes(std::string_view bytes, std::string_view section, std::string_view key) {
  const std::optional<std::vector<IniLine>> lines = IniSectionLines(bytes, section);
  if (!lines) return {};
  const std::string_view wantedKey = base::Trim(key);
  for (const IniLine& line : *lines)
    if (line.hasEquals && SameName(line.key, wantedKey)) return line.value;
  return {};
}

std::string ReadIniValue(std::string_view file, std::string_view section, std::string_view key) {
  const std::optional<std::string> path = platform::HostPath(file);
  if (!path || path->empty()) return {};
  // A file that cannot be read (missing, a directory, an I/O error) holds
  // no values.
  const platform::ReadResult read = platform::ReadWholeFile(*path);
  if (!read.ok()) return {};
  return IniValueFromBytes(read.bytes, section, key);
}

}  // namespace config
