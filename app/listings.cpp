#include "app/listings.h"

#include <cmath>
#include <functional>
#include <map>
#include <memory>
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

// Titles are centred on column 48.
std::int16_t Centred(std::size_t length) {
  return static_cast<std::int16_t>(48 - std::nearbyint(static_cast<double>(length) / 2));
}

std::string LastThreeDigits(std::string_view packed) {
  const std::string digits = format::UnpackDigits(packed);
  return digits.size() > 3 ? digits.substr(digits.size() - 3) : digits;
}

// The pictures of the printed amounts, page numbers and percentages, read
// once.
const format::AmountPicture kShare(" ZZ,ZZZ,ZZ9");
const format::AmountPicture kAdjustment(" ZZ,ZZZ,ZZZ");
const format::AmountPicture kBudgetAmount("ZZ,ZZZ,ZZ9");
const format::AmountPicture kVariation("+ZZ,ZZZ,ZZ9");
const format::MaskPicture kPageNumber("ZZZ9");
const format::MaskPicture kPercentage("(+ZZ9.99%)");

}  // namespace

// The pages of both listings, printed from the report into its channel.
// Catalogue texts and titles are looked up once per listing, not once per
// page: a copy for every owner prints tens of thousands of pages.
class ListingPrinter {
 public:
  explicit ListingPrinter(Report& report) : r_(report), out_(report.channel), l_(report.listing) {}

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
  const std::string& Cat(std::string_view key);
  const std::string& Title(std::string_view titleKey);
  // Prints `cents` through `picture` at the current column.
  void PrintAmount(const format::AmountPicture& picture, std::int32_t cents, std::int16_t advance);

  Report& r_;
  PrintChannel& out_;
  ListingState& l_;
  std::map<std::string, std::string, std::less<>> catalog_;
  std::map<std::string, std::string, std::less<>> titles_;
  std::string field_;  // the field being printed
};

const std::string& ListingPrinter::Cat(std::string_view key) {
  auto it = catalog_.find(key);
  if (it == catalog_.end()) it = catalog_.emplace(std::string(key), config::CatalogText(key)).first;
  return it->second;
}

const std::string& ListingPrinter::Title(std::string_view titleKey) {
  auto it = titles_.find(titleKey);
  if (it == titles_.end()) {
    const BudgetState& b = r_.budget;
    std::string title = format::FoldText(Cat(titleKey) + format::LongDateText(b.NextStart, 2, "ma") + Cat(" I ") +
                                         format::LongDateText(b.NextEnd, 2, "ma"));
    it = titles_.emplace(std::string(titleKey), std::move(title)).first;
  }
  return it->second;
}

void ListingPrinter::PrintAmount(const format::AmountPicture& picture, std::int32_t cents, std::int16_t advance) {
  field_.clear();
  picture.AppendTo(field_, cents);
  out_.PrintLine(Cur(), field_, advance);
}

