#include "data/files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "base/little_endian.h"
#include "config/session.h"
#include "config/test_files.h"
#include "data/notice.h"
#include "data/stat_layout.h"
#include "platform/system.h"

namespace data {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// ---------------------------------------------------------------------------
// An in-memory record manager: enough of the published call interface for
// the layer (open, create, stat, insert, update, delete, the get operations,
// get position, get direct, reset). Keys are the record bytes at each
// segment's 1-based position, compared as they are.

struct SegmentSpec {
  int position;  // 1-based offset in the record
  int length;
  std::uint16_t flags;
};

// A creation record in the stat layout (the fake answers stat with it).
std::string CreationRecord(int recordLength, const std::vector<std::vector<SegmentSpec>>& keys,
                           std::string table = {}) {
  std::string r(16, '\0');
  base::WriteLe<std::uint16_t>(r, 0, recordLength);
  base::WriteLe<std::uint16_t>(r, 2, 512);
  base::WriteLe<std::uint16_t>(r, 4, keys.size());
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      std::string seg(16, '\0');
      base::WriteLe<std::uint16_t>(seg, 0, key[i].position);
      base::WriteLe<std::uint16_t>(seg, 2, key[i].length);
      base::WriteLe<std::uint16_t>(seg, 4, key[i].flags | (i + 1 < key.size() ? kSegmentContinues : 0));
      r += seg;
    }
  }
  if (!table.empty()) r += std::string("\xAC") + "UPPER   " + table;
  return r;
}

struct FakeFile {
  std::string stat;
  std::map<std::int32_t, std::string> rows;  // position -> bytes
  std::int32_t nextPosition = 1;
};

struct CallRecord {
  std::uint16_t op;
  std::string key;  // the key buffer as sent, keyLength bytes
  std::string keyTail;  // the byte after them (the filler)
  std::uint32_t dataLength;
  int keyNumber;
};

struct Fake {
  std::map<std::string, FakeFile> files;
  std::vector<std::string> handles;
  std::vector<CallRecord> calls;
  std::vector<std::string> created;  // paths
  std::string lastCreateBuffer;
  // Returns a status to answer an operation with instead of doing it.
  std::function<std::optional<std::int16_t>(std::uint16_t op)> intercept;

  std::vector<SegmentSpec> Segments(const FakeFile& f, int keyNumber) {
    std::vector<SegmentSpec> out;
    std::int32_t keys = StatKeyCount(f.stat);
    std::size_t at = 16;
    for (int k = 0; k < keys; ++k) {
      for (;;) {
        SegmentSpec s{base::ReadLe<std::uint16_t>(f.stat, at), base::ReadLe<std::uint16_t>(f.stat, at + 2),
                      base::ReadLe<std::uint16_t>(f.stat, at + 4)};
        at += 16;
        if (k == keyNumber) out.push_back(s);
        if (!(s.flags & kSegmentContinues)) break;
      }
    }
    return out;
  }
  std::string KeyOf(const FakeFile& f, int keyNumber, const std::string& row) {
    std::string key;
    for (const SegmentSpec& s : Segments(f, keyNumber)) {
      std::string part = row.substr(std::min<std::size_t>(row.size(), s.position - 1), s.length);
      part.resize(static_cast<std::size_t>(s.length), '\0');
      key += part;
    }
    return key;
  }
  // Rows in key order (key, then position).
  std::vector<std::pair<std::string, std::int32_t>> Ordered(const FakeFile& f, int keyNumber) {
    std::vector<std::pair<std::string, std::int32_t>> v;
    for (const auto& [pos, row] : f.rows) v.emplace_back(KeyOf(f, keyNumber, row), pos);
    std::sort(v.begin(), v.end());
    return v;
  }
};

Fake* g_fake = nullptr;

