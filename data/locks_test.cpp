#include "data/locks.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "config/session.h"
#include "data/btrcall.h"
#include "data/locks_scan.h"
#include "data/locks_store.h"
#include "data/notice.h"
#include "base/cp850.h"
#include "data/testing/lock_records.h"
#include "platform/file_system.h"

namespace data {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using locktest::LocksOnServer;
using locktest::OtherLockHolder;

// Lock files that cannot be reached, or with things in their way: on the
// server a lock is rows of a table, and what cannot be reached there is the
// server (ServerLocks below).
#define SKIP_ON_SERVER()                                                              \
  if (LocksOnServer()) GTEST_SKIP() << "about lock files: the locks are on the server"

// A clock that moves only when the code pauses.
struct FakeClock : platform::SystemWrapper {
  FakeClock() : SystemWrapper(platform::RealSystem()) {}
  std::int64_t seconds = 1'700'000'000;  // 2023-11-14 22:13:20
  int pauses = 0;
  std::int64_t pausedMs = 0;
  double fraction = 0.5;
  std::function<void(int pauses)> onPause;
  platform::LocalTime Now() override {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0};
  }
  void Pause(int ms) override {
    ++pauses;
    pausedMs += ms;
    seconds += (ms + 999) / 1000;
    // A wait that would never end fails the test instead of hanging it.
    if (pauses > 20000) throw std::runtime_error("still waiting after 20000 pauses");
    if (onPause) onPause(pauses);
  }
  double RandomFraction() override { return fraction; }
  void SeedRandom(std::uint32_t) override {}
  std::string ComputerName() override { return "WORKSTATION-NUMBER-1"; }
};

struct KeyNotice : Notice {
  std::vector<std::string> events;
  std::deque<int> keys;  // keys PollKey hands out, one per call
  void Show(const std::string& text, int row) override {
    events.push_back("show " + std::to_string(row) + " " + text);
  }
  void Hide() override { events.push_back("hide"); }
  void Beep() override { events.push_back("beep"); }
  void DiscardKeys() override { events.push_back("discard"); }
  void WaitKey() override {}
  int PollKey() override {
    if (keys.empty()) return 0;
    int k = keys.front();
    keys.pop_front();
    return k;
  }
  void EndProcess(int) override {}
};

// A lock record written the way another program writes it.
std::string Record(std::string_view name, std::string_view id, std::int64_t minutes, char type,
                   std::string_view lower = "", std::string_view upper = "") {
  auto pad = [](std::string_view s, std::size_t n) {
    std::string r(s.substr(0, n));
    r.resize(n, ' ');
    return r;
  };
  std::string r = pad(name, 15) + pad(id, 11) + pad(std::to_string(minutes), 8) + type;
  r += pad(std::to_string(lower.size()), 2) + pad(lower, 40);
  r += pad(std::to_string(upper.size()), 2) + pad(upper, 40) + "\r\n";
  return r;
}

class LocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLocks();
    dir_ = fs::temp_directory_path() / ("data_locks_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
    config::ResetSession();
    config::Session().RootDir = dir_.string() + "/";
    config::Session().TempDir = (dir_ / "tmp").string() + "\\";
  }
  void TearDown() override {
    ResetLocks();
    ReleaseTempFolder();
    fs::remove_all(dir_);
  }
  std::int64_t Clock() { return LockClock(clock_.Now()); }
  fs::path LockPath(const std::string& name) { return dir_ / "LOCKS" / (name + ".lck"); }
  // The lock's records, wherever they are kept.
  std::string ReadLock(const std::string& name) { return locktest::LockRecords(name); }
  // Records written the way another program writes them.
  void WriteLock(const std::string& name, const std::string& bytes) { locktest::WriteLockRecords(name, bytes); }
  std::string OwnIdText() {
    LockIdentity();
    return std::to_string(Locks().LockOwnerId);
  }

  FakeClock clock_;
  platform::ScopedSystem scopedSystem_{clock_};
  KeyNotice notice_;
  ScopedNotice scopedNotice_{notice_};
  fs::path dir_;
};

TEST(LockClock, MinutesSinceNineteenSeventy) {
  const std::pair<platform::LocalTime, std::int64_t> cases[] = {
      {{1970, 1, 1, 0, 0, 0, 0}, 0},
      {{1970, 1, 1, 0, 0, 59, 499}, 0},
      {{1970, 1, 1, 0, 0, 59, 500}, 1},  // seconds rounded first
      {{1970, 1, 2, 0, 1, 0, 0}, 1441},
      {{1970, 3, 1, 0, 0, 0, 0}, 59 * 1440},
      {{2000, 3, 1, 12, 30, 0, 0}, 11017 * 1440 + 750},
      {{2024, 2, 29, 23, 59, 59, 0}, 19782 * 1440 + 1439},
  };
  for (const auto& [t, minutes] : cases)
    EXPECT_EQ(LockClock(t), minutes) << t.year << "-" << t.month << "-" << t.day;
}

TEST(LockKeyText, PackedDigitPairsBecomeTheirDigits) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x85\xA0" "A", "0532A"},
      {"\x80\xE3", "0099"},
      {"\xE4\x7F" "z", "\xE4\x7F" "z"},
      {"", ""},
  };
  for (const auto& [key, text] : cases) EXPECT_EQ(LockKeyText(key), text);
}

