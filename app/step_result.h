// What a step of the report tells the run loop: done, or failed with the
// text the operator is shown (naming the file and the reason). After a
// failure the run saves, updates and prints nothing more.
#pragma once

#include <string>
#include <utility>

namespace app {

class StepResult {
 public:
  StepResult() = default;
  static StepResult Failed(std::string text) {
    StepResult r;
    r.failure_ = text.empty() ? std::string("?") : std::move(text);
    return r;
  }
  bool ok() const { return failure_.empty(); }
  // The operator's message; empty when the step went well.
  const std::string& failure() const { return failure_; }

 private:
  std::string failure_;
};

}  // namespace app
