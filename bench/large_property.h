// The largest property the module is built for, as the benchmarks fill it:
// property 7 with 999 owners over seven coefficient columns, 200 expense
// concepts (two in three with a stored variation), 20 000 payments of 2024
// and 12 000 collections of 2025; and the phases of one report run on it.
#pragma once

#include <cstdint>

#include "app/report.h"
#include "bench/record_loader.h"

namespace bench {

inline constexpr int kProperty = 7;
inline constexpr int kOwners = 999;

// The report's parameters and fees for a run on that property, reported on
// 15 November 2024.
void PrepareLargeReport(app::Report& report);
// Inserts the property's records into the open data files.
void FillLargeProperty(RecordLoader& loader);

// The phases as a run does them: the working budget built; the
// distribution with the receipt update (slot 2, quarterly) and nothing
// printed; both listings printed with the copies given, nothing updated.
void BuildPhase(app::Report& report);
void DistributionPhase(app::Report& report);
void PrintOnly(app::Report& report, std::int16_t distributionCopies, std::int16_t budgetCopies);
// One copy of each listing.
void ListingsPhase(app::Report& report);
// The three in turn.
void WholeReport(app::Report& report);

}  // namespace bench
