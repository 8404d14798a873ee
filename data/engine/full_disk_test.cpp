// Data files on a disk that has run full: a real small file system, filled
// to the last block, not a simulated failure. Needs the right to mount
// (root); skipped otherwise.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/engine/file_definition.h"
#include "data/engine/record_manager.h"
#include "data/engine/storage.h"

namespace recordmanager {
namespace {

// Records of 8 bytes, key 0 unique on the first 4.
FileDefinition EightBytes() {
  FileDefinition def;
  std::string creation(16, '\0');
  creation[0] = 8;
  creation[3] = 2;  // page size 512
  creation[4] = 1;  // one key
  std::string segment(16, '\0');
  segment[0] = 1;
  segment[2] = 4;
  creation += segment;
  EXPECT_EQ(ParseCreationRecord(creation, def), 0);
  return def;
}

class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (DataOnServer()) GTEST_SKIP() << "about the files of the embedded storage";
    char tmpl[] = "/tmp/fulldiskXXXXXX";
    dir_ = mkdtemp(tmpl);
    if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=1m") != 0)
      GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    mounted_ = true;
  }
  void TearDown() override {
    file_.reset();
    SqliteStorage().Reset();
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }

  // Takes every free block of the file system.
  void Fill() {
    const int fd = ::open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  void Free() { ::unlink((dir_ + "/filler").c_str()); }

  std::int16_t Insert(const std::string& record) {
    std::vector<std::string> images{ImageFromRecord(def_, 0, record)};
    std::int64_t pos = 0;
    std::vector<std::int64_t> seqs;
    return file_->Insert(record, images, pos, seqs, nullptr);
  }

  std::int64_t Count() {
    RowBuffer rows;
    EXPECT_EQ(file_->Find(0, Cut::Bottom(), true, 1000, rows), 0);
    return static_cast<std::int64_t>(rows.Size());
  }

  std::string dir_;
  bool mounted_ = false;
  const FileDefinition def_ = EightBytes();
  std::unique_ptr<StoredFile> file_;
};

// Opening a file needs room for the log's shared index: on a full disk the
// open says so (status 18), rather than calling the file a foreign one, and
// the file opens with its records once there is room again.
TEST_F(FullDisk, AFileOpenedOnAFullDiskIsReportedFullNotForeign) {
  const std::string path = dir_ + "/f.dat";
  ASSERT_EQ(SqliteStorage().Create(path, def_), 0);
  ASSERT_EQ(SqliteStorage().Open(path, file_), 0);
  ASSERT_EQ(Insert("0001abcd"), 0);
  file_.reset();
  SqliteStorage().Reset();

  Fill();
  EXPECT_EQ(SqliteStorage().Open(path, file_), kDiskFull);
  Free();
  file_.reset();
  ASSERT_EQ(SqliteStorage().Open(path, file_), 0);
  EXPECT_EQ(Count(), 1);
}

// A transaction whose writes no longer fit is refused whole: its end
// reports the full disk (or an earlier write did), and the file keeps
// exactly what it held before.
TEST_F(FullDisk, ATransactionThatDoesNotFitLeavesTheFileAsItWas) {
  const std::string path = dir_ + "/f.dat";
  ASSERT_EQ(SqliteStorage().Create(path, def_), 0);
  ASSERT_EQ(SqliteStorage().Open(path, file_), 0);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Insert("a" + std::to_string(100 + i) + "wxyz"), 0);
  Fill();
  ASSERT_EQ(SqliteStorage().Begin(), 0);
  std::int16_t status = 0;
  for (int i = 0; i < 10000 && status == 0; ++i) {
    char record[16];
    std::snprintf(record, sizeof record, "%04dwxyz", i);
    status = Insert(std::string(record, 8));
  }
  const std::int16_t end = status == 0 ? SqliteStorage().Commit() : SqliteStorage().Rollback();
  EXPECT_TRUE(status == kDiskFull || end == kDiskFull) << "write " << status << ", end " << end;
  Free();
  file_.reset();
  SqliteStorage().Reset();
  ASSERT_EQ(SqliteStorage().Open(path, file_), 0);
  EXPECT_EQ(Count(), 50);
}

}  // namespace
}  // namespace recordmanager
