// The machine's network name, as the program lock files record it.
#pragma once

#include <string>

namespace config {

// The computer name as the suite asks for it with a 17-byte buffer: up to
// its first zero byte and at most 16 characters; empty when unknown.
std::string ComputerName();

}  // namespace config
