// Where the records are kept, behind BTRCALL. The storage-neutral part
// (btrcall.cpp: dispatch, position blocks, cursors, read-ahead windows,
// record-lock bookkeeping, key images) talks to a storage only through
// these calls; SQLite files and a PostgreSQL server implement them.
//
// Along a key, records are ordered by (image, seq): the key image
// (file_definition.h) and an ordering number >= 1 that keeps equal images in
// insertion order. A record whose image changes gets a new, higher seq, so
// it goes to the end of its new group.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/engine/file_definition.h"

namespace recordmanager {

// One record as seen along one key.
struct Row {
  std::int64_t pos = 0;  // its position: never reused, also after a delete
  std::string data;
  std::string image;
  std::int64_t seq = 0;
};

// Rows in a reusable buffer: a search fills it again without giving up the
// rows' allocations.
class RowBuffer {
 public:
  void Clear() { count_ = 0; }
  Row& Add();
  std::size_t Size() const { return count_; }
  Row& operator[](std::size_t i) { return rows_[i]; }
  const Row& operator[](std::size_t i) const { return rows_[i]; }
  void Reverse();
  void Erase(std::size_t i);
  void Insert(std::size_t i, Row row);

 private:
  std::vector<Row> rows_;
  std::size_t count_ = 0;
};

inline constexpr std::int64_t kSeqBelowAll = 0;
inline constexpr std::int64_t kSeqAboveAll = INT64_MAX;

// A place between records along a key. A forward search from a cut finds
// the records above it, lowest first; a backward search the records below
// it, highest first.
struct Cut {
  enum Kind : std::uint8_t { kBottom, kAfter, kTop };
  Kind kind = kBottom;
  std::string image;      // with kAfter: the cut lies right after
  std::int64_t seq = 0;   // the place (image, seq)

  static Cut Bottom() { return {}; }
  static Cut Top() { return Cut{kTop, {}, 0}; }
  static Cut After(std::string image, std::int64_t seq) { return Cut{kAfter, std::move(image), seq}; }
  // Whether the record at (image, seq) lies above this cut.
  bool Below(const std::string& recordImage, std::int64_t recordSeq) const;
};
// Orders cuts along the key: -1, 0 or 1.
int CompareCuts(const Cut& a, const Cut& b);

// What a file looked like at one moment, as its storage notes it; opaque to
// the neutral part.
struct ChangeMark {
  std::array<std::uint64_t, 7> words{};
  bool valid = false;
};

// An open data file. Each open of a file (each position block) has its own.
class StoredFile {
 public:
  virtual ~StoredFile() = default;

  virtual const FileDefinition& Definition() const = 0;
  // The same for every open of one file in this process, whatever path
  // named it; record locks are booked under it.
  virtual const std::string& Identity() const = 0;

  // Up to `limit` records along `key` from `from`, in the search's order
  // (forward: ascending), added to `rows`. Status 0 or an error status.
  virtual std::int16_t Find(int key, const Cut& from, bool forward, int limit, RowBuffer& rows) = 0;
  // The record at `pos`, seen along `key`; nullopt when there is none.
  virtual std::int16_t ReadAt(int key, std::int64_t pos, std::optional<Row>& row) = 0;

  // Writes. `images` holds the new record's image per key. On success
  // `seqs` holds its seq per key (insert: `pos` is set too). `keep`, when
  // given, is a mark of this file; when nothing but this write changed the
  // file since it, it is moved past the write, otherwise made invalid.
  // Insert: 0, 5 (duplicate key) or an error status.
  virtual std::int16_t Insert(const std::string& record, const std::vector<std::string>& images, std::int64_t& pos,
                              std::vector<std::int64_t>& seqs, ChangeMark* keep) = 0;
  // Update and delete refuse (84) a record that another program holds
  // locked; on success they release the record lock `release` of this open
  // (0: none). Either way the record stays locked to other programs until
  // the write is committed (inside a transaction, until its end). Update: 0, 5, 8 (no such record), 10 (key not modifiable),
  // 84, 85 or an error; delete: 0, 8, 84, 85 or an error.
  virtual std::int16_t Update(std::int64_t pos, const std::string& record, const std::vector<std::string>& images,
                              std::int64_t release, std::vector<std::int64_t>& seqs, ChangeMark* keep) = 0;
  virtual std::int16_t Delete(std::int64_t pos, std::int64_t release, ChangeMark* keep) = 0;

  // Record locks between programs (within one program the neutral part
  // books them). Takes the lock on `pos` for this open without waiting (84
  // when another program holds it), releases `release` (0: none) once it is
  // taken, and reads the record again: it may have changed before the lock.
  virtual std::int16_t LockAndRead(int key, std::int64_t pos, std::int64_t release, std::optional<Row>& row) = 0;
  virtual void Unlock(std::int64_t pos) = 0;

  // Takes the file for this program's writes until the transaction
  // (begun) ends; 0, 85 (not had within the wait) or an error status.
  virtual std::int16_t HoldForWriting() = 0;

  // The number of records for stat; a storage may keep it rather than count.
  virtual std::int64_t RecordCount() = 0;

  // Change notes for the read-ahead windows: whether anything was committed
  // to the file since `mark`, by another program or another open of this one.
  virtual ChangeMark Mark() = 0;
  virtual bool ChangedSince(const ChangeMark& mark) = 0;
};

// One kind of storage, for the whole process.
class Storage {
 public:
  virtual ~Storage() = default;
  // `path` is the host path the caller passed.
  virtual std::int16_t Create(const std::string& path, const FileDefinition& def) = 0;
  virtual std::int16_t Open(const std::string& path, std::unique_ptr<StoredFile>& file) = 0;
  // A transaction over every file of this storage that the process writes.
  virtual std::int16_t Begin() = 0;
  virtual std::int16_t Commit() = 0;
  virtual std::int16_t Rollback() = 0;
  // Every file of the process has been closed.
  virtual void Reset() = 0;
  // The program is about to wait (for its operator, for a lock): whatever a
  // storage keeps between calls that holds others back is let go.
  virtual void Rest() {}
};

// SQLite files: one database per data file at its host path.
Storage& SqliteStorage();
// The PostgreSQL server named by the connection string `KITDB`.
Storage& PostgresStorage();

}  // namespace recordmanager
