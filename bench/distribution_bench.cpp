// A property of 999 owners, 7 columns, 200 expense concepts, 20 000 payments
// in the current period and 12 000 collections in the next: building the
// working budget, saving it, the distribution with the receipt update, and
// the whole report (both listings, one copy each) into the print file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "app/budget.h"
#include "app/distribution.h"
#include "app/hooks.h"
#include "app/listings.h"
#include "app/print_channel.h"
#include "app/module.h"
#include "app/records.h"
#include "app/working_file.h"
#include "config/session.h"
#include "config/test_files.h"
#include "data/files.h"
#include "data/locks.h"
#include "format/dates.h"
#include "format/numbers.h"

namespace {

namespace fs = std::filesystem;
using app::records::PutInt16;
using app::records::PutInt32;
using app::records::PutText;

constexpr int kOwners = 999;
constexpr int kConcepts = 200;
constexpr int kPayments = 20000;
constexpr int kCollections = 12000;

std::string Code() { return format::PackDigits("0007"); }
std::string OwnerKey(int n) { return format::PackDigits("0007" + format::ZeroPad(n, 4)); }

template <typename Fill>
void Insert(std::int16_t file, Fill fill) {
  std::span<char> area = app::RecordArea(file);
  std::fill(area.begin(), area.end(), '\0');
  fill(area.data());
  if (data::InsertRecord(file) != 0) std::abort();
}

struct Root {
  config::testing::ScratchDir dir;
  fs::path previous = fs::current_path();
  Root() {
    fs::create_directories(fs::path(dir.path()) / "DADES");
    fs::create_directories(fs::path(dir.path()) / "LOCKS");
    fs::copy(fs::path(KIT_SUITE_DIR) / "ddf", fs::path(dir.path()) / "ddf");
    fs::copy(fs::path(KIT_SUITE_DIR) / "LOCALE", fs::path(dir.path()) / "LOCALE");
    fs::current_path(dir.path());
    config::ResetSession();
    config::Session().RootDir = dir.path() + "/";
    config::Session().TempDir = dir.path() + "/";
    data::ClearFileTable();
    data::ResetLocks();
    app::ResetBudget();
    app::InstallBudgetSteps();
    app::OpenModuleFiles();
    app::Parameters() = app::ReportParameters{};
    app::Parameters().PropertyCode = Code();
    app::Parameters().ReportDate = format::PackDate(2024, 11, 15);

    data::BeginTransaction();
    Insert(app::kPropertiesFile, [](char* r) {
      PutText(r, 2, Code());
      PutText(r + 6, 30, "PROVENCA 12");
      PutInt16(r + 106, 1);
      PutInt16(r + 108, 12);
      PutInt32(r + 110, 650);
      for (int k = 2; k <= 7; ++k) {
        PutInt32(r + 164 + 34 * (k - 2), kOwners);
        PutText(r + 168 + 34 * (k - 2), 30, "COLUMNA");
      }
    });
    data::EndTransaction();
    // Concept codes "AA" to "HR"; every one listed in a column.
    std::vector<std::string> concepts;
    for (int i = 0; i < kConcepts; ++i) concepts.push_back({static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26)});
    data::BeginTransaction();
    for (const std::string& c : concepts)
      Insert(app::kConceptsFile, [&](char* r) {
        PutText(r, 2, c);
        PutText(r + 2, 25, "CONCEPTE " + c);
      });
    Insert(app::kConceptColumnsFile, [&](char* r) {
      PutText(r, 2, Code());
      std::string list;
      for (int i = 0; i < kConcepts; ++i) list += concepts[static_cast<std::size_t>(i)] + "ABCDEFG"[i % 7];
      PutText(r + 2, 600, list);
    });
    data::EndTransaction();
    data::BeginTransaction();
    for (int i = 0; i < kPayments; ++i)
      Insert(app::kPaymentsFile, [&](char* r) {
        PutText(r, 2, Code());
        PutText(r + 2, 4, format::PackDate(2024, 1 + i % 12, 1 + i % 28));
        PutText(r + 8, 2, concepts[static_cast<std::size_t>(i % kConcepts)]);
        PutInt32(r + 35, 1000 + i % 977);
        r[39] = i % 10 == 9 ? 'S' : 'N';
        PutText(r + 40, 2, format::PackDigits(format::ZeroPad(1 + i % 7, 4)).substr(0, 2));
      });
    data::EndTransaction();
    data::BeginTransaction();
    for (int n = 1; n <= kOwners; ++n)
      Insert(app::kOwnersFile, [&](char* r) {
        PutText(r, 4, OwnerKey(n));
        PutText(r + 38, 10, std::to_string(n));
        PutInt32(r + 211, 1000);
        for (int k = 2; k <= 7; ++k) PutInt32(r + 211 + 4 * (k - 1), 1);
        PutInt16(r + 240, n % 2 == 0 ? 1 : 3);
      });
    for (int i = 0; i < kCollections; ++i)
      Insert(app::kCollectionsFile, [&](char* r) {
        PutText(r, 4, OwnerKey(1 + i % kOwners));
        PutText(r + 4, 4, format::PackDate(2025, 1 + (i / kOwners) % 12, 1 + i / (12 * kOwners)));
        PutInt32(r + 13, 2500);
      });
    data::EndTransaction();
  }
  ~Root() {
    app::Working().Close();
    data::ResetDataFiles();
    fs::current_path(previous);
  }
};

