// The one connection a process keeps to the PostgreSQL server named by
// KITDB: statements sent together in one round trip, the transaction that
// spans every file, and the notices of other programs' commits.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace recordmanager::pg {

// The channel every data table's trigger notifies, with the table's oid.
inline constexpr const char* kChangeChannel = "kit_changes";

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
bool BoolAt(const PGresult* r, int row, int col);
std::string SqlState(const PGresult* r);
std::string ErrorText(const PGresult* r);
bool Failed(const PGresult* r);

class Session {
 public:
  // This process's session (a child after fork starts its own).
  static Session& Get();
  ~Session();

  // Sends `commands` in one round trip and gives one result per command
  // (after a failed one, the rest come back as aborted). When a transaction
  // is wanted and not yet begun, it begins with them. False, with `error`,
  // when the server cannot be reached.
  bool Exchange(const std::vector<Command>& commands, std::vector<Result>& results, std::string& error);

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
  Session() = default;
  bool Connect(std::string& error);
  void Drop();
  void Abandon();
  void ReadNotices();

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
