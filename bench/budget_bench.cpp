// The budget of a large property: one property of 999 owners with seven
// coefficient columns, 200 expense concepts, 20 000 payments in the current
// period and 12 000 collections in the next. Times building the working
// budget, the distribution (with the receipt update) and both listings with
// one copy each; the whole should stay under 30 ms of CPU and under twice
// the raw floor: the same records read straight through SQLite with the
// same connection settings, the same owner records rewritten and the same
// print file written. Then a copy of the distribution for every owner
// ("P" copies, about a million owner lines), under 2 s of CPU.
//
// With KITDB set the data files live on that PostgreSQL server (in a schema
// of the benchmark's own, dropped at the end), and the figures include the
// round trips to the server: a report should need at most 1 200 of them
// and under a second on a local server.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "app/budget.h"
#include "app/data_files.h"
#include "app/distribution.h"
#include "app/listings.h"
#include "app/report.h"
#include "bench/cpu_time.h"
#include "bench/record_keys.h"
#include "bench/record_loader.h"
#include "app/testing/scratch_suite_root.h"
#include "bench/server_schema.h"
#include "config/session.h"
#include "data/engine/record_manager.h"
#include "data/files.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "records/layouts.h"

namespace {

namespace fs = std::filesystem;

constexpr int kProperty = 7;
constexpr int kOwners = 999;
constexpr int kConcepts = 200;
constexpr int kPayments = 20000;
constexpr int kCollections = 12000;

std::string OwnerKey(int owner) { return bench::OwnerKey(kProperty, owner); }
// Concepts are spread over the seven columns in turn.
int ConceptColumn(int i) { return i % app::kColumns + 1; }

// The report the benchmarks run, on the suite root below.
app::Report& TheReport() {
  static app::Report report;
  return report;
}

// The coefficient of owner n in column k (1 = A); column A shares out
// exactly 1 000 000, the others leave some owners out.
std::int32_t Coefficient(int n, int k) {
  if (k == 1) return 1000000 / kOwners + (n <= 1000000 % kOwners ? 1 : 0);
  if (n % (k + 1) == 0) return 0;
  return 500 + (n * 37 + k * 11) % 1000;
}

// The suite root, built once, in a scratch directory that is also the
// current directory while the benchmarks run.
class SuiteRoot {
 public:
  SuiteRoot() {
    root_.WriteAdministratorSettings();
    root_.Enter("CAT");
    app::Report& report = TheReport();
    report.fees.VatRate = {21.0F, 10.0F};
    app::OpenModuleFiles(report.areas);
    report.parameters.PropertyCode = bench::PropertyCode(kProperty);
    report.parameters.ReportDate = format::PackDate(2024, 11, 15);
    Fill();
    // The distribution and the listings work on a built budget.
    report.working.Open();
    app::BuildBudget(report);
  }
  ~SuiteRoot() {
    TheReport().channel.Close();
    TheReport().working.Close();
    data::ResetDataFiles();
  }

