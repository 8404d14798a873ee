// The real terminal, through ncursesw.
//
// A grid of code page 850 cells is the truth: every write goes to it and is
// drawn through the code page 850 -> Unicode table, so ReadCell answers from
// the grid and Resume can repaint the whole screen. Keys are decoded into PC
// key codes by key_decoder.h. The terminal's own state is put back on every
// way out: the destructor, exit(), and the fatal signals. Input that can no
// longer come (the terminal hung up, the key stream ended) ends the session:
// Poll throws SessionEnded with status 1, as it does with 128 + signal for
// a termination signal when signals.h's handlers are installed.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "platform/terminal.h"

namespace platform {

// Opens the terminal on standard input/output, at whatever size it has (a
// program that needs a size places a FixedScreen on it). Messages to
// standard error are held while it is open and written once the terminal
// is given back (held_messages.h). Null, with
// `error` telling why, when there is no usable terminal (terminal_type.h:
// nothing is written to a terminal that cannot show screens). Only one can be
// open at a time; its size follows the terminal's resizes.
std::unique_ptr<Terminal> OpenCursesTerminal(std::string& error);

// The same on the given streams, as terminal type `termType`, without
// asking that they be terminals: tests feed keys through a pipe. The size
// comes from the terminal type or LINES / COLUMNS.
std::unique_ptr<Terminal> OpenCursesTerminalOn(std::FILE* out, std::FILE* in,
                                               const std::string& termType,
                                               std::string& error);

// Puts the terminal back as it was before OpenCursesTerminal, if one is
// open. Safe to call more than once; the exit paths call it.
void RestoreCursesTerminal();

}  // namespace platform
