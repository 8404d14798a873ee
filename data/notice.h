// How the data layer talks to the operator without drawing on the screen.
//
// The layer shows three kinds of notice: a data file that cannot be opened
// (fatal), the wait for a record locked by another program, and the wait for
// a program lock file (which in mode "P" the operator may give up with Esc).
// The module installs a Notice that shows them in its message box; the
// default one writes them to standard error.
#pragma once

#include <string>

namespace data {

class Notice {
 public:
  virtual ~Notice() = default;
  // Opens a message box holding `text` (code page 850) at reference row
  // `row`; it stays until Hide.
  virtual void Show(const std::string& text, int row) = 0;
  // Closes the box opened by the last Show.
  virtual void Hide() = 0;
  virtual void Beep() = 0;
  // Drops every key typed ahead.
  virtual void DiscardKeys() = 0;
  // Waits until any key is pressed.
  virtual void WaitKey() = 0;
  // One key without waiting: its key code, or 0 when none is pending.
  virtual int PollKey() = 0;
  // Between the attempts of a wait that reads no keys: the screen may
  // follow the terminal meanwhile (a resize), keeping what is typed.
  virtual void StillWaiting() {}
  // Ends the session (after a data file could not be opened) by throwing
  // platform::SessionEnded with `exitCode`, which the program's main
  // catches after everything on the way has been let go. A test double may
  // return instead, and the caller then returns the failed status.
  virtual void EndProcess(int exitCode) = 0;
};

// Writes notices to standard error, reads no keys, ends by unwinding.
class StderrNotice : public Notice {
 public:
  void Show(const std::string& text, int row) override;
  void Hide() override;
  void Beep() override;
  void DiscardKeys() override {}
  void WaitKey() override {}
  int PollKey() override { return 0; }
  void EndProcess(int exitCode) override;
};

// The notice in use.
Notice& CurrentNotice();
// Installs `notice` (nullptr: the default) and returns the previous one.
Notice* SetNotice(Notice* notice);

// Installs a notice until the guard goes out of scope.
class ScopedNotice {
 public:
  explicit ScopedNotice(Notice& notice) : previous_(SetNotice(&notice)) {}
  ~ScopedNotice() { SetNotice(previous_); }
  ScopedNotice(const ScopedNotice&) = delete;
  ScopedNotice& operator=(const ScopedNotice&) = delete;

 private:
  Notice* previous_;
};

}  // namespace data
