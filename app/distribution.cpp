#include "app/distribution.h"

#include <cmath>
#include <limits>

#include "app/budget.h"
#include "app/budget_amounts.h"
#include "app/hooks.h"
#include "app/module.h"
#include "app/records.h"
#include "app/working_file.h"
#include "data/files.h"
#include "data/locks.h"
#include "format/numbers.h"

namespace app {
namespace {

std::int32_t Rounded(double value) { return RoundedAmount(value); }

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

void DistributeBudget() {
  const BudgetState& b = Budget();
  const ReportParameters& p = Parameters();
  const DistributionPasses passes = PassesFor(p.DistributionCopies, p.UpdatePeriodicity, b.OwnerCount);
  const std::vector<records::WorkingLine> lines = Working().Lines();
  const records::Owner owner{RecordArea(kOwnersFile).data()};
  DistributionPrinter& printer = Printer();

  for (int pass = 1; pass <= passes.count; ++pass) {
    const bool last = pass == passes.count;
    const bool update = p.UpdatePeriodicity != 0 && last;
    DistributionTotals totals;
    if (passes.printing && printer.StartCopy) printer.StartCopy();
    for (const records::WorkingLine& line : lines) {
      const std::size_t k = kColumnLetters.find(line.column);
      if (line.column == ' ' || k == std::string_view::npos) continue;
      AddAmount(totals.ColumnBudget[k + 1], line.budget);
      AddAmount(totals.BudgetTotal, line.budget);
    }
    data::LockKey("PropietH", p.PropertyCode);
    // The receipt slots of all owners change together or not at all.
    const bool inTransaction = update && data::BeginTransaction() == 0;
    for (std::int16_t s = data::ReadByKey(kOwnersFile, 0, p.PropertyCode, 1);
         s == 0 && owner.PropertyCode() == p.PropertyCode; s = data::StepRecords(kOwnersFile, 1)) {
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
      o.Department = owner.Department();
      if (passes.printing && printer.OwnerLine) printer.OwnerLine(o);
      if (update) {
        const std::int32_t amount = owner.SlotPeriodicity(1) == 1 ? o.Monthly : o.Quarterly;
        if (p.UpdateSlot >= 1 && p.UpdateSlot <= 8) owner.SetSlot(p.UpdateSlot, p.UpdatePeriodicity, amount);
        data::UpdateRecord(kOwnersFile);
      }
      for (std::size_t k = 1; k <= kColumns; ++k) AddAmount(totals.ColumnOwnerSum[k], o.Share[k]);
      AddAmount(totals.OwnersTotal, o.OwnerTotal);
    }
    if (inTransaction) data::EndTransaction();
    data::ReleaseLock("PropietH");
    if (passes.printing && printer.PageStarted && printer.PageStarted() && printer.Totals) printer.Totals(totals);
  }
}

}  // namespace app