// The lock rules as a table: what a scan frees, what blocks, where the lock
// goes, for each kind of holder.
TEST(ScanLockRecords, HoldersAgeAndIdentity) {
  const LockOwner me{"MINE", 777};
  const std::int64_t now = 1'000'000;
  using H = LockHolder;
  struct Case {
    const char* what;
    std::string record;
    H holder;
    LockRequest request;
    bool freed;
    std::optional<std::size_t> conflict;
    std::size_t target;
  };
  const LockRequest k0105{'K', "0105", "0105"};
  const LockRequest wholeFile{'F', "", ""};
  const Case cases[] = {
      {"a running holder blocks however old its lock", Record("OTHER", "12345", now - 300, 'K', "0105", "0105"),
       H::kOtherProcess, k0105, false, 0, 1},
      {"a holder that ended frees its lock at once", Record("OTHER", "12345", now, 'K', "0105", "0105"), H::kGone,
       k0105, true, std::nullopt, 0},
      {"unknown holder, 29 minutes: still held", Record("OTHER", "12345", now - 29, 'K', "0105", "0105"),
       H::kUnknown, k0105, false, 0, 1},
      {"unknown holder, 31 minutes: abandoned", Record("OTHER", "12345", now - 31, 'K', "0105", "0105"),
       H::kUnknown, k0105, true, std::nullopt, 0},
      {"ranges that do not meet", Record("OTHER", "12345", now, 'K', "0105", "0105"), H::kOtherProcess,
       {'K', "0106", "0106"}, false, std::nullopt, 1},
      {"this process renews its own lock", Record("MINE", "777", now - 10, 'K', "0105", "0105"), H::kThisProcess,
       k0105, false, std::nullopt, 0},
      {"another running process of the same identity blocks", Record("MINE", "777", now, 'K', "0105", "0105"),
       H::kOtherProcess, k0105, false, 0, 1},
      {"another process of the same identity that ended", Record("MINE", "777", now, 'K', "0105", "0105"), H::kGone,
       k0105, true, std::nullopt, 0},
      {"the same identity where nobody can tell the process", Record("MINE", "777", now, 'K', "0105", "0105"),
       H::kUnknown, k0105, false, std::nullopt, 0},
      {"own whole-file lock re-entered", Record("MINE", "777", now, 'F'), H::kThisProcess, wholeFile, false,
       std::nullopt, 0},
      {"own whole-file lock, key asked: a new record", Record("MINE", "777", now, 'F'), H::kThisProcess, k0105,
       false, std::nullopt, 1},
      {"whole-file lock of another running process", Record("MINE", "777", now, 'F'), H::kOtherProcess, k0105,
       false, 0, 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> records{c.record};
    int asked = 0;
    const LockScan scan = ScanLockRecords(records, c.request, me, now, [&](std::size_t i) {
      ++asked;
      EXPECT_EQ(i, 0u);
      return c.holder;
    });
    EXPECT_EQ(asked, 1) << c.what;
    EXPECT_EQ(!scan.freed.empty(), c.freed) << c.what;
    EXPECT_EQ(records[0][34] == ' ', c.freed) << c.what;
    EXPECT_EQ(scan.conflict, c.conflict) << c.what;
    if (!scan.conflict) {
      EXPECT_EQ(scan.target, c.target) << c.what;
    }
  }
}

TEST(ScanLockRecords, FreeRecordsAreNotAskedAboutAndTheLastOneIsReused) {
  std::vector<std::string> records{Record("", "", 5, ' '), Record("OTHER", "1", 5, 'K', "0200", "0200"),
                                   Record("", "", 5, ' '), Record("OTHER", "1", 5, 'K', "0105", "0105")};
  std::vector<std::size_t> asked;
  const LockScan scan =
      ScanLockRecords(records, {'K', "0105", "0105"}, {"MINE", 777}, 10, [&](std::size_t i) {
        asked.push_back(i);
        return LockHolder::kOtherProcess;
      });
  EXPECT_EQ(asked, (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(scan.conflict, 3u);
  EXPECT_EQ(scan.target, 2u);
}

TEST(RecordToRelease, OnlyWhatThisProcessHolds) {
  const LockOwner me{"MINE", 777};
  const std::vector<std::string> records{
      Record("MINE", "777", 50, 'K', "0105", "0105"),  // this process
      Record("MINE", "777", 90, 'K', "0106", "0106"),  // another process of the identity
      Record("MINE", "777", 70, 'K', "0107", "0107"),  // this process
      Record("OTHER", "12", 99, 'K', "0108", "0108"),
  };
  const LockHolder holders[] = {LockHolder::kThisProcess, LockHolder::kOtherProcess, LockHolder::kThisProcess,
                                LockHolder::kOtherProcess};
  EXPECT_EQ(RecordToRelease(records, me, [&](std::size_t i) { return holders[i]; }), 2u);
  EXPECT_EQ(RecordToRelease(records, me, [](std::size_t) { return LockHolder::kOtherProcess; }), std::nullopt);
}

TEST(LockHolderText, NamesOperatorComputerAndSince) {
  // 1 700 000 000 s since 1970: 14/11/2023 22:13.
  const std::string record = Record("PC-RECEPCIO", "4321", 1'700'000'000 / 60, 'K', "0001", "0001");
  const std::string unnamed = Record("", "4321", 1'700'000'000 / 60, 'K', "0001", "0001");
  struct Case {
    const char* language;
    std::string withOperator, withoutOperator;
  };
  const Case cases[] = {
      {"   ", "OCUPAT PER JOAN GARCIA, ORDINADOR PC-RECEPCIO, DES DE 14/11/2023 22:13.",
       "OCUPAT PER L'ORDINADOR PC-RECEPCIO, DES DE 14/11/2023 22:13."},
      {"SPA", "OCUPADO POR JOAN GARCIA, ORDENADOR PC-RECEPCIO, DESDE 14/11/2023 22:13.",
       "OCUPADO POR EL ORDENADOR PC-RECEPCIO, DESDE 14/11/2023 22:13."},
      {"GLG", "OCUPADO POR JOAN GARCIA, ORDENADOR PC-RECEPCIO, DESDE 14/11/2023 22:13.",
       "OCUPADO POLO ORDENADOR PC-RECEPCIO, DESDE 14/11/2023 22:13."},
      {"OCI", std::string("OCUPAT PER JOAN GARCIA, ORDENADOR PC-RECEPCIO, DEMPÚS 14/11/2023 22:13."_cp),
       std::string("OCUPAT PER ETH ORDENADOR PC-RECEPCIO, DEMPÚS 14/11/2023 22:13."_cp)},
  };
  for (const Case& c : cases) {
    config::ResetSession();
    config::Session().Language = c.language;
    EXPECT_EQ(LockHolderText(record, " JOAN GARCIA  "), c.withOperator) << c.language;
    EXPECT_EQ(LockHolderText(record, ""), c.withoutOperator) << c.language;
  }
  config::ResetSession();
  // A computer without a name is known by the identity.
  EXPECT_EQ(LockHolderText(unnamed, ""), "OCUPAT PER L'ORDINADOR 4321, DES DE 14/11/2023 22:13.");
  EXPECT_THAT(LockHolderText(Record("PC", "1", 0, 'F'), ""), HasSubstr("DES DE 01/01/1970 00:00."));
}

TEST_F(LocksTest, IdentityIsCreatedOnceAndSharedThroughTheTempDirectory) {
  LockIdentity();
  const std::int32_t id = Locks().LockOwnerId;
  EXPECT_NE(id, 0);
  EXPECT_EQ(id, static_cast<std::int32_t>(std::floor(0.5 * 4294967295.0 - 2147483648.0)));
  EXPECT_EQ(Locks().LockOwnerName, "WORKSTATION-NUM");
  std::ifstream in(dir_ / "tmp" / "LOCKS.TMP", std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  ASSERT_EQ(bytes.size(), 19u);
  EXPECT_EQ(bytes.substr(4), "WORKSTATION-NUM");
  // Another program of the same session reads the same identity.
  clock_.fraction = 0.9;
  ResetLocks();
  LockIdentity();
  EXPECT_EQ(Locks().LockOwnerId, id);
  // A new session directory gets a new one.
  ResetLocks();
  config::Session().TempDir = dir_.string() + "/";
  LockIdentity();
  EXPECT_NE(Locks().LockOwnerId, id);
}

TEST_F(LocksTest, KeyRangesBlockOnlyWhereTheyMeet) {
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105"));
  OtherLockHolder other("PressupH", 0);
  ASSERT_TRUE(other.held());
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);  // 0105
  EXPECT_EQ(LockKey("PressupH", "\x81\x86"), 0);   // 0106
  EXPECT_EQ(AcquireLock("PressupH", "K", "0100", "0104"), 0);
  EXPECT_EQ(AcquireLock("PressupH", "K", "0100", "0105"), -1);
  EXPECT_EQ(AcquireLock("PressupH", "K", "0105", "0200"), -1);
  // Shorter keys compare on their own length: "01" meets 0105.
  EXPECT_EQ(AcquireLock("PressupH", "k", "01", "01"), -1);
  EXPECT_EQ(ReadLock("PressupH").size(), 3 * kLockRecordSize);
  EXPECT_EQ(clock_.pauses, 0);
  EXPECT_TRUE(notice_.events.empty());
}

TEST_F(LocksTest, WrittenRecordHasTheDocumentedLayout) {
  const std::string id = OwnIdText();
  ASSERT_EQ(AcquireLock("PressupH  ", "k", "0105", "0107"), 0);
  EXPECT_EQ(ReadLock("PressupH"), Record("WORKSTATION-NUM", id, Clock(), 'K', "0105", "0107"));
  ASSERT_EQ(AcquireLock("Propieth", "f", "", ""), 0);
  std::string f = ReadLock("Propieth");
  ASSERT_EQ(f.size(), kLockRecordSize);
  EXPECT_EQ(f.substr(0, 35), Record("WORKSTATION-NUM", id, Clock(), 'F').substr(0, 35));
  EXPECT_EQ(f.substr(119), "\r\n");
}

TEST_F(LocksTest, ALockWhoseHolderEndedIsFreeAtOnce) {
  // Taken a minute ago by a program that is no longer running.
  WriteLock("PressupH", Record("OTHER", "12345", Clock() - 1, 'K', "0105", "0105"));
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  // The abandoned record was reused in place.
  std::string after = ReadLock("PressupH");
  ASSERT_EQ(after.size(), kLockRecordSize);
  EXPECT_EQ(after.substr(15, 11), (OwnIdText() + "           ").substr(0, 11));
  EXPECT_EQ(clock_.pauses, 0);
}

TEST_F(LocksTest, ARunningHolderKeepsItsLockHoweverOld) {
  WriteLock("PressupH", Record("OTHER", "12345", Clock() - 600, 'K', "0105", "0105"));
  OtherLockHolder other("PressupH", 0);
  Locks().LockWaitMode = 's';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  other.Leave();
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), 0);
}

TEST_F(LocksTest, AnotherProcessOfTheSameIdentityIsBlockedAndThisOneReenters) {
  const std::string id = OwnIdText();
  // A second program on this workstation's temporary folder holds 0105.
  WriteLock("PressupH", Record("WORKSTATION-NUM", id, Clock(), 'K', "0105", "0105"));
  OtherLockHolder other("PressupH", 0);
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  EXPECT_EQ(ReleaseLock("PressupH"), -1) << "released another process's lock";
  // This process takes its own lock and re-enters it.
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  clock_.seconds += 300;
  EXPECT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  std::string file = ReadLock("PressupH");
  ASSERT_EQ(file.size(), 2 * kLockRecordSize);
  EXPECT_EQ(std::stoll(file.substr(kLockRecordSize + 26, 8)), Clock());
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
  EXPECT_EQ(ReadLock("PressupH")[kLockRecordSize + 34], ' ');
  EXPECT_EQ(ReadLock("PressupH")[34], 'K');
}

TEST_F(LocksTest, RenewingAnOwnLockRefreshesItsTime) {
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  clock_.seconds += 20 * 60;
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  std::string file = ReadLock("PressupH");
  ASSERT_EQ(file.size(), kLockRecordSize);
  EXPECT_EQ(std::stoll(file.substr(26, 8)), Clock());
}

TEST_F(LocksTest, ReleaseFreesTheMostRecentOwnLock) {
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  clock_.seconds += 120;
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  std::string file = ReadLock("PressupH");
  WriteLock("PressupH", file + Record("OTHER", "12345", Clock() + 5, 'K', "0200", "0200"));
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
  file = ReadLock("PressupH");
  ASSERT_EQ(file.size(), 3 * kLockRecordSize);
  EXPECT_EQ(file[34], 'K');
  EXPECT_EQ(file[kLockRecordSize + 34], ' ');
  EXPECT_EQ(file.substr(kLockRecordSize, 26), std::string(26, ' '));
  EXPECT_EQ(file[2 * kLockRecordSize + 34], 'K');
  // Another case of the name reaches the same file.
  EXPECT_EQ(ReleaseLock(" PRESSUPH "), 0);
  EXPECT_EQ(ReadLock("PressupH")[34], ' ');
  EXPECT_EQ(ReleaseLock("PressupH"), -1);
  EXPECT_EQ(ReleaseLock("NoSuchLock"), -1);
  EXPECT_EQ(ReadLock("NoSuchLock"), "");
  if (!LocksOnServer()) {
    EXPECT_FALSE(fs::exists(LockPath("NoSuchLock")));
  }
}

TEST_F(LocksTest, HoldsLockSaysWhetherThisProcessStillHoldsTheLock) {
  EXPECT_FALSE(HoldsLock("PressupH"));
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  EXPECT_TRUE(HoldsLock("PressupH"));
  EXPECT_TRUE(HoldsLock(" PRESSUPH "));
  EXPECT_FALSE(HoldsLock("PropietH"));
  // Another program's record in the same lock is not this process's.
  OtherLockHolder other("PressupH", 1);
  ASSERT_TRUE(other.held());
  ASSERT_EQ(ReleaseLock("PressupH"), 0);
  EXPECT_FALSE(HoldsLock("PressupH"));
  EXPECT_EQ(CheckLock("PressupH"), LockStanding::kNotHeld);
  if (!LocksOnServer()) {
    // A lock file removed under its holder guards nothing any more.
    ASSERT_EQ(LockKey("PropietH", "\x81\x85"), 0);
    ASSERT_TRUE(HoldsLock("PropietH"));
    fs::remove(LockPath("PropietH"));
    EXPECT_EQ(CheckLock("PropietH"), LockStanding::kLost);
    EXPECT_EQ(ReleaseLock("PropietH"), -1);
    EXPECT_EQ(CheckLock("PropietH"), LockStanding::kNotHeld);
  }
}

TEST_F(LocksTest, ReleasedLockIsFreeForOthersAtOnce) {
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  // Seen from another program, this process holds its record.
  {
    OtherLockHolder probe("PressupH", 0);
    EXPECT_FALSE(probe.held());
  }
  ASSERT_EQ(ReleaseLock("PressupH"), 0);
  OtherLockHolder probe("PressupH", 0);
  EXPECT_TRUE(probe.held());
}

TEST_F(LocksTest, EqualTimesReleaseTheLaterRecord) {
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
  std::string file = ReadLock("PressupH");
  EXPECT_EQ(file[34], 'K');
  EXPECT_EQ(file[kLockRecordSize + 34], ' ');
}

TEST_F(LocksTest, FreedRecordIsReusedBeforeTheFileGrows) {
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  ASSERT_EQ(LockKey("PressupH", "\x81\x87"), 0);
  clock_.seconds += 60;
  ASSERT_EQ(ReleaseLock("PressupH"), 0);
  ASSERT_EQ(LockKey("PressupH", "\x81\x88"), 0);
  std::string file = ReadLock("PressupH");
  ASSERT_EQ(file.size(), 3 * kLockRecordSize);
  EXPECT_EQ(file.substr(2 * kLockRecordSize + 37, 4), "0108");
}

TEST_F(LocksTest, WholeFileLocks) {
  WriteLock("PropietH", Record("OTHER", "12345", Clock(), 'F'));
  OtherLockHolder other("PropietH", 0);
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PropietH", "\x81\x85"), -1);
  EXPECT_EQ(AcquireLock("PropietH", "F", "", ""), -1);
  // An own lock of either type never blocks its holder.
  ASSERT_EQ(LockKey("Other", "\x81\x85"), 0);
  EXPECT_EQ(AcquireLock("Other", "F", "", ""), 0);
  EXPECT_EQ(ReadLock("Other").size(), 2 * kLockRecordSize);
  EXPECT_EQ(LockKey("Other", "\x81\x86"), 0);
}

TEST_F(LocksTest, ModeSGivesUpAtOnceWithoutMessage) {
  const std::string record = Record("OTHER", "12345", Clock(), 'K', "0105", "0105");
  WriteLock("PressupH", record);
  OtherLockHolder other("PressupH", 0);
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  EXPECT_EQ(clock_.pauses, 0);
  EXPECT_TRUE(notice_.events.empty());
  // Who holds it is kept for a caller that tells someone later; a lock
  // taken clears it.
  EXPECT_EQ(Locks().LastRefusal, LockHolderText(record, ""));
  EXPECT_FALSE(Locks().LastRefusalUnreachable);
  EXPECT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  EXPECT_EQ(Locks().LastRefusal, "");
}

TEST_F(LocksTest, ModePIsGivenUpWithEscAndNamesTheHolder) {
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105"));
  // The holder took it for its operator JOAN.
  OtherLockHolder other("PressupH", 0, "JOAN");
  Locks().LockWaitMode = 'p';
  config::Session().Language = "SPA";
  notice_.keys = {'x', 0, 27};
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  const std::vector<std::string> expected = {
      "show 24 FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR. "
      "OCUPADO POR JOAN, ORDENADOR OTHER, DESDE 14/11/2023 22:13.",
      "discard", "hide"};
  EXPECT_EQ(notice_.events, expected);
  EXPECT_EQ(clock_.pauses, 3);
  EXPECT_EQ(clock_.pausedMs, 3 * 501);
}

TEST_F(LocksTest, AnOperatorLineOfAnEarlierHolderIsNotBelieved) {
  // MIQUEL took the record an hour and a half ago; its holder has since
  // rewritten it as another program does, without saying who.
  WriteLock("PressupH", Record("OTHER", "12345", Clock() - 90, 'K', "0105", "0105"));
  OtherLockHolder other("PressupH", 0, "MIQUEL");
  ASSERT_TRUE(other.held());
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105"));
  Locks().LockWaitMode = 'p';
  notice_.keys = {27};
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  ASSERT_FALSE(notice_.events.empty());
  EXPECT_THAT(notice_.events[0], HasSubstr("OCUPAT PER L'ORDINADOR OTHER, DES DE 14/11/2023 22:13."));
  EXPECT_THAT(notice_.events[0], Not(HasSubstr("MIQUEL")));
}

TEST_F(LocksTest, TheOperatorWhoTookTheLockIsKeptForOthers) {
  config::Session().Operator = "MARIA PUIG";
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  {
    LockStoreFailure failure;
    std::unique_ptr<LockTable> table = CurrentLockStore().Open("PressupH", false, failure);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->OperatorOf(0, ReadLock("PressupH")), "MARIA PUIG");
    table->Close();
  }
  // The server keeps the name in the lock's row; lock files beside them.
  if (LocksOnServer()) return;
  std::ifstream in(dir_ / "LOCKS" / "PressupH.who", std::ios::binary);
  const std::string who(std::istreambuf_iterator<char>(in), {});
  ASSERT_EQ(who.size(), 64u);
  EXPECT_EQ(who.substr(0, 19), ReadLock("PressupH").substr(15, 19));
  EXPECT_EQ(who.substr(19, 10), "MARIA PUIG");
  EXPECT_EQ(who.substr(62), "\r\n");
}

TEST_F(LocksTest, DefaultModeWaitsUntilTheHolderEnds) {
  WriteLock("PressupH", Record("OTHER", "12345", Clock() - 45, 'K', "0105", "0105"));
  OtherLockHolder other("PressupH", 0);
  clock_.onPause = [&](int pauses) {
    if (pauses == 40) other.Leave();
  };
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  const std::vector<std::string> expected = {
      "show 24 FITXER BLOQUEJAT. ESPEREU UN MOMENT. OCUPAT PER L'ORDINADOR OTHER, DES DE 14/11/2023 21:28.",
      "hide"};
  EXPECT_EQ(notice_.events, expected);
  // Not taken over at 30 minutes: only when the holder was gone.
  EXPECT_EQ(clock_.pauses, 40);
}

TEST_F(LocksTest, BadLockFilesAreReadAsTheirWholeRecords) {
  SKIP_ON_SERVER();
  std::string garbage(kLockRecordSize, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 37 + 11);
  garbage[34] = 'K';
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105") + garbage +
                            "a half-written record");
  OtherLockHolder other("PressupH", 0);
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  std::string file = ReadLock("PressupH");
  // Nobody holds the garbled record: it is freed and reused; the partial
  // tail is left alone.
  ASSERT_EQ(file.size(), 2 * kLockRecordSize + 21);
  EXPECT_EQ(file.substr(kLockRecordSize + 37, 4), "0106");
  EXPECT_EQ(file.substr(2 * kLockRecordSize - 2), "\r\na half-written record");
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
  // Only a tail: the first record goes at the start.
  WriteLock("PropietH", "short");
  ASSERT_EQ(LockKey("PropietH", "\x81\x86"), 0);
  EXPECT_EQ(ReadLock("PropietH").size(), kLockRecordSize);
}

// A transaction of the data files (begin, end, abort transaction) is no
// business of the program locks: aborting it keeps every lock taken and
// every release made inside it.
TEST_F(LocksTest, AnAbortedDataTransactionNeitherUndoesNorTakesProgramLocks) {
  ASSERT_EQ(LockKey("PressupH", "\x81\x85"), 0);  // 0105, before the transaction
  std::string creation(32, '\0');
  creation[0] = 10;     // record length
  creation[3] = 2;      // page size 512
  creation[4] = 1;      // one key
  creation[16] = 1;     // its segment: position 1,
  creation[18] = 4;     // 4 bytes
  creation.resize(1536, ' ');
  std::string path = (dir_ / "ABONATS.dat").string();
  std::string scratch(128, ' '), block(128, '\0');
  std::uint32_t length = 1536;
  ASSERT_EQ(BTRCALL(14, scratch.data(), creation.data(), &length, path.data(), static_cast<std::uint8_t>(path.size()), -1), 0);
  char owner[5] = {'0', '0', '0', '0', '\0'};
  length = 5;
  ASSERT_EQ(BTRCALL(0, block.data(), owner, &length, path.data(), static_cast<std::uint8_t>(path.size()), 0), 0);
  std::string record = "AAAA012345", key(255, '\0');
  length = 0;
  ASSERT_EQ(BTRCALL(19, block.data(), nullptr, &length, nullptr, 0, 0), 0);
  length = 10;
  ASSERT_EQ(BTRCALL(2, block.data(), record.data(), &length, key.data(), 255, 0), 0);
  EXPECT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  EXPECT_EQ(LockKey("PressupH", "\x81\x87"), 0);
  EXPECT_EQ(ReleaseLock("PressupH"), 0);  // 0107
  length = 0;
  ASSERT_EQ(BTRCALL(21, block.data(), nullptr, &length, nullptr, 0, 0), 0);

  // The record inserted inside it is gone ...
  key = "AAAA" + std::string(251, '\0');
  length = 10;
  EXPECT_EQ(BTRCALL(5, block.data(), record.data(), &length, key.data(), 4, 0), 4);
  length = 0;
  BTRCALL(28, scratch.data(), nullptr, &length, nullptr, 0, 0);
  // ... the program locks are as the transaction left them.
  const std::string locks = ReadLock("PressupH");
  ASSERT_EQ(locks.size(), 3 * kLockRecordSize);
  EXPECT_EQ(locks.substr(37, 4), "0105");
  EXPECT_EQ(locks[34], 'K');
  EXPECT_EQ(locks.substr(kLockRecordSize + 37, 4), "0106");
  EXPECT_EQ(locks[kLockRecordSize + 34], 'K');
  EXPECT_EQ(locks[2 * kLockRecordSize + 34], ' ');
  EXPECT_FALSE(OtherLockHolder("PressupH", 1).held()) << "a lock taken inside the transaction was lost";
  EXPECT_TRUE(OtherLockHolder("PressupH", 2).held()) << "a lock released inside the transaction is still held";
}

// The server out of reach: the wait says so in the server's words, and in
// mode "P" the operator may leave it with Esc.
TEST_F(LocksTest, AServerOutOfReachIsNamedUntilItAnswers) {
  if (!LocksOnServer()) GTEST_SKIP() << "about the server's locks: the locks are files here";
  const std::string server = std::getenv("KITDB");
  const std::string schema = std::getenv("KITDB_SCHEMA") ? std::getenv("KITDB_SCHEMA") : "kit";
  struct Restore {
    std::string server;
    ~Restore() { ::setenv("KITDB", server.c_str(), 1); }
  } restore{server};
  ResetLocks();  // the next lock connects again
  ::setenv("KITDB", ("host=" + (dir_ / "no-server").string() + " dbname=kit").c_str(), 1);
  Locks().LockWaitMode = 'P';
  notice_.keys = {0, 27};
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  ASSERT_EQ(notice_.events.size(), 3u);
  const std::string head = "show 24 NO ES POT ACCEDIR AL FITXER " + schema + ".kit_locks/PressupH (";
  EXPECT_EQ(notice_.events[0].substr(0, head.size()), head);
  EXPECT_THAT(notice_.events[0], HasSubstr((dir_ / "no-server").string()));  // the socket the server was looked for at
  EXPECT_THAT(notice_.events[0], ::testing::EndsWith("). ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."));
  EXPECT_EQ(notice_.events[2], "hide");

  // In the default mode the wait lasts until the server answers or the
  // operator gives up; Esc is offered there too.
  notice_.events.clear();
  Locks().LockWaitMode = ' ';
  const int before = clock_.pauses;
  clock_.onPause = [&](int pauses) {
    if (pauses == before + 5) ::setenv("KITDB", server.c_str(), 1);
  };
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  EXPECT_EQ(clock_.pauses, before + 5);
  ASSERT_EQ(notice_.events.size(), 3u);
  EXPECT_EQ(notice_.events[0].substr(0, head.size()), head);
  EXPECT_THAT(notice_.events[0], ::testing::EndsWith("). ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."));
  EXPECT_EQ(notice_.events[1], "discard");
  EXPECT_EQ(notice_.events[2], "hide");
}

// Lock files out of reach: the wait says which file and why, and in mode
// "P" the operator may leave it with Esc.

// Refuses to open files whose path ends in `suffix`, `failures` times.
class RefusingFileSystem : public platform::FileSystemWrapper {
 public:
  RefusingFileSystem(std::string suffix, int error, int failures)
      : FileSystemWrapper(platform::RealFileSystem()), suffix_(std::move(suffix)), error_(error),
        failures_(failures) {}
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    if (path.ends_with(suffix_) && failures_ != 0) {
      --failures_;
      status = platform::FileStatus{error_};
      return nullptr;
    }
    return target().Open(path, flags, status, mode);
  }
  platform::FileStatus MakeDirectory(const std::string& path, mode_t mode) override {
    if (path.ends_with(suffix_) && failures_ != 0) {
      --failures_;
      return platform::FileStatus{error_};
    }
    return target().MakeDirectory(path, mode);
  }

 private:
  std::string suffix_;
  int error_;
  int failures_;
};

