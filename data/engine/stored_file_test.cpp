// A storage's searches from every kind of cut, against the order the cuts
// define, on whichever storage the tests run on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "data/engine/file_definition.h"
#include "data/engine/record_manager.h"
#include "data/engine/storage.h"

namespace recordmanager {
namespace {

// Records of 4 bytes: key 0 unique on bytes 1-2, key 1 with duplicates on
// byte 3.
FileDefinition TwoKeys() {
  FileDefinition def;
  def.recordLength = 4;
  def.pageSize = 512;
  std::string creation(16, '\0');
  creation[0] = 4;
  creation[3] = 2;  // page size 512
  creation[4] = 2;  // two keys
  auto segment = [&](int position, int length, int flags) {
    std::string s(16, '\0');
    s[0] = static_cast<char>(position);
    s[2] = static_cast<char>(length);
    s[4] = static_cast<char>(flags);
    creation += s;
  };
  segment(1, 2, 0);
  segment(3, 1, kSegDuplicates);
  EXPECT_EQ(ParseCreationRecord(creation, def), 0);
  return def;
}

std::vector<std::string> Positions(const RowBuffer& rows) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < rows.Size(); ++i) out.push_back(std::to_string(rows[i].pos));
  return out;
}

class StoredFileSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/storedXXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override {
    file_.reset();
    Store().Reset();
    std::system(("rm -rf " + dir_).c_str());
  }
  static Storage& Store() { return DataOnServer() ? PostgresStorage() : SqliteStorage(); }

  std::string dir_;
  std::unique_ptr<StoredFile> file_;
};

// Groups of equal images with seqs next to each other and apart, cuts on
// records, between their seqs and between images, every limit up to past
// the end: each search finds what the order says, in its order.
TEST_F(StoredFileSearch, EverySearchFindsTheRecordsBeyondItsCutInOrder) {
  const FileDefinition def = TwoKeys();
  const std::string path = dir_ + "/s.dat";
  ASSERT_EQ(Store().Create(path, def), 0);
  ASSERT_EQ(Store().Open(path, file_), 0);
  const std::string groups = "baabacaab";
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const std::string record = std::to_string(10 + 2 * i) + groups[i] + ".";
    std::vector<std::string> images{ImageFromRecord(def, 0, record), ImageFromRecord(def, 1, record)};
    std::int64_t pos = 0;
    std::vector<std::int64_t> seqs;
    ASSERT_EQ(file_->Insert(record, images, pos, seqs, nullptr), 0);
  }
  for (int key = 0; key < 2; ++key) {
    RowBuffer all;
    ASSERT_EQ(file_->Find(key, Cut::Bottom(), true, 100, all), 0);
    ASSERT_EQ(all.Size(), groups.size());
    std::vector<Cut> cuts{Cut::Bottom(), Cut::Top()};
    for (std::size_t i = 0; i < all.Size(); ++i) {
      const Row& r = all[i];
      for (std::int64_t seq : {r.seq, r.seq - 1, kSeqBelowAll, kSeqAboveAll}) cuts.push_back(Cut::After(r.image, seq));
      cuts.push_back(Cut::After(r.image + "~", kSeqBelowAll));  // between two images
    }
    for (const Cut& cut : cuts)
      for (bool forward : {true, false})
        for (int limit : {1, 2, 3, 20}) {
          std::vector<std::string> expected;
          for (std::size_t n = 0; n < all.Size(); ++n) {
            const Row& r = all[forward ? n : all.Size() - 1 - n];
            if (cut.Below(r.image, r.seq) == forward && static_cast<int>(expected.size()) < limit)
              expected.push_back(std::to_string(r.pos));
          }
          RowBuffer found;
          ASSERT_EQ(file_->Find(key, cut, forward, limit, found), 0);
          EXPECT_EQ(Positions(found), expected)
              << "key " << key << (forward ? " up" : " down") << " from " << cut.kind << " '" << cut.image << "' "
              << cut.seq << " limit " << limit;
        }
  }
}

}  // namespace
}  // namespace recordmanager
