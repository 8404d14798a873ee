#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "data/btrcall.h"
#include "data/engine/postgres_session.h"
#include "data/engine/record_manager.h"
#include "data/engine/testing/sqlite_log.h"

namespace recordmanager {
namespace {

// Whether these tests run on the server storage (see testing/).
bool OnServer() {
  const char* server = std::getenv("KITDB");
  return server && *server;
}

struct Seg {
  int pos, len, flags;
};

std::string Creation(int recordLength, const std::vector<std::vector<Seg>>& keys, const std::string& table = "") {
  std::string c(16, '\0');
  base::WriteLe<std::uint16_t>(c, 0, recordLength);
  base::WriteLe<std::uint16_t>(c, 2, 512);
  base::WriteLe<std::uint16_t>(c, 4, static_cast<int>(keys.size()));
  for (const auto& key : keys)
    for (std::size_t i = 0; i < key.size(); ++i) {
      std::string s(16, '\0');
      base::WriteLe<std::uint16_t>(s, 0, key[i].pos);
      base::WriteLe<std::uint16_t>(s, 2, key[i].len);
      base::WriteLe<std::uint16_t>(s, 4, key[i].flags | (i + 1 < key.size() ? kSegNextFollows : 0));
      c += s;
    }
  if (!table.empty()) c += std::string("\xAC") + "UPPER   " + table;
  return c;
}

class File {
 public:
  File(const std::string& path, const std::string& creation) : path_(path) {
    std::string buffer = creation + std::string(200, ' ');  // callers send a padded buffer
    std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
    std::string key = path;
    created = BTRCALL(kCreate, block_, buffer.data(), &len, key.data(), static_cast<std::uint8_t>(key.size()), -1);
    opened = Open();
  }
  ~File() { Call(kClose, 0); }
  std::int16_t Open() {
    std::string key = path_;
    char owner[5] = {};
    std::uint32_t len = 5;
    return BTRCALL(kOpen, block_, owner, &len, key.data(), static_cast<std::uint8_t>(key.size()), 0);
  }
  std::int16_t Call(int op, int keyNumber, std::string* record = nullptr, std::string key = "") {
    std::string data = record ? *record : std::string(64, ' ');
    std::uint32_t len = static_cast<std::uint32_t>(data.size());
    key.resize(std::max<std::size_t>(key.size(), 32), '\0');
    std::string keyBuf = key;
    std::int16_t s = BTRCALL(static_cast<std::uint16_t>(op), block_, data.data(), &len, keyBuf.data(),
                             static_cast<std::uint8_t>(key.size()), static_cast<std::int8_t>(keyNumber));
    if (record) *record = data.substr(0, len);
    lastKey = keyBuf;
    return s;
  }
  std::int16_t Insert(const std::string& record) {
    std::string r = record;
    return Call(kInsert, 0, &r);
  }
  // The number of records a stat reports (-1 when the stat fails).
  std::int64_t StatCount() {
    std::string stat(1536, ' ');
    if (Call(kStat, 0, &stat) != kOk) return -1;
    return base::ReadLe<std::uint32_t>(stat, 6);
  }
  // The records along `key` from first to last (first bytes of each).
  std::string Walk(int key, int op = kGetFirst, int step = kGetNext, std::size_t width = 2) {
    std::string out, r(20, ' ');
    for (std::int16_t s = Call(op, key, &r); s == 0; s = Call(step, key, &r)) {
      out += r.substr(0, width) + " ";
      r.assign(20, ' ');
    }
    return out;
  }
  std::int16_t created = -1, opened = -1;
  std::string lastKey;
  unsigned char block_[128] = {};

