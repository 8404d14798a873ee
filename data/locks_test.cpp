#include "data/locks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>

#include "config/session.h"
#include "data/notice.h"

namespace data {
namespace {

namespace fs = std::filesystem;

// A clock that moves only when the code pauses.
struct FakeClock : platform::SystemWrapper {
  FakeClock() : SystemWrapper(platform::RealSystem()) {}
  std::int64_t seconds = 1'700'000'000;  // 2023-11-14 22:13:20
  int pauses = 0;
  std::int64_t pausedMs = 0;
  double fraction = 0.5;
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
    fs::remove_all(dir_);
  }
  std::int64_t Clock() { return LockClock(clock_.Now()); }
  fs::path LockPath(const std::string& name) { return dir_ / "LOCKS" / (name + ".lck"); }
  std::string ReadLock(const std::string& name) {
    std::ifstream in(LockPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteLock(const std::string& name, const std::string& bytes) {
    fs::create_directories(dir_ / "LOCKS");
    std::ofstream(LockPath(name), std::ios::binary) << bytes;
  }
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

TEST_F(LocksTest, ExpiryAtThirtyOneMinutesNotAtTwentyNine) {
  WriteLock("PressupH", Record("OTHER", "12345", Clock() - 29, 'K', "0105", "0105"));
  Locks().LockWaitMode = 's';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  WriteLock("PressupH", Record("OTHER", "12345", Clock() - 31, 'K', "0105", "0105"));
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  // The expired record was reused in place.
  std::string after = ReadLock("PressupH");
  ASSERT_EQ(after.size(), kLockRecordSize);
  EXPECT_EQ(after.substr(15, 11), (OwnIdText() + "           ").substr(0, 11));
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
  EXPECT_FALSE(fs::exists(LockPath("NoSuchLock")));
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
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105"));
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  EXPECT_EQ(clock_.pauses, 0);
  EXPECT_TRUE(notice_.events.empty());
}

TEST_F(LocksTest, ModePIsGivenUpWithEsc) {
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105"));
  Locks().LockWaitMode = 'p';
  config::Session().Language = "SPA";
  notice_.keys = {'x', 0, 27};
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  const std::vector<std::string> expected = {
      "show 24 FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR.", "discard", "hide"};
  EXPECT_EQ(notice_.events, expected);
  EXPECT_EQ(clock_.pauses, 3);
  EXPECT_EQ(clock_.pausedMs, 3 * 501);
}

TEST_F(LocksTest, DefaultModeWaitsUntilTheLockExpires) {
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105"));
  const std::int64_t start = clock_.seconds;
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), 0);
  const std::vector<std::string> expected = {"show 24 FITXER BLOQUEJAT. ESPEREU UN MOMENT.", "hide"};
  EXPECT_EQ(notice_.events, expected);
  EXPECT_GE(clock_.seconds - start, 30 * 60);
  EXPECT_LE(clock_.seconds - start, 32 * 60);
}

TEST_F(LocksTest, BadLockFilesAreReadAsTheirWholeRecords) {
  std::string garbage(kLockRecordSize, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 37 + 11);
  garbage[34] = 'K';
  WriteLock("PressupH", Record("OTHER", "12345", Clock(), 'K', "0105", "0105") + garbage +
                            "a half-written record");
  Locks().LockWaitMode = 'S';
  EXPECT_EQ(LockKey("PressupH", "\x81\x85"), -1);
  ASSERT_EQ(LockKey("PressupH", "\x81\x86"), 0);
  std::string file = ReadLock("PressupH");
  // The garbled record counts as expired and is reused; the partial tail is
  // left alone.
  ASSERT_EQ(file.size(), 2 * kLockRecordSize + 21);
  EXPECT_EQ(file.substr(kLockRecordSize + 37, 4), "0106");
  EXPECT_EQ(file.substr(2 * kLockRecordSize - 2), "\r\na half-written record");
  EXPECT_EQ(ReleaseLock("PressupH"), 0);
  // Only a tail: the first record goes at the start.
  WriteLock("PropietH", "short");
  ASSERT_EQ(LockKey("PropietH", "\x81\x86"), 0);
  EXPECT_EQ(ReadLock("PropietH").size(), kLockRecordSize);
}

}  // namespace
}  // namespace data
