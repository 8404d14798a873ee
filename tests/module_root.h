// What the multi-process tests of the module's own code share: a scratch
// suite root with the module's data files made from the installed
// dictionaries, opened in whichever process works on it, and a worker
// killed at a moment of the test's choosing.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "app/data_files.h"
#include "app/report.h"
#include "config/session.h"
#include "data/files.h"

namespace e2e {

// A suite root under the temporary directory, named after the test and
// this process; removed, and the previous current directory restored, at
// the end.
class ModuleRoot {
 public:
  explicit ModuleRoot(const std::string& name)
      : dir_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))),
        previous_(std::filesystem::current_path()) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "DADES");
    std::filesystem::create_directories(dir_ / "LOCKS");
    std::filesystem::copy(std::filesystem::path(KIT_SUITE_DIR) / "ddf", dir_ / "ddf");
  }
  ~ModuleRoot() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }
  ModuleRoot(const ModuleRoot&) = delete;
  ModuleRoot& operator=(const ModuleRoot&) = delete;

  // Makes the root this process's suite root and current directory, and
  // opens the module's data files into `report`.
  void Open(app::Report& report) const {
    std::filesystem::current_path(dir_);
    config::ResetSession();
    config::Session().RootDir = dir_.string() + "/";
    config::Session().TempDir = dir_.string() + "/";
    data::ClearFileTable();
    app::OpenModuleFiles(report.areas);
  }

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

// Kills `child` and waits for it: whether the kill ended it (false when it
// had stopped by itself).
inline bool KilledWhileRunning(pid_t child) {
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace e2e
