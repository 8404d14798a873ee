// kitprint: turns the module's print file into pages on the screen, a text
// file, a PDF document or a printer queue, as its device line asks.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "config/session.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "tools/kitprint/outputs.h"
#include "tools/kitprint/page_layout.h"
#include "tools/kitprint/print_file.h"

namespace {

const char kUsage[] =
    "usage: kitprint [PRINTFILE]\n"
    "\n"
    "Prints the file the suite's programs write for printing. Without PRINTFILE\n"
    "it reads \"kitprint.tmp\" in the operator's temporary directory (KITTMP, else\n"
    "the terminal directory of the session).\n"
    "\n"
    "The file's device line says where the pages go:\n"
    "  (empty) or PANTALLA  the screen: page by page in a pager (PgDn, PgUp,\n"
    "                       arrows, Esc or q leaves); when standard output is\n"
    "                       not a terminal, the pages are written to it as text\n"
    "  NAME.pdf             a PDF document at NAME.pdf (relative to the current\n"
    "                       directory)\n"
    "  PDF                  a PDF document \"kitprint.pdf\" beside the print file\n"
    "  NAME.txt             UTF-8 text at NAME.txt, each page ended by a form feed\n"
    "  anything else        the printer queue of that name, through lp\n"
    "\n"
    "Lines of the print file that cannot be understood are reported on standard\n"
    "error; everything else is printed. Exit status: 0 printed, 1 failure,\n"
    "2 usage error.\n";

bool EndsWithIgnoringCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char a = s[s.size() - suffix.size() + i], b = suffix[i];
    if (std::tolower(static_cast<unsigned char>(a)) != std::tolower(static_cast<unsigned char>(b))) return false;
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string printFile;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "kitprint: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
    if (!printFile.empty()) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    printFile = arg;
  }
  if (printFile.empty()) {
    config::LoadSession();
    printFile = platform::HostPathOrRaw(config::Session().TempDir + "kitprint.tmp");
  }

  const platform::ReadResult read = platform::ReadWholeFile(printFile);
  if (!read.ok()) {
    std::fprintf(stderr, "kitprint: %s: %s\n", printFile.c_str(), read.status.Describe().c_str());
    return 1;
  }
  kitprint::PrintFile file = kitprint::ParsePrintFile(read.bytes);
  for (const auto& p : file.problems)
    std::fprintf(stderr, "kitprint: %s, line %d: %s\n", printFile.c_str(), p.lineNumber, p.message.c_str());
  std::vector<kitprint::Page> pages = kitprint::LayOutPages(file);

  const std::string& device = file.device;
  std::string error;
  bool ok = true;
  if (device.empty() || device == "PANTALLA") {
    if (isatty(STDOUT_FILENO) && isatty(STDIN_FILENO)) {
      kitprint::ShowInPager(pages);
    } else {
      std::string text = kitprint::PagesAsText(pages);
      std::fwrite(text.data(), 1, text.size(), stdout);
    }
  } else if (device == "PDF" || EndsWithIgnoringCase(device, ".pdf")) {
    std::string path = device == "PDF" ? DirectoryOf(printFile) + "kitprint.pdf" : device;
    ok = kitprint::WritePdf(pages, path, error);
    if (ok) std::fprintf(stderr, "kitprint: %zu pages written to %s\n", pages.size(), path.c_str());
  } else if (EndsWithIgnoringCase(device, ".txt")) {
    std::ofstream out(device, std::ios::binary | std::ios::trunc);
    std::string text = kitprint::PagesAsText(pages);
    out << text;
    out.close();
    ok = static_cast<bool>(out);
    if (!ok) error = "cannot write " + device;
  } else {
    ok = kitprint::SendToPrinter(pages, device, error);
  }
  if (!ok) {
    std::fprintf(stderr, "kitprint: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
