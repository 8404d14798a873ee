// Data files on a PostgreSQL server. A suite root's files live in one schema
// (KITDB_SCHEMA, "kit" when unset): one table per data file, named from the
// file's name without its directory (workstations mount the root at
// different paths), lower-cased; a catalogue table "kit_files" with each
// file's creation record. A table has the record's bytes, its position (an
// identity column, never reused) and per key the key image (bytea, which
// compares bytewise) and the ordering number: for a key with duplicates the
// record's insertion number, re-drawn when its image changes; 1 for a
// unique key, so that one unique index on (image, seq) serves both order
// and uniqueness.
//
// A program that holds a file for its writes (HoldForWriting) takes a
// transaction-level advisory lock on the table (pg::WriteHoldKey): another
// program that asks the same waits for its transaction to end.
//
// Record locks are session-level advisory locks on (table oid, position):
// they end with the connection, so a workstation that dies frees them.
// Updates and deletes take the record's lock in their statement, and so
// refuse a record another session holds without waiting; they give it back
// once the write is committed.
// A write waiting for another transaction's row gives up after lock_timeout
// (85); inside the program's transaction every write runs under a
// savepoint, so that such a refusal leaves the transaction usable for the
// retry. A statement trigger notifies kChangeChannel with the table's oid
// on every change; the read-ahead windows check for those notices without
// a round trip.
#include <endian.h>

#include <algorithm>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "data/engine/postgres_session.h"
#include "data/engine/record_manager.h"
#include "data/engine/storage.h"

