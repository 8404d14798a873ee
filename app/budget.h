// The budget of the next period: the periods of the property, what was
// already issued to each owner, the working budget built from the expense
// concepts, the stored budget and the payments of the current period, its
// pages on screen 2, and saving it as the property's stored budget.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/budget_state.h"
#include "app/step_result.h"

namespace app {

inline constexpr std::int16_t kConceptsFile = 501;
inline constexpr std::int16_t kConceptColumnsFile = 512;
inline constexpr std::int16_t kOwnersFile = 513;
inline constexpr std::int16_t kCollectionsFile = 514;
inline constexpr std::int16_t kPaymentsFile = 515;
inline constexpr std::int16_t kStoredBudgetFile = 516;

// Each step fails, with the data layer's message naming the file, when a
// read fails: a walk along a key that stops at a failed read has not seen
// every record, and what it would build is wrong.
StepResult ComputePeriods();
StepResult CollectOwnerIssues();
// The administration fee of the period for the property read last.
std::int32_t ComputeFeeAmount();
// Fills the working file (open and empty) and the totals; fails also when
// the working file cannot be written or read back.
StepResult BuildWorkingBudget();
// The three steps above in order, as the run loop builds the budget.
StepResult BuildBudget();

// Screen 2 and the working file; `lastPage` is set by FillBudgetPage.
StepResult FillBudgetPage(int page, bool& lastPage);
StepResult StoreBudgetPage(int page);

// Replaces the property's stored budget by the working budget, in one
// transaction. On any failure (the working file cannot be read back, a
// read, delete or insert fails, the transaction cannot begin or end) the
// old budget stays as it was and the message says why.
StepResult SaveStoredBudget();

// The budget of a line from its spent amount and its variation as typed:
// "110%" a percentage of the spent amount, otherwise an amount added.
std::int32_t LineBudget(std::int32_t spent, std::string_view variation);

// Registers the record areas of the files the budget reads and fills the
// budget steps of the run loop.
void InstallBudgetSteps();

}  // namespace app
