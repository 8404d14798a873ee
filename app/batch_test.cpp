#include "app/batch.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/suite_root_fixture.h"
#include "config/session.h"
#include "data/failing_record_manager.h"
#include "data/locks.h"
#include "data/testing/losing_lock_store.h"
#include "base/strings.h"
#include "base/cp850.h"
#include "platform/host_path.h"
#include "platform/session_end.h"
#include "platform/signals.h"
#include "platform/system.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using testing::Code;
using testing::Date;
using testing::OwnerKey;
using Result = PropertyOutcome::Result;

constexpr std::int16_t kIoError = 2;
constexpr std::uint16_t kInsert = 2, kGetNext = 6;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The print program: what it was asked to do, and how it ends.
class PrintProgramDouble : public platform::SystemWrapper {
 public:
  PrintProgramDouble() : platform::SystemWrapper(platform::RealSystem()) {}
  int RunAndWait(const std::string& program, const std::vector<std::string>& args) override {
    runs.push_back(program);
    arguments.push_back(args);
    return status;
  }
  std::vector<std::string> runs;
  std::vector<std::vector<std::string>> arguments;
  int status = 0;
};

// Properties 2, 5 and 9, four owners each (column A a quarter each, column
// B 1 each of a total of 4), one concept paid in column B; receipt type 1 a
// provision of funds, type 3 not.
class BatchTest : public testing::SuiteRootFixture {
 protected:
  void SetUp() override {
    SuiteRootFixture::SetUp();
    config::Session().Language = "CAT";
    config::Session().WorkDate = Date(2024, 11, 15);
    config::Session().ExeDir = root_.Path() + "/exe/";
    out_ = fs::path(root_.Path()) / "out";
    fs::create_directories(out_);
    Concept("NE", "NETEJA");
    for (int code : {2, 5, 9}) AddProperty(code);
    ReceiptType(1, "QUOTA ORDINARIA", 0);
    ReceiptType(3, "DERRAMA", 1);
    options_.outDir = out_.string();
    options_.lockWaitSeconds = 0;
    options_.screens.date = "15/11/2024";
  }

  void AddProperty(int code) {
    Insert(kPropertiesFile, [&](std::span<char> area) {
      const records::Property property{area};
      property.SetCode(Code(code));
      property.SetName("CARRER " + std::to_string(code) + " *C.P.");
      property.SetFirstMonth(1);
      property.SetPeriodMonths(12);
      property.SetColumnTotal(2, 4);
      property.SetColumnName(2, "ESCALA");
    });
    for (int n = 1; n <= 4; ++n)
      Insert(kOwnersFile, [&](std::span<char> area) {
        const records::Owner owner{area};
        owner.SetKey(OwnerKey(code, n));
        owner.SetName("VEI " + std::to_string(n) + " *ANNA");
        owner.SetCoefficient(1, 250000);
        owner.SetCoefficient(2, 1);
        owner.SetSlotPeriodicity(1, 1);
      });
    Insert(kPaymentsFile, [&](std::span<char> area) {
      const records::Payment payment{area};
      payment.SetPropertyCode(Code(code));
      payment.SetDate(Date(2024, 3, 1));
      payment.SetConcept("NE");
      payment.SetAmount(1200 * code);
      payment.SetKind('N');
      payment.SetColumnNumber(format::PackDigits("0002"));
    });
  }
  void ReceiptType(int number, const char* description, std::int16_t kind) {
    Insert(kReceiptTypesFile, [&](std::span<char> area) {
      const records::ReceiptType type{area};
      type.SetNumber(number);
      type.SetDescription(description);
      type.SetKind(kind);
    });
  }
  // The stored budget lines of a property, as "code column budget".
  std::vector<std::string> Stored(int code) {
    std::vector<std::string> out;
    const records::StoredLine line{report_.areas.For(kStoredBudgetFile)};
    for (std::int16_t s = data::ReadByKey(kStoredBudgetFile, 0, Code(code), 1);
         s == 0 && line.PropertyCode() == Code(code); s = data::StepRecords(kStoredBudgetFile, 1))
      out.push_back(line.Concept() + " " + line.Column() + " " + std::to_string(line.Budget()));
    return out;
  }
  // Receipt slot 1 of every owner of a property, as "periodicity:amount".
  std::vector<std::string> Slots(int code) {
    std::vector<std::string> out;
    const records::Owner owner{report_.areas.For(kOwnersFile)};
    for (std::int16_t s = data::ReadByKey(kOwnersFile, 0, Code(code), 1); s == 0 && owner.PropertyCode() == Code(code);
         s = data::StepRecords(kOwnersFile, 1))
      out.push_back(std::to_string(owner.SlotPeriodicity(1)) + ":" + std::to_string(owner.SlotAmount(1)));
    return out;
  }
  std::vector<PropertyOutcome> Run() {
    std::vector<PropertyOutcome> outcomes;
    problem_ = RunBatch(report_, options_, outcomes, [this](std::size_t i, std::size_t n, const std::string& code,
                                                            const std::string& name) {
      progress_.push_back(std::to_string(i) + "/" + std::to_string(n) + " " + code + " " + name);
    });
    return outcomes;
  }
  // What the run left behind that it should not have.
  void ExpectNothingLeft() {
    EXPECT_FALSE(fs::exists(fs::path(root_.Path()) / "PressupH.tmp"));
    EXPECT_EQ(data::ReleaseLock("PressupH"), -1);
    EXPECT_EQ(data::ReleaseLock("PropietH"), -1);
  }

