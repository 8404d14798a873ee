// Several programs on one data file: record locks, concurrent inserts, a
// program killed in the middle of a transaction, a walk and another
// program's commits.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "data/btrcall.h"
#include "data/engine/record_manager.h"

namespace recordmanager {
namespace {

bool OnServer() {
  const char* server = std::getenv("KITDB");
  return server && *server;
}

std::string Creation() {
  std::string c(32, '\0');
  c[0] = 16;   // record length
  c[3] = 2;    // page size 512
  c[4] = 1;    // one key
  c[16] = 1;   // at position 1
  c[18] = 8;   // 8 bytes long
  return c;
}

struct Handle {
  unsigned char block[128] = {};
  std::int16_t Open(const std::string& path) {
    std::string key = path;
    std::uint32_t len = 0;
    return BTRCALL(kOpen, block, nullptr, &len, key.data(), static_cast<std::uint8_t>(key.size()), 0);
  }
  std::int16_t Insert(const std::string& key8) {
    std::string r = key8 + "........";
    std::uint32_t len = 16;
    char k[16] = {};
    return BTRCALL(kInsert, block, r.data(), &len, k, 8, 0);
  }
  std::int16_t Update(const std::string& key8, const std::string& rest8) {
    std::string r = key8 + rest8;
    std::uint32_t len = 16;
    char k[16] = {};
    return BTRCALL(kUpdate, block, r.data(), &len, k, 8, 0);
  }
  // The record's bytes after the key, or "" when it cannot be read.
  std::string Rest(const std::string& key8) {
    std::string r(16, ' '), k = key8;
    std::uint32_t len = 16;
    if (BTRCALL(kGetEqual, block, r.data(), &len, k.data(), 8, 0) != 0) return "";
    return r.substr(8);
  }
  std::int16_t Delete() {
    std::uint32_t len = 0;
    return BTRCALL(kDelete, block, nullptr, &len, nullptr, 0, 0);
  }
  std::int16_t Get(int op, const std::string& key8) {
    std::string r(16, ' '), k = key8;
    std::uint32_t len = 16;
    return BTRCALL(static_cast<std::uint16_t>(op), block, r.data(), &len, k.data(), 8, 0);
  }
  int Count() {
    int n = 0;
    std::string r(16, ' '), k(8, '\0');
    std::uint32_t len = 16;
    for (std::int16_t s = BTRCALL(kGetFirst, block, r.data(), &len, k.data(), 8, 0); s == 0;
         s = BTRCALL(kGetNext, block, r.data(), &len, k.data(), 8, 0), len = 16)
      ++n;
    return n;
  }
};

std::int16_t Transaction(int op) {
  std::uint32_t len = 0;
  return BTRCALL(static_cast<std::uint16_t>(op), nullptr, nullptr, &len, nullptr, 0, 0);
}

std::int16_t Create(const std::string& path) {
  std::string c = Creation(), key = path;
  std::uint32_t len = static_cast<std::uint32_t>(c.size());
  unsigned char block[128] = {};
  return BTRCALL(kCreate, block, c.data(), &len, key.data(), static_cast<std::uint8_t>(key.size()), -1);
}

std::int16_t Reset() {
  std::uint32_t len = 0;
  return BTRCALL(kReset, nullptr, nullptr, &len, nullptr, 0, 0);
}

std::string Key(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08d", n);
  return buf;
}

// One process telling another that it has come this far.
class Signal {
 public:
  Signal() {
    if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Signal() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  bool ok() const { return fds_[0] >= 0; }
  // Lets `count` waiters go.
  bool Tell(int count = 1) { return write(fds_[1], std::string(static_cast<std::size_t>(count), 'x').data(),
                                          static_cast<std::size_t>(count)) == count; }
  bool Await() {
    char c;
    return read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2];
};

// The exit code of a child once it has ended (-1 when it did not exit).
int ExitCodeOf(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another program that does `work` (0, or the exit code of what failed),
// tells `ready`, and stays, with all `work` left open, until it is killed.
pid_t StartAndStay(Signal& ready, const std::function<int()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    if (const int failure = work(); failure != 0) _exit(failure);
    if (!ready.Tell()) _exit(90);
    for (;;) pause();
  }
  return child;
}

void Kill(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

class Processes : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/engineprocXXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/shared.dat";
    ASSERT_EQ(Create(path_), 0);
  }
  void TearDown() override {
    Reset();
    std::system(("rm -rf " + dir_).c_str());
  }
  // Record 1 in the file, written and let go before other programs come.
  void StoreRecordOne() {
    Handle h;
    ASSERT_EQ(h.Open(path_), 0);
    ASSERT_EQ(h.Insert(Key(1)), 0);
    Reset();
  }
  std::string dir_, path_;
};

// Takes record 1's lock again and again while another program changes it,
// until the record reads `until` (or some thousands of tries): whenever
// the lock is had, the record read with it is the one committed, and it
// does not change while the lock is held. The last record read.
std::string ReadUnderLockUntil(Handle& h, const std::string& until) {
  std::string last;
  for (int i = 0; i < 5000 && last != until; ++i) {
    std::string r(16, ' '), k = Key(1);
    std::uint32_t len = 16;
    const std::int16_t s = BTRCALL(kGetEqual + kSingleNoWaitLock, h.block, r.data(), &len, k.data(), 8, 0);
    if (s == kRecordLocked) {
      usleep(300);
      continue;
    }
    EXPECT_EQ(s, 0);
    if (s != 0) break;
    last = r.substr(8);
    usleep(300);
    EXPECT_EQ(h.Rest(Key(1)), last);
    std::uint32_t none = 0;
    BTRCALL(kUnlock, h.block, nullptr, &none, nullptr, 0, 0);
    usleep(300);
  }
  return last;
}

// The first status other than 84 that `call` gives within ten seconds.
template <typename Call>
std::int16_t Eventually(Call call) {
  std::int16_t status = call();
  for (int i = 0; i < 200 && status == kRecordLocked; ++i) {
    usleep(50 * 1000);
    status = call();
  }
  return status;
}

TEST_F(Processes, ALockedRecordIsRefusedElsewhereAndFreedWhenItsHolderDies) {
  ASSERT_NO_FATAL_FAILURE(StoreRecordOne());
  Signal ready;
  ASSERT_TRUE(ready.ok());
  const pid_t holder = StartAndStay(ready, [&] {
    Handle h;
    return h.Open(path_) != 0 || h.Get(kGetEqual + kSingleNoWaitLock, Key(1)) != 0 ? 1 : 0;
  });
  ASSERT_TRUE(ready.Await());
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);
  EXPECT_EQ(h.Get(kGetEqual + kSingleNoWaitLock, Key(1)), kRecordLocked);
  Kill(holder);
  // A server ends the dead program's session a moment after its connection
  // drops; a lock file's lock goes with the process at once.
  EXPECT_EQ(Eventually([&] { return h.Get(kGetEqual + kSingleNoWaitLock, Key(1)); }), 0);
}

TEST_F(Processes, ConcurrentInsertsLoseNothing) {
  constexpr int kPerProcess = 150;
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      Handle h;
      if (h.Open(path_) != 0) _exit(1);
      for (int i = 0; i < kPerProcess; ++i) {
        std::int16_t s;
        while ((s = h.Insert(Key(p * 1000 + i))) == kFileLocked) {
        }
        if (s != 0) _exit(2);
      }
      _exit(0);
    }
  }
  for (pid_t c : children) EXPECT_EQ(ExitCodeOf(c), 0);
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);
  EXPECT_EQ(h.Count(), 2 * kPerProcess);
}