 private:
  std::string path_;
};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/engineXXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override {
    std::uint32_t len = 0;
    BTRCALL(kReset, nullptr, nullptr, &len, nullptr, 0, 0);
    std::system(("rm -rf " + dir_).c_str());
  }
  std::string Path(const std::string& name) { return dir_ + "/" + name; }
  std::string dir_;
};

// Records of 20 bytes: key 0 unique on bytes 1-2, key 1 with duplicates and
// modifiable on bytes 3-4.
std::string TwoKeys() { return Creation(20, {{{1, 2, 0}}, {{3, 2, kSegDuplicates | kSegModifiable}}}); }
std::string Rec(const std::string& k0, const std::string& k1) {
  std::string r = k0 + k1;
  r.resize(20, '.');
  return r;
}

TEST_F(Engine, CreateOpenStatAndTheStatusesAroundThem) {
  File f(Path("a.dat"), TwoKeys());
  ASSERT_EQ(f.created, kOk);
  ASSERT_EQ(f.opened, kOk);
  ASSERT_EQ(f.Insert(Rec("01", "xx")), kOk);
  std::string stat(1536, ' ');
  ASSERT_EQ(f.Call(kStat, 0, &stat), kOk);
  std::string expected = TwoKeys();
  EXPECT_EQ(stat.substr(0, 6), expected.substr(0, 6));
  EXPECT_EQ(stat[6], 1);  // one record
  EXPECT_EQ(stat.substr(16), expected.substr(16));
  std::string shortBuf(10, ' ');
  EXPECT_EQ(f.Call(kStat, 0, &shortBuf), kBufferTooShort);
  // The layout alone: the same bytes, no count.
  std::string layout(1536, ' ');
  ASSERT_EQ(f.Call(kStat, kStatLayoutOnly, &layout), kOk);
  EXPECT_EQ(layout.substr(0, 6), stat.substr(0, 6));
  EXPECT_EQ(layout.substr(6, 4), std::string(4, '\0'));
  EXPECT_EQ(layout.substr(10), stat.substr(10));
  // On files the count follows every change, whoever makes it, also when
  // asked twice in a row (the server keeps the count it took when first
  // asked, moved by that open's own writes).
  File second(Path("a.dat"), TwoKeys());
  ASSERT_EQ(second.Insert(Rec("02", "yy")), kOk);
  std::string found(20, ' ');
  if (!OnServer()) {
    EXPECT_EQ(f.StatCount(), 2);
    EXPECT_EQ(f.StatCount(), 2);
    ASSERT_EQ(f.Call(kGetEqual, 0, &found, "02"), kOk);
    ASSERT_EQ(f.Call(kDelete, 0), kOk);
    EXPECT_EQ(second.StatCount(), 1);
  } else {
    ASSERT_EQ(second.Call(kGetEqual, 0, &found, "02"), kOk);
    ASSERT_EQ(second.Call(kDelete, 0), kOk);
  }

  // Another program may have created the file a moment before: what it
  // made is what this one wanted, so that is no failure. A different file
  // under the name is.
  File again(Path("a.dat"), TwoKeys());
  EXPECT_EQ(again.created, kOk);
  EXPECT_EQ(again.Walk(0), "01 ");
  File other(Path("a.dat"), Creation(20, {{{1, 4, 0}}}));
  EXPECT_EQ(other.created, kFileExists);
  unsigned char block[128] = {};
  std::string missing = Path("none.dat");
  std::uint32_t len = 0;
  EXPECT_EQ(BTRCALL(kOpen, block, nullptr, &len, missing.data(), static_cast<std::uint8_t>(missing.size()), 0),
            kFileNotFound);
  if (!OnServer()) {  // the server reads no files at the path
    std::ofstream(Path("text.dat")) << "not a database at all, just text that is long enough to look at";
    std::string text = Path("text.dat");
    EXPECT_EQ(BTRCALL(kOpen, block, nullptr, &len, text.data(), static_cast<std::uint8_t>(text.size()), 0),
              kNotOurFile);
  }
  unsigned char never[128] = {};
  std::string r(20, ' ');
  EXPECT_EQ(BTRCALL(kGetFirst, never, r.data(), &len, nullptr, 0, 0), kFileNotOpen);
}

TEST_F(Engine, BadCreationRecordsAreRefusedAndCreateNothing) {
  struct Case {
    std::string creation;
    std::int16_t status;
  } cases[] = {
      {Creation(0, {{{1, 2, 0}}}), kBadRecordLength},
      {Creation(20, {}), kBadKeyCount},
      {Creation(20, {{{1, 0, 0}}}), kBadSegment},
      {Creation(20, {{{19, 4, 0}}}), kBadRecordLength},
      {Creation(20, {{{1, 2, kSegAlternate}}}), kBadCollating},
      {std::string(10, '\0'), kBadKeyCount},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string path = Path("bad" + std::to_string(n++));
    std::string buffer = c.creation;
    std::uint32_t len = static_cast<std::uint32_t>(buffer.size());
    unsigned char block[128] = {};
    EXPECT_EQ(BTRCALL(kCreate, block, buffer.data(), &len, path.data(), static_cast<std::uint8_t>(path.size()), -1),
              c.status)
        << n;
    EXPECT_NE(access(path.c_str(), F_OK), 0);
  }
}

TEST_F(Engine, DuplicatesComeInInsertionOrderBothWays) {
  File f(Path("d.dat"), TwoKeys());
  for (auto [a, b] : {std::pair{"01", "bb"}, {"02", "aa"}, {"03", "bb"}, {"04", "aa"}, {"05", "bb"}})
    ASSERT_EQ(f.Insert(Rec(a, b)), kOk);
  EXPECT_EQ(f.Insert(Rec("03", "zz")), kDuplicateKey);
  EXPECT_EQ(f.Walk(1), "02 04 01 03 05 ");
  EXPECT_EQ(f.Walk(1, kGetLast, kGetPrevious), "05 03 01 04 02 ");
  std::string r(20, ' ');
  ASSERT_EQ(f.Call(kGetEqual, 1, &r, "bb"), kOk);
  EXPECT_EQ(r.substr(0, 2), "01");
  EXPECT_EQ(f.lastKey.substr(0, 2), "bb");  // the key as it stands in the record
  ASSERT_EQ(f.Call(kGetNext, 1, &r), kOk);
  EXPECT_EQ(r.substr(0, 2), "03");
  EXPECT_EQ(f.Call(kGetEqual, 1, &r, "cc"), kKeyNotFound);
}

TEST_F(Engine, PartialKeysAndTheComparisonReads) {
  File f(Path("p.dat"), Creation(20, {{{1, 4, 0}}}));
  for (auto k : {"1000", "1005", "2000", "2001"}) ASSERT_EQ(f.Insert(Rec(k, "")), kOk);
  std::string r(20, ' ');
  // A partial key padded with zero bytes finds the first of its group.
  ASSERT_EQ(f.Call(kGetGreaterOrEqual, 0, &r, std::string("20\0\0", 4)), kOk);
  EXPECT_EQ(r.substr(0, 4), "2000");
  ASSERT_EQ(f.Call(kGetGreater, 0, &r, "2000"), kOk);
  EXPECT_EQ(r.substr(0, 4), "2001");
  ASSERT_EQ(f.Call(kGetLessOrEqual, 0, &r, std::string("10\xFF\xFF", 4)), kOk);
  EXPECT_EQ(r.substr(0, 4), "1005");
  ASSERT_EQ(f.Call(kGetLess, 0, &r, "1005"), kOk);
  EXPECT_EQ(r.substr(0, 4), "1000");
  EXPECT_EQ(f.Call(kGetGreater, 0, &r, "2001"), kEndOfFile);

}

TEST_F(Engine, DeletingWhileWalkingGoesOnFromTheDeletedPlace) {
  File f(Path("w.dat"), TwoKeys());
  for (auto a : {"01", "02", "03", "04", "05"}) ASSERT_EQ(f.Insert(Rec(a, "kk")), kOk);
  std::string r(20, ' ');
  std::string kept;
  for (std::int16_t s = f.Call(kGetEqual, 1, &r, "kk"); s == 0; s = f.Call(kGetNext, 1, &r)) {
    if (r[1] == '2' || r[1] == '3')
      ASSERT_EQ(f.Call(kDelete, 1), kOk);
    else
      kept += r.substr(0, 2) + " ";
  }
  EXPECT_EQ(kept, "01 04 05 ");
  EXPECT_EQ(f.Walk(0), "01 04 05 ");
  ASSERT_EQ(f.Call(kGetEqual, 0, &r, "04"), kOk);
  ASSERT_EQ(f.Call(kDelete, 0), kOk);
  EXPECT_EQ(f.Call(kDelete, 0), kNoCurrentRecord);
  ASSERT_EQ(f.Call(kGetPrevious, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 2), "01");
}

TEST_F(Engine, UpdatingAKeyMovesTheRecordToTheEndOfItsNewGroup) {
  File f(Path("u.dat"), TwoKeys());
  for (auto [a, b] : {std::pair{"01", "aa"}, {"02", "bb"}, {"03", "bb"}}) ASSERT_EQ(f.Insert(Rec(a, b)), kOk);
  std::string r(20, ' ');
  ASSERT_EQ(f.Call(kGetEqual, 1, &r, "aa"), kOk);
  std::string changed = Rec("01", "bb");
  ASSERT_EQ(f.Call(kUpdate, 1, &changed), kOk);
  EXPECT_EQ(f.Walk(1), "02 03 01 ");
  // The cursor stays on the updated record.
  ASSERT_EQ(f.Call(kGetEqual, 0, &r, "02"), kOk);
  std::string notModifiable = Rec("09", "bb");
  EXPECT_EQ(f.Call(kUpdate, 0, &notModifiable), kKeyNotModifiable);
  std::string fresh(20, ' ');
  unsigned char block[128] = {};
  std::uint32_t len = 20;
  EXPECT_EQ(BTRCALL(kUpdate, block, fresh.data(), &len, nullptr, 0, 0), kFileNotOpen);
  File g(Path("u2.dat"), TwoKeys());
  std::string any = Rec("01", "aa");
  EXPECT_EQ(g.Call(kUpdate, 0, &any), kNoCurrentRecord);
}

TEST_F(Engine, ShortBuffersPositionsAndDirectReads) {
  File f(Path("s.dat"), TwoKeys());
  ASSERT_EQ(f.Insert(Rec("01", "aa")), kOk);
  ASSERT_EQ(f.Insert(Rec("02", "aa")), kOk);
  std::string small(5, ' ');
  EXPECT_EQ(f.Call(kGetFirst, 0, &small), kBufferTooShort);
  EXPECT_EQ(small, "01aa.");
  std::string pos(4, '\0');
  ASSERT_EQ(f.Call(kGetPosition, 0, &pos), kOk);
  std::string r(20, ' ');
  ASSERT_EQ(f.Call(kGetLast, 0, &r), kOk);
  std::string direct = pos + std::string(16, ' ');
  ASSERT_EQ(f.Call(kGetDirect, 0, &direct), kOk);
  EXPECT_EQ(direct.substr(0, 2), "01");
  ASSERT_EQ(f.Call(kGetNext, 0, &r), kOk);  // the cursor follows the direct read
  EXPECT_EQ(r.substr(0, 2), "02");
  std::string bad("\x63\0\0\0", 4);
  bad += std::string(16, ' ');
  EXPECT_EQ(f.Call(kGetDirect, 0, &bad), kInvalidPosition);
  // Positions are never reused after a delete.
  ASSERT_EQ(f.Call(kGetFirst, 0, &r), kOk);
  ASSERT_EQ(f.Call(kDelete, 0), kOk);
  ASSERT_EQ(f.Insert(Rec("03", "aa")), kOk);
  std::string newPos(4, '\0');
  ASSERT_EQ(f.Call(kGetPosition, 0, &newPos), kOk);
  EXPECT_NE(newPos, pos);
}

TEST_F(Engine, BinarySegmentsOrderLittleEndianIntegersAndCollatingSequencesFold) {
  File f(Path("b.dat"), Creation(20, {{{1, 2, kSegBinary | kSegDuplicates}}}));
  for (int v : {300, 2, 256, 1}) {
    std::string r(20, '.');
    base::WriteLe<std::uint16_t>(r, 0, v);
    ASSERT_EQ(f.Insert(r), kOk);
  }
  std::string order, r(20, ' ');
  for (std::int16_t s = f.Call(kGetFirst, 0, &r); s == 0; s = f.Call(kGetNext, 0, &r))
    order += std::to_string(base::ReadLe<std::uint16_t>(r, 0)) + " ";
  EXPECT_EQ(order, "1 2 256 300 ");

  std::string upper(256, '\0');
  for (int i = 0; i < 256; ++i) upper[static_cast<std::size_t>(i)] = static_cast<char>(i >= 'a' && i <= 'z' ? i - 32 : i);
  File c(Path("c.dat"), Creation(20, {{{1, 3, kSegAlternate | kSegDuplicates}}}, upper));
  ASSERT_EQ(c.created, kOk);
  for (auto k : {"bob", "ADA", "Bea", "ada"}) ASSERT_EQ(c.Insert(Rec(k, "")), kOk);
  EXPECT_EQ(c.Walk(0, kGetFirst, kGetNext, 3), "ADA ada Bea bob ");
  std::string stat(1536, ' ');
  ASSERT_EQ(c.Call(kStat, 0, &stat), kOk);
  EXPECT_EQ(static_cast<unsigned char>(stat[32]), 0xAC);
  EXPECT_EQ(stat.substr(41, 256), upper);
}

TEST_F(Engine, AbortedTransactionsLeaveNothingAndEndedOnesEverything) {
  File f(Path("t.dat"), TwoKeys());
  std::uint32_t len = 0;
  ASSERT_EQ(BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  ASSERT_EQ(f.Insert(Rec("01", "aa")), kOk);
  ASSERT_EQ(f.Insert(Rec("02", "aa")), kOk);
  EXPECT_EQ(f.StatCount(), 2);  // first asked inside: its own writes count
  ASSERT_EQ(BTRCALL(kAbortTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  EXPECT_EQ(f.Walk(0), "");
  EXPECT_EQ(f.StatCount(), 0);
  ASSERT_EQ(BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  ASSERT_EQ(f.Insert(Rec("03", "aa")), kOk);
  ASSERT_EQ(f.Insert(Rec("04", "aa")), kOk);
  ASSERT_EQ(BTRCALL(kAbortTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  EXPECT_EQ(f.StatCount(), 0);
  ASSERT_EQ(BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  ASSERT_EQ(f.Insert(Rec("03", "aa")), kOk);
  ASSERT_EQ(BTRCALL(kEndTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  EXPECT_EQ(f.Walk(0), "03 ");
  EXPECT_EQ(f.StatCount(), 1);
  EXPECT_EQ(BTRCALL(kEndTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kInvalidOperation);
}

// A program may find a file missing inside its transaction, make it and
// write to it there: the miss does not spoil the transaction.
TEST_F(Engine, AFileMadeInsideATransactionIsWrittenWithIt) {
  File f(Path("t.dat"), TwoKeys());
  std::uint32_t len = 0;
  ASSERT_EQ(BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  ASSERT_EQ(f.Insert(Rec("01", "aa")), kOk);
  unsigned char block[128] = {};
  std::string key = Path("new.dat");
  char owner[5] = {};
  len = 5;
  EXPECT_EQ(BTRCALL(kOpen, block, owner, &len, key.data(), static_cast<std::uint8_t>(key.size()), 0), kFileNotFound);
  File made(Path("new.dat"), TwoKeys());
  ASSERT_EQ(made.created, kOk);
  ASSERT_EQ(made.opened, kOk);
  ASSERT_EQ(made.Insert(Rec("07", "bb")), kOk);
  ASSERT_EQ(f.Insert(Rec("02", "aa")), kOk);
  ASSERT_EQ(BTRCALL(kEndTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  EXPECT_EQ(f.Walk(0), "01 02 ");
  EXPECT_EQ(made.Walk(0), "07 ");
}

// A server that ended the program's session (restarted, or told to by an
// administrator) has said so and closed it: the next call, a write as well
// as a read, is answered on a new session instead of failing.
TEST_F(Engine, TheCallAfterTheServerEndedTheSessionIsAnsweredOnANewOne) {
  if (!OnServer()) GTEST_SKIP() << "sessions are the server's";
  File f(Path("a.dat"), TwoKeys());
  ASSERT_EQ(f.opened, 0);
  ASSERT_EQ(f.Insert(Rec("01", "aa")), 0);
  const int pid = pg::Session::Get().BackendPid();
  ASSERT_NE(pid, 0);
  PGconn* admin = PQconnectdb(std::getenv("KITDB"));
  ASSERT_EQ(PQstatus(admin), CONNECTION_OK);
  PQclear(PQexec(admin, ("SELECT pg_terminate_backend(" + std::to_string(pid) + ")").c_str()));
  // Gone once its process is: the server runs on this machine.
  for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i) usleep(10 * 1000);
  PQfinish(admin);
  EXPECT_EQ(f.Insert(Rec("02", "bb")), 0);
  EXPECT_NE(pg::Session::Get().BackendPid(), pid);
  std::string r = Rec("02", "");
  EXPECT_EQ(f.Call(kGetEqual + kSingleNoWaitLock, 0, &r, "02"), 0);
  EXPECT_EQ(f.Walk(0), "01 02 ");
}

TEST_F(Engine, ALockedRecordRefusesOtherHandlesUntilReleased) {
  File a(Path("l.dat"), TwoKeys());
  ASSERT_EQ(a.Insert(Rec("01", "aa")), kOk);
  File b(Path("l.dat"), TwoKeys());  // a second open of the same file
  ASSERT_EQ(b.opened, kOk);
  std::string r(20, ' ');
  ASSERT_EQ(a.Call(kGetEqual + kSingleNoWaitLock, 0, &r, "01"), kOk);
  EXPECT_EQ(b.Call(kGetEqual + kSingleNoWaitLock, 0, &r, "01"), kRecordLocked);
  ASSERT_EQ(b.Call(kGetEqual, 0, &r, "01"), kOk);  // reading without a lock is allowed
  std::string changed = Rec("01", "bb");
  EXPECT_EQ(b.Call(kUpdate, 0, &changed), kRecordLocked);
  EXPECT_EQ(b.Call(kDelete, 0), kRecordLocked);
  std::string mine = Rec("01", "cc");
  ASSERT_EQ(a.Call(kUpdate, 0, &mine), kOk);  // the update releases the lock
  ASSERT_EQ(b.Call(kGetEqual + kSingleNoWaitLock, 0, &r, "01"), kOk);
  EXPECT_EQ(r.substr(2, 2), "cc");  // and the other sees the new record
  ASSERT_EQ(b.Call(kUnlock, 0), kOk);
  EXPECT_EQ(a.Call(kGetEqual + kSingleNoWaitLock, 0, &r, "01"), kOk);
}

TEST_F(Engine, AWalkSeesWhatAnotherProgramChangesAheadOfIt) {
  File a(Path("r.dat"), TwoKeys());
  for (auto k : {"10", "20", "30", "40", "50"}) ASSERT_EQ(a.Insert(Rec(k, "aa")), kOk);
  File b(Path("r.dat"), TwoKeys());
  std::string r(20, ' ');
  ASSERT_EQ(a.Call(kGetFirst, 0, &r), kOk);
  ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);  // 20, and the records after it read ahead
  ASSERT_EQ(b.Insert(Rec("25", "aa")), kOk);
  ASSERT_EQ(b.Call(kGetEqual, 0, &r, "40"), kOk);
  ASSERT_EQ(b.Call(kDelete, 0), kOk);
  std::string rest;
  for (std::int16_t s = a.Call(kGetNext, 0, &r); s == 0; s = a.Call(kGetNext, 0, &r)) rest += r.substr(0, 2) + " ";
  EXPECT_EQ(rest, "25 30 50 ");
  // And its own changes too.
  ASSERT_EQ(a.Call(kGetFirst, 0, &r), kOk);
  ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);
  std::string changed = Rec("20", "zz");
  ASSERT_EQ(a.Call(kUpdate, 0, &changed), kOk);
  ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 2), "25");
  EXPECT_EQ(a.Walk(1, kGetFirst, kGetNext), "10 30 50 25 20 ");  // insertion order within "aa"
}

// Long walks go through several read-aheads, each larger than the last.
// Records: bytes 1-4 an even number (key 0, unique), byte 6 a group letter;
// key 1 is the group letter (duplicates) followed by bytes 1-2.
std::string LongRec(int n) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", n);
  std::string r = std::string(digits) + "." + static_cast<char>('a' + n % 3);
  r.resize(20, '.');
  return r;
}

class LongWalk : public Engine {
 protected:
  static constexpr int kCount = 3000;
  std::string Layout() { return Creation(20, {{{1, 4, 0}}, {{6, 1, kSegDuplicates}, {1, 2, kSegDuplicates}}}); }
  void Fill(File& f) {
    ASSERT_EQ(f.Call(kBeginTransaction, 0), kOk);
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(f.Insert(LongRec(2 * i)), kOk);
    ASSERT_EQ(f.Call(kEndTransaction, 0), kOk);
  }
  // Every record along `key` from `first` by `step`; checks the key buffer
  // of each against the record's bytes.
  std::vector<std::string> Walk(File& f, int key, int first, int step, int stopAfter = -1,
                                const std::function<void()>& atStop = {}) {
    std::vector<std::string> out;
    std::string r(20, ' ');
    for (std::int16_t s = f.Call(first, key, &r); s == 0; s = f.Call(step, key, &r)) {
      out.push_back(r.substr(0, 6));
      const std::string keyBytes = key == 0 ? r.substr(0, 4) : r.substr(5, 1) + r.substr(0, 2);
      EXPECT_EQ(f.lastKey.substr(0, keyBytes.size()), keyBytes) << r;
      if (static_cast<int>(out.size()) == stopAfter && atStop) atStop();
    }
    return out;
  }
};

TEST_F(LongWalk, EveryRecordOnceInKeyOrderBothWaysOnBothKeys) {
  File a(Path("l.dat"), Layout());
  Fill(a);
  std::vector<std::string> up, byGroup;
  for (int i = 0; i < kCount; ++i) up.push_back(LongRec(2 * i).substr(0, 6));
  for (char g : {'a', 'b', 'c'})
    for (const std::string& r : up)
      if (r[5] == g) byGroup.push_back(r);
  // Key 1 orders by group, then the record's first two digits; equal images
  // (same group and first two digits) keep insertion order.
  std::stable_sort(byGroup.begin(), byGroup.end(), [](const std::string& x, const std::string& y) {
    return std::make_pair(x[5], x.substr(0, 2)) < std::make_pair(y[5], y.substr(0, 2));
  });
  EXPECT_EQ(Walk(a, 0, kGetFirst, kGetNext), up);
  EXPECT_EQ(Walk(a, 1, kGetFirst, kGetNext), byGroup);
  std::reverse(up.begin(), up.end());
  std::reverse(byGroup.begin(), byGroup.end());
  EXPECT_EQ(Walk(a, 0, kGetLast, kGetPrevious), up);
  EXPECT_EQ(Walk(a, 1, kGetLast, kGetPrevious), byGroup);
  // Turning round in the middle of a read-ahead.
  std::string r(20, ' ');
  ASSERT_EQ(a.Call(kGetEqual, 0, &r, "1000"), kOk);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 4), "1200");
  for (int i = 0; i < 150; ++i) ASSERT_EQ(a.Call(kGetPrevious, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 4), "0900");
}

TEST_F(LongWalk, ChangesByAnotherHandleDeepInAWalkAreSeen) {
  File a(Path("l.dat"), Layout());
  Fill(a);
  File b(Path("l.dat"), Layout());
  // After 700 records the walk has read well ahead of itself.
  const std::vector<std::string> seen = Walk(a, 0, kGetFirst, kGetNext, 700, [&] {
    ASSERT_EQ(b.Insert(LongRec(1399)), kOk);  // right after the current record, 1398
    ASSERT_EQ(b.Insert(LongRec(1999)), kOk);
    std::string r(20, ' ');
    ASSERT_EQ(b.Call(kGetEqual, 0, &r, "1500"), kOk);
    ASSERT_EQ(b.Call(kDelete, 0), kOk);
  });
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kCount + 1));
  EXPECT_EQ(seen[699].substr(0, 4), "1398");
  EXPECT_EQ(seen[700].substr(0, 4), "1399");
  EXPECT_EQ(seen[701].substr(0, 4), "1400");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), LongRec(1500).substr(0, 6)), 0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), LongRec(1999).substr(0, 6)), 1);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

