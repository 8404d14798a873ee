// For tests: the real record manager, except for the calls a test makes
// fail. Installed for the life of the object; a call is named by the file
// (0 for the transaction calls, which name none), the operation (without
// the lock bias) and its number among such calls (1 for the first).
//
//   data::testing::FailingRecordManager manager;
//   manager.Fail(513, 6, 3, 2);  // the third get-next on file 513: I/O error
#pragma once

#include <cstdint>
#include <map>
#include <tuple>

#include "data/btrcall.h"
#include "data/files.h"

namespace data::testing {

class FailingRecordManager {
 public:
  FailingRecordManager() : previous_(SetRecordManager(&Entry)) { Current() = this; }
  ~FailingRecordManager() {
    SetRecordManager(previous_);
    Current() = nullptr;
  }
  FailingRecordManager(const FailingRecordManager&) = delete;
  FailingRecordManager& operator=(const FailingRecordManager&) = delete;

  void Fail(std::int16_t fileId, std::uint16_t operation, int nth, std::int16_t status) {
    failures_[{fileId, operation, nth}] = status;
  }
  // Calls seen so far (failed ones included).
  int Calls(std::int16_t fileId, std::uint16_t operation) const {
    const auto it = calls_.find({fileId, operation});
    return it == calls_.end() ? 0 : it->second;
  }

 private:
  static FailingRecordManager*& Current() {
    static FailingRecordManager* current = nullptr;
    return current;
  }

  // The open file whose position block this is; 0 for none.
  static std::int16_t FileOf(const void* positionBlock) {
    for (int i = 1; i <= kFileSlots; ++i) {
      const FileSlot& s = FileTable()[static_cast<std::size_t>(i)];
      if (s.FileId != 0 && s.PositionBlock.data() == positionBlock) return s.FileId;
    }
    return 0;
  }

  static std::int16_t Entry(std::uint16_t operation, void* positionBlock, void* dataBuffer, std::uint32_t* dataLength,
                            void* keyBuffer, std::uint8_t keyLength, std::int8_t keyNumber) {
    FailingRecordManager& self = *Current();
    const std::uint16_t op = static_cast<std::uint16_t>(operation % 100);
    const std::int16_t file = FileOf(positionBlock);
    const int n = ++self.calls_[{file, op}];
    if (const auto it = self.failures_.find({file, op, n}); it != self.failures_.end()) return it->second;
    RecordManagerEntry real = self.previous_ ? self.previous_ : &BTRCALL;
    return real(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
  }

  RecordManagerEntry previous_;
  std::map<std::tuple<std::int16_t, std::uint16_t, int>, std::int16_t> failures_;
  std::map<std::pair<std::int16_t, std::uint16_t>, int> calls_;
};

}  // namespace data::testing
