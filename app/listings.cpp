#include "app/listings.h"

#include <cmath>
#include <string_view>

#include "app/administrator.h"
#include "app/distribution.h"
#include "app/hooks.h"
#include "app/module.h"
#include "app/print_channel.h"
#include "app/run.h"
#include "app/working_file.h"
#include "config/catalog.h"
#include "config/session.h"
#include "format/cp850.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/numbers.h"
#include "format/text.h"

namespace app {
namespace {

constexpr std::int16_t kPageLength = 66;

std::array<std::string, 9>& Administrator() {
  static std::array<std::string, 9> data;
  return data;
}

std::string Cat(std::string_view key) { return config::CatalogText(key); }

std::string TrimRight(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::int16_t Cur() { return PrintChannel().ColumnCount; }
std::int16_t LineCount() { return PrintChannel().LineCount; }

// Titles are centred on column 48.
std::int16_t Centred(std::size_t length) {
  return static_cast<std::int16_t>(48 - std::nearbyint(static_cast<double>(length) / 2));
}

std::string LastThreeDigits(std::string_view packed) {
  const std::string digits = format::UnpackDigits(packed);
  return digits.size() > 3 ? digits.substr(digits.size() - 3) : digits;
}

std::string Amount(std::string_view spec, std::int32_t cents) { return format::FormatAmount(spec, cents); }

void PageHeader() {
  ListingState& l = Listing();
  ++l.PageNo;
  SetPageLength(kPageLength);
  SendPrintCommand("@e");
  const std::string pageLine = Cat("PÀGINA "_cp) + format::FormatWithMask("ZZZ9", l.PageNo);
  const bool letterhead = Fees().LetterheadSetting != "N";
  const auto& admin = Administrator();
  if (l.PageNo == 1) {
    if (!letterhead) {
      SetJustification("D");
      PrintLine(85, pageLine, 9);
      return;
    }
    PrintLine(1, admin[1], 0);
    SetJustification("D");
    PrintLine(85, pageLine, 1);
    if (!format::IsAllChar(admin[6], ' ')) PrintLine(1, admin[6], 1);
    for (int i = 2; i <= 5; ++i) PrintLine(1, admin[static_cast<std::size_t>(i)], 1);
    PrintLine(1, "N.I.F. " + admin[7], 2);
    return;
  }
  if (!letterhead) {
    SetJustification("D");
    PrintLine(85, pageLine, 9);
    PrintLine(1, Budget().PropertyName, 2);
  } else {
    PrintLine(1, Budget().PropertyName, 0);
    SetJustification("D");
    PrintLine(85, pageLine, 2);
  }
}

void Titles(std::string_view titleKey) {
  const BudgetState& b = Budget();
  const std::string title = format::FoldText(Cat(titleKey) + format::LongDateText(b.NextStart, 2, "ma") + Cat(" I ") +
                                             format::LongDateText(b.NextEnd, 2, "ma"));
  SetJustification("A");
  PrintLine(Centred(title.size()), title, 1);
  const std::string second = Cat("CORRESPONENT A LA COMUNITAT DE PROPIETARIS ") +
                             LastThreeDigits(Parameters().PropertyCode) + " - " + b.PropertyName;
  SetJustification("A");
  const std::int16_t column = Centred(second.size());
  PrintLine(column, second, 1);
  PrintLine(column, std::string(second.size(), '='), 2);
}

void DistributionHeadings() {
  const BudgetState& b = Budget();
  if (Listing().PageNo == 1) {
    bool right = false;
    for (std::size_t k = 1; k <= kColumns; ++k) {
      if (format::IsAllChar(b.ColumnName[k], ' ')) continue;
      const std::string text = Cat("COLUMNA < ") + kColumnLetters[k - 1] + " > : " + b.ColumnName[k];
      if (right)
        PrintLine(48, text, 1);
      else
        PrintLine(1, text, 0);
      right = !right;
    }
    PrintLine(0, "", right ? 2 : 1);
  }
  SendPrintCommand("q");
  SetJustification("D");
  PrintLine(93, Cat("     TOTAL"), 0);
  PrintLine(104, Cat("      FONS"), 0);
  PrintLine(115, Cat("      FONS"), 0);
  PrintLine(126, Cat("      FONS"), 1);
  PrintLine(1, Cat("COD"), 0);
  PrintLine(5, Cat("DEPART."), 0);
  SetJustification("D");
  for (std::size_t k = 0; k < kColumns; ++k)
    PrintLine(static_cast<std::int16_t>(16 + 11 * k), std::string("     < ") + kColumnLetters[k] + " >", 0);
  PrintLine(93, Cat("  PRESSUP."), 0);
  PrintLine(104, Cat("    GIRATS"), 0);
  PrintLine(115, Cat("  MENSUALS"), 0);
  PrintLine(126, Cat(" TRIMESTR."), 1);
  PrintLine(1, std::string(135, '-'), 1);
}

void DistributionPage() {
  PageHeader();
  Titles("REPARTIMENT DE LES DESPESES PER AL PERÍODE COMPRÈS ENTRE "_cp);
  DistributionHeadings();
}

void BudgetPage() {
  PageHeader();
  Titles("DESPESES PRESSUPOSTADES PER AL PERÍODE COMPRÈS ENTRE "_cp);
}

void ColumnHeading(std::size_t k) {
  PrintLine(1, "", 1);
  SetJustification("A");
  const std::string heading = Cat("DESPESES < ") + kColumnLetters[k - 1] + " > " + Budget().ColumnName[k] + " :";
  PrintLine(1, heading, 1);
  PrintLine(1, std::string(heading.size(), '-'), 1);
  Listing().ColumnHeaderDone = true;
}

void BudgetLine(std::size_t k, const records::WorkingLine& line) {
  ListingState& l = Listing();
  if (l.PageNo == 0 || LineCount() > 60) BudgetPage();
  if (!l.ColumnHeaderDone) ColumnHeading(k);
  PrintLine(1, line.description, 0);
  SetJustification("D");
  PrintLine(39, Amount("ZZ,ZZZ,ZZ9", line.spent), 0);
  PrintLine(50, Amount("+ZZ,ZZZ,ZZ9", line.budget - line.spent), 0);
  if (line.spent == 0)
    PrintLine(62, "( -- -- %)", 0);
  else
    PrintLine(62, format::FormatWithMask("(+ZZ9.99%)", (static_cast<double>(line.budget) / line.spent - 1) * 100), 0);
  PrintLine(73, "=", 0);
  PrintLine(75, Amount("ZZ,ZZZ,ZZ9", line.budget), 1);
  l.ColumnSubtotal += line.budget;
  l.ListingTotal += line.budget;
}

void ColumnSubtotal(std::size_t k) {
  PrintLine(75, "----------", 1);
  if (LineCount() > 59) {
    PageHeader();
    ColumnHeading(k);
  }
  SetJustification("N 84 \\.\\");
  PrintLine(39, Cat("TOTAL DESPESES < ") + kColumnLetters[k - 1] + " > ", 0);
  SetJustification("D");
  PrintLine(86, Amount("ZZ,ZZZ,ZZ9", Listing().ColumnSubtotal), 1);
}

void BudgetTotal() {
  PrintLine(86, "----------", 1);
  if (LineCount() > 57) PageHeader();
  PrintLine(39, Cat("TOTAL PRESSUPOST"), 0);
  SetJustification("D");
  PrintLine(86, Amount("ZZ,ZZZ,ZZ9", Listing().ListingTotal), 1);
  PrintLine(39, std::string(57, '='), 2);
  const std::string closing =
      TrimRight(Administrator()[8]) + ", " + format::LongDateText(Parameters().ReportDate, 2, "dma");
  SetJustification("D");
  PrintLine(static_cast<std::int16_t>(96 - static_cast<int>(closing.size())), closing, 1);
}

}  // namespace

ListingState& Listing() {
  static ListingState state;
  return state;
}

namespace {

void PrintOwnerLine(const OwnerShares& o) {
  if (Listing().PageNo == 0 || LineCount() > 60) DistributionPage();
  PrintLine(1, format::ZeroPad(o.OwnerNumber, 3), 0);
  PrintLine(5, o.Department, 0);
  SetJustification("D");
  for (std::size_t k = 1; k <= kColumns; ++k) PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Share[k]), 0);
  PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.OwnerTotal), 0);
  PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Issued), 0);
  PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Monthly), 0);
  PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", o.Quarterly), 1);
}

