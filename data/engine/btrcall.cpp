// The record manager: every data file is one SQLite database. One row per
// record with its bytes, its position (never reused) and, per key, the key
// image that compares bytewise in key order plus an ordering number that
// keeps records with equal keys in insertion order.
#include "data/btrcall.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/engine/file_definition.h"
#include "data/engine/record_manager.h"

namespace recordmanager {
namespace {

constexpr char kBlockMagic[4] = {'K', 'R', 'M', '1'};
constexpr const char* kFormatTag = "kit-records-1";

struct Row {
  std::int64_t pos = 0;
  std::string data;
  std::string image;
  std::int64_t seq = 0;
};

struct Handle {
  sqlite3* db = nullptr;
  std::string path;
  FileDefinition def;
  int lockFd = -1;
  std::int64_t lockedPos = 0;
  // The cursor: where the last operation left along `key`.
  bool positioned = false;
  int key = 0;
  std::string image;
  std::int64_t seq = 0;
  std::int64_t pos = 0;  // 0 after a delete: no current record
  bool inTransaction = false;
  std::map<std::string, sqlite3_stmt*> statements;
  // Records read ahead along the cursor's key in the direction of `aheadOp`;
  // good while the cursor has not moved otherwise, this handle has written
  // nothing and no connection has committed since (`aheadHeader`, or
  // `aheadVersion` without the log header).
  // Rows aheadNext to aheadCount - 1 of `ahead` are still to come; the
  // vector keeps its rows (and their buffers) from one read-ahead to the next.
  std::vector<Row> ahead;
  std::size_t aheadNext = 0, aheadCount = 0;
  int aheadOp = 0;
  std::int64_t aheadVersion = -1;
  std::array<std::uint64_t, 6> aheadHeader{};
  // How many records the next read-ahead takes: doubles while a walk keeps
  // using up what was read ahead, back to the start after anything else.
  int aheadLimit = 0;
  bool aheadUsedUp = false;
  // The header of the log's shared index, mapped by SQLite, as of the last
  // read-ahead; null when there is none (then PRAGMA data_version tells
  // changes instead).
  const volatile unsigned char* walHeader = nullptr;
  // Per key: the read-ahead statements (same group / beyond, next / previous).
  std::vector<std::array<sqlite3_stmt*, 4>> aheadStatements;
};

std::map<std::int32_t, std::unique_ptr<Handle>>& Handles() {
  static std::map<std::int32_t, std::unique_ptr<Handle>> handles;
  return handles;
}
std::int32_t g_nextHandle = 1;
bool g_transaction = false;

std::int16_t LogError(const Handle* h, const std::string& path, sqlite3* db, int rc) {
  if (rc == SQLITE_FULL) return kDiskFull;
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return kFileLocked;
  std::fprintf(stderr, "record manager: %s: %s\n", h ? h->path.c_str() : path.c_str(),
               db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  return kIoError;
}

sqlite3_stmt* Prepare(Handle& h, const std::string& sql) {
  auto it = h.statements.find(sql);
  if (it != h.statements.end()) return it->second;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(h.db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return nullptr;
  h.statements[sql] = st;
  return st;
}

void BindBlob(sqlite3_stmt* st, int index, const std::string& bytes) {
  if (bytes.empty())
    sqlite3_bind_zeroblob(st, index, 0);
  else
    sqlite3_bind_blob(st, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::string ColumnBlob(sqlite3_stmt* st, int col) {
  const void* p = sqlite3_column_blob(st, col);
  int n = sqlite3_column_bytes(st, col);
  return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

void AssignBlob(sqlite3_stmt* st, int col, std::string& out) {
  const void* p = sqlite3_column_blob(st, col);
  const int n = sqlite3_column_bytes(st, col);
  if (p)
    out.assign(static_cast<const char*>(p), static_cast<std::size_t>(n));
  else
    out.clear();
}

std::string K(int key) { return "k" + std::to_string(key); }
std::string S(int key) { return "s" + std::to_string(key); }

// Runs a one-row query of (pos, data, image, seq) for `key`.
std::optional<Row> QueryRow(Handle& h, int key, const std::string& where, const std::string& order,
                            const std::vector<std::string>& blobs, const std::vector<std::int64_t>& ints,
                            int& rc) {
  std::string sql = "SELECT pos, data, " + K(key) + ", " + S(key) + " FROM records WHERE " + where +
                    (order.empty() ? "" : " ORDER BY " + order) + " LIMIT 1";
  sqlite3_stmt* st = Prepare(h, sql);
  if (!st) {
    rc = sqlite3_errcode(h.db);
    return std::nullopt;
  }
  int i = 1;
  for (const auto& b : blobs) BindBlob(st, i++, b);
  for (auto v : ints) sqlite3_bind_int64(st, i++, v);
  std::optional<Row> row;
  rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    row = Row{sqlite3_column_int64(st, 0), ColumnBlob(st, 1), ColumnBlob(st, 2), sqlite3_column_int64(st, 3)};
    rc = SQLITE_OK;
  } else if (rc == SQLITE_DONE) {
    rc = SQLITE_OK;
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return row;
}

int Exec(Handle& h, const char* sql) { return sqlite3_exec(h.db, sql, nullptr, nullptr, nullptr); }

Handle* FromBlock(void* block) {
  if (!block) return nullptr;
  auto* b = static_cast<unsigned char*>(block);
  if (std::memcmp(b, kBlockMagic, 4) != 0) return nullptr;
  std::int32_t id;
  std::memcpy(&id, b + 4, 4);
  auto it = Handles().find(id);
  return it == Handles().end() ? nullptr : it->second.get();
}

std::string KeyBufferPath(const void* keyBuffer, std::uint8_t keyLength) {
  const char* k = static_cast<const char*>(keyBuffer);
  std::string path(k, keyLength);
  auto zero = path.find('\0');
  if (zero != std::string::npos) path.resize(zero);
  while (!path.empty() && path.back() == ' ') path.pop_back();
  return path;
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
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

bool LockedByAnother(Handle& h, std::int64_t pos) {
  if (h.lockFd < 0) return false;
  struct flock fl{};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = pos;
  fl.l_len = 1;
  if (fcntl(h.lockFd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

void ReleaseLock(Handle& h) {
  if (h.lockedPos != 0 && h.lockFd >= 0) LockByte(h.lockFd, h.lockedPos, F_UNLCK);
  h.lockedPos = 0;
}

void CloseHandle(Handle& h) {
  ReleaseLock(h);
  if (h.inTransaction) Exec(h, "ROLLBACK");
  for (auto& [sql, st] : h.statements) sqlite3_finalize(st);
  h.statements.clear();
  if (h.db) sqlite3_close_v2(h.db);
  if (h.lockFd >= 0) ::close(h.lockFd);
  h.db = nullptr;
  h.lockFd = -1;
}

std::int16_t BeginWrite(Handle& h) {
  if (h.inTransaction) return kOk;
  int rc = Exec(h, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return LogError(&h, h.path, h.db, rc);
  if (g_transaction) h.inTransaction = true;
  return kOk;
}

std::int16_t EndWrite(Handle& h, std::int16_t status) {
  if (h.inTransaction) return status;
  int rc = Exec(h, status == kOk ? "COMMIT" : "ROLLBACK");
  if (status == kOk && rc != SQLITE_OK) {
    Exec(h, "ROLLBACK");
    return LogError(&h, h.path, h.db, rc);
  }
  return status;
}

std::int64_t NextSeq(Handle& h, int& rc) {
  sqlite3_stmt* st = Prepare(h, "UPDATE meta SET value = value + 1 WHERE name = 'seq' RETURNING value");
  if (!st) {
    rc = sqlite3_errcode(h.db);
    return 0;
  }
  std::int64_t v = 0;
  rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    v = sqlite3_column_int64(st, 0);
    rc = SQLITE_OK;
  }
  sqlite3_reset(st);
  return v;
}

void DropAhead(Handle& h) {
  h.aheadNext = h.aheadCount = 0;
  h.aheadUsedUp = false;
}

// The key as its bytes stand in the record, segments joined, written
// straight into the caller's key buffer (all of it, as always).
void CopyKey(const FileDefinition& def, int key, const std::string& record, void* keyBuffer) {
  auto* out = static_cast<char*>(keyBuffer);
  for (const Segment& seg : def.keys[static_cast<std::size_t>(key)].segments) {
    const auto at = static_cast<std::size_t>(seg.position - 1), length = static_cast<std::size_t>(seg.length);
    const std::size_t n = at < record.size() ? std::min(length, record.size() - at) : 0;
    if (n) std::memcpy(out, record.data() + at, n);
    if (n < length) std::memset(out + n, 0, length - n);
    out += length;
  }
}

void ReturnRecord(const Row& row, Handle& h, int key, void* data, std::uint32_t* length, void* keyBuffer,
                  std::uint8_t /*keyLength*/, std::int16_t& status) {
  std::uint32_t room = length ? *length : 0;
  std::size_t n = std::min<std::size_t>(room, row.data.size());
  if (data && n) std::memcpy(data, row.data.data(), n);
  if (length) *length = static_cast<std::uint32_t>(n);
  if (n < row.data.size()) status = kBufferTooShort;
  if (keyBuffer && key >= 0 && key < static_cast<int>(h.def.keys.size())) CopyKey(h.def, key, row.data, keyBuffer);
}

void SetCursor(Handle& h, int key, const Row& row) {
  DropAhead(h);
  h.positioned = true;
  h.key = key;
  h.image = row.image;
  h.seq = row.seq;
  h.pos = row.pos;
}

std::int16_t Create(const void* data, std::uint32_t length, const std::string& path) {
  if (path.empty()) return kInvalidFileName;
  FileDefinition def;
  std::int16_t status =
      ParseCreationRecord(std::string_view(static_cast<const char*>(data), length), def);
  if (status != kOk) return status;
  if (FileExists(path)) return kFileExists;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    if (db) sqlite3_close_v2(db);
    return rc == SQLITE_CANTOPEN ? static_cast<std::int16_t>(kFileNotFound) : LogError(nullptr, path, nullptr, rc);
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
    sql += "CREATE INDEX i" + std::to_string(k) + " ON records(" + K(ki) + ", " + S(ki) + ");";
    if (!def.keys[k].duplicates)
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
  std::int16_t result = rc == SQLITE_OK ? static_cast<std::int16_t>(kOk) : LogError(nullptr, path, db, rc);
  sqlite3_close_v2(db);
  if (result != kOk) ::unlink(path.c_str());
  return result;
}

std::int16_t Open(void* block, const std::string& path) {
  if (!block) return kInvalidOperation;
  if (path.empty()) return kInvalidFileName;
  if (!FileExists(path)) return kFileNotFound;
  auto h = std::make_unique<Handle>();
  h->path = path;
  // A handle is used by one thread at a time (the entry point is not
  // reentrant), so SQLite's own mutexes are not needed.
  int rc = sqlite3_open_v2(path.c_str(), &h->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::int16_t s = LogError(h.get(), path, h->db, rc);
    CloseHandle(*h);
    return s;
  }
  sqlite3_busy_timeout(h->db, 3000);
  // Reads of the database file through a mapping instead of a copy per page.
  Exec(*h, "PRAGMA synchronous=FULL; PRAGMA cache_size=-8192; PRAGMA mmap_size=268435456;");
  // A database that is not one of ours, or not a database at all.
  sqlite3_stmt* st = nullptr;
  std::string creation;
  bool ours = false;
  if (sqlite3_prepare_v2(h->db,
                         "SELECT (SELECT value FROM meta WHERE name='format'),"
                         " (SELECT value FROM meta WHERE name='creation')",
                         -1, &st, nullptr) == SQLITE_OK) {
    if (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* tag = sqlite3_column_text(st, 0);
      ours = tag && std::string(reinterpret_cast<const char*>(tag)) == kFormatTag;
      creation = ColumnBlob(st, 1);
    }
  } else {
    rc = sqlite3_errcode(h->db);
  }
  sqlite3_finalize(st);
  if (rc == SQLITE_BUSY) {
    CloseHandle(*h);
    return kFileLocked;
  }
  if (!ours || ParseCreationRecord(creation, h->def) != kOk) {
    std::fprintf(stderr, "record manager: %s: not a data file of ours\n", path.c_str());
    CloseHandle(*h);
    return kNotOurFile;
  }
  h->lockFd = ::open((path + ".rlk").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (h->lockFd < 0) h->lockFd = ::open((path + ".rlk").c_str(), O_RDONLY | O_CLOEXEC);
  std::int32_t id = g_nextHandle++;
  auto* b = static_cast<unsigned char*>(block);
  std::memcpy(b, kBlockMagic, 4);
  std::memcpy(b + 4, &id, 4);
  Handles()[id] = std::move(h);
  return kOk;
}

std::int16_t Stat(Handle& h, void* data, std::uint32_t* length) {
  std::string out = h.def.creation;
  int rc = 0;
  std::int64_t count = 0;
  if (sqlite3_stmt* st = Prepare(h, "SELECT count(*) FROM records")) {
    if (sqlite3_step(st) == SQLITE_ROW) count = sqlite3_column_int64(st, 0);
    rc = sqlite3_errcode(h.db);
    sqlite3_reset(st);
  }
  (void)rc;
  auto n32 = static_cast<std::uint32_t>(count);
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(6 + i)] = static_cast<char>((n32 >> (8 * i)) & 0xFF);
  std::uint32_t room = length ? *length : 0;
  std::size_t n = std::min<std::size_t>(room, out.size());
  if (data) std::memcpy(data, out.data(), n);
  if (length) *length = static_cast<std::uint32_t>(n);
  return n < out.size() ? kBufferTooShort : kOk;
}

std::int64_t DataVersion(Handle& h) {
  sqlite3_stmt* st = Prepare(h, "PRAGMA data_version");
  if (!st) return -2;
  std::int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -2;
  sqlite3_reset(st);
  return v;
}

// Every commit, by this program or another, rewrites the header at the
// start of the log's shared index (its change counter goes up). Reading it
// costs no system call, where PRAGMA data_version opens and closes a read
// transaction with its file locks on every call of a walk.
// Asked again at every read-ahead, so that the mapping in use is always the
// one SQLite has now.
const volatile unsigned char* WalIndexHeader(Handle& h) {
  h.walHeader = nullptr;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(h.db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
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
  h.walHeader = header;
  return header;
}

// The first copy of the header, 48 bytes, as six words (the region is page
// aligned).
std::array<std::uint64_t, 6> HeaderImage(const volatile unsigned char* header) {
  std::array<std::uint64_t, 6> image;
  std::atomic_thread_fence(std::memory_order_acquire);
  const auto* words = reinterpret_cast<const volatile std::uint64_t*>(header);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = words[i];
  return image;
}

// Notes the file's state, so that StillUnchanged can tell a commit since.
void NoteState(Handle& h) {
  if (const volatile unsigned char* header = WalIndexHeader(h)) {
    h.aheadHeader = HeaderImage(header);
    h.aheadVersion = -1;
  } else {
    h.aheadVersion = DataVersion(h);
  }
}

bool StillUnchanged(Handle& h) {
  if (h.aheadVersion == -1 && h.walHeader) return HeaderImage(h.walHeader) == h.aheadHeader;
  return h.aheadVersion >= 0 && DataVersion(h) == h.aheadVersion;
}

constexpr int kReadAhead = 32;
constexpr int kMostReadAhead = 1024;
constexpr int kMostReadAheadBytes = 256 * 1024;  // per handle, for long records

// Reads ahead the records that follow `from` along `key`: kReadAhead of
// them, twice as many as last time when a walk used those up.
void FillAhead(Handle& h, int op, int key, const Row& from) {
  const bool forward = op == kGetNext;
  const int most = std::max(kReadAhead, std::min(kMostReadAhead, kMostReadAheadBytes / std::max(1, h.def.recordLength)));
  h.aheadLimit = h.aheadUsedUp && h.aheadOp == op ? std::min(2 * h.aheadLimit, most) : kReadAhead;
  h.aheadUsedUp = false;
  if (h.aheadStatements.size() != h.def.keys.size()) h.aheadStatements.assign(h.def.keys.size(), {});
  auto& cached = h.aheadStatements[static_cast<std::size_t>(key)];
  sqlite3_stmt*& same = cached[forward ? 0 : 1];
  sqlite3_stmt*& beyond = cached[forward ? 2 : 3];
  const std::string k = K(key), s = S(key);
  const std::string columns = "SELECT pos, data, " + k + ", " + s + " FROM records WHERE " + k;
  if (!same)
    same = Prepare(h, columns + " = ?1 AND " + s + (forward ? " > ?2 ORDER BY " + s : " < ?2 ORDER BY " + s + " DESC") +
                          " LIMIT ?3");
  if (!beyond)
    beyond = Prepare(h, columns + (forward ? " > ?1 ORDER BY " + k + ", " + s : " < ?1 ORDER BY " + k + " DESC, " + s + " DESC") +
                            " LIMIT ?3");
  DropAhead(h);
  NoteState(h);
  // Without duplicates no other record shares the image.
  const bool duplicates = h.def.keys[static_cast<std::size_t>(key)].duplicates;
  std::array<sqlite3_stmt*, 2> queries{same, beyond};
  for (std::size_t q = duplicates ? 0 : 1; q < queries.size(); ++q) {
    sqlite3_stmt* st = queries[q];
    if (!st) {
      DropAhead(h);
      return;
    }
    BindBlob(st, 1, from.image);
    if (st == same) sqlite3_bind_int64(st, 2, from.seq);
    sqlite3_bind_int(st, 3, h.aheadLimit - static_cast<int>(h.aheadCount));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      if (h.ahead.size() <= h.aheadCount) h.ahead.resize(h.aheadCount + 1);
      Row& row = h.ahead[h.aheadCount++];
      row.pos = sqlite3_column_int64(st, 0);
      AssignBlob(st, 1, row.data);
      AssignBlob(st, 2, row.image);
      row.seq = sqlite3_column_int64(st, 3);
    }
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    if (rc != SQLITE_DONE) {
      DropAhead(h);
      return;
    }
    if (static_cast<int>(h.aheadCount) >= h.aheadLimit) break;
  }
  h.aheadOp = op;
}

// The next record from the read-ahead, when it is still good; it stays
// valid until the next read-ahead.
const Row* TakeAhead(Handle& h, int op, int key) {
  if (h.aheadNext >= h.aheadCount || h.aheadOp != op || h.key != key || !h.positioned) return nullptr;
  if (!StillUnchanged(h)) {
    DropAhead(h);
    return nullptr;
  }
  return &h.ahead[h.aheadNext++];
}

// Finds the record a get operation asks for.
std::optional<Row> Find(Handle& h, int op, int key, const std::string& image, int& rc, std::int16_t& status) {
  const std::string k = K(key), s = S(key);
  const std::string up = k + ", " + s, down = k + " DESC, " + s + " DESC";
  rc = SQLITE_OK;
  switch (op) {
    case kGetEqual: return QueryRow(h, key, k + " = ?1", s, {image}, {}, rc);
    case kGetGreater: return QueryRow(h, key, k + " > ?1", up, {image}, {}, rc);
    case kGetGreaterOrEqual: return QueryRow(h, key, k + " >= ?1", up, {image}, {}, rc);
    case kGetLess: return QueryRow(h, key, k + " < ?1", down, {image}, {}, rc);
    case kGetLessOrEqual: return QueryRow(h, key, k + " <= ?1", down, {image}, {}, rc);
    case kGetFirst: return QueryRow(h, key, "1", up, {}, {}, rc);
    case kGetLast: return QueryRow(h, key, "1", down, {}, {}, rc);
    case kGetNext:
    case kGetPrevious: {
      if (!h.positioned) {
        status = kNoCurrentRecord;
        return std::nullopt;
      }
      if (h.key != key) {
        // Another key: find the current record's place along it.
        auto cur = QueryRow(h, key, "pos = ?1", "", {}, {h.pos}, rc);
        if (!cur) {
          status = kNoCurrentRecord;
          return std::nullopt;
        }
        h.key = key;
        h.image = cur->image;
        h.seq = cur->seq;
      }
      // Two seeks so that both use the (image, seq) index.
      if (op == kGetNext) {
        auto r = QueryRow(h, key, k + " = ?1 AND " + s + " > ?2", s, {h.image}, {h.seq}, rc);
        if (r || rc != SQLITE_OK) return r;
        return QueryRow(h, key, k + " > ?1", up, {h.image}, {}, rc);
      }
      auto r = QueryRow(h, key, k + " = ?1 AND " + s + " < ?2", s + " DESC", {h.image}, {h.seq}, rc);
      if (r || rc != SQLITE_OK) return r;
      return QueryRow(h, key, k + " < ?1", down, {h.image}, {}, rc);
    }
    default: status = kInvalidOperation; return std::nullopt;
  }
}

std::int16_t Get(Handle& h, int op, bool lock, void* data, std::uint32_t* length, void* keyBuffer,
                 std::uint8_t keyLength, int key) {
  if (op == kGetDirect) {
    if (!data || !length || *length < 4) return kBufferTooShort;
    std::uint32_t pos;
    std::memcpy(&pos, data, 4);
    if (key < 0 || key >= static_cast<int>(h.def.keys.size())) key = 0;
    int rc;
    auto row = QueryRow(h, key, "pos = ?1", "", {}, {static_cast<std::int64_t>(pos)}, rc);
    if (rc != SQLITE_OK) return LogError(&h, h.path, h.db, rc);
    if (!row) return kInvalidPosition;
    if (lock) {
      if (h.lockedPos != row->pos) {
        if (!LockByte(h.lockFd, row->pos, F_WRLCK)) return kRecordLocked;
        ReleaseLock(h);
        h.lockedPos = row->pos;
      }
    }
    std::int16_t status = kOk;
    SetCursor(h, key, *row);
    ReturnRecord(*row, h, key, data, length, keyBuffer, keyLength, status);
    return status;
  }
  if (key < 0 || key >= static_cast<int>(h.def.keys.size())) return kInvalidKeyNumber;
  std::string image;
  if (op == kGetEqual || (op >= kGetGreater && op <= kGetLessOrEqual))
    image = ImageFromKeyValue(h.def, key,
                              std::string_view(static_cast<const char*>(keyBuffer), keyBuffer ? keyLength : 0));
  int rc = SQLITE_OK;
  std::int16_t status = kOk;
  const bool walking = !lock && (op == kGetNext || op == kGetPrevious);
  if (const Row* next = walking ? TakeAhead(h, op, key) : nullptr) {
    const std::size_t nextAhead = h.aheadNext, count = h.aheadCount;
    SetCursor(h, key, *next);
    h.aheadNext = nextAhead;
    h.aheadCount = count;
    h.aheadUsedUp = nextAhead >= count;
    ReturnRecord(*next, h, key, data, length, keyBuffer, keyLength, status);
    return status;
  }
  std::optional<Row> row;
  const bool usedUp = h.aheadUsedUp && h.aheadOp == op && h.key == key;
  row = Find(h, op, key, image, rc, status);
  if (status != kOk) return status;
  if (rc != SQLITE_OK) return LogError(&h, h.path, h.db, rc);
  if (!row) return op == kGetEqual ? kKeyNotFound : kEndOfFile;
  if (lock && h.lockedPos != row->pos) {
    if (!LockByte(h.lockFd, row->pos, F_WRLCK)) return kRecordLocked;
    ReleaseLock(h);
    h.lockedPos = row->pos;
    // It may have changed between the read and the lock.
    auto again = QueryRow(h, key, "pos = ?1", "", {}, {row->pos}, rc);
    if (!again) {
      ReleaseLock(h);
      return op == kGetEqual ? kKeyNotFound : kEndOfFile;
    }
    row = again;
  }
  SetCursor(h, key, *row);
  if (walking) {
    h.aheadUsedUp = usedUp;
    FillAhead(h, op, key, *row);
  }
  ReturnRecord(*row, h, key, data, length, keyBuffer, keyLength, status);
  return status;
}

std::int16_t Insert(Handle& h, const void* data, std::uint32_t* length, void* keyBuffer, std::uint8_t keyLength,
                    int key) {
  if (!data || !length || *length < static_cast<std::uint32_t>(h.def.recordLength)) return kBufferTooShort;
  std::string record(static_cast<const char*>(data), static_cast<std::size_t>(h.def.recordLength));
  std::int16_t status = BeginWrite(h);
  if (status != kOk) return status;
  int rc = SQLITE_OK;
  std::vector<std::string> images;
  for (std::size_t k = 0; k < h.def.keys.size(); ++k) {
    images.push_back(ImageFromRecord(h.def, static_cast<int>(k), record));
    if (!h.def.keys[k].duplicates) {
      auto dup = QueryRow(h, static_cast<int>(k), K(static_cast<int>(k)) + " = ?1", "", {images.back()}, {}, rc);
      if (rc != SQLITE_OK) return EndWrite(h, LogError(&h, h.path, h.db, rc));
      if (dup) return EndWrite(h, kDuplicateKey);
    }
  }
  std::int64_t seq = NextSeq(h, rc);
  if (rc != SQLITE_OK) return EndWrite(h, LogError(&h, h.path, h.db, rc));
  std::string sql = "INSERT INTO records(data";
  std::string values = "?1";
  for (std::size_t k = 0; k < h.def.keys.size(); ++k) {
    sql += ", " + K(static_cast<int>(k)) + ", " + S(static_cast<int>(k));
    values += ", ?" + std::to_string(2 + 2 * k) + ", ?" + std::to_string(3 + 2 * k);
  }
  sql += ") VALUES(" + values + ")";
  sqlite3_stmt* st = Prepare(h, sql);
  if (!st) return EndWrite(h, LogError(&h, h.path, h.db, sqlite3_errcode(h.db)));
  BindBlob(st, 1, record);
  for (std::size_t k = 0; k < images.size(); ++k) {
    BindBlob(st, static_cast<int>(2 + 2 * k), images[k]);
    sqlite3_bind_int64(st, static_cast<int>(3 + 2 * k), seq);
  }
  rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) {
    std::int16_t s = rc == SQLITE_CONSTRAINT ? static_cast<std::int16_t>(kDuplicateKey) : LogError(&h, h.path, h.db, rc);
    return EndWrite(h, s);
  }
  std::int64_t pos = sqlite3_last_insert_rowid(h.db);
  status = EndWrite(h, kOk);
  if (status != kOk) return status;
  if (key >= 0 && key < static_cast<int>(h.def.keys.size())) {
    SetCursor(h, key, Row{pos, record, images[static_cast<std::size_t>(key)], seq});
    if (keyBuffer) {
      std::string kb = KeyBytes(h.def, key, record);
      std::memcpy(keyBuffer, kb.data(), std::min<std::size_t>(kb.size(), std::max<std::size_t>(keyLength, kb.size())));
    }
  }
  return kOk;
}

std::int16_t Update(Handle& h, const void* data, std::uint32_t* length, void* keyBuffer, std::uint8_t keyLength,
                    int key) {
  if (!h.positioned || h.pos == 0) return kNoCurrentRecord;
  if (!data || !length || *length < static_cast<std::uint32_t>(h.def.recordLength)) return kBufferTooShort;
  if (h.lockedPos != h.pos && LockedByAnother(h, h.pos)) return kRecordLocked;
  std::string record(static_cast<const char*>(data), static_cast<std::size_t>(h.def.recordLength));
  std::int16_t status = BeginWrite(h);
  if (status != kOk) return status;
  int rc = SQLITE_OK;
  const std::int64_t pos = h.pos;
  std::string select = "SELECT ";
  for (std::size_t k = 0; k < h.def.keys.size(); ++k)
    select += (k ? ", " : "") + K(static_cast<int>(k)) + ", " + S(static_cast<int>(k));
  select += " FROM records WHERE pos = ?1";
  sqlite3_stmt* st = Prepare(h, select);
  if (!st) return EndWrite(h, LogError(&h, h.path, h.db, sqlite3_errcode(h.db)));
  sqlite3_bind_int64(st, 1, pos);
  std::vector<std::string> oldImages;
  std::vector<std::int64_t> seqs;
  rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    for (std::size_t k = 0; k < h.def.keys.size(); ++k) {
      oldImages.push_back(ColumnBlob(st, static_cast<int>(2 * k)));
      seqs.push_back(sqlite3_column_int64(st, static_cast<int>(2 * k + 1)));
    }
  }
  sqlite3_reset(st);
  if (oldImages.empty()) return EndWrite(h, rc == SQLITE_DONE ? static_cast<std::int16_t>(kNoCurrentRecord) : LogError(&h, h.path, h.db, rc));
  std::vector<std::string> images;
  std::int64_t seq = 0;
  for (std::size_t k = 0; k < h.def.keys.size(); ++k) {
    images.push_back(ImageFromRecord(h.def, static_cast<int>(k), record));
    if (images[k] == oldImages[k]) continue;
    if (!h.def.keys[k].modifiable) return EndWrite(h, kKeyNotModifiable);
    if (!h.def.keys[k].duplicates) {
      auto dup = QueryRow(h, static_cast<int>(k), K(static_cast<int>(k)) + " = ?1", "", {images[k]}, {}, rc);
      if (rc != SQLITE_OK) return EndWrite(h, LogError(&h, h.path, h.db, rc));
      if (dup) return EndWrite(h, kDuplicateKey);
    }
    // A changed key goes to the end of its new group of equal keys.
    if (seq == 0) seq = NextSeq(h, rc);
    if (rc != SQLITE_OK) return EndWrite(h, LogError(&h, h.path, h.db, rc));
    seqs[k] = seq;
  }
  std::string sql = "UPDATE records SET data = ?1";
  for (std::size_t k = 0; k < h.def.keys.size(); ++k)
    sql += ", " + K(static_cast<int>(k)) + " = ?" + std::to_string(2 + 2 * k) + ", " + S(static_cast<int>(k)) +
           " = ?" + std::to_string(3 + 2 * k);
  sql += " WHERE pos = ?" + std::to_string(2 + 2 * h.def.keys.size());
  st = Prepare(h, sql);
  if (!st) return EndWrite(h, LogError(&h, h.path, h.db, sqlite3_errcode(h.db)));
  BindBlob(st, 1, record);
  for (std::size_t k = 0; k < images.size(); ++k) {
    BindBlob(st, static_cast<int>(2 + 2 * k), images[k]);
    sqlite3_bind_int64(st, static_cast<int>(3 + 2 * k), seqs[k]);
  }
  sqlite3_bind_int64(st, static_cast<int>(2 + 2 * h.def.keys.size()), pos);
  rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return EndWrite(h, LogError(&h, h.path, h.db, rc));
  status = EndWrite(h, kOk);
  if (status != kOk) return status;
  ReleaseLock(h);
  int ck = (key >= 0 && key < static_cast<int>(h.def.keys.size())) ? key : h.key;
  SetCursor(h, ck, Row{pos, record, images[static_cast<std::size_t>(ck)], seqs[static_cast<std::size_t>(ck)]});
  if (keyBuffer) {
    std::string kb = KeyBytes(h.def, ck, record);
    std::memcpy(keyBuffer, kb.data(), std::min<std::size_t>(kb.size(), std::max<std::size_t>(keyLength, kb.size())));
  }
  return kOk;
}

std::int16_t Delete(Handle& h) {
  if (!h.positioned || h.pos == 0) return kNoCurrentRecord;
  if (h.lockedPos != h.pos && LockedByAnother(h, h.pos)) return kRecordLocked;
  std::int16_t status = BeginWrite(h);
  if (status != kOk) return status;
  sqlite3_stmt* st = Prepare(h, "DELETE FROM records WHERE pos = ?1");
  if (!st) return EndWrite(h, LogError(&h, h.path, h.db, sqlite3_errcode(h.db)));
  sqlite3_bind_int64(st, 1, h.pos);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return EndWrite(h, LogError(&h, h.path, h.db, rc));
  if (sqlite3_changes(h.db) == 0) return EndWrite(h, kNoCurrentRecord);
  status = EndWrite(h, kOk);
  if (status != kOk) return status;
  ReleaseLock(h);
  // The cursor keeps the deleted record's place: next and previous go on from there.
  h.pos = 0;
  DropAhead(h);
  return kOk;
}

std::int16_t Transaction(int op) {
  if (op == kBeginTransaction) {
    if (g_transaction) return kInvalidOperation;
    g_transaction = true;
    return kOk;
  }
  if (!g_transaction) return kInvalidOperation;
  g_transaction = false;
  std::int16_t result = kOk;
  for (auto& [id, h] : Handles()) {
    if (!h->inTransaction) continue;
    h->inTransaction = false;
    int rc = Exec(*h, op == kEndTransaction ? "COMMIT" : "ROLLBACK");
    if (rc != SQLITE_OK) {
      Exec(*h, "ROLLBACK");
      result = LogError(h.get(), h->path, h->db, rc);
    }
  }
  return result;
}

}  // namespace
}  // namespace recordmanager

extern "C" std::int16_t BTRCALL(std::uint16_t operation, void* positionBlock, void* dataBuffer,
                                std::uint32_t* dataLength, void* keyBuffer, std::uint8_t keyLength,
                                std::int8_t keyNumber) {
  using namespace recordmanager;
  bool lock = false;
  int op = operation;
  if (op >= 100 && op < 500) {
    lock = true;  // single or multiple lock, wait or no wait: a no-wait single lock here
    op %= 100;
  }
  switch (op) {
    case kCreate:
      return Create(dataBuffer, dataLength ? *dataLength : 0, KeyBufferPath(keyBuffer, keyLength));
    case kOpen: return Open(positionBlock, KeyBufferPath(keyBuffer, keyLength));
    case kReset:
      for (auto& [id, h] : Handles()) CloseHandle(*h);
      Handles().clear();
      g_transaction = false;
      return kOk;
    case kBeginTransaction:
    case kEndTransaction:
    case kAbortTransaction: return Transaction(op);
    default: break;
  }
  Handle* h = FromBlock(positionBlock);
  if (!h) return kFileNotOpen;
  switch (op) {
    case kClose: {
      std::int32_t id;
      std::memcpy(&id, static_cast<unsigned char*>(positionBlock) + 4, 4);
      CloseHandle(*h);
      Handles().erase(id);
      std::memset(positionBlock, 0, 8);
      return kOk;
    }
    case kInsert: return Insert(*h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    case kUpdate: return Update(*h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    case kDelete: return Delete(*h);
    case kStat: return Stat(*h, dataBuffer, dataLength);
    case kUnlock: ReleaseLock(*h); return kOk;
    case kGetPosition: {
      if (!h->positioned || h->pos == 0) return kNoCurrentRecord;
      if (!dataBuffer || !dataLength || *dataLength < 4) return kBufferTooShort;
      auto pos = static_cast<std::uint32_t>(h->pos);
      std::memcpy(dataBuffer, &pos, 4);
      *dataLength = 4;
      return kOk;
    }
    case kGetEqual: case kGetNext: case kGetPrevious: case kGetGreater: case kGetGreaterOrEqual:
    case kGetLess: case kGetLessOrEqual: case kGetFirst: case kGetLast: case kGetDirect:
      return Get(*h, op, lock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    default: return kInvalidOperation;
  }
}