// This open's own writes among the records it read ahead: the walk takes
// them as the file has them, both ways and along a key with duplicates.
TEST_F(LongWalk, OwnWritesAmongTheRecordsReadAheadAreWalkedAsTheFileHasThem) {
  File a(Path("l.dat"), Layout());
  Fill(a);
  std::string r(20, ' ');
  ASSERT_EQ(a.Call(kGetEqual, 0, &r, "1000"), kOk);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);
  ASSERT_EQ(r.substr(0, 4), "1010");
  ASSERT_EQ(a.Call(kDelete, 0), kOk);
  ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 4), "1012");
  ASSERT_EQ(a.Insert(LongRec(1013)), kOk);
  ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 4), "1014");
  std::string seen;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(a.Call(kGetPrevious, 0, &r), kOk);
    seen += r.substr(0, 4) + " ";
  }
  EXPECT_EQ(seen, "1013 1012 1008 1006 ");
  // Key 1 (duplicates): a record inserted into the group being walked goes
  // to its end, beyond what was read ahead.
  ASSERT_EQ(a.Call(kGetEqual, 1, &r, "a00"), kOk);
  ASSERT_EQ(r.substr(0, 6), "0000.a");
  ASSERT_EQ(a.Call(kGetNext, 1, &r), kOk);
  ASSERT_EQ(r.substr(0, 6), "0006.a");
  std::string added = LongRec(3);
  ASSERT_EQ(a.Call(kInsert, 1, &added), kOk);
  ASSERT_EQ(a.Call(kGetNext, 1, &r), kOk);
  EXPECT_EQ(r.substr(0, 6), "0102.a");
  ASSERT_EQ(a.Call(kGetPrevious, 1, &r), kOk);
  EXPECT_EQ(r.substr(0, 6), "0003.a");
  ASSERT_EQ(a.Call(kGetPrevious, 1, &r), kOk);
  EXPECT_EQ(r.substr(0, 6), "0096.a");
}

