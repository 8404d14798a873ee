// Test terminal that keeps a copy of the screen each time a key is taken,
// so a test can see what a pop-up showed while it waited.
#pragma once

#include <string>
#include <vector>

#include "console/test_terminal.h"

namespace console::testing {

class SnapTerminal : public TestTerminal {
 public:
  platform::InputEvent Poll(int ms) override {
    // Looks without waiting find nothing: keys are for the waits.
    if (ms == 0 && !deliverOnLook) return {};
    if (!events.empty()) shots.push_back(Cells());
    return TestTerminal::Poll(ms);
  }
  std::string ShotText(std::size_t shot, int row, int column, int count) const {
    std::string s;
    for (int i = 0; i < count; ++i)
      s.push_back(static_cast<char>(shots.at(shot)[static_cast<std::size_t>((row - 1) * 80 + column - 1 + i)].ch));
    return s;
  }
  std::uint8_t ShotAttr(std::size_t shot, int row, int column) const {
    return shots.at(shot)[static_cast<std::size_t>((row - 1) * 80 + column - 1)].attr;
  }
  std::vector<std::vector<platform::Cell>> shots;
  bool deliverOnLook = false;
};

}  // namespace console::testing
