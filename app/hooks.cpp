#include "app/hooks.h"

#include <algorithm>
#include <array>
#include <optional>

#include "app/data_checks.h"
#include "app/records.h"
#include "app/screen_checks.h"
#include "base/strings.h"
#include "config/catalog.h"
#include "config/session.h"
#include "data/files.h"
#include "data/key_walk.h"
#include "data/locks.h"
#include "data/notice.h"
#include "base/cp850.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/numbers.h"
#include "format/text.h"
#include "platform/system.h"

namespace app {
namespace {

using console::Forms;
using namespace console::form_keys;

console::FormField& FieldOf(int screen, int field) { return Forms().forms.Field(screen, field); }
bool HasField(int screen, int field) {
  const auto& screens = Forms().forms.screens;
  return screen >= 1 && screen <= static_cast<int>(screens.size()) && field >= 1 &&
         field <= static_cast<int>(screens[static_cast<std::size_t>(screen - 1)].fields.size());
}
// A field's value; empty for one the form file does not have.
std::string ValueOf(int screen, int field) { return HasField(screen, field) ? FieldOf(screen, field).value : ""; }

void Store(int screen, int field, std::string_view text) {
  console::FormField& f = FieldOf(screen, field);
  f.value = console::FitValue(text, f.value.size());
}

std::string VariationDisplay(std::string_view value) {
  const std::size_t percent = value.find('%');
  if (percent != std::string_view::npos)
    return format::FormatWithMask("+ZZ9.999 %", format::NumberValue(value.substr(0, percent)));
  return format::FormatAmount("ZZ,ZZZ,ZZ9", format::NumberValue(value));
}

// A property code as the operator types it: three digits as a rule, all
// four when the first is not 0 (1234 is not 234).
std::string PropertyCodeText(std::string_view packed) {
  const std::string code = format::UnpackDigits(packed);
  const std::size_t first = code.find_first_not_of('0');
  const std::size_t keep = std::max<std::size_t>(3, first == std::string::npos ? 0 : code.size() - first);
  return code.size() > keep ? code.substr(code.size() - keep) : code;
}

void Write(std::int16_t row, std::int16_t column, std::string_view text) {
  if (Forms().ui.WriteAt) Forms().ui.WriteAt(row, column, text);
}

}  // namespace

std::int16_t ModuleHooks::ReadReceiptType(std::int16_t number) {
  if (number < 0 || number > 255) return data::kStatusKeyNotFound;
  const std::string key(1, static_cast<char>(number));
  return data::ReadByKey(kReceiptTypesFile, 0, key, 0);
}

Lookup ModuleHooks::FindReceiptType(std::int16_t number) {
  return LookupResult(kReceiptTypesFile, ReadReceiptType(number));
}

std::string ModuleHooks::ReceiptDescription() const {
  return records::ReceiptType{report_.areas.For(kReceiptTypesFile)}.Description();
}

std::string ModuleHooks::PropertyName() const {
  return records::Property{report_.areas.For(kPropertiesFile)}.Name();
}

void ShowRefusal(const std::string& text) {
  data::Notice& notice = data::CurrentNotice();
  notice.Show(text, 12);
  notice.Beep();
  notice.DiscardKeys();
  notice.WaitKey();
  notice.Hide();
}

Lookup LookupResult(std::int16_t fileId, std::int16_t status) {
  if (status == 0) return Lookup::kFound;
  if (status == data::kStatusKeyNotFound) return Lookup::kNotFound;
  ShowRefusal(data::FailureText(fileId, status));
  return Lookup::kFailed;
}

console::HookAnswer ModuleHooks::CheckAndStore(int screen, std::string& text, int field, std::int16_t& key) {
  if (!HasField(screen, field)) return console::HookAnswer::kRefuse;
  const console::FormField& f = FieldOf(screen, field);
  FieldEdit edit;
  edit.type = f.ValueType();
  edit.text = text;
  edit.key = key;
  edit.stored = f.value;
  edit.workDate = config::Session().WorkDate;
  edit.thisYear = platform::Now().year;
  edit.presets = report_.parameters.ReportOptions;
  // The budget line around a column letter (budget 3 fields on) or a
  // variation (column 2 fields back, spent 1 back, budget 1 on).
  if (edit.type == field_types::kColumn && HasField(screen, field + 3) && HasField(screen, 2))
    edit.line = BudgetLineTexts{f.value, "", FieldOf(screen, field + 3).value, FieldOf(screen, 2).value};
  else if (edit.type == field_types::kLineVariation && HasField(screen, field + 1) && field > 2)
    edit.line = BudgetLineTexts{FieldOf(screen, field - 2).value, FieldOf(screen, field - 1).value,
                                FieldOf(screen, field + 1).value, FieldOf(screen, 2).value};

  const FieldDecision d = CheckField(edit);
  key = d.key;
  if (!d.accepted) return console::HookAnswer::kRefuse;
  if (d.receiptConcept && FindReceiptType(static_cast<std::int16_t>(*d.receiptConcept)) != Lookup::kFound)
    return console::HookAnswer::kRefuse;
  text = d.value;
  Store(screen, field, d.value);
  if (d.lineBudget) {
    Store(screen, field + 1, *d.lineBudget);
    ShowField(screen, field + 1);
  }
  if (d.total) {
    Store(screen, 2, *d.total);
    ShowField(screen, 2);
  }
  return console::HookAnswer::kAccept;
}

console::HookAnswer ModuleHooks::ValidateField(int screen, std::string& text, int& field, std::int16_t& key) {
  const console::HookAnswer answer = CheckAndStore(screen, text, field, key);
  // The field then shows its stored value in display form, not the text as
  // typed (a preset chosen with F5 to F9 replaces what was typed).
  if (answer == console::HookAnswer::kAccept) ShowField(screen, field);
  return answer;
}

void ModuleHooks::ShowField(int screen, int field) {
  if (!HasField(screen, field)) return;
  const console::FormField& f = FieldOf(screen, field);
  const std::string& value = f.value;
  std::string shown;
  switch (f.ValueType()) {
    case field_types::kDate:
      shown = format::LongDateText(format::ParseDateText(value, platform::Now().year), 2, "dma");
      break;
    case field_types::kVariation:
    case field_types::kLineVariation:
      shown = VariationDisplay(value);
      break;
    case field_types::kAmount:
      shown = format::FormatAmount("ZZ,ZZZ,ZZ9", format::NumberValue(value));
      break;
    case field_types::kCopies:
      shown = IsOneCopyPerOwner(value) ? "P  " : format::FormatWithMask("ZZ9", format::NumberValue(value));
      break;
    case field_types::kReceiptConcept: {
      // A concept that cannot be read is said so when it is accepted; until
      // then it is not called undefined.
      const double n = format::NumberValue(value);
      const std::int16_t status = n >= 0 && n <= 255 ? ReadReceiptType(static_cast<std::int16_t>(n))
                                                      : data::kStatusKeyNotFound;
      shown = value + "  " + (status == 0                            ? ReceiptDescription()
                              : status == data::kStatusKeyNotFound ? std::string("*** conc.no def. ***")
                                                                     : std::string());
      break;
    }
    default:
      shown = value;
      break;
  }
  // Wipe what the field showed before, value and trailing cells alike.
  const std::size_t area = f.value.size() + static_cast<std::size_t>(std::max<int>(0, f.TrailingCells()));
  if (shown.size() < area) shown.resize(area, ' ');
  Write(f.Row(), static_cast<std::int16_t>(f.CaptionColumn() + f.caption.size()), shown);
}

void ModuleHooks::PaintScreen(int screen) {
  auto& screens = Forms().forms.screens;
  if (screen < 1 || screen > static_cast<int>(screens.size())) return;
  console::FormScreen& sc = screens[static_cast<std::size_t>(screen - 1)];
  // Fields beyond the count in force (a short last page) are blanked.
  for (std::size_t j = static_cast<std::size_t>(std::max<int>(0, sc.fieldCount)); j < sc.fields.size(); ++j) {
    const console::FormField& f = sc.fields[j];
    Write(f.Row(), f.CaptionColumn(),
          std::string(f.caption.size() + f.value.size() + static_cast<std::size_t>(std::max<int>(0, f.TrailingCells())), ' '));
  }
  if (screen == 2) {
    std::string title = config::CatalogText("FINCA : ") + PropertyCodeText(report_.parameters.PropertyCode) + " " +
                        format::NameInReadingOrder(PropertyName());
    title.resize(80, ' ');
    // Which page is on show, and how many there are: "2/3" at the end of
    // the title row.
    if (report_.budget.Pages > 0) {
      const std::string page =
          " " + std::to_string(report_.budget.Page) + "/" + std::to_string(report_.budget.Pages);
      title.replace(title.size() - page.size(), page.size(), page);
    }
    Write(1, 1, title);
    Write(2, 1,
          config::CatalogText(
              "CONCEPTE                      REPARTIMENT    DESPESA     VARIACIÓ    PRESSUPOST"_cp));
    Write(3, 1, "----------------------------- ----------- ----------   ----------   -----------");
    std::string presets;
    for (std::size_t i = 0; i < 5; ++i) {
      std::string one = "F" + std::to_string(5 + i) + "=" + VariationDisplay(report_.parameters.ReportOptions[i]);
      one.resize(16, ' ');
      presets += one;
    }
    Write(21, 1, presets);
  }
  for (int j = 1; j <= std::min<int>(sc.fieldCount, static_cast<int>(sc.fields.size())); ++j) {
    const console::FormField& f = sc.fields[static_cast<std::size_t>(j - 1)];
    if (!f.caption.empty()) Write(f.Row(), f.CaptionColumn(), f.caption);
    ShowField(screen, j);
  }
}

console::HookAnswer ModuleHooks::ApplyLookup(int list, int screen, int& field) {
  std::string text;
  if (list == 1) {
    text = PropertyCodeText(records::Property{report_.areas.For(kPropertiesFile)}.Code());
  } else if (list == 2) {
    text = format::PlainNumberText(records::ReceiptType{report_.areas.For(kReceiptTypesFile)}.Number());
  } else {
    return console::HookAnswer::kAccept;
  }
  if (screen == 0 || field == 0) return console::HookAnswer::kAccept;
  std::int16_t key = 0;
  if (ValidateField(screen, text, field, key) == console::HookAnswer::kRefuse) return console::HookAnswer::kRefuse;
  ShowField(screen, field);
  return console::HookAnswer::kAccept;
}

console::HookAnswer ModuleHooks::PrepareList(int list, std::string& startKey, std::string& endKey) {
  if (list == 2) {
    startKey = std::string(1, '\x01');
    endKey = std::string(1, static_cast<char>(99));
  } else {
    startKey.clear();
    endKey.clear();
  }
  return console::HookAnswer::kAccept;
}

std::string ModuleHooks::FormatListLine(int list) {
  if (list == 1)
    return PropertyCodeText(records::Property{report_.areas.For(kPropertiesFile)}.Code()) + "  " + PropertyName();
  if (list == 2) {
    std::string number =
        format::PlainNumberText(records::ReceiptType{report_.areas.For(kReceiptTypesFile)}.Number());
    if (number.size() < 2) number.insert(0, 2 - number.size(), ' ');
    return number + "  " + ReceiptDescription();
  }
  return std::string();
}

console::HookAnswer ModuleHooks::ValidateScreen(int screen, std::int16_t key) {
  using console::HookAnswer;
  switch (ScreenCheckFor(screen, key)) {
    case ScreenCheck::kLetItEnd:
      return HookAnswer::kAccept;
    case ScreenCheck::kAskWhetherToGoOnEditing:
      return Ask(5, "N") ? HookAnswer::kRefuse : HookAnswer::kAccept;
    case ScreenCheck::kCheckParameters:
    case ScreenCheck::kCheckPrintOptions:
      break;
  }
  // A lock wait on the way can be given up with Esc.
  data::Locks().LockWaitMode = 'P';
  const bool accepted = screen == 1 ? AcceptParameters() : AcceptPrintOptions();
  data::Locks().LockWaitMode = ' ';
  return accepted ? HookAnswer::kAccept : HookAnswer::kRefuse;
}

bool ModuleHooks::Ask(int screen, std::string_view preset) {
  if (!HasField(screen, 1)) return false;
  console::SetFieldValue(screen, 1, preset);
  console::RunForm(screen);
  return AnsweredYes(FieldOf(screen, 1).value);
}

bool ModuleHooks::AcceptParameters() {
  std::array<std::string, 7> fields;
  for (std::size_t j = 0; j < fields.size(); ++j) fields[j] = ValueOf(1, static_cast<int>(j + 1));
  const ParameterChoice choice = ReadParameterScreen(fields, platform::Now().year);
  ReportParameters& p = report_.parameters;
  p.ReportDate = choice.ReportDate;
  p.PropertyCode = choice.PropertyCode;
  p.ReportOptions = choice.ReportOptions;
  switch (LookupResult(kPropertiesFile, data::ReadByKey(kPropertiesFile, 0, p.PropertyCode, 0))) {
    case Lookup::kFound: break;
    case Lookup::kNotFound: ShowRefusal(config::CatalogText("FINCA INEXISTENT")); return false;
    case Lookup::kFailed: return false;
  }
  // Held until the run loop lets it go; not held when the operator gave up
  // waiting for another workstation.
  return data::LockKey("PressupH", p.PropertyCode) == 0;
}

bool ModuleHooks::AcceptPrintOptions() {
  std::array<std::string, 4> fields;
  for (std::size_t j = 0; j < fields.size(); ++j) fields[j] = ValueOf(3, static_cast<int>(j + 1));
  const PrintOptions options = ReadPrintOptionsScreen(fields);
  ReportParameters& p = report_.parameters;
  p.DistributionCopies = options.DistributionCopies;
  p.BudgetCopies = options.BudgetCopies;
  p.UpdatePeriodicity = options.UpdatePeriodicity;
  p.UpdateSlot = options.UpdateSlot;
  std::optional<std::int16_t> kind;
  switch (FindReceiptType(p.UpdateSlot)) {
    case Lookup::kFound: kind = records::ReceiptType{report_.areas.For(kReceiptTypesFile)}.Kind(); break;
    case Lookup::kNotFound: break;
    case Lookup::kFailed: return false;
  }
  switch (JudgeReceiptConcept(kind)) {
    case ReceiptConceptVerdict::kUnknown:
      ShowRefusal(config::CatalogText("NO EXISTEIX EL CONCEPTE ") + format::PlainNumberText(p.UpdateSlot));
      return false;
    case ReceiptConceptVerdict::kNotAFundsProvision:
      ShowRefusal(config::CatalogText("EL CONCEPTE ") + std::string(base::TrimRight(ReceiptDescription())) +
                  config::CatalogText(" NO ÉS DE TIPUS PROVISIÓ DE FONS"_cp));
      return false;
    case ReceiptConceptVerdict::kConfirmPrinting:
      break;
  }
  // Data that would send the budget out wrong is shown before the
  // confirmation; the operator may print all the same. Owners or a working
  // budget that cannot be read are left to the printing, which says so.
  DataFindings findings;
  if (CheckReportData(report_, findings).ok() && !findings.Empty()) ShowRefusal(FindingsForOperator(findings));
  return Ask(4, "");
}

}  // namespace app
