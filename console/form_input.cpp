#include "console/form_input.h"

#include <cstdlib>
#include <optional>

#include "base/strings.h"

namespace console {
namespace {

using namespace form_keys;

bool DisplayOnly(const FormField& f) { return (f.Flags() & kFieldDisplayOnly) != 0; }

bool AllBlank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// Keys with which a continuation screen hands control back for good.
bool EndsFromContinuation(std::int16_t key) {
  return key == kPgUp || key == kPgDn || key == kEnd || key == kCtrlB || key == kEnter || key == kDown ||
         key == kUp;
}

class ScreenRun {
 public:
  ScreenRun(std::int16_t screen, bool isMain, std::int16_t& previousPage, std::int16_t& nextPage)
      : st_(Forms()), screen_(screen), isMain_(isMain), previousPage_(previousPage), nextPage_(nextPage) {}

  std::int16_t Run(std::int16_t key) {
    key_ = key;
    const FormScreen& sc = Screen();
    const auto geometry = sc.geometry;
    const bool hasWindow = geometry[0] != 0;
    if (hasWindow) {
      Call(st_.ui.SetStyle, "+n");
      Call(st_.ui.PushWindow, geometry[0], geometry[1], geometry[2], geometry[3]);
      Call(st_.ui.DrawFrame, std::int16_t{2});
      Call(st_.ui.SetStyle, "-");
    }
    if (st_.hooks) st_.hooks->PaintScreen(screen_);
    Bounds();

    bool leave = first_ > last_;
    if (!leave) leave = Resume();
    field_ = static_cast<std::int16_t>(first_);
    for (;;) {
      if (leave) {
        if (!st_.hooks || st_.hooks->ValidateScreen(screen_, key_) == HookAnswer::kAccept) break;
        Bounds();
        field_ = static_cast<std::int16_t>(first_);
        leave = false;
      }
      if (field_ < first_ || field_ > last_) break;
      leave = EditOne();
    }
    if (hasWindow) Call(st_.ui.PopWindow);
    st_.lastEdited = {};
    return key_;
  }

 private:
  template <typename F, typename... A>
  static void Call(const F& f, A&&... a) {
    if (f) f(std::forward<A>(a)...);
  }

  FormScreen& Screen() { return st_.forms.Screen(screen_); }
  int FieldCount() {
    FormScreen& sc = Screen();
    return std::min<int>(sc.fieldCount, static_cast<int>(sc.fields.size()));
  }
  FormField& Field(int j) { return st_.forms.Field(screen_, j); }

  // Hooks may change flags, so the bounds are worked out again after them.
  void Bounds() {
    const int n = FieldCount();
    first_ = 1;
    while (first_ <= n && DisplayOnly(Field(first_))) ++first_;
    last_ = n;
    while (last_ >= 1 && DisplayOnly(Field(last_))) --last_;
  }

  // Reopens the continuation screen the operator left with PgUp or PgDn.
  // True when the screen is to end with the key that came back.
  bool Resume() {
    std::int16_t& resume = st_.ResumeScreen;
    if (resume > 0) {
      int s = screen_;
      // A chain of continuations never needs more steps than there are screens.
      for (std::size_t steps = 0; s != resume && steps <= st_.forms.screens.size(); ++steps) {
        const int next = s >= 1 && s <= static_cast<int>(st_.forms.screens.size()) ? st_.forms.Screen(s).continuation : 0;
        if (next <= 0 || next > static_cast<int>(st_.forms.screens.size())) break;
        s = next;
      }
      if (s != resume) resume = 0;
    }
    const std::int16_t continuation = Screen().continuation;
    if (resume > 0 && resume != screen_ && continuation != 0) return RunContinuation();
    resume = 0;
    return false;
  }

  // Runs the continuation screen; true when the key it ended with ends
  // this screen too (and is then this screen's key).
  bool RunContinuation() {
    std::int16_t c = static_cast<std::int16_t>(-Screen().continuation);
    std::int16_t k = key_;
    FormInput(c, previousPage_, nextPage_, k);
    if (!EndsFromContinuation(k)) return false;
    key_ = k;
    return true;
  }

