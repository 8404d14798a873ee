// Integers stored least significant byte first, as the suite's records,
// creation records and state files hold them: read and written at any byte
// offset, with no alignment and no casts of packed structs. The type says
// how many bytes the field has; a written value keeps its low bytes.
//
//   const auto length = base::ReadLe<std::uint16_t>(stat, 0);
//   base::WriteLe<std::int32_t>(record, 12, cents);
#pragma once

#include <cassert>
#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
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

template <std::integral T, ByteType Byte, std::integral V>
constexpr void WriteLe(Byte* bytes, V value) {
  using Bits = std::make_unsigned_t<T>;
  auto bits = static_cast<Bits>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<Byte>(bits & 0xFF);
    bits = static_cast<Bits>(bits >> 8);
  }
}

// The field at byte `at` of `bytes`, which must hold it.
template <std::integral T>
constexpr T ReadLe(std::string_view bytes, std::size_t at) {
  assert(at + sizeof(T) <= bytes.size());
  return ReadLe<T>(bytes.data() + at);
}

template <std::integral T, std::integral V>
void WriteLe(std::string& bytes, std::size_t at, V value) {
  assert(at + sizeof(T) <= bytes.size());
  WriteLe<T>(bytes.data() + at, value);
}

// Appends the field at the end of `bytes`.
template <std::integral T, std::integral V>
void AppendLe(std::string& bytes, V value) {
  bytes.resize(bytes.size() + sizeof(T));
  WriteLe<T>(bytes.data() + bytes.size() - sizeof(T), value);
}

}  // namespace base