  fs::path out_;
  BatchOptions options_;
  std::string problem_;
  std::vector<std::string> progress_;
};

TEST_F(BatchTest, EveryPropertyInCodeOrderWithItsOwnPrintFile) {
  const std::vector<PropertyOutcome> outcomes = Run();
  EXPECT_EQ(problem_, "");
  ASSERT_EQ(outcomes.size(), 3u);
  const char* codes[] = {"002", "005", "009"};
  for (std::size_t i = 0; i < 3; ++i) {
    const PropertyOutcome& o = outcomes[i];
    const int code = std::stoi(codes[i]);
    EXPECT_EQ(o.code, codes[i]);
    EXPECT_EQ(o.name, "C.P. CARRER " + std::to_string(code));
    EXPECT_EQ(o.result, Result::kDone) << o.reason;
    EXPECT_TRUE(o.figures);
    EXPECT_EQ(o.owners, 4);
    EXPECT_EQ(o.budgetTotal, 1200 * code);
    EXPECT_EQ(o.adjustment, 0);
    EXPECT_FALSE(o.receipts.Made);
    EXPECT_TRUE(o.findings.Empty());
    const std::string printed = ReadAll(out_ / (std::string(codes[i]) + ".prn"));
    EXPECT_EQ(printed.rfind("DEVICE\r\nPAGE 66 \r\n", 0), 0u);
    EXPECT_NE(printed.find("PROPIETARIS " + std::string(codes[i]) + " - C.P. CARRER"), std::string::npos);
    EXPECT_NE(printed.find("TOTAL PRESSUPOST"), std::string::npos);
    // Saved as the dialogue saves it.
    EXPECT_EQ(Stored(code), std::vector<std::string>{"NE B " + std::to_string(1200 * code)});
  }
  EXPECT_EQ(progress_, (std::vector<std::string>{"0/3 002 C.P. CARRER 2", "1/3 005 C.P. CARRER 5",
                                                 "2/3 009 C.P. CARRER 9"}));
  ExpectNothingLeft();
}

TEST_F(BatchTest, ASelectionPassesOverCodesOfARangeButReportsASingleCodeNoPropertyHas) {
  options_.properties = {{9, 9}, {1, 5}, {7, 7}, {5, 5}};
  const std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_EQ(outcomes[0].code, "002");
  EXPECT_EQ(outcomes[1].code, "005");
  EXPECT_EQ(outcomes[2].code, "007");
  EXPECT_EQ(outcomes[2].result, Result::kMissing);
  EXPECT_FALSE(outcomes[2].figures);
  EXPECT_EQ(outcomes[3].code, "009");
  EXPECT_FALSE(fs::exists(out_ / "007.prn"));
  EXPECT_EQ(BatchExitStatus(outcomes), 1);
}

TEST_F(BatchTest, ADryRunPrintsWhatARealRunPrintsAndWritesNoDataFile) {
  options_.properties = {{5, 5}};
  options_.screens.periodicity = "1";
  options_.dryRun = true;
  std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 1u);
  ASSERT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  // The update is worked out and counted: 6000 a year in column B, a
  // quarter each, 125 a month.
  EXPECT_TRUE(outcomes[0].receipts.Made);
  EXPECT_EQ(outcomes[0].receipts.Owners, 4);
  EXPECT_EQ(outcomes[0].receipts.Slot, 1);
  EXPECT_EQ(outcomes[0].receipts.Total, 500);
  EXPECT_TRUE(Stored(5).empty());
  EXPECT_EQ(Slots(5), (std::vector<std::string>{"1:0", "1:0", "1:0", "1:0"}));
  const std::string dry = ReadAll(out_ / "dry-run" / "005.prn");
  ExpectNothingLeft();

  options_.dryRun = false;
  report_.WriteData = true;
  outcomes = Run();
  ASSERT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  EXPECT_EQ(outcomes[0].receipts.Total, 500);
  EXPECT_EQ(Stored(5), std::vector<std::string>{"NE B 6000"});
  EXPECT_EQ(Slots(5), (std::vector<std::string>{"1:125", "1:125", "1:125", "1:125"}));
  EXPECT_EQ(ReadAll(out_ / "005.prn"), dry);
}

