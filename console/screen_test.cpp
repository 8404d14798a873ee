#include "console/screen.h"

#include "console/test_terminal.h"
#include "console/window_stack.h"

namespace console {
namespace {

using testing::ConsoleTest;
using testing::StyleAttribute;

class ScreenTest : public ConsoleTest {};

TEST_F(ScreenTest, StyleLettersChooseThePair) {
  struct Case {
    const char* letters;
    int style;
  } cases[] = {{"h", 0}, {"n", 1}, {"r", 2}, {"rn", 3}, {"NR", 3}, {"u", 4}, {"ur", 4}, {"rh", 2}, {"x", 0}};
  for (const Case& c : cases) {
    SetStyle("n");  // something else first, so each case must set its own colour
    if (c.style == 1) SetStyle("u");
    SetStyle(c.letters);
    EXPECT_EQ(Screen().style, c.style) << c.letters;
    EXPECT_EQ(term.CurrentAttribute(), StyleAttribute(c.style)) << c.letters;
  }
  EXPECT_TRUE(Screen().styleStack.empty());
}

TEST_F(ScreenTest, BlankLettersChangeNothing) {
  SetStyle("u");
  SetStyle("");
  SetStyle("   ");
  EXPECT_EQ(Screen().style, 4);
  EXPECT_EQ(term.CurrentAttribute(), StyleAttribute(4));
}

TEST_F(ScreenTest, StyleStackSavesAndRestores) {
  SetStyle("u");
  SetStyle("+rh");
  EXPECT_EQ(Screen().style, 2);
  SetStyle("+n");
  SetStyle("-");
  EXPECT_EQ(Screen().style, 2);
  EXPECT_EQ(term.CurrentAttribute(), StyleAttribute(2));
  SetStyle("-");
  EXPECT_EQ(Screen().style, 4);
  EXPECT_EQ(term.CurrentAttribute(), StyleAttribute(4));
  // Nothing saved any more: the plain style.
  SetStyle("-");
  EXPECT_EQ(Screen().style, 0);
  EXPECT_EQ(term.CurrentAttribute(), StyleAttribute(0));
}

TEST_F(ScreenTest, WindowCoordinates) {
  EXPECT_EQ(WindowFirstRow(), 1);
  EXPECT_EQ(WindowFirstColumn(), 1);
  EXPECT_EQ(WindowLastColumn(), 80);
  LocateInWindow(3, 4);
  EXPECT_EQ(term.CursorRow(), 3);
  EXPECT_EQ(term.CursorColumn(), 4);
  PushWindow(5, 10, 12, 40);
  EXPECT_EQ(WindowFirstRow(), 6);
  EXPECT_EQ(WindowFirstColumn(), 11);
  EXPECT_EQ(WindowLastColumn(), 39);
  LocateInWindow(1, 1);
  EXPECT_EQ(term.CursorRow(), 6);
  EXPECT_EQ(term.CursorColumn(), 11);
  PopWindow();
}

TEST_F(ScreenTest, FramesInEachStyle) {
  term.Fill();
  const std::string rowTwo = term.Text(2, 1, 80);
  DrawFrame(1);  // no window: nothing drawn
  EXPECT_EQ(term.Text(2, 1, 80), rowTwo);
  PushWindow(2, 3, 5, 8);
  SetStyle("n");
  DrawFrame(1);
  EXPECT_EQ(term.Text(2, 3, 6), "\xDA\xC4\xC4\xC4\xC4\xBF");
  EXPECT_EQ(term.Text(3, 3, 6), "\xB3    \xB3");
  EXPECT_EQ(term.Text(5, 3, 6), "\xC0\xC4\xC4\xC4\xC4\xD9");
  EXPECT_EQ(term.ReadCell(3, 4).attr, StyleAttribute(1));
  DrawFrame(2);
  EXPECT_EQ(term.Text(2, 3, 6), "\xC9\xCD\xCD\xCD\xCD\xBB");
  EXPECT_EQ(term.Text(4, 3, 6), "\xBA    \xBA");
  EXPECT_EQ(term.Text(5, 3, 6), "\xC8\xCD\xCD\xCD\xCD\xBC");
  DrawFrame(0);
  for (int row = 2; row <= 5; ++row) EXPECT_EQ(term.Text(row, 3, 6), "      ");
  // Cells outside the window are untouched.
  EXPECT_EQ(term.Text(2, 1, 2), rowTwo.substr(0, 2));
  EXPECT_EQ(term.Text(2, 9, 72), rowTwo.substr(8));
  PopWindow();
}

TEST_F(ScreenTest, ScrollAreaCountsCornersFromZero) {
  term.SetCursor(3, 2);
  term.Write("one");
  term.SetCursor(4, 2);
  term.Write("two");
  ScrollArea(2, 1, 3, 3, 1);  // screen rows 3-4, columns 2-4
  EXPECT_EQ(term.Text(3, 2, 3), "two");
  EXPECT_EQ(term.Text(4, 2, 3), "   ");
  ScrollArea(2, 1, 3, 3, -1);
  EXPECT_EQ(term.Text(3, 2, 3), "   ");
  EXPECT_EQ(term.Text(4, 2, 3), "two");
  const int scrolls = term.scrolls;
  ScrollArea(2, 1, 3, 3, 0);
  EXPECT_EQ(term.scrolls, scrolls);
}

TEST_F(ScreenTest, FlushKeysDropsPendingInput) {
  term.Keys("abc");
  FlushKeys();
  EXPECT_TRUE(term.events.empty());
}

}  // namespace
}  // namespace console
