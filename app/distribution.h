// The budget shared among the owners: each column's budget in proportion to
// the owners' coefficients, each owner's total and instalments, and, when
// asked, the new instalment written into one receipt slot of every owner.
#pragma once

#include <array>
#include <cstdint>

#include "app/budget_state.h"
#include "app/step_result.h"

namespace app {

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
// printing through Printer() and updating the receipt slots in the last
// pass, all owners in one transaction. Fails when an owner cannot be read
// (the listing would miss owners) and when the update cannot be made whole:
// then no owner's receipt has changed, and the message says so.
StepResult DistributeBudget();

}  // namespace app
