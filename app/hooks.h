// The module's side of its forms: what the parameter screen, the budget
// page, the print options and the two questions mean.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/report.h"
#include "console/form_input.h"

namespace app {

// What a look-up by key of a data file gave. A read that failed is told to
// the operator (the file and the status) as a refusal, not taken for a
// record that does not exist.
enum class Lookup { kFound, kNotFound, kFailed };
Lookup LookupResult(std::int16_t fileId, std::int16_t status);

// What the module's screens mean, for the form input and the look-up
// lists: screen 1 sets the report's parameters and takes the budget lock,
// the budget page keeps its totals, screen 3 sets the print options.
class ModuleHooks final : public console::FormHooks {
 public:
  explicit ModuleHooks(Report& report) : report_(report) {}

  void PaintScreen(int screen) override;
  console::HookAnswer ValidateField(int screen, std::string& text, int& field, std::int16_t& key) override;
  void ShowField(int screen, int field) override;
  console::HookAnswer ApplyLookup(int list, int screen, int& field) override;
  console::HookAnswer ValidateScreen(int screen, std::int16_t key) override;
  console::HookAnswer PrepareList(int list, std::string& startKey, std::string& endKey) override;
  std::string FormatListLine(int list) override;

 private:
  // The check of one edited field by its value type (CheckField) over the
  // form's texts; stores what it accepts and the line's budget and total.
  console::HookAnswer CheckAndStore(int screen, std::string& text, int field, std::int16_t& key);
  // Screen 1 accepted: the report's parameters, the property, its lock.
  bool AcceptParameters();
  // Screen 3 accepted: the print options, the receipt concept, screen 4.
  bool AcceptPrintOptions();
  // Runs the question of `screen` (field 1 preset); true for "S".
  bool Ask(int screen, std::string_view preset);
  // Reads the receipt type of one concept number into its record area:
  // the data layer's status, 4 (not found) for a number out of range.
  std::int16_t ReadReceiptType(std::int16_t number);
  // Whether the concept exists; see Lookup.
  Lookup FindReceiptType(std::int16_t number);
  std::string ReceiptDescription() const;
  std::string PropertyName() const;

  Report& report_;
};

// A refusal: the message at reference row 12, a beep, and a key to go on.
void ShowRefusal(const std::string& text);

}  // namespace app