// An update that would give a unique key a value another record has is
// refused with 5 and changes nothing; inside a transaction the refusal
// leaves the transaction's other writes in place.
TEST_F(Engine, AnUpdateToATakenUniqueKeyIsRefusedAndTheTransactionGoesOn) {
  File f(Path("k.dat"), Creation(20, {{{1, 2, kSegModifiable}}}));
  ASSERT_EQ(f.Insert(Rec("01", "aa")), kOk);
  ASSERT_EQ(f.Insert(Rec("02", "bb")), kOk);
  ASSERT_EQ(f.Call(kBeginTransaction, 0), kOk);
  ASSERT_EQ(f.Insert(Rec("03", "cc")), kOk);
  std::string r(20, ' ');
  ASSERT_EQ(f.Call(kGetEqual, 0, &r, "02"), kOk);
  std::string taken = Rec("01", "bb");
  EXPECT_EQ(f.Call(kUpdate, 0, &taken), kDuplicateKey);
  std::string free = Rec("04", "bb");
  ASSERT_EQ(f.Call(kGetEqual, 0, &r, "02"), kOk);
  EXPECT_EQ(f.Call(kUpdate, 0, &free), kOk);
  ASSERT_EQ(f.Call(kEndTransaction, 0), kOk);
  EXPECT_EQ(f.Walk(0, kGetFirst, kGetNext, 4), "01aa 03cc 04bb ");
}

