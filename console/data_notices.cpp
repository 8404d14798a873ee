#include "console/data_notices.h"

#include "console/key_reader.h"
#include "console/messages.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "platform/session_end.h"
#include "platform/terminal.h"

namespace console {

void ConsoleNotice::Show(const std::string& text, int row) { ShowMessage(static_cast<std::int16_t>(row), text); }

void ConsoleNotice::Hide() { PopWindow(); }

void ConsoleNotice::Beep() { platform::CurrentTerminal().Beep(); }

void ConsoleNotice::DiscardKeys() {
  FlushKeys();
  ForgetKeptInput();
  KeyReader().TypeAhead.clear();
}

void ConsoleNotice::WaitKey() { WaitInput(); }

int ConsoleNotice::PollKey() { return ReadInput().key; }

void ConsoleNotice::StillWaiting() { FollowTerminal(); }

void ConsoleNotice::EndProcess(int exitCode) {
  // The message was shown: main only has to let everything go and end.
  throw platform::SessionEnded{exitCode, ""};
}

void InstallDataNotices() {
  static ConsoleNotice notice;
  data::SetNotice(&notice);
}

}  // namespace console
