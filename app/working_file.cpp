#include "app/working_file.h"

#include <cerrno>

#include "config/built_in_texts.h"
#include "config/catalog.h"
#include "config/session.h"
#include "platform/host_path.h"

namespace app {

namespace {
constexpr std::uint64_t kLineSize = records::kWorkingLineSize;
}  // namespace

std::string WorkingFile::SuitePath() { return config::Session().TempDir + "PressupH.tmp"; }

void WorkingFile::Fail(Action action, const platform::FileStatus& status) {
  if (!failure_.empty()) return;
  // Each text is looked up where it is written, so that the catalogue check
  // finds it.
  const std::string what = action == Action::kMake    ? config::CatalogText("NO ES POT CREAR EL FITXER DE TREBALL ")
                           : action == Action::kWrite ? config::CatalogText("NO ES POT ESCRIURE EL FITXER DE TREBALL ")
                                                      : config::CatalogText("NO ES POT LLEGIR EL FITXER DE TREBALL ");
  failure_ = what + SuitePath() + ": " + config::FileFailureReason(status.error);
}

bool WorkingFile::Open() {
  Close();
  failure_.clear();
  platform::FileStatus status;
  file_ = platform::OpenFile(platform::HostPathOrRaw(SuitePath()), platform::kOpenCreate | platform::kOpenTruncate,
                             status);
  if (!file_) {
    Fail(Action::kMake, status);
    return false;
  }
  return true;
}

void WorkingFile::Close() {
  if (!file_) return;
  // Nothing written is read again after the close: a failing close only
  // matters while the run still uses the file, and it is kept for it.
  if (const platform::FileStatus status = file_->Close(); !status.ok()) Fail(Action::kWrite, status);
  file_.reset();
}

std::int32_t WorkingFile::Count() {
  if (!file_) return 0;
  std::uint64_t size = 0;
  if (const platform::FileStatus status = file_->Size(size); !status.ok()) {
    Fail(Action::kRead, status);
    return 0;
  }
  return static_cast<std::int32_t>(size / kLineSize);
}

bool WorkingFile::Read(std::int32_t n, records::WorkingLine& line) {
  if (!file_) {
    Fail(Action::kRead, platform::FileStatus{EBADF});
    return false;
  }
  if (n < 1) return false;
  std::string bytes(kLineSize, ' ');
  std::size_t got = 0;
  const platform::FileStatus status = file_->ReadAt(static_cast<std::uint64_t>(n - 1) * kLineSize, bytes, got);
  if (!status.ok()) {
    Fail(Action::kRead, status);
    return false;
  }
  if (got == 0) return false;  // past the end
  if (got != bytes.size()) {
    // Only this program writes the file, in whole records: a piece of one
    // means the file was cut behind its back.
    Fail(Action::kRead, platform::FileStatus{EIO});
    return false;
  }
  line = records::WorkingLine::Decode(bytes);
  return true;
}

bool WorkingFile::Write(std::int32_t n, const records::WorkingLine& line) {
  if (!file_) {
    Fail(Action::kWrite, platform::FileStatus{EBADF});
    return false;
  }
  if (n < 1) return false;
  const platform::FileStatus status = file_->WriteAt(static_cast<std::uint64_t>(n - 1) * kLineSize, line.Encode());
  if (!status.ok()) {
    Fail(Action::kWrite, status);
    return false;
  }
  return true;
}

bool WorkingFile::Write(std::int32_t n, const std::vector<records::WorkingLine>& lines) {
  if (!file_) {
    Fail(Action::kWrite, platform::FileStatus{EBADF});
    return false;
  }
  if (n < 1) return false;
  std::string bytes;
  bytes.reserve(lines.size() * kLineSize);
  for (const records::WorkingLine& line : lines) bytes += line.Encode();
  const platform::FileStatus status = file_->WriteAt(static_cast<std::uint64_t>(n - 1) * kLineSize, bytes);
  if (!status.ok()) {
    Fail(Action::kWrite, status);
    return false;
  }
  return true;
}

// The report reads the whole budget several times: one read of the file
// rather than one per line.
std::vector<records::WorkingLine> WorkingFile::Lines() {
  std::vector<records::WorkingLine> lines;
  if (!file_) {
    Fail(Action::kRead, platform::FileStatus{EBADF});
    return lines;
  }
  std::uint64_t size = 0;
  if (const platform::FileStatus status = file_->Size(size); !status.ok()) {
    Fail(Action::kRead, status);
    return lines;
  }
  std::string bytes(static_cast<std::size_t>(size), ' ');
  std::size_t got = 0;
  if (const platform::FileStatus status = file_->ReadAt(0, bytes, got); !status.ok()) {
    Fail(Action::kRead, status);
    return lines;
  }
  const std::string_view whole(bytes.data(), got);
  lines.reserve(got / kLineSize);
  for (std::size_t at = 0; at + kLineSize <= whole.size(); at += kLineSize)
    lines.push_back(records::WorkingLine::Decode(whole.substr(at, kLineSize)));
  // Only this program writes the file, in whole records: a piece of one
  // means the file was cut behind its back.
  if (got % kLineSize != 0) Fail(Action::kRead, platform::FileStatus{EIO});
  return lines;
}

}  // namespace app
