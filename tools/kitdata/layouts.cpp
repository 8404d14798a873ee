// Record layouts of the module's data files, as the module reads them, plus
// the owner's name and the payment's description where those files keep them.
#include <cctype>

#include "tools/kitdata/kitdata.h"

namespace kitdata {
namespace {

std::vector<FileLayout> MakeLayouts() {
  using K = FieldKind;
  std::vector<FileLayout> v;
  v.push_back({"TDespesa", 501, 40, {{0, 2, false}},
               {{"concept", 0, 2, K::Text}, {"description", 2, 25, K::Text}}});
  v.push_back({"THRebut", 504, 32, {{0, 1, false}},
               {{"number", 0, 1, K::Byte}, {"description", 1, 20, K::Text}, {"kind", 21, 2, K::Int16}}});
  FileLayout p{"FinquesH", 511, 400, {{0, 2, false}},
               {{"property", 0, 2, K::Packed}, {"name", 6, 30, K::Text}, {"first_month", 106, 2, K::Int16},
                {"period_months", 108, 2, K::Int16}, {"fee", 110, 4, K::Amount},
                {"rate_index", 114, 2, K::Int16}}};
  for (int k = 2; k <= 7; ++k) {
    std::string letter(1, static_cast<char>('a' + k - 1));
    p.fields.push_back({"total_" + letter, 164 + 34 * (k - 2), 4, K::Int32});
    p.fields.push_back({"name_" + letter, 168 + 34 * (k - 2), 30, K::Text});
  }
  p.fields.push_back({"tax_id", 368, 17, K::Text});
  v.push_back(p);
  v.push_back({"FinDespH", 512, 602, {{0, 2, false}},
               {{"property", 0, 2, K::Packed}, {"columns", 2, 600, K::Text}}});
  FileLayout o{"PropietH", 513, 300, {{0, 4, false}},
               {{"owner", 0, 4, K::Packed}, {"name", 4, 34, K::Text}, {"department", 38, 10, K::Text}}};
  for (int k = 1; k <= 7; ++k)
    o.fields.push_back({std::string("coef_") + static_cast<char>('a' + k - 1), 211 + 4 * (k - 1), 4, K::Int32});
  for (int s = 1; s <= 8; ++s) {
    o.fields.push_back({"slot" + std::to_string(s) + "_period", 240 + 7 * (s - 1), 2, K::Int16});
    o.fields.push_back({"slot" + std::to_string(s) + "_amount", 242 + 7 * (s - 1), 4, K::Amount});
  }
  v.push_back(o);
  v.push_back({"PagamH", 515, 50, {{0, 6, true}},
               {{"property", 0, 2, K::Packed}, {"date", 2, 4, K::Date}, {"concept", 8, 2, K::Text},
                {"description", 10, 25, K::Text}, {"amount", 35, 4, K::Amount}, {"kind", 39, 1, K::Text},
                {"column", 40, 2, K::Number}}});
  v.push_back({"CobramH", 514, 24, {{0, 8, true}},
               {{"owner", 0, 4, K::Packed}, {"date", 4, 4, K::Date}, {"amount", 13, 4, K::Amount}}});
  v.push_back({"PressupH", 516, 20, {{0, 4, false}},
               {{"property", 0, 2, K::Packed}, {"concept", 2, 2, K::Text}, {"column", 4, 1, K::Text},
                {"percent_thousandths", 5, 4, K::Int32}, {"amount", 9, 4, K::Amount},
                {"budget", 13, 4, K::Amount}}});
  return v;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

void Put16(std::string& s, std::size_t at, int v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

}  // namespace

const std::vector<FileLayout>& Layouts() {
  static const std::vector<FileLayout> layouts = MakeLayouts();
  return layouts;
}

const FileLayout* FindLayout(std::string_view base) {
  for (const auto& l : Layouts())
    if (SameText(l.base, base)) return &l;
  return nullptr;
}

std::string BaseName(std::string_view dataFile) {
  std::size_t sep = dataFile.find_last_of("/\\:");
  std::string_view name = sep == std::string_view::npos ? dataFile : dataFile.substr(sep + 1);
  std::size_t dot = name.find('.');
  return std::string(name.substr(0, dot));
}

std::string CreationRecord(const FileLayout& layout) {
  std::string r(16 + 16 * layout.key0.size(), '\0');
  Put16(r, 0, layout.recordLength);
  Put16(r, 2, 4096);
  Put16(r, 4, 1);
  for (std::size_t i = 0; i < layout.key0.size(); ++i) {
    const KeySegment& s = layout.key0[i];
    std::size_t at = 16 + 16 * i;
    Put16(r, at, s.offset + 1);
    Put16(r, at + 2, s.length);
    int flags = s.duplicates ? 0x0001 : 0;
    if (i + 1 < layout.key0.size()) flags |= 0x0010;
    Put16(r, at + 4, flags);
  }
  return r;
}

}  // namespace kitdata