namespace recordmanager {
namespace {

using pg::Command;
using pg::Params;
using pg::Result;
using pg::Session;
using pg::Statement;

constexpr const char* kCatalogue = pg::kCatalogueTable;
using pg::kCreateLockKey;
using pg::Quote;
using pg::SchemaName;

// The table of a data file: its name without the directory, lower-cased,
// bytes other than printable ASCII written %XX. Empty when that is too long
// for a table name.
std::string TableName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\:");
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string name;
  for (char ch : base) {
    const auto c = static_cast<unsigned char>(ch);
    if (c > 32 && c < 127 && c != '%') {
      name += static_cast<char>(std::tolower(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      name += hex;
    }
  }
  if (name.empty() || name.size() > 63 || name == kCatalogue || name == pg::kLockTable) return {};
  return name;
}

std::int16_t StatusOf(const PGresult* r) {
  const std::string state = pg::SqlState(r);
  if (state == "23505") return kDuplicateKey;
  // A lock not had within lock_timeout, a deadlock, a cancelled wait.
  if (state == "55P03" || state == "40P01" || state == "40001" || state == "57014") return kFileLocked;
  if (state == "53100") return kDiskFull;
  return kIoError;
}

std::int16_t Report(const std::string& file, const std::string& what) {
  std::fprintf(stderr, "record manager: %s: %s\n", file.c_str(), what.c_str());
  return kIoError;
}

std::int16_t ReportResult(const std::string& file, const PGresult* r) {
  const std::int16_t status = StatusOf(r);
  if (status == kIoError) Report(file, pg::ErrorText(r));
  return status;
}

class PgFile;

// The files this process has open on the server: a transaction's end
// settles the record counts they keep.
std::set<PgFile*>& OpenFiles() {
  static std::set<PgFile*> files;
  return files;
}

// Record locks (file key, record key) that writes inside the transaction
// let go: given back when it ends.
std::vector<std::pair<std::int32_t, std::int32_t>>& LocksToReleaseAtEnd() {
  static std::vector<std::pair<std::int32_t, std::int32_t>> locks;
  return locks;
}

// After the transaction's end; a session that was lost took its locks with
// it.
void ReleaseLocksHeldForTheTransaction(bool sessionKept) {
  auto& locks = LocksToReleaseAtEnd();
  if (locks.empty()) return;
  static const Statement kUnlock{"", "SELECT pg_advisory_unlock($1::int4, $2::int4)"};
  std::vector<Params> params(locks.size());
  std::vector<Command> commands;
  for (std::size_t i = 0; i < locks.size(); ++i) {
    params[i].Int4(locks[i].first).Int4(locks[i].second);
    commands.push_back({&kUnlock, &params[i]});
  }
  locks.clear();
  std::vector<Result> results;
  std::string error;
  if (sessionKept && !Session::Get().Exchange(commands, results, error)) Report("record locks", error);
}

class PgFile final : public StoredFile {
 public:
  ~PgFile() override { OpenFiles().erase(this); }
  PgFile(std::string name, std::string table, std::uint32_t relid, std::int64_t sequence, FileDefinition def);

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
  std::int16_t HoldForWriting() override;
  std::int64_t RecordCount() override;
  // The transaction ended: its inserts and deletes count, or not.
  void Settle(bool committed) {
    if (committed && count_) *count_ += pending_;
    pending_ = 0;
  }
  ChangeMark Mark() override;
  bool ChangedSince(const ChangeMark& mark) override;

 private:
  enum Query {
    kUpAll, kUpFrom, kUpAbove, kUpAfter,
    kDownAll, kDownBelow, kDownUpTo, kDownAtOrBefore,
    kAtPosition, kQueries
  };
  const Statement& KeyStatement(int key, Query which) const { return keyStatements_[key * kQueries + which]; }
  // Runs `st` alone; a write inside the transaction runs under a savepoint,
  // so that its failure leaves the rest of the transaction standing.
  // A failed update or delete gives back the lock it took to check the
  // record (`checked`, 0: none).
  std::int16_t Run(const Statement& st, const Params& params, Result& result, bool write, std::int64_t checked = 0);
  void ReadRows(const PGresult* r, RowBuffer& rows) const;
  // Before and after a write that wants to keep a window's mark.
  void CheckKeep(ChangeMark* keep);
  void Written(ChangeMark* keep);
  void ReleaseOnceCommitted(std::int64_t written, std::int64_t release);
  // Gives back the locks on `pos` and `other` (0: none) in one exchange.
  void Unlock(std::int64_t pos, std::int64_t other);
  std::int32_t LockKey(std::int64_t pos) const { return static_cast<std::int32_t>(pos); }

  std::string name_, table_, identity_;
  std::uint32_t relid_;
  std::int32_t fileKey_;
  FileDefinition def_;
  // The number of records for stat: counted when first asked for, then
  // kept and moved by this open's own writes.
  std::optional<std::int64_t> count_;
  std::int64_t pending_ = 0;  // inserts less deletes inside the transaction
  std::vector<Statement> keyStatements_;
  void Counted(int change) {
    if (!count_) return;
    if (Session::Get().TransactionWanted())
      pending_ += change;
    else
      *count_ += change;
  }
  Statement insert_, update_, delete_, lock_, unlock_, hold_;
};

PgFile::PgFile(std::string name, std::string table, std::uint32_t relid, std::int64_t sequence, FileDefinition def)
    : name_(std::move(name)),
      table_(std::move(table)),
      identity_("postgres:" + std::to_string(relid)),
      relid_(relid),
      fileKey_(static_cast<std::int32_t>(relid)),
      def_(std::move(def)) {
  OpenFiles().insert(this);
  const std::string prefix = "kit" + std::to_string(relid) + "_";
  const std::string nextSeq = "nextval(" + std::to_string(sequence) + "::oid::regclass)";
  const std::size_t keys = def_.keys.size();
  for (std::size_t k = 0; k < keys; ++k) {
    const std::string ki = std::to_string(k), kc = "k" + ki, sc = "s" + ki;
    const std::string select = "SELECT pos, data, " + kc + ", " + sc + " FROM " + table_;
    const std::string up = " ORDER BY " + kc + ", " + sc, down = " ORDER BY " + kc + " DESC, " + sc + " DESC";
    // Searches from a key value compare the image alone; searches from a
    // record compare (image, seq) as a row, which the index also serves.
    const std::string image = " WHERE " + kc + " ";
    const std::string row = " WHERE (" + kc + ", " + sc + ") ";
    // Every search takes the same parameters (image, seq, limit), used or not.
    const std::vector<Oid> search{pg::kByteaType, pg::kInt8Type, pg::kInt8Type};
    const std::string limit = " LIMIT $3";
    keyStatements_.push_back({prefix + "up" + ki, select + up + limit, search});
    keyStatements_.push_back({prefix + "from" + ki, select + image + ">= $1" + up + limit, search});
    keyStatements_.push_back({prefix + "above" + ki, select + image + "> $1" + up + limit, search});
    keyStatements_.push_back({prefix + "after" + ki, select + row + "> ($1, $2)" + up + limit, search});
    keyStatements_.push_back({prefix + "down" + ki, select + down + limit, search});
    keyStatements_.push_back({prefix + "below" + ki, select + image + "< $1" + down + limit, search});
    keyStatements_.push_back({prefix + "upto" + ki, select + image + "<= $1" + down + limit, search});
    keyStatements_.push_back({prefix + "before" + ki, select + row + "<= ($1, $2)" + down + limit, search});
    keyStatements_.push_back({prefix + "at" + ki, select + " WHERE pos = $1::int8"});
  }
  // $1 data, then one image per key.
  std::string columns = "pos, data", values = "n.v, $1::bytea", returning;
  for (std::size_t k = 0; k < keys; ++k) {
    const std::string ki = std::to_string(k);
    columns += ", k" + ki + ", s" + ki;
    values += ", $" + std::to_string(k + 2) + "::bytea, " + (def_.keys[k].duplicates ? "n.v" : "1");
  }
  insert_ = {prefix + "insert", "INSERT INTO " + table_ + " (" + columns + ") SELECT " + values + " FROM (SELECT " +
                                    nextSeq + " AS v) n ON CONFLICT DO NOTHING RETURNING pos"};
  // $1 file key, $2 the record's lock key, $3 position, $4 data, then one
  // image per key.
  std::string set = "data = $4::bytea", guard, seqs;
  for (std::size_t k = 0; k < keys; ++k) {
    const std::string ki = std::to_string(k), image = "$" + std::to_string(k + 5) + "::bytea";
    set += ", k" + ki + " = " + image;
    // A changed key goes to the end of its new group of equal keys.
    if (def_.keys[k].duplicates) set += ", s" + ki + " = CASE WHEN k" + ki + " = " + image + " THEN s" + ki + " ELSE " + nextSeq + " END";
    if (!def_.keys[k].modifiable) guard += " AND k" + ki + " = " + image;
    seqs += ", changed.s" + ki;
  }
  std::string returned;
  for (std::size_t k = 0; k < keys; ++k) returned += std::string(k ? ", " : "") + "s" + std::to_string(k);
  // The record's lock, taken by the write itself: refused when another
  // session holds it, given back once the write is committed (see
  // ReleaseOnceCommitted), or after a failure (see Run).
  const std::string check = "WITH held AS (SELECT pg_try_advisory_lock($1::int4, $2::int4) AS ok), ";
  update_ = {prefix + "update",
             check + "changed AS (UPDATE " + table_ + " SET " + set + " WHERE pos = $3::int8 AND (SELECT ok FROM held)" +
                 guard + " RETURNING " + returned + ") "
             "SELECT (SELECT ok FROM held), EXISTS (SELECT 1 FROM " + table_ + " WHERE pos = $3::int8)" + seqs +
                 " FROM (SELECT 1) one LEFT JOIN changed ON true"};
  // $1 file key, $2 the record's lock key, $3 position.
  delete_ = {prefix + "delete",
             check + "gone AS (DELETE FROM " + table_ + " WHERE pos = $3::int8 AND (SELECT ok FROM held) RETURNING pos) "
             "SELECT (SELECT ok FROM held), EXISTS (SELECT 1 FROM gone)"};
  // $1 file key, $2 the record's lock key, $3 lock to release once it is had.
  lock_ = {prefix + "lock",
           "SELECT l.ok, CASE WHEN l.ok AND $3::int4 <> 0 AND $3::int4 <> $2::int4 "
           "THEN pg_advisory_unlock($1::int4, $3::int4) END "
           "FROM (SELECT pg_try_advisory_lock($1::int4, $2::int4) AS ok OFFSET 0) l"};
  unlock_ = {prefix + "unlock", "SELECT pg_advisory_unlock($1::int4, $2::int4)"};
  // $1 the file's hold key; waits for another transaction's hold up to
  // lock_timeout.
  hold_ = {prefix + "hold", "SELECT pg_advisory_xact_lock($1::int8)"};
}

std::int16_t PgFile::Run(const Statement& st, const Params& params, Result& result, bool write,
                         std::int64_t checked) {
  Session& session = Session::Get();
  static const Statement kSave{"", "SAVEPOINT kit_write"}, kRelease{"", "RELEASE SAVEPOINT kit_write"},
      kUndo{"", "ROLLBACK TO SAVEPOINT kit_write"};
  const bool savepoint = write && session.TransactionWanted();
  std::vector<Command> commands;
  if (savepoint) commands.push_back({&kSave, nullptr});
  commands.push_back({&st, &params});
  if (savepoint) commands.push_back({&kRelease, nullptr});
  std::vector<Result> results;
  std::string error;
  if (!session.Exchange(commands, results, error)) return Report(name_, error);
  if (savepoint && pg::Failed(results[0].get())) return ReportResult(name_, results[0].get());
  result = std::move(results[savepoint ? 1 : 0]);
  if (!pg::Failed(result.get())) return kOk;
  // A session lock outlives the failed statement that took it.
  Params unlockParams;
  unlockParams.Int4(fileKey_).Int4(LockKey(checked));
  std::vector<Command> undo;
  if (savepoint) {
    undo.push_back({&kUndo, nullptr});
    undo.push_back({&kRelease, nullptr});
  }
  if (checked != 0) undo.push_back({&unlock_, &unlockParams});
  std::vector<Result> undone;
  if (!undo.empty() && !session.Exchange(undo, undone, error)) Report(name_, error);
  return ReportResult(name_, result.get());
}

void PgFile::ReadRows(const PGresult* r, RowBuffer& rows) const {
  for (int i = 0; i < PQntuples(r); ++i) {
    Row& row = rows.Add();
    row.pos = pg::Int8At(r, i, 0);
    row.data.assign(PQgetvalue(r, i, 1), static_cast<std::size_t>(PQgetlength(r, i, 1)));
    row.image.assign(PQgetvalue(r, i, 2), static_cast<std::size_t>(PQgetlength(r, i, 2)));
    row.seq = pg::Int8At(r, i, 3);
  }
}

std::int16_t PgFile::Find(int key, const Cut& from, bool forward, int limit, RowBuffer& rows) {
  if (from.kind == (forward ? Cut::kTop : Cut::kBottom)) return kOk;
  Query which;
  if (from.kind != Cut::kAfter)
    which = forward ? kUpAll : kDownAll;
  else if (from.seq == kSeqBelowAll)
    which = forward ? kUpFrom : kDownBelow;
  else if (from.seq == kSeqAboveAll)
    which = forward ? kUpAbove : kDownUpTo;
  else
    which = forward ? kUpAfter : kDownAtOrBefore;
  Params params;
  params.Bytes(from.image).Int8(from.seq).Int8(limit);
  const Statement* st = &KeyStatement(key, which);
  Result r;
  if (std::int16_t status = Run(*st, params, r, false); status != kOk) return status;
  ReadRows(r.get(), rows);
  return kOk;
}

std::int16_t PgFile::ReadAt(int key, std::int64_t pos, std::optional<Row>& row) {
  row.reset();
  Params params;
  params.Int8(pos);
  Result r;
  if (std::int16_t status = Run(KeyStatement(key, kAtPosition), params, r, false); status != kOk) return status;
  RowBuffer rows;
  ReadRows(r.get(), rows);
  if (rows.Size()) row = std::move(rows[0]);
  return kOk;
}

void PgFile::CheckKeep(ChangeMark* keep) {
  if (keep && keep->valid && ChangedSince(*keep)) keep->valid = false;
}

void PgFile::Written(ChangeMark* keep) {
  Session& session = Session::Get();
  session.NoteOwnWrite(relid_);
  if (keep && keep->valid) keep->words[0] = session.OwnWrites(relid_);
}

std::int16_t PgFile::Insert(const std::string& record, const std::vector<std::string>& images, std::int64_t& pos,
                            std::vector<std::int64_t>& seqs, ChangeMark* keep) {
  CheckKeep(keep);
  Params params;
  params.Bytes(record);
  for (const std::string& image : images) params.Bytes(image);
  Result r;
  if (std::int16_t status = Run(insert_, params, r, true); status != kOk) return status;
  if (PQntuples(r.get()) == 0) return kDuplicateKey;
  pos = pg::Int8At(r.get(), 0, 0);
  seqs.clear();
  for (const KeyDefinition& key : def_.keys) seqs.push_back(key.duplicates ? pos : 1);
  Counted(1);
  Written(keep);
  return kOk;
}

std::int16_t PgFile::Update(std::int64_t pos, const std::string& record, const std::vector<std::string>& images,
                            std::int64_t release, std::vector<std::int64_t>& seqs, ChangeMark* keep) {
  CheckKeep(keep);
  Params params;
  params.Int4(fileKey_).Int4(LockKey(pos)).Int8(pos).Bytes(record);
  for (const std::string& image : images) params.Bytes(image);
  Result r;
  if (std::int16_t status = Run(update_, params, r, true, pos); status != kOk) return status;
  if (PQntuples(r.get()) != 1) return Report(name_, "the update gave no answer");
  if (!pg::BoolAt(r.get(), 0, 0)) return kRecordLocked;
  if (PQgetisnull(r.get(), 0, 2)) {
    Unlock(pos);  // nothing written
    return pg::BoolAt(r.get(), 0, 1) ? kKeyNotModifiable : kNoCurrentRecord;
  }
  seqs.clear();
  for (std::size_t k = 0; k < def_.keys.size(); ++k) seqs.push_back(pg::Int8At(r.get(), 0, static_cast<int>(2 + k)));
  Written(keep);
  ReleaseOnceCommitted(pos, release);
  return kOk;
}

std::int16_t PgFile::Delete(std::int64_t pos, std::int64_t release, ChangeMark* keep) {
  CheckKeep(keep);
  Params params;
  params.Int4(fileKey_).Int4(LockKey(pos)).Int8(pos);
  Result r;
  if (std::int16_t status = Run(delete_, params, r, true, pos); status != kOk) return status;
  if (PQntuples(r.get()) != 1) return Report(name_, "the delete gave no answer");
  if (!pg::BoolAt(r.get(), 0, 0)) return kRecordLocked;
  if (!pg::BoolAt(r.get(), 0, 1)) {
    Unlock(pos);  // nothing deleted
    return kNoCurrentRecord;
  }
  Counted(-1);
  Written(keep);
  ReleaseOnceCommitted(pos, release);
  return kOk;
}

std::int16_t PgFile::LockAndRead(int key, std::int64_t pos, std::int64_t release, std::optional<Row>& row) {
  row.reset();
  Session& session = Session::Get();
  Params lockParams, readParams;
  lockParams.Int4(fileKey_).Int4(LockKey(pos)).Int4(LockKey(release));
  readParams.Int8(pos);
  std::vector<Result> results;
  std::string error;
  // The read runs after the lock is had: it sees the record as it is then.
  if (!session.Exchange({{&lock_, &lockParams}, {&KeyStatement(key, kAtPosition), &readParams}}, results, error))
    return Report(name_, error);
  if (pg::Failed(results[0].get())) return ReportResult(name_, results[0].get());
  if (PQntuples(results[0].get()) != 1 || !pg::BoolAt(results[0].get(), 0, 0)) return kRecordLocked;
  if (pg::Failed(results[1].get())) {
    Unlock(pos);
    return ReportResult(name_, results[1].get());
  }
  RowBuffer rows;
  ReadRows(results[1].get(), rows);
  if (rows.Size()) row = std::move(rows[0]);
  return kOk;
}

std::int64_t PgFile::RecordCount() {
  if (count_) return *count_ + pending_;
  const Statement count{"", "SELECT count(*) FROM " + table_};
  Result r;
  if (Run(count, Params{}, r, false) != kOk) return 0;
  const std::int64_t n = pg::Int8At(r.get(), 0, 0);
  // Inside the transaction the count takes in its writes, which may yet be
  // undone: not kept.
  if (!Session::Get().TransactionWanted()) count_ = n;
  return n;
}

void PgFile::Unlock(std::int64_t pos) { Unlock(pos, 0); }

void PgFile::Unlock(std::int64_t pos, std::int64_t other) {
  Params params[2];
  std::vector<Command> commands;
  for (std::int64_t p : {pos, other}) {
    if (p == 0) continue;
    params[commands.size()].Int4(fileKey_).Int4(LockKey(p));
    commands.push_back({&unlock_, &params[commands.size()]});
  }
  std::vector<Result> results;
  std::string error;
  if (!Session::Get().Exchange(commands, results, error)) Report(name_, error);
}

// A lock given back in the statement that wrote the record would be free
// before the write is committed: another program could take it and read
// the record as it was. Outside a transaction the write is committed once
// its answer is here; inside one the locks are held to the transaction's
// end (locks count, so a lock taken again meanwhile stays held after
// that), also when the file is closed before. `written`: the lock the
// write took; `release`: the one it lets go (0: none).
void PgFile::ReleaseOnceCommitted(std::int64_t written, std::int64_t release) {
  if (!Session::Get().TransactionWanted()) return Unlock(written, release);
  for (std::int64_t p : {written, release})
    if (p != 0) LocksToReleaseAtEnd().push_back({fileKey_, LockKey(p)});
}

std::int16_t PgFile::HoldForWriting() {
  Params params;
  params.Int8(pg::WriteHoldKey(relid_));
  Result r;
  // Under a savepoint like a write: a hold not had in time leaves the
  // transaction usable. Once had it outlives the savepoint, to the end of
  // the transaction; the statements after it see what was committed before.
  return Run(hold_, params, r, true);
}

ChangeMark PgFile::Mark() {
  Session& session = Session::Get();
  ChangeMark mark;
  // Notices not read yet are read later and then make the mark stale: the
  // window gets dropped more often than needed, never kept too long.
  mark.words[1] = session.ForeignCommits(relid_, false);
  mark.words[0] = session.OwnWrites(relid_);
  mark.words[2] = session.Generation();
  mark.valid = true;
  return mark;
}

bool PgFile::ChangedSince(const ChangeMark& mark) {
  if (!mark.valid) return true;
  Session& session = Session::Get();
  return session.ForeignCommits(relid_, false) != mark.words[1] || session.OwnWrites(relid_) != mark.words[0] ||
         session.Generation() != mark.words[2];
}

class PgStore final : public Storage {
 public:
  std::int16_t Create(const std::string& path, const FileDefinition& def) override;
  std::int16_t Open(const std::string& path, std::unique_ptr<StoredFile>& file) override;
  std::int16_t Begin() override {
    Session::Get().WantTransaction();
    return kOk;
  }
  std::int16_t Commit() override { return End(true); }
  std::int16_t Rollback() override { return End(false); }
  void Reset() override { End(false); }

 private:
  std::int16_t End(bool commit) {
    std::string error;
    const bool ended = Session::Get().EndTransaction(commit, error);
    for (PgFile* f : OpenFiles()) f->Settle(commit && ended);
    ReleaseLocksHeldForTheTransaction(ended);
    if (!ended) return Report("transaction", error);
    return kOk;
  }
};

std::int16_t PgStore::Create(const std::string& path, const FileDefinition& def) {
  const std::string schema = SchemaName(), name = TableName(path);
  if (schema.empty()) return Report("KITDB_SCHEMA", "not a plain name (letters, digits and _)");
  if (name.empty()) return kInvalidFileName;
  const std::string qs = Quote(schema), catalogue = qs + "." + kCatalogue, table = qs + "." + Quote(name);
  Session& session = Session::Get();
  const bool inside = session.TransactionWanted();
  // Inside the program's transaction the creation is part of it.
  const Statement begin{"", inside ? "SAVEPOINT kit_create" : "BEGIN"};
  const Statement commit{"", inside ? "RELEASE SAVEPOINT kit_create" : "COMMIT"};
  const Statement rollback{"", inside ? "ROLLBACK TO SAVEPOINT kit_create" : "ROLLBACK"};
  const Statement serialise{"", "SELECT pg_advisory_xact_lock(" + std::to_string(kCreateLockKey) + ")"};
  // Made only when missing: making them needs rights that using them does not.
  const Statement setup{
      "", "DO $kit$ BEGIN "
          "IF NOT EXISTS (SELECT 1 FROM pg_namespace WHERE nspname = '" + schema + "') THEN CREATE SCHEMA " + qs + "; END IF; "
          "IF to_regclass('" + catalogue + "') IS NULL THEN CREATE TABLE " + catalogue +
          " (name text PRIMARY KEY, relid oid NOT NULL, creation bytea NOT NULL, created timestamptz NOT NULL DEFAULT now()); END IF; "
          "IF to_regprocedure('" + qs + ".kit_changed()') IS NULL THEN CREATE FUNCTION " + qs +
          ".kit_changed() RETURNS trigger LANGUAGE plpgsql AS $f$ BEGIN PERFORM pg_notify('" + pg::kChangeChannel +
          "', TG_RELID::text); RETURN NULL; END $f$; END IF; END $kit$"};
  const Statement existing{"", "SELECT creation FROM " + catalogue + " WHERE name = $1"};
  Params byName;
  byName.Bytes(name);
  std::vector<Result> results;
  std::string error;
  if (!session.Exchange({{&begin, nullptr}, {&serialise, nullptr}, {&setup, nullptr}, {&existing, &byName}}, results,
                        error))
    return Report(name, error);
  auto undo = [&](const PGresult* failed) {
    std::vector<Result> ignored;
    std::string e;
    const Statement release{"", "RELEASE SAVEPOINT kit_create"};
    if (!pg::Failed(results[0].get())) {
      if (inside)
        session.Exchange({{&rollback, nullptr}, {&release, nullptr}}, ignored, e);
      else
        session.Exchange({{&rollback, nullptr}}, ignored, e);
    }
    return ReportResult(name, failed);
  };
  for (const Result& r : results)
    if (pg::Failed(r.get())) return undo(r.get());
  if (PQntuples(results[3].get()) > 0) {
    const std::string stored(PQgetvalue(results[3].get(), 0, 0),
                             static_cast<std::size_t>(PQgetlength(results[3].get(), 0, 0)));
    session.Exchange({{&commit, nullptr}}, results, error);
    // Another workstation made it first: no failure when it made the same file.
    return stored == def.creation ? static_cast<std::int16_t>(kOk) : static_cast<std::int16_t>(kFileExists);
  }
  std::string columns = "pos bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, data bytea NOT NULL";
  for (std::size_t k = 0; k < def.keys.size(); ++k)
    columns += ", k" + std::to_string(k) + " bytea NOT NULL, s" + std::to_string(k) + " bigint NOT NULL";
  std::vector<Statement> ddl{{"", "CREATE TABLE " + table + " (" + columns + ")"}};
  for (std::size_t k = 0; k < def.keys.size(); ++k)
    ddl.push_back({"", std::string(def.keys[k].duplicates ? "CREATE INDEX" : "CREATE UNIQUE INDEX") + " ON " + table +
                           " (k" + std::to_string(k) + ", s" + std::to_string(k) + ")"});
  ddl.push_back({"", "CREATE TRIGGER kit_changed AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON " + table +
                         " FOR EACH STATEMENT EXECUTE FUNCTION " + qs + ".kit_changed()"});
  ddl.push_back({"", "INSERT INTO " + catalogue + " (name, relid, creation) VALUES ($1, $2::text::regclass, $3)"});
  Params entry;
  const std::string tableText = table;
  entry.Bytes(name).Bytes(tableText).Bytes(def.creation);
  std::vector<Command> commands;
  for (const Statement& st : ddl) commands.push_back({&st, &st == &ddl.back() ? &entry : nullptr});
  commands.push_back({&commit, nullptr});
  if (!session.Exchange(commands, results, error)) return Report(name, error);
  for (const Result& r : results)
    if (pg::Failed(r.get())) {
      std::vector<Result> ignored;
      std::string e;
      if (inside) {
        const Statement release{"", "RELEASE SAVEPOINT kit_create"};
        session.Exchange({{&rollback, nullptr}, {&release, nullptr}}, ignored, e);
      } else {
        session.Exchange({{&rollback, nullptr}}, ignored, e);
      }
      return ReportResult(name, r.get());
    }
  return kOk;
}

std::int16_t PgStore::Open(const std::string& path, std::unique_ptr<StoredFile>& file) {
  const std::string schema = SchemaName(), name = TableName(path);
  if (schema.empty()) return Report("KITDB_SCHEMA", "not a plain name (letters, digits and _)");
  if (name.empty()) return kInvalidFileName;
  const std::string qs = Quote(schema), table = qs + "." + Quote(name);
  const Statement entry{"", "SELECT relid::int8, creation, pg_get_serial_sequence($2, 'pos')::regclass::oid::int8 FROM " +
                                qs + "." + kCatalogue + " WHERE name = $1"};
  Params params;
  params.Bytes(name).Bytes(table);
  Session& session = Session::Get();
  // Inside the program's transaction a file that is not there must not
  // spoil the transaction: its statements run under a savepoint.
  const bool inside = session.TransactionWanted();
  static const Statement kSave{"", "SAVEPOINT kit_open"}, kRelease{"", "RELEASE SAVEPOINT kit_open"},
      kUndo{"", "ROLLBACK TO SAVEPOINT kit_open"};
  std::vector<Command> commands;
  if (inside) commands.push_back({&kSave, nullptr});
  commands.push_back({&entry, &params});
  if (inside) commands.push_back({&kRelease, nullptr});
  std::vector<Result> results;
  std::string error;
  if (!session.Exchange(commands, results, error)) return Report(name, error);
  if (inside) {
    const bool failed = std::any_of(results.begin(), results.end(), [](const Result& r) { return pg::Failed(r.get()); });
    if (failed && !pg::Failed(results[0].get())) {
      std::vector<Result> undone;
      if (!session.Exchange({{&kUndo, nullptr}, {&kRelease, nullptr}}, undone, error)) return Report(name, error);
    }
    results.erase(results.begin());
  }
  const PGresult* found = results[0].get();
  if (pg::Failed(found)) {
    const std::string state = pg::SqlState(found);
    // No schema or no catalogue yet: no file either.
    if (state == "3F000" || state == "42P01") return kFileNotFound;
    return ReportResult(name, found);
  }
  if (PQntuples(found) == 0) return kFileNotFound;
  FileDefinition def;
  const std::string creation(PQgetvalue(found, 0, 1), static_cast<std::size_t>(PQgetlength(found, 0, 1)));
  if (ParseCreationRecord(creation, def) != kOk) {
    Report(name, "the catalogue's creation record is not one of ours");
    return kNotOurFile;
  }
  file = std::make_unique<PgFile>(name, table, static_cast<std::uint32_t>(pg::Int8At(found, 0, 0)),
                                  pg::Int8At(found, 0, 2), std::move(def));
  return kOk;
}

}  // namespace

Storage& PostgresStorage() {
  static PgStore store;
  return store;
}

std::int64_t ServerRoundTrips() {
  return pg::Session::Get().RoundTrips() + pg::Session::ForProgramLocks().RoundTrips();
}

}  // namespace recordmanager
