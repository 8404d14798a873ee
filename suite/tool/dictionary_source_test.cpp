#include "suite/tool/dictionary_source.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "config/session.h"
#include "config/test_files.h"
#include "data/btrcall.h"
#include "data/files.h"
#include "data/notice.h"
#include "records/layouts.h"

namespace suite {
namespace {

int At16(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}

TEST(DictionarySource, CompilesRecordPageAndKeySegments) {
  const CompiledDictionary d = CompileDictionary(
      "# owners\n"
      "record 300   # with a comment\n"
      "page 2048\n"
      "\n"
      "key 1:2 + 3:4:binary duplicates\n"
      "key 10:5:descending modifiable\n");
  ASSERT_EQ(d.error, "");
  ASSERT_EQ(d.creation.size(), 16u + 3 * 16u);
  EXPECT_EQ(At16(d.creation, 0), 300);
  EXPECT_EQ(At16(d.creation, 2), 2048);
  EXPECT_EQ(At16(d.creation, 4), 2);
  const std::array<std::array<int, 3>, 3> segments{{
      {1, 2, 0x0001 | 0x0010},
      {3, 4, 0x0001 | 0x0004},
      {10, 5, 0x0002 | 0x0040},
  }};
  for (std::size_t i = 0; i < segments.size(); ++i) {
    EXPECT_EQ(At16(d.creation, 16 + 16 * i), segments[i][0]) << i;
    EXPECT_EQ(At16(d.creation, 18 + 16 * i), segments[i][1]) << i;
    EXPECT_EQ(At16(d.creation, 20 + 16 * i), segments[i][2]) << i;
  }
  const std::string file = DictionaryFile(d.creation);
  EXPECT_EQ(At16(file, 0), 64);
  EXPECT_EQ(file.substr(2), d.creation);
}

TEST(DictionarySource, RefusesMistakesNamingTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"page 1024\nkey 1:2\n", "line 2: no record length"},
      {"record 20\n", "line 1: no key"},
      {"record 20\nrecord 30\nkey 1:2", "line 2: record given twice"},
      {"record 0\nkey 1:2", "line 1: record length must be 4 to 4090"},
      {"record 20\npage 1000\nkey 1:2", "line 2: page size must be 512 to 4096, a multiple of 512"},
      {"record 20\nkey 19:4", "line 2: segment 19:4 ends past the record length 20"},
      {"record 20\nkey 1:2 3:2", "line 2: segments must be joined by \"+\""},
      {"record 20\nkey 1:2 +", "line 2: a key needs segments, joined by \"+\""},
      {"record 20\nkey + 1:2", "line 2: \"+\" without a segment before it"},
      {"record 20\nkey 1:x", "line 2: segment \"1:x\" is not position:length"},
      {"record 20\nkey 0:2", "line 2: segment \"0:2\" starts or ends before 1"},
      {"record 20\nkey 1:2:upper", "line 2: unknown segment option \"upper\""},
      {"record 20\nkeys 1:2", "line 2: unknown word \"keys\""},
      {"record 300\nkey 1:200 + 201:60", "line 2: key longer than 255 bytes"},
      // Numbers near the top of an int must not wrap round into the record.
      {"record 20\nkey 2147483647:2", "line 2: segment 2147483647:2 ends past the record length 20"},
      {"record 20\nkey 5:2147483647", "line 2: segment 5:2147483647 ends past the record length 20"},
      {"record 20\n\nkey 1:2 + 2147483646:2147483647",
       "line 3: segment 2147483646:2147483647 ends past the record length 20"},
      {"record 20\nkey 2147483648:2", "line 2: segment \"2147483648:2\" is not position:length"},
      {"record 20\nkey -2147483648:2", "line 2: segment \"-2147483648:2\" starts or ends before 1"},
      {"record 2147483647\nkey 1:2", "line 1: record length must be 4 to 4090"},
      {"record 4294967297\nkey 1:2", "line 1: record wants one number"},
      {"record 20\npage 4294967808\nkey 1:2", "line 2: page wants one number"},
  };
  for (const auto& [source, error] : cases) {
    const CompiledDictionary d = CompileDictionary(source);
    EXPECT_EQ(d.error, error) << source;
    EXPECT_TRUE(d.creation.empty()) << source;
  }
}

