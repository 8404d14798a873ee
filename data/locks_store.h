// Where program locks are kept. The lock rules (locks_scan.h) and the waits
// (locks.h) see a lock only through this seam, so that another store (a
// database table instead of files) can take the place of the lock files.
//
// The file store keeps each lock as RootDir + "LOCKS\" + name + ".lck". A
// process that holds a record also holds an operating-system lock on that
// record's bytes (an open-file-description lock on a descriptor kept open
// while it holds it), so that anyone can tell a running holder from one that
// ended without releasing: the system drops the lock when the holder ends,
// however it ends.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/locks_scan.h"
#include "platform/file_system.h"

namespace data {

// What could not be reached: the host path of the file or folder, and why.
struct LockStoreFailure {
  std::string path;
  platform::FileStatus status;
};

// One lock's records, open for one scan and its writes; no other program
// works on the same lock until the table is destroyed.
class LockTable {
 public:
  virtual ~LockTable() = default;
  // The whole records (a partial record at the end is left out).
  virtual platform::FileStatus ReadRecords(std::vector<std::string>& records) = 0;
  virtual platform::FileStatus WriteRecord(std::size_t index, const std::string& record) = 0;
  // Who holds record `index` (a record in use).
  virtual LockHolder HolderOf(std::size_t index) = 0;
  // The operator who took record `index` (whose record is `record`), when the
  // store knows; empty otherwise.
  virtual std::string OperatorOf(std::size_t index, const std::string& record) = 0;
  // This process now holds record `index`, written as `record`, for
  // `operatorName`: it keeps the record's operating-system lock until
  // Unhold. An error means another process holds it after all.
  virtual platform::FileStatus Hold(std::size_t index, const std::string& record, std::string_view operatorName) = 0;
  virtual void Unhold(std::size_t index) = 0;
  // The host path, for messages.
  virtual const std::string& Path() const = 0;
};

class LockStore {
 public:
  virtual ~LockStore() = default;
  // The table of lock `name` (trailing blanks removed by the caller). With
  // `create` false a missing lock gives nullptr and no failure; a lock that
  // cannot be reached gives nullptr and `failure`.
  virtual std::unique_ptr<LockTable> Open(std::string_view name, bool create, LockStoreFailure& failure) = 0;
  // Forgets the locks this process holds without releasing them in the
  // store (a forked child, tests); a parent that shares them keeps them.
  virtual void Forget() = 0;
};

// The lock files under RootDir + "LOCKS".
LockStore& FileLockStore();
// The store in use (the file store unless another was installed).
LockStore& CurrentLockStore();
// Installs `store` (nullptr: the file store) and returns the previous one.
LockStore* SetLockStore(LockStore* store);

// Offset of the byte a scan locks: far past any record, so that it never
// meets a record's lock.
inline constexpr std::int64_t kLockScanByte = std::int64_t{1} << 40;

}  // namespace data
