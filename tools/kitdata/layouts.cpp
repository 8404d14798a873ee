// The data files' layouts as kitdata moves them: the field tables the build
// generates from the dictionary sources.
#include <cctype>

#include "tools/kitdata/kitdata.h"

namespace kitdata {
namespace {

std::vector<FileLayout> MakeLayouts() {
  std::vector<FileLayout> layouts;
  for (const records::LayoutInfo& info : records::kLayouts) {
    if (!info.dataFile) continue;
    FileLayout l{std::string(info.base), info.recordLength, std::string(info.creation), {}};
    for (const records::FieldInfo& f : info.fields) l.fields.push_back({std::string(f.name), f.offset, f.length, f.kind});
    layouts.push_back(std::move(l));
  }
  return layouts;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
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

std::string CreationRecord(const FileLayout& layout) { return layout.creation; }

}  // namespace kitdata
