// A workstation killed while it writes the new instalment into the owners'
// receipt slots leaves every owner as before or every owner updated, never
// some of each.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "app/budget.h"
#include "app/distribution.h"
#include "app/data_files.h"
#include "app/report.h"
#include "app/records.h"
#include "config/session.h"
#include "data/files.h"
#include "data/locks.h"
#include "format/numbers.h"
#include "tests/module_root.h"

namespace {

// The report each process works on.
app::Report report;
using app::records::WorkingLine;

constexpr int kOwners = 300;
constexpr int kSlot = 3;
// Column B's budget: each of the owners (coefficient 1 of kOwners) gets
// 1200 for the year, 100 a month.
constexpr std::int32_t kColumnBudget = 1200 * kOwners;

std::string Code() { return format::PackDigits("0001"); }

void OpenRoot(const app::testing::ScratchSuiteRoot& root) {
  e2e::OpenModuleRoot(root, report);
  report.parameters = app::ReportParameters{};
  report.parameters.PropertyCode = Code();
  report.parameters.DistributionCopies = 0;  // the update alone, nothing printed
  report.parameters.UpdateSlot = kSlot;
}

void AddOwners() {
  const app::records::Owner owner{report.areas.For(app::kOwnersFile)};
  ASSERT_EQ(data::BeginTransaction(), 0);
  for (int n = 1; n <= kOwners; ++n) {
    std::span<char> area = report.areas.For(app::kOwnersFile);
    std::fill(area.begin(), area.end(), '\0');
    owner.SetKey(format::PackDigits("0001" + format::ZeroPad(n, 4)));
    owner.SetCoefficient(2, 1);      // coefficient 1 in column B
    owner.SetSlotPeriodicity(1, 1);  // monthly receipts
    owner.SetSlotAmount(1, 0);
    ASSERT_EQ(data::InsertRecord(app::kOwnersFile), 0);
  }
  ASSERT_EQ(data::EndTransaction(), 0);
}

// What the distribution works from: a budget of column B, twelve months to
// issue for every owner.
void PrepareDistribution() {
  report.budget = app::BudgetState{};
  app::BudgetState& b = report.budget;
  b.OwnerCount = kOwners;
  b.ColumnTotal[2] = kOwners;
  for (int n = 1; n <= kOwners; ++n) b.OwnerMonthsLeft[static_cast<std::size_t>(n)] = 12;
  report.working.Close();
  ASSERT_TRUE(report.working.Open());
  WorkingLine line;
  line.code = "NE";
  line.column = 'B';
  line.budget = kColumnBudget;
  ASSERT_TRUE(report.working.Append(line));
}

// The periodicity every owner's slot holds (0: never updated), or -1 when
// the owners disagree or an amount is not the one written with it.
int SlotState() {
  const app::records::Owner owner{report.areas.For(app::kOwnersFile)};
  std::set<std::pair<int, int>> seen;
  int owners = 0;
  std::int16_t s = data::ReadByKey(app::kOwnersFile, 0, Code(), 1);
  for (; s == 0 && owner.PropertyCode() == Code(); s = data::StepRecords(app::kOwnersFile, 1)) {
    ++owners;
    seen.emplace(owner.SlotPeriodicity(kSlot), owner.SlotAmount(kSlot));
  }
  if (owners != kOwners || seen.size() != 1) return -1;
  const auto [periodicity, amount] = *seen.begin();
  if (amount != (periodicity == 0 ? 0 : 100)) return -1;
  return periodicity;
}

int Other(int mark) { return mark == 2 ? 3 : 2; }

// The update runs without copies: no pass reaches a listing.
class NothingPrinted : public app::DistributionSink {
 public:
  void PassComputed(const app::DistributionPass&) override { _exit(3); }
};
NothingPrinted nothingPrinted;

TEST(ReceiptUpdate, AKilledUpdateLeavesEveryOwnerOldOrEveryOwnerNew) {
  const app::testing::ScratchSuiteRoot root;
  OpenRoot(root);
  AddOwners();
  ASSERT_EQ(SlotState(), 0);
  data::ResetDataFiles();

  std::mt19937 random(20241115);
  int state = 0;
  int changedByAKilledRun = 0;
  for (int round = 0; round < 10; ++round) {
    int events[2];
    ASSERT_EQ(pipe(events), 0);
    const int first = Other(state);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Writes periodicity `first`, then the other one, and so on, telling
      // the parent after each update that was kept, until it is killed.
      close(events[0]);
      OpenRoot(root);
      PrepareDistribution();
      for (int mark = first;; mark = Other(mark)) {
        report.parameters.UpdatePeriodicity = static_cast<std::int16_t>(mark);
        if (!app::DistributeBudget(report, nothingPrinted).ok()) _exit(1);
        const char byte = static_cast<char>(mark);
        if (write(events[1], &byte, 1) != 1) _exit(2);
      }
    }
    close(events[1]);
    // Let 0, 1 or 2 updates finish, then kill it at a random moment of the
    // next one.
    int last = -1;
    for (int seen = 0; seen < round % 3; ++seen) {
      char byte = 0;
      ASSERT_EQ(read(events[0], &byte, 1), 1) << "the updating process stopped by itself";
      last = byte;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    ASSERT_TRUE(e2e::KilledWhileRunning(child)) << "the updating process stopped by itself";
    // Updates it reported between our last read and the kill.
    for (char byte = 0; read(events[0], &byte, 1) == 1;) last = byte;
    close(events[0]);

    OpenRoot(root);
    const int now = SlotState();
    data::ResetDataFiles();
    ASSERT_NE(now, -1) << "round " << round << ": some owners updated and some not";
    // The last update reported, or the one after it kept just before the
    // kill (before any report: the state before the run, or its first).
    const int reported = last == -1 ? state : last;
    EXPECT_TRUE(now == reported || now == Other(reported)) << "round " << round << ": " << now;
    if (now != state) ++changedByAKilledRun;
    state = now;
  }
  EXPECT_GT(changedByAKilledRun, 0) << "no update was ever kept before the kill";
  report.working.Close();
}

}  // namespace
