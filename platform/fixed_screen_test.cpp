#include "platform/fixed_screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scripted_terminal.h"

namespace platform {
namespace {

InputEvent Click(int row, int column) {
  InputEvent e;
  e.kind = InputEvent::Kind::kMouse;
  e.buttons = 1;
  e.row = row;
  e.column = column;
  return e;
}

ScriptStep Step(const InputEvent& e) {
  ScriptStep s;
  s.kind = ScriptStep::Kind::kEvent;
  s.event = e;
  return s;
}

// A scripted device that also records the sizes it was asked to grow to.
class Device : public ScriptedTerminal {
 public:
  Device(int rows, int columns, std::vector<ScriptStep> steps = {})
      : ScriptedTerminal(std::move(steps), "", rows, columns) {}
  bool RequestSize(int rows, int columns) override {
    requests.push_back(std::to_string(columns) + "x" + std::to_string(rows));
    return false;
  }
  std::vector<std::string> requests;
};

struct Placed {
  Device* device;
  std::unique_ptr<FixedScreen> screen;
};

Placed PlaceOn(int rows, int columns, std::vector<ScriptStep> steps = {}) {
  auto device = std::make_unique<Device>(rows, columns, std::move(steps));
  Device* raw = device.get();
  return {raw, std::make_unique<FixedScreen>(std::move(device))};
}

std::string DeviceText(Terminal& device, int row, int column, int count) {
  std::string s;
  for (int c = column; c < column + count; ++c) s += static_cast<char>(device.ReadCell(row, c).ch);
  return s;
}

TEST(FixedScreen, IsEightyByTwentyFiveAndCentredOnALargerTerminal) {
  for (auto [rows, columns, top, left] : {std::tuple{25, 80, 1, 1}, std::tuple{30, 100, 3, 11},
                                          std::tuple{40, 120, 8, 21}, std::tuple{60, 200, 18, 61}}) {
    Placed p = PlaceOn(rows, columns);
    FixedScreen& s = *p.screen;
    EXPECT_EQ(s.Rows(), 25);
    EXPECT_EQ(s.Columns(), 80);
    EXPECT_EQ(s.DeviceTop(), top) << columns << "x" << rows;
    EXPECT_EQ(s.DeviceLeft(), left) << columns << "x" << rows;
    s.SetColour(15, 1);
    s.SetCursor(1, 1);
    s.Write("AB");
    s.SetCursor(25, 79);
    s.Write("YZ");  // the bottom right corner keeps the cursor
    EXPECT_EQ(s.CursorRow(), 25);
    EXPECT_EQ(s.CursorColumn(), 80);
    EXPECT_EQ(s.ReadCell(1, 2), (Cell{'B', 0x1f}));
    EXPECT_EQ(s.ReadCell(26, 1), Cell{});  // outside the screen
    EXPECT_EQ(DeviceText(*p.device, top, left, 2), "AB");
    EXPECT_EQ(p.device->ReadCell(top, left).attr, 0x1f);
    EXPECT_EQ(DeviceText(*p.device, top + 24, left + 78, 2), "YZ");
    // Scrolling moves the screen's cells only.
    s.Scroll(1, 1, 25, 80, 1);
    EXPECT_EQ(DeviceText(*p.device, top, left, 2), "  ");
    EXPECT_EQ(DeviceText(*p.device, top + 23, left + 78, 2), "YZ");
  }
}

TEST(FixedScreen, ClicksAreTakenInScreenCellsAndBesideItHitNothing) {
  Placed p = PlaceOn(40, 120, {Step(Click(8, 21)), Step(Click(32, 100)), Step(Click(7, 21)), Step(Click(20, 101))});
  FixedScreen& s = *p.screen;
  InputEvent e = s.Poll(0);
  ASSERT_EQ(e.kind, InputEvent::Kind::kMouse);
  EXPECT_EQ(e.row, 1);
  EXPECT_EQ(e.column, 1);
  e = s.Poll(0);
  EXPECT_EQ(e.row, 25);
  EXPECT_EQ(e.column, 80);
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);  // above the screen
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);  // right of it
}