TEST_F(LocksTest, ALockFileOfAnotherUserIsNamedAndEscEndsTheWait) {
  SKIP_ON_SERVER();
  const std::string path = LockPath("PressupH").string();
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);  // the file exists
  ASSERT_EQ(ReleaseLock("PressupH"), 0);
  RefusingFileSystem refusing("PressupH.lck", EACCES, -1);
  platform::ScopedFileSystem scoped(refusing);
  Locks().LockWaitMode = 'P';
  notice_.keys = {0, 'a', 27};
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  const std::vector<std::string> expected = {
      "show 24 NO ES POT ACCEDIR AL FITXER " + path + " (" + std::string("PERMÍS DENEGAT"_cp) +
          "). ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR.",
      "discard", "hide"};
  EXPECT_EQ(notice_.events, expected);
  EXPECT_EQ(clock_.pauses, 3);
}

TEST_F(LocksTest, TheFailureIsSaidInTheSessionLanguage) {
  SKIP_ON_SERVER();
  const std::string path = LockPath("PressupH").string();
  const std::pair<const char*, std::string> cases[] = {
      {"SPA", "NO SE PUEDE ACCEDER AL FICHERO " + path +
                  " (PERMISO DENEGADO). ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR."},
      {"GLG", "NOM SE PODE ACEDER AO FICHEIRO " + path +
                  " (PERMISO DENEGADO). ESPERE UM MOMENTO OU PULSE [ESC] PARA SAIR."},
      {"OCI", "NON SE P\xD2T ACCEDIR ATH FICH\xC8R " + path + " (" + std::string("PERMÍS REFUSAT"_cp) +
                  "). ESPERATZ UN MOMENT O POSSATZ [ESC] ENT\xC0 G\xC8SSER."},
  };
  for (const auto& [language, text] : cases) {
    config::Session().Language = language;
    RefusingFileSystem refusing("PressupH.lck", EACCES, -1);
    platform::ScopedFileSystem scoped(refusing);
    Locks().LockWaitMode = 'P';
    notice_.events.clear();
    notice_.keys = {27};
    EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
    ASSERT_FALSE(notice_.events.empty());
    EXPECT_EQ(notice_.events[0], "show 24 " + text);
  }
}