TEST_F(Processes, AProgramKilledInATransactionLeavesNoneOfIt) {
  ASSERT_NO_FATAL_FAILURE(StoreRecordOne());
  Signal ready;
  ASSERT_TRUE(ready.ok());
  const pid_t writer = StartAndStay(ready, [&] {
    Handle h;
    if (h.Open(path_) != 0 || Transaction(kBeginTransaction) != 0) return 1;
    for (int i = 100; i < 200; ++i)
      if (h.Insert(Key(i)) != 0) return 2;
    return 0;
  });
  ASSERT_TRUE(ready.Await());
  Kill(writer);
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);
  EXPECT_EQ(h.Count(), 1);
  EXPECT_EQ(h.Insert(Key(150)), 0);  // and the file takes writes again
}

// A walk reads ahead of itself; what another program commits meanwhile,
// ahead of the walk, is seen all the same.
TEST_F(Processes, AWalkSeesWhatAnotherProgramCommitsAheadOfIt) {
  Signal go, done;
  ASSERT_TRUE(go.ok() && done.ok());
  pid_t writer = fork();
  if (writer == 0) {
    if (!go.Await()) _exit(1);
    Handle h;
    if (h.Open(path_) != 0) _exit(2);
    if (h.Insert(Key(199)) != 0 || h.Insert(Key(601)) != 0) _exit(3);
    if (h.Get(kGetEqual, Key(300)) != 0) _exit(4);
    std::uint32_t len = 0;
    if (BTRCALL(kDelete, h.block, nullptr, &len, nullptr, 0, 0) != 0) _exit(5);
    if (!done.Tell()) _exit(6);
    _exit(0);
  }
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(h.Insert(Key(2 * i)), 0);
  std::string r(16, ' '), k(8, '\0');
  std::uint32_t len = 16;
  std::vector<std::string> seen;
  for (std::int16_t s = BTRCALL(kGetFirst, h.block, r.data(), &len, k.data(), 8, 0); s == 0;
       s = BTRCALL(kGetNext, h.block, r.data(), &len, k.data(), 8, 0), len = 16) {
    seen.push_back(r.substr(0, 8));
    if (seen.size() == 100) {  // at 198, with the next records read ahead
      ASSERT_TRUE(go.Tell());
      ASSERT_TRUE(done.Await());
      // A file shows another program's commit at once; a server's notice
      // of it travels on its own and arrives a moment after the commit.
      usleep(200 * 1000);
    }
  }
  EXPECT_EQ(ExitCodeOf(writer), 0);
  ASSERT_EQ(seen.size(), 401u);
  EXPECT_EQ(seen[99], Key(198));
  EXPECT_EQ(seen[100], Key(199));
  EXPECT_EQ(seen[101], Key(200));
  EXPECT_EQ(std::count(seen.begin(), seen.end(), Key(300)), 0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), Key(601)), 1);
}

