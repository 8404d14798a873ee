// Several processes, each with its own session directory (so its own lock
// identity), taking and releasing program locks on one suite root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/session.h"
#include "data/locks.h"

namespace data {
namespace {

namespace fs = std::filesystem;

class ProgramLocksAcrossProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("data_lock_processes_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    config::ResetSession();
    config::Session().RootDir = root_.string() + "/";
    ResetLocks();
  }
  void TearDown() override { fs::remove_all(root_); }

  // Starts a process with its own session directory; `body` returns its
  // exit status.
  pid_t Start(int index, const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
      fs::path session = root_ / ("session" + std::to_string(index));
      fs::create_directories(session);
      config::Session().TempDir = session.string() + "/";
      ResetLocks();
      ::_exit(body());
    }
    return pid;
  }

  static int WaitFor(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  }

  fs::path root_;
};

TEST_F(ProgramLocksAcrossProcesses, OnePropertyIsNeverHeldByTwoProcesses) {
  const std::string marker = (root_ / "held-0105").string();
  auto worker = [&] {
    for (int i = 0; i < 8; ++i) {
      if (LockKey("PressupH", "\x81\x85") != 0) return 2;
      // Nobody else may be inside while this process holds the lock.
      int fd = ::open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
      if (fd < 0) return 3;
      ::close(fd);
      ::usleep(3000);
      ::unlink(marker.c_str());
      if (ReleaseLock("PressupH") != 0) return 4;
    }
    return 0;
  };
  std::vector<pid_t> pids;
  for (int i = 0; i < 3; ++i) pids.push_back(Start(i, worker));
  for (pid_t pid : pids) EXPECT_EQ(WaitFor(pid), 0);
  // Every lock was given back.
  std::string bytes;
  {
    std::FILE* f = std::fopen((root_ / "LOCKS" / "PressupH.lck").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  ASSERT_EQ(bytes.size() % kLockRecordSize, 0u);
  for (std::size_t at = 0; at < bytes.size(); at += kLockRecordSize) EXPECT_EQ(bytes[at + 34], ' ');
}

TEST_F(ProgramLocksAcrossProcesses, DifferentPropertiesNeverBlockEachOther) {
  // This process holds property 0105 throughout.
  config::Session().TempDir = (root_ / "holder").string() + "/";
  fs::create_directories(root_ / "holder");
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  auto worker = [&](std::string key) {
    return [key] {
      Locks().LockWaitMode = 'S';
      for (int i = 0; i < 40; ++i) {
        if (LockKey("PressupH", "\x81\x85") != -1) return 2;
        if (LockKey("PressupH", key) != 0) return 3;
        if (ReleaseLock("PressupH") != 0) return 4;
      }
      return 0;
    };
  };
  std::vector<pid_t> pids = {Start(1, worker("\x81\x86")), Start(2, worker("\x81\x87")),
                             Start(3, worker("\x82\x80"))};
  for (pid_t pid : pids) EXPECT_EQ(WaitFor(pid), 0);
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
}

}  // namespace
}  // namespace data
