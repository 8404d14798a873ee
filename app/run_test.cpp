#include "app/run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/hooks.h"
#include "app/suite_root_fixture.h"
#include "base/strings.h"
#include "console/form_file.h"
#include "console/form_input.h"
#include "data/engine/testing/sqlite_log.h"
#include "data/failing_record_manager.h"
#include "data/locks.h"
#include "data/notice.h"
#include "data/testing/losing_lock_store.h"
#include "data/testing/recorded_notice.h"
#include "platform/session_end.h"
#include "platform/system.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using namespace console::form_keys;
using namespace testing;

constexpr std::int16_t kIoError = 2;
constexpr std::uint16_t kInsert = 2, kUpdate = 3, kGetNext = 6;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A program lock this process still holds (it is let go by the look).
bool BudgetLockHeld() { return data::ReleaseLock("PressupH") == 0; }

// Whether the owners file still has a read of this process open: a log
// written after it began cannot be emptied then. Only SQLite files keep one.
bool OwnersReadOpen() {
  const char* server = std::getenv("KITDB");
  if (server && *server) return false;
  return !recordmanager::testing::LogCanBeEmptied(config::Session().RootDir + "DADES/PropietH.dat");
}

// What the working file and the budget lock look like at a moment of the run.
struct LeftBehind {
  bool workingFile = false;
  bool budgetLock = false;
  bool ownersRead = false;
};

class ScreenDouble : public ReportScreen {
 public:
  void ClearScreen() override {}
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    ++windows;
    if (onMessage) onMessage(text);
  }
  void PopWindow() override {
    --windows;
    if (onPop) onPop();
  }
  void SuspendTerminal() override { suspended = true; }
  void ResumeTerminal() override {
    suspended = false;
    ++resumed;
  }
  std::vector<std::string> messages;
  int windows = 0, resumed = 0;
  bool suspended = false;
  std::function<void()> onPop;  // right after the budget was built
  std::function<void(const std::string&)> onMessage;
};

// The print program: what it was given, and what the run had let go by then.
class PrintProgramDouble : public platform::SystemWrapper {
 public:
  explicit PrintProgramDouble(std::function<LeftBehind()> look)
      : platform::SystemWrapper(platform::RealSystem()), look_(std::move(look)) {}
  int RunAndWait(const std::string& program, const std::vector<std::string>&) override {
    runs.push_back(program);
    printFiles.push_back(ReadAll(fs::path(config::Session().TempDir) / "kitprint.tmp"));
    leftBehind.push_back(look_());
    return status;
  }
  std::vector<std::string> runs, printFiles;
  std::vector<LeftBehind> leftBehind;
  int status = 0;

 private:
  std::function<LeftBehind()> look_;
};

// The operator's messages, and what the run had let go when each came.
class RecordingNotice : public data::testing::RecordedNotice {
 public:
  explicit RecordingNotice(std::function<LeftBehind()> look) : look_(std::move(look)) {}
  void Show(const std::string& text, int row) override {
    RecordedNotice::Show(text, row);
    leftBehind.push_back(look_());
    if (onShow) onShow();
  }
  std::vector<LeftBehind> leftBehind;
  std::function<void()> onShow;

 private:
  std::function<LeftBehind()> look_;
};

struct Step {
  std::string typed;  // empty: the field's text as it is
  std::int16_t key;
};