std::int16_t FakeEntry(std::uint16_t operation, void* positionBlock, void* dataBuffer,
                       std::uint32_t* dataLength, void* keyBuffer, std::uint8_t keyLength,
                       std::int8_t keyNumber) {
  Fake& fk = *g_fake;
  auto* block = static_cast<char*>(positionBlock);
  auto* data = static_cast<char*>(dataBuffer);
  auto* key = static_cast<char*>(keyBuffer);
  fk.calls.push_back({operation, std::string(key, keyLength), std::string(key + keyLength, 1),
                      *dataLength, keyNumber});
  if (fk.intercept)
    if (auto status = fk.intercept(operation)) return *status;
  const std::uint16_t op = operation >= 200 ? static_cast<std::uint16_t>(operation - 200) : operation;
  if (op == 0) {
    std::string path(key, keyLength);
    if (!fk.files.count(path)) return 12;
    fk.handles.push_back(path);
    base::WriteLe<std::uint32_t>(block, fk.handles.size());
    base::WriteLe<std::uint32_t>(block + 4, 0);
    return 0;
  }
  if (op == 14) {
    std::string path(key, keyLength);
    fk.created.push_back(path);
    fk.lastCreateBuffer.assign(data, *dataLength);
    fk.files[path].stat.assign(data, *dataLength);
    return 0;
  }
  if (op == 28) {
    fk.handles.clear();
    return 0;
  }
  std::uint32_t handle = base::ReadLe<std::uint32_t>(block);
  if (handle == 0 || handle > fk.handles.size()) return 3;
  FakeFile& f = fk.files[fk.handles[handle - 1]];
  auto setCurrent = [&](std::int32_t pos) { base::WriteLe<std::uint32_t>(block + 4, pos); };
  auto current = [&] { return base::ReadLe<std::int32_t>(block + 4); };
  auto give = [&](std::int32_t pos) -> std::int16_t {
    const std::string& row = f.rows.at(pos);
    std::copy(row.begin(), row.end(), data);
    *dataLength = static_cast<std::uint32_t>(row.size());
    std::string k = fk.KeyOf(f, keyNumber, row);
    std::copy_n(k.begin(), std::min<std::size_t>(k.size(), 255), key);
    setCurrent(pos);
    return 0;
  };
  switch (op) {
    case 15: {
      std::string out = f.stat;
      out.resize(1536, ' ');
      std::copy(out.begin(), out.end(), data);
      *dataLength = 1536;
      return 0;
    }
    case 2: {
      std::string row(data, *dataLength);
      std::string k0 = fk.KeyOf(f, 0, row);
      for (const auto& [pos, other] : f.rows)
        if (fk.KeyOf(f, 0, other) == k0) return 5;
      std::int32_t pos = f.nextPosition++;
      f.rows[pos] = row;
      setCurrent(pos);
      std::copy_n(k0.begin(), keyLength, key);
      return 0;
    }
    case 3:
    case 4: {
      if (!f.rows.count(current())) return 8;
      if (op == 4) {
        f.rows.erase(current());
        return 0;
      }
      f.rows[current()] = std::string(data, *dataLength);
      return 0;
    }
    case 5:
    case 9:
    case 11: {
      std::string wanted(key, keyLength);
      auto ordered = fk.Ordered(f, keyNumber);
      if (op == 11) {
        for (auto it = ordered.rbegin(); it != ordered.rend(); ++it)
          if (it->first.substr(0, keyLength) <= wanted) return give(it->second);
        return 4;
      }
      for (const auto& [k, pos] : ordered) {
        if (op == 5 && k.substr(0, keyLength) == wanted) return give(pos);
        if (op == 9 && k.substr(0, keyLength) >= wanted) return give(pos);
      }
      return op == 5 ? 4 : 9;
    }
    case 6:
    case 7: {
      auto ordered = fk.Ordered(f, keyNumber);
      auto it = std::find_if(ordered.begin(), ordered.end(),
                             [&](const auto& e) { return e.second == current(); });
      if (it == ordered.end()) return 8;
      if (op == 6) {
        if (++it == ordered.end()) return 9;
      } else {
        if (it == ordered.begin()) return 9;
        --it;
      }
      return give(it->second);
    }
    case 22:
      if (!f.rows.count(current())) return 8;
      base::WriteLe<std::uint32_t>(data, current());
      *dataLength = 4;
      return 0;
    case 23: {
      auto pos = base::ReadLe<std::int32_t>(data);
      if (!f.rows.count(pos)) return 43;
      return give(pos);
    }
    default:
      return 1;
  }
}

// Records what the layer shows; EndProcess returns so that tests go on.
struct RecordingNotice : Notice {
  std::vector<std::string> events;
  void Show(const std::string& text, int row) override {
    events.push_back("show " + std::to_string(row) + " " + text);
  }
  void Hide() override { events.push_back("hide"); }
  void Beep() override { events.push_back("beep"); }
  void DiscardKeys() override { events.push_back("discard"); }
  void WaitKey() override { events.push_back("wait"); }
  int PollKey() override { return 0; }
  void EndProcess(int code) override { events.push_back("exit " + std::to_string(code)); }
};

struct PauseRecorder : platform::SystemWrapper {
  PauseRecorder() : SystemWrapper(platform::RealSystem()) {}
  std::vector<int> pauses;
  std::function<void()> onPause;
  void Pause(int ms) override {
    pauses.push_back(ms);
    if (onPause) onPause();
  }
  double RandomFraction() override { return 0.25; }
};

