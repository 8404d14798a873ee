#include "app/batch_summary.h"

#include "app/figures_csv.h"
#include "base/cp850.h"
#include "format/numbers.h"

namespace app {
namespace {

using Result = PropertyOutcome::Result;

// Columns are padded in code page 850, where a character is a byte, and
// turned into UTF-8 afterwards. Control bytes of the data files' texts
// become blanks, as on the listings.
std::string Left(std::string text, std::size_t width) {
  text = base::BlankControlBytes(std::move(text));
  if (text.size() > width) text.resize(width);
  text.resize(width, ' ');
  return text;
}
std::string Right(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Owners(const std::vector<std::int16_t>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size(); ++i) text += (i > 0 ? ", " : "") + format::ZeroPad(numbers[i], 3);
  return text;
}

std::string ReceiptsText(const PropertyOutcome& o) {
  if (!o.figures || !o.receipts.Made) return "-";
  return std::to_string(o.receipts.Owners) + " in slot " + std::to_string(o.receipts.Slot) + ": " +
         DecimalAmount(o.receipts.Total);
}

std::string ResultText(const PropertyOutcome& o) {
  switch (o.result) {
    case Result::kDone:
      return o.findings.Empty() ? "done" : "done, see the checks";
    case Result::kSkipped:
      return "skipped: " + o.reason;
    case Result::kFailed:
      return "failed: " + o.reason;
    case Result::kMissing:
      return "no such property";
    case Result::kStopped:
      return "stopped: " + o.reason;
    case Result::kNotRun:
      return "not run";
  }
  return {};
}

// What the checks found for one property, a line each (code page 850).
std::vector<std::string> FindingLines(const DataFindings& f) {
  std::vector<std::string> lines;
  for (const ColumnMismatch& m : f.columns)
    lines.push_back(std::string("column ") + kColumnLetters[static_cast<std::size_t>(m.column - 1)] + ": total " +
                    std::to_string(m.total) + ", the owners' coefficients add up to " + std::to_string(m.ownersSum));
  if (!f.ownersWithoutCoefficient.empty())
    lines.push_back("owners without any coefficient: " + Owners(f.ownersWithoutCoefficient));
  if (!f.ownersWithoutMonths.empty())
    lines.push_back("owners with no months left to issue: " + Owners(f.ownersWithoutMonths));
  for (const UnpaidColumn& c : f.unpaidColumns) {
    std::string text = std::string("column ") + c.column + " has no owners; its lines: ";
    for (std::size_t i = 0; i < c.descriptions.size(); ++i) text += (i > 0 ? ", " : "") + c.descriptions[i];
    lines.push_back(text);
  }
  return lines;
}

}  // namespace

std::string BatchSummary(const std::vector<PropertyOutcome>& outcomes, bool dryRun) {
  std::string text;
  // Everything but the result in code page 850; the result is UTF-8.
  auto row = [&](const std::string& code, const std::string& name, const std::string& owners,
                 const std::string& total, const std::string& adjustment, const std::string& receipts,
                 const std::string& result) {
    std::string line = Left(code, 5) + " " + Left(name, 30) + " " + Right(owners, 6) + " " + Right(total, 13) + " " +
                       Right(adjustment, 11) + "  " + Left(receipts, 24) + " ";
    line = base::Cp850ToUtf8(line) + result;
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  };
  // A dry run rewrote no receipt: its column says what it would update.
  row("code", "name", "owners", "budget total", "adjustment", dryRun ? "receipts to update" : "receipts updated",
      "result");
  row("-----", std::string(30, '-'), "------", "-------------", "-----------", std::string(24, '-'), "------");
  int counts[6] = {};
  for (const PropertyOutcome& o : outcomes) {
    const bool figures = o.figures;
    row(o.code, o.name, figures ? std::to_string(o.owners) : "-", figures ? DecimalAmount(o.budgetTotal) : "-",
        figures ? DecimalAmount(o.adjustment) : "-", ReceiptsText(o), ResultText(o));
    counts[static_cast<int>(o.result)] += 1;
  }
  bool anyFinding = false;
  for (const PropertyOutcome& o : outcomes) {
    for (const std::string& line : FindingLines(o.findings)) {
      if (!anyFinding) text += "\nChecks:\n";
      anyFinding = true;
      text += base::Cp850ToUtf8("  " + Left(o.code, 5) + " " + base::BlankControlBytes(line)) + "\n";
    }
  }
  const auto count = [&](Result r) { return counts[static_cast<int>(r)]; };
  text += "\n" + std::to_string(outcomes.size()) + (outcomes.size() == 1 ? " property: " : " properties: ") +
          std::to_string(count(Result::kDone)) + " done, " + std::to_string(count(Result::kSkipped)) + " skipped, " +
          std::to_string(count(Result::kFailed)) + " failed";
  // The rarer ends only when they happened.
  for (const auto& [result, what] : {std::pair{Result::kMissing, " not found"}, std::pair{Result::kStopped, " stopped"},
                                     std::pair{Result::kNotRun, " not run"}})
    if (count(result) > 0) text += ", " + std::to_string(count(result)) + what;
  text += ".";
  if (dryRun)
    text += " Dry run: no data file was written; its results are in the folders dry-run of the folders given.";
  return text + "\n";
}

int BatchExitStatus(const std::vector<PropertyOutcome>& outcomes) {
  // A batch that did nothing did not do what was asked.
  if (outcomes.empty()) return 1;
  bool findings = false;
  for (const PropertyOutcome& o : outcomes) {
    if (o.result != Result::kDone) return 1;
    if (!o.findings.Empty()) findings = true;
  }
  return findings ? kBatchChecksFound : 0;
}

}  // namespace app
