#include "app/distribution.h"

#include <cmath>
#include <limits>
#include <optional>

#include "app/budget.h"
#include "app/budget_amounts.h"
#include "app/clean_up.h"
#include "app/held_locks.h"
#include "app/owner_lock.h"
#include "app/records.h"
#include "base/cp850.h"
#include "config/catalog.h"
#include "data/files.h"
#include "data/key_walk.h"
#include "data/locks.h"
#include "data/transaction.h"
#include "format/numbers.h"

namespace app {
namespace {

std::int32_t Rounded(double value) { return RoundedAmount(value); }

// The record manager's status for a record another program holds locked.
constexpr std::int16_t kHeldElsewhere = 84;

}  // namespace

DistributionPasses PassesFor(std::int16_t copies, std::int16_t updatePeriodicity, std::int16_t ownerCount) {
  if (copies > 0) return {copies, true};
  if (copies == -1) return {ownerCount, true};
  if (updatePeriodicity != 0) return {1, false};
  return {0, false};
}

OwnerShares ShareOut(const std::array<std::int32_t, kColumns + 1>& columnBudget,
                     const std::array<std::int32_t, kColumns + 1>& columnTotal,
                     const std::array<std::int32_t, kColumns + 1>& coefficients, std::int32_t issued,
                     std::int16_t monthsLeft) {
  OwnerShares o;
  double total = 0;
  for (std::size_t k = 1; k <= kColumns; ++k) {
    if (columnTotal[k] > 0)
      o.Share[k] = Rounded(static_cast<double>(columnBudget[k]) / columnTotal[k] * coefficients[k]);
    total += o.Share[k];
  }
  o.OwnerTotal = Rounded(total);
  o.Issued = issued;
  const double remaining = static_cast<double>(o.OwnerTotal) - issued;
  if (monthsLeft > 0) o.Monthly = Rounded(remaining / monthsLeft);
  if (monthsLeft > 2) o.Quarterly = Rounded(remaining / (monthsLeft / 3));
  return o;
}

namespace {

// The operator's message when the receipts could not be updated: nothing
// changed, and why.
StepResult UpdateFailed(const std::string& why) {
  return StepResult::Failed(
      config::CatalogText("NO S'HAN POGUT ACTUALITZAR ELS REBUTS: NO S'HA CANVIAT CAP PROPIETARI. ") + why);
}

}  // namespace

namespace {

// What one pass does besides computing.
struct PassMode {
  bool updateReceipts = false;  // the owners get the new instalment (the last pass of an update)
  bool keepOwners = false;      // every owner's line is kept for a listing or the figures
};

// One pass over the working budget's `lines` and the property's owners:
// the column budgets, each owner's shares and instalments, the sums, and,
// when asked, the new instalment in every owner's receipt slot, all owners
// in one transaction (counted in `report.receipts`; written only when the
// report writes data).
StepResult RunPass(Report& report, const std::vector<records::WorkingLine>& lines, PassMode mode,
                   DistributionPass& result) {
  const BudgetState& b = report.budget;
  const ReportParameters& p = report.parameters;
  const records::Owner owner{report.areas.For(kOwnersFile)};
  const bool write = mode.updateReceipts && report.WriteData;
  DistributionTotals& totals = result.totals;
  for (const records::WorkingLine& line : lines) {
    const std::size_t k = kColumnLetters.find(line.column);
    if (line.column == ' ' || k == std::string_view::npos) continue;
    AddAmount(totals.ColumnBudget[k + 1], line.budget);
    AddAmount(totals.BudgetTotal, line.budget);
  }
  ReceiptUpdate update;
  update.Slot = p.UpdateSlot;
  update.Periodicity = p.UpdatePeriodicity;
  if (StepResult locked = LockOwners(p.PropertyCode); !locked.ok()) return locked;
  CleanUp release([] { data::ReleaseLock("PropietH"); });
  // The receipt slots of all owners change together or not at all: the
  // transaction must begin, every rewrite succeed and the end be kept;
  // anything else abandons every change of the pass.
  std::optional<data::Transaction> transaction;
  if (write) {
    transaction.emplace();
    if (const std::int16_t status = transaction->BeginStatus(); status != 0)
      return UpdateFailed(data::FailureText(kOwnersFile, status));
  }
  // Each owner is read again under its record lock, held until its
  // rewrite: a change another workstation made since the walk read it would
  // otherwise be overwritten with the record as read. An owner held
  // elsewhere ends the update, nothing changed, rather than being waited for
  // inside a transaction that keeps that workstation from finishing with it.
  std::optional<CleanUp> unlocked;
  if (write) unlocked.emplace([] { data::UnlockRecord(kOwnersFile); });
  data::KeyWalk owners(kOwnersFile, 0, p.PropertyCode, [&] { return owner.PropertyCode() == p.PropertyCode; });
  for (; owners.Valid(); owners.Next()) {
    if (write) {
      if (const std::int16_t status = data::LockCurrentRecord(kOwnersFile); status == kHeldElsewhere)
        return UpdateFailed(config::CatalogText("PROPIETARI EN ÚS EN UN ALTRE LLOC: "_cp) +
                            format::ZeroPad(records::OwnerNumber(owner.Key()), 3));
      else if (status != 0)
        return UpdateFailed(data::FailureText(kOwnersFile, status));
    }
    const std::int16_t n = records::OwnerNumber(owner.Key());
    std::int32_t issued = 0;
    std::int16_t monthsLeft = 0;
    if (n >= 1 && n <= kMaxOwnerNumber) {
      issued = b.OwnerIssued[static_cast<std::size_t>(n)];
      monthsLeft = b.OwnerMonthsLeft[static_cast<std::size_t>(n)];
    } else if (const auto other = b.OtherOwnerIssues.find(owner.Key()); other != b.OtherOwnerIssues.end()) {
      issued = other->second.first;
      monthsLeft = other->second.second;
    }
    std::array<std::int32_t, kColumns + 1> coefficients{};
    for (int k = 1; k <= kColumns; ++k) coefficients[static_cast<std::size_t>(k)] = owner.Coefficient(k);
    OwnerShares o = ShareOut(totals.ColumnBudget, b.ColumnTotal, coefficients, issued, monthsLeft);
    o.OwnerNumber = n;
    if (mode.updateReceipts) {
      const std::int32_t amount = owner.SlotPeriodicity(1) == 1 ? o.Monthly : o.Quarterly;
      if (p.UpdateSlot >= owner.kSlotAmountFirst && p.UpdateSlot <= owner.kSlotAmountLast) {
        owner.SetSlotPeriodicity(p.UpdateSlot, p.UpdatePeriodicity);
        owner.SetSlotAmount(p.UpdateSlot, amount);
        ++update.Owners;
        update.Total += amount;
      }
      if (write) {
        if (const std::int16_t status = data::UpdateRecord(kOwnersFile); status != 0)
          return UpdateFailed(data::FailureText(kOwnersFile, status));
      }
    }
    for (std::size_t k = 1; k <= kColumns; ++k) AddAmount(totals.ColumnOwnerSum[k], o.Share[k]);
    AddAmount(totals.OwnersTotal, o.OwnerTotal);
    if (mode.keepOwners) {
      o.OwnerKey = owner.Key();
      o.Name = owner.Name();
      o.Department = owner.Department();
      o.Coefficient = coefficients;
      o.MonthsLeft = monthsLeft;
      result.owners.push_back(std::move(o));
    }
  }
  // Owners left unread would be missing from the listing and its totals,
  // and their receipts would keep the old instalment.
  if (owners.Failed())
    return mode.updateReceipts ? UpdateFailed(owners.FailureText()) : StepResult::Failed(owners.FailureText());
  if (transaction) {
    // Neither the property's budget nor its owners may have passed to
    // another workstation meanwhile: the transaction is then abandoned.
    if (const std::string lost = LostLockText({"PressupH", "PropietH"}); !lost.empty()) return UpdateFailed(lost);
    if (const std::int16_t status = transaction->Commit(); status != 0)
      return UpdateFailed(data::FailureText(kOwnersFile, status));
  }
  if (mode.updateReceipts) {
    update.Made = true;
    report.receipts = update;
  }
  return {};
}

}  // namespace

StepResult DistributeBudget(Report& report, DistributionSink& listing, const DistributionPass* computed) {
  const ReportParameters& p = report.parameters;
  const DistributionPasses passes = PassesFor(p.DistributionCopies, p.UpdatePeriodicity, report.budget.OwnerCount);
  report.receipts = ReceiptUpdate{};
  WorkingFile& working = report.working;
  const std::vector<records::WorkingLine> lines = working.Lines();
  if (working.Failed()) return StepResult::Failed(working.Failure());
  for (int pass = 1; pass <= passes.count; ++pass) {
    const PassMode mode{p.UpdatePeriodicity != 0 && pass == passes.count, passes.printing};
    if (computed != nullptr && passes.printing && !mode.updateReceipts) {
      listing.PassComputed(*computed);
      continue;
    }
    DistributionPass result;
    if (StepResult r = RunPass(report, lines, mode, result); !r.ok()) return r;
    if (passes.printing) listing.PassComputed(result);
  }
  return {};
}

StepResult RefreshOwnerIssues(Report& report) {
  if (StepResult collected = CollectOwnerIssues(report); !collected.ok()) return UpdateFailed(collected.failure());
  return {};
}

StepResult ComputeDistribution(Report& report, DistributionPass& pass) {
  pass = DistributionPass{};
  WorkingFile& working = report.working;
  const std::vector<records::WorkingLine> lines = working.Lines();
  if (working.Failed()) return StepResult::Failed(working.Failure());
  return RunPass(report, lines, PassMode{false, true}, pass);
}

}  // namespace app
