// kitprint: turns the module's print file into pages on the screen, a text
// file, a PDF document or a printer queue, as its device line asks.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <iostream>
#include <string>

#include "config/session.h"
#include "base/cp850.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/progress_line.h"
#include "platform/system.h"
#include "platform/terminal_type.h"
#include "tools/kitprint/outputs.h"
#include "tools/kitprint/page_stream.h"
#include "tools/kitprint/texts.h"

namespace {

const char kUsage[] =
    "usage: kitprint [-o FILE.pdf|FILE.txt] [PRINTFILE]\n"
    "\n"
    "Prints the file the suite's programs write for printing. Without PRINTFILE\n"
    "it reads \"kitprint.tmp\" in the operator's temporary directory (KITTMP, else\n"
    "the terminal directory of the session).\n"
    "\n"
    "  -o FILE.pdf   write the pages as a PDF document FILE.pdf, whatever the\n"
    "                device line says\n"
    "  -o FILE.txt   write them as UTF-8 text, each page ended by a form feed\n"
    "\n"
    "Otherwise the file's device line says where the pages go:\n"
    "  (empty) or PANTALLA  the screen: page by page in a pager (PgDn, PgUp,\n"
    "                       arrows, Esc or q leaves); when standard output is\n"
    "                       not a terminal, the pages are written to it as text\n"
    "  NAME.pdf             a PDF document at NAME.pdf (relative to the current\n"
    "                       directory)\n"
    "  PDF                  a PDF document \"kitprint.pdf\" beside the print file\n"
    "  NAME.txt             UTF-8 text at NAME.txt, each page ended by a form feed\n"
    "  anything else        the printer queue of that name, through lp\n"
    "\n"
    "A document is written under a temporary name beside its place and takes\n"
    "it only once complete: a failure or an interruption leaves the document\n"
    "that was there before.\n"
    "\n"
    "When a document was written and kitprint runs on a terminal, the path is\n"
    "shown and a key gives the terminal back (to the program that printed).\n"
    "The pager and that notice speak the session's language (catalogue\n"
    "LOCALE/KITPRINT.LNG under KITROOT).\n"
    "\n"
    "Lines of the print file that cannot be understood are reported on standard\n"
    "error; everything else is printed. The file is read page by page, so its\n"
    "size does not matter; when standard error is a terminal, a listing that\n"
    "takes more than a second shows how far it got there. Exit status:\n"
    "0 printed, 1 failure, 2 usage error.\n";

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

bool Interactive() { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO); }

// Tells the operator where the listing went and waits for one key, so that
// the path is read before the printing program takes the terminal back.
void ShowSavedFile(const std::string& path) {
  std::error_code ec;
  const std::string shown = std::filesystem::absolute(path, ec).string();
  std::printf("\n%s\n%s\n", base::Cp850ToUtf8(kitprint::SavedNotice(ec ? path : shown)).c_str(),
              base::Cp850ToUtf8(kitprint::PressAKey()).c_str());
  std::fflush(stdout);
  termios saved{};
  const bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (raw) {
    termios oneKey = saved;
    oneKey.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    oneKey.c_cc[VMIN] = 1;
    oneKey.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &oneKey);
  }
  // Only a key pressed once the notice is up answers it, not one typed
  // while the document was being written.
  tcflush(STDIN_FILENO, TCIFLUSH);
  char key = 0;
  while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  // A key that sends a sequence (an arrow) leaves nothing behind.
  tcflush(STDIN_FILENO, TCIFLUSH);
}

// What the command line asks for.
struct Arguments {
  std::string printFile;  // empty: kitprint.tmp in the temporary directory
  std::string output;     // -o: the document to write instead of the device
};

// Reads the command line into `args`; an exit status when the program
// ends here (help asked for, a usage error).
std::optional<int> ReadArguments(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "-o") {
      if (i + 1 >= argc || !args.output.empty()) {
        std::fprintf(stderr, "kitprint: -o needs one FILE.pdf or FILE.txt\n%s", kUsage);
        return 2;
      }
      args.output = argv[++i];
      if (!EndsWithIgnoringCase(args.output, ".pdf") && !EndsWithIgnoringCase(args.output, ".txt")) {
        std::fprintf(stderr, "kitprint: -o %s: the name must end in .pdf or .txt\n%s", args.output.c_str(), kUsage);
        return 2;
      }
      continue;
    }
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "kitprint: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
    if (!args.printFile.empty()) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    args.printFile = arg;
  }
  return std::nullopt;
}