void ListingPrinter::PageHeader() {
  ++l_.PageNo;
  out_.SetPageLength(kPageLength);
  out_.SendPrintCommand("@e");
  std::string pageLine = Cat("PÀGINA "_cp);
  kPageNumber.AppendTo(pageLine, l_.PageNo);
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

void ListingPrinter::Titles(std::string_view titleKey) {
  const BudgetState& b = r_.budget;
  const std::string& title = Title(titleKey);
  out_.SetJustification("A");
  out_.PrintLine(Centred(title.size()), title, 1);
  const std::string second = Cat("CORRESPONENT A LA COMUNITAT DE PROPIETARIS ") +
                             LastThreeDigits(r_.parameters.PropertyCode) + " - " + b.PropertyName;
  out_.SetJustification("A");
  const std::int16_t column = Centred(second.size());
  out_.PrintLine(column, second, 1);
  out_.PrintLine(column, std::string(second.size(), '='), 2);
}

void ListingPrinter::DistributionHeadings() {
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

void ListingPrinter::DistributionPage() {
  PageHeader();
  Titles("REPARTIMENT DE LES DESPESES PER AL PERÍODE COMPRÈS ENTRE "_cp);
  DistributionHeadings();
}

void ListingPrinter::BudgetPage() {
  PageHeader();
  Titles("DESPESES PRESSUPOSTADES PER AL PERÍODE COMPRÈS ENTRE "_cp);
}

void ListingPrinter::ColumnHeading(std::size_t k) {
  out_.PrintLine(1, "", 1);
  out_.SetJustification("A");
  const std::string heading = Cat("DESPESES < ") + kColumnLetters[k - 1] + " > " + r_.budget.ColumnName[k] + " :";
  out_.PrintLine(1, heading, 1);
  out_.PrintLine(1, std::string(heading.size(), '-'), 1);
  l_.ColumnHeaderDone = true;
}

void ListingPrinter::OwnerLine(const OwnerShares& o) {
  if (l_.PageNo == 0 || LineCount() > 60) DistributionPage();
  out_.PrintLine(1, format::ZeroPadWhole(o.OwnerNumber, 3), 0);
  out_.PrintLine(5, o.Department, 0);
  out_.SetJustification("D");
  for (std::size_t k = 1; k <= kColumns; ++k) PrintAmount(kShare, o.Share[k], 0);
  PrintAmount(kShare, o.OwnerTotal, 0);
  PrintAmount(kShare, o.Issued, 0);
  PrintAmount(kShare, o.Monthly, 0);
  PrintAmount(kShare, o.Quarterly, 1);
}

void ListingPrinter::DistributionTotals(const app::DistributionTotals& t) {
  if (LineCount() > 57) DistributionPage();
  out_.PrintLine(5, Cat("AJUST"), 0);
  out_.SetJustification("D");
  out_.PrintLine(15, "", 0);
  for (std::size_t k = 1; k <= kColumns; ++k) PrintAmount(kAdjustment, t.ColumnBudget[k] - t.ColumnOwnerSum[k], 0);
  PrintAmount(kAdjustment, t.BudgetTotal - t.OwnersTotal, 1);
  out_.PrintLine(16, std::string(87, '-'), 1);
  out_.PrintLine(5, Cat("TOTAL"), 0);
  out_.SetJustification("D");
  out_.PrintLine(15, "", 0);
  for (std::size_t k = 1; k <= kColumns; ++k) PrintAmount(kShare, t.ColumnBudget[k], 0);
  PrintAmount(kShare, t.BudgetTotal, 1);
  out_.PrintLine(5, std::string(98, '='), 1);
}

void ListingPrinter::BudgetLine(std::size_t k, const records::WorkingLine& line) {
  if (l_.PageNo == 0 || LineCount() > 60) BudgetPage();
  if (!l_.ColumnHeaderDone) ColumnHeading(k);
  out_.PrintLine(1, line.description, 0);
  out_.SetJustification("D");
  out_.PrintLine(39, kBudgetAmount.Format(line.spent), 0);
  out_.PrintLine(50, kVariation.Format(static_cast<std::int64_t>(line.budget) - line.spent), 0);
  if (line.spent == 0)
    out_.PrintLine(62, "( -- -- %)", 0);
  else
    out_.PrintLine(62, kPercentage.Format((static_cast<double>(line.budget) / line.spent - 1) * 100), 0);
  out_.PrintLine(73, "=", 0);
  out_.PrintLine(75, kBudgetAmount.Format(line.budget), 1);
  l_.ColumnSubtotal += line.budget;
  l_.ListingTotal += line.budget;
}

void ListingPrinter::ColumnSubtotal(std::size_t k) {
  out_.PrintLine(75, "----------", 1);
  if (LineCount() > 59) {
    PageHeader();
    ColumnHeading(k);
  }
  out_.SetJustification("N 84 \\.\\");
  out_.PrintLine(39, Cat("TOTAL DESPESES < ") + kColumnLetters[k - 1] + " > ", 0);
  out_.SetJustification("D");
  out_.PrintLine(86, kBudgetAmount.Format(l_.ColumnSubtotal), 1);
}

void ListingPrinter::BudgetTotal() {
  out_.PrintLine(86, "----------", 1);
  if (LineCount() > 57) PageHeader();
  out_.PrintLine(39, Cat("TOTAL PRESSUPOST"), 0);
  out_.SetJustification("D");
  out_.PrintLine(86, kBudgetAmount.Format(l_.ListingTotal), 1);
  out_.PrintLine(39, std::string(57, '='), 2);
  const std::string closing =
      std::string(base::TrimRight(r_.administrator[8])) + ", " + format::LongDateText(r_.parameters.ReportDate, 2, "dma");
  out_.SetJustification("D");
  out_.PrintLine(static_cast<std::int16_t>(96 - static_cast<int>(closing.size())), closing, 1);
}

DistributionListing::DistributionListing(Report& report) : report_(report) {}

DistributionListing::~DistributionListing() = default;

void DistributionListing::PassComputed(const DistributionPass& pass) {
  if (!printer_) printer_ = std::make_unique<ListingPrinter>(report_);
  ListingPrinter& printer = *printer_;
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
  ListingPrinter printer(report);
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

std::string PrintingMessage(const Report& report) {
  return config::CatalogText("IMPRIMINT EL LLISTAT DE ") + std::to_string(report.budget.OwnerCount) +
         config::CatalogText(" PROPIETARIS");
}

void PrepareListings(Report& report) { report.administrator = AdministratorData(); }

StepResult PrintReport(Report& report, const DistributionPass* computed) {
  PrepareListings(report);
  format::SetCurrency("p");
  DistributionListing listing(report);
  StepResult result = DistributeBudget(report, listing, computed);
  if (result.ok()) result = PrintBudgetListing(report);
  format::SetCurrency("");
  return result;
}

}  // namespace app
