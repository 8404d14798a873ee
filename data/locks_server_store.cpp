// Program locks on the PostgreSQL server named by KITDB, for offices whose
// desks keep their data there: the desks then need no shared folder at all.
//
// One table per suite root, "kit_locks" in the root's schema (KITDB_SCHEMA),
// one row per lock record:
//   id           the record's number for the server's locks (never reused)
//   name         the lock's name lower-cased (lock names ignore case, as the
//                suite's file systems do), bytes other than printable ASCII
//                written %XX
//   slot         the record's place in the lock, from 0: what the record's
//                number in a lock file is
//   record       the 121-byte record, exactly as a lock file holds it, so
//                that the lock rules (locks_scan.h) read it unchanged
//   operator_of  who took the record, as its identity and time fields (bytes
//   operator     15 to 33 of the record) and the operator's name: the name
//                is believed only while the record still says the same
//
// The server's advisory locks take the place of the lock files' system
// locks, all of them on a connection of their own (pg::Session::
// ForProgramLocks):
//   - a record held: the session lock (table oid, id), two int4 keys, kept
//     while this process holds the record. The server drops it when the
//     connection ends, however the program ended: a killed program's locks
//     are free at once, a workstation that vanished from the network frees
//     them within a minute (TCP keepalives). Who holds a record is read from
//     pg_locks in the statement that reads the records.
//   - a scan: the transaction lock (table oid << 32 | hash of the name), one
//     int8 key (so never equal to a record's two-key lock), from the
//     reading of a lock's records to the commit of its writes: scan and
//     write are one step for every program, as the exclusive opening of a
//     lock file makes them.
// A connection that broke (a server restart, an administrator ending the
// session, a network gone for longer than the keepalives) took the
// session's locks with it: they are free for others as soon as the server
// has ended the old session. On the next connection, before anything else
// goes out on it, the store takes back every record it held: its session
// lock, and only if the row still holds the very record this process
// wrote, since anyone who took the record meanwhile rewrote it, and blanked
// it on letting it go. A record that cannot be taken back is lost: the
// program asks (LockStanding) before a write that the lock guards.
//
// The separate connection keeps the locks out of the data files'
// transaction (begin, end and abort transaction of the record manager):
// aborting a data transaction neither undoes a lock taken or released
// inside it nor holds the lock's writes back until the transaction ends.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "data/engine/postgres_session.h"
#include "data/locks_store.h"

namespace data {
namespace {

namespace pg = recordmanager::pg;
using lock_record::kId;

// The holder's identity and time fields, which say whose the operator is.
constexpr std::size_t kOperatorOfSize = lock_record::kIdSize + lock_record::kTimeSize;

// The lock's name as the table keeps it.
std::string KeyName(std::string_view name) {
  std::string key;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c > 32 && c < 127 && c != '%') {
      key += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      key += hex;
    }
  }
  return key;
}

