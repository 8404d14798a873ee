#include "suite/tool/dictionary_source.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <map>
#include <sstream>

namespace suite {
namespace {

constexpr int kDuplicates = 0x0001;
constexpr int kModifiable = 0x0002;
constexpr int kBinary = 0x0004;
constexpr int kSegmentFollows = 0x0010;
constexpr int kDescending = 0x0040;
constexpr int kMaxRecord = 4090;
constexpr int kMaxKeyLength = 255;
// What the record manager's create takes: at most 24 keys of at most 24
// segments each, in a creation record that fits its 1536-byte buffer.
constexpr std::size_t kMaxKeys = 24;
constexpr std::size_t kMaxSegmentsPerKey = 24;
constexpr std::size_t kCreateBuffer = 1536;
constexpr std::size_t kMaxSegments = (kCreateBuffer - 16) / 16;

constexpr std::string_view kIndexNumber = "{n}";
constexpr std::string_view kIndexLetter = "{letter}";

void Put16(std::string& s, std::size_t at, int v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

bool Number(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string_view::npos) return {};
  const std::size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(start, end - start + 1));
}

// "1:4" into position and length; false when it is not two numbers.
bool PositionLength(std::string_view text, int& position, int& length) {
  const std::size_t colon = text.find(':');
  return colon != std::string_view::npos && Number(text.substr(0, colon), position) &&
         Number(text.substr(colon + 1), length);
}

// "1:4", "3:2:binary": a segment, or an error text.
std::string ParseSegment(std::string_view text, KeySegmentSource& seg) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || !Number(parts[0], seg.position) || !Number(parts[1], seg.length))
    return "segment \"" + std::string(text) + "\" is not position:length";
  for (std::size_t i = 2; i < parts.size(); ++i) {
    if (parts[i] == "binary")
      seg.flags |= kBinary;
    else if (parts[i] == "descending")
      seg.flags |= kDescending;
    else
      return "unknown segment option \"" + std::string(parts[i]) + "\"";
  }
  if (seg.position < 1 || seg.length < 1) return "segment \"" + std::string(text) + "\" starts or ends before 1";
  return {};
}

bool TypeFromName(std::string_view name, FieldType& type) {
  for (FieldType t : {FieldType::Text, FieldType::Packed, FieldType::Number, FieldType::Date, FieldType::Byte,
                      FieldType::Int16, FieldType::Int32, FieldType::Amount})
    if (TypeName(t) == name) {
      type = t;
      return true;
    }
  return false;
}

// Names become accessors: Name() and SetName(value).
std::string CheckName(std::string_view name) {
  bool ok = !name.empty() && name[0] >= 'A' && name[0] <= 'Z';
  for (char c : name) ok = ok && std::isalnum(static_cast<unsigned char>(c));
  if (!ok) return "name \"" + std::string(name) + "\" must be letters and digits starting with a capital";
  if (name.size() > 3 && name.substr(0, 3) == "Set" && std::isupper(static_cast<unsigned char>(name[3])))
    return "name \"" + std::string(name) + "\" would clash with a setter";
  if (name == "Bytes") return "name \"Bytes\" is the view's own";
  return {};
}

std::string Snake(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (std::isupper(c) && i > 0 &&
        (std::islower(static_cast<unsigned char>(name[i - 1])) || std::isdigit(static_cast<unsigned char>(name[i - 1]))))
      out += '_';
    out += static_cast<char>(std::tolower(c));
  }
  return out;
}

bool HasIndex(std::string_view csv) {
  return csv.find(kIndexNumber) != std::string_view::npos || csv.find(kIndexLetter) != std::string_view::npos;
}

std::string CheckCsv(std::string_view csv) {
  std::string rest(csv);
  for (std::string_view mark : {kIndexNumber, kIndexLetter})
    for (std::size_t at; (at = rest.find(mark)) != std::string::npos;) rest.replace(at, mark.size(), "x");
  bool ok = !rest.empty();
  for (char c : rest) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!ok) return "CSV column \"" + std::string(csv) + "\" may hold letters, digits, \"_\", {n} and {letter}";
  return {};
}

std::string Expand(std::string csv, int index) {
  for (std::size_t at; (at = csv.find(kIndexNumber)) != std::string::npos;)
    csv.replace(at, kIndexNumber.size(), std::to_string(index));
  for (std::size_t at; (at = csv.find(kIndexLetter)) != std::string::npos;)
    csv.replace(at, kIndexLetter.size(), std::string(1, static_cast<char>('a' + index - 1)));
  return csv;
}

std::string Span(std::int64_t position, std::int64_t length) {
  return std::to_string(position) + ":" + std::to_string(length);
}