// Files made before a unique key's own index served its order also carry an
// (image, seq) index for it: they read and write as the files made now.
TEST_F(Engine, AFileWithTheOlderIndexLayoutReadsAndWritesTheSame) {
  if (OnServer()) GTEST_SKIP() << "the index layout belongs to SQLite files";
  const std::string path = Path("o.dat");
  {
    File made(path, Creation(20, {{{1, 2, kSegModifiable}}, {{3, 2, kSegDuplicates}}}));
    ASSERT_EQ(made.created, kOk);
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "CREATE INDEX i0 ON records(k0, s0)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close_v2(db);

  File f(path, "");
  ASSERT_EQ(f.opened, kOk);
  for (auto [a, b] : {std::pair{"30", "aa"}, {"10", "bb"}, {"20", "aa"}}) ASSERT_EQ(f.Insert(Rec(a, b)), kOk);
  EXPECT_EQ(f.Insert(Rec("20", "cc")), kDuplicateKey);
  EXPECT_EQ(f.Walk(0), "10 20 30 ");
  EXPECT_EQ(f.Walk(0, kGetLast, kGetPrevious), "30 20 10 ");
  std::string r(20, ' ');
  ASSERT_EQ(f.Call(kGetEqual, 0, &r, "10"), kOk);
  std::string moved = Rec("40", "bb");
  ASSERT_EQ(f.Call(kUpdate, 0, &moved), kOk);
  EXPECT_EQ(f.Walk(0), "20 30 40 ");
  ASSERT_EQ(f.Call(kGetGreater, 0, &r, "20"), kOk);
  EXPECT_EQ(r.substr(0, 2), "30");
  EXPECT_EQ(f.Walk(1, kGetFirst, kGetNext, 4), "30aa 20aa 40bb ");
}

// Positioning reads inside what a walk read ahead are answered from it:
// the same answers as the file gives, and on a server no round trips.
TEST_F(LongWalk, PositioningReadsAmongTheRecordsReadAheadAnswerAsTheFileDoes) {
  File a(Path("l.dat"), Layout());
  Fill(a);
  const std::int64_t before = ServerRoundTrips();
  std::string r(20, ' '), seen;
  // Groups of ten: find the group's first record, then step through it.
  for (int group = 0; group < kCount / 10; ++group) {
    char start[8];
    std::snprintf(start, sizeof start, "%04d", 20 * group);
    ASSERT_EQ(a.Call(kGetGreaterOrEqual, 0, &r, start), kOk) << start;
    ASSERT_EQ(r.substr(0, 4), start);
    for (int i = 1; i < 10; ++i) ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);
    seen += r.substr(0, 4) + " ";
  }
  EXPECT_EQ(seen.substr(0, 15), "0018 0038 0058 ");
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kCount / 10 * 5));
  // Every comparison, from inside a window: around 1200 (records 1200, 1202).
  struct Probe {
    int op;
    const char* key;
    std::int16_t status;
    const char* found;
  } probes[] = {
      {kGetEqual, "1200", kOk, "1200"},       {kGetEqual, "1201", kKeyNotFound, ""},
      {kGetGreaterOrEqual, "1201", kOk, "1202"}, {kGetGreater, "1202", kOk, "1204"},
      {kGetLessOrEqual, "1203", kOk, "1202"},  {kGetLess, "1202", kOk, "1200"},
      {kGetGreater, "5998", kEndOfFile, ""},   {kGetLess, "0000", kEndOfFile, ""},
  };
  for (const Probe& p : probes) {
    ASSERT_EQ(a.Call(kGetEqual, 0, &r, "1190"), kOk);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(a.Call(kGetNext, 0, &r), kOk);  // reads ahead past 1200
    r.assign(20, ' ');
    EXPECT_EQ(a.Call(p.op, 0, &r, p.key), p.status) << p.op << " " << p.key;
    if (p.status == kOk) {
      EXPECT_EQ(r.substr(0, 4), p.found) << p.op << " " << p.key;
    }
  }
  // 3000 records in walks that double their read-ahead: a few dozen trips
  // on a server (none on files).
  EXPECT_LT(ServerRoundTrips() - before, 60);
}