TEST_F(LocksTest, TheDefaultModeWaitsWithTheMessageUntilTheFileCanBeOpenedOrTheOperatorGivesUp) {
  SKIP_ON_SERVER();
  const std::string message = "show 24 NO ES POT ACCEDIR AL FITXER " + LockPath("PropietH").string() + " (" +
                              std::string("PERMÍS DENEGAT"_cp) + "). ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR.";
  {
    RefusingFileSystem refusing("PropietH.lck", EACCES, 25);
    platform::ScopedFileSystem scoped(refusing);
    EXPECT_EQ(LockKey("PropietH", "\x81\x85"), 0);
    // Keys typed ahead are dropped, as Esc is offered.
    EXPECT_EQ(notice_.events, (std::vector<std::string>{message, "discard", "hide"}));
    EXPECT_EQ(clock_.pauses, 25);
  }
  ASSERT_EQ(ReleaseLock("PropietH"), 0);
  // Nothing but a repair ends the wait for a file out of reach: Esc gives
  // it up even where a held lock would be waited out without limit.
  notice_.events.clear();
  notice_.keys = {'x', 27};
  RefusingFileSystem refusing("PropietH.lck", EACCES, -1);
  platform::ScopedFileSystem scoped(refusing);
  EXPECT_EQ(LockKey("PropietH", "\x81\x85"), -1);
  EXPECT_EQ(notice_.events, (std::vector<std::string>{message, "discard", "hide"}));
}

