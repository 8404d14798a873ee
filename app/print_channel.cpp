#include "app/print_channel.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

#include "config/session.h"
#include "platform/host_path.h"

namespace app {
namespace {

// Lines gather in memory and go to the file in large writes.
constexpr std::size_t kFlushBytes = 64 * 1024;

std::string PrintFilePath() { return platform::HostPathOrRaw(config::Session().TempDir + "kitprint.tmp"); }

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

// A number as the print file writes it: " 10 ", "-3 ".
void AppendPrintedNumber(std::string& out, int value) {
  out += value < 0 ? '-' : ' ';
  char digits[16];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, std::abs(value)).ptr);
  out += ' ';
}

}  // namespace

void PrintChannel::NoteFailure(const platform::FileStatus& status) {
  if (!failed_) {
    failure_ = status.Describe();
    failureError_ = status.error;
  }
  failed_ = true;
}

void PrintChannel::FlushPending() {
  if (!file_ || pending_.empty()) return;
  if (!failed_) {
    const platform::FileStatus status = file_->WriteAt(written_, pending_);
    if (status.ok())
      written_ += pending_.size();
    else
      NoteFailure(status);
  }
  pending_.clear();
}

void PrintChannel::WriteRecord(std::string_view line) {
  if (!file_) return;
  pending_.append(line);
  pending_.append("\r\n");
  if (pending_.size() >= kFlushBytes) FlushPending();
}

bool PrintChannel::Open(std::string_view device, const std::string& hostPath) {
  Close();
  *this = PrintChannel{};
  path_ = hostPath.empty() ? PrintFilePath() : hostPath;
  const std::string& path = path_;
  platform::FileStatus status;
  file_ = platform::OpenFile(path, platform::kOpenCreate | platform::kOpenTruncate, status);
  if (!file_) {
    // An earlier run's listing left behind would be printed again as this one.
    platform::CurrentFileSystem().Remove(path);
    NoteFailure(status);
    return false;
  }
  WriteRecord("DEVICE" + std::string(device));
  return true;
}

void PrintChannel::Close() {
  if (!file_) return;
  FlushPending();
  // A full disk on delayed-allocation file systems shows only here.
  if (const platform::FileStatus status = file_->Close(); !status.ok()) NoteFailure(status);
  file_.reset();
}

void PrintChannel::Discard() {
  pending_.clear();
  if (file_) file_->Close();
  file_.reset();
  pageLength_ = lineCount_ = columnCount_ = 0;
  // What was printed so far is not the listing the operator asked for.
  platform::CurrentFileSystem().Remove(path_.empty() ? PrintFilePath() : path_);
}

void PrintChannel::SetPageLength(std::int16_t lines) {
  std::string line = "PAGE";
  AppendPrintedNumber(line, lines);
  WriteRecord(line);
  pageLength_ = lines;
  lineCount_ = 0;
  columnCount_ = 0;
}

std::string PrintChannel::SetJustification(std::string_view code) {
  std::string written = NormalisedJustification(code);
  WriteRecord("JUS" + written);
  return written;
}

void PrintChannel::SendPrintCommand(std::string_view text) { WriteRecord("*" + std::string(text)); }

void PrintChannel::PrintLine(std::int16_t column, std::string_view text, std::int16_t advance) {
  if (lineCount_ >= pageLength_) SetPageLength(pageLength_);
  if (file_) {
    // Composed in place in the pending writes: column, cleaned text, advance.
    AppendPrintedNumber(pending_, column);
    pending_ += ',';
    const std::size_t textStart = pending_.size();
    pending_.append(text);
    // Control bytes, DEL and 255 become blanks; a loop without branches.
    char* const cleaned = pending_.data() + textStart;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto b = static_cast<unsigned char>(cleaned[i]);
      cleaned[i] = (b <= 31 || b == 127 || b == 255) ? ' ' : cleaned[i];
    }
    pending_ += ',';
    AppendPrintedNumber(pending_, advance);
    pending_.append("\r\n");
    if (pending_.size() >= kFlushBytes) FlushPending();
  }
  if (advance != 0) {
    lineCount_ = static_cast<std::int16_t>(lineCount_ + advance);
    columnCount_ = 0;
  } else {
    if (column != 0) columnCount_ = column;
    columnCount_ = static_cast<std::int16_t>(columnCount_ + static_cast<int>(text.size()));
  }
}

}  // namespace app
