// A batch over the properties of a root while another workstation is on
// the budget of one of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// The line of standard output that begins with `start`.
std::string LineOf(const std::string& output, const std::string& start) {
  const std::size_t at = output.find("\n" + start);
  if (at == std::string::npos) return {};
  return output.substr(at + 1, output.find('\n', at + 1) - at - 1);
}

TEST(BatchBesideAWorkstation, ThePropertyHeldElsewhereIsPassedOverAndABadColumnIsReported) {
  SuiteRoot root("CAT", "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  // Property 3's column A now adds up to more than its million.
  root.Import("PropietH", "owner,name,department,coef_a,slot1_period\n00030003,NOU *VEI,CASA 3,100000,1\n");
  // Another workstation is on the budget of property 2.
  root.AddWorkstation("TMP2");
  HeldRepquota other(root, "{Down}2{Ctrl+B}{Snap}{F1}", "other", "TMP2");
  ASSERT_TRUE(other.AwaitHelp()) << other.StandardError();

  const fs::path results = root.Dir() / "results";
  const ProgramResult r =
      root.RunBatch({"--date", "15/11/2024", "--lock-wait", "1", "--out", (results / "out").string(), "--pdf",
                     (results / "pdf").string(), "--csv", (results / "csv").string()});
  // One property passed over: not every property succeeded.
  EXPECT_EQ(r.exitStatus, 1) << r.standardError << r.standardOutput;
  const std::string& out = r.standardOutput;
  EXPECT_EQ(out.rfind("code  name                           owners  budget total  adjustment  receipts updated", 0), 0u)
      << out;
  EXPECT_THAT(LineOf(out, "001 "), HasSubstr("COMUNITAT PROP. MALLORCA, 245       8       6428.60"));
  EXPECT_THAT(LineOf(out, "001 "), testing::EndsWith(" done"));
  EXPECT_THAT(LineOf(out, "002 "),
              HasSubstr("-             -           -  -                        skipped: its budget is in use on "
                        "another workstation: OCUPAT PER L'ORDINADOR "));
  EXPECT_THAT(LineOf(out, "003 "), HasSubstr("C.P. SANT PERE, 12                  3 "));
  EXPECT_THAT(LineOf(out, "003 "), testing::EndsWith(" done, see the checks"));
  EXPECT_THAT(out, HasSubstr("\nChecks:\n  003   column A: total 1000000, the owners' coefficients add up to 1100000\n"));
  EXPECT_THAT(out, Not(HasSubstr("  001   ")));
  EXPECT_THAT(out, HasSubstr("\n3 properties: 2 done, 1 skipped, 0 failed.\n"));
  // The wait was told on standard error, and the passing over.
  EXPECT_THAT(r.standardError, HasSubstr("002: waiting up to 1 s for its budget"));
  EXPECT_THAT(r.standardError, HasSubstr("002 passed over: its budget is in use on another workstation"));

  // One print file, one PDF document and the figures per property done.
  for (const char* code : {"001", "003"}) {
    const std::string printFile = ReadFile(results / "out" / (std::string(code) + ".prn"));
    EXPECT_THAT(printFile, HasSubstr(std::string("PROPIETARIS ") + code + " - ")) << code;
    const std::string pdf = ReadFile(results / "pdf" / (std::string(code) + ".pdf"));
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u) << code;
    EXPECT_TRUE(fs::exists(results / "csv" / (std::string(code) + "-budget.csv"))) << code;
  }
  EXPECT_FALSE(fs::exists(results / "out" / "002.prn"));
  EXPECT_FALSE(fs::exists(results / "pdf" / "002.pdf"));
  // The PDF holds the listing's text.
  if (std::system("command -v pdftotext > /dev/null 2>&1") == 0) {
    const fs::path text = results / "003.txt";
    ASSERT_EQ(std::system(("pdftotext -layout " + (results / "pdf" / "003.pdf").string() + " " + text.string()).c_str()),
              0);
    EXPECT_THAT(ReadFile(text), HasSubstr("CORRESPONENT A LA COMUNITAT DE PROPIETARIS 003 - C.P. SANT PERE, 12"));
  }

  // Once the other workstation has finished, the property's turn comes.
  EXPECT_EQ(other.Finish(), 3);
  const ProgramResult later = root.RunBatch({"2", "--date", "15/11/2024", "--out", (results / "out").string()});
  EXPECT_EQ(later.exitStatus, 0) << later.standardError << later.standardOutput;
  EXPECT_TRUE(fs::exists(results / "out" / "002.prn"));
}

