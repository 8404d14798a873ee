// A workstation killed while it saves a property's budget leaves the old
// budget or the new one, never a mix of both and never nothing.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "app/budget.h"
#include "app/data_files.h"
#include "app/report.h"
#include "app/records.h"
#include "config/session.h"
#include "data/files.h"
#include "format/numbers.h"
#include "tests/module_root.h"

namespace {

// The report each process works on.
app::Report report;
using app::records::WorkingLine;

constexpr int kLines = 150;

// A working budget whose every line carries `mark` in its budget.
void FillWorking(std::int32_t mark) {
  report.working.Close();
  ASSERT_TRUE(report.working.Open());
  for (int i = 0; i < kLines; ++i) {
    WorkingLine line;
    line.code = std::string(1, static_cast<char>('A' + i / 26)) + static_cast<char>('A' + i % 26);
    line.column = 'A';
    line.budget = mark * 1000 + i;
    report.working.Append(line);
  }
}

// The marks of the stored lines of the property, one per line.
std::vector<std::int32_t> StoredMarks() {
  std::vector<std::int32_t> marks;
  const app::records::StoredLine line{report.areas.For(app::kStoredBudgetFile)};
  const std::string code = report.parameters.PropertyCode;
  for (std::int16_t s = data::ReadByKey(app::kStoredBudgetFile, 0, code, 1); s == 0 && line.PropertyCode() == code;
       s = data::StepRecords(app::kStoredBudgetFile, 1))
    marks.push_back(line.Budget() / 1000);
  return marks;
}

void OpenRoot(const app::testing::ScratchSuiteRoot& root) {
  e2e::OpenModuleRoot(root, report);
  report.parameters.PropertyCode = format::PackDigits("0001");
}

TEST(BudgetSave, AKilledSaveLeavesTheOldOrTheNewBudget) {
  const app::testing::ScratchSuiteRoot root;
  OpenRoot(root);
  FillWorking(1);
  ASSERT_TRUE(app::SaveStoredBudget(report).ok());
  data::ResetDataFiles();

  std::mt19937 random(12345);
  int killedMidway = 0;
  for (int round = 0; round < 8; ++round) {
    int saves[2];
    ASSERT_EQ(pipe(saves), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Saves budgets 2 and 3 in turn, telling the parent after each save,
      // until it is killed.
      close(saves[0]);
      OpenRoot(root);
      for (std::int32_t mark = 2;; mark = mark == 2 ? 3 : 2) {
        FillWorking(mark);
        if (!app::SaveStoredBudget(report).ok()) _exit(1);
        if (write(saves[1], "s", 1) != 1) _exit(2);
      }
    }
    close(saves[1]);
    // Some rounds let a save or two finish first (so that the kill can find
    // a new budget to keep); the kill comes at a random moment after that.
    for (int seen = 0; seen < round % 3; ++seen) {
      char byte = 0;
      ASSERT_EQ(read(saves[0], &byte, 1), 1) << "the saving process stopped by itself";
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    const bool killed = e2e::KilledWhileRunning(child);
    close(saves[0]);
    ASSERT_TRUE(killed) << "the saving process stopped by itself";

    OpenRoot(root);
    const std::vector<std::int32_t> marks = StoredMarks();
    ASSERT_EQ(marks.size(), static_cast<std::size_t>(kLines)) << "round " << round;
    for (std::int32_t m : marks) ASSERT_EQ(m, marks.front()) << "round " << round << ": a mix of two budgets";
    if (marks.front() != 1) ++killedMidway;
    data::ResetDataFiles();
    report.working.Close();
  }
  EXPECT_GT(killedMidway, 0) << "no save ever completed before the kill";
}

}  // namespace