// Each test runs in a fresh directory that is also the suite root.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    previousEntry_ = SetRecordManager(&FakeEntry);
    ClearFileTable();
    dir_ = fs::temp_directory_path() / ("data_files_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "ddf");
    fs::create_directories(dir_ / "DADES");
    oldCwd_ = fs::current_path();
    fs::current_path(dir_);
    config::ResetSession();
    config::Session().RootDir = dir_.string() + "/";
  }
  void TearDown() override {
    ClearFileTable();
    SetRecordManager(previousEntry_);
    g_fake = nullptr;
    fs::current_path(oldCwd_);
    fs::remove_all(dir_);
  }

  void WriteDictionary(const std::string& base, const std::string& creation) {
    std::ofstream out(dir_ / "ddf" / (base + ".xdf"), std::ios::binary);
    std::string len(2, '\0');
    base::WriteLe<std::uint16_t>(len, 0, creation.size());
    out << len << creation << "trailing bytes are ignored";
  }

  // A file that exists already in the fake, opened under `id`.
  void OpenExisting(std::int16_t id, const std::string& path, const std::string& creation,
                    std::span<char> area) {
    fake_.files[path].stat = creation;
    ASSERT_EQ(OpenDataFile(id, path, area), 0);
  }

  std::string ReadLog() {
    std::ifstream in(dir_ / "db.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  Fake fake_;
  RecordingNotice notice_;
  ScopedNotice scopedNotice_{notice_};
  PauseRecorder system_;
  platform::ScopedSystem scopedSystem_{system_};
  RecordManagerEntry previousEntry_ = nullptr;
  fs::path dir_, oldCwd_;
};

const std::string kTenByKey5 = CreationRecord(10, {{{1, 5, 0}}});

TEST_F(FilesTest, FindSlotTakesTheHighestFreeSlotAndTheHolder) {
  FileTableSlots& t = FileTable();
  EXPECT_EQ(FindSlot(501), -40);
  for (int i = 1; i <= kFileSlots; ++i) t[static_cast<std::size_t>(i)].FileId = static_cast<std::int16_t>(100 + i);
  EXPECT_EQ(FindSlot(999), 0);
  EXPECT_EQ(FindSlot(105), 5);
  t[3].FileId = 0;
  t[7].FileId = 0;
  EXPECT_EQ(FindSlot(999), -7);
  // Closed and opened again in another slot: the slot found last is not
  // taken for it any more, nor for the file that now holds it.
  t[5].FileId = 0;
  t[9].FileId = 105;
  EXPECT_EQ(FindSlot(105), 9);
  t[9].FileId = 109;
  t[5].FileId = 105;
  EXPECT_EQ(FindSlot(109), 9);
  EXPECT_EQ(FindSlot(105), 5);
  t[5].FileId = 0;
  EXPECT_EQ(FindSlot(105), -7);
  // Identifier 0 marks free slots and is never "open".
  EXPECT_EQ(FindSlot(0), -7);
}

TEST_F(FilesTest, OpenFillsTheSlotFromTheStatResult) {
  char area[10];
  OpenExisting(501, "DADES/PropietH.dat", CreationRecord(10, {{{1, 2, 0}, {3, 4, 0}}, {{7, 3, 0}}}), area);
  const FileSlot& s = FileTable()[40];
  EXPECT_EQ(s.FileId, 501);
  EXPECT_EQ(s.RecordLength, 10);
  EXPECT_EQ(s.KeyValue, std::string(6, '\0'));
  EXPECT_EQ(s.KeyNumber, 0);
  EXPECT_EQ(s.LockMode, kLockNone);
  EXPECT_EQ(fake_.calls.front().key, "DADES/PropietH.dat");
  EXPECT_EQ(fake_.calls.front().dataLength, 5u);
  EXPECT_EQ(KeyInfo(501, 1).KeyLength, 3);
  EXPECT_EQ(KeyInfo(501, 2).KeyLength, 0);
  EXPECT_EQ(KeyInfo(501, 2).RecordLength, 10);
  EXPECT_EQ(KeyInfo(502, 0).RecordLength, 0);
}

TEST_F(FilesTest, OpenTwiceOrWithoutFreeSlotIsRefused) {
  char area[10];
  OpenExisting(501, "DADES/A.dat", kTenByKey5, area);
  fake_.files["DADES/B.dat"].stat = kTenByKey5;
  EXPECT_EQ(OpenDataFile(501, "DADES/B", area), kStatusAlreadyOpen);
  EXPECT_EQ(FileTable()[40].RecordLength, 10);
  for (int i = 2; i <= kFileSlots; ++i)
    ASSERT_EQ(OpenDataFile(static_cast<std::int16_t>(600 + i), "DADES/B", area), 0) << i;
  EXPECT_EQ(OpenDataFile(700, "DADES/B", area), kStatusNoFreeSlot);
  EXPECT_THAT(notice_.events, ElementsAre());
}

struct SplitCase {
  const char* name;
  const char* opened;
  const char* dictionary;  // base of the dictionary read when missing
};

TEST_F(FilesTest, NameSplittingChoosesPathAndDictionary) {
  const SplitCase cases[] = {
      {"DADES\\PressupH", "DADES/PressupH.dat", "PressupH"},
      {"A.B.C", "A.B.C", "A"},
      {"DADES/x.y\\Q.tmp", "DADES/x.y/Q.tmp", "Q"},
      {"Plain", "Plain.dat", "Plain"},
  };
  char area[10];
  std::int16_t id = 501;
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteDictionary(c.dictionary, kTenByKey5);
    fake_.calls.clear();
    fake_.created.clear();
    ASSERT_EQ(OpenDataFile(id++, c.name, area), 0);
    ASSERT_EQ(fake_.created.size(), 1u);
    EXPECT_EQ(fake_.created[0], c.opened);
    EXPECT_EQ(fake_.calls.front().key, c.opened);
    EXPECT_EQ(fake_.calls.front().op, 0);
    fs::remove(dir_ / "ddf" / (std::string(c.dictionary) + ".xdf"));
  }
}

TEST_F(FilesTest, MissingFileIsCreatedFromItsDictionary) {
  WriteDictionary("PressupH", kTenByKey5);
  char area[10];
  ASSERT_EQ(OpenDataFile(501, "DADES\\PressupH", area), 0);
  EXPECT_EQ(fake_.lastCreateBuffer.size(), 1536u);
  EXPECT_EQ(fake_.lastCreateBuffer.substr(0, kTenByKey5.size()), kTenByKey5);
  EXPECT_EQ(fake_.lastCreateBuffer.substr(kTenByKey5.size()), std::string(1536 - kTenByKey5.size(), ' '));
  auto create = std::find_if(fake_.calls.begin(), fake_.calls.end(), [](auto& c) { return c.op == 14; });
  ASSERT_NE(create, fake_.calls.end());
  EXPECT_EQ(create->keyNumber, -1);
  EXPECT_EQ(FileTable()[0].PositionBlock, (std::array<char, 128>{}));
  EXPECT_EQ(FileTable()[40].RecordLength, 10);
}

