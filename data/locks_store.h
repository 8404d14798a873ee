// Where program locks are kept. The lock rules (locks_scan.h) and the waits
// (locks.h) see a lock only through this seam: lock files under the suite
// root, or a table on the PostgreSQL server named by KITDB when the data
// files live there too (locks_server_store.cpp).
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

// What could not be reached: the host path of the file or folder (or the
// server's table), and why.
struct LockStoreFailure {
  std::string path;
  platform::FileStatus status;
  // The store's own words for the reason, when the status's do not say it
  // (the server's message); empty otherwise.
  std::string reason = {};
};

// One lock's records, open for one scan and its writes; no other program
// works on the same lock until the table is closed or destroyed.
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
  // This process now holds record `index`, written as `record` (a store
  // may write it here already), for `operatorName`: it keeps the record's
  // operating-system lock (or the server's lock) until Unhold. An error
  // means another process holds it after all.
  virtual platform::FileStatus Hold(std::size_t index, const std::string& record, std::string_view operatorName) = 0;
  virtual void Unhold(std::size_t index) = 0;
  // Ends the scan: the writes take effect for every program. An error
  // means that none of them did (a table destroyed without Close keeps
  // none of its writes where the store can undo them).
  virtual platform::FileStatus Close() = 0;
  // The host path, for messages.
  virtual const std::string& Path() const = 0;
  // The store's own words for the last failure, when its status's words do
  // not say it; empty otherwise.
  virtual std::string FailureReason() const { return {}; }
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
  // Whether this process still holds the records of lock `name` it took.
  // The server's store first makes sure that its session is alive, taking
  // its records back when the session is a new one.
  virtual LockStanding Standing(std::string_view name) = 0;
  // A release of lock `name` found no record of this process's: what the
  // store remembers of records of it that it lost goes.
  virtual void ForgetLost(std::string_view name) = 0;
};

// The lock files under RootDir + "LOCKS".
LockStore& FileLockStore();
// Makes the folder of the lock files (a host path) unless it exists: shared
// by the suite's group (02770, whatever the umask) and in the group of
// `groupOf`, the suite root, which the files made in it then take on. A
// folder already there is left as it is.
platform::FileStatus MakeLockFolder(const std::string& folder, const std::string& groupOf);
// The table "kit_locks" on the server named by KITDB, in the suite root's
// schema (KITDB_SCHEMA).
LockStore& ServerLockStore();
// The store in use: the one installed with SetLockStore, else the server's
// when KITDB is set, else the lock files.
LockStore& CurrentLockStore();
// Installs `store` (nullptr: the file store) and returns the previous one.
LockStore* SetLockStore(LockStore* store);

// Offset of the byte a scan locks: far past any record, so that it never
// meets a record's lock.
inline constexpr std::int64_t kLockScanByte = std::int64_t{1} << 40;

}  // namespace data
