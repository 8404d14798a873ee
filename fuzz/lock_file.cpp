// A program lock file, read by taking and releasing a lock in it.
// Input: a type byte (even: a key lock, odd: a file lock), the lengths of
// the lower and upper keys and their bytes, this workstation's identity
// (the 19 bytes of "LOCKS.TMP"), then the lock file's bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/session.h"
#include "data/locks.h"
#include "fuzz/fuzz_check.h"

namespace {

std::string& Root() {
  static std::string root;
  return root;
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string Bytes(std::size_t count) {
    std::string out;
    while (out.size() < count && at_ < size_) out += static_cast<char>(data_[at_++]);
    return out;
  }
  std::string Rest() { return Bytes(size_ - at_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::string pattern = (base / "kitlockfuzzXXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  Root() = pattern + "/";
  std::filesystem::create_directories(Root() + "LOCKS");
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(Root(), ec);
  });
  config::Session().RootDir = Root();
  config::Session().TempDir = Root();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::string type = in.Byte() % 2 == 0 ? "K" : "F";
  const std::size_t lowerLength = in.Byte() % 41, upperLength = in.Byte() % 41;
  const std::string lower = in.Bytes(lowerLength), upper = in.Bytes(upperLength);
  Write(Root() + "LOCKS.TMP", in.Bytes(19));
  Write(Root() + "LOCKS/FUZZ.lck", in.Rest());
  data::ResetLocks();
  data::Locks().LockWaitMode = 'S';  // never wait: a conflict gives -1 at once
  const int taken = data::AcquireLock("FUZZ", type, lower, upper);
  FUZZ_CHECK(taken == 0 || taken == -1);
  const int released = data::ReleaseLock("FUZZ");
  FUZZ_CHECK(released == 0 || released == -1);
  return 0;
}
