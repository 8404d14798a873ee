#include "app/saved_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"

namespace app {

SavedFile::SavedFile(std::string path) : path_(std::move(path)) {
  // An absolute path: the program changes to the suite root after this.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path_, ec);
  if (!ec) path_ = absolute.string();
  platform::ReadResult read = platform::ReadWholeFile(path_);
  if (read.ok()) bytes_ = std::move(read.bytes);
  // Something there that cannot be read (a directory) is not ours to touch.
  missing_ = read.status.error == ENOENT;
}

void SavedFile::PutBack() const {
  if (bytes_) {
    platform::WriteWholeFile(path_, *bytes_);
  } else if (missing_) {
    platform::CurrentFileSystem().Remove(path_);
  }
}

}  // namespace app
