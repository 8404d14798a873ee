#include "data/engine/postgres_session.h"

#include <endian.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace recordmanager::pg {
namespace {

// What every connection gets unless KITDB says otherwise. The client side
// notices a dead server through TCP keepalives; the server side notices a
// dead workstation through its own (20 s idle, then 4 probes 5 s apart),
// ending its session and so freeing its record locks within a minute.
// A write waiting for another program's row gives up after 3 s (status 85),
// as a write waits for a busy SQLite file. The statements are simple index
// walks whose plan does not depend on the values: planning them once per
// connection saves most of a lookup's time on the server.
constexpr const char* kServerSettings =
    "-c lock_timeout=3000 -c tcp_keepalives_idle=20 -c tcp_keepalives_interval=5 -c tcp_keepalives_count=4"
    " -c plan_cache_mode=force_generic_plan";

struct Default {
  const char* keyword;
  const char* value;
};
constexpr Default kClientDefaults[] = {
    {"connect_timeout", "10"}, {"keepalives", "1"},       {"keepalives_idle", "20"},
    {"keepalives_interval", "5"}, {"keepalives_count", "4"},
};

void IgnoreNotice(void*, const char*) {}

// Counted in a child after fork: the connections it inherited are the
// parent's.
std::uint64_t g_forks = 0;
void ForkedChild() { ++g_forks; }
void WatchForks() {
  static const bool watching = [] { return ::pthread_atfork(nullptr, nullptr, ForkedChild) == 0; }();
  (void)watching;
}

constexpr const char* kDefaultSchema = "kit";

// How long notices may wait before a walk looks for them.
constexpr std::int64_t kNoticeLookInterval = 100'000;  // nanoseconds

std::int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Whether the other end has closed the connection; a look, no wait.
bool PeerClosed(int socket) {
  pollfd p{socket, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

std::string SchemaName() {
  const char* given = std::getenv("KITDB_SCHEMA");
  std::string name = given && *given ? given : kDefaultSchema;
  if (name.size() > 63) return {};
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return {};
  return name;
}

std::string Quote(const std::string& identifier) {
  std::string q = "\"";
  for (char c : identifier) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

Params& Params::Bytes(const std::string& bytes) {
  values_.push_back(bytes.data());
  lengths_.push_back(static_cast<int>(bytes.size()));
  formats_.push_back(1);
  return *this;
}

Params& Params::Int8(std::int64_t value) {
  const std::uint64_t be = htobe64(static_cast<std::uint64_t>(value));
  owned_.emplace_back(reinterpret_cast<const char*>(&be), 8);
  return Bytes(owned_.back());
}

Params& Params::Int4(std::int32_t value) {
  const std::uint32_t be = htobe32(static_cast<std::uint32_t>(value));
  owned_.emplace_back(reinterpret_cast<const char*>(&be), 4);
  return Bytes(owned_.back());
}

std::int64_t Int8At(const PGresult* r, int row, int col) {
  if (PQgetisnull(r, row, col) || PQgetlength(r, row, col) != 8) return 0;
  std::uint64_t be;
  std::memcpy(&be, PQgetvalue(r, row, col), 8);
  return static_cast<std::int64_t>(be64toh(be));
}

std::int32_t Int4At(const PGresult* r, int row, int col) {
  if (PQgetisnull(r, row, col) || PQgetlength(r, row, col) != 4) return 0;
  std::uint32_t be;
  std::memcpy(&be, PQgetvalue(r, row, col), 4);
  return static_cast<std::int32_t>(be32toh(be));
}

std::string BytesAt(const PGresult* r, int row, int col) {
  return std::string(PQgetvalue(r, row, col), static_cast<std::size_t>(PQgetlength(r, row, col)));
}

bool BoolAt(const PGresult* r, int row, int col) {
  return !PQgetisnull(r, row, col) && PQgetlength(r, row, col) == 1 && PQgetvalue(r, row, col)[0] != 0;
}

std::string SqlState(const PGresult* r) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  return state ? state : "";
}

std::string ErrorText(const PGresult* r) {
  std::string text = r ? PQresultErrorMessage(r) : "no result";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

bool Failed(const PGresult* r) {
  if (!r) return true;
  const ExecStatusType s = PQresultStatus(r);
  return s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK;
}

Session::Session(bool listen) : listen_(listen), forks_(g_forks) {}

Session& Session::Get() {
  WatchForks();
  static Session session(true);
  return session.AfterFork();
}

Session& Session::ForProgramLocks() {
  WatchForks();
  // Other programs' commits are no business of the locks.
  static Session session(false);
  return session.AfterFork();
}

Session& Session::AfterFork() {
  if (forks_ != g_forks) {
    forks_ = g_forks;
    if (conn_) Abandon();
  }
  return *this;
}

Session::~Session() {
  if (conn_ && forks_ == g_forks) PQfinish(conn_);
}

void Session::Close() {
  AfterFork();
  if (!conn_) return;
  Finish();
}

// A child after fork shares the parent's socket: it must neither talk over
// it nor say goodbye on it, which would end the parent's session.
void Session::Abandon() {
  ::close(PQsocket(conn_));
  Finish();
}

void Session::Finish() {
  PQfinish(conn_);
  conn_ = nullptr;
  prepared_.clear();
  own_.clear();
  foreign_.clear();
  ++generation_;
  transactionWanted_ = transactionOpen_ = transactionLost_ = false;
}

void Session::Drop() {
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
  prepared_.clear();
  ++generation_;
  if (transactionOpen_) transactionLost_ = true;
  transactionOpen_ = false;
}

bool Session::Connect(std::string& error) {
  if (conn_) return true;
  const char* conninfo = std::getenv("KITDB");
  char* parseError = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo ? conninfo : "", &parseError);
  if (!options) {
    error = std::string("KITDB: ") + (parseError ? parseError : "cannot be read");
    if (parseError) PQfreemem(parseError);
    return false;
  }
  std::vector<std::string> keywords, values;
  std::string userOptions;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (!o->val) continue;
    if (std::strcmp(o->keyword, "options") == 0) {
      userOptions = o->val;
      continue;
    }
    keywords.emplace_back(o->keyword);
    values.emplace_back(o->val);
  }
  PQconninfoFree(options);
  auto given = [&](const char* keyword) {
    for (const std::string& k : keywords)
      if (k == keyword) return true;
    return false;
  };
  for (const Default& d : kClientDefaults)
    if (!given(d.keyword)) {
      keywords.emplace_back(d.keyword);
      values.emplace_back(d.value);
    }
  if (!given("fallback_application_name")) {
    keywords.emplace_back("fallback_application_name");
    values.emplace_back(program_invocation_short_name);
  }
  // The office's own settings come after ours and so win.
  keywords.emplace_back("options");
  values.emplace_back(std::string(kServerSettings) + (userOptions.empty() ? "" : " " + userOptions));
  std::vector<const char*> k, v;
  for (std::size_t i = 0; i < keywords.size(); ++i) {
    k.push_back(keywords[i].c_str());
    v.push_back(values[i].c_str());
  }
  k.push_back(nullptr);
  v.push_back(nullptr);
  conn_ = PQconnectdbParams(k.data(), v.data(), 0);
  ++roundTrips_;
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    error = conn_ ? PQerrorMessage(conn_) : "out of memory";
    while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
    return false;
  }
  PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
  backendPid_ = PQbackendPID(conn_);
  ++generation_;
  if (listen_) {
    Result listen(PQexec(conn_, (std::string("LISTEN ") + kChangeChannel).c_str()));
    ++roundTrips_;
    if (Failed(listen.get())) {
      error = ErrorText(listen.get());
      Drop();
      return false;
    }
  }
  if (onNewSession_ && !inHook_) {
    inHook_ = true;
    const bool done = onNewSession_(*this, error);
    inHook_ = false;
    if (!done || !conn_) {
      if (error.empty()) error = "the new connection to the server broke";
      if (conn_) Drop();
      return false;
    }
  }
  return true;
}

bool Session::Exchange(const std::vector<Command>& commands, std::vector<Result>& results, std::string& error,
                       std::uint64_t generation) {
  results.clear();
  // A server that ended the session (a restart, an administrator) has said
  // so and closed it. Found out before anything goes out, the commands go
  // on a new session instead of failing; what the old one held inside a
  // transaction is lost, and that is said.
  if (conn_ && PeerClosed(PQsocket(conn_))) Drop();
  if (transactionLost_) {
    error = "the connection to the server was lost inside a transaction";
    return false;
  }
  if (generation != 0 && (!conn_ || generation != generation_)) {
    error = "the connection to the server was lost";
    return false;
  }
  if (!conn_ && !Connect(error)) return false;
  static const Statement kBegin{"", "BEGIN"};
  const bool begin = transactionWanted_ && !transactionOpen_;
  // What went out, in order: -1 the BEGIN, 2i the prepare of command i,
  // 2i+1 command i.
  std::vector<int> sent;
  // A statement is prepared once, also when several commands use it.
  std::set<std::string> preparing;
  bool ok = PQenterPipelineMode(conn_) == 1;
  if (ok && begin) {
    ok = PQsendQueryParams(conn_, kBegin.sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1) == 1;
    sent.push_back(-1);
  }
  for (std::size_t i = 0; ok && i < commands.size(); ++i) {
    const Statement& st = *commands[i].statement;
    const Params* p = commands[i].params;
    const int n = p ? p->Count() : 0;
    const char* const* values = p ? p->Values() : nullptr;
    const int* lengths = p ? p->Lengths() : nullptr;
    const int* formats = p ? p->Formats() : nullptr;
    const Oid* types = st.types.empty() ? nullptr : st.types.data();
    const int typeCount = static_cast<int>(st.types.size());
    if (st.name.empty()) {
      ok = PQsendQueryParams(conn_, st.sql.c_str(), n, types, values, lengths, formats, 1) == 1;
    } else {
      if (!prepared_.count(st.name) && preparing.insert(st.name).second) {
        ok = PQsendPrepare(conn_, st.name.c_str(), st.sql.c_str(), typeCount, types) == 1;
        sent.push_back(static_cast<int>(2 * i));
      }
      ok = ok && PQsendQueryPrepared(conn_, st.name.c_str(), n, values, lengths, formats, 1) == 1;
    }
    sent.push_back(static_cast<int>(2 * i + 1));
  }
  ok = ok && PQpipelineSync(conn_) == 1;
  ++roundTrips_;
  if (!ok) {
    error = PQerrorMessage(conn_);
    Drop();
    return false;
  }
  results.resize(commands.size());
  for (int what : sent) {
    Result r(PQgetResult(conn_));
    while (PGresult* extra = PQgetResult(conn_)) PQclear(extra);
    if (what == -1) {
      if (!Failed(r.get())) transactionOpen_ = true;
    } else if (what % 2 == 0) {
      if (!Failed(r.get())) prepared_.insert(commands[static_cast<std::size_t>(what / 2)].statement->name);
    } else {
      results[static_cast<std::size_t>(what / 2)] = std::move(r);
    }
    if (PQstatus(conn_) == CONNECTION_BAD) break;
  }
  if (PQstatus(conn_) == CONNECTION_BAD) {
    error = PQerrorMessage(conn_);
    Drop();
    return false;
  }
  Result sync(PQgetResult(conn_));
  if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC || PQexitPipelineMode(conn_) != 1) {
    error = PQerrorMessage(conn_);
    Drop();
    return false;
  }
  for (Result& r : results)
    if (!r) r.reset(PQmakeEmptyPGresult(conn_, PGRES_PIPELINE_ABORTED));
  return true;
}