// `count` key lines of `segments` one-byte segments each, in a record of
// 4090 bytes.
std::string ManyKeys(int count, int segments) {
  std::string source = "record 4090\n";
  int position = 1;
  for (int k = 0; k < count; ++k) {
    source += "key";
    for (int i = 0; i < segments; ++i) source += (i ? " + " : " ") + std::to_string(position++) + ":1";
    source += " duplicates\n";
  }
  return source;
}

TEST(DictionarySource, RefusesMoreKeysAndSegmentsThanCreateTakes) {
  EXPECT_EQ(CompileDictionary(ManyKeys(25, 1)).error, "line 26: more than 24 keys");
  EXPECT_EQ(CompileDictionary(ManyKeys(1, 25)).error, "line 2: more than 24 segments in one key");
  // The creation record must fit the create call's 1536-byte buffer.
  EXPECT_EQ(CompileDictionary(ManyKeys(4, 24)).error, "line 5: more than 95 segments in all keys");

  // Whatever the compiler accepts at its limits the record manager creates.
  config::testing::ScratchDir dir;
  const std::string most = ManyKeys(23, 4) + "key 4000:1 + 4001:1 + 4002:1\n";
  for (const std::string& source : {ManyKeys(24, 1), ManyKeys(1, 24), most}) {
    const CompiledDictionary d = CompileDictionary(source);
    ASSERT_EQ(d.error, "") << source;
    ASSERT_LE(d.creation.size(), 1536u);
    std::string path = dir / "limits.dat";
    std::filesystem::remove(path);
    std::string buffer = d.creation;
    buffer.resize(1536, ' ');
    std::string block(128, ' ');
    std::uint32_t length = 1536;
    EXPECT_EQ(BTRCALL(14, block.data(), buffer.data(), &length, path.data(),
                      static_cast<std::uint8_t>(path.size()), -1),
              0)
        << source;
  }
}

