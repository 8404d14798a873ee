// A data file's layout as its creation record gives it, and the key images
// that compare bytewise in key order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace recordmanager {

struct Segment {
  int position = 1;  // in the record, from 1
  int length = 0;
  std::uint16_t flags = 0;
};

struct KeyDefinition {
  std::vector<Segment> segments;
  bool duplicates = false;
  bool modifiable = false;
  int length = 0;  // the segments' lengths added up
};

struct FileDefinition {
  int recordLength = 0;
  int pageSize = 0;
  std::vector<KeyDefinition> keys;
  std::string collating;  // 256 bytes when a segment uses it
  std::string creation;   // the meaningful bytes of the creation record
};

// Reads a creation record (extra bytes after it are ignored). Returns 0 or
// the status that names what is wrong with it.
std::int16_t ParseCreationRecord(std::string_view bytes, FileDefinition& def);

// The image of key `key` of a record: segments joined, binary segments
// byte-reversed (little-endian integers), alternate segments mapped through
// the collating table, descending segments inverted.
std::string ImageFromRecord(const FileDefinition& def, int key, std::string_view record);
// The same from a key value as callers pass it (the segments joined).
std::string ImageFromKeyValue(const FileDefinition& def, int key, std::string_view value);
// The key as its bytes stand in the record, segments joined.
std::string KeyBytes(const FileDefinition& def, int key, std::string_view record);

}  // namespace recordmanager