// An administrator previews with a dry run in the folders of the real run:
// the preview must neither replace the real run's results nor be taken for
// them.
TEST_F(BatchTest, ADryRunLeavesTheResultsOfARealRunInTheSameFoldersAlone) {
  PrintProgramDouble printProgram;
  platform::ScopedSystem scoped(printProgram);
  options_.csvDir = (fs::path(root_.Path()) / "csv").string();
  options_.pdfDir = (fs::path(root_.Path()) / "pdf").string();
  options_.properties = {{5, 5}};
  const std::vector<fs::path> results{out_ / "005.prn", fs::path(options_.pdfDir) / "005.pdf",
                                      fs::path(options_.csvDir) / "005-distribution.csv",
                                      fs::path(options_.csvDir) / "005-budget.csv"};
  fs::create_directories(options_.csvDir);
  fs::create_directories(options_.pdfDir);
  std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 1u);
  ASSERT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  // The print program double writes no PDF document: stand in for it.
  std::ofstream(results[1]) << "THE REAL RUN'S PDF";
  std::map<fs::path, std::string> real;
  for (const fs::path& path : results) real[path] = ReadAll(path);

  // The preview: two copies of the budget listing this time.
  options_.dryRun = true;
  options_.screens.budgetCopies = "2";
  outcomes = Run();
  report_.WriteData = true;
  ASSERT_EQ(outcomes.size(), 1u);
  ASSERT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  for (const fs::path& path : results) EXPECT_EQ(ReadAll(path), real[path]) << path;
  // The preview's own results, each in a folder "dry-run" of the folder given.
  const std::string preview = ReadAll(out_ / "dry-run" / "005.prn");
  EXPECT_NE(preview, real[results[0]]);
  EXPECT_NE(preview.find("TOTAL PRESSUPOST"), std::string::npos);
  EXPECT_TRUE(fs::exists(fs::path(options_.csvDir) / "dry-run" / "005-distribution.csv"));
  EXPECT_TRUE(fs::exists(fs::path(options_.csvDir) / "dry-run" / "005-budget.csv"));
  ASSERT_EQ(printProgram.arguments.size(), 2u);
  EXPECT_EQ(printProgram.arguments[1],
            (std::vector<std::string>{"-o", options_.pdfDir + "/dry-run/005.pdf", (out_ / "dry-run" / "005.prn").string()}));

  // A second preview replaces the first; the real run's results stay.
  options_.screens.budgetCopies = "1";
  outcomes = Run();
  report_.WriteData = true;
  ASSERT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  EXPECT_EQ(ReadAll(out_ / "dry-run" / "005.prn"), real[results[0]]);
  for (const fs::path& path : results) EXPECT_EQ(ReadAll(path), real[path]) << path;
  ExpectNothingLeft();
}

TEST_F(BatchTest, APropertyThatFailsIsReportedAndTheNextGoesOn) {
  data::testing::FailingRecordManager failing;
  // Property 2's owners cannot all be read; property 5's budget cannot be
  // saved, after its print file was begun.
  failing.Fail(kOwnersFile, kGetNext, 1, kIoError);
  failing.Fail(kStoredBudgetFile, kInsert, 1, kIoError);
  const std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kFailed);
  EXPECT_NE(outcomes[0].reason.find("NO ES POT ACCEDIR AL FITXER DADES\\PropietH"), std::string::npos)
      << outcomes[0].reason;
  EXPECT_FALSE(outcomes[0].figures);
  EXPECT_EQ(outcomes[1].result, Result::kFailed);
  EXPECT_NE(outcomes[1].reason.find("NO S'HA POGUT DESAR EL PRESSUPOST"), std::string::npos) << outcomes[1].reason;
  EXPECT_TRUE(outcomes[1].figures);
  EXPECT_EQ(outcomes[2].result, Result::kDone) << outcomes[2].reason;
  // No print file of a property that failed; the stored budgets as they were.
  EXPECT_FALSE(fs::exists(out_ / "002.prn"));
  EXPECT_FALSE(fs::exists(out_ / "005.prn"));
  EXPECT_TRUE(fs::exists(out_ / "009.prn"));
  EXPECT_TRUE(Stored(5).empty());
  EXPECT_EQ(BatchExitStatus(outcomes), 1);
  ExpectNothingLeft();
}

// Whether property 9's listing was under its own name while that property's
// budget was being saved, with the listing begun and far from done.
bool g_listingSeenUnfinished = false;
std::string g_listingPath;
data::RecordManagerEntry g_realEntry = nullptr;
std::int16_t WatchingEntry(std::uint16_t operation, void* block, void* dataBuffer, std::uint32_t* length, void* key,
                           std::uint8_t keyLength, std::int8_t keyNumber) {
  const int slot = data::FindSlot(kStoredBudgetFile);
  if (operation % 100 == 2 && slot > 0 && data::FileTable()[static_cast<std::size_t>(slot)].PositionBlock.data() == block &&
      std::string(static_cast<const char*>(dataBuffer), 2) == Code(9) && fs::exists(g_listingPath))
    g_listingSeenUnfinished = true;
  return g_realEntry(operation, block, dataBuffer, length, key, keyLength, keyNumber);
}

