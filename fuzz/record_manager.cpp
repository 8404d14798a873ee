// The record manager behind BTRCALL, fed a creation record and a sequence of
// operations on a fresh file. Input: a 2-byte little-endian length and the
// creation record (a dictionary file's layout), then operations, each:
//   operation byte (an index into kOperations; the high bit adds the lock
//   bias), key number byte, data length byte, the data bytes, key length
//   byte, the key bytes.
// Buffers are exactly as long as the lengths passed, so that the sanitizer
// sees any write past what a caller offered.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "data/btrcall.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr std::uint16_t kOperations[] = {2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                         12, 13, 15, 19, 20, 21, 22, 23, 27, 1};
constexpr std::uint16_t kClose = 1, kOpen = 0, kCreate = 14, kReset = 28, kStat = 15;
constexpr std::size_t kMaxOperations = 48;

std::string& FilePath() {
  static std::string path;
  return path;
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // `count` bytes, zeros past the end of the input.
  std::vector<char> Bytes(std::size_t count) {
    std::vector<char> out(count, '\0');
    for (std::size_t i = 0; i < count && at_ < size_; ++i) out[i] = static_cast<char>(data_[at_++]);
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void RemoveFiles() {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal", ".rlk"})
    std::filesystem::remove(FilePath() + suffix, ec);
}

std::int16_t Call(std::uint16_t op, std::vector<char>& block, std::vector<char>& data, std::vector<char>& key,
                  std::uint8_t keyLength, std::int8_t keyNumber) {
  auto length = static_cast<std::uint32_t>(data.size());
  const std::int16_t status = BTRCALL(op, block.data(), data.empty() ? nullptr : data.data(), &length,
                                      key.data(), keyLength, keyNumber);
  // What comes back fits the buffer offered.
  FUZZ_CHECK(length <= data.size() || data.empty());
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A memory file system when there is one: every write waits for the disk.
  std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::string pattern = (base / "kitfuzzXXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  FilePath() = pattern + "/FUZZ.dat";
  static const std::string dir = pattern;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  Input in(bytes, size);
  const std::size_t creationLength = in.Byte() | in.Byte() << 8;
  std::vector<char> creation = in.Bytes(std::min<std::size_t>(creationLength, 1536));
  const std::size_t recordLength =
      creation.size() >= 2
          ? base::ReadLe<std::uint16_t>(creation.data())
          : 0;
  RemoveFiles();
  std::vector<char> block(128, '\0');
  std::vector<char> key(256, '\0');
  const std::string& path = FilePath();
  std::copy(path.begin(), path.end(), key.begin());
  const auto pathLength = static_cast<std::uint8_t>(path.size());
  creation.resize(1536, ' ');
  if (Call(kCreate, block, creation, key, pathLength, -1) != 0) return 0;
  std::vector<char> none;
  std::fill(block.begin(), block.end(), '\0');
  std::vector<char> owner(5, '\0');
  FUZZ_CHECK(Call(kOpen, block, owner, key, pathLength, 0) == 0);

  for (std::size_t n = 0; n < kMaxOperations && !in.Empty(); ++n) {
    const std::uint8_t pick = in.Byte();
    std::uint16_t op = kOperations[pick % std::size(kOperations)];
    const bool read = (op >= 5 && op <= 13) || op == 22 || op == 23;
    if ((pick & 0x80) && read) op = static_cast<std::uint16_t>(op + 200);
    const auto keyNumber = static_cast<std::int8_t>(static_cast<std::int8_t>(in.Byte()) % 26);
    const std::uint8_t lengthPick = in.Byte();
    std::size_t length =
        lengthPick == 255 ? 1536 : lengthPick % (std::min<std::size_t>(recordLength, 4096) + 17);
    if (op == kStat && lengthPick % 2 == 0) length = 1536;
    std::vector<char> data = in.Bytes(length);
    const std::uint8_t keyLength = in.Byte();
    std::vector<char> keyValue = in.Bytes(keyLength);
    keyValue.resize(256, '\0');
    if (op == kClose) {
      Call(kClose, block, none, keyValue, 0, 0);
      std::fill(block.begin(), block.end(), '\0');
      FUZZ_CHECK(Call(kOpen, block, owner, key, pathLength, 0) == 0);
      continue;
    }
    Call(op, block, data, keyValue, keyLength, keyNumber);
  }
  Call(kReset, block, none, key, 0, 0);
  return 0;
}
