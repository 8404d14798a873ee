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
    ASSERT_TRUE(OpenPrintChannel("PANTALLA"));
  }
  void TearDown() override {
    ClosePrintChannel();
    config::ResetSession();
  }
  std::string File() {
    ClosePrintChannel();
    std::ifstream in(dir_ / "kitprint.tmp", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  config::testing::ScratchDir dir_;
};

TEST_F(PrintChannelTest, WritesEveryKindOfLine) {
  SetPageLength(66);
  EXPECT_EQ(SetJustification("  right"), "D");
  SendPrintCommand("@e");
  const std::string text = "TOTAL";
  PrintLine(10, text, 1);
  EXPECT_EQ(text, "TOTAL");  // the caller's text is left alone
  PrintLine(-3, "", 0);
  EXPECT_EQ(File(), "DEVICEPANTALLA\r\nPAGE 66 \r\nJUSD\r\n*@e\r\n 10 ,TOTAL, 1 \r\n-3 ,, 0 \r\n");
}

TEST_F(PrintChannelTest, JustificationCodes) {
  const std::pair<const char*, const char*> cases[] = {
      {"c", "C"},       {"  right", "D"}, {"D", "D"},  {"a", "A"}, {"Both", "A"}, {"x", "E"},
      {"", "E"},        {"N 84 \\.\\", "N 84 \\.\\"},  {"n-12 \\,\\ tail", "N 12 \\,\\"},
  };
  for (const auto& [argument, written] : cases) {
    EXPECT_EQ(SetJustification(argument), written) << argument;
  }
}

TEST_F(PrintChannelTest, CleansTextAndCountsColumnsAndLines) {
  SetPageLength(3);
  PrintLine(1, std::string("A\tB\xff\x85\xe0", 6), 0);
  PrintLine(10, "XY", 0);
  PrintLine(0, "ABC", 0);
  EXPECT_EQ(PrintChannel().ColumnCount, 15);
  PrintLine(0, "", 1);
  EXPECT_EQ(PrintChannel().ColumnCount, 0);
  PrintLine(1, "2", 1);
  PrintLine(1, "3", 1);
  EXPECT_EQ(PrintChannel().LineCount, 3);
  PrintLine(1, "4", 1);  // overflows: a new page line first
  EXPECT_EQ(PrintChannel().LineCount, 1);
  EXPECT_EQ(File(),
            "DEVICEPANTALLA\r\nPAGE 3 \r\n 1 ,A B \x85\xe0, 0 \r\n 10 ,XY, 0 \r\n 0 ,ABC, 0 \r\n 0 ,, 1 \r\n"
            " 1 ,2, 1 \r\n 1 ,3, 1 \r\nPAGE 3 \r\n 1 ,4, 1 \r\n");
}

TEST_F(PrintChannelTest, WithoutPageLengthEveryLineStartsAPage) {
  PrintLine(1, "A", 1);
  PrintLine(1, "B", 1);
  EXPECT_EQ(File(), "DEVICEPANTALLA\r\nPAGE 0 \r\n 1 ,A, 1 \r\nPAGE 0 \r\n 1 ,B, 1 \r\n");
}

TEST_F(PrintChannelTest, AFullDiskIsReportedWhenTheFileIsClosed) {
  EXPECT_FALSE(PrintChannelFailed());
  ClosePrintChannel();
  std::filesystem::remove(dir_ / "kitprint.tmp");
  std::filesystem::create_symlink("/dev/full", dir_ / "kitprint.tmp");
  ASSERT_TRUE(OpenPrintChannel("PANTALLA"));
  SetPageLength(66);
  PrintLine(1, "TOTAL", 1);
  ClosePrintChannel();
  EXPECT_TRUE(PrintChannelFailed());
  // The next good open starts clean.
  std::filesystem::remove(dir_ / "kitprint.tmp");
  ASSERT_TRUE(OpenPrintChannel("PANTALLA"));
  ClosePrintChannel();
  EXPECT_FALSE(PrintChannelFailed());
}

TEST_F(PrintChannelTest, APrintFileThatCannotBeMadeLeavesNoOldListingBehind) {
  ClosePrintChannel();
  std::filesystem::remove(dir_ / "kitprint.tmp");
  // A name that cannot be opened for writing: a link into a missing folder.
  std::filesystem::create_symlink(dir_ / "missing/kitprint.tmp", dir_ / "kitprint.tmp");
  EXPECT_FALSE(OpenPrintChannel("PANTALLA"));
  EXPECT_TRUE(PrintChannelFailed());
  EXPECT_FALSE(PrintChannelOpen());
  SetPageLength(66);  // writing to a closed channel is harmless
  PrintLine(1, "TOTAL", 1);
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
  ClosePrintChannel();
  FailingPrintFile fs;
  platform::ScopedFileSystem scoped(fs);
  fs.failWrites = true;
  ASSERT_TRUE(OpenPrintChannel("PANTALLA"));
  SetPageLength(66);
  PrintLine(1, "TOTAL", 1);
  ClosePrintChannel();
  EXPECT_TRUE(PrintChannelFailed());
  EXPECT_EQ(PrintChannelFailure(), "No space left on device");

  // A print file that cannot be made leaves no earlier listing behind.
  fs.failWrites = false;
  dir_.Write("kitprint.tmp", "DEVICE\r\nan earlier listing\r\n");
  fs.openError = EACCES;
  EXPECT_FALSE(OpenPrintChannel("PANTALLA"));
  EXPECT_TRUE(PrintChannelFailed());
  EXPECT_EQ(PrintChannelFailure(), "Permission denied");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "kitprint.tmp"));
}

TEST_F(PrintChannelTest, ADiscardedListingLeavesNoPrintFile) {
  SetPageLength(66);
  PrintLine(1, "PART OF A LISTING", 1);
  DiscardPrintChannel();
  EXPECT_FALSE(PrintChannelOpen());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "kitprint.tmp"));
}

}  // namespace
}  // namespace app
