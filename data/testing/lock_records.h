// Program locks as the tests see them on either store (lock files under the
// suite root, or the server's table when KITDB is set): a lock's records,
// records written the way another program writes them, and another running
// program holding a record. The suite root is config::Session().RootDir.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace data::locktest {

// Whether program locks live on the server.
bool LocksOnServer();

// The lock's records joined, as a lock file holds them ("" when there is
// no such lock). On files: the file's bytes.
std::string LockRecords(std::string_view name);

// Makes `bytes` the lock's records (whole records; on files the file's
// bytes, whatever they are).
void WriteLockRecords(std::string_view name, const std::string& bytes);

// Another running program that holds record `index` of a lock (taken for
// `operatorName`), as a program holds the lock it took; `index` may be
// the record just past the last.
class OtherLockHolder {
 public:
  OtherLockHolder(std::string_view name, std::size_t index, std::string_view operatorName = "");
  ~OtherLockHolder() { Leave(); }
  OtherLockHolder(const OtherLockHolder&) = delete;
  OtherLockHolder& operator=(const OtherLockHolder&) = delete;

  // Whether it got the record (false when this process holds it).
  bool held() const { return held_; }
  // The program is killed; returns once its lock is free (on the server the
  // server ends its session a moment after the connection drops).
  void Leave();

 private:
  std::string name_;
  std::size_t index_;
  pid_t pid_ = -1;
  bool held_ = false;
};

}  // namespace data::locktest
