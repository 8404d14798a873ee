#include "data/engine/file_definition.h"

#include <algorithm>

#include "base/little_endian.h"
#include "data/engine/record_manager.h"

namespace recordmanager {
namespace {

std::string Part(std::string_view source, std::size_t at, std::size_t length) {
  std::string part(length, '\0');
  if (at < source.size()) {
    std::size_t n = std::min(length, source.size() - at);
    std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(at), n, part.begin());
  }
  return part;
}

void Transform(const FileDefinition& def, const Segment& seg, std::string& part) {
  if (seg.flags & kSegBinary) std::reverse(part.begin(), part.end());
  if ((seg.flags & kSegAlternate) && def.collating.size() == 256)
    for (char& c : part) c = def.collating[static_cast<unsigned char>(c)];
  if (seg.flags & kSegDescending)
    for (char& c : part) c = static_cast<char>(~static_cast<unsigned char>(c));
}

}  // namespace

std::int16_t ParseCreationRecord(std::string_view bytes, FileDefinition& def) {
  def = FileDefinition{};
  if (bytes.size() < 16) return kBadKeyCount;
  def.recordLength = base::ReadLe<std::uint16_t>(bytes, 0);
  def.pageSize = base::ReadLe<std::uint16_t>(bytes, 2);
  int keys = base::ReadLe<std::uint16_t>(bytes, 4);
  if (def.recordLength == 0) return kBadRecordLength;
  if (def.pageSize == 0 || def.pageSize > 8192) return kBadPageSize;
  if (keys == 0 || keys > 24) return kBadKeyCount;
  std::size_t at = 16;
  bool alternate = false;
  for (int k = 0; k < keys; ++k) {
    KeyDefinition key;
    for (;;) {
      if (at + 16 > bytes.size() || key.segments.size() >= 24) return kBadKeyCount;
      Segment seg{base::ReadLe<std::uint16_t>(bytes, at), base::ReadLe<std::uint16_t>(bytes, at + 2),
                  base::ReadLe<std::uint16_t>(bytes, at + 4)};
      at += 16;
      if (seg.length == 0) return kBadSegment;
      if (seg.position < 1 || seg.position + seg.length - 1 > def.recordLength) return kBadRecordLength;
      key.duplicates = key.duplicates || (seg.flags & kSegDuplicates);
      key.modifiable = key.modifiable || (seg.flags & kSegModifiable);
      alternate = alternate || (seg.flags & kSegAlternate);
      key.length += seg.length;
      key.segments.push_back(seg);
      if (!(seg.flags & kSegNextFollows)) break;
    }
    if (key.length > 255) return kBadSegment;
    def.keys.push_back(std::move(key));
  }
  if (alternate) {
    if (at + 265 > bytes.size() || static_cast<unsigned char>(bytes[at]) != 0xAC) return kBadCollating;
    def.collating = std::string(bytes.substr(at + 9, 256));
    at += 265;
  }
  def.creation = std::string(bytes.substr(0, at));
  return kOk;
}

std::string ImageFromRecord(const FileDefinition& def, int key, std::string_view record) {
  std::string image;
  for (const auto& seg : def.keys[static_cast<std::size_t>(key)].segments) {
    std::string part = Part(record, static_cast<std::size_t>(seg.position - 1), static_cast<std::size_t>(seg.length));
    Transform(def, seg, part);
    image += part;
  }
  return image;
}

std::string ImageFromKeyValue(const FileDefinition& def, int key, std::string_view value) {
  std::string image;
  std::size_t at = 0;
  for (const auto& seg : def.keys[static_cast<std::size_t>(key)].segments) {
    std::string part = Part(value, at, static_cast<std::size_t>(seg.length));
    at += static_cast<std::size_t>(seg.length);
    Transform(def, seg, part);
    image += part;
  }
  return image;
}

std::string KeyBytes(const FileDefinition& def, int key, std::string_view record) {
  std::string bytes;
  for (const auto& seg : def.keys[static_cast<std::size_t>(key)].segments)
    bytes += Part(record, static_cast<std::size_t>(seg.position - 1), static_cast<std::size_t>(seg.length));
  return bytes;
}

}  // namespace recordmanager