// The module's real forms and hooks over a suite root with property 7:
// fifteen concepts (two pages of screen 2), three owners, receipt types 1
// and 2 provisions of funds and type 3 not.
class RunReportTest : public SuiteRootFixture {
 protected:
  void SetUp() override {
    SuiteRootFixture::SetUp();
    fs::copy(fs::path(KIT_SUITE_DIR) / "FORMS", fs::path(root_.Path()) / "FORMS");
    fs::create_directories(fs::path(root_.Path()) / "exe");
    config::Session().Language = "CAT";
    config::Session().WorkDate = Date(2024, 11, 15);
    config::Session().ExeDir = root_.Path() + "/exe/";
    console::ResetForms();
    console::FormFileResult forms = console::LoadFormFile(config::Session().RootDir, "REPQUOTA");
    ASSERT_TRUE(forms.ok()) << forms.error;
    console::Forms().forms = std::move(forms.forms);
    console::Forms().hooks = &hooks_;
    console::Forms().ui.EditField = [this](std::int16_t&, std::int16_t&, std::int16_t&, std::string& text,
                                           std::int16_t&, console::Input& key) {
      if (script.empty()) {
        if (endSessionWhenDone) throw platform::SessionEnded{3, "key script ended"};
        key = kEsc;  // a runaway loop ends instead of hanging the test
        ++overruns;
        return;
      }
      const Step step = script.front();
      script.pop_front();
      if (!step.typed.empty()) text = console::FitValue(step.typed, text.size());
      key = step.key;
    };
    SetStartDefaults();
    pageFieldCount_ = console::Forms().forms.Screen(2).fieldCount;

    Property(7, 1, 12, 650, "", {{2, {3, "ESCALA"}}});
    for (int i = 0; i < 15; ++i) {
      const std::string code{'C', static_cast<char>('A' + i)};
      Concept(code.c_str(), ("CONCEPTE " + code).c_str());
    }
    Stored("CA", 'B', 110000, 0, 0);
    Payment(Date(2024, 3, 1), "CA", 2000, 'N', 2);
    Payment(Date(2024, 4, 1), "CB", 900, 'N', 1);
    // Column A shares out its million exactly, column B its total of 3.
    for (int n = 1; n <= 3; ++n) Owner(n, {{1, n == 1 ? 333334 : 333333}, {2, 1}});
    ReceiptType(1, "QUOTA ORDINARIA", 0);
    ReceiptType(2, "FONS DE RESERVA", 0);
    ReceiptType(3, "DERRAMA", 1);
  }
  void TearDown() override {
    console::ResetForms();
    SuiteRootFixture::TearDown();
  }

  void ReceiptType(int number, const char* description, std::int16_t kind) {
    Insert(kReceiptTypesFile, [&](std::span<char> area) {
      const records::ReceiptType r{area};
      r.SetNumber(number);
      r.SetDescription(description);
      r.SetKind(kind);
    });
  }
  fs::path WorkingPath() const { return fs::path(root_.Path()) / "PressupH.tmp"; }
  fs::path PrintPath() const { return fs::path(root_.Path()) / "kitprint.tmp"; }
  LeftBehind Look() const { return {fs::exists(WorkingPath()), BudgetLockHeld(), OwnersReadOpen()}; }

  // Screen 1 for property 7.
  static std::vector<Step> Property7() { return {{"", kDown}, {"7", kCtrlB}}; }
  // Screen 3 with one copy of each listing (receipt concept 1), confirmed.
  static std::vector<Step> PrintOneCopyEach() { return {{"1", kDown}, {"1", kCtrlB}, {"S", kEnter}}; }
  void Script(std::initializer_list<std::vector<Step>> parts) {
    script.clear();
    for (const auto& part : parts) script.insert(script.end(), part.begin(), part.end());
  }

  ModuleHooks hooks_{report_};
  ScreenDouble screen;
  std::deque<Step> script;
  int overruns = 0;
  bool endSessionWhenDone = false;
  std::int16_t pageFieldCount_ = 0;
};

TEST_F(RunReportTest, ARunPagesSavesPrintsAndLetsEverythingGoBeforeThePrintProgram) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  Script({Property7(),
          // Page 1: PgDn to its last field, PgDn to page 2.
          {{"", kPgDn}, {"", kPgDn}},
          // Page 2, line 15 (concept CO): column B, 50 %; back to page 1.
          {{"b", kEnter}, {"50%", kEnter}, {"", kPgUp}, {"", kPgUp}},
          // The print options, left with Esc: the same page again.
          {{"", kCtrlB}, {"", kEsc}},
          {{"", kCtrlB}},
          PrintOneCopyEach(),
          {{"", kEsc}}});  // screen 1 again: leave
  EXPECT_TRUE(RunReport(report_, screen));
  EXPECT_EQ(overruns, 0);
  EXPECT_TRUE(script.empty());

  // The edit made on page 2 was saved with the rest.
  const std::vector<std::string> stored = StoredLines();
  EXPECT_NE(std::find(stored.begin(), stored.end(), "CO B 50000 0 0"), stored.end());
  EXPECT_NE(std::find(stored.begin(), stored.end(), "CA B 110000 0 2200"), stored.end());
  // The print program got both listings, with every owner, once the
  // working file was gone and the lock free.
  ASSERT_EQ(printProgram.runs.size(), 1u);
  EXPECT_EQ(printProgram.runs[0], config::Session().ExeDir + "KITPRINT");
  const std::string& printed = printProgram.printFiles[0];
  EXPECT_EQ(printed.rfind("DEVICE\r\nPAGE 66 \r\n", 0), 0u);
  EXPECT_NE(printed.find("REPARTIMENT DE LES DESPESES"), std::string::npos);
  EXPECT_NE(printed.find("DESPESES PRESSUPOSTADES"), std::string::npos);
  for (const char* owner : {" 1 ,001, 0 ", " 1 ,002, 0 ", " 1 ,003, 0 "})
    EXPECT_NE(printed.find(owner), std::string::npos) << owner;
  EXPECT_FALSE(printProgram.leftBehind[0].workingFile);
  EXPECT_FALSE(printProgram.leftBehind[0].budgetLock);
  EXPECT_FALSE(printProgram.leftBehind[0].ownersRead);
  // The screen as it was: the page's field count, the messages gone (the
  // reading one, then the printing one with the owner count), the terminal
  // back.
  EXPECT_EQ(console::Forms().forms.Screen(2).fieldCount, pageFieldCount_);
  EXPECT_EQ(screen.messages,
            (std::vector<std::string>{"LLEGINT PRESSUPOST", "IMPRIMINT EL LLISTAT DE 3 PROPIETARIS"}));
  EXPECT_EQ(screen.windows, 0);
  EXPECT_FALSE(screen.suspended);
  EXPECT_EQ(screen.resumed, 1);
}

