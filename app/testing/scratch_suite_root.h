// A suite root for the benchmarks and the tests that run the module in
// process.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "config/test_files.h"

namespace app::testing {

// A suite root in a scratch directory, removed with everything in it at the
// end: the data and lock folders and a copy of the installed dictionaries.
class ScratchSuiteRoot {
 public:
  ScratchSuiteRoot();
  // Goes back to the directory that was current when the root was made.
  ~ScratchSuiteRoot();
  ScratchSuiteRoot(const ScratchSuiteRoot&) = delete;
  ScratchSuiteRoot& operator=(const ScratchSuiteRoot&) = delete;

  const std::string& Path() const { return dir_.path(); }
  // The host path of a folder or file of the root.
  std::string Folder(std::string_view name) const { return dir_ / name; }

  // Writes the administrator's settings file (the heading of the listings),
  // followed by `moreSections`.
  void WriteAdministratorSettings(std::string_view moreSections = {}) const;

  // Makes the root the current directory and the root of a fresh session
  // (in `language` when one is given), with no data file open and no lock
  // held.
  void Enter(std::string_view language = {}) const;

 private:
  config::testing::ScratchDir dir_;
  std::filesystem::path previous_;
};

}  // namespace app::testing
