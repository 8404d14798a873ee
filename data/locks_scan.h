// The rules of a program lock file, without the file: which records are
// abandoned, which one blocks a request, where a new lock goes and which
// record a release frees. Records are the 121-byte lines of a lock file.
//
// Whether a record's holder is still running is asked of the caller: the
// lock store answers from the operating-system lock each holder keeps on
// its record while it holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace data {

inline constexpr std::size_t kLockRecordSize = 121;

// Field offsets and sizes of a lock record.
namespace lock_record {
inline constexpr std::size_t kName = 0, kNameSize = 15;
inline constexpr std::size_t kId = 15, kIdSize = 11;
inline constexpr std::size_t kTime = 26, kTimeSize = 8;
inline constexpr std::size_t kType = 34;
inline constexpr std::size_t kLowerLength = 35, kLower = 37;
inline constexpr std::size_t kUpperLength = 77, kUpper = 79;
inline constexpr std::size_t kKeySize = 40;
inline constexpr std::size_t kEnd = 119;
}  // namespace lock_record

// Locks older than this (by the lock clock) count as abandoned, but only
// where nobody can tell whether their holder still runs.
inline constexpr std::int64_t kLockExpiryMinutes = 30;

enum class LockHolder {
  kThisProcess,   // this process holds the record
  kOtherProcess,  // another running process holds it
  kGone,          // nobody holds it: its holder ended without releasing it
  kUnknown,       // the store cannot tell (no operating-system locks there)
};

// Whether this process still holds a lock it took.
enum class LockStanding {
  kHeld,
  kNotHeld,      // never taken, or released
  kLost,         // taken and not released, yet no longer this process's: others may have taken it
  kUnreachable,  // cannot be told: the store is out of reach (count it as lost)
};

struct LockRequest {
  char type = 'K';  // 'F' whole file, 'K' key range (upper case)
  std::string_view lower, upper;
};

struct LockOwner {
  std::string name;  // 15 bytes, blank padded
  std::int32_t id = 0;
};

struct LockScan {
  // Records found abandoned and blanked in place; the caller writes them back.
  std::vector<std::size_t> freed;
  // The record that blocks the request, if any.
  std::optional<std::size_t> conflict;
  // Where the lock is written when nothing blocks it (records.size(): at the end).
  std::size_t target = 0;
};

using HolderOf = std::function<LockHolder(std::size_t index)>;

// Scans `records` for `request` by `owner` at lock-clock minute `clock`.
// `holder` is asked only about records in use.
LockScan ScanLockRecords(std::vector<std::string>& records, const LockRequest& request, const LockOwner& owner,
                         std::int64_t clock, const HolderOf& holder);

// The record a release frees: the owner's most recent record held by this
// process (on equal times the later record); none when it holds none.
std::optional<std::size_t> RecordToRelease(const std::vector<std::string>& records, const LockOwner& owner,
                                           const HolderOf& holder);

// A lock record of `owner` taken at `clock`.
std::string NewLockRecord(const LockOwner& owner, const LockRequest& request, std::int64_t clock);

// Blanks the holder's name, identifier and type; the other bytes stay.
void FreeLockRecord(std::string& record);

// The number a field starts with (leading blanks and a sign allowed); 0
// when it holds none.
std::int64_t LockFieldNumber(std::string_view field);

// The text padded with blanks or cut to `size` bytes.
std::string PadLockField(std::string_view text, std::size_t size);

}  // namespace data
