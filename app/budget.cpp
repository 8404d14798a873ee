#include "app/budget.h"
#include "app/budget_amounts.h"
#include "app/owner_lock.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_map>

#include "app/administrator.h"
#include "app/clean_up.h"
#include "app/held_locks.h"
#include "app/records.h"
#include "base/strings.h"
#include "config/built_in_texts.h"
#include "config/catalog.h"
#include "console/form_input.h"
#include "data/files.h"
#include "data/key_walk.h"
#include "data/locks.h"
#include "data/transaction.h"
#include "base/cp850.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "format/text.h"
#include "platform/system.h"

namespace app {
namespace {

using records::WorkingLine;

std::int32_t Rounded(double value) { return RoundedAmount(value); }

StepResult ReadFailed(std::int16_t fileId, std::int16_t status) {
  return StepResult::Failed(data::FailureText(fileId, status));
}

bool InTables(std::int16_t n) { return n >= 1 && n <= kMaxOwnerNumber; }

// A tax number of a company: "ES" then a letter "A" to "W".
bool CompanyTaxId(std::string_view id) {
  return id.size() >= 3 && id.substr(0, 2) == "ES" && id[2] >= 'A' && id[2] <= 'W';
}

records::Property<const char> PropertyRecord(const Report& report) {
  return records::Property{report.areas.For(kPropertiesFile)};
}

// The column letter a concept gets from the property's list of entries of
// code + letter, matched at entry starts only.
char ListedColumn(const std::string& list, std::string_view code, char current) {
  for (std::size_t p = list.find(code); p != std::string::npos; p = list.find(code, p + 1)) {
    if (p % 3 == 0) return p + 2 < list.size() ? list[p + 2] : current;
  }
  return current;
}

console::FormField& Field2(int j) { return console::Forms().forms.Field(2, j); }

}  // namespace

StepResult ComputePeriods(Report& report) {
  BudgetState& b = report.budget;
  const ReportParameters& p = report.parameters;
  // Screen 1 found the property; a read that fails now must not leave the
  // periods to whatever the record area held.
  if (const std::int16_t status = data::ReadByKey(kPropertiesFile, 0, p.PropertyCode, 0); status != 0)
    return ReadFailed(kPropertiesFile, status);
  const records::Property property = PropertyRecord(report);
  std::int16_t months = property.PeriodMonths();
  // 0 means a year; a negative length would run the periods backwards.
  if (months <= 0) months = 12;
  std::int16_t first = property.FirstMonth();
  // 0 means January; a month that is none would put the current period
  // after the report date.
  if (first < 1 || first > 12) first = 1;
  b.PeriodMonths = months;
  const int month = p.ReportDate.size() >= 3 ? static_cast<unsigned char>(p.ReportDate[2]) - 128 : 1;
  const int elapsed = (month - first + 12) % months;
  // The start of the period goes through its short text, as the suite
  // computes it: two-digit years are read around this year.
  const int thisYear = platform::Now().year;
  const std::string shifted = format::ShortDateText(format::AddToDate(p.ReportDate, -elapsed, "M"), thisYear);
  b.PeriodStart =
      format::ParseDateText("01" + (shifted.size() > 2 ? shifted.substr(2) : std::string()), thisYear);
  b.PeriodEnd = format::AddToDate(format::AddToDate(b.PeriodStart, months, "M"), -1, "D");
  b.NextStart = format::AddToDate(b.PeriodEnd, 1, "D");
  b.NextEnd = format::AddToDate(format::AddToDate(b.NextStart, months, "M"), -1, "D");
  b.ColumnName[1] = config::CatalogText("SEGONS COEFICIENT GENERAL");
  b.ColumnTotal[1] = 1000000;
  for (int k = 2; k <= kColumns; ++k) {
    b.ColumnName[static_cast<std::size_t>(k)] = property.ColumnName(k);
    b.ColumnTotal[static_cast<std::size_t>(k)] = property.ColumnTotal(k);
  }
  b.PropertyName = std::string(base::TrimRight(format::NameInReadingOrder(property.Name())));
  b.PropertyTaxId = property.TaxId();
  return {};
}

StepResult CollectOwnerIssues(Report& report) {
  BudgetState& b = report.budget;
  const std::string& code = report.parameters.PropertyCode;
  if (StepResult locked = LockOwners(code); !locked.ok()) return locked;
  CleanUp release([] { data::ReleaseLock("PropietH"); });
  b.OwnerCount = 0;
  b.OwnerIssued.fill(0);
  b.OwnerMonthsLeft.fill(0);
  b.OtherOwnerIssues.clear();
  const records::Owner owner{report.areas.For(kOwnersFile)};
  const records::Collection collection{report.areas.For(kCollectionsFile)};
  data::KeyWalk owners(kOwnersFile, 0, code, [&] { return owner.PropertyCode() == code; });
  for (; owners.Valid(); owners.Next()) {
    ++b.OwnerCount;
    const std::int16_t n = records::OwnerNumber(owner.Key());
    const std::string key = owner.Key();
    std::string latest = format::AddToDate(b.NextStart, -1, "M");
    std::int32_t issued = 0;
    std::int16_t monthsLeft = 0;
    const std::string last = key + b.NextEnd;
    data::KeyWalk receipts(kCollectionsFile, 0, key + b.NextStart,
                           [&] { return collection.OwnerKey() + collection.Date() <= last; });
    for (; receipts.Valid(); receipts.Next()) {
      AddAmount(issued, collection.Amount());
      if (collection.Date() > latest) latest = collection.Date();
    }
    if (receipts.Failed()) return StepResult::Failed(receipts.FailureText());
    if (latest < b.NextEnd) monthsLeft = static_cast<std::int16_t>(format::DateDifference(latest, b.NextEnd, "M"));
    // Owner numbers outside 1 to 999 have no place in the tables.
    if (InTables(n)) {
      b.OwnerIssued[static_cast<std::size_t>(n)] = issued;
      b.OwnerMonthsLeft[static_cast<std::size_t>(n)] = monthsLeft;
    } else {
      b.OtherOwnerIssues[key] = {issued, monthsLeft};
    }
  }
  // Owners missed by a failed read would change the fee line and every
  // share: the budget cannot be built from part of them.
  if (owners.Failed()) return StepResult::Failed(owners.FailureText());
  return {};
}

std::int32_t ComputeFeeAmount(const Report& report) {
  const BudgetState& b = report.budget;
  const records::Property property = PropertyRecord(report);
  const std::size_t i = property.RateIndex() == 1 ? 1 : 0;
  const double rate = report.fees.VatRate[i];
  double withholding = 0;
  const std::string own = AdministratorTaxId();
  const bool ownIsPerson = own.size() >= 2 && own.substr(0, 2) == "ES" && !CompanyTaxId(own);
  if (ownIsPerson && CompanyTaxId(property.TaxId())) withholding = report.fees.WithholdingRate[i];
  const double base = static_cast<double>(b.OwnerCount) * property.FeePerOwnerMonth() * b.PeriodMonths;
  const std::int32_t a = Rounded(base * (rate / 100 + 1));
  const std::int32_t w = Rounded(base * withholding / 100);
  return a - w;
}

std::int32_t LineBudget(std::int32_t spent, std::string_view variation) {
  const std::size_t percent = variation.find('%');
  if (percent != std::string_view::npos)
    return Rounded(spent / 100.0 * format::NumberValue(variation.substr(0, percent)));
  return Rounded(format::NumberValue(variation) + spent);
}

StepResult BuildWorkingBudget(Report& report) {
  BudgetState& b = report.budget;
  WorkingFile& file = report.working;
  const std::string& code = report.parameters.PropertyCode;
  b.FeeAmount = ComputeFeeAmount(report);

  std::string columnList;
  // No list for the property is no error: the lookup then finds nothing.
  if (const std::int16_t status = data::ReadByKey(kConceptColumnsFile, 0, code, 0); status == 0)
    columnList = records::ConceptColumns{report.areas.For(kConceptColumnsFile)}.List();
  else if (!data::EndsWalk(status))
    return ReadFailed(kConceptColumnsFile, status);

  // The lines go to the file in one write, and come back from it as it
  // keeps them.
  std::vector<WorkingLine> built;
  const records::Concept expense{report.areas.For(kConceptsFile)};
  data::KeyWalk concepts(kConceptsFile, 0, std::string(2, '\0'));
  for (; concepts.Valid(); concepts.Next()) {
    WorkingLine line;
    line.code = expense.Code();
    line.description = expense.Description();
    if (line.code == "HO") {
      line.column = 'A';
      line.spent = b.FeeAmount;
    }
    line.column = ListedColumn(columnList, line.code, line.column);
    built.push_back(std::move(line));
  }
  if (concepts.Failed()) return StepResult::Failed(concepts.FailureText());
  for (int k = 0; k < kColumns; ++k) {
    WorkingLine line;
    line.code = std::string("\xFF") + kColumnLetters[static_cast<std::size_t>(k)];
    line.description = config::CatalogText("DESPESES DIVERSES COLUMNA ") + kColumnLetters[static_cast<std::size_t>(k)];
    line.column = kColumnLetters[static_cast<std::size_t>(k)];
    built.push_back(std::move(line));
  }
  {
    WorkingLine line;
    line.code = "\xFF\xFF";
    line.description = config::CatalogText("DESPESES DIVERSES PARTIC.");
    built.push_back(std::move(line));
  }
  file.Append(built);

  std::vector<WorkingLine> lines = file.Lines();
  if (file.Failed()) return StepResult::Failed(file.Failure());
  // The first line of each code: payments and stored lines go to the first
  // line that matches, and there are thousands of payments.
  std::unordered_map<std::string, int> firstLine;
  for (std::size_t i = 0; i < lines.size(); ++i) firstLine.try_emplace(lines[i].code, static_cast<int>(i));
  auto first = [&](const std::string& lineCode) {
    const auto it = firstLine.find(lineCode);
    return it == firstLine.end() ? -1 : it->second;
  };

  const records::StoredLine stored{report.areas.For(kStoredBudgetFile)};
  data::KeyWalk storedLines(kStoredBudgetFile, 0, code, [&] { return stored.PropertyCode() == code; });
  for (; storedLines.Valid(); storedLines.Next()) {
    const std::string conceptCode = stored.Concept();
    const int i = first(conceptCode);
    if (i < 0) continue;
    WorkingLine& line = lines[static_cast<std::size_t>(i)];
    line.column = stored.Column();
    line.variation = stored.Percent() != 0 ? format::PlainNumberText(stored.Percent() / 1000.0) + "%"
                                           : format::PlainNumberText(stored.Amount());
  }
  if (storedLines.Failed()) return StepResult::Failed(storedLines.FailureText());

  const records::Payment payment{report.areas.For(kPaymentsFile)};
  const std::string last = code + b.PeriodEnd;
  data::KeyWalk payments(kPaymentsFile, 0, code + b.PeriodStart,
                         [&] { return payment.PropertyCode() + payment.Date() <= last; });
  for (; payments.Valid(); payments.Next()) {
    const std::string conceptCode = payment.Concept();
    const char kind = payment.Kind();
    const int column = static_cast<int>(format::UnpackedValue(payment.ColumnNumber()));
    const std::string columnCode =
        column >= 0 && column <= kColumns ? std::string("\xFF") + " ABCDEFG"[column] : std::string();
    int i = first(conceptCode);
    for (const int other : {kind == 'N' && !columnCode.empty() ? first(columnCode) : -1,
                            kind == 'S' ? first("\xFF\xFF") : -1})
      if (other >= 0 && (i < 0 || other < i)) i = other;
    if (i < 0) continue;
    WorkingLine& line = lines[static_cast<std::size_t>(i)];
    AddAmount(line.spent, payment.Amount());
    line.column = kind == 'N' && column >= 1 && column <= kColumns ? kColumnLetters[static_cast<std::size_t>(column - 1)]
                                                                   : ' ';
  }
  if (payments.Failed()) return StepResult::Failed(payments.FailureText());

  b.TotalSpent = 0;
  b.TotalBudget = 0;
  for (WorkingLine& line : lines) {
    line.budget = LineBudget(line.spent, line.variation);
    if (static_cast<unsigned char>(line.column) > ' ') AddAmount(b.TotalBudget, line.budget);
    AddAmount(b.TotalSpent, line.spent);
  }
  file.Write(1, lines);
  if (file.Failed()) return StepResult::Failed(file.Failure());
  return {};
}

StepResult BuildBudget(Report& report) {
  StepResult result = ComputePeriods(report);
  if (result.ok()) result = CollectOwnerIssues(report);
  if (result.ok()) result = BuildWorkingBudget(report);
  return result;
}

StepResult FillBudgetPage(Report& report, int page, bool& lastPage) {
  BudgetState& b = report.budget;
  WorkingFile& file = report.working;
  console::FormScreen& screen = console::Forms().forms.Screen(2);
  const int fields = screen.fieldCount;
  const int perPage = (fields - 3) / 5 + 1;
  console::SetFieldValue(2, 1, format::PlainNumberText(b.TotalSpent));
  console::SetFieldValue(2, 2, format::PlainNumberText(b.TotalBudget));
  std::int32_t n = (page - 1) * perPage + 1;
  int k = 3;
  WorkingLine line;
  for (; k <= fields; k += 5, ++n) {
    if (!file.Read(n, line)) break;
    console::SetFieldValue(2, k, line.code + "  " + line.description);
    console::SetFieldValue(2, k + 1, std::string(1, line.column));
    console::SetFieldValue(2, k + 2, format::PlainNumberText(line.spent));
    console::SetFieldValue(2, k + 3, line.variation);
    console::SetFieldValue(2, k + 4, format::PlainNumberText(line.budget));
  }
  screen.fieldCount = static_cast<std::int16_t>(k - 1);
  b.Page = page;
  b.Pages = std::max(1, static_cast<int>((file.Count() + perPage - 1) / perPage));
  lastPage = n > file.Count();
  if (file.Failed()) return StepResult::Failed(file.Failure());
  return {};
}

StepResult StoreBudgetPage(Report& report, int page) {
  BudgetState& b = report.budget;
  WorkingFile& file = report.working;
  const int perPage = (console::Forms().forms.Screen(2).fields.size() >= 3
                           ? (static_cast<int>(console::Forms().forms.Screen(2).fields.size()) - 3) / 5 + 1
                           : 1);
  // The screen's texts may hold more than a record does: they stop at its
  // limits like every other amount.
  b.TotalSpent = Rounded(format::NumberValue(Field2(1).value));
  b.TotalBudget = Rounded(format::NumberValue(Field2(2).value));
  const int count = console::Forms().forms.Screen(2).fieldCount;
  std::int32_t n = (page - 1) * perPage + 1;
  WorkingLine line;
  for (int k = 3; k + 4 <= count; k += 5, ++n) {
    if (!file.Read(n, line)) break;
    line.column = Field2(k + 1).value.empty() ? ' ' : Field2(k + 1).value[0];
    line.variation = Field2(k + 3).value;
    line.budget = Rounded(format::NumberValue(Field2(k + 4).value));
    file.Write(n, line);
  }
  // An edit that did not reach the file would be lost, or saved half.
  if (file.Failed()) return StepResult::Failed(file.Failure());
  return {};
}

namespace {
StepResult SaveFailed(const std::string& why) {
  return StepResult::Failed(config::CatalogText("NO S'HA POGUT DESAR EL PRESSUPOST: ES MANTÉ L'ANTERIOR"_cp) + ". " +
                            why);
}
}  // namespace

StepResult SaveStoredBudget(Report& report) {
  const std::string& code = report.parameters.PropertyCode;
  const std::span<char> area = report.areas.For(kStoredBudgetFile);
  const records::StoredLine stored{area};
  // The working budget is read whole before anything is touched: a file
  // that cannot be read back must leave the stored budget as it was.
  WorkingFile& file = report.working;
  const std::vector<WorkingLine> lines = file.Lines();
  if (file.Failed()) return SaveFailed(file.Failure());
  // Every working budget has its miscellaneous lines: an empty one was cut
  // behind the program's back, and saving it would wipe the stored budget.
  if (lines.empty())
    return SaveFailed(config::CatalogText("NO ES POT LLEGIR EL FITXER DE TREBALL ") + WorkingFile::SuitePath() + ": " +
                      config::FileFailureReason(ENODATA));
  // Deleting the old lines and inserting the new ones is one change: a
  // failure or a crash between them must not leave the property without a
  // budget, or with half of one.
  data::Transaction transaction;
  if (const std::int16_t status = transaction.BeginStatus(); status != 0)
    return SaveFailed(data::FailureText(kStoredBudgetFile, status));
  for (;;) {
    data::KeyWalk old(kStoredBudgetFile, 0, code, [&] { return stored.PropertyCode() == code; });
    if (old.Failed()) return SaveFailed(old.FailureText());
    if (!old.Valid()) break;
    if (const std::int16_t status = data::DeleteRecord(kStoredBudgetFile); status != 0)
      return SaveFailed(data::FailureText(kStoredBudgetFile, status));
  }
  for (const WorkingLine& line : lines) {
    const std::size_t p = line.variation.find('%');
    std::int32_t percent = 0, amount = 0;
    if (p != std::string::npos)
      percent = Rounded(1000 * format::NumberValue(std::string_view(line.variation).substr(0, p)));
    else
      amount = Rounded(format::NumberValue(line.variation));
    if (percent == 0 && amount == 0 && line.budget == 0) continue;
    std::fill(area.begin(), area.end(), '\0');
    stored.SetPropertyCode(code);
    stored.SetConcept(line.code);
    stored.SetColumn(line.column);
    stored.SetPercent(percent);
    stored.SetAmount(amount);
    stored.SetBudget(line.budget);
    if (const std::int16_t status = data::InsertRecord(kStoredBudgetFile); status != 0)
      return SaveFailed(data::FailureText(kStoredBudgetFile, status));
  }
  // The budget lock is asked for last: a property that passed to another
  // workstation while the budget was edited keeps what that one saved.
  if (const std::string lost = LostLockText({"PressupH"}); !lost.empty()) return SaveFailed(lost);
  if (const std::int16_t status = transaction.Commit(); status != 0)
    return SaveFailed(data::FailureText(kStoredBudgetFile, status));
  return {};
}

}  // namespace app