TEST_F(RunReportTest, EscOnTheBudgetSavesAndPrintsNothingButStillRunsThePrintProgram) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  // An old working "file" that is a directory with a file in it.
  fs::create_directories(WorkingPath());
  std::ofstream(WorkingPath() / "x") << "old";
  const std::vector<std::string> before = StoredLines();
  // An edit, Esc back to the first field, Esc: "go on editing?" "N".
  Script({Property7(), {{"c", kEnter}, {"", kEsc}, {"", kEsc}, {"N", kEnter}}, {{"", kEsc}}});
  EXPECT_TRUE(RunReport(report_, screen));
  EXPECT_EQ(overruns, 0);
  EXPECT_EQ(StoredLines(), before);
  ASSERT_EQ(printProgram.printFiles.size(), 1u);
  EXPECT_EQ(printProgram.printFiles[0], "DEVICE\r\n");
  EXPECT_FALSE(printProgram.leftBehind[0].workingFile);
  EXPECT_FALSE(printProgram.leftBehind[0].budgetLock);
  EXPECT_FALSE(fs::exists(WorkingPath()));
}

// Any step that fails stops the run where it is: nothing is saved, printed
// or handed to the print program after it, what was printed is discarded,
// and the operator is told only after the working file is gone and the
// budget lock released.
TEST_F(RunReportTest, AFailedStepStopsTheRunAndLetsEverythingGoBeforeTelling) {
  const std::vector<std::string> storedBefore = StoredLines();
  const std::vector<std::string> slotsBefore = SlotsTwo();
  FailingWorkingFile workingFile;
  data::testing::FailingRecordManager* manager = nullptr;
  // A lock lost while the operator was on the budget.
  std::optional<data::locktest::LosingLockStore> losing;
  const auto lose = [&](std::string_view lock) {
    losing.emplace([lock](std::string_view name) { return base::AsciiUpper(name) == base::AsciiUpper(lock); });
  };
  const struct {
    const char* step;
    std::function<void()> arrange;
    const char* told;
    bool saved;
    bool receiptUpdate = false;
    bool receiptsWritten = false;
  } cases[] = {
      {"the working file cannot be made", [&] { workingFile.openError = EACCES; },
       "NO ES POT CREAR EL FITXER DE TREBALL ", false},
      {"a payment cannot be read", [&] { manager->Fail(kPaymentsFile, kGetNext, 1, kIoError); },
       "NO ES POT ACCEDIR AL FITXER DADES\\PagamH (2)", false},
      {"a page cannot be read",
       [&] { screen.onPop = [&] { workingFile.failingRead = workingFile.reads + 1; }; },
       "NO ES POT LLEGIR EL FITXER DE TREBALL ", false},
      {"a page cannot be written back",
       [&] { screen.onPop = [&] { workingFile.failingWrite = workingFile.writes + 1; }; },
       "NO ES POT ESCRIURE EL FITXER DE TREBALL ", false},
      {"the stored budget cannot be saved", [&] { manager->Fail(kStoredBudgetFile, kInsert, 1, kIoError); },
       "NO S'HA POGUT DESAR EL PRESSUPOST", false},
      {"the budget lock was lost", [&] { lose("PressupH"); },
       "NO S'HA POGUT DESAR EL PRESSUPOST: ES MANT\x90 L'ANTERIOR. S'HA PERDUT EL BLOQUEIG DE LA FINCA", false},
      {"the owners' lock was lost during the receipt update", [&] { lose("PropietH"); },
       "NO S'HAN POGUT ACTUALITZAR ELS REBUTS: NO S'HA CANVIAT CAP PROPIETARI. S'HA PERDUT EL BLOQUEIG DE LA FINCA",
       true, true},
      // The budget is saved before printing starts; the receipts then
      // cannot be updated, and none is.
      {"a receipt cannot be updated", [&] { manager->Fail(kOwnersFile, kUpdate, 2, kIoError); },
       "NO S'HAN POGUT ACTUALITZAR ELS REBUTS", true, true},
      // The receipts are written, then the budget listing cannot read the
      // working file: the operator learns of both.
      {"the budget listing fails after the receipts were written",
       [&] {
         screen.onMessage = [&](const std::string& text) {
           // Read by the save, the distribution, then the budget listing.
           if (text.starts_with("IMPRIMINT")) workingFile.failingRead = workingFile.reads + 3;
         };
       },
       "NO ES POT LLEGIR EL FITXER DE TREBALL ", true, true, true},
  };
  for (const auto& c : cases) {
    workingFile.openError = workingFile.failingRead = workingFile.failingWrite = 0;
    platform::ScopedFileSystem scopedFiles(workingFile);
    data::testing::FailingRecordManager failing;
    manager = &failing;
    screen = ScreenDouble{};
    PrintProgramDouble printProgram([this] { return Look(); });
    platform::ScopedSystem scoped(printProgram);
    RecordingNotice notice([this] { return Look(); });
    notice.onShow = [&] { script = {{"", kEsc}}; };  // then the operator leaves screen 1
    data::ScopedNotice scopedNotice(notice);
    losing.reset();
    c.arrange();
    const std::vector<Step> options =
        c.receiptUpdate ? std::vector<Step>{{"1", kDown}, {"1", kDown}, {"4", kDown}, {"2", kCtrlB}, {"S", kEnter}}
                        : PrintOneCopyEach();
    Script({Property7(), {{"", kCtrlB}}, options});

    EXPECT_FALSE(RunReport(report_, screen)) << c.step;
    ASSERT_EQ(notice.shown.size(), 1u) << c.step;
    EXPECT_NE(notice.shown[0].find(c.told), std::string::npos) << c.step << ": " << notice.shown[0];
    EXPECT_FALSE(notice.leftBehind[0].workingFile) << c.step;
    EXPECT_FALSE(notice.leftBehind[0].budgetLock) << c.step;
    EXPECT_TRUE(printProgram.runs.empty()) << c.step;
    EXPECT_FALSE(fs::exists(PrintPath())) << c.step;
    EXPECT_EQ(StoredLines() == storedBefore, !c.saved) << c.step;
    EXPECT_EQ(SlotsTwo() == slotsBefore, !c.receiptsWritten) << c.step;
    if (c.receiptsWritten) {
      EXPECT_NE(notice.shown[0].find("REBUTS ACTUALITZATS: 3 PROPIETARIS"), std::string::npos)
          << c.step << ": " << notice.shown[0];
    }
    EXPECT_EQ(screen.windows, 0) << c.step;
    EXPECT_EQ(overruns, 0) << c.step;
    screen.onPop = nullptr;
  }
}

