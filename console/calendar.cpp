#include <cstdio>
#include <string>

#include "config/built_in_texts.h"
#include "config/session.h"
#include "console/calculator.h"
#include "console/calendar_model.h"
#include "console/key_options.h"
#include "console/key_reader.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "format/dates.h"
#include "format/text.h"
#include "platform/terminal.h"

namespace console {
namespace {

constexpr std::int16_t kInside = 20;

std::string TwoDigits(int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%2d", day);
  return text;
}

std::int16_t Centre(std::size_t length) {
  const int free = kInside - static_cast<int>(length) + 1;
  return static_cast<std::int16_t>((free > 0 ? free : 0) / 2 + 1);
}

void BuildDisplay(const CalendarPos& pos) {
  char year[16];
  std::snprintf(year, sizeof year, " %4d ", pos.year);
  SetStyle("n");
  WriteAt(0, Centre(6), year);
  WriteAt(1, 1, std::string(config::InSessionLanguage(config::texts::kWeekdays)));
  const std::int16_t first = FirstShownMonth(pos.month);
  for (std::int16_t k = 0; k < 3; ++k) {
    const std::int16_t month = static_cast<std::int16_t>(first + k);
    const std::int16_t r = static_cast<std::int16_t>(7 * k + 2);
    const std::string name = format::FoldText(format::LongDateText(format::PackDate(pos.year, month, 1), 2, "m"));
    SetStyle("n");
    WriteAt(r, 1, std::string(kInside, ' '));
    WriteAt(r, Centre(name.size()), name);
    SetStyle("h");
    for (std::int16_t week = 1; week <= 6; ++week)
      WriteAt(static_cast<std::int16_t>(r + week), 1, std::string(kInside, ' '));
    const std::int16_t length = MonthLength(pos.year, month);
    for (std::int16_t day = 1; day <= length; ++day) {
      const CalendarCell cell = DayCell({pos.year, month, day}, first);
      WriteAt(cell.row, cell.column, TwoDigits(day));
    }
  }
}

void ShowDay(const CalendarPos& pos, bool current) {
  const CalendarCell cell = DayCell(pos, FirstShownMonth(pos.month));
  if (current) SetStyle("+u");
  else SetStyle("h");
  WriteAt(cell.row, cell.column, TwoDigits(pos.day));
  if (current) SetStyle("-");
}

}  // namespace

std::string CalendarPopup() {
  platform::Terminal& term = platform::CurrentTerminal();
  SetKeyOptions("+ea", "4d00,4b00,5000,4800,5100,4900,4700,4f00,2100,1b");
  SetStyle("+n");
  term.HideCursor();
  PushWindow(1, 59, 24, 80);
  DrawFrame(1);
  CalendarPos pos = CalendarStart(config::Session().WorkDate);
  BuildDisplay(pos);
  std::string result;
  for (bool open = true; open;) {
    ShowDay(pos, true);
    const KeyCode key = WaitInput().key;  // clicks mean nothing to the calendar
    ShowDay(pos, false);
    switch (CalendarHandleKey(pos, key)) {
      case CalendarAction::None:
      case CalendarAction::Moved:
        break;
      case CalendarAction::Rebuild:
        BuildDisplay(pos);
        break;
      case CalendarAction::Finish:
        result = format::LongDateText(format::PackDate(pos.year, pos.month, pos.day), 0, "dma");
        open = false;
        break;
      case CalendarAction::Cancel:
        open = false;
        break;
    }
  }
  PopWindow();
  term.ShowCursor(term.InsertMode() ? 50 : 100);
  SetStyle("-");
  SetKeyOptions("-", "");
  return result;
}

}  // namespace console
