#include "app/working_file.h"

#include "config/session.h"
#include "platform/host_path.h"

namespace app {

WorkingFile& Working() {
  static WorkingFile file;
  return file;
}

bool WorkingFile::Open() {
  Close();
  const std::string path = platform::HostPathOrRaw(config::Session().TempDir + "PressupH.tmp");
  file_ = std::fopen(path.c_str(), "w+b");
  return file_ != nullptr;
}

void WorkingFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

std::int32_t WorkingFile::Count() const {
  if (file_ == nullptr) return 0;
  std::fseek(file_, 0, SEEK_END);
  return static_cast<std::int32_t>(std::ftell(file_) / static_cast<long>(records::kWorkingLineSize));
}

bool WorkingFile::Read(std::int32_t n, records::WorkingLine& line) const {
  if (file_ == nullptr || n < 1) return false;
  std::string bytes(records::kWorkingLineSize, ' ');
  if (std::fseek(file_, static_cast<long>(n - 1) * static_cast<long>(records::kWorkingLineSize), SEEK_SET) != 0)
    return false;
  if (std::fread(bytes.data(), 1, bytes.size(), file_) != bytes.size()) return false;
  line = records::WorkingLine::Decode(bytes);
  return true;
}

void WorkingFile::Write(std::int32_t n, const records::WorkingLine& line) {
  if (file_ == nullptr || n < 1) return;
  const std::string bytes = line.Encode();
  std::fseek(file_, static_cast<long>(n - 1) * static_cast<long>(records::kWorkingLineSize), SEEK_SET);
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  std::fflush(file_);
}

std::vector<records::WorkingLine> WorkingFile::Lines() const {
  std::vector<records::WorkingLine> lines;
  records::WorkingLine line;
  for (std::int32_t n = 1; Read(n, line); ++n) lines.push_back(line);
  return lines;
}

}  // namespace app
