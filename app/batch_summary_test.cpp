#include "app/batch_summary.h"

#include <gtest/gtest.h>

#include "base/cp850.h"

namespace app {
namespace {

using Result = PropertyOutcome::Result;

PropertyOutcome Done(const char* code, const std::string& name, int owners, std::int32_t total,
                     std::int32_t adjustment) {
  PropertyOutcome o;
  o.code = code;
  o.name = name;
  o.figures = true;
  o.owners = owners;
  o.budgetTotal = total;
  o.adjustment = adjustment;
  return o;
}

TEST(BatchSummary, ARowPerPropertyThenTheChecksThenTheCounts) {
  std::vector<PropertyOutcome> outcomes;
  outcomes.push_back(Done("001", "COMUNITAT PROP. MALLORCA, 245", 8, 642860, 2));
  outcomes.back().receipts = {true, 8, 1, 1, 123456};
  PropertyOutcome held;
  held.code = "002";
  held.name = "C.P. GRAN DE GRÀCIA, 88"_cp;
  held.result = Result::kSkipped;
  held.reason = "its budget is in use on another workstation: OCUPAT PER JOAN";
  outcomes.push_back(held);
  outcomes.push_back(Done("003", "C.P. SANT PERE, 12 AMB UN NOM MOLT LLARG", 3, 76320, -9091));
  outcomes.back().result = Result::kDone;
  outcomes.back().findings.columns = {{1, 1000000, 1100000}};
  outcomes.back().findings.ownersWithoutMonths = {2, 3};
  outcomes.back().findings.unpaidColumns = {UnpaidColumn{'D', {"PORTER", std::string("ASSEGURANÇA"_cp)}}};
  PropertyOutcome missing;
  missing.code = "007";
  missing.result = Result::kMissing;
  outcomes.push_back(missing);
  PropertyOutcome failed = Done("009", "C.P. X", 2, 100, 0);
  failed.result = Result::kFailed;
  failed.reason = "NO S'HA POGUT DESAR EL PRESSUPOST";
  outcomes.push_back(failed);

  EXPECT_EQ(BatchSummary(outcomes, false),
            "code  name                           owners  budget total  adjustment  receipts updated         result\n"
            "----- ------------------------------ ------ ------------- -----------  ------------------------ ------\n"
            "001   COMUNITAT PROP. MALLORCA, 245       8       6428.60        0.02  8 in slot 1: 1234.56     done\n"
            "002   C.P. GRAN DE GRÀCIA, 88             -             -           -  -                        "
            "skipped: its budget is in use on another workstation: OCUPAT PER JOAN\n"
            "003   C.P. SANT PERE, 12 AMB UN NOM       3        763.20      -90.91  -                        "
            "done, see the checks\n"
            "007                                       -             -           -  -                        "
            "no such property\n"
            "009   C.P. X                              2          1.00        0.00  -                        "
            "failed: NO S'HA POGUT DESAR EL PRESSUPOST\n"
            "\n"
            "Checks:\n"
            "  003   column A: total 1000000, the owners' coefficients add up to 1100000\n"
            "  003   owners with no months left to issue: 002, 003\n"
            "  003   column D has no owners; its lines: PORTER, ASSEGURANÇA\n"
            "\n"
            "5 properties: 2 done, 1 skipped, 1 failed, 1 not found.\n");
  EXPECT_EQ(BatchSummary({}, true).substr(BatchSummary({}, true).rfind("\n\n")),
            "\n\n0 properties: 0 done, 0 skipped, 0 failed. Dry run: no data file was written; its results are in the "
            "folders dry-run of the folders given.\n");
}

// A dry run writes no receipt: its summary must not say that it updated
// any, only what it would update.
TEST(BatchSummary, ADryRunSaysWhichReceiptsItWouldUpdate) {
  std::vector<PropertyOutcome> outcomes;
  outcomes.push_back(Done("001", "COMUNITAT PROP. MALLORCA, 245", 8, 642860, 2));
  outcomes.back().receipts = {true, 8, 1, 1, 123456};
  const std::string dry = BatchSummary(outcomes, true);
  EXPECT_EQ(dry.substr(0, dry.find('\n')),
            "code  name                           owners  budget total  adjustment  receipts to update       result");
  EXPECT_NE(dry.find("8 in slot 1: 1234.56"), std::string::npos) << dry;
  const std::string real = BatchSummary(outcomes, false);
  EXPECT_EQ(real.substr(0, real.find('\n')),
            "code  name                           owners  budget total  adjustment  receipts updated         result");
}

// A batch ended half way says which property it stopped in, what of it was
// written, and which properties it never came to: a count of the
// properties done alone would pass for the whole batch.
TEST(BatchSummary, ABatchEndedHalfWaySaysWhereItStopped) {
  std::vector<PropertyOutcome> outcomes;
  outcomes.push_back(Done("001", "C.P. A", 2, 100, 0));
  PropertyOutcome stopped;
  stopped.code = "002";
  stopped.name = "C.P. B";
  stopped.result = Result::kStopped;
  stopped.reason = "ended by SIGTERM before anything of it was written";
  outcomes.push_back(stopped);
  PropertyOutcome notRun;
  notRun.code = "003";
  notRun.result = Result::kNotRun;
  outcomes.push_back(notRun);
  notRun.code = "004";
  outcomes.push_back(notRun);
  const std::string summary = BatchSummary(outcomes, false);
  EXPECT_NE(summary.find("\n002   C.P. B                              -             -           -  -                        "
                         "stopped: ended by SIGTERM before anything of it was written\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("\n004                                       -             -           -  -                        "
                         "not run\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("\n4 properties: 1 done, 0 skipped, 0 failed, 1 stopped, 2 not run.\n"), std::string::npos)
      << summary;
}

TEST(BatchSummary, TheExitStatusSaysWhetherEveryPropertyWentWell) {
  PropertyOutcome done = Done("001", "A", 1, 0, 0);
  PropertyOutcome checked = done;
  checked.findings.ownersWithoutCoefficient = {4};
  PropertyOutcome skipped;
  skipped.result = Result::kSkipped;
  PropertyOutcome failed;
  failed.result = Result::kFailed;
  PropertyOutcome missing;
  missing.result = Result::kMissing;
  PropertyOutcome stopped;
  stopped.result = Result::kStopped;
  PropertyOutcome notRun;
  notRun.result = Result::kNotRun;
  const struct {
    std::vector<PropertyOutcome> outcomes;
    int status;
  } cases[] = {
      {{}, 1},
      {{done, done}, 0},
      {{done, checked}, kBatchChecksFound},
      {{done, skipped}, 1},
      {{checked, failed}, 1},
      {{missing}, 1},
      {{done, stopped, notRun}, 1},
      {{notRun}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(BatchExitStatus(c.outcomes), c.status) << c.outcomes.size();
}

}  // namespace
}  // namespace app
