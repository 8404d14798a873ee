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

// The text of a screen with the frames and line breaks of message boxes
// taken out, so that a message reads as one line wherever it was wrapped.
std::string Flat(const std::string& screen) {
  std::string flat;
  bool blank = true;
  for (std::size_t i = 0; i < screen.size();) {
    const auto c = static_cast<unsigned char>(screen[i]);
    const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    const std::string ch = screen.substr(i, length);
    i += length;
    // Box-drawing characters (U+2500 to U+257F) count as blanks.
    const bool frame = length == 3 && static_cast<unsigned char>(ch[0]) == 0xE2 &&
                       static_cast<unsigned char>(ch[1]) >= 0x94 && static_cast<unsigned char>(ch[1]) <= 0x95;
    if (ch == " " || ch == "\n" || frame) {
      if (!blank) flat += ' ';
      blank = true;
    } else {
      flat += ch;
      blank = false;
    }
  }
  return flat;
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The records of a program lock of the root, wherever the programs keep them
// (the lock files, or the server's table when KITDB is set).
std::string LockRecords(const SuiteRoot& root, const std::string& name) {
  config::Session().RootDir = root.Dir().string() + "/";
  return data::locktest::LockRecords(name);
}

// A repquota kept running where a test wants it: its key script ends with
// F1, and the help launcher it then starts and waits for (the command
// interpreter of the windowed environment) is a script that waits until the
// test lets it go.
class HeldRepquota {
 public:
  HeldRepquota(const SuiteRoot& root, const std::string& script, const std::string& name,
               const std::string& workstation)
      : hold_(root.Dir() / (name + ".hold")) {
    fs::create_directories(hold_);
    const fs::path launcher = hold_ / "help.sh";
    WriteText(launcher,
              "#!/bin/sh\n"
              "echo $$ > \"" + (hold_ / "pid").string() + ".new\"\n"
              "mv \"" + (hold_ / "pid").string() + ".new\" \"" + (hold_ / "pid").string() + "\"\n"
              "exec cat \"" + (hold_ / "release").string() + "\" > /dev/null\n");
    fs::permissions(launcher, fs::perms::owner_all);
    ::mkfifo((hold_ / "release").c_str(), 0600);
    const fs::path keys = root.Dir() / (name + ".keys");
    WriteText(keys, script);
    std::map<std::string, std::string> env = root.Environment(keys, root.Dir() / (name + ".screens"), workstation);
    env["WINDIR"] = "C:\\WINDOWS";
    env["COMSPEC"] = launcher.string();
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (!env.contains(entry.substr(0, entry.find('=')))) entries.push_back(entry);
    }
    for (const auto& [k, v] : env) entries.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (std::string& s : entries) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string program = KIT_REPQUOTA;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (hold_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  ~HeldRepquota() {
    if (pid_ > 0) Kill();
    LetHelpGo();
  }

  HeldRepquota(const HeldRepquota&) = delete;
  HeldRepquota& operator=(const HeldRepquota&) = delete;

  pid_t pid() const { return pid_; }

  // Waits until the program has reached F1 (its help launcher has started).
  bool AwaitHelp() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(hold_ / "pid")) {
      if (pid_ <= 0 || ::waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  // Kills the program as a power cut would; its help launcher goes on.
  int Kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    return Wait();
  }

  // Ends the help, and the program then ends its script.
  int Finish() {
    LetHelpGo();
    return Wait();
  }

  std::string StandardError() const { return ReadFile(hold_ / "stderr"); }

 private:
  int Wait() {
    if (pid_ > 0) {
      ::waitpid(pid_, &status_, 0);
      pid_ = -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }

  void LetHelpGo() {
    if (!fs::exists(hold_ / "pid")) return;
    // Opening the pipe for writing and closing it ends the launcher's wait;
    // the launcher may not have opened its end yet.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      const int fd = ::open((hold_ / "release").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        ::close(fd);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fs::remove(hold_ / "pid");
  }

  fs::path hold_;
  pid_t pid_ = -1;
  int status_ = 0;
};

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
