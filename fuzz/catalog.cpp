// The text catalogue reader: every entry parsed is the one a lookup of its
// key finds first.
#include "config/catalog.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<config::CatalogEntry> entries = config::ParseCatalog(bytes);
  for (std::size_t i = 0; i < entries.size() && i < 64; ++i) {
    const std::optional<config::CatalogEntry> found = config::FindCatalogEntry(bytes, entries[i].key);
    FUZZ_CHECK(found.has_value());
    std::size_t first = 0;
    while (entries[first].key != entries[i].key) ++first;
    FUZZ_CHECK(*found == entries[first]);
  }
  return 0;
}
