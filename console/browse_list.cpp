#include "console/browse_list.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <limits>
#include <optional>

#include "base/little_endian.h"
#include "base/strings.h"
#include "config/session.h"
#include "console/form_input.h"
#include "console/key_options.h"
#include "console/key_reader.h"
#include "console/messages.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "data/files.h"
#include "data/key_walk.h"
#include "platform/host_path.h"
#include "platform/system.h"

namespace console {
namespace {

// How long records are read before the keyboard is looked at.
constexpr std::int64_t kKeyLookMs = 200;

}  // namespace

BrowseCache::BrowseCache(Producer producer) : producer_(std::move(producer)) { allRead_ = !producer_; }

BrowseCache::BrowseCache(std::string path, bool empty, Producer producer) : BrowseCache(std::move(producer)) {
  path_ = std::move(path);
  platform::FileStatus status;
  file_ = platform::OpenFile(path_, platform::kOpenCreate | (empty ? platform::kOpenTruncate : 0u), status);
  std::uint64_t size = 0;
  if (file_ && !file_->Size(size).ok()) file_.reset();
  // Positions are 32-bit: a larger file cannot be a cache.
  if (size >= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) size = 0;
  end_ = static_cast<std::int32_t>(size + 1);
  FindLastRow();
}

std::unique_ptr<BrowseCache> BrowseCache::InMemory(std::string bytes, Producer producer) {
  std::unique_ptr<BrowseCache> cache(new BrowseCache(std::move(producer)));
  if (bytes.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) bytes.clear();
  cache->memory_ = std::move(bytes);
  cache->end_ = static_cast<std::int32_t>(cache->memory_.size() + 1);
  cache->FindLastRow();
  return cache;
}

// A kept cache: find its last row so appended rows link to it.
void BrowseCache::FindLastRow() {
  for (std::int32_t at = 1; at < end_;) {
    BrowseRow row;
    if (!Row(at, row)) break;
    last_ = at;
    at = row.next();
  }
}

BrowseCache::~BrowseCache() {
  if (file_) file_->Close();
}

void BrowseCache::Discard() {
  if (file_) file_->Close();
  file_.reset();
  memory_.clear();
  if (!path_.empty()) platform::CurrentFileSystem().Remove(path_);
}

bool BrowseCache::ReadAt(std::int32_t position, char* out, std::size_t count) {
  const auto offset = static_cast<std::size_t>(position - 1);
  if (!file_) {
    if (offset > memory_.size() || count > memory_.size() - offset) return false;
    std::copy_n(memory_.data() + offset, count, out);
    return true;
  }
  std::size_t got = 0;
  if (!file_->ReadAt(offset, std::span<char>(out, count), got).ok()) {
    MoveToMemory();
    return ReadAt(position, out, count);
  }
  return got == count;
}

void BrowseCache::WriteAt(std::int32_t position, std::string_view bytes) {
  const auto offset = static_cast<std::size_t>(position - 1);
  if (file_ && !file_->WriteAt(offset, bytes).ok()) MoveToMemory();
  if (file_) return;
  if (memory_.size() < offset + bytes.size()) memory_.resize(offset + bytes.size(), '\0');
  memory_.replace(offset, bytes.size(), bytes);
}

// The rows read so far go on in memory; those that cannot be read back any
// more are left blank, and the list goes on from there.
void BrowseCache::MoveToMemory() {
  if (!file_) return;
  memory_.assign(static_cast<std::size_t>(end_ - 1), '\0');
  std::size_t got = 0;
  file_->ReadAt(0, std::span<char>(memory_.data(), memory_.size()), got);
  file_->Close();
  file_.reset();
}

std::int32_t BrowseCache::Append(std::int32_t record, std::string_view text) {
  std::string bytes;
  base::AppendLe<std::int32_t>(bytes, last_);
  base::AppendLe<std::int32_t>(bytes, record);
  const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(text.size(), 0xFFFF));
  base::AppendLe<std::uint16_t>(bytes, n);
  bytes.append(text.substr(0, n));
  WriteAt(end_, bytes);
  last_ = end_;
  end_ += static_cast<std::int32_t>(bytes.size());
  return last_;
}

