#include "console/field_edit_model.h"

#include <algorithm>

#include "base/strings.h"
#include "console/key_options.h"
#include "format/text.h"

namespace console {
namespace {

using namespace keys;

using Step = FieldEditStep;

bool IsSeparator(char c) { return c == ' ' || c == ',' || c == '.' || c == ';' || c == ':'; }

std::size_t TrimmedLength(const std::string& text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string::npos ? 0 : last + 1;
}


// The option's value as the field holds it: cut or blank padded.
void ShowOption(FieldEditState& state, const FieldEditSetup& setup, std::size_t option) {
  state.option = option;
  std::string value = setup.options[option].value.substr(0, state.text.size());
  value.resize(state.text.size(), ' ');
  state.text = std::move(value);
}

Step Redrawn() {
  Step s;
  s.redraw = Step::Redraw::kField;
  return s;
}

// Ctrl+Left: to the first character of the word before the cursor.
int WordLeft(const std::string& text, int position) {
  int b = position - 1;
  bool inWord = !IsSeparator(text[static_cast<std::size_t>(b - 1)]);
  for (; b >= 1; --b) {
    const bool word = !IsSeparator(text[static_cast<std::size_t>(b - 1)]);
    if (inWord && !word) return b + 1;
    inWord = word;
  }
  return 1;
}

// Ctrl+Right: to the first character of the next word, or past the end.
int WordRight(const std::string& text, int position) {
  const int length = static_cast<int>(text.size());
  bool inWord = !IsSeparator(text[static_cast<std::size_t>(position - 1)]);
  for (int b = position + 1; b <= length; ++b) {
    const bool word = !IsSeparator(text[static_cast<std::size_t>(b - 1)]);
    if (!inWord && word) return b;
    inWord = word;
  }
  return length + 1;
}

// A key that ends the edit, unless the exit-key table does not list it.
Step Ending(KeyCode key, const FieldEditSetup& setup) {
  if (key == kShiftTab) {
    key = kUp;
  } else if (key == kTab) {
    key = kEnter;
  } else if (key == kEnter) {
    // End's two bytes anywhere in the table, even across two codes, make
    // Enter End; only the look-up below keeps to code boundaries.
    if (setup.exitKeys.find(KeyImage(kEnd)) != std::string::npos) key = kEnd;
  } else if (key == kCtrlF4 || key == kAltF4) {
    key = kEsc;
  }
  Step s;
  if (!setup.exitKeys.empty()) {
    const std::size_t found = FindKeyCode(setup.exitKeys, key);
    if (found == std::string::npos) {
      s.resumed = true;
      s.redraw = Step::Redraw::kField;
      return s;
    }
    if (found + 2 <= setup.exitKeyResults.size()) {
      key = static_cast<KeyCode>(static_cast<std::uint16_t>(
          static_cast<unsigned char>(setup.exitKeyResults[found]) |
          static_cast<unsigned char>(setup.exitKeyResults[found + 1]) << 8));
    }
  }
  s.outcome = Step::Outcome::kEnded;
  s.ending = key;
  return s;
}

// A click outside the field ends the edit, whatever the exit-key table says.
Step ClickedAway(const Click& click) {
  Step s;
  s.outcome = Step::Outcome::kEnded;
  s.ending.click = click;
  return s;
}

Step OptionKey(FieldEditState& state, const FieldEditSetup& setup, KeyCode key) {
  const std::size_t n = setup.options.size();
  if (key >= 33 && key <= 126) {
    const format::FoldTable& table = setup.foldAccents ? format::KeyFoldTable() : format::CaseFoldTable();
    const std::string typed = format::FoldText(std::string(1, static_cast<char>(key)), table);
    for (std::size_t step = 1; step <= n; ++step) {
      const std::size_t i = (state.option + step) % n;
      const std::string shown = format::FoldText(setup.options[i].shown, table);
      if (!shown.empty() && shown[0] == typed[0]) {
        ShowOption(state, setup, i);
        break;
      }
    }
    return Redrawn();
  }
  switch (key) {
    case kLeft:
      ShowOption(state, setup, state.option == 0 ? n - 1 : state.option - 1);
      return Redrawn();
    case kRight:
    case kSpace:
      ShowOption(state, setup, (state.option + 1) % n);
      return Redrawn();
    case kBackspace:
    case kDel:
    case kCtrlHome:
    case kCtrlY:
    case kCtrlV:
      return {};
    case kHome:
      state.position = 1;
      return {};
    case kEnd:
      state.position = static_cast<int>(TrimmedLength(state.text)) + 1;
      return {};
    case kCtrlC: {
      Step s;
      s.copied = setup.options[state.option].shown;
      return s;
    }
    default:
      return Ending(key, setup);
  }
}

bool IsTyped(KeyCode key) { return (key >= 32 && key <= 126) || (key >= 128 && key <= 254); }

// A character typed at the cursor: inserted, pushing the rest right, or
// over the one there.
Step TypeCharacter(FieldEditState& state, char c) {
  std::string& text = state.text;
  int& position = state.position;
  const int maxPos = static_cast<int>(text.size()) + 1;
  const auto at = static_cast<std::size_t>(position - 1);
  if (state.insert) {
    // Only a trailing blank makes room; a full field takes nothing more.
    if (text.empty() || text.back() != ' ' || position >= maxPos) return {};
    text.insert(at, 1, c);
    text.pop_back();
    ++position;
    return Redrawn();
  }
  if (position >= maxPos) return {};
  text[at] = c;
  Step s;
  s.redraw = Step::Redraw::kTyped;
  s.typedAt = position++;
  return s;
}

// Pasted text overwrites from the cursor, control characters left out.
void Paste(FieldEditState& state, std::string_view clipboard) {
  std::string clip;
  for (char c : clipboard) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 31 || b == 127 || b == 255) continue;
    clip.push_back(c);
  }
  clip = std::string(base::Trim(clip));
  const auto at = static_cast<std::size_t>(state.position - 1);
  for (std::size_t i = 0; i < clip.size() && at + i < state.text.size(); ++i) state.text[at + i] = clip[i];
}

