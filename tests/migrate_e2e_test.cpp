// kitdata migrate: a root's SQLite files copied into the server, and the
// module's report on the server the same as on the files it came from.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "data/btrcall.h"
#include "tests/e2e_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// The module's data files, in the order migrate copies them (by name).
const char* const kDataFiles[] = {"CobramH", "FinDespH", "FinquesH", "PagamH",
                                  "PressupH", "PropietH", "TDespesa", "THRebut"};

// Runs of kitdata and repquota on the SQLite files under the root, whatever
// KITDB says.
const std::map<std::string, std::string> kOnFiles{{"KITDB", ""}};

class Migrate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DataOnServer()) GTEST_SKIP() << "copies into a server: runs with KITDB set (ctest -L postgres)";
    Kitdata({"demo", root_.Dir().string(), "2024-11-15"}, kOnFiles);
  }

  ProgramResult Kitdata(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> argv{KIT_KITDATA};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, env);
  }
  std::string DataFile(const std::string& base) const { return (root_.Dir() / "DADES" / base).string(); }
  // Every record of a data file in key order, as raw bytes.
  std::string Records(const std::string& base, const std::map<std::string, std::string>& env = {}) {
    const ProgramResult r = Kitdata({"get", DataFile(base)}, env);
    EXPECT_EQ(r.exitStatus, 0) << base << ": " << r.standardError;
    return r.standardOutput;
  }

  SuiteRoot root_{"CAT", "15112024"};
};

// Property 1's whole job, with the new instalment written into every
// owner's receipts (monthly, receipt concept 1) and both listings printed;
// a key after the message that tells what the receipt update changed.
constexpr const char* kReportWithUpdate =
    "{Down}1{Ctrl+B}{Ctrl+B}1{Down}1{Down}1{Down}1{Ctrl+B}S{Enter}{Enter}{Esc}";

TEST_F(Migrate, TheReportOnTheServerMatchesTheReportOnTheFiles) {
  const ProgramResult copy = Kitdata({"migrate", root_.Dir().string()});
  ASSERT_EQ(copy.exitStatus, 0) << copy.standardError;
  // One line per data file with its number of records; the same records
  // in the same key order on both sides.
  std::string expected;
  for (const char* base : kDataFiles) {
    const std::string onFiles = Records(base, kOnFiles);
    const ProgramResult layout = Kitdata({"export", DataFile(base)}, kOnFiles);
    const auto lines = std::count(layout.standardOutput.begin(), layout.standardOutput.end(), '\n');
    expected += DataFile(base) + ".dat: " + std::to_string(lines - 1) + " records\n";
    ASSERT_FALSE(onFiles.empty()) << base;
    EXPECT_EQ(Records(base), onFiles) << base;
  }
  EXPECT_EQ(copy.standardOutput, expected);

  const std::string ownersBefore = Records("PropietH", kOnFiles);
  std::vector<std::string> screens;
  const ProgramResult files = root_.RunRepquota(kReportWithUpdate, screens, "files", "TMP", kOnFiles);
  ASSERT_EQ(files.exitStatus, 0) << files.standardError;
  const ProgramResult server = root_.RunRepquota(kReportWithUpdate, screens, "server");
  ASSERT_EQ(server.exitStatus, 0) << server.standardError;
  const std::vector<std::string> printed = root_.PrintedFiles();
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_THAT(Utf8(printed[0]), HasSubstr("REPARTIMENT DE LES DESPESES PER AL PERÍODE COMPRÈS ENTRE"));
  EXPECT_EQ(printed[1], printed[0]) << "the print files differ";
  // Both runs saved the budget and wrote the receipts alike.
  EXPECT_NE(Records("PropietH", kOnFiles), ownersBefore) << "the receipts were not written";
  for (const char* base : kDataFiles) EXPECT_EQ(Records(base), Records(base, kOnFiles)) << base;
}

TEST_F(Migrate, AFileThatCannotBeReadLeavesTheServerWithoutAnyOfTheCopy) {
  // The seventh of the eight files is damaged: six are on their way when
  // the copy fails.
  {
    std::ofstream damaged(DataFile("TDespesa") + ".dat", std::ios::binary | std::ios::trunc);
    damaged << std::string("SQLite format 3") + '\0' << std::string(4096, '\x5a');
  }
  const ProgramResult copy = Kitdata({"migrate", root_.Dir().string()});
  EXPECT_EQ(copy.exitStatus, 1);
  EXPECT_THAT(copy.standardError, HasSubstr(DataFile("TDespesa") + ".dat: cannot be read"));
  EXPECT_THAT(copy.standardError, HasSubstr("nothing was copied"));
  EXPECT_EQ(copy.standardOutput, "");
  // Not one of the files is on the server.
  for (const char* base : kDataFiles) {
    const ProgramResult r = Kitdata({"get", DataFile(base)});
    EXPECT_EQ(r.exitStatus, 1) << base;
    EXPECT_THAT(r.standardError, HasSubstr("(status 12)")) << base;
  }
}