// The field lines of a source, and what is known about them while reading.
class SourceReader {
 public:
  explicit SourceReader(DictionarySource& out) : out_(out) {}

  // The error of one line; empty when it is read.
  std::string Line(const std::vector<std::string>& words, const std::string& comment, int line) {
    const std::string& w = words[0];
    if (repeat_ != nullptr && w != "field" && w != "end") return "only field lines go between repeat and end";
    if (w == "view") return View(words);
    if (w == "record" || w == "page") return Size(words);
    if (w == "key") return Key(words, line);
    if (w == "field") return Field(words, comment, line);
    if (w == "part") return Part(words, comment, line);
    if (w == "repeat") return Repeat(words, comment, line);
    if (w == "end") {
      if (repeat_ == nullptr) return "\"end\" without \"repeat\"";
      if (repeat_->fields.empty()) return "a repeat needs fields";
      repeat_ = nullptr;
      return {};
    }
    return "unknown word \"" + w + "\"";
  }
  // The line of a repeat left open, 0 for none.
  int OpenRepeat() const { return repeat_ == nullptr ? 0 : repeat_->line; }
  std::vector<int>& KeyLines() { return keyLines_; }

 private:
  std::string Claim(const std::string& name, int line) {
    if (const std::string e = CheckName(name); !e.empty()) return e;
    const auto [it, added] = names_.emplace(name, line);
    if (!added) return "name " + name + " given twice (line " + std::to_string(it->second) + ")";
    return {};
  }

  std::string View(const std::vector<std::string>& words) {
    if (words.size() != 2) return "view wants one name";
    if (!out_.view.empty()) return "view given twice";
    if (const std::string e = CheckName(words[1]); !e.empty()) return e;
    out_.view = words[1];
    return {};
  }

  std::string Size(const std::vector<std::string>& words) {
    int value = 0;
    if (words.size() != 2 || !Number(words[1], value)) return words[0] + " wants one number";
    if (words[0] == "record") {
      if (out_.record != 0) return "record given twice";
      if (value < 4 || value > kMaxRecord) return "record length must be 4 to " + std::to_string(kMaxRecord);
      out_.record = value;
    } else {
      if (out_.page != 0) return "page given twice";
      if (value < 512 || value > 4096 || value % 512 != 0) return "page size must be 512 to 4096, a multiple of 512";
      out_.page = value;
    }
    return {};
  }

  std::string Key(const std::vector<std::string>& words, int line) {
    std::vector<KeySegmentSource> segments;
    int keyFlags = 0;
    bool wantSegment = true;
    for (std::size_t i = 1; i < words.size(); ++i) {
      const std::string& w = words[i];
      if (w == "+") {
        if (wantSegment) return "\"+\" without a segment before it";
        wantSegment = true;
      } else if (w == "duplicates" || w == "modifiable") {
        keyFlags |= w == "duplicates" ? kDuplicates : kModifiable;
      } else {
        if (!wantSegment) return "segments must be joined by \"+\"";
        KeySegmentSource seg;
        if (const std::string e = ParseSegment(w, seg); !e.empty()) return e;
        segments.push_back(seg);
        wantSegment = false;
      }
    }
    if (segments.empty() || wantSegment) return "a key needs segments, joined by \"+\"";
    if (segments.size() > kMaxSegmentsPerKey)
      return "more than " + std::to_string(kMaxSegmentsPerKey) + " segments in one key";
    if (out_.keys.size() == kMaxKeys) return "more than " + std::to_string(kMaxKeys) + " keys";
    for (std::size_t i = 0; i < segments.size(); ++i)
      segments[i].flags |= keyFlags | (i + 1 < segments.size() ? kSegmentFollows : 0);
    out_.keys.push_back(std::move(segments));
    keyLines_.push_back(line);
    return {};
  }

  // "7:30 text": position, length and type, the width checked.
  static std::string Place(const std::string& span, const std::string& typeName, int& position, int& length,
                           FieldType& type) {
    if (!PositionLength(span, position, length)) return "\"" + span + "\" is not position:length";
    if (position < 1 || length < 1) return "\"" + span + "\" starts or ends before 1";
    if (!TypeFromName(typeName, type)) return "unknown type \"" + typeName + "\"";
    if (const int width = TypeWidth(type); width != 0 && length != width)
      return typeName + " fields are " + std::to_string(width) + (width == 1 ? " byte" : " bytes");
    return {};
  }