// FNV-1a: the same on every workstation, whatever the server.
std::uint32_t NameHash(std::string_view key) {
  std::uint32_t h = 2166136261u;
  for (char c : key) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

// The first line of a server's or libpq's message.
std::string FirstLine(std::string text) {
  const std::size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

using Value = std::variant<std::string, std::int64_t, std::int32_t>;

// A statement with its parameters, kept until it is sent.
struct Queued {
  pg::Statement statement;
  std::vector<Value> values;
};

class ServerStore;

class ServerTable final : public LockTable {
 public:
  ServerTable(ServerStore& store, std::string table, std::string key, std::string path, std::uint32_t oid)
      : store_(store), table_(std::move(table)), key_(std::move(key)), path_(std::move(path)), oid_(oid) {}
  ~ServerTable() override;

  // Begins the scan: takes the lock's scan lock and reads its records.
  platform::FileStatus Begin();
  bool Empty() const { return rows_.empty(); }

  platform::FileStatus ReadRecords(std::vector<std::string>& records) override {
    records.clear();
    for (const Row& r : rows_) records.push_back(r.record);
    return {};
  }
  platform::FileStatus WriteRecord(std::size_t index, const std::string& record) override;
  LockHolder HolderOf(std::size_t index) override;
  std::string OperatorOf(std::size_t index, const std::string& record) override;
  platform::FileStatus Hold(std::size_t index, const std::string& record, std::string_view operatorName) override;
  void Unhold(std::size_t index) override;
  platform::FileStatus Close() override;
  const std::string& Path() const override { return path_; }
  std::string FailureReason() const override { return reason_; }

 private:
  struct Row {
    std::int64_t id = 0;
    std::int32_t slot = 0;
    std::string record, operatorOf, operatorName;
    int holder = 0;  // the server process holding it, 0: nobody
  };

  std::int32_t ClassKey() const { return static_cast<std::int32_t>(oid_); }
  int OwnPid() const { return pg::Session::ForProgramLocks().BackendPid(); }
  // Sends what is queued and then `more`, in one round trip; the results
  // of `more` come back in `results`.
  platform::FileStatus Send(std::vector<Queued> more, std::vector<pg::Result>& results);
  // Appends a record at the end; with `hold` this process holds it too.
  platform::FileStatus Append(const std::string& record, std::string_view operatorName, bool hold);
  platform::FileStatus Failed(int error, std::string reason);
  // Ends the scan's transaction, committing its writes or not, and gives
  // back the server locks of the records let go (before a commit, after a
  // rollback).
  platform::FileStatus Finish(bool commit);

  ServerStore& store_;
  std::string table_, key_, path_;
  std::uint32_t oid_;
  bool open_ = false;     // inside the scan's transaction
  std::uint64_t begunOn_ = 0;  // the session's generation when it began
  bool broken_ = false;   // a statement failed: nothing more is written
  platform::FileStatus failure_;
  std::string reason_;
  std::vector<Row> rows_;
  std::vector<Queued> queued_;  // writes not sent yet
  std::vector<std::int64_t> unlocks_;  // records let go
};

class ServerStore final : public LockStore {
 public:
  ServerStore() {
    pg::Session::ForProgramLocks().OnNewSession(
        [this](pg::Session& session, std::string& error) { return TakeBack(session, error); });
  }
  std::unique_ptr<LockTable> Open(std::string_view name, bool create, LockStoreFailure& failure) override;
  void Forget() override {
    pg::Session::ForProgramLocks().Close();
    oid_ = 0;
    held_.clear();
  }
  LockStanding Standing(std::string_view name) override;
  void ForgetLost(std::string_view name) override {
    const std::string key = KeyName(name);
    std::erase_if(Held(), [&](const HeldRecord& h) { return h.lost && h.key == key; });
  }
  // The table was dropped under this process: look for it again.
  void TableGone() { oid_ = 0; }

  // What it takes to take a record back on a new session: this process
  // holds record `id` of `table` (whose oid is `oid`), written as `record`.
  void NoteHeld(const std::string& key, const std::string& table, std::uint32_t oid, std::int64_t id,
                const std::string& record);
  void NoteLetGo(std::uint32_t oid, std::int64_t id) {
    std::erase_if(Held(), [&](const HeldRecord& h) { return h.oid == oid && h.id == id; });
  }

 private:
  struct HeldRecord {
    std::string key, table;
    std::uint32_t oid = 0;
    std::int64_t id = 0;
    std::string record;
    bool lost = false;  // the session that held it ended, and it could not be taken back
  };

  // The oid of the lock table (0: there is none and `create` is false).
  platform::FileStatus FindTable(const std::string& schema, bool create, std::string& reason);
  // Takes back, on a new session, the records held on the one that ended.
  bool TakeBack(pg::Session& session, std::string& error);
  // The records this process holds (a child after fork holds none of its
  // parent's).
  std::vector<HeldRecord>& Held() {
    if (heldBy_ != ::getpid()) {
      held_.clear();
      heldBy_ = ::getpid();
    }
    return held_;
  }

  std::string schema_;
  std::uint64_t generation_ = 0;
  std::uint32_t oid_ = 0;
  std::vector<HeldRecord> held_;
  pid_t heldBy_ = 0;
};

platform::FileStatus ServerTable::Failed(int error, std::string reason) {
  failure_ = platform::FileStatus{error};
  reason_ = FirstLine(std::move(reason));
  broken_ = true;
  return failure_;
}

platform::FileStatus ServerTable::Send(std::vector<Queued> more, std::vector<pg::Result>& results) {
  results.clear();
  if (broken_) return failure_;
  const std::size_t first = queued_.size();
  for (Queued& q : more) queued_.push_back(std::move(q));
  std::vector<pg::Params> params(queued_.size());
  std::vector<pg::Command> commands;
  for (std::size_t i = 0; i < queued_.size(); ++i) {
    for (const Value& v : queued_[i].values) {
      if (const auto* bytes = std::get_if<std::string>(&v)) params[i].Bytes(*bytes);
      else if (const auto* int8 = std::get_if<std::int64_t>(&v)) params[i].Int8(*int8);
      else params[i].Int4(std::get<std::int32_t>(v));
    }
    commands.push_back({&queued_[i].statement, &params[i]});
  }
  std::vector<pg::Result> all;
  std::string error;
  // Inside the scan, on its own connection only: one that broke between
  // two steps took the scan's transaction, and its writes, with it.
  const bool reached = pg::Session::ForProgramLocks().Exchange(commands, all, error, begunOn_);
  queued_.clear();
  if (!reached) {
    // The server rolls back a transaction whose connection broke.
    open_ = false;
    begunOn_ = 0;
    return Failed(ENOTCONN, error);
  }
  for (const pg::Result& r : all)
    if (pg::Failed(r.get())) {
      const std::string state = pg::SqlState(r.get());
      if (state == "42P01" || state == "3F000") store_.TableGone();
      return Failed(EIO, pg::ErrorText(r.get()));
    }
  for (std::size_t i = first; i < all.size(); ++i) results.push_back(std::move(all[i]));
  return {};
}

platform::FileStatus ServerTable::Begin() {
  const std::int64_t scanKey =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(oid_) << 32) | NameHash(key_));
  std::vector<Queued> commands;
  commands.push_back({{"", "BEGIN"}, {}});
  open_ = true;
  commands.push_back({{"", "SELECT pg_advisory_xact_lock($1)", {pg::kInt8Type}}, {scanKey}});
  commands.push_back(
      {{"",
        "SELECT l.id, l.slot, l.record, l.operator_of, l.operator, "
        "(SELECT min(p.pid) FROM pg_locks p WHERE p.locktype = 'advisory' AND p.database = d.oid "
        "AND p.classid = $2::oid AND p.objid = l.id::oid AND p.objsubid = 2 AND p.granted) "
        "FROM " + table_ + " l, (SELECT oid FROM pg_database WHERE datname = current_database()) d "
        "WHERE l.name = $1 ORDER BY l.slot",
        {pg::kTextType, pg::kInt8Type}},
       {key_, static_cast<std::int64_t>(oid_)}});
  std::vector<pg::Result> results;
  if (platform::FileStatus s = Send(std::move(commands), results); !s.ok()) return s;
  begunOn_ = pg::Session::ForProgramLocks().Generation();
  const PGresult* r = results[2].get();
  for (int i = 0; i < PQntuples(r); ++i)
    rows_.push_back({pg::Int8At(r, i, 0), pg::Int4At(r, i, 1), pg::BytesAt(r, i, 2), pg::BytesAt(r, i, 3),
                     pg::BytesAt(r, i, 4), pg::Int4At(r, i, 5)});
  return {};
}

