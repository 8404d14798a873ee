// The dictionary compiler: whatever it accepts, the record manager's create
// takes as it is, its fields lie inside the record without overlapping, and
// the typed views can be generated from it.
#include "suite/tool/dictionary_source.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine/file_definition.h"
#include "data/engine/record_manager.h"
#include "fuzz/fuzz_check.h"
#include "suite/tool/layout_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const suite::DictionarySource parsed = suite::ParseDictionarySource(source);
  if (!parsed.error.empty()) {
    FUZZ_CHECK(parsed.error.rfind("line ", 0) == 0);
    FUZZ_CHECK(suite::CompileDictionary(source).error == parsed.error);
    return 0;
  }
  std::vector<bool> taken(static_cast<std::size_t>(parsed.record), false);
  for (const suite::FlatField& f : suite::FieldTable(parsed)) {
    FUZZ_CHECK(f.offset >= 0 && f.length >= 1 && f.offset + f.length <= parsed.record);
    for (int b = f.offset; b < f.offset + f.length; ++b) {
      FUZZ_CHECK(!taken[static_cast<std::size_t>(b)]);
      taken[static_cast<std::size_t>(b)] = true;
    }
  }
  const suite::CompiledDictionary d = suite::CompileDictionary(parsed);
  FUZZ_CHECK(suite::LayoutHeader({{"Fuzzed", parsed, d.creation}}).error.empty() || !parsed.view.empty());
  if (!d.error.empty()) {
    FUZZ_CHECK(d.creation.empty());
    FUZZ_CHECK(d.error.rfind("line ", 0) == 0);
    return 0;
  }
  // Create sends the creation record in a buffer of 1536 bytes.
  FUZZ_CHECK(d.creation.size() <= 1536);
  recordmanager::FileDefinition definition;
  FUZZ_CHECK(recordmanager::ParseCreationRecord(d.creation, definition) == recordmanager::kOk);
  FUZZ_CHECK(definition.creation == d.creation);
  const std::string file = suite::DictionaryFile(d.creation);
  FUZZ_CHECK(file.size() == d.creation.size() + 2);
  return 0;
}
