// The record layouts the module reads and writes, as typed views over the
// record bytes (little-endian integers, fixed-width blank-padded texts,
// packed codes and dates as stored).
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "format/numbers.h"

namespace app::records {

inline std::int16_t Int16At(const char* p) {
  return static_cast<std::int16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
}
inline std::int32_t Int32At(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return static_cast<std::int32_t>(v);
}
inline void PutInt16(char* p, std::int16_t v) {
  const auto u = static_cast<std::uint16_t>(v);
  p[0] = static_cast<char>(u & 0xFF);
  p[1] = static_cast<char>(u >> 8);
}
inline void PutInt32(char* p, std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i, u >>= 8) p[i] = static_cast<char>(u & 0xFF);
}
inline std::string TextAt(const char* p, std::size_t width) { return std::string(p, width); }
// Cut or blank-padded to `width`.
inline void PutText(char* p, std::size_t width, std::string_view text) {
  std::memset(p, ' ', width);
  std::memcpy(p, text.data(), std::min(width, text.size()));
}

// Properties ("DADES\FinquesH").
struct Property {
  const char* r;
  std::string Code() const { return TextAt(r, 2); }
  std::string Name() const { return TextAt(r + 6, 30); }
  std::int16_t FirstMonth() const { return Int16At(r + 106); }
  std::int16_t PeriodMonths() const { return Int16At(r + 108); }
  std::int32_t FeePerOwnerMonth() const { return Int32At(r + 110); }
  std::int16_t RateIndex() const { return Int16At(r + 114); }
  // k = 2 (B) to 7 (G).
  std::int32_t ColumnTotal(int k) const { return Int32At(r + 164 + 34 * (k - 2)); }
  std::string ColumnName(int k) const { return TextAt(r + 168 + 34 * (k - 2), 30); }
  std::string TaxId() const { return TextAt(r + 368, 17); }
};

// Receipt types ("DADES\\THRebut").
struct ReceiptType {
  const char* r;
  int Number() const { return static_cast<unsigned char>(r[0]); }  // the key byte
  std::string Description() const { return TextAt(r + 1, 20); }
  std::int16_t Kind() const { return Int16At(r + 21); }  // 0: a provision of funds
};

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

// Owners ("DADES\PropietH").
struct Owner {
  char* r;
  std::string Key() const { return TextAt(r, 4); }
  std::string PropertyCode() const { return TextAt(r, 2); }
  std::string Name() const { return TextAt(r + 4, 34); }  // surname first, "*" before the given name
  std::string Department() const { return TextAt(r + 38, 10); }
  // k = 1 (A) to 7 (G).
  std::int32_t Coefficient(int k) const { return Int32At(r + 211 + 4 * (k - 1)); }
  // s = 1 to 8.
  std::int16_t SlotPeriodicity(int s) const { return Int16At(r + 240 + 7 * (s - 1)); }
  std::int32_t SlotAmount(int s) const { return Int32At(r + 242 + 7 * (s - 1)); }
  void SetSlot(int s, std::int16_t periodicity, std::int32_t amount) const {
    PutInt16(r + 240 + 7 * (s - 1), periodicity);
    PutInt32(r + 242 + 7 * (s - 1), amount);
  }
};

// Collections issued to owners ("DADES\CobramH").
struct Collection {
  const char* r;
  std::string OwnerKey() const { return TextAt(r, 4); }
  std::string Date() const { return TextAt(r + 4, 4); }
  std::int32_t Amount() const { return Int32At(r + 13); }
};

// Payments of the properties ("DADES\PagamH").
struct Payment {
  const char* r;
  std::string PropertyCode() const { return TextAt(r, 2); }
  std::string Date() const { return TextAt(r + 2, 4); }
  std::string Concept() const { return TextAt(r + 8, 2); }
  std::int32_t Amount() const { return Int32At(r + 35); }
  char Kind() const { return r[39]; }
  std::string ColumnNumber() const { return TextAt(r + 40, 2); }  // packed number
};

// Expense concepts ("DADES\TDespesa").
struct Concept {
  const char* r;
  std::string Code() const { return TextAt(r, 2); }
  std::string Description() const { return TextAt(r + 2, 25); }
};

// Concept columns of a property ("DADES\FinDespH"): entries of code + letter.
struct ConceptColumns {
  const char* r;
  std::string PropertyCode() const { return TextAt(r, 2); }
  std::string List() const { return TextAt(r + 2, 600); }
};

// Stored budget lines ("DADES\PressupH").
struct StoredLine {
  char* r;
  std::string PropertyCode() const { return TextAt(r, 2); }
  std::string Concept() const { return TextAt(r + 2, 2); }
  char Column() const { return r[4]; }
  std::int32_t Percent() const { return Int32At(r + 5); }  // thousandths of a percent
  std::int32_t Amount() const { return Int32At(r + 9); }
  std::int32_t Budget() const { return Int32At(r + 13); }
  void Set(std::string_view property, std::string_view conceptCode, char column, std::int32_t percent,
           std::int32_t amount, std::int32_t budget) const {
    PutText(r, 2, property);
    PutText(r + 2, 2, conceptCode);
    r[4] = column;
    PutInt32(r + 5, percent);
    PutInt32(r + 9, amount);
    PutInt32(r + 13, budget);
  }
};

// A line of the working budget file "PressupH.tmp": 44 bytes.
inline constexpr std::size_t kWorkingLineSize = 44;
struct WorkingLine {
  std::string code = "  ";            // 2; 0xFF + letter: miscellaneous of a column; 0xFF 0xFF: particular
  std::string description;            // 25
  char column = ' ';                  // "A" to "G" or blank
  std::int32_t spent = 0;
  std::string variation;              // 8, as typed
  std::int32_t budget = 0;

  std::string Encode() const {
    std::string b(kWorkingLineSize, ' ');
    PutText(b.data(), 2, code);
    PutText(b.data() + 2, 25, description);
    b[27] = column;
    PutInt32(b.data() + 28, spent);
    PutText(b.data() + 32, 8, variation);
    PutInt32(b.data() + 40, budget);
    return b;
  }
  static WorkingLine Decode(std::string_view b) {
    WorkingLine l;
    l.code = std::string(b.substr(0, 2));
    l.description = std::string(b.substr(2, 25));
    l.column = b[27];
    l.spent = Int32At(b.data() + 28);
    l.variation = std::string(b.substr(32, 8));
    l.budget = Int32At(b.data() + 40);
    return l;
  }
};

}  // namespace app::records
