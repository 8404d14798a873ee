#include "suite/tool/dictionary_source.h"

#include <charconv>
#include <cstdint>
#include <sstream>
#include <vector>

namespace suite {
namespace {

constexpr std::uint16_t kDuplicates = 0x0001;
constexpr std::uint16_t kModifiable = 0x0002;
constexpr std::uint16_t kBinary = 0x0004;
constexpr std::uint16_t kSegmentFollows = 0x0010;
constexpr std::uint16_t kDescending = 0x0040;
constexpr int kMaxRecord = 4090;
constexpr int kMaxKeyLength = 255;
// What the record manager's create takes: at most 24 keys of at most 24
// segments each, in a creation record that fits its 1536-byte buffer.
constexpr std::size_t kMaxKeys = 24;
constexpr std::size_t kMaxSegmentsPerKey = 24;
constexpr std::size_t kCreateBuffer = 1536;
constexpr std::size_t kMaxSegments = (kCreateBuffer - 16) / 16;

struct Segment {
  int position = 0, length = 0;
  std::uint16_t flags = 0;
};

void Put16(std::string& s, std::size_t at, int v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

bool Number(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// "1:4", "3:2:binary": a segment, or an error text.
std::string ParseSegment(std::string_view text, Segment& seg) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || !Number(parts[0], seg.position) || !Number(parts[1], seg.length))
    return "segment \"" + std::string(text) + "\" is not position:length";
  for (std::size_t i = 2; i < parts.size(); ++i) {
    if (parts[i] == "binary")
      seg.flags |= kBinary;
    else if (parts[i] == "descending")
      seg.flags |= kDescending;
    else
      return "unknown segment option \"" + std::string(parts[i]) + "\"";
  }
  if (seg.position < 1 || seg.length < 1) return "segment \"" + std::string(text) + "\" starts or ends before 1";
  return {};
}

}  // namespace

CompiledDictionary CompileDictionary(std::string_view source) {
  CompiledDictionary out;
  int record = 0, page = 0;
  std::vector<std::vector<Segment>> keys;
  std::vector<int> keyLines;
  std::istringstream in{std::string(source)};
  int lineNumber = 0;
  auto fail = [&](int line, const std::string& what) {
    out.creation.clear();
    out.error = "line " + std::to_string(line) + ": " + what;
    return out;
  };
  for (std::string line; std::getline(in, line);) {
    ++lineNumber;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    const std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    if (words[0] == "record" || words[0] == "page") {
      int value = 0;
      if (words.size() != 2 || !Number(words[1], value)) return fail(lineNumber, words[0] + " wants one number");
      if (words[0] == "record") {
        if (record != 0) return fail(lineNumber, "record given twice");
        if (value < 4 || value > kMaxRecord)
          return fail(lineNumber, "record length must be 4 to " + std::to_string(kMaxRecord));
        record = value;
      } else {
        if (page != 0) return fail(lineNumber, "page given twice");
        if (value < 512 || value > 4096 || value % 512 != 0)
          return fail(lineNumber, "page size must be 512 to 4096, a multiple of 512");
        page = value;
      }
    } else if (words[0] == "key") {
      std::vector<Segment> segments;
      std::uint16_t keyFlags = 0;
      bool wantSegment = true;
      for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "+") {
          if (wantSegment) return fail(lineNumber, "\"+\" without a segment before it");
          wantSegment = true;
        } else if (w == "duplicates" || w == "modifiable") {
          keyFlags |= w == "duplicates" ? kDuplicates : kModifiable;
        } else {
          if (!wantSegment) return fail(lineNumber, "segments must be joined by \"+\"");
          Segment seg;
          if (const std::string e = ParseSegment(w, seg); !e.empty()) return fail(lineNumber, e);
          segments.push_back(seg);
          wantSegment = false;
        }
      }
      if (segments.empty() || wantSegment) return fail(lineNumber, "a key needs segments, joined by \"+\"");
      if (segments.size() > kMaxSegmentsPerKey)
        return fail(lineNumber, "more than " + std::to_string(kMaxSegmentsPerKey) + " segments in one key");
      if (keys.size() == kMaxKeys) return fail(lineNumber, "more than " + std::to_string(kMaxKeys) + " keys");
      for (Segment& s : segments) s.flags |= keyFlags;
      keys.push_back(std::move(segments));
      keyLines.push_back(lineNumber);
    } else {
      return fail(lineNumber, "unknown word \"" + words[0] + "\"");
    }
  }
  if (record == 0) return fail(lineNumber, "no record length");
  if (keys.empty()) return fail(lineNumber, "no key");
  if (page == 0) page = 4096;

  std::size_t segmentCount = 0;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    int length = 0;
    for (const Segment& s : keys[k]) {
      // Compared so that no sum can overflow, whatever the numbers written.
      if (s.position > record || s.length > record - s.position + 1)
        return fail(keyLines[k], "segment " + std::to_string(s.position) + ":" + std::to_string(s.length) +
                                     " ends past the record length " + std::to_string(record));
      length += s.length;
    }
    if (length > kMaxKeyLength) return fail(keyLines[k], "key longer than 255 bytes");
    segmentCount += keys[k].size();
    if (segmentCount > kMaxSegments)
      return fail(keyLines[k], "more than " + std::to_string(kMaxSegments) + " segments in all keys");
  }

  std::string creation(16 + 16 * segmentCount, '\0');
  Put16(creation, 0, record);
  Put16(creation, 2, page);
  Put16(creation, 4, static_cast<int>(keys.size()));
  std::size_t at = 16;
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i, at += 16) {
      Put16(creation, at, key[i].position);
      Put16(creation, at + 2, key[i].length);
      Put16(creation, at + 4, key[i].flags | (i + 1 < key.size() ? kSegmentFollows : 0));
    }
  }
  out.creation = std::move(creation);
  return out;
}

std::string DictionaryFile(const std::string& creation) {
  std::string file(2, '\0');
  Put16(file, 0, static_cast<int>(creation.size()));
  return file + creation;
}

}  // namespace suite
