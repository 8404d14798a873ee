#include "platform/host_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace platform {
namespace {

class HostPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/hostpathXXXXXX";
    root_ = mkdtemp(tmpl);
    mkdir((root_ + "/DADES").c_str(), 0755);
    std::ofstream(root_ + "/DADES/PropietH.dat") << "x";
    mkdir((root_ + "/LOCKS").c_str(), 0755);
  }
  void TearDown() override { std::system(("rm -rf " + root_).c_str()); }
  std::string root_;
};

TEST_F(HostPathTest, BackslashesAndCaseResolveAgainstWhatExists) {
  EXPECT_EQ(HostPath(root_ + "/dades\\PROPIETH.DAT"), root_ + "/DADES/PropietH.dat");
  EXPECT_EQ(HostPath(root_ + "\\DADES\\PropietH.dat"), root_ + "/DADES/PropietH.dat");
}

TEST_F(HostPathTest, MissingComponentsAreKeptAsWritten) {
  EXPECT_EQ(HostPath(root_ + "/locks\\PressupH.lck"), root_ + "/LOCKS/PressupH.lck");
  EXPECT_EQ(HostPath(root_ + "/NOU\\Fitxer.tmp"), root_ + "/NOU/Fitxer.tmp");
}

TEST_F(HostPathTest, ExactMatchWinsOverAnotherCase) {
  std::ofstream(root_ + "/DADES/propieth.dat") << "y";
  EXPECT_EQ(HostPath(root_ + "/DADES/propieth.dat"), root_ + "/DADES/propieth.dat");
  EXPECT_EQ(HostPath(root_ + "/DADES/PropietH.dat"), root_ + "/DADES/PropietH.dat");
  // Neither spelling: the first in byte order.
  EXPECT_EQ(HostPath(root_ + "/DADES/PROPIETH.DAT"), root_ + "/DADES/PropietH.dat");
}

TEST_F(HostPathTest, TrailingSeparatorAndRelativePaths) {
  EXPECT_EQ(HostPath(root_ + "\\dades\\"), root_ + "/DADES/");
  ASSERT_EQ(chdir(root_.c_str()), 0);
  EXPECT_EQ(HostPath("dades\\propieth.dat"), "DADES/PropietH.dat");
  EXPECT_EQ(HostPath("Sessio.ini"), "Sessio.ini");
}

TEST(HostPath, DriveLettersAreErrors) {
  EXPECT_FALSE(HostPath("C:\\APP\\Vora.ini").has_value());
  EXPECT_FALSE(HostPath("C:Sessio.ini").has_value());
  EXPECT_EQ(HostPathOrRaw("C:\\APP"), "C:/APP");
}

}  // namespace
}  // namespace platform
