// The C++ header of typed record views that ddfc makes from the dictionary
// sources: per layout a class of constants (record length, key segments,
// field table, creation record) and a view over the record bytes with a
// getter and a setter per field, plus the table of all layouts.
#pragma once

#include <string>
#include <vector>

#include "suite/tool/dictionary_source.h"

namespace suite {

struct LayoutInput {
  std::string base;  // the source's base name: "FinquesH"
  DictionarySource source;
  std::string creation;  // the compiled creation record; empty without keys
};

struct GeneratedHeader {
  std::string text;
  std::string error;  // empty on success
};

GeneratedHeader LayoutHeader(const std::vector<LayoutInput>& layouts);

}  // namespace suite
