#include "console/form_input.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "console/form_hooks_double.h"

namespace console {
namespace {

using namespace form_keys;

// Screen 1: fields 1..3 (field 2 display-only), continuation screen 2.
// Screen 2: two fields. Screen 3: fields 1 (hidden) and 2 (look-up list 1).
constexpr std::string_view kForms =
    "3,3\r\n"
    "\"d,1b,2,4900,5100,4800,5000,4f00\",3,2,3,5,12,60\r\n"
    "1,2,\"A:\",4,0,0,0,0,0,\"\"\r\n"
    "2,2,\"B:\",4,0,0,4,0,0,\"\"\r\n"
    "3,2,\"C:\",4,0,0,0,0,0,\"\"\r\n"
    "\"d,1b,2,4900,5100,4800,5000\",2,0,0,0,0,0\r\n"
    "5,2,\"D:\",4,0,0,0,0,0,\"\"\r\n"
    "6,2,\"E:\",4,0,0,0,0,0,\"\"\r\n"
    "\"d,1b,2,3e00\",2,0,0,0,0,0\r\n"
    "1,2,\"Pw:\",4,0,0,2,0,0,\"\"\r\n"
    "2,2,\"L:\",3,0,0,0,2,1,\"\"\r\n"
    "1\r\n"
    "511,0,4,10,20,70,0,\"h\",0\r\n";

struct Step {
  std::string typed;  // empty: leave the text as it is
  Input ending;       // the key or click that ends the edit
};

class FormInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForms();
    FormFileResult r = ParseFormFile(kForms);
    ASSERT_TRUE(r.ok()) << r.error;
    FormState& st = Forms();
    st.forms = r.forms;
    st.hooks = &hooks;
    st.ui.EditField = [this](std::int16_t& row, std::int16_t& column, std::int16_t&, std::string& text,
                             std::int16_t& position, Input& ending) {
      edits.push_back({screenOf(row), row, column, text, position});
      if (script.empty()) {
        ending = kEsc;  // a runaway loop ends instead of hanging the test
        ++overruns;
        return;
      }
      Step s = script.front();
      script.pop_front();
      if (!s.typed.empty()) text = FitValue(s.typed, text.size());
      ending = s.ending;
    };
    st.ui.SetKeyOptions = [this](std::string_view c, std::string_view) { keyOptions.emplace_back(c); };
    st.ui.Beep = [this] { ++beeps; };
    st.ui.PushWindow = [this](std::int16_t, std::int16_t, std::int16_t, std::int16_t) { ++windows; };
    st.ui.PopWindow = [this] { --windows; };
    st.ui.ShowHelp = [this](std::string_view t) { help.emplace_back(t); };
  }
  void TearDown() override { ResetForms(); }

  std::int16_t screenOf(std::int16_t) const { return 0; }

  struct Edit {
    int screen;
    std::int16_t row, column;
    std::string text;
    std::int16_t position;
  };
  std::deque<Step> script;
  std::vector<Edit> edits;
  std::vector<std::string> keyOptions;
  int beeps = 0, windows = 0, overruns = 0;
  std::vector<std::string> help;
  testing::FormHooksDouble hooks;

  std::vector<std::int16_t> Rows() const {
    std::vector<std::int16_t> rows;
    for (const Edit& e : edits) rows.push_back(e.row);
    return rows;
  }
};

struct NavCase {
  const char* name;
  int screen;
  bool prev, next;
  std::vector<Step> steps;
  std::vector<std::int16_t> rows;  // rows of the fields edited, in order
  std::int16_t endKey;
};

