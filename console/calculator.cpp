#include "console/calculator.h"

#include <cerrno>

#include "config/session.h"
#include "console/browse_list.h"
#include "console/calculator_model.h"
#include "console/form_input.h"
#include "console/hot_keys.h"
#include "console/key_options.h"
#include "console/key_reader.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "base/cp850.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/terminal.h"

namespace console {
namespace {

// The window's screen rows: the tape (slot i on row i), the line under it,
// the display and the bottom line.
constexpr std::int16_t kUnderTapeRow = kTapeSlots + 1;
constexpr std::int16_t kDisplayRow = 24;
constexpr std::int16_t kBottomRow = 25;

std::string StatePath() { return platform::HostPathOrRaw(config::Session().TerminalDir + "KITCALC.TMP"); }

// The state kept between uses. A missing file is created empty; one that
// cannot be read (a directory in its place, an I/O error) or is damaged
// leaves the initial state, as the calculator shows no messages.
CalcState LoadState() {
  const std::string path = StatePath();
  CalcState state;
  const platform::ReadResult read = platform::ReadWholeFile(path);
  if (read.status.error == ENOENT) {
    platform::WriteWholeFile(path, "");
    return state;
  }
  if (!read.ok() || !ParseCalcState(read.bytes, state)) state = CalcState{};
  return state;
}

// A state that cannot be written is lost; the value shown is still returned.
void SaveState(const CalcState& state) { platform::WriteWholeFile(StatePath(), CalcStateText(state)); }

std::string Line(std::string_view left, std::string_view fill, std::string_view right) {
  std::string line(left);
  for (int i = 0; i < kCalcWidth - 2; ++i) line += fill;
  line += right;
  return base::Utf8ToCp850(line);
}

// Screen row and the window's own column 0 to WriteAt coordinates.
void Put(std::int16_t screenRow, std::string_view text) {
  WriteAt(static_cast<std::int16_t>(screenRow - 1), 0, text);
}

void DrawDisplay(const CalcState& s) {
  Put(kDisplayRow, base::Utf8ToCp850("│") + CalcNumberText(s.CalcEntry, s.point, s.decimals) + "  " +
              base::Utf8ToCp850("│"));
}

void DrawTape(const CalcState& s) {
  const std::string bar = base::Utf8ToCp850("│");
  for (std::int16_t i = s.TapeTop; i <= kTapeSlots; ++i) {
    const TapeSlot& slot = s.tape[static_cast<std::size_t>(i - 1)];
    Put(i, bar + CalcNumberText(slot.value, slot.point, slot.decimals) + " " + std::string(1, slot.op) + bar);
  }
  if (s.TapeTop <= kTapeSlots) {
    Put(static_cast<std::int16_t>(s.TapeTop - 1), Line("┌", "─", "┐"));
    Put(kUnderTapeRow, Line("├", "─", "┤"));
  } else {
    Put(kUnderTapeRow, Line("┌", "─", "┐"));
  }
}

void Open(const CalcState& s) {
  PushWindow(1, s.CalcColumn, kBottomRow, static_cast<std::int16_t>(s.CalcColumn + kCalcWidth - 1));
  DrawTape(s);
  DrawDisplay(s);
  Put(kBottomRow, Line("└", "─", "┘"));
}

}  // namespace

std::string Calculator() {
  platform::Terminal& term = platform::CurrentTerminal();
  SetKeyOptions("+e", "");
  SetStyle("+n");
  term.HideCursor();
  CalcState state = LoadState();
  Open(state);
  std::string result;
  for (bool open = true; open;) {
    DrawDisplay(state);
    // Clicks mean nothing to the calculator.
    switch (CalcHandleKey(state, WaitInput().key)) {
      case CalcAction::None:
      case CalcAction::Display:
        break;
      case CalcAction::Tape:
        DrawTape(state);
        break;
      case CalcAction::Move:
      case CalcAction::Reopen:
        PopWindow();
        Open(state);
        break;
      case CalcAction::Finish:
        result = CalcResultText(state);
        open = false;
        break;
      case CalcAction::Cancel:
        open = false;
        break;
    }
  }
  PopWindow();
  SaveState(state);
  term.ShowCursor(term.InsertMode() ? 50 : 100);
  SetStyle("-");
  SetKeyOptions("-", "");
  return result;
}

void InstallLookups() {
  Hot().Calculator = Calculator;
  Hot().Calendar = CalendarPopup;
  Forms().ui.BrowseList = BrowseList;
}

}  // namespace console
