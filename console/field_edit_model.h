// The field editor's rules, apart from the screen: what each key does to a
// fixed-length text, its cursor position and the option shown, and which
// keys end the edit as the exit-key table lets them. The drawing layer
// (field_editor.h) draws the state and feeds the keys in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/input.h"

namespace console {

// One choice of an option field: the value the field receives and the text
// shown for it.
struct FieldOption {
  std::string value;
  std::string shown;
  bool operator==(const FieldOption&) const = default;
};

// "|S,Sí|N,No" -> {S, Sí}, {N, No}; an entry without a comma is shown as it
// is. Nothing before the first "|" counts; "" gives none (an ordinary field).
std::vector<FieldOption> ParseFieldOptions(std::string_view list);

// What stays the same for the whole edit.
struct FieldEditSetup {
  int width = 0;  // characters per screen row; 0 or less: the length + 1
  // The screen cell of the field's first character: clicks come in screen
  // cells.
  int screenRow = 1;
  int screenColumn = 1;
  std::vector<FieldOption> options;  // none: an ordinary field
  // Typing a letter in an option field looks for an option shown with that
  // first letter; with foldAccents accents and case are ignored ("e" finds
  // "És"), without it only case.
  bool foldAccents = true;
  // The exit-key table: the keys that may end the edit (2-byte little-endian
  // codes; empty: any key) and the code reported for each.
  std::string exitKeys;
  std::string exitKeyResults;
};

struct FieldEditState {
  std::string text;        // its length never changes
  int position = 1;        // cursor, 1 to length + 1
  bool insert = false;     // insert mode, else overwrite (the keyboard's Insert toggle)
  std::size_t option = 0;  // option fields: the option shown
  bool operator==(const FieldEditState&) const = default;
};

// What one key or click did.
struct FieldEditStep {
  enum class Outcome {
    kEditing,  // the edit goes on
    kEnded,    // the edit ended with `ending`
  };
  enum class Redraw {
    kNone,
    kTyped,  // overwrite mode: only the character typed at `typedAt`
    kField,  // the whole field
  };
  Outcome outcome = Outcome::kEditing;
  // kEnded: the key after translation through the exit-key table, or the
  // click outside the field, which ends the edit whatever the table says.
  Input ending;
  Redraw redraw = Redraw::kNone;
  int typedAt = 0;              // kTyped: the position written
  bool insertToggled = false;   // Ins: the keyboard's toggle follows `insert`
  // An ending key the table does not list: the edit goes on from the
  // field's first cell and the field is drawn again.
  bool resumed = false;
  std::optional<std::string> copied;  // Ctrl+C: the text for the clipboard

  bool Ended() const { return outcome == Outcome::kEnded; }
};

// The state an edit starts from: the position clamped to 1..length + 1; an
// option field shows the first option whose value is the text exactly (else
// the first option) and its text becomes that value.
FieldEditState StartFieldEdit(std::string text, int position, bool insert, const FieldEditSetup& setup);

// Applies one key or click. `clipboard` is the clipboard's text, needed by
// Ctrl+V only.
FieldEditStep ApplyFieldInput(FieldEditState& state, const FieldEditSetup& setup, const Input& input,
                              std::string_view clipboard = {});

// Characters per screen row for a text of `length`.
int FieldWidth(const FieldEditSetup& setup, int length);
// The widest option text: the cells an option field shows.
int OptionsWidth(const std::vector<FieldOption>& options);

// Where the cursor of `position` stands, counted from the field's first
// cell: rows down and columns right. The position after a full last row
// stays on that row, just past it.
struct CellOffset {
  int rows = 0;
  int columns = 0;
  bool operator==(const CellOffset&) const = default;
};
CellOffset CursorOffset(int position, int length, int width);

}  // namespace console
