// The owners' collections of one property, read as the report reads them
// (every owner of the property, then each owner's collections of the next
// period), on two suite roots that differ only in 300 000 collections of
// other properties in the same collections file, half of them sorting
// before the property and half after it. The report's reads should not
// cost more with them: the closing table gives the ratio, aimed at 1.10 at
// most, from the two roots measured in turn. Opening the module's files is
// timed too, since the record count of a file is taken when it is opened.
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
#include "bench/record_keys.h"
#include "bench/record_loader.h"
#include "app/testing/scratch_suite_root.h"
#include "data/files.h"
#include "format/dates.h"
#include "records/layouts.h"

namespace {

namespace fs = std::filesystem;

constexpr int kProperty = 7;
constexpr int kOwners = 999;
constexpr int kCollections = 12000;
constexpr int kForeignCollections = 300000;
// Other properties: half sort before the property's code, half after it.
constexpr int kForeignProperties[] = {3, 11};

// One suite root and the report that reads it.
class Root {
 public:
  explicit Root(bool foreign) {
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
    data::ResetDataFiles();
    report_.reset();
    entered_ = false;
  }
  app::Report& report() { return *report_; }

 private:
  void Open() {
    root_.Enter("CAT");
    report_ = std::make_unique<app::Report>();
    app::OpenModuleFiles(report_->areas);
    report_->parameters.PropertyCode = bench::PropertyCode(kProperty);
    report_->parameters.ReportDate = format::PackDate(2024, 11, 15);
    entered_ = true;
  }

  void Fill(bool foreign) {
    bench::RecordLoader loader(report_->areas);
    loader.Insert(app::kPropertiesFile, [](std::span<char> area) {
      const records::Property r{area};
      r.SetCode(bench::PropertyCode(kProperty));
      r.SetName("PROVENCA, 12");
      r.SetFirstMonth(1);
      r.SetPeriodMonths(12);
    });
    for (int n = 1; n <= kOwners; ++n)
      loader.Insert(app::kOwnersFile,
                    [n](std::span<char> area) { records::Owner{area}.SetKey(bench::OwnerKey(kProperty, n)); });
    // Every owner in turn, on the 1st and the 15th of the months of 2025.
    for (int i = 0; i < kCollections; ++i) {
      loader.Insert(app::kCollectionsFile, [i](std::span<char> area) {
        const int owner = i % kOwners + 1, round = i / kOwners;
        const records::Collection r{area};
        r.SetOwnerKey(bench::OwnerKey(kProperty, owner));
        r.SetDate(format::PackDate(2025, round / 2 + 1, round % 2 == 0 ? 1 : 15));
        r.SetAmount(4000 + owner * 3);
      });
    }
    if (foreign) {
      // The other properties' collections over 2024 and 2025.
      for (int i = 0; i < kForeignCollections; ++i) {
        loader.Insert(app::kCollectionsFile, [i](std::span<char> area) {
          const int property = kForeignProperties[i % 2];
          const int owner = i / 2 % kOwners + 1, round = i / 2 / kOwners;
          const records::Collection r{area};
          r.SetOwnerKey(bench::OwnerKey(property, owner));
          r.SetDate(format::PackDate(2024 + round / 140 % 2, round / 12 % 12 + 1, round % 12 + 1));
          r.SetAmount(3000 + owner);
        });
      }
    }
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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The two roots taken in turn, so that a machine busy with other work
// weighs on both alike: the median CPU time of each, and their ratio.
void PrintComparison() {
  constexpr int kRounds = 15;
  std::vector<double> read[2], open[2];
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
      root.Leave();
    }
  }
  std::printf("\nWith %d collections of other properties in the file (median CPU ms of %d rounds taken in turn):\n",
              kForeignCollections, kRounds);
  std::printf("  %-34s %9s %9s %7s\n", "", "without", "with", "ratio");
  const double ratio = Median(read[1]) / Median(read[0]);
  std::printf("  %-34s %9.3f %9.3f %7.2f  aim 1.10: %s\n", "the owners' collections, read", Median(read[0]),
              Median(read[1]), ratio, ratio <= 1.10 ? "met" : "NOT MET");
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
