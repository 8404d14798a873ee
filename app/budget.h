// The budget of the next period: the periods of the property, what was
// already issued to each owner, the working budget built from the expense
// concepts, the stored budget and the payments of the current period, its
// pages on screen 2, and saving it as the property's stored budget.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/report.h"
#include "app/step_result.h"

namespace app {

// Each step fails, with the data layer's message naming the file, when a
// read fails: a walk along a key that stops at a failed read has not seen
// every record, and what it would build is wrong.
StepResult ComputePeriods(Report& report);
StepResult CollectOwnerIssues(Report& report);
// The administration fee of the period for the property read last.
std::int32_t ComputeFeeAmount(const Report& report);
// Fills the working file (open and empty) and the totals; fails also when
// the working file cannot be written or read back.
StepResult BuildWorkingBudget(Report& report);
// The three steps above in order, as the run loop builds the budget.
StepResult BuildBudget(Report& report);

// Screen 2 and the working file; `lastPage` is set by FillBudgetPage.
StepResult FillBudgetPage(Report& report, int page, bool& lastPage);
StepResult StoreBudgetPage(Report& report, int page);

// Replaces the property's stored budget by the working budget, in one
// transaction. On any failure (the working file cannot be read back, a
// read, delete or insert fails, the transaction cannot begin or end) the
// old budget stays as it was and the message says why.
StepResult SaveStoredBudget(Report& report);

// The budget of a line from its spent amount and its variation as typed:
// "110%" a percentage of the spent amount, otherwise an amount added.
std::int32_t LineBudget(std::int32_t spent, std::string_view variation);

}  // namespace app
