// The budget shared among the owners: each column's budget in proportion to
// the owners' coefficients, each owner's total and instalments, and, when
// asked, the new instalment written into one receipt slot of every owner.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/budget_state.h"
#include "app/report.h"
#include "app/step_result.h"

namespace app {

// One owner's line of the distribution, with what it was worked out from.
struct OwnerShares {
  std::int16_t OwnerNumber = 0;
  std::string OwnerKey;    // packed, 4 bytes
  std::string Name;        // 34 characters as stored
  std::string Department;  // 10 characters as stored
  std::array<std::int32_t, kColumns + 1> Coefficient{};
  std::int16_t MonthsLeft = 0;
  std::array<std::int32_t, kColumns + 1> Share{};
  std::int32_t OwnerTotal = 0;
  std::int32_t Issued = 0;
  std::int32_t Monthly = 0;
  std::int32_t Quarterly = 0;
};

// The sums of one pass, for the adjustment and total rows.
struct DistributionTotals {
  std::array<std::int32_t, kColumns + 1> ColumnBudget{};
  std::array<std::int32_t, kColumns + 1> ColumnOwnerSum{};
  std::int32_t BudgetTotal = 0;
  std::int32_t OwnersTotal = 0;
};

// What one pass computed: every owner of the property in key order, and
// the pass's sums.
struct DistributionPass {
  std::vector<OwnerShares> owners;
  DistributionTotals totals;
};

// Where the passes that print go, each once it is complete: the
// distribution listing, one copy per pass.
class DistributionSink {
 public:
  virtual ~DistributionSink() = default;
  virtual void PassComputed(const DistributionPass& pass) = 0;
};

// How many passes the options ask for, and whether they print.
struct DistributionPasses {
  int count = 0;
  bool printing = false;
};
DistributionPasses PassesFor(std::int16_t copies, std::int16_t updatePeriodicity, std::int16_t ownerCount);

// An owner's shares and instalments from the column budgets.
OwnerShares ShareOut(const std::array<std::int32_t, kColumns + 1>& columnBudget,
                     const std::array<std::int32_t, kColumns + 1>& columnTotal,
                     const std::array<std::int32_t, kColumns + 1>& coefficients, std::int32_t issued,
                     std::int16_t monthsLeft);

// Runs every pass over the working budget and the property's owners,
// updating the receipt slots in the last pass, all owners in one
// transaction, and hands each printing pass to `listing` once it is
// complete. What the update did goes to `report.receipts`; with
// `report.WriteData` false the instalments are worked out and counted but
// no owner is rewritten. Fails when an owner cannot be read (the listing
// would miss owners) and when the update cannot be made whole: then no
// owner's receipt has changed, the message says so, and the failed pass
// reaches no listing. `computed`, when given, is a pass already worked
// out from the same working budget and owners (ComputeDistribution): every
// printing pass that writes no receipt prints it instead of reading every
// owner again to the same figures.
StepResult DistributeBudget(Report& report, DistributionSink& listing, const DistributionPass* computed = nullptr);

// Reads again what was issued to each owner (CollectOwnerIssues), for a
// receipt update made after the operator spent a while on the budget:
// receipts another workstation issued, or owners it added, meanwhile must
// count in the instalments written. On failure the message says that no
// owner's receipt has changed.
StepResult RefreshOwnerIssues(Report& report);

// One pass as a printed copy would compute it, every owner kept, nothing
// written and nothing printed: the figures the checks and the exports
// work from.
StepResult ComputeDistribution(Report& report, DistributionPass& pass);

}  // namespace app
