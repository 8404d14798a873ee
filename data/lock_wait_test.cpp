#include "data/lock_wait.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace data {

void PrintTo(const LockWaitStep& s, std::ostream* out) {
  *out << "{hide " << s.hide << ", show \"" << s.show << "\", discard " << s.discardKeys << ", done " << s.done
       << ", poll " << s.pollKey << "}";
}

namespace {

constexpr int kEsc = 27;

// One thing that happens to a wait: an attempt on the lock file, or the
// key polled after the pause (attempt unset).
struct Event {
  LockAttempt attempt;
  std::string message;
  int key = -1;  // >= 0: a key polled (0 none), not an attempt
};
Event Held() { return {LockAttempt::kHeld, "", -1}; }
Event Blocked(std::string message) { return {LockAttempt::kBlocked, std::move(message), -1}; }
Event Unreachable(std::string message) { return {LockAttempt::kUnreachable, std::move(message), -1}; }
Event Key(int key) { return {LockAttempt::kHeld, "", key}; }

LockWaitStep Show(std::string text, bool poll, bool discard = false, bool hide = false) {
  LockWaitStep s;
  s.show = std::move(text);
  s.pollKey = poll;
  s.discardKeys = discard;
  s.hide = hide;
  return s;
}
LockWaitStep Wait(bool poll) {
  LockWaitStep s;
  s.pollKey = poll;
  return s;
}
LockWaitStep Done(bool hide) {
  LockWaitStep s;
  s.done = true;
  s.hide = hide;
  return s;
}
const LockWaitStep kGoOn{};

struct Row {
  const char* name;
  char mode;
  std::vector<Event> events;
  std::vector<LockWaitStep> steps;  // one per event
  bool held;
};

TEST(LockWait, StepsByModeAndAttempt) {
  const Row rows[] = {
      {"a free lock is taken at once, without a message", ' ', {Held()}, {Done(false)}, true},
      {"mode P takes a free lock the same way", 'P', {Held()}, {Done(false)}, true},
      {"mode S gives up a held lock at once, without a message", 'S', {Blocked("W")}, {Done(false)}, false},
      {"mode S gives up a file out of reach the same way", 'S', {Unreachable("U")}, {Done(false)}, false},
      {"the default mode shows the message once, reads no keys, and takes it down when the lock is free",
       ' ',
       {Blocked("W"), Blocked("W"), Held()},
       {Show("W", false), Wait(false), Done(true)},
       true},
      {"a new holder replaces the message", ' ', {Blocked("W1"), Blocked("W2"), Held()},
       {Show("W1", false), Show("W2", false, false, true), Done(true)}, true},
      {"mode P drops keys typed ahead, ignores other keys and gives up on Esc",
       'P',
       {Blocked("W"), Key('x'), Blocked("W"), Key(0), Blocked("W"), Key(kEsc)},
       {Show("W", true, true), kGoOn, Wait(true), kGoOn, Wait(true), Done(true)},
       false},
      {"mode P still takes the lock when it comes free", 'P', {Blocked("W"), Key(0), Held()},
       {Show("W", true, true), kGoOn, Done(true)}, true},
      {"a file out of reach can be given up with Esc in the default mode", ' ', {Unreachable("U"), Key(kEsc)},
       {Show("U", true, true), Done(true)}, false},
      {"from a file out of reach to a holder: Esc is no longer offered and no keys are dropped",
       ' ',
       {Unreachable("U"), Key(0), Blocked("W")},
       {Show("U", true, true), kGoOn, Show("W", false, false, true)},
       false},
      {"from a holder to a file out of reach: keys are dropped only before the first message",
       ' ',
       {Blocked("W"), Unreachable("U"), Key(kEsc)},
       {Show("W", false), Show("U", true, false, true), Done(true)},
       false},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(row.events.size(), row.steps.size()) << row.name;
    LockWait wait(row.mode);
    for (std::size_t i = 0; i < row.events.size(); ++i) {
      const Event& e = row.events[i];
      const LockWaitStep step = e.key >= 0 ? wait.KeyPolled(e.key) : wait.Attempted(e.attempt, e.message);
      EXPECT_EQ(step, row.steps[i]) << row.name << ", event " << i;
    }
    EXPECT_EQ(wait.Held(), row.held) << row.name;
  }
}

TEST(LockWait, EscIsOfferedInModePOrForAFileOutOfReach) {
  EXPECT_TRUE(LockWait('P').EscOffered(LockAttempt::kBlocked));
  EXPECT_FALSE(LockWait(' ').EscOffered(LockAttempt::kBlocked));
  EXPECT_FALSE(LockWait('X').EscOffered(LockAttempt::kBlocked));
  EXPECT_TRUE(LockWait(' ').EscOffered(LockAttempt::kUnreachable));
  EXPECT_TRUE(LockWait('P').EscOffered(LockAttempt::kUnreachable));
}

}  // namespace
}  // namespace data
