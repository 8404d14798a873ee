#include "console/field_edit_model.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "console/key_options.h"
#include "base/cp850.h"

namespace console {
namespace {

using namespace keys;

// An exit-key table: each key with the code reported for it.
struct ExitTable {
  std::string keys, results;
};
ExitTable Table(std::initializer_list<std::pair<KeyCode, KeyCode>> entries) {
  ExitTable t;
  for (const auto& [key, result] : entries) {
    t.keys += KeyImage(key);
    t.results += KeyImage(result);
  }
  return t;
}
ExitTable Listed(std::initializer_list<KeyCode> keysListed) {
  ExitTable t;
  for (KeyCode k : keysListed) {
    t.keys += KeyImage(k);
    t.results += KeyImage(k);
  }
  return t;
}

std::vector<Input> Typed(std::string_view text) {
  std::vector<Input> in;
  for (char c : text) in.emplace_back(static_cast<KeyCode>(static_cast<unsigned char>(c)));
  return in;
}

// What the last input of a row must have done.
struct Expected {
  std::string text;
  int position;
  std::optional<Input> ending;  // none: still editing
};

struct Row {
  const char* name;
  std::string text;
  int position;
  std::vector<Input> inputs;
  Expected expected;
  bool insert = false;
  int width = 0;
  ExitTable table = {};
  std::string clipboard = {};
};

// The field's first cell is at screen row 3, column 5.
FieldEditSetup SetupOf(const Row& row) {
  FieldEditSetup s;
  s.width = row.width;
  s.screenRow = 3;
  s.screenColumn = 5;
  s.exitKeys = row.table.keys;
  s.exitKeyResults = row.table.results;
  return s;
}

void Check(const Row& row, const FieldEditSetup& setup) {
  FieldEditState state = StartFieldEdit(row.text, row.position, row.insert, setup);
  FieldEditStep step;
  for (std::size_t i = 0; i < row.inputs.size(); ++i) {
    ASSERT_FALSE(step.Ended()) << row.name << ": ended before input " << i;
    step = ApplyFieldInput(state, setup, row.inputs[i], row.clipboard);
  }
  EXPECT_EQ(state.text, row.expected.text) << row.name;
  EXPECT_EQ(state.position, row.expected.position) << row.name;
  if (row.expected.ending) {
    EXPECT_TRUE(step.Ended()) << row.name;
    EXPECT_EQ(step.ending, *row.expected.ending) << row.name;
  } else {
    EXPECT_FALSE(step.Ended()) << row.name;
  }
}

const std::string k20(20, '.');

TEST(FieldEditModel, OrdinaryFieldKeys) {
  const Row rows[] = {
      {"overwrite replaces and moves on", "ABCD", 3, Typed("x"), {"ABxD", 4, {}}},
      {"overwrite stops past the end", "ABCD", 3, Typed("xyz"), {"ABxy", 5, {}}},
      {"insert shifts into the trailing blank", "AB        ", 2, Typed("x"), {"AxB       ", 3, {}}, true},
      {"insert into a full field does nothing", "ABCDEFGHIJ", 2, Typed("x"), {"ABCDEFGHIJ", 2, {}}, true},
      {"insert past the end does nothing", "AB  ", 5, Typed("x"), {"AB  ", 5, {}}, true},
      {"characters 128 to 254 are typed", "AB", 1, {Input(KeyCode{0xd5})}, {"\xd5" "B", 2, {}}},
      {"character 255 is no character: it ends", "AB", 1, {Input(KeyCode{0xff})}, {"AB", 1, Input(0xff)}},
      {"Ins toggles insert mode", "ab  ", 1, {kIns, 'Z'}, {"Zab ", 2, {}}},
      {"Ins twice is overwrite again", "ab  ", 1, {kIns, kIns, 'Z'}, {"Zb  ", 2, {}}},
      {"Backspace deletes before the cursor", "ABCD", 3, {kBackspace}, {"ACD ", 2, {}}},
      {"Backspace at the start does nothing", "ABCD", 1, {kBackspace}, {"ABCD", 1, {}}},
      {"Del deletes at the cursor", "ABCD", 2, {kDel}, {"ACD ", 2, {}}},
      {"Del past the end does nothing", "ABCD", 5, {kDel}, {"ABCD", 5, {}}},
      {"Home goes to the start", "AB  ", 3, {kHome}, {"AB  ", 1, {}}},
      {"End goes after the last non-blank", "AB  ", 1, {kEnd}, {"AB  ", 3, {}}},
      {"End in a full field goes past it", "ABCD", 1, {kEnd}, {"ABCD", 5, {}}},
      {"Ctrl+Y clears the field", "ABCD", 3, {kCtrlY}, {"    ", 1, {}}},
      {"Ctrl+Home clears the field", "ABCD", 3, {kCtrlHome}, {"    ", 1, {}}},
      {"Ctrl+S is no editing key: it ends", "ABCD", 3, {kCtrlS}, {"ABCD", 3, Input(kCtrlS)}},
      {"Left stops at the start", "ABCD", 3, {kLeft, kLeft, kLeft}, {"ABCD", 1, {}}},
      {"Right stops past the end", "ABCD", 3, {kRight, kRight, kRight}, {"ABCD", 5, {}}},
      {"Ctrl+V overwrites from the cursor without control characters", "........", 6, {kCtrlV},
       {".....XYZ", 6, {}}, false, 0, {}, std::string(" X\tY\x7f\xff" "Z  ", 10)},
      {"Ctrl+V stops at the end of the field", "....", 3, {kCtrlV}, {"..ab", 3, {}}, false, 0, {}, "abcdef"},
      {"an empty field takes nothing", "", 1, {'x', kDel, kBackspace, kCtrlV}, {"", 1, {}}, false, 0, {}, "ab"},
  };
  for (const Row& row : rows) Check(row, SetupOf(row));
}

TEST(FieldEditModel, WordsAndRows) {
  const Row rows[] = {
      {"word left to the word's first character", ",abc      ", 5, {kCtrlLeft}, {",abc      ", 2, {}}},
      {"word left over a blank", "one two   ", 5, {kCtrlLeft}, {"one two   ", 1, {}}},
      {"word left over two blanks", "one  two  ", 6, {kCtrlLeft}, {"one  two  ", 1, {}}},
      {"word left stops at any separator", "a.b;c:d   ", 7, {kCtrlLeft}, {"a.b;c:d   ", 5, {}}},
      {"word right to the next word", "one two   ", 1, {kCtrlRight}, {"one two   ", 5, {}}},
      {"word right from the last word goes past the end", "one two   ", 5, {kCtrlRight}, {"one two   ", 11, {}}},
      {"word right over a comma and a blank", "one, two  ", 3, {kCtrlRight}, {"one, two  ", 6, {}}},
      {"word right from leading blanks", "   abc    ", 1, {kCtrlRight}, {"   abc    ", 4, {}}},
      {"word left at the start ends", "abc", 1, {kCtrlLeft}, {"abc", 1, Input(kCtrlLeft)}},
      {"word right at the end ends", "abc", 4, {kCtrlRight}, {"abc", 4, Input(kCtrlRight)}},
      {"Down moves a row", k20, 3, {kDown}, {k20, 13, {}}, false, 10},
      {"Down on the last row ends", k20, 13, {kDown}, {k20, 13, Input(kDown)}, false, 10},
      {"Up moves a row", k20, 13, {kUp}, {k20, 3, {}}, false, 10},
      {"Up on the first row ends", k20, 3, {kUp}, {k20, 3, Input(kUp)}, false, 10},
      {"Shift+Tab moves up a row", k20, 13, {kShiftTab}, {k20, 3, {}}, false, 10},
      {"Shift+Tab on the first row ends as Up", k20, 3, {kShiftTab}, {k20, 3, Input(kUp)}, false, 10},
      {"Down from the position past a full last row ends", k20, 21, {kDown}, {k20, 21, Input(kDown)}, false, 10},
  };
  for (const Row& row : rows) Check(row, SetupOf(row));
}

TEST(FieldEditModel, EndingKeysAndTheExitTable) {
  const Row rows[] = {
      {"Tab ends as Enter", "ab", 1, {kTab}, {"ab", 1, Input(kEnter)}},
      {"Alt+F4 ends as Esc", "ab", 1, {kAltF4}, {"ab", 1, Input(kEsc)}},
      {"Ctrl+F4 ends as Esc", "ab", 1, {kCtrlF4}, {"ab", 1, Input(kEsc)}},
      {"F1 ends as itself", "ab", 1, {kF1}, {"ab", 1, Input(kF1)}},
      {"a hot key ends when any key may", "ab", 1, {kAltX}, {"ab", 1, Input(kAltX)}},
      {"a key the table does not list is ignored", "ab", 1, {kDown, 'Q', kTab}, {"Qb", 2, Input(kEnter)}, false, 0,
       Listed({kEnter, kEsc})},
      {"a hot key the table does not list is ignored", "ab", 1, {kAltX}, {"ab", 1, {}}, false, 0, Listed({kEnter})},
      {"F11 is a key, not a click: unlisted, it is ignored", "ab", 1, {kF11, kAltF11}, {"ab", 1, {}}, false, 0,
       Listed({kEnter, kEsc})},
      {"F11 listed ends the edit", "ab", 1, {kF11}, {"ab", 1, Input(kF11)}, false, 0, Listed({kEsc, kF11})},
      {"a listed key reports its result", "ab", 1, {kEsc}, {"ab", 1, Input(kUp)}, false, 0, Table({{kEsc, kUp}})},
      {"Enter becomes End when End is listed", "ab", 1, {kEnter}, {"ab", 1, Input(kEnd)}, false, 0,
       Listed({kEnter, kEnd})},
      // "d,4f,1b" holds 0d 00 4f 00 1b 00: End's bytes straddle two codes.
      {"Enter becomes End for End's bytes across two codes, then is ignored", "ab", 1, {kEnter}, {"ab", 1, {}},
       false, 0, Listed({kEnter, 0x4f, kEsc})},
      {"without End's bytes Enter stays Enter", "ab", 1, {kEnter}, {"ab", 1, Input(kEnter)}, false, 0,
       Listed({kEnter, kEsc})},
  };
  for (const Row& row : rows) Check(row, SetupOf(row));
}

TEST(FieldEditModel, Clicks) {
  // A 20-character field shown 10 per row from row 3, column 5.
  const Row rows[] = {
      {"a click on the field moves the cursor and ends with key 0", k20, 1, {Input::ClickAt(4, 7)},
       {k20, 13, Input(0)}, false, 10},
      {"with a table the click moves the cursor and editing goes on", k20, 1, {Input::ClickAt(4, 7)},
       {k20, 13, {}}, false, 10, Listed({kEnter})},
      {"a click on the last cell", k20, 1, {Input::ClickAt(4, 14)}, {k20, 20, {}}, false, 10, Listed({kEnter})},
      {"a click below the field ends with the click", k20, 4, {Input::ClickAt(5, 7)},
       {k20, 4, Input::ClickAt(5, 7)}, false, 10},
      {"a click left of the field ends with the click", k20, 4, {Input::ClickAt(3, 4)},
       {k20, 4, Input::ClickAt(3, 4)}, false, 10},
      {"a click right of the field ends with the click", k20, 4, {Input::ClickAt(3, 15)},
       {k20, 4, Input::ClickAt(3, 15)}, false, 10},
      {"a click outside ends whatever the table says", "ab", 1, {Input::ClickAt(9, 40)},
       {"ab", 1, Input::ClickAt(9, 40)}, false, 0, Listed({kEnter})},
      {"a click past the text of a one-row field", "ab", 1, {Input::ClickAt(3, 7)}, {"ab", 3, {}}, false, 0,
       Listed({kEnter})},
  };
  for (const Row& row : rows) Check(row, SetupOf(row));
}

TEST(FieldEditModel, OptionFields) {
  const std::string si = "S" + base::Utf8ToCp850("í");
  const std::string options = "|S," + si + "|N,No|T,Tots";
  const Row rows[] = {
      {"the text's option is shown", "N", 1, {}, {"N", 1, {}}},
      {"a text that is no option shows the first", "X", 1, {}, {"S", 1, {}}},
      {"Left from the first goes to the last", "S", 1, {kLeft}, {"T", 1, {}}},
      {"Right from the last goes to the first", "T", 1, {kRight}, {"S", 1, {}}},
      {"Space is Right", "S", 1, {kSpace}, {"N", 1, {}}},
      {"a letter finds the next option starting with it", "S", 1, {'t'}, {"T", 1, {}}},
      {"the same letter again stays when no other option has it", "S", 1, {'n', 'n'}, {"N", 1, {}}},
      {"a letter no option starts with changes nothing", "N", 1, {'z'}, {"N", 1, {}}},
      {"editing keys change nothing", "N", 1, {kBackspace, kDel, kCtrlHome, kCtrlY, kCtrlV}, {"N", 1, {}}},
      {"Home and End move the position only", "N", 1, {kEnd}, {"N", 2, {}}},
      {"Down ends", "N", 1, {kDown}, {"N", 1, Input(kDown)}},
      {"a value longer than the field is cut", "", 1, {}, {"", 1, {}}},
  };
  for (const Row& row : rows) {
    FieldEditSetup setup = SetupOf(row);
    setup.options = ParseFieldOptions(options);
    Check(row, setup);
  }
}

TEST(FieldEditModel, OptionFieldClicks) {
  // "Yes" and "No" shown 3 cells wide at row 3, column 5: the pointers sit
  // at columns 4 and 8.
  const Row rows[] = {
      {"the right pointer is Right", "S", 1, {Input::ClickAt(3, 8)}, {"N", 1, {}}},
      {"the left pointer is Left", "N", 1, {Input::ClickAt(3, 4)}, {"S", 1, {}}},
      {"a click on the text ends with key 0", "N", 1, {Input::ClickAt(3, 6)}, {"N", 1, Input(0)}},
      {"a click elsewhere ends with the click", "N", 1, {Input::ClickAt(4, 6)}, {"N", 1, Input::ClickAt(4, 6)}},
  };
  for (const Row& row : rows) {
    FieldEditSetup setup = SetupOf(row);
    setup.options = ParseFieldOptions("|S,Yes|N,No");
    Check(row, setup);
  }
}

TEST(FieldEditModel, OptionSearchFoldsAccentsOnlyWhenAsked) {
  FieldEditSetup setup;
  setup.options = ParseFieldOptions("|A,Altres|E," + base::Utf8ToCp850("És") + "|X,extra");
  FieldEditState state = StartFieldEdit("A", 1, false, setup);
  ApplyFieldInput(state, setup, 'e');
  EXPECT_EQ(state.text, "E") << "accents folded: e finds És";
  setup.foldAccents = false;
  state = StartFieldEdit("A", 1, false, setup);
  ApplyFieldInput(state, setup, 'e');
  EXPECT_EQ(state.text, "X") << "case folded only: e skips És and finds extra";
}

TEST(FieldEditModel, CopyAndRedrawReports) {
  FieldEditSetup setup;
  FieldEditState state = StartFieldEdit("  ab c  ", 1, false, setup);
  FieldEditStep step = ApplyFieldInput(state, setup, kCtrlC);
  EXPECT_EQ(step.copied, "ab c");
  EXPECT_FALSE(step.Ended());
  // Overwrite draws only the typed cell; insert and deletions the whole field.
  step = ApplyFieldInput(state, setup, 'x');
  EXPECT_EQ(step.redraw, FieldEditStep::Redraw::kTyped);
  EXPECT_EQ(step.typedAt, 1);
  state.insert = true;
  EXPECT_EQ(ApplyFieldInput(state, setup, 'y').redraw, FieldEditStep::Redraw::kField);
  EXPECT_EQ(ApplyFieldInput(state, setup, kLeft).redraw, FieldEditStep::Redraw::kNone);
  step = ApplyFieldInput(state, setup, kIns);
  EXPECT_TRUE(step.insertToggled);
  EXPECT_FALSE(state.insert);

  setup.options = ParseFieldOptions("|S,Yes|N,No");
  state = StartFieldEdit("N", 1, false, setup);
  EXPECT_EQ(ApplyFieldInput(state, setup, kCtrlC).copied, "No");
  // An ignored ending key has the editor start over from the field's start.
  setup.exitKeys = KeyImage(kEnter);
  setup.exitKeyResults = setup.exitKeys;
  step = ApplyFieldInput(state, setup, kDown);
  EXPECT_TRUE(step.resumed);
  EXPECT_EQ(step.redraw, FieldEditStep::Redraw::kField);
}

TEST(FieldEditModel, StartClampsThePosition) {
  const FieldEditSetup setup;
  EXPECT_EQ(StartFieldEdit("ABC", 0, false, setup).position, 1);
  EXPECT_EQ(StartFieldEdit("ABC", 99, false, setup).position, 4);
  EXPECT_EQ(StartFieldEdit("ABC", -5, false, setup).position, 1);
}

TEST(FieldEditModel, CursorOffsets) {
  struct Case {
    int position, length, width;
    CellOffset expected;
  } cases[] = {
      {1, 20, 10, {0, 0}},  {10, 20, 10, {0, 9}}, {11, 20, 10, {1, 0}}, {20, 20, 10, {1, 9}},
      {21, 20, 10, {1, 10}},  // past a full last row: on that row, just after it
      {11, 10, 10, {0, 10}}, {6, 5, 6, {0, 5}},  {1, 0, 1, {0, 0}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CursorOffset(c.position, c.length, c.width), c.expected)
        << c.position << " of " << c.length << " by " << c.width;
}

TEST(FieldEditModel, ParsesOptionLists) {
  struct Case {
    std::string_view list;
    std::vector<FieldOption> expected;
  } cases[] = {
      {"", {}},
      {"no bar", {}},
      {"|S,Si|N,No", {{"S", "Si"}, {"N", "No"}}},
      {"ignored|A", {{"A", "A"}}},
      {"|A,B,C", {{"A", "B,C"}}},
      {"||x", {{"", ""}, {"x", "x"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseFieldOptions(c.list), c.expected) << c.list;
  EXPECT_EQ(OptionsWidth(ParseFieldOptions("|S,Yes|N,No|T,Tots")), 4);
}

}  // namespace
}  // namespace console
