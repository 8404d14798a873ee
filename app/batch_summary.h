// What a batch did to each property, the table it ends with on standard
// output, and its exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/data_checks.h"
#include "app/report.h"

namespace app {

struct PropertyOutcome {
  // kStopped: ended half way by a termination request (what was written
  // is in `reason`); kNotRun: the batch ended before its turn.
  enum class Result { kDone, kSkipped, kFailed, kMissing, kStopped, kNotRun };
  std::string code;  // the digits the screens show: "001"
  std::string name;  // code page 850, in reading order
  Result result = Result::kDone;
  std::string reason;  // why skipped, failed or stopped: UTF-8
  // The figures, once the budget was built and shared out.
  bool figures = false;
  int owners = 0;
  std::int32_t budgetTotal = 0;
  std::int32_t adjustment = 0;  // what the owners' shares leave over
  ReceiptUpdate receipts;
  DataFindings findings;
};

// The summary (UTF-8): a table of one row per property, then what the
// checks found, then the counts. `dryRun` says that nothing was written.
std::string BatchSummary(const std::vector<PropertyOutcome>& outcomes, bool dryRun);

// 0 every property done and the checks found nothing; 1 a property passed
// over, failed, not found, stopped or not run, or no property at all; 4
// all done but the checks found something.
int BatchExitStatus(const std::vector<PropertyOutcome>& outcomes);

inline constexpr int kBatchChecksFound = 4;

}  // namespace app
