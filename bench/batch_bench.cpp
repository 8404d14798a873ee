// The batch of an administrator with fifty associations: 50 properties of
// 100 owners each (three coefficient columns), 30 expense concepts, 120
// payments per property in the current period and four collections per
// owner in the next. Times "repquota batch" over all of them, in process:
// the print files alone, with the figures as CSV, with the receipts
// updated, with a copy of the distribution for every owner, and as a dry
// run with the receipt update worked out. PDF documents are left out: they
// time the print program, not the batch.
//
// With KITDB set the data files live on that PostgreSQL server, in a schema
// of the benchmark's own, dropped at the end; round_trips_per_property then
// counts the server round trips.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/data_files.h"
#include "app/module.h"
#include "app/records.h"
#include "app/report.h"
#include "bench/record_keys.h"
#include "bench/record_loader.h"
#include "bench/server_schema.h"
#include "app/testing/scratch_suite_root.h"
#include "config/session.h"
#include "data/engine/record_manager.h"
#include "data/files.h"
#include "format/dates.h"
#include "format/numbers.h"

namespace {

namespace fs = std::filesystem;

constexpr int kProperties = 50;
constexpr int kOwners = 100;
constexpr int kConcepts = 30;
constexpr int kPayments = 120;

char ConceptColumn(int i) { return "ABC"[i % 3]; }

app::Report& TheReport() {
  static app::Report report;
  return report;
}

// The suite root, built once, in a scratch directory that is also the
// current directory while the benchmarks run.
class SuiteRoot {
 public:
  SuiteRoot() {
    fs::create_directories(root_.Folder("out"));
    fs::create_directories(root_.Folder("csv"));
    root_.WriteAdministratorSettings("[Iva0]\r\nHonoraris=21\r\n");
    root_.Enter("CAT");
    config::Session().WorkDate = format::PackDate(2024, 11, 15);
    app::OpenModuleFiles(TheReport().areas);
    TheReport().fees = app::ReadFeeSettings();
    Fill();
  }
  ~SuiteRoot() {
    TheReport().working.Close();
    data::ResetDataFiles();
  }
  std::string Folder(const char* name) const { return root_.Folder(name); }

 private:
  void Fill() {
    bench::RecordLoader loader(TheReport().areas);
    for (int i = 0; i < kConcepts; ++i)
      loader.Insert(app::kConceptsFile, [i](std::span<char> area) {
        const app::records::Concept expense{area};
        expense.SetCode(i == 0 ? std::string("HO") : bench::ConceptCode(i));
        expense.SetDescription("CONCEPTE " + format::ZeroPad(i + 1, 3));
      });
    for (int p = 1; p <= kProperties; ++p) {
      loader.Insert(app::kPropertiesFile, [p](std::span<char> area) {
        const app::records::Property property{area};
        property.SetCode(bench::PropertyCode(p));
        property.SetName("CARRER " + std::to_string(p) + " *C.P.");
        property.SetFirstMonth(1);
        property.SetPeriodMonths(12);
        property.SetFeePerOwnerMonth(650);
        property.SetTaxId("ESH08123456");
        property.SetColumnTotal(2, kOwners);  // column B: 1 each
        property.SetColumnName(2, "ESCALA");
        property.SetColumnTotal(3, kOwners / 2);  // column C: the lower half
        property.SetColumnName(3, "ASCENSOR");
      });
      loader.Insert(app::kConceptColumnsFile, [p](std::span<char> area) {
        const app::records::ConceptColumns columns{area};
        columns.SetPropertyCode(bench::PropertyCode(p));
        std::string list;
        for (int i = 1; i < kConcepts; ++i) list += bench::ConceptCode(i) + ConceptColumn(i);
        columns.SetList(list);
      });
      for (int n = 1; n <= kOwners; ++n) {
        loader.Insert(app::kOwnersFile, [p, n](std::span<char> area) {
          const app::records::Owner owner{area};
          owner.SetKey(bench::OwnerKey(p, n));
          owner.SetName("VEI " + std::to_string(n) + " *ANNA");
          owner.SetDepartment(std::to_string(n / 4 + 1) + "r " + std::to_string(n % 4 + 1) + "a");
          owner.SetCoefficient(1, 1000000 / kOwners);
          owner.SetCoefficient(2, 1);
          owner.SetCoefficient(3, n <= kOwners / 2 ? 1 : 0);
          owner.SetSlotPeriodicity(1, static_cast<std::int16_t>(n % 2 == 0 ? 1 : 3));
        });
        for (int month = 1; month <= 4; ++month)
          loader.Insert(app::kCollectionsFile, [p, n, month](std::span<char> area) {
            const app::records::Collection collection{area};
            collection.SetOwnerKey(bench::OwnerKey(p, n));
            collection.SetDate(format::PackDate(2025, month, 1));
            collection.SetAmount(4000 + n * 3);
          });
      }
      for (int i = 1; i < kConcepts; i += 2)
        loader.Insert(app::kStoredBudgetFile, [p, i](std::span<char> area) {
          const app::records::StoredLine line{area};
          line.SetPropertyCode(bench::PropertyCode(p));
          line.SetConcept(bench::ConceptCode(i));
          line.SetColumn(ConceptColumn(i));
          line.SetPercent(103000);
        });
      for (int i = 0; i < kPayments; ++i)
        loader.Insert(app::kPaymentsFile, [p, i](std::span<char> area) {
          const int expense = 1 + i % (kConcepts - 1);
          const app::records::Payment payment{area};
          payment.SetPropertyCode(bench::PropertyCode(p));
          payment.SetDate(format::PackDate(2024, i % 12 + 1, i % 28 + 1));
          payment.SetConcept(bench::ConceptCode(expense));
          payment.SetAmount(1000 + (i * 7919 + p) % 90000);
          payment.SetKind('N');
          payment.SetColumnNumber(format::PackDigits(format::ZeroPad(1 + expense % 3, 4)));
        });
    }
    loader.Insert(app::kReceiptTypesFile, [](std::span<char> area) {
      const app::records::ReceiptType type{area};
      type.SetNumber(1);
      type.SetDescription("QUOTA ORDINARIA");
    });
    loader.Commit();
  }

