// Amounts in cents as the records hold them (32 bits). Figures past that
// range (damaged coefficients, totals of absurd budgets) stop at its limits
// instead of wrapping to a sign-flipped amount.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace app {

// Rounded to the nearest cent with halves to even.
inline std::int32_t RoundedAmount(double value) {
  const double r = std::nearbyint(value);
  if (std::isnan(r)) return 0;
  if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(r);
}

inline void AddAmount(std::int32_t& sum, std::int32_t amount) {
  sum = RoundedAmount(static_cast<double>(sum) + amount);
}

}  // namespace app
