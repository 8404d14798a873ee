#include "app/run.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>

#include "app/hooks.h"
#include "config/session.h"
#include "console/form_input.h"
#include "data/notice.h"
#include "platform/session_end.h"
#include "platform/system.h"

namespace app {
namespace {

using namespace console::form_keys;

// Screen 1 and 3: one field each; screen 2: three editable fields, the
// page fill lowers the count to what a short page holds.
constexpr std::string_view kForms =
    "3,3\r\n"
    "\"d,1b,2\",1,0,0,0,0,0\r\n1,1,\"\",10,0,0,0,0,0,\"\"\r\n"
    "\"d,1b,2,4900,5100\",3,0,0,0,0,0\r\n"
    "1,1,\"\",4,0,0,0,0,0,\"\"\r\n2,1,\"\",4,0,0,0,0,0,\"\"\r\n3,1,\"\",4,0,0,0,0,0,\"\"\r\n"
    "\"d,1b,2\",1,0,0,0,0,0\r\n1,1,\"\",1,0,0,0,0,0,\"\"\r\n"
    "0\r\n";

class RecordingNotice : public data::Notice {
 public:
  void Show(const std::string& text, int) override { shown.push_back(text); }
  void Hide() override {}
  void Beep() override {}
  void DiscardKeys() override {}
  void WaitKey() override {}
  int PollKey() override { return 0; }
  void EndProcess(int) override {}
  std::vector<std::string> shown;
};

class PrintProgramDouble : public platform::SystemWrapper {
 public:
  PrintProgramDouble() : platform::SystemWrapper(platform::RealSystem()) {}
  int RunAndWait(const std::string& program, const std::vector<std::string>&) override {
    runs.push_back(program);
    return status;
  }
  std::vector<std::string> runs;
  int status = 0;
};

class RunReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("run_report_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "exe");
    config::ResetSession();
    config::Session().Language = "CAT";
    config::Session().TempDir = dir_.string() + "/";
    config::Session().ExeDir = (dir_ / "exe").string() + "/";
    console::ResetForms();
    ResetSteps();
    auto r = console::ParseFormFile(kForms);
    ASSERT_TRUE(r.ok()) << r.error;
    console::Forms().forms = r.forms;
    console::Forms().ui.EditField = [this](std::int16_t&, std::int16_t&, std::int16_t&, std::string&,
                                           std::int16_t&, std::int16_t& key) {
      if (keys.empty()) {
        key = kEsc;
        ++overruns;
        return;
      }
      key = keys.front();
      keys.pop_front();
    };
    ReportSteps& s = Steps();
    s.FillBudgetPage = [this](int page, bool& lastPage) {
      log.push_back("fill " + std::to_string(page));
      console::Forms().forms.Screen(2).fieldCount = 1;
      lastPage = page >= pages;
      return Outcome("fill");
    };
    s.StoreBudgetPage = [this](int page) {
      log.push_back("store " + std::to_string(page) + " count " +
                    std::to_string(console::Forms().forms.Screen(2).fieldCount));
      return Outcome("store");
    };
    s.BuildBudget = [this] {
      log.push_back(std::filesystem::exists(dir_ / "PressupH.tmp") ? "build over old file" : "build");
      std::ofstream(dir_ / "PressupH.tmp") << "lines";
      return Outcome("build");
    };
    s.OpenWorkingFile = [this] { return Outcome("open working"); };
    s.SaveStoredBudget = [this] {
      log.push_back("save");
      return Outcome("save");
    };
    s.PrintReport = [this] {
      log.push_back("print");
      return Outcome("print");
    };
    s.OpenPrintChannel = [this] { log.push_back("open channel"); };
    s.ClosePrintChannel = [this] { log.push_back("close channel"); };
    s.DiscardPrintChannel = [this] { log.push_back("discard channel"); };
    s.ReleaseBudgetLock = [this] {
      log.push_back(std::filesystem::exists(dir_ / "PressupH.tmp") ? "release with the working file" : "release");
    };
    s.ShowFailure = [this](const std::string& t) {
      log.push_back("failure " + t);
      keys = {kEsc};  // then the operator leaves screen 1
    };
    s.ShowMessage = [this](const std::string& t) { log.push_back("message " + t); };
    s.SuspendTerminal = [this] { log.push_back("suspend"); };
    s.ResumeTerminal = [this] { log.push_back("resume"); };
  }
  // The step named in `failing` fails, the others go well.
  StepResult Outcome(const std::string& step) {
    return step == failing ? StepResult::Failed(step + " failed") : StepResult{};
  }
  void TearDown() override {
    console::ResetForms();
    ResetSteps();
    config::ResetSession();
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  std::deque<std::int16_t> keys;
  std::vector<std::string> log;
  std::string failing;
  int pages = 1, overruns = 0;
};

TEST_F(RunReportTest, PagingEditingAndPrinting) {
  pages = 2;
  PrintProgramDouble system;
  platform::ScopedSystem scoped(system);
  keys = {kEnter,            // screen 1
          kPgUp,             // page 1: no previous page, so PgUp stays
          kPgDn,             // to page 2
          kPgUp,             // back to page 1
          kEnter, kEsc,      // screen 3 left with Esc: the same page again
          kEnter, kEnter,    // screen 3 accepted
          kEsc};             // screen 1 again: leave
  RunReport();
  EXPECT_EQ(overruns, 0);
  EXPECT_TRUE(keys.empty());
  const std::vector<std::string> expected = {
      "message LLEGINT PRESSUPOST", "build",
      "fill 1", "store 1 count 3", "fill 2", "store 2 count 3", "fill 1", "store 1 count 3",
      "fill 1", "store 1 count 3",
      "open channel", "save", "print", "close channel", "release", "suspend", "resume"};
  EXPECT_EQ(log, expected);
  ASSERT_EQ(system.runs.size(), 1u);
  EXPECT_EQ(system.runs[0], config::Session().ExeDir + "KITPRINT");
  EXPECT_EQ(console::Forms().forms.Screen(2).fieldCount, 3);
}

TEST_F(RunReportTest, EscOnTheBudgetLeavesWithoutPrintingButRunsThePrintProgram) {
  PrintProgramDouble system;
  platform::ScopedSystem scoped(system);
  // An old working "file" that is a directory with a file in it.
  std::filesystem::create_directories(dir_ / "PressupH.tmp");
  std::ofstream(dir_ / "PressupH.tmp" / "x") << "old";
  keys = {kEnter, kEsc, kEnter, kEsc, kEsc};
  EXPECT_TRUE(RunReport());
  EXPECT_EQ(overruns, 0);
  const std::vector<std::string> expected = {
      "message LLEGINT PRESSUPOST", "build", "fill 1", "store 1 count 3",
      "open channel", "close channel", "release", "suspend", "resume",
      "message LLEGINT PRESSUPOST", "build", "fill 1", "store 1 count 3",
      "open channel", "close channel", "release", "suspend", "resume"};
  EXPECT_EQ(log, expected);
  EXPECT_EQ(system.runs.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "PressupH.tmp"));
}

// Any step that fails stops the run where it is: nothing is saved, printed
// or handed to the print program after it, what was printed is discarded,
// and the operator is told only after the working file is gone and the
// budget lock released.
TEST_F(RunReportTest, AFailedStepStopsTheRunAndCleansUpBeforeTelling) {
  const struct {
    const char* step;
    std::vector<std::string> log;
  } cases[] = {
      {"open working", {"message LLEGINT PRESSUPOST", "release", "failure open working failed"}},
      {"build", {"message LLEGINT PRESSUPOST", "build", "release", "failure build failed"}},
      {"fill", {"message LLEGINT PRESSUPOST", "build", "fill 1", "release", "failure fill failed"}},
      {"store",
       {"message LLEGINT PRESSUPOST", "build", "fill 1", "store 1 count 3", "release", "failure store failed"}},
      {"save",
       {"message LLEGINT PRESSUPOST", "build", "fill 1", "store 1 count 3", "open channel", "save",
        "discard channel", "release", "failure save failed"}},
      {"print",
       {"message LLEGINT PRESSUPOST", "build", "fill 1", "store 1 count 3", "open channel", "save", "print",
        "discard channel", "release", "failure print failed"}},
  };
  for (const auto& c : cases) {
    PrintProgramDouble system;
    platform::ScopedSystem scoped(system);
    failing = c.step;
    log.clear();
    keys = {kEnter, kEnter, kEnter};  // screen 1, the budget, screen 3
    EXPECT_FALSE(RunReport()) << c.step;
    EXPECT_EQ(log, c.log) << c.step;
    EXPECT_TRUE(system.runs.empty()) << c.step;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "PressupH.tmp")) << c.step;
  }
}