// An unattended program asks to hear of a missing file instead: nothing
// made, nothing shown, the identifier free.
TEST_F(FilesTest, AMissingFileIsReportedAndNotMadeWhenTheCallerAsks) {
  WriteDictionary("PressupH", kTenByKey5);
  char area[10];
  EXPECT_EQ(OpenDataFile(501, "DADES\\PressupH", area, MissingDataFile::kReport), kStatusFileNotFound);
  EXPECT_TRUE(fake_.created.empty());
  EXPECT_TRUE(notice_.events.empty());
  EXPECT_EQ(FindSlot(501), -40);
  // The default still makes it.
  EXPECT_EQ(OpenDataFile(501, "DADES\\PressupH", area), 0);
  EXPECT_FALSE(fake_.created.empty());
}

TEST_F(FilesTest, MissingOrShortDictionaryStopsWithoutCreating) {
  char area[10];
  const std::string dictionary = config::Session().RootDir + "ddf\\PressupH.xdf";
  const std::vector<std::string> expected = {
      "show 12 NO ES POT ACCEDIR AL FITXER " + dictionary + " (12)", "beep", "discard", "wait",
      "hide", "exit 1"};
  EXPECT_EQ(OpenDataFile(501, "DADES\\PressupH", area), 12);
  EXPECT_EQ(notice_.events, expected);
  {
    std::ofstream out(dir_ / "ddf" / "PressupH.xdf", std::ios::binary);
    out << std::string("\x40\x00", 2) << "too short";
  }
  notice_.events.clear();
  EXPECT_EQ(OpenDataFile(501, "DADES\\PressupH", area), 12);
  EXPECT_EQ(notice_.events, expected);
  EXPECT_TRUE(fake_.created.empty());
  EXPECT_EQ(FindSlot(501), -40);
}

TEST_F(FilesTest, ADictionaryThatCannotBeReadCreatesNothing) {
  char area[10];
  const std::string dictionary = config::Session().RootDir + "ddf\\PressupH.xdf";
  const std::string shown = "show 12 NO ES POT ACCEDIR AL FITXER " + dictionary + " (12)";
  fs::create_directories(dir_ / "ddf" / "PressupH.xdf");
  EXPECT_EQ(OpenDataFile(501, "DADES\\PressupH", area), 12);
  ASSERT_FALSE(notice_.events.empty());
  EXPECT_EQ(notice_.events[0], shown);
  fs::remove(dir_ / "ddf" / "PressupH.xdf");
  // A good dictionary that gives a read error.
  WriteDictionary("PressupH", kTenByKey5);
  config::testing::FailingFile failing("/PressupH.xdf");
  notice_.events.clear();
  EXPECT_EQ(OpenDataFile(501, "DADES\\PressupH", area), 12);
  ASSERT_FALSE(notice_.events.empty());
  EXPECT_EQ(notice_.events[0], shown);
  EXPECT_TRUE(fake_.created.empty());
  EXPECT_EQ(failing.calls, 1);
}

TEST_F(FilesTest, FailedOpenMessageInEachLanguage) {
  const std::pair<const char*, std::string> cases[] = {
      {"SPA", "NO SE PUEDE ACCEDER AL FICHERO "},
      {"GLG", "NOM SE PODE ACEDER AO FICHEIRO "},
      {"OCI", "NON SE P\xD2T ACCEDIR ATH FICH\xC8R "},
      {"CAT", "NO ES POT ACCEDIR AL FITXER "},
      {"spa", "NO ES POT ACCEDIR AL FITXER "},
  };
  fake_.intercept = [](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 0) return 20;
    return std::nullopt;
  };
  char area[10];
  for (const auto& [language, text] : cases) {
    config::Session().Language = language;
    notice_.events.clear();
    EXPECT_EQ(OpenDataFile(501, "DADES\\PropietH", area), 20);
    ASSERT_FALSE(notice_.events.empty());
    EXPECT_EQ(notice_.events[0], "show 12 " + text + "DADES\\PropietH (20)") << language;
    EXPECT_EQ(notice_.events.back(), "exit 1");
  }
  // The process ends with every file reset.
  EXPECT_EQ(fake_.calls.back().op, 28);
}

// A full disk is the operator's to mend: the message says so, in words,
// beside the status, when a file cannot be opened and when a write fails.
TEST_F(FilesTest, AFullDiskIsToldInWordsBesideItsStatus) {
  fake_.intercept = [](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 0) return 18;
    return std::nullopt;
  };
  char area[10];
  config::Session().Language = "SPA";
  EXPECT_EQ(OpenDataFile(501, "DADES\\PropietH", area), 18);
  ASSERT_FALSE(notice_.events.empty());
  EXPECT_EQ(notice_.events[0], "show 12 NO SE PUEDE ACCEDER AL FICHERO DADES\\PropietH (18: DISCO LLENO)");
  config::Session().Language = "CAT";
  EXPECT_EQ(FailureText(501, 18), "NO ES POT ACCEDIR AL FITXER 501 (18: DISC PLE)");
  EXPECT_EQ(FailureText(501, 2), "NO ES POT ACCEDIR AL FITXER 501 (2)");
}

