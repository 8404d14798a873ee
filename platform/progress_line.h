// A progress line for long work of a command-line tool: "page 120/4000" on
// standard error, rewritten in place and wiped at the end. It appears only
// on a terminal and only once the work has taken longer than a moment, so
// pipes, logs and quick jobs see nothing of it.
#pragma once

#include <chrono>
#include <cstdio>
#include <string_view>

namespace platform {

class ProgressLine {
 public:
  // Shows on standard error when it is a terminal, after one second.
  ProgressLine();
  // For tests: `stream`, whether it counts as a terminal, and the delay.
  ProgressLine(std::FILE* stream, bool terminal, std::chrono::milliseconds delay);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Whether a new text is wanted now: on a terminal, after the delay, and
  // at most ten times a second. Cheap enough to ask for every record.
  bool Due();
  // Replaces the line with `text`.
  void Show(std::string_view text);
  // Wipes the line, if one was shown (also done at destruction).
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* stream_;
  bool terminal_;
  Clock::time_point next_;
  bool shown_ = false;
};

}  // namespace platform