  std::string Field(const std::vector<std::string>& words, const std::string& comment, int line) {
    if (words.size() < 4 || words.size() > 5) return "field wants name position:length type [CSV column]";
    FieldSource f;
    f.name = words[1];
    f.comment = comment;
    f.line = line;
    if (const std::string e = Claim(f.name, line); !e.empty()) return e;
    if (const std::string e = Place(words[2], words[3], f.position, f.length, f.type); !e.empty()) return e;
    if (words.size() == 5) {
      f.csv = words[4];
      if (const std::string e = CheckCsv(f.csv); !e.empty()) return e;
    }
    if (repeat_ == nullptr) {
      if (HasIndex(f.csv)) return "{n} and {letter} name the fields of a repeat only";
      if (f.csv.empty()) f.csv = Snake(f.name);
      out_.items.emplace_back(std::move(f));
      return {};
    }
    const std::int64_t end = std::int64_t{f.position} + f.length - 1;
    if (end > repeat_->step)
      return "field " + f.name + " " + Span(f.position, f.length) + " reaches past the step " +
             std::to_string(repeat_->step) + " of its repeat";
    if (!repeat_->wholeName.empty()) {
      if (!f.csv.empty()) return "the fields of a repeat taken as a whole have no CSV columns";
    } else {
      if (f.csv.empty()) f.csv = Snake(f.name) + "_" + std::string(kIndexNumber);
      const bool several = repeat_->last > repeat_->first;
      if (several && !HasIndex(f.csv)) return "the CSV column of a repeated field needs {n} or {letter}";
      if (f.csv.find(kIndexLetter) != std::string::npos && (repeat_->first < 1 || repeat_->last > 26))
        return "{letter} needs indexes 1 to 26";
    }
    repeat_->fields.push_back(std::move(f));
    return {};
  }

  std::string Part(const std::vector<std::string>& words, const std::string& comment, int line) {
    if (words.size() != 6 || words[4] != "of") return "part wants name position:length type of field";
    PartSource p;
    p.name = words[1];
    p.of = words[5];
    p.comment = comment;
    p.line = line;
    if (const std::string e = Claim(p.name, line); !e.empty()) return e;
    if (const std::string e = Place(words[2], words[3], p.position, p.length, p.type); !e.empty()) return e;
    out_.parts.push_back(std::move(p));
    return {};
  }

  std::string Repeat(const std::vector<std::string>& words, const std::string& comment, int line) {
    constexpr const char* kForm = "repeat wants first..last at position step length [as name [CSV column]]";
    if (words.size() < 6 || words.size() > 9 || words[2] != "at" || words[4] != "step" ||
        (words.size() > 6 && words[6] != "as") || words.size() == 7)
      return kForm;
    RepeatSource r;
    r.comment = comment;
    r.line = line;
    const std::size_t dots = words[1].find("..");
    if (dots == std::string::npos || !Number(std::string_view(words[1]).substr(0, dots), r.first) ||
        !Number(std::string_view(words[1]).substr(dots + 2), r.last) || !Number(words[3], r.position) ||
        !Number(words[5], r.step))
      return kForm;
    if (r.first < 0 || r.last < r.first) return "indexes " + words[1] + " must run up from 0 or more";
    if (r.position < 1 || r.step < 1) return "a repeat starts at 1 or more and steps 1 or more bytes";
    if (words.size() >= 8) {
      r.wholeName = words[7];
      if (const std::string e = Claim(r.wholeName, line); !e.empty()) return e;
      r.wholeCsv = words.size() == 9 ? words[8] : Snake(r.wholeName);
      if (const std::string e = CheckCsv(r.wholeCsv); !e.empty()) return e;
      if (HasIndex(r.wholeCsv)) return "{n} and {letter} name the fields of a repeat only";
    }
    out_.items.emplace_back(std::move(r));
    repeat_ = &std::get<RepeatSource>(out_.items.back());
    return {};
  }

  DictionarySource& out_;
  RepeatSource* repeat_ = nullptr;
  std::map<std::string, int> names_;
  std::vector<int> keyLines_;
};

// A stretch of the record some field or repeat claims.
struct Claimed {
  std::int64_t position = 0, length = 0;  // from 1
  std::string label;
  int line = 0;
};

std::vector<Claimed> ClaimedBytes(const DictionarySource& s) {
  std::vector<Claimed> out;
  for (const auto& item : s.items) {
    if (const auto* f = std::get_if<FieldSource>(&item)) {
      out.push_back({f->position, f->length, f->name, f->line});
      continue;
    }
    const auto& r = std::get<RepeatSource>(item);
    const std::int64_t count = std::int64_t{r.last} - r.first + 1;
    if (!r.wholeName.empty()) {
      out.push_back({r.position, count * r.step, r.wholeName, r.line});
      continue;
    }
    for (std::int64_t i = 0; i < count; ++i)
      for (const FieldSource& f : r.fields)
        out.push_back({r.position + i * r.step + f.position - 1, f.length,
                       f.name + "(" + std::to_string(r.first + i) + ")", f.line});
  }
  return out;
}

