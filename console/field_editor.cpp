#include "console/field_editor.h"

#include <algorithm>
#include <vector>

#include "console/key_options.h"
#include "console/key_reader.h"
#include "console/screen.h"
#include "format/cp850.h"
#include "format/text.h"
#include "platform/terminal.h"

namespace console {

namespace {

std::string& Options() {
  static std::string options;
  return options;
}

struct Option {
  std::string value;
  std::string shown;
};

std::vector<Option> ParseOptions(const std::string& list) {
  std::vector<Option> options;
  std::size_t p = list.find('|');
  while (p != std::string::npos) {
    const std::size_t next = list.find('|', p + 1);
    const std::string entry = list.substr(p + 1, next == std::string::npos ? std::string::npos : next - p - 1);
    const std::size_t comma = entry.find(',');
    options.push_back(comma == std::string::npos ? Option{entry, entry}
                                                 : Option{entry.substr(0, comma), entry.substr(comma + 1)});
    p = next;
  }
  return options;
}

bool IsSeparator(char c) { return c == ' ' || c == ',' || c == '.' || c == ';' || c == ':'; }

std::size_t TrimmedLength(const std::string& text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string::npos ? 0 : last + 1;
}

std::string Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

using namespace keys;

}  // namespace

void SetFieldOptions(std::string_view options) { Options() = std::string(options); }
const std::string& FieldOptions() { return Options(); }

void EditField(std::int16_t& row, std::int16_t& column, std::int16_t& width, std::string& text,
               std::int16_t& position, Input& ending) {
  platform::Terminal& term = platform::CurrentTerminal();
  const PopupWindowState& window = PopupWindow();
  const int offsetRow = window.Level == 0 ? 0 : window.Top;
  const int offsetColumn = window.Level == 0 ? 0 : window.Left;
  const int length = static_cast<int>(text.size());
  const int maxPos = length + 1;
  if (row == 0) row = static_cast<std::int16_t>(term.CursorRow() - offsetRow);
  if (column == 0) column = static_cast<std::int16_t>(term.CursorColumn() - offsetColumn);
  position = static_cast<std::int16_t>(std::clamp<int>(position, 1, maxPos));
  if (width <= 0) width = static_cast<std::int16_t>(maxPos);
  const int w = width;

  const std::vector<Option> options = ParseOptions(Options());
  const bool optionField = !options.empty();
  std::size_t current = 0;
  int shownWidth = 0;
  const char leftPointer = static_cast<char>(*format::UnicodeToCp850(U'\u25C4'));
  const char rightPointer = static_cast<char>(*format::UnicodeToCp850(U'\u25BA'));
  if (optionField) {
    for (const Option& o : options) shownWidth = std::max(shownWidth, static_cast<int>(o.shown.size()));
    for (std::size_t i = 0; i < options.size(); ++i) {
      if (options[i].value == text) {
        current = i;
        break;
      }
    }
    WriteAt(row, static_cast<std::int16_t>(column - 1), std::string(1, leftPointer));
    WriteAt(row, static_cast<std::int16_t>(column + shownWidth), std::string(1, rightPointer));
  }

  SetStyle("u");
  LocateInWindow(row, column);
  bool redraw = true;
  const std::int16_t mask = KeyOptions().MaskChar;

  const auto draw = [&] {
    if (optionField) {
      std::string value = options[current].value.substr(0, static_cast<std::size_t>(length));
      value.resize(static_cast<std::size_t>(length), ' ');
      text = value;
      std::string shown = options[current].shown;
      shown.resize(static_cast<std::size_t>(shownWidth), ' ');
      WriteAt(row, column, shown);
      return;
    }
    for (int k = 1; k <= length; k += w) {
      const auto r = static_cast<std::int16_t>(row + (k - 1) / w);
      if (mask != 0) {
        WriteAt(r, column, std::string(static_cast<std::size_t>(w - 1), static_cast<char>(mask)));
      } else {
        WriteAt(r, column, text.substr(static_cast<std::size_t>(k - 1), static_cast<std::size_t>(w)));
      }
    }
  };
  const auto placeCursor = [&] {
    int r = row + (position - 1) / w;
    int c = column + (position - 1) % w;
    if (position == maxPos && c == column && position > 1) {
      r -= 1;
      c = column + w;
    }
    LocateInWindow(static_cast<std::int16_t>(r), static_cast<std::int16_t>(c));
  };
  const auto showCursor = [&] { term.ShowCursor(term.InsertMode() ? 50 : 100); };

  while (true) {
    if (redraw) {
      draw();
      redraw = false;
    }
    if (!optionField) {
      placeCursor();
      showCursor();
    }
    Input in;
    while (true) {
      in = WaitInput();
      if (in.key == kIns) {
        term.SetInsertMode(!term.InsertMode());
        if (!optionField) showCursor();
        continue;
      }
      break;
    }
    term.HideCursor();

    KeyCode key = in.key;
    bool ends = false;
    bool clickedAway = false;
    if (in.click) {
      const int clickColumn = in.click->column;
      const int clickRow = in.click->row;
      const int fieldRow = row + offsetRow;
      const int fieldColumn = column + offsetColumn;
      if (optionField) {
        if (clickRow == fieldRow && clickColumn == fieldColumn - 1) {
          key = kLeft;
        } else if (clickRow == fieldRow && clickColumn == fieldColumn + shownWidth) {
          key = kRight;
        } else if (clickRow == fieldRow && clickColumn >= fieldColumn && clickColumn < fieldColumn + shownWidth) {
          key = 0;
          ends = true;
        } else {
          ends = clickedAway = true;
        }
      } else if (clickRow >= fieldRow && clickRow <= fieldRow + std::max(1, maxPos / w) - 1 && clickColumn >= fieldColumn &&
                 clickColumn <= fieldColumn + w - 1) {
        const int p = (clickRow - fieldRow) * w + (clickColumn - fieldColumn) + 1;
        position = static_cast<std::int16_t>(std::clamp(p, 1, maxPos));
        key = 0;
        ends = true;
      } else {
        ends = clickedAway = true;
      }
    }

    if (!ends) {
      const int k = key;
      if (optionField) {
        const auto n = options.size();
        if (k >= 33 && k <= 126) {
          format::SetAccentFold(true);
          const std::string typed = format::FoldText(std::string(1, static_cast<char>(k)));
          for (std::size_t step = 1; step <= n; ++step) {
            const std::size_t i = (current + step) % n;
            const std::string shown = format::FoldText(options[i].shown);
            if (!shown.empty() && shown[0] == typed[0]) {
              current = i;
              break;
            }
          }
          format::SetAccentFold(false);
          redraw = true;
        } else if (k == kLeft) {
          current = current == 0 ? n - 1 : current - 1;
          redraw = true;
        } else if (k == kRight || k == ' ') {
          current = (current + 1) % n;
          redraw = true;
        } else if (k == kBackspace || k == kDel || k == kCtrlHome || k == kCtrlY || k == kCtrlV) {
        } else if (k == kHome) {
          position = 1;
        } else if (k == kEnd) {
          position = static_cast<std::int16_t>(TrimmedLength(text) + 1);
        } else if (k == kCtrlC) {
          term.SetClipboardText(options[current].shown);
        } else {
          ends = true;
        }
      } else {
        const auto at = static_cast<std::size_t>(position - 1);
        if ((k >= 32 && k <= 126) || (k >= 128 && k <= 254)) {
          if (term.InsertMode()) {
            if (length > 0 && text.back() == ' ' && position < maxPos) {
              text.insert(at, 1, static_cast<char>(k));
              text.pop_back();
              redraw = true;
              ++position;
            }
          } else if (position < maxPos) {
            text[at] = static_cast<char>(k);
            if (mask == 0) {
              placeCursor();
              term.Write(std::string(1, static_cast<char>(k)));
            }
            ++position;
          }
        } else if (k == kLeft) {
          if (position > 1) --position;
        } else if (k == kRight) {
          if (position < maxPos) ++position;
        } else if (k == kBackspace) {
          if (position > 1) {
            --position;
            text.erase(static_cast<std::size_t>(position - 1), 1);
            text.push_back(' ');
            redraw = true;
          }
        } else if (k == kDel) {
          if (position < maxPos) {
            text.erase(at, 1);
            text.push_back(' ');
            redraw = true;
          }
        } else if (k == kHome) {
          position = 1;
        } else if (k == kEnd) {
          position = static_cast<std::int16_t>(TrimmedLength(text) + 1);
        } else if (k == kCtrlHome || k == kCtrlY) {
          text.assign(static_cast<std::size_t>(length), ' ');
          position = 1;
          redraw = true;
        } else if (k == kUp || k == kShiftTab) {
          if (position > w) {
            position = static_cast<std::int16_t>(position - w);
          } else {
            ends = true;
          }
        } else if (k == kDown) {
          if (position <= maxPos - w) {
            position = static_cast<std::int16_t>(position + w);
          } else {
            ends = true;
          }
        } else if (k == kCtrlLeft) {
          if (position > 1) {
            // Scan left from the character before the cursor to the start of a word.
            int b = position - 1;
            bool inWord = !IsSeparator(text[static_cast<std::size_t>(b - 1)]);
            int found = 1;
            for (; b >= 1; --b) {
              const bool word = !IsSeparator(text[static_cast<std::size_t>(b - 1)]);
              if (inWord && !word) {
                found = b + 1;
                break;
              }
              inWord = word;
            }
            position = static_cast<std::int16_t>(found);
          } else {
            ends = true;
          }
        } else if (k == kCtrlRight) {
          if (position < maxPos) {
            bool inWord = !IsSeparator(text[at]);
            int found = maxPos;
            for (int b = position + 1; b <= length; ++b) {
              const bool word = !IsSeparator(text[static_cast<std::size_t>(b - 1)]);
              if (!inWord && word) {
                found = b;
                break;
              }
              inWord = word;
            }
            position = static_cast<std::int16_t>(found);
          } else {
            ends = true;
          }
        } else if (k == kCtrlC) {
          term.SetClipboardText(Trim(text));
        } else if (k == kCtrlV) {
          std::string clip;
          for (char c : term.ClipboardText()) {
            const auto b = static_cast<unsigned char>(c);
            if (b <= 31 || b == 127 || b == 255) continue;
            clip.push_back(c);
          }
          clip = Trim(clip);
          for (std::size_t i = 0; i < clip.size() && at + i < text.size(); ++i) text[at + i] = clip[i];
          redraw = true;
        } else {
          ends = true;
        }
      }
    }
    if (!ends) continue;
    // A click outside the field ends the edit, whatever the table says.
    if (clickedAway) {
      ending = in;
      break;
    }

    // Translate the ending key, then let only the keys of the exit-key table end.
    const KeyOptionState& table = KeyOptions();
    if (key == kShiftTab) {
      key = kUp;
    } else if (key == kTab) {
      key = kEnter;
    } else if (key == kEnter) {
      // End's two bytes anywhere in the table, even across two codes, make
      // Enter End; only the look-up below keeps to code boundaries.
      if (table.ExitKeys.find(KeyImage(kEnd)) != std::string::npos) key = kEnd;
    } else if (key == kCtrlF4 || key == kAltF4) {
      key = kEsc;
    }
    if (table.ExitKeys.empty()) {
      ending = key;
      break;
    }
    const std::size_t found = FindKeyCode(table.ExitKeys, key);
    if (found != std::string::npos) {
      if (found + 2 <= table.ExitKeyResults.size()) {
        key = static_cast<std::int16_t>(static_cast<std::uint16_t>(
            static_cast<unsigned char>(table.ExitKeyResults[found]) |
            static_cast<unsigned char>(table.ExitKeyResults[found + 1]) << 8));
      }
      ending = key;
      break;
    }
    LocateInWindow(row, column);
    redraw = true;
  }

  SetStyle("h");
  if (optionField) {
    WriteAt(row, static_cast<std::int16_t>(column - 1), " ");
    WriteAt(row, static_cast<std::int16_t>(column + shownWidth), " ");
  }
  LocateInWindow(row, column);
}

}  // namespace console