TEST_F(FilesTest, DriveLetterNamesAreRefusedWithoutCreatingAnything) {
  WriteDictionary("PropietH", kTenByKey5);
  char area[10];
  EXPECT_EQ(OpenDataFile(501, "C:\\KIT\\DADES\\PropietH", area), 11);
  ASSERT_FALSE(notice_.events.empty());
  EXPECT_EQ(notice_.events[0], "show 12 NO ES POT ACCEDIR AL FITXER C:\\KIT\\DADES\\PropietH (11)");
  EXPECT_TRUE(fake_.created.empty());
  EXPECT_EQ(FindSlot(501), -40);
}

TEST_F(FilesTest, LockedFileIsRetriedEveryThreeSecondsWithoutMessage) {
  int locked = 2;
  fake_.intercept = [&](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 0 && locked > 0) {
      --locked;
      return 85;
    }
    return std::nullopt;
  };
  char area[10];
  OpenExisting(501, "DADES/A.dat", kTenByKey5, area);
  EXPECT_THAT(system_.pauses, ElementsAre(3000, 3000));
  EXPECT_TRUE(notice_.events.empty());
}

class RecordsTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    // Record: 5-byte key, then 5 bytes of data.
    OpenExisting(501, "DADES/T.dat", kTenByKey5, area_);
    for (const char* row : {"AAAAA11111", "BBBBB22222", "CCCCC33333", "DDDDD44444"}) {
      std::copy_n(row, 10, area_);
      ASSERT_EQ(InsertRecord(501), 0);
    }
    fs::remove(dir_ / "db.log");
    fake_.calls.clear();
  }
  std::string Area() const { return std::string(area_, 10); }
  const FileSlot& Slot() const { return FileTable()[40]; }
  char area_[12] = {};
};

TEST_F(RecordsTest, ReadByKeyPadsOrCutsTheValueToTheKey) {
  EXPECT_EQ(ReadByKey(501, 0, "CCCCCxx", 0), 0);
  EXPECT_EQ(Area(), "CCCCC33333");
  EXPECT_EQ(fake_.calls.back().key, "CCCCC");
  EXPECT_EQ(ReadByKey(501, 0, "BB", 1), 0);
  EXPECT_EQ(Area(), "BBBBB22222");
  EXPECT_EQ(fake_.calls.back().key, std::string("BB\0\0\0", 5));
  EXPECT_EQ(fake_.calls.back().keyTail, std::string(1, '\0'));
  EXPECT_EQ(ReadByKey(501, 0, "CZ", -1), 0);
  EXPECT_EQ(Area(), "CCCCC33333");
  EXPECT_EQ(fake_.calls.back().keyTail, "\xFF");
  EXPECT_EQ(ReadByKey(501, 0, "ZZ", 0), 4);
}

// The layout of a file is learnt when it is opened: reads by key, key
// images and key lengths do not ask the record manager for it again (a
// stat counts every record of the file).
TEST_F(RecordsTest, ReadsByKeyUseTheLayoutLearntAtTheOpen) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(ReadByKey(501, 0, "BBBBB", 0), 0);
    ASSERT_EQ(StepRecords(501, 1), 0);
    ASSERT_EQ(ReadByKey(501, 0, "A", 1), 0);
  }
  EXPECT_EQ(KeyInfo(501, 0).KeyLength, 5);
  EXPECT_EQ(KeyInfo(501, 0).RecordLength, 10);
  EXPECT_EQ(KeyInfo(501, 1).KeyLength, 0);
  EXPECT_EQ(CurrentKeyImage(501), "AAAAA");
  const auto stats = std::count_if(fake_.calls.begin(), fake_.calls.end(), [](const CallRecord& c) { return c.op == 15; });
  EXPECT_EQ(stats, 0);
  EXPECT_EQ(ReadByKey(501, 1, "A", 1), kStatusNoSuchKey);
}

// A record longer than the usual buffer, read into a shorter area: the
// record manager may fill the whole record length, so the layer's buffer
// must hold it; the area gets what fits.
TEST_F(FilesTest, ARecordLongerThanTheUsualBufferIsReadIntoAShortArea) {
  char area[10];
  OpenExisting(501, "DADES/L.dat", CreationRecord(2000, {{{1, 5, 0}}}), area);
  std::string row = "KEY01" + std::string(1995, 'x');
  fake_.files["DADES/L.dat"].rows[1] = row;
  fake_.files["DADES/L.dat"].nextPosition = 2;
  ASSERT_EQ(ReadByKey(501, 0, "KEY01", 0), 0);
  EXPECT_EQ(std::string(area, 10), row.substr(0, 10));
  EXPECT_EQ(fake_.calls.back().dataLength, 2000u);
}

// A layout that could not be read at the open is asked for again, and
// kept once it is had.
TEST_F(FilesTest, ALayoutNotReadAtTheOpenIsAskedForAgain) {
  bool statFails = true;
  fake_.intercept = [&](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 15 && statFails) return 2;
    return std::nullopt;
  };
  char area[10];
  OpenExisting(501, "DADES/A.dat", kTenByKey5, area);
  EXPECT_EQ(ReadByKey(501, 0, "AAAAA", 0), kStatusNoSuchKey);
  statFails = false;
  fake_.calls.clear();
  EXPECT_EQ(KeyInfo(501, 0).KeyLength, 5);
  EXPECT_EQ(KeyInfo(501, 0).RecordLength, 10);
  const auto stats = std::count_if(fake_.calls.begin(), fake_.calls.end(), [](const CallRecord& c) { return c.op == 15; });
  EXPECT_EQ(stats, 2);
}

