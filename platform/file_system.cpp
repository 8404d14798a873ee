#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace platform {

std::string FileStatus::Describe() const {
  if (error == 0) return "no error";
  return std::strerror(error);
}

FileStatus FileStatus::FromErrno() { return FileStatus{errno != 0 ? errno : EIO}; }

namespace {

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { Close(); }

  FileStatus ReadAt(std::uint64_t offset, std::span<char> out, std::size_t& got) override {
    got = 0;
    if (fd_ < 0) return FileStatus{EBADF};
    while (got < out.size()) {
      const ssize_t n = ::pread(fd_, out.data() + got, out.size() - got, static_cast<off_t>(offset + got));
      if (n < 0) {
        if (errno == EINTR) continue;
        return FileStatus::FromErrno();
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return {};
  }

  FileStatus WriteAt(std::uint64_t offset, std::string_view bytes) override {
    if (fd_ < 0) return FileStatus{EBADF};
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return FileStatus::FromErrno();
      }
      if (n == 0) return FileStatus{ENOSPC};
      done += static_cast<std::size_t>(n);
    }
    return {};
  }

  FileStatus Append(std::string_view bytes) override {
    std::uint64_t size = 0;
    if (FileStatus s = Size(size); !s.ok()) return s;
    return WriteAt(size, bytes);
  }

  FileStatus Size(std::uint64_t& size) override {
    size = 0;
    if (fd_ < 0) return FileStatus{EBADF};
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return FileStatus::FromErrno();
    size = static_cast<std::uint64_t>(st.st_size);
    return {};
  }

  FileStatus Truncate(std::uint64_t size) override {
    if (fd_ < 0) return FileStatus{EBADF};
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return FileStatus::FromErrno();
    return {};
  }

  FileStatus Sync() override {
    if (fd_ < 0) return FileStatus{EBADF};
    if (::fsync(fd_) != 0) return FileStatus::FromErrno();
    return {};
  }

  FileStatus Close() override {
    if (fd_ < 0) return {};
    const int fd = fd_;
    fd_ = -1;
    // After a failed close the descriptor is gone all the same: never retry.
    if (::close(fd) != 0 && errno != EINTR) return FileStatus::FromErrno();
    return {};
  }

  int Descriptor() const override { return fd_; }

 private:
  int fd_;
};

int OpenFlagsFor(unsigned flags) {
  int f = O_CLOEXEC;
  const bool writes = (flags & (kOpenReadWrite | kOpenCreate | kOpenTruncate)) != 0;
  f |= writes ? O_RDWR : O_RDONLY;
  if (flags & kOpenCreate) f |= O_CREAT;
  if (flags & kOpenTruncate) f |= O_TRUNC;
  if ((flags & kOpenExclusive) && (flags & kOpenCreate)) f |= O_EXCL;
  return f;
}

class PosixFileSystem final : public FileSystem {
 public:
  ReadResult ReadWholeFile(const std::string& path) override {
    ReadResult result;
    std::unique_ptr<File> file = Open(path, kOpenRead, result.status, 0);
    if (!file) return result;
    // Read until the end rather than trusting the size: files that grow or
    // report no size (pipes, /proc) still come whole.
    char buffer[65536];
    for (std::uint64_t offset = 0;;) {
      std::size_t got = 0;
      result.status = file->ReadAt(offset, buffer, got);
      if (!result.status.ok()) {
        result.bytes.clear();
        return result;
      }
      if (got == 0) break;
      result.bytes.append(buffer, got);
      offset += got;
    }
    result.status = file->Close();
    if (!result.status.ok()) result.bytes.clear();
    return result;
  }

  FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, bool sync, mode_t mode) override {
    FileStatus status;
    std::unique_ptr<File> file = Open(path, kOpenCreate | kOpenTruncate, status, mode);
    if (!file) return status;
    status = file->WriteAt(0, bytes);
    if (status.ok() && sync) status = file->Sync();
    const FileStatus closed = file->Close();
    return status.ok() ? closed : status;
  }

  std::unique_ptr<File> Open(const std::string& path, unsigned flags, FileStatus& status, mode_t mode) override {
    int fd = -1;
    do {
      fd = ::open(path.c_str(), OpenFlagsFor(flags), mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      status = FileStatus::FromErrno();
      return nullptr;
    }
    // Opening a directory read-only succeeds; refuse it here so that callers
    // see one error instead of a read that fails later.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      status = FileStatus{EISDIR};
      return nullptr;
    }
    status = {};
    return std::make_unique<PosixFile>(fd);
  }

  FileStatus AppendToFile(const std::string& path, std::string_view bytes, bool create) override {
    int fd = -1;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return FileStatus::FromErrno();
    FileStatus status;
    // O_APPEND places every write at the end as it is made: one write, so
    // that the bytes stay together.
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        status = n < 0 ? FileStatus::FromErrno() : FileStatus{ENOSPC};
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && status.ok() && errno != EINTR) status = FileStatus::FromErrno();
    return status;
  }

  FileStatus Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return FileStatus::FromErrno();
    return {};
  }

  FileStatus RemoveAll(const std::string& path) override {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return FileStatus{ec ? ec.value() : 0};
  }

  FileStatus MakeDirectory(const std::string& path, mode_t mode) override {
    if (::mkdir(path.c_str(), mode) == 0) return {};
    if (errno == EEXIST) {
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return {};
      return FileStatus{ENOTDIR};
    }
    return FileStatus::FromErrno();
  }
};

FileSystem* g_current = nullptr;

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem real;
  return real;
}

FileSystem& CurrentFileSystem() { return g_current ? *g_current : RealFileSystem(); }

ScopedFileSystem::ScopedFileSystem(FileSystem& fileSystem) : previous_(g_current) { g_current = &fileSystem; }
ScopedFileSystem::~ScopedFileSystem() { g_current = previous_; }

std::string LinkTarget(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  return ec ? path : resolved.string();
}

}  // namespace platform