TEST_F(FormInputTest, Navigation) {
  const NavCase cases[] = {
      {"Esc on field 2 goes to field 1, Esc there ends", 2, false, false, {{"", kDown}, {"", kEsc}, {"", kEsc}},
       {5, 6, 5}, kEsc},
      {"Enter on the last field ends the screen", 2, false, false, {{"", kEnter}, {"", kEnter}}, {5, 6}, kEnter},
      {"Down on the last field stays", 2, false, false, {{"", kDown}, {"", kDown}, {"", kEnd}}, {5, 6, 6}, kEnd},
      {"PgDn before the last field jumps to it", 2, false, true, {{"", kPgDn}, {"", kCtrlB}}, {5, 6}, kCtrlB},
      {"PgDn on the last field without a next page stays", 2, false, false, {{"", kPgDn}, {"", kPgDn}, {"", kEnd}},
       {5, 6, 6}, kEnd},
      {"PgDn on the last field with a next page ends", 2, false, true, {{"", kPgDn}, {"", kPgDn}}, {5, 6}, kPgDn},
      {"PgUp on the first field without a previous page stays", 2, false, false, {{"", kPgUp}, {"", kEsc}}, {5, 5},
       kEsc},
      {"PgUp on the first field with a previous page ends", 2, true, false, {{"", kPgUp}}, {5}, kPgUp},
      {"Up on the first field of a main screen stays", 2, false, false, {{"", kUp}, {"", kEsc}}, {5, 5}, kEsc},
      {"display-only fields are skipped both ways", 1, false, false,
       {{"", kDown}, {"", kUp}, {"", kEsc}}, {1, 3, 1}, kEsc},
      {"key 0 stays on the field", 2, false, false, {{"", 0}, {"", kEsc}}, {5, 5}, kEsc},
      {"a click picks the field under it", 2, false, false, {{"", Input::ClickAt(6, 4)}, {"", kEsc}, {"", kEsc}},
       {5, 6, 5}, kEsc},
      {"a click on a caption-less spot stays", 2, false, false, {{"", Input::ClickAt(6, 40)}, {"", kEsc}}, {5, 5},
       kEsc},
      // F11 and the keys above it are negative 16-bit codes: they are keys
      // all the same, not clicks.
      {"F11 leaves the screen like any key it has no use for", 2, false, false, {{"", kF11}}, {5}, kF11},
  };
  for (const NavCase& c : cases) {
    edits.clear();
    script.assign(c.steps.begin(), c.steps.end());
    std::int16_t end = RunForm(c.screen, c.prev, c.next);
    EXPECT_EQ(end, c.endKey) << c.name;
    EXPECT_EQ(Rows(), c.rows) << c.name;
    EXPECT_TRUE(script.empty()) << c.name;
    EXPECT_EQ(overruns, 0) << c.name;
    Forms().ResumeScreen = 0;
  }
  EXPECT_EQ(windows, 0);  // every window opened was closed
}

TEST_F(FormInputTest, ContinuationScreens) {
  // Enter on the last field of screen 1 opens screen 2; Up on its first
  // field comes back with Esc and screen 1 stays on its field.
  script = {{"", kDown}, {"", kEnter}, {"", kUp}, {"", kEsc}, {"", kEsc}};
  EXPECT_EQ(RunForm(1), kEsc);
  EXPECT_EQ(Rows(), (std::vector<std::int16_t>{1, 3, 5, 3, 1}));

  // Enter through the continuation's last field ends the main screen with Enter.
  edits.clear();
  script = {{"", kF2}, {"", kEnter}, {"", kEnter}};
  EXPECT_EQ(RunForm(1), kEnter);
  EXPECT_EQ(Rows(), (std::vector<std::int16_t>{1, 5, 6}));
}

TEST_F(FormInputTest, PagingResumesTheContinuationScreen) {
  script = {{"", kF2}, {"", kPgDn}, {"", kPgDn}};
  EXPECT_EQ(RunForm(1, false, true), kPgDn);
  EXPECT_EQ(Forms().ResumeScreen, 2);
  // The next page opens straight on the continuation screen.
  edits.clear();
  script = {{"", kEnter}, {"", kEnter}};
  EXPECT_EQ(RunForm(1, true, true), kEnter);
  EXPECT_EQ(Rows(), (std::vector<std::int16_t>{5, 6}));
  EXPECT_EQ(Forms().ResumeScreen, 0);
}