TEST_F(RecordsTest, ReadByKeyWithUnknownKeyLeavesEverythingAlone) {
  ASSERT_EQ(ReadByKey(501, 0, "BBBBB", 0), 0);
  EXPECT_EQ(ReadByKey(501, 3, "CCCCC", 0), kStatusNoSuchKey);
  EXPECT_EQ(Area(), "BBBBB22222");
  EXPECT_EQ(Slot().KeyValue, "BBBBB");
  EXPECT_EQ(Slot().KeyNumber, 0);
  EXPECT_EQ(ReadByKey(777, 0, "B", 0), kStatusNotOpen);
}

TEST_F(RecordsTest, LockModeAddsTheBiasToReadsOnly) {
  std::int16_t status = 0;
  SetLockMode(501, "b", status);
  ASSERT_EQ(ReadByKey(501, 0, "AAAAA", 0), 0);
  EXPECT_EQ(fake_.calls.back().op, 205);
  std::uint16_t op = 6;
  EXPECT_EQ(RecordCall(40, op), 0);
  EXPECT_EQ(op, 206);
  EXPECT_EQ(Area(), "BBBBB22222");
  op = 3;
  EXPECT_EQ(RecordCall(40, op), 0);
  EXPECT_EQ(op, 3);
}

TEST_F(RecordsTest, StepRecordsFillsTheAreaOnlyWithTheLastRecord) {
  ASSERT_EQ(ReadByKey(501, 0, "AAAAA", 0), 0);
  fake_.calls.clear();
  EXPECT_EQ(StepRecords(501, 3), 0);
  EXPECT_EQ(Area(), "DDDDD44444");
  EXPECT_EQ(Slot().KeyValue, "DDDDD");
  ASSERT_EQ(fake_.calls.size(), 3u);
  // The skipped records go to a scratch buffer of the full size.
  EXPECT_EQ(fake_.calls[0].dataLength, 1536u);
  EXPECT_EQ(fake_.calls[2].dataLength, 10u);
  EXPECT_EQ(StepRecords(501, -1), 0);
  EXPECT_EQ(Area(), "CCCCC33333");
  fake_.calls.clear();
  EXPECT_EQ(StepRecords(501, 0), 0);
  EXPECT_TRUE(fake_.calls.empty());
  // A failed skip ends the walk: the area keeps the record it held.
  EXPECT_EQ(StepRecords(501, 5), 9);
  EXPECT_EQ(Area(), "CCCCC33333");
}

TEST_F(RecordsTest, PositionsAreRememberedAndJumpedTo) {
  EXPECT_EQ(RecordPosition(501, 0), 4);  // the last insert
  ASSERT_EQ(ReadByKey(501, 0, "BBBBB", 0), 0);
  std::int32_t b = RecordPosition(501, 0);
  EXPECT_EQ(b, 2);
  ASSERT_EQ(ReadByKey(501, 0, "DDDDD", 0), 0);
  EXPECT_EQ(RecordPosition(501, b), 0);
  EXPECT_EQ(Area(), "BBBBB22222");
  EXPECT_EQ(Slot().KeyValue, "BBBBB");
  EXPECT_EQ(StepRecords(501, 1), 0);
  EXPECT_EQ(Area(), "CCCCC33333");
  EXPECT_EQ(RecordPosition(501, 99), 43);
  EXPECT_EQ(RecordPosition(777, 0), 0);
}

TEST_F(RecordsTest, NoCurrentRecordHasPositionZero) {
  ClearFileTable();
  fake_.handles.clear();
  OpenExisting(502, "DADES/T.dat", kTenByKey5, area_);
  EXPECT_EQ(RecordPosition(502, 0), 0);
}

TEST_F(RecordsTest, FailedUpdateReadsTheStoredRecordAgain) {
  ASSERT_EQ(ReadByKey(501, 0, "BBBBB", 0), 0);
  std::copy_n("BBBBBxxxxx", 10, area_);
  fake_.intercept = [](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 3) return 80;
    return std::nullopt;
  };
  EXPECT_EQ(UpdateRecord(501), 80);
  EXPECT_EQ(Area(), "BBBBB22222");
  EXPECT_EQ(ReadLog(), ChangeLogLine(501, 3, 80));
  fake_.intercept = nullptr;
  std::copy_n("BBBBByyyyy", 10, area_);
  EXPECT_EQ(UpdateRecord(501), 0);
  EXPECT_EQ(fake_.files["DADES/T.dat"].rows[2], "BBBBByyyyy");
  EXPECT_EQ(Area(), "BBBBByyyyy");
}

TEST_F(RecordsTest, TheChangeLogIsFoundWhateverTheCaseOfItsName) {
  std::ofstream(dir_ / "DB.LOG", std::ios::binary) << "old\r\n";
  std::copy_n("EEEEE55555", 10, area_);
  EXPECT_EQ(InsertRecord(501), 0);
  EXPECT_EQ(UpdateRecord(501), 0);
  EXPECT_FALSE(fs::exists(dir_ / "db.log"));
  std::ifstream in(dir_ / "DB.LOG", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "old\r\n" + ChangeLogLine(501, 2, 0) + ChangeLogLine(501, 3, 0));
}

