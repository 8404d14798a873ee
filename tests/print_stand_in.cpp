// Stands in for the print program in end-to-end runs: keeps a copy of each
// print file it is given, numbered in the order of the runs, in the
// directory named by KIT_PRINT_COPIES, and leaves the print file in place.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace fs = std::filesystem;

int main() {
  const char* tempDir = std::getenv("KITTMP");
  const char* copies = std::getenv("KIT_PRINT_COPIES");
  if (tempDir == nullptr || copies == nullptr) {
    std::cerr << "print stand-in: KITTMP and KIT_PRINT_COPIES must be set\n";
    return 2;
  }
  const fs::path source = fs::path(tempDir) / "kitprint.tmp";
  std::error_code ec;
  fs::create_directories(copies, ec);
  int n = 1;
  while (fs::exists(fs::path(copies) / ("print-" + std::to_string(n) + ".tmp"))) ++n;
  const fs::path target = fs::path(copies) / ("print-" + std::to_string(n) + ".tmp");
  if (!fs::exists(source)) {
    // An empty marker still tells the test that the program was started.
    std::ofstream(fs::path(copies) / ("missing-" + std::to_string(n) + ".tmp"));
    return 1;
  }
  fs::copy_file(source, target, ec);
  if (ec) {
    std::cerr << "print stand-in: " << ec.message() << "\n";
    return 1;
  }
  return 0;
}