 private:
  void Fill() {
    bench::RecordLoader loader(TheReport().areas);
    loader.Insert(app::kPropertiesFile, [](std::span<char> area) {
      const records::Property r{area};
      r.SetCode(bench::PropertyCode(kProperty));
      r.SetName("PROVENCA, 12 *C.P.");
      r.SetFirstMonth(1);
      r.SetPeriodMonths(12);
      r.SetFeePerOwnerMonth(650);
      r.SetTaxId("ESH08123456");
      for (int k = 2; k <= app::kColumns; ++k) {
        std::int32_t total = 0;
        for (int n = 1; n <= kOwners; ++n) total += Coefficient(n, k);
        r.SetColumnTotal(k, total);
        r.SetColumnName(k, std::string("COLUMNA ") + app::kColumnLetters[static_cast<std::size_t>(k - 1)]);
      }
    });
    for (int n = 1; n <= kOwners; ++n) {
      loader.Insert(app::kOwnersFile, [n](std::span<char> area) {
        const records::Owner r{area};
        r.SetKey(OwnerKey(n));
        r.SetDepartment(std::to_string(n / 4 + 1) + "r " + std::to_string(n % 4 + 1) + "a");
        for (int k = 1; k <= app::kColumns; ++k) r.SetCoefficient(k, Coefficient(n, k));
        r.SetSlotPeriodicity(1, static_cast<std::int16_t>(n % 2 == 0 ? 1 : 3));
      });
    }
    for (int i = 0; i < kConcepts; ++i) {
      loader.Insert(app::kConceptsFile, [i](std::span<char> area) {
        const records::Concept r{area};
        r.SetCode(bench::ConceptCode(i));
        r.SetDescription("CONCEPTE " + format::ZeroPad(i + 1, 3));
      });
    }
    loader.Insert(app::kConceptColumnsFile, [](std::span<char> area) {
      const records::ConceptColumns r{area};
      r.SetPropertyCode(bench::PropertyCode(kProperty));
      for (int i = 0; i < kConcepts; ++i) {
        r.SetEntryConcept(i + 1, bench::ConceptCode(i));
        r.SetEntryColumn(i + 1, app::kColumnLetters[static_cast<std::size_t>(ConceptColumn(i) - 1)]);
      }
    });
    // Stored variations for two concepts in three: a percentage or an amount.
    for (int i = 0; i < kConcepts; ++i) {
      if (i % 3 == 2) continue;
      loader.Insert(app::kStoredBudgetFile, [i](std::span<char> area) {
        const records::StoredLine r{area};
        r.SetPropertyCode(bench::PropertyCode(kProperty));
        r.SetConcept(bench::ConceptCode(i));
        r.SetColumn(app::kColumnLetters[static_cast<std::size_t>(ConceptColumn(i) - 1)]);
        r.SetPercent(i % 3 == 0 ? 105000 + 1000 * (i % 10) : 0);
        r.SetAmount(i % 3 == 1 ? 5000 * (i % 7) : 0);
        r.SetBudget(0);
      });
    }
    // Payments of 2024: most to a concept in its column, some to a column's
    // miscellaneous line, some particular.
    for (int i = 0; i < kPayments; ++i) {
      loader.Insert(app::kPaymentsFile, [i](std::span<char> area) {
        const int expense = i % kConcepts;
        int column = ConceptColumn(expense);
        std::string conceptCode = bench::ConceptCode(expense);
        char kind = 'N';
        if (i % 41 == 0) {
          conceptCode = "  ";
          column = i % app::kColumns + 1;
        } else if (i % 97 == 0) {
          conceptCode = "  ";
          kind = 'S';
          column = 0;
        }
        const records::Payment r{area};
        r.SetPropertyCode(bench::PropertyCode(kProperty));
        r.SetDate(format::PackDate(2024, i % 12 + 1, i % 28 + 1));
        r.SetConcept(conceptCode);
        r.SetDescription("FACTURA " + std::to_string(i + 1));
        r.SetAmount(1000 + (i * 7919) % 90000);
        r.SetKind(kind);
        r.SetColumnNumber(format::PackDigits(format::ZeroPad(column, 4)).substr(0, 2));
      });
    }
    // Collections of 2025: every owner in turn, on the 1st and the 15th
    // from January on, so owners stop at different months.
    for (int i = 0; i < kCollections; ++i) {
      loader.Insert(app::kCollectionsFile, [i](std::span<char> area) {
        const int owner = i % kOwners + 1;
        const int round = i / kOwners;
        const records::Collection r{area};
        r.SetOwnerKey(OwnerKey(owner));
        r.SetDate(format::PackDate(2025, round / 2 + 1, round % 2 == 0 ? 1 : 15));
        r.SetAmount(4000 + owner * 3);
      });
    }
    loader.Commit();
  }

