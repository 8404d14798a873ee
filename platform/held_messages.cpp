#include "platform/held_messages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace {

// The real standard error while held, and the memory file holding the
// messages; -1 when not held.
std::atomic<int> g_saved{-1};
int g_held = -1;

// The whole of `size` bytes, through interruptions and short writes.
void WriteAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= n;
  }
}

}  // namespace

bool HoldStandardError() {
  if (g_saved.load() >= 0) return true;
  const int held = ::memfd_create("held standard error", MFD_CLOEXEC);
  if (held < 0) return false;
  const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved < 0 || ::dup2(held, STDERR_FILENO) < 0) {
    if (saved >= 0) ::close(saved);
    ::close(held);
    return false;
  }
  g_held = held;
  g_saved.store(saved);
  return true;
}

// Only async-signal-safe calls: a fatal signal's handler calls it.
void ReleaseStandardError() {
  const int saved = g_saved.exchange(-1);
  if (saved < 0) return;
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  char buffer[4096];
  ::lseek(g_held, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(g_held, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    WriteAll(STDERR_FILENO, buffer, n);
  }
  ::close(g_held);
  g_held = -1;
}

}  // namespace platform
