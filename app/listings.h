// The two listings printed when the operator confirms: the distribution
// listing (one line per owner, one copy per pass of the distribution) and
// the budget listing (the budget lines grouped by column), into the
// report's print channel.
#pragma once

#include <memory>
#include <string>

#include "app/distribution.h"
#include "app/report.h"
#include "app/step_result.h"

namespace app {

// Reads what the page headers print (the administrator's data) into the
// report; done by PrintReport before printing.
void PrepareListings(Report& report);

// The distribution listing: one copy per pass the distribution hands it,
// each from page 1, its owner lines and, when a page was begun, the
// adjustment and total rows.
class ListingPrinter;
class DistributionListing final : public DistributionSink {
 public:
  explicit DistributionListing(Report& report);
  ~DistributionListing() override;
  DistributionListing(const DistributionListing&) = delete;
  DistributionListing& operator=(const DistributionListing&) = delete;
  void PassComputed(const DistributionPass& pass) override;

 private:
  Report& report_;
  std::unique_ptr<ListingPrinter> printer_;  // kept over the copies
};

// Every copy of the budget listing; fails when the working budget cannot be
// read back.
StepResult PrintBudgetListing(Report& report);

// The message shown while the report is saved and printed: a copy of the
// distribution for every owner of a large property takes a while.
std::string PrintingMessage(const Report& report);

// Both listings, in the alternative currency: the distribution (with its
// receipt update) and then the budget listing. Stops at the first failure.
// `computed`: the distribution already worked out, for the passes that
// write no receipt (DistributeBudget).
StepResult PrintReport(Report& report, const DistributionPass* computed = nullptr);

}  // namespace app