// Runs a tool of this folder; its exit status and standard error.
std::pair<int, std::string> RunTool(const config::testing::ScratchDir& dir, const std::string& command) {
  const std::string err = dir / "tool.err";
  const int status = std::system((command + " 2>" + err).c_str());
  std::ifstream in(err, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

TEST(SuiteTools, ADirectoryWhereAFileIsExpectedIsNamedWithTheReason) {
  config::testing::ScratchDir dir;
  std::filesystem::create_directories(dir / "folder");
  dir.Write("good.ddf", "record 20\nkey 1:2\n");
  dir.Write("good.txt", "line\n");
  const std::string ddfc = KIT_DDFC_EXE, text = KIT_SUITE_TEXT_EXE, folder = dir / "folder";
  const std::pair<std::string, std::string> cases[] = {
      {ddfc + " " + folder + " " + (dir / "out"), "ddfc: " + folder + ": Is a directory\n"},
      {ddfc + " " + (dir / "good.ddf") + " " + folder, "ddfc: " + folder + ": Is a directory\n"},
      {text + " lines " + folder + " " + (dir / "out"), "suite_text: " + folder + ": Is a directory\n"},
      {text + " records 80 " + folder + " " + (dir / "out"), "suite_text: " + folder + ": Is a directory\n"},
      {text + " lines " + (dir / "good.txt") + " " + folder, "suite_text: " + folder + ": Is a directory\n"},
  };
  for (const auto& [command, error] : cases) {
    const auto [status, err] = RunTool(dir, command);
    EXPECT_EQ(status, 1) << command;
    EXPECT_EQ(err, error) << command;
  }
  EXPECT_EQ(RunTool(dir, text + " records wide " + (dir / "good.txt") + " " + (dir / "out")).first, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

struct Seg {
  int position, length, flags;
};
struct ExpectedFile {
  const char* name;
  std::int32_t record;
  std::int32_t keyLength;
  std::vector<Seg> segments;  // key 0, the only key
  std::int32_t generatedRecord, generatedKeyLength;  // what the views were made with
};

// What data files already made hold, and what the module's reads need: the
// record lengths, key 0 with its segments in the order the reads build their
// key values, duplicates where one key value may repeat (several receipts or
// payments on one date).
const std::vector<ExpectedFile>& ModuleFiles() {
  using namespace records;
  static const std::vector<ExpectedFile> files{
      {"TDespesa", 40, 2, {{1, 2, 0}}, ConceptLayout::kRecordLength, ConceptLayout::kKeyLength},
      {"THRebut", 32, 1, {{1, 1, 0}}, ReceiptTypeLayout::kRecordLength, ReceiptTypeLayout::kKeyLength},
      {"FinquesH", 400, 2, {{1, 2, 0}}, PropertyLayout::kRecordLength, PropertyLayout::kKeyLength},
      {"FinDespH", 602, 2, {{1, 2, 0}}, ConceptColumnsLayout::kRecordLength, ConceptColumnsLayout::kKeyLength},
      {"PropietH", 300, 4, {{1, 4, 0}}, OwnerLayout::kRecordLength, OwnerLayout::kKeyLength},
      {"PagamH", 50, 6, {{1, 2, 0x11}, {3, 4, 0x01}}, PaymentLayout::kRecordLength, PaymentLayout::kKeyLength},
      {"CobramH", 24, 8, {{1, 4, 0x11}, {5, 4, 0x01}}, CollectionLayout::kRecordLength, CollectionLayout::kKeyLength},
      {"PressupH", 20, 4, {{1, 2, 0x10}, {3, 2, 0}}, StoredLineLayout::kRecordLength, StoredLineLayout::kKeyLength},
  };
  return files;
}

class InstalledDictionaries : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const ExpectedFile& f : ModuleFiles()) {
      std::ifstream in(std::string(KIT_SUITE_DIR) + "/ddf/" + f.name + ".xdf", std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      dictionaries_.push_back(bytes.str());
      root_.Write(std::string("ddf/") + f.name + ".xdf", bytes.str());
    }
    std::filesystem::create_directories(root_ / "DADES");
    // The data layer logs inserts to "db.log" in the current directory: the root's.
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_.path());
    config::ResetSession();
    config::Session().RootDir = root_.path() + "/";
    data::ClearFileTable();
  }
  void TearDown() override {
    data::ResetDataFiles();
    config::ResetSession();
    std::filesystem::current_path(previous_);
  }
  std::int16_t Open(std::size_t i) {
    const auto id = static_cast<std::int16_t>(601 + i);
    const std::int16_t status =
        data::OpenDataFile(id, root_.path() + "/DADES/" + ModuleFiles()[i].name, area_);
    return status;
  }
  std::string Stat(std::int16_t id) {
    std::string buffer(1536, ' ');
    std::string key(255, ' ');
    std::uint32_t length = 1536;
    const int slot = data::FindSlot(id);
    EXPECT_GT(slot, 0);
    if (slot <= 0) return {};
    EXPECT_EQ(BTRCALL(15, data::FileTable()[static_cast<std::size_t>(slot)].PositionBlock.data(),
                      buffer.data(), &length, key.data(), 255, 0),
              0);
    return buffer;
  }

  config::testing::ScratchDir root_;
  std::filesystem::path previous_;
  std::vector<std::string> dictionaries_;
  std::array<char, 1024> area_{};
};

TEST_F(InstalledDictionaries, CreateEachFileWithTheLayoutStatReturns) {
  for (std::size_t i = 0; i < ModuleFiles().size(); ++i) {
    const ExpectedFile& f = ModuleFiles()[i];
    const std::string& file = dictionaries_[i];
    ASSERT_GE(file.size(), 2u) << f.name;
    const std::string creation = file.substr(2);
    EXPECT_EQ(static_cast<std::size_t>(At16(file, 0)), creation.size()) << f.name;
    ASSERT_EQ(creation.size(), 16 + 16 * f.segments.size()) << f.name;

    const std::string name = root_.path() + "/DADES/" + f.name;
    ASSERT_FALSE(std::filesystem::exists(name + ".dat")) << f.name;
    ASSERT_EQ(Open(i), 0) << f.name;
    EXPECT_TRUE(std::filesystem::exists(name + ".dat")) << f.name;
    const auto id = static_cast<std::int16_t>(601 + i);
    const data::KeyInfoResult info = data::KeyInfo(id, 0);
    EXPECT_EQ(info.RecordLength, f.record) << f.name;
    EXPECT_EQ(info.KeyLength, f.keyLength) << f.name;
    EXPECT_EQ(f.generatedRecord, f.record) << f.name;
    EXPECT_EQ(f.generatedKeyLength, f.keyLength) << f.name;
    EXPECT_EQ(data::KeyInfo(id, 1).KeyLength, 0) << f.name;  // one key each

    const std::string stat = Stat(id);
    ASSERT_GE(stat.size(), creation.size()) << f.name;
    EXPECT_EQ(At16(stat, 0), f.record) << f.name;
    EXPECT_EQ(At16(stat, 0), At16(creation, 0)) << f.name;
    EXPECT_EQ(At16(stat, 2), At16(creation, 2)) << f.name;
    EXPECT_EQ(At16(stat, 4), 1) << f.name;
    for (std::size_t s = 0; s < f.segments.size(); ++s) {
      const std::size_t at = 16 + 16 * s;
      EXPECT_EQ(At16(creation, at), f.segments[s].position) << f.name << " segment " << s;
      EXPECT_EQ(At16(creation, at + 2), f.segments[s].length) << f.name << " segment " << s;
      EXPECT_EQ(At16(creation, at + 4), f.segments[s].flags) << f.name << " segment " << s;
      EXPECT_EQ(stat.substr(at, 6), creation.substr(at, 6)) << f.name << " segment " << s;
    }
  }
}

TEST_F(InstalledDictionaries, DuplicatesOnlyWhereAKeyValueMayRepeat) {
  for (std::size_t i = 0; i < ModuleFiles().size(); ++i) ASSERT_EQ(Open(i), 0) << ModuleFiles()[i].name;
  for (std::size_t i = 0; i < ModuleFiles().size(); ++i) {
    const ExpectedFile& f = ModuleFiles()[i];
    const auto id = static_cast<std::int16_t>(601 + i);
    const bool duplicates = (f.segments[0].flags & 0x01) != 0;
    std::fill(area_.begin(), area_.end(), '\0');
    for (int b = 0; b < f.keyLength; ++b) area_[static_cast<std::size_t>(b)] = static_cast<char>(129 + b);
    EXPECT_EQ(data::InsertRecord(id), 0) << f.name;
    EXPECT_EQ(data::InsertRecord(id), duplicates ? 0 : 5) << f.name;
  }
}

// Packed codes and dates compare bytewise: payments of a property come in
// date order whatever order they were stored in, and stop at the next property.
TEST_F(InstalledDictionaries, PaymentsReadInPropertyAndDateOrder) {
  const std::size_t payments = 5;
  ASSERT_STREQ(ModuleFiles()[payments].name, "PagamH");
  ASSERT_EQ(Open(payments), 0);
  const auto id = static_cast<std::int16_t>(601 + payments);
  auto packed = [](std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(128 + v);
    return s;
  };
  const std::vector<std::string> keys{
      packed({0, 2, 20, 24, 3, 15}), packed({0, 1, 20, 25, 1, 1}), packed({0, 1, 20, 24, 12, 31}),
      packed({0, 1, 20, 24, 1, 5}),  packed({0, 1, 19, 99, 6, 30}),
  };
  for (const std::string& k : keys) {
    std::fill(area_.begin(), area_.end(), ' ');
    std::copy(k.begin(), k.end(), area_.begin());
    ASSERT_EQ(data::InsertRecord(id), 0);
  }
  std::vector<std::string> read;
  std::int16_t status = data::ReadByKey(id, 0, packed({0, 1}) + std::string(4, '\0'), 1);
  while (status == 0 && std::string(area_.data(), 2) == packed({0, 1})) {
    read.emplace_back(area_.data(), 6);
    status = data::StepRecords(id, 1);
  }
  EXPECT_EQ(read, (std::vector<std::string>{keys[4], keys[3], keys[2], keys[1]}));
}

}  // namespace
}  // namespace suite
