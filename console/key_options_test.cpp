#include "console/key_options.h"

#include "console/test_terminal.h"

namespace console {
namespace {

using testing::ConsoleTest;

std::string Codes(std::initializer_list<int> keys) {
  std::string s;
  for (int k : keys) s += KeyImage(static_cast<std::int16_t>(static_cast<std::uint16_t>(k)));
  return s;
}

class KeyOptionsTest : public ConsoleTest {};

TEST_F(KeyOptionsTest, HexItems) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"d", 13}, {"1b", 27}, {"4D00", 0x4d00}, {"", 0}, {"0", 0}, {"8500", 0x8500}, {"3e00 ", 0x3e00}};
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<std::uint16_t>(HexKey(c.text)), c.value) << c.text;
  }
}

TEST_F(KeyOptionsTest, AddWithAndWithoutResults) {
  SetKeyOptions("ea", "d=4f00,1b,,0");
  EXPECT_EQ(KeyOptions().ExitKeys, Codes({0x0d, 0x1b, 0, 0}));
  EXPECT_EQ(KeyOptions().ExitKeyResults, Codes({0x4f00, 0x1b, 0, 0}));
}

TEST_F(KeyOptionsTest, DeleteRemovesFirstOccurrenceAndItsResult) {
  SetKeyOptions("a", "d,1b=4800,5000,1b");
  SetKeyOptions("D", "1b");
  EXPECT_EQ(KeyOptions().ExitKeys, Codes({0x0d, 0x5000, 0x1b}));
  EXPECT_EQ(KeyOptions().ExitKeyResults, Codes({0x0d, 0x5000, 0x1b}));
  SetKeyOptions("d", "3b00");  // absent: nothing happens
  EXPECT_EQ(KeyOptions().ExitKeys, Codes({0x0d, 0x5000, 0x1b}));
}

TEST_F(KeyOptionsTest, LookUpOnlyAtCodeBoundaries) {
  // 0x0d00 and 0x4f00 stored as 00 0d | 00 4f: the bytes "0d 00" straddle.
  const std::string codes = Codes({0x0d00, 0x4f00});
  EXPECT_EQ(FindKeyCode(codes, 0x000d), std::string::npos);
  EXPECT_EQ(FindKeyCode(codes, 0x4f00), 2u);
  // A straddling hit before a real one is skipped.
  const std::string twice = Codes({0x0d00, 0x4f00, 0x000d});
  EXPECT_EQ(FindKeyCode(twice, 0x000d), 4u);
  SetKeyOptions("a", "d00,4f00");
  SetKeyOptions("d", "d");
  EXPECT_EQ(KeyOptions().ExitKeys, codes);
}

TEST_F(KeyOptionsTest, SaveStackNests) {
  SetKeyOptions("+ea", "d");
  SetKeyOptions("+ea", "1b");
  SetKeyOptions("ea", "3b00");
  SetKeyOptions("-", "");
  EXPECT_EQ(KeyOptions().ExitKeys, Codes({0x0d}));
  SetKeyOptions("-", "");
  EXPECT_EQ(KeyOptions().ExitKeys, "");
  SetKeyOptions("a", "5000");
  SetKeyOptions("-", "");  // nothing saved any more
  EXPECT_EQ(KeyOptions().ExitKeys, Codes({0x5000}));
}

TEST_F(KeyOptionsTest, HiddenAndVisibleAndUnknownLetters) {
  SetKeyOptions("h", "");
  EXPECT_EQ(KeyOptions().MaskChar, 88);
  SetKeyOptions("xyz?V", "d");
  EXPECT_EQ(KeyOptions().MaskChar, 0);
  EXPECT_EQ(KeyOptions().ExitKeys, "");
}

}  // namespace
}  // namespace console
