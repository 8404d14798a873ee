#include "console/field_editor.h"

#include "console/test_terminal.h"
#include "base/cp850.h"
#include "console/window_stack.h"

namespace console {
namespace {

using testing::ConsoleTest;

using namespace keys;

struct Result {
  std::string text;
  int position;
  int key;       // the ending key as an unsigned 16-bit code
  Input ending;  // the key or the click that ended the edit
};

class FieldEditorTest : public ConsoleTest {
 protected:
  Result Edit(std::string text, int position, int width = 0, int row = 3, int column = 5) {
    auto r = static_cast<std::int16_t>(row), c = static_cast<std::int16_t>(column),
         w = static_cast<std::int16_t>(width), p = static_cast<std::int16_t>(position);
    Input ending;
    EditField(r, c, w, text, p, ending);
    return {text, p, static_cast<std::uint16_t>(ending.key), ending};
  }
};

TEST_F(FieldEditorTest, InsertModeShiftsIntoTrailingBlank) {
  term.SetInsertMode(true);
  term.Keys("x");
  term.Key(kEsc);
  Result r = Edit("AB        ", 2);
  EXPECT_EQ(r.text, "AxB       ");
  EXPECT_EQ(r.position, 3);
  EXPECT_EQ(term.Text(3, 5, 10), "AxB       ");
  // A full field takes nothing more.
  term.Keys("x");
  term.Key(kEsc);
  r = Edit("ABCDEFGHIJ", 2);
  EXPECT_EQ(r.text, "ABCDEFGHIJ");
  EXPECT_EQ(r.position, 2);
}

TEST_F(FieldEditorTest, OverwriteModeReplacesAndStopsAtTheEnd) {
  term.Keys("xyz");
  term.Key(kEsc);
  Result r = Edit("ABCD", 3);
  EXPECT_EQ(r.text, "ABxy");
  EXPECT_EQ(r.position, 5);
  EXPECT_EQ(r.key, kEsc);
  EXPECT_EQ(term.Text(3, 5, 4), "ABxy");
  EXPECT_EQ(term.cursorSize, 100);
}

TEST_F(FieldEditorTest, InsKeyTogglesModeAndCursorSize) {
  term.Key(kIns);
  term.Keys("Z");
  term.Key(kEsc);
  Result r = Edit("ab  ", 1);
  EXPECT_TRUE(term.InsertMode());
  EXPECT_EQ(term.cursorSize, 50);
  EXPECT_EQ(r.text, "Zab ");
}

TEST_F(FieldEditorTest, EditingKeys) {
  struct Case {
    std::vector<int> keys;
    const char* text;
    int position;
    const char* expected;
    int expectedPosition;
  } cases[] = {
      {{8}, "ABCD", 3, "ACD ", 2},
      {{8}, "ABCD", 1, "ABCD", 1},
      {{kDel}, "ABCD", 2, "ACD ", 2},
      {{kDel}, "ABCD", 5, "ABCD", 5},
      {{kHome}, "AB  ", 3, "AB  ", 1},
      {{kEnd}, "AB  ", 1, "AB  ", 3},
      {{kCtrlHome}, "ABCD", 3, "    ", 1},
      {{kCtrlY}, "ABCD", 3, "    ", 1},
      {{kLeft, kLeft, kLeft}, "ABCD", 3, "ABCD", 1},
      {{kRight, kRight, kRight}, "ABCD", 3, "ABCD", 5},
      {{kAltX /* no calculator installed: ends */}, "ABCD", 2, "ABCD", 2},
  };
  for (const Case& c : cases) {
    for (int k : c.keys) term.Key(k);
    term.Key(kEsc);
    Result r = Edit(c.text, c.position);
    EXPECT_EQ(r.text, c.expected) << c.text << " " << c.keys.front();
    EXPECT_EQ(r.position, c.expectedPosition) << c.text << " " << c.keys.front();
    term.events.clear();
  }
}

TEST_F(FieldEditorTest, CtrlYClearsTheFieldAndCtrlSEndsIt) {
  // Ctrl+Y is character 0x19 (25); Ctrl+S (0x13, 19) is no editing key.
  term.Key(kCtrlY);
  term.Key(kEsc);
  Result r = Edit("ABCD", 3);
  EXPECT_EQ(r.text, "    ");
  EXPECT_EQ(r.key, kEsc);
  term.Key(kCtrlS);
  r = Edit("ABCD", 3);
  EXPECT_EQ(r.text, "ABCD");
  EXPECT_EQ(r.key, kCtrlS);
  // In an option field both leave the value alone.
  SetFieldOptions("|S,Si|N,No");
  term.Key(kCtrlY);
  term.Key(kEsc);
  EXPECT_EQ(Edit("N", 1).text, "N");
  SetFieldOptions("");
}

TEST_F(FieldEditorTest, PositionIsClampedOnEntry) {
  term.Key(kEsc);
  EXPECT_EQ(Edit("ABC", 0).position, 1);
  term.Key(kEsc);
  EXPECT_EQ(Edit("ABC", 99).position, 4);
}

TEST_F(FieldEditorTest, MultiRowCursorPlacement) {
  struct Case {
    int position, row, column;
  } cases[] = {{1, 3, 5}, {10, 3, 14}, {11, 4, 5}, {20, 4, 14}, {21, 4, 15}};
  for (const Case& c : cases) {
    term.Key(kEsc);
    const Result r = Edit(std::string(20, '.'), c.position, 10);
    EXPECT_EQ(r.position, c.position);
    EXPECT_EQ(term.cursorAtPoll, std::make_pair(c.row, c.column)) << c.position;
  }
  // Inside a window the row and column count from the frame.
  PushWindow(10, 20, 20, 70);
  term.Key(kEsc);
  Edit(std::string(5, ' '), 2, 0, 1, 1);
  EXPECT_EQ(term.cursorAtPoll, std::make_pair(11, 22));
  PopWindow();
}

TEST_F(FieldEditorTest, MultiRowFieldIsDrawnRowByRowAndMovesByRows) {
  term.Key(kDown);
  term.Key(kDown);  // on the last row: ends
  Result r = Edit("abcdefghijklmnopqrst", 3, 10);
  EXPECT_EQ(term.Text(3, 5, 10), "abcdefghij");
  EXPECT_EQ(term.Text(4, 5, 10), "klmnopqrst");
  EXPECT_EQ(r.position, 13);
  EXPECT_EQ(r.key, kDown);
  term.Key(kUp);
  term.Key(kUp);
  r = Edit("abcdefghijklmnopqrst", 13, 10);
  EXPECT_EQ(r.position, 3);
  EXPECT_EQ(r.key, kUp);
}

TEST_F(FieldEditorTest, WordMovement) {
  struct Case {
    const char* text;
    int position;
    int key;
    int expected;
  } cases[] = {
      {",abc      ", 5, kCtrlLeft, 2},
      {"one two   ", 8, kCtrlLeft, 5},
      {"one two   ", 5, kCtrlLeft, 1},
      {"one  two  ", 6, kCtrlLeft, 1},
      {"a.b;c:d   ", 7, kCtrlLeft, 5},
      {"one two   ", 1, kCtrlRight, 5},
      {"one two   ", 5, kCtrlRight, 11},
      {"one, two  ", 3, kCtrlRight, 6},
      {"   abc    ", 1, kCtrlRight, 4},
  };
  for (const Case& c : cases) {
    term.Key(c.key);
    term.Key(kEsc);
    const Result r = Edit(c.text, c.position);
    EXPECT_EQ(r.position, c.expected) << c.text << " from " << c.position;
    EXPECT_EQ(r.key, kEsc) << c.text;
  }
  // At the edges the word keys end the field.
  term.Key(kCtrlLeft);
  EXPECT_EQ(Edit("abc", 1).key, kCtrlLeft);
  term.Key(kCtrlRight);
  EXPECT_EQ(Edit("abc", 4).key, kCtrlRight);
}

TEST_F(FieldEditorTest, ExitKeyTranslationAndFiltering) {
  struct Case {
    int pressed;
    int returned;
  } cases[] = {{kTab, kEnter}, {kShiftTab, kUp}, {kAltF4, kEsc}, {kCtrlF4, kEsc}, {kDown, kDown}, {kF1, kF1}};
  for (const Case& c : cases) {
    term.Key(c.pressed);
    EXPECT_EQ(Edit("ab", 1).key, c.returned) << std::hex << c.pressed;
  }
  // Only Enter and Esc end the field: Down on the last row does nothing.
  SetKeyOptions("ea", "d,1b");
  term.Key(kDown);
  term.Keys("Q");
  term.Key(kTab);
  Result r = Edit("ab", 1);
  EXPECT_EQ(r.key, kEnter);
  EXPECT_EQ(r.text, "Qb");
  // Results replace the key; Enter becomes End when End is listed.
  SetKeyOptions("ea", "1b=4800,4f00");
  term.Key(kEsc);
  EXPECT_EQ(Edit("ab", 1).key, kUp);
  term.Key(kEnter);
  EXPECT_EQ(Edit("ab", 1).key, kEnd);
  // End's two bytes count anywhere in the table, also across two codes:
  // "d,4f,1b" holds 0d 00 4f 00 1b 00, so Enter becomes End, which is not
  // listed at a code boundary and is ignored; Esc then ends the field.
  SetKeyOptions("ea", "d,4f,1b");
  term.Key(kEnter);
  term.Key(kEsc);
  EXPECT_EQ(Edit("ab", 1).key, kEsc);
  // Without End's bytes Enter stays Enter.
  SetKeyOptions("ea", "d,1b");
  term.Key(kEnter);
  EXPECT_EQ(Edit("ab", 1).key, kEnter);
  // F11 and the keys above it are negative 16-bit codes, but keys all the
  // same: one the table does not list is ignored like any other.
  term.Key(kF11);
  term.Key(kAltF11);
  term.Key(kEsc);
  EXPECT_EQ(Edit("ab", 1).key, kEsc);
}

TEST_F(FieldEditorTest, ClicksPlaceTheCursorOrEndTheField) {
  term.mouseButtons = 2;
  term.Click(4, 7);  // second row, third column of a 2 x 10 field at (3, 5)
  Result r = Edit(std::string(20, ' '), 1, 10);
  EXPECT_EQ(r.ending, Input(0));
  EXPECT_EQ(r.position, 13);
  term.Click(9, 40);
  r = Edit(std::string(20, ' '), 1, 10);
  EXPECT_EQ(r.ending, Input::ClickAt(9, 40));
  // A click outside ends even when the exit-key table is restricted.
  SetKeyOptions("ea", "d");
  term.Click(9, 40);
  EXPECT_EQ(Edit("ab", 1).ending, Input::ClickAt(9, 40));
}

TEST_F(FieldEditorTest, ClipboardCopyAndPaste) {
  term.Key(3);
  term.Key(kEsc);
  Edit("  ab c  ", 1);
  EXPECT_EQ(term.clipboard, "ab c");
  term.clipboard = std::string(" X\tY\x7f\xff" "Z  ", 10);
  term.Key(22);
  term.Key(kEsc);
  Result r = Edit("........", 6);
  EXPECT_EQ(r.text, ".....XYZ");
  EXPECT_EQ(r.position, 6);
}

TEST_F(FieldEditorTest, HiddenFieldShowsMaskCharacters) {
  SetKeyOptions("h", "");
  term.Keys("pw");
  term.Key(kEsc);
  Result r = Edit("secret   ", 1, 9);
  EXPECT_EQ(term.Text(3, 5, 9), "XXXXXXXX ");
  EXPECT_EQ(r.text, "pwcret   ");
}

TEST_F(FieldEditorTest, OptionField) {
  const std::string si = "S" + base::Utf8ToCp850("í");
  SetFieldOptions("|S," + si + "|N,No|T,Tots");
  term.Key(kEsc);
  Result r = Edit("X", 1, 0, 3, 5);
  EXPECT_EQ(r.text, "S");
  EXPECT_EQ(term.Text(3, 5, 4), si + "  ");
  EXPECT_EQ(term.Text(3, 4, 1), " ");  // pointers blanked on leaving
  term.Key(kLeft);
  term.Key(kEsc);
  r = Edit("S", 1);
  EXPECT_EQ(r.text, "T");
  EXPECT_EQ(term.Text(3, 5, 4), "Tots");
  struct Case {
    std::vector<int> keys;
    const char* start;
    const char* expected;
  } cases[] = {{{kRight}, "T", "S"}, {{' '}, "S", "N"}, {{'t'}, "S", "T"}, {{'n', 'n'}, "S", "N"}, {{'z'}, "N", "N"},
               {{8, kDel, kCtrlHome}, "N", "N"}};
  for (const Case& c : cases) {
    for (int k : c.keys) term.Key(k);
    term.Key(kEsc);
    EXPECT_EQ(Edit(c.start, 1).text, c.expected) << c.start << " " << c.keys.front();
  }
  // Up, Down and Enter end it.
  term.Key(kDown);
  EXPECT_EQ(Edit("N", 1).key, kDown);
}

TEST_F(FieldEditorTest, OptionFieldPointersAndClicks) {
  SetFieldOptions("|S,Yes|N,No");
  term.mouseButtons = 1;
  std::string seen;
  Hot().Calculator = [&] {
    seen = term.Text(3, 4, 5);
    return std::string();
  };
  term.Key(kAltX);
  EXPECT_EQ(Edit("S", 1).key, kAltX);
  EXPECT_EQ(seen, "\x11Yes\x10");
  EXPECT_EQ(term.Text(3, 4, 5), " Yes ");
  term.Click(3, 8);  // right pointer at column 5 + 3
  term.Click(3, 4);  // left pointer
  term.Click(3, 4);
  term.Click(3, 6);  // on the text: ends with 0
  Result r = Edit("S", 1);
  EXPECT_EQ(r.text, "N");
  EXPECT_EQ(r.key, 0);
}

TEST_F(FieldEditorTest, AltKeypadComposesCharacters) {
  term.Key(kEnd, platform::kLeftAlt, true);
  term.Key(kDown, platform::kLeftAlt, true);
  term.Key(kUp, platform::kLeftAlt, true);
  term.Key(kEsc);
  Result r = Edit("   ", 1);
  EXPECT_EQ(static_cast<unsigned char>(r.text[0]), 128);
  EXPECT_EQ(r.key, kEsc);  // the key after the digits is not lost
}

}  // namespace
}  // namespace console
