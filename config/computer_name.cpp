#include "config/computer_name.h"

#include "platform/system.h"

namespace config {

std::string ComputerName() {
  std::string name = platform::ComputerName();
  if (auto zero = name.find('\0'); zero != std::string::npos) name.resize(zero);
  if (name.size() > 16) name.resize(16);
  return name;
}

}  // namespace config