  // Edits field_ and navigates; true when the screen is to end.
  bool EditOne() {
    const int j = field_;
    const FormField snapshot = Field(j);
    const std::int16_t flags = snapshot.Flags();
    const std::int16_t inputColumn = static_cast<std::int16_t>(snapshot.CaptionColumn() + snapshot.caption.size());
    Call(st_.ui.SetKeyOptions, "+ea", Screen().keys + ",3b00");
    std::string text =
        (flags & (kFieldEditEmpty | kFieldHidden)) ? std::string(snapshot.value.size(), ' ') : snapshot.value;
    if (flags & kFieldHidden) Call(st_.ui.SetKeyOptions, "h", "");
    if (snapshot.TrailingCells() != 0 && !DisplayOnly(snapshot))
      Call(st_.ui.WriteAt, snapshot.Row(), static_cast<std::int16_t>(inputColumn + snapshot.Length()),
           std::string(static_cast<std::size_t>(snapshot.TrailingCells()), ' '));

    if (!DisplayOnly(snapshot)) {
      for (;;) {
        const bool rejected = EditAndCheck(j, snapshot, inputColumn, text);
        Bounds();
        if (!rejected) break;
        Call(st_.ui.Beep);
        field_ = static_cast<std::int16_t>(j);
      }
    }

    text.clear();
    if (flags & kFieldHidden) Call(st_.ui.SetKeyOptions, "v", "");
    Call(st_.ui.SetKeyOptions, "-", "");
    return Navigate();
  }

  // One edit of the field; true when the value or the look-up was refused.
  bool EditAndCheck(int j, const FormField& f, std::int16_t inputColumn, std::string& text) {
    Call(st_.ui.SetFieldOptions, f.options);
    std::int16_t row = f.Row(), column = inputColumn, width = f.ShownWidth();
    std::int16_t position = 1;
    if (f.Flags() & kFieldCursorAtEnd) position = static_cast<std::int16_t>(base::TrimRight(text).size() + 1);
    Input ending = kEsc;  // nothing to edit with: leave as the operator would
    if (st_.ui.EditField) st_.ui.EditField(row, column, width, text, position, ending);
    key_ = ending.key;
    click_ = ending.click;
    st_.lastEdited = {text, screen_, static_cast<std::int16_t>(j)};

    if (key_ == kF1) {
      if (!st_.helpTopic.empty() && !AllBlank(st_.helpTopic)) Call(st_.ui.ShowHelp, std::string(base::TrimRight(st_.helpTopic)));
      key_ = 0;
      return false;
    }
    if (key_ == kF4) {
      key_ = 0;
      if (f.LookupList() == 0) return false;
      return !Lookup(f.LookupList());
    }
    if (f.TrailingCells() != 0)
      Call(st_.ui.WriteAt, row, inputColumn, text + std::string(static_cast<std::size_t>(f.TrailingCells()), ' '));
    if (key_ == kEsc) {
      if (st_.hooks) st_.hooks->ShowField(screen_, field_);
      return false;
    }
    std::string checked = text;
    if (AllBlank(checked) && (f.Flags() & (kFieldEditEmpty | kFieldHidden))) checked = Field(j).value;
    if (!st_.hooks) {
      Field(j).value = FitValue(checked, Field(j).value.size());
      return false;
    }
    int field = field_;
    const HookAnswer answer = st_.hooks->ValidateField(screen_, checked, field, key_);
    field_ = static_cast<std::int16_t>(field);
    return answer == HookAnswer::kRefuse;
  }

  // F4: the look-up list until a record is accepted or the operator leaves.
  bool Lookup(std::int16_t listNumber) {
    for (;;) {
      std::int16_t list = listNumber, result = -1;
      if (st_.ui.BrowseList) st_.ui.BrowseList(list, result);
      if (result != 0) return false;
      const std::int16_t savedField = field_;
      if (st_.hooks) {
        int field = field_;
        const HookAnswer answer = st_.hooks->ApplyLookup(list, screen_, field);
        field_ = static_cast<std::int16_t>(field);
        if (answer == HookAnswer::kRefuse) {
          field_ = savedField;
          continue;
        }
      }
      Bounds();
      if (field_ == savedField) {
        key_ = kDown;
        if (field_ == last_ && Screen().continuation == 0) key_ = kEnter;
      } else if (field_ >= 1 && field_ <= FieldCount() && DisplayOnly(Field(field_)) && field_ > last_) {
        key_ = kDown;
      }
      return true;
    }
  }

