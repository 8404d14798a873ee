#include "app/print_channel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/session.h"
#include "config/test_files.h"
#include "platform/file_system.h"

namespace app {
namespace {

class PrintChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config::ResetSession();
    config::Session().TempDir = dir_.path() + "/";
    ASSERT_TRUE(channel.Open("PANTALLA"));
  }
  void TearDown() override {
    channel.Close();
    config::ResetSession();
  }
  std::string File() {
    channel.Close();
    std::ifstream in(dir_ / "kitprint.tmp", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  config::testing::ScratchDir dir_;
  PrintChannel channel;
};

TEST_F(PrintChannelTest, WritesEveryKindOfLine) {
  channel.SetPageLength(66);
  EXPECT_EQ(channel.SetJustification("  right"), "D");
  channel.SendPrintCommand("@e");
  const std::string text = "TOTAL";
  channel.PrintLine(10, text, 1);
  EXPECT_EQ(text, "TOTAL");  // the caller's text is left alone
  channel.PrintLine(-3, "", 0);
  EXPECT_EQ(File(), "DEVICEPANTALLA\r\nPAGE 66 \r\nJUSD\r\n*@e\r\n 10 ,TOTAL, 1 \r\n-3 ,, 0 \r\n");
}

TEST_F(PrintChannelTest, JustificationCodes) {
  const std::pair<const char*, const char*> cases[] = {
      {"c", "C"},       {"  right", "D"}, {"D", "D"},  {"a", "A"}, {"Both", "A"}, {"x", "E"},
      {"", "E"},        {"N 84 \\.\\", "N 84 \\.\\"},  {"n-12 \\,\\ tail", "N 12 \\,\\"},
  };
  for (const auto& [argument, written] : cases) {
    EXPECT_EQ(channel.SetJustification(argument), written) << argument;
  }
}

TEST_F(PrintChannelTest, CleansTextAndCountsColumnsAndLines) {
  channel.SetPageLength(3);
  channel.PrintLine(1, std::string("A\tB\xff\x85\xe0", 6), 0);
  channel.PrintLine(10, "XY", 0);
  channel.PrintLine(0, "ABC", 0);
  EXPECT_EQ(channel.ColumnCount(), 15);
  channel.PrintLine(0, "", 1);
  EXPECT_EQ(channel.ColumnCount(), 0);
  channel.PrintLine(1, "2", 1);
  channel.PrintLine(1, "3", 1);
  EXPECT_EQ(channel.LineCount(), 3);
  channel.PrintLine(1, "4", 1);  // overflows: a new page line first
  EXPECT_EQ(channel.LineCount(), 1);
  EXPECT_EQ(File(),
            "DEVICEPANTALLA\r\nPAGE 3 \r\n 1 ,A B \x85\xe0, 0 \r\n 10 ,XY, 0 \r\n 0 ,ABC, 0 \r\n 0 ,, 1 \r\n"
            " 1 ,2, 1 \r\n 1 ,3, 1 \r\nPAGE 3 \r\n 1 ,4, 1 \r\n");
}

TEST_F(PrintChannelTest, WithoutPageLengthEveryLineStartsAPage) {
  channel.PrintLine(1, "A", 1);
  channel.PrintLine(1, "B", 1);
  EXPECT_EQ(File(), "DEVICEPANTALLA\r\nPAGE 0 \r\n 1 ,A, 1 \r\nPAGE 0 \r\n 1 ,B, 1 \r\n");
}

TEST_F(PrintChannelTest, AFullDiskIsReportedWhenTheFileIsClosed) {
  EXPECT_FALSE(channel.Failed());
  channel.Close();
  std::filesystem::remove(dir_ / "kitprint.tmp");
  std::filesystem::create_symlink("/dev/full", dir_ / "kitprint.tmp");
  ASSERT_TRUE(channel.Open("PANTALLA"));
  channel.SetPageLength(66);
  channel.PrintLine(1, "TOTAL", 1);
  channel.Close();
  EXPECT_TRUE(channel.Failed());
  // The next good open starts clean.
  std::filesystem::remove(dir_ / "kitprint.tmp");
  ASSERT_TRUE(channel.Open("PANTALLA"));
  channel.Close();
  EXPECT_FALSE(channel.Failed());
}

TEST_F(PrintChannelTest, APrintFileThatCannotBeMadeLeavesNoOldListingBehind) {
  channel.Close();
  std::filesystem::remove(dir_ / "kitprint.tmp");
  // A name that cannot be opened for writing: a link into a missing folder.
  std::filesystem::create_symlink(dir_ / "missing/kitprint.tmp", dir_ / "kitprint.tmp");
  EXPECT_FALSE(channel.Open("PANTALLA"));
  EXPECT_TRUE(channel.Failed());
  channel.SetPageLength(66);  // writing to a closed channel is harmless
  channel.PrintLine(1, "TOTAL", 1);
  EXPECT_FALSE(std::filesystem::is_symlink(dir_ / "kitprint.tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "kitprint.tmp"));
}

// A print file whose writes, or whose making, fail as a full disk or a
// refused folder would.
class FailingPrintFile : public platform::FileSystemWrapper {
 public:
  FailingPrintFile() : platform::FileSystemWrapper(platform::RealFileSystem()) {}
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    if (openError != 0) {
      status = platform::FileStatus{openError};
      return nullptr;
    }
    std::unique_ptr<platform::File> real = target().Open(path, flags, status, mode);
    if (!real || !failWrites) return real;
    struct Full : platform::FileWrapper {
      using FileWrapper::FileWrapper;
      platform::FileStatus WriteAt(std::uint64_t, std::string_view) override { return platform::FileStatus{ENOSPC}; }
    };
    return std::make_unique<Full>(std::move(real));
  }
  int openError = 0;
  bool failWrites = false;
};

TEST_F(PrintChannelTest, FailuresThroughTheFileSystemAreReportedAtCloseWithTheirReason) {
  channel.Close();
  FailingPrintFile fs;
  platform::ScopedFileSystem scoped(fs);
  fs.failWrites = true;
  ASSERT_TRUE(channel.Open("PANTALLA"));
  channel.SetPageLength(66);
  channel.PrintLine(1, "TOTAL", 1);
  channel.Close();
  EXPECT_TRUE(channel.Failed());
  EXPECT_EQ(channel.Failure(), "No space left on device");
  EXPECT_EQ(channel.FailureError(), ENOSPC);

  // A print file that cannot be made leaves no earlier listing behind.
  fs.failWrites = false;
  dir_.Write("kitprint.tmp", "DEVICE\r\nan earlier listing\r\n");
  fs.openError = EACCES;
  EXPECT_FALSE(channel.Open("PANTALLA"));
  EXPECT_TRUE(channel.Failed());
  EXPECT_EQ(channel.Failure(), "Permission denied");
  EXPECT_EQ(channel.FailureError(), EACCES);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "kitprint.tmp"));
}

TEST_F(PrintChannelTest, ADiscardedListingLeavesNoPrintFile) {
  channel.SetPageLength(66);
  channel.PrintLine(1, "PART OF A LISTING", 1);
  channel.Discard();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "kitprint.tmp"));
}

}  // namespace
}  // namespace app
