// Checks that catch data which would send a budget out wrong, before the
// listings go out: coefficients that do not add up to their column's total
// (the budget is then not fully shared out, and the listing's adjustment row
// hides it), owners without any coefficient, owners with no months left to
// issue, and budget lines in a column that no owner pays.
//
// The checks are one pure function over the figures of a report; the
// dialogue shows what they find before the confirmation to print, the batch
// lists it in its summary. None of them stops a report.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/budget_state.h"
#include "app/distribution.h"
#include "app/records.h"
#include "app/report.h"
#include "app/step_result.h"

namespace app {

struct CheckedOwner {
  std::int16_t number = 0;
  std::array<std::int32_t, kColumns + 1> coefficient{};  // 1 (A) to 7 (G)
  std::int16_t monthsLeft = 0;
};

struct CheckedLine {
  std::string description;  // code page 850, as stored
  char column = ' ';
  std::int32_t budget = 0;
};

struct DataCheckInput {
  // Column A's total is one million; the others are the property's.
  std::array<std::int32_t, kColumns + 1> columnTotal{};
  std::vector<CheckedOwner> owners;
  std::vector<CheckedLine> lines;
};

// A column in use (a budget line with its letter and a budget) whose
// owners' coefficients do not add up to its total.
struct ColumnMismatch {
  int column = 0;  // 1 (A) to 7 (G)
  std::int64_t total = 0;
  std::int64_t ownersSum = 0;
  bool operator==(const ColumnMismatch&) const = default;
};

// Budget lines whose column letter names a column no owner has a
// coefficient in (or a letter that is no column at all).
struct UnpaidColumn {
  char column = ' ';
  std::vector<std::string> descriptions;  // code page 850, trailing blanks removed
  bool operator==(const UnpaidColumn&) const = default;
};

struct DataFindings {
  std::vector<ColumnMismatch> columns;
  std::vector<std::int16_t> ownersWithoutCoefficient;  // owner numbers, in key order
  std::vector<std::int16_t> ownersWithoutMonths;
  std::vector<UnpaidColumn> unpaidColumns;  // in letter order
  bool Empty() const {
    return columns.empty() && ownersWithoutCoefficient.empty() && ownersWithoutMonths.empty() &&
           unpaidColumns.empty();
  }
};

DataFindings CheckData(const DataCheckInput& input);

// The input of the checks from a report's figures: the column totals, the
// owners of a distribution pass and the working budget's lines.
DataCheckInput CheckInputOf(const BudgetState& budget, const DistributionPass& pass,
                            const std::vector<records::WorkingLine>& lines);

// The checks over a report whose working budget is built: one pass over
// the owners, nothing written. Fails when the owners or the working budget
// cannot be read.
StepResult CheckReportData(Report& report, DataFindings& findings);

// What the checks found, for the operator's message box: the session's
// language (catalogue texts), one finding to a line of the box's width,
// long lists cut short.
std::string FindingsForOperator(const DataFindings& findings);

}  // namespace app
