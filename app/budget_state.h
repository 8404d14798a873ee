// What one run of the report works with: the periods of the property, what
// was issued to each owner, the working budget's totals, and what the
// distribution hands to the listings.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace app {

inline constexpr int kColumns = 7;
inline constexpr std::string_view kColumnLetters = "ABCDEFG";
inline constexpr int kMaxOwnerNumber = 999;

struct BudgetState {
  // Periods (packed dates).
  std::int16_t PeriodMonths = 12;
  std::string PeriodStart, PeriodEnd, NextStart, NextEnd;
  // Columns 1 (A) to 7 (G), index 0 unused.
  std::array<std::string, kColumns + 1> ColumnName{};
  std::array<std::int32_t, kColumns + 1> ColumnTotal{};
  // The property as the listings print it.
  std::string PropertyName;   // in reading order, trailing blanks removed
  std::string PropertyTaxId;  // 17 characters as stored
  // Owners: count and, per owner number 1 to 999, what was issued for the
  // next period and the months still to issue.
  std::int16_t OwnerCount = 0;
  std::array<std::int32_t, kMaxOwnerNumber + 1> OwnerIssued{};
  std::array<std::int16_t, kMaxOwnerNumber + 1> OwnerMonthsLeft{};
  // Owners whose number has no place in the tables (0, as keys ending in
  // 000 give), by owner key: issued amount and months left.
  std::map<std::string, std::pair<std::int32_t, std::int16_t>> OtherOwnerIssues;
  // The fee line and the working budget's totals.
  std::int32_t FeeAmount = 0;
  std::int32_t TotalSpent = 0;
  std::int32_t TotalBudget = 0;
  // Screen 2: the page on show and how many the working budget fills.
  int Page = 0;
  int Pages = 0;
};

BudgetState& Budget();
void ResetBudget();

// One owner's line of the distribution.
struct OwnerShares {
  std::int16_t OwnerNumber = 0;
  std::string Department;  // 10 characters as stored
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

// How the distribution prints, filled by the listings. Empty members print
// nothing.
struct DistributionPrinter {
  std::function<void()> StartCopy;                                  // page numbering restarts
  std::function<void(const OwnerShares&)> OwnerLine;
  std::function<bool()> PageStarted;                                // a page of this copy was begun
  std::function<void(const DistributionTotals&)> Totals;
};
DistributionPrinter& Printer();

}  // namespace app
