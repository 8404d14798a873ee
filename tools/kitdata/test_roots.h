// What kitdata's test programs share: a field of a layout by name, and a
// scratch suite root with only an empty data folder.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "config/test_files.h"
#include "tools/kitdata/kitdata.h"

namespace kitdata::testing {

inline const Field& FieldOf(std::string_view base, std::string_view name) {
  for (const Field& f : FindLayout(base)->fields)
    if (f.name == name) return f;
  throw std::runtime_error("no field");
}

inline std::string DataRoot(const config::testing::ScratchDir& dir) {
  std::filesystem::create_directories(dir / "DADES");
  return dir.path();
}

}  // namespace kitdata::testing
