// The working budget: TempDir + "PressupH.tmp", fixed records of 44 bytes
// numbered from 1, one per budget line in the order the lines were built.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/records.h"

namespace app {

class WorkingFile {
 public:
  // Opens the file empty (it was deleted before); false when it cannot be made.
  bool Open();
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  std::int32_t Count() const;
  // Record n (from 1); false past the end.
  bool Read(std::int32_t n, records::WorkingLine& line) const;
  void Write(std::int32_t n, const records::WorkingLine& line);
  void Append(const records::WorkingLine& line) { Write(Count() + 1, line); }
  // Every record in order.
  std::vector<records::WorkingLine> Lines() const;

 private:
  std::FILE* file_ = nullptr;
};

// The run's working file.
WorkingFile& Working();

}  // namespace app
