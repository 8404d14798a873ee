// The command line of "repquota batch": which properties, the options of
// the parameter and print screens (from the command line or a small INI
// file), where the print files, PDF documents and figures go, how long a
// budget held by another workstation is waited for, and whether data files
// are written at all.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/report.h"

namespace app {

// Property codes first to last (one code: first == last).
struct CodeRange {
  int first = 0;
  int last = 0;
  bool operator==(const CodeRange&) const = default;
};

// The screens' options as their fields would hold them, typed.
struct ScreenOptions {
  std::string date;                       // screen 1 field 1; empty: the working date
  std::array<std::string, 5> presets{};   // screen 1 fields 3 to 7 (F5 to F9)
  std::string distributionCopies = "1";  // screen 3 field 1: a number or "P"
  std::string budgetCopies = "1";        // screen 3 field 2
  std::string periodicity = "0";         // screen 3 field 3: 0 leaves the receipts alone
  std::string receiptConcept = "1";           // screen 3 field 4: the receipt slot
  bool operator==(const ScreenOptions&) const = default;
};

// Where the screen options given in an options file came from, so that a
// wrong value is named where the operator wrote it.
struct OptionsFileOrigin {
  std::string path;                   // the options file; empty: none
  std::map<std::string, int> lines;   // option name -> line of the file
  bool operator==(const OptionsFileOrigin&) const = default;
};

struct BatchOptions {
  std::vector<CodeRange> properties;  // empty: every property
  ScreenOptions screens;
  OptionsFileOrigin optionsFile;  // which of `screens` the file gave
  std::string outDir;   // print files <code>.prn; absolute
  std::string pdfDir;   // empty: no PDF documents
  std::string csvDir;   // empty: no figures
  int lockWaitSeconds = 10;
  bool dryRun = false;
};

// A dry run's results go to a folder of this name inside each folder
// given: a preview in the folders of a real run neither replaces that
// run's listings, documents and figures nor passes for them.
inline constexpr const char* kDryRunFolder = "dry-run";

// The options with the folders the results really go to: those given, or
// for a dry run their folders kDryRunFolder.
BatchOptions WithResultFolders(BatchOptions options);

struct BatchArguments {
  BatchOptions options;
  bool help = false;
  std::string error;  // what is wrong with the arguments (or the options file)
};

// The arguments after "batch". Relative paths are taken from `startDir`
// (the directory repquota was started in). An options file (--options) is
// read at once, its section [batch] giving what the command line leaves
// out.
BatchArguments ParseBatchArguments(const std::vector<std::string>& args, const std::string& startDir);

// The selection "1", "3-7", "1,4,10-12" as ranges; empty with `error` set
// when it is not one.
std::vector<CodeRange> ParsePropertySelection(std::string_view text, std::string& error);

// Whether the screens' options are what their fields accept (the same
// checks as typing them), in the session's date settings: an empty text
// when they are, otherwise what is wrong, naming the option as given: on
// the command line, or in the options file with its line.
std::string CheckScreenOptions(const ScreenOptions& options, const OptionsFileOrigin& origin = {});

// The report's parameters from the options, as screens 1 and 3 set them
// (the date left empty becomes `workDate`, a packed date; a two-digit
// year is read against `thisYear`).
ReportParameters ParametersFrom(const ScreenOptions& options, const std::string& workDate, int thisYear);

// The text of `--help` for the batch.
extern const char* const kBatchUsage;

}  // namespace app
