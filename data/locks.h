// Program locks: long pieces of work (editing one property's budget) are
// protected by records in shared lock files RootDir + "LOCKS\" + name +
// ".lck". A lock names the whole file ("F") or a range of keys ("K"); it
// belongs to the workstation's identity (kept in TempDir + "LOCKS.TMP"), so
// a lock held under the same identity never blocks its holder. Locks older
// than 30 minutes count as abandoned.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace data {

inline constexpr std::size_t kLockRecordSize = 121;

struct LockState {
  std::int32_t LockOwnerId = 0;   // 0: not read yet
  std::string LockOwnerName;      // 15 bytes, blank padded
  // "P": wait, Esc gives up; "S": do not wait; anything else: wait.
  char LockWaitMode = ' ';
};
LockState& Locks();
// Forgets the identity and the wait mode (tests).
void ResetLocks();

// Reads or creates the identity.
void LockIdentity();

// 0 when the lock is held by this identity on return, -1 when it is not
// (only in wait modes "S" and "P").
int AcquireLock(std::string_view name, std::string_view type, std::string_view lower,
                std::string_view upper);
// A key lock on one key, packed digit bytes written as their two digits.
int LockKey(std::string_view name, std::string_view key);
// Releases this identity's most recent lock in the file: 0, or -1 when it
// held none.
int ReleaseLock(std::string_view name);

// The key text LockKey locks: bytes 128 to 227 become "00" to "99".
std::string LockKeyText(std::string_view key);
// Minutes since 1 January 1970 00:00 local time.
std::int64_t LockClock(const platform::LocalTime& now);

}  // namespace data
