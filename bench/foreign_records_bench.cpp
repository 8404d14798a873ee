// The report of the large property (bench/large_property.h) on two suite
// roots that differ only in 300 000 collections of other properties in the
// same collections file, half of them sorting before the property and half
// after it. The report should not cost more with them: the closing table
// gives the whole report's ratio, aimed at 1.10 at most, from the two roots
// measured in turn, and the same for its reads of the owners' collections
// (the only reads that meet those records) and for opening the module's
// files.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/budget.h"
#include "app/data_files.h"
#include "app/report.h"
#include "bench/cpu_time.h"
#include "bench/foreign_collections.h"
#include "bench/large_property.h"
#include "bench/record_keys.h"
#include "bench/record_loader.h"
#include "app/testing/scratch_suite_root.h"
#include "data/files.h"
#include "format/dates.h"
#include "records/layouts.h"

namespace {

namespace fs = std::filesystem;

constexpr int kForeignCollections = 300000;

// One suite root and the report that reads it.
class Root {
 public:
  explicit Root(bool foreign) {
    root_.WriteAdministratorSettings();
    Open();
    Fill(foreign);
    Leave();
  }
  ~Root() { Leave(); }
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  // Makes this root the session's, opens its files and works out the
  // property's periods.
  void Enter() {
    if (entered_) return;
    Open();
    if (!app::ComputePeriods(*report_).ok()) {
      std::fprintf(stderr, "the periods of the property could not be worked out\n");
      std::exit(1);
    }
  }
  void Leave() {
    if (!entered_) return;
    report_->channel.Close();
    report_->working.Close();
    data::ResetDataFiles();
    report_.reset();
    entered_ = false;
  }
  app::Report& report() { return *report_; }

 private:
  void Open() {
    root_.Enter("CAT");
    report_ = std::make_unique<app::Report>();
    bench::PrepareLargeReport(*report_);
    app::OpenModuleFiles(report_->areas);
    entered_ = true;
  }

  void Fill(bool foreign) {
    bench::RecordLoader loader(report_->areas);
    bench::FillLargeProperty(loader);
    if (foreign) bench::InsertForeignCollections(loader, kForeignCollections);
    loader.Commit();
  }

  app::testing::ScratchSuiteRoot root_;
  std::unique_ptr<app::Report> report_;
  bool entered_ = false;
};

Root& TheRoot(bool foreign) {
  static Root plain(false), crowded(true);
  Root& r = foreign ? crowded : plain;
  (foreign ? plain : crowded).Leave();
  return r;
}

void ReadCollections(Root& root) {
  if (!app::CollectOwnerIssues(root.report()).ok()) {
    std::fprintf(stderr, "the owners' collections could not be read\n");
    std::exit(1);
  }
}

void BM_OwnersCollections(benchmark::State& state) {
  Root& root = TheRoot(state.range(0) != 0);
  root.Enter();
  for (auto _ : state) ReadCollections(root);
  state.counters["owners"] = root.report().budget.OwnerCount;
  root.Leave();
}
BENCHMARK(BM_OwnersCollections)->Arg(0)->Arg(1)->ArgName("foreign")->Unit(benchmark::kMillisecond);

void BM_OpenFiles(benchmark::State& state) {
  Root& root = TheRoot(state.range(0) != 0);
  for (auto _ : state) {
    root.Enter();
    state.PauseTiming();
    root.Leave();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenFiles)->Arg(0)->Arg(1)->ArgName("foreign")->Unit(benchmark::kMillisecond);

void BM_WholeReport(benchmark::State& state) {
  Root& root = TheRoot(state.range(0) != 0);
  root.Enter();
  for (auto _ : state) bench::WholeReport(root.report());
  root.Leave();
}
BENCHMARK(BM_WholeReport)->Arg(0)->Arg(1)->ArgName("foreign")->Unit(benchmark::kMillisecond);

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The two roots taken in turn, so that a machine busy with other work
// weighs on both alike: the median CPU time of each, and their ratio.
void PrintComparison() {
  constexpr int kRounds = 15;
  std::vector<double> report[2], read[2], open[2];
  for (int round = 0; round < kRounds; ++round) {
    for (int foreign = 0; foreign < 2; ++foreign) {
      Root& root = TheRoot(foreign != 0);
      double start = bench::CpuMilliseconds();
      root.Enter();
      open[foreign].push_back(bench::CpuMilliseconds() - start);
      ReadCollections(root);  // warms the caches as a run of the report would
      start = bench::CpuMilliseconds();
      for (int i = 0; i < 3; ++i) ReadCollections(root);
      read[foreign].push_back((bench::CpuMilliseconds() - start) / 3);
      bench::WholeReport(root.report());
      start = bench::CpuMilliseconds();
      for (int i = 0; i < 2; ++i) bench::WholeReport(root.report());
      report[foreign].push_back((bench::CpuMilliseconds() - start) / 2);
      root.Leave();
    }
  }
  std::printf("\nWith %d collections of other properties in the file (median CPU ms of %d rounds taken in turn):\n",
              kForeignCollections, kRounds);
  std::printf("  %-34s %9s %9s %7s\n", "", "without", "with", "ratio");
  const double ratio = Median(report[1]) / Median(report[0]);
  std::printf("  %-34s %9.3f %9.3f %7.2f  aim 1.10: %s\n", "the whole report", Median(report[0]),
              Median(report[1]), ratio, ratio <= 1.10 ? "met" : "NOT MET");
  std::printf("  %-34s %9.3f %9.3f %7.2f\n", "the owners' collections, read", Median(read[0]), Median(read[1]),
              Median(read[1]) / Median(read[0]));
  std::printf("  %-34s %9.3f %9.3f %7.2f\n", "opening the module's files", Median(open[0]), Median(open[1]),
              Median(open[1]) / Median(open[0]));
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path start = fs::current_path();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  PrintComparison();
  fs::current_path(start);
  benchmark::Shutdown();
  return 0;
}
