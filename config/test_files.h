// Scratch directories for the configuration tests.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace config::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kitcfgXXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // The host path of `name` inside the directory.
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Writes `bytes` to `name` (folders created as needed).
  void Write(std::string_view name, std::string_view bytes) const {
    std::filesystem::path p = *this / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string path_;
};

// While installed, every read, open and whole-file write of a path ending
// with `suffix` fails with `error` (an I/O error unless told); other files
// are reached as usual.
class FailingFile : public platform::FileSystemWrapper {
 public:
  explicit FailingFile(std::string suffix, int error = EIO)
      : FileSystemWrapper(platform::RealFileSystem()),
        suffix_(std::move(suffix)),
        error_(error),
        scope_(*this) {}

  platform::ReadResult ReadWholeFile(const std::string& path) override {
    if (Hits(path)) return platform::ReadResult{{}, platform::FileStatus{error_}};
    return FileSystemWrapper::ReadWholeFile(path);
  }
  platform::FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, bool sync,
                                      mode_t mode) override {
    if (Hits(path)) return platform::FileStatus{error_};
    return FileSystemWrapper::WriteWholeFile(path, bytes, sync, mode);
  }
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    if (Hits(path)) {
      status = platform::FileStatus{error_};
      return nullptr;
    }
    return FileSystemWrapper::Open(path, flags, status, mode);
  }
  int calls = 0;  // how often the failing file was asked for

 private:
  bool Hits(const std::string& path) {
    const bool hit = path.size() >= suffix_.size() &&
                     path.compare(path.size() - suffix_.size(), suffix_.size(), suffix_) == 0;
    if (hit) ++calls;
    return hit;
  }
  std::string suffix_;
  int error_;
  platform::ScopedFileSystem scope_;
};

}  // namespace config::testing
