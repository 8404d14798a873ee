// Form input: runs one screen of the form definition file, field by field,
// calling the module's hooks to paint, validate and fill it.
//
// The form input knows nothing of what the screens mean. The module hands in
// its hooks as one interface (FormHooks), and the screen primitives it draws
// with (window, frame, styles, key options, field editor, help, look-up list)
// come through FormUi so that the same loop runs on any terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "console/form_file.h"
#include "console/input.h"

namespace console {

// The key codes, under the name the module's screens have always used.
namespace form_keys = platform::keys;

// What a hook answers: go on (the value, the choice, the screen is
// accepted) or not (the operator stays where he is).
enum class HookAnswer { kAccept, kRefuse };

// The module's side of its forms: what the screens and look-up lists mean.
// The form input knows nothing of that; the module implements this and
// installs it with ScopedFormHooks. Without hooks installed every value is
// stored as typed and every screen and list goes on.
class FormHooks {
 public:
  virtual ~FormHooks() = default;
  // Draws the captions and values of `screen`, once, after its window opened.
  virtual void PaintScreen(int screen) = 0;
  // The edit of `field` ended with `key` (any key but Esc; 0 when a click
  // ended it). Stores the accepted text into the field; kRefuse has the
  // operator edit the same field again. May change the text, move to
  // another field, change the key and the fields' flags.
  virtual HookAnswer ValidateField(int screen, std::string& text, int& field, std::int16_t& key) = 0;
  // Shows the stored value of `field` again (after an edit left with Esc).
  virtual void ShowField(int screen, int field) = 0;
  // A record was chosen in look-up list `list` while on `field` (screen 0
  // and field 0 for a list opened from another list): kAccept takes it (the
  // hook may move to another field), kRefuse shows the list again.
  virtual HookAnswer ApplyLookup(int list, int screen, int& field) = 0;
  // The screen is about to end with `key`: kAccept lets it end, kRefuse
  // goes on editing from its first editable field.
  virtual HookAnswer ValidateScreen(int screen, std::int16_t key) = 0;
  // Before look-up list `list` opens: the range of keys it shows (empty:
  // no limit); kRefuse does not open it.
  virtual HookAnswer PrepareList(int list, std::string& startKey, std::string& endKey) = 0;
  // The line list `list` shows for the record just read.
  virtual std::string FormatListLine(int list) = 0;
};

// The screen primitives the form input draws with. Rows and columns are
// relative to the current pop-up window.
struct FormUi {
  std::function<void(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right)> PushWindow;
  std::function<void()> PopWindow;
  std::function<void(std::int16_t kind)> DrawFrame;
  std::function<void(std::string_view letters)> SetStyle;
  std::function<void(std::string_view commands, std::string_view keyList)> SetKeyOptions;
  std::function<void(std::string_view options)> SetFieldOptions;
  std::function<void(std::int16_t& row, std::int16_t& column, std::int16_t& width, std::string& text,
                     std::int16_t& position, Input& ending)>
      EditField;
  std::function<void(std::int16_t row, std::int16_t column, std::string_view text)> WriteAt;
  std::function<void()> Beep;
  std::function<void(std::string_view topic)> ShowHelp;
  // Runs look-up list `list`; result 0 when a line was chosen.
  std::function<void(std::int16_t& list, std::int16_t& result)> BrowseList;
};

struct LastEditedField {
  std::string text;
  std::int16_t screen = 0;
  std::int16_t field = 0;
};

// Process-wide form state.
struct FormState {
  FormScreens forms;
  FormHooks* hooks = nullptr;  // none: values stored as typed
  FormUi ui;
  // The continuation screen that was left with PgUp or PgDn.
  std::int16_t ResumeScreen = 0;
  LastEditedField lastEdited;
  std::string helpTopic;  // the session's menu name; empty = no help
};

FormState& Forms();
// Back to an empty state (tests).
void ResetForms();

// Installs the module's hooks for as long as it lives, and puts back the
// ones it found.
class ScopedFormHooks {
 public:
  explicit ScopedFormHooks(FormHooks& hooks) : previous_(Forms().hooks) { Forms().hooks = &hooks; }
  ~ScopedFormHooks() { Forms().hooks = previous_; }
  ScopedFormHooks(const ScopedFormHooks&) = delete;
  ScopedFormHooks& operator=(const ScopedFormHooks&) = delete;

 private:
  FormHooks* previous_;
};

// Runs screen `screen` (> 0 a main screen, < 0 screen -screen as a
// continuation screen). previousPage / nextPage non-zero let PgUp / PgDn end
// the screen. `key` returns the key that ended it.
void FormInput(std::int16_t& screen, std::int16_t& previousPage, std::int16_t& nextPage, std::int16_t& key);

// Convenience for callers with plain values: returns the ending key.
std::int16_t RunForm(int screen, bool previousPage = false, bool nextPage = false);

// Sets a field's value buffer, cut or blank padded to its length.
void SetFieldValue(int screen, int field, std::string_view text);

}  // namespace console
