// The print file: what the module writes for the print program.
//
// One record a line, CR LF ended, code page 850:
//   "DEVICE" name            where the output goes
//   "PAGE" n                 a new page of n lines
//   "JUS" code               justification of the following text lines
//   "*" command              a free command for the printer ("@e", "q")
//   column "," text "," adv  a text line
// Numbers are written with a sign position and a trailing blank (" 10 ").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kitprint {

struct DeviceLine {
  std::string name;
};
struct PageLine {
  int length = 0;
};
struct JustifyLine {
  std::string code;
};
struct CommandLine {
  std::string text;
};
struct TextLine {
  int column = 0;
  std::string text;  // code page 850
  int advance = 0;
};

using PrintItem = std::variant<DeviceLine, PageLine, JustifyLine, CommandLine, TextLine>;

struct PrintFileProblem {
  int lineNumber = 0;  // from 1
  std::string message;
};

struct PrintFile {
  std::vector<PrintItem> items;
  std::vector<PrintFileProblem> problems;
  bool hasDevice = false;
  std::string device;  // the first device line's name, blanks trimmed
};

// A line this long or longer is no print line: it is reported, and a
// reader may give just this many bytes of it.
inline constexpr std::size_t kLongestPrintLine = std::size_t{1} << 20;

// One line of a print file, without its line end.
struct ParsedLine {
  enum class Kind { kBlank, kItem, kProblem } kind = Kind::kBlank;
  PrintItem item;
  std::string problem;  // for kProblem
};
ParsedLine ParsePrintLine(std::string_view line);

// The problem reported when a print file has no device line.
inline constexpr const char* kNoDeviceProblem = "no device line: shown on the screen";

// Reads the bytes of a print file. Lines that cannot be understood are left
// out and reported in `problems`; everything else is kept.
PrintFile ParsePrintFile(std::string_view bytes);

}  // namespace kitprint
