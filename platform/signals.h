// Termination requests: SIGTERM, SIGHUP (the terminal hung up) and SIGINT
// (sent from outside; in raw mode Ctrl+C is a key) only raise a flag here.
// The waits look at it (the terminals' Poll, the real System's Pause) and
// end the session by throwing SessionEnded with status 128 + signal, so the
// program unwinds through main and cleans up on the way.
#pragma once

namespace platform {

// Installs the flag-raising handlers. Programs that do not call it keep
// the default actions (and the real terminal's own restoring handlers).
void InstallTerminationSignals();
bool TerminationSignalsInstalled();

// The first termination signal received since installing, 0 when none.
int PendingTerminationSignal();

// Throws SessionEnded{128 + signal} when a termination signal arrived.
void EndSessionIfTerminated();

// Forgets a received signal (tests).
void ClearTerminationSignal();

// While one exists, EndSessionIfTerminated does not throw: the clean-up on
// the way out (releasing a lock may have to wait for its file) runs to its
// end. The request is still pending afterwards.
class TerminationDeferred {
 public:
  TerminationDeferred();
  ~TerminationDeferred();
  TerminationDeferred(const TerminationDeferred&) = delete;
  TerminationDeferred& operator=(const TerminationDeferred&) = delete;
};

}  // namespace platform
