// A property's figures for a spreadsheet: the distribution over the owners
// and the budget lines, each as a CSV table (RFC 4180: a header row, fields
// separated by commas, quoted when they hold a comma, a double quote or a
// line end, lines ended by CR LF), in UTF-8, amounts in euros with a
// decimal point ("1234.56", "-0.05").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/distribution.h"
#include "app/records.h"

namespace app {

// Cents as euros with a point and two decimals, exactly.
std::string DecimalAmount(std::int64_t cents);

// One field of a row (UTF-8), quoted when it has to be.
std::string CsvField(std::string_view text);

// owner, name, department, share_a .. share_g, total, issued, monthly,
// quarterly: one row per owner of the pass, in key order. The owner is the
// eight digits of the owner key; the name is in reading order.
std::string DistributionCsv(const DistributionPass& pass);

// code, description, column, spent, variation, budget: one row per line
// of the working budget, in its order. The miscellaneous line of a column
// has the code "*" + its letter and the particular expenses "**"; the
// variation is the budget less what was spent, as the budget listing
// prints it.
std::string BudgetCsv(const std::vector<records::WorkingLine>& lines);

}  // namespace app
