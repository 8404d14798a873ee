#include "suite/tool/dictionary_source.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/session.h"
#include "config/test_files.h"
#include "data/files.h"
#include "data/notice.h"

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
  };
  for (const auto& [source, error] : cases) {
    const CompiledDictionary d = CompileDictionary(source);
    EXPECT_EQ(d.error, error) << source;
    EXPECT_TRUE(d.creation.empty()) << source;
  }
}

// The installed dictionaries make the module's files, through the data
// layer, with the record lengths and keys the record layouts need.
TEST(InstalledDictionaries, CreateTheModuleFiles) {
  struct Expected {
    const char* name;
    std::int32_t minimumRecord;  // past the last field the module or kitdata uses
    std::int32_t keyLength;
  };
  const Expected files[] = {
      {"TDespesa", 27, 2}, {"THRebut", 23, 1},  {"FinquesH", 385, 2}, {"FinDespH", 602, 2},
      {"PropietH", 295, 4}, {"PagamH", 42, 6}, {"CobramH", 17, 8},  {"PressupH", 17, 4},
  };
  config::testing::ScratchDir root;
  for (const Expected& f : files) {
    std::ifstream in(std::string(KIT_SUITE_DIR) + "/ddf/" + f.name + ".xdf", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    root.Write(std::string("ddf/") + f.name + ".xdf", bytes.str());
  }
  std::filesystem::create_directories(root / "DADES");
  // The data layer logs inserts to "db.log" in the current directory: the root's.
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(root.path());
  config::ResetSession();
  config::Session().RootDir = root.path() + "/";
  data::ClearFileTable();
  std::array<char, 1024> area{};
  std::int16_t id = 600;
  for (const Expected& f : files) {
    ++id;
    const std::string name = root.path() + "/DADES/" + f.name;
    ASSERT_EQ(data::OpenDataFile(id, name, area), 0) << f.name;
    const data::KeyInfoResult info = data::KeyInfo(id, 0);
    EXPECT_GE(info.RecordLength, f.minimumRecord) << f.name;
    EXPECT_EQ(info.KeyLength, f.keyLength) << f.name;
    EXPECT_EQ(data::KeyInfo(id, 1).KeyLength, 0) << f.name;  // one key each
    EXPECT_TRUE(std::filesystem::exists(name + ".dat")) << f.name;
  }
  // Payments and collections share dates: a second record with the same key goes in.
  const std::int16_t payments = 606;
  std::fill(area.begin(), area.end(), '\0');
  area[0] = area[1] = static_cast<char>(129);
  EXPECT_EQ(data::InsertRecord(payments), 0);
  EXPECT_EQ(data::InsertRecord(payments), 0);
  data::ResetDataFiles();
  config::ResetSession();
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace suite