  app::testing::ScratchSuiteRoot root_;
};

SuiteRoot& Root() {
  static SuiteRoot root;
  return root;
}

void RunTheBatch(benchmark::State& state, const app::BatchOptions& options) {
  std::size_t done = 0;
  const std::int64_t trips = recordmanager::ServerRoundTrips();
  for (auto _ : state) {
    std::vector<app::PropertyOutcome> outcomes;
    const std::string problem = app::RunBatch(TheReport(), options, outcomes);
    if (!problem.empty() || outcomes.size() != kProperties) std::abort();
    done = 0;
    for (const app::PropertyOutcome& o : outcomes) done += o.result == app::PropertyOutcome::Result::kDone;
  }
  if (done != kProperties) {
    state.SkipWithError("a property did not go through");
    return;
  }
  state.counters["properties_per_s"] = benchmark::Counter(
      static_cast<double>(kProperties) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  if (bench::OnServer())
    state.counters["round_trips_per_property"] =
        static_cast<double>(recordmanager::ServerRoundTrips() - trips) /
        (static_cast<double>(kProperties) * static_cast<double>(state.iterations()));
}

app::BatchOptions Options() {
  app::BatchOptions options;
  options.outDir = Root().Folder("out");
  options.lockWaitSeconds = 0;
  return options;
}

// Saving each budget, both listings of each property, no update.
void BM_Batch(benchmark::State& state) { RunTheBatch(state, Options()); }
BENCHMARK(BM_Batch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same with the figures as CSV.
void BM_BatchWithFigures(benchmark::State& state) {
  app::BatchOptions options = Options();
  options.csvDir = Root().Folder("csv");
  RunTheBatch(state, options);
}
BENCHMARK(BM_BatchWithFigures)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// With the receipts updated in slot 1 of every owner.
void BM_BatchWithUpdate(benchmark::State& state) {
  app::BatchOptions options = Options();
  options.screens.periodicity = "1";
  RunTheBatch(state, options);
}
BENCHMARK(BM_BatchWithUpdate)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A copy of the distribution listing for every owner ("P"), as handed out.
void BM_BatchOwnerCopies(benchmark::State& state) {
  app::BatchOptions options = Options();
  options.screens.distributionCopies = "P";
  RunTheBatch(state, options);
}
BENCHMARK(BM_BatchOwnerCopies)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// A dry run: everything worked out and printed, nothing written.
void BM_BatchDryRun(benchmark::State& state) {
  app::BatchOptions options = Options();
  options.screens.periodicity = "1";
  options.dryRun = true;
  RunTheBatch(state, options);
  TheReport().WriteData = true;
}
BENCHMARK(BM_BatchDryRun)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  bench::ServerSchema schema("batch_bench");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
