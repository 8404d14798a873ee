#include "app/listings.h"

#include <cmath>
#include <string_view>

#include "app/administrator.h"
#include "app/records.h"
#include "base/strings.h"
#include "config/catalog.h"
#include "base/cp850.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/numbers.h"
#include "format/text.h"

namespace app {
namespace {

constexpr std::int16_t kPageLength = 66;

std::string Cat(std::string_view key) { return config::CatalogText(key); }

// Titles are centred on column 48.
std::int16_t Centred(std::size_t length) {
  return static_cast<std::int16_t>(48 - std::nearbyint(static_cast<double>(length) / 2));
}

std::string LastThreeDigits(std::string_view packed) {
  const std::string digits = format::UnpackDigits(packed);
  return digits.size() > 3 ? digits.substr(digits.size() - 3) : digits;
}

std::string Amount(std::string_view mask, std::int32_t cents) { return format::FormatAmount(mask, cents); }

// The pages of both listings, printed from the report into its channel.
class Printer {
 public:
  explicit Printer(Report& report) : r_(report), out_(report.channel), l_(report.listing) {}

  void OwnerLine(const OwnerShares& o);
  void DistributionTotals(const app::DistributionTotals& t);
  void BudgetLine(std::size_t k, const records::WorkingLine& line);
  void ColumnSubtotal(std::size_t k);
  void BudgetTotal();

 private:
  std::int16_t Cur() const { return out_.ColumnCount(); }
  std::int16_t LineCount() const { return out_.LineCount(); }
  void PageHeader();
  void Titles(std::string_view titleKey);
  void DistributionHeadings();
  void DistributionPage();
  void BudgetPage();
  void ColumnHeading(std::size_t k);

