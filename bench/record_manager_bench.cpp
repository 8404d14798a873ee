// The record manager against its storage used directly on the same data:
// random lookups, walks along key 0 both ways, inserts in a transaction.
// On SQLite files by default; with KITDB set, on that PostgreSQL server (in
// a schema of the benchmark's own, dropped at the end), the direct use being
// libpq with prepared statements. Ends with a table of ours / raw. On a
// shared machine the ratios hold best with the runs interleaved:
//   --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <endian.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "data/btrcall.h"
#include "data/engine/record_manager.h"

namespace {

using namespace recordmanager;
constexpr int kRecords = 100000;

std::string Key(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08d", n);
  return buf;
}

std::string Creation() {
  std::string c(32, '\0');
  c[0] = 64;  // 64-byte records
  c[3] = 4;   // page size 1024
  c[4] = 1;
  c[16] = 1;
  c[18] = 8;
  return c;
}

bool OnServer() {
  const char* server = std::getenv("KITDB");
  return server && *server;
}

// On a server, a schema of our own for the data file.
std::string ServerSchema() {
  static const std::string name = "rm_bench_" + std::to_string(::getpid());
  return name;
}

void QuietNotice(void*, const char*) {}

PGconn* Connect() {
  PGconn* conn = PQconnectdb(std::getenv("KITDB"));
  if (PQstatus(conn) != CONNECTION_OK) {
    std::fprintf(stderr, "cannot reach the server: %s", PQerrorMessage(conn));
    std::exit(1);
  }
  PQsetNoticeProcessor(conn, QuietNotice, nullptr);
  return conn;
}

// 100 000 records with the keys 0, 2, 4, ... Inserted in key order, the
// records lie in the file in the order a walk takes them. Inserted out of
// it, as in a file that grows over the years, each step of a walk lands
// somewhere else in the file, for us and for the direct use alike.
struct Fixture {
  std::string dir, path;
  unsigned char block[128] = {};
  explicit Fixture(bool shuffled) {
    if (OnServer()) ::setenv("KITDB_SCHEMA", ServerSchema().c_str(), 1);
    char tmpl[] = "/tmp/rmbenchXXXXXX";
    dir = mkdtemp(tmpl);
    path = dir + "/bench.dat";
    std::vector<int> order(kRecords);
    for (int i = 0; i < kRecords; ++i) order[static_cast<std::size_t>(i)] = i;
    if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(7));
    std::string c = Creation(), key = path;
    std::uint32_t len = static_cast<std::uint32_t>(c.size());
    BTRCALL(kCreate, block, c.data(), &len, key.data(), static_cast<std::uint8_t>(key.size()), -1);
    BTRCALL(kOpen, block, nullptr, &len, key.data(), static_cast<std::uint8_t>(key.size()), 0);
    BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
    for (int i : order) {
      std::string r = Key(i * 2) + std::string(56, 'x');
      std::uint32_t l = 64;
      char k[8];
      BTRCALL(kInsert, block, r.data(), &l, k, 8, 0);
    }
    BTRCALL(kEndTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
    if (!OnServer()) Checkpoint();
  }
  // Everything into the database file: whether the last automatic
  // checkpoint of the inserts got through would otherwise decide whether
  // every read looks its pages up in the log, and the figures would vary
  // from run to run.
  void Checkpoint() const {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
      sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
  }
  ~Fixture() {
    std::system(("rm -rf " + dir).c_str());
    if (OnServer()) {
      PGconn* conn = Connect();
      PQclear(PQexec(conn, ("DROP SCHEMA " + ServerSchema() + " CASCADE").c_str()));
      PQfinish(conn);
    }
  }
  // The data file's table on the server.
  std::string Table() const { return ServerSchema() + ".\"bench.dat\""; }
};

Fixture& Data() {
  static Fixture f(false);
  return f;
}
Fixture& UnorderedData() {
  static Fixture f(true);
  return f;
}

void OursGetEqual(benchmark::State& state) {
  auto& f = Data();
  std::mt19937 rng(1);
  std::string r(64, ' ');
  for (auto _ : state) {
    std::string k = Key(static_cast<int>(rng() % kRecords) * 2);
    std::uint32_t len = 64;
    benchmark::DoNotOptimize(BTRCALL(kGetEqual, f.block, r.data(), &len, k.data(), 8, 0));
  }
  state.SetItemsProcessed(state.iterations());
}

void OursWalk(benchmark::State& state, int first, int step, Fixture& f = Data()) {
  std::string r(64, ' '), k(8, '\0');
  std::int64_t rows = 0;
  for (auto _ : state) {
    std::uint32_t len = 64;
    for (std::int16_t s = BTRCALL(static_cast<std::uint16_t>(first), f.block, r.data(), &len, k.data(), 8, 0); s == 0;
         s = BTRCALL(static_cast<std::uint16_t>(step), f.block, r.data(), &len, k.data(), 8, 0))
      ++rows;
  }
  state.SetItemsProcessed(rows);
}
void OursGetNext(benchmark::State& s) { OursWalk(s, kGetFirst, kGetNext); }
void OursGetPrevious(benchmark::State& s) { OursWalk(s, kGetLast, kGetPrevious); }
void OursUnorderedGetNext(benchmark::State& s) { OursWalk(s, kGetFirst, kGetNext, UnorderedData()); }

void OursInsertInTransaction(benchmark::State& state) {
  auto& f = Data();
  // Counted on across the runs the library makes: every key is new, so that
  // no run measures refused duplicates.
  static int next = 0;
  std::uint32_t len = 0;
  bool failed = false;
  for (auto _ : state) {
    BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
    for (int i = 0; i < 1000; ++i) {
      std::string r = "I" + Key(next++).substr(1) + std::string(56, 'y');
      std::uint32_t l = 64;
      char k[8];
      if (BTRCALL(kInsert, f.block, r.data(), &l, k, 8, 0) != kOk) failed = true;
    }
    BTRCALL(kEndTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
  }
  if (failed) state.SkipWithError("an insert was refused");
  state.SetItemsProcessed(state.iterations() * 1000);
}

// SQLite used directly, with the connection settings the record manager
// uses (no mutexes, the same page cache and mapping, full sync), as a
// program of its own would: the record manager first lets go of the read
// it keeps open, whose locks would otherwise spare the direct use its own.

sqlite3* OpenLikeOurs(const std::string& path, int mode) {
  Rest();
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, mode | SQLITE_OPEN_NOMUTEX, nullptr);
  sqlite3_busy_timeout(db, 3000);
  sqlite3_exec(db, "PRAGMA synchronous=FULL; PRAGMA cache_size=-8192; PRAGMA mmap_size=268435456;", nullptr, nullptr,
               nullptr);
  return db;
}

void SqliteGetEqual(benchmark::State& state) {
  auto& f = Data();
  sqlite3* db = OpenLikeOurs(f.path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* st;
  sqlite3_prepare_v2(db, "SELECT data FROM records WHERE k0 = ?1", -1, &st, nullptr);
  std::mt19937 rng(1);
  for (auto _ : state) {
    std::string k = Key(static_cast<int>(rng() % kRecords) * 2);
    sqlite3_bind_blob(st, 1, k.data(), 8, SQLITE_TRANSIENT);
    benchmark::DoNotOptimize(sqlite3_step(st));
    benchmark::DoNotOptimize(sqlite3_column_blob(st, 0));
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

void SqliteWalk(benchmark::State& state, const char* sql, Fixture& f = Data()) {
  sqlite3* db = OpenLikeOurs(f.path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* st;
  sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
  std::int64_t rows = 0;
  for (auto _ : state) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_blob(st, 0));
      ++rows;
    }
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.SetItemsProcessed(rows);
}

// The same walk taking every column a cursor keeps of a record: its
// position, its bytes, its key image and its ordering number. Not a target:
// it shows how much of the gap to the walk above is the columns themselves.
void SqliteCursorWalk(benchmark::State& state) {
  auto& f = Data();
  sqlite3* db = OpenLikeOurs(f.path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* st;
  sqlite3_prepare_v2(db, "SELECT pos, data, k0, s0 FROM records ORDER BY k0, s0", -1, &st, nullptr);
  std::int64_t rows = 0;
  for (auto _ : state) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int64(st, 0));
      benchmark::DoNotOptimize(sqlite3_column_blob(st, 1));
      benchmark::DoNotOptimize(sqlite3_column_blob(st, 2));
      benchmark::DoNotOptimize(sqlite3_column_int64(st, 3));
      ++rows;
    }
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.SetItemsProcessed(rows);
}

void SqliteInsertInTransaction(benchmark::State& state) {
  auto& f = Data();
  sqlite3* db = OpenLikeOurs(f.path, SQLITE_OPEN_READWRITE);
  sqlite3_stmt* st;
  sqlite3_prepare_v2(db, "INSERT INTO records(data, k0, s0) VALUES(?1, ?2, 0)", -1, &st, nullptr);
  static int next = 0;
  bool failed = false;
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int i = 0; i < 1000; ++i) {
      std::string r = "R" + Key(next++).substr(1) + std::string(56, 'y');
      sqlite3_bind_blob(st, 1, r.data(), 64, SQLITE_TRANSIENT);
      sqlite3_bind_blob(st, 2, r.data(), 8, SQLITE_TRANSIENT);
      if (sqlite3_step(st) != SQLITE_DONE) failed = true;
      sqlite3_reset(st);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  if (failed) state.SkipWithError("an insert was refused");
  state.SetItemsProcessed(state.iterations() * 1000);
}

// The server used directly: prepared statements, binary results.

PGresult* RunPrepared(PGconn* conn, const char* name, const std::vector<std::string>& params) {
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const std::string& p : params) {
    values.push_back(p.data());
    lengths.push_back(static_cast<int>(p.size()));
    formats.push_back(1);
  }
  return PQexecPrepared(conn, name, static_cast<int>(params.size()), values.data(), lengths.data(), formats.data(), 1);
}

void ServerGetEqual(benchmark::State& state) {
  auto& f = Data();
  PGconn* conn = Connect();
  PQclear(PQprepare(conn, "get", ("SELECT data FROM " + f.Table() + " WHERE k0 = $1::bytea").c_str(), 0, nullptr));
  std::mt19937 rng(1);
  for (auto _ : state) {
    PGresult* r = RunPrepared(conn, "get", {Key(static_cast<int>(rng() % kRecords) * 2)});
    benchmark::DoNotOptimize(PQgetvalue(r, 0, 0));
    PQclear(r);
  }
  PQfinish(conn);
  state.SetItemsProcessed(state.iterations());
}

void ServerWalk(benchmark::State& state, const char* order) {
  auto& f = Data();
  PGconn* conn = Connect();
  PQclear(PQprepare(conn, "walk", ("SELECT data FROM " + f.Table() + " ORDER BY " + order).c_str(), 0, nullptr));
  std::int64_t rows = 0;
  for (auto _ : state) {
    PGresult* r = RunPrepared(conn, "walk", {});
    for (int i = 0; i < PQntuples(r); ++i) {
      benchmark::DoNotOptimize(PQgetvalue(r, i, 0));
      ++rows;
    }
    PQclear(r);
  }
  PQfinish(conn);
  state.SetItemsProcessed(rows);
}

void ServerInsertInTransaction(benchmark::State& state) {
  auto& f = Data();
  PGconn* conn = Connect();
  PQclear(PQprepare(conn, "insert",
                    ("INSERT INTO " + f.Table() + " (data, k0, s0) VALUES ($1::bytea, $2::bytea, 1)").c_str(), 0,
                    nullptr));
  static int next = 0;
  for (auto _ : state) {
    PQclear(PQexec(conn, "BEGIN"));
    for (int i = 0; i < 1000; ++i) {
      std::string r = "R" + Key(next++).substr(1) + std::string(56, 'y');
      PQclear(RunPrepared(conn, "insert", {r, r.substr(0, 8)}));
    }
    PQclear(PQexec(conn, "COMMIT"));
  }
  PQfinish(conn);
  state.SetItemsProcessed(state.iterations() * 1000);
}

void RawGetEqual(benchmark::State& s) { OnServer() ? ServerGetEqual(s) : SqliteGetEqual(s); }
void RawGetNext(benchmark::State& s) {
  OnServer() ? ServerWalk(s, "k0, s0") : SqliteWalk(s, "SELECT data FROM records ORDER BY k0, s0");
}
void RawUnorderedGetNext(benchmark::State& s) {
  SqliteWalk(s, "SELECT data FROM records ORDER BY k0, s0", UnorderedData());
}
void RawGetPrevious(benchmark::State& s) {
  OnServer() ? ServerWalk(s, "k0 DESC, s0 DESC") : SqliteWalk(s, "SELECT data FROM records ORDER BY k0 DESC, s0 DESC");
}
void RawInsertInTransaction(benchmark::State& s) {
  OnServer() ? ServerInsertInTransaction(s) : SqliteInsertInTransaction(s);
}

// On a server most of the time is spent waiting for it: real time. On
// files the processor time of this process, so that a busy machine does not
// blur the comparison (the rates are items per CPU second).
void Register(const char* name, void (*fn)(benchmark::State&), bool walk) {
  benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name, fn);
  if (walk) b->Unit(benchmark::kMillisecond);
  if (OnServer()) b->UseRealTime();
}

