#include "tools/kitprint/texts.h"

#include "config/catalog.h"
#include "base/cp850.h"

namespace kitprint {
namespace {

std::string Text(std::string_view catalan) {
  if (config::CatalogName() != kCatalogName) config::SetCatalogName(kCatalogName);
  return config::CatalogText(catalan);
}

}  // namespace

std::string PagerStatus(std::size_t page, std::size_t pages, std::size_t width) {
  const std::string where = Text(" Pàgina "_cp) + std::to_string(page) + "/" + std::to_string(pages);
  // The hints are groups parted by three blanks, the way to leave the last.
  std::string hints = Text("   Av Pàg/Re Pàg: pàgines   fletxes: desplaçar   Esc o q: sortir "_cp);
  constexpr std::string_view kParting = "   ";
  while (where.size() + hints.size() > width) {
    const std::size_t next = hints.find(kParting, kParting.size());
    if (next == std::string::npos || hints.find_first_not_of(' ', next) == std::string::npos) break;
    hints.erase(0, next);
  }
  return (where + hints).substr(0, width);
}

std::string SavedNotice(const std::string& path) {
  return Text("El llistat s'ha desat a "_cp) + base::Utf8ToCp850(path);
}

std::string PressAKey() { return Text("Premeu una tecla per tornar al programa."_cp); }

}  // namespace kitprint
