#include "app/hooks.h"

#include <cmath>
#include <cstring>

#include "app/budget.h"
#include "app/budget_amounts.h"
#include "app/records.h"
#include "config/catalog.h"
#include "config/session.h"
#include "data/files.h"
#include "data/locks.h"
#include "data/notice.h"
#include "format/cp850.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/numbers.h"
#include "format/text.h"

namespace app {
namespace {

using console::Forms;
using namespace console::form_keys;

constexpr std::int16_t kTypeDate = 1;
constexpr std::int16_t kTypeNumber = 2;
constexpr std::int16_t kTypeVariation = 3;
constexpr std::int16_t kTypeAmount = 12;
constexpr std::int16_t kTypeColumn = 11;
constexpr std::int16_t kTypeLineVariation = 13;
constexpr std::int16_t kTypeCopies = 21;
constexpr std::int16_t kTypeReceiptConcept = 23;

std::string TrimRight(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return std::string(text.substr(0, n));
}

std::string WithoutBlanks(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out += c;
  return out;
}

bool IsP(std::string_view text) {
  const std::string t = WithoutBlanks(text);
  return t == "P" || t == "p";
}

console::FormField& FieldOf(int screen, int field) { return Forms().forms.Field(screen, field); }
bool HasField(int screen, int field) {
  const auto& screens = Forms().forms.screens;
  return screen >= 1 && screen <= static_cast<int>(screens.size()) && field >= 1 &&
         field <= static_cast<int>(screens[static_cast<std::size_t>(screen - 1)].fields.size());
}

void Store(int screen, int field, std::string_view text) {
  console::FormField& f = FieldOf(screen, field);
  f.value = console::FitValue(text, f.value.size());
}

// True for a good variation: an amount, or a percentage of up to +-999.999 with "%".
bool CheckVariation(std::string_view text) {
  const std::size_t percent = text.find('%');
  if (percent != std::string_view::npos)
    return !format::CheckNumberInRange(text.substr(0, percent), -999.999, 999.999, 3);
  return !format::CheckNumberText(text, "-");
}

std::string VariationDisplay(std::string_view value) {
  const std::size_t percent = value.find('%');
  if (percent != std::string_view::npos)
    return format::FormatWithMask("+ZZ9.999 %", format::NumberValue(value.substr(0, percent)));
  return format::FormatAmount("ZZ,ZZZ,ZZ9", format::NumberValue(value));
}

void Write(std::int16_t row, std::int16_t column, std::string_view text) {
  if (Forms().ui.WriteAt) Forms().ui.WriteAt(row, column, text);
}

}  // namespace

bool ModuleHooks::ReadReceiptType(std::int16_t number) {
  if (number < 0 || number > 255) return false;
  const std::string key(1, static_cast<char>(number));
  return data::ReadByKey(kReceiptTypesFile, 0, key, 0) == 0;
}

std::string ModuleHooks::ReceiptDescription() const {
  return records::ReceiptType{report_.areas.For(kReceiptTypesFile).data()}.Description();
}

std::string ModuleHooks::PropertyName() const {
  return records::Property{report_.areas.For(kPropertiesFile).data()}.Name();
}

void ShowRefusal(const std::string& text) {
  data::Notice& notice = data::CurrentNotice();
  notice.Show(text, 12);
  notice.Beep();
  notice.DiscardKeys();
  notice.WaitKey();
  notice.Hide();
}

void ModuleHooks::AddToField(int screen, int field, double delta) {
  console::FormField& f = FieldOf(screen, field);
  f.value = console::FitValue(format::PlainNumberText(RoundedAmount(format::NumberValue(f.value) + delta)),
                              f.value.size());
  ShowField(screen, field);
}

console::HookAnswer ModuleHooks::CheckAndStore(int screen, std::string& text, int field, std::int16_t& key) {
  constexpr console::HookAnswer kRefuse = console::HookAnswer::kRefuse;
  if (!HasField(screen, field)) return kRefuse;
  const console::FormField& f = FieldOf(screen, field);
  switch (f.ValueType()) {
    case kTypeDate:
      if (format::IsAllChar(text, 32)) text = format::ShortDateText(config::Session().WorkDate);
      if (format::CheckDateText(text)) return kRefuse;  // true means refused
      break;
    case kTypeNumber:
      if (format::CheckNumberText(text, "")) return kRefuse;
      break;
    case kTypeVariation:
      if (!CheckVariation(text)) return kRefuse;
      break;
    case kTypeCopies:
      if (!IsP(text) && format::CheckNumberText(text, "")) return kRefuse;
      break;
    case kTypeReceiptConcept: {
      if (format::CheckNumberText(text, "")) return kRefuse;
      const double value = format::NumberValue(text);
      if (value < 0 || value > 8 || value != std::floor(value)) return kRefuse;
      if (!ReadReceiptType(static_cast<std::int16_t>(value))) return kRefuse;
      break;
    }
    case kTypeColumn: {
      static constexpr std::string_view kLetters = " AaBbCcDdEeFfGg";
      if (text.size() != 1 || kLetters.find(text[0]) == std::string_view::npos) return kRefuse;
      text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
      const std::string old = f.value;
      if (text != old && HasField(screen, field + 3) && HasField(screen, 2)) {
        const double budget = format::NumberValue(FieldOf(screen, field + 3).value);
        double delta = 0;
        if (TrimRight(old) != "") delta -= budget;
        if (text[0] != ' ') delta += budget;
        Store(screen, field, text);
        AddToField(screen, 2, delta);
        return console::HookAnswer::kAccept;
      }
      break;
    }
    case kTypeLineVariation: {
      if (key >= kF5 && key <= kF9) {
        const std::size_t preset = static_cast<std::size_t>((key - kF4) / 256) - 1;
        text = console::FitValue(report_.parameters.ReportOptions[preset], f.value.size());
        key = kEnter;
      }
      if (!CheckVariation(text)) return kRefuse;
      const std::string old = f.value;
      if (console::FitValue(text, old.size()) != old && HasField(screen, field + 1) && field > 2) {
        const std::int32_t spent = RoundedAmount(format::NumberValue(FieldOf(screen, field - 1).value));
        const double oldBudget = format::NumberValue(FieldOf(screen, field + 1).value);
        const std::int32_t newBudget = LineBudget(spent, text);
        Store(screen, field, text);
        Store(screen, field + 1, format::PlainNumberText(newBudget));
        ShowField(screen, field + 1);
        if (field - 2 >= 1 && FieldOf(screen, field - 2).value.find_first_not_of(' ') != std::string::npos)
          AddToField(screen, 2, newBudget - oldBudget);
        return console::HookAnswer::kAccept;
      }
      break;
    }
    default:
      break;
  }
  Store(screen, field, text);
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
    case kTypeDate:
      shown = format::LongDateText(format::ParseDateText(value), 2, "dma");
      break;
    case kTypeVariation:
    case kTypeLineVariation:
      shown = VariationDisplay(value);
      break;
    case kTypeAmount:
      shown = format::FormatAmount("ZZ,ZZZ,ZZ9", format::NumberValue(value));
      break;
    case kTypeCopies:
      shown = IsP(value) ? "P  " : format::FormatWithMask("ZZ9", format::NumberValue(value));
      break;
    case kTypeReceiptConcept: {
      const double n = format::NumberValue(value);
      const bool known = n >= 0 && n <= 255 && ReadReceiptType(static_cast<std::int16_t>(n));
      shown = value + "  " + (known ? ReceiptDescription() : std::string("*** conc.no def. ***"));
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
    const std::string code = format::UnpackDigits(report_.parameters.PropertyCode);
    const std::string digits = code.size() >= 3 ? code.substr(code.size() - 3) : code;
    std::string title = config::CatalogText("FINCA : ") + digits + " " +
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
    const std::string code = format::UnpackDigits(records::Property{report_.areas.For(kPropertiesFile).data()}.Code());
    text = code.size() >= 3 ? code.substr(code.size() - 3) : code;
  } else if (list == 2) {
    text = format::PlainNumberText(records::ReceiptType{report_.areas.For(kReceiptTypesFile).data()}.Number());
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
  if (list == 1) {
    const std::string code = format::UnpackDigits(records::Property{report_.areas.For(kPropertiesFile).data()}.Code());
    return (code.size() >= 3 ? code.substr(code.size() - 3) : code) + "  " + PropertyName();
  }
  if (list == 2) {
    std::string number =
        format::PlainNumberText(records::ReceiptType{report_.areas.For(kReceiptTypesFile).data()}.Number());
    if (number.size() < 2) number.insert(0, 2 - number.size(), ' ');
    return number + "  " + ReceiptDescription();
  }
  return std::string();
}

console::HookAnswer ModuleHooks::ValidateScreen(int screen, std::int16_t key) {
  using console::HookAnswer;
  if (key == kEsc) {
    if (screen != 2) return HookAnswer::kAccept;
    console::SetFieldValue(5, 1, "N");
    console::RunForm(5);
    return FieldOf(5, 1).value == "S" ? HookAnswer::kRefuse : HookAnswer::kAccept;
  }
  ReportParameters& p = report_.parameters;
  data::Locks().LockWaitMode = 'P';
  std::int16_t result = 0;
  if (screen == 1) {
    p.ReportDate = format::ParseDateText(FieldOf(1, 1).value);
    p.PropertyCode = format::PackCode(FieldOf(1, 2).value);
    for (int i = 0; i < 5; ++i)
      p.ReportOptions[static_cast<std::size_t>(i)] = HasField(1, 3 + i) ? FieldOf(1, 3 + i).value : std::string();
    if (data::ReadByKey(kPropertiesFile, 0, p.PropertyCode, 0) != 0) {
      ShowRefusal(config::CatalogText("FINCA INEXISTENT"));
      result = -1;
    } else {
      const int held = data::LockKey("PressupH", p.PropertyCode);
      result = held == 0 ? 0 : -1;
    }
  } else if (screen == 3) {
    auto value = [](int field) { return format::NumberValue(FieldOf(3, field).value); };
    p.DistributionCopies = static_cast<std::int16_t>(value(1) - (IsP(FieldOf(3, 1).value) ? 1 : 0));
    p.BudgetCopies = static_cast<std::int16_t>(value(2) - (IsP(FieldOf(3, 2).value) ? 1 : 0));
    p.UpdatePeriodicity = static_cast<std::int16_t>(value(3));
    p.UpdateSlot = static_cast<std::int16_t>(value(4));
    if (!ReadReceiptType(p.UpdateSlot)) {
      ShowRefusal(config::CatalogText("NO EXISTEIX EL CONCEPTE ") + format::PlainNumberText(p.UpdateSlot));
      result = -1;
    } else if (records::ReceiptType{report_.areas.For(kReceiptTypesFile).data()}.Kind() != 0) {
      ShowRefusal(config::CatalogText("EL CONCEPTE ") + TrimRight(ReceiptDescription()) +
                  config::CatalogText(" NO ÉS DE TIPUS PROVISIÓ DE FONS"_cp));
      result = -1;
    } else {
      console::SetFieldValue(4, 1, "");
      console::RunForm(4);
      result = FieldOf(4, 1).value == "S" ? 0 : -1;
    }
  }
  data::Locks().LockWaitMode = ' ';
  return result == 0 ? HookAnswer::kAccept : HookAnswer::kRefuse;
}

}  // namespace app
