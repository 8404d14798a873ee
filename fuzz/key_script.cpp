// The key script reader.
#include "platform/key_script.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const platform::KeyScript script = platform::ParseKeyScript(text);
  // A refused script says where; a good one never has more steps than bytes.
  if (!script.ok()) FUZZ_CHECK(script.error.rfind("line ", 0) == 0);
  if (script.ok()) FUZZ_CHECK(script.steps.size() <= 4 * size);
  return 0;
}
