// "repquota batch": the report of many properties without a terminal. For
// each property the same steps as the dialogue (budget lock, working budget
// built from the stored budget, saving, distribution with the receipt
// update, both listings), with the options given once for all of them and
// nothing edited; each property's listings in a print file of its own, a
// PDF document through the print program and the figures as CSV when
// asked. A property whose budget another workstation holds, or whose run
// fails, is passed over and the batch goes on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_summary.h"
#include "app/report.h"

namespace app {

// Told as each property starts: its place in the batch, how many there
// are, its code and name (code page 850).
using BatchProgress = std::function<void(std::size_t index, std::size_t count, const std::string& code,
                                         const std::string& name)>;

// Runs the batch on the session's suite root: the session loaded, the data
// files open into `report`, the fee settings read, the output folders
// made. Appends each property's outcome to `outcomes` as it is known (a
// session that ends on the way leaves those of the properties done).
// Returns an empty text, or why the batch could not run at all (UTF-8: the
// receipt concept is unknown or not a provision of funds, the properties
// cannot be read).
std::string RunBatch(Report& report, const BatchOptions& options, std::vector<PropertyOutcome>& outcomes,
                     const BatchProgress& progress = {});

// With an update of the receipts asked for, the receipt concept it writes
// into must exist and be a provision of funds, as screen 3 asks: an empty
// text when it is, otherwise what is wrong (UTF-8). `readFailed`, when
// given, tells a concept that could not be read from a wrong one.
std::string CheckReceiptConcept(Report& report, bool* readFailed = nullptr);

// The whole program for "repquota batch ARGS": the arguments (without
// "batch"), the session, the data files, the run, the summary on standard
// output. Returns the exit status.
int BatchMain(const std::vector<std::string>& args);

}  // namespace app