TEST_F(RecordsTest, DuplicateInsertIsLoggedAndZeroesTheKey) {
  std::copy_n("CCCCC99999", 10, area_);
  EXPECT_EQ(InsertRecord(501), 5);
  EXPECT_EQ(Slot().KeyValue, std::string(5, '\0'));
  const std::string five = std::string(" 501          ") + " 2            " + " 5 \r\n";
  EXPECT_EQ(ReadLog(), five);
  std::copy_n("EEEEE55555", 10, area_);
  EXPECT_EQ(InsertRecord(501), 0);
  EXPECT_EQ(ReadLog(), five + " 501          " + " 2            " + " 0 \r\n");
}

TEST_F(RecordsTest, DeleteRemovesTheCurrentRecordWithoutLogging) {
  ASSERT_EQ(ReadByKey(501, 0, "CCCCC", 0), 0);
  EXPECT_EQ(DeleteRecord(501), 0);
  EXPECT_EQ(ReadByKey(501, 0, "CCCCC", 0), 4);
  EXPECT_EQ(DeleteRecord(501), 8);
  EXPECT_EQ(Slot().KeyValue, std::string(5, '\0'));
  EXPECT_FALSE(fs::exists(dir_ / "db.log"));
  EXPECT_EQ(DeleteRecord(777), kStatusNotOpen);
  EXPECT_EQ(InsertRecord(777), kStatusNotOpen);
  EXPECT_EQ(UpdateRecord(777), kStatusNotOpen);
  EXPECT_EQ(StepRecords(777, 1), kStatusNotOpen);
}

TEST_F(RecordsTest, BufferTooShortCountsAsSuccessExceptForInserts) {
  ASSERT_EQ(ReadByKey(501, 0, "BBBBB", 0), 0);
  fake_.intercept = [](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 15) return std::nullopt;
    return 22;
  };
  EXPECT_EQ(ReadByKey(501, 0, "CCCCC", 0), 0);
  EXPECT_EQ(StepRecords(501, 2), 0);
  EXPECT_EQ(RecordPosition(501, 2), 0);
  EXPECT_EQ(UpdateRecord(501), 0);
  EXPECT_EQ(InsertRecord(501), 22);
  EXPECT_EQ(DeleteRecord(501), 22);
  // The log keeps the statuses as they came.
  EXPECT_EQ(ReadLog(), ChangeLogLine(501, 3, 22) + ChangeLogLine(501, 2, 22));
}

TEST(ChangeLogLine, NumbersSitInFourteenCharacterZones) {
  const std::tuple<std::int16_t, std::int16_t, std::int16_t, std::string> cases[] = {
      // columns:    1-14              15-28             29-
      {501, 2, 0, " 501          " " 2            " " 0 \r\n"},
      {516, 3, 22, " 516          " " 3            " " 22 \r\n"},
      {-1, 2, -32768, "-1            " " 2            " "-32768 \r\n"},
      {32767, 3, 1002, " 32767        " " 3            " " 1002 \r\n"},
  };
  for (const auto& [id, op, status, line] : cases) EXPECT_EQ(ChangeLogLine(id, op, status), line);
}

TEST_F(RecordsTest, LockModesAreSavedAndRestoredPerFile) {
  char other[10];
  OpenExisting(502, "DADES/T.dat", kTenByKey5, other);
  std::int16_t status = 77;
  SetLockMode(501, "A", status);
  EXPECT_EQ(Slot().LockMode, kLockWait);
  SetLockMode(502, "b+", status);
  SetLockMode(501, "+d", status);
  EXPECT_EQ(Slot().LockMode, kLockNone);
  SetLockMode(502, "d", status);
  SetLockMode(501, "-", status);
  EXPECT_EQ(Slot().LockMode, kLockWait);
  // No saved pair left for 501: nothing changes.
  SetLockMode(501, "D-", status);
  EXPECT_EQ(Slot().LockMode, kLockNone);
  SetLockMode(502, "-", status);
  EXPECT_EQ(FileTable()[39].LockMode, kLockNoWait);
  EXPECT_TRUE(SavedLockModes().empty());
  SetLockMode(501, "xyz a", status);
  EXPECT_EQ(Slot().LockMode, kLockWait);
  EXPECT_EQ(status, 77);
  SetLockMode(777, "D", status);
  EXPECT_EQ(status, kStatusNotOpen);
}

TEST_F(RecordsTest, LockedRecordIsWaitedForInModeA) {
  std::int16_t status = 0;
  SetLockMode(501, "a", status);
  int locked = 3;
  fake_.intercept = [&](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 205 && locked > 0) {
      --locked;
      return 84;
    }
    return std::nullopt;
  };
  system_.onPause = [&] { notice_.events.push_back("pause"); };
  EXPECT_EQ(ReadByKey(501, 0, "CCCCC", 0), 0);
  EXPECT_EQ(Area(), "CCCCC33333");
  const std::vector<std::string> expected = {"pause", "show 24 FITXER BLOQUEJAT. ESPEREU UN MOMENT.",
                                             "pause", "pause", "hide"};
  EXPECT_EQ(notice_.events, expected);
  EXPECT_THAT(system_.pauses, ElementsAre(2501, 2501, 2501));
}

