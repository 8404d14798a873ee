// A file replaced as one step, so that a failure half way (a full disk) or
// an interruption leaves the file as it was rather than cut short or empty.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/file_system.h"
#include "tools/kitdata/kitdata.h"

namespace kitdata {

platform::FileStatus ReplaceFile(const std::string& path, std::string_view bytes) {
  const std::string target = platform::LinkTarget(path);
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  // A device or a pipe is written as it is; a folder is refused by the open.
  if (exists && !S_ISREG(st.st_mode)) return platform::WriteWholeFile(target, bytes);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  platform::FileStatus status;
  std::unique_ptr<platform::File> file;
  std::string temporary;
  for (int attempt = 0; !file && attempt < 100; ++attempt) {
    temporary = folder + "." + name + "." + std::to_string(getpid()) + "." + std::to_string(attempt);
    file = platform::OpenFile(temporary, platform::kOpenCreate | platform::kOpenExclusive, status, 0666);
    if (!file && status.error != EEXIST) return status;
  }
  if (!file) return status;
  // The replacement keeps the permissions of the file it replaces.
  if (exists && fchmod(file->Descriptor(), st.st_mode & 07777) != 0) status = platform::FileStatus::FromErrno();
  if (status.ok()) status = file->WriteAt(0, bytes);
  if (status.ok()) status = file->Sync();
  const platform::FileStatus closed = file->Close();
  if (status.ok()) status = closed;
  if (status.ok() && std::rename(temporary.c_str(), target.c_str()) != 0) status = platform::FileStatus::FromErrno();
  if (!status.ok()) platform::CurrentFileSystem().Remove(temporary);
  return status;
}

}  // namespace kitdata
