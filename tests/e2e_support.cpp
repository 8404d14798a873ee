#include "tests/e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "base/cp850.h"
#include "platform/file_system.h"

extern char** environ;

namespace e2e {
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) { return platform::RealFileSystem().ReadWholeFile(path).bytes; }

namespace {

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

fs::path FreshDirectory() {
  std::random_device random;
  for (;;) {
    fs::path dir = fs::temp_directory_path() / ("kit-e2e-" + std::to_string(random()));
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir;
  }
}

}  // namespace

RunningProgram StartProgram(const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& environment) {
  RunningProgram program;
  program.scratch_ = FreshDirectory();
  const std::string outPath = (program.scratch_ / "out").string();
  const std::string errPath = (program.scratch_ / "err").string();

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [k, v] : environment) {
    if (v.empty())
      merged.erase(k);
    else
      merged[k] = v;
  }
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : merged) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    program.startError_ = "cannot start " + argv[0];
    return program;
  }
  program.pid_ = pid;
  return program;
}

RunningProgram::RunningProgram(RunningProgram&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      scratch_(std::move(other.scratch_)),
      startError_(std::move(other.startError_)) {
  other.scratch_.clear();
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  std::error_code ec;
  if (!scratch_.empty()) fs::remove_all(scratch_, ec);
}

void RunningProgram::Signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

std::string RunningProgram::StandardErrorSoFar() const { return ReadFile(scratch_ / "err"); }

ProgramResult RunningProgram::Wait(std::chrono::seconds limit) {
  ProgramResult result;
  if (pid_ <= 0) {
    result.standardError = startError_;
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  bool timedOut = false;
  for (;;) {
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  if (timedOut) {
    result.exitStatus = -2;
  } else if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exitStatus = 128 + WTERMSIG(status);
  }
  result.standardOutput = ReadFile(scratch_ / "out");
  result.standardError = ReadFile(scratch_ / "err");
  return result;
}

bool DataOnServer() {
  const char* kitdb = std::getenv("KITDB");
  return kitdb != nullptr && *kitdb != '\0';
}

ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment, std::chrono::seconds limit) {
  return StartProgram(argv, environment).Wait(limit);
}

ProgramResult RunOnTerminal(const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& environment, int columns,
                            std::chrono::seconds limit) {
  ProgramResult result;
  const fs::path scratch = FreshDirectory();
  const std::string outPath = (scratch / "out").string();
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  struct winsize size {};
  size.ws_row = 25;
  size.ws_col = static_cast<unsigned short>(columns);
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
  if (pid < 0) return result;
  if (pid == 0) {
    for (const auto& [k, v] : environment) {
      if (v.empty())
        ::unsetenv(k.c_str());
      else
        ::setenv(k.c_str(), v.c_str(), 1);
    }
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || ::dup2(out, 1) < 0) ::_exit(126);
    ::execv(argp[0], argp.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[4096];
  for (;;) {
    struct pollfd ready {terminal, POLLIN, 0};
    if (::poll(&ready, 1, 50) > 0) {
      const ssize_t got = ::read(terminal, buffer, sizeof buffer);
      // The terminal reads EIO once the program and its children are gone.
      if (got <= 0) break;
      result.standardError.append(buffer, static_cast<std::size_t>(got));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      break;
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(terminal);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
  result.standardOutput = ReadFile(outPath);
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return result;
}

bool WaitUntil(const std::function<bool()>& ready, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

SuiteRoot::SuiteRoot(const std::string& language, const std::string& workDate)
    : dir_(FreshDirectory()), language_(language), workDate_(workDate) {
  Kitdata({"init", dir_.string()});
  AddWorkstation("TMP");
}

void SuiteRoot::AddWorkstation(const std::string& name) const {
  const fs::path tmp = dir_ / name;
  fs::create_directories(tmp);
  // A fixed working date and language, whatever the day the tests run.
  const std::string date = workDate_.substr(4, 4) + workDate_.substr(2, 2) + workDate_.substr(0, 2);
  WriteFile(tmp / "VoraTerm.ini",
            "[Pantalla]\r\nSeleccio=0\r\n[Sistema]\r\nData=" + date + "\r\nIdioma=" + language_ + "\r\n");
  WriteFile(tmp / "Sessio.ini",
            "[Menu]\r\nTitol=PRESSUPOST\r\nNomMenu=REPQUOTA\r\n[Terminal]\r\nDir=" + tmp.string() + "/\r\n");
}

SuiteRoot::~SuiteRoot() {
  std::error_code ec;
  if (std::getenv("KIT_E2E_KEEP") == nullptr) fs::remove_all(dir_, ec);
}

void SuiteRoot::Kitdata(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{KIT_KITDATA};
  argv.insert(argv.end(), args.begin(), args.end());
  const ProgramResult r = RunProgram(argv, {});
  ASSERT_EQ(r.exitStatus, 0) << "kitdata " << args.front() << ":\n" << r.standardError << r.standardOutput;
}

void SuiteRoot::Import(const std::string& file, const std::string& csv) const {
  const fs::path csvPath = dir_ / (file + ".csv");
  WriteFile(csvPath, csv);
  Kitdata({"import", (dir_ / "DADES" / file).string(), csvPath.string()});
}

std::string SuiteRoot::Export(const std::string& file) const {
  const ProgramResult r = RunProgram({KIT_KITDATA, "export", (dir_ / "DADES" / file).string()}, {});
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  return r.standardOutput;
}

std::map<std::string, std::string> SuiteRoot::Environment(const fs::path& keys, const fs::path& screens,
                                                         const std::string& workstation) const {
  return {{"KITROOT", dir_.string() + "/"},
          {"KITTMP", (dir_ / workstation).string() + "/"},
          {"KITEXE", std::string(KIT_PRINT_STAND_IN_DIR) + "/"},
          {"KIT_PRINT_COPIES", PrintCopies().string()},
          {"KIT_KEYS", keys.string()},
          {"KIT_SCREEN", screens.string()}};
}

ProgramResult SuiteRoot::RunRepquota(const std::string& script, std::vector<std::string>& screens,
                                     const std::string& name, const std::string& workstation,
                                     const std::map<std::string, std::string>& extra) const {
  const fs::path keys = dir_ / (name + ".keys");
  const fs::path dump = dir_ / (name + ".screens");
  WriteFile(keys, script);
  fs::remove(dump);
  std::map<std::string, std::string> environment = Environment(keys, dump, workstation);
  for (const auto& [k, v] : extra) environment[k] = v;
  ProgramResult r = RunProgram({KIT_REPQUOTA}, environment);
  screens = SplitScreens(ReadFile(dump));
  return r;
}

RunningProgram SuiteRoot::StartRepquota(const std::string& script, const std::string& name,
                                        const std::string& workstation) const {
  const fs::path keys = dir_ / (name + ".keys");
  const fs::path dump = dir_ / (name + ".screens");
  WriteFile(keys, script);
  fs::remove(dump);
  return StartProgram({KIT_REPQUOTA}, Environment(keys, dump, workstation));
}

ProgramResult SuiteRoot::RunBatch(const std::vector<std::string>& args, const std::string& workstation) const {
  return StartBatch(args, workstation).Wait();
}

ProgramResult SuiteRoot::RunBatchOnTerminal(const std::vector<std::string>& args, int columns) const {
  std::vector<std::string> argv{KIT_REPQUOTA, "batch"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::map<std::string, std::string> environment = Environment("", "", "TMP");
  environment["KITEXE"] = std::string(KIT_KITPRINT_DIR) + "/";
  // A terminal that can erase a line, whatever the tests run under.
  environment["TERM"] = "xterm";
  return RunOnTerminal(argv, environment, columns);
}

RunningProgram SuiteRoot::StartBatch(const std::vector<std::string>& args, const std::string& workstation) const {
  std::vector<std::string> argv{KIT_REPQUOTA, "batch"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::map<std::string, std::string> environment = Environment("", "", workstation);
  environment["KITEXE"] = std::string(KIT_KITPRINT_DIR) + "/";
  return StartProgram(argv, environment);
}

std::vector<std::string> SuiteRoot::Screens(const std::string& name) const {
  return SplitScreens(ReadFile(dir_ / (name + ".screens")));
}

bool SuiteRoot::WaitForScreens(const std::string& name, std::size_t count, std::chrono::seconds limit) const {
  return WaitUntil(
      [&] {
        const std::vector<std::string> screens = Screens(name);
        // A dump being written may still lack some of its 25 lines.
        return screens.size() >= count &&
               std::count(screens[count - 1].begin(), screens[count - 1].end(), '\n') == 25;
      },
      limit);
}

std::vector<std::string> SuiteRoot::PrintedFiles() const {
  std::vector<std::string> files;
  for (int n = 1;; ++n) {
    const fs::path p = PrintCopies() / ("print-" + std::to_string(n) + ".tmp");
    if (!fs::exists(p)) break;
    files.push_back(ReadFile(p));
  }
  return files;
}

std::vector<std::string> SplitScreens(const std::string& dump) {
  std::vector<std::string> screens;
  std::istringstream in(dump);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("=== screen ", 0) == 0) {
      screens.emplace_back();
      continue;
    }
    if (screens.empty()) continue;
    screens.back() += line;
    screens.back() += '\n';
  }
  return screens;
}

std::string Utf8(const std::string& cp850) { return base::Cp850ToUtf8(cp850, false); }

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

HeldRepquota::HeldRepquota(const SuiteRoot& root, const std::string& script, const std::string& name,
                           const std::string& workstation)
    : hold_(root.Dir() / (name + ".hold")) {
  fs::create_directories(hold_);
  const fs::path launcher = hold_ / "help.sh";
  WriteFile(launcher,
            "#!/bin/sh\n"
            "echo $$ > \"" + (hold_ / "pid").string() + ".new\"\n"
            "mv \"" + (hold_ / "pid").string() + ".new\" \"" + (hold_ / "pid").string() + "\"\n"
            "exec cat \"" + (hold_ / "release").string() + "\" > /dev/null\n");
  fs::permissions(launcher, fs::perms::owner_all);
  ::mkfifo((hold_ / "release").c_str(), 0600);
  const fs::path keys = root.Dir() / (name + ".keys");
  WriteFile(keys, script);
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

HeldRepquota::~HeldRepquota() {
  if (pid_ > 0) Kill();
  LetHelpGo();
}

bool HeldRepquota::AwaitHelp() {
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

int HeldRepquota::Kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  return Wait();
}

int HeldRepquota::Finish() {
  LetHelpGo();
  return Wait();
}

std::string HeldRepquota::StandardError() const { return ReadFile(hold_ / "stderr"); }

int HeldRepquota::Wait() {
  if (pid_ > 0) {
    ::waitpid(pid_, &status_, 0);
    pid_ = -1;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void HeldRepquota::LetHelpGo() {
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

}  // namespace e2e