// A property's results appear under their names only once whole, and a
// property that fails keeps none of an earlier run's results, which would
// pass for this run's.
TEST_F(BatchTest, APropertyThatFailsKeepsNoEarlierResultsAndNoneAppearsCut) {
  PrintProgramDouble printProgram;
  platform::ScopedSystem scoped(printProgram);
  options_.csvDir = (fs::path(root_.Path()) / "csv").string();
  options_.pdfDir = (fs::path(root_.Path()) / "pdf").string();
  fs::create_directories(options_.csvDir);
  fs::create_directories(options_.pdfDir);
  const auto resultsOf = [&](const std::string& code) {
    return std::vector<fs::path>{out_ / (code + ".prn"), fs::path(options_.pdfDir) / (code + ".pdf"),
                                 fs::path(options_.csvDir) / (code + "-distribution.csv"),
                                 fs::path(options_.csvDir) / (code + "-budget.csv")};
  };
  for (const char* code : {"002", "005", "009"})
    for (const fs::path& path : resultsOf(code)) std::ofstream(path) << "EARLIER RUN";
  std::ofstream(out_ / "002.prn.part") << "A RUN STOPPED HALF WAY";

  data::testing::FailingRecordManager failing;
  failing.Fail(kOwnersFile, kGetNext, 1, kIoError);         // property 2 fails before printing
  failing.Fail(kStoredBudgetFile, kInsert, 1, kIoError);    // property 5 once its listing is begun
  g_listingPath = (out_ / "009.prn").string();
  g_realEntry = data::SetRecordManager(&WatchingEntry);
  const std::vector<PropertyOutcome> outcomes = Run();
  data::SetRecordManager(g_realEntry);

  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kFailed);
  EXPECT_EQ(outcomes[1].result, Result::kFailed);
  EXPECT_EQ(outcomes[2].result, Result::kDone) << outcomes[2].reason;
  for (const char* code : {"002", "005"})
    for (const fs::path& path : resultsOf(code)) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_FALSE(g_listingSeenUnfinished) << "009.prn was there before its listing was whole";
  EXPECT_NE(ReadAll(out_ / "009.prn").find("TOTAL PRESSUPOST"), std::string::npos);
  EXPECT_NE(ReadAll(fs::path(options_.csvDir) / "009-budget.csv"), "EARLIER RUN");
  // Nothing left under a temporary name.
  for (const std::string& dir : {out_.string(), options_.csvDir, options_.pdfDir})
    for (const auto& entry : fs::directory_iterator(dir))
      EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  ExpectNothingLeft();
}

// A temporary folder that takes no working file (KITTMP naming a folder
// that is not there) would fail every property in turn, each the same way.
TEST_F(BatchTest, ATemporaryFolderThatTakesNoWorkingFileStopsTheBatchBeforeAnyProperty) {
  config::Session().TempDir = root_.Path() + "/gone/";
  const std::vector<PropertyOutcome> outcomes = Run();
  EXPECT_TRUE(outcomes.empty());
  EXPECT_EQ(problem_.rfind("the temporary folder " + root_.Path() + "/gone/ (KITTMP) takes no working file: ", 0), 0u)
      << problem_;
  EXPECT_NE(problem_.find("No such file or directory"), std::string::npos) << problem_;
  EXPECT_TRUE(Stored(2).empty());
  EXPECT_TRUE(fs::is_empty(out_));
  ExpectNothingLeft();
}

// Walks of the owners file: each begins with a read of the first key not
// less than the property's.
int g_ownerWalks = 0;
std::int16_t CountingEntry(std::uint16_t operation, void* block, void* dataBuffer, std::uint32_t* length, void* key,
                           std::uint8_t keyLength, std::int8_t keyNumber) {
  const int slot = data::FindSlot(kOwnersFile);
  constexpr std::uint16_t kGetGreaterOrEqual = 9;
  if (operation % 100 == kGetGreaterOrEqual && slot > 0 &&
      data::FileTable()[static_cast<std::size_t>(slot)].PositionBlock.data() == block)
    ++g_ownerWalks;
  const data::RecordManagerEntry real = g_realEntry != nullptr ? g_realEntry : &BTRCALL;
  return real(operation, block, dataBuffer, length, key, keyLength, keyNumber);
}

// The copies of the distribution listing print the distribution worked out
// for the figures: the owners are read for what was issued, for the
// figures, and once more only to update the receipts.
TEST_F(BatchTest, CopiesOfTheListingDoNotReadTheOwnersAgain) {
  options_.properties = {{2, 2}};
  options_.screens.distributionCopies = "3";
  const auto pages = [](const std::string& printed) {
    std::size_t count = 0;
    for (std::size_t at = printed.find("PAGE 66"); at != std::string::npos; at = printed.find("PAGE 66", at + 1)) ++count;
    return count;
  };
  for (const char* periodicity : {"0", "1"}) {
    options_.screens.periodicity = periodicity;
    g_ownerWalks = 0;
    g_realEntry = data::SetRecordManager(&CountingEntry);
    const std::vector<PropertyOutcome> outcomes = Run();
    data::SetRecordManager(g_realEntry);
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
    EXPECT_EQ(g_ownerWalks, std::string(periodicity) == "0" ? 2 : 3) << periodicity;
    // Three copies of the distribution listing and one of the budget listing.
    EXPECT_EQ(pages(ReadAll(out_ / "002.prn")), 4u) << periodicity;
  }
  EXPECT_EQ(Slots(2), (std::vector<std::string>{"1:50", "1:50", "1:50", "1:50"}));
}