TEST_F(RunReportTest, ASessionThatEndsOnTheBudgetStillLetsEverythingGo) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  const std::vector<std::string> before = StoredLines();
  Script({Property7(), {{"b", kEnter}}});
  endSessionWhenDone = true;
  EXPECT_THROW(RunReport(report_, screen), platform::SessionEnded);
  EXPECT_FALSE(fs::exists(WorkingPath()));
  EXPECT_FALSE(BudgetLockHeld());
  EXPECT_TRUE(printProgram.runs.empty());
  EXPECT_FALSE(fs::exists(PrintPath()));
  EXPECT_EQ(StoredLines(), before);
}

TEST_F(RunReportTest, EscOnTheFirstScreenEndsAtOnce) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  Script({{{"", kEsc}}});
  EXPECT_TRUE(RunReport(report_, screen));
  EXPECT_TRUE(printProgram.runs.empty());
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_FALSE(fs::exists(WorkingPath()));
  EXPECT_FALSE(BudgetLockHeld());
}

TEST_F(RunReportTest, AnUnknownPropertyKeepsTheOperatorOnTheFirstScreen) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  RecordingNotice notice([this] { return Look(); });
  data::ScopedNotice scopedNotice(notice);
  Script({{{"", kDown}, {"8", kCtrlB}, {"", kEsc}}});
  EXPECT_TRUE(RunReport(report_, screen));
  EXPECT_EQ(notice.shown, std::vector<std::string>{"FINCA INEXISTENT"});
  EXPECT_TRUE(screen.messages.empty());  // no budget was read
  EXPECT_TRUE(printProgram.runs.empty());
  EXPECT_FALSE(BudgetLockHeld());
}

