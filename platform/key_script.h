// Key scripts: the keys a scripted run types, written as UTF-8 text.
//
// Every character is one key (its code page 850 code); line ends are
// ignored. Braces name the other keys and actions: {Enter}, {F1},
// {Shift+F3}, {Ctrl+Left}, {Ctrl+B}, {Alt+X}, {Click R C}, {AltPad 128}
// (digits on the keypad with left Alt held), {Snap} (dump the screen),
// {Pause MS} (no key for MS milliseconds: a run that stays where it is while
// something else happens), {Resize COLUMNSxROWS} (the terminal takes that
// size, as when its window is resized); "{{" is a literal "{".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal.h"

namespace platform {

struct ScriptStep {
  enum class Kind { kEvent, kSnap, kPause, kResize };
  Kind kind = Kind::kEvent;
  // kEvent: a key, a click, or kNone (Alt let go after an AltPad).
  InputEvent event;
  int pauseMs = 0;  // kPause
  int rows = 0, columns = 0;  // kResize
};

struct KeyScript {
  std::vector<ScriptStep> steps;
  std::string error;  // "line L, column C: what"; empty when the script is good
  bool ok() const { return error.empty(); }
};

KeyScript ParseKeyScript(std::string_view utf8);

}  // namespace platform