TEST_F(Migrate, RecordsAlreadyOnTheServerAreReplacedOnlyWhenAskedTo) {
  ASSERT_EQ(Kitdata({"migrate", root_.Dir().string()}).exitStatus, 0);
  // The server's owners change; a second copy refuses to mix the two.
  const std::string owners = Records("PropietH", kOnFiles);
  const fs::path csv = root_.Dir() / "more.csv";
  std::ofstream(csv) << "owner,name\n00019999,NOU PROPIETARI\n";
  ASSERT_EQ(Kitdata({"import", DataFile("PropietH"), csv.string()}).exitStatus, 0);
  const std::string changed = Records("PropietH");
  ASSERT_NE(changed, owners);
  const ProgramResult again = Kitdata({"migrate", root_.Dir().string()});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_THAT(again.standardError, HasSubstr("already holds"));
  EXPECT_THAT(again.standardError, HasSubstr("--replace"));
  EXPECT_EQ(Records("PropietH"), changed);
  // --replace puts the files' records in their place.
  const ProgramResult replaced = Kitdata({"migrate", root_.Dir().string(), "--replace"});
  EXPECT_EQ(replaced.exitStatus, 0) << replaced.standardError;
  for (const char* base : kDataFiles) EXPECT_EQ(Records(base), Records(base, kOnFiles)) << base;
}

// A data file opened through the record manager in this process, on the
// storage KITDB names at the open.
class Opened {
 public:
  explicit Opened(const std::string& path, const std::string& creation = "") : path_(path) {
    if (!creation.empty()) {
      std::string buffer = creation + std::string(200, ' '), key = path_, scratch(128, ' ');
      std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
      created = BTRCALL(14, scratch.data(), buffer.data(), &length, key.data(), static_cast<std::uint8_t>(key.size()), -1);
    }
    std::string key = path_;
    char owner[5] = {};
    std::uint32_t length = 5;
    opened = BTRCALL(0, block_, owner, &length, key.data(), static_cast<std::uint8_t>(key.size()), 0);
  }
  ~Opened() {
    std::uint32_t length = 0;
    BTRCALL(1, block_, nullptr, &length, nullptr, 0, 0);
  }
  std::int16_t Call(std::uint16_t op, std::string& record, std::string key = std::string(32, '\0'), int keyNumber = 0) {
    std::uint32_t length = static_cast<std::uint32_t>(record.size());
    key.resize(32, '\0');
    return BTRCALL(op, block_, record.data(), &length, key.data(), 32, static_cast<std::int8_t>(keyNumber));
  }
  // The first two bytes of every record along `key`.
  std::string Walk(int key) {
    std::string out, record(20, ' ');
    for (std::int16_t s = Call(12, record, std::string(32, '\0'), key); s == 0;
         s = Call(6, record, std::string(32, '\0'), key))
      out += record.substr(0, 2) + " ";
    return out;
  }
  std::int16_t created = 0, opened = -1;

 private:
  std::string path_;
  unsigned char block_[128] = {};
};

// Records of 20 bytes: key 0 unique on bytes 1-2, key 1 with duplicates on
// bytes 3-4 (modifiable).
std::string TwoKeys() {
  std::string c(48, '\0');
  c[0] = 20;                     // record length
  c[3] = 2;                      // page size 512
  c[4] = 2;                      // two keys
  c[16] = 1, c[18] = 2;          // key 0: bytes 1-2
  c[32] = 3, c[34] = 2, c[36] = 3;  // key 1: bytes 3-4, duplicates, modifiable
  return c;
}

TEST(MigrateOrder, RecordsWithEqualKeysKeepTheirOrderAlongEveryKey) {
  if (!DataOnServer()) GTEST_SKIP() << "copies into a server: runs with KITDB set (ctest -L postgres)";
  SuiteRoot root("CAT", "15112024");
  const std::string server = std::getenv("KITDB"), path = (root.Dir() / "DADES" / "Ordre.dat").string();
  ::setenv("KITDB", "", 1);
  std::string byKey1;
  {
    Opened f(path, TwoKeys());
    ASSERT_EQ(f.created, 0);
    ASSERT_EQ(f.opened, 0);
    for (const char* r : {"01xx", "02yy", "03xx"}) {
      std::string record = std::string(r) + std::string(16, '.');
      ASSERT_EQ(f.Call(2, record), 0);
    }
    // 01 moves to the end of the "yy" group: after 02, although stored first.
    std::string record(20, ' ');
    ASSERT_EQ(f.Call(5, record, "01"), 0);
    record.replace(2, 2, "yy");
    ASSERT_EQ(f.Call(3, record), 0);
    byKey1 = f.Walk(1);
    ASSERT_EQ(byKey1, "03 02 01 ");
  }
  ::setenv("KITDB", server.c_str(), 1);
  const std::vector<std::string> argv{KIT_KITDATA, "migrate", root.Dir().string()};
  const ProgramResult copy = RunProgram(argv, {});
  ASSERT_EQ(copy.exitStatus, 0) << copy.standardError;
  EXPECT_THAT(copy.standardOutput, HasSubstr(path + ": 3 records\n"));
  Opened copied(path);
  ASSERT_EQ(copied.opened, 0);
  EXPECT_EQ(copied.Walk(0), "01 02 03 ");
  EXPECT_EQ(copied.Walk(1), byKey1);
}

}  // namespace
}  // namespace e2e
