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

std::int16_t ValidateField(std::int16_t& screen, std::string& text, std::int16_t& field, std::int16_t& key);
void ShowField(std::int16_t& screen, std::int16_t& field);
void PaintScreen(std::int16_t& screen);
void ApplyLookup(std::int16_t& list, std::int16_t& screen, std::int16_t& field);
std::int16_t ValidateScreen(std::int16_t& screen, std::int16_t& key);
std::int16_t PrepareList(std::int16_t& list, std::string& startKey, std::string& endKey);
std::string FormatListLine(std::int16_t& list);

// All of the above as the form input wants them.
console::FormHooks ModuleHooks();

// A refusal: the message at reference row 12, a beep, and a key to go on.
void ShowRefusal(const std::string& text);

}  // namespace app