// A program inside a transaction holds what it wrote until the transaction
// ends. Another program's write that must wait for it (here: an insert of
// the same key) waits a bounded time and is told 85 (file locked) instead
// of hanging; its own transaction survives the refusal and goes on.
TEST_F(Processes, AWriteThatWaitsTooLongIsToldLockedAndItsTransactionGoesOn) {
  const std::string other = dir_ + "/other.dat";
  ASSERT_EQ(Create(other), 0);
  ASSERT_NO_FATAL_FAILURE(StoreRecordOne());
  Signal ready, go;
  ASSERT_TRUE(ready.ok() && go.ok());
  pid_t holder = fork();
  if (holder == 0) {
    Handle h;
    if (h.Open(path_) != 0 || Transaction(kBeginTransaction) != 0) _exit(1);
    if (h.Insert(Key(5)) != 0) _exit(2);
    if (!ready.Tell() || !go.Await()) _exit(3);
    _exit(Transaction(kEndTransaction) == 0 ? 0 : 4);
  }
  ASSERT_TRUE(ready.Await());
  Handle h, o;
  ASSERT_EQ(h.Open(path_), 0);
  ASSERT_EQ(o.Open(other), 0);
  ASSERT_EQ(Transaction(kBeginTransaction), 0);
  ASSERT_EQ(o.Insert(Key(7)), 0);
  const time_t before = time(nullptr);
  EXPECT_EQ(h.Insert(Key(5)), kFileLocked);
  EXPECT_LT(time(nullptr) - before, 30);
  ASSERT_TRUE(go.Tell());
  EXPECT_EQ(ExitCodeOf(holder), 0);
  EXPECT_EQ(h.Insert(Key(5)), kDuplicateKey);
  EXPECT_EQ(h.Insert(Key(6)), 0);
  ASSERT_EQ(Transaction(kEndTransaction), 0);
  Reset();
  Handle check, checkOther;
  ASSERT_EQ(check.Open(path_), 0);
  ASSERT_EQ(checkOther.Open(other), 0);
  EXPECT_EQ(check.Count(), 3);
  EXPECT_EQ(checkOther.Count(), 1);
}