Step TextKey(FieldEditState& state, const FieldEditSetup& setup, KeyCode key, std::string_view clipboard) {
  std::string& text = state.text;
  int& position = state.position;
  const int length = static_cast<int>(text.size());
  const int maxPos = length + 1;
  const int rowWidth = FieldWidth(setup, length);
  const auto at = static_cast<std::size_t>(position - 1);
  if (IsTyped(key)) return TypeCharacter(state, static_cast<char>(key));
  switch (key) {
    case kLeft:
      if (position > 1) --position;
      return {};
    case kRight:
      if (position < maxPos) ++position;
      return {};
    case kBackspace:
      if (position <= 1) return {};
      --position;
      text.erase(static_cast<std::size_t>(position - 1), 1);
      text.push_back(' ');
      return Redrawn();
    case kDel:
      if (position >= maxPos) return {};
      text.erase(at, 1);
      text.push_back(' ');
      return Redrawn();
    case kHome:
      position = 1;
      return {};
    case kEnd:
      position = static_cast<int>(TrimmedLength(text)) + 1;
      return {};
    case kCtrlHome:
    case kCtrlY:
      text.assign(text.size(), ' ');
      position = 1;
      return Redrawn();
    case kUp:
    case kShiftTab:
      // Up a row of a field on several rows; from the first row it ends.
      if (position <= rowWidth) return Ending(key, setup);
      position -= rowWidth;
      return {};
    case kDown:
      if (position > maxPos - rowWidth) return Ending(key, setup);
      position += rowWidth;
      return {};
    case kCtrlLeft:
      if (position <= 1) return Ending(key, setup);
      position = WordLeft(text, position);
      return {};
    case kCtrlRight:
      if (position >= maxPos) return Ending(key, setup);
      position = WordRight(text, position);
      return {};
    case kCtrlC: {
      Step s;
      s.copied = base::Trim(text);
      return s;
    }
    case kCtrlV:
      Paste(state, clipboard);
      return Redrawn();
    default:
      return Ending(key, setup);
  }
}