ServerTable::~ServerTable() {
  // Not closed: the writes go, the records let go are given back all the same.
  if (open_ || !unlocks_.empty()) Finish(false);
}

platform::FileStatus ServerTable::Finish(bool commit) {
  auto unlocks = [&] {
    std::vector<Queued> q;
    for (std::int64_t id : unlocks_)
      q.push_back({{"", "SELECT pg_advisory_unlock($1, $2::int4)", {pg::kInt4Type, pg::kInt8Type}}, {ClassKey(), id}});
    return q;
  };
  platform::FileStatus result = broken_ ? failure_ : platform::FileStatus{};
  if (commit && result.ok() && open_) {
    // The records let go are given back before the commit ends the scan:
    // a program that reads them free must find them free. Should the
    // commit fail, they stand as held by nobody, which is free as well.
    std::vector<Queued> q = unlocks();
    q.push_back({{"", "COMMIT"}, {}});
    std::vector<pg::Result> results;
    result = Send(std::move(q), results);
    if (result.ok()) {
      open_ = false;
      begunOn_ = 0;
      unlocks_.clear();
      // COMMIT of a transaction that an error spoilt rolls it back instead.
      if (std::string(PQcmdStatus(results.back().get())) != "COMMIT")
        return Failed(EIO, "the lock's writes were undone");
      return {};
    }
  }
  // Undone: whatever was queued goes, the session's locks are given back
  // after the rollback (an aborted transaction runs nothing else).
  queued_.clear();
  const platform::FileStatus failure = failure_;
  const std::string reason = reason_;
  broken_ = false;
  std::vector<Queued> q;
  if (open_) q.push_back({{"", "ROLLBACK"}, {}});
  for (Queued& u : unlocks()) q.push_back(std::move(u));
  std::vector<pg::Result> ignored;
  // A connection that broke took the transaction and the locks with it.
  const bool lost = !result.ok() && failure.error == ENOTCONN;
  if (!q.empty() && !lost) Send(std::move(q), ignored);
  open_ = false;
  begunOn_ = 0;
  unlocks_.clear();
  failure_ = failure;
  reason_ = reason;
  broken_ = !result.ok();
  return result;
}

