#include "platform/held_messages.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace platform {
namespace {

// Standard error sent to a file for the length of a test.
class StandardErrorToFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/heldXXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    path_ = name;
    original_ = ::dup(STDERR_FILENO);
    ASSERT_GE(::dup2(fd, STDERR_FILENO), 0);
    ::close(fd);
  }
  void TearDown() override {
    ReleaseStandardError();
    ::dup2(original_, STDERR_FILENO);
    ::close(original_);
    std::remove(path_.c_str());
  }
  std::string Written() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string path_;
  int original_ = -1;
};

TEST_F(StandardErrorToFile, HeldMessagesComeOutInOrderOnceReleasedAlsoAChildsOnes) {
  ASSERT_TRUE(HoldStandardError());
  EXPECT_TRUE(HoldStandardError());  // already holding: the same hold
  std::fprintf(stderr, "one\n");
  ASSERT_EQ(::write(STDERR_FILENO, "two\n", 4), 4);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", "echo three >&2", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(Written(), "");
  ReleaseStandardError();
  EXPECT_EQ(Written(), "one\ntwo\nthree\n");
  // Released: messages go straight out again, and a second release is nothing.
  std::fprintf(stderr, "four\n");
  ReleaseStandardError();
  EXPECT_EQ(Written(), "one\ntwo\nthree\nfour\n");
}

TEST_F(StandardErrorToFile, ALongRunOfMessagesIsKeptWhole) {
  ASSERT_TRUE(HoldStandardError());
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    const std::string line = "message " + std::to_string(i) + " of a long run of them\n";
    std::fputs(line.c_str(), stderr);
    expected += line;
  }
  ReleaseStandardError();
  EXPECT_EQ(Written(), expected);
}

}  // namespace
}  // namespace platform
