#include "suite/tool/layout_header.h"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <set>
#include <sstream>

namespace suite {
namespace {

constexpr const char* kPrologue = R"(// The record layouts of the data files and of the working files, as typed
// views over the record bytes. Made by ddfc from the dictionary sources in
// suite/ddf/: change those, not this file.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace records {

// How a field is stored.
enum class FieldKind {
  Text,    // fixed width, blank padded
  Packed,  // decimal digits two to a byte, each byte 128 + the pair (codes, owner keys)
  Number,  // packed digits that hold a number
  Date,    // packed date: year, month, day; four bytes of 128 for none
  Byte,    // one unsigned byte
  Int16,   // little-endian signed
  Int32,   // little-endian signed
  Amount,  // little-endian signed cents
};

// One column of a layout's field table.
struct FieldInfo {
  std::string_view name;  // the CSV column
  std::int32_t offset;    // from 0
  std::int32_t length;
  FieldKind kind;
};

// One key segment, as the dictionary's creation record gives it.
struct KeySegmentInfo {
  std::int32_t key;     // the key number
  std::int32_t offset;  // from 0
  std::int32_t length;
  std::uint16_t flags;  // 0x01 duplicates, 0x02 modifiable, 0x04 binary, 0x10 next segment follows, 0x40 descending
};

struct LayoutInfo {
  std::string_view base;  // the file's base name ("FinquesH")
  std::string_view view;  // the view's name ("Property")
  bool dataFile;          // false for a working file, which has no dictionary
  std::int32_t recordLength;
  std::int32_t keyLength;  // of key 0; 0 without keys
  std::span<const KeySegmentInfo> keySegments;
  std::span<const FieldInfo> fields;
  std::string_view creation;  // the dictionary's creation record; empty without keys
};

namespace detail {

template <typename Byte>
concept Writable = !std::is_const_v<Byte>;

template <typename Byte>
Byte* CheckedRecord(std::span<Byte> record, std::int32_t length, const char* view) {
  if (record.size() < static_cast<std::size_t>(length))
    throw std::length_error(std::string(view) + ": " + std::to_string(record.size()) +
                            " bytes cannot hold a record of " + std::to_string(length));
  return record.data();
}

// Where element `index` of a repeat starts.
inline std::size_t Element(int index, int first, int last, std::size_t start, std::size_t step, const char* field) {
  if (index < first || index > last)
    throw std::out_of_range(std::string(field) + ": index " + std::to_string(index) + " is not " +
                            std::to_string(first) + " to " + std::to_string(last));
  return start + step * static_cast<std::size_t>(index - first);
}

inline std::string GetText(const char* p, std::size_t width) { return std::string(p, width); }
// Cut or blank padded to `width`.
inline void PutText(char* p, std::size_t width, std::string_view value) {
  const std::size_t n = value.size() < width ? value.size() : width;
  if (n != 0) std::memcpy(p, value.data(), n);
  std::memset(p + n, ' ', width - n);
}
inline std::int16_t GetInt16(const char* p) {
  return static_cast<std::int16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
}
inline void PutInt16(char* p, std::int16_t value) {
  const auto u = static_cast<std::uint16_t>(value);
  p[0] = static_cast<char>(u & 0xFF);
  p[1] = static_cast<char>(u >> 8);
}
inline std::int32_t GetInt32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return static_cast<std::int32_t>(v);
}
inline void PutInt32(char* p, std::int32_t value) {
  auto u = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i, u >>= 8) p[i] = static_cast<char>(u & 0xFF);
}

// The byte type of a view over `R`: const char for read-only bytes.
template <typename R>
using ByteOf = std::remove_pointer_t<decltype(std::data(std::declval<R&>()))>;

}  // namespace detail
)";

// Names the generated header itself uses in namespace records.
const std::set<std::string>& Reserved() {
  static const std::set<std::string> names{"FieldKind", "FieldInfo", "KeySegmentInfo", "LayoutInfo", "detail"};
  return names;
}

bool Identifier(std::string_view name) {
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

std::string KindName(FieldType type) {
  switch (type) {
    case FieldType::Text: return "Text";
    case FieldType::Packed: return "Packed";
    case FieldType::Number: return "Number";
    case FieldType::Date: return "Date";
    case FieldType::Byte: return "Byte";
    case FieldType::Int16: return "Int16";
    case FieldType::Int32: return "Int32";
    case FieldType::Amount: return "Amount";
  }
  return "Text";
}

// Every byte as an octal escape: no escape can run into the next character.
std::string BytesLiteral(const std::string& bytes) {
  std::string out = "\"";
  static constexpr char digits[] = "01234567";
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += '\\';
    out += digits[b >> 6];
    out += digits[(b >> 3) & 7];
    out += digits[b & 7];
  }
  return out + "\"";
}

