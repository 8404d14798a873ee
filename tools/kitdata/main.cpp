// kitdata: makes suite roots, fills them with demo data, and moves records
// in and out of the data files as raw bytes or CSV.
#include <chrono>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/progress_line.h"
#include "platform/system.h"
#include "tools/kitdata/kitdata.h"

namespace {

constexpr const char* kUsage =
    "usage: kitdata init ROOT               make a suite root (suite files, DADES, LOCKS, TMP, INI files)\n"
    "       kitdata demo ROOT [YYYY-MM-DD]  fill a root with demo records dated around that day\n"
    "                                       (default today)\n"
    "       kitdata put [--allow-duplicates] DATAFILE RAWFILE\n"
    "                                       insert the fixed-length records of RAWFILE\n"
    "       kitdata get DATAFILE [RAWFILE]  write every record in key order\n"
    "                                       (standard output without RAWFILE)\n"
    "       kitdata export DATAFILE         write the records as CSV to standard output\n"
    "       kitdata import [--allow-duplicates] DATAFILE CSVFILE\n"
    "                                       insert the records of a CSV file\n"
    "       kitdata migrate ROOT [--replace]\n"
    "                                       copy every data file of ROOT into the server named by KITDB\n"
    "DATAFILE is a data file as the module names it, for example ROOT/DADES/PropietH.\n";

constexpr const char* kDetails =
    "CSV files have a header line of field names (see kitdata export); codes are digits, dates\n"
    "YYYY-MM-DD, amounts euros with a point and two decimals, texts UTF-8. Fields left out of\n"
    "the header are blank or zero. A stored code or date that is not what its field holds (a\n"
    "month 0, bytes that are no digits) is written as # and its bytes in hexadecimal, two digits\n"
    "a byte (#949A808F for a month 0), and read back unchanged.\n"
    "put and import add all the records or none, and say how many they added. They refuse\n"
    "records identical to one already in the file or to an earlier one of the same input (raw:\n"
    "the same bytes; CSV: the same line as kitdata export writes it), naming each one: adding a\n"
    "file twice would count its payments or collections twice. --allow-duplicates adds them.\n"
    "import reads the CSV file a block at a time, so its size does not matter; when standard\n"
    "error is a terminal, an import that takes more than a second shows how far it got there.\n"
    "Exit status: 0 done, 1 failure, 2 usage error.\n"
    "KIT_SUITE_DIR overrides where init finds the installed suite files.\n"
    "\n"
    "With KITDB set to a PostgreSQL connection string (libpq, for example \"host=server\n"
    "dbname=kit\") the data files are tables on that server, in the schema KITDB_SCHEMA\n"
    "(default kit), instead of SQLite files under ROOT.\n"
    "\n"
    "migrate reads the SQLite files ROOT/DADES/*.dat (whatever KITDB says) and copies their\n"
    "records into the server named by KITDB, schema KITDB_SCHEMA, one table per file made\n"
    "from the file's own layout, and prints how many records each file had. It is one\n"
    "transaction: when any file cannot be read or copied, the server keeps none of it. A\n"
    "file that already holds records on the server is refused, unless --replace, which\n"
    "deletes them first; one of another layout is always refused. The records get new\n"
    "positions on the server (positions are never carried over); records with equal keys\n"
    "keep their order. Run it while no program uses the server's files of that root.\n";

// The usage on standard error, after what was wrong when that is known.
int Usage(const std::string& why = {}) {
  if (!why.empty()) std::fprintf(stderr, "kitdata: %s\n", why.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "kitdata: %s\n", what.c_str());
  return 1;
}

// Whether everything written to standard output got there. A write larger
// than the buffer fails inside fwrite and leaves nothing for the flush to
// fail on: the stream's error mark tells.
int OutputWritten() {
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : Fail("standard output: write failed");
}

// The whole of an input file; false with a message naming it and the reason.
bool ReadInput(const std::string& path, std::string& bytes, std::string& error) {
  platform::ReadResult read = platform::ReadWholeFile(path);
  if (!read.ok()) {
    error = path + ": " + read.status.Describe();
    return false;
  }
  bytes = std::move(read.bytes);
  return true;
}

// Whether an input file can be read at all (not missing, not a folder);
// false with a message naming it and the reason.
bool Readable(const std::string& path, std::string& error) {
  platform::FileStatus status;
  std::unique_ptr<platform::File> file = platform::OpenFile(path, platform::kOpenRead, status);
  char first = 0;
  std::size_t got = 0;
  if (file) status = file->ReadAt(0, std::span<char>(&first, 1), got);
  if (status.ok()) return true;
  error = path + ": " + status.Describe();
  return false;
}

// Every line of a failure, then how many records went in (none).
int Added(const kitdata::AddResult& result, const std::string& dataFile) {
  const std::string& where = result.path.empty() ? dataFile : result.path;
  const std::string count =
      std::to_string(result.added) + (result.added == 1 ? " record" : " records") + " added to " + where;
  if (!result.error.empty()) {
    std::string error = result.error;
    for (std::size_t start = 0; start < error.size();) {
      std::size_t end = error.find('\n', start);
      if (end == std::string::npos) end = error.size();
      Fail(error.substr(start, end - start));
      start = end + 1;
    }
    return Fail(count);
  }
  std::printf("%s\n", count.c_str());
  return OutputWritten();
}

int Today() {
  platform::LocalTime t = platform::Now();
  return t.year * 10000 + t.month * 100 + t.day;
}

// "YYYY-MM-DD" -> YYYYMMDD, 0 when malformed.
int ParseDay(const std::string& text) {
  int y = 0, m = 0, d = 0;
  char extra = 0;
  if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &extra) != 3) return 0;
  if (y < 1900 || !std::chrono::year_month_day(std::chrono::year(y), std::chrono::month(static_cast<unsigned>(m)),
                                                std::chrono::day(static_cast<unsigned>(d)))
                       .ok())
    return 0;
  return y * 10000 + m * 100 + d;
}