platform::FileStatus ServerTable::Append(const std::string& record, std::string_view operatorName, bool hold) {
  const std::int32_t slot = rows_.empty() ? 0 : rows_.back().slot + 1;
  const std::string operatorOf = record.substr(kId, kOperatorOfSize);
  // A new row's number was never anybody's: its lock is free.
  std::vector<pg::Result> results;
  platform::FileStatus s = Send(
      {{{"",
         "INSERT INTO " + table_ + " (name, slot, record, operator_of, operator) VALUES ($1, $2, $3, $4, $5) "
         "RETURNING id, CASE WHEN $6 THEN pg_try_advisory_lock($7, id::int4) END",
         {pg::kTextType, pg::kInt4Type, pg::kByteaType, pg::kByteaType, pg::kByteaType, 16, pg::kInt4Type}},
        {key_, slot, record, hold ? operatorOf : std::string(), hold ? std::string(operatorName) : std::string(),
         std::string(1, hold ? '\1' : '\0'), ClassKey()}}},
      results);
  if (!s.ok()) return s;
  const PGresult* r = results[0].get();
  if (PQntuples(r) != 1) return Failed(EIO, "the new lock record gave no answer");
  if (hold && !pg::BoolAt(r, 0, 1)) return Failed(EAGAIN, "");
  rows_.push_back({pg::Int8At(r, 0, 0), slot, record, hold ? operatorOf : std::string(),
                   hold ? std::string(operatorName) : std::string(), hold ? OwnPid() : 0});
  if (hold) store_.NoteHeld(key_, table_, oid_, rows_.back().id, record);
  return {};
}