TEST_F(LocksTest, ModeSDoesNotWaitForAFileOutOfReach) {
  SKIP_ON_SERVER();
  RefusingFileSystem refusing("PressupH.lck", EACCES, -1);
  platform::ScopedFileSystem scoped(refusing);
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  EXPECT_EQ(clock_.pauses, 0);
  EXPECT_TRUE(notice_.events.empty());
  EXPECT_NE(Locks().LastRefusal.find("NO ES POT ACCEDIR AL FITXER "), std::string::npos) << Locks().LastRefusal;
  EXPECT_NE(Locks().LastRefusal.find("PressupH.lck (PERMÍS DENEGAT)"_cp), std::string::npos) << Locks().LastRefusal;
  EXPECT_TRUE(Locks().LastRefusalUnreachable);
}

TEST_F(LocksTest, ThingsInTheWayOfTheLockFileAreNamed) {
  SKIP_ON_SERVER();
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string named, reason;
  };
  const std::string lockFolder = (dir_ / "LOCKS").string();
  const Case cases[] = {
      {"a folder in place of the lock file", [&] { fs::create_directories(LockPath("PressupH")); },
       LockPath("PressupH").string(), std::string("ÉS UNA CARPETA"_cp)},
      {"a file in place of the LOCKS folder", [&] { std::ofstream(dir_ / "LOCKS") << "x"; }, lockFolder,
       std::string("NO ÉS UNA CARPETA"_cp)},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ / "LOCKS");
    c.arrange();
    Locks().LockWaitMode = 'P';
    notice_.events.clear();
    notice_.keys = {0, 27};
    EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1) << c.what;
    ASSERT_EQ(notice_.events.size(), 3u) << c.what;
    EXPECT_EQ(notice_.events[0], "show 24 NO ES POT ACCEDIR AL FITXER " + c.named + " (" + c.reason +
                                     "). ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR.")
        << c.what;
    EXPECT_EQ(notice_.events[2], "hide") << c.what;
    // Nothing else was done to what stood in the way.
    EXPECT_EQ(ReleaseLock("PressupH"), -1) << c.what;
  }
  EXPECT_EQ(ReadLock("PressupH"), "");
  EXPECT_TRUE(fs::is_regular_file(dir_ / "LOCKS"));
}

