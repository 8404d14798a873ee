#include "data/key_walk.h"

#include "data/files.h"

namespace data {

bool EndsWalk(std::int16_t status) { return status == kStatusEndOfFile || status == kStatusKeyNotFound; }

KeyWalk::KeyWalk(std::int16_t fileId, std::int16_t keyNumber, std::string_view from, InRange inRange)
    : fileId_(fileId), inRange_(std::move(inRange)) {
  Take(ReadByKey(fileId, keyNumber, from, 1));
}

void KeyWalk::Next() {
  if (valid_) Take(StepRecords(fileId_, 1));
}

void KeyWalk::Take(std::int16_t status) {
  valid_ = status == 0 && (!inRange_ || inRange_());
  status_ = status == 0 || EndsWalk(status) ? 0 : status;
}

std::string KeyWalk::FailureText() const { return data::FailureText(fileId_, status_); }

}  // namespace data
