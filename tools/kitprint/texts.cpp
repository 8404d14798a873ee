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

std::string PagerStatus(std::size_t page, std::size_t pages) {
  return Text(" Pàgina "_cp) + std::to_string(page) + "/" + std::to_string(pages) +
         Text("   Av Pàg/Re Pàg: pàgines   fletxes: desplaçar   Esc o q: sortir "_cp);
}

std::string SavedNotice(const std::string& path) {
  return Text("El llistat s'ha desat a "_cp) + base::Utf8ToCp850(path);
}

std::string PressAKey() { return Text("Premeu una tecla per tornar al programa."_cp); }

}  // namespace kitprint
