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

ScriptStep ResizeTo(int columns, int rows) {
  ScriptStep s;
  s.kind = ScriptStep::Kind::kResize;
  s.rows = rows;
  s.columns = columns;
  return s;
}

ScriptStep KeyStep(std::uint16_t key) {
  InputEvent e;
  e.kind = InputEvent::Kind::kKey;
  e.key = key;
  return Step(e);
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

TEST(FixedScreen, ASmallTerminalIsAskedToGrowAndBelowTwentyFourRowsShowsTheNotice) {
  struct Case {
    int rows, columns;
    const char* request;  // "" when nothing is asked
    bool tooSmall;
  } cases[] = {
      {25, 80, "", false}, {40, 120, "", false}, {24, 80, "80x25", false},
      {24, 132, "132x25", false}, {23, 80, "80x25", true}, {25, 79, "80x25", true},
  };
  for (const Case& c : cases) {
    auto device = std::make_unique<Device>(c.rows, c.columns);
    Device* raw = device.get();
    auto screen = OpenFixedScreen(std::move(device));
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(raw->requests, std::vector<std::string>(*c.request ? 1 : 0, c.request)) << c.columns << "x" << c.rows;
    EXPECT_EQ(screen->Rows(), 25);
    EXPECT_EQ(screen->TooSmall(), c.tooSmall) << c.columns << "x" << c.rows;
    const std::string notice = "The terminal is too small: 80 x 24 is needed (it is " + std::to_string(c.columns) +
                               " x " + std::to_string(c.rows) + ")";
    EXPECT_EQ(raw->ScreenText().find(notice) != std::string::npos, c.tooSmall) << raw->ScreenText();
  }
}

// The rows of `device` as text, trailing blanks removed.
std::vector<std::string> DeviceRows(const ScriptedTerminal& device) {
  std::vector<std::string> rows;
  std::string text = device.ScreenText();
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    rows.push_back(text.substr(start, end - start));
  return rows;
}

TEST(FixedScreen, ATerminalMadeTooSmallShowsTheNoticeDropsInputAndComesBackWhole) {
  Placed p = PlaceOn(25, 80,
                     {ResizeTo(70, 20), KeyStep('x'), Step(Click(3, 3)), ResizeTo(80, 23), KeyStep('y'),
                      ResizeTo(120, 40), KeyStep('z')});
  FixedScreen& s = *p.screen;
  for (int r = 1; r <= 25; ++r) {
    s.SetCursor(r, 1);
    s.SetColour(r % 16, 1);
    s.Write("row " + std::to_string(r) + std::string(70, '.'));
  }
  s.SetCursor(12, 7);
  const std::vector<std::string> before = DeviceRows(*p.device);
  ASSERT_EQ(before.size(), 25u);

  // Shrunk: the notice alone, on the middle row; the key and the click typed
  // at the hidden screen are dropped.
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);  // the resize
  EXPECT_TRUE(s.TooSmall());
  std::vector<std::string> shown = DeviceRows(*p.device);
  ASSERT_EQ(shown.size(), 20u);
  for (int r = 0; r < 20; ++r) {
    if (r == 9)
      EXPECT_EQ(shown[9], "     The terminal is too small: 80 x 24 is needed (it is 70 x 20)");
    else
      EXPECT_EQ(shown[r], "") << "row " << r + 1;
  }
  EXPECT_FALSE(p.device->CursorShown());
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);  // 'x'
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);  // the click
  // The program goes on writing meanwhile: into the screen, not over the notice.
  s.SetCursor(5, 1);
  s.Write("written while hidden");
  s.ShowCursor(25);
  EXPECT_FALSE(p.device->CursorShown());
  EXPECT_EQ(DeviceRows(*p.device)[4], "");
  EXPECT_EQ(s.ReadCell(5, 1).ch, 'w');

  // One row short of the minimum is still too small.
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);
  EXPECT_TRUE(s.TooSmall());
  EXPECT_EQ(DeviceRows(*p.device)[11], "          The terminal is too small: 80 x 24 is needed (it is 80 x 23)");
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);  // 'y'

  // Large again: the whole screen as it stands now, centred, the cursor
  // back where the program left it, and keys taken again.
  EXPECT_EQ(s.Poll(0).kind, InputEvent::Kind::kNone);
  EXPECT_FALSE(s.TooSmall());
  shown = DeviceRows(*p.device);
  ASSERT_EQ(shown.size(), 40u);
  for (int r = 1; r <= 25; ++r) {
    const std::string want = r == 5 ? "written while hidden" + before[4].substr(20) : before[static_cast<std::size_t>(r - 1)];
    EXPECT_EQ(shown[static_cast<std::size_t>(r + 6)], std::string(20, ' ') + want) << "row " << r;
    EXPECT_EQ(p.device->ReadCell(r + 7, 21 + 30).attr, (r % 16) + 16) << "row " << r;
  }
  EXPECT_EQ(shown[6], "");
  EXPECT_EQ(shown[32], "");
  EXPECT_TRUE(p.device->CursorShown());
  EXPECT_EQ(p.device->CursorRow(), 5 + 7);
  EXPECT_EQ(p.device->CursorColumn(), 21 + 20);
  const InputEvent z = s.Poll(0);
  EXPECT_EQ(z.kind, InputEvent::Kind::kKey);
  EXPECT_EQ(z.key, 'z');
}

// On a narrow terminal the notice goes on over further rows, broken between
// words, so that the sizes and what is needed are read whole in any language.
TEST(FixedScreen, TheNoticeIsTheCallersAndWrappedToTheWidth) {
  auto device = std::make_unique<Device>(10, 30);
  Device* raw = device.get();
  FixedScreen s(std::move(device), 25, 80, [](int neededRows, int neededColumns, int rows, int columns) {
    return "NEED " + std::to_string(neededColumns) + "x" + std::to_string(neededRows) + " HAVE " +
           std::to_string(columns) + "x" + std::to_string(rows) + " AND SOME MORE WORDS";
  });
  s.Flush();
  std::vector<std::string> rows = DeviceRows(*raw);
  EXPECT_EQ(rows[3], "");
  EXPECT_EQ(rows[4], "NEED 80x24 HAVE 30x10 AND SOME");
  EXPECT_EQ(rows[5], "          MORE WORDS");
  EXPECT_EQ(rows[6], "");

  // A word wider than the terminal is cut; no more rows than it has.
  auto tiny = std::make_unique<Device>(2, 6);
  Device* tinyRaw = tiny.get();
  FixedScreen t(std::move(tiny), 25, 80, [](int, int, int, int) { return "TERMINAL TOO SMALL 80 x 24"; });
  t.Flush();
  rows = DeviceRows(*tinyRaw);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "TERMIN");
  EXPECT_EQ(rows[1], "AL TOO");
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