// A record locked, changed and so let go inside a transaction stays locked
// to other programs until the transaction ends: one that got its lock before
// would read the record as it was and write that back over the change.
// Outside a transaction the lock goes only once the change is committed.
TEST_F(Processes, ARecordChangedUnderItsLockStaysLockedUntilTheChangeIsCommitted) {
  ASSERT_NO_FATAL_FAILURE(StoreRecordOne());
  Signal changed, go;
  ASSERT_TRUE(changed.ok() && go.ok());
  const pid_t holder = fork();
  if (holder == 0) {
    Handle h;
    if (h.Open(path_) != 0 || Transaction(kBeginTransaction) != 0) _exit(1);
    if (h.Get(kGetEqual + kSingleNoWaitLock, Key(1)) != 0 || h.Update(Key(1), "holder..") != 0) _exit(2);
    // Locked again and let go for another record: still held for the change.
    if (h.Get(kGetEqual + kSingleNoWaitLock, Key(1)) != 0 || h.Insert(Key(2)) != 0) _exit(3);
    if (h.Get(kGetEqual + kSingleNoWaitLock, Key(2)) != 0) _exit(4);
    if (!changed.Tell() || !go.Await()) _exit(5);
    if (Transaction(kEndTransaction) != 0) _exit(6);
    // Outside a transaction: a change under the lock, committed at once.
    for (int i = 0; i < 100; ++i) {
      std::int16_t s;
      while ((s = h.Get(kGetEqual + kSingleNoWaitLock, Key(1))) == kRecordLocked) usleep(200);
      if (s != 0 || h.Update(Key(1), "round" + std::to_string(100 + i)) != 0) _exit(7);
    }
    _exit(0);
  }
  ASSERT_TRUE(changed.Await());
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);
  EXPECT_EQ(h.Get(kGetEqual + kSingleNoWaitLock, Key(1)), kRecordLocked);
  ASSERT_TRUE(go.Tell());
  EXPECT_EQ(ReadUnderLockUntil(h, "round199"), "round199");
  EXPECT_EQ(ExitCodeOf(holder), 0);
}

// A record written without its lock is locked to other programs by the
// write, until the write is committed: inside a transaction to its end.
TEST_F(Processes, ARecordWrittenWithoutItsLockStaysLockedUntilTheWriteIsCommitted) {
  ASSERT_NO_FATAL_FAILURE(StoreRecordOne());
  {
    Handle h;
    ASSERT_EQ(h.Open(path_), 0);
    ASSERT_EQ(h.Insert(Key(2)), 0);
    Reset();
  }
  Signal written, go;
  ASSERT_TRUE(written.ok() && go.ok());
  const pid_t writer = fork();
  if (writer == 0) {
    Handle h;
    if (h.Open(path_) != 0 || Transaction(kBeginTransaction) != 0) _exit(1);
    if (h.Get(kGetEqual, Key(1)) != 0 || h.Update(Key(1), "writer..") != 0) _exit(2);
    if (h.Get(kGetEqual, Key(2)) != 0 || h.Delete() != 0) _exit(3);
    if (!written.Tell() || !go.Await()) _exit(4);
    if (Transaction(kEndTransaction) != 0) _exit(5);
    for (int i = 0; i < 100; ++i) {
      std::int16_t s;
      do {
        s = h.Get(kGetEqual, Key(1));
        if (s == 0) s = h.Update(Key(1), "round" + std::to_string(100 + i));
      } while (s == kRecordLocked && usleep(200) == 0);
      if (s != 0) _exit(6);
    }
    _exit(0);
  }
  ASSERT_TRUE(written.Await());
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);
  EXPECT_EQ(h.Get(kGetEqual + kSingleNoWaitLock, Key(1)), kRecordLocked);
  EXPECT_EQ(h.Get(kGetEqual + kSingleNoWaitLock, Key(2)), kRecordLocked);
  ASSERT_TRUE(go.Tell());
  EXPECT_EQ(ReadUnderLockUntil(h, "round199"), "round199");
  EXPECT_EQ(ExitCodeOf(writer), 0);
  EXPECT_EQ(h.Get(kGetEqual, Key(2)), kKeyNotFound);
}