// Takes the options of put and import out of `args` into `options`; an
// option it does not know, if any.
std::string TakeAddOptions(std::vector<std::string>& args, kitdata::AddOptions& options) {
  for (auto it = args.begin() + 1; it != args.end();) {
    if (*it == "--allow-duplicates") {
      options.allowDuplicates = true;
      it = args.erase(it);
    } else if (it->size() > 1 && (*it)[0] == '-') {
      return *it;
    } else {
      ++it;
    }
  }
  return {};
}

// kitdata import: the file is read block by block, so its size does not
// matter; on a terminal a long import shows how far it got.
int Import(const std::string& dataFile, const std::string& csvFile, const kitdata::AddOptions& options) {
  std::string error;
  if (!Readable(csvFile, error)) return Fail(error);
  kitdata::CsvFile csv(csvFile);
  platform::ProgressLine progress;
  const kitdata::AddResult result = kitdata::ImportCsv(
      dataFile, csv, options,
      [&](std::string_view stage, std::size_t done, std::size_t total) {
        if (!progress.Due()) return;
        std::string text = std::string(stage) + " records " + std::to_string(done);
        if (total > 0) text += "/" + std::to_string(total);
        progress.Show(text);
      },
      [&](const std::string& refusal) {
        progress.Clear();
        Fail(refusal);
      });
  progress.Clear();
  return Added(result, dataFile);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string command = args[0];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    std::fputs(kDetails, stdout);
    return 0;
  }
  kitdata::AddOptions options;
  if (command == "put" || command == "import") {
    if (std::string unknown = TakeAddOptions(args, options); !unknown.empty()) return Usage("unknown option " + unknown);
  }
  std::string error;
  if (command == "init" && args.size() == 2) {
    std::string lines;
    error = kitdata::InitRoot(args[1], Today(), lines);
    if (!error.empty()) return Fail(error);
    std::fputs(lines.c_str(), stdout);
    return OutputWritten();
  }
  if (command == "demo" && (args.size() == 2 || args.size() == 3)) {
    int day = args.size() == 3 ? ParseDay(args[2]) : Today();
    if (day == 0) return Usage("not a day of the calendar (YYYY-MM-DD): " + args[2]);
    error = kitdata::FillDemo(args[1], day);
    return error.empty() ? 0 : Fail(error);
  }
  if (command == "put" && args.size() == 3) {
    std::string raw;
    if (!ReadInput(args[2], raw, error)) return Fail(error);
    return Added(kitdata::PutRaw(args[1], raw, options), args[1]);
  }
  if (command == "get" && args.size() == 3) {
    error = kitdata::GetRawToFile(args[1], args[2]);
    return error.empty() ? 0 : Fail(error);
  }
  if (command == "get" && args.size() == 2) {
    std::string raw;
    error = kitdata::GetRaw(args[1], raw);
    if (!error.empty()) return Fail(error);
    std::fwrite(raw.data(), 1, raw.size(), stdout);
    return OutputWritten();
  }
  if (command == "export" && args.size() == 2) {
    // Written as it is read: a file of any size is exported in little memory.
    error = kitdata::ExportCsv(args[1], [](std::string_view line) {
      return std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
    });
    if (!error.empty()) return Fail(error);
    return OutputWritten();
  }
  if (command == "import" && args.size() == 3) return Import(args[1], args[2], options);
  if (command == "migrate" && (args.size() == 2 || (args.size() == 3 && args[2] == "--replace"))) {
    std::vector<kitdata::MigratedFile> copied;
    error = kitdata::MigrateRoot(args[1], args.size() == 3, copied);
    if (!error.empty()) return Fail(error);
    for (const kitdata::MigratedFile& f : copied)
      std::printf("%s: %lld records\n", f.source.c_str(), static_cast<long long>(f.records));
    return OutputWritten();
  }
  for (const char* known : {"init", "demo", "put", "get", "export", "import", "migrate"})
    if (command == known) return Usage("wrong arguments for " + command);
  return Usage("unknown command " + command);
}
