// What the module's screens accept, decided from their texts alone: the
// check of one edited field by its value type, and what screens 1 and 3
// set when they end. Nothing here touches a form, a data file or the
// operator; the hooks gather the texts, act on the decision and read the
// records it asks for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

// The value types of the fields (integer 6 of a field in the form file).
namespace field_types {
inline constexpr int kDate = 1;
inline constexpr int kNumber = 2;
inline constexpr int kVariation = 3;           // an amount, or a percentage with "%"
inline constexpr int kColumn = 11;             // a budget line's column letter (screen 2)
inline constexpr int kAmount = 12;             // shown as an amount, never edited
inline constexpr int kLineVariation = 13;      // a budget line's variation (screen 2)
inline constexpr int kCopies = 21;             // a number, or "P": one copy per owner
inline constexpr int kReceiptConcept = 23;     // a receipt type 0 to 8 that exists
}  // namespace field_types

// True when `text` is a variation the budget takes: an amount, or a
// percentage of up to +-999.999 with at most three decimals followed by
// "%". (The format library's Check* functions answer the opposite
// question: true when the text is faulty.)
bool IsValidVariation(std::string_view text);

// "P" or "p", blanks aside: one copy per owner.
bool IsOneCopyPerOwner(std::string_view text);

// The fields of screen 2 around an edited column letter or variation: the
// line's column letter, spent amount and budget, and the page's total
// budget (field 2).
struct BudgetLineTexts {
  std::string column;
  std::string spent;
  std::string budget;
  std::string total;
};

// One edit of a field as the form input hands it over.
struct FieldEdit {
  int type = 0;
  std::string text;      // as typed
  std::int16_t key = 0;  // the key that ended the edit
  std::string stored;    // the field's value before the edit (its width too)
  std::string workDate;  // packed: what a blank date becomes
  int thisYear = 0;      // today's: two-digit years are read around it
  std::array<std::string, 5> presets{};  // the variations F5 to F9 put in
  // For a column letter or a variation of screen 2, when the page has the
  // line's other fields and its total.
  std::optional<BudgetLineTexts> line;
};

struct FieldDecision {
  bool accepted = false;
  std::string value;     // what the field stores when accepted
  std::int16_t key = 0;  // the key to go on with (F5 to F9 become Enter)
  // When accepted and the budget line changed: the new texts of the line's
  // budget and of the page's total.
  std::optional<std::string> lineBudget;
  std::optional<std::string> total;
  // Accepted only if the receipt type with this number exists.
  std::optional<int> receiptConcept;
};

FieldDecision CheckField(const FieldEdit& edit);

// What ending a screen with `key` calls for.
enum class ScreenCheck {
  kLetItEnd,
  kAskWhetherToGoOnEditing,  // Esc on the budget page: screen 5
  kCheckParameters,          // screen 1: the property and its budget lock
  kCheckPrintOptions,        // screen 3: the receipt concept, then screen 4
};
ScreenCheck ScreenCheckFor(int screen, std::int16_t key);

// Screen 1's fields 1 to 7: date, property code and the five presets.
struct ParameterChoice {
  std::string ReportDate;    // packed date
  std::string PropertyCode;  // packed code
  std::array<std::string, 5> ReportOptions{};
};
// Two-digit years of the date are read around `thisYear`, today's.
ParameterChoice ReadParameterScreen(const std::array<std::string, 7>& fields, int thisYear);

// Screen 3's fields 1 to 4.
struct PrintOptions {
  std::int16_t DistributionCopies = 0;  // -1: one per owner
  std::int16_t BudgetCopies = 0;
  std::int16_t UpdatePeriodicity = 0;
  std::int16_t UpdateSlot = 0;
};
PrintOptions ReadPrintOptionsScreen(const std::array<std::string, 4>& fields);

// The receipt type of the update slot, as found: its kind, or none.
enum class ReceiptConceptVerdict { kConfirmPrinting, kUnknown, kNotAFundsProvision };
ReceiptConceptVerdict JudgeReceiptConcept(std::optional<std::int16_t> kind);

// The answer to the questions of screens 4 and 5: "S" is yes, typed in
// either case.
bool AnsweredYes(std::string_view answer);

}  // namespace app