TEST_F(RunReportTest, APrintProgramThatCannotStartIsNamedAndThePrintFileKept) {
  RecordingNotice notice([this] { return Look(); });
  data::ScopedNotice scopedNotice(notice);
  std::ofstream(PrintPath()) << "DEVICEPANTALLA\r\n";
  // No program in ExeDir: the real start fails.
  EXPECT_EQ(RunPrintProgram(screen), -1);
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_NE(notice.shown[0].find(config::Session().ExeDir + "KITPRINT"), std::string::npos) << notice.shown[0];
  EXPECT_TRUE(fs::exists(PrintPath()));
  // The terminal is handed back even so.
  EXPECT_FALSE(screen.suspended);
  EXPECT_EQ(screen.resumed, 1);

  // A program that runs and fails is not the module's business.
  notice.shown.clear();
  PrintProgramDouble printProgram([this] { return Look(); });
  printProgram.status = 1;
  platform::ScopedSystem scoped(printProgram);
  EXPECT_EQ(RunPrintProgram(screen), 1);
  EXPECT_TRUE(notice.shown.empty());
}

// The print file cannot be written whole (the disk is full): the operator
// is told, and the print program gets no cut listing to print as if whole.
TEST_F(RunReportTest, APrintFileThatCannotBeWrittenWholeIsNotPrinted) {
  class FullDiskForThePrintFile : public platform::FileSystemWrapper {
   public:
    FullDiskForThePrintFile() : FileSystemWrapper(platform::RealFileSystem()) {}
    std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                         mode_t mode) override {
      std::unique_ptr<platform::File> real = target().Open(path, flags, status, mode);
      if (!real || path.find("kitprint.tmp") == std::string::npos) return real;
      struct Full : platform::FileWrapper {
        using FileWrapper::FileWrapper;
        platform::FileStatus WriteAt(std::uint64_t offset, std::string_view bytes) override {
          // Part of the first piece reaches the disk, then it is full.
          if (offset == 0) FileWrapper::WriteAt(0, bytes.substr(0, bytes.size() / 2));
          return platform::FileStatus{ENOSPC};
        }
      };
      return std::make_unique<Full>(std::move(real));
    }
  };
  FullDiskForThePrintFile fullDisk;
  platform::ScopedFileSystem scopedFiles(fullDisk);
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  RecordingNotice notice([this] { return Look(); });
  data::ScopedNotice scopedNotice(notice);
  Script({Property7(), {{"", kCtrlB}}, PrintOneCopyEach(), {{"", kEsc}}});
  EXPECT_FALSE(RunReport(report_, screen));
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_NE(notice.shown[0].find("kitprint.tmp: DISC PLE"), std::string::npos) << notice.shown[0];
  // Told once the property is free again.
  EXPECT_FALSE(notice.leftBehind[0].workingFile);
  EXPECT_FALSE(notice.leftBehind[0].budgetLock);
  EXPECT_TRUE(printProgram.runs.empty());
  EXPECT_FALSE(fs::exists(PrintPath()));
}