// The data layer rereads each record it updates by its position; a walk
// that updates every record it meets (in one transaction, as the
// distribution does) keeps its read-ahead all the same.
TEST_F(LongWalk, AWalkUpdatingEveryRecordKeepsItsReadAhead) {
  File a(Path("l.dat"), Layout());
  Fill(a);
  const std::int64_t before = ServerRoundTrips();
  ASSERT_EQ(a.Call(kBeginTransaction, 0), kOk);
  std::string r(20, ' ');
  int updated = 0;
  for (std::int16_t s = a.Call(kGetFirst, 0, &r); s == 0; s = a.Call(kGetNext, 0, &r)) {
    std::string pos(4, '\0');
    ASSERT_EQ(a.Call(kGetPosition, 0, &pos), kOk);
    std::string changed = r;
    changed[19] = 'U';
    ASSERT_EQ(a.Call(kUpdate, 0, &changed), kOk);
    std::string again = pos + std::string(16, ' ');
    ASSERT_EQ(a.Call(kGetDirect, 0, &again), kOk);
    ASSERT_EQ(again, changed);
    ++updated;
    r.assign(20, ' ');
  }
  ASSERT_EQ(a.Call(kEndTransaction, 0), kOk);
  EXPECT_EQ(updated, kCount);
  // One trip per update, a few for the read-ahead and the commit.
  if (OnServer()) {
    EXPECT_LT(ServerRoundTrips() - before, kCount + 30);
  }
  File b(Path("l.dat"), Layout());
  int marked = 0;
  for (std::int16_t s = b.Call(kGetLast, 0, &r); s == 0; s = b.Call(kGetPrevious, 0, &r)) marked += r[19] == 'U';
  EXPECT_EQ(marked, kCount);
}

