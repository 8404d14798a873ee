// Several processes, each with its own session directory (so its own lock
// identity) unless a test says otherwise, taking and releasing program locks
// on one suite root (lock files, or the server's table when KITDB is set).
// Processes tell each other where they are through pipes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <libpq-fe.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config/session.h"
#include "data/engine/postgres_session.h"
#include "data/locks.h"
#include "data/locks_store.h"
#include "data/notice.h"
#include "data/testing/lock_records.h"
#include "data/testing/recorded_notice.h"
#include "platform/system.h"

namespace data {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A one-way signal between two processes: Tell writes a byte, Await blocks
// until one comes (false when the writer ended without telling).
class Signal {
 public:
  Signal() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Signal() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  void Tell() {
    if (::write(fds_[1], "x", 1) != 1) ::_exit(90);
  }
  bool Await() {
    char c;
    return ::read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2];
};

// Pauses of 11 ms between attempts instead of up to a second.
struct QuickPauses : platform::SystemWrapper {
  QuickPauses() : SystemWrapper(platform::RealSystem()) {}
  double RandomFraction() override { return 0.01; }
};

struct NamedComputer : platform::SystemWrapper {
  NamedComputer() : SystemWrapper(platform::RealSystem()) {}
  std::string ComputerName() override { return "PC-RECEPCIO"; }
};

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
  void TearDown() override {
    for (pid_t pid : started_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ResetLocks();
    ReleaseTempFolder();
    fs::remove_all(root_);
  }

  std::string SessionDir(const std::string& name) {
    fs::path session = root_ / name;
    fs::create_directories(session);
    return session.string() + "/";
  }

  // Starts a process with the session directory `session`; `body` returns
  // its exit status.
  pid_t Start(const std::string& session, const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
      config::Session().TempDir = SessionDir(session);
      ResetLocks();
      ::_exit(body());
    }
    return pid;
  }
  pid_t Start(int index, const std::function<int()>& body) { return Start("session" + std::to_string(index), body); }

  // Like Start, for a process the test ends itself (killed in TearDown at the latest).
  pid_t StartKept(const std::string& session, const std::function<int()>& body) {
    const pid_t pid = Start(session, body);
    started_.push_back(pid);
    return pid;
  }

  int WaitFor(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    std::erase(started_, pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  }

  std::string ReadLockRecords(const std::string& name) { return locktest::LockRecords(name); }

  // LockKey in mode "S" once the holder that held the key has ended: on
  // files at once, on the server as soon as the server has ended the
  // holder's session, a moment after its connection dropped.
  int LockKeyOnceItsHolderIsGone(const std::string& name, const std::string& key) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int taken = LockKey(name, key);
    while (taken != 0 && locktest::LocksOnServer() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      taken = LockKey(name, key);
    }
    return taken;
  }

  fs::path root_;
  std::vector<pid_t> started_;
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
  const std::string bytes = ReadLockRecords("PressupH");
  ASSERT_FALSE(bytes.empty());
  ASSERT_EQ(bytes.size() % kLockRecordSize, 0u);
  for (std::size_t at = 0; at < bytes.size(); at += kLockRecordSize) EXPECT_EQ(bytes[at + 34], ' ');
}

TEST_F(ProgramLocksAcrossProcesses, DifferentPropertiesNeverBlockEachOther) {
  // This process holds property 0105 throughout.
  config::Session().TempDir = SessionDir("holder");
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

TEST_F(ProgramLocksAcrossProcesses, AKilledHolderFreesItsLockAtOnce) {
  Signal holding;
  const pid_t holder = StartKept("killed", [&] {
    if (LockKey("PressupH", "\x81\x85") != 0) return 2;
    holding.Tell();
    for (;;) ::pause();
  });
  ASSERT_TRUE(holding.Await());
  config::Session().TempDir = SessionDir("next");
  Locks().LockWaitMode = 'S';
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), -1) << "the running holder was not respected";

  ::kill(holder, SIGKILL);
  EXPECT_EQ(WaitFor(holder), 100 + SIGKILL);
  // Its record is still there, younger than half an hour ...
  const std::string before = ReadLockRecords("PressupH");
  ASSERT_EQ(before.size(), kLockRecordSize);
  ASSERT_EQ(before[34], 'K');
  // ... and yet the next operator gets the property at once.
  EXPECT_EQ(LockKeyOnceItsHolderIsGone("PressupH", "\x81\x85"), 0);
  LockIdentity();
  EXPECT_EQ(ReadLockRecords("PressupH").substr(15, 11),
            (std::to_string(Locks().LockOwnerId) + std::string(11, ' ')).substr(0, 11));
}

