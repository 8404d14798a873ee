// Workstations on one suite root: the budget of a property is edited by one
// at a time, a workstation that dies leaves nothing locked, and a session's
// temporary folder serves one program.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "config/session.h"
#include "data/locks.h"
#include "data/testing/lock_records.h"
#include "platform/system.h"
#include "tests/e2e_support.h"

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The records of a program lock of the root, wherever the programs keep them
// (the lock files, or the server's table when KITDB is set).
std::string LockRecords(const SuiteRoot& root, const std::string& name) {
  config::Session().RootDir = root.Dir().string() + "/";
  return data::locktest::LockRecords(name);
}

TEST(BudgetLock, TheNextWorkstationSeesWhoHoldsThePropertyAndGetsItWhenTheHolderDies) {
  SuiteRoot root("CAT", "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  root.AddWorkstation("TMP2");
  // The first workstation's operator.
  const std::string session = ReadFile(root.TempDir() / "Sessio.ini");
  WriteText(root.TempDir() / "Sessio.ini", "[Menu]\r\nOperador=JOAN\r\n" + session.substr(session.find("\r\n") + 2));

  // The first workstation is on the budget of property 1 (and in its help).
  HeldRepquota first(root, "{Down}1{Ctrl+B}{Snap}{F1}", "first", "TMP");
  ASSERT_TRUE(first.AwaitHelp()) << first.StandardError();
  const std::string record = LockRecords(root, "PressupH").substr(0, data::kLockRecordSize);
  ASSERT_EQ(record.size(), data::kLockRecordSize);
  // With the data on a server the desks share no folder: the lock is there too.
  EXPECT_EQ(fs::exists(root.Dir() / "LOCKS" / "PressupH.lck"), !data::locktest::LocksOnServer());

  // The second asks for the same property: the wait names the holder; Esc
  // gives up and stays on the first screen; another property goes on.
  std::vector<std::string> second;
  const ProgramResult b = root.RunRepquota(
      "{Down}1{Ctrl+B}{Snap}{Esc}{Snap}{Up}{Up}{Up}{Up}{Up}{Up}{Down}2{Ctrl+B}{Snap}", second, "second", "TMP2");
  EXPECT_EQ(b.exitStatus, 3) << b.standardError;
  ASSERT_EQ(second.size(), 4u);
  const std::string computer = platform::RealSystem().ComputerName().substr(0, 15);
  EXPECT_THAT(Flat(second[0]), HasSubstr("FITXER BLOQUEJAT. ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR. "
                                         "OCUPAT PER JOAN, ORDINADOR " + computer + ", DES DE "));
  EXPECT_THAT(Flat(second[0]), HasSubstr(Utf8(data::LockHolderText(record, "JOAN"))));
  EXPECT_THAT(second[1], Not(HasSubstr("FITXER BLOQUEJAT")));
  EXPECT_THAT(second[1], HasSubstr("Data del pressupost"));
  EXPECT_THAT(second[2], HasSubstr("CONCEPTE"));
  EXPECT_THAT(second[2], HasSubstr("GRAN DE GRÀCIA, 88"));

  // The first workstation dies with the budget open: its lock goes with it.
  EXPECT_EQ(first.Kill(), 128 + SIGKILL);
  ASSERT_EQ(LockRecords(root, "PressupH").substr(0, data::kLockRecordSize), record);
  std::vector<std::string> third;
  const ProgramResult c = root.RunRepquota("{Down}1{Ctrl+B}{Snap}", third, "third", "TMP2");
  EXPECT_EQ(c.exitStatus, 3) << c.standardError;
  ASSERT_EQ(third.size(), 2u);
  EXPECT_THAT(third[0], Not(HasSubstr("FITXER BLOQUEJAT")));
  EXPECT_THAT(third[0], HasSubstr("CONCEPTE"));
}

TEST(BudgetLock, ALockFolderInTheWayIsNamedAndEscReturnsToTheFirstScreen) {
  if (data::locktest::LocksOnServer()) GTEST_SKIP() << "about the LOCKS folder: the locks are on the server";
  SuiteRoot root("CAT", "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  fs::remove_all(root.Dir() / "LOCKS");
  WriteText(root.Dir() / "LOCKS", "not a folder");
  std::vector<std::string> screens;
  const ProgramResult r = root.RunRepquota("{Down}1{Ctrl+B}{Snap}{Esc}{Snap}", screens);
  EXPECT_EQ(r.exitStatus, 3) << r.standardError;
  ASSERT_EQ(screens.size(), 3u);
  EXPECT_THAT(Flat(screens[0]), HasSubstr("NO ES POT ACCEDIR AL FITXER " + (root.Dir() / "LOCKS").string() +
                                          " (NO ÉS UNA CARPETA). ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."));
  EXPECT_THAT(screens[1], Not(HasSubstr("NO ES POT ACCEDIR")));
  EXPECT_THAT(screens[1], HasSubstr("Data del pressupost"));
  EXPECT_EQ(ReadFile(root.Dir() / "LOCKS"), "not a folder");
}

// The owners of a property held by another program (a receipt update on
// another workstation): the module waits without offering Esc, and without
// reading keys for that. A terminal resized meanwhile is still followed, and
// what the operator types is not lost.
TEST(OwnersLock, AWaitWithoutEscFollowsTheTerminalAndKeepsWhatIsTyped) {
  SuiteRoot root("CAT", "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  config::Session().RootDir = root.Dir().string() + "/";
  // A whole-file lock of the owners, as another program writes it.
  std::string record = "OTHER          12345      28888000F 0";
  record.resize(37 + 40, ' ');
  record += " 0";
  record.resize(data::kLockRecordSize - 2, ' ');
  record += "\r\n";
  data::locktest::WriteLockRecords("PropietH", record);
  data::locktest::OtherLockHolder other("PropietH", 0);
  ASSERT_TRUE(other.held());

  RunningProgram run =
      root.StartRepquota("{Down}1{Ctrl+B}{Resize 70x20}{Snap}{Resize 80x25}{Snap}{Esc}{Snap}", "waiting");
  ASSERT_TRUE(root.WaitForScreens("waiting", 2, std::chrono::seconds(15)))
      << "the terminal was not looked at during the wait";
  std::vector<std::string> screens = root.Screens("waiting");
  EXPECT_THAT(screens[0], HasSubstr("TERMINAL MASSA PETIT (70 x 20)"));
  EXPECT_THAT(screens[1], HasSubstr("LLEGINT PRESSUPOST"));
  EXPECT_THAT(Flat(screens[1]), HasSubstr("FITXER BLOQUEJAT. ESPEREU UN MOMENT."));
  EXPECT_THAT(Flat(screens[1]), Not(HasSubstr("[ESC]")));

  other.Leave();
  const ProgramResult r = run.Wait();
  EXPECT_EQ(r.exitStatus, 3) << r.standardError;
  screens = root.Screens("waiting");
  ASSERT_EQ(screens.size(), 4u);
  // The Esc typed during the wait reached the budget page once it was read.
  EXPECT_THAT(screens[2], HasSubstr("CONCEPTE"));
  EXPECT_THAT(screens[2], HasSubstr("VOLS CONTINUAR EDITANT EL PRESSUPOST"));
}

TEST(TemporaryFolder, ASecondRepquotaOnAFolderInUseSaysSoAndEnds) {
  SuiteRoot root("CAT", "15112024");
  HeldRepquota first(root, "{F1}", "first", "TMP");
  ASSERT_TRUE(first.AwaitHelp()) << first.StandardError();

  std::vector<std::string> screens;
  const ProgramResult second = root.RunRepquota("{Snap}{Enter}", screens, "second", "TMP");
  EXPECT_EQ(second.exitStatus, 1) << second.standardError;
  const std::string folder = root.TempDir().string() + "/";
  EXPECT_THAT(second.standardError, HasSubstr("the temporary folder " + folder + " is in use by another program "
                                              "(process " + std::to_string(first.pid()) + ")"));
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_THAT(Flat(screens[0]), HasSubstr("UN ALTRE PROGRAMA (PROCÉS " + std::to_string(first.pid()) +
                                          ") JA FA SERVIR LA CARPETA TEMPORAL " + folder));

  // Once the first has ended, the folder serves the next program.
  EXPECT_EQ(first.Finish(), 3);
  const ProgramResult third = root.RunRepquota("{Esc}", screens, "third", "TMP");
  EXPECT_EQ(third.exitStatus, 0) << third.standardError;
}

}  // namespace
}  // namespace e2e
