// The session: where the suite lives, who the operator is, how the terminal
// looks and which language to speak. Loaded once at start, read-only after.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace config {

struct ColourPair {
  std::int16_t foreground = 0;
  std::int16_t background = 0;
};

struct SessionSettings {
  std::string RootDir;      // "KITROOT", with "/" appended when it has no separator
  std::string ExeDir;       // "KITEXE", unchanged
  std::string TempDir;      // "KITTMP" + "\" when needed; else TerminalDir
  std::string MenuTitle;    // " " + [Menu] Titol + " "
  std::string MenuName;     // [Menu] NomMenu: the help topic
  std::string MenuEntry;
  std::string MenuChain;
  std::string Operator;
  std::int16_t OperatorType = 0;
  std::string TerminalDir;  // [Terminal] Dir, else "TERM"; "\" appended
  std::array<ColourPair, 5> ColourPairs{};
  std::string WorkDate;     // packed date, 4 bytes (empty when not set)
  std::string OutputDest;   // [Sistema] Sortida
  std::string Language = "   ";        // exactly 3 bytes, blank padded
  std::string RunEnvironment = "DOS";  // "CGI", "WIN" or "DOS"
};

// The process-wide session record.
SessionSettings& Session();
// Back to a default record (tests).
void ResetSession();

// Fills Session() from the environment and the configuration files.
void LoadSession();

}  // namespace config
