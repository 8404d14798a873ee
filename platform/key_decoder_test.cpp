#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace platform {
namespace {

using Kind = InputEvent::Kind;

struct BytesCase {
  std::string bytes;
  int key;
  int modifiers;
  std::size_t used;
};

// Readable in test names and failure messages: "Esc_1_5D_is_7300", not a
// dump of the case's bytes.
std::string Hex(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", value);
  return buffer;
}

std::string BytesName(const std::string& bytes) {
  std::string name;
  for (unsigned char c : bytes) {
    if (std::isalnum(c)) {
      name += static_cast<char>(c);
    } else if (c == 0x1b) {
      name += "Esc";
    } else if (c == '[' || c == ';' || c == '~') {
      if (name.empty() || name.back() != '_') name += '_';
    } else {
      name += "x" + Hex(c);
    }
  }
  return name;
}

void PrintTo(const BytesCase& c, std::ostream* os) {
  *os << "bytes \"";
  for (unsigned char b : c.bytes) {
    if (b >= 0x20 && b < 0x7f) *os << b;
    else *os << "\\x" << Hex(b);
  }
  *os << "\" -> key " << Hex(c.key) << " modifiers " << c.modifiers << ", " << c.used << " bytes used";
}

std::string BytesCaseName(const ::testing::TestParamInfo<BytesCase>& info) {
  return BytesName(info.param.bytes) + "_is_" + Hex(info.param.key);
}

class DecodeBytesTable : public ::testing::TestWithParam<BytesCase> {};

TEST_P(DecodeBytesTable, GivesThePcKey) {
  const BytesCase& c = GetParam();
  DecodedBytes d = DecodeBytes(c.bytes, true);
  ASSERT_EQ(d.event.kind, Kind::kKey);
  EXPECT_EQ(d.event.key, c.key) << std::hex << "got 0x" << d.event.key;
  EXPECT_EQ(d.event.modifiers, c.modifiers);
  EXPECT_EQ(d.used, c.used);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DecodeBytesTable,
    ::testing::Values(
        // Characters and control keys.
        BytesCase{"a", 'a', 0, 1}, BytesCase{"\r", 13, 0, 1}, BytesCase{"\t", 9, 0, 1},
        BytesCase{"\x7f", 8, 0, 1}, BytesCase{"\x08", 8, 0, 1}, BytesCase{"\x03", 3, 0, 1},
        BytesCase{std::string(1, '\0'), 0x0300, 0, 1},
        // UTF-8 characters become their code page 850 byte.
        BytesCase{"\xc3\xa9", 0x82, 0, 2},      // é
        BytesCase{"\xc3\x80x", 0xb7, 0, 2},     // À, then more
        BytesCase{"\xc3\xb1", 0xa4, 0, 2},      // ñ
        BytesCase{"\xe2\x82\xac", 0xd5, 0, 3},  // euro sign at 213
        BytesCase{"\xc2\xb7", 0xfa, 0, 2},      // middle dot (l·l)
        // xterm cursor and editing keys, plain and modified.
        BytesCase{"\x1b[A", 0x4800, 0, 3}, BytesCase{"\x1b[B", 0x5000, 0, 3},
        BytesCase{"\x1b[C", 0x4d00, 0, 3}, BytesCase{"\x1b[D", 0x4b00, 0, 3},
        BytesCase{"\x1bOH", 0x4700, 0, 3}, BytesCase{"\x1b[F", 0x4f00, 0, 3},
        BytesCase{"\x1b[E", 0x4c00, 0, 3},
        BytesCase{"\x1b[1;5D", 0x7300, kLeftCtrl, 6}, BytesCase{"\x1b[1;5C", 0x7400, kLeftCtrl, 6},
        BytesCase{"\x1b[1;5H", 0x7700, kLeftCtrl, 6}, BytesCase{"\x1b[1;5F", 0x7500, kLeftCtrl, 6},
        BytesCase{"\x1b[1;2A", 0x4800, kShift, 6}, BytesCase{"\x1b[1;3B", 0xa000, kLeftAlt, 6},
        BytesCase{"\x1b[2~", 0x5200, 0, 4}, BytesCase{"\x1b[3~", 0x5300, 0, 4},
        BytesCase{"\x1b[5~", 0x4900, 0, 4}, BytesCase{"\x1b[6~", 0x5100, 0, 4},
        BytesCase{"\x1b[1~", 0x4700, 0, 4}, BytesCase{"\x1b[4~", 0x4f00, 0, 4},
        BytesCase{"\x1b[5;5~", 0x8400, kLeftCtrl, 6}, BytesCase{"\x1b[6;5~", 0x7600, kLeftCtrl, 6},
        BytesCase{"\x1b[3;5~", 0x9300, kLeftCtrl, 6},
        BytesCase{"\x1b[Z", 0x0f00, kShift, 3},
        // Function keys: SS3 F1-F4, CSI n~ F5-F12, with each modifier.
        BytesCase{"\x1bOP", 0x3b00, 0, 3}, BytesCase{"\x1bOS", 0x3e00, 0, 3},
        BytesCase{"\x1b[15~", 0x3f00, 0, 5}, BytesCase{"\x1b[21~", 0x4400, 0, 5},
        BytesCase{"\x1b[23~", 0x8500, 0, 5}, BytesCase{"\x1b[24~", 0x8600, 0, 5},
        BytesCase{"\x1b[1;2P", 0x5400, kShift, 6}, BytesCase{"\x1b[1;2R", 0x5600, kShift, 6},
        BytesCase{"\x1b[1;5P", 0x5e00, kLeftCtrl, 6}, BytesCase{"\x1b[1;3P", 0x6800, kLeftAlt, 6},
        BytesCase{"\x1b[1;3S", 0x6b00, kLeftAlt, 6},  // Alt+F4
        BytesCase{"\x1b[21;2~", 0x5d00, kShift, 7}, BytesCase{"\x1b[21;5~", 0x6700, kLeftCtrl, 7},
        BytesCase{"\x1b[21;3~", 0x7100, kLeftAlt, 7},
        BytesCase{"\x1b[23;2~", 0x8700, kShift, 7}, BytesCase{"\x1b[24;5~", 0x8a00, kLeftCtrl, 7},
        BytesCase{"\x1b[24;3~", 0x8c00, kLeftAlt, 7},
        // Alt over Ctrl over Shift, all bits kept.
        BytesCase{"\x1b[1;8P", 0x6800, kLeftAlt | kLeftCtrl | kShift, 6},
        BytesCase{"\x1b[1;6P", 0x5e00, kLeftCtrl | kShift, 6},
        BytesCase{"\x1bO2P", 0x5400, kShift, 4},
        // Alt+letters by scan code, whatever the case.
        BytesCase{"\x1bx", 0x2d00, kLeftAlt, 2}, BytesCase{"\x1b" "c", 0x2e00, kLeftAlt, 2},
        BytesCase{"\x1b" "e", 0x1200, kLeftAlt, 2}, BytesCase{"\x1b" "f", 0x2100, kLeftAlt, 2},
        BytesCase{"\x1bq", 0x1000, kLeftAlt, 2}, BytesCase{"\x1bz", 0x2c00, kLeftAlt, 2},
        BytesCase{"\x1b" "a", 0x1e00, kLeftAlt, 2}, BytesCase{"\x1bm", 0x3200, kLeftAlt, 2},
        BytesCase{"\x1bX", 0x2d00, kLeftAlt | kShift, 2},
        BytesCase{"\x1b\x18", 0x2d00, kLeftAlt | kLeftCtrl, 2},
        BytesCase{"\x1b\r", 0x1c00, kLeftAlt, 2}, BytesCase{"\x1b\x7f", 0x0e00, kLeftAlt, 2},
        BytesCase{"\x1b-", 0x8200, kLeftAlt, 2},
        // Alt+digits are the keypad keys that compose a character code.
        BytesCase{"\x1b" "1", 0x4f00, kLeftAlt, 2}, BytesCase{"\x1b" "5", 0x4c00, kLeftAlt, 2},
        BytesCase{"\x1b" "0", 0x5200, kLeftAlt, 2}, BytesCase{"\x1b" "9", 0x4900, kLeftAlt, 2},
        // Alt+F1 sent as Esc + the F1 sequence; Alt + an accented letter.
        BytesCase{"\x1b\x1bOP", 0x6800, kLeftAlt, 4},
        BytesCase{"\x1b\x1b[A", 0x9800, kLeftAlt, 4},
        BytesCase{"\x1b\xc3\xa9", 0x82, kLeftAlt, 3}),
    BytesCaseName);

TEST(DecodeBytes, WaitsForTheRestOfASequence) {
  for (std::string partial : {"\x1b", "\x1b[", "\x1b[1", "\x1b[1;", "\x1b[1;5", "\x1bO", "\xc3",
                              "\xe2\x82", "\x1b\xc3", "\x1b\x1b", "\x1b\x1b["}) {
    EXPECT_EQ(DecodeBytes(partial, true).used, 0u) << partial.size();
  }
}

TEST(DecodeBytes, SettlesWhatCanNoLongerGrow) {
  DecodedBytes lone = DecodeBytes("\x1b", false);
  EXPECT_EQ(lone.event.key, 27);
  EXPECT_EQ(lone.used, 1u);
  DecodedBytes altBracket = DecodeBytes("\x1b[", false);
  EXPECT_EQ(altBracket.event.key, 0x1a00);
  EXPECT_EQ(altBracket.used, 2u);
  DecodedBytes altO = DecodeBytes("\x1bO", false);
  EXPECT_EQ(altO.event.key, 0x1800);
  // A cut sequence is dropped whole, not typed into a field as "[1;5".
  DecodedBytes cut = DecodeBytes("\x1b[1;5", false);
  EXPECT_EQ(cut.event.kind, Kind::kNone);
  EXPECT_EQ(cut.used, 5u);
  // A cut UTF-8 character is dropped too.
  DecodedBytes half = DecodeBytes("\xc3", false);
  EXPECT_EQ(half.event.kind, Kind::kNone);
  EXPECT_EQ(half.used, 1u);
}

TEST(DecodeBytes, EscEscIsTwoEscapes) {
  std::string input = "\x1b\x1b";
  DecodedBytes first = DecodeBytes(input, false);
  EXPECT_EQ(first.event.key, 27);
  ASSERT_EQ(first.used, 1u);
  DecodedBytes second = DecodeBytes(std::string_view(input).substr(1), false);
  EXPECT_EQ(second.event.key, 27);
  EXPECT_EQ(second.event.modifiers, 0);
}

TEST(DecodeBytes, DropsWhatIsNoKey) {
  struct Case {
    std::string bytes;
    std::size_t used;
  };
  for (const Case& c : std::vector<Case>{
           {"\x80", 1},            // stray continuation byte
           {"\xc3x", 1},           // lead byte without its continuation
           {"\xe4\xb8\xad", 3},    // a character code page 850 has not
           {"\x1b[99~", 5},        // unknown key number
           {"\x1b[1;5z", 6},       // unknown final byte
           {"\x1b[<0;10;5m", 10},  // mouse release
           {"\x1b[<64;10;5M", 11}, // wheel
       }) {
    DecodedBytes d = DecodeBytes(c.bytes, true);
    EXPECT_EQ(d.event.kind, Kind::kNone) << c.bytes.size();
    EXPECT_EQ(d.used, c.used) << c.bytes.size();
  }
}

TEST(DecodeBytes, KeypadDigitsInApplicationMode) {
  DecodedBytes d = DecodeBytes("\x1bOw", true);
  EXPECT_EQ(d.event.key, '7');
  EXPECT_TRUE(d.event.keypad);
  EXPECT_EQ(DecodeBytes("\x1bOM", true).event.key, 13);
}

TEST(DecodeBytes, SgrMouseLeftClick) {
  DecodedBytes d = DecodeBytes("\x1b[<0;12;7M", true);
  ASSERT_EQ(d.event.kind, Kind::kMouse);
  EXPECT_EQ(d.event.buttons, 1);
  EXPECT_EQ(d.event.row, 7);
  EXPECT_EQ(d.event.column, 12);
  EXPECT_EQ(d.used, 10u);
}

struct NameCase {
  const char* name;
  int key;
  int modifiers;
};

void PrintTo(const NameCase& c, std::ostream* os) {
  *os << c.name << " -> key " << Hex(c.key) << " modifiers " << c.modifiers;
}

std::string NameCaseName(const ::testing::TestParamInfo<NameCase>& info) {
  std::string name;
  for (const char* p = info.param.name; *p != '\0'; ++p)
    if (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_') name += *p;
  return name;
}

class DecodeKeyNameTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(DecodeKeyNameTable, GivesThePcKey) {
  const NameCase& c = GetParam();
  auto e = DecodeKeyName(c.name);
  ASSERT_TRUE(e.has_value()) << c.name;
  EXPECT_EQ(e->key, c.key) << c.name << std::hex << " got 0x" << e->key;
  EXPECT_EQ(e->modifiers, c.modifiers) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DecodeKeyNameTable,
    ::testing::Values(
        NameCase{"KEY_F(1)", 0x3b00, 0}, NameCase{"KEY_F(10)", 0x4400, 0},
        NameCase{"KEY_F(11)", 0x8500, 0}, NameCase{"KEY_F(12)", 0x8600, 0},
        NameCase{"KEY_F(13)", 0x5400, kShift}, NameCase{"KEY_F(15)", 0x5600, kShift},
        NameCase{"KEY_F(24)", 0x8800, kShift}, NameCase{"KEY_F(25)", 0x5e00, kLeftCtrl},
        NameCase{"KEY_F(28)", 0x6100, kLeftCtrl}, NameCase{"KEY_F(36)", 0x8a00, kLeftCtrl},
        NameCase{"KEY_F(37)", 0x5e00, kLeftCtrl | kShift},
        NameCase{"KEY_F(49)", 0x6800, kLeftAlt}, NameCase{"KEY_F(52)", 0x6b00, kLeftAlt},
        NameCase{"KEY_F(60)", 0x8c00, kLeftAlt},
        NameCase{"KEY_UP", 0x4800, 0}, NameCase{"KEY_DOWN", 0x5000, 0},
        NameCase{"KEY_LEFT", 0x4b00, 0}, NameCase{"KEY_RIGHT", 0x4d00, 0},
        NameCase{"KEY_HOME", 0x4700, 0}, NameCase{"KEY_END", 0x4f00, 0},
        NameCase{"KEY_PPAGE", 0x4900, 0}, NameCase{"KEY_NPAGE", 0x5100, 0},
        NameCase{"KEY_IC", 0x5200, 0}, NameCase{"KEY_DC", 0x5300, 0},
        NameCase{"KEY_B2", 0x4c00, 0}, NameCase{"KEY_BTAB", 0x0f00, kShift},
        NameCase{"KEY_BACKSPACE", 8, 0}, NameCase{"KEY_ENTER", 13, 0},
        NameCase{"KEY_SLEFT", 0x4b00, kShift}, NameCase{"KEY_SR", 0x4800, kShift},
        NameCase{"kLFT5", 0x7300, kLeftCtrl}, NameCase{"kRIT5", 0x7400, kLeftCtrl},
        NameCase{"kHOM5", 0x7700, kLeftCtrl}, NameCase{"kEND5", 0x7500, kLeftCtrl},
        NameCase{"kUP5", 0x8d00, kLeftCtrl}, NameCase{"kDN5", 0x9100, kLeftCtrl},
        NameCase{"kPRV5", 0x8400, kLeftCtrl}, NameCase{"kNXT5", 0x7600, kLeftCtrl},
        NameCase{"kLFT3", 0x9b00, kLeftAlt}, NameCase{"kDC3", 0xa300, kLeftAlt},
        NameCase{"kLFT2", 0x4b00, kShift}, NameCase{"kLFT6", 0x7300, kLeftCtrl | kShift},
        NameCase{"kIC5", 0x9200, kLeftCtrl}),
    NameCaseName);

TEST(DecodeKeyName, IgnoresNamesThatAreNoKey) {
  for (const char* name : {"KEY_MOUSE", "KEY_RESIZE", "KEY_F(0)", "KEY_F(64)", "KEY_F(x)",
                           "kLFT9", "kLFT1", "kFOO5", "", "KEY_F("}) {
    EXPECT_FALSE(DecodeKeyName(name).has_value()) << name;
  }
}

TEST(WithAlt, TurnsCursesKeysIntoAltKeys) {
  EXPECT_EQ(WithAlt(*DecodeKeyName("KEY_F(1)")).key, 0x6800);
  EXPECT_EQ(WithAlt(*DecodeKeyName("KEY_F(12)")).key, 0x8c00);
  EXPECT_EQ(WithAlt(*DecodeKeyName("KEY_LEFT")).key, 0x9b00);
  EXPECT_EQ(WithAlt(*DecodeKeyName("kLFT5")).key, 0x9b00);
  EXPECT_EQ(WithAlt(*DecodeKeyName("KEY_BTAB")).key, 0xa500);
  EXPECT_EQ(WithAlt(*DecodeKeyName("KEY_F(1)")).modifiers, kLeftAlt);
}

TEST(NamedKeyEvent, CoversEveryRowOfTheFunctionKeyTable) {
  // F1-F10: Shift + 0x1900, Ctrl + 0x2300, Alt + 0x2d00 over the plain code.
  for (int i = 0; i < 10; ++i) {
    const auto k = static_cast<NamedKey>(i);
    const int plain = 0x3b00 + 0x100 * i;
    EXPECT_EQ(NamedKeyEvent(k, 0).key, plain);
    EXPECT_EQ(NamedKeyEvent(k, kXShift).key, plain + 0x1900);
    EXPECT_EQ(NamedKeyEvent(k, kXCtrl).key, plain + 0x2300);
    EXPECT_EQ(NamedKeyEvent(k, kXAlt).key, plain + 0x2d00);
  }
  for (int i = 0; i < 2; ++i) {
    const auto k = static_cast<NamedKey>(10 + i);
    const int plain = 0x8500 + 0x100 * i;
    EXPECT_EQ(NamedKeyEvent(k, kXShift).key, plain + 0x200);
    EXPECT_EQ(NamedKeyEvent(k, kXCtrl).key, plain + 0x400);
    EXPECT_EQ(NamedKeyEvent(k, kXAlt).key, plain + 0x600);
  }
}

}  // namespace
}  // namespace platform