  app::testing::ScratchSuiteRoot root_;
};

SuiteRoot& Root() {
  static SuiteRoot root;
  return root;
}

// The three phases as a run does them.
void BuildPhase() {
  TheReport().working.Open();
  app::BuildBudget(TheReport());
}
void DistributionPhase() {
  app::Report& report = TheReport();
  report.parameters.DistributionCopies = 0;
  report.parameters.BudgetCopies = 0;
  report.parameters.UpdatePeriodicity = 3;
  report.parameters.UpdateSlot = 2;
  app::DistributionListing nothingPrinted(report);  // no copies: only the update
  app::DistributeBudget(report, nothingPrinted);
}
// Prints the listings with the copies given, nothing updated.
void PrintOnly(std::int16_t distributionCopies, std::int16_t budgetCopies) {
  app::Report& report = TheReport();
  report.parameters.DistributionCopies = distributionCopies;
  report.parameters.BudgetCopies = budgetCopies;
  report.parameters.UpdatePeriodicity = 0;
  report.parameters.UpdateSlot = 0;
  report.channel.Open(config::Session().OutputDest);
  app::PrintReport(report);
  report.channel.Close();
  if (report.channel.Failed()) std::fprintf(stderr, "the print file could not be written\n");
}
void ListingsPhase() {
  // The receipts were updated by the distribution: print only.
  PrintOnly(1, 1);
}

std::uintmax_t PrintFileSize() {
  std::error_code ec;
  return fs::file_size(fs::path(config::Session().TempDir) / "kitprint.tmp", ec);
}

void BM_BuildBudget(benchmark::State& state) {
  Root();
  for (auto _ : state) BuildPhase();
  state.counters["lines"] = TheReport().working.Count();
}
BENCHMARK(BM_BuildBudget)->Unit(benchmark::kMillisecond);

// Replacing the property's stored budget: one transaction, synced to disk.
void BM_SaveStoredBudget(benchmark::State& state) {
  Root();
  BuildPhase();
  for (auto _ : state)
    if (!app::SaveStoredBudget(TheReport()).ok()) std::abort();
  state.counters["lines"] = TheReport().working.Count();
}
BENCHMARK(BM_SaveStoredBudget)->Unit(benchmark::kMillisecond);

void BM_Distribution(benchmark::State& state) {
  Root();
  BuildPhase();
  for (auto _ : state) DistributionPhase();
  state.counters["owners"] = TheReport().budget.OwnerCount;
}
BENCHMARK(BM_Distribution)->Unit(benchmark::kMillisecond);

void BM_Listings(benchmark::State& state) {
  Root();
  BuildPhase();
  for (auto _ : state) ListingsPhase();
  state.counters["print_bytes"] = static_cast<double>(PrintFileSize());
}
BENCHMARK(BM_Listings)->Unit(benchmark::kMillisecond);

void BM_WholeReport(benchmark::State& state) {
  Root();
  for (auto _ : state) {
    BuildPhase();
    DistributionPhase();
    ListingsPhase();
  }
}
BENCHMARK(BM_WholeReport)->Unit(benchmark::kMillisecond);

// "P" copies: one copy of the distribution for every owner, nothing
// updated.
void OwnerCopiesPhase() { PrintOnly(-1, 0); }

void BM_OwnerCopies(benchmark::State& state) {
  if (bench::OnServer()) {
    state.SkipWithError("a million owner reads from a server: run on SQLite files");
    return;
  }
  Root();
  BuildPhase();
  for (auto _ : state) OwnerCopiesPhase();
  state.counters["owner_lines"] = static_cast<double>(TheReport().budget.OwnerCount) * TheReport().budget.OwnerCount;
  state.counters["print_bytes"] = static_cast<double>(PrintFileSize());
}
BENCHMARK(BM_OwnerCopies)->Unit(benchmark::kMillisecond)->Iterations(1);

// The raw floor of the whole report: what it reads, straight through
// SQLite with the connection settings of the record manager, the owner
// records it rewrites, and the print file it writes.
class RawFloor {
 public:
  RawFloor() {
    Root();
    const app::Report& report = TheReport();
    code_ = report.parameters.PropertyCode;
    const app::BudgetState& b = report.budget;
    periodStart_ = b.PeriodStart;
    periodEnd_ = b.PeriodEnd;
    nextStart_ = b.NextStart;
    nextEnd_ = b.NextEnd;
    // The bytes of one report's print file.
    ListingsPhase();
    std::ifstream in(fs::path(config::Session().TempDir) / "kitprint.tmp", std::ios::binary);
    printBytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  RawFloor(const RawFloor&) = delete;
  RawFloor& operator=(const RawFloor&) = delete;

  // One report's worth; returns the records read.
  long Run() {
    // As a program of its own: the report's files keep no read open whose
    // locks would spare the floor its own.
    recordmanager::Rest();
    rows_ = 0;
    Database properties("FinquesH"), concepts("TDespesa"), conceptColumns("FinDespH"), owners("PropietH"),
        collections("CobramH"), payments("PagamH"), stored("PressupH");
    // Building: the property, its owners with their collections of the
    // next period, the concepts and their columns, the stored budget, the
    // payments of the period.
    Walk(properties, code_, code_);
    std::vector<std::string> ownerKeys;
    std::vector<std::int64_t> ownerPositions;
    Walk(owners, code_, code_, [&](sqlite3_stmt* st) {
      ownerKeys.emplace_back(Blob(st, 2).substr(0, 4));
      ownerPositions.push_back(sqlite3_column_int64(st, 0));
    });
    for (const std::string& key : ownerKeys) Walk(collections, key + nextStart_, key + nextEnd_);
    Walk(conceptColumns, code_, code_);
    Walk(concepts, std::string(2, '\0'), std::string(2, '\xFF'));
    Walk(stored, code_, code_);
    Walk(payments, code_ + periodStart_, code_ + periodEnd_);
    // The distribution: the owners again, each rewritten in one transaction.
    std::vector<std::string> records;
    Walk(owners, code_, code_, [&](sqlite3_stmt* st) { records.emplace_back(Blob(st, 1)); });
    owners.Exec("BEGIN IMMEDIATE");
    sqlite3_stmt* update = owners.Prepare("UPDATE records SET data = ?1 WHERE pos = ?2");
    for (std::size_t i = 0; i < records.size() && i < ownerPositions.size(); ++i) {
      sqlite3_bind_blob(update, 1, records[i].data(), static_cast<int>(records[i].size()), SQLITE_STATIC);
      sqlite3_bind_int64(update, 2, ownerPositions[i]);
      if (sqlite3_step(update) != SQLITE_DONE) std::fprintf(stderr, "floor: update failed\n");
      sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    owners.Exec("COMMIT");
    // The listings: the owners once more, and the print file.
    Walk(owners, code_, code_);
    const std::string path = (fs::path(config::Session().TempDir) / "floor.tmp").string();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(printBytes_.data(), 1, printBytes_.size(), f);
      std::fclose(f);
    }
    return rows_;
  }

 private:
  class Database {
   public:
    explicit Database(const char* name) {
      const std::string path = PathOf(name);
      if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        std::fprintf(stderr, "floor: cannot open %s\n", path.c_str());
      sqlite3_busy_timeout(db_, 3000);
      Exec("PRAGMA synchronous=FULL; PRAGMA cache_size=-8192; PRAGMA mmap_size=268435456;");
      walk_ = Prepare("SELECT pos, data, k0 FROM records WHERE k0 >= ?1 ORDER BY k0, s0");
    }
    ~Database() {
      sqlite3_finalize(walk_);
      sqlite3_close_v2(db_);
    }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    void Exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    sqlite3_stmt* Prepare(const char* sql) {
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK)
        std::fprintf(stderr, "floor: %s: %s\n", sql, sqlite3_errmsg(db_));
      return st;
    }
    sqlite3_stmt* walk() const { return walk_; }

   private:
    // The data file of that name under DADES (the data layer gives it the
    // extension ".dat").
    static std::string PathOf(const char* name) {
      return (fs::path(config::Session().RootDir) / "DADES" / (std::string(name) + ".dat")).string();
    }
    sqlite3* db_ = nullptr;
    sqlite3_stmt* walk_ = nullptr;
  };