  Report& r_;
  PrintChannel& out_;
  ListingState& l_;
};

void Printer::PageHeader() {
  ++l_.PageNo;
  out_.SetPageLength(kPageLength);
  out_.SendPrintCommand("@e");
  const std::string pageLine = Cat("PÀGINA "_cp) + format::FormatWithMask("ZZZ9", l_.PageNo);
  const bool letterhead = r_.fees.LetterheadSetting != "N";
  const auto& admin = r_.administrator;
  if (l_.PageNo == 1) {
    if (!letterhead) {
      out_.SetJustification("D");
      out_.PrintLine(85, pageLine, 9);
      return;
    }
    out_.PrintLine(1, admin[1], 0);
    out_.SetJustification("D");
    out_.PrintLine(85, pageLine, 1);
    if (!format::IsAllChar(admin[6], ' ')) out_.PrintLine(1, admin[6], 1);
    for (int i = 2; i <= 5; ++i) out_.PrintLine(1, admin[static_cast<std::size_t>(i)], 1);
    out_.PrintLine(1, "N.I.F. " + admin[7], 2);
    return;
  }
  if (!letterhead) {
    out_.SetJustification("D");
    out_.PrintLine(85, pageLine, 9);
    out_.PrintLine(1, r_.budget.PropertyName, 2);
  } else {
    out_.PrintLine(1, r_.budget.PropertyName, 0);
    out_.SetJustification("D");
    out_.PrintLine(85, pageLine, 2);
  }
}

void Printer::Titles(std::string_view titleKey) {
  const BudgetState& b = r_.budget;
  const std::string title = format::FoldText(Cat(titleKey) + format::LongDateText(b.NextStart, 2, "ma") + Cat(" I ") +
                                             format::LongDateText(b.NextEnd, 2, "ma"));
  out_.SetJustification("A");
  out_.PrintLine(Centred(title.size()), title, 1);
  const std::string second = Cat("CORRESPONENT A LA COMUNITAT DE PROPIETARIS ") +
                             LastThreeDigits(r_.parameters.PropertyCode) + " - " + b.PropertyName;
  out_.SetJustification("A");
  const std::int16_t column = Centred(second.size());
  out_.PrintLine(column, second, 1);
  out_.PrintLine(column, std::string(second.size(), '='), 2);
}

void Printer::DistributionHeadings() {
  const BudgetState& b = r_.budget;
  if (l_.PageNo == 1) {
    bool right = false;
    for (std::size_t k = 1; k <= kColumns; ++k) {
      if (format::IsAllChar(b.ColumnName[k], ' ')) continue;
      const std::string text = Cat("COLUMNA < ") + kColumnLetters[k - 1] + " > : " + b.ColumnName[k];
      if (right)
        out_.PrintLine(48, text, 1);
      else
        out_.PrintLine(1, text, 0);
      right = !right;
    }
    out_.PrintLine(0, "", right ? 2 : 1);
  }
  out_.SendPrintCommand("q");
  out_.SetJustification("D");
  out_.PrintLine(93, Cat("     TOTAL"), 0);
  out_.PrintLine(104, Cat("      FONS"), 0);
  out_.PrintLine(115, Cat("      FONS"), 0);
  out_.PrintLine(126, Cat("      FONS"), 1);
  out_.PrintLine(1, Cat("COD"), 0);
  out_.PrintLine(5, Cat("DEPART."), 0);
  out_.SetJustification("D");
  for (std::size_t k = 0; k < kColumns; ++k)
    out_.PrintLine(static_cast<std::int16_t>(16 + 11 * k), std::string("     < ") + kColumnLetters[k] + " >", 0);
  out_.PrintLine(93, Cat("  PRESSUP."), 0);
  out_.PrintLine(104, Cat("    GIRATS"), 0);
  out_.PrintLine(115, Cat("  MENSUALS"), 0);
  out_.PrintLine(126, Cat(" TRIMESTR."), 1);
  out_.PrintLine(1, std::string(135, '-'), 1);
}

void Printer::DistributionPage() {
  PageHeader();
  Titles("REPARTIMENT DE LES DESPESES PER AL PERÍODE COMPRÈS ENTRE "_cp);
  DistributionHeadings();
}

void Printer::BudgetPage() {
  PageHeader();
  Titles("DESPESES PRESSUPOSTADES PER AL PERÍODE COMPRÈS ENTRE "_cp);
}

void Printer::ColumnHeading(std::size_t k) {
  out_.PrintLine(1, "", 1);
  out_.SetJustification("A");
  const std::string heading = Cat("DESPESES < ") + kColumnLetters[k - 1] + " > " + r_.budget.ColumnName[k] + " :";
  out_.PrintLine(1, heading, 1);
  out_.PrintLine(1, std::string(heading.size(), '-'), 1);
  l_.ColumnHeaderDone = true;
}

void Printer::OwnerLine(const OwnerShares& o) {
  if (l_.PageNo == 0 || LineCount() > 60) DistributionPage();
  out_.PrintLine(1, format::ZeroPad(o.OwnerNumber, 3), 0);
  out_.PrintLine(5, o.Department, 0);
  out_.SetJustification("D");
  for (std::size_t k = 1; k <= kColumns; ++k) out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Share[k]), 0);
  out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.OwnerTotal), 0);
  out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Issued), 0);
  out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Monthly), 0);
  out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Quarterly), 1);
}

void Printer::DistributionTotals(const app::DistributionTotals& t) {
  if (LineCount() > 57) DistributionPage();
  out_.PrintLine(5, Cat("AJUST"), 0);
  out_.SetJustification("D");
  out_.PrintLine(15, "", 0);
  for (std::size_t k = 1; k <= kColumns; ++k)
    out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZZ", t.ColumnBudget[k] - t.ColumnOwnerSum[k]), 0);
  out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZZ", t.BudgetTotal - t.OwnersTotal), 1);
  out_.PrintLine(16, std::string(87, '-'), 1);
  out_.PrintLine(5, Cat("TOTAL"), 0);
  out_.SetJustification("D");
  out_.PrintLine(15, "", 0);
  for (std::size_t k = 1; k <= kColumns; ++k) out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", t.ColumnBudget[k]), 0);
  out_.PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", t.BudgetTotal), 1);
  out_.PrintLine(5, std::string(98, '='), 1);
}

