#include "data/testing/lock_records.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "config/session.h"
#include "data/locks_store.h"

namespace data::locktest {
namespace {

std::filesystem::path LockFile(std::string_view name) {
  return std::filesystem::path(config::Session().RootDir) / "LOCKS" / (std::string(name) + ".lck");
}

}  // namespace

bool LocksOnServer() {
  const char* server = std::getenv("KITDB");
  return server && *server;
}

std::string LockRecords(std::string_view name) {
  if (!LocksOnServer()) {
    std::ifstream in(LockFile(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  LockStoreFailure failure;
  std::unique_ptr<LockTable> table = CurrentLockStore().Open(name, false, failure);
  if (!table) return {};
  std::vector<std::string> records;
  table->ReadRecords(records);
  table->Close();
  std::string bytes;
  for (const std::string& r : records) bytes += r;
  return bytes;
}

void WriteLockRecords(std::string_view name, const std::string& bytes) {
  if (!LocksOnServer()) {
    std::filesystem::create_directories(LockFile(name).parent_path());
    std::ofstream(LockFile(name), std::ios::binary | std::ios::trunc) << bytes;
    return;
  }
  LockStoreFailure failure;
  std::unique_ptr<LockTable> table = CurrentLockStore().Open(name, true, failure);
  if (!table) return;
  for (std::size_t i = 0; (i + 1) * kLockRecordSize <= bytes.size(); ++i)
    table->WriteRecord(i, bytes.substr(i * kLockRecordSize, kLockRecordSize));
  table->Close();
}

OtherLockHolder::OtherLockHolder(std::string_view name, std::size_t index, std::string_view operatorName)
    : name_(name), index_(index) {
  int answer[2];
  if (::pipe(answer) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(answer[0]);
    // The parent's records are not this process's.
    CurrentLockStore().Forget();
    char held = 'n';
    LockStoreFailure failure;
    if (std::unique_ptr<LockTable> table = CurrentLockStore().Open(name_, false, failure)) {
      std::vector<std::string> records;
      // Just past the end: a record nobody has written yet.
      if (table->ReadRecords(records).ok() && index <= records.size()) {
        const std::string record =
            index < records.size() ? records[index] : std::string(kLockRecordSize - 2, ' ') + "\r\n";
        if (table->Hold(index, record, operatorName).ok() && table->Close().ok()) held = 'y';
      }
    }
    if (::write(answer[1], &held, 1) != 1 || held != 'y') ::_exit(0);
    for (;;) ::pause();
  }
  ::close(answer[1]);
  char held = 'n';
  if (pid_ > 0 && ::read(answer[0], &held, 1) == 1) held_ = held == 'y';
  ::close(answer[0]);
}

void OtherLockHolder::Leave() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  if (!held_ || !LocksOnServer()) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    LockStoreFailure failure;
    std::unique_ptr<LockTable> table = CurrentLockStore().Open(name_, false, failure);
    const bool free = table && table->HolderOf(index_) != LockHolder::kOtherProcess;
    if (table) table->Close();
    if (free) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace data::locktest
