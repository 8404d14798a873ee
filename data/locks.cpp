#include "data/locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>
#include <vector>

#include "config/session.h"
#include "data/notice.h"
#include "platform/host_path.h"

namespace data {
namespace {

constexpr int kEsc = 27;
constexpr std::int64_t kExpiryMinutes = 30;
constexpr std::size_t kNameSize = 15;
constexpr std::size_t kMaxKey = 40;

// Field offsets of a lock record.
constexpr std::size_t kName = 0, kId = 15, kIdSize = 11, kTime = 26, kTimeSize = 8, kType = 34,
                      kLowerLength = 35, kLower = 37, kUpperLength = 77, kUpper = 79, kEnd = 119;

std::string Pad(std::string_view text, std::size_t size) {
  std::string r(text.substr(0, size));
  r.resize(size, ' ');
  return r;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimRight(s);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

// The number a field starts with (leading blanks and a sign allowed); 0
// when it holds none.
std::int64_t FieldNumber(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  bool negative = i < field.size() && field[i] == '-';
  if (negative) ++i;
  std::int64_t n = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9' && n < 100000000000LL; ++i)
    n = n * 10 + (field[i] - '0');
  return negative ? -n : n;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool LanguageIs(const char* code) { return config::Session().Language == code; }

std::string WaitText() {
  if (LanguageIs("SPA")) return "FICHERO BLOQUEADO. ESPERE UN MOMENTO";
  if (LanguageIs("GLG")) return "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO";
  // Aranese texts carry Windows-1252 bytes and are shown as they are.
  if (LanguageIs("OCI")) return "FICH\xC8R BLOQUEJAT. ESPERATZ UN MOMENT";
  return "FITXER BLOQUEJAT. ESPEREU UN MOMENT";
}

std::string EscText() {
  if (LanguageIs("SPA")) return " O PULSE [ESC] PARA SALIR";
  if (LanguageIs("GLG")) return " OU PULSE [ESC] PARA SAIR";
  if (LanguageIs("OCI")) return " O POSSATZ [ESC] ENT\xC0 G\xC8SSER";
  return " O POLSEU [ESC] PER A EIXIR";
}

int RandomPause(int most) {
  double ms = std::nearbyint(platform::RandomFraction() * most + 1.0);
  return static_cast<int>(std::clamp(ms, 1.0, static_cast<double>(most)));
}

// An open lock file held exclusively (an advisory lock on the whole file)
// from open to close, so that a scan and its write are one step for every
// program of the suite.
class LockFile {
 public:
  // The file RootDir + "LOCKS\" + name + ".lck"; with `create` false a
  // missing file is not created and the result is not open.
  LockFile(std::string_view name, bool create) {
    const std::string dir = config::Session().RootDir + "LOCKS";
    const std::string path = platform::HostPathOrRaw(dir + "\\" + std::string(name) + ".lck");
    for (;;) {
      fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
      if (fd_ >= 0) break;
      if (errno == ENOENT && !create) return;
      if (errno == ENOENT) {
        if (::mkdir(platform::HostPathOrRaw(dir).c_str(), 0777) == 0 || errno == EEXIST) continue;
      }
      platform::Pause(RandomPause(3000));
    }
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~LockFile() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the flock
  }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  // The whole records of the file; a partial record at the end is ignored.
  std::vector<std::string> ReadRecords() {
    std::vector<std::string> records;
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return records;
    std::size_t count = static_cast<std::size_t>(st.st_size) / kLockRecordSize;
    std::string bytes(count * kLockRecordSize, ' ');
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    for (std::size_t i = 0; i + kLockRecordSize <= done; i += kLockRecordSize)
      records.push_back(bytes.substr(i, kLockRecordSize));
    return records;
  }

  void Write(std::size_t index, const std::string& record) {
    std::size_t done = 0;
    off_t at = static_cast<off_t>(index * kLockRecordSize);
    while (done < record.size()) {
      ssize_t n = ::pwrite(fd_, record.data() + done, record.size() - done, at + static_cast<off_t>(done));
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;
      }
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  int fd_ = -1;
};

bool OwnName(std::string_view record) {
  return record.substr(kName, kNameSize) == Pad(Locks().LockOwnerName, kNameSize);
}

bool OwnId(std::string_view record) {
  return Trim(record.substr(kId, kIdSize)) == std::to_string(Locks().LockOwnerId);
}

void Free(std::string& record) {
  std::fill_n(record.begin() + kName, kNameSize + kIdSize, ' ');
  record[kType] = ' ';
}

std::string NewRecord(char type, std::string_view lower, std::string_view upper, std::int64_t clock) {
  std::string r = Pad(Locks().LockOwnerName, kNameSize);
  r += Pad(std::to_string(Locks().LockOwnerId), kIdSize);
  r += Pad(std::to_string(clock), kTimeSize);
  r += type;
  if (type == 'K') {
    lower = lower.substr(0, kMaxKey);
    upper = upper.substr(0, kMaxKey);
    r += Pad(std::to_string(lower.size()), 2) + Pad(lower, kMaxKey);
    r += Pad(std::to_string(upper.size()), 2) + Pad(upper, kMaxKey);
  } else {
    r += std::string(kEnd - kLowerLength, ' ');
  }
  return r + "\r\n";
}

std::int64_t ClockNow() { return LockClock(platform::Now()); }

}  // namespace

LockState& Locks() {
  static LockState state;
  return state;
}

void ResetLocks() { Locks() = LockState{}; }

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
  auto id = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) |
      static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 8 |
      static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 16 |
      static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3])) << 24);
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
    state.LockOwnerName = Pad(platform::ComputerName(), kNameSize);
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
  const char wanted = type.empty() ? ' ' : Upper(type.front());
  const std::string fileName(TrimRight(name));
  int attempt = 0;
  bool written = false;
  Notice& notice = CurrentNotice();
  for (;;) {
    bool conflict = false;
    {
      LockFile file(fileName, true);
      std::vector<std::string> records = file.ReadRecords();
      std::size_t target = records.size();
      const std::int64_t clock = ClockNow();
      for (std::size_t i = 0; i < records.size(); ++i) {
        std::string& r = records[i];
        if (!Trim(r.substr(kId, kIdSize)).empty() &&
            FieldNumber(r.substr(kTime, kTimeSize)) < clock - kExpiryMinutes) {
          Free(r);
          file.Write(i, r);
        }
        const char held = r[kType];
        if (held == ' ') {
          target = i;
          continue;
        }
        if (held == 'F' || wanted == 'F') {
          if (OwnName(r) && OwnId(r)) {
            if (held == wanted) target = i;
          } else {
            conflict = true;
          }
          break;
        }
        if (held == 'K' && wanted == 'K') {
          auto lowerLength = static_cast<std::size_t>(
              std::clamp<std::int64_t>(FieldNumber(r.substr(kLowerLength, 2)), 0, kMaxKey));
          auto upperLength = static_cast<std::size_t>(
              std::clamp<std::int64_t>(FieldNumber(r.substr(kUpperLength, 2)), 0, kMaxKey));
          std::string_view reqLower = lower.substr(0, kMaxKey);
          std::string_view reqUpper = upper.substr(0, kMaxKey);
          lowerLength = std::min(lowerLength, reqLower.size());
          upperLength = std::min(upperLength, reqUpper.size());
          std::string_view recLower = std::string_view(r).substr(kLower, kMaxKey);
          std::string_view recUpper = std::string_view(r).substr(kUpper, kMaxKey);
          // string_view compares as unsigned bytes (char_traits<char>::compare).
          if (reqLower.substr(0, lowerLength) > recUpper.substr(0, lowerLength) ||
              reqUpper.substr(0, upperLength) < recLower.substr(0, upperLength))
            continue;
          if (OwnId(r))
            target = i;
          else
            conflict = true;
          break;
        }
      }
      written = !conflict;
      if (written) file.Write(target, NewRecord(wanted, lower, upper, clock));
    }
    const char mode = Upper(Locks().LockWaitMode);
    if (written || mode == 'S') break;
    attempt = std::min(attempt + 1, 2);
    if (attempt == 1) {
      notice.Show(WaitText() + (mode == 'P' ? EscText() : std::string()) + ".", 24);
      if (mode == 'P') notice.DiscardKeys();
    }
    platform::Pause(RandomPause(1000));
    if (mode == 'P' && notice.PollKey() == kEsc) break;
  }
  if (attempt != 0) notice.Hide();
  return written ? 0 : -1;
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

int ReleaseLock(std::string_view name) {
  LockIdentity();
  // The same file AcquireLock uses: suite names ignore case, and the host
  // path resolves them to the one file.
  LockFile file(Trim(name), false);
  if (!file.IsOpen()) return -1;
  std::vector<std::string> records = file.ReadRecords();
  std::optional<std::size_t> best;
  std::int64_t bestTime = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string& r = records[i];
    if (r[kType] == ' ' || !OwnName(r) || !OwnId(r)) continue;
    std::int64_t time = FieldNumber(std::string_view(r).substr(kTime, kTimeSize));
    if (!best || time >= bestTime) {
      best = i;
      bestTime = time;
    }
  }
  if (!best) return -1;
  Free(records[*best]);
  file.Write(*best, records[*best]);
  return 0;
}

}  // namespace data