void Printer::BudgetLine(std::size_t k, const records::WorkingLine& line) {
  if (l_.PageNo == 0 || LineCount() > 60) BudgetPage();
  if (!l_.ColumnHeaderDone) ColumnHeading(k);
  out_.PrintLine(1, line.description, 0);
  out_.SetJustification("D");
  out_.PrintLine(39, Amount("ZZ,ZZZ,ZZ9", line.spent), 0);
  out_.PrintLine(50, Amount("+ZZ,ZZZ,ZZ9", line.budget - line.spent), 0);
  if (line.spent == 0)
    out_.PrintLine(62, "( -- -- %)", 0);
  else
    out_.PrintLine(62, format::FormatWithMask("(+ZZ9.99%)", (static_cast<double>(line.budget) / line.spent - 1) * 100),
                   0);
  out_.PrintLine(73, "=", 0);
  out_.PrintLine(75, Amount("ZZ,ZZZ,ZZ9", line.budget), 1);
  l_.ColumnSubtotal += line.budget;
  l_.ListingTotal += line.budget;
}

void Printer::ColumnSubtotal(std::size_t k) {
  out_.PrintLine(75, "----------", 1);
  if (LineCount() > 59) {
    PageHeader();
    ColumnHeading(k);
  }
  out_.SetJustification("N 84 \\.\\");
  out_.PrintLine(39, Cat("TOTAL DESPESES < ") + kColumnLetters[k - 1] + " > ", 0);
  out_.SetJustification("D");
  out_.PrintLine(86, Amount("ZZ,ZZZ,ZZ9", l_.ColumnSubtotal), 1);
}

void Printer::BudgetTotal() {
  out_.PrintLine(86, "----------", 1);
  if (LineCount() > 57) PageHeader();
  out_.PrintLine(39, Cat("TOTAL PRESSUPOST"), 0);
  out_.SetJustification("D");
  out_.PrintLine(86, Amount("ZZ,ZZZ,ZZ9", l_.ListingTotal), 1);
  out_.PrintLine(39, std::string(57, '='), 2);
  const std::string closing =
      std::string(base::TrimRight(r_.administrator[8])) + ", " + format::LongDateText(r_.parameters.ReportDate, 2, "dma");
  out_.SetJustification("D");
  out_.PrintLine(static_cast<std::int16_t>(96 - static_cast<int>(closing.size())), closing, 1);
}

}  // namespace

void DistributionListing::PassComputed(const DistributionPass& pass) {
  Printer printer(report_);
  report_.listing.PageNo = 0;
  for (const OwnerShares& owner : pass.owners) printer.OwnerLine(owner);
  // No page begun, no totals under it.
  if (report_.listing.PageNo > 0) printer.DistributionTotals(pass.totals);
}

StepResult PrintBudgetListing(Report& report) {
  const std::int16_t copies = report.parameters.BudgetCopies;
  const int count = copies > 0 ? copies : copies == -1 ? report.budget.OwnerCount : 0;
  if (count <= 0) return {};
  WorkingFile& working = report.working;
  const std::vector<records::WorkingLine> lines = working.Lines();
  if (working.Failed()) return StepResult::Failed(working.Failure());
  Printer printer(report);
  ListingState& l = report.listing;
  for (int copy = 0; copy < count; ++copy) {
    l = ListingState{};
    for (std::size_t k = 1; k <= kColumns; ++k) {
      l.ColumnSubtotal = 0;
      l.ColumnHeaderDone = false;
      for (const records::WorkingLine& line : lines)
        if (line.column == kColumnLetters[k - 1] && line.budget != 0) printer.BudgetLine(k, line);
      if (l.ColumnHeaderDone) printer.ColumnSubtotal(k);
    }
    if (l.PageNo > 0) printer.BudgetTotal();
  }
  return {};
}

void PrepareListings(Report& report) { report.administrator = AdministratorData(); }

StepResult PrintReport(Report& report) {
  PrepareListings(report);
  format::SetCurrency("p");
  DistributionListing listing(report);
  StepResult result = DistributeBudget(report, listing);
  if (result.ok()) result = PrintBudgetListing(report);
  format::SetCurrency("");
  return result;
}

}  // namespace app
