#include "app/print_channel.h"

#include <cctype>
#include <cstdlib>
#include <memory>

#include "config/session.h"
#include "platform/file_system.h"
#include "platform/host_path.h"

namespace app {
namespace {

// Lines gather here and go to the file in large writes.
constexpr std::size_t kFlushBytes = 64 * 1024;

struct Channel {
  std::unique_ptr<platform::File> file;
  std::string pending;
  std::uint64_t written = 0;
  // A print file that could not be made or written completely; the run
  // must not hand a cut listing to the print program as if it were whole.
  bool failed = false;
  std::string failure;  // the system's reason for the first failure
};
Channel& TheChannel() {
  static Channel channel;
  return channel;
}

std::string PrintFilePath() { return platform::HostPathOrRaw(config::Session().TempDir + "kitprint.tmp"); }

void NoteFailure(const platform::FileStatus& status) {
  Channel& c = TheChannel();
  if (!c.failed) c.failure = status.Describe();
  c.failed = true;
}

void FlushPending() {
  Channel& c = TheChannel();
  if (!c.file || c.pending.empty()) return;
  if (!c.failed) {
    const platform::FileStatus status = c.file->WriteAt(c.written, c.pending);
    if (status.ok())
      c.written += c.pending.size();
    else
      NoteFailure(status);
  }
  c.pending.clear();
}

void WriteRecord(std::string_view line) {
  Channel& c = TheChannel();
  if (!c.file) return;
  c.pending.append(line);
  c.pending.append("\r\n");
  if (c.pending.size() >= kFlushBytes) FlushPending();
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
  Channel& c = TheChannel();
  c = Channel{};
  const std::string path = PrintFilePath();
  platform::FileStatus status;
  c.file = platform::OpenFile(path, platform::kOpenCreate | platform::kOpenTruncate, status);
  if (!c.file) {
    // An earlier run's listing left behind would be printed again as this one.
    platform::CurrentFileSystem().Remove(path);
    NoteFailure(status);
    return false;
  }
  WriteRecord("DEVICE" + std::string(device));
  return true;
}

void ClosePrintChannel() {
  Channel& c = TheChannel();
  if (!c.file) return;
  FlushPending();
  // A full disk on delayed-allocation file systems shows only here.
  if (const platform::FileStatus status = c.file->Close(); !status.ok()) NoteFailure(status);
  c.file.reset();
}

void DiscardPrintChannel() {
  Channel& c = TheChannel();
  c.pending.clear();
  if (c.file) c.file->Close();
  c.file.reset();
  PrintChannel() = PrintChannelState{};
  // What was printed so far is not the listing the operator asked for.
  platform::CurrentFileSystem().Remove(PrintFilePath());
}

bool PrintChannelFailed() { return TheChannel().failed; }

std::string PrintChannelFailure() { return TheChannel().failure; }

bool PrintChannelOpen() { return TheChannel().file != nullptr; }

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