// A record whose key changes moves; a walk along that key goes on from its
// new place, before or after the rest.
TEST_F(Engine, AWalkGoesOnFromWhereItsOwnUpdateMovedTheRecord) {
  File f(Path("m.dat"), TwoKeys());
  for (int i = 0; i < 20; ++i) ASSERT_EQ(f.Insert(Rec(std::to_string(10 + i), "bb")), kOk);
  std::string r(20, ' '), walk;
  for (std::int16_t s = f.Call(kGetFirst, 1, &r); s == 0; s = f.Call(kGetNext, 1, &r)) {
    walk += r.substr(0, 2) + " ";
    if (r.substr(0, 2) == "15" && r.substr(2, 2) == "bb") {
      std::string changed = Rec("15", "aa");  // ahead of every "bb"
      ASSERT_EQ(f.Call(kUpdate, 1, &changed), kOk);
    }
    r.assign(20, ' ');
    if (walk.size() > 200) break;
  }
  EXPECT_EQ(walk, "10 11 12 13 14 15 10 11 12 13 14 16 17 18 19 20 21 22 23 24 25 26 27 28 29 ");
  walk.clear();
  for (std::int16_t s = f.Call(kGetEqual, 1, &r, "bb"); s == 0; s = f.Call(kGetNext, 1, &r)) {
    walk += r.substr(0, 2) + " ";
    if (r.substr(0, 2) == "12") {
      std::string changed = Rec("12", "cc");  // beyond every "bb"
      ASSERT_EQ(f.Call(kUpdate, 1, &changed), kOk);
    }
  }
  EXPECT_EQ(walk, "10 11 12 ");
  EXPECT_EQ(f.Walk(1), "15 10 11 13 14 16 17 18 19 20 21 22 23 24 25 26 27 28 29 12 ");
}