TEST_F(LocksTest, AFolderThatCannotBeMadeIsNamed) {
  SKIP_ON_SERVER();
  RefusingFileSystem refusing("LOCKS", EACCES, -1);
  platform::ScopedFileSystem scoped(refusing);
  Locks().LockWaitMode = 'P';
  notice_.keys = {27};
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  ASSERT_EQ(notice_.events.size(), 3u);
  EXPECT_EQ(notice_.events[0], "show 24 NO ES POT ACCEDIR AL FITXER " + (dir_ / "LOCKS").string() + " (" +
                                   std::string("PERMÍS DENEGAT"_cp) +
                                   "). ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR.");
}

TEST_F(LocksTest, AWriteThatFailsIsNotALockTaken) {
  SKIP_ON_SERVER();
  class FullDisk : public platform::FileSystemWrapper {
   public:
    FullDisk() : FileSystemWrapper(platform::RealFileSystem()) {}
    std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                         mode_t mode) override {
      std::unique_ptr<platform::File> real = target().Open(path, flags, status, mode);
      if (!real || !path.ends_with(".lck")) return real;
      struct NoRoom : platform::FileWrapper {
        using FileWrapper::FileWrapper;
        platform::FileStatus WriteAt(std::uint64_t, std::string_view) override {
          return platform::FileStatus{ENOSPC};
        }
      };
      return std::make_unique<NoRoom>(std::move(real));
    }
  } full;
  platform::ScopedFileSystem scoped(full);
  Locks().LockWaitMode = 'P';
  notice_.keys = {27};
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  ASSERT_FALSE(notice_.events.empty());
  EXPECT_THAT(notice_.events[0], HasSubstr(LockPath("PressupH").string() + " (DISC PLE)."));
  // Nothing is held: another program takes the property at once.
  OtherLockHolder probe("PressupH", 0);
  EXPECT_TRUE(probe.held());
}

