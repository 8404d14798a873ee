#include "app/screen_checks.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "app/budget.h"
#include "app/budget_amounts.h"
#include "console/form_file.h"
#include "console/form_input.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "format/text.h"

namespace app {
namespace {

using namespace console::form_keys;

// The format library's checks answer "is the text faulty?".
bool IsValidNumber(std::string_view text, std::string_view allowed) { return !format::CheckNumberText(text, allowed); }
bool IsValidDate(std::string_view text, int thisYear) { return !format::CheckDateText(text, thisYear); }

bool IsBlank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// A number of a short field; what no 16-bit option can hold stops at its limits.
std::int16_t OptionValue(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLow = std::numeric_limits<std::int16_t>::min(), kHigh = std::numeric_limits<std::int16_t>::max();
  return static_cast<std::int16_t>(value < kLow ? kLow : value > kHigh ? kHigh : value);
}

// The total with `delta` added, as an amount.
std::string TotalPlus(std::string_view total, double delta) {
  return format::PlainNumberText(RoundedAmount(format::NumberValue(total) + delta));
}

FieldDecision Accept(std::string value, std::int16_t key) {
  FieldDecision d;
  d.accepted = true;
  d.value = std::move(value);
  d.key = key;
  return d;
}

FieldDecision Refuse(std::int16_t key) {
  FieldDecision d;
  d.key = key;
  return d;
}

// A budget line's column letter: the line's budget leaves the total when
// the line had a column, and joins it when it gets one.
FieldDecision CheckColumn(const FieldEdit& edit) {
  static constexpr std::string_view kLetters = " AaBbCcDdEeFfGg";
  if (edit.text.size() != 1 || kLetters.find(edit.text[0]) == std::string_view::npos) return Refuse(edit.key);
  const std::string letter(1, static_cast<char>(std::toupper(static_cast<unsigned char>(edit.text[0]))));
  FieldDecision d = Accept(letter, edit.key);
  if (letter == edit.stored || !edit.line) return d;
  const double budget = format::NumberValue(edit.line->budget);
  double delta = 0;
  if (!IsBlank(edit.stored)) delta -= budget;
  if (letter[0] != ' ') delta += budget;
  d.total = TotalPlus(edit.line->total, delta);
  return d;
}

// A budget line's variation (F5 to F9 put in a preset): the line's budget
// is worked out again, and the total follows it when the line has a column.
FieldDecision CheckLineVariation(const FieldEdit& edit) {
  std::string text = edit.text;
  std::int16_t key = edit.key;
  if (key >= kF5 && key <= kF9) {
    const std::size_t preset = static_cast<std::size_t>((key - kF4) / 256) - 1;
    text = console::FitValue(edit.presets[preset], edit.stored.size());
    key = kEnter;
  }
  if (!IsValidVariation(text)) return Refuse(key);
  FieldDecision d = Accept(text, key);
  if (console::FitValue(text, edit.stored.size()) == edit.stored || !edit.line) return d;
  const std::int32_t spent = RoundedAmount(format::NumberValue(edit.line->spent));
  const double oldBudget = format::NumberValue(edit.line->budget);
  const std::int32_t newBudget = LineBudget(spent, text);
  d.lineBudget = format::PlainNumberText(newBudget);
  if (!IsBlank(edit.line->column)) d.total = TotalPlus(edit.line->total, newBudget - oldBudget);
  return d;
}

}  // namespace

bool IsValidVariation(std::string_view text) {
  const std::size_t percent = text.find('%');
  if (percent != std::string_view::npos) {
    const std::string_view number = text.substr(0, percent);
    // The stored budget keeps thousandths of a percent: a fourth decimal
    // would print one budget and bring back another (zeros lose nothing).
    const std::size_t point = number.find('.');
    if (point != std::string_view::npos) {
      int decimals = 0;
      for (char c : number.substr(point + 1)) {
        if (c == ' ') continue;
        if (++decimals > 3 && c != '0') return false;
      }
    }
    return !format::CheckNumberInRange(number, -999.999, 999.999, 3);
  }
  return IsValidNumber(text, "-");
}

bool IsOneCopyPerOwner(std::string_view text) {
  std::string letters;
  for (char c : text)
    if (c != ' ') letters += c;
  return letters == "P" || letters == "p";
}

FieldDecision CheckField(const FieldEdit& edit) {
  namespace t = field_types;
  switch (edit.type) {
    case t::kDate: {
      const std::string text =
          IsBlank(edit.text) ? format::ShortDateText(edit.workDate, edit.thisYear) : edit.text;
      return IsValidDate(text, edit.thisYear) ? Accept(text, edit.key) : Refuse(edit.key);
    }
    case t::kNumber:
      return IsValidNumber(edit.text, "") ? Accept(edit.text, edit.key) : Refuse(edit.key);
    case t::kVariation:
      return IsValidVariation(edit.text) ? Accept(edit.text, edit.key) : Refuse(edit.key);
    case t::kCopies:
      return IsOneCopyPerOwner(edit.text) || IsValidNumber(edit.text, "") ? Accept(edit.text, edit.key)
                                                                          : Refuse(edit.key);
    case t::kReceiptConcept: {
      if (!IsValidNumber(edit.text, "")) return Refuse(edit.key);
      const double value = format::NumberValue(edit.text);
      if (value < 0 || value > 8 || value != std::floor(value)) return Refuse(edit.key);
      FieldDecision d = Accept(edit.text, edit.key);
      d.receiptConcept = static_cast<int>(value);
      return d;
    }
    case t::kColumn:
      return CheckColumn(edit);
    case t::kLineVariation:
      return CheckLineVariation(edit);
    default:
      return Accept(edit.text, edit.key);
  }
}

ScreenCheck ScreenCheckFor(int screen, std::int16_t key) {
  if (key == kEsc) return screen == 2 ? ScreenCheck::kAskWhetherToGoOnEditing : ScreenCheck::kLetItEnd;
  if (screen == 1) return ScreenCheck::kCheckParameters;
  if (screen == 3) return ScreenCheck::kCheckPrintOptions;
  return ScreenCheck::kLetItEnd;
}

ParameterChoice ReadParameterScreen(const std::array<std::string, 7>& fields, int thisYear) {
  ParameterChoice c;
  c.ReportDate = format::ParseDateText(fields[0], thisYear);
  c.PropertyCode = format::PackCode(fields[1]);
  for (std::size_t i = 0; i < c.ReportOptions.size(); ++i) c.ReportOptions[i] = fields[2 + i];
  return c;
}

PrintOptions ReadPrintOptionsScreen(const std::array<std::string, 4>& fields) {
  const auto copies = [](const std::string& text) {
    return OptionValue(format::NumberValue(text) - (IsOneCopyPerOwner(text) ? 1 : 0));
  };
  PrintOptions o;
  o.DistributionCopies = copies(fields[0]);
  o.BudgetCopies = copies(fields[1]);
  o.UpdatePeriodicity = OptionValue(format::NumberValue(fields[2]));
  o.UpdateSlot = OptionValue(format::NumberValue(fields[3]));
  return o;
}

ReceiptConceptVerdict JudgeReceiptConcept(std::optional<std::int16_t> kind) {
  if (!kind) return ReceiptConceptVerdict::kUnknown;
  return *kind == 0 ? ReceiptConceptVerdict::kConfirmPrinting : ReceiptConceptVerdict::kNotAFundsProvision;
}

bool AnsweredYes(std::string_view answer) { return answer == "S" || answer == "s"; }

}  // namespace app
