// What the end-to-end tests need around the built programs: a suite root
// made by kitdata in a temporary directory, runs of repquota with a key
// script, and the screens it dumped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace e2e {

struct ProgramResult {
  int exitStatus = -1;  // 128 + signal when killed; -2 when timed out
  std::string standardOutput;
  std::string standardError;
};

// A program started and left running: the test waits for something it
// writes, signals it, and then collects how it ended.
class RunningProgram {
 public:
  RunningProgram() = default;
  RunningProgram(RunningProgram&& other) noexcept;
  RunningProgram& operator=(RunningProgram&&) = delete;
  // A program still running is killed.
  ~RunningProgram();

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) const;
  // What it has written to standard error so far.
  std::string StandardErrorSoFar() const;
  // Waits for its end; kills it after `limit` (exit status -2 then).
  ProgramResult Wait(std::chrono::seconds limit = std::chrono::seconds(60));

 private:
  friend RunningProgram StartProgram(const std::vector<std::string>&, const std::map<std::string, std::string>&);
  int pid_ = -1;
  std::filesystem::path scratch_;
  std::string startError_;
};

// Starts `argv` with `environment` added to this process's (an empty value
// unsets the variable), standard input from /dev/null.
RunningProgram StartProgram(const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& environment);

// Whether the data files live on a PostgreSQL server (KITDB set) rather
// than in SQLite files under the root: tests that damage the files
// themselves apply to the files only.
bool DataOnServer();

// Runs `argv` as above and waits for it; kills it after `limit`.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::seconds limit = std::chrono::seconds(60));

// Runs `argv` as RunProgram does, but with standard input and standard
// error on a terminal `columns` wide: standardError is everything the
// terminal received (cursor movements included).
ProgramResult RunOnTerminal(const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& environment, int columns,
                            std::chrono::seconds limit = std::chrono::seconds(60));

// Checks `ready` every few milliseconds until it holds: true, or false
// after `limit`. For waiting on what another process writes.
bool WaitUntil(const std::function<bool()>& ready, std::chrono::seconds limit = std::chrono::seconds(30));

// A suite root under a fresh temporary directory, removed at the end.
class SuiteRoot {
 public:
  // `language`: "CAT", "SPA", ...; `workDate`: "DDMMYYYY".
  explicit SuiteRoot(const std::string& language = "CAT", const std::string& workDate = "15112024");
  ~SuiteRoot();
  SuiteRoot(const SuiteRoot&) = delete;
  SuiteRoot& operator=(const SuiteRoot&) = delete;

  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path TempDir() const { return dir_ / "TMP"; }
  std::filesystem::path PrintCopies() const { return dir_ / "printed"; }

  // kitdata with these arguments; fails the test when it fails.
  void Kitdata(const std::vector<std::string>& args) const;
  // Writes `csv` to a file and imports it into DADES\<file>.
  void Import(const std::string& file, const std::string& csv) const;
  // The CSV export of DADES\<file>.
  std::string Export(const std::string& file) const;

  // Another workstation on the same root: its own temporary directory
  // ROOT/<name> with its session files (same date and language).
  void AddWorkstation(const std::string& name) const;

  // The environment a run of repquota gets on this root, from the
  // workstation whose temporary directory is ROOT/<workstation>.
  std::map<std::string, std::string> Environment(const std::filesystem::path& keys,
                                                 const std::filesystem::path& screens,
                                                 const std::string& workstation = "TMP") const;

  // Runs repquota with `script` as its key script; the screens it dumped
  // are in `screens` afterwards. `extra` adds to or replaces the
  // environment (an empty value unsets a variable), for example
  // {{"KIT_SCREEN_SIZE", "120x40"}}.
  ProgramResult RunRepquota(const std::string& script, std::vector<std::string>& screens,
                            const std::string& name = "run", const std::string& workstation = "TMP",
                            const std::map<std::string, std::string>& extra = {}) const;
  // Starts repquota with `script` and leaves it running; its screens come
  // from Screens(name).
  RunningProgram StartRepquota(const std::string& script, const std::string& name = "run",
                               const std::string& workstation = "TMP") const;
  // Runs "repquota batch ARGS" on this root from the workstation whose
  // temporary directory is ROOT/<workstation>, with the real print program
  // in KITEXE (for the PDF documents).
  ProgramResult RunBatch(const std::vector<std::string>& args, const std::string& workstation = "TMP") const;
  // The same, left running.
  RunningProgram StartBatch(const std::vector<std::string>& args, const std::string& workstation = "TMP") const;
  // The same with standard error on a terminal `columns` wide.
  ProgramResult RunBatchOnTerminal(const std::vector<std::string>& args, int columns) const;
  // The screens a run called `name` has dumped so far.
  std::vector<std::string> Screens(const std::string& name) const;
  // Waits until that run has dumped `count` whole screens; false after
  // `limit`.
  bool WaitForScreens(const std::string& name, std::size_t count,
                      std::chrono::seconds limit = std::chrono::seconds(30)) const;

  // The copies the print stand-in kept, in order.
  std::vector<std::string> PrintedFiles() const;

 private:
  std::filesystem::path dir_;
  std::string language_, workDate_;
};

// A repquota kept running where a test wants it: its key script ends with
// F1, and the help launcher it then starts and waits for (the command
// interpreter of the windowed environment) is a script that waits until the
// test lets it go. Another workstation on the budget of a property, say.
class HeldRepquota {
 public:
  HeldRepquota(const SuiteRoot& root, const std::string& script, const std::string& name,
               const std::string& workstation);
  ~HeldRepquota();
  HeldRepquota(const HeldRepquota&) = delete;
  HeldRepquota& operator=(const HeldRepquota&) = delete;

  pid_t pid() const { return pid_; }
  // Waits until the program has reached F1 (its help launcher has started).
  bool AwaitHelp();
  // Kills the program as a power cut would; its help launcher goes on.
  int Kill();
  // Ends the help, and the program then ends its script.
  int Finish();
  std::string StandardError() const;

 private:
  int Wait();
  void LetHelpGo();

  std::filesystem::path hold_;
  pid_t pid_ = -1;
  int status_ = 0;
};

// The text of a screen with the frames and line breaks of message boxes
// taken out, so that a message reads as one line wherever it was wrapped.
std::string Flat(const std::string& screen);

// The screens of a dump file, each as its lines (25 unless the scripted
// terminal was given another size) joined by "\n".
std::vector<std::string> SplitScreens(const std::string& dump);
// The file's bytes ("" when missing).
std::string ReadFile(const std::filesystem::path& path);
// The print file's text lines turned to UTF-8, for readable comparisons.
std::string Utf8(const std::string& cp850);

}  // namespace e2e
