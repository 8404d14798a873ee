#include "platform/progress_line.h"

#include <unistd.h>

namespace platform {
namespace {

constexpr std::chrono::milliseconds kInterval{100};

}  // namespace

ProgressLine::ProgressLine() : ProgressLine(stderr, isatty(STDERR_FILENO) == 1, std::chrono::seconds(1)) {}

ProgressLine::ProgressLine(std::FILE* stream, bool terminal, std::chrono::milliseconds delay)
    : stream_(stream), terminal_(terminal), next_(Clock::now() + delay) {}

ProgressLine::~ProgressLine() { Clear(); }

bool ProgressLine::Due() {
  if (!terminal_) return false;
  const Clock::time_point now = Clock::now();
  if (now < next_) return false;
  next_ = now + kInterval;
  return true;
}

void ProgressLine::Show(std::string_view text) {
  if (!terminal_) return;
  // Carriage return, the text, and erase to the end of the line.
  std::fputc('\r', stream_);
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fputs("\x1b[K", stream_);
  std::fflush(stream_);
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\x1b[K", stream_);
  std::fflush(stream_);
  shown_ = false;
}

}  // namespace platform
