#include "platform/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

namespace platform {
namespace {

// What a ProgressLine wrote to its stream.
class ProgressLineTest : public ::testing::Test {
 protected:
  void SetUp() override { stream_ = std::tmpfile(); ASSERT_NE(stream_, nullptr); }
  void TearDown() override { std::fclose(stream_); }
  std::string Written() {
    std::fflush(stream_);
    std::string text;
    std::rewind(stream_);
    for (int c; (c = std::fgetc(stream_)) != EOF;) text += static_cast<char>(c);
    return text;
  }
  std::FILE* stream_ = nullptr;
};

TEST_F(ProgressLineTest, NothingOnAStreamThatIsNoTerminal) {
  {
    ProgressLine progress(stream_, false, std::chrono::milliseconds(0));
    EXPECT_FALSE(progress.Due());
    progress.Show("page 1/2");
    progress.Clear();
  }
  EXPECT_EQ(Written(), "");
}

TEST_F(ProgressLineTest, NothingBeforeTheDelayNorForAQuickJob) {
  {
    ProgressLine progress(stream_, true, std::chrono::hours(1));
    EXPECT_FALSE(progress.Due());
  }
  EXPECT_EQ(Written(), "");
}

TEST_F(ProgressLineTest, RewrittenInPlaceAndWipedAtTheEnd) {
  {
    ProgressLine progress(stream_, true, std::chrono::milliseconds(0));
    ASSERT_TRUE(progress.Due());
    progress.Show("page 1/4000");
    // Asked again at once: not due, so a fast loop does not flood the terminal.
    EXPECT_FALSE(progress.Due());
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    ASSERT_TRUE(progress.Due());
    progress.Show("page 2/4000");
  }
  EXPECT_EQ(Written(), "\rpage 1/4000\x1b[K\rpage 2/4000\x1b[K\r\x1b[K");
}

}  // namespace
}  // namespace platform
