// "repquota batch" on demo suite roots: its listings against the
// dialogue's, a dry run against the data files, the figures against the
// listing; and the checks of bad data in the dialogue.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class Batch : public ::testing::Test {
 protected:
  void SetUp() override { root_.Kitdata({"demo", root_.Dir().string(), "2024-11-15"}); }
  fs::path Results(const std::string& name) const { return root_.Dir() / "results" / name; }

  SuiteRoot root_{"CAT", "15112024"};
  std::vector<std::string> screens_;
};

// The rows of a CSV file (RFC 4180: quoted fields may hold commas, doubled
// quotes and line ends; rows end in CR LF).
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(std::move(field));
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(std::move(field));
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

// Euros with a point as cents.
long long Cents(const std::string& amount) {
  const bool negative = !amount.empty() && amount[0] == '-';
  const std::size_t point = amount.find('.');
  EXPECT_NE(point, std::string::npos) << amount;
  const long long whole = std::stoll(amount.substr(negative ? 1 : 0, point - (negative ? 1 : 0)));
  const long long cents = whole * 100 + std::stoll(amount.substr(point + 1));
  EXPECT_EQ(amount.size() - point, 3u) << amount;
  return negative ? -cents : cents;
}

// An amount as the listing prints it ("1.234'56", "-'01", blank for none).
long long ListedCents(std::string text) {
  std::string digits;
  bool negative = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') digits += c;
    if (c == '-') negative = true;
  }
  const long long value = digits.empty() ? 0 : std::stoll(digits);
  return negative ? -value : value;
}

// The text of the print file's lines, from the line `first` on: each text
// line's middle field.
std::vector<std::string> TextsAfter(const std::string& printFile, const std::string& first) {
  std::vector<std::string> texts;
  std::size_t at = printFile.find(first);
  EXPECT_NE(at, std::string::npos) << first;
  if (at == std::string::npos) return texts;
  std::istringstream lines(printFile.substr(at));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t a = line.find(','), b = line.rfind(',');
    if (a == std::string::npos || a == b) continue;  // commands: JUS, PAGE, *
    texts.push_back(line.substr(a + 1, b - a - 1));
  }
  return texts;
}

// Every file of the root but the program locks, the workstations' folders
// and the batch's results: name and bytes.
std::map<std::string, std::string> DataFiles(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (!entry.is_regular_file() || relative.rfind("LOCKS", 0) == 0 || relative.rfind("TMP", 0) == 0 ||
        relative.rfind("results", 0) == 0)
      continue;
    files[relative] = ReadFile(entry.path());
  }
  return files;
}

constexpr const char* kDataFileNames[] = {"TDespesa", "THRebut", "FinquesH", "FinDespH",
                                          "PropietH", "PagamH",  "CobramH",  "PressupH"};

TEST_F(Batch, ItsListingsAreTheDialoguesForTheSameOptions) {
  // The dialogue: property 2, one copy per owner of the distribution, two
  // of the budget, receipts updated in slot 1; the update is told with a
  // key to go on.
  const ProgramResult dialogue = root_.RunRepquota(
      "{Down}2{Ctrl+B}{Ctrl+B}P{Down}2{Down}1{Ctrl+B}S{Enter}{Snap}{Enter}{Esc}", screens_);
  ASSERT_EQ(dialogue.exitStatus, 0) << dialogue.standardError;
  ASSERT_EQ(screens_.size(), 1u);
  EXPECT_THAT(Flat(screens_[0]), HasSubstr("REBUTS ACTUALITZATS: 4 PROPIETARIS, CONCEPTE 1, SUMA DE LES QUOTES "));
  const std::vector<std::string> printed = root_.PrintedFiles();
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_THAT(printed[0], HasSubstr("DESPESES PRESSUPOSTADES"));

  const ProgramResult batch =
      root_.RunBatch({"2", "--date", "15/11/2024", "--distribution-copies", "P", "--budget-copies", "2",
                      "--periodicity", "1", "--out", Results("out").string()});
  ASSERT_EQ(batch.exitStatus, 0) << batch.standardError << batch.standardOutput;
  EXPECT_EQ(ReadFile(Results("out") / "002.prn"), printed[0]);
  EXPECT_THAT(batch.standardOutput, HasSubstr("4 in slot 1: "));

  // The plain path: property 1, one copy of each.
  const ProgramResult plain = root_.RunRepquota("{Down}1{Ctrl+B}{Ctrl+B}1{Down}1{Ctrl+B}S{Enter}{Esc}", screens_);
  ASSERT_EQ(plain.exitStatus, 0) << plain.standardError;
  ASSERT_EQ(root_.PrintedFiles().size(), 2u);
  const ProgramResult one = root_.RunBatch({"1", "--date", "15/11/2024", "--out", Results("out").string()});
  ASSERT_EQ(one.exitStatus, 0) << one.standardError << one.standardOutput;
  EXPECT_EQ(ReadFile(Results("out") / "001.prn"), root_.PrintedFiles()[1]);
}

