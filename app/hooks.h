// The module's side of its forms: what the parameter screen, the budget
// page, the print options and the two questions mean.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/form_input.h"

namespace app {

inline constexpr std::int16_t kReceiptTypesFile = 504;
inline constexpr std::int16_t kPropertiesFile = 511;

// What screens 1 and 3 leave for the report.
struct ReportParameters {
  std::string ReportDate;    // packed date, 4 bytes
  std::string PropertyCode;  // packed code, 2 bytes
  std::array<std::string, 5> ReportOptions;  // the F5..F9 presets
  std::int16_t DistributionCopies = 0;  // -1: one per owner
  std::int16_t BudgetCopies = 0;
  std::int16_t UpdatePeriodicity = 0;   // 0: receipts not touched
  std::int16_t UpdateSlot = 0;
};
ReportParameters& Parameters();
void ResetParameters();

// Record areas of the two files the hooks read; OpenDataFile binds them.
struct HookRecords {
  std::array<char, 1024> property{};
  std::array<char, 256> receiptType{};
};
HookRecords& Records();

// What the hooks need from outside the form loop: the working date for a
// blank date and the budget lock. Defaults: the session's date, LockKey.
struct HookServices {
  std::function<std::string()> WorkDate;
  std::function<int(std::string_view digits)> LockBudget;
};
HookServices& Services();

// What the module's screens mean, for the form input and the look-up lists.
class ModuleHooks final : public console::FormHooks {
 public:
  void PaintScreen(int screen) override;
  console::HookAnswer ValidateField(int screen, std::string& text, int& field, std::int16_t& key) override;
  void ShowField(int screen, int field) override;
  console::HookAnswer ApplyLookup(int list, int screen, int& field) override;
  console::HookAnswer ValidateScreen(int screen, std::int16_t key) override;
  console::HookAnswer PrepareList(int list, std::string& startKey, std::string& endKey) override;
  std::string FormatListLine(int list) override;

 private:
  // The check of one edited field by its value type; stores what it accepts.
  console::HookAnswer CheckAndStore(int screen, std::string& text, int field, std::int16_t& key);
  // Adds `delta` to the number a field holds and shows it.
  void AddToField(int screen, int field, double delta);
};

// A refusal: the message at reference row 12, a beep, and a key to go on.
void ShowRefusal(const std::string& text);

}  // namespace app
