#include "console/field_editor.h"

#include "console/field_edit_model.h"
#include "console/key_options.h"
#include "console/key_reader.h"
#include "console/screen.h"
#include "base/cp850.h"
#include "platform/terminal.h"

namespace console {

namespace {

std::string& Options() {
  static std::string options;
  return options;
}

// Draws the field and places the cursor as the edit model says.
class FieldView {
 public:
  FieldView(std::int16_t row, std::int16_t column, const FieldEditSetup& setup, const FieldEditState& state,
            std::int16_t mask)
      : row_(row), column_(column), setup_(setup), state_(state), mask_(mask),
        length_(static_cast<int>(state.text.size())), width_(FieldWidth(setup, length_)),
        shownWidth_(OptionsWidth(setup.options)) {}

  bool OptionField() const { return !setup_.options.empty(); }

  // The pointers either side of an option field, in the caller's colour.
  void Pointers(bool shown) {
    const auto pointer = [&](char32_t glyph) {
      return shown ? std::string(1, static_cast<char>(*base::UnicodeToCp850(glyph))) : std::string(" ");
    };
    WriteAt(row_, static_cast<std::int16_t>(column_ - 1), pointer(U'\u25C4'));
    WriteAt(row_, static_cast<std::int16_t>(column_ + shownWidth_), pointer(U'\u25BA'));
  }

  void Draw() {
    if (OptionField()) {
      std::string shown = setup_.options[state_.option].shown;
      shown.resize(static_cast<std::size_t>(shownWidth_), ' ');
      WriteAt(row_, column_, shown);
      return;
    }
    for (int k = 1; k <= length_; k += width_) {
      const auto r = static_cast<std::int16_t>(row_ + (k - 1) / width_);
      if (mask_ != 0) {
        WriteAt(r, column_, std::string(static_cast<std::size_t>(width_ - 1), static_cast<char>(mask_)));
      } else {
        WriteAt(r, column_, state_.text.substr(static_cast<std::size_t>(k - 1), static_cast<std::size_t>(width_)));
      }
    }
  }

  void PlaceCursor(int position) {
    const CellOffset at = CursorOffset(position, length_, width_);
    LocateInWindow(static_cast<std::int16_t>(row_ + at.rows), static_cast<std::int16_t>(column_ + at.columns));
  }

  // Overwrite mode writes just the typed character, unless input is hidden.
  void Typed(int position) {
    if (mask_ != 0) return;
    PlaceCursor(position);
    platform::CurrentTerminal().Write(
        std::string(1, state_.text[static_cast<std::size_t>(position - 1)]));
  }

 private:
  std::int16_t row_, column_;
  const FieldEditSetup& setup_;
  const FieldEditState& state_;
  std::int16_t mask_;
  int length_, width_, shownWidth_;
};

}  // namespace

void SetFieldOptions(std::string_view options) { Options() = std::string(options); }
const std::string& FieldOptions() { return Options(); }

void EditField(std::int16_t& row, std::int16_t& column, std::int16_t& width, std::string& text,
               std::int16_t& position, Input& ending) {
  platform::Terminal& term = platform::CurrentTerminal();
  const PopupWindowState& window = PopupWindow();
  const int offsetRow = window.Level == 0 ? 0 : window.Top;
  const int offsetColumn = window.Level == 0 ? 0 : window.Left;
  if (row == 0) row = static_cast<std::int16_t>(term.CursorRow() - offsetRow);
  if (column == 0) column = static_cast<std::int16_t>(term.CursorColumn() - offsetColumn);
  if (width <= 0) width = static_cast<std::int16_t>(text.size() + 1);

  const KeyOptionState& table = KeyOptions();
  FieldEditSetup setup;
  setup.width = width;
  setup.screenRow = row + offsetRow;
  setup.screenColumn = column + offsetColumn;
  setup.options = ParseFieldOptions(Options());
  setup.exitKeys = table.ExitKeys;
  setup.exitKeyResults = table.ExitKeyResults;
  FieldEditState state = StartFieldEdit(std::move(text), position, term.InsertMode(), setup);
  FieldView view(row, column, setup, state, table.MaskChar);
  const bool optionField = view.OptionField();
  const auto showCursor = [&] { term.ShowCursor(term.InsertMode() ? 50 : 100); };

  if (optionField) view.Pointers(true);
  SetStyle("u");
  LocateInWindow(row, column);
  bool redraw = true;
  for (;;) {
    if (redraw) view.Draw();
    if (!optionField) {
      view.PlaceCursor(state.position);
      showCursor();
    }
    Input in;
    for (;;) {
      in = WaitInput();
      state.insert = term.InsertMode();
      if (in.key != keys::kIns) break;
      // Ins flips the keyboard's own toggle while the editor waits.
      ApplyFieldInput(state, setup, in);
      term.SetInsertMode(state.insert);
      if (!optionField) showCursor();
    }
    term.HideCursor();

    const FieldEditStep step =
        ApplyFieldInput(state, setup, in, in.key == keys::kCtrlV ? term.ClipboardText() : std::string());
    if (step.copied) term.SetClipboardText(*step.copied);
    if (step.redraw == FieldEditStep::Redraw::kTyped) view.Typed(step.typedAt);
    if (step.Ended()) {
      ending = step.ending;
      break;
    }
    if (step.resumed) LocateInWindow(row, column);
    redraw = step.redraw == FieldEditStep::Redraw::kField;
  }

  SetStyle("h");
  if (optionField) view.Pointers(false);
  LocateInWindow(row, column);
  text = std::move(state.text);
  position = static_cast<std::int16_t>(state.position);
}

}  // namespace console
