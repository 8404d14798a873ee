// The report the module works on: made once by main and handed to every
// step, from the first screen to the print file. A run flows one way
// through it: screen 1 sets the parameters, the budget is built into the
// working file and edited on screens 2 and 3, the distribution computes
// the owners' shares from it, and the listings print them and the budget
// into the print channel.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/budget_state.h"
#include "app/data_files.h"
#include "app/print_channel.h"
#include "app/working_file.h"

namespace app {

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

// The settings read once from RootDir + "Vora.ini".
struct FeeSettings {
  std::string LetterheadSetting;           // [Rebut] Membret
  std::array<float, 2> VatRate{};          // [Iva0] / [Iva1] Honoraris
  std::array<float, 2> WithholdingRate{};  // [Ret0] / [Ret1] Honoraris
};

// What the receipt update of a run did: every owner read was given the new
// instalment in slot `Slot` (none when the slot is not 1 to 8). In a run
// that writes no data (a dry run) the same figures say what it would have
// done.
struct ReceiptUpdate {
  bool Made = false;  // the options asked for it and the pass ran to its end
  int Owners = 0;     // owners whose slot got the new instalment
  std::int16_t Slot = 0;
  std::int16_t Periodicity = 0;
  std::int64_t Total = 0;  // the new instalments added up, in cents
};

// Where a listing copy has got to.
struct ListingState {
  std::int16_t PageNo = 0;
  std::int32_t ColumnSubtotal = 0;
  std::int32_t ListingTotal = 0;
  bool ColumnHeaderDone = false;
};

struct Report {
  Report() = default;
  // The data layer holds on to the record areas: the report stays where it
  // was made.
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  ReportParameters parameters;
  FeeSettings fees;
  RecordAreas areas;
  // The working budget of the run, "PressupH.tmp".
  WorkingFile working;
  BudgetState budget;
  // The administrator's letterhead [1..6], tax number [7] and place [8] the
  // listings print, read when printing starts.
  std::array<std::string, 9> administrator;
  ListingState listing;
  PrintChannel channel;
  // What the last distribution did to the owners' receipt slots.
  ReceiptUpdate receipts;
  // False for a dry run: everything is worked out and printed, and no data
  // file is written.
  bool WriteData = true;
};

}  // namespace app
