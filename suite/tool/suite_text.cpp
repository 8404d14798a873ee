// Turns the suite's readable UTF-8 text sources into the files the programs
// read: code page 850 with CR LF line ends, or, for help files, records of a
// fixed width with the display switches as control bytes.
//
//   suite_text lines   <source> <target>
//   suite_text records <width> <source> <target>
//
// In help sources "~" switches highlighting, "^" underlining and "`"
// reverse video on and off ("~~", "^^" and "``" give the character itself).
#include <charconv>
#include <iostream>
#include <string>
#include <vector>

#include "base/cp850.h"
#include "platform/file_system.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// A character the code page lacks would silently become "?": refuse it.
bool ToCp850(const std::string& utf8, std::string& out, const char* path, std::size_t lineNo) {
  out = base::Utf8ToCp850(utf8);
  if (base::Cp850ToUtf8(out) != utf8) {
    std::cerr << path << ":" << lineNo << ": character without a code page 850 byte\n";
    return false;
  }
  return true;
}

std::string HelpSwitches(const std::string& line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const char code = c == '~' ? '\x1e' : c == '^' ? '\x1f' : c == '`' ? '\x10' : 0;
    if (code == 0) {
      out += c;
    } else if (i + 1 < line.size() && line[i + 1] == c) {
      out += c;
      ++i;
    } else {
      out += code;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "lines" && argc == 4) || (mode == "records" && argc == 5))) {
    std::cerr << "usage: suite_text lines <source> <target> | records <width> <source> <target>\n";
    return 2;
  }
  const char* source = argv[argc - 2];
  const char* target = argv[argc - 1];
  std::size_t width = 0;
  if (mode == "records") {
    const std::string_view text = argv[2];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), width);
    if (ec != std::errc() || end != text.data() + text.size() || width == 0) {
      std::cerr << "suite_text: the width \"" << text << "\" is not a number of bytes\n";
      return 2;
    }
  }
  const platform::ReadResult read = platform::ReadWholeFile(source);
  if (!read.ok()) {
    std::cerr << "suite_text: " << source << ": " << read.status.Describe() << "\n";
    return 1;
  }
  const std::string& text = read.bytes;
  std::string out;
  std::size_t lineNo = 0;
  for (const std::string& utf8 : Lines(text)) {
    ++lineNo;
    std::string bytes;
    if (!ToCp850(mode == "records" ? HelpSwitches(utf8) : utf8, bytes, source, lineNo)) return 1;
    if (mode == "lines") {
      out += bytes + "\r\n";
    } else {
      if (bytes.size() > width) {
        std::cerr << source << ":" << lineNo << ": longer than " << width << " bytes\n";
        return 1;
      }
      bytes.resize(width, ' ');
      out += bytes;
    }
  }
  const platform::FileStatus written = platform::WriteWholeFile(target, out);
  if (!written.ok()) {
    std::cerr << "suite_text: " << target << ": " << written.Describe() << "\n";
    return 1;
  }
  return 0;
}
