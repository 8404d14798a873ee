// The lines of a print file read a block at a time, so that a print file of
// hundreds of megabytes is never held whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kitprint {

class LineReader {
 public:
  // Reads `file` from byte `offset`; the reader does not own the file.
  // Lines are given up to `longest` bytes.
  explicit LineReader(platform::File& file, std::uint64_t offset = 0, std::size_t longest = kLongest);

  // The next line without its "\n" (a "\r" before it stays) and the byte
  // offset where it starts. False at the end of the file and on a read
  // error (then `Status()` says which). A line longer than `longest` comes
  // as its first `longest` bytes and the rest is passed over, so that a
  // file without line ends (a binary one) is not held whole.
  bool Next(std::string_view& line, std::uint64_t& offset);
  static constexpr std::size_t kLongest = std::size_t{1} << 20;
  const platform::FileStatus& Status() const { return status_; }
  // Where the next line starts.
  std::uint64_t Offset() const { return bufferOffset_ + start_; }

 private:
  bool Fill();

  platform::File& file_;
  std::string buffer_;
  std::uint64_t bufferOffset_;  // file offset of buffer_[0]
  std::size_t start_ = 0;       // first byte not returned yet
  std::size_t end_ = 0;         // bytes of buffer_ that hold data
  std::size_t longest_;
  bool atEnd_ = false;
  bool passingOver_ = false;  // the rest of a line longer than `longest_`
  platform::FileStatus status_;
};

}  // namespace kitprint
