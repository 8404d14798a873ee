// The connections a process keeps to the PostgreSQL server named by KITDB:
// one for the data files (statements sent together in one round trip, the
// transaction that spans every file, the notices of other programs'
// commits), and one for the program locks, so that a lock taken or given
// back never becomes part of a data transaction, nor is undone with it.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace recordmanager::pg {

// The channel every data table's trigger notifies, with the table's oid.
inline constexpr const char* kChangeChannel = "kit_changes";

// Tables of a root's schema besides the data files': the catalogue of
// creation records and the program locks.
inline constexpr const char* kCatalogueTable = "kit_files";
inline constexpr const char* kLockTable = "kit_locks";

// Serialises the making of a root's schema and tables between workstations
// (a transaction-level advisory lock).
inline constexpr std::int64_t kCreateLockKey = 0x6b69745f63726561;  // "kit_crea"

// Holds a data file for one program's writes until its transaction ends (a
// transaction-level advisory lock): the table's oid in the high half, 0 in
// the low one. So never the same lock as kCreateLockKey, as a scan of the
// program locks (the lock table's oid, a name's hash) or as a record lock
// (two int4 keys).
inline std::int64_t WriteHoldKey(std::uint32_t relid) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(relid) << 32);
}

// The schema of the suite root's tables: KITDB_SCHEMA, "kit" when unset;
// empty when it is not a plain name (letters, digits and _).
std::string SchemaName();
// An identifier in double quotes.
std::string Quote(const std::string& identifier);

// Parameters of one statement, all in binary form.
class Params {
 public:
  // `bytes` must outlive the exchange.
  Params& Bytes(const std::string& bytes);
  Params& Int8(std::int64_t value);
  Params& Int4(std::int32_t value);
  int Count() const { return static_cast<int>(values_.size()); }
  const char* const* Values() const { return values_.data(); }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }

 private:
  std::deque<std::string> owned_;
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
};

// A statement: named ones are prepared once per connection (in the same
// round trip as their first use), unnamed ones are parsed every time.
struct Statement {
  std::string name;
  std::string sql;
  // Parameter types (oids) where the text leaves some unsaid; empty: all
  // inferred from the text.
  std::vector<Oid> types = {};
};

inline constexpr Oid kByteaType = 17;
inline constexpr Oid kInt8Type = 20;
inline constexpr Oid kInt4Type = 23;
inline constexpr Oid kTextType = 25;

struct Command {
  const Statement* statement;
  const Params* params;  // may be null
};

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Reading binary results.
std::int64_t Int8At(const PGresult* r, int row, int col);
std::int32_t Int4At(const PGresult* r, int row, int col);
std::string BytesAt(const PGresult* r, int row, int col);
bool BoolAt(const PGresult* r, int row, int col);
std::string SqlState(const PGresult* r);
std::string ErrorText(const PGresult* r);
bool Failed(const PGresult* r);

class Session {
 public:
  // This process's session for the data files (a child after fork starts
  // its own).
  static Session& Get();
  // Its session for the program locks, likewise.
  static Session& ForProgramLocks();
  ~Session();

  // Connects when not connected; false, with `error`, when the server
  // cannot be reached.
  bool Connect(std::string& error);
  // The server process of the connection (0 when not connected).
  int BackendPid() const { return conn_ ? backendPid_ : 0; }
  // Ends the connection, and with it the session's advisory locks.
  void Close();
  // Called on every new connection before anything else is sent on it
  // (a session that ended takes its advisory locks with it: the caller
  // takes them back here). False, with `error`, when the connection broke
  // meanwhile: the connection is then dropped and is made again, and the
  // call repeated, on the next exchange.
  using NewSessionHook = std::function<bool(Session&, std::string& error)>;
  void OnNewSession(NewSessionHook hook) { onNewSession_ = std::move(hook); }

  // Sends `commands` in one round trip and gives one result per command
  // (after a failed one, the rest come back as aborted). When a transaction
  // is wanted and not yet begun, it begins with them. False, with `error`,
  // when the server cannot be reached, or, with `generation` not 0, when
  // the connection of that generation is gone (nothing is then sent on a
  // new one: what the caller began on the old one was lost with it).
  bool Exchange(const std::vector<Command>& commands, std::vector<Result>& results, std::string& error,
                std::uint64_t generation = 0);

  // The transaction over every file: begun lazily with the first statement.
  void WantTransaction() { transactionWanted_ = true; }
  bool TransactionWanted() const { return transactionWanted_; }
  bool TransactionOpen() const { return transactionOpen_; }
  // Whether the connection went down inside the transaction.
  bool TransactionLost() const { return transactionLost_; }
  // Ends the transaction (COMMIT or ROLLBACK); false with `error`.
  bool EndTransaction(bool commit, std::string& error);

  // Change counts per table (by oid): this process's own writes, and
  // other programs' commits as told by the server's notices.
  void NoteOwnWrite(std::uint32_t relid) { ++own_[relid]; }
  std::uint64_t OwnWrites(std::uint32_t relid) { return own_[relid]; }
  // `now`: read the notices that have come, else only when the last look
  // is more than a moment ago (a look is a system call, and a walk asks
  // for every record).
  std::uint64_t ForeignCommits(std::uint32_t relid, bool now);
  // Goes up whenever the connection is made again: notices may have been lost.
  std::uint64_t Generation() const { return generation_; }

  std::int64_t RoundTrips() const { return roundTrips_; }

 private:
  explicit Session(bool listen);
  // A child after fork leaves its parent's connection alone.
  Session& AfterFork();
  void Drop();
  void Abandon();
  // Lets go of the connection and of everything known of it.
  void Finish();
  void ReadNotices();

  bool listen_;
  NewSessionHook onNewSession_;
  bool inHook_ = false;
  std::uint64_t forks_;  // the forks counted when this process last used it
  PGconn* conn_ = nullptr;
  std::int64_t lastLook_ = 0;  // steady clock, nanoseconds
  int backendPid_ = 0;
  std::uint64_t generation_ = 0;
  std::int64_t roundTrips_ = 0;
  bool transactionWanted_ = false;
  bool transactionOpen_ = false;
  bool transactionLost_ = false;
  std::unordered_set<std::string> prepared_;
  std::unordered_map<std::uint32_t, std::uint64_t> own_, foreign_;
};

}  // namespace recordmanager::pg
