#include "tools/kitprint/document_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/file_system.h"

namespace kitprint {
namespace {

// The temporary file a termination signal removes: one at a time, kept
// where the handler can read it without allocating.
char g_temporary[PATH_MAX];
volatile std::sig_atomic_t g_armed = 0;
constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, kSignals.size()> g_previous{};

void RemoveTemporaryAndEnd(int sig) {
  if (g_armed) unlink(g_temporary);
  // Ends as the signal asks, so that the caller sees how it ended.
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void Arm(const std::string& temporary) {
  if (temporary.size() >= sizeof g_temporary) return;
  std::memcpy(g_temporary, temporary.c_str(), temporary.size() + 1);
  g_armed = 1;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    sigaction(kSignals[i], nullptr, &g_previous[i]);
    // A signal the caller ignores (nohup) stays ignored.
    if (g_previous[i].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryAndEnd;
    sigemptyset(&action.sa_mask);
    sigaction(kSignals[i], &action, nullptr);
  }
}

void Disarm(const std::string& temporary) {
  if (!g_armed || temporary != g_temporary) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  g_armed = 0;
}

std::string Reason(int error) { return std::strerror(error); }

// The permissions a new file gets; those of the file being replaced.
mode_t ModeFor(const std::string& target) {
  struct stat st {};
  if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

DocumentFile::DocumentFile(std::FILE* stream, std::string temporary, std::string target)
    : stream_(stream), temporary_(std::move(temporary)), target_(std::move(target)) {
  if (!temporary_.empty()) Arm(temporary_);
}

DocumentFile::~DocumentFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (temporary_.empty()) return;
  if (!placed_) unlink(temporary_.c_str());
  Disarm(temporary_);
}

std::unique_ptr<DocumentFile> DocumentFile::Beside(const std::string& path, std::string& error) {
  const std::string target = platform::LinkTarget(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    error = path + ": " + Reason(EISDIR);
    return nullptr;
  }
  // A device or a pipe is written as it is: renaming a file over it would
  // put a file in its place.
  if (exists && !S_ISREG(st.st_mode)) {
    std::FILE* stream = std::fopen(target.c_str(), "wbe");
    if (stream == nullptr) {
      error = path + ": " + Reason(errno);
      return nullptr;
    }
    return std::unique_ptr<DocumentFile>(new DocumentFile(stream, {}, target));
  }
  return Create(folder + "." + name + ".XXXXXX", ModeFor(target), target, path, error);
}

std::unique_ptr<DocumentFile> DocumentFile::Scratch(std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return Create(folder + "kitprintXXXXXX", 0600, {}, folder, error);
}

std::unique_ptr<DocumentFile> DocumentFile::Create(std::string temporary, mode_t mode, std::string target,
                                                   const std::string& shown, std::string& error) {
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = shown + ": " + Reason(errno);
    return nullptr;
  }
  std::FILE* stream = nullptr;
  if (fchmod(fd, mode) != 0 || (stream = fdopen(fd, "wb")) == nullptr) {
    error = shown + ": " + Reason(errno);
    close(fd);
    unlink(temporary.c_str());
    return nullptr;
  }
  return std::unique_ptr<DocumentFile>(new DocumentFile(stream, std::move(temporary), std::move(target)));
}

bool DocumentFile::Close(const std::string& name, std::string& error) {
  if (stream_ == nullptr) return true;
  errno = 0;
  const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
  int failure = flushed ? 0 : errno;
  // Stored for good before it takes the place of the document.
  if (flushed && fsync(fileno(stream_)) != 0 && errno != EINVAL) failure = errno;
  if (std::fclose(stream_) != 0 && failure == 0) failure = errno;
  stream_ = nullptr;
  if (!flushed && failure == 0) failure = EIO;
  if (failure == 0) return true;
  error = name + ": " + Reason(failure);
  return false;
}

bool DocumentFile::PutInPlace(std::string& error) {
  if (!Close(target_, error)) return false;
  if (temporary_.empty()) return true;  // written in place
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    error = target_ + ": " + Reason(errno);
    return false;
  }
  placed_ = true;
  Disarm(temporary_);
  return true;
}

}  // namespace kitprint
