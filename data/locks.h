// Program locks: long pieces of work (editing one property's budget) are
// protected by records in shared lock files RootDir + "LOCKS\" + name +
// ".lck", or, when KITDB puts the data on a server, in the same records on
// that server (locks_store.h). A lock names the whole file ("F") or a range
// of keys ("K"); it is taken under the workstation's identity (kept in
// TempDir + "LOCKS.TMP").
//
// A running process re-enters its own locks; every other process, even one
// of the same identity, waits. A lock whose holder ended without releasing
// it (killed, a power cut) is free at once: the holder keeps an
// operating-system lock on its record while it holds it (locks_store.h).
// Locks older than 30 minutes count as abandoned only where that cannot be
// told.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/locks_scan.h"
#include "platform/system.h"

namespace data {

struct LockState {
  std::int32_t LockOwnerId = 0;   // 0: not read yet
  std::string LockOwnerName;      // 15 bytes, blank padded
  // "P": wait, Esc gives up; "S": do not wait; anything else: wait.
  char LockWaitMode = ' ';
  // Why the last AcquireLock came back without its lock: the holder's line
  // of the wait message (LockHolderText), or the lock file that could not
  // be reached and why; empty after one that got its lock. For a caller
  // that does not wait (mode "S") and tells someone later.
  std::string LastRefusal;
  // Whether that was a lock file out of reach rather than another holder:
  // waiting on it does not help.
  bool LastRefusalUnreachable = false;
};
LockState& Locks();
// Forgets the identity, the wait mode and the locks this process holds,
// without releasing them (tests, a forked child).
void ResetLocks();

// Reads or creates the identity.
void LockIdentity();

// 0 when the lock is held by this process on return, -1 when it is not (in
// mode "S" at once; in mode "P" when the operator pressed Esc; in any mode
// when the operator gave up with Esc on a lock file out of reach).
//
// While it waits, the message box says who holds the lock (operator,
// computer, since when), or which file cannot be reached and why: a lock
// file that cannot be opened, read or written is retried until it can be
// used or the operator gives up with Esc, whatever the mode, since nothing
// but the operator's repair ends such a wait.
int AcquireLock(std::string_view name, std::string_view type, std::string_view lower,
                std::string_view upper);
// A key lock on one key, packed digit bytes written as their two digits.
int LockKey(std::string_view name, std::string_view key);
// Releases this process's most recent lock in the file: 0, or -1 when it
// held none (a lock it lost is then forgotten).
int ReleaseLock(std::string_view name);

// Whether this process still holds the lock it took on `name`, asked before
// a write the lock guards. Locks on the server go with the server session
// that held them (a restart, a network gone for too long): this makes sure
// that the session is alive, takes the locks back on a new one where nobody
// took them meanwhile, and answers. A lock file removed or replaced under
// its holder is lost too. kUnreachable: the server cannot be asked, and the
// lock counts as lost.
LockStanding CheckLock(std::string_view name);
inline bool HoldsLock(std::string_view name) { return CheckLock(name) == LockStanding::kHeld; }

// The key text LockKey locks: bytes 128 to 227 become "00" to "99".
std::string LockKeyText(std::string_view key);
// Minutes since 1 January 1970 00:00 local time.
std::int64_t LockClock(const platform::LocalTime& now);

// The line of the wait message that names a lock's holder, in the session's
// language: "OCUPAT PER <operator>, ORDINADOR <computer>, DES DE
// DD/MM/YYYY HH:MM." from a lock record and the operator who took it.
std::string LockHolderText(const std::string& record, std::string_view operatorName);

// A session's temporary folder (PressupH.tmp, WinPush.tmp, kitprint.tmp)
// serves one program at a time. The claim is an operating-system lock on
// TempDir + "Sessio.lck", held for the life of the process.
struct TempFolderClaim {
  bool claimed = true;  // false: another running program has the folder
  std::string message;  // when not claimed: for the operator (code page 850)
  std::string detail;   // when not claimed: the same for standard error
};
// Claims the folder; claiming it again in the same process changes nothing.
// A folder where the claim cannot even be tried counts as claimed: the
// files the program writes there report their own failures.
TempFolderClaim ClaimTempFolder();
// Gives the folder back (tests; the end of the process does it anyway).
void ReleaseTempFolder();

}  // namespace data
