// A file written under a temporary name and put in place only when it is
// complete, so that a run that fails or is interrupted half way leaves the
// document that was there before (or none), never half of one.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

namespace kitprint {

class DocumentFile {
 public:
  // A temporary file in the folder of `path` (where a symbolic link at
  // `path` points, when it is one), to be renamed to it; a device or a pipe
  // at `path` is written directly. nullptr with `error` naming `path` and
  // the reason when it cannot be made.
  static std::unique_ptr<DocumentFile> Beside(const std::string& path, std::string& error);
  // A temporary file in TMPDIR (else /tmp) that is never put in place.
  static std::unique_ptr<DocumentFile> Scratch(std::string& error);

  // Removes the temporary file unless it was put in place. Until then a
  // termination signal (SIGINT, SIGTERM, SIGHUP) removes it too before the
  // program ends as the signal asks.
  ~DocumentFile();
  DocumentFile(const DocumentFile&) = delete;
  DocumentFile& operator=(const DocumentFile&) = delete;

  std::FILE* Stream() { return stream_; }
  // The temporary file's path (empty when written directly).
  const std::string& TemporaryPath() const { return temporary_; }
  // Closes the stream; false with `error` naming `name` and the reason when
  // what was written could not all be stored.
  bool Close(const std::string& name, std::string& error);
  // Closes the stream and renames the file to its place; false with `error`
  // naming the document and the reason.
  bool PutInPlace(std::string& error);

 private:
  DocumentFile(std::FILE* stream, std::string temporary, std::string target);
  // `temporary` is a mkostemp pattern; `shown` names the file in `error`.
  static std::unique_ptr<DocumentFile> Create(std::string temporary, mode_t mode, std::string target,
                                              const std::string& shown, std::string& error);

  std::FILE* stream_;
  std::string temporary_;
  std::string target_;
  bool placed_ = false;
};

}  // namespace kitprint