// A comment text made safe for a // line: no backslash may end it.
std::string CommentText(std::string text) {
  while (!text.empty() && (text.back() == '\\' || text.back() == ' ')) text.pop_back();
  return text;
}

const char* TypeNote(FieldType type) {
  switch (type) {
    case FieldType::Packed: return "packed digits as stored";
    case FieldType::Number: return "packed digits as stored";
    case FieldType::Date: return "packed date as stored";
    case FieldType::Amount: return "cents";
    default: return nullptr;
  }
}

// The getter and the setter of one field whose bytes start at `offset` (a
// C++ expression); `index` is the parameter of a repeated field.
void Accessors(std::ostringstream& out, const std::string& name, const std::string& offset, int length, FieldType type,
               const std::string& comment, const std::string& index) {
  std::string note = CommentText(comment);
  if (const char* t = TypeNote(type); t != nullptr) note += note.empty() ? std::string(t) : " (" + std::string(t) + ")";
  if (!note.empty()) out << "  // " << note << "\n";
  const std::string param = index.empty() ? "" : "int " + index;
  const std::string sep = index.empty() ? "" : ", ";
  const std::string at = "r_ + " + offset;
  const std::string setter = "  void Set" + name + "(" + param + sep;
  const std::string writable = ") const requires detail::Writable<Byte> { ";
  switch (type) {
    case FieldType::Byte:
      out << "  int " << name << "(" << param << ") const { return static_cast<unsigned char>(*(" << at << ")); }\n";
      out << setter << "int value" << writable << "*(" << at << ") = static_cast<char>(value); }\n";
      break;
    case FieldType::Int16:
      out << "  std::int16_t " << name << "(" << param << ") const { return detail::GetInt16(" << at << "); }\n";
      out << setter << "std::int16_t value" << writable << "detail::PutInt16(" << at << ", value); }\n";
      break;
    case FieldType::Int32:
    case FieldType::Amount:
      out << "  std::int32_t " << name << "(" << param << ") const { return detail::GetInt32(" << at << "); }\n";
      out << setter << "std::int32_t value" << writable << "detail::PutInt32(" << at << ", value); }\n";
      break;
    default:
      if (type == FieldType::Text && length == 1) {
        out << "  char " << name << "(" << param << ") const { return *(" << at << "); }\n";
        out << setter << "char value" << writable << "*(" << at << ") = value; }\n";
      } else {
        out << "  std::string " << name << "(" << param << ") const { return detail::GetText(" << at << ", "
            << length << "); }\n";
        out << setter << "std::string_view value" << writable << "detail::PutText(" << at << ", " << length
            << ", value); }\n";
      }
  }
}

std::string ViewName(const LayoutInput& l) { return l.source.view.empty() ? l.base : l.source.view; }

// The struct of a layout's constants: base name, lengths, key segments,
// field table, creation record and the indexes of its repeated fields.
void LayoutConstants(std::ostringstream& out, const LayoutInput& l) {
  const DictionarySource& s = l.source;
  const std::string layout = ViewName(l) + "Layout";
  int keyLength = 0;
  std::size_t segments = 0;
  for (const auto& key : s.keys) segments += key.size();
  if (!s.keys.empty())
    for (const KeySegmentSource& seg : s.keys[0]) keyLength += seg.length;
  const std::vector<FlatField> fields = FieldTable(s);

  out << "struct " << layout << " {\n";
  out << "  static constexpr std::string_view kBase = \"" << l.base << "\";\n";
  out << "  static constexpr std::int32_t kRecordLength = " << s.record << ";\n";
  out << "  static constexpr std::int32_t kKeyLength = " << keyLength << ";  // key 0\n";
  out << "  static constexpr std::array<KeySegmentInfo, " << segments << "> kKeySegments{{\n";
  for (std::size_t k = 0; k < s.keys.size(); ++k)
    for (const KeySegmentSource& seg : s.keys[k])
      out << "      {" << k << ", " << seg.position - 1 << ", " << seg.length << ", 0x" << std::hex << std::setw(4)
          << std::setfill('0') << static_cast<unsigned>(seg.flags) << std::dec << std::setfill(' ') << "},\n";
  out << "  }};\n";
  out << "  static constexpr std::array<FieldInfo, " << fields.size() << "> kFields{{\n";
  for (const FlatField& f : fields)
    out << "      {\"" << f.csv << "\", " << f.offset << ", " << f.length << ", FieldKind::" << KindName(f.type)
        << "},\n";
  out << "  }};\n";
  out << "  static constexpr std::string_view kCreation{" << BytesLiteral(l.creation) << ", " << l.creation.size()
      << "};\n";
  // The indexes each repeated field takes.
  for (const auto& item : s.items)
    if (const auto* r = std::get_if<RepeatSource>(&item))
      for (const FieldSource& f : r->fields)
        out << "  static constexpr int k" << f.name << "First = " << r->first << ", k" << f.name
            << "Last = " << r->last << ";\n";
  out << "};\n";
}

