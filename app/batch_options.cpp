#include "app/batch_options.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>

#include "app/screen_checks.h"
#include "base/strings.h"
#include "config/ini.h"
#include "base/cp850.h"
#include "format/dates.h"
#include "platform/file_system.h"

namespace app {

const char* const kBatchUsage =
    "Usage: repquota batch [OPTION]... [CODES]...\n"
    "Prepares the budget of every property, or of the properties CODES, without\n"
    "a terminal: each property's working budget is built from its stored budget\n"
    "as the dialogue builds it, nothing is edited, the stored budget is saved,\n"
    "the receipts are updated when asked, and the two listings are printed.\n"
    "\n"
    "CODES are property codes (\"7\"), ranges (\"1-20\") or lists of them\n"
    "(\"1,4,10-12\"); a code of a range that no property has is passed over, a\n"
    "single code that none has is reported.\n"
    "\n"
    "The options of the parameter and print screens (defaults in brackets):\n"
    "  --date DATE                budget date as typed on the first screen\n"
    "                             [the working date]\n"
    "  --f5 .. --f9 VARIATION     the variation presets; the batch edits no line,\n"
    "                             so they are checked and otherwise unused\n"
    "  --distribution-copies N    copies of the distribution listing, or P for\n"
    "                             one per owner [1]\n"
    "  --budget-copies N          copies of the budget listing, or P [1]\n"
    "  --periodicity N            periodicity written into the owners' receipt\n"
    "                             slot; 0 leaves the receipts alone [0]\n"
    "  --concept N                the receipt concept (slot) 1 to 8; it must be\n"
    "                             of the funds-provision kind [1]\n"
    "  --options FILE             read these options from section [batch] of an\n"
    "                             INI file (keys date, f5 .. f9,\n"
    "                             distribution-copies, budget-copies, periodicity,\n"
    "                             concept, each once; anything else there is\n"
    "                             refused); the command line has the last word\n"
    "\n"
    "Where the results go:\n"
    "  --out DIR         the print file of each property, DIR/<code>.prn [.]\n"
    "  --pdf DIR         also one PDF document per property, DIR/<code>.pdf,\n"
    "                    written by the print program KITPRINT of KITEXE\n"
    "  --csv DIR         the figures for a spreadsheet: DIR/<code>-distribution.csv\n"
    "                    (owner, name, department, share of each column, total,\n"
    "                    issued, monthly, quarterly) and DIR/<code>-budget.csv\n"
    "                    (code, description, column, spent, variation, budget);\n"
    "                    UTF-8, a header row, amounts in euros with a point\n"
    "  --lock-wait SECONDS\n"
    "                    how long to wait for a budget that another workstation\n"
    "                    holds before passing over the property, or for any\n"
    "                    other program lock (a property's owners) before the\n"
    "                    property fails [10]\n"
    "  --dry-run         work out and print everything, write no data file (no\n"
    "                    stored budget, no receipt slot); its results go to a\n"
    "                    folder dry-run inside each folder given (DIR/dry-run/\n"
    "                    <code>.prn and so on), so that a preview never replaces\n"
    "                    nor passes for a real run's results; the program locks\n"
    "                    are still taken, so that no budget is read while it is\n"
    "                    saved\n"
    "  -h, --help        this text\n"
    "\n"
    "Each property's budget lock is taken as the dialogue takes it; the data\n"
    "layer's notices (a record or a lock being waited for) go to standard error,\n"
    "and so does a progress line when standard error is a terminal that can\n"
    "erase a line (not TERM=dumb). At the end\n"
    "a summary goes to standard output: one row per property (code, name,\n"
    "owners, budget total, adjustment, receipts updated (in a dry run: receipts\n"
    "to update), result), then what the checks found: coefficients of a column\n"
    "in use that do not add up to its total, owners without any coefficient,\n"
    "owners with no months left to issue, budget lines in a column without\n"
    "owners.\n"
    "\n"
    "Exit status:\n"
    "  0    every property done, and the checks found nothing\n"
    "  1    a property was passed over (its budget held by another workstation),\n"
    "       failed or was not found, the others done; or the batch could not start\n"
    "       (suite root, temporary folder in use or taking no file, a data file or\n"
    "       folder that cannot be used, no property with a code asked for), or its\n"
    "       summary could not be written\n"
    "  2    wrong arguments or options file\n"
    "  4    every property done, but the checks found data to look at\n"
    "  128+N  ended by signal N (SIGTERM, SIGINT, SIGHUP); the summary is still\n"
    "       written: the property the batch was on is \"stopped\", saying what of\n"
    "       it was written, and those it did not come to are \"not run\"\n";

namespace {

namespace fs = std::filesystem;


std::optional<int> WholeNumber(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string Absolute(const std::string& path, const std::string& startDir) {
  const fs::path p(path);
  std::string absolute = (p.is_absolute() ? p : fs::path(startDir) / p).lexically_normal().string();
  if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

// The screen options by their names on the command line and in the file.
std::string* ScreenOption(ScreenOptions& o, std::string_view name) {
  if (name == "date") return &o.date;
  if (name.size() == 2 && name[0] == 'f' && name[1] >= '5' && name[1] <= '9')
    return &o.presets[static_cast<std::size_t>(name[1] - '5')];
  if (name == "distribution-copies") return &o.distributionCopies;
  if (name == "budget-copies") return &o.budgetCopies;
  if (name == "periodicity") return &o.periodicity;
  if (name == "concept") return &o.receiptConcept;
  return nullptr;
}

constexpr std::string_view kScreenOptionNames[] = {"date", "f5", "f6", "f7", "f8", "f9", "distribution-copies",
                                                   "budget-copies", "periodicity", "concept"};

// Section [batch] of an options file into `o`: every line a known key with
// a value, each key once. Anything else is refused naming the line: a key
// mistyped or a line cut would otherwise leave its option at the default
// without a word (a batch without the receipt update that was meant).
std::string ReadOptionsFile(const std::string& path, BatchOptions& o) {
  const platform::ReadResult file = platform::ReadWholeFile(path);
  if (!file.ok()) return "the options file " + path + " cannot be read: " + file.status.Describe();
  const std::optional<std::vector<config::IniLine>> lines = config::IniSectionLines(file.bytes, "batch");
  if (!lines) return "the options file " + path + " has no section [batch]";
  o.optionsFile.path = path;
  for (const config::IniLine& line : *lines) {
    const std::string at = "the options file " + path + ", line " + std::to_string(line.number) + ": ";
    std::string name(base::Trim(line.key, " \t"));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string* field = ScreenOption(o.screens, name);
    if (!line.hasEquals || field == nullptr) {
      const std::string what =
          line.hasEquals ? "unknown key \"" + line.key + "\"" : "\"" + line.key + "\" is not KEY=VALUE";
      return at + what +
             " (the keys are date, f5 to f9, distribution-copies, budget-copies, periodicity and concept)";
    }
    if (const auto [earlier, first] = o.optionsFile.lines.try_emplace(name, line.number); !first)
      return at + name + " is given twice (also on line " + std::to_string(earlier->second) + ")";
    // The file's texts are UTF-8, like everything typed on the command
    // line; an empty value leaves the option as it was.
    const std::string value(base::Trim(line.value, " \t"));
    if (!value.empty()) *field = value;
  }
  return {};
}

}  // namespace

std::vector<CodeRange> ParsePropertySelection(std::string_view text, std::string& error) {
  std::vector<CodeRange> ranges;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item(base::Trim(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    const std::size_t dash = item.find('-');
    const std::optional<int> first = WholeNumber(item.substr(0, dash));
    const std::optional<int> last = dash == std::string::npos ? first : WholeNumber(item.substr(dash + 1));
    if (!first || !last || *first < 0 || *last < 0) {
      error = "\"" + std::string(text) + "\" is not a property code, a range such as 1-20, or a list of them";
      return {};
    }
    if (*first > 9999 || *last > 9999) {
      error = "\"" + item + "\": property codes go from 0 to 9999";
      return {};
    }
    if (*first > *last) {
      error = "\"" + item + "\": a range goes from the lower code to the higher (" + std::to_string(*last) + "-" +
              std::to_string(*first) + ")";
      return {};
    }
    ranges.push_back({*first, *last});
    if (comma == std::string_view::npos) return ranges;
    start = comma + 1;
  }
}

BatchArguments ParseBatchArguments(const std::vector<std::string>& args, const std::string& startDir) {
  BatchArguments result;
  BatchOptions& o = result.options;
  ScreenOptions given;                // from the command line
  std::map<std::string, bool> typed;  // screen options the command line gave
  std::string optionsFile;
  std::string out = ".";
  auto fail = [&](std::string text) {
    result.error = std::move(text);
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "-h" || arg == "--help") {
      result.help = true;
      return result;
    }
    if (arg == "--dry-run") {
      o.dryRun = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') return fail("unknown option " + arg);
    if (arg.rfind("--", 0) != 0) {
      std::string error;
      const std::vector<CodeRange> ranges = ParsePropertySelection(arg, error);
      if (!error.empty()) return fail(error);
      o.properties.insert(o.properties.end(), ranges.begin(), ranges.end());
      continue;
    }
    // "--name value" or "--name=value".
    std::string name = arg.substr(2), value;
    if (const std::size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      if (name == "dry-run" || name == "help") return fail("--" + name + " takes no value");
    } else {
      const bool known = ScreenOption(given, name) != nullptr || name == "options" || name == "out" ||
                         name == "pdf" || name == "csv" || name == "lock-wait";
      if (!known) return fail("unknown option " + arg);
      if (i + 1 >= args.size()) return fail(arg + " needs a value");
      value = args[++i];
    }
    if (std::string* field = ScreenOption(given, name)) {
      *field = value;
      typed[name] = true;
    } else if (name == "options") {
      optionsFile = Absolute(value, startDir);
    } else if (name == "out" || name == "pdf" || name == "csv") {
      if (value.empty()) return fail("--" + name + " needs a folder");
      (name == "out" ? out : name == "pdf" ? o.pdfDir : o.csvDir) = Absolute(value, startDir);
    } else if (name == "lock-wait") {
      const std::optional<int> seconds = WholeNumber(value);
      if (!seconds || *seconds < 0 || *seconds > 3600)
        return fail("--lock-wait " + value + ": give the seconds to wait, 0 to 3600");
      o.lockWaitSeconds = *seconds;
    } else {
      return fail("unknown option --" + name);
    }
  }
  o.outDir = Absolute(out, startDir);

  if (!optionsFile.empty()) {
    if (std::string problem = ReadOptionsFile(optionsFile, o); !problem.empty()) return fail(std::move(problem));
  }
  for (std::string_view name : kScreenOptionNames) {
    if (!typed.contains(std::string(name))) continue;
    *ScreenOption(o.screens, name) = *ScreenOption(given, name);
    o.optionsFile.lines.erase(std::string(name));
  }
  return result;
}

BatchOptions WithResultFolders(BatchOptions options) {
  if (!options.dryRun) return options;
  for (std::string* dir : {&options.outDir, &options.pdfDir, &options.csvDir})
    if (!dir->empty()) *dir = (fs::path(*dir) / kDryRunFolder).string();
  return options;
}

std::string CheckScreenOptions(const ScreenOptions& options, const OptionsFileOrigin& origin) {
  struct Check {
    const char* name;
    const std::string& text;
    int type;
    std::size_t width;  // as wide as the screen's field
    const char* what;
  };
  const Check checks[] = {
      {"date", options.date, field_types::kDate, 10, "a date such as 15/11/2024"},
      {"f5", options.presets[0], field_types::kVariation, 8, "an amount in cents or a percentage such as 103%"},
      {"f6", options.presets[1], field_types::kVariation, 8, "an amount in cents or a percentage such as 103%"},
      {"f7", options.presets[2], field_types::kVariation, 8, "an amount in cents or a percentage such as 103%"},
      {"f8", options.presets[3], field_types::kVariation, 8, "an amount in cents or a percentage such as 103%"},
      {"f9", options.presets[4], field_types::kVariation, 8, "an amount in cents or a percentage such as 103%"},
      {"distribution-copies", options.distributionCopies, field_types::kCopies, 3, "a number of copies up to 999, or P"},
      {"budget-copies", options.budgetCopies, field_types::kCopies, 3, "a number of copies up to 999, or P"},
      {"periodicity", options.periodicity, field_types::kNumber, 2, "a number 0 to 99"},
      {"concept", options.receiptConcept, field_types::kReceiptConcept, 1, "a receipt concept 1 to 8"},
  };
  for (const Check& c : checks) {
    // Empty presets are empty fields; an empty date is the working date.
    if (c.text.empty() && c.type != field_types::kCopies && c.type != field_types::kNumber &&
        c.type != field_types::kReceiptConcept)
      continue;
    const std::string text = base::Utf8ToCp850(c.text);
    FieldEdit edit;
    edit.type = c.type;
    edit.text = text;
    edit.stored = std::string(c.width, ' ');
    const bool fits = text.size() <= c.width && !text.empty();
    if (fits && CheckField(edit).accepted) continue;
    if (const auto line = origin.lines.find(c.name); line != origin.lines.end())
      return "the options file " + origin.path + ", line " + std::to_string(line->second) + ": " + c.name + " \"" +
             c.text + "\": give " + c.what;
    return "--" + std::string(c.name) + " \"" + c.text + "\": give " + c.what;
  }
  return {};
}

ReportParameters ParametersFrom(const ScreenOptions& options, const std::string& workDate, int thisYear) {
  const std::string date = options.date.empty() ? format::ShortDateText(workDate, thisYear) : base::Utf8ToCp850(options.date);
  std::array<std::string, 7> first{date, "", "", "", "", "", ""};
  for (std::size_t i = 0; i < options.presets.size(); ++i) first[2 + i] = base::Utf8ToCp850(options.presets[i]);
  const ParameterChoice choice = ReadParameterScreen(first, thisYear);
  const PrintOptions print =
      ReadPrintOptionsScreen({options.distributionCopies, options.budgetCopies, options.periodicity, options.receiptConcept});
  ReportParameters p;
  p.ReportDate = choice.ReportDate;
  p.ReportOptions = choice.ReportOptions;
  p.DistributionCopies = print.DistributionCopies;
  p.BudgetCopies = print.BudgetCopies;
  p.UpdatePeriodicity = print.UpdatePeriodicity;
  p.UpdateSlot = print.UpdateSlot;
  return p;
}

}  // namespace app