platform::FileStatus ServerTable::WriteRecord(std::size_t index, const std::string& record) {
  if (broken_) return failure_;
  if (index == rows_.size()) return Append(record, "", false);
  if (index > rows_.size()) return platform::FileStatus{EINVAL};
  Row& row = rows_[index];
  if (row.record == record) return {};
  queued_.push_back({{"", "UPDATE " + table_ + " SET record = $2 WHERE id = $1", {pg::kInt8Type, pg::kByteaType}},
                     {row.id, record}});
  row.record = record;
  if (row.holder != 0 && row.holder == OwnPid()) store_.NoteHeld(key_, table_, oid_, row.id, record);
  return {};
}

LockHolder ServerTable::HolderOf(std::size_t index) {
  if (index >= rows_.size()) return LockHolder::kUnknown;
  const int holder = rows_[index].holder;
  if (holder == 0) return LockHolder::kGone;
  return holder == OwnPid() ? LockHolder::kThisProcess : LockHolder::kOtherProcess;
}

std::string ServerTable::OperatorOf(std::size_t index, const std::string& record) {
  if (index >= rows_.size() || record.size() < kId + kOperatorOfSize) return {};
  const Row& row = rows_[index];
  // A name left from an earlier holder of the record says nothing of this one.
  if (row.operatorOf != record.substr(kId, kOperatorOfSize)) return {};
  std::string name = row.operatorName;
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}

platform::FileStatus ServerTable::Hold(std::size_t index, const std::string& record, std::string_view operatorName) {
  if (broken_) return failure_;
  if (index == rows_.size()) return Append(record, operatorName, true);
  if (index > rows_.size()) return platform::FileStatus{EINVAL};
  Row& row = rows_[index];
  const std::string operatorOf = record.substr(kId, kOperatorOfSize);
  const std::string set = "UPDATE " + table_ + " k SET record = $3, operator_of = $4, operator = $5";
  if (row.holder != 0 && row.holder == OwnPid()) {
    // Already this process's (a lock renewed): its server lock stays as it is.
    queued_.push_back({{"",
                        "UPDATE " + table_ + " SET record = $2, operator_of = $3, operator = $4 WHERE id = $1",
                        {pg::kInt8Type, pg::kByteaType, pg::kByteaType, pg::kByteaType}},
                       {row.id, record, operatorOf, std::string(operatorName)}});
  } else {
    std::vector<pg::Result> results;
    if (platform::FileStatus s = Send(
            {{{"",
               "WITH l AS (SELECT pg_try_advisory_lock($1, $2::int4) AS ok), u AS (" + set +
                   " FROM l WHERE l.ok AND k.id = $2 RETURNING 1) SELECT ok FROM l",
               {pg::kInt4Type, pg::kInt8Type, pg::kByteaType, pg::kByteaType, pg::kByteaType}},
              {ClassKey(), row.id, record, operatorOf, std::string(operatorName)}}},
            results);
        !s.ok())
      return s;
    if (PQntuples(results[0].get()) != 1 || !pg::BoolAt(results[0].get(), 0, 0)) return platform::FileStatus{EAGAIN};
    row.holder = OwnPid();
  }
  row.record = record;
  row.operatorOf = operatorOf;
  row.operatorName = std::string(operatorName);
  store_.NoteHeld(key_, table_, oid_, row.id, record);
  return {};
}

void ServerTable::Unhold(std::size_t index) {
  if (index >= rows_.size()) return;
  store_.NoteLetGo(oid_, rows_[index].id);
  if (rows_[index].holder == 0 || rows_[index].holder != OwnPid()) return;
  // Given back once the scan ends, committed or not: the lock belongs to
  // the session, not to the transaction.
  unlocks_.push_back(rows_[index].id);
  rows_[index].holder = 0;
}

platform::FileStatus ServerTable::Close() { return Finish(true); }

void ServerStore::NoteHeld(const std::string& key, const std::string& table, std::uint32_t oid, std::int64_t id,
                           const std::string& record) {
  for (HeldRecord& h : Held())
    if (h.oid == oid && h.id == id) {
      h.record = record;
      h.lost = false;
      return;
    }
  Held().push_back({key, table, oid, id, record});
}

