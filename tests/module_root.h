// What the multi-process tests of the module's own code share: a scratch
// suite root opened in whichever process works on it, and a worker killed at
// a moment of the test's choosing.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/data_files.h"
#include "app/report.h"
#include "app/testing/scratch_suite_root.h"

namespace e2e {

// Makes `root` this process's suite root and current directory, and opens
// the module's data files into `report`.
inline void OpenModuleRoot(const app::testing::ScratchSuiteRoot& root, app::Report& report) {
  root.Enter();
  app::OpenModuleFiles(report.areas);
}

// Kills `child` and waits for it: whether the kill ended it (false when it
// had stopped by itself).
inline bool KilledWhileRunning(pid_t child) {
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace e2e
