// Data files as SQLite databases: one row per record with its bytes, its
// position (never reused) and, per key, the key image and the ordering
// number; a lock file "<path>.rlk" beside the database for record locks
// between programs.
//
// Reads outside a write keep one read transaction open from one call to the
// next: beginning and ending one for every read would lock and unlock the
// log's shared index each time, which costs more than many reads. It is
// begun anew as soon as anybody has committed since it began (the log's
// index header tells), ended before a write of this file, and let go of
// before the program waits (Rest), since a read transaction left open would
// keep checkpoints from emptying the log.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "data/engine/record_manager.h"
#include "data/engine/storage.h"

namespace recordmanager {
namespace {

constexpr const char* kFormatTag = "kit-records-1";

std::string K(int key) { return "k" + std::to_string(key); }
std::string S(int key) { return "s" + std::to_string(key); }

void BindBlob(sqlite3_stmt* st, int index, const std::string& bytes) {
  if (bytes.empty())
    sqlite3_bind_zeroblob(st, index, 0);  // a null pointer would bind NULL
  else
    // The caller's bytes outlive the step: no copy.
    sqlite3_bind_blob(st, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
}

// Into a string that usually has the room already: a resize and a copy
// cost a walk less than the general assign.
void AssignBlob(sqlite3_stmt* st, int col, std::string& out) {
  const void* p = sqlite3_column_blob(st, col);
  const auto n = static_cast<std::size_t>(sqlite3_column_bytes(st, col));
  out.resize(p ? n : 0);
  if (p && n) std::memcpy(out.data(), p, n);
}

std::string ColumnBlob(sqlite3_stmt* st, int col) {
  std::string out;
  AssignBlob(st, col, out);
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

std::int16_t LogError(const std::string& path, sqlite3* db, int rc) {
  // A full disk does not always come as SQLITE_FULL: growing the shared
  // index or the log on a full disk is an I/O error whose cause the
  // system's error number tells.
  const int cause = db ? sqlite3_system_errno(db) : 0;
  if (rc == SQLITE_FULL || ((rc & 0xff) == SQLITE_IOERR && (cause == ENOSPC || cause == EDQUOT))) return kDiskFull;
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return kFileLocked;
  std::fprintf(stderr, "record manager: %s: %s\n", path.c_str(), db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  return kIoError;
}

// Record locks: an open-file-description lock on byte `pos` of the lock file.
bool LockByte(int fd, std::int64_t pos, short type) {
  struct flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = pos;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

class SqliteFile;

class SqliteStore final : public Storage {
 public:
  std::int16_t Create(const std::string& path, const FileDefinition& def) override;
  std::int16_t Open(const std::string& path, std::unique_ptr<StoredFile>& file) override;
  std::int16_t Begin() override;
  std::int16_t Commit() override;
  std::int16_t Rollback() override;
  void Reset() override { transaction_ = false; }
  void Rest() override;

  bool InTransaction() const { return transaction_; }
  void Track(SqliteFile* file) { open_.insert(file); }
  void Forget(SqliteFile* file) { open_.erase(file); }
  void Enlist(SqliteFile* file) { enlisted_.insert(file); }
  void Leave(SqliteFile* file) { enlisted_.erase(file); }

 private:
  std::int16_t Finish(bool commit);
  bool transaction_ = false;
  std::set<SqliteFile*> enlisted_;  // the files written in the transaction
  std::set<SqliteFile*> open_;
};

SqliteStore& Store() {
  static SqliteStore store;
  return store;
}

// Which statement of a key's set.
enum Query : std::size_t {
  kUpAll, kUpFrom, kUpAbove, kUpSameAfter,
  kDownAll, kDownBelow, kDownUpTo, kDownSameUpTo,
  kAtPosition, kQueryCount
};

// Statements of a file that do not depend on a key.
enum FileQuery : std::size_t {
  kInsertRecord, kOldImages, kUpdateRecord, kUpdateData, kDeleteRecord, kCountRecords, kDataVersion, kReadSeq, kWriteSeq,
  kBegin, kBeginRead, kCommit, kRollback, kFileQueryCount
};

class SqliteFile final : public StoredFile {
 public:
  SqliteFile() { Store().Track(this); }
  ~SqliteFile() override;
  std::int16_t OpenAt(const std::string& path);

  const FileDefinition& Definition() const override { return def_; }
  const std::string& Identity() const override { return identity_; }
  std::int16_t Find(int key, const Cut& from, bool forward, int limit, RowBuffer& rows) override;
  std::int16_t ReadAt(int key, std::int64_t pos, std::optional<Row>& row) override;
  std::int16_t Insert(const std::string& record, const std::vector<std::string>& images, std::int64_t& pos,
                      std::vector<std::int64_t>& seqs, ChangeMark* keep) override;
  std::int16_t Update(std::int64_t pos, const std::string& record, const std::vector<std::string>& images,
                      std::int64_t release, std::vector<std::int64_t>& seqs, ChangeMark* keep) override;
  std::int16_t Delete(std::int64_t pos, std::int64_t release, ChangeMark* keep) override;
  std::int16_t LockAndRead(int key, std::int64_t pos, std::int64_t release, std::optional<Row>& row) override;
  void Unlock(std::int64_t pos) override;
  // The file's write lock, as the transaction's first write takes it
  // (called inside the transaction only).
  std::int16_t HoldForWriting() override { return BeginWrite(); }
  std::int64_t RecordCount() override;
  ChangeMark Mark() override;
  bool ChangedSince(const ChangeMark& mark) override;

  std::int16_t EndTransaction(bool commit);
  // Ends the read transaction kept open between calls, if any.
  void EndRead();

 private:
  // Before a read outside a write transaction: keeps one read transaction
  // open between calls, begun anew once anybody has committed since it
  // began, so that a read costs no file locking of its own.
  void BeginRead();
  sqlite3_stmt* Prepare(const std::string& sql);
  sqlite3_stmt* Statement(int key, Query which);
  sqlite3_stmt* Statement(FileQuery which);
  std::string StatementText(FileQuery which) const;
  std::int16_t Error(int rc) { return LogError(path_, db_, rc); }
  std::int16_t BeginWrite();
  std::int16_t EndWrite(std::int16_t status);
  std::int64_t NextSeq(int& rc);
  // Writes the ordering number drawn in this write transaction back to the
  // file, before its commit.
  int SaveSeq();
  void ForgetSeq() {
    seqKnown_ = seqDrawn_ = false;
    writeVersion_ = -1;
  }
  // The data version inside the write transaction under way: nobody else
  // can commit while it lasts, so it is asked for once.
  std::int64_t WriteVersion();
  int Finish(const char* sql);
  std::int16_t WriteFailed(int rc);
  // Update and delete once the record's lock is had for them.
  std::int16_t Rewrite(std::int64_t pos, const std::string& record, const std::vector<std::string>& images,
                       std::vector<std::int64_t>& seqs, ChangeMark* keep);
  std::int16_t Remove(std::int64_t pos, ChangeMark* keep);
  // A write takes its record's lock for itself (84: another has it) and
  // gives it back only once the write is committed: a program that got the
  // lock meanwhile would read the record without the change and could write
  // that back over it.
  bool LockForWrite(std::int64_t pos);
  void AfterWrite(std::int16_t status, std::int64_t pos, std::int64_t release, bool heldBefore);
  // Adds what `st` steps to to `rows`, until they are `limit` rows.
  int StepRows(sqlite3_stmt* st, std::size_t limit, RowBuffer& rows);
  // One search of Find's, adding rows until there are `wanted`.
  std::int16_t Search(int key, Query q, const Cut& from, std::size_t wanted, RowBuffer& rows);
  std::int64_t DataVersion();
  const volatile unsigned char* WalIndexHeader();
  // Begins a write that wants to keep `keep`: `keep` stays valid only when
  // nothing changed since, and `version` is then the data version to keep
  // it at.
  std::int16_t BeginKeptWrite(ChangeMark* keep, std::int64_t& version);
  void Kept(ChangeMark* keep, std::int64_t version);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string identity_;
  FileDefinition def_;
  int lockFd_ = -1;
  bool inTransaction_ = false;
  // Records this transaction wrote, and the locks held for them, given back
  // when it ends.
  std::set<std::int64_t> writtenInTransaction_, unlockAtEnd_;
  // The ordering number as of the last one drawn in the write transaction
  // under way: read once from the file, written back before the commit.
  std::int64_t seq_ = 0;
  bool seqKnown_ = false, seqDrawn_ = false;
  std::int64_t writeVersion_ = -1;
  // The record count and the mark it was counted at.
  std::int64_t count_ = 0;
  ChangeMark countMark_;
  std::vector<sqlite3_stmt*> prepared_;  // every statement, to finalize
  std::vector<std::array<sqlite3_stmt*, kQueryCount>> keyStatements_;
  std::array<sqlite3_stmt*, kFileQueryCount> fileStatements_{};
  // The header of the log's shared index, mapped by SQLite, as of the last
  // mark; null when there is none (then PRAGMA data_version tells changes).
  const volatile unsigned char* walHeader_ = nullptr;
  // The read transaction kept open, and the log header when it began.
  bool reading_ = false;
  ChangeMark readMark_;
};

// Marks come in two kinds: the log index header (a commit by anyone
// rewrites it; reading it costs no system call), or the connection's data
// version (changes only with other connections' commits, so it survives
// this file's own writes).
constexpr std::uint64_t kHeaderMark = 1;
constexpr std::uint64_t kVersionMark = 2;

SqliteFile::~SqliteFile() {
  Store().Forget(this);
  EndRead();
  if (inTransaction_) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    Store().Leave(this);
  }
  for (sqlite3_stmt* st : prepared_) sqlite3_finalize(st);
  if (db_) sqlite3_close_v2(db_);
  if (lockFd_ >= 0) ::close(lockFd_);
}

// Statements are made once per open file and kept: a call binds, steps and
// resets one, and builds no SQL.
sqlite3_stmt* SqliteFile::Prepare(const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) return nullptr;
  prepared_.push_back(st);
  return st;
}

std::string SqliteFile::StatementText(FileQuery which) const {
  const std::size_t keys = def_.keys.size();
  std::string sql;
  switch (which) {
    case kInsertRecord: {
      std::string values = "?1";
      sql = "INSERT INTO records(data";
      for (std::size_t k = 0; k < keys; ++k) {
        sql += ", " + K(static_cast<int>(k)) + ", " + S(static_cast<int>(k));
        values += ", ?" + std::to_string(2 + 2 * k) + ", ?" + std::to_string(3 + 2 * k);
      }
      return sql + ") VALUES(" + values + ")";
    }
    case kOldImages:
      sql = "SELECT ";
      for (std::size_t k = 0; k < keys; ++k)
        sql += (k ? ", " : "") + K(static_cast<int>(k)) + ", " + S(static_cast<int>(k));
      return sql + " FROM records WHERE pos = ?1";
    case kUpdateRecord:
      sql = "UPDATE records SET data = ?1";
      for (std::size_t k = 0; k < keys; ++k)
        sql += ", " + K(static_cast<int>(k)) + " = ?" + std::to_string(2 + 2 * k) + ", " + S(static_cast<int>(k)) +
               " = ?" + std::to_string(3 + 2 * k);
      return sql + " WHERE pos = ?" + std::to_string(2 + 2 * keys);
    // An update that changes no key: its indexes stay as they are.
    case kUpdateData: return "UPDATE records SET data = ?1 WHERE pos = ?2";
    case kDeleteRecord: return "DELETE FROM records WHERE pos = ?1";
    case kCountRecords: return "SELECT count(*) FROM records";
    case kDataVersion: return "PRAGMA data_version";
    case kReadSeq: return "SELECT value FROM meta WHERE name = 'seq'";
    case kWriteSeq: return "UPDATE meta SET value = ?1 WHERE name = 'seq'";
    case kBegin: return "BEGIN IMMEDIATE";
    case kBeginRead: return "BEGIN";
    case kCommit: return "COMMIT";
    case kRollback: return "ROLLBACK";
    case kFileQueryCount: break;
  }
  return {};
}

sqlite3_stmt* SqliteFile::Statement(FileQuery which) {
  sqlite3_stmt*& st = fileStatements_[which];
  if (!st) st = Prepare(StatementText(which));
  return st;
}

sqlite3_stmt* SqliteFile::Statement(int key, Query which) {
  if (keyStatements_.size() != def_.keys.size()) keyStatements_.assign(def_.keys.size(), {});
  sqlite3_stmt*& st = keyStatements_[static_cast<std::size_t>(key)][which];
  if (st) return st;
  const std::string k = K(key), s = S(key);
  const std::string select = "SELECT pos, data, " + k + ", " + s + " FROM records";
  const std::string up = " ORDER BY " + k + ", " + s, down = " ORDER BY " + k + " DESC, " + s + " DESC";
  std::string sql;
  switch (which) {
    case kUpAll: sql = select + up + " LIMIT ?3"; break;
    case kUpFrom: sql = select + " WHERE " + k + " >= ?1" + up + " LIMIT ?3"; break;
    case kUpAbove: sql = select + " WHERE " + k + " > ?1" + up + " LIMIT ?3"; break;
    // The rest of a group of equal images from a seq on: one seek, also in
    // a long group.
    case kUpSameAfter: sql = select + " WHERE " + k + " = ?1 AND " + s + " > ?2" + up + " LIMIT ?3"; break;
    case kDownAll: sql = select + down + " LIMIT ?3"; break;
    case kDownBelow: sql = select + " WHERE " + k + " < ?1" + down + " LIMIT ?3"; break;
    case kDownUpTo: sql = select + " WHERE " + k + " <= ?1" + down + " LIMIT ?3"; break;
    case kDownSameUpTo: sql = select + " WHERE " + k + " = ?1 AND " + s + " <= ?2" + down + " LIMIT ?3"; break;
    case kAtPosition: sql = select + " WHERE pos = ?2"; break;
    case kQueryCount: return nullptr;
  }
  st = Prepare(sql);
  return st;
}

int SqliteFile::StepRows(sqlite3_stmt* st, std::size_t limit, RowBuffer& rows) {
  int rc = SQLITE_DONE;
  while (rows.Size() < limit && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    Row& row = rows.Add();
    row.pos = sqlite3_column_int64(st, 0);
    AssignBlob(st, 1, row.data);
    AssignBlob(st, 2, row.image);
    row.seq = sqlite3_column_int64(st, 3);
  }
  if (rc == SQLITE_ROW) rc = SQLITE_DONE;
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

std::int16_t SqliteFile::Find(int key, const Cut& from, bool forward, int limit, RowBuffer& rows) {
  const std::size_t wanted = rows.Size() + static_cast<std::size_t>(std::max(limit, 0));
  if (from.kind == (forward ? Cut::kTop : Cut::kBottom) || limit <= 0) return kOk;
  BeginRead();
  if (from.kind != Cut::kAfter) return Search(key, forward ? kUpAll : kDownAll, from, wanted, rows);
  if (from.seq == kSeqBelowAll) return Search(key, forward ? kUpFrom : kDownBelow, from, wanted, rows);
  if (from.seq == kSeqAboveAll) return Search(key, forward ? kUpAbove : kDownUpTo, from, wanted, rows);
  // A cut inside a group of equal images: the rest of the group, then the
  // images beyond it. A row value in one search would cost a comparison on
  // every row it steps over.
  if (std::int16_t status = Search(key, forward ? kUpSameAfter : kDownSameUpTo, from, wanted, rows); status != kOk)
    return status;
  return Search(key, forward ? kUpAbove : kDownBelow, from, wanted, rows);
}

std::int16_t SqliteFile::Search(int key, Query q, const Cut& from, std::size_t wanted, RowBuffer& rows) {
  if (rows.Size() >= wanted) return kOk;
  sqlite3_stmt* st = Statement(key, q);
  if (!st) return Error(sqlite3_errcode(db_));
  if (from.kind == Cut::kAfter) BindBlob(st, 1, from.image);
  if (q == kUpSameAfter || q == kDownSameUpTo) sqlite3_bind_int64(st, 2, from.seq);
  sqlite3_bind_int64(st, 3, static_cast<std::int64_t>(wanted - rows.Size()));
  if (int rc = StepRows(st, wanted, rows); rc != SQLITE_OK) return Error(rc);
  return kOk;
}

std::int16_t SqliteFile::ReadAt(int key, std::int64_t pos, std::optional<Row>& row) {
  row.reset();
  sqlite3_stmt* st = Statement(key, kAtPosition);
  if (!st) return Error(sqlite3_errcode(db_));
  BeginRead();
  sqlite3_bind_int64(st, 2, pos);
  RowBuffer rows;
  if (int rc = StepRows(st, 1, rows); rc != SQLITE_OK) return Error(rc);
  if (rows.Size()) row = std::move(rows[0]);
  return kOk;
}

void SqliteFile::BeginRead() {
  if (inTransaction_) return;
  // A read that failed may have ended the transaction with it.
  if (reading_ && sqlite3_get_autocommit(db_)) reading_ = false;
  if (reading_) {
    if (!ChangedSince(readMark_)) return;
    EndRead();
  }
  // Taken before the transaction's first read: a commit in between only
  // begins the next one sooner.
  readMark_ = Mark();
  if (readMark_.words[6] != kHeaderMark) return;
  if (Finish("BEGIN") == SQLITE_OK) reading_ = true;
}

void SqliteFile::EndRead() {
  if (!reading_) return;
  reading_ = false;
  Finish("COMMIT");
}

std::int16_t SqliteFile::BeginWrite() {
  if (inTransaction_) return kOk;
  EndRead();
  int rc = Finish("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return Error(rc);
  ForgetSeq();
  if (Store().InTransaction()) {
    inTransaction_ = true;
    Store().Enlist(this);
  }
  return kOk;
}

// BEGIN, COMMIT and ROLLBACK through statements kept like every other.
int SqliteFile::Finish(const char* sql) {
  const FileQuery which = std::strcmp(sql, "BEGIN") == 0 ? kBeginRead
                          : sql[0] == 'B'                ? kBegin
                          : sql[0] == 'C'                ? kCommit
                                                         : kRollback;
  sqlite3_stmt* st = Statement(which);
  if (!st) return sqlite3_errcode(db_);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

std::int16_t SqliteFile::EndWrite(std::int16_t status) {
  if (inTransaction_) return status;
  int rc = status == kOk ? SaveSeq() : SQLITE_OK;
  if (rc == SQLITE_OK) rc = Finish(status == kOk ? "COMMIT" : "ROLLBACK");
  ForgetSeq();
  if (status == kOk && rc != SQLITE_OK) {
    Finish("ROLLBACK");
    return Error(rc);
  }
  return status;
}

std::int16_t SqliteFile::EndTransaction(bool commit) {
  inTransaction_ = false;
  int rc = commit ? SaveSeq() : SQLITE_OK;
  if (rc == SQLITE_OK) rc = Finish(commit ? "COMMIT" : "ROLLBACK");
  ForgetSeq();
  if (rc != SQLITE_OK) Finish("ROLLBACK");
  writtenInTransaction_.clear();
  for (std::int64_t pos : std::exchange(unlockAtEnd_, {})) Unlock(pos);
  return rc == SQLITE_OK ? static_cast<std::int16_t>(kOk) : Error(rc);
}

// Ordering numbers are never given twice in a file: they come from one
// counter kept in the file. The write transaction holds the file's write
// lock, so the counter is read once in it and written back once before its
// commit, rather than once per record.
std::int64_t SqliteFile::NextSeq(int& rc) {
  rc = SQLITE_OK;
  if (!seqKnown_) {
    sqlite3_stmt* st = Statement(kReadSeq);
    if (!st) {
      rc = sqlite3_errcode(db_);
      return 0;
    }
    rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      seq_ = sqlite3_column_int64(st, 0);
      rc = SQLITE_OK;
    }
    sqlite3_reset(st);
    if (rc != SQLITE_OK) return 0;
    seqKnown_ = true;
  }
  seqDrawn_ = true;
  return ++seq_;
}

int SqliteFile::SaveSeq() {
  if (!seqDrawn_) return SQLITE_OK;
  sqlite3_stmt* st = Statement(kWriteSeq);
  if (!st) return sqlite3_errcode(db_);
  sqlite3_bind_int64(st, 1, seq_);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return rc;
  seqDrawn_ = false;
  return SQLITE_OK;
}

// A write refused by a unique index is a duplicate key; the index is the
// only check, so no search for the key comes before the write.
std::int16_t SqliteFile::WriteFailed(int rc) {
  const int extended = sqlite3_extended_errcode(db_);
  if (extended == SQLITE_CONSTRAINT_UNIQUE || extended == SQLITE_CONSTRAINT_PRIMARYKEY) return kDuplicateKey;
  return Error(rc);
}

std::int64_t SqliteFile::WriteVersion() {
  if (writeVersion_ < 0) writeVersion_ = DataVersion();
  return writeVersion_;
}

std::int16_t SqliteFile::BeginKeptWrite(ChangeMark* keep, std::int64_t& version) {
  const std::int16_t status = BeginWrite();
  if (status != kOk) {
    if (keep) keep->valid = false;
    return status;
  }
  if (!keep || !keep->valid) return kOk;
  // Inside the write transaction nobody else can commit any more.
  version = WriteVersion();
  const bool changed = keep->words[6] == kVersionMark
                           ? version < 0 || static_cast<std::uint64_t>(version) != keep->words[0]
                           : ChangedSince(*keep);
  if (changed || version < 0) keep->valid = false;
  return kOk;
}

void SqliteFile::Kept(ChangeMark* keep, std::int64_t version) {
  if (!keep || !keep->valid) return;
  *keep = ChangeMark{};
  keep->words[0] = static_cast<std::uint64_t>(version);
  keep->words[6] = kVersionMark;
  keep->valid = true;
}

std::int16_t SqliteFile::Insert(const std::string& record, const std::vector<std::string>& images, std::int64_t& pos,
                                std::vector<std::int64_t>& seqs, ChangeMark* keep) {
  std::int64_t version = 0;
  std::int16_t status = BeginKeptWrite(keep, version);
  if (status != kOk) return status;
  int rc = SQLITE_OK;
  const std::int64_t seq = NextSeq(rc);
  if (rc != SQLITE_OK) return EndWrite(Error(rc));
  sqlite3_stmt* st = Statement(kInsertRecord);
  if (!st) return EndWrite(Error(sqlite3_errcode(db_)));
  BindBlob(st, 1, record);
  for (std::size_t k = 0; k < images.size(); ++k) {
    BindBlob(st, static_cast<int>(2 + 2 * k), images[k]);
    sqlite3_bind_int64(st, static_cast<int>(3 + 2 * k), seq);
  }
  rc = sqlite3_step(st);
  const std::int16_t failed = rc == SQLITE_DONE ? static_cast<std::int16_t>(kOk) : WriteFailed(rc);
  sqlite3_reset(st);
  if (failed != kOk) return EndWrite(failed);
  pos = sqlite3_last_insert_rowid(db_);
  status = EndWrite(kOk);
  if (status != kOk) return status;
  seqs.assign(def_.keys.size(), seq);
  Kept(keep, version);
  return kOk;
}

// A lock file open for reading only (another user's, not writable here)
// takes a shared lock instead: it still refuses and holds off the
// exclusive locks of the programs that read to change.
bool SqliteFile::LockForWrite(std::int64_t pos) {
  if (lockFd_ < 0 || LockByte(lockFd_, pos, F_WRLCK)) return true;
  return errno == EBADF && LockByte(lockFd_, pos, F_RDLCK);
}

void SqliteFile::AfterWrite(std::int16_t status, std::int64_t pos, std::int64_t release, bool heldBefore) {
  if (status != kOk) {
    if (!heldBefore) Unlock(pos);
    return;
  }
  if (inTransaction_) {
    writtenInTransaction_.insert(pos);
    unlockAtEnd_.insert(pos);
  } else {
    Unlock(pos);
  }
  if (release && release != pos) Unlock(release);
}

std::int16_t SqliteFile::Update(std::int64_t pos, const std::string& record, const std::vector<std::string>& images,
                                std::int64_t release, std::vector<std::int64_t>& seqs, ChangeMark* keep) {
  const bool heldBefore = release == pos || unlockAtEnd_.count(pos);
  if (!LockForWrite(pos)) return kRecordLocked;
  const std::int16_t status = Rewrite(pos, record, images, seqs, keep);
  AfterWrite(status, pos, release, heldBefore);
  return status;
}

std::int16_t SqliteFile::Rewrite(std::int64_t pos, const std::string& record, const std::vector<std::string>& images,
                                 std::vector<std::int64_t>& seqs, ChangeMark* keep) {
  std::int64_t version = 0;
  std::int16_t status = BeginKeptWrite(keep, version);
  if (status != kOk) return status;
  int rc = SQLITE_OK;
  sqlite3_stmt* st = Statement(kOldImages);
  if (!st) return EndWrite(Error(sqlite3_errcode(db_)));
  sqlite3_bind_int64(st, 1, pos);
  std::vector<std::int64_t> newSeqs;
  bool found = false;
  std::int16_t refused = kOk;
  rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    found = true;
    newSeqs.resize(def_.keys.size());
    for (std::size_t k = 0; k < def_.keys.size(); ++k) {
      newSeqs[k] = sqlite3_column_int64(st, static_cast<int>(2 * k + 1));
      const void* old = sqlite3_column_blob(st, static_cast<int>(2 * k));
      const auto oldSize = static_cast<std::size_t>(sqlite3_column_bytes(st, static_cast<int>(2 * k)));
      if (oldSize == images[k].size() && (oldSize == 0 || std::memcmp(old, images[k].data(), oldSize) == 0)) continue;
      if (!def_.keys[k].modifiable) {
        refused = kKeyNotModifiable;
        break;
      }
      newSeqs[k] = 0;  // drawn below
    }
  }
  sqlite3_reset(st);
  if (!found) return EndWrite(rc == SQLITE_DONE ? static_cast<std::int16_t>(kNoCurrentRecord) : Error(rc));
  if (refused != kOk) return EndWrite(refused);
  // A changed key goes to the end of its new group of equal keys.
  std::int64_t seq = 0;
  for (std::int64_t& s : newSeqs) {
    if (s != 0) continue;
    if (seq == 0) seq = NextSeq(rc);
    if (rc != SQLITE_OK) return EndWrite(Error(rc));
    s = seq;
  }
  if (seq == 0) {
    st = Statement(kUpdateData);
    if (!st) return EndWrite(Error(sqlite3_errcode(db_)));
    BindBlob(st, 1, record);
    sqlite3_bind_int64(st, 2, pos);
  } else {
    st = Statement(kUpdateRecord);
    if (!st) return EndWrite(Error(sqlite3_errcode(db_)));
    BindBlob(st, 1, record);
    for (std::size_t k = 0; k < images.size(); ++k) {
      BindBlob(st, static_cast<int>(2 + 2 * k), images[k]);
      sqlite3_bind_int64(st, static_cast<int>(3 + 2 * k), newSeqs[k]);
    }
    sqlite3_bind_int64(st, static_cast<int>(2 + 2 * def_.keys.size()), pos);
  }
  rc = sqlite3_step(st);
  const std::int16_t failed = rc == SQLITE_DONE ? static_cast<std::int16_t>(kOk) : WriteFailed(rc);
  sqlite3_reset(st);
  if (failed != kOk) return EndWrite(failed);
  status = EndWrite(kOk);
  if (status != kOk) return status;
  seqs = std::move(newSeqs);
  Kept(keep, version);
  return kOk;
}

std::int16_t SqliteFile::Delete(std::int64_t pos, std::int64_t release, ChangeMark* keep) {
  const bool heldBefore = release == pos || unlockAtEnd_.count(pos);
  if (!LockForWrite(pos)) return kRecordLocked;
  const std::int16_t status = Remove(pos, keep);
  AfterWrite(status, pos, release, heldBefore);
  return status;
}

std::int16_t SqliteFile::Remove(std::int64_t pos, ChangeMark* keep) {
  std::int64_t version = 0;
  std::int16_t status = BeginKeptWrite(keep, version);
  if (status != kOk) return status;
  sqlite3_stmt* st = Statement(kDeleteRecord);
  if (!st) return EndWrite(Error(sqlite3_errcode(db_)));
  sqlite3_bind_int64(st, 1, pos);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return EndWrite(Error(rc));
  if (sqlite3_changes(db_) == 0) return EndWrite(kNoCurrentRecord);
  status = EndWrite(kOk);
  if (status != kOk) return status;
  Kept(keep, version);
  return kOk;
}

std::int16_t SqliteFile::LockAndRead(int key, std::int64_t pos, std::int64_t release, std::optional<Row>& row) {
  if (lockFd_ < 0 || !LockByte(lockFd_, pos, F_WRLCK)) return kRecordLocked;
  unlockAtEnd_.erase(pos);
  if (release && release != pos) Unlock(release);
  return ReadAt(key, pos, row);
}

// A record written inside the transaction stays locked to its end: another
// program that took the lock before would read the record as committed,
// without the change, and could write that back over it.
void SqliteFile::Unlock(std::int64_t pos) {
  if (inTransaction_ && writtenInTransaction_.count(pos))
    unlockAtEnd_.insert(pos);
  else if (lockFd_ >= 0)
    LockByte(lockFd_, pos, F_UNLCK);
}

// Counted again only when the file changed since the last count: a stat
// asked twice in a row counts once.
std::int64_t SqliteFile::RecordCount() {
  // Inside a write transaction its own writes count, and the marks do not
  // see them (nor their undoing): counted every time, and not kept.
  if (inTransaction_) countMark_ = ChangeMark{};
  if (countMark_.valid && !ChangedSince(countMark_)) return count_;
  const ChangeMark mark = Mark();
  sqlite3_stmt* st = Statement(kCountRecords);
  if (!st) return 0;
  BeginRead();
  const bool counted = sqlite3_step(st) == SQLITE_ROW;
  count_ = counted ? sqlite3_column_int64(st, 0) : 0;
  sqlite3_reset(st);
  countMark_ = counted && !inTransaction_ ? mark : ChangeMark{};
  return count_;
}

std::int64_t SqliteFile::DataVersion() {
  sqlite3_stmt* st = Statement(kDataVersion);
  if (!st) return -1;
  // A read transaction kept open would answer as of its beginning.
  if (reading_ && ChangedSince(readMark_)) EndRead();
  std::int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_reset(st);
  return v;
}

// Every commit, by this program or another, rewrites the header at the
// start of the log's shared index (its change counter goes up). Reading it
// costs no system call, where PRAGMA data_version opens and closes a read
// transaction with its file locks on every call of a walk.
// Asked again at every mark, so that the mapping in use is always the one
// SQLite has now.
const volatile unsigned char* SqliteFile::WalIndexHeader() {
  walHeader_ = nullptr;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
      !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
    return nullptr;
  volatile void* region = nullptr;
  // Region 0 exists once the log has been read; never ask for a new one.
  if (file->pMethods->xShmMap(file, 0, 32768, 0, &region) != SQLITE_OK || !region) return nullptr;
  const auto* header = static_cast<const volatile unsigned char*>(region);
  // Format version 3007000 (native byte order) and the initialised flag.
  const std::uint32_t version = 3007000;
  unsigned char expected[4];
  std::memcpy(expected, &version, 4);
  for (int i = 0; i < 4; ++i)
    if (header[i] != expected[i]) return nullptr;
  if (header[12] != 1) return nullptr;
  walHeader_ = header;
  return header;
}

// The first copy of the header, 48 bytes, as six words (the region is page
// aligned).
void HeaderImage(const volatile unsigned char* header, ChangeMark& mark) {
  std::atomic_thread_fence(std::memory_order_acquire);
  const auto* words = reinterpret_cast<const volatile std::uint64_t*>(header);
  for (std::size_t i = 0; i < 6; ++i) mark.words[i] = words[i];
}

ChangeMark SqliteFile::Mark() {
  ChangeMark mark;
  if (const volatile unsigned char* header = WalIndexHeader()) {
    HeaderImage(header, mark);
    mark.words[6] = kHeaderMark;
    mark.valid = true;
  } else if (const std::int64_t v = DataVersion(); v >= 0) {
    mark.words[0] = static_cast<std::uint64_t>(v);
    mark.words[6] = kVersionMark;
    mark.valid = true;
  }
  return mark;
}

bool SqliteFile::ChangedSince(const ChangeMark& mark) {
  if (!mark.valid) return true;
  if (mark.words[6] == kHeaderMark) {
    if (!walHeader_) return true;
    ChangeMark now;
    HeaderImage(walHeader_, now);
    return !std::equal(now.words.begin(), now.words.begin() + 6, mark.words.begin());
  }
  const std::int64_t v = DataVersion();
  return v < 0 || static_cast<std::uint64_t>(v) != mark.words[0];
}

std::int16_t SqliteFile::OpenAt(const std::string& path) {
  path_ = path;
  // A handle is used by one thread at a time (the entry point is not
  // reentrant), so SQLite's own mutexes are not needed.
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return Error(rc);
  sqlite3_busy_timeout(db_, 3000);
  // Reads of the database file through a mapping instead of a copy per page.
  sqlite3_exec(db_, "PRAGMA synchronous=FULL; PRAGMA cache_size=-8192; PRAGMA mmap_size=268435456;", nullptr,
               nullptr, nullptr);
  // A database that is not one of ours, or not a database at all.
  sqlite3_stmt* st = nullptr;
  std::string creation;
  bool ours = false;
  if (sqlite3_prepare_v2(db_,
                         "SELECT (SELECT value FROM meta WHERE name='format'),"
                         " (SELECT value FROM meta WHERE name='creation')",
                         -1, &st, nullptr) == SQLITE_OK) {
    rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      rc = SQLITE_OK;
      const unsigned char* tag = sqlite3_column_text(st, 0);
      ours = tag && std::string(reinterpret_cast<const char*>(tag)) == kFormatTag;
      creation = ColumnBlob(st, 1);
    }
  } else {
    rc = sqlite3_errcode(db_);
  }
  sqlite3_finalize(st);
  if (rc == SQLITE_BUSY) return kFileLocked;
  // A file that could not be read (a full disk keeps SQLite from making the
  // shared index it reads through) is no proof of a foreign one: the cause
  // is told instead. Only a missing table or bytes that are no database at
  // all mean the file is not ours.
  if (rc != SQLITE_OK && rc != SQLITE_ERROR && rc != SQLITE_NOTADB && rc != SQLITE_DONE) return Error(rc);
  if (!ours || ParseCreationRecord(creation, def_) != kOk) {
    std::fprintf(stderr, "record manager: %s: not a data file of ours\n", path.c_str());
    return kNotOurFile;
  }
  struct stat info{};
  if (::stat(path.c_str(), &info) == 0)
    identity_ = "sqlite:" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  else
    identity_ = "sqlite:" + path;
  lockFd_ = ::open((path + ".rlk").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd_ < 0) lockFd_ = ::open((path + ".rlk").c_str(), O_RDONLY | O_CLOEXEC);
  return kOk;
}

// The creation record stored in an existing file; empty when it is not a
// data file of ours.
std::string StoredCreation(const std::string& path) {
  sqlite3* db = nullptr;
  std::string creation;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 3000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE name='creation'", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      creation = ColumnBlob(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return creation;
}

// Another program may have created the file first: that is no failure when
// it made the file we wanted.
std::int16_t AlreadyThere(const std::string& path, const FileDefinition& def) {
  return StoredCreation(path) == def.creation ? static_cast<std::int16_t>(kOk) : static_cast<std::int16_t>(kFileExists);
}

std::int16_t SqliteStore::Create(const std::string& path, const FileDefinition& def) {
  if (FileExists(path)) return AlreadyThere(path, def);
  // Made whole under a name of its own and then linked into place, so that
  // nobody ever opens a half-made file and two programs creating the same
  // file at once cannot spoil each other's.
  static std::atomic<int> made{0};
  const std::string draft = path + ".new" + std::to_string(::getpid()) + "-" + std::to_string(made++);
  ::unlink(draft.c_str());
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(draft.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    if (db) sqlite3_close_v2(db);
    ::unlink(draft.c_str());
    return rc == SQLITE_CANTOPEN ? static_cast<std::int16_t>(kFileNotFound) : LogError(path, nullptr, rc);
  }
  std::string sql = "PRAGMA journal_mode=WAL; BEGIN IMMEDIATE;"
                    "CREATE TABLE meta(name TEXT PRIMARY KEY, value);"
                    "INSERT INTO meta VALUES('format', '" + std::string(kFormatTag) + "');"
                    "INSERT INTO meta VALUES('seq', 0);"
                    "CREATE TABLE records(pos INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL";
  for (std::size_t k = 0; k < def.keys.size(); ++k)
    sql += ", " + K(static_cast<int>(k)) + " BLOB NOT NULL, " + S(static_cast<int>(k)) + " INTEGER NOT NULL";
  sql += ");";
  for (std::size_t k = 0; k < def.keys.size(); ++k) {
    int ki = static_cast<int>(k);
    // A unique key's images are distinct and never null, so its unique
    // index serves the (image, seq) order as well: one index less to keep
    // up on every write. Files made with both indexes read the same.
    if (def.keys[k].duplicates)
      sql += "CREATE INDEX i" + std::to_string(k) + " ON records(" + K(ki) + ", " + S(ki) + ");";
    else
      sql += "CREATE UNIQUE INDEX u" + std::to_string(k) + " ON records(" + K(ki) + ");";
  }
  rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db, "INSERT INTO meta VALUES('creation', ?1)", -1, &st, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_blob(st, 1, def.creation.data(), static_cast<int>(def.creation.size()), SQLITE_TRANSIENT);
      rc = sqlite3_step(st) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
      sqlite3_finalize(st);
    }
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  // Everything into the database file itself before it is linked.
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  std::int16_t result = rc == SQLITE_OK ? static_cast<std::int16_t>(kOk) : LogError(path, db, rc);
  if (sqlite3_close_v2(db) != SQLITE_OK && result == kOk) result = LogError(path, nullptr, SQLITE_IOERR);
  if (result == kOk && ::link(draft.c_str(), path.c_str()) != 0)
    result = errno == EEXIST ? AlreadyThere(path, def) : LogError(path, nullptr, SQLITE_CANTOPEN);
  ::unlink(draft.c_str());
  ::unlink((draft + "-wal").c_str());
  ::unlink((draft + "-shm").c_str());
  return result;
}

std::int16_t SqliteStore::Open(const std::string& path, std::unique_ptr<StoredFile>& file) {
  if (!FileExists(path)) return kFileNotFound;
  auto opened = std::make_unique<SqliteFile>();
  std::int16_t status = opened->OpenAt(path);
  if (status == kOk) file = std::move(opened);
  return status;
}

std::int16_t SqliteStore::Begin() {
  transaction_ = true;
  return kOk;
}

std::int16_t SqliteStore::Finish(bool commit) {
  transaction_ = false;
  std::int16_t result = kOk;
  const std::set<SqliteFile*> files = std::move(enlisted_);
  enlisted_.clear();
  for (SqliteFile* f : files)
    if (std::int16_t s = f->EndTransaction(commit); s != kOk) result = s;
  return result;
}

std::int16_t SqliteStore::Commit() { return Finish(true); }

void SqliteStore::Rest() {
  for (SqliteFile* f : open_) f->EndRead();
}
std::int16_t SqliteStore::Rollback() { return Finish(false); }

}  // namespace

Storage& SqliteStorage() { return Store(); }

}  // namespace recordmanager
