// Reading the record manager's stat result: record length at 0, page size
// at 2, number of keys at 4 (16-bit little-endian); from 16 one 16-byte
// entry per key segment (length at +2, flags at +4); after the last
// segment a signature byte, an 8-byte name and the 256-byte collating table.
// A short or garbled result gives fewer segments, never a read past its end.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/little_endian.h"

namespace data {

inline constexpr std::uint16_t kSegmentBinary = 0x04;
inline constexpr std::uint16_t kSegmentContinues = 0x10;
inline constexpr std::uint16_t kSegmentAlternate = 0x20;

struct KeySegment {
  std::int32_t Length = 0;
  std::uint16_t Flags = 0;
};

inline std::int32_t StatField(std::string_view stat, std::size_t offset) {
  return stat.size() >= offset + 2 ? base::ReadLe<std::uint16_t>(stat.data() + offset) : 0;
}
inline std::int32_t StatRecordLength(std::string_view stat) { return StatField(stat, 0); }
inline std::int32_t StatPageSize(std::string_view stat) { return StatField(stat, 2); }
inline std::int32_t StatKeyCount(std::string_view stat) { return StatField(stat, 4); }

// All segments of keys 0 to the last one, key by key; `firstSegment[k]` is
// where key k starts. Stops at the end of the stat result.
struct StatKeys {
  std::vector<KeySegment> segments;
  std::vector<std::size_t> firstSegment;
  bool complete = true;
};

inline StatKeys WalkKeys(std::string_view stat) {
  StatKeys r;
  std::int32_t keys = StatKeyCount(stat);
  std::size_t offset = 16;
  for (std::int32_t k = 0; k < keys; ++k) {
    r.firstSegment.push_back(r.segments.size());
    for (;;) {
      if (offset + 16 > stat.size()) {
        r.complete = false;
        return r;
      }
      KeySegment seg{base::ReadLe<std::uint16_t>(stat.data() + offset + 2), base::ReadLe<std::uint16_t>(stat.data() + offset + 4)};
      r.segments.push_back(seg);
      offset += 16;
      if (!(seg.Flags & kSegmentContinues)) break;
    }
  }
  return r;
}

// The segments of key `key`; empty when it does not exist.
inline std::vector<KeySegment> KeySegments(std::string_view stat, std::int32_t key) {
  StatKeys all = WalkKeys(stat);
  if (key < 0 || static_cast<std::size_t>(key) >= all.firstSegment.size()) return {};
  std::size_t begin = all.firstSegment[static_cast<std::size_t>(key)];
  std::size_t end = static_cast<std::size_t>(key) + 1 < all.firstSegment.size()
                        ? all.firstSegment[static_cast<std::size_t>(key) + 1]
                        : all.segments.size();
  return {all.segments.begin() + static_cast<std::ptrdiff_t>(begin),
          all.segments.begin() + static_cast<std::ptrdiff_t>(end)};
}

inline std::int32_t KeyLength(const std::vector<KeySegment>& segments) {
  std::int32_t total = 0;
  for (const KeySegment& s : segments) total += s.Length;
  return total;
}

// The 256-byte collating table; empty when the result is too short.
inline std::string_view CollatingTable(std::string_view stat) {
  StatKeys all = WalkKeys(stat);
  if (!all.complete) return {};
  std::size_t offset = 16 + 16 * all.segments.size() + 1 + 8;
  if (offset + 256 > stat.size()) return {};
  return stat.substr(offset, 256);
}

}  // namespace data
