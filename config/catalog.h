// The text catalogue: the module's Catalan screen and report texts in the
// other languages of the suite.
//
// The catalogue is a code page 850 text file of items separated by commas
// and line ends, taken four at a time: the Catalan text as the program
// passes it, then its Galician, Aranese and Spanish versions. An item that
// begins with a double quote runs to the next one and may hold commas.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace config {

// The catalogue of the module unless another name is set.
inline constexpr std::string_view kModuleName = "REPQUOTA";

struct CatalogEntry {
  std::string key;  // the Catalan text, byte for byte
  std::string galician;
  std::string aranese;
  std::string spanish;
  bool operator==(const CatalogEntry&) const = default;
};

// Every complete entry of a catalogue's bytes, in file order. An entry cut
// short by the end of the file is left out.
std::vector<CatalogEntry> ParseCatalog(std::string_view bytes);

// The first entry whose key is `text`, reading no further than needed.
std::optional<CatalogEntry> FindCatalogEntry(std::string_view bytes, std::string_view text);

// `text` in the session's language ("GLG", "OCI", "SPA"), or `text` itself
// when the catalogue has no entry for it or the language is Catalan. The
// catalogue is RootDir + "LOCALE\" + name + ".LNG", read on every call; a
// missing one is created empty.
std::string CatalogText(std::string_view text);

// The catalogue name, fixed for the process (the module name by default).
void SetCatalogName(std::string_view name);
const std::string& CatalogName();
// Forgets the name, so that the next lookup takes the module name (tests).
void ResetCatalog();

}  // namespace config
