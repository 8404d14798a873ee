#include "app/data_checks.h"

#include <map>

#include "base/strings.h"
#include "config/catalog.h"
#include "format/numbers.h"
#include "format/text.h"

namespace app {
namespace {


// The column number of a letter, 0 for a blank or anything else.
int ColumnOf(char letter) {
  const std::size_t k = kColumnLetters.find(letter);
  return letter == ' ' || k == std::string_view::npos ? 0 : static_cast<int>(k) + 1;
}

// The box is 76 characters wide; a finding's continuation lines start on a
// line of their own.
constexpr std::int16_t kBoxWidth = 76;
// What fits between the frame's rows on a 25-row screen.
constexpr std::size_t kMostLines = 20;
// Owner numbers named before the list is cut short.
constexpr std::size_t kMostOwners = 20;
// Line descriptions named per column before the list is cut short.
constexpr std::size_t kMostLinesPerColumn = 5;

std::string OwnerList(const std::vector<std::int16_t>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size() && i < kMostOwners; ++i) {
    if (i > 0) text += ", ";
    text += format::ZeroPad(numbers[i], 3);
  }
  if (numbers.size() > kMostOwners) text += ", ... (" + std::to_string(numbers.size()) + ")";
  return text;
}

}  // namespace

DataFindings CheckData(const DataCheckInput& input) {
  DataFindings found;
  std::array<bool, kColumns + 1> inUse{};
  for (const CheckedLine& line : input.lines)
    if (line.budget != 0) inUse[static_cast<std::size_t>(ColumnOf(line.column))] = true;

  std::array<std::int64_t, kColumns + 1> sum{};
  std::array<bool, kColumns + 1> paid{};
  for (const CheckedOwner& owner : input.owners) {
    bool any = false;
    for (std::size_t k = 1; k <= kColumns; ++k) {
      sum[k] += owner.coefficient[k];
      if (owner.coefficient[k] != 0) any = true;
      if (owner.coefficient[k] > 0) paid[k] = true;
    }
    if (!any) found.ownersWithoutCoefficient.push_back(owner.number);
    if (owner.monthsLeft <= 0) found.ownersWithoutMonths.push_back(owner.number);
  }
  for (std::size_t k = 1; k <= kColumns; ++k)
    if (inUse[k] && sum[k] != input.columnTotal[k])
      found.columns.push_back({static_cast<int>(k), input.columnTotal[k], sum[k]});

  // Lines with a budget in a column nobody pays, grouped by letter.
  std::map<char, UnpaidColumn> unpaid;
  for (const CheckedLine& line : input.lines) {
    if (line.budget == 0 || line.column == ' ') continue;
    const int k = ColumnOf(line.column);
    if (k != 0 && paid[static_cast<std::size_t>(k)]) continue;
    UnpaidColumn& column = unpaid[line.column];
    column.column = line.column;
    column.descriptions.push_back(std::string(base::TrimRight(line.description)));
  }
  for (auto& [letter, column] : unpaid) found.unpaidColumns.push_back(std::move(column));
  return found;
}

DataCheckInput CheckInputOf(const BudgetState& budget, const DistributionPass& pass,
                            const std::vector<records::WorkingLine>& lines) {
  DataCheckInput input;
  input.columnTotal = budget.ColumnTotal;
  for (const OwnerShares& o : pass.owners) input.owners.push_back({o.OwnerNumber, o.Coefficient, o.MonthsLeft});
  for (const records::WorkingLine& l : lines) input.lines.push_back({l.description, l.column, l.budget});
  return input;
}

StepResult CheckReportData(Report& report, DataFindings& findings) {
  findings = DataFindings{};
  DistributionPass pass;
  if (StepResult r = ComputeDistribution(report, pass); !r.ok()) return r;
  const std::vector<records::WorkingLine> lines = report.working.Lines();
  if (report.working.Failed()) return StepResult::Failed(report.working.Failure());
  findings = CheckData(CheckInputOf(report.budget, pass, lines));
  return {};
}

std::string FindingsForOperator(const DataFindings& findings) {
  using config::CatalogText;
  std::vector<std::string> items;
  items.push_back(CatalogText("REVISEU LES DADES ABANS D'IMPRIMIR:"));
  for (const ColumnMismatch& m : findings.columns)
    items.push_back(CatalogText("COLUMNA ") + kColumnLetters[static_cast<std::size_t>(m.column - 1)] +
                    CatalogText(": TOTAL ") + std::to_string(m.total) + CatalogText(", SUMA DELS COEFICIENTS ") +
                    std::to_string(m.ownersSum));
  if (!findings.ownersWithoutCoefficient.empty())
    items.push_back(CatalogText("PROPIETARIS SENSE COEFICIENT") + ": " + OwnerList(findings.ownersWithoutCoefficient));
  if (!findings.ownersWithoutMonths.empty())
    items.push_back(CatalogText("PROPIETARIS SENSE MESOS PER GIRAR") + ": " + OwnerList(findings.ownersWithoutMonths));
  for (const UnpaidColumn& c : findings.unpaidColumns) {
    std::string text = CatalogText("COLUMNA ") + c.column + CatalogText(" SENSE PROPIETARIS") + ": ";
    for (std::size_t i = 0; i < c.descriptions.size() && i < kMostLinesPerColumn; ++i)
      text += (i > 0 ? ", " : "") + c.descriptions[i];
    if (c.descriptions.size() > kMostLinesPerColumn) text += ", ... (" + std::to_string(c.descriptions.size()) + ")";
    items.push_back(text);
  }

  // Each finding starts a line of the box: lines one short of its width
  // and a blank, so that the box's own wrapping breaks exactly there.
  std::string text;
  std::size_t count = 0;
  for (std::string item : items) {
    format::WrapText(item, 0, kBoxWidth - 1, "I");
    for (std::size_t at = 0; at < item.size(); at += kBoxWidth - 1) {
      if (count == kMostLines) {
        text += std::string("...").append(kBoxWidth - 3, ' ');
        return text;
      }
      text += item.substr(at, kBoxWidth - 1) + " ";
      ++count;
    }
  }
  return text;
}

}  // namespace app
