// The INI reader: the first byte picks a lookup the programs make, the rest
// is the file.
#include "config/ini.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"

namespace {

struct Lookup {
  std::string_view section, key;
};
constexpr Lookup kLookups[] = {
    {"Menu", "Titol"},         {"Menu", "NomMenu"},      {"Terminal", "Dir"},   {"Pantalla", "Seleccio"},
    {"Pantalla", "Col0"},      {"Sistema", "Data"},      {"Sistema", "Idioma"}, {"Usuari", "Idioma"},
    {"Usuari", "DecCaracter"}, {"Usuari", "DatOrdre"},   {"Rebut", "Membret"},  {"Iva0", "Honoraris"},
    {"Ret1", "Honoraris"},     {"Administrador", "NIF"}, {" menu ", " titol "}, {"", ""},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Lookup& lookup = kLookups[data[0] % std::size(kLookups)];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string value = config::IniValueFromBytes(bytes, lookup.section, lookup.key);
  // A value is a part of one line of the file.
  FUZZ_CHECK(value.size() <= bytes.size());
  FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);
  // Names compare without regard to case.
  FUZZ_CHECK(config::IniValueFromBytes(bytes, config::IniUpper(lookup.section),
                                       config::IniUpper(lookup.key)) == value);
  return 0;
}