TEST_F(BatchTest, AnUpdateNeedsAReceiptConceptOfTheFundsProvisionKind) {
  const struct {
    const char* periodicity;
    const char* slot;
    const char* problem;
  } cases[] = {
      {"1", "3", "the receipt concept 3 (DERRAMA) is not of the funds-provision kind"},
      {"1", "2", "there is no receipt concept 2"},
      {"1", "1", ""},
      {"0", "3", ""},  // no update: the concept is not used
  };
  for (const auto& c : cases) {
    options_.properties = {{2, 2}};
    options_.screens.periodicity = c.periodicity;
    options_.screens.receiptConcept = c.slot;
    const std::vector<PropertyOutcome> outcomes = Run();
    EXPECT_EQ(problem_, c.problem) << c.slot;
    EXPECT_EQ(outcomes.size(), std::string(c.problem).empty() ? 1u : 0u) << c.slot;
  }
}

TEST_F(BatchTest, FiguresAndPdfDocumentsPerProperty) {
  PrintProgramDouble printProgram;
  platform::ScopedSystem scoped(printProgram);
  options_.properties = {{2, 5}};
  options_.csvDir = (fs::path(root_.Path()) / "csv").string();
  options_.pdfDir = (fs::path(root_.Path()) / "pdf").string();
  fs::create_directories(options_.csvDir);
  fs::create_directories(options_.pdfDir);
  std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[1].result, Result::kDone) << outcomes[1].reason;
  const std::string distribution = ReadAll(fs::path(options_.csvDir) / "005-distribution.csv");
  EXPECT_EQ(distribution.rfind("owner,name,department,share_a", 0), 0u);
  EXPECT_NE(distribution.find("\r\n00050004,ANNA VEI 4,,0.00,15.00,"), std::string::npos) << distribution;
  const std::string budget = ReadAll(fs::path(options_.csvDir) / "005-budget.csv");
  EXPECT_NE(budget.find("\r\nNE,NETEJA,B,60.00,0.00,60.00\r\n"), std::string::npos) << budget;
  // The print program of ExeDir, once per property, on its print file.
  ASSERT_EQ(printProgram.runs.size(), 2u);
  EXPECT_EQ(printProgram.runs[1], platform::HostPathOrRaw(config::Session().ExeDir + "KITPRINT"));
  EXPECT_EQ(printProgram.arguments[1],
            (std::vector<std::string>{"-o", options_.pdfDir + "/005.pdf", (out_ / "005.prn").string()}));

  // A print program that fails, or cannot start, fails the property; the
  // print file stays for a later print.
  for (int status : {1, -1}) {
    printProgram.status = status;
    outcomes = Run();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].result, Result::kFailed);
    EXPECT_NE(outcomes[0].reason.find(status == 1 ? "ended with status 1" : "cannot be started"), std::string::npos)
        << outcomes[0].reason;
    EXPECT_NE(outcomes[0].reason.find((out_ / "002.prn").string()), std::string::npos) << outcomes[0].reason;
    EXPECT_TRUE(fs::exists(out_ / "002.prn"));
  }

  // A folder for the figures that has gone stops the batch, naming it.
  options_.pdfDir.clear();
  fs::remove_all(options_.csvDir);
  outcomes = Run();
  EXPECT_TRUE(outcomes.empty());
  EXPECT_EQ(problem_, "the folder " + options_.csvDir + " does not take files: No such file or directory");
  ExpectNothingLeft();
}

// Another process of the workstation holding a lock of a property (its
// budget's, "PressupH", or its owners', "PropietH") until the test lets it
// go.
class HeldLock {
 public:
  HeldLock(const char* name, int code) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      // Only the parent may end this process's wait.
      ::close(release[1]);
      ::close(ready[0]);
      data::ResetLocks();
      const char held = data::LockKey(name, Code(code)) == 0 ? 'y' : 'n';
      if (::write(ready[1], &held, 1) != 1) ::_exit(2);
      char done = 0;
      while (::read(release[0], &done, 1) < 0) {
      }
      ::_exit(0);
    }
    ::close(release[0]);
    ::close(ready[1]);
    release_ = release[1];
    char held = 0;
    held_ = ::read(ready[0], &held, 1) == 1 && held == 'y';
    ::close(ready[0]);
  }
  ~HeldLock() {
    ::close(release_);
    int status = 0;
    if (child_ > 0) ::waitpid(child_, &status, 0);
  }
  bool held() const { return held_; }

 private:
  pid_t child_ = -1;
  int release_ = -1;
  bool held_ = false;
};