  static std::string Blob(sqlite3_stmt* st, int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(st, column));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(st, column))) : std::string();
  }

  // The records whose key 0 lies from `first` to `last` (compared on the
  // length of `last`), in key order.
  void Walk(Database& db, const std::string& first, const std::string& last,
            const std::function<void(sqlite3_stmt*)>& each = {}) {
    sqlite3_stmt* st = db.walk();
    sqlite3_bind_blob(st, 1, first.data(), static_cast<int>(first.size()), SQLITE_STATIC);
    while (sqlite3_step(st) == SQLITE_ROW) {
      const auto* key = static_cast<const char*>(sqlite3_column_blob(st, 2));
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(st, 2));
      if (std::string_view(key, std::min(size, last.size())) > last) break;
      if (each) each(st);
      ++rows_;
    }
    sqlite3_reset(st);
  }

  std::string code_, periodStart_, periodEnd_, nextStart_, nextEnd_;
  std::string printBytes_;
  long rows_ = 0;
};

RawFloor& Floor() {
  static RawFloor floor;
  return floor;
}

void BM_RawFloor(benchmark::State& state) {
  if (bench::OnServer()) {
    state.SkipWithError("the raw floor reads SQLite files");
    return;
  }
  RawFloor& floor = Floor();
  long rows = 0;
  for (auto _ : state) rows = floor.Run();
  state.counters["records"] = static_cast<double>(rows);
}
BENCHMARK(BM_RawFloor)->Unit(benchmark::kMillisecond);

// The least CPU time of a few runs of `work`.
double LeastCpu(const std::function<void()>& work, int runs) {
  double least = 1e300;
  for (int i = 0; i < runs; ++i) {
    const double start = bench::CpuMilliseconds();
    work();
    least = std::min(least, bench::CpuMilliseconds() - start);
  }
  return least;
}

struct Figures {
  double milliseconds = 0;
  std::int64_t roundTrips = 0;
};

Figures Measure(void (*phase)()) {
  const std::int64_t trips = recordmanager::ServerRoundTrips();
  const auto start = std::chrono::steady_clock::now();
  phase();
  return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
          recordmanager::ServerRoundTrips() - trips};
}

void SavePhase() {
  if (const app::StepResult r = app::SaveStoredBudget(TheReport()); !r.ok())
    std::fprintf(stderr, "saving the stored budget failed: %s\n", r.failure().c_str());
}

