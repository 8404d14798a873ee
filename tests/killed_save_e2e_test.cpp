// The real program killed at each of its syncs to disk while it saves a
// property's budget and writes the new instalment into its owners' receipts
// (strace sends the SIGKILL as the program makes the call, so every instant
// is hit, run after run). Afterwards every data file opens and passes
// SQLite's own check, the budget is all old or all new, the receipts too,
// and new receipts never stand beside the old budget (the budget is saved
// first). A second run then leaves the new state.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/e2e_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const char* const kDataFiles[] = {"CobramH", "FinDespH", "FinquesH", "PagamH",
                                  "PressupH", "PropietH", "TDespesa", "THRebut"};

// The lines of an export that belong to property 1.
std::string PropertyLines(const std::string& csv, const std::string& prefix) {
  std::istringstream in(csv);
  std::string line, out;
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) out += line + "\n";
  return out;
}

struct State {
  std::string budget, receipts;
  std::string damage;  // what is wrong with the files; empty when nothing
};

std::string IntegrityOf(const fs::path& file) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot be opened";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      verdict = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return verdict;
}

State StateOf(const fs::path& root) {
  State s;
  std::map<std::string, std::string> exports;
  for (const char* base : kDataFiles) {
    const fs::path file = root / "DADES" / base;
    if (const std::string verdict = IntegrityOf(file.string() + ".dat"); verdict != "ok")
      s.damage += std::string(base) + ": " + verdict + "; ";
    // The files the run writes are read back whole by the suite's own tool.
    if (std::string(base) != "PressupH" && std::string(base) != "PropietH") continue;
    const ProgramResult r = RunProgram({KIT_KITDATA, "export", file.string()}, {});
    if (r.exitStatus != 0) s.damage += std::string(base) + ": " + r.standardError + "; ";
    exports[base] = r.standardOutput;
  }
  for (const auto& entry : fs::directory_iterator(root / "DADES"))
    if (entry.path().filename().string().find(".new") != std::string::npos)
      s.damage += entry.path().filename().string() + " left half made; ";
  s.budget = PropertyLines(exports["PressupH"], "0001,");
  s.receipts = PropertyLines(exports["PropietH"], "0001");
  return s;
}

constexpr const char* kStrace = "/usr/bin/strace";

bool StraceWorks() {
  return ::access(kStrace, X_OK) == 0 &&
         RunProgram({kStrace, "-qq", "-o", "/dev/null", "-e", "trace=fdatasync", "/bin/true"}, {}).exitStatus == 0;
}

TEST(KilledAtASync, TheBatchLeavesTheWholeOldOrTheWholeNewBudgetAndReceipts) {
  if (DataOnServer()) GTEST_SKIP() << "about the files of the embedded storage";
  if (!StraceWorks()) GTEST_SKIP() << "strace cannot trace programs here";
  SuiteRoot root{"CAT", "15112024"};
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  const fs::path pristine = root.Dir().string() + "-pristine";
  fs::copy(root.Dir(), pristine, fs::copy_options::recursive);
  struct Remove {
    fs::path path;
    ~Remove() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } removePristine{pristine};

  // Runs the batch on a fresh copy of the root, under strace with `trace`
  // options; the copy's state afterwards.
  const fs::path work = root.Dir() / "work";
  auto runOnCopy = [&](const std::vector<std::string>& trace) {
    fs::remove_all(work);
    fs::copy(pristine, work, fs::copy_options::recursive);
    std::map<std::string, std::string> env = root.Environment("", "", "TMP");
    env["KITROOT"] = work.string() + "/";
    env["KITTMP"] = (work / "TMP").string() + "/";
    // The leak check of a sanitizer build cannot run under a tracer.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    env["ASAN_OPTIONS"] = std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0";
    std::vector<std::string> argv{kStrace, "-qq", "-e", "trace=fdatasync"};
    argv.insert(argv.end(), trace.begin(), trace.end());
    for (const char* a : {KIT_REPQUOTA, "batch", "--periodicity", "1", "--concept", "1", "--out"})
      argv.emplace_back(a);
    argv.push_back((work / "out").string());
    argv.emplace_back("1");
    fs::create_directories(work / "out");
    return RunProgram(argv, env);
  };

  const State old = StateOf(pristine);
  ASSERT_EQ(old.damage, "");
  const fs::path log = root.Dir() / "syncs.log";
  const ProgramResult whole = runOnCopy({"-o", log.string()});
  ASSERT_EQ(whole.exitStatus, 0) << whole.standardError << whole.standardOutput;
  const State fresh = StateOf(work);
  ASSERT_EQ(fresh.damage, "");
  ASSERT_NE(fresh.budget, old.budget);
  ASSERT_NE(fresh.receipts, old.receipts);
  int syncs = 0;
  {
    const platform::ReadResult traced = platform::ReadWholeFile(log.string());
    ASSERT_TRUE(traced.ok()) << log;
    std::istringstream in(traced.bytes);
    for (std::string line; std::getline(in, line);) syncs += line.rfind("fdatasync(", 0) == 0;
  }
  ASSERT_GT(syncs, 2);

  std::set<std::string> seen;
  int between = 0;  // a sync at which the budget was saved and the receipts not yet
  for (int n = 1; n <= syncs; ++n) {
    const ProgramResult killed =
        runOnCopy({"-o", "/dev/null", "-e", "inject=fdatasync:signal=SIGKILL:when=" + std::to_string(n)});
    EXPECT_NE(killed.exitStatus, 0) << "sync " << n;
    const State after = StateOf(work);
    ASSERT_EQ(after.damage, "") << "killed at sync " << n;
    const std::string budget = after.budget == old.budget ? "old" : after.budget == fresh.budget ? "new" : "mixed";
    const std::string receipts =
        after.receipts == old.receipts ? "old" : after.receipts == fresh.receipts ? "new" : "mixed";
    EXPECT_NE(budget, "mixed") << "killed at sync " << n;
    EXPECT_NE(receipts, "mixed") << "killed at sync " << n;
    EXPECT_FALSE(budget == "old" && receipts == "new") << "killed at sync " << n;
    seen.insert(budget + " budget, " + receipts + " receipts");
    if (budget == "new" && receipts == "old" && between == 0) between = n;
  }
  // The kills fell before the save, between it and the receipts, and after both.
  EXPECT_EQ(seen, (std::set<std::string>{"old budget, old receipts", "new budget, old receipts",
                                         "new budget, new receipts"}));

  // After a kill between the two, the next run finds nothing in its way
  // (locks, working and print files of the dead one) and finishes the work.
  ASSERT_GT(between, 0);
  runOnCopy({"-o", "/dev/null", "-e", "inject=fdatasync:signal=SIGKILL:when=" + std::to_string(between)});
  std::map<std::string, std::string> env = root.Environment("", "", "TMP");
  env["KITROOT"] = work.string() + "/";
  env["KITTMP"] = (work / "TMP").string() + "/";
  const ProgramResult again = RunProgram(
      {KIT_REPQUOTA, "batch", "--periodicity", "1", "--concept", "1", "--out", (work / "out").string(), "1"}, env);
  EXPECT_EQ(again.exitStatus, 0) << again.standardError;
  const State repaired = StateOf(work);
  EXPECT_EQ(repaired.budget, fresh.budget);
  EXPECT_EQ(repaired.receipts, fresh.receipts);
}

}  // namespace
}  // namespace e2e