TEST_F(RunReportTest, ASessionThatEndsOnTheBudgetStillReleasesTheLockAndRemovesTheWorkingFile) {
  PrintProgramDouble system;
  platform::ScopedSystem scoped(system);
  keys = {kEnter};
  console::Forms().ui.EditField = [this](std::int16_t&, std::int16_t&, std::int16_t&, std::string&, std::int16_t&,
                                         std::int16_t& key) {
    if (!keys.empty()) {
      key = keys.front();
      keys.pop_front();
      return;
    }
    throw platform::SessionEnded{3, "key script ended"};
  };
  EXPECT_THROW(RunReport(), platform::SessionEnded);
  EXPECT_EQ(log, (std::vector<std::string>{"message LLEGINT PRESSUPOST", "build", "fill 1", "release"}));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "PressupH.tmp"));
  EXPECT_TRUE(system.runs.empty());
}

TEST_F(RunReportTest, EscOnTheFirstScreenEndsAtOnce) {
  PrintProgramDouble system;
  platform::ScopedSystem scoped(system);
  keys = {kEsc};
  RunReport();
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(system.runs.empty());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "PressupH.tmp"));
}

TEST_F(RunReportTest, APrintProgramThatCannotStartIsNamedAndThePrintFileKept) {
  RecordingNotice notice;
  data::ScopedNotice scopedNotice(notice);
  std::ofstream(dir_ / "kitprint.tmp") << "PANTALLA\r\n";
  // No program in ExeDir: the real start fails.
  EXPECT_EQ(RunPrintProgram(), -1);
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_NE(notice.shown[0].find(config::Session().ExeDir + "KITPRINT"), std::string::npos) << notice.shown[0];
  EXPECT_TRUE(std::filesystem::exists(dir_ / "kitprint.tmp"));
  // The terminal is handed back even so.
  EXPECT_EQ(log, (std::vector<std::string>{"suspend", "resume"}));

  // A program that runs and fails is not the module's business.
  notice.shown.clear();
  PrintProgramDouble system;
  system.status = 1;
  platform::ScopedSystem scoped(system);
  EXPECT_EQ(RunPrintProgram(), 1);
  EXPECT_TRUE(notice.shown.empty());
}

class FixedClock : public platform::SystemWrapper {
 public:
  FixedClock() : platform::SystemWrapper(platform::RealSystem()) {}
  platform::LocalTime Now() override { return {2026, 12, 8, 9, 0, 0, 0}; }
};

TEST_F(RunReportTest, StartDefaults) {
  FixedClock clock;
  platform::ScopedSystem scoped(clock);
  config::Session().WorkDate = std::string("\x94\x9a\x8c\x88", 4);  // 2026-12-08 packed
  console::Forms().forms.Screen(3).fields[0].ints[2] = 1;
  SetStartDefaults();
  EXPECT_EQ(console::Forms().forms.Field(1, 1).value.substr(0, 6), "081226");
  EXPECT_EQ(console::Forms().forms.Field(3, 1).value, " ");  // screen 3 has no field 4 here: nothing set
}

}  // namespace
}  // namespace app