TEST_F(ProgramLocksAcrossProcesses, TheWaitNamesTheHoldersOperatorComputerAndSince) {
  Signal holding, done;
  const pid_t holder = StartKept("reception", [&] {
    NamedComputer computer;
    platform::ScopedSystem scoped(computer);
    config::Session().Operator = "JOAN GARCIA";
    if (LockKey("PressupH", "\x81\x85") != 0) return 2;
    holding.Tell();
    done.Await();
    return ReleaseLock("PressupH") == 0 ? 0 : 3;
  });
  ASSERT_TRUE(holding.Await());
  config::Session().TempDir = SessionDir("office");
  config::Session().Language = "SPA";
  QuickPauses quick;
  platform::ScopedSystem scopedSystem(quick);
  testing::RecordedNotice notice(27);  // gives up with Esc
  ScopedNotice scoped(notice);
  Locks().LockWaitMode = 'P';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  const std::string record = ReadLockRecords("PressupH").substr(0, kLockRecordSize);
  done.Tell();
  EXPECT_EQ(WaitFor(holder), 0);

  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_THAT(notice.shown[0], HasSubstr("OCUPADO POR JOAN GARCIA, ORDENADOR PC-RECEPCIO, DESDE "));
  EXPECT_EQ(notice.shown[0], "FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR. " +
                                 LockHolderText(record, "JOAN GARCIA"));
}

TEST_F(ProgramLocksAcrossProcesses, TwoRunningProcessesOfOneIdentityConflict) {
  // Both use the same temporary folder, so the same identity.
  Signal holding, again, renewed;
  const pid_t first = StartKept("shared", [&] {
    if (LockKey("PressupH", "\x81\x85") != 0) return 2;
    holding.Tell();
    again.Await();
    // The holder itself re-enters its lock.
    Locks().LockWaitMode = 'S';
    if (LockKey("PressupH", "\x81\x85") != 0) return 3;
    renewed.Tell();
    return 0;
  });
  ASSERT_TRUE(holding.Await());
  config::Session().TempDir = SessionDir("shared");
  LockIdentity();
  const std::string identity = std::to_string(Locks().LockOwnerId);
  ASSERT_EQ(ReadLockRecords("PressupH").substr(15, identity.size()), identity);
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1) << "two programs of one workstation edit one budget";
  EXPECT_EQ(ReleaseLock("PressupH"), -1);
  again.Tell();
  ASSERT_TRUE(renewed.Await());
  EXPECT_EQ(WaitFor(first), 0);
  // Its holder has ended: the lock passes on.
  EXPECT_EQ(LockKeyOnceItsHolderIsGone("PressupH", "\x81\x85"), 0);
}

TEST_F(ProgramLocksAcrossProcesses, ASecondProgramOnATemporaryFolderIsRefused) {
  Signal claimed, done;
  const pid_t first = StartKept("workstation", [&] {
    if (!ClaimTempFolder().claimed) return 2;
    claimed.Tell();
    done.Await();
    return 0;
  });
  ASSERT_TRUE(claimed.Await());
  config::Session().TempDir = SessionDir("workstation");
  const TempFolderClaim second = ClaimTempFolder();
  EXPECT_FALSE(second.claimed);
  EXPECT_THAT(second.message, HasSubstr("(PROC"));
  EXPECT_THAT(second.message, HasSubstr(std::to_string(first)));
  EXPECT_THAT(second.detail, HasSubstr((root_ / "workstation").string()));
  // Another workstation's folder is free.
  config::Session().TempDir = SessionDir("other");
  EXPECT_TRUE(ClaimTempFolder().claimed);
  ReleaseTempFolder();
  // Once the first program has ended, its folder is free again.
  done.Tell();
  EXPECT_EQ(WaitFor(first), 0);
  config::Session().TempDir = SessionDir("workstation");
  EXPECT_TRUE(ClaimTempFolder().claimed);
}

// A server session that ends under a program holding locks (a restart, an
// administrator, a network gone for too long) takes the locks with it; the
// program takes them back on its next session, unless another program took
// them in between.
class ProgramLocksOfAnEndedSession : public ProgramLocksAcrossProcesses {
 protected:
  void SetUp() override {
    if (!locktest::LocksOnServer()) GTEST_SKIP() << "about the server's sessions: the locks are files here";
    ProgramLocksAcrossProcesses::SetUp();
    config::Session().TempDir = SessionDir("holder");
    ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
    ASSERT_TRUE(HoldsLock("PressupH"));
    EndLockSession();
  }