// The batch ended while it waits for a property that another workstation
// holds: by SIGTERM it says where it stopped and what it never came to; by
// SIGKILL it says nothing, and in both cases the next run and the other
// workstation go on as if it had never been.
TEST(BatchBesideAWorkstation, ABatchEndedWhileWaitingLeavesNothingInTheWayAndSaysWhereItStopped) {
  SuiteRoot root("CAT", "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  root.AddWorkstation("TMP2");
  HeldRepquota other(root, "{Down}2{Ctrl+B}{Snap}{F1}", "other", "TMP2");
  ASSERT_TRUE(other.AwaitHelp()) << other.StandardError();

  const fs::path out = root.Dir() / "results";
  const std::vector<std::string> args{"--date", "15/11/2024", "--periodicity", "1", "--lock-wait", "60", "--out",
                                      out.string()};
  for (const int sig : {SIGTERM, SIGKILL}) {
    RunningProgram batch = root.StartBatch(args);
    ASSERT_TRUE(WaitUntil([&] { return batch.StandardErrorSoFar().find("002: waiting") != std::string::npos; }))
        << batch.StandardErrorSoFar();
    batch.Signal(sig);
    const ProgramResult r = batch.Wait();
    EXPECT_EQ(r.exitStatus, 128 + sig) << r.standardError;
    if (sig == SIGTERM) {
      EXPECT_THAT(LineOf(r.standardOutput, "001 "), testing::EndsWith(" done"));
      EXPECT_THAT(LineOf(r.standardOutput, "002 "),
                  testing::EndsWith(" stopped: ended by SIGTERM before anything of it was written"));
      EXPECT_THAT(LineOf(r.standardOutput, "003 "), testing::EndsWith(" not run"));
      EXPECT_THAT(r.standardOutput, HasSubstr("\n3 properties: 1 done, 0 skipped, 0 failed, 1 stopped, 1 not run.\n"));
      EXPECT_THAT(r.standardError, HasSubstr("ended by SIGTERM"));
    } else {
      EXPECT_EQ(r.standardOutput, "");
    }
    EXPECT_FALSE(fs::exists(out / "002.prn"));
    EXPECT_FALSE(fs::exists(out / "003.prn"));
    EXPECT_FALSE(fs::exists(root.TempDir() / "PressupH.tmp"));
  }

  // The next run of the same workstation, and the dialogue of the other,
  // find nothing in their way.
  EXPECT_EQ(other.Finish(), 3);
  const ProgramResult again = root.RunBatch({"--date", "15/11/2024", "--lock-wait", "0", "--out", out.string()});
  EXPECT_EQ(again.exitStatus, 0) << again.standardError << again.standardOutput;
  EXPECT_THAT(again.standardOutput, HasSubstr("\n3 properties: 3 done, 0 skipped, 0 failed.\n"));
  std::vector<std::string> screens;
  const ProgramResult dialogue =
      root.RunRepquota("{Down}3{Ctrl+B}{Ctrl+B}1{Down}1{Ctrl+B}S{Enter}{Esc}", screens, "dialogue", "TMP2");
  EXPECT_EQ(dialogue.exitStatus, 0) << dialogue.standardError;
  EXPECT_EQ(root.PrintedFiles().size(), 1u);
}

}  // namespace
}  // namespace e2e
