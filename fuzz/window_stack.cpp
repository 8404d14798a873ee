// The window stack file "WinPush.tmp": the record on top of the stack.
#include "console/window_stack.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  console::SavedArea area;
  const console::StackTop top = console::ReadStackTop(bytes, area);
  if (top != console::StackTop::kArea) return 0;
  // The cells restored are exactly those of the saved area, all inside the file.
  const std::size_t rows = area.bottom >= area.top ? static_cast<std::size_t>(area.bottom - area.top + 1) : 0;
  const std::size_t columns =
      area.right >= area.left ? static_cast<std::size_t>(area.right - area.left + 1) : 0;
  FUZZ_CHECK(area.cells.size() == 2 * rows * columns);
  FUZZ_CHECK(area.start >= 4);
  FUZZ_CHECK(area.start + 20 + area.cells.size() + 5 <= bytes.size());
  for (int n : {area.cursorRow, area.cursorColumn, area.top, area.left, area.bottom, area.right})
    FUZZ_CHECK(n >= 0 && n <= 99);
  return 0;
}