void PrintDistributionTotals(const DistributionTotals& t) {
  if (LineCount() > 57) DistributionPage();
  PrintLine(5, Cat("AJUST"), 0);
  SetJustification("D");
  PrintLine(15, "", 0);
  for (std::size_t k = 1; k <= kColumns; ++k)
    PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZZ", t.ColumnBudget[k] - t.ColumnOwnerSum[k]), 0);
  PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZZ", t.BudgetTotal - t.OwnersTotal), 1);
  PrintLine(16, std::string(87, '-'), 1);
  PrintLine(5, Cat("TOTAL"), 0);
  SetJustification("D");
  PrintLine(15, "", 0);
  for (std::size_t k = 1; k <= kColumns; ++k) PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", t.ColumnBudget[k]), 0);
  PrintLine(Cur(), Amount(" ZZ,ZZZ,ZZ9", t.BudgetTotal), 1);
  PrintLine(5, std::string(98, '='), 1);
}

}  // namespace

void DistributionListing::PassComputed(const DistributionPass& pass) {
  Listing().PageNo = 0;
  for (const OwnerShares& owner : pass.owners) PrintOwnerLine(owner);
  // No page begun, no totals under it.
  if (Listing().PageNo > 0) PrintDistributionTotals(pass.totals);
}