bool ServerStore::TakeBack(pg::Session& session, std::string& error) {
  std::vector<HeldRecord*> back;
  for (HeldRecord& h : Held())
    if (!h.lost) back.push_back(&h);
  if (back.empty()) return true;
  const pg::Statement lock{"", "SELECT pg_try_advisory_lock($1, $2::int4)", {pg::kInt4Type, pg::kInt8Type}};
  std::vector<pg::Params> keys(back.size());
  std::vector<pg::Command> commands;
  for (std::size_t i = 0; i < back.size(); ++i) {
    keys[i].Int4(static_cast<std::int32_t>(back[i]->oid)).Int8(back[i]->id);
    commands.push_back({&lock, &keys[i]});
  }
  std::vector<pg::Result> results;
  if (!session.Exchange(commands, results, error)) return false;
  // The row is read once the lock is this session's: whoever took the
  // record meanwhile has written it by then.
  std::vector<std::size_t> got;
  for (std::size_t i = 0; i < back.size(); ++i) {
    if (!pg::Failed(results[i].get()) && PQntuples(results[i].get()) == 1 && pg::BoolAt(results[i].get(), 0, 0))
      got.push_back(i);
    else
      back[i]->lost = true;
  }
  std::vector<pg::Statement> checks;
  checks.reserve(got.size());
  std::vector<pg::Params> rows(got.size());
  commands.clear();
  for (std::size_t j = 0; j < got.size(); ++j) {
    const HeldRecord& h = *back[got[j]];
    checks.push_back({"", "SELECT EXISTS (SELECT 1 FROM " + h.table + " WHERE id = $1 AND record = $2)",
                      {pg::kInt8Type, pg::kByteaType}});
    rows[j].Int8(h.id).Bytes(h.record);
  }
  for (std::size_t j = 0; j < got.size(); ++j) commands.push_back({&checks[j], &rows[j]});
  if (!commands.empty() && !session.Exchange(commands, results, error)) return false;
  // A record rewritten (or gone with its table) is another's now, or was:
  // its lock goes back at once.
  const pg::Statement unlock{"", "SELECT pg_advisory_unlock($1, $2::int4)", {pg::kInt4Type, pg::kInt8Type}};
  commands.clear();
  for (std::size_t j = 0; j < got.size(); ++j) {
    const PGresult* r = results[j].get();
    if (!pg::Failed(r) && PQntuples(r) == 1 && pg::BoolAt(r, 0, 0)) continue;
    back[got[j]]->lost = true;
    commands.push_back({&unlock, &keys[got[j]]});
  }
  if (!commands.empty() && !session.Exchange(commands, results, error)) return false;
  return true;
}

LockStanding ServerStore::Standing(std::string_view name) {
  // One statement: a session that ended is found out, and a new one takes
  // the records back before it answers. A session that broke under the
  // statement is made again once.
  const std::string key = KeyName(name);
  if (std::none_of(Held().begin(), Held().end(), [&](const HeldRecord& h) { return h.key == key; }))
    return LockStanding::kNotHeld;
  pg::Session& session = pg::Session::ForProgramLocks();
  const pg::Statement alive{"", "SELECT 1"};
  bool answered = false;
  for (int tries = 0; tries < 2 && !answered; ++tries) {
    std::vector<pg::Result> results;
    std::string error;
    answered = session.Exchange({{&alive, nullptr}}, results, error) && !pg::Failed(results[0].get());
  }
  if (!answered) return LockStanding::kUnreachable;
  bool held = false;
  for (const HeldRecord& h : Held()) {
    if (h.key != key) continue;
    if (h.lost) return LockStanding::kLost;
    held = true;
  }
  return held ? LockStanding::kHeld : LockStanding::kNotHeld;
}

