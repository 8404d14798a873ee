// The print file reader, and the page layout kitprint makes of what it read.
#include "tools/kitprint/print_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tools/kitprint/outputs.h"
#include "tools/kitprint/page_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const kitprint::PrintFile file = kitprint::ParsePrintFile(bytes);
  for (const kitprint::PrintFileProblem& p : file.problems) FUZZ_CHECK(p.lineNumber >= 1);
  const std::vector<kitprint::Page> pages = kitprint::LayOutPages(file);
  for (const kitprint::Page& page : pages) {
    FUZZ_CHECK(!page.lines.empty());
    for (const std::string& line : page.lines) FUZZ_CHECK(line.empty() || line.back() != ' ');
  }
  const std::string text = kitprint::PagesAsText(pages);
  FUZZ_CHECK(pages.empty() || !text.empty());
  return 0;
}