TEST_F(RecordsTest, LockedRecordIsReportedAtOnceInModesBAndD) {
  fake_.intercept = [&](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 205 || op == 5) return 84;
    return std::nullopt;
  };
  std::int16_t status = 0;
  for (const char* mode : {"B", "D"}) {
    SetLockMode(501, mode, status);
    EXPECT_EQ(ReadByKey(501, 0, "CCCCC", 0), 84) << mode;
  }
  EXPECT_TRUE(system_.pauses.empty());
  EXPECT_TRUE(notice_.events.empty());
}

TEST_F(FilesTest, SkippedKeysWithZeroBytesKeepTheirLength) {
  char area[6];
  OpenExisting(501, "DADES/Z.dat", CreationRecord(6, {{{1, 4, kSegmentBinary}}}), area);
  for (int n : {1, 2, 3, 4}) {
    std::string row(6, '\0');
    base::WriteLe<std::uint16_t>(row, 0, n);
    row[5] = 'r';
    std::copy(row.begin(), row.end(), area);
    ASSERT_EQ(InsertRecord(501), 0);
  }
  ASSERT_EQ(ReadByKey(501, 0, std::string(4, '\0'), 1), 0);
  EXPECT_EQ(area[0], 1);
  ASSERT_EQ(StepRecords(501, 2), 0);
  EXPECT_EQ(area[0], 3);
  EXPECT_EQ(FileTable()[40].KeyValue, std::string("\x03\0\0\0", 4));
  ASSERT_EQ(StepRecords(501, -2), 0);
  EXPECT_EQ(FileTable()[40].KeyValue, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(CurrentKeyImage(501), std::string("\0\0\0\x01", 4));
}

TEST_F(FilesTest, ReadsNeverWritePastTheCallersArea) {
  char area[8];
  std::fill(std::begin(area), std::end(area), '#');
  // The file's records are 10 bytes; the caller handed over 6 of its 8.
  OpenExisting(501, "DADES/S.dat", kTenByKey5, std::span<char>(area, 6));
  fake_.files["DADES/S.dat"].rows[1] = "KKKKKvwxyz";
  fake_.files["DADES/S.dat"].nextPosition = 2;
  ASSERT_EQ(ReadByKey(501, 0, "KKKKK", 0), 0);
  EXPECT_EQ(std::string(area, 8), "KKKKKv##");
}

TEST_F(FilesTest, KeyImageReversesBinarySegmentsAndCollatesOthers) {
  std::string table(256, '\0');
  for (int i = 0; i < 256; ++i) table[static_cast<std::size_t>(i)] = static_cast<char>(i);
  for (char c = 'a'; c <= 'z'; ++c) table[static_cast<unsigned char>(c)] = static_cast<char>(c - 32);
  char area[20];
  OpenExisting(501, "DADES/K.dat",
               CreationRecord(20, {{{1, 2, kSegmentBinary}},
                                   {{1, 3, kSegmentAlternate}, {4, 2, kSegmentBinary}, {6, 2, 0}}},
                              table),
               area);
  EXPECT_EQ(KeyImage(std::string("\x01\x02", 2), 501), std::string("\x02\x01", 2));
  EXPECT_EQ(KeyImage(std::string("\x07", 1), 501), std::string("\x00\x07", 2));
  EXPECT_EQ(KeyImage(std::string("\x01\x02\x03", 3), 501), std::string("\x02\x01\x03", 3));
  ASSERT_EQ(ReadByKey(501, 1, "", 1), 9);
  EXPECT_EQ(KeyImage(std::string("ab\x01\x02\x03xy", 7), 501), std::string("AB\x01\x03\x02xy", 7));
  EXPECT_EQ(KeyImage("ab", 501), std::string("AB\0\0\0", 5));
  EXPECT_EQ(CurrentKeyImage(501), std::string(7, '\0'));
  EXPECT_EQ(KeyImage("ab", 777), "ab");
  EXPECT_EQ(CurrentKeyImage(777), "");
}

TEST_F(FilesTest, ResetEmptiesTheTableOnlyWhenItSucceeds) {
  char area[10];
  OpenExisting(501, "DADES/A.dat", kTenByKey5, area);
  fake_.intercept = [](std::uint16_t op) -> std::optional<std::int16_t> {
    if (op == 28) return 2;
    return std::nullopt;
  };
  EXPECT_EQ(ResetDataFiles(), 2);
  EXPECT_EQ(FindSlot(501), 40);
  fake_.intercept = nullptr;
  EXPECT_EQ(ResetDataFiles(), 0);
  EXPECT_EQ(FindSlot(501), -40);
  EXPECT_EQ(FileTable()[40].RecordArea.size(), 0u);
}

TEST(StatLayout, ShortOrGarbledResultsNeverReadPastTheEnd) {
  std::string stat = CreationRecord(10, {{{1, 3, kSegmentContinues}}});  // claims a second segment
  EXPECT_EQ(KeyLength(KeySegments(stat, 0)), 3);
  EXPECT_TRUE(CollatingTable(stat).empty());
  std::string many(20, '\0');
  base::WriteLe<std::uint16_t>(many, 4, 1000);
  EXPECT_TRUE(KeySegments(many, 5).empty());
  EXPECT_EQ(StatRecordLength("x"), 0);
}

}  // namespace
}  // namespace data