// Another program of the workstation holds the owners' lock of property 5
// and does not let go (an owners' editor left open): the batch waits as
// long as it waits for a budget, then fails that property and goes on.
TEST_F(BatchTest, AnOwnersLockHeldElsewhereIsWaitedForAWhileThenThePropertyFails) {
  options_.lockWaitSeconds = 1;
  options_.screens.periodicity = "1";
  std::vector<PropertyOutcome> outcomes;
  std::chrono::steady_clock::duration waited{};
  {
    HeldLock other("PropietH", 5);
    ASSERT_TRUE(other.held());
    const auto start = std::chrono::steady_clock::now();
    outcomes = Run();
    waited = std::chrono::steady_clock::now() - start;
  }

  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  EXPECT_EQ(outcomes[1].result, Result::kFailed);
  EXPECT_NE(outcomes[1].reason.find("NO S'HA POGUT PRENDRE EL BLOQUEIG PropietH"), std::string::npos)
      << outcomes[1].reason;
  EXPECT_EQ(Slots(5), (std::vector<std::string>{"1:0", "1:0", "1:0", "1:0"}));
  EXPECT_EQ(outcomes[2].result, Result::kDone) << outcomes[2].reason;
  EXPECT_LT(waited, std::chrono::seconds(10));
  ExpectNothingLeft();
}

// A lock folder out of reach (a file in its place) is no workstation
// holding the budgets: each property fails at once naming it, instead of
// being waited for and passed over as "in use on another workstation".
TEST_F(BatchTest, ALockFolderOutOfReachFailsThePropertiesWithoutWaiting) {
  const fs::path locks = fs::path(root_.Path()) / "LOCKS";
  fs::remove_all(locks);
  std::ofstream(locks) << "in the way";
  options_.lockWaitSeconds = 2;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<PropertyOutcome> outcomes = Run();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_EQ(outcomes.size(), 3u);
  for (const PropertyOutcome& o : outcomes) {
    EXPECT_EQ(o.result, Result::kFailed) << o.code;
    EXPECT_NE(o.reason.find("its budget lock cannot be taken: NO ES POT ACCEDIR AL FITXER " + locks.string()),
              std::string::npos)
        << o.reason;
  }
  EXPECT_TRUE(Stored(2).empty());
  fs::remove(locks);
}

// A termination request (SIGTERM, Ctrl+C) that arrives while the batch
// waits.
class TerminatedWhileWaiting : public platform::SystemWrapper {
 public:
  TerminatedWhileWaiting() : platform::SystemWrapper(platform::RealSystem()) {}
  void Pause(int) override { throw platform::SessionEnded{128 + SIGTERM, "ended by SIGTERM"}; }
};

// A batch ended half way leaves the property it was on stopped (saying
// that nothing of it was written) and the rest not run, with the lock and
// the working file let go: the summary does not pass for the whole batch.
TEST_F(BatchTest, ABatchEndedWhileWaitingSaysWhereItStoppedAndLeavesNothingHeld) {
  HeldLock other("PressupH", 5);
  ASSERT_TRUE(other.held());
  options_.lockWaitSeconds = 30;
  TerminatedWhileWaiting terminated;
  std::vector<PropertyOutcome> outcomes;
  {
    platform::ScopedSystem scoped(terminated);
    EXPECT_THROW(RunBatch(report_, options_, outcomes), platform::SessionEnded);
  }
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kDone);
  EXPECT_EQ(outcomes[1].code, "005");
  EXPECT_EQ(outcomes[1].result, Result::kStopped);
  EXPECT_EQ(outcomes[1].name, "C.P. CARRER 5");
  EXPECT_EQ(outcomes[1].reason, "ended by SIGTERM before anything of it was written");
  EXPECT_EQ(outcomes[2].code, "009");
  EXPECT_EQ(outcomes[2].result, Result::kNotRun);
  EXPECT_FALSE(fs::exists(out_ / "009.prn"));
  EXPECT_EQ(BatchExitStatus(outcomes), 1);
  ExpectNothingLeft();
}

// A print program ended by the operator's Ctrl+C (which reaches the whole
// process group) is no failure of the property: the batch was stopped
// after its listings were printed.
class PrintProgramInterrupted : public platform::SystemWrapper {
 public:
  PrintProgramInterrupted() : platform::SystemWrapper(platform::RealSystem()) {}
  int RunAndWait(const std::string&, const std::vector<std::string>&) override {
    std::raise(SIGINT);
    return 128 + SIGINT;
  }
};

TEST_F(BatchTest, ABatchEndedDuringAPdfDocumentSaysTheListingsAreWhole) {
  platform::InstallTerminationSignals();
  PrintProgramInterrupted printProgram;
  platform::ScopedSystem scoped(printProgram);
  options_.pdfDir = (fs::path(root_.Path()) / "pdf").string();
  fs::create_directories(options_.pdfDir);
  std::vector<PropertyOutcome> outcomes;
  EXPECT_THROW(RunBatch(report_, options_, outcomes), platform::SessionEnded);
  platform::ClearTerminationSignal();
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kStopped);
  EXPECT_EQ(outcomes[0].reason,
            "ended by SIGINT before its PDF document was made; its listings are in " + (out_ / "002.prn").string());
  EXPECT_TRUE(fs::exists(out_ / "002.prn"));
  EXPECT_EQ(Stored(2), std::vector<std::string>{"NE B 2400"});
  EXPECT_EQ(outcomes[1].result, Result::kNotRun);
  EXPECT_EQ(outcomes[2].result, Result::kNotRun);
  ExpectNothingLeft();
}

