#include "data/lock_wait.h"

#include "platform/key_codes.h"

namespace data {

LockWaitStep LockWait::Done() {
  LockWaitStep step;
  step.done = true;
  step.hide = !shown_.empty();
  shown_.clear();
  return step;
}

LockWaitStep LockWait::Attempted(LockAttempt attempt, const std::string& message) {
  held_ = attempt == LockAttempt::kHeld;
  if (held_ || mode_ == 'S') return Done();
  LockWaitStep step;
  const bool escOffered = EscOffered(attempt);
  if (message != shown_) {
    // A new holder, or the file came out of reach: say what holds the wait
    // now. Keys typed before the first message must not answer it.
    step.hide = !shown_.empty();
    step.show = message;
    step.discardKeys = shown_.empty() && escOffered;
    shown_ = message;
  }
  step.pollKey = escOffered;
  return step;
}

LockWaitStep LockWait::KeyPolled(int key) {
  if (key == platform::keys::kEsc) return Done();
  return {};
}

}  // namespace data