TEST_F(RunReportTest, DataThatWouldSendTheBudgetOutWrongIsShownBeforeTheConfirmation) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  RecordingNotice notice([this] { return Look(); });
  data::ScopedNotice scopedNotice(notice);
  std::vector<std::size_t> stepsLeft;  // of the script, when a message came
  notice.onShow = [&] { stepsLeft.push_back(script.size()); };
  const std::vector<Step> printAndLeave = {{"1", kDown}, {"1", kCtrlB}, {"S", kEnter}, {"", kEsc}};

  // Coefficients that add up: straight to the confirmation.
  Script({Property7(), {{"", kCtrlB}}, printAndLeave});
  EXPECT_TRUE(RunReport(report_, screen));
  EXPECT_TRUE(notice.shown.empty());
  ASSERT_EQ(printProgram.runs.size(), 1u);

  // A fourth owner takes column A past its million, and has no coefficient
  // in B: the warning names the column, its total and the owners' sum,
  // before screen 4 asks; the operator prints all the same.
  Owner(4, {{1, 100000}});
  Script({Property7(), {{"", kCtrlB}}, printAndLeave});
  EXPECT_TRUE(RunReport(report_, screen));
  EXPECT_EQ(overruns, 0);
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_NE(notice.shown[0].find("REVISEU LES DADES ABANS D'IMPRIMIR:"), std::string::npos) << notice.shown[0];
  EXPECT_NE(notice.shown[0].find("COLUMNA A: TOTAL 1000000, SUMA DELS COEFICIENTS 1100000"), std::string::npos)
      << notice.shown[0];
  EXPECT_EQ(notice.shown[0].find("COLUMNA B"), std::string::npos) << notice.shown[0];
  EXPECT_EQ(stepsLeft, std::vector<std::size_t>{2});  // screen 4's "S" and Esc still to come
  ASSERT_EQ(printProgram.runs.size(), 2u);
  EXPECT_NE(printProgram.printFiles[1].find(" 1 ,004, 0 "), std::string::npos);
}

TEST_F(RunReportTest, AReceiptUpdateIsToldOnceThePropertyIsFreeAndBeforeThePrintProgram) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  RecordingNotice notice([this] { return Look(); });
  data::ScopedNotice scopedNotice(notice);
  std::vector<std::size_t> printRuns;  // when a message came
  notice.onShow = [&] { printRuns.push_back(printProgram.runs.size()); };
  Script({Property7(), {{"", kCtrlB}}, {{"1", kDown}, {"1", kDown}, {"4", kDown}, {"2", kCtrlB}, {"S", kEnter}},
          {{"", kEsc}}});
  EXPECT_TRUE(RunReport(report_, screen));
  // Every owner: 1033 for the year (300 of column A, 733 of B), 86 a month.
  EXPECT_EQ(SlotsTwo(), (std::vector<std::string>{"4:86", "4:86", "4:86"}));
  ASSERT_EQ(notice.shown.size(), 1u);
  EXPECT_EQ(notice.shown[0], "REBUTS ACTUALITZATS: 3 PROPIETARIS, CONCEPTE 2, SUMA DE LES QUOTES 2'58");
  EXPECT_FALSE(notice.leftBehind[0].workingFile);
  EXPECT_FALSE(notice.leftBehind[0].budgetLock);
  EXPECT_EQ(printRuns, std::vector<std::size_t>{0});
  EXPECT_EQ(printProgram.runs.size(), 1u);

  // A run that prints without updating says nothing of receipts.
  notice.shown.clear();
  Script({Property7(), {{"", kCtrlB}}, {{"1", kDown}, {"1", kDown}, {"0", kDown}, {"2", kCtrlB}, {"S", kEnter}},
          {{"", kEsc}}});
  EXPECT_TRUE(RunReport(report_, screen));
  EXPECT_TRUE(notice.shown.empty());
  EXPECT_EQ(printProgram.runs.size(), 2u);
}

// While the operator is on the budget, another workstation issues owner
// 1's first receipt of the next period: the instalment written counts it.
TEST_F(RunReportTest, AReceiptIssuedWhileTheBudgetIsEditedCountsInTheUpdate) {
  PrintProgramDouble printProgram([this] { return Look(); });
  platform::ScopedSystem scoped(printProgram);
  RecordingNotice notice([this] { return Look(); });
  data::ScopedNotice scopedNotice(notice);
  screen.onPop = [this] { Collection(1, report_.budget.NextStart, 113); };
  Script({Property7(), {{"", kCtrlB}}, {{"1", kDown}, {"1", kDown}, {"4", kDown}, {"2", kCtrlB}, {"S", kEnter}},
          {{"", kEsc}}});
  EXPECT_TRUE(RunReport(report_, screen));
  // Owner 1: (1033 - 113) over the 11 months left, 84 a month; the others
  // 86 as before.
  EXPECT_EQ(SlotsTwo(), (std::vector<std::string>{"4:84", "4:86", "4:86"}));
}

TEST_F(RunReportTest, StartDefaults) {
  EXPECT_EQ(console::Forms().forms.Field(1, 1).value.substr(0, 6), "151124");
  EXPECT_EQ(console::Forms().forms.Field(3, 4).value, "1");
}

}  // namespace
}  // namespace app
