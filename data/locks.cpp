#include "data/locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/little_endian.h"
#include "base/strings.h"
#include "config/built_in_texts.h"
#include "config/session.h"
#include "data/files.h"
#include "data/lock_wait.h"
#include "data/locks_store.h"
#include "data/notice.h"
#include "platform/host_path.h"

namespace data {
namespace {

using lock_record::kNameSize;

using config::InSessionLanguage;
namespace texts = config::texts;

std::string WaitText() { return std::string(InSessionLanguage(texts::kFileLocked)); }
std::string EscText() { return std::string(InSessionLanguage(texts::kOrPressEsc)); }
std::string UnreachableText() { return std::string(InSessionLanguage(texts::kFileUnreachable)); }
std::string PleaseWaitText() { return std::string(InSessionLanguage(texts::kPleaseWait)); }

// Why a file cannot be reached, in the operator's words where the cause is
// one an administrator mends (permissions, a folder or file in the way, a
// full or read-only disk); the system's own text otherwise.
std::string ReasonText(const platform::FileStatus& status) {
  struct Reason {
    int error;
    const config::Translations& text;
  };
  static constexpr Reason kReasons[] = {
      {EACCES, texts::kPermissionDenied}, {EPERM, texts::kPermissionDenied}, {EISDIR, texts::kIsAFolder},
      {ENOTDIR, texts::kIsNotAFolder},    {EROFS, texts::kReadOnlyDisk},      {ENOSPC, texts::kDiskFull},
      {EDQUOT, texts::kDiskFull},
  };
  for (const Reason& r : kReasons)
    if (r.error == status.error) return std::string(InSessionLanguage(r.text));
  return "ERROR " + std::to_string(status.error) + ": " + status.Describe();
}

std::string FailureText(const LockStoreFailure& failure, bool escOffered) {
  const std::string reason = failure.reason.empty() ? ReasonText(failure.status) : failure.reason;
  return UnreachableText() + failure.path + " (" + reason + "). " + PleaseWaitText() +
         (escOffered ? EscText() : std::string()) + ".";
}

// "DD/MM/YYYY HH:MM" of a lock-clock minute.
std::string ClockText(std::int64_t minutes) {
  using namespace std::chrono;
  const std::int64_t day = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
  const std::int64_t minute = minutes - day * 1440;
  const year_month_day date{sys_days{days{day}}};
  char text[32];
  std::snprintf(text, sizeof text, "%02u/%02u/%04d %02d:%02d", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<int>(date.year()), static_cast<int>(minute / 60),
                static_cast<int>(minute % 60));
  return text;
}

int RandomPause(int most) {
  double ms = std::nearbyint(platform::RandomFraction() * most + 1.0);
  return static_cast<int>(std::clamp(ms, 1.0, static_cast<double>(most)));
}

LockOwner Owner() { return {Locks().LockOwnerName, Locks().LockOwnerId}; }

std::int64_t ClockNow() { return LockClock(platform::Now()); }

// One pass over a lock file: the lock taken, blocked by a holder, or the
// file out of reach.
struct Attempt {
  enum Outcome { kHeld, kBlocked, kFailed } outcome = kHeld;
  std::string holder;         // kBlocked: the holder's line of the message (may be empty)
  LockStoreFailure failure;   // kFailed
};

Attempt TryLock(std::string_view name, const LockRequest& request) {
  Attempt a;
  LockStore& store = CurrentLockStore();
  std::unique_ptr<LockTable> table = store.Open(name, true, a.failure);
  if (!table) {
    a.outcome = Attempt::kFailed;
    return a;
  }
  std::vector<std::string> records;
  if (platform::FileStatus s = table->ReadRecords(records); !s.ok()) {
    a.outcome = Attempt::kFailed;
    a.failure = {table->Path(), s, table->FailureReason()};
    return a;
  }
  const std::int64_t clock = ClockNow();
  const LockOwner owner = Owner();
  const LockScan scan =
      ScanLockRecords(records, request, owner, clock, [&](std::size_t i) { return table->HolderOf(i); });
  // A freed record that cannot be written back is freed again by the next scan.
  for (std::size_t i : scan.freed) table->WriteRecord(i, records[i]);
  if (scan.conflict) {
    a.outcome = Attempt::kBlocked;
    const std::string& r = records[*scan.conflict];
    a.holder = LockHolderText(r, table->OperatorOf(*scan.conflict, r));
    table->Close();
    return a;
  }
  const std::string record = NewLockRecord(owner, request, clock);
  if (platform::FileStatus s = table->Hold(scan.target, record, base::Trim(config::Session().Operator)); !s.ok()) {
    // Another process holds that record after all (it took it without
    // writing it yet): wait as for any holder.
    a.outcome = (s.error == EAGAIN || s.error == EACCES) ? Attempt::kBlocked : Attempt::kFailed;
    a.failure = {table->Path(), s, table->FailureReason()};
    return a;
  }
  platform::FileStatus s = table->WriteRecord(scan.target, record);
  if (s.ok()) s = table->Close();
  if (!s.ok()) {
    table->Unhold(scan.target);
    a.outcome = Attempt::kFailed;
    a.failure = {table->Path(), s, table->FailureReason()};
  }
  return a;
}

}  // namespace

LockState& Locks() {
  static LockState state;
  return state;
}

void ResetLocks() {
  Locks() = LockState{};
  CurrentLockStore().Forget();
}

std::int64_t LockClock(const platform::LocalTime& now) {
  // Julian day number with March as month 0.
  std::int64_t year = now.year, month = now.month - 3;
  if (month < 0) {
    month += 12;
    year -= 1;
  }
  std::int64_t day = now.day + (153 * month + 2) / 5 + 1461 * (year % 100) / 4 +
                     146097 * (year / 100) / 4 + 1721119;
  double seconds = std::nearbyint(now.hour * 3600.0 + now.minute * 60.0 + now.second +
                                  now.millisecond / 1000.0);
  return (day - 2440588) * 1440 + static_cast<std::int64_t>(seconds) / 60;
}

std::string LockHolderText(const std::string& record, std::string_view operatorName) {
  using namespace lock_record;
  std::string computer(base::Trim(std::string_view(record).substr(kName, kNameSize)));
  // A holder whose computer had no name is known by its identity.
  if (computer.empty()) computer = std::string(base::Trim(std::string_view(record).substr(kId, kIdSize)));
  const std::string_view op = base::Trim(operatorName);
  std::string text = op.empty() ? std::string(InSessionLanguage(texts::kHeldByComputer)) + computer
                                : std::string(InSessionLanguage(texts::kHeldBy)) + std::string(op) + ", " +
                                      std::string(InSessionLanguage(texts::kComputer)) + computer;
  const std::int64_t since = LockFieldNumber(std::string_view(record).substr(kTime, kTimeSize));
  return text + ", " + std::string(InSessionLanguage(texts::kSince)) + ClockText(since) + ".";
}

void LockIdentity() {
  LockState& state = Locks();
  if (state.LockOwnerId != 0) return;
  const std::string path = platform::HostPathOrRaw(config::Session().TempDir + "LOCKS.TMP");
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  char bytes[19] = {};
  if (fd >= 0) {
    // Two programs of one session starting together must agree on one identity.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (::pread(fd, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
      std::fill(std::begin(bytes), std::end(bytes), '\0');
  }
  auto id = base::ReadLe<std::int32_t>(bytes);
  if (id != 0) {
    state.LockOwnerId = id;
    state.LockOwnerName.assign(bytes + 4, kNameSize);
  } else {
    platform::LocalTime now = platform::Now();
    auto hundredths = static_cast<std::uint32_t>(
        ((now.hour * 60 + now.minute) * 60 + now.second) * 100 + now.millisecond / 10);
    // The process id is mixed in: two sessions started within the same
    // hundredth of a second must not draw the same identity.
    platform::CurrentSystem().SeedRandom(hundredths ^
                                         (static_cast<std::uint32_t>(::getpid()) * 2654435761u));
    while (id == 0)
      id = static_cast<std::int32_t>(
          std::floor(platform::RandomFraction() * 4294967295.0 - 2147483648.0));
    state.LockOwnerId = id;
    state.LockOwnerName = PadLockField(platform::ComputerName(), kNameSize);
    if (fd >= 0) {
      char out[19];
      for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((static_cast<std::uint32_t>(id) >> (8 * i)) & 0xFF);
      std::copy_n(state.LockOwnerName.begin(), kNameSize, out + 4);
      if (::pwrite(fd, out, sizeof out, 0) != static_cast<ssize_t>(sizeof out)) {
        // The identity still serves this process; the next one makes its own.
      }
    }
  }
  // A session directory that cannot hold the file leaves an identity for
  // this process alone.
  if (fd >= 0) ::close(fd);
}

int AcquireLock(std::string_view name, std::string_view type, std::string_view lower,
                std::string_view upper) {
  LockIdentity();
  const LockRequest request{type.empty() ? ' ' : base::AsciiUpper(type.front()), lower, upper};
  const std::string fileName(base::TrimRight(name));
  Notice& notice = CurrentNotice();
  LockWait wait(base::AsciiUpper(Locks().LockWaitMode));
  // Carries out a step of the wait; true when the wait is over.
  const auto carryOut = [&](const LockWaitStep& step) {
    if (step.hide) notice.Hide();
    if (!step.show.empty()) notice.Show(step.show, 24);
    if (step.discardKeys) notice.DiscardKeys();
    return step.done;
  };
  for (;;) {
    const Attempt attempt = TryLock(fileName, request);
    const LockAttempt outcome = attempt.outcome == Attempt::kHeld      ? LockAttempt::kHeld
                                : attempt.outcome == Attempt::kBlocked ? LockAttempt::kBlocked
                                                                       : LockAttempt::kUnreachable;
    // Why the lock was not taken, for callers that do not wait (a batch
    // passing over a property says who holds it).
    std::string& refusal = Locks().LastRefusal;
    Locks().LastRefusalUnreachable = outcome == LockAttempt::kUnreachable;
    if (outcome == LockAttempt::kHeld)
      refusal.clear();
    else if (outcome == LockAttempt::kUnreachable)
      refusal = UnreachableText() + attempt.failure.path + " (" + ReasonText(attempt.failure.status) + ")";
    else
      refusal = attempt.holder;
    std::string message;
    if (outcome == LockAttempt::kUnreachable) {
      message = FailureText(attempt.failure, wait.EscOffered(outcome));
    } else if (outcome == LockAttempt::kBlocked) {
      message = WaitText() + (wait.EscOffered(outcome) ? EscText() : std::string()) + "." +
                (attempt.holder.empty() ? std::string() : " " + attempt.holder);
    }
    const LockWaitStep step = wait.Attempted(outcome, message);
    if (carryOut(step)) break;
    BeforeWaiting();
    platform::Pause(RandomPause(1000));
    if (!step.pollKey) notice.StillWaiting();
    if (step.pollKey && carryOut(wait.KeyPolled(notice.PollKey()))) break;
  }
  return wait.Held() ? 0 : -1;
}

std::string LockKeyText(std::string_view key) {
  std::string text;
  for (char c : key) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 128 && b <= 227) {
      text += static_cast<char>('0' + (b - 128) / 10);
      text += static_cast<char>('0' + (b - 128) % 10);
    } else {
      text += c;
    }
  }
  return text;
}

int LockKey(std::string_view name, std::string_view key) {
  std::string k = LockKeyText(key);
  return AcquireLock(name, "k", k, k);
}

LockStanding CheckLock(std::string_view name) { return CurrentLockStore().Standing(base::Trim(name)); }

int ReleaseLock(std::string_view name) {
  LockIdentity();
  // The same file AcquireLock uses: suite names ignore case, and the host
  // path resolves them to the one file.
  LockStore& store = CurrentLockStore();
  LockStoreFailure failure;
  std::unique_ptr<LockTable> table = store.Open(base::Trim(name), false, failure);
  std::vector<std::string> records;
  const std::optional<std::size_t> mine =
      table && table->ReadRecords(records).ok()
          ? RecordToRelease(records, Owner(), [&](std::size_t i) { return table->HolderOf(i); })
          : std::nullopt;
  if (!mine) {
    // Nothing of this process's to free: a lock it lost is let go too.
    store.ForgetLost(base::Trim(name));
    return -1;
  }
  FreeLockRecord(records[*mine]);
  // Dropping the record's system lock frees it for every other program even
  // when the blanks cannot be written.
  table->WriteRecord(*mine, records[*mine]);
  table->Unhold(*mine);
  table->Close();
  return 0;
}

}  // namespace data