TEST_F(Batch, ADryRunLeavesEveryDataFileAsItWas) {
  std::map<std::string, std::string> exports;
  for (const char* name : kDataFileNames) exports[name] = root_.Export(name);
  const std::map<std::string, std::string> before = DataFiles(root_.Dir());
  if (!DataOnServer()) {
    ASSERT_TRUE(before.contains("DADES/PropietH.dat"));
  }

  const ProgramResult r = root_.RunBatch({"--date", "15/11/2024", "--periodicity", "1", "--dry-run", "--out",
                                          Results("out").string(), "--csv", Results("csv").string()});
  EXPECT_EQ(r.exitStatus, 0) << r.standardError << r.standardOutput;
  // Everything worked out and printed, the update counted...
  EXPECT_THAT(r.standardOutput, HasSubstr("Dry run: no data file was written; its results are in the folders dry-run"));
  EXPECT_THAT(r.standardOutput, HasSubstr("8 in slot 1: "));
  for (const char* code : {"001", "002", "003"}) {
    EXPECT_THAT(ReadFile(Results("out") / "dry-run" / (std::string(code) + ".prn")), HasSubstr("TOTAL PRESSUPOST"))
        << code;
    EXPECT_TRUE(fs::exists(Results("csv") / "dry-run" / (std::string(code) + "-distribution.csv"))) << code;
    EXPECT_FALSE(fs::exists(Results("out") / (std::string(code) + ".prn"))) << code;
  }
  // ...and not a byte of the data written.
  for (const char* name : kDataFileNames) EXPECT_EQ(root_.Export(name), exports[name]) << name;
  if (!DataOnServer()) {
    const std::map<std::string, std::string> after = DataFiles(root_.Dir());
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, bytes] : before) EXPECT_TRUE(after.at(name) == bytes) << name;
  }
  // The same run for real writes the budget and the receipts.
  const ProgramResult real =
      root_.RunBatch({"--date", "15/11/2024", "--periodicity", "1", "--out", Results("out").string()});
  EXPECT_EQ(real.exitStatus, 0) << real.standardError << real.standardOutput;
  EXPECT_NE(root_.Export("PropietH"), exports["PropietH"]);
  EXPECT_NE(root_.Export("PressupH"), exports["PressupH"]);
  // A preview afterwards in the same folder leaves the real listings alone.
  const std::string listing = ReadFile(Results("out") / "001.prn");
  const ProgramResult again = root_.RunBatch({"1", "--date", "15/11/2024", "--budget-copies", "2", "--dry-run",
                                              "--out", Results("out").string()});
  EXPECT_EQ(again.exitStatus, 0) << again.standardError << again.standardOutput;
  EXPECT_EQ(ReadFile(Results("out") / "001.prn"), listing);
  EXPECT_NE(ReadFile(Results("out") / "dry-run" / "001.prn"), listing);
}