bool BrowseCache::Row(std::int32_t position, BrowseRow& row) {
  if (position < 1) return false;
  while (position >= end_ && !allRead_) {
    std::int32_t record = 0;
    std::string text;
    if (!producer_(record, text)) {
      allRead_ = true;
      break;
    }
    Append(record, text);
  }
  if (position >= end_) return false;
  unsigned char header[10];
  if (!ReadAt(position, reinterpret_cast<char*>(header), 10)) return false;
  const std::size_t n = base::ReadLe<std::uint16_t>(header + 8);
  // A row must end inside the cache (a damaged kept cache may say otherwise).
  if (static_cast<std::size_t>(end_ - position) < 10 + n) return false;
  row.position = position;
  row.previous = base::ReadLe<std::int32_t>(header);
  row.record = base::ReadLe<std::int32_t>(header + 4);
  row.text.assign(n, ' ');
  if (n > 0 && !ReadAt(position + 10, row.text.data(), n)) return false;
  return true;
}

BrowsePager::BrowsePager(BrowseCache& cache, std::int16_t height, std::int16_t width)
    : cache_(cache), height_(std::max<std::int16_t>(height, 1)), width_(std::max<std::int16_t>(width, 1)),
      page_(static_cast<std::size_t>(height_)) {}

void BrowsePager::Layout() {
  std::int32_t at = first_;
  lines_ = 0;
  for (BrowseRow& row : page_) {
    BrowseRow read;
    if (cache_.Row(at, read)) {
      row = read;
      ++lines_;
      rightLimit_ = std::max<std::int32_t>(rightLimit_, static_cast<std::int32_t>(row.text.size()) - width_);
      at = row.next();
    } else {
      row = BrowseRow{};
    }
  }
  BrowseRow next;
  after_ = lines_ == height_ && cache_.Row(at, next) ? at : 0;
  if (cursor_ > lines_) cursor_ = std::max<std::int16_t>(lines_, 1);
}

bool BrowsePager::Up() {
  const BrowseRow& row = PageRow(cursor_);
  if (row.previous == 0) return false;
  if (cursor_ > 1) {
    --cursor_;
    return false;
  }
  first_ = row.previous;
  Layout();
  return true;
}

bool BrowsePager::Down() {
  if (cursor_ > lines_) return false;
  BrowseRow next;
  if (!cache_.Row(PageRow(cursor_).next(), next)) return false;
  if (cursor_ < height_) {
    ++cursor_;
    return false;
  }
  first_ = PageRow(1).next();
  Layout();
  return true;
}

bool BrowsePager::PageUp() {
  BrowseRow row;
  if (!cache_.Row(first_, row) || row.previous == 0) return false;
  std::int16_t k = 0;
  while (k < height_ && row.previous != 0) {
    if (!cache_.Row(row.previous, row)) break;
    ++k;
  }
  first_ = row.position;
  if (k < height_) cursor_ = cursor_ > height_ - k ? k : std::int16_t{1};
  Layout();
  return true;
}

bool BrowsePager::PageDown() {
  if (after_ == 0) return false;
  first_ = after_;
  Layout();
  return true;
}

bool BrowsePager::Left() {
  if (offset_ <= 1) return false;
  offset_ = static_cast<std::int16_t>(offset_ - 8);
  return true;
}

bool BrowsePager::Right() {
  if (offset_ > rightLimit_) return false;
  offset_ = static_cast<std::int16_t>(offset_ + 8);
  return true;
}

std::string BrowsePager::Shown(std::int16_t r) const {
  const std::string& text = PageRow(r).text;
  const std::size_t from = static_cast<std::size_t>(offset_ - 1);
  std::string shown = from < text.size() ? text.substr(from, static_cast<std::size_t>(width_)) : std::string();
  shown.resize(static_cast<std::size_t>(width_), ' ');
  return shown;
}

std::string BrowsePager::Heading(std::string_view heading) const {
  std::string line(1, offset_ == 1 ? '\xC9' : '\x11');
  for (std::int32_t c = offset_; c < offset_ + width_; ++c) {
    char ch = c <= static_cast<std::int32_t>(heading.size()) ? heading[static_cast<std::size_t>(c - 1)] : ' ';
    if (ch == ' ') ch = '\xCD';
    else if (ch == '_') ch = ' ';
    line.push_back(ch);
  }
  const bool ends = offset_ > rightLimit_ || static_cast<std::int32_t>(heading.size()) < offset_ + width_;
  line.push_back(ends ? '\xBB' : '\x10');
  return line;
}

BrowseCache::Producer RecordProducer(std::function<bool()> next, std::function<std::string()> format,
                                     std::function<std::int32_t()> position) {
  return [next = std::move(next), format = std::move(format), position = std::move(position)](
             std::int32_t& record, std::string& text) {
    while (next()) {
      text = std::string(base::TrimRight(format()));
      if (!text.empty()) {
        record = position();
        return true;
      }
    }
    return false;
  };
}

ReadingWatch::ReadingWatch() : lastLook_(platform::MonotonicMs()) {}