void PrintLine(const char* what, const Figures& f) {
  if (bench::OnServer())
    std::printf("  %-22s %9.2f ms %7lld round trips\n", what, f.milliseconds, static_cast<long long>(f.roundTrips));
  else
    std::printf("  %-22s %9.2f ms\n", what, f.milliseconds);
}

// One report run after the benchmarks, phase by phase, against the aim.
void PrintPhaseFigures() {
  Root();
  const Figures build = Measure(BuildPhase);
  // The build again, step by step, to show where its time goes.
  TheReport().working.Open();
  const Figures periods = Measure([] { app::ComputePeriods(TheReport()); });
  const Figures issued = Measure([] { app::CollectOwnerIssues(TheReport()); });
  const Figures working = Measure([] { app::BuildWorkingBudget(TheReport()); });
  const Figures save = Measure(SavePhase);
  const Figures distribution = Measure(DistributionPhase);
  const Figures listings = Measure(ListingsPhase);
  const Figures total{build.milliseconds + distribution.milliseconds + listings.milliseconds,
                      build.roundTrips + distribution.roundTrips + listings.roundTrips};
  std::printf("\nOne run on %s: %d owners, %d working lines, total budget %d cents\n",
              bench::OnServer() ? "the server named by KITDB" : "SQLite files", TheReport().budget.OwnerCount,
              TheReport().working.Count(), TheReport().budget.TotalBudget);
  PrintLine("building the budget", build);
  PrintLine("  periods", periods);
  PrintLine("  issued amounts", issued);
  PrintLine("  working budget", working);
  PrintLine("saving the budget", save);
  PrintLine("distribution", distribution);
  PrintLine("both listings", listings);
  PrintLine("whole report", total);
  if (bench::OnServer()) {
    const bool met = total.roundTrips <= 1200 && total.milliseconds < 1000.0;
    std::printf("  aim on a server: at most 1200 round trips and under 1000 ms: %s\n", met ? "met" : "NOT MET");
    PrintLine("report with the save", Figures{total.milliseconds + save.milliseconds, total.roundTrips + save.roundTrips});
  } else {
    std::printf("  aim: under 500 ms: %s\n", total.milliseconds < 500.0 ? "met" : "NOT MET");
    // CPU time, the least of five runs each, against the raw floor.
    const double ours = LeastCpu([] {
      BuildPhase();
      DistributionPhase();
      ListingsPhase();
    }, 5);
    long rows = 0;
    const double floor = LeastCpu([&rows] { rows = Floor().Run(); }, 5);
    std::printf("  whole report, CPU       %9.2f ms (aim: at most 30 ms: %s)\n", ours, ours <= 30.0 ? "met" : "NOT MET");
    std::printf("  raw floor, CPU          %9.2f ms (%ld records read through SQLite, the owners rewritten,\n"
                "                                       the print file written)\n",
                floor, rows);
    std::printf("  report / floor          %9.2f    (aim: at most 2: %s)\n", ours / floor,
                ours <= 2 * floor ? "met" : "NOT MET");
  }
}

}  // namespace

// "P" copies once more, by CPU time, against the aim.
void PrintOwnerCopiesFigures() {
  Root();
  BuildPhase();
  const double cpu = LeastCpu(OwnerCopiesPhase, 1);
  const int owners = TheReport().budget.OwnerCount;
  std::printf("\n\"P\" copies: %d copies of %d owner lines, print file %.1f MiB\n", owners, owners,
              static_cast<double>(PrintFileSize()) / (1024.0 * 1024.0));
  std::printf("  CPU                     %9.2f ms (aim: at most 2000 ms: %s)\n", cpu, cpu <= 2000.0 ? "met" : "NOT MET");
}

// True unless --benchmark_filter leaves the copies for every owner out.
bool OwnerCopiesAsked(int argc, char** argv) {
  const std::string flag = "--benchmark_filter=";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(flag, 0) != 0) continue;
    const std::string filter = arg.substr(flag.size());
    try {
      return filter.empty() || filter == "all" || std::regex_search("BM_OwnerCopies", std::regex(filter));
    } catch (const std::regex_error&) {
      return true;
    }
  }
  return true;
}

int main(int argc, char** argv) {
  bench::ServerSchema schema("budget_bench");
  const bool ownerCopies = OwnerCopiesAsked(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  PrintPhaseFigures();
  if (!bench::OnServer() && ownerCopies) PrintOwnerCopiesFigures();
  benchmark::Shutdown();
  return 0;
}
