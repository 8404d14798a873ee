#include "platform/signals.h"

#include <csignal>

#include <array>
#include <atomic>
#include <string>

#include "platform/session_end.h"

namespace platform {
namespace {

constexpr std::array<int, 3> kTerminationSignals = {SIGTERM, SIGHUP, SIGINT};

// Written by the handler: a lock-free atomic is async-signal-safe.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
bool g_installed = false;
int g_deferred = 0;

void RaiseTerminationFlag(int sig) {
  int none = 0;
  // The first request counts; a second one of another kind changes nothing.
  g_signal.compare_exchange_strong(none, sig);
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGINT: return "SIGINT";
    default: return "a signal";
  }
}

}  // namespace

void InstallTerminationSignals() {
  for (int sig : kTerminationSignals) {
    struct sigaction action {};
    action.sa_handler = RaiseTerminationFlag;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls come back with EINTR, so long waits notice.
    action.sa_flags = 0;
    sigaction(sig, &action, nullptr);
  }
  g_installed = true;
}

bool TerminationSignalsInstalled() { return g_installed; }

int PendingTerminationSignal() { return g_signal.load(); }

void EndSessionIfTerminated() {
  if (g_deferred > 0) return;
  const int sig = g_signal.load();
  if (sig != 0) throw SessionEnded{128 + sig, std::string("ended by ") + SignalName(sig)};
}

void ClearTerminationSignal() { g_signal.store(0); }

TerminationDeferred::TerminationDeferred() { ++g_deferred; }
TerminationDeferred::~TerminationDeferred() { --g_deferred; }

}  // namespace platform