bool ReadingWatch::Stop(std::deque<KeyCode>& kept) {
  const std::int64_t now = platform::MonotonicMs();
  if (now - lastLook_ < kKeyLookMs) return false;
  lastLook_ = now;
  // Clicks are not kept: the lines they point at are not drawn yet.
  const Input in = ReadInput();
  if (in.key == keys::kEsc) return true;
  if (in.key != 0) kept.push_back(in.key);
  return false;
}

std::int32_t& ChosenPosition() {
  static std::int32_t position = 0;
  return position;
}

std::string& ChosenLine() {
  static std::string line;
  return line;
}

namespace {

// The keys a list acts on: Enter, Esc, Up, Down, PgUp, PgDn, Left, Right.
constexpr const char* kListKeys = "d,1b,4800,5000,4900,5100,4b00,4d00";
// F4, which opens a list's own list.
constexpr const char* kSubListKey = "3e00";

// A look-up list as the form file describes it.
struct ListItem {
  std::int16_t fileId;     // the data file walked; 0: a list of rows made beforehand
  std::int16_t keyNumber;  // the key it is walked by
  std::int16_t top, left, bottom, right;  // the window, frame included
  std::int16_t filterScreen;  // a screen asked before the list opens; 0: none
  std::int16_t subList;       // the list F4 opens from this one; 0: none
  std::string heading;

  explicit ListItem(const FormItem& item)
      : fileId(item.ints[0]), keyNumber(item.ints[1]), top(item.ints[2]), left(item.ints[3]),
        bottom(item.ints[4]), right(item.ints[5]), filterScreen(item.ints[6]), subList(item.ints[7]),
        heading(item.text) {}
  std::int16_t Height() const { return static_cast<std::int16_t>(bottom - top - 1); }
  std::int16_t Width() const { return static_cast<std::int16_t>(right - left - 1); }
};

// Asks the list's filter screen, when it has one; false when the operator
// leaves it with Esc.
bool AskFilter(const ListItem& item) {
  if (item.filterScreen == 0) return true;
  std::int16_t screen = item.filterScreen, previous = 0, next = 0, key = 0;
  FormInput(screen, previous, next, key);
  return key != keys::kEsc;
}

// The records of a list's data file from its start key up to its end key,
// one at a time, while the operator does not press Esc; the keys he types
// meanwhile are kept for the list.
class ListRecords {
 public:
  ListRecords(const ListItem& item, std::string startKey, std::string endKey, std::deque<KeyCode>& typedAhead)
      : item_(item), startKey_(std::move(startKey)), endKey_(std::move(endKey)), typedAhead_(typedAhead) {}

  // Reads the next record; false at the end of the list.
  bool Next() {
    if (watch_.Stop(typedAhead_)) return false;
    std::int16_t status = 0;
    if (!started_) {
      started_ = true;
      status = data::ReadByKey(item_.fileId, item_.keyNumber, startKey_, 1);
      endImage_ = data::KeyImage(endKey_, item_.fileId);
    } else {
      status = data::StepRecords(item_.fileId, 1);
    }
    // The list ends here either way; a failed read must be told, or the
    // operator takes a part of the records for all of them.
    if (status != 0 && !data::EndsWalk(status)) failure_ = status;
    return status == 0 && data::CurrentKeyImage(item_.fileId).substr(0, endImage_.size()) <= endImage_;
  }
  // The status of a read that failed, once, or 0.
  std::int16_t TakeFailure() {
    if (failureTold_) return 0;
    failureTold_ = failure_ != 0;
    return failure_;
  }

