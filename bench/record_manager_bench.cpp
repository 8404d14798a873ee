// The record manager against SQLite used directly on the same database:
// random lookups, walks along key 0 both ways, inserts in a transaction.
// Each pair reports items per second; compare the ours/raw pairs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

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

struct Fixture {
  std::string dir, path;
  unsigned char block[128] = {};
  Fixture() {
    char tmpl[] = "/tmp/rmbenchXXXXXX";
    dir = mkdtemp(tmpl);
    path = dir + "/bench.dat";
    std::string c = Creation(), key = path;
    std::uint32_t len = static_cast<std::uint32_t>(c.size());
    BTRCALL(kCreate, block, c.data(), &len, key.data(), static_cast<std::uint8_t>(key.size()), -1);
    BTRCALL(kOpen, block, nullptr, &len, key.data(), static_cast<std::uint8_t>(key.size()), 0);
    BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
    for (int i = 0; i < kRecords; ++i) {
      std::string r = Key(i * 2) + std::string(56, 'x');
      std::uint32_t l = 64;
      char k[8];
      BTRCALL(kInsert, block, r.data(), &l, k, 8, 0);
    }
    BTRCALL(kEndTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
  }
  ~Fixture() { std::system(("rm -rf " + dir).c_str()); }
};

Fixture& Data() {
  static Fixture f;
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

void RawGetEqual(benchmark::State& state) {
  auto& f = Data();
  sqlite3* db;
  sqlite3_open_v2(f.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
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

void OursWalk(benchmark::State& state, int first, int step) {
  auto& f = Data();
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

void RawWalk(benchmark::State& state, const char* sql) {
  auto& f = Data();
  sqlite3* db;
  sqlite3_open_v2(f.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
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
void RawGetNext(benchmark::State& s) { RawWalk(s, "SELECT data FROM records ORDER BY k0, s0"); }
void RawGetPrevious(benchmark::State& s) { RawWalk(s, "SELECT data FROM records ORDER BY k0 DESC, s0 DESC"); }

void OursInsertInTransaction(benchmark::State& state) {
  auto& f = Data();
  int next = 0;
  std::uint32_t len = 0;
  for (auto _ : state) {
    BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
    for (int i = 0; i < 1000; ++i) {
      std::string r = "I" + Key(next++).substr(1) + std::string(56, 'y');
      std::uint32_t l = 64;
      char k[8];
      BTRCALL(kInsert, f.block, r.data(), &l, k, 8, 0);
    }
    BTRCALL(kEndTransaction, nullptr, nullptr, &len, nullptr, 0, 0);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}

void RawInsertInTransaction(benchmark::State& state) {
  auto& f = Data();
  sqlite3* db;
  sqlite3_open_v2(f.path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  sqlite3_stmt* st;
  sqlite3_prepare_v2(db, "INSERT INTO records(data, k0, s0) VALUES(?1, ?2, 0)", -1, &st, nullptr);
  int next = 0;
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int i = 0; i < 1000; ++i) {
      std::string r = "R" + Key(next++).substr(1) + std::string(56, 'y');
      sqlite3_bind_blob(st, 1, r.data(), 64, SQLITE_TRANSIENT);
      sqlite3_bind_blob(st, 2, r.data(), 8, SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * 1000);
}

BENCHMARK(OursGetEqual);
BENCHMARK(RawGetEqual);
BENCHMARK(OursGetNext)->Unit(benchmark::kMillisecond);
BENCHMARK(RawGetNext)->Unit(benchmark::kMillisecond);
BENCHMARK(OursGetPrevious)->Unit(benchmark::kMillisecond);
BENCHMARK(RawGetPrevious)->Unit(benchmark::kMillisecond);
BENCHMARK(OursInsertInTransaction)->Unit(benchmark::kMillisecond);
BENCHMARK(RawInsertInTransaction)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
