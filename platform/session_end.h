// The end of a session that the program did not choose: the key script ran
// out, a signal asked the program to end, the terminal went away, or a data
// file could not be opened.
//
// Whoever notices it throws SessionEnded, and only a program's main catches
// it: on the way up every object that holds a lock or a temporary file lets
// go of it, so the end leaves nothing behind (exit() would skip all of
// them). It is not a std::exception on purpose, so that no handler between
// the thrower and main takes it for an ordinary error.
#pragma once

#include <string>

namespace platform {

// Exit status of a session ended by a failure the operator was told about.
inline constexpr int kExitFailure = 1;

struct SessionEnded {
  int exitStatus = kExitFailure;
  // What main writes to standard error; empty when the operator has already
  // been told.
  std::string reason;
};

}  // namespace platform