TEST_F(FormInputTest, RefusedValueIsEditedAgainWithABeep) {
  int calls = 0;
  hooks.validateField = [&](int s, std::string& text, int& j, std::int16_t&) {
    ++calls;
    if (text.substr(0, 2) == "no") return HookAnswer::kRefuse;
    Forms().forms.Field(s, j).value = FitValue(text, 4);
    return HookAnswer::kAccept;
  };
  script = {{"no", kEnter}, {"ok", kEnter}, {"", kEnter}};
  EXPECT_EQ(RunForm(2), kEnter);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(calls, 3);
  ASSERT_GE(edits.size(), 2u);
  EXPECT_EQ(edits[1].row, 5);
  EXPECT_EQ(edits[1].text, "no  ");  // the operator corrects what he typed
  EXPECT_EQ(Forms().forms.Field(2, 1).value, "ok  ");
}

TEST_F(FormInputTest, HiddenFieldLeftBlankKeepsTheStoredValue) {
  SetFieldValue(3, 1, "abcd");
  std::string validated;
  hooks.validateField = [&](int, std::string& text, int&, std::int16_t&) {
    if (validated.empty()) validated = text;
    return HookAnswer::kAccept;
  };
  script = {{"", kEnter}, {"", kEsc}, {"", kEsc}};
  RunForm(3);
  EXPECT_EQ(edits[0].text, "    ");  // edited from an empty value
  EXPECT_EQ(validated, "abcd");
  // Hidden display switched on and off, and every save restored.
  int pushes = 0, pops = 0, hidden = 0, shown = 0;
  for (const std::string& o : keyOptions) {
    pushes += o.find('+') != std::string::npos;
    pops += o == "-";
    hidden += o == "h";
    shown += o == "v";
  }
  EXPECT_EQ(pushes, pops);
  EXPECT_GE(hidden, 1);
  EXPECT_EQ(hidden, shown);
}

TEST_F(FormInputTest, ScreenValidationSendsBackToTheFirstField) {
  int asked = 0;
  hooks.validateScreen = [&](int, std::int16_t key) {
    ++asked;
    return (asked == 1 && key == kEnter) ? HookAnswer::kRefuse : HookAnswer::kAccept;
  };
  script = {{"", kEnter}, {"", kEnter}, {"", kCtrlB}};
  EXPECT_EQ(RunForm(2), kCtrlB);
  EXPECT_EQ(Rows(), (std::vector<std::int16_t>{5, 6, 5}));
  EXPECT_EQ(asked, 2);
}

TEST_F(FormInputTest, HelpOnF1ThenBackToTheField) {
  Forms().helpTopic = "REPQUOTA  ";
  script = {{"", kF1}, {"", kEsc}};
  RunForm(2);
  EXPECT_EQ(help, (std::vector<std::string>{"REPQUOTA"}));
  EXPECT_EQ(Rows(), (std::vector<std::int16_t>{5, 5}));

  Forms().helpTopic.clear();
  script = {{"", kF1}, {"", kEsc}};
  RunForm(2);
  EXPECT_EQ(help.size(), 1u);
}

TEST_F(FormInputTest, LookupChosenRefusedAndShownAgain) {
  std::deque<std::int16_t> browseResults;
  int browsed = 0, applied = 0;
  Forms().ui.BrowseList = [&](std::int16_t& list, std::int16_t& result) {
    EXPECT_EQ(list, 1);
    ++browsed;
    result = browseResults.empty() ? -1 : browseResults.front();
    if (!browseResults.empty()) browseResults.pop_front();
  };
  hooks.applyLookup = [&](int, int s, int& j) {
    ++applied;
    if (applied == 1) return HookAnswer::kRefuse;  // first choice refused: the list comes again
    Forms().forms.Field(s, j).value = "007";
    return HookAnswer::kAccept;
  };
  // Left without choosing: a beep and the same field.
  browseResults = {-1};
  script = {{"", kDown}, {"", kF4}, {"", kEsc}, {"", kEsc}};
  RunForm(3);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(applied, 0);

  // Refused once, then accepted: on the last field of a screen without
  // continuation the look-up ends the screen with Enter.
  edits.clear();
  browseResults = {0, 0};
  script = {{"", kDown}, {"", kF4}};
  EXPECT_EQ(RunForm(3), kEnter);
  EXPECT_EQ(browsed, 3);
  EXPECT_EQ(applied, 2);
  EXPECT_EQ(Forms().forms.Field(3, 2).value, "007");
}