// Every field and repeat ends inside the record.
std::string CheckInsideRecord(const DictionarySource& s, int& line) {
  for (const auto& item : s.items) {
    if (const auto* f = std::get_if<FieldSource>(&item)) {
      if (std::int64_t{f->position} + f->length - 1 > s.record) {
        line = f->line;
        return "field " + f->name + " " + Span(f->position, f->length) + " ends past the record length " +
               std::to_string(s.record);
      }
      continue;
    }
    const auto& r = std::get<RepeatSource>(item);
    const std::int64_t last = r.position + (std::int64_t{r.last} - r.first) * r.step;
    std::int64_t end = last - 1;
    if (!r.wholeName.empty()) end = last + r.step - 1;
    for (const FieldSource& f : r.fields) end = std::max(end, last + f.position + f.length - 2);
    if (end > s.record) {
      line = r.line;
      return "repeat " + std::to_string(r.first) + ".." + std::to_string(r.last) + " at " +
             std::to_string(r.position) + " step " + std::to_string(r.step) + " ends past the record length " +
             std::to_string(s.record);
    }
  }
  return {};
}

// No byte of the record is claimed twice.
std::string CheckNoOverlap(const DictionarySource& s, const std::vector<Claimed>& claimed, int& line) {
  std::vector<int> owner(static_cast<std::size_t>(s.record) + 1, -1);
  for (std::size_t i = 0; i < claimed.size(); ++i) {
    const Claimed& c = claimed[i];
    for (std::int64_t b = c.position; b < c.position + c.length; ++b) {
      int& o = owner[static_cast<std::size_t>(b)];
      if (o >= 0) {
        const Claimed& other = claimed[static_cast<std::size_t>(o)];
        line = c.line;
        return c.label + " overlaps " + other.label + " (line " + std::to_string(other.line) + ")";
      }
      o = static_cast<int>(i);
    }
  }
  return {};
}

// Every part lies inside the field it is a part of, outside repeats.
std::string CheckParts(const DictionarySource& s, int& line) {
  for (const PartSource& p : s.parts) {
    line = p.line;
    const FieldSource* whole = nullptr;
    for (const auto& item : s.items)
      if (const auto* f = std::get_if<FieldSource>(&item); f != nullptr && f->name == p.of) whole = f;
    if (whole == nullptr) return "part " + p.name + " of " + p.of + ": no such field outside repeats";
    if (p.position < whole->position ||
        std::int64_t{p.position} + p.length > std::int64_t{whole->position} + whole->length)
      return "part " + p.name + " " + Span(p.position, p.length) + " lies outside " + whole->name + " " +
             Span(whole->position, whole->length);
  }
  return {};
}

// No CSV column name is given twice.
std::string CheckCsvColumns(const DictionarySource& s, const std::vector<Claimed>& claimed, int& line) {
  std::map<std::string, int> columns;
  for (const FlatField& f : FieldTable(s)) {
    // The line of the field the column comes from.
    int from = 0;
    for (const Claimed& c : claimed)
      if (c.position == f.offset + 1) from = c.line;
    const auto [it, added] = columns.emplace(f.csv, from);
    if (!added) {
      line = from;
      return "CSV column " + f.csv + " given twice (line " + std::to_string(it->second) + ")";
    }
  }
  return {};
}

std::string CheckFields(const DictionarySource& s, int& line) {
  // Inside the record, before anything is spelled out byte by byte.
  if (std::string e = CheckInsideRecord(s, line); !e.empty()) return e;
  const std::vector<Claimed> claimed = ClaimedBytes(s);
  if (std::string e = CheckNoOverlap(s, claimed, line); !e.empty()) return e;
  if (std::string e = CheckParts(s, line); !e.empty()) return e;
  return CheckCsvColumns(s, claimed, line);
}

}  // namespace

std::string_view TypeName(FieldType type) {
  switch (type) {
    case FieldType::Text: return "text";
    case FieldType::Packed: return "packed";
    case FieldType::Number: return "number";
    case FieldType::Date: return "date";
    case FieldType::Byte: return "byte";
    case FieldType::Int16: return "int16";
    case FieldType::Int32: return "int32";
    case FieldType::Amount: return "amount";
  }
  return "?";
}

