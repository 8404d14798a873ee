// The records the module reads and writes: the typed views that the build
// generates from the dictionary sources (records/layouts.h: Property, Owner,
// Collection, Payment, Concept, ConceptColumns, StoredLine, ReceiptType,
// WorkingRecord), and what the module derives from them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/numbers.h"
#include "records/layouts.h"

namespace app::records {

using namespace ::records;

// The owner number: the last three digits of the unpacked eight-digit owner
// key; 0 when they are not digits (a damaged key).
inline std::int16_t OwnerNumber(std::string_view ownerKey) {
  const std::string digits = format::UnpackDigits(ownerKey);
  if (digits.size() < 3) return 0;
  int n = 0;
  for (char c : digits.substr(digits.size() - 3)) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return static_cast<std::int16_t>(n);
}

// A line of the working budget file "PressupH.tmp" as a value.
inline constexpr std::size_t kWorkingLineSize = WorkingRecordLayout::kRecordLength;
struct WorkingLine {
  std::string code = "  ";  // 0xFF + letter: miscellaneous of a column; 0xFF 0xFF: particular
  std::string description;
  char column = ' ';  // "A" to "G" or blank
  std::int32_t spent = 0;
  std::string variation;  // as typed
  std::int32_t budget = 0;

  std::string Encode() const {
    std::string bytes(kWorkingLineSize, ' ');
    const WorkingRecord record{bytes};
    record.SetCode(code);
    record.SetDescription(description);
    record.SetColumn(column);
    record.SetSpent(spent);
    record.SetVariation(variation);
    record.SetBudget(budget);
    return bytes;
  }
  static WorkingLine Decode(std::string_view bytes) {
    const WorkingRecord record{bytes};
    WorkingLine l;
    l.code = record.Code();
    l.description = record.Description();
    l.column = record.Column();
    l.spent = record.Spent();
    l.variation = record.Variation();
    l.budget = record.Budget();
    return l;
  }
};

}  // namespace app::records
