// Look-up lists (F4 in a form field): a framed window of one line per record
// of a data file, read lazily in key order and kept in "Browse.tmp" so the
// list pages back and forth without rereading the file. A list without a
// data file shows the rows already kept in "Browse.tmp".
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/input.h"
#include "platform/file_system.h"

namespace console {

// The row cache: rows of (previous row position, record position, text
// length, text), positions 1-based, numbers little-endian.
struct BrowseRow {
  std::int32_t position = 0;  // this row's place in the cache
  std::int32_t previous = 0;
  std::int32_t record = 0;
  std::string text;
  std::int32_t next() const { return position + 10 + static_cast<std::int32_t>(text.size()); }
};

class BrowseCache {
 public:
  // Makes the next row; false once every record has been read.
  using Producer = std::function<bool(std::int32_t& record, std::string& text)>;

  // `empty` truncates the file first (lists over a data file). While the
  // file cannot be opened, read or written (a directory in its place, a full
  // disk) the rows are kept in memory instead, so the list still works.
  BrowseCache(std::string path, bool empty, Producer producer);
  // A cache of `bytes` kept in memory only, as a file would hold them.
  static std::unique_ptr<BrowseCache> InMemory(std::string bytes, Producer producer);
  ~BrowseCache();
  BrowseCache(const BrowseCache&) = delete;
  BrowseCache& operator=(const BrowseCache&) = delete;

  // The row at `position`, producing rows when it lies at the end.
  bool Row(std::int32_t position, BrowseRow& row);
  std::int32_t Append(std::int32_t record, std::string_view text);
  // Closes and deletes the file.
  void Discard();

 private:
  BrowseCache(Producer producer);
  void FindLastRow();
  bool ReadAt(std::int32_t position, char* out, std::size_t count);
  void WriteAt(std::int32_t position, std::string_view bytes);
  void MoveToMemory();

  std::string path_;
  std::unique_ptr<platform::File> file_;  // none: the rows are in memory_
  std::string memory_;
  Producer producer_;
  std::int32_t end_ = 1;
  std::int32_t last_ = 0;
  bool allRead_ = false;
};

// The paging of one list over its cache: H rows, cursor row, horizontal offset.
class BrowsePager {
 public:
  BrowsePager(BrowseCache& cache, std::int16_t height, std::int16_t width);

  // Lays out the page from its first row: the rows shown, the cursor on
  // one of them, and the row after the page for PgDn.
  void Layout();
  bool Up();
  bool Down();
  bool PageUp();
  bool PageDown();
  bool Left();
  bool Right();

  std::int16_t Cursor() const { return cursor_; }
  std::int16_t Offset() const { return offset_; }
  std::int16_t Lines() const { return lines_; }
  std::int32_t RightLimit() const { return rightLimit_; }
  // Row r (1..H) of the page; empty text and record 0 beyond the list.
  const BrowseRow& PageRow(std::int16_t r) const { return page_[static_cast<std::size_t>(r - 1)]; }
  // The row's text from the offset, blank-padded to W.
  std::string Shown(std::int16_t r) const;
  // The heading drawn along the top border, corners included.
  std::string Heading(std::string_view heading) const;

 private:
  BrowseCache& cache_;
  std::int16_t height_, width_;
  std::int32_t first_ = 1;
  std::int16_t cursor_ = 1;
  std::int16_t offset_ = 1;
  std::int16_t lines_ = 0;
  std::int32_t rightLimit_ = 0;
  std::int32_t after_ = 0;
  std::vector<BrowseRow> page_;
};

// Rows from records: `next` reads the first, then the following record
// (false when there is none), `format` gives its line, where an empty line
// hides the record, and `position` its record position.
BrowseCache::Producer RecordProducer(std::function<bool()> next, std::function<std::string()> format,
                                     std::function<std::int32_t()> position);

// A long reading of records looks at the keyboard now and then: Esc stops
// it, other keys are kept, in order, for the list to act on afterwards.
class ReadingWatch {
 public:
  ReadingWatch();
  bool Stop(std::deque<KeyCode>& kept);

 private:
  std::int64_t lastLook_;
};

// The record of the last line chosen in a list without a data file.
std::int32_t& ChosenPosition();
std::string& ChosenLine();

// Runs look-up list `list` of the forms; result 0 when a line was chosen,
// else non-zero (-1 when left without choosing).
void BrowseList(std::int16_t& list, std::int16_t& result);

}  // namespace console