// A program that may only read the record lock file (another user's) still
// writes, and still holds what it wrote against the programs that lock to
// change it, until its transaction ends.
TEST_F(Processes, AProgramThatCanOnlyReadTheLockFileWritesAndHoldsWhatItWrote) {
  if (OnServer()) GTEST_SKIP() << "lock files are the files storage's";
  ASSERT_NO_FATAL_FAILURE(StoreRecordOne());
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);  // its lock file open for writing
  // Even root cannot open an immutable file for writing.
  struct Immutable {
    std::string path;
    bool made = std::system(("chattr +i " + path + " 2>/dev/null").c_str()) == 0;
    ~Immutable() {
      if (made) std::system(("chattr -i " + path).c_str());
    }
  } immutable{path_ + ".rlk"};
  if (!immutable.made) GTEST_SKIP() << "no immutable files here";
  Signal written, go;
  ASSERT_TRUE(written.ok() && go.ok());
  const pid_t writer = fork();
  if (writer == 0) {
    Handle w;
    if (w.Open(path_) != 0 || Transaction(kBeginTransaction) != 0) _exit(1);
    const bool wrote = w.Get(kGetEqual, Key(1)) == 0 && w.Update(Key(1), "writer..") == 0;
    if (!written.Tell() || !go.Await()) _exit(3);
    if (!wrote) _exit(2);
    _exit(Transaction(kEndTransaction) == 0 ? 0 : 4);
  }
  ASSERT_TRUE(written.Await());
  EXPECT_EQ(h.Get(kGetEqual + kSingleNoWaitLock, Key(1)), kRecordLocked);
  ASSERT_TRUE(go.Tell());
  EXPECT_EQ(ExitCodeOf(writer), 0);
  EXPECT_EQ(Eventually([&] { return h.Get(kGetEqual + kSingleNoWaitLock, Key(1)); }), 0);
  EXPECT_EQ(h.Rest(Key(1)), "writer..");
}

// A program that holds a file for its writes makes the next program that
// asks wait for its commit; once that one has the file, it sees what the
// first committed, also through an open that had read the file before.
TEST_F(Processes, AFileHeldForWritingIsHadByTheNextOnlyAfterTheCommitAndShowsIt) {
  ASSERT_NO_FATAL_FAILURE(StoreRecordOne());
  Signal go, holding;
  ASSERT_TRUE(go.ok() && holding.ok());
  const pid_t first = fork();
  if (first == 0) {
    Handle h;
    if (!go.Await() || h.Open(path_) != 0 || Transaction(kBeginTransaction) != 0) _exit(1);
    if (HoldForWriting(h.block) != 0 || HoldForWriting(h.block) != 0 || h.Insert(Key(5)) != 0) _exit(2);
    if (!holding.Tell()) _exit(3);
    usleep(400 * 1000);
    _exit(Transaction(kEndTransaction) == 0 ? 0 : 4);
  }
  Handle h;
  ASSERT_EQ(h.Open(path_), 0);
  EXPECT_EQ(HoldForWriting(h.block), kInvalidOperation);  // outside a transaction
  unsigned char closed[128] = {};
  ASSERT_EQ(Transaction(kBeginTransaction), 0);
  EXPECT_EQ(HoldForWriting(closed), kFileNotOpen);
  // Read ahead before the other program's commit: the whole file, record 1.
  EXPECT_EQ(h.Get(kGetFirst, Key(0)), 0);
  ASSERT_TRUE(go.Tell());
  ASSERT_TRUE(holding.Await());
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(HoldForWriting(h.block), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
  EXPECT_EQ(ExitCodeOf(first), 0);
  EXPECT_EQ(h.Get(kGetEqual, Key(5)), 0);
  EXPECT_EQ(h.Count(), 2);
  EXPECT_EQ(h.Insert(Key(6)), 0);
  ASSERT_EQ(Transaction(kEndTransaction), 0);
  EXPECT_EQ(h.Count(), 3);
}

// Programs starting together on a fresh root all find a data file missing
// and all create it: each must end up with the one file, none with an error,
// and nothing one of them wrote may be lost to another's creation.
TEST_F(Processes, ProgramsCreatingOneFileAtOnceAllGetIt) {
  const std::string fresh = dir_ + "/fresh.dat";
  constexpr int kPrograms = 4;
  Signal go;
  ASSERT_TRUE(go.ok());
  pid_t children[kPrograms];
  for (int p = 0; p < kPrograms; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      if (!go.Await()) _exit(1);
      if (Create(fresh) != 0) _exit(2);
      Handle h;
      if (h.Open(fresh) != 0) _exit(3);
      std::int16_t s;
      while ((s = h.Insert(Key(p))) == kFileLocked) {
      }
      _exit(s == 0 ? 0 : 4);
    }
  }
  ASSERT_TRUE(go.Tell(kPrograms));
  for (pid_t child : children) EXPECT_EQ(ExitCodeOf(child), 0);
  Handle h;
  ASSERT_EQ(h.Open(fresh), 0);
  EXPECT_EQ(h.Count(), kPrograms);
}

}  // namespace
}  // namespace recordmanager
