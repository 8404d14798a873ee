// The suite's configuration files: INI-style lines read on every lookup,
// nothing cached.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace config {

// The value of `key` in the first `section` of `file`, a suite path (opened
// through the host path mapping). Section and key names are compared
// without regard to case; the value is taken as written, less one pair of
// enclosing double quotes. Empty for a missing file, section or key.
std::string ReadIniValue(std::string_view file, std::string_view section, std::string_view key);

// The same lookup over the bytes of a file already read.
std::string IniValueFromBytes(std::string_view bytes, std::string_view section, std::string_view key);

// A line of a section as a lookup reads it: its number in the file (from
// 1), the key and the value (less one pair of enclosing double quotes).
// A line without "=" has `hasEquals` false and is passed over by lookups.
struct IniLine {
  int number = 0;
  std::string key;
  std::string value;
  bool hasEquals = true;
};

// The lines of the first `section` of the bytes, comments and blank lines
// left out, for a program that checks its own settings file key by key;
// nullopt when the file has no such section.
std::optional<std::vector<IniLine>> IniSectionLines(std::string_view bytes, std::string_view section);

// Upper case as the configuration names compare: "a"-"z" and the code page
// 850 letters ä ö ü é ñ å ç; no other byte changes.
std::string IniUpper(std::string_view text);

}  // namespace config
