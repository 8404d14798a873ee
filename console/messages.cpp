#include "console/messages.h"

#include <string>
#include <vector>

#include "console/screen.h"
#include "console/window_stack.h"
#include "format/text.h"
#include "platform/terminal.h"

namespace console {

void ShowMessage(std::int16_t row, std::string_view text) {
  constexpr int kWidth = 76;
  SetStyle("+rh");
  std::string lines(text);
  format::WrapText(lines, 0, kWidth, "i");
  const int n = static_cast<int>(lines.size()) / kWidth;
  int top = row - (n + 1) / 2 - 2;
  if (top < 1) top = 1;
  int bottom = top + n + 1;
  if (bottom > ScreenRows()) {
    bottom = ScreenRows();
    top = bottom - n - 1;
  }
  if (top >= 1 && n > 0) {
    int left = 0, right = 0;
    std::vector<std::string> shown;
    for (int i = 0; i < n; ++i) {
      std::string line = lines.substr(static_cast<std::size_t>(i * kWidth), kWidth);
      const std::size_t last = line.find_last_not_of(' ');
      line.resize(last == std::string::npos ? 0 : last + 1);
      const int m = static_cast<int>(line.size());
      if (right - left < m + 4) {
        left = 41 - (m + 1) / 2 - 2;
        right = m / 2 + 41 + 1;
      }
      shown.push_back(std::move(line));
    }
    PushWindow(static_cast<std::int16_t>(top), static_cast<std::int16_t>(left), static_cast<std::int16_t>(bottom),
               static_cast<std::int16_t>(right));
    DrawFrame(1);
    for (int i = 0; i < n; ++i) WriteAt(static_cast<std::int16_t>(i + 1), 2, shown[static_cast<std::size_t>(i)]);
    // The caller may work on, or wait for a lock, without reading keys: the
    // box is put on the terminal now.
    if (platform::HasTerminal()) platform::CurrentTerminal().Flush();
  }
  SetStyle("-");
}

}  // namespace console