// A folder where files cannot be made (permission bits do not stop root:
// the refusal comes from the file system), or a disk that fills up under
// one property's figures.
class RefusingFolder : public platform::FileSystemWrapper {
 public:
  RefusingFolder(std::string folder, int error, std::string onlyFile = "")
      : FileSystemWrapper(platform::RealFileSystem()),
        folder_(std::move(folder) + "/"),
        onlyFile_(std::move(onlyFile)),
        error_(error) {}
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    if (Refused(path) && flags != platform::kOpenRead) {
      status = {error_};
      return nullptr;
    }
    return FileSystemWrapper::Open(path, flags, status, mode);
  }
  platform::FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, bool sync,
                                      mode_t mode) override {
    if (Refused(path)) return {error_};
    return FileSystemWrapper::WriteWholeFile(path, bytes, sync, mode);
  }

 private:
  bool Refused(const std::string& path) const {
    return path.starts_with(folder_) && (onlyFile_.empty() || path.ends_with(onlyFile_));
  }
  std::string folder_, onlyFile_;
  int error_;
};

// An output folder that takes no files stops the batch before any
// property, naming the folder, instead of failing every property the same
// way.
TEST_F(BatchTest, AnOutputFolderThatTakesNoFilesStopsTheBatchBeforeAnyProperty) {
  options_.csvDir = (fs::path(root_.Path()) / "csv").string();
  options_.pdfDir = (fs::path(root_.Path()) / "pdf").string();
  options_.screens.periodicity = "1";
  for (const std::string* dir : {&options_.outDir, &options_.pdfDir, &options_.csvDir}) {
    fs::create_directories(*dir);
    RefusingFolder refusing(*dir, EACCES);
    platform::ScopedFileSystem scoped(refusing);
    EXPECT_TRUE(Run().empty()) << *dir;
    EXPECT_EQ(problem_, "the folder " + *dir + " does not take files: Permission denied");
    EXPECT_TRUE(fs::is_empty(*dir)) << *dir;
  }
  EXPECT_TRUE(Stored(2).empty());
  EXPECT_EQ(Slots(2), (std::vector<std::string>{"1:0", "1:0", "1:0", "1:0"}));
  ExpectNothingLeft();
}

// Property 5's budget lock is lost while it runs (on the server: the
// session that held it ended and another workstation took the property
// meanwhile): its budget is not saved nor its receipts updated, it is
// reported failed, and the next property goes on.
TEST_F(BatchTest, APropertyWhoseBudgetLockWasLostWritesNothingAndTheNextGoesOn) {
  options_.screens.periodicity = "1";
  data::locktest::LosingLockStore losing([this](std::string_view name) {
    return base::AsciiUpper(name) == "PRESSUPH" && report_.parameters.PropertyCode == Code(5);
  });
  const std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  EXPECT_EQ(outcomes[1].result, Result::kFailed);
  EXPECT_NE(outcomes[1].reason.find("NO S'HA POGUT DESAR EL PRESSUPOST"), std::string::npos) << outcomes[1].reason;
  EXPECT_NE(outcomes[1].reason.find("S'HA PERDUT EL BLOQUEIG DE LA FINCA"), std::string::npos) << outcomes[1].reason;
  EXPECT_FALSE(outcomes[1].receipts.Made);
  EXPECT_EQ(outcomes[2].result, Result::kDone) << outcomes[2].reason;
  EXPECT_TRUE(Stored(5).empty());
  EXPECT_EQ(Slots(5), (std::vector<std::string>{"1:0", "1:0", "1:0", "1:0"}));
  EXPECT_FALSE(fs::exists(out_ / "005.prn"));
  EXPECT_EQ(Stored(9), std::vector<std::string>{"NE B 10800"});
  EXPECT_EQ(BatchExitStatus(outcomes), 1);
  ExpectNothingLeft();
}

// The disk fills up under one property's figures: that property fails
// with its data files untouched (not saved and updated, yet reported
// failed), and the others go on.
TEST_F(BatchTest, FiguresThatCannotBeWrittenLeaveThePropertysDataAsItWas) {
  options_.csvDir = (fs::path(root_.Path()) / "csv").string();
  fs::create_directories(options_.csvDir);
  options_.screens.periodicity = "1";
  RefusingFolder full(options_.csvDir, ENOSPC, "005-budget.csv.part");
  platform::ScopedFileSystem scoped(full);
  const std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  EXPECT_EQ(outcomes[1].result, Result::kFailed);
  EXPECT_EQ(outcomes[1].reason,
            "the figures " + options_.csvDir + "/005-budget.csv cannot be written: No space left on device");
  EXPECT_FALSE(outcomes[1].receipts.Made);
  EXPECT_EQ(outcomes[2].result, Result::kDone) << outcomes[2].reason;
  EXPECT_TRUE(Stored(5).empty());
  EXPECT_EQ(Slots(5), (std::vector<std::string>{"1:0", "1:0", "1:0", "1:0"}));
  EXPECT_EQ(Stored(9), std::vector<std::string>{"NE B 10800"});
  EXPECT_FALSE(fs::exists(out_ / "005.prn"));
  for (const auto& entry : fs::directory_iterator(options_.csvDir))
    EXPECT_TRUE(entry.path().filename().string().rfind("005", 0) != 0) << entry.path();
  ExpectNothingLeft();
}

