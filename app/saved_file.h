// A file's contents as they were at one moment, to put back later: a
// temporary file the program shares with others (the window stack) is left
// as it was found, also when the program ends half way through.
#pragma once

#include <optional>
#include <string>

namespace app {

class SavedFile {
 public:
  // Reads the file now (`path` is a host path); a missing file is
  // remembered as missing.
  explicit SavedFile(std::string path);
  // Writes the saved contents back, or removes the file when there was
  // none; leaves alone what could not be read.
  void PutBack() const;

 private:
  std::string path_;
  std::optional<std::string> bytes_;
  bool missing_ = false;
};

}  // namespace app
