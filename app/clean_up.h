// Work that must happen when a scope ends, however it ends: normally, by an
// early return after a failure, or while the session ends and unwinds to
// main (the key script ran out, a termination signal). Releasing a lock,
// removing a temporary file.
#pragma once

#include <functional>
#include <utility>

#include "platform/session_end.h"
#include "platform/signals.h"

namespace app {

class CleanUp {
 public:
  explicit CleanUp(std::function<void()> action) : action_(std::move(action)) {}
  ~CleanUp() { RunNow(); }
  CleanUp(const CleanUp&) = delete;
  CleanUp& operator=(const CleanUp&) = delete;

  // Runs the action now rather than at the end of the scope (once).
  void RunNow() {
    std::function<void()> action = std::move(action_);
    action_ = nullptr;
    if (!action) return;
    // A termination request waits until the action is done; a session that
    // ends inside it anyway (a key script used up by a wait) is already
    // ending, and must not escape a destructor.
    platform::TerminationDeferred deferred;
    try {
      action();
    } catch (const platform::SessionEnded&) {
    }
  }
  // Forgets the action.
  void Dismiss() { action_ = nullptr; }

 private:
  std::function<void()> action_;
};

}  // namespace app