void RegisterAll() {
  Register("OursGetEqual", OursGetEqual, false);
  Register("RawGetEqual", RawGetEqual, false);
  Register("OursGetNext", OursGetNext, true);
  Register("RawGetNext", RawGetNext, true);
  if (!OnServer()) Register("RawCursorGetNext", SqliteCursorWalk, true);
  Register("OursGetPrevious", OursGetPrevious, true);
  Register("RawGetPrevious", RawGetPrevious, true);
  if (!OnServer()) {
    Register("OursUnorderedGetNext", OursUnorderedGetNext, true);
    Register("RawUnorderedGetNext", RawUnorderedGetNext, true);
  }
  Register("OursInsertInTransaction", OursInsertInTransaction, true);
  Register("RawInsertInTransaction", RawInsertInTransaction, true);
}

// Keeps each benchmark's rate for the closing table.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // With repetitions: the median.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) rates_[run.run_name.function_name] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    std::printf("\n%s: items per second, ours / raw\n", OnServer() ? "PostgreSQL server (real time)" : "SQLite files (CPU time)");
    for (const char* op : {"GetEqual", "GetNext", "GetPrevious", "InsertInTransaction"}) {
      auto ours = rates_.find(std::string("Ours") + op), raw = rates_.find(std::string("Raw") + op);
      if (ours == rates_.end() || raw == rates_.end() || raw->second <= 0) continue;
      std::printf("  %-20s %12.0f %12.0f   %5.2f\n", op, ours->second, raw->second, ours->second / raw->second);
    }
    // For information, not aims.
    Ratio("OursGetNext", "RawCursorGetNext", "(raw taking the four columns a cursor keeps)");
    Ratio("OursUnorderedGetNext", "RawUnorderedGetNext", "(records stored out of key order)");
  }

 private:
  void Ratio(const char* ours, const char* raw, const char* what) const {
    auto o = rates_.find(ours), r = rates_.find(raw);
    if (o != rates_.end() && r != rates_.end() && r->second > 0)
      std::printf("  %-20s %12.0f %12.0f   %5.2f   %s\n", "GetNext", o->second, r->second, o->second / r->second,
                  what);
  }
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  if (OnServer())
    std::printf("  round trips to the server: %lld\n", static_cast<long long>(recordmanager::ServerRoundTrips()));
  benchmark::Shutdown();
  return 0;
}
