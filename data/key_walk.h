// A walk along a key: the records from the first key not less than a value,
// in key order, while they belong to the range the caller asks for.
//
// The walk tells its end from a failure. It ends quietly at the end of the
// file (status 9), when there is no key at all (4) or at the first record
// outside the range; any other status stops it as failed, and the caller
// must not go on as if it had seen every record:
//
//   data::KeyWalk owners(kOwnersFile, 0, code, [&] { return owner.PropertyCode() == code; });
//   for (; owners.Valid(); owners.Next()) { ...the owner in the record area... }
//   if (owners.Failed()) return Failure(owners.FailureText());
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace data {

inline constexpr std::int16_t kStatusKeyNotFound = 4;
inline constexpr std::int16_t kStatusEndOfFile = 9;

// True for the statuses that end a walk without a failure.
bool EndsWalk(std::int16_t status);

class KeyWalk {
 public:
  // Looked at after every record read: true while the record in the area
  // belongs to the walk. Empty: every record to the end of the file does.
  using InRange = std::function<bool()>;

  // Reads the first record whose key `keyNumber` is not less than `from`.
  KeyWalk(std::int16_t fileId, std::int16_t keyNumber, std::string_view from, InRange inRange = {});

  // A record of the range is in the file's record area.
  bool Valid() const { return valid_; }
  // On to the next record along the key; only while Valid().
  void Next();

  // 0 while the walk is on and after it reached its end; the status of the
  // read that failed otherwise.
  std::int16_t status() const { return status_; }
  bool Failed() const { return status_ != 0; }
  // The data layer's message naming the file and the status.
  std::string FailureText() const;

 private:
  void Take(std::int16_t status);

  std::int16_t fileId_;
  InRange inRange_;
  bool valid_ = false;
  std::int16_t status_ = 0;
};

}  // namespace data