TEST_F(LocksTest, NewLockFilesAndFolderAreSharedWithTheGroup) {
  SKIP_ON_SERVER();
  const mode_t previous = ::umask(022);
  const int taken = LockKey("PressupH", "\x81\x85");
  ::umask(previous);
  ASSERT_EQ(taken, 0);
  struct stat folder {}, file {}, root {};
  ASSERT_EQ(::stat((dir_ / "LOCKS").c_str(), &folder), 0);
  ASSERT_EQ(::stat(LockPath("PressupH").c_str(), &file), 0);
  ASSERT_EQ(::stat(dir_.c_str(), &root), 0);
  // The folder hands its group (the suite root's) on to the files made in it.
  EXPECT_EQ(folder.st_mode & 07777, 02770u);
  EXPECT_EQ(folder.st_gid, root.st_gid);
  EXPECT_EQ(file.st_mode & 0777, 0660u);
  EXPECT_EQ(file.st_gid, folder.st_gid);
}

TEST_F(LocksTest, TheTemporaryFolderIsClaimedOnceByThisProcess) {
  TempFolderClaim first = ClaimTempFolder();
  EXPECT_TRUE(first.claimed);
  EXPECT_TRUE(ClaimTempFolder().claimed);  // again: still this process's
  std::ifstream in(dir_ / "tmp" / "Sessio.lck");
  std::string pid;
  in >> pid;
  EXPECT_EQ(pid, std::to_string(::getpid()));
  // Seen from another program, the folder is taken.
  const int fd = ::open((dir_ / "tmp" / "Sessio.lck").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  EXPECT_NE(::fcntl(fd, F_OFD_SETLK, &whole), 0);
  ReleaseTempFolder();
  EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &whole), 0);
  // Now this test's descriptor has it: the module would be refused.
  config::Session().Language = "SPA";
  TempFolderClaim refused = ClaimTempFolder();
  EXPECT_FALSE(refused.claimed);
  EXPECT_EQ(refused.message, "OTRO PROGRAMA (PROCESO " + pid + ") " +
                                 std::string("YA ESTÁ USANDO LA CARPETA TEMPORAL "_cp) + (dir_ / "tmp").string() +
                                 "/");
  EXPECT_THAT(refused.detail, HasSubstr("process " + pid));
  ::close(fd);
  EXPECT_TRUE(ClaimTempFolder().claimed);
}

}  // namespace
}  // namespace data
