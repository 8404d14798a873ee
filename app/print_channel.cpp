#include "app/print_channel.h"

#include <cctype>
#include <cstdlib>

#include "config/session.h"
#include "platform/host_path.h"

namespace app {
namespace {

std::FILE*& File() {
  static std::FILE* file = nullptr;
  return file;
}

// A print file that could not be made or written completely; the run must
// not hand a cut listing to the print program as if it were whole.
bool& Failed() {
  static bool failed = false;
  return failed;
}

void WriteRecord(std::string_view line) {
  if (File() == nullptr) return;
  if (std::fwrite(line.data(), 1, line.size(), File()) != line.size() || std::fwrite("\r\n", 1, 2, File()) != 2)
    Failed() = true;
}

std::string NormalisedJustification(std::string_view code) {
  const std::size_t first = code.find_first_not_of(' ');
  if (first == std::string_view::npos) return "E";
  code = code.substr(first, code.find_last_not_of(' ') - first + 1);
  switch (std::toupper(static_cast<unsigned char>(code[0]))) {
    case 'C': return "C";
    case 'D':
    case 'R': return "D";
    case 'A':
    case 'B': return "A";
    case 'N': {
      // "N 84 \.\": the column's absolute value, then the mark between backslashes.
      const std::string_view rest = code.substr(1);
      const long column = std::labs(std::strtol(std::string(rest).c_str(), nullptr, 10));
      std::string mark;
      if (const std::size_t open = rest.find('\\'); open != std::string_view::npos) {
        const std::size_t close = rest.find('\\', open + 1);
        mark = std::string(rest.substr(open, close == std::string_view::npos ? std::string_view::npos : close - open + 1));
      }
      // The sign position and the digits, one blank, the mark: "N 84 \.\".
      return "N " + std::to_string(column) + " " + mark;
    }
    default: return "E";
  }
}

}  // namespace

PrintChannelState& PrintChannel() {
  static PrintChannelState state;
  return state;
}

std::string PrintedNumber(long value) {
  return (value < 0 ? "-" : " ") + std::to_string(std::labs(value)) + " ";
}

bool OpenPrintChannel(std::string_view device) {
  ClosePrintChannel();
  PrintChannel() = PrintChannelState{};
  const std::string path = platform::HostPathOrRaw(config::Session().TempDir + "kitprint.tmp");
  Failed() = false;
  File() = std::fopen(path.c_str(), "wb");
  if (File() == nullptr) {
    // An earlier run's listing left behind would be printed again as this one.
    std::remove(path.c_str());
    Failed() = true;
    return false;
  }
  WriteRecord("DEVICE" + std::string(device));
  return true;
}

void ClosePrintChannel() {
  if (File() != nullptr && std::fclose(File()) != 0) Failed() = true;
  File() = nullptr;
}

bool PrintChannelFailed() { return Failed(); }

bool PrintChannelOpen() { return File() != nullptr; }

void SetPageLength(std::int16_t lines) {
  WriteRecord("PAGE" + PrintedNumber(lines));
  PrintChannel().PageLength = lines;
  PrintChannel().LineCount = 0;
  PrintChannel().ColumnCount = 0;
}

std::string SetJustification(std::string_view code) {
  std::string written = NormalisedJustification(code);
  WriteRecord("JUS" + written);
  return written;
}

void SendPrintCommand(std::string_view text) { WriteRecord("*" + std::string(text)); }

void PrintLine(std::int16_t column, std::string_view shown, std::int16_t advance) {
  std::string text(shown);
  for (char& c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 31 || b == 127 || b == 255) c = ' ';
  }
  PrintChannelState& s = PrintChannel();
  if (s.LineCount >= s.PageLength) SetPageLength(s.PageLength);
  WriteRecord(PrintedNumber(column) + "," + text + "," + PrintedNumber(advance));
  if (advance != 0) {
    s.LineCount = static_cast<std::int16_t>(s.LineCount + advance);
    s.ColumnCount = 0;
  } else {
    if (column != 0) s.ColumnCount = column;
    s.ColumnCount = static_cast<std::int16_t>(s.ColumnCount + static_cast<int>(text.size()));
  }
}

}  // namespace app