// The typed view over a record of the layout: a getter and a setter per
// field, part of a field and repeated field.
void ViewClass(std::ostringstream& out, const LayoutInput& l) {
  const DictionarySource& s = l.source;
  const std::string view = ViewName(l);
  const std::string layout = view + "Layout";
  out << "template <typename Byte>\n";
  out << "class " << view << " : public " << layout << " {\n";
  out << "  static_assert(std::is_same_v<std::remove_const_t<Byte>, char>);\n\n";
  out << " public:\n";
  out << "  explicit " << view << "(std::span<Byte> record) : r_(detail::CheckedRecord(record, kRecordLength, \""
      << view << "\")) {}\n";
  out << "  std::span<Byte> Bytes() const { return {r_, static_cast<std::size_t>(kRecordLength)}; }\n";
  for (const auto& item : s.items) {
    out << "\n";
    if (const auto* f = std::get_if<FieldSource>(&item)) {
      Accessors(out, f->name, std::to_string(f->position - 1), f->length, f->type, f->comment, "");
      for (const PartSource& p : s.parts)
        if (p.of == f->name)
          Accessors(out, p.name, std::to_string(p.position - 1), p.length, p.type,
                    p.comment.empty() ? "part of " + f->name : p.comment, "");
      continue;
    }
    const auto& r = std::get<RepeatSource>(item);
    const std::string range = std::to_string(r.first) + " to " + std::to_string(r.last);
    out << "  // " << (r.comment.empty() ? "" : CommentText(r.comment) + ": ") << "i = " << range << "\n";
    if (!r.wholeName.empty())
      Accessors(out, r.wholeName, std::to_string(r.position - 1), (r.last - r.first + 1) * r.step, FieldType::Text,
                "all of them", "");
    for (const FieldSource& f : r.fields) {
      const std::string element = "detail::Element(i, " + std::to_string(r.first) + ", " + std::to_string(r.last) +
                                  ", " + std::to_string(r.position - 1) + ", " + std::to_string(r.step) + ", \"" +
                                  view + "::" + f.name + "\")";
      Accessors(out, f.name, element + " + " + std::to_string(f.position - 1), f.length, f.type, f.comment, "i");
    }
  }
  out << "\n private:\n  Byte* r_;\n};\n";
  out << "template <typename R>\n" << view << "(R&&) -> " << view << "<detail::ByteOf<R>>;\n";
}

void Layout(std::ostringstream& out, const LayoutInput& l) {
  out << "\n";
  for (const std::string& line : l.source.heading) out << "// " << CommentText(line) << "\n";
  LayoutConstants(out, l);
  out << "\n";
  ViewClass(out, l);
}

}  // namespace

GeneratedHeader LayoutHeader(const std::vector<LayoutInput>& layouts) {
  GeneratedHeader result;
  std::set<std::string> names = Reserved();
  for (const LayoutInput& l : layouts) {
    if (!l.source.error.empty()) {
      result.error = l.base + ": " + l.source.error;
      return result;
    }
    if (!Identifier(l.base)) {
      result.error = l.base + ": a base name must be letters, digits and \"_\"";
      return result;
    }
    const std::string view = ViewName(l);
    for (const std::string& name : {view, view + "Layout"})
      if (!names.insert(name).second) {
        result.error = l.base + ": the name " + name + " is taken";
        return result;
      }
  }
  std::ostringstream out;
  out << kPrologue;
  std::int32_t largest = 0;
  for (const LayoutInput& l : layouts) {
    Layout(out, l);
    if (!l.creation.empty()) largest = std::max(largest, static_cast<std::int32_t>(l.source.record));
  }
  out << "\n// Every layout: the data files', then the working files'.\n";
  out << "inline constexpr std::array<LayoutInfo, " << layouts.size() << "> kLayouts{{\n";
  for (bool dataFiles : {true, false})
    for (const LayoutInput& l : layouts) {
      if (l.creation.empty() == dataFiles) continue;
      const std::string layout = ViewName(l) + "Layout";
      out << "    {" << layout << "::kBase, \"" << ViewName(l) << "\", " << (dataFiles ? "true" : "false") << ", "
          << layout << "::kRecordLength, " << layout << "::kKeyLength, " << layout << "::kKeySegments, " << layout
          << "::kFields, " << layout << "::kCreation},\n";
    }
  out << "}};\n\n";
  out << "// The longest record of the data files.\n";
  out << "inline constexpr std::int32_t kLargestRecord = " << largest << ";\n\n";
  out << "}  // namespace records\n";
  result.text = out.str();
  return result;
}

}  // namespace suite
