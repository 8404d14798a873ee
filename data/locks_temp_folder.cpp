// The claim of a session's temporary folder: two programs on one folder
// would share its working, print and screen files and save over each other.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "config/built_in_texts.h"
#include "config/session.h"
#include "data/locks.h"
#include "platform/file_system.h"
#include "platform/host_path.h"

namespace data {
namespace {

std::unique_ptr<platform::File>& Claim() {
  static std::unique_ptr<platform::File> claim;
  return claim;
}

// The process number the holder wrote into the file ("" when unreadable).
std::string HolderProcess(platform::File& file) {
  char bytes[32] = {};
  std::size_t got = 0;
  if (!file.ReadAt(0, bytes, got).ok()) return std::string();
  std::string number;
  for (std::size_t i = 0; i < got && bytes[i] >= '0' && bytes[i] <= '9'; ++i) number += bytes[i];
  return number;
}

std::string InUseText(const std::string& folder, const std::string& process) {
  using config::InSessionLanguage;
  std::string text(InSessionLanguage(config::texts::kAnotherProgram));
  if (!process.empty()) text += "(" + std::string(InSessionLanguage(config::texts::kProcess)) + process + ") ";
  return text + std::string(InSessionLanguage(config::texts::kUsesTheTempFolder)) + folder;
}

}  // namespace

TempFolderClaim ClaimTempFolder() {
  TempFolderClaim result;
  if (Claim()) return result;
  const std::string path = platform::HostPathOrRaw(config::Session().TempDir + "Sessio.lck");
  platform::FileStatus status;
  std::unique_ptr<platform::File> file = platform::OpenFile(path, platform::kOpenCreate, status);
  if (!file) return result;
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(file->Descriptor(), F_OFD_SETLK, &whole) != 0) {
    if (errno != EAGAIN && errno != EACCES) return result;  // no locks on this file system
    const std::string folder = platform::HostPathOrRaw(config::Session().TempDir);
    const std::string process = HolderProcess(*file);
    result.claimed = false;
    result.message = InUseText(folder, process);
    result.detail = "the temporary folder " + folder + " is in use by another program" +
                    (process.empty() ? std::string() : " (process " + process + ")") +
                    "; every session needs a temporary folder (KITTMP) of its own";
    return result;
  }
  // Whoever is refused learns which process has the folder.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (file->Truncate(0).ok()) file->WriteAt(0, pid);
  Claim() = std::move(file);
  return result;
}

void ReleaseTempFolder() { Claim().reset(); }

}  // namespace data
