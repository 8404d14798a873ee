#include "data/engine/read_window.h"

#include <algorithm>
#include <utility>

namespace recordmanager {

bool Cut::Below(const std::string& recordImage, std::int64_t recordSeq) const {
  switch (kind) {
    case kBottom: return true;
    case kTop: return false;
    case kAfter: break;
  }
  const int c = recordImage.compare(image);
  return c > 0 || (c == 0 && recordSeq > seq);
}

int CompareCuts(const Cut& a, const Cut& b) {
  if (a.kind != b.kind) return a.kind < b.kind ? -1 : 1;
  if (a.kind != Cut::kAfter) return 0;
  if (const int c = a.image.compare(b.image); c != 0) return c < 0 ? -1 : 1;
  return a.seq < b.seq ? -1 : a.seq > b.seq ? 1 : 0;
}

Row& RowBuffer::Add() {
  if (count_ == rows_.size()) rows_.emplace_back();
  return rows_[count_++];
}

void RowBuffer::Reverse() { std::reverse(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(count_)); }

void RowBuffer::Erase(std::size_t i) {
  std::rotate(rows_.begin() + static_cast<std::ptrdiff_t>(i), rows_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
              rows_.begin() + static_cast<std::ptrdiff_t>(count_));
  --count_;
}

void RowBuffer::Insert(std::size_t i, Row row) {
  Add() = std::move(row);
  std::rotate(rows_.begin() + static_cast<std::ptrdiff_t>(i), rows_.begin() + static_cast<std::ptrdiff_t>(count_) - 1,
              rows_.begin() + static_cast<std::ptrdiff_t>(count_));
}

void ReadWindow::Fill(int key, const Cut& from, bool forward, int limit) {
  std::swap(rows_, incoming_);
  incoming_.Clear();
  filled_ = true;
  ++generation_;
  key_ = key;
  limit_ = limit;
  const std::size_t n = rows_.Size();
  const bool reachedEnd = static_cast<int>(n) < limit;
  if (forward) {
    low_ = from;
    high_ = reachedEnd ? Cut::Top() : Cut::After(rows_[n - 1].image, rows_[n - 1].seq);
  } else {
    rows_.Reverse();
    high_ = from;
    // Just below the lowest row read: seqs are whole numbers.
    low_ = reachedEnd ? Cut::Bottom() : Cut::After(rows_[0].image, rows_[0].seq - 1);
  }
}

bool ReadWindow::Covers(const Cut& cut) const {
  return filled_ && CompareCuts(low_, cut) <= 0 && CompareCuts(cut, high_) <= 0;
}

// Whether `p` rows of the window lie below `from` and the rest above it.
bool ReadWindow::SplitsAt(const Cut& from, std::size_t p) const {
  return p <= rows_.Size() && (p == rows_.Size() || from.Below(rows_[p].image, rows_[p].seq)) &&
         (p == 0 || !from.Below(rows_[p - 1].image, rows_[p - 1].seq));
}

ReadWindow::Answer ReadWindow::Search(const Cut& from, bool forward) const {
  if (!Covers(from)) return {};
  // How many rows lie below `from`: a walk moves it by one from one call to
  // the next, so the last split is tried first.
  std::size_t split = rows_.Size() + 1;
  for (std::size_t guess : {lastSplit_ + 1, lastSplit_, lastSplit_ - 1})
    if (SplitsAt(from, guess)) {
      split = guess;
      break;
    }
  if (split > rows_.Size()) {
    std::size_t first = 0, last = rows_.Size();
    while (first < last) {
      const std::size_t mid = first + (last - first) / 2;
      if (from.Below(rows_[mid].image, rows_[mid].seq))
        last = mid;
      else
        first = mid + 1;
    }
    split = first;
  }
  lastSplit_ = split;
  if (forward) {
    if (split < rows_.Size()) return {Outcome::kRecord, &rows_[split], split};
    return {high_.kind == Cut::kTop ? Outcome::kNone : Outcome::kUnknown, nullptr};
  }
  if (split > 0) return {Outcome::kRecord, &rows_[split - 1], split - 1};
  return {low_.kind == Cut::kBottom ? Outcome::kNone : Outcome::kUnknown, nullptr};
}

const Row* ReadWindow::Neighbour(std::uint64_t generation, std::size_t& index, bool forward) const {
  if (!filled_ || generation != generation_ || index >= rows_.Size()) return nullptr;
  if (forward ? index + 1 >= rows_.Size() : index == 0) return nullptr;
  index = forward ? index + 1 : index - 1;
  // As a search would leave it: the row taken lies right after the split
  // (forward) or right before it.
  lastSplit_ = forward ? index : index + 1;
  return &rows_[index];
}

bool ReadWindow::UsedUpBefore(const Cut& from, bool forward) const {
  if (!filled_ || rows_.Size() == 0) return false;
  if (forward) return lastSplit_ + 1 >= rows_.Size() && CompareCuts(high_, from) < 0;
  return lastSplit_ <= 1 && CompareCuts(from, low_) < 0;
}

const Row* ReadWindow::AtPosition(std::int64_t pos) const {
  if (!filled_) return nullptr;
  for (std::size_t i = 0; i < rows_.Size(); ++i)
    if (rows_[i].pos == pos) return &rows_[i];
  return nullptr;
}

void ReadWindow::Remove(std::int64_t pos) {
  ++generation_;
  for (std::size_t i = 0; i < rows_.Size(); ++i)
    if (rows_[i].pos == pos) {
      rows_.Erase(i);
      return;
    }
}

void ReadWindow::Rewrite(std::int64_t pos, Row row) {
  for (std::size_t i = 0; filled_ && i < rows_.Size(); ++i) {
    Row& old = rows_[i];
    if (old.pos != pos) continue;
    if (old.seq == row.seq && old.image == row.image) {
      old.data = std::move(row.data);
      return;
    }
    break;
  }
  Remove(pos);
  Put(std::move(row));
}

void ReadWindow::Put(Row row) {
  ++generation_;
  if (!filled_ || !low_.Below(row.image, row.seq) || high_.Below(row.image, row.seq)) return;
  if (rows_.Size() >= kMostRows) {
    Clear();
    return;
  }
  std::size_t at = 0;
  while (at < rows_.Size()) {
    const int c = rows_[at].image.compare(row.image);
    if (c > 0 || (c == 0 && rows_[at].seq > row.seq)) break;
    ++at;
  }
  rows_.Insert(at, std::move(row));
}

}  // namespace recordmanager
