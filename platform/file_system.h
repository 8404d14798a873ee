// Files as the programs see them: whole-file reads and writes, and files
// read and written at byte offsets. One replaceable object, so that a test
// makes one open, write or sync fail (a full disk, an I/O error, a refused
// permission) and checks that nothing is lost and the message names the file.
//
// Every failure is a value: FileStatus carries the operating system's error
// number, and Describe() the text for it. Paths here are host paths.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace platform {

struct FileStatus {
  int error = 0;  // errno; 0 is success
  bool ok() const { return error == 0; }
  // The system's text for the error ("No space left on device").
  std::string Describe() const;
  static FileStatus FromErrno();
};

struct ReadResult {
  std::string bytes;
  FileStatus status;
  bool ok() const { return status.ok(); }
};

// An open file read and written at byte offsets. Writes are whole or an
// error: a short write is reported, never left unnoticed.
class File {
 public:
  virtual ~File() = default;
  // Reads up to out.size() bytes at `offset`; `got` is what was read (fewer
  // at the end of the file, without error).
  virtual FileStatus ReadAt(std::uint64_t offset, std::span<char> out, std::size_t& got) = 0;
  virtual FileStatus WriteAt(std::uint64_t offset, std::string_view bytes) = 0;
  // Writes at the end of the file.
  virtual FileStatus Append(std::string_view bytes) = 0;
  virtual FileStatus Size(std::uint64_t& size) = 0;
  virtual FileStatus Truncate(std::uint64_t size) = 0;
  virtual FileStatus Sync() = 0;
  // Closing may report what the writes before it could not (a full disk on
  // network or delayed-allocation file systems). Closing twice is harmless.
  virtual FileStatus Close() = 0;
  // The descriptor, for record locks (fcntl); -1 once closed.
  virtual int Descriptor() const = 0;
};

enum OpenFlags : unsigned {
  kOpenRead = 0,            // read only
  kOpenReadWrite = 1u << 0,
  kOpenCreate = 1u << 1,    // create when missing (implies read-write)
  kOpenTruncate = 1u << 2,  // empty it (implies read-write)
  kOpenExclusive = 1u << 3, // with kOpenCreate: fail when it exists
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The whole file. A directory, a missing file or a read error is an error
  // value (EISDIR, ENOENT, EIO...), never an exception.
  virtual ReadResult ReadWholeFile(const std::string& path) = 0;
  // Replaces the file's contents with `bytes` (created with `mode` when
  // missing); `sync` waits until they are on the disk.
  virtual FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, bool sync = false,
                                    mode_t mode = 0666) = 0;
  // nullptr with `status` set when the file cannot be opened.
  virtual std::unique_ptr<File> Open(const std::string& path, unsigned flags, FileStatus& status,
                                     mode_t mode = 0666) = 0;
  // Adds `bytes` at the end of the file in one write, opening and closing it
  // again: lines of several programs appending to one log never overwrite
  // each other. A missing file is made only with `create` (else ENOENT).
  virtual FileStatus AppendToFile(const std::string& path, std::string_view bytes, bool create) = 0;
  // A missing file is no error.
  virtual FileStatus Remove(const std::string& path) = 0;
  // A file, or a directory with everything in it; missing is no error.
  virtual FileStatus RemoveAll(const std::string& path) = 0;
  // An existing directory is no error.
  virtual FileStatus MakeDirectory(const std::string& path, mode_t mode = 0777) = 0;
};

// The real file system.
FileSystem& RealFileSystem();

// Forwards everything to another FileSystem; a test derives from it and
// overrides just the call it wants to fail.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}
  ReadResult ReadWholeFile(const std::string& path) override { return target_.ReadWholeFile(path); }
  FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, bool sync, mode_t mode) override {
    return target_.WriteWholeFile(path, bytes, sync, mode);
  }
  std::unique_ptr<File> Open(const std::string& path, unsigned flags, FileStatus& status, mode_t mode) override {
    return target_.Open(path, flags, status, mode);
  }
  FileStatus AppendToFile(const std::string& path, std::string_view bytes, bool create) override {
    return target_.AppendToFile(path, bytes, create);
  }
  FileStatus Remove(const std::string& path) override { return target_.Remove(path); }
  FileStatus RemoveAll(const std::string& path) override { return target_.RemoveAll(path); }
  FileStatus MakeDirectory(const std::string& path, mode_t mode) override {
    return target_.MakeDirectory(path, mode);
  }

 protected:
  FileSystem& target() { return target_; }

 private:
  FileSystem& target_;
};

// Forwards everything to another File; for doubles that fail one call.
class FileWrapper : public File {
 public:
  explicit FileWrapper(std::unique_ptr<File> target) : target_(std::move(target)) {}
  FileStatus ReadAt(std::uint64_t offset, std::span<char> out, std::size_t& got) override {
    return target_->ReadAt(offset, out, got);
  }
  FileStatus WriteAt(std::uint64_t offset, std::string_view bytes) override {
    return target_->WriteAt(offset, bytes);
  }
  FileStatus Append(std::string_view bytes) override { return target_->Append(bytes); }
  FileStatus Size(std::uint64_t& size) override { return target_->Size(size); }
  FileStatus Truncate(std::uint64_t size) override { return target_->Truncate(size); }
  FileStatus Sync() override { return target_->Sync(); }
  FileStatus Close() override { return target_->Close(); }
  int Descriptor() const override { return target_->Descriptor(); }

 private:
  std::unique_ptr<File> target_;
};

// The FileSystem in use (the real one unless a test installed another).
FileSystem& CurrentFileSystem();
// Installs `fileSystem` until the returned guard goes out of scope.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& fileSystem);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Shorthands for the current FileSystem.
inline ReadResult ReadWholeFile(const std::string& path) { return CurrentFileSystem().ReadWholeFile(path); }
inline FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, bool sync = false) {
  return CurrentFileSystem().WriteWholeFile(path, bytes, sync, 0666);
}
inline FileStatus AppendToFile(const std::string& path, std::string_view bytes, bool create) {
  return CurrentFileSystem().AppendToFile(path, bytes, create);
}
inline std::unique_ptr<File> OpenFile(const std::string& path, unsigned flags, FileStatus& status,
                                      mode_t mode = 0666) {
  return CurrentFileSystem().Open(path, flags, status, mode);
}

// The file a write to `path` replaces: where a symbolic link points, so
// that a file put in its place leaves the link pointing where it did.
std::string LinkTarget(const std::string& path);

}  // namespace platform
