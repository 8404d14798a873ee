#include "data/notice.h"

#include <cstdio>

#include "platform/session_end.h"

namespace data {
namespace {

StderrNotice& DefaultNotice() {
  static StderrNotice notice;
  return notice;
}

Notice* g_notice = nullptr;

}  // namespace

void StderrNotice::Show(const std::string& text, int /*row*/) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

void StderrNotice::Hide() {}

void StderrNotice::Beep() {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

void StderrNotice::EndProcess(int exitCode) {
  // Unwinding to main closes what is open and releases what is held.
  throw platform::SessionEnded{exitCode, ""};
}

Notice& CurrentNotice() { return g_notice ? *g_notice : DefaultNotice(); }

Notice* SetNotice(Notice* notice) {
  Notice* previous = g_notice;
  g_notice = notice;
  return previous;
}

}  // namespace data