int TypeWidth(FieldType type) {
  switch (type) {
    case FieldType::Date: return 4;
    case FieldType::Byte: return 1;
    case FieldType::Int16: return 2;
    case FieldType::Int32:
    case FieldType::Amount: return 4;
    default: return 0;
  }
}

DictionarySource ParseDictionarySource(std::string_view source) {
  DictionarySource out;
  SourceReader reader(out);
  std::istringstream in{std::string(source)};
  int lineNumber = 0;
  bool seenWords = false;
  auto fail = [&](int line, const std::string& what) {
    DictionarySource failed;
    failed.error = "line " + std::to_string(line) + ": " + what;
    failed.lines = lineNumber;
    return failed;
  };
  for (std::string line; std::getline(in, line);) {
    ++lineNumber;
    std::string comment;
    if (const auto hash = line.find('#'); hash != std::string::npos) {
      comment = Trimmed(std::string_view(line).substr(hash + 1));
      line.erase(hash);
    }
    const std::vector<std::string> words = Words(line);
    if (words.empty()) {
      if (!seenWords && line.find_first_not_of(" \t\r") == std::string::npos && !comment.empty())
        out.heading.push_back(comment);
      continue;
    }
    seenWords = true;
    if (const std::string e = reader.Line(words, comment, lineNumber); !e.empty()) return fail(lineNumber, e);
  }
  out.lines = lineNumber;
  if (const int open = reader.OpenRepeat(); open != 0) return fail(open, "repeat without \"end\"");
  if (out.record == 0) return fail(lineNumber, "no record length");

  const std::vector<int>& keyLines = reader.KeyLines();
  std::size_t segmentCount = 0;
  for (std::size_t k = 0; k < out.keys.size(); ++k) {
    int length = 0;
    for (const KeySegmentSource& s : out.keys[k]) {
      // Compared so that no sum can overflow, whatever the numbers written.
      if (s.position > out.record || s.length > out.record - s.position + 1)
        return fail(keyLines[k], "segment " + Span(s.position, s.length) + " ends past the record length " +
                                     std::to_string(out.record));
      length += s.length;
    }
    if (length > kMaxKeyLength) return fail(keyLines[k], "key longer than 255 bytes");
    segmentCount += out.keys[k].size();
    if (segmentCount > kMaxSegments)
      return fail(keyLines[k], "more than " + std::to_string(kMaxSegments) + " segments in all keys");
  }
  int line = 0;
  if (const std::string e = CheckFields(out, line); !e.empty()) return fail(line, e);
  return out;
}

std::vector<FlatField> FieldTable(const DictionarySource& s) {
  std::vector<FlatField> table;
  for (const auto& item : s.items) {
    if (const auto* f = std::get_if<FieldSource>(&item)) {
      table.push_back({f->csv, f->position - 1, f->length, f->type});
      continue;
    }
    const auto& r = std::get<RepeatSource>(item);
    if (!r.wholeName.empty()) {
      table.push_back({r.wholeCsv, r.position - 1, (r.last - r.first + 1) * r.step, FieldType::Text});
      continue;
    }
    for (int i = r.first; i <= r.last; ++i)
      for (const FieldSource& f : r.fields)
        table.push_back({Expand(f.csv, i), r.position - 1 + (i - r.first) * r.step + f.position - 1, f.length, f.type});
  }
  return table;
}

CompiledDictionary CompileDictionary(std::string_view source) { return CompileDictionary(ParseDictionarySource(source)); }

CompiledDictionary CompileDictionary(const DictionarySource& parsed) {
  CompiledDictionary out;
  if (!parsed.error.empty()) {
    out.error = parsed.error;
    return out;
  }
  if (parsed.keys.empty()) {
    out.error = "line " + std::to_string(parsed.lines) + ": no key";
    return out;
  }
  std::size_t segmentCount = 0;
  for (const auto& key : parsed.keys) segmentCount += key.size();
  std::string creation(16 + 16 * segmentCount, '\0');
  Put16(creation, 0, parsed.record);
  Put16(creation, 2, parsed.page == 0 ? 4096 : parsed.page);
  Put16(creation, 4, static_cast<int>(parsed.keys.size()));
  std::size_t at = 16;
  for (const auto& key : parsed.keys) {
    for (const KeySegmentSource& s : key) {
      Put16(creation, at, s.position);
      Put16(creation, at + 2, s.length);
      Put16(creation, at + 4, s.flags);
      at += 16;
    }
  }
  out.creation = std::move(creation);
  return out;
}

std::string DictionaryFile(const std::string& creation) {
  std::string file(2, '\0');
  Put16(file, 0, static_cast<int>(creation.size()));
  return file + creation;
}

}  // namespace suite