  // Acts on the key that ended the field's edit: moves to another field
  // or ends the screen (true).
  bool Navigate() {
    std::int16_t& resume = st_.ResumeScreen;
    switch (key_) {
      case kPgUp:
        if (field_ > first_ || previousPage_ == 0) {
          field_ = static_cast<std::int16_t>(first_);
          resume = 0;
          return false;
        }
        resume = screen_;
        return true;
      case kPgDn:
        if (field_ < last_ || nextPage_ == 0) {
          field_ = static_cast<std::int16_t>(last_);
          resume = 0;
          return false;
        }
        resume = screen_;
        return true;
      case kEnd:
      case kCtrlB:
        return true;
      case kEsc:
        if (field_ > first_) {
          field_ = static_cast<std::int16_t>(first_);
          return false;
        }
        return true;
      case kEnter:
      case kDown:
      case kF2:
        if ((field_ == last_ || key_ == kF2) && Screen().continuation != 0) return RunContinuation();
        if (key_ == kDown) {
          if (field_ < last_) ++field_;
          return false;
        }
        if (key_ == kEnter) {
          ++field_;
          return field_ > last_;  // Enter on the last field ends the screen
        }
        return false;
      case kUp:
        if (field_ > first_) {
          --field_;
          return false;
        }
        if (!isMain_) {
          key_ = kEsc;
          return true;
        }
        return false;
      case 0:
        // A click on the screen moves to the field under it.
        if (click_) MoveTo(*click_);
        return false;
      default:
        return true;
    }
  }

  void MoveTo(const Click& click) {
    const auto& g = Screen().geometry;
    const int r = click.row - g[0];
    const int c = click.column - g[1];
    for (int j = 1; j <= FieldCount(); ++j) {
      const FormField& f = Field(j);
      if (DisplayOnly(f)) continue;
      int rows = 1, shown = f.Length();
      if (f.ShownWidth() != 0) {
        rows = f.Length() / f.ShownWidth();
        shown = f.ShownWidth();
      }
      if (r >= f.Row() && r < f.Row() + rows && c >= f.CaptionColumn() &&
          c < f.CaptionColumn() + static_cast<int>(f.caption.size()) + shown + f.TrailingCells()) {
        field_ = static_cast<std::int16_t>(j);
        return;
      }
    }
  }

  FormState& st_;
  std::int16_t screen_;
  bool isMain_;
  std::int16_t& previousPage_;
  std::int16_t& nextPage_;
  std::int16_t key_ = 0;
  std::optional<Click> click_;  // the click that ended the last edit, if one did
  std::int16_t field_ = 0;
  int first_ = 1;
  int last_ = 0;
};

}  // namespace

FormState& Forms() {
  static FormState state;
  return state;
}

void ResetForms() { Forms() = FormState{}; }

void FormInput(std::int16_t& screen, std::int16_t& previousPage, std::int16_t& nextPage, std::int16_t& key) {
  const bool isMain = screen >= 0;
  screen = static_cast<std::int16_t>(std::abs(screen));
  if (screen < 1 || screen > static_cast<int>(Forms().forms.screens.size())) {
    // A screen the form file does not have cannot be shown: treat it as left.
    key = form_keys::kEsc;
    return;
  }
  key = ScreenRun(screen, isMain, previousPage, nextPage).Run(key);
}

std::int16_t RunForm(int screen, bool previousPage, bool nextPage) {
  std::int16_t s = static_cast<std::int16_t>(screen), p = previousPage ? -1 : 0, n = nextPage ? -1 : 0, key = 0;
  FormInput(s, p, n, key);
  return key;
}

void SetFieldValue(int screen, int field, std::string_view text) {
  FormField& f = Forms().forms.Field(screen, field);
  f.value = FitValue(text, f.value.size());
}

}  // namespace console
