// A property of 999 owners with a year of payments and collections: building
// the working budget, saving it, and the distribution with the receipt
// update (one pass, printing off). Reports owners per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>

#include "app/budget.h"
#include "app/distribution.h"
#include "app/hooks.h"
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
      for (int k = 2; k <= 7; ++k) PutInt32(r + 164 + 34 * (k - 2), kOwners);
    });
    data::EndTransaction();
    const char* concepts[] = {"AS", "HO", "LL", "NE", "PI", "SE", "AI", "JA"};
    data::BeginTransaction();
    for (const char* c : concepts)
      Insert(app::kConceptsFile, [&](char* r) {
        PutText(r, 2, c);
        PutText(r + 2, 25, c);
      });
    data::EndTransaction();
    data::BeginTransaction();
    for (int month = 1; month <= 12; ++month)
      for (int i = 0; i < 8; ++i)
        Insert(app::kPaymentsFile, [&](char* r) {
          PutText(r, 2, Code());
          PutText(r + 2, 4, format::PackDate(2024, month, 1 + i));
          PutText(r + 8, 2, concepts[i]);
          PutInt32(r + 35, 1000 + 37 * i + month);
          r[39] = 'N';
          PutText(r + 40, 2, format::PackDigits(format::ZeroPad(1 + i % 7, 4)).substr(0, 2));
        });
    data::EndTransaction();
    data::BeginTransaction();
    for (int n = 1; n <= kOwners; ++n) {
      Insert(app::kOwnersFile, [&](char* r) {
        PutText(r, 4, OwnerKey(n));
        PutText(r + 38, 10, std::to_string(n));
        PutInt32(r + 211, 1000);
        for (int k = 2; k <= 7; ++k) PutInt32(r + 211 + 4 * (k - 1), 1);
        PutInt16(r + 240, n % 2 == 0 ? 1 : 3);
      });
      for (int month = 1; month <= 3; ++month)
        Insert(app::kCollectionsFile, [&](char* r) {
          PutText(r, 4, OwnerKey(n));
          PutText(r + 4, 4, format::PackDate(2025, month, 1));
          PutInt32(r + 13, 2500);
        });
    }
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

}  // namespace

BENCHMARK_MAIN();
