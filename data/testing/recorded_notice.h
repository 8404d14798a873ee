// The operator as the tests see it: every message shown is kept, and the
// lock wait is answered with one key (Esc gives up at once; 0 is no key yet,
// so the wait goes on).
#pragma once

#include <string>
#include <vector>

#include "data/notice.h"

namespace data::testing {

class RecordedNotice : public Notice {
 public:
  explicit RecordedNotice(int key = 0) : key_(key) {}
  void Show(const std::string& text, int) override { shown.push_back(text); }
  void Hide() override {}
  void Beep() override {}
  void DiscardKeys() override {}
  void WaitKey() override {}
  int PollKey() override { return key_; }
  void EndProcess(int) override {}
  std::vector<std::string> shown;

 private:
  int key_;
};

}  // namespace data::testing