TEST(FixedScreen, TwentyFourRowsFollowTheCursorAndTheActiveWindow) {
  Placed p = PlaceOn(24, 80, {Step(Click(24, 5)), Step(Click(1, 5))});
  FixedScreen& s = *p.screen;
  for (int r = 1; r <= 25; ++r) {
    s.SetCursor(r, 1);
    s.Write("row " + std::to_string(r));
  }
  // Flushed: the first screen row in view, and the text of one device row.
  const auto flushedShows = [&](const char* when, int firstRow, int deviceRow, const std::string& text) {
    s.Flush();
    EXPECT_EQ(s.FirstRowShown(), firstRow) << when;
    EXPECT_EQ(DeviceText(*p.device, deviceRow, 1, static_cast<int>(text.size())), text) << when;
  };
  s.SetCursor(5, 1);
  flushedShows("no window, the cursor high up: the top 24 rows", 1, 1, "row 1");
  s.SetCursor(25, 3);
  flushedShows("the cursor on row 25 brings it into view", 2, 24, "row 25");
  EXPECT_EQ(p.device->CursorRow(), 24);
  EXPECT_EQ(p.device->CursorColumn(), 3);
  // A click on the last row shown is a click on screen row 25.
  InputEvent e = s.Poll(0);
  EXPECT_EQ(e.row, 25);
  EXPECT_EQ(e.column, 5);
  // A window that fits is shown whole, and the cursor inside it too.
  s.SetFocusRows(4, 22);
  s.SetCursor(10, 2);
  e = s.Poll(0);
  EXPECT_EQ(s.FirstRowShown(), 1);
  EXPECT_EQ(e.row, 1);
  // A window taller than the view (the calculator, rows 1 to 25, cursor
  // hidden) shows its bottom rows: the display and the bottom border.
  s.HideCursor();
  s.SetFocusRows(1, 25);
  flushedShows("a window taller than the view", 2, 23, "row 24");
  s.SetFocusRows(0, 0);
  flushedShows("the window closed again: back to the top", 1, 24, "row 24");
}

TEST(FixedScreen, ASmallTerminalIsAskedToGrowAndRefusedBelowTwentyFourRows) {
  struct Case {
    int rows, columns;
    const char* request;  // "" when nothing is asked
    const char* error;    // "" when it opens
  } cases[] = {
      {25, 80, "", ""},
      {40, 120, "", ""},
      {24, 80, "80x25", ""},
      {24, 132, "132x25", ""},
      {23, 80, "80x25",
       "the terminal is 80 x 23; at least 80 columns by 24 rows are needed (80 x 25 shows the whole screen)"},
      {25, 79, "80x25",
       "the terminal is 79 x 25; at least 80 columns by 24 rows are needed (80 x 25 shows the whole screen)"},
  };
  for (const Case& c : cases) {
    auto device = std::make_unique<Device>(c.rows, c.columns);
    Device* raw = device.get();
    std::string error;
    auto screen = OpenFixedScreen(std::move(device), error);
    EXPECT_EQ(error, c.error) << c.columns << "x" << c.rows;
    EXPECT_EQ(screen != nullptr, std::string(c.error).empty());
    if (screen) {
      EXPECT_EQ(raw->requests, std::vector<std::string>(*c.request ? 1 : 0, c.request));
      EXPECT_EQ(screen->Rows(), 25);
    }
  }
}

TEST(FixedScreen, ScreenSizesAreColumnsByRows) {
  struct Case {
    const char* text;
    bool ok;
    int rows, columns;
  } cases[] = {{"120x40", true, 40, 120}, {"80X24", true, 24, 80}, {"80x", false, 0, 0},
               {"x25", false, 0, 0},     {"80*25", false, 0, 0}, {"80x25x", false, 0, 0},
               {"0x25", false, 0, 0},    {"-80x25", false, 0, 0}, {"", false, 0, 0}};
  for (const Case& c : cases) {
    int rows = 0, columns = 0;
    EXPECT_EQ(ParseScreenSize(c.text, rows, columns), c.ok) << c.text;
    EXPECT_EQ(rows, c.rows) << c.text;
    EXPECT_EQ(columns, c.columns) << c.text;
  }
}

}  // namespace
}  // namespace platform
