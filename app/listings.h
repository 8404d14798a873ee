// The two listings printed when the operator confirms: the distribution
// listing (one line per owner, its copies made by the distribution's
// passes) and the budget listing (the budget lines grouped by column).
#pragma once

#include <cstdint>
#include <string>

#include "app/budget_state.h"
#include "app/distribution.h"
#include "app/step_result.h"

namespace app {

struct ListingState {
  std::int16_t PageNo = 0;
  std::int32_t ColumnSubtotal = 0;
  std::int32_t ListingTotal = 0;
  bool ColumnHeaderDone = false;
};
ListingState& Listing();

// Reads what the page headers print (the administrator's data); done by
// PrintReport before printing.
void PrepareListings();

// The distribution listing: one copy per pass the distribution hands it,
// each from page 1, its owner lines and, when a page was begun, the
// adjustment and total rows.
class DistributionListing final : public DistributionSink {
 public:
  void PassComputed(const DistributionPass& pass) override;
};

// Every copy of the budget listing; fails when the working budget cannot be
// read back.
StepResult PrintBudgetListing();

// Both listings, in the alternative currency: the distribution (with its
// receipt update) and then the budget listing. Stops at the first failure.
StepResult PrintReport();

// Fills the print steps of the run loop.
// Closing the channel shows a refusal naming the print file when it could
// not be made or written completely.
void InstallListingSteps();

}  // namespace app
