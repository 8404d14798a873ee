// What one run of the report works with: the periods of the property, what
// was issued to each owner and the working budget's totals.
#pragma once

#include <array>
#include <cstdint>
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

}  // namespace app
