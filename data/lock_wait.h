// How AcquireLock waits, apart from the lock files and the screen: after
// each attempt, what the wait message shows and whether to try again; after
// each pause, whether the key the operator pressed gives the wait up.
#pragma once

#include <string>

namespace data {

// What one attempt on a lock file came to.
enum class LockAttempt {
  kHeld,         // the lock is this process's now
  kBlocked,      // another holder has it
  kUnreachable,  // the lock file cannot be opened, read or written
};

// What to do after an attempt or a key, in this order.
struct LockWaitStep {
  bool hide = false;          // take down the wait message shown
  std::string show;           // then show this one ("": none)
  bool discardKeys = false;   // and forget the keys typed before it appeared
  bool done = false;          // stop trying: Held() tells how it ended
  bool pollKey = false;       // not done: after the pause, look at one key
  bool operator==(const LockWaitStep&) const = default;
};

class LockWait {
 public:
  // `mode` is the lock wait mode in upper case: 'P' wait, and Esc gives
  // up; 'S' do not wait; anything else wait until the lock is free.
  explicit LockWait(char mode) : mode_(mode) {}

  // Whether Esc may end the wait after `attempt`. A holder ends some time;
  // a file out of reach may stay so until someone mends it, so that wait
  // can always be left.
  bool EscOffered(LockAttempt attempt) const { return mode_ == 'P' || attempt == LockAttempt::kUnreachable; }

  // After an attempt; `message` is the wait message that attempt calls
  // for (not read when the lock was taken).
  LockWaitStep Attempted(LockAttempt attempt, const std::string& message);

  // After the pause: the key polled (0: none).
  LockWaitStep KeyPolled(int key);

  bool Held() const { return held_; }

 private:
  LockWaitStep Done();

  char mode_;
  std::string shown_;  // the message on screen; empty before the first wait
  bool held_ = false;
};

}  // namespace data