Step OptionClick(FieldEditState& state, const FieldEditSetup& setup, const Click& click) {
  const int shownWidth = OptionsWidth(setup.options);
  if (click.row == setup.screenRow) {
    // The pointers either side act as the arrow keys; the text itself ends
    // the edit where it stands.
    if (click.column == setup.screenColumn - 1) return OptionKey(state, setup, kLeft);
    if (click.column == setup.screenColumn + shownWidth) return OptionKey(state, setup, kRight);
    if (click.column >= setup.screenColumn && click.column < setup.screenColumn + shownWidth)
      return Ending(0, setup);
  }
  return ClickedAway(click);
}

Step TextClick(FieldEditState& state, const FieldEditSetup& setup, const Click& click) {
  const int maxPos = static_cast<int>(state.text.size()) + 1;
  const int w = FieldWidth(setup, static_cast<int>(state.text.size()));
  const int rows = std::max(1, maxPos / w);
  const int row = click.row - setup.screenRow;
  const int column = click.column - setup.screenColumn;
  if (row < 0 || row >= rows || column < 0 || column >= w) return ClickedAway(click);
  // A click on the field puts the cursor there, then counts as key 0.
  state.position = std::clamp(row * w + column + 1, 1, maxPos);
  return Ending(0, setup);
}

}  // namespace

std::vector<FieldOption> ParseFieldOptions(std::string_view list) {
  std::vector<FieldOption> options;
  std::size_t p = list.find('|');
  while (p != std::string_view::npos) {
    const std::size_t next = list.find('|', p + 1);
    const std::string_view entry =
        list.substr(p + 1, next == std::string_view::npos ? std::string_view::npos : next - p - 1);
    const std::size_t comma = entry.find(',');
    if (comma == std::string_view::npos)
      options.push_back({std::string(entry), std::string(entry)});
    else
      options.push_back({std::string(entry.substr(0, comma)), std::string(entry.substr(comma + 1))});
    p = next;
  }
  return options;
}

int FieldWidth(const FieldEditSetup& setup, int length) { return setup.width > 0 ? setup.width : length + 1; }

int OptionsWidth(const std::vector<FieldOption>& options) {
  int width = 0;
  for (const FieldOption& o : options) width = std::max(width, static_cast<int>(o.shown.size()));
  return width;
}

CellOffset CursorOffset(int position, int length, int width) {
  CellOffset at{(position - 1) / width, (position - 1) % width};
  if (position == length + 1 && at.columns == 0 && position > 1) at = {at.rows - 1, width};
  return at;
}

FieldEditState StartFieldEdit(std::string text, int position, bool insert, const FieldEditSetup& setup) {
  FieldEditState state;
  state.position = std::clamp(position, 1, static_cast<int>(text.size()) + 1);
  state.text = std::move(text);
  state.insert = insert;
  if (!setup.options.empty()) {
    std::size_t current = 0;
    for (std::size_t i = 0; i < setup.options.size(); ++i) {
      if (setup.options[i].value == state.text) {
        current = i;
        break;
      }
    }
    ShowOption(state, setup, current);
  }
  return state;
}

FieldEditStep ApplyFieldInput(FieldEditState& state, const FieldEditSetup& setup, const Input& input,
                              std::string_view clipboard) {
  const bool optionField = !setup.options.empty();
  if (input.click) return optionField ? OptionClick(state, setup, *input.click) : TextClick(state, setup, *input.click);
  if (input.key == kIns) {
    state.insert = !state.insert;
    Step s;
    s.insertToggled = true;
    return s;
  }
  return optionField ? OptionKey(state, setup, input.key) : TextKey(state, setup, input.key, clipboard);
}

}  // namespace console
