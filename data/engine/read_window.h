// Records read ahead along one key: every record that lies between two
// cuts, so that a search starting between them is answered without asking
// the storage when its answer lies inside (or when the window reaches the
// end of the file in the search's direction).
#pragma once

#include <cstddef>
#include <cstdint>

#include "data/engine/storage.h"

namespace recordmanager {

class ReadWindow {
 public:
  enum class Outcome { kUnknown, kRecord, kNone };
  struct Answer {
    Outcome outcome = Outcome::kUnknown;
    const Row* row = nullptr;
    std::size_t index = 0;  // of `row` among the window's rows
  };

  bool Empty() const { return !filled_; }
  void Clear() {
    filled_ = false;
    ++generation_;
  }
  // Goes up whenever the rows change (a fill, a clear, this program's own
  // write): an index into the rows holds only within one generation.
  std::uint64_t Generation() const { return generation_; }
  // The row next to row `index` of generation `generation`, in the walk's
  // direction, when the window holds it; `index` then becomes its index. A
  // walk through the window takes its records in turn without searching.
  const Row* Neighbour(std::uint64_t generation, std::size_t& index, bool forward) const;
  int Key() const { return key_; }
  // How many records the search that filled it asked for.
  int Limit() const { return limit_; }

  // The buffer a search fills; Fill then takes its rows.
  RowBuffer& Incoming() { return incoming_; }
  // The search from `from` in `direction` asked for `limit` records along
  // `key` and got the incoming rows (in search order).
  void Fill(int key, const Cut& from, bool forward, int limit);

  // Whether `cut` lies within the window's range (ends included).
  bool Covers(const Cut& cut) const;
  // The first record above `from` (forward) or the last below it.
  Answer Search(const Cut& from, bool forward) const;
  // Whether the last search answered with the window's last record in
  // `forward`'s direction and `from` lies beyond the window that way: a
  // reader going on through the file.
  bool UsedUpBefore(const Cut& from, bool forward) const;
  // The record at a position, when the window holds it.
  const Row* AtPosition(std::int64_t pos) const;

  // This program's own writes, so that the window stays good.
  void Remove(std::int64_t pos);
  // Kept when it lies within the range. Each row put in makes the window
  // larger and the next one's place costs a scan: past kMostRows the window
  // is given up, and read again when next needed.
  void Put(Row row);
  static constexpr std::size_t kMostRows = 1024;
  // The record at `pos` rewritten as `row`. One that keeps its place along
  // the key (its image and seq) only takes the new bytes: the rows around
  // it stay where they are, and so do a walk's indexes into them.
  void Rewrite(std::int64_t pos, Row row);

  // The storage's note of the file when the window was read, and the
  // process's count of aborted transactions then.
  ChangeMark mark;
  std::uint64_t epoch = 0;

 private:
  bool SplitsAt(const Cut& from, std::size_t p) const;

  bool filled_ = false;
  std::uint64_t generation_ = 0;
  mutable std::size_t lastSplit_ = 0;
  int key_ = 0;
  int limit_ = 0;
  Cut low_, high_;  // the rows are every record above low_ and not above high_
  RowBuffer rows_, incoming_;
};

}  // namespace recordmanager