void BM_BuildAndSaveBudget(benchmark::State& state) {
  Root root;
  for (auto _ : state) {
    app::Working().Close();
    fs::remove(fs::path(root.dir.path()) / "PressupH.tmp");
    if (!app::Working().Open()) std::abort();
    app::BuildBudget();
    if (app::SaveStoredBudget() != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * kOwners);
}
BENCHMARK(BM_BuildAndSaveBudget)->Unit(benchmark::kMillisecond);

void BM_DistributeWithReceiptUpdate(benchmark::State& state) {
  Root root;
  if (!app::Working().Open()) std::abort();
  app::BuildBudget();
  app::Parameters().DistributionCopies = 0;
  app::Parameters().UpdatePeriodicity = 1;
  app::Parameters().UpdateSlot = 2;
  for (auto _ : state) app::DistributeBudget();
  state.SetItemsProcessed(state.iterations() * kOwners);
}
BENCHMARK(BM_DistributeWithReceiptUpdate)->Unit(benchmark::kMillisecond);

void BM_DistributeOneCopyPrintingNothing(benchmark::State& state) {
  Root root;
  if (!app::Working().Open()) std::abort();
  app::BuildBudget();
  app::Parameters().DistributionCopies = 1;
  app::Parameters().UpdatePeriodicity = 0;
  std::int64_t owners = 0;
  app::Printer().OwnerLine = [&](const app::OwnerShares&) { ++owners; };
  for (auto _ : state) app::DistributeBudget();
  app::Printer() = app::DistributionPrinter{};
  // Every owner must have been reached, or the figure means nothing.
  if (owners != static_cast<std::int64_t>(state.iterations()) * kOwners) std::abort();
  state.SetItemsProcessed(state.iterations() * kOwners);
}
BENCHMARK(BM_DistributeOneCopyPrintingNothing)->Unit(benchmark::kMillisecond);

// What the operator waits for after typing the property and after
// confirming: the working budget built, and both listings printed.
void BM_BuildAndPrintBothListings(benchmark::State& state) {
  Root root;
  app::InstallListingSteps();
  app::Parameters().DistributionCopies = 1;
  app::Parameters().BudgetCopies = 1;
  app::Parameters().UpdatePeriodicity = 0;
  for (auto _ : state) {
    app::Working().Close();
    fs::remove(fs::path(root.dir.path()) / "PressupH.tmp");
    if (!app::Working().Open()) std::abort();
    app::BuildBudget();
    if (!app::OpenPrintChannel("")) std::abort();
    app::PrintReport();
    app::ClosePrintChannel();
    if (app::PrintChannelFailed()) std::abort();
  }
  app::Printer() = app::DistributionPrinter{};
  state.counters["print_bytes"] =
      static_cast<double>(fs::file_size(fs::path(root.dir.path()) / "kitprint.tmp"));
}
BENCHMARK(BM_BuildAndPrintBothListings)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
