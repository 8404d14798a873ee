// A workstation killed while it writes the new instalment into the owners'
// receipt slots leaves every owner as before or every owner updated, never
// some of each; another workstation that changes an owner meanwhile has its
// change kept or refused, never overwritten unseen.
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
#include "base/strings.h"
#include "config/session.h"
#include "data/btrcall.h"
#include "data/files.h"
#include "data/locks.h"
#include "format/dates.h"
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
  report.parameters.ReportDate = format::PackDate(2024, 11, 15);  // the next period: 2025
}

void AddOwners() {
  {
    // A yearly period from January; column B's total is one per owner.
    std::span<char> area = report.areas.For(app::kPropertiesFile);
    std::fill(area.begin(), area.end(), '\0');
    const app::records::Property property{area};
    property.SetCode(Code());
    property.SetFirstMonth(1);
    property.SetPeriodMonths(12);
    property.SetColumnTotal(2, kOwners);
    ASSERT_EQ(data::InsertRecord(app::kPropertiesFile), 0);
  }
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
// issue for every owner (nothing issued yet).
void PrepareDistribution() {
  report.budget = app::BudgetState{};
  ASSERT_TRUE(app::ComputePeriods(report).ok());
  ASSERT_TRUE(app::CollectOwnerIssues(report).ok());
  ASSERT_EQ(report.budget.OwnerCount, kOwners);
  ASSERT_EQ(report.budget.OwnerMonthsLeft[1], 12);
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

// The record manager as the updating process sees it: on its first rewrite
// of an owner, another workstation is asked to change that owner first.
namespace elsewhere {
int toOther = -1, fromOther = -1;
bool asked = false;
data::RecordManagerEntry real = nullptr;
std::int16_t changeStatus = -1;

std::int16_t Entry(std::uint16_t operation, void* block, void* dataBuffer, std::uint32_t* length, void* key,
                   std::uint8_t keyLength, std::int8_t keyNumber) {
  const int slot = data::FindSlot(app::kOwnersFile);
  const bool ownersUpdate =
      operation % 100 == 3 && slot > 0 && data::FileTable()[static_cast<std::size_t>(slot)].PositionBlock.data() == block;
  if (ownersUpdate && !asked) {
    asked = true;
    const char go = 1;
    if (write(toOther, &go, 1) != 1 || read(fromOther, &changeStatus, sizeof changeStatus) != sizeof changeStatus)
      changeStatus = -2;
  }
  return real(operation, block, dataBuffer, length, key, keyLength, keyNumber);
}
}  // namespace elsewhere

constexpr std::int16_t kHeldOwnersFile = 599;

std::string OwnerKey(const std::string& property, int n) { return format::PackDigits(property + format::ZeroPad(n, 4)); }

// Another workstation's rewrite of one owner's name, as a program that does
// not lock what it reads makes it: the status of the rewrite.
std::int16_t RenameOwner(const std::string& key, const std::string& name) {
  const app::records::Owner owner{report.areas.For(app::kOwnersFile)};
  if (const std::int16_t status = data::ReadByKey(app::kOwnersFile, 0, key, 0); status != 0) return status;
  owner.SetName(name);
  return data::UpdateRecord(app::kOwnersFile);
}

TEST(ReceiptUpdate, AnOwnerChangedElsewhereMeanwhileIsNeverOverwrittenUnseen) {
  const app::testing::ScratchSuiteRoot root;
  OpenRoot(root);
  AddOwners();
  {
    // The first owner of the next property, just past the walk's end.
    const app::records::Owner owner{report.areas.For(app::kOwnersFile)};
    std::span<char> area = report.areas.For(app::kOwnersFile);
    std::fill(area.begin(), area.end(), '\0');
    owner.SetKey(OwnerKey("0002", 1));
    ASSERT_EQ(data::InsertRecord(app::kOwnersFile), 0);
  }
  data::ResetDataFiles();

  int toOther[2], fromOther[2];
  ASSERT_EQ(pipe(toOther), 0);
  ASSERT_EQ(pipe(fromOther), 0);
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    close(toOther[1]);
    close(fromOther[0]);
    OpenRoot(root);
    // Held all along on this workstation's screen: the first owner of the
    // next property, which the update's walk reads past its end.
    std::vector<char> held(report.areas.For(app::kOwnersFile).size());
    std::int16_t status = data::OpenDataFile(kHeldOwnersFile, "DADES\\PropietH", held);
    if (status == 0) data::SetLockMode(kHeldOwnersFile, "b", status);
    if (status == 0) status = data::ReadByKey(kHeldOwnersFile, 0, OwnerKey("0002", 1), 0);
    if (write(fromOther[1], &status, sizeof status) != sizeof status) _exit(1);
    char go = 0;
    // While the update runs: the first owner renamed.
    if (read(toOther[0], &go, 1) != 1) _exit(1);
    status = RenameOwner(OwnerKey("0001", 1), "RENAMED ELSEWHERE");
    if (write(fromOther[1], &status, sizeof status) != sizeof status) _exit(2);
    // Once it is over: the property's last owner is free to be rewritten.
    if (read(toOther[0], &go, 1) != 1) _exit(3);
    status = RenameOwner(OwnerKey("0001", kOwners), "FREE AGAIN");
    if (write(fromOther[1], &status, sizeof status) != sizeof status) _exit(4);
    _exit(0);
  }
  close(toOther[0]);
  close(fromOther[1]);
  elsewhere::toOther = toOther[1];
  elsewhere::fromOther = fromOther[0];

  std::int16_t held = -1;
  ASSERT_EQ(read(fromOther[0], &held, sizeof held), static_cast<ssize_t>(sizeof held));
  ASSERT_EQ(held, 0);
  OpenRoot(root);
  const app::records::Owner owner{report.areas.For(app::kOwnersFile)};
  ASSERT_EQ(data::ReadByKey(app::kOwnersFile, 0, OwnerKey("0001", 1), 0), 0);
  const std::string original = owner.Name();
  PrepareDistribution();
  report.parameters.UpdatePeriodicity = 2;
  elsewhere::real = data::SetRecordManager(&elsewhere::Entry);
  if (elsewhere::real == nullptr) elsewhere::real = &BTRCALL;
  const app::StepResult result = app::DistributeBudget(report, nothingPrinted);
  data::SetRecordManager(elsewhere::real == &BTRCALL ? nullptr : elsewhere::real);
  ASSERT_TRUE(elsewhere::asked);
  const std::int16_t renamed = elsewhere::changeStatus;
  ASSERT_GE(renamed, 0);

  const char go = 1;
  ASSERT_EQ(write(toOther[1], &go, 1), 1);
  std::int16_t afterwards = -1;
  ASSERT_EQ(read(fromOther[0], &afterwards, sizeof afterwards), static_cast<ssize_t>(sizeof afterwards));
  int status = 0;
  waitpid(other, &status, 0);
  close(toOther[1]);
  close(fromOther[0]);
  EXPECT_EQ(afterwards, 0) << "the property's last owner is still locked after the update";

  ASSERT_EQ(data::ReadByKey(app::kOwnersFile, 0, OwnerKey("0001", 1), 0), 0);
  if (renamed == 0)
    EXPECT_EQ(std::string(base::TrimRight(owner.Name())), "RENAMED ELSEWHERE") << "a rename the other workstation was told was made is lost";
  else
    EXPECT_EQ(owner.Name(), original) << "a rename refused to the other workstation (" << renamed << ") is there";
  // A record held elsewhere beyond the property's owners is no reason to
  // give up: every owner has the new instalment.
  EXPECT_TRUE(result.ok()) << result.failure();
  EXPECT_EQ(SlotState(), 2);
  data::ResetDataFiles();
  report.working.Close();
}

}  // namespace
