// Dictionary sources: the readable text a data file's dictionary is kept in,
// turned into the creation record the record manager makes the file from.
//
//   # comment
//   record 400                  record length
//   page 4096                   page size (512 to 4096, a multiple of 512)
//   key 1:4 + 5:4 duplicates    one line per key, in key order: segments
//                               position:length[:binary][:descending] joined
//                               by "+", then "duplicates" / "modifiable"
#pragma once

#include <string>
#include <string_view>

namespace suite {

struct CompiledDictionary {
  std::string creation;  // the creation record
  std::string error;     // "line N: what"; empty on success
};

CompiledDictionary CompileDictionary(std::string_view source);

// The installed dictionary file: the 2-byte little-endian length, then the
// creation record.
std::string DictionaryFile(const std::string& creation);

}  // namespace suite