// The properties file itself stops answering half way (a damaged page, a
// server gone away): the batch stops there, rather than failing every
// property after it the same way, and says which it did not come to.
TEST_F(BatchTest, APropertiesFileThatNoLongerAnswersStopsTheBatch) {
  constexpr std::uint16_t kGetEqual = 5;
  data::testing::FailingRecordManager failing;
  // The batch reads each property, then its run reads it again: the third
  // read is property 5's in the batch.
  failing.Fail(kPropertiesFile, kGetEqual, 3, kIoError);
  const std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kDone) << outcomes[0].reason;
  EXPECT_EQ(outcomes[1].result, Result::kFailed);
  EXPECT_EQ(outcomes[2].result, Result::kNotRun);
  EXPECT_NE(problem_.find("the properties cannot be read (NO ES POT ACCEDIR AL FITXER DADES\\FinquesH"),
            std::string::npos)
      << problem_;
  EXPECT_NE(problem_.find("; the batch stopped"), std::string::npos) << problem_;
  EXPECT_TRUE(Stored(9).empty());
  ExpectNothingLeft();
}

// A print file whose writes fail (a full disk).
class FullDiskUnder : public platform::FileSystemWrapper {
 public:
  explicit FullDiskUnder(std::string file) : FileSystemWrapper(platform::RealFileSystem()), file_(std::move(file)) {}
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    std::unique_ptr<platform::File> real = FileSystemWrapper::Open(path, flags, status, mode);
    if (!real || !path.ends_with(file_)) return real;
    struct Full : platform::FileWrapper {
      using FileWrapper::FileWrapper;
      platform::FileStatus WriteAt(std::uint64_t, std::string_view) override { return {ENOSPC}; }
      platform::FileStatus Append(std::string_view) override { return {ENOSPC}; }
    };
    return std::make_unique<Full>(std::move(real));
  }

 private:
  std::string file_;
};

// The disk fills up under a property's listing, after its budget was saved
// and its receipts updated: the failure says what was written, so that the
// property is not taken for one left as it was.
TEST_F(BatchTest, AFailureAfterTheDataWasWrittenSaysWhatWasWritten) {
  options_.screens.periodicity = "1";
  FullDiskUnder full("005.prn.part");
  platform::ScopedFileSystem scoped(full);
  const std::vector<PropertyOutcome> outcomes = Run();
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[1].result, Result::kFailed);
  EXPECT_EQ(outcomes[1].reason, "the print file " + (out_ / "005.prn.part").string() +
                                    " could not be written: No space left on device; its stored budget was saved and "
                                    "its receipts updated");
  EXPECT_TRUE(outcomes[1].receipts.Made);
  EXPECT_EQ(Stored(5), std::vector<std::string>{"NE B 6000"});
  EXPECT_FALSE(fs::exists(out_ / "005.prn"));
  EXPECT_FALSE(fs::exists(out_ / "005.prn.part"));
  EXPECT_EQ(outcomes[2].result, Result::kDone) << outcomes[2].reason;
  // A failure before anything was written says nothing of the kind.
  data::testing::FailingRecordManager failing;
  failing.Fail(kOwnersFile, kGetNext, 1, kIoError);
  options_.properties = {{2, 2}};
  const std::vector<PropertyOutcome> early = Run();
  ASSERT_EQ(early.size(), 1u);
  EXPECT_EQ(early[0].reason.find("saved"), std::string::npos) << early[0].reason;
  ExpectNothingLeft();
}

TEST_F(BatchTest, ASelectionThatNoPropertyHasIsAProblemNotASuccess) {
  options_.properties = {{60, 70}, {80, 90}};
  EXPECT_TRUE(Run().empty());
  EXPECT_EQ(problem_, "no property has a code in 60-70,80-90");
}

TEST_F(BatchTest, ABudgetHeldElsewhereIsWaitedForAWhileThenPassedOverNamingItsHolder) {
  options_.lockWaitSeconds = 1;
  std::vector<PropertyOutcome> outcomes;
  std::chrono::steady_clock::duration waited{};
  {
    HeldLock other("PressupH", 5);  // another process of the workstation
    ASSERT_TRUE(other.held());
    const auto start = std::chrono::steady_clock::now();
    outcomes = Run();
    waited = std::chrono::steady_clock::now() - start;
  }

  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, Result::kDone);
  EXPECT_EQ(outcomes[1].result, Result::kSkipped);
  EXPECT_NE(outcomes[1].reason.find("its budget is in use on another workstation: OCUPAT PER"), std::string::npos)
      << outcomes[1].reason;
  EXPECT_FALSE(outcomes[1].figures);
  EXPECT_EQ(outcomes[2].result, Result::kDone);
  EXPECT_FALSE(fs::exists(out_ / "005.prn"));
  EXPECT_GE(waited, std::chrono::seconds(1));
  EXPECT_LT(waited, std::chrono::seconds(10));
  ExpectNothingLeft();
}

}  // namespace
}  // namespace app