// What a transaction wrote and then aborted is gone from what was read
// ahead too.
TEST_F(Engine, AnAbortedTransactionLeavesNothingInWhatWasReadAhead) {
  File f(Path("x.dat"), TwoKeys());
  for (int i = 0; i < 20; ++i) ASSERT_EQ(f.Insert(Rec(std::to_string(10 + 2 * i), "aa")), kOk);
  std::string r(20, ' ');
  ASSERT_EQ(f.Call(kGetFirst, 0, &r), kOk);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(f.Call(kGetNext, 0, &r), kOk);  // 16, the rest read ahead
  std::string pos(4, '\0');
  ASSERT_EQ(f.Call(kGetPosition, 0, &pos), kOk);
  std::uint32_t len = 0;
  ASSERT_EQ(BTRCALL(kBeginTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  std::string changed = Rec("16", "zz");
  ASSERT_EQ(f.Call(kUpdate, 0, &changed), kOk);
  std::string direct = pos + std::string(16, ' ');
  ASSERT_EQ(f.Call(kGetDirect, 0, &direct), kOk);
  EXPECT_EQ(direct.substr(2, 2), "zz");
  ASSERT_EQ(f.Insert(Rec("17", "aa")), kOk);
  ASSERT_EQ(f.Call(kGetEqual, 0, &r, "16"), kOk);
  ASSERT_EQ(f.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 2), "17");
  ASSERT_EQ(BTRCALL(kAbortTransaction, nullptr, nullptr, &len, nullptr, 0, 0), kOk);
  direct = pos + std::string(16, ' ');
  ASSERT_EQ(f.Call(kGetDirect, 0, &direct), kOk);
  EXPECT_EQ(direct.substr(0, 4), "16aa");
  ASSERT_EQ(f.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 2), "18");
  EXPECT_EQ(f.StatCount(), 20);
}

// A reader keeps its read transaction open between calls on SQLite files;
// what others commit meanwhile is still read at once, and when the program
// rests it lets go, so that a checkpoint can empty the log.
TEST_F(Engine, AReaderSeesOthersCommitsAndLetsGoOfTheLogWhenTheProgramRests) {
  if (OnServer()) GTEST_SKIP() << "the log belongs to SQLite files";
  const std::string path = Path("r.dat");
  File reader(path, TwoKeys()), writer(path, TwoKeys());
  for (auto k : {"10", "20", "30"}) ASSERT_EQ(writer.Insert(Rec(k, "aa")), kOk);
  std::string r(20, ' ');
  ASSERT_EQ(reader.Call(kGetEqual, 0, &r, "20"), kOk);
  std::string changed = Rec("20", "zz");
  ASSERT_EQ(writer.Call(kGetEqual, 0, &r, "20"), kOk);
  ASSERT_EQ(writer.Call(kUpdate, 0, &changed), kOk);
  ASSERT_EQ(writer.Insert(Rec("25", "aa")), kOk);
  EXPECT_FALSE(testing::LogCanBeEmptied(path)) << "the reader kept nothing open";

  // Everything committed since its last call reaches the reader.
  r.assign(20, ' ');
  ASSERT_EQ(reader.Call(kGetEqual, 0, &r, "20"), kOk);
  EXPECT_EQ(r.substr(0, 4), "20zz");
  ASSERT_EQ(reader.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 2), "25");
  EXPECT_EQ(reader.StatCount(), 4);

  Rest();
  EXPECT_TRUE(testing::LogCanBeEmptied(path));
  // And it reads on as before.
  ASSERT_EQ(reader.Call(kGetNext, 0, &r), kOk);
  EXPECT_EQ(r.substr(0, 2), "30");
}

}  // namespace
}  // namespace recordmanager