TEST_F(Batch, TheFiguresReadBackAddUpToTheListing) {
  const ProgramResult r = root_.RunBatch(
      {"1", "--date", "15/11/2024", "--out", Results("out").string(), "--csv", Results("csv").string()});
  ASSERT_EQ(r.exitStatus, 0) << r.standardError << r.standardOutput;
  const std::string listing = ReadFile(Results("out") / "001.prn");

  // The distribution: every owner, and per column the owners' shares add
  // up to the listing's total less its adjustment.
  const auto rows = ReadCsv(ReadFile(Results("csv") / "001-distribution.csv"));
  ASSERT_EQ(rows.size(), 9u);
  ASSERT_EQ(rows[0].size(), 14u);
  EXPECT_EQ(rows[0][0], "owner");
  EXPECT_EQ(rows[0][13], "quarterly");
  EXPECT_EQ(rows[2][1], "MONTSERRAT FERRER SOLÉ");
  EXPECT_EQ(rows[8][2], "ÀTIC");
  const std::vector<std::string> adjust = TextsAfter(listing, ",AJUST,");
  const std::vector<std::string> total = TextsAfter(listing, ",TOTAL,");
  ASSERT_GE(adjust.size(), 10u);
  ASSERT_GE(total.size(), 10u);
  for (std::size_t k = 0; k < 8; ++k) {  // columns A to G, then the owners' total
    long long sum = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].size(), 14u) << i;
      sum += Cents(rows[i][3 + k]);
    }
    // After "AJUST" and "TOTAL": an empty text at column 15, then the values.
    EXPECT_EQ(sum + ListedCents(adjust[2 + k]), ListedCents(total[2 + k])) << "column " << k;
  }
  // Each owner's total is the sum of the owner's shares.
  for (std::size_t i = 1; i < rows.size(); ++i) {
    long long shares = 0;
    for (std::size_t k = 3; k < 10; ++k) shares += Cents(rows[i][k]);
    EXPECT_EQ(shares, Cents(rows[i][10])) << rows[i][0];
  }

  // The budget: the lines with a column add up to the budget listing's
  // total.
  const auto lines = ReadCsv(ReadFile(Results("csv") / "001-budget.csv"));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], (std::vector<std::string>{"code", "description", "column", "spent", "variation", "budget"}));
  long long budgeted = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 6u) << i;
    EXPECT_EQ(Cents(lines[i][3]) + Cents(lines[i][4]), Cents(lines[i][5])) << lines[i][0];
    if (!lines[i][2].empty()) budgeted += Cents(lines[i][5]);
  }
  const std::vector<std::string> budgetTotal = TextsAfter(listing, ",TOTAL PRESSUPOST,");
  ASSERT_GE(budgetTotal.size(), 2u);
  EXPECT_EQ(budgeted, ListedCents(budgetTotal[1]));
  EXPECT_THAT(r.standardOutput, HasSubstr("       6428.60 "));
}