StepResult PrintBudgetListing() {
  const std::int16_t copies = Parameters().BudgetCopies;
  const int count = copies > 0 ? copies : copies == -1 ? Budget().OwnerCount : 0;
  if (count <= 0) return {};
  WorkingFile& working = Working();
  const std::vector<records::WorkingLine> lines = working.Lines();
  if (working.Failed()) return StepResult::Failed(working.Failure());
  for (int copy = 0; copy < count; ++copy) {
    ListingState& l = Listing();
    l = ListingState{};
    for (std::size_t k = 1; k <= kColumns; ++k) {
      l.ColumnSubtotal = 0;
      l.ColumnHeaderDone = false;
      for (const records::WorkingLine& line : lines)
        if (line.column == kColumnLetters[k - 1] && line.budget != 0) BudgetLine(k, line);
      if (l.ColumnHeaderDone) ColumnSubtotal(k);
    }
    if (l.PageNo > 0) BudgetTotal();
  }
  return {};
}

void PrepareListings() { Administrator() = AdministratorData(); }

StepResult PrintReport() {
  PrepareListings();
  format::SetCurrency("p");
  DistributionListing listing;
  StepResult result = DistributeBudget(listing);
  if (result.ok()) result = PrintBudgetListing();
  format::SetCurrency("");
  return result;
}

void InstallListingSteps() {
  ReportSteps& steps = Steps();
  steps.OpenPrintChannel = [] { OpenPrintChannel(config::Session().OutputDest); };
  steps.ClosePrintChannel = [] {
    ClosePrintChannel();
    if (PrintChannelFailed())
      ShowRefusal(config::CatalogText("NO S'HA POGUT ESCRIURE EL FITXER D'IMPRESSIÓ "_cp) + config::Session().TempDir +
                  "kitprint.tmp: " + PrintChannelFailure());
  };
  steps.DiscardPrintChannel = [] { DiscardPrintChannel(); };
  steps.PrintReport = [] { return PrintReport(); };
}

}  // namespace app