bool IsScreen(const std::string& device) { return device.empty() || device == "PANTALLA"; }

// The pages in the pager, on a terminal that can show it.
int ShowOnTerminal(platform::File& in, const kitprint::PrintFileIndex& index) {
  std::string why;
  if (!platform::CanShowScreens(platform::GetEnv("TERM"), why)) {
    std::fprintf(stderr, "kitprint: the pager cannot run here: %s\n"
                 "kitprint: -o FILE.txt or -o FILE.pdf writes them to a file instead\n", why.c_str());
    return 1;
  }
  kitprint::ShowInPager(kitprint::IndexedPages(in, index));
  return 0;
}

// Where the pages go for `device` other than the pager: standard output,
// a document (its path in `document`) or a printer queue; nullptr with
// `error` set when that cannot be opened.
std::unique_ptr<kitprint::PageOutput> OpenOutput(const std::string& device, const std::string& printFile,
                                                 std::string& document, std::string& error) {
  if (IsScreen(device)) return kitprint::TextToStream(stdout, "standard output");
  if (device == "PDF" || EndsWithIgnoringCase(device, ".pdf")) {
    document = device == "PDF" ? DirectoryOf(printFile) + "kitprint.pdf" : device;
    return kitprint::PdfToFile(document, error);
  }
  if (EndsWithIgnoringCase(device, ".txt")) {
    document = device;
    return kitprint::TextToFile(document, error);
  }
  return kitprint::TextToPrinter(device, error);
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> status = ReadArguments(argc, argv, args)) return *status;
  // The session gives the language, the suite root and the temporary directory.
  config::LoadSession();
  const std::string printFile =
      args.printFile.empty() ? platform::HostPathOrRaw(config::Session().TempDir + "kitprint.tmp") : args.printFile;
  // On a terminal, a long listing shows how far it got.
  platform::ProgressLine progress;

  platform::FileStatus status;
  std::unique_ptr<platform::File> in = platform::OpenFile(printFile, platform::kOpenRead, status);
  auto readFailed = [&](const platform::FileStatus& failure) {
    progress.Clear();
    std::fprintf(stderr, "kitprint: %s: %s\n", printFile.c_str(), failure.Describe().c_str());
    return 1;
  };
  if (!in) return readFailed(status);
  std::uint64_t size = 0;
  in->Size(size);

  // First the whole file once: its problems, its device and where each page
  // begins; then the pages one at a time to where they go.
  kitprint::PrintFileIndex index;
  status = kitprint::IndexPrintFile(
      *in, index,
      [&](const kitprint::PrintFileProblem& p) {
        progress.Clear();
        std::fprintf(stderr, "kitprint: %s, line %d: %s\n", printFile.c_str(), p.lineNumber, p.message.c_str());
      },
      [&](std::uint64_t done) {
        if (progress.Due() && size > 0) progress.Show("reading " + std::to_string(done * 100 / size) + "%");
      });
  if (!status.ok()) return readFailed(status);
  const std::size_t pageCount = index.pages.size();

  const std::string& device = args.output.empty() ? index.device : args.output;
  if (IsScreen(device) && Interactive()) {
    progress.Clear();
    return ShowOnTerminal(*in, index);
  }
  std::string error;
  std::string written;  // the document written, when one was
  std::unique_ptr<kitprint::PageOutput> out = OpenOutput(device, printFile, written, error);
  bool ok = out != nullptr;
  std::size_t done = 0;
  if (ok) {
    status = kitprint::StreamPages(*in, std::nullopt, [&](kitprint::Page&& page) {
      if (!out->Add(page)) return ok = false;
      ++done;
      if (progress.Due()) progress.Show("page " + std::to_string(done) + "/" + std::to_string(pageCount));
      return true;
    });
    if (!status.ok()) return readFailed(status);
    if (ok) ok = out->Finish();
    if (!ok) error = out->Error();
  }
  progress.Clear();
  if (!ok) {
    std::fprintf(stderr, "kitprint: %s\n", error.c_str());
    return 1;
  }
  if (!written.empty()) {
    if (Interactive())
      ShowSavedFile(written);
    else
      std::fprintf(stderr, "kitprint: %zu page%s written to %s\n", pageCount, pageCount == 1 ? "" : "s",
                   written.c_str());
  }
  return 0;
}
