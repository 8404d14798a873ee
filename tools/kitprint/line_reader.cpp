#include "tools/kitprint/line_reader.h"

#include <cstring>
#include <span>

namespace kitprint {
namespace {

constexpr std::size_t kBlock = 256 * 1024;

}  // namespace

LineReader::LineReader(platform::File& file, std::uint64_t offset, std::size_t longest)
    : file_(file), buffer_(kBlock, '\0'), bufferOffset_(offset), longest_(longest) {}

// Moves the unread bytes to the front and reads behind them; a line longer
// than the buffer makes it grow.
bool LineReader::Fill() {
  if (atEnd_) return false;
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    bufferOffset_ += start_;
    end_ -= start_;
    start_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  std::size_t got = 0;
  status_ = file_.ReadAt(bufferOffset_ + end_, std::span<char>(buffer_.data() + end_, buffer_.size() - end_), got);
  if (!status_.ok() || got == 0) {
    atEnd_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool LineReader::Next(std::string_view& line, std::uint64_t& offset) {
  while (passingOver_) {
    const void* nl = start_ < end_ ? std::memchr(buffer_.data() + start_, '\n', end_ - start_) : nullptr;
    if (nl != nullptr) {
      start_ = static_cast<std::size_t>(static_cast<const char*>(nl) - buffer_.data()) + 1;
      passingOver_ = false;
      break;
    }
    start_ = end_;
    if (!Fill()) return false;
  }
  std::size_t searched = start_;
  for (;;) {
    const void* nl = searched < end_ ? std::memchr(buffer_.data() + searched, '\n', end_ - searched) : nullptr;
    if (nl != nullptr) {
      const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nl) - buffer_.data());
      offset = bufferOffset_ + start_;
      line = std::string_view(buffer_.data() + start_, at - start_);
      start_ = at + 1;
      return true;
    }
    const std::size_t pending = end_ - start_;
    if (pending >= longest_) {
      offset = bufferOffset_ + start_;
      line = std::string_view(buffer_.data() + start_, longest_);
      start_ += longest_;
      passingOver_ = true;
      return true;
    }
    if (!Fill()) {
      if (!status_.ok() || pending == 0) return false;
      // The last line has no line end.
      offset = bufferOffset_ + start_;
      line = std::string_view(buffer_.data() + start_, end_ - start_);
      start_ = end_;
      return true;
    }
    searched = start_ + pending;
  }
}

}  // namespace kitprint