TEST_F(FormInputTest, ScreenWithoutEditableFieldsIsValidatedAndClosed) {
  // Every field of screen 2 display-only.
  for (FormField& f : Forms().forms.Screen(2).fields) f.ints[5] = kFieldDisplayOnly;
  int validated = 0, painted = 0;
  hooks.validateScreen = [&](int, std::int16_t) { return ++validated, HookAnswer::kAccept; };
  hooks.paintScreen = [&](int) { ++painted; };
  RunForm(2);
  EXPECT_TRUE(edits.empty());
  EXPECT_EQ(validated, 1);
  EXPECT_EQ(painted, 1);
}

TEST_F(FormInputTest, LoweredFieldCountHidesTheRest) {
  Forms().forms.Screen(2).fieldCount = 1;
  script = {{"", kEnter}};
  EXPECT_EQ(RunForm(2), kEnter);
  EXPECT_EQ(Rows(), (std::vector<std::int16_t>{5}));
}

TEST_F(FormInputTest, UnknownScreenEndsWithEscInsteadOfCrashing) {
  EXPECT_EQ(RunForm(9), kEsc);
  EXPECT_EQ(RunForm(0), kEsc);
  EXPECT_TRUE(edits.empty());
}

TEST_F(FormInputTest, LastEditedFieldIsClearedOnReturn) {
  LastEditedField seen;
  hooks.validateField = [&](int, std::string&, int&, std::int16_t&) {
    seen = Forms().lastEdited;
    return HookAnswer::kAccept;
  };
  script = {{"x1", kEnter}, {"", kEsc}, {"", kEsc}};
  RunForm(2);
  EXPECT_EQ(seen.screen, 2);
  EXPECT_EQ(seen.field, 1);
  EXPECT_EQ(seen.text, "x1  ");
  EXPECT_EQ(Forms().lastEdited.screen, 0);
  EXPECT_TRUE(Forms().lastEdited.text.empty());
}

}  // namespace
}  // namespace console

namespace console {
namespace {

TEST(FormInputField, CursorAtEndAndTrailingCellsBlanked) {
  ResetForms();
  FormFileResult r = ParseFormFile(
      "1,2\r\n\"d,1b\",2,0,0,0,0,0\r\n"
      "1,2,\"N:\",6,0,3,8,0,0,\"\"\r\n"
      "2,2,\"M:\",6,0,0,0,0,0,\"\"\r\n0\r\n");
  ASSERT_TRUE(r.ok()) << r.error;
  Forms().forms = r.forms;
  SetFieldValue(1, 1, "ab");
  SetFieldValue(1, 2, "cd");
  std::vector<std::int16_t> positions;
  std::vector<std::pair<std::pair<int, int>, std::string>> writes;
  int edits = 0;
  Forms().ui.WriteAt = [&](std::int16_t row, std::int16_t column, std::string_view text) {
    writes.push_back({{row, column}, std::string(text)});
  };
  Forms().ui.EditField = [&](std::int16_t&, std::int16_t&, std::int16_t&, std::string& text, std::int16_t& position,
                             Input& ending) {
    positions.push_back(position);
    ending = ++edits < 3 ? form_keys::kEnter : form_keys::kEsc;
    if (edits == 1) text = FitValue("abc", 6);
  };
  RunForm(1);
  // Flag 8: after the last non-blank character; otherwise at the start.
  ASSERT_GE(positions.size(), 2u);
  EXPECT_EQ(positions[0], 3);
  EXPECT_EQ(positions[1], 1);
  // The three cells after the input area are blanked on entry, and the
  // typed text is written back with them when the edit ends.
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[0], (std::pair<std::pair<int, int>, std::string>{{1, 2 + 2 + 6}, "   "}));
  EXPECT_EQ(writes[1], (std::pair<std::pair<int, int>, std::string>{{1, 2 + 2}, "abc      "}));
  EXPECT_EQ(Forms().forms.Field(1, 1).value, "abc   ");
  ResetForms();
}

}  // namespace
}  // namespace console