  // Ends this process's program-lock session on the server, as an
  // administrator does, and returns once its server process is gone.
  static void EndLockSession() {
    const int pid = recordmanager::pg::Session::ForProgramLocks().BackendPid();
    ASSERT_NE(pid, 0);
    PGconn* admin = PQconnectdb(std::getenv("KITDB"));
    ASSERT_EQ(PQstatus(admin), CONNECTION_OK) << PQerrorMessage(admin);
    PQclear(PQexec(admin, ("SELECT pg_terminate_backend(" + std::to_string(pid) + ")").c_str()));
    PQfinish(admin);
    // Gone once its process is: the server runs on this machine.
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i) ::usleep(10 * 1000);
    ASSERT_NE(::kill(pid, 0), 0) << "the server process " << pid << " did not end";
  }

  // Another workstation tries the property without waiting: 0 when it got
  // it (and let it go again), 1 when it was refused.
  int AnotherTakes() {
    return WaitFor(Start("other", [] {
      Locks().LockWaitMode = 'S';
      if (LockKey("PressupH", "\x81\x85") != 0) return 1;
      return ReleaseLock("PressupH") == 0 ? 0 : 2;
    }));
  }
};

TEST_F(ProgramLocksOfAnEndedSession, NobodyTookItSoItIsTakenBackAndStillKeepsOthersOut) {
  EXPECT_TRUE(HoldsLock("PressupH"));
  EXPECT_NE(recordmanager::pg::Session::ForProgramLocks().BackendPid(), 0);
  EXPECT_EQ(AnotherTakes(), 1) << "another workstation got a property this one still edits";
  // Also taken back by the next lock call, without asking first.
  EndLockSession();
  Locks().LockWaitMode = 'S';
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  EXPECT_EQ(AnotherTakes(), 1) << "another workstation got a property this one still edits";
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
  EXPECT_FALSE(HoldsLock("PressupH"));
  EXPECT_EQ(AnotherTakes(), 0);
}

TEST_F(ProgramLocksOfAnEndedSession, AnotherThatTookItMeanwhileKeepsIt) {
  Signal taken;
  const pid_t other = StartKept("other", [&] {
    Locks().LockWaitMode = 'S';
    if (LockKey("PressupH", "\x81\x85") != 0) return 2;
    taken.Tell();
    for (;;) ::pause();
  });
  ASSERT_TRUE(taken.Await());
  EXPECT_FALSE(HoldsLock("PressupH"));
  EXPECT_EQ(CheckLock("PressupH"), LockStanding::kLost);
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1) << "the other workstation lost the property it took";
  // Letting go of the lost lock frees nothing of the other's.
  EXPECT_EQ(ReleaseLock("PressupH"), -1);
  EXPECT_EQ(AnotherTakes(), 1);
  ::kill(other, SIGKILL);
  WaitFor(other);
}

TEST_F(ProgramLocksOfAnEndedSession, AnotherThatTookItAndLetItGoMeanwhileMayHaveWrittenSoItIsLost) {
  EXPECT_EQ(AnotherTakes(), 0);
  EXPECT_FALSE(HoldsLock("PressupH"));
  // Nobody holds it now: a release leaves it free, and the lock taken again
  // counts.
  EXPECT_EQ(ReleaseLock("PressupH"), -1);
  EXPECT_EQ(CheckLock("PressupH"), LockStanding::kNotHeld);
  Locks().LockWaitMode = 'S';
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  EXPECT_TRUE(HoldsLock("PressupH"));
}

// A session that ends in the middle of a lock's scan (between the reading
// of its records and their writes) took the scan's transaction with it: the
// writes fail, rather than going out on a new session outside any scan.
TEST_F(ProgramLocksOfAnEndedSession, AScanWhoseSessionEndedHalfWayWritesNothing) {
  ASSERT_TRUE(HoldsLock("PressupH"));  // on a new session
  LockStoreFailure failure;
  std::unique_ptr<LockTable> table = CurrentLockStore().Open("PropietH", true, failure);
  ASSERT_TRUE(table) << failure.reason;
  std::vector<std::string> records;
  ASSERT_TRUE(table->ReadRecords(records).ok());
  ASSERT_TRUE(records.empty());
  EndLockSession();
  const std::string record = std::string(kLockRecordSize - 2, 'X') + "\r\n";
  EXPECT_FALSE(table->Hold(0, record, "").ok());
  EXPECT_FALSE(table->Close().ok());
  table.reset();
  EXPECT_EQ(ReadLockRecords("PropietH"), "");
  EXPECT_EQ(CheckLock("PropietH"), LockStanding::kNotHeld);
  // The budget lock was taken back all the same.
  EXPECT_TRUE(HoldsLock("PressupH"));
  EXPECT_EQ(AnotherTakes(), 1);
}

}  // namespace
}  // namespace data
