// The form definition file reader, as the module loads it (texts through
// a translation that changes them, as the catalogue may).
#include "console/form_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const console::FormFileResult result =
      console::ParseFormFile(bytes, [](std::string_view text) { return "<" + std::string(text) + ">"; });
  for (const console::FormScreen& screen : result.forms.screens) {
    FUZZ_CHECK(screen.fieldCount >= 0);
    FUZZ_CHECK(screen.fields.size() <= static_cast<std::size_t>(screen.fieldCount));
    for (const console::FormField& field : screen.fields) {
      // The value buffer is as wide as the field says, and captions went
      // through the translation.
      FUZZ_CHECK(field.Length() >= 0);
      FUZZ_CHECK(field.value == std::string(static_cast<std::size_t>(field.Length()), ' '));
      FUZZ_CHECK(field.caption.size() >= 2 && field.caption.front() == '<');
    }
  }
  // Every complete screen and list is kept, even when the file is damaged.
  if (result.ok()) FUZZ_CHECK(result.error.empty());
  FUZZ_CHECK(console::FitValue("abc", 2) == "ab");
  return 0;
}
