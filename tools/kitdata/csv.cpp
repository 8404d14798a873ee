// Records as CSV: a header of field names, one line per record, codes as
// digits, dates as YYYY-MM-DD, amounts in euros with two decimals, texts in
// UTF-8 with their trailing blanks removed.
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "base/cp850.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "tools/kitdata/kitdata.h"

namespace kitdata {
namespace {

std::int64_t ReadLe(std::string_view r, std::size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(r[at + static_cast<std::size_t>(i)]);
  std::uint64_t sign = 1ull << (8 * bytes - 1);
  return static_cast<std::int64_t>(v ^ sign) - static_cast<std::int64_t>(sign);
}

void WriteLe(std::string& r, std::size_t at, int bytes, std::int64_t value) {
  auto v = static_cast<std::uint64_t>(value);
  for (int i = 0; i < bytes; ++i) r[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool AllDigits(std::string_view t) {
  if (t.empty()) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ParseInteger(std::string_view t, std::int64_t& out) {
  if (t.empty()) return false;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && p == t.data() + t.size();
}

// Euros with at most two decimals, "." as the decimal point.
bool ParseEuros(std::string_view t, std::int64_t& cents) {
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.remove_prefix(1);
  std::size_t dot = t.find('.');
  std::string_view whole = t.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : t.substr(dot + 1);
  if (whole.empty() || !AllDigits(whole) || whole.size() > 12) return false;
  if (dot != std::string_view::npos && (fraction.empty() || fraction.size() > 2 || !AllDigits(fraction)))
    return false;
  std::int64_t w = 0;
  ParseInteger(whole, w);
  std::int64_t f = 0;
  if (!fraction.empty()) {
    ParseInteger(fraction, f);
    if (fraction.size() == 1) f *= 10;
  }
  cents = w * 100 + f;
  if (negative) cents = -cents;
  return true;
}

std::string Quote(const std::string& t) {
  if (t.find_first_of(",\"\r\n") == std::string::npos && (t.empty() || (t.front() != ' ' && t.back() != ' ')))
    return t;
  std::string q = "\"";
  for (char c : t) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::int64_t DaysInMonth(std::int64_t year, std::int64_t month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

bool IsPackedDigits(std::string_view bytes) {
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if (b < 128 || b > 227) return false;
  }
  return true;
}

// Stored bytes that are not what their field's kind says: "#" and the bytes
// in hexadecimal, read back unchanged.
constexpr char kRawMark = '#';

std::string RawText(std::string_view bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text(1, kRawMark);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "#" and exactly 2 x n hex digits: the n bytes; false otherwise.
bool ParseRawText(std::string_view text, std::size_t n, std::string& bytes) {
  if (text.size() != 1 + 2 * n || text[0] != kRawMark) return false;
  bytes.assign(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    const int high = HexDigit(text[1 + 2 * i]), low = HexDigit(text[2 + 2 * i]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<char>(high << 4 | low);
  }
  return true;
}

bool IsCalendarDate(std::int64_t y, std::int64_t m, std::int64_t d) {
  return y >= 1 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

}  // namespace

std::string FieldText(const Field& field, std::string_view record) {
  auto at = static_cast<std::size_t>(field.offset);
  auto n = static_cast<std::size_t>(field.length);
  if (at + n > record.size()) return {};
  std::string_view bytes = record.substr(at, n);
  switch (field.kind) {
    case FieldKind::Text: {
      std::string t(bytes);
      while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
      return base::Cp850ToUtf8(t);
    }
    case FieldKind::Packed:
      if (!IsPackedDigits(bytes)) return RawText(bytes);
      return format::UnpackDigits(bytes);
    case FieldKind::Number: {
      if (!IsPackedDigits(bytes)) return RawText(bytes);
      std::int64_t v = 0;
      ParseInteger(format::UnpackDigits(bytes), v);
      return std::to_string(v);
    }
    case FieldKind::Date: {
      if (bytes == format::ZeroDate()) return {};
      if (n != 4 || !IsPackedDigits(bytes)) return RawText(bytes);
      std::int32_t d = format::DateNumber(bytes);
      if (!IsCalendarDate(d / 10000, d / 100 % 100, d % 100)) return RawText(bytes);
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d / 10000, d / 100 % 100, d % 100);
      return buf;
    }
    case FieldKind::Byte:
      return std::to_string(static_cast<unsigned char>(bytes[0]));
    case FieldKind::Int16:
    case FieldKind::Int32:
      return std::to_string(ReadLe(record, at, static_cast<int>(n)));
    case FieldKind::Amount: {
      std::int64_t c = ReadLe(record, at, 4);
      std::int64_t a = c < 0 ? -c : c;
      char buf[32];
      std::snprintf(buf, sizeof buf, "%s%lld.%02lld", c < 0 ? "-" : "", static_cast<long long>(a / 100),
                    static_cast<long long>(a % 100));
      return buf;
    }
  }
  return {};
}

std::string SetField(const Field& field, std::string_view text, std::string& record) {
  auto at = static_cast<std::size_t>(field.offset);
  auto n = static_cast<std::size_t>(field.length);
  if (at + n > record.size()) return field.name + ": beyond the record";
  switch (field.kind) {
    case FieldKind::Text: {
      std::string t = base::Utf8ToCp850(text);
      if (base::Cp850ToUtf8(t) != text) return field.name + ": characters outside code page 850";
      // Trailing zero bytes pad a text as blanks do: export leaves both out,
      // and import stores both as blanks.
      while (!t.empty() && (t.back() == '\0' || t.back() == ' ')) t.pop_back();
      if (t.size() > n) return field.name + ": longer than " + std::to_string(n) + " characters";
      t.resize(n, ' ');
      record.replace(at, n, t);
      return {};
    }
    case FieldKind::Packed:
    case FieldKind::Number: {
      if (!text.empty() && text[0] == kRawMark) {
        std::string bytes;
        if (!ParseRawText(text, n, bytes))
          return field.name + ": \"" + std::string(text) + "\" is not # and " + std::to_string(2 * n) +
                 " hex digits";
        record.replace(at, n, bytes);
        return {};
      }
      std::string digits(text);
      if (!AllDigits(digits) || digits.size() > 2 * n)
        return field.name + ": \"" + digits + "\" is not a number of at most " + std::to_string(2 * n) + " digits";
      digits.insert(0, 2 * n - digits.size(), '0');
      record.replace(at, n, format::PackDigits(digits));
      return {};
    }
    case FieldKind::Date: {
      if (text.empty()) {
        record.replace(at, n, format::ZeroDate());
        return {};
      }
      if (text[0] == kRawMark) {
        std::string bytes;
        if (!ParseRawText(text, n, bytes))
          return field.name + ": \"" + std::string(text) + "\" is not # and " + std::to_string(2 * n) +
                 " hex digits";
        record.replace(at, n, bytes);
        return {};
      }
      std::int64_t y = 0, m = 0, d = 0;
      if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !AllDigits(text.substr(0, 4)) ||
          !ParseInteger(text.substr(0, 4), y) || !AllDigits(text.substr(5, 2)) ||
          !ParseInteger(text.substr(5, 2), m) || !AllDigits(text.substr(8, 2)) || !ParseInteger(text.substr(8, 2), d))
        return field.name + ": \"" + std::string(text) + "\" is not a date YYYY-MM-DD";
      std::string packed = format::PackDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
      if (!IsCalendarDate(y, m, d)) return field.name + ": " + std::string(text) + " is not a calendar date";
      record.replace(at, n, packed);
      return {};
    }
    case FieldKind::Byte: {
      std::int64_t v = 0;
      if (!ParseInteger(text, v) || v < 0 || v > 255) return field.name + ": not a number 0 to 255";
      record[at] = static_cast<char>(v);
      return {};
    }
    case FieldKind::Int16:
    case FieldKind::Int32: {
      std::int64_t v = 0;
      std::int64_t limit = n == 2 ? 32767 : 2147483647;
      if (text.empty()) v = 0;
      else if (!ParseInteger(text, v) || v > limit || v < -limit - 1)
        return field.name + ": \"" + std::string(text) + "\" is not an integer of " + std::to_string(8 * n) + " bits";
      WriteLe(record, at, static_cast<int>(n), v);
      return {};
    }
    case FieldKind::Amount: {
      std::int64_t c = 0;
      if (text.empty()) c = 0;
      else if (!ParseEuros(text, c) || c > 2147483647 || c < -2147483648LL)
        return field.name + ": \"" + std::string(text) + "\" is not an amount in euros";
      WriteLe(record, at, 4, c);
      return {};
    }
  }
  return {};
}

std::string ParseCsv(std::string_view text, std::vector<std::vector<std::string>>& rows, std::vector<int>& lines) {
  rows.clear();
  lines.clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, wasQuoted = false, any = false;
  int line = 1, rowLine = 1;
  auto endRow = [&]() {
    if (any || !field.empty() || wasQuoted || !row.empty()) {
      row.push_back(field);
      rows.push_back(row);
      lines.push_back(rowLine);
    }
    row.clear();
    field.clear();
    any = wasQuoted = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"') {
      if (!field.empty()) return "line " + std::to_string(line) + ": quote inside an unquoted field";
      quoted = wasQuoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
      wasQuoted = false;
      any = true;
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      endRow();
      ++line;
      rowLine = line;
    } else {
      if (wasQuoted) return "line " + std::to_string(line) + ": text after a closing quote";
      field += c;
      any = true;
    }
  }
  if (quoted) return "line " + std::to_string(rowLine) + ": quote not closed";
  endRow();
  return {};
}

std::string CsvLine(const FileLayout& layout, std::string_view record) {
  std::string line;
  for (std::size_t i = 0; i < layout.fields.size(); ++i)
    line += (i ? "," : "") + Quote(FieldText(layout.fields[i], record));
  return line;
}

std::string ExportCsv(std::string_view dataFile, std::string& csv) {
  csv.clear();
  const FileLayout* layout = FindLayout(BaseName(dataFile));
  if (layout == nullptr) return std::string(dataFile) + ": not one of the module's data files";
  std::string error;
  auto file = DataFile::Open(dataFile, false, error);
  if (!file) return error;
  std::vector<std::string> records;
  error = file->ReadAll(records);
  if (!error.empty()) return error;
  for (std::size_t i = 0; i < layout->fields.size(); ++i) csv += (i ? "," : "") + layout->fields[i].name;
  csv += "\n";
  for (const auto& r : records) csv += CsvLine(*layout, r) + "\n";
  return {};
}

std::string CsvRecords(const FileLayout& layout, std::string_view csvText, std::int32_t recordLength,
                       std::vector<std::string>& records, std::vector<std::string>& where) {
  records.clear();
  where.clear();
  std::vector<std::vector<std::string>> rows;
  std::vector<int> lines;
  std::string error = ParseCsv(csvText, rows, lines);
  if (!error.empty()) return "CSV " + error;
  if (rows.empty()) return "CSV: no header line";
  // The header names the columns; every field of the layout must be there once.
  std::vector<int> column(layout.fields.size(), -1);
  for (std::size_t c = 0; c < rows[0].size(); ++c) {
    bool known = false;
    for (std::size_t f = 0; f < layout.fields.size(); ++f) {
      if (rows[0][c] != layout.fields[f].name) continue;
      if (column[f] >= 0) return "CSV line 1: field " + rows[0][c] + " named twice";
      column[f] = static_cast<int>(c);
      known = true;
    }
    if (!known) return "CSV line 1: unknown field \"" + rows[0][c] + "\"";
  }
  // Fields left out of the header take their empty value: blanks, zero, no date.
  std::string problems;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    std::string line = "CSV line " + std::to_string(lines[r]);
    if (rows[r].size() != rows[0].size()) {
      problems += line + ": " + std::to_string(rows[r].size()) + " fields, the header has " +
                  std::to_string(rows[0].size()) + "\n";
      continue;
    }
    std::string record(static_cast<std::size_t>(std::max(recordLength, 0)), ' ');
    std::string rowError;
    for (std::size_t f = 0; f < layout.fields.size() && rowError.empty(); ++f) {
      const Field& field = layout.fields[f];
      bool digits = field.kind == FieldKind::Packed || field.kind == FieldKind::Number;
      std::string empty = digits ? "0" : "";
      rowError = SetField(field, column[f] < 0 ? empty : rows[r][static_cast<std::size_t>(column[f])], record);
    }
    if (!rowError.empty()) {
      problems += line + ": " + rowError + "\n";
      continue;
    }
    records.push_back(record);
    where.push_back(line);
  }
  if (!problems.empty()) problems.pop_back();
  return problems;
}

AddResult ImportCsv(std::string_view dataFile, const std::string& csvText, const AddOptions& options) {
  AddResult result;
  const FileLayout* layout = FindLayout(BaseName(dataFile));
  if (layout == nullptr) {
    result.error = std::string(dataFile) + ": not one of the module's data files";
    return result;
  }
  // Every row is checked before the file is created or touched.
  std::int32_t length = layout->recordLength;
  {
    std::string ignored;
    if (auto existing = DataFile::Open(dataFile, false, ignored)) length = existing->RecordLength();
  }
  std::vector<std::string> records;
  std::vector<std::string> where;
  std::string error = CsvRecords(*layout, csvText, length, records, where);
  if (!error.empty()) {
    result.error = error + "; nothing inserted";
    return result;
  }
  auto file = DataFile::Open(dataFile, true, error);
  if (!file) {
    result.error = error;
    return result;
  }
  result.path = file->Path();
  // A dictionary may give the new file another length than the built-in one.
  std::int32_t end = 0;
  for (const auto& f : layout->fields) end = std::max(end, f.offset + f.length);
  if (file->RecordLength() < end) {
    result.error = file->Path() + ": records of " + std::to_string(file->RecordLength()) +
                   " bytes cannot hold field " + layout->fields.back().name + "; nothing inserted";
    return result;
  }
  for (auto& r : records) r.resize(static_cast<std::size_t>(file->RecordLength()), ' ');
  // A CSV line says everything CSV can say of a record: two records with the
  // same line are the same record.
  return file->Add(
      records, where, [layout](std::string_view r) { return CsvLine(*layout, r); }, options);
}

}  // namespace kitdata