platform::FileStatus ServerStore::FindTable(const std::string& schema, bool create, std::string& reason) {
  pg::Session& session = pg::Session::ForProgramLocks();
  if (schema == schema_ && generation_ == session.Generation() && oid_ != 0) return {};
  oid_ = 0;
  const std::string qs = pg::Quote(schema), table = qs + "." + pg::kLockTable;
  const pg::Statement find{"", "SELECT to_regclass($1)::oid::int8", {pg::kTextType}};
  pg::Params name;
  name.Bytes(table);
  std::vector<pg::Result> results;
  std::string error;
  if (!session.Exchange({{&find, &name}}, results, error)) {
    reason = error;
    return platform::FileStatus{ENOTCONN};
  }
  if (pg::Failed(results[0].get())) {
    reason = pg::ErrorText(results[0].get());
    return platform::FileStatus{EIO};
  }
  std::int64_t oid = pg::Int8At(results[0].get(), 0, 0);
  if (oid == 0 && create) {
    // Made only when missing: making them needs rights that using them does not.
    const pg::Statement begin{"", "BEGIN"}, commit{"", "COMMIT"}, rollback{"", "ROLLBACK"};
    const pg::Statement serialise{"", "SELECT pg_advisory_xact_lock(" + std::to_string(pg::kCreateLockKey) + ")"};
    const pg::Statement make{
        "", "DO $kit$ BEGIN "
            "IF NOT EXISTS (SELECT 1 FROM pg_namespace WHERE nspname = '" + schema + "') THEN CREATE SCHEMA " + qs +
            "; END IF; "
            "IF to_regclass('" + table + "') IS NULL THEN CREATE TABLE " + table +
            " (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, name text NOT NULL, slot integer NOT NULL, "
            "record bytea NOT NULL, operator_of bytea NOT NULL DEFAULT '', operator bytea NOT NULL DEFAULT '', "
            "UNIQUE (name, slot)); END IF; END $kit$"};
    if (!session.Exchange({{&begin, nullptr}, {&serialise, nullptr}, {&make, nullptr}, {&commit, nullptr},
                           {&find, &name}},
                          results, error)) {
      reason = error;
      return platform::FileStatus{ENOTCONN};
    }
    for (const pg::Result& r : results)
      if (pg::Failed(r.get())) {
        reason = pg::ErrorText(r.get());
        std::vector<pg::Result> ignored;
        session.Exchange({{&rollback, nullptr}}, ignored, error);
        return platform::FileStatus{EIO};
      }
    oid = pg::Int8At(results[4].get(), 0, 0);
  }
  schema_ = schema;
  generation_ = session.Generation();
  oid_ = static_cast<std::uint32_t>(oid);
  return {};
}

std::unique_ptr<LockTable> ServerStore::Open(std::string_view name, bool create, LockStoreFailure& failure) {
  const std::string schema = pg::SchemaName();
  const std::string path = (schema.empty() ? std::string("?") : schema) + "." + pg::kLockTable + "/" + std::string(name);
  if (schema.empty()) {
    failure = {path, platform::FileStatus{EINVAL}, "KITDB_SCHEMA: not a plain name (letters, digits and _)"};
    return nullptr;
  }
  std::string reason;
  if (platform::FileStatus s = FindTable(schema, create, reason); !s.ok()) {
    failure = {path, s, FirstLine(reason)};
    return nullptr;
  }
  if (oid_ == 0) return nullptr;  // no lock was ever taken on this root
  auto table = std::make_unique<ServerTable>(*this, pg::Quote(schema) + "." + pg::kLockTable, KeyName(name), path,
                                             oid_);
  if (platform::FileStatus s = table->Begin(); !s.ok()) {
    failure = {path, s, table->FailureReason()};
    return nullptr;
  }
  if (!create && table->Empty()) return nullptr;
  return table;
}

}  // namespace

LockStore& ServerLockStore() {
  static ServerStore store;
  return store;
}

}  // namespace data