bool Session::EndTransaction(bool commit, std::string& error) {
  transactionWanted_ = false;
  const bool open = transactionOpen_, lost = transactionLost_;
  transactionLost_ = false;
  if (lost) {
    error = "the connection to the server was lost inside the transaction";
    return !commit;
  }
  if (!open) return true;
  static const Statement kCommit{"", "COMMIT"}, kRollback{"", "ROLLBACK"};
  std::vector<Result> results;
  const bool reached = Exchange({{commit ? &kCommit : &kRollback, nullptr}}, results, error);
  transactionOpen_ = false;
  if (!reached) return false;
  if (Failed(results[0].get())) {
    error = ErrorText(results[0].get());
    return false;
  }
  // COMMIT of a transaction that an error spoilt rolls it back instead.
  if (commit && std::strcmp(PQcmdStatus(results[0].get()), "COMMIT") != 0) {
    error = "the transaction was rolled back";
    return false;
  }
  return true;
}

void Session::ReadNotices() {
  if (!conn_) return;
  lastLook_ = SteadyNanoseconds();
  if (PQconsumeInput(conn_) != 1) {
    Drop();
    return;
  }
  while (PGnotify* n = PQnotifies(conn_)) {
    if (n->be_pid != backendPid_) ++foreign_[static_cast<std::uint32_t>(std::strtoul(n->extra, nullptr, 10))];
    PQfreemem(n);
  }
}

std::uint64_t Session::ForeignCommits(std::uint32_t relid, bool now) {
  if (now || SteadyNanoseconds() - lastLook_ >= kNoticeLookInterval) ReadNotices();
  return foreign_[relid];
}

}  // namespace recordmanager::pg
