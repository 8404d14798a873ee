// The working budget: TempDir + "PressupH.tmp", fixed records of 44 bytes
// numbered from 1, one per budget line in the order the lines were built.
//
// The file goes through the file-system seam, and every failure to make,
// write or read it is kept: the first one stays in Failure(), a message
// naming the file and the system's reason, until the next Open. A budget
// built or edited through a failing file must not be saved.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/records.h"
#include "platform/file_system.h"

namespace app {

class WorkingFile {
 public:
  // Opens the file empty (it was deleted before); false when it cannot be
  // made.
  bool Open();
  void Close();

  std::int32_t Count();
  // Record n (from 1); false past the end and on a failure.
  bool Read(std::int32_t n, records::WorkingLine& line);
  // False on a failure.
  bool Write(std::int32_t n, const records::WorkingLine& line);
  bool Append(const records::WorkingLine& line) { return Write(Count() + 1, line); }
  // Records n, n + 1, ... in one write; false on a failure.
  bool Write(std::int32_t n, const std::vector<records::WorkingLine>& lines);
  bool Append(const std::vector<records::WorkingLine>& lines) { return Write(Count() + 1, lines); }
  // Every record in order, read in one piece (those before a failure).
  std::vector<records::WorkingLine> Lines();

  // The first failure since Open; empty while everything went well.
  const std::string& Failure() const { return failure_; }
  bool Failed() const { return !failure_.empty(); }

  // The suite path of the file, as messages name it.
  static std::string SuitePath();

 private:
  enum class Action { kMake, kWrite, kRead };
  void Fail(Action action, const platform::FileStatus& status);

  std::unique_ptr<platform::File> file_;
  std::string failure_;
};

}  // namespace app