 private:
  const ListItem& item_;
  const std::string startKey_, endKey_;
  std::deque<KeyCode>& typedAhead_;
  ReadingWatch watch_;
  bool started_ = false;
  std::string endImage_;
  std::int16_t failure_ = 0;
  bool failureTold_ = false;
};

void OpenListWindow(const ListItem& item) {
  SetStyle("+n");
  PushWindow(item.top, item.left, item.bottom, item.right);
  DrawFrame(2);
  SetStyle("h");
  SetKeyOptions("+ea", kListKeys);
  if (item.subList != 0) SetKeyOptions("a", kSubListKey);
}

void CloseListWindow() {
  SetKeyOptions("-", "");
  PopWindow();
  SetStyle("-");
}

// The result of choosing the cursor row: 0 and the row kept in ChosenPosition
// and ChosenLine for a list without data file, the status of reading its
// record again for one with a file; -1 when there is no row to choose.
std::int16_t ChooseRow(const ListItem& item, const BrowsePager& pager) {
  const BrowseRow& row = pager.PageRow(pager.Cursor());
  if (item.fileId == 0) {
    ChosenPosition() = row.record;
    ChosenLine() = row.text;
    // An empty list has no line to choose.
    return pager.Lines() > 0 ? 0 : -1;
  }
  return row.record != 0 ? static_cast<std::int16_t>(data::RecordPosition(item.fileId, row.record)) : -1;
}

// Moves through the list until a key ends it; returns that key and sets
// `result`. A read of the data file that failed is told once.
KeyCode RunListKeys(const ListItem& item, BrowsePager& pager, ListRecords* records,
                    std::deque<KeyCode>& typedAhead, std::int16_t& result) {
  const auto drawHeading = [&] {
    SetStyle("+n");
    WriteAt(0, 0, pager.Heading(item.heading));
    SetStyle("-");
  };
  const auto drawPage = [&] {
    for (std::int16_t r = 1; r <= item.Height(); ++r) WriteAt(r, 1, pager.Shown(r));
  };
  drawHeading();
  drawPage();
  for (;;) {
    SetStyle("+u");
    WriteAt(pager.Cursor(), 1, pager.Shown(pager.Cursor()));
    SetStyle("-");
    if (const std::int16_t failure = records ? records->TakeFailure() : 0; failure != 0) {
      ShowMessage(24, data::FailureText(item.fileId, failure));
      WaitInput();
      PopWindow();
    }
    Input in;
    if (typedAhead.empty()) {
      in = WaitInput();
    } else {
      in = typedAhead.front();
      typedAhead.pop_front();
    }
    WriteAt(pager.Cursor(), 1, pager.Shown(pager.Cursor()));
    switch (in.key) {
      case keys::kLeft:
      case keys::kRight:
        if (in.key == keys::kLeft ? pager.Left() : pager.Right()) {
          drawHeading();
          drawPage();
        }
        break;
      case keys::kUp:
        if (pager.Up()) drawPage();
        break;
      case keys::kDown:
        if (pager.Down()) drawPage();
        break;
      case keys::kPgUp:
        if (pager.PageUp()) drawPage();
        break;
      case keys::kPgDn:
        if (pager.PageDown()) drawPage();
        break;
      case keys::kEnter:
        result = ChooseRow(item, pager);
        return in.key;
      default:
        // A click, like any key the list has no use for, leaves it unchosen.
        result = -1;
        return in.key;
    }
  }
}

}  // namespace

void BrowseList(std::int16_t& list, std::int16_t& result) {
  FormState& forms = Forms();
  if (list < 1 || static_cast<std::size_t>(list) > forms.forms.items.size()) {
    result = -1;
    return;
  }
  const ListItem item(forms.forms.items[static_cast<std::size_t>(list - 1)]);
  if (!AskFilter(item)) {
    result = -1;
    return;
  }
  std::string startKey, endKey;
  result = 0;
  if (forms.hooks && forms.hooks->PrepareList(list, startKey, endKey) == HookAnswer::kRefuse) {
    result = -1;
    return;
  }
  // The list reads without locking records; the file's lock mode is given back at the end.
  std::int16_t lockStatus = 0;
  if (item.fileId != 0) data::SetLockMode(item.fileId, "+d", lockStatus);
  OpenListWindow(item);

  std::deque<KeyCode> typedAhead;
  std::optional<ListRecords> records;
  BrowseCache::Producer producer;
  if (item.fileId != 0) {
    records.emplace(item, std::move(startKey), std::move(endKey), typedAhead);
    producer = RecordProducer([&records] { return records->Next(); },
                              [&forms, list] { return forms.hooks ? forms.hooks->FormatListLine(list) : std::string(); },
                              [fileId = item.fileId] { return data::RecordPosition(fileId, 0); });
  }
  const std::string path = platform::HostPathOrRaw(config::Session().TempDir + "Browse.tmp");
  BrowseCache cache(path, item.fileId != 0, producer);
  BrowsePager pager(cache, item.Height(), item.Width());
  pager.Layout();
  const KeyCode ending = RunListKeys(item, pager, records ? &*records : nullptr, typedAhead, result);
  cache.Discard();

  // F4 opens the list's own list, whose result becomes this one's.
  if (ending == keys::kF4 && item.subList != 0) {
    std::int16_t inner = item.subList;
    BrowseList(inner, result);
    if (result == 0 && forms.hooks) {
      int field = 0;
      forms.hooks->ApplyLookup(inner, 0, field);
    }
  }
  CloseListWindow();
  if (item.fileId != 0) data::SetLockMode(item.fileId, "-", lockStatus);
}

}  // namespace console
