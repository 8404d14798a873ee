#include "base/little_endian.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace base {
namespace {

TEST(LittleEndian, ReadsAtAnyOffsetWithTheSign) {
  const std::string bytes("\x01\x34\x12\xFE\xFF\xFF\xFF\x80", 8);
  EXPECT_EQ(ReadLe<std::uint16_t>(bytes.data() + 1), 0x1234);
  EXPECT_EQ(ReadLe<std::int16_t>(bytes.data() + 3), -2);
  EXPECT_EQ(ReadLe<std::uint16_t>(bytes.data() + 3), 0xFFFE);
  EXPECT_EQ(ReadLe<std::int32_t>(bytes.data() + 3), -2);
  EXPECT_EQ(ReadLe<std::uint32_t>(bytes.data() + 4), 0x80FFFFFFu);
  EXPECT_EQ(ReadLe<std::int32_t>(bytes.data() + 4), static_cast<std::int32_t>(0x80FFFFFFu));
  EXPECT_EQ(ReadLe<std::uint8_t>(bytes.data() + 7), 0x80);
  const auto* unsignedBytes = reinterpret_cast<const unsigned char*>(bytes.data());
  EXPECT_EQ(ReadLe<std::uint32_t>(unsignedBytes), 0xFE123401u);
  static_assert(ReadLe<std::int16_t>("\x00\x80") == -32768);
}

TEST(LittleEndian, WritesWhatItReads) {
  std::string bytes(10, 'x');
  WriteLe<std::int16_t>(bytes.data() + 1, -2);
  EXPECT_EQ(bytes, std::string("x\xFE\xFFxxxxxxx", 10));
  WriteLe<std::int32_t>(bytes.data() + 3, -123456789);
  EXPECT_EQ(ReadLe<std::int32_t>(bytes.data() + 3), -123456789);
  EXPECT_EQ(bytes[0], 'x');
  EXPECT_EQ(bytes[7], 'x');
  WriteLe<std::uint64_t>(bytes.data() + 2, 0x0102030405060708ull);
  EXPECT_EQ(bytes.substr(2, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
  WriteLe<std::uint16_t>(bytes, 0, 0x12345);  // the low bytes of a wider value
  EXPECT_EQ(ReadLe<std::uint16_t>(bytes, 0), 0x2345);
  EXPECT_EQ(bytes[2], '\x08');
  std::string appended("ab");
  AppendLe<std::int16_t>(appended, -2);
  AppendLe<std::uint32_t>(appended, 7);
  EXPECT_EQ(appended, std::string("ab\xFE\xFF\x07\0\0\0", 8));
  unsigned char raw[4] = {};
  WriteLe<std::uint32_t>(raw, 0xA1B2C3D4u);
  EXPECT_EQ(raw[0], 0xD4);
  EXPECT_EQ(raw[3], 0xA1);
}

}  // namespace
}  // namespace base
