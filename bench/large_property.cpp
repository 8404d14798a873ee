#include "bench/large_property.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/budget.h"
#include "app/distribution.h"
#include "app/listings.h"
#include "bench/record_keys.h"
#include "config/session.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "records/layouts.h"

namespace bench {
namespace {

constexpr int kConcepts = 200;
constexpr int kPayments = 20000;
constexpr int kCollections = 12000;

std::string PropertyOwnerKey(int owner) { return OwnerKey(kProperty, owner); }
// Concepts are spread over the seven columns in turn.
int ConceptColumn(int i) { return i % app::kColumns + 1; }

// The coefficient of owner n in column k (1 = A); column A shares out
// exactly 1 000 000, the others leave some owners out.
std::int32_t Coefficient(int n, int k) {
  if (k == 1) return 1000000 / kOwners + (n <= 1000000 % kOwners ? 1 : 0);
  if (n % (k + 1) == 0) return 0;
  return 500 + (n * 37 + k * 11) % 1000;
}

}  // namespace

void PrepareLargeReport(app::Report& report) {
  report.fees.VatRate = {21.0F, 10.0F};
  report.parameters.PropertyCode = PropertyCode(kProperty);
  report.parameters.ReportDate = format::PackDate(2024, 11, 15);
}

void FillLargeProperty(RecordLoader& loader) {
  loader.Insert(app::kPropertiesFile, [](std::span<char> area) {
    const records::Property r{area};
    r.SetCode(PropertyCode(kProperty));
    r.SetName("PROVENCA, 12 *C.P.");
    r.SetFirstMonth(1);
    r.SetPeriodMonths(12);
    r.SetFeePerOwnerMonth(650);
    r.SetTaxId("ESH08123456");
    for (int k = 2; k <= app::kColumns; ++k) {
      std::int32_t total = 0;
      for (int n = 1; n <= kOwners; ++n) total += Coefficient(n, k);
      r.SetColumnTotal(k, total);
      r.SetColumnName(k, std::string("COLUMNA ") + app::kColumnLetters[static_cast<std::size_t>(k - 1)]);
    }
  });
  for (int n = 1; n <= kOwners; ++n) {
    loader.Insert(app::kOwnersFile, [n](std::span<char> area) {
      const records::Owner r{area};
      r.SetKey(PropertyOwnerKey(n));
      r.SetDepartment(std::to_string(n / 4 + 1) + "r " + std::to_string(n % 4 + 1) + "a");
      for (int k = 1; k <= app::kColumns; ++k) r.SetCoefficient(k, Coefficient(n, k));
      r.SetSlotPeriodicity(1, static_cast<std::int16_t>(n % 2 == 0 ? 1 : 3));
    });
  }
  for (int i = 0; i < kConcepts; ++i) {
    loader.Insert(app::kConceptsFile, [i](std::span<char> area) {
      const records::Concept r{area};
      r.SetCode(ConceptCode(i));
      r.SetDescription("CONCEPTE " + format::ZeroPad(i + 1, 3));
    });
  }
  loader.Insert(app::kConceptColumnsFile, [](std::span<char> area) {
    const records::ConceptColumns r{area};
    r.SetPropertyCode(PropertyCode(kProperty));
    for (int i = 0; i < kConcepts; ++i) {
      r.SetEntryConcept(i + 1, ConceptCode(i));
      r.SetEntryColumn(i + 1, app::kColumnLetters[static_cast<std::size_t>(ConceptColumn(i) - 1)]);
    }
  });
  // Stored variations for two concepts in three: a percentage or an amount.
  for (int i = 0; i < kConcepts; ++i) {
    if (i % 3 == 2) continue;
    loader.Insert(app::kStoredBudgetFile, [i](std::span<char> area) {
      const records::StoredLine r{area};
      r.SetPropertyCode(PropertyCode(kProperty));
      r.SetConcept(ConceptCode(i));
      r.SetColumn(app::kColumnLetters[static_cast<std::size_t>(ConceptColumn(i) - 1)]);
      r.SetPercent(i % 3 == 0 ? 105000 + 1000 * (i % 10) : 0);
      r.SetAmount(i % 3 == 1 ? 5000 * (i % 7) : 0);
      r.SetBudget(0);
    });
  }
  // Payments of 2024: most to a concept in its column, some to a column's
  // miscellaneous line, some particular.
  for (int i = 0; i < kPayments; ++i) {
    loader.Insert(app::kPaymentsFile, [i](std::span<char> area) {
      const int expense = i % kConcepts;
      int column = ConceptColumn(expense);
      std::string conceptCode = ConceptCode(expense);
      char kind = 'N';
      if (i % 41 == 0) {
        conceptCode = "  ";
        column = i % app::kColumns + 1;
      } else if (i % 97 == 0) {
        conceptCode = "  ";
        kind = 'S';
        column = 0;
      }
      const records::Payment r{area};
      r.SetPropertyCode(PropertyCode(kProperty));
      r.SetDate(format::PackDate(2024, i % 12 + 1, i % 28 + 1));
      r.SetConcept(conceptCode);
      r.SetDescription("FACTURA " + std::to_string(i + 1));
      r.SetAmount(1000 + (i * 7919) % 90000);
      r.SetKind(kind);
      r.SetColumnNumber(format::PackDigits(format::ZeroPad(column, 4)).substr(0, 2));
    });
  }
  // Collections of 2025: every owner in turn, on the 1st and the 15th
  // from January on, so owners stop at different months.
  for (int i = 0; i < kCollections; ++i) {
    loader.Insert(app::kCollectionsFile, [i](std::span<char> area) {
      const int owner = i % kOwners + 1;
      const int round = i / kOwners;
      const records::Collection r{area};
      r.SetOwnerKey(PropertyOwnerKey(owner));
      r.SetDate(format::PackDate(2025, round / 2 + 1, round % 2 == 0 ? 1 : 15));
      r.SetAmount(4000 + owner * 3);
    });
  }
}

void BuildPhase(app::Report& report) {
  report.working.Open();
  app::BuildBudget(report);
}

void DistributionPhase(app::Report& report) {
  report.parameters.DistributionCopies = 0;
  report.parameters.BudgetCopies = 0;
  report.parameters.UpdatePeriodicity = 3;
  report.parameters.UpdateSlot = 2;
  app::DistributionListing nothingPrinted(report);  // no copies: only the update
  app::DistributeBudget(report, nothingPrinted);
}

void PrintOnly(app::Report& report, std::int16_t distributionCopies, std::int16_t budgetCopies) {
  report.parameters.DistributionCopies = distributionCopies;
  report.parameters.BudgetCopies = budgetCopies;
  report.parameters.UpdatePeriodicity = 0;
  report.parameters.UpdateSlot = 0;
  report.channel.Open(config::Session().OutputDest);
  app::PrintReport(report);
  report.channel.Close();
  if (report.channel.Failed()) std::fprintf(stderr, "the print file could not be written\n");
}

void ListingsPhase(app::Report& report) {
  // The receipts were updated by the distribution: print only.
  PrintOnly(report, 1, 1);
}

void WholeReport(app::Report& report) {
  BuildPhase(report);
  DistributionPhase(report);
  ListingsPhase(report);
}

}  // namespace bench
