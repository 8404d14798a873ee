#include "console/window_stack.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "config/test_files.h"
#include "console/screen.h"
#include "console/test_terminal.h"

namespace console {
namespace {

using testing::ConsoleTest;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WindowStackTest : public ConsoleTest {};

TEST_F(WindowStackTest, RecordOfFourByThreeAreaIsFortyNineBytes) {
  term.Fill();
  term.SetCursor(7, 9);
  PushWindow(3, 10, 6, 12);
  const std::string bytes = ReadAll(WindowStackPath());
  ASSERT_EQ(bytes.size(), 4u + 49u);
  // Free position after the record, little-endian.
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 5 + 49);
  EXPECT_EQ(bytes[1], 0);
  const std::string record = bytes.substr(4);
  EXPECT_EQ(record.substr(0, 20), "07090000000003100612");
  EXPECT_EQ(record.substr(44), "00049");
  // Cells row by row: character then attribute.
  EXPECT_EQ(static_cast<unsigned char>(record[20]), term.ReadCell(3, 10).ch);
  EXPECT_EQ(static_cast<unsigned char>(record[21]), term.ReadCell(3, 10).attr);
  EXPECT_EQ(static_cast<unsigned char>(record[42]), term.ReadCell(6, 12).ch);
  EXPECT_EQ(static_cast<unsigned char>(record[43]), term.ReadCell(6, 12).attr);
  EXPECT_EQ((PopupWindowState{1, 3, 10, 6, 12}), PopupWindow());
  PopWindow();
}

// Two nested windows opened and closed restore the screen, the cursor and
// the window state exactly.
void NestedWindowsRestoreEverything(testing::TestTerminal& term) {
  term.Fill();
  const auto before = term.Cells();
  term.SetCursor(12, 34);
  PushWindow(5, 10, 15, 60);
  DrawFrame(2);
  LocateInWindow(1, 1);
  EXPECT_EQ(term.CursorRow(), 6);
  EXPECT_EQ(term.CursorColumn(), 11);
  const auto middle = term.Cells();
  term.SetCursor(8, 20);
  PushWindow(7, 20, 20, 70);
  DrawFrame(1);
  EXPECT_EQ((PopupWindowState{2, 7, 20, 20, 70}), PopupWindow());
  PopWindow();
  EXPECT_EQ(term.Cells(), middle);
  EXPECT_EQ(term.CursorRow(), 8);
  EXPECT_EQ(term.CursorColumn(), 20);
  EXPECT_EQ((PopupWindowState{1, 5, 10, 15, 60}), PopupWindow());
  PopWindow();
  EXPECT_EQ(term.Cells(), before);
  EXPECT_EQ(term.CursorRow(), 12);
  EXPECT_EQ(term.CursorColumn(), 34);
  EXPECT_EQ(PopupWindowState{}, PopupWindow());
}

TEST_F(WindowStackTest, NestedPushAndPopRestoreEverythingAndLeaveNoFile) {
  NestedWindowsRestoreEverything(term);
  EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
}

TEST_F(WindowStackTest, AreaOutsideTheScreenOpensNothing) {
  for (auto area : {std::array<std::int16_t, 4>{0, 1, 5, 5}, {1, 0, 5, 5}, {1, 1, 26, 5}, {1, 1, 5, 81}}) {
    PushWindow(area[0], area[1], area[2], area[3]);
    EXPECT_EQ(PopupWindow().Level, 0);
    EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
  }
}

TEST_F(WindowStackTest, StackLeftByEarlierRunIsBuiltUpon) {
  term.Fill();
  PushWindow(2, 2, 4, 4);
  ResetScreen();  // a new program: window state gone, file kept
  const auto before = term.Cells();
  PushWindow(10, 10, 12, 12);
  DrawFrame(1);
  PopWindow();
  EXPECT_EQ(term.Cells(), before);
  EXPECT_TRUE(std::filesystem::exists(WindowStackPath()));
  PopWindow();
  EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
}

TEST_F(WindowStackTest, PopWithoutFileOrOnEmptyFileDoesNothing) {
  term.Fill();
  const auto before = term.Cells();
  PopWindow();
  scratch.Write("WinPush.tmp", "ab");
  PopWindow();
  EXPECT_EQ(term.Cells(), before);
  EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
}

TEST_F(WindowStackTest, DamagedStackFilesAreDroppedWithoutCrashing) {
  term.Fill();
  PushWindow(3, 3, 8, 30);
  PushWindow(5, 5, 9, 9);
  const std::string good = ReadAll(WindowStackPath());
  std::vector<std::string> damaged = {
      good.substr(0, good.size() - 7),                     // cut inside the last record
      good.substr(0, 10),                                  // cut inside the first record
      std::string("\xff\xff\xff\x7f", 4) + good.substr(4), // free pointer far past the end
      std::string("\x06\x00\x00\x00", 4) + good.substr(4), // free pointer inside a header
      std::string(4, '\0') + good.substr(4),               // free pointer zero
  };
  std::string badLength = good;
  badLength.replace(badLength.size() - 5, 5, "99999");
  damaged.push_back(badLength);
  std::string badDigits = good;
  badDigits.replace(badDigits.size() - 5, 5, "0x0z9");
  damaged.push_back(badDigits);
  std::string badHeader = good;
  // The last record's area numbers claim more cells than the record holds.
  const std::size_t lastRecord = good.size() - (20 + 2 * 25 + 5);
  badHeader.replace(lastRecord + 16, 4, "2580");
  damaged.push_back(badHeader);
  for (const std::string& bytes : damaged) {
    PopupWindow() = PopupWindowState{2, 5, 5, 9, 9};
    scratch.Write("WinPush.tmp", bytes);
    PopWindow();
    PopWindow();
    EXPECT_EQ(PopupWindow().Level, 0);
    EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
    PushWindow(1, 1, 2, 2);  // the stack works again afterwards
    EXPECT_EQ(PopupWindow().Level, 1);
    PopWindow();
    EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
  }
}


TEST_F(WindowStackTest, ADirectoryInPlaceOfTheStackFileKeepsTheStackInMemory) {
  std::filesystem::create_directories(WindowStackPath());
  NestedWindowsRestoreEverything(term);
  EXPECT_TRUE(std::filesystem::is_directory(WindowStackPath()));
  // Once the stack is empty the file is used again.
  std::filesystem::remove(WindowStackPath());
  PushWindow(1, 1, 2, 2);
  EXPECT_TRUE(std::filesystem::is_regular_file(WindowStackPath()));
  PopWindow();
  EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
}

TEST_F(WindowStackTest, ReadAndWriteErrorsKeepTheStackInMemory) {
  config::testing::FailingFile failing("/WinPush.tmp");
  NestedWindowsRestoreEverything(term);
  EXPECT_GE(failing.calls, 1);
  EXPECT_FALSE(std::filesystem::exists(WindowStackPath()));
}

TEST_F(WindowStackTest, TheTopOfAStackIsReadFromItsBytes) {
  SavedArea area;
  EXPECT_EQ(ReadStackTop("", area), StackTop::kNoStack);
  EXPECT_EQ(ReadStackTop(std::string("\x05\0\0\0", 4), area), StackTop::kEmpty);
  // A 1 x 2 area at row 3, columns 4 and 5, saved with the cursor at 7, 9.
  const std::string record = std::string("07090000000003040305") + "a\001b\002" + "00029";
  std::string bytes = std::string("\x22\0\0\0", 4) + record;
  ASSERT_EQ(ReadStackTop(bytes, area), StackTop::kArea);
  EXPECT_EQ(area.cursorRow, 7);
  EXPECT_EQ(area.cursorColumn, 9);
  EXPECT_EQ(area.top, 3);
  EXPECT_EQ(area.left, 4);
  EXPECT_EQ(area.right, 5);
  EXPECT_EQ(area.cells, "a\001b\002");
  EXPECT_EQ(area.start, 4u);
  bytes[0] = '\x21';  // the free position inside the record
  EXPECT_EQ(ReadStackTop(bytes, area), StackTop::kDamaged);
}

TEST_F(WindowStackTest, RandomlyDamagedStacksNeverCrash) {
  term.Fill();
  PushWindow(3, 3, 8, 30);
  PushWindow(5, 5, 9, 9);
  PushWindow(20, 70, 25, 80);
  const std::string good = ReadAll(WindowStackPath());
  std::mt19937 random(1234);  // fixed seed: the same damage every run
  for (int round = 0; round < 300; ++round) {
    std::string bytes = good;
    const int kind = round % 3;
    if (kind == 0) {
      bytes.resize(random() % (good.size() + 1));
    } else {
      for (int flips = 0; flips < 3; ++flips) {
        bytes[random() % bytes.size()] = static_cast<char>(kind == 1 ? '0' + random() % 10 : random() % 256);
      }
    }
    scratch.Write("WinPush.tmp", bytes);
    PopupWindow() = PopupWindowState{3, 20, 70, 25, 80};
    for (int pops = 0; pops < 4; ++pops) PopWindow();
    EXPECT_FALSE(std::filesystem::exists(WindowStackPath())) << round;
    // A file of 3 bytes or less holds no stack: the window state is left alone.
    EXPECT_EQ(PopupWindow().Level, bytes.size() <= 3 ? 3 : 0) << round;
  }
}

}  // namespace
}  // namespace console
