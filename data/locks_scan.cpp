#include "data/locks_scan.h"

#include <algorithm>

#include "base/strings.h"

namespace data {
namespace {

using namespace lock_record;

bool SameName(std::string_view record, const LockOwner& owner) {
  return record.substr(kName, kNameSize) == PadLockField(owner.name, kNameSize);
}

bool SameId(std::string_view record, const LockOwner& owner) {
  return base::Trim(record.substr(kId, kIdSize)) == std::to_string(owner.id);
}

bool HasHolderId(std::string_view record) { return !base::Trim(record.substr(kId, kIdSize)).empty(); }

bool InUse(std::string_view record) { return record[kType] != ' ' || HasHolderId(record); }

// Whether this process may treat a record of its own identity as its own:
// it holds the record itself, or nobody can tell who does. Another running
// process of the same workstation identity (a second program on the same
// temporary folder) is not this process.
bool HeldHere(LockHolder h) { return h == LockHolder::kThisProcess || h == LockHolder::kUnknown; }

std::size_t KeyLength(std::string_view field) {
  return static_cast<std::size_t>(std::clamp<std::int64_t>(LockFieldNumber(field), 0, kKeySize));
}

}  // namespace

std::string PadLockField(std::string_view text, std::size_t size) {
  std::string r(text.substr(0, size));
  r.resize(size, ' ');
  return r;
}

std::int64_t LockFieldNumber(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  const bool negative = i < field.size() && field[i] == '-';
  if (negative) ++i;
  std::int64_t n = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9' && n < 100000000000LL; ++i)
    n = n * 10 + (field[i] - '0');
  return negative ? -n : n;
}

void FreeLockRecord(std::string& record) {
  std::fill_n(record.begin() + static_cast<std::ptrdiff_t>(kName), kNameSize + kIdSize, ' ');
  record[kType] = ' ';
}

std::string NewLockRecord(const LockOwner& owner, const LockRequest& request, std::int64_t clock) {
  std::string r = PadLockField(owner.name, kNameSize);
  r += PadLockField(std::to_string(owner.id), kIdSize);
  r += PadLockField(std::to_string(clock), kTimeSize);
  r += request.type;
  if (request.type == 'K') {
    const std::string_view lower = request.lower.substr(0, kKeySize);
    const std::string_view upper = request.upper.substr(0, kKeySize);
    r += PadLockField(std::to_string(lower.size()), 2) + PadLockField(lower, kKeySize);
    r += PadLockField(std::to_string(upper.size()), 2) + PadLockField(upper, kKeySize);
  } else {
    r += std::string(kEnd - kLowerLength, ' ');
  }
  return r + "\r\n";
}

LockScan ScanLockRecords(std::vector<std::string>& records, const LockRequest& request, const LockOwner& owner,
                         std::int64_t clock, const HolderOf& holder) {
  LockScan scan;
  scan.target = records.size();
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string& r = records[i];
    LockHolder state = LockHolder::kGone;
    if (InUse(r)) {
      state = holder(i);
      // A holder that ended without releasing frees its record at once; the
      // age rule is left for stores that cannot tell.
      const bool abandoned =
          state == LockHolder::kGone ||
          (state == LockHolder::kUnknown && HasHolderId(r) &&
           LockFieldNumber(std::string_view(r).substr(kTime, kTimeSize)) < clock - kLockExpiryMinutes);
      if (abandoned) {
        FreeLockRecord(r);
        scan.freed.push_back(i);
      }
    }
    const char held = r[kType];
    if (held == ' ') {
      scan.target = i;  // the last free record before the scan stops is reused
      continue;
    }
    if (held == 'F' || request.type == 'F') {
      if (SameName(r, owner) && SameId(r, owner) && HeldHere(state)) {
        if (held == request.type) scan.target = i;
      } else {
        scan.conflict = i;
      }
      return scan;
    }
    if (held == 'K' && request.type == 'K') {
      const std::string_view reqLower = request.lower.substr(0, kKeySize);
      const std::string_view reqUpper = request.upper.substr(0, kKeySize);
      const std::size_t lowerLength = std::min(KeyLength(std::string_view(r).substr(kLowerLength, 2)), reqLower.size());
      const std::size_t upperLength = std::min(KeyLength(std::string_view(r).substr(kUpperLength, 2)), reqUpper.size());
      const std::string_view recLower = std::string_view(r).substr(kLower, kKeySize);
      const std::string_view recUpper = std::string_view(r).substr(kUpper, kKeySize);
      // string_view compares as unsigned bytes (char_traits<char>::compare).
      if (reqLower.substr(0, lowerLength) > recUpper.substr(0, lowerLength) ||
          reqUpper.substr(0, upperLength) < recLower.substr(0, upperLength))
        continue;
      // Within key ranges the identity alone decides (the name is not compared).
      if (SameId(r, owner) && HeldHere(state))
        scan.target = i;
      else
        scan.conflict = i;
      return scan;
    }
  }
  return scan;
}

std::optional<std::size_t> RecordToRelease(const std::vector<std::string>& records, const LockOwner& owner,
                                           const HolderOf& holder) {
  std::optional<std::size_t> best;
  std::int64_t bestTime = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string& r = records[i];
    if (r[kType] == ' ' || !SameName(r, owner) || !SameId(r, owner)) continue;
    if (!HeldHere(holder(i))) continue;
    const std::int64_t time = LockFieldNumber(std::string_view(r).substr(kTime, kTimeSize));
    if (!best || time >= bestTime) {
      best = i;
      bestTime = time;
    }
  }
  return best;
}

}  // namespace data
