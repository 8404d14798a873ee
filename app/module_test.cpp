#include "app/module.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "config/session.h"
#include "console/form_input.h"
#include "data/locks.h"
#include "data/notice.h"
#include "data/testing/recorded_notice.h"
#include "platform/system.h"

namespace app {
namespace {

class Environment : public platform::SystemWrapper {
 public:
  Environment() : platform::SystemWrapper(platform::RealSystem()) {}
  std::string GetEnv(const std::string& name) override {
    auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
  }
  std::map<std::string, std::string> vars;
};

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = std::filesystem::current_path();
    root_ = std::filesystem::temp_directory_path() /
            ("module_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "FORMS");
    std::filesystem::create_directories(root_ / "tmp");
    env_.vars["KITROOT"] = root_.string() + "/";
    env_.vars["KITTMP"] = (root_ / "tmp").string();
    config::ResetSession();
    console::ResetForms();
  }
  void TearDown() override {
    data::ReleaseTempFolder();
    std::filesystem::current_path(cwd_);
    std::filesystem::remove_all(root_);
    config::ResetSession();
    console::ResetForms();
  }
  void Write(const std::filesystem::path& rel, std::string_view bytes) {
    std::ofstream(root_ / rel, std::ios::binary) << bytes;
  }

  std::filesystem::path cwd_, root_;
  Environment env_;
  Report report_;
  std::string startProblem_;
};

TEST_F(ModuleTest, MissingOrDamagedFormFileStopsTheModuleWithItsName) {
  platform::ScopedSystem scoped(env_);
  data::testing::RecordedNotice notice;
  data::ScopedNotice scopedNotice(notice);
  EXPECT_EQ(RunModule(report_, startProblem_), 1);
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_NE(notice.shown[0].find("FORMS\\REPQUOTA.JPN"), std::string::npos) << notice.shown[0];
  EXPECT_NE(notice.shown[0].find("NO ES POT LLEGIR"), std::string::npos) << notice.shown[0];

  Write("FORMS/REPQUOTA.JPN", "' screens\r\n5,2\r\n\"d\",1,0,0,0,0,0\r\n");
  notice.shown.clear();
  EXPECT_EQ(RunModule(report_, startProblem_), 1);
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_NE(notice.shown[0].find("MALM"), std::string::npos) << notice.shown[0];
  EXPECT_NE(notice.shown[0].find("FORMS\\REPQUOTA.JPN"), std::string::npos) << notice.shown[0];
}

TEST_F(ModuleTest, ATemporaryFolderInUseStopsTheModuleAtStart) {
  platform::ScopedSystem scoped(env_);
  data::testing::RecordedNotice notice;
  data::ScopedNotice scopedNotice(notice);
  // Another program of this workstation runs on the same folder.
  const int other = ::open((root_ / "tmp" / "Sessio.lck").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::write(other, "4242\n", 5), 5);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &whole), 0);
  // Standard error is the screen while the terminal is in use: the detail
  // comes back, for when the terminal has been given back.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunModule(report_, startProblem_), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_NE(startProblem_.find("is in use by another program (process 4242)"), std::string::npos) << startProblem_;
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_EQ(notice.shown[0], "UN ALTRE PROGRAMA (PROC\x90S 4242) JA FA SERVIR LA CARPETA TEMPORAL " +
                                 (root_ / "tmp").string() + "/");
  ::close(other);
  // Once it has ended the module goes on (to the missing form file here).
  notice.shown.clear();
  EXPECT_EQ(RunModule(report_, startProblem_), 1);
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_NE(notice.shown[0].find("FORMS\\REPQUOTA.JPN"), std::string::npos) << notice.shown[0];
}

TEST_F(ModuleTest, PreparedFormsCarryTheDefaultsAndTheRootIsCurrent) {
  platform::ScopedSystem scoped(env_);
  Write("FORMS/repquota.jpn",
        "3,1\r\n\"d\",1,0,0,0,0,0\r\n1,1,\"D: \",10,0,0,0,1,0,\"\"\r\n"
        "\"d\",0,0,0,0,0,0\r\n"
        "\"d\",4,0,0,0,0,0\r\n1,1,\"\",3,0,0,0,21,0,\"\"\r\n2,1,\"\",3,0,0,0,21,0,\"\"\r\n"
        "3,1,\"\",2,0,0,0,2,0,\"\"\r\n4,1,\"\",1,0,0,0,23,2,\"\"\r\n0\r\n");
  ASSERT_EQ(PrepareModule(startProblem_), "");
  EXPECT_EQ(std::filesystem::canonical(std::filesystem::current_path()), std::filesystem::canonical(root_));
  EXPECT_EQ(console::Forms().forms.Field(3, 4).value, "1");
  EXPECT_EQ(console::Forms().forms.Field(1, 1).value.size(), 10u);
}

TEST_F(ModuleTest, FeeSettingsFromTheUserConfiguration) {
  platform::ScopedSystem scoped(env_);
  config::LoadSession();
  Write("Vora.ini",
        "[Rebut]\r\nMembret=N\r\n[Iva0]\r\nHonoraris=21\r\n[Iva1]\r\nHonoraris=10.5\r\n"
        "[Ret0]\r\nHonoraris=15abc\r\n[Ret1]\r\nHonoraris=\r\n");
  FeeSettings fees = ReadFeeSettings();
  EXPECT_EQ(fees.LetterheadSetting, "N");
  EXPECT_FLOAT_EQ(fees.VatRate[0], 21.0f);
  EXPECT_FLOAT_EQ(fees.VatRate[1], 10.5f);
  EXPECT_FLOAT_EQ(fees.WithholdingRate[0], 15.0f);  // the leading number
  EXPECT_FLOAT_EQ(fees.WithholdingRate[1], 0.0f);

  std::filesystem::remove(root_ / "Vora.ini");
  fees = ReadFeeSettings();
  EXPECT_EQ(fees.LetterheadSetting, "");
  EXPECT_FLOAT_EQ(fees.VatRate[0], 0.0f);
}

}  // namespace
}  // namespace app
