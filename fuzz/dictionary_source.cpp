// The dictionary compiler: whatever it accepts, the record manager's create
// takes as it is.
#include "suite/tool/dictionary_source.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/engine/file_definition.h"
#include "data/engine/record_manager.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const suite::CompiledDictionary d = suite::CompileDictionary(source);
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
