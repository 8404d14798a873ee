#include "console/key_reader.h"

#include <cstdint>
#include <string>

#include "config/test_files.h"
#include "console/test_terminal.h"
#include "data/btrcall.h"
#include "data/engine/record_manager.h"
#include "data/engine/testing/sqlite_log.h"

namespace console {
namespace {

using testing::ConsoleTest;

class KeyReaderTest : public ConsoleTest {
 protected:
  int Read() {
    const Input in = ReadInput();
    EXPECT_FALSE(in.IsClick());
    return static_cast<std::uint16_t>(in.key);
  }
};

TEST_F(KeyReaderTest, ModifiedFunctionKeysBecomePcCodes) {
  using platform::kLeftAlt, platform::kRightAlt, platform::kLeftCtrl, platform::kRightCtrl, platform::kShift;
  struct Case {
    int key;
    std::uint8_t modifiers;
    int expected;
  } cases[] = {
      {0x3b00, 0, 0x3b00},          {0x3b00, kShift, 0x5400},     {0x4400, kShift, 0x5d00},
      {0x3b00, kLeftCtrl, 0x5e00},  {0x3e00, kRightCtrl, 0x6100}, {0x3e00, kLeftAlt, 0x6b00},
      {0x3b00, kRightAlt, 0x6800},  {0x8500, 0, 0x8500},          {0x8500, kShift, 0x8700},
      {0x8600, kLeftCtrl, 0x8a00},  {0x8500, kRightAlt, 0x8b00},  {0x4700, kLeftCtrl, 0x7700},
      {0x4d00, kRightCtrl, 0x7400}, {0x4b00, kLeftCtrl, 0x7300},  {0x4700, kShift, 0x4700},
      {0x1200, kLeftAlt, 213},      {0x3b00, kLeftAlt | kShift, 0x6800},
      {0x4700, kRightAlt | kLeftCtrl, 0x4700},  // Alt wins over Ctrl: Home stays
      {'a', kShift, 'a'},
  };
  for (const Case& c : cases) {
    term.Key(c.key, c.modifiers);
    EXPECT_EQ(Read(), c.expected) << std::hex << c.key << " " << int{c.modifiers};
  }
  EXPECT_EQ(Read(), 0);  // nothing pending
}

TEST_F(KeyReaderTest, AltKeypadDigitsComposeModulo256) {
  const auto pad = [&](std::initializer_list<int> keys) {
    for (int k : keys) term.Key(k, platform::kLeftAlt, true);
  };
  pad({0x4f00, 0x5000, 0x4800});  // 1 2 8
  EXPECT_EQ(Read(), 128);
  pad({0x5000, 0x4c00, 0x4900});  // 2 5 9 -> 259 mod 256
  EXPECT_EQ(Read(), 3);
  pad({0x4d00, 0x4b00});  // 6 4 then an ordinary key, kept for the next read
  term.Keys("q");
  EXPECT_EQ(Read(), 64);
  EXPECT_EQ(Read(), 'q');
  // Right Alt does not compose; a lone Alt+Home is still Home.
  term.Key(0x4f00, platform::kRightAlt, true);
  EXPECT_EQ(Read(), 0x4f00);
}

// Data files read before the program waits for a key keep nothing open
// while it waits: a checkpoint can empty their log.
TEST_F(KeyReaderTest, WaitingForAKeyLetsGoOfWhatTheDataFilesKeepOpen) {
  using namespace recordmanager;
  config::testing::ScratchDir dir;
  std::string path = dir.path() + "/f.dat";
  // 8-byte records, one unique key on their first two bytes.
  std::string creation(32, '\0');
  creation[0] = 8, creation[2] = 2, creation[4] = 1, creation[16] = 1, creation[18] = 2;
  unsigned char reader[128] = {}, writer[128] = {};
  std::uint32_t len = static_cast<std::uint32_t>(creation.size());
  const auto key = static_cast<std::uint8_t>(path.size());
  ASSERT_EQ(BTRCALL(kCreate, reader, creation.data(), &len, path.data(), key, -1), kOk);
  ASSERT_EQ(BTRCALL(kOpen, reader, nullptr, &len, path.data(), key, 0), kOk);
  ASSERT_EQ(BTRCALL(kOpen, writer, nullptr, &len, path.data(), key, 0), kOk);
  std::string record = "10......", keyBuffer(2, '\0');
  len = 8;
  ASSERT_EQ(BTRCALL(kInsert, writer, record.data(), &len, keyBuffer.data(), 2, 0), kOk);
  keyBuffer = "10";
  ASSERT_EQ(BTRCALL(kGetEqual, reader, record.data(), &len, keyBuffer.data(), 2, 0), kOk);
  record = "20......";
  ASSERT_EQ(BTRCALL(kInsert, writer, record.data(), &len, keyBuffer.data(), 2, 0), kOk);
  EXPECT_FALSE(recordmanager::testing::LogCanBeEmptied(path)) << "the reader kept nothing open";
  term.Keys("q");
  EXPECT_EQ(static_cast<int>(WaitInput().key), 'q');
  EXPECT_TRUE(recordmanager::testing::LogCanBeEmptied(path));
  BTRCALL(kReset, nullptr, nullptr, &len, nullptr, 0, 0);
}

TEST_F(KeyReaderTest, TypeAheadComesFirst) {
  KeyReader().TypeAhead = "1,5";
  term.Keys("z");
  EXPECT_EQ(Read(), '1');
  EXPECT_EQ(Read(), ',');
  EXPECT_EQ(Read(), '5');
  EXPECT_EQ(Read(), 'z');
}

TEST_F(KeyReaderTest, HotKeysTypeTheirResultAndDoNotReenter) {
  int calls = 0;
  Hot().Calculator = [&] {
    ++calls;
    // A nested Alt+X inside the calculator is returned but runs nothing.
    term.Key(0x2d00);
    EXPECT_EQ(Read(), 0x2d00);
    return std::string("12.5");
  };
  Hot().Calendar = [] { return std::string("08/12"); };
  term.Key(0x2d00);
  EXPECT_EQ(Read(), 0x2d00);
  EXPECT_EQ(calls, 1);
  std::string typed;
  for (int i = 0; i < 4; ++i) typed.push_back(static_cast<char>(Read()));
  EXPECT_EQ(typed, "12.5");
  term.Key(0x2e00);
  EXPECT_EQ(Read(), 0x2e00);
  EXPECT_EQ(KeyReader().TypeAhead, "08/12");
}

TEST_F(KeyReaderTest, HotKeyResultTypedIntoTheField) {
  Hot().Calculator = [] { return std::string("42"); };
  SetKeyOptions("ea", "d,1b");  // Alt+X does not end the field: it is ignored
  term.Key(0x2d00);
  term.Key(0x0d);
  std::int16_t row = 2, column = 2, width = 0, position = 1;
  Input ending;
  std::string text = "    ";
  EditField(row, column, width, text, position, ending);
  EXPECT_EQ(text, "42  ");
  EXPECT_EQ(ending, Input(0x0d));
}

TEST_F(KeyReaderTest, MouseClicks) {
  // Without a mouse, clicks are not reported.
  term.Click(5, 6);
  term.Keys("k");
  EXPECT_EQ(WaitInput(), Input('k'));
  EXPECT_EQ(KeyReader().mouseState, MouseState::kNoMouse);

  ResetKeyReader();
  term.mouseButtons = 2;
  term.Click(5, 6);
  EXPECT_EQ(ReadInput(), Input::ClickAt(5, 6));
  EXPECT_FALSE(term.mouseOn);  // switched off after the press
  // Cells far beyond what a packed number could hold come through as they are.
  term.Click(250, 400);
  EXPECT_EQ(WaitInput(), Input::ClickAt(250, 400));
  EXPECT_TRUE(ReadInput().Empty());
}

}  // namespace
}  // namespace console