TEST_F(Batch, WrongArgumentsAndAFolderInTheWayAreNamed) {
  ProgramResult r = root_.RunBatch({"--distribution-copies", "Q"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_THAT(r.standardError, HasSubstr("--distribution-copies \"Q\": give a number of copies up to 999, or P"));
  EXPECT_EQ(r.standardOutput, "");
  r = root_.RunBatch({"--periodicity", "1", "--concept", "3"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_THAT(r.standardError, HasSubstr("the receipt concept 3 (DERRAMA) is not of the funds-provision kind"));
  fs::create_directories(root_.Dir() / "results");
  std::ofstream(root_.Dir() / "results" / "out") << "in the way";
  r = root_.RunBatch({"--out", Results("out").string()});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.standardError, HasSubstr("the folder " + Results("out").string() + " cannot be made"));
  r = root_.RunBatch({"--help"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_THAT(r.standardOutput, HasSubstr("Usage: repquota batch"));
}

// The progress lines a terminal received: each "[n/m] ..." written after
// a carriage return and erase-line, up to the next control character.
std::vector<std::string> ProgressLines(const std::string& terminal) {
  std::vector<std::string> lines;
  for (std::size_t at = terminal.find("\r\x1b[K"); at != std::string::npos; at = terminal.find("\r\x1b[K", at + 1)) {
    const std::size_t start = at + 4;
    const std::size_t end = terminal.find_first_of("\r\n\x1b", start);
    const std::string line = terminal.substr(start, end == std::string::npos ? end : end - start);
    if (line.starts_with("[")) lines.push_back(line);
  }
  return lines;
}

// Characters of a UTF-8 text.
std::size_t Width(const std::string& utf8) {
  std::size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// On a terminal the progress line is rewritten in place, narrower than the
// terminal (a wrapped line would not be wiped), and wiped before anything
// else appears there, the print program's notice of each PDF document
// too. Into a file nothing of it goes.
TEST_F(Batch, TheProgressLineKeepsToItsLineOnATerminalAndOutOfFiles) {
  const std::vector<std::string> args{"--date", "15/11/2024", "--out", Results("out").string(), "--pdf",
                                      Results("pdf").string()};
  const ProgramResult onTerminal = root_.RunBatchOnTerminal(args, 30);
  ASSERT_EQ(onTerminal.exitStatus, 0) << onTerminal.standardError;
  const std::string& seen = onTerminal.standardError;
  const std::vector<std::string> progress = ProgressLines(seen);
  ASSERT_EQ(progress.size(), 3u) << seen;
  EXPECT_EQ(progress[0], "[1/3] 001 COMUNITAT PROP. MAL");
  EXPECT_EQ(progress[1], "[2/3] 002 C.P. GRAN DE GRÀCIA");
  for (const std::string& line : progress) EXPECT_LT(Width(line), 30u) << line;
  std::size_t notices = 0;
  for (std::size_t at = seen.find("kitprint:"); at != std::string::npos; at = seen.find("kitprint:", at + 1), ++notices) {
    const std::string before = seen.substr(0, at);
    EXPECT_TRUE(before.empty() || before.ends_with("\n") || before.ends_with("\r\x1b[K"))
        << "a notice written after the progress line: " << seen;
  }
  EXPECT_EQ(notices, 3u) << seen;
  EXPECT_THAT(onTerminal.standardOutput, HasSubstr("\n3 properties: 3 done, 0 skipped, 0 failed.\n"));

  const ProgramResult intoFiles = root_.RunBatch(args);
  ASSERT_EQ(intoFiles.exitStatus, 0) << intoFiles.standardError;
  for (const std::string* text : {&intoFiles.standardError, &intoFiles.standardOutput})
    for (char c : *text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 32) << static_cast<int>(c) << *text;
}

// A data file gone missing (moved away, a wrong root) is not made empty
// and taken for one without records: no budget saved from a year without
// payments, no receipt rewritten.
TEST_F(Batch, ADataFileGoneMissingStopsTheBatchBeforeAnyProperty) {
  if (DataOnServer()) GTEST_SKIP() << "removes a data file of the root";
  const std::string budgets = root_.Export("PressupH");
  const std::string owners = root_.Export("PropietH");
  fs::remove(root_.Dir() / "DADES" / "PagamH.dat");
  const ProgramResult r =
      root_.RunBatch({"--date", "15/11/2024", "--periodicity", "1", "--out", Results("out").string()});
  EXPECT_EQ(r.exitStatus, 1) << r.standardOutput;
  EXPECT_THAT(r.standardError, HasSubstr("the data file DADES\\PagamH does not exist"));
  EXPECT_EQ(r.standardOutput, "");
  EXPECT_FALSE(fs::exists(root_.Dir() / "DADES" / "PagamH.dat"));
  EXPECT_FALSE(fs::exists(Results("out") / "001.prn"));
  EXPECT_EQ(root_.Export("PressupH"), budgets);
  EXPECT_EQ(root_.Export("PropietH"), owners);
}

// A summary that cannot be written (a full disk under the file standard
// output goes to) is said, and the exit status is no success.
TEST_F(Batch, ASummaryThatCannotBeWrittenIsNoSuccess) {
  const std::string command = std::string("exec '") + KIT_REPQUOTA + "' batch 1 --date 15/11/2024 --out '" +
                              Results("out").string() + "' > /dev/full";
  std::map<std::string, std::string> environment = root_.Environment("", "");
  const ProgramResult r = RunProgram({"/bin/sh", "-c", command}, environment);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.standardError,
              HasSubstr("repquota batch: the summary could not be written to standard output: No space left on device"));
}

// A print program that cannot be run is found before the first property,
// not after each property's data was written; a terminal that cannot
// erase a line gets no progress line.
TEST_F(Batch, APrintProgramThatCannotBeRunStopsThePdfBatchBeforeAnyProperty) {
  const std::string budgets = root_.Export("PressupH");
  std::map<std::string, std::string> environment = root_.Environment("", "");
  fs::create_directories(root_.Dir() / "noexe");
  environment["KITEXE"] = (root_.Dir() / "noexe").string() + "/";
  const ProgramResult r = RunProgram({KIT_REPQUOTA, "batch", "--date", "15/11/2024", "--out", Results("out").string(),
                                      "--pdf", Results("pdf").string()},
                                     environment);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.standardError, HasSubstr("the print program " + (root_.Dir() / "noexe" / "KITPRINT").string() +
                                         " (KITEXE) cannot be run: No such file or directory"));
  EXPECT_EQ(r.standardOutput, "");
  EXPECT_EQ(root_.Export("PressupH"), budgets);

  environment["KITEXE"] = std::string(KIT_KITPRINT_DIR) + "/";
  environment["TERM"] = "dumb";
  const ProgramResult dumb = RunOnTerminal({KIT_REPQUOTA, "batch", "1", "--date", "15/11/2024", "--out",
                                            Results("out").string()},
                                           environment, 80);
  EXPECT_EQ(dumb.exitStatus, 0) << dumb.standardError;
  EXPECT_EQ(dumb.standardError.find('\x1b'), std::string::npos) << dumb.standardError;
}

// A name with an escape or a bell in it (an import of a bad file) goes to
// the terminal with those as blanks: the terminal's colours and bell are
// not the data's to set.
TEST_F(Batch, ControlCharactersOfTheDataNeverReachTheTerminal) {
  root_.Import("FinquesH", "property,name,first_month,period_months\n0077,\"PATI\x1b[31mVERMELL\x07 *C.P.\",1,12\n");
  const ProgramResult r = root_.RunBatchOnTerminal({"77", "--date", "15/11/2024", "--out", Results("out").string()}, 80);
  ASSERT_EQ(r.exitStatus, 0) << r.standardError;
  EXPECT_THAT(r.standardError, HasSubstr("[1/1] 077 C.P. PATI [31mVERMELL"));
  EXPECT_THAT(r.standardError, Not(HasSubstr("\x1b[31m")));
  EXPECT_THAT(r.standardError, Not(HasSubstr("\x07")));
  EXPECT_THAT(r.standardOutput, HasSubstr("077   C.P. PATI [31mVERMELL "));
}

// The dialogue: data that would send the budget out wrong is shown before
// the confirmation, in the session's language, and may be printed anyway.
void ABadColumnIsShownBeforeTheConfirmation(const std::string& language, const std::string& heading,
                                            const std::string& column, const std::string& confirm) {
  SuiteRoot root(language, "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  root.Import("PropietH", "owner,name,department,coef_a,slot1_period\n00030003,NOU *VEI,CASA 3,100000,1\n");
  std::vector<std::string> screens;
  const ProgramResult r =
      root.RunRepquota("{Down}3{Ctrl+B}{Ctrl+B}1{Down}1{Ctrl+B}{Snap}{Enter}{Snap}S{Enter}{Esc}", screens);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_THAT(Flat(screens[0]), HasSubstr(heading));
  EXPECT_THAT(Flat(screens[0]), HasSubstr(column));
  EXPECT_THAT(screens[1], HasSubstr(confirm));
  EXPECT_THAT(screens[1], Not(HasSubstr("1100000")));
  ASSERT_EQ(root.PrintedFiles().size(), 1u);
  EXPECT_THAT(Utf8(root.PrintedFiles()[0]), HasSubstr(" 1 ,003, 0 "));
}

TEST(DataChecksInTheDialogue, ABadColumnIsShownBeforeTheConfirmation) {
  ABadColumnIsShownBeforeTheConfirmation("CAT", "REVISEU LES DADES ABANS D'IMPRIMIR:",
                                         "COLUMNA A: TOTAL 1000000, SUMA DELS COEFICIENTS 1100000",
                                         "CONFIRMA LA IMPRESSIÓ");
}

TEST(DataChecksInTheDialogue, ABadColumnIsShownInTheSessionsLanguage) {
  ABadColumnIsShownBeforeTheConfirmation("SPA", "REVISE LOS DATOS ANTES DE IMPRIMIR:",
                                         "COLUMNA A: TOTAL 1000000, SUMA DE LOS COEFICIENTES 1100000",
                                         "CONFIRMA LA IMPRESIÓN");
}

}  // namespace
}  // namespace e2e
