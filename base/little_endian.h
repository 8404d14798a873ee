// Integers stored least significant byte first, as the suite's records,
// creation records and state files hold them: read and written at any byte
// offset, with no alignment and no casts of packed structs.
//
//   const auto length = base::ReadLe<std::uint16_t>(stat.data());
//   base::WriteLe<std::int32_t>(record.data() + 12, cents);
#pragma once

#include <concepts>
#include <cstddef>
#include <type_traits>

namespace base {

template <class Byte>
concept ByteType = std::same_as<Byte, char> || std::same_as<Byte, unsigned char>;

template <std::integral T, ByteType Byte>
constexpr T ReadLe(const Byte* bytes) {
  using Bits = std::make_unsigned_t<T>;
  Bits value = 0;
  for (std::size_t i = sizeof(T); i-- > 0;)
    value = static_cast<Bits>(static_cast<Bits>(value << 8) | static_cast<unsigned char>(bytes[i]));
  return static_cast<T>(value);
}

template <std::integral T, ByteType Byte>
constexpr void WriteLe(Byte* bytes, T value) {
  using Bits = std::make_unsigned_t<T>;
  auto bits = static_cast<Bits>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<Byte>(bits & 0xFF);
    bits = static_cast<Bits>(bits >> 8);
  }
}

}  // namespace base
