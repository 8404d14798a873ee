// Records as CSV: a header of field names, one line per record, codes as
// digits, dates as YYYY-MM-DD, amounts in euros with two decimals, texts in
// UTF-8 with their trailing blanks removed.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <functional>
#include <limits>

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

// "YYYY-MM-DD" with every digit there; the calendar is not checked.
bool ReadIsoDate(std::string_view text, std::int64_t& y, std::int64_t& m, std::int64_t& d) {
  const auto number = [text](std::size_t at, std::size_t length, std::int64_t& value) {
    return AllDigits(text.substr(at, length)) && ParseInteger(text.substr(at, length), value);
  };
  return text.size() == 10 && text[4] == '-' && text[7] == '-' && number(0, 4, y) && number(5, 2, m) &&
         number(8, 2, d);
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

// A field given as "#" and its bytes in hex: the bytes as they are.
std::string SetRawField(const Field& field, std::string_view text, std::string& record) {
  const auto n = static_cast<std::size_t>(field.length);
  std::string bytes;
  if (!ParseRawText(text, n, bytes))
    return field.name + ": \"" + std::string(text) + "\" is not # and " + std::to_string(2 * n) + " hex digits";
  record.replace(static_cast<std::size_t>(field.offset), n, bytes);
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
      if (!text.empty() && text[0] == kRawMark) return SetRawField(field, text, record);
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
      if (text[0] == kRawMark) return SetRawField(field, text, record);
      std::int64_t y = 0, m = 0, d = 0;
      if (!ReadIsoDate(text, y, m, d)) return field.name + ": \"" + std::string(text) + "\" is not a date YYYY-MM-DD";
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
      const std::int64_t limit = n == 2 ? std::numeric_limits<std::int16_t>::max() : std::numeric_limits<std::int32_t>::max();
      if (text.empty()) v = 0;
      else if (!ParseInteger(text, v) || v > limit || v < -limit - 1)
        return field.name + ": \"" + std::string(text) + "\" is not an integer of " + std::to_string(8 * n) + " bits";
      WriteLe(record, at, static_cast<int>(n), v);
      return {};
    }
    case FieldKind::Amount: {
      std::int64_t c = 0;
      if (text.empty()) c = 0;
      else if (!ParseEuros(text, c) || c > std::numeric_limits<std::int32_t>::max() ||
               c < std::numeric_limits<std::int32_t>::min())
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
  CsvRowParser parser([&](std::vector<std::string>& fields, int line) {
    rows.push_back(fields);
    lines.push_back(line);
  });
  if (!parser.Feed(text) || !parser.Finish()) return parser.Error();
  return {};
}

std::string CsvLine(const FileLayout& layout, std::string_view record) {
  std::string line;
  for (std::size_t i = 0; i < layout.fields.size(); ++i)
    line += (i ? "," : "") + Quote(FieldText(layout.fields[i], record));
  return line;
}

std::string ExportCsv(std::string_view dataFile, const std::function<bool(std::string_view line)>& write) {
  const FileLayout* layout = FindLayout(BaseName(dataFile));
  if (layout == nullptr) return std::string(dataFile) + ": not one of the module's data files";
  std::string error;
  auto file = DataFile::Open(dataFile, false, error);
  if (!file) return error;
  std::string line;
  for (std::size_t i = 0; i < layout->fields.size(); ++i) line += (i ? "," : "") + layout->fields[i].name;
  bool written = write(line + "\n");
  // A line that cannot be written ends the export there.
  if (written) error = file->ReadEach([&](std::string_view record) {
    return written = write(CsvLine(*layout, record) + "\n");
  });
  if (!error.empty()) return error;
  if (!written) return std::string(dataFile) + ": the CSV could not be written";
  return {};
}

std::string ExportCsv(std::string_view dataFile, std::string& csv) {
  csv.clear();
  return ExportCsv(dataFile, [&csv](std::string_view line) {
    csv += line;
    return true;
  });
}

namespace {

// A line of the CSV text `name` for messages: "CSV line 3" for text in
// memory, "PATH, line 3" for a file.
std::string CsvWhere(const std::string& name, int line) {
  return (name.empty() ? "CSV line " : name + ", line ") + std::to_string(line);
}

// The CSV text `name` as a whole, for messages.
std::string CsvWhole(const std::string& name) { return name.empty() ? "CSV" : name; }

// The column of each field of `layout` in a CSV header (-1: left out).
std::string HeaderColumns(const FileLayout& layout, const std::vector<std::string>& header, const std::string& name,
                          std::vector<int>& column) {
  column.assign(layout.fields.size(), -1);
  for (std::size_t c = 0; c < header.size(); ++c) {
    bool known = false;
    for (std::size_t f = 0; f < layout.fields.size(); ++f) {
      if (header[c] != layout.fields[f].name) continue;
      if (column[f] >= 0) return CsvWhere(name, 1) + ": field " + header[c] + " named twice";
      column[f] = static_cast<int>(c);
      known = true;
    }
    if (!known) return CsvWhere(name, 1) + ": unknown field \"" + header[c] + "\"";
  }
  return {};
}

// One pass over CSV text: the header, then every row as a record of
// `recordLength` bytes, given to `each` with the line it comes from until
// `each` returns false. Rows that make no record are described in
// `problems`, a line each. The result is what stops everything: the text
// cannot be read or is malformed, or its header is wrong.
std::string EachCsvRecord(const FileLayout& layout, CsvInput& input, std::int32_t recordLength,
                          const std::function<bool(const std::string& record, int line)>& each,
                          std::string& problems) {
  problems.clear();
  bool haveHeader = false, more = true;
  std::size_t headerFields = 0;
  std::string headerError;
  std::vector<int> column;
  std::string record;
  const std::string name = input.Name();
  CsvRowParser parser([&](std::vector<std::string>& fields, int line) {
    if (!haveHeader) {
      haveHeader = true;
      headerFields = fields.size();
      headerError = HeaderColumns(layout, fields, name, column);
      return;
    }
    if (!headerError.empty() || !more) return;
    if (fields.size() != headerFields) {
      problems += CsvWhere(name, line) + ": " + std::to_string(fields.size()) +
                  " fields, the header has " + std::to_string(headerFields) + "\n";
      return;
    }
    // Fields left out of the header take their empty value: blanks, zero, no date.
    record.assign(static_cast<std::size_t>(std::max(recordLength, 0)), ' ');
    for (std::size_t f = 0; f < layout.fields.size(); ++f) {
      const Field& field = layout.fields[f];
      const bool digits = field.kind == FieldKind::Packed || field.kind == FieldKind::Number;
      const std::string_view empty = digits ? "0" : "";
      const std::string error =
          SetField(field, column[f] < 0 ? empty : std::string_view(fields[static_cast<std::size_t>(column[f])]), record);
      if (!error.empty()) {
        problems += CsvWhere(name, line) + ": " + error + "\n";
        return;
      }
    }
    more = each(record, line);
  });
  const std::string readError = input.Read([&](std::string_view block) { return parser.Feed(block) && more; });
  if (!readError.empty()) return readError;
  if (!parser.Error().empty() || (more && !parser.Finish()))
    return name.empty() ? "CSV " + parser.Error() : name + ", " + parser.Error();
  if (!haveHeader) return CsvWhole(name) + ": no header line";
  if (!headerError.empty()) return headerError;
  if (!problems.empty()) problems.pop_back();
  return {};
}

// A record as its CSV line, kept as two independent 64-bit hashes of the
// line (a chance of about 1 in 10^28 that two lines of 200 000 records
// share both), and where it was met: a CSV line, or -1 in the file.
struct Fingerprint {
  std::uint64_t first = 0, second = 0;
  std::int32_t line = -1;
  auto operator<=>(const Fingerprint&) const = default;
};

Fingerprint FingerprintOf(std::string_view identity, int line) {
  std::uint64_t fnv = 14695981039346656037ull;  // FNV-1a
  for (char c : identity) fnv = (fnv ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return {std::hash<std::string_view>{}(identity), fnv, line};
}

// Each CSV line whose record is in `dataFile` already or on an earlier
// line, with where it was met first (-1: in the file), in line order.
// `seen` holds the CSV lines' fingerprints and is sorted in place: the
// file's own are added for the look and taken out again, so that no copy
// of the lines is held beside them. The file is read through a handle of
// its own: one that has walked the whole file would keep that walk up to
// date on each insert of another.
std::string FindRepeats(std::string_view dataFile, const FileLayout& layout, std::deque<Fingerprint>& seen,
                        std::vector<std::pair<std::int32_t, std::int32_t>>& repeats) {
  repeats.clear();
  std::string error;
  auto reader = DataFile::Open(dataFile, false, error);
  if (reader) error = reader->ReadEach([&](std::string_view r) {
    seen.push_back(FingerprintOf(CsvLine(layout, r), -1));
    return true;
  });
  if (error.empty()) {
    // Equal records side by side, the first met (the file, then the lowest
    // line) first: every later one is a repeat of it.
    std::sort(seen.begin(), seen.end());
    for (std::size_t i = 1, first = 0; i < seen.size(); ++i) {
      if (seen[i].first != seen[first].first || seen[i].second != seen[first].second) {
        first = i;
        continue;
      }
      // Records repeated within the file are the file's business.
      if (seen[i].line >= 0) repeats.emplace_back(seen[i].line, seen[first].line);
    }
  }
  std::erase_if(seen, [](const Fingerprint& f) { return f.line < 0; });
  if (!error.empty()) return error;
  std::sort(repeats.begin(), repeats.end());
  return {};
}

// Reads every row of `csv` as a record of `length` bytes, counting them in
// `count`. With `fingerprints`, each row's fingerprint goes into `seen`:
// what makes two records the same is their CSV line, which says
// everything CSV can say of a record. The error names every refused row.
std::string CheckCsvRows(const FileLayout& layout, CsvInput& csv, std::int32_t length, bool fingerprints,
                         const ImportProgress& tell, std::deque<Fingerprint>& seen, std::size_t& count) {
  std::string problems;
  const std::string error = EachCsvRecord(
      layout, csv, length,
      [&](const std::string& record, int line) {
        if (fingerprints) seen.push_back(FingerprintOf(CsvLine(layout, record), line));
        tell("checking", ++count, 0);
        return true;
      },
      problems);
  return error.empty() ? problems : error;
}

// Makes `dataFile` when it is missing and checks that its records hold
// every field of `layout` (a dictionary may give a new file another length
// than the built-in one); its path and record length when they do.
std::string MakeDataFile(std::string_view dataFile, const FileLayout& layout, std::string& path,
                         std::size_t& recordLength) {
  std::string error;
  auto made = DataFile::Open(dataFile, true, error);
  if (!made) return error;
  path = made->Path();
  std::int32_t end = 0;
  for (const auto& f : layout.fields) end = std::max(end, f.offset + f.length);
  if (made->RecordLength() < end)
    return made->Path() + ": records of " + std::to_string(made->RecordLength()) + " bytes cannot hold field " +
           layout.fields.back().name + "; nothing inserted";
  recordLength = static_cast<std::size_t>(made->RecordLength());
  return {};
}

// The refusal of an import whose CSV lines repeat records: each repeat
// (CSV line, where it was met first: a CSV line, or -1 in the file at
// `path`) is told to `refused` when one is given, else in the text.
std::string RepeatsRefused(const std::vector<std::pair<std::int32_t, std::int32_t>>& repeats,
                           const std::string& csvName, const std::string& path,
                           const std::function<void(const std::string&)>& refused) {
  std::string collected;
  for (const auto& [line, first] : repeats) {
    const std::string said = CsvWhere(csvName, line) + ": the same record is " +
                             (first < 0 ? "already in " + path : "also " + CsvWhere(csvName, first));
    if (refused) refused(said);
    else collected += said + "\n";
  }
  return collected + "nothing inserted (--allow-duplicates inserts repeated records all the same)";
}

}  // namespace

std::string CsvRecords(const FileLayout& layout, std::string_view csvText, std::int32_t recordLength,
                       std::vector<std::string>& records, std::vector<std::string>& where) {
  records.clear();
  where.clear();
  CsvText input(csvText);
  std::string problems;
  const std::string error = EachCsvRecord(
      layout, input, recordLength,
      [&](const std::string& record, int line) {
        records.push_back(record);
        where.push_back(CsvWhere(input.Name(), line));
        return true;
      },
      problems);
  return error.empty() ? problems : error;
}

AddResult ImportCsv(std::string_view dataFile, const std::string& csvText, const AddOptions& options) {
  CsvText input(csvText);
  return ImportCsv(dataFile, input, options);
}

AddResult ImportCsv(std::string_view dataFile, CsvInput& csv, const AddOptions& options,
                    const ImportProgress& progress, const std::function<void(const std::string&)>& refused) {
  AddResult result;
  const FileLayout* layout = FindLayout(BaseName(dataFile));
  if (layout == nullptr) {
    result.error = std::string(dataFile) + ": not one of the module's data files";
    return result;
  }
  const ImportProgress tell = [&](std::string_view stage, std::size_t done, std::size_t total) {
    if (progress) progress(stage, done, total);
  };
  // Every row is checked before the file is created or touched.
  std::int32_t length = layout->recordLength;
  {
    std::string ignored;
    if (auto existing = DataFile::Open(dataFile, false, ignored)) length = existing->RecordLength();
  }
  // Only the rows' fingerprints are kept, in a deque, which grows without
  // copying: no moment with the old and the new storage both held.
  std::deque<Fingerprint> seen;
  std::size_t count = 0;
  std::string error = CheckCsvRows(*layout, csv, length, !options.allowDuplicates, tell, seen, count);
  if (!error.empty()) {
    result.error = error + "; nothing inserted";
    return result;
  }
  // The file is made when missing and checked, then read for repeated
  // records, then written, each through a handle of its own and one at a
  // time: a handle that has walked the whole file would keep that walk up
  // to date on each of its inserts.
  std::size_t fileLength = 0;
  result.error = MakeDataFile(dataFile, *layout, result.path, fileLength);
  if (!result.error.empty()) return result;

  // Repeats are looked for before anything is inserted, and again once
  // this import holds the file for its writes, just before its first
  // insert: another import may have added the same records in between.
  std::vector<std::pair<std::int32_t, std::int32_t>> repeats;
  auto refuseRepeats = [&]() {
    result.error = RepeatsRefused(repeats, csv.Name(), result.path, refused);
    return result;
  };
  if (!options.allowDuplicates) {
    error = FindRepeats(dataFile, *layout, seen, repeats);
    if (!error.empty()) {
      result.error = error + "; nothing inserted";
      return result;
    }
    if (!repeats.empty()) return refuseRepeats();
  }
  auto file = DataFile::Open(dataFile, false, error);
  if (!file) {
    result.error = error + "; nothing inserted";
    return result;
  }
  if (static_cast<std::size_t>(file->RecordLength()) != fileLength) {
    result.error = file->Path() + ": record length changed; nothing inserted";
    return result;
  }
  // A text changed since it was checked would insert what was not checked.
  const std::string changed = CsvWhole(csv.Name()) + ": the file changed while it was being imported; nothing inserted";

  error = file->BeginInserts();
  if (!error.empty()) {
    result.error = error;
    return result;
  }
  // Held from the first insert to the commit, as the first insert into an
  // SQLite file holds that file: looked at again then, the file shows every
  // record another import committed, and no other import or put can add
  // more until this one commits. The look comes before this import's own
  // inserts, which it would see on the server.
  bool held = false, repeatedSinceCheck = false;
  auto holdAndLookAgain = [&]() -> std::string {
    if (std::string notHeld = file->HoldForWriting(); !notHeld.empty()) return notHeld;
    if (options.allowDuplicates) return {};
    if (std::string notRead = FindRepeats(dataFile, *layout, seen, repeats); !notRead.empty()) {
      file->AbortInserts();
      return notRead + "; nothing inserted";
    }
    repeatedSinceCheck = !repeats.empty();
    if (repeatedSinceCheck) file->AbortInserts();
    return {};
  };
  std::size_t inserted = 0;
  std::string insertError, problems;
  std::string sized;
  error = EachCsvRecord(
      *layout, csv, length,
      [&](const std::string& record, int line) {
        if (!held) {
          held = true;
          insertError = holdAndLookAgain();
          if (!insertError.empty() || repeatedSinceCheck) return false;
        }
        sized.assign(record);
        sized.resize(fileLength, ' ');
        insertError = file->Insert(sized, CsvWhere(csv.Name(), line));
        if (!insertError.empty()) return false;
        tell("adding", ++inserted, count);
        return true;
      },
      problems);
  if (!insertError.empty()) {
    result.error = insertError;
    return result;
  }
  if (repeatedSinceCheck) return refuseRepeats();
  if (!error.empty() || !problems.empty() || inserted != count) {
    // Nothing may stay of a text that is not the one checked.
    file->AbortInserts();
    result.error = error.empty() ? changed : error + "; nothing inserted";
    return result;
  }
  result.error = file->CommitInserts();
  if (result.error.empty()) result.added = inserted;
  return result;
}

}  // namespace kitdata
