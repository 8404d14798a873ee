#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>

namespace platform {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kitfsXXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(FileSystemTest, ReadingWhatIsNotAReadableFileIsAnErrorValue) {
  FileSystem& fs = RealFileSystem();
  EXPECT_EQ(fs.ReadWholeFile(dir_ + "/missing").status.error, ENOENT);
  EXPECT_EQ(fs.ReadWholeFile(dir_).status.error, EISDIR);
  FileStatus status;
  EXPECT_EQ(fs.Open(dir_, kOpenRead, status), nullptr);
  EXPECT_EQ(status.error, EISDIR);
  EXPECT_FALSE(status.Describe().empty());
}

TEST_F(FileSystemTest, WholeFilesComeBackByteForByteAcrossReadBuffers) {
  FileSystem& fs = RealFileSystem();
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(fs.WriteWholeFile(dir_ + "/f", bytes, true, 0666).ok());
  ReadResult read = fs.ReadWholeFile(dir_ + "/f");
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.bytes, bytes);
  // A shorter write replaces the whole file.
  ASSERT_TRUE(fs.WriteWholeFile(dir_ + "/f", "abc", false, 0666).ok());
  EXPECT_EQ(fs.ReadWholeFile(dir_ + "/f").bytes, "abc");
}

TEST_F(FileSystemTest, AFullDiskIsReportedByTheWriteItself) {
  FileStatus status;
  std::unique_ptr<File> full = RealFileSystem().Open("/dev/full", kOpenReadWrite, status);
  if (!full) GTEST_SKIP() << "/dev/full: " << status.Describe();
  EXPECT_EQ(full->WriteAt(0, std::string(100, 'x')).error, ENOSPC);
  EXPECT_EQ(RealFileSystem().WriteWholeFile("/dev/full", "x", false, 0666).error, ENOSPC);
}

TEST_F(FileSystemTest, AppendingAddsAtTheEndAndMakesTheFileOnlyWhenAsked) {
  FileSystem& fs = RealFileSystem();
  const std::string log = dir_ + "/log";
  EXPECT_EQ(fs.AppendToFile(log, "one\r\n", false).error, ENOENT);
  EXPECT_FALSE(std::filesystem::exists(log));
  ASSERT_TRUE(fs.AppendToFile(log, "one\r\n", true).ok());
  ASSERT_TRUE(fs.AppendToFile(log, "two\r\n", false).ok());
  EXPECT_EQ(fs.ReadWholeFile(log).bytes, "one\r\ntwo\r\n");
  EXPECT_EQ(fs.AppendToFile(dir_, "x", true).error, EISDIR);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(fs.AppendToFile("/dev/full", "x", false).error, ENOSPC);
  }
}

TEST_F(FileSystemTest, FilesReadAndWriteAtOffsetsAndTellTheirSize) {
  FileStatus status;
  std::unique_ptr<File> f = RealFileSystem().Open(dir_ + "/r", kOpenCreate, status);
  ASSERT_NE(f, nullptr) << status.Describe();
  ASSERT_TRUE(f->WriteAt(4, "wxyz").ok());
  ASSERT_TRUE(f->Append("!").ok());
  std::uint64_t size = 0;
  ASSERT_TRUE(f->Size(size).ok());
  EXPECT_EQ(size, 9u);
  char out[16];
  std::size_t got = 0;
  ASSERT_TRUE(f->ReadAt(6, out, got).ok());
  EXPECT_EQ(std::string(out, got), "yz!");  // short at the end, no error
  ASSERT_TRUE(f->Truncate(2).ok());
  ASSERT_TRUE(f->Size(size).ok());
  EXPECT_EQ(size, 2u);
  EXPECT_TRUE(f->Close().ok());
  EXPECT_TRUE(f->Close().ok());
  EXPECT_EQ(f->WriteAt(0, "x").error, EBADF);
}

TEST_F(FileSystemTest, ExclusiveCreateRefusesAnExistingFile) {
  FileStatus status;
  ASSERT_NE(RealFileSystem().Open(dir_ + "/e", kOpenCreate | kOpenExclusive, status), nullptr);
  EXPECT_EQ(RealFileSystem().Open(dir_ + "/e", kOpenCreate | kOpenExclusive, status), nullptr);
  EXPECT_EQ(status.error, EEXIST);
}

TEST_F(FileSystemTest, RemovingAndMakingDirectoriesToleratesWhatIsAlreadyThere) {
  FileSystem& fs = RealFileSystem();
  EXPECT_TRUE(fs.Remove(dir_ + "/none").ok());
  EXPECT_TRUE(fs.MakeDirectory(dir_ + "/d", 0777).ok());
  EXPECT_TRUE(fs.MakeDirectory(dir_ + "/d", 0777).ok());
  ASSERT_TRUE(fs.WriteWholeFile(dir_ + "/d/x", "1", false, 0666).ok());
  EXPECT_EQ(fs.MakeDirectory(dir_ + "/d/x", 0777).error, ENOTDIR);
  EXPECT_TRUE(fs.RemoveAll(dir_ + "/d").ok());
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/d"));
  EXPECT_TRUE(fs.RemoveAll(dir_ + "/d").ok());
}

// A double that fails the second write of every file it opens: what a test
// of a caller's error path installs.
class SecondWriteFails : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  std::unique_ptr<File> Open(const std::string& path, unsigned flags, FileStatus& status, mode_t mode) override {
    std::unique_ptr<File> real = target().Open(path, flags, status, mode);
    if (!real) return nullptr;
    struct Failing : FileWrapper {
      using FileWrapper::FileWrapper;
      int writes = 0;
      FileStatus WriteAt(std::uint64_t offset, std::string_view bytes) override {
        if (++writes == 2) return FileStatus{EIO};
        return FileWrapper::WriteAt(offset, bytes);
      }
    };
    return std::make_unique<Failing>(std::move(real));
  }
};

TEST_F(FileSystemTest, AnInstalledDoubleIsWhatTheShorthandsUseUntilItsGuardGoes) {
  SecondWriteFails failing(RealFileSystem());
  {
    ScopedFileSystem guard(failing);
    FileStatus status;
    std::unique_ptr<File> f = OpenFile(dir_ + "/w", kOpenCreate, status);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->WriteAt(0, "a").ok());
    EXPECT_EQ(f->WriteAt(1, "b").error, EIO);
  }
  FileStatus status;
  std::unique_ptr<File> f = OpenFile(dir_ + "/w", kOpenReadWrite, status);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->WriteAt(1, "b").ok());
  EXPECT_TRUE(f->WriteAt(2, "c").ok());
  EXPECT_EQ(ReadWholeFile(dir_ + "/w").bytes, "abc");
}

}  // namespace
}  // namespace platform
