#include "app/batch.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "app/budget.h"
#include "app/budget_amounts.h"
#include "app/clean_up.h"
#include "app/data_checks.h"
#include "app/distribution.h"
#include "app/figures_csv.h"
#include "app/listings.h"
#include "app/module.h"
#include "app/records.h"
#include "app/screen_checks.h"
#include "base/strings.h"
#include "config/session.h"
#include "data/files.h"
#include "data/key_walk.h"
#include "data/locks.h"
#include "data/notice.h"
#include "base/cp850.h"
#include "format/numbers.h"
#include "format/text.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/key_codes.h"
#include "platform/session_end.h"
#include "platform/signals.h"
#include "platform/system.h"

namespace app {
namespace {

using Result = PropertyOutcome::Result;


std::string Utf8(const std::string& cp850) { return base::Cp850ToUtf8(cp850); }

// The code as the screens and the listings show it: its last three digits
// ("001"), or all four when the first is not 0.
std::string ShownCode(const std::string& packed) {
  std::string digits = format::UnpackDigits(packed);
  while (digits.size() > 3 && digits.front() == '0') digits.erase(0, 1);
  return digits;
}

// Standard error, with the progress line cleared before anything is said.
class BatchLog {
 public:
  // A terminal that cannot erase a line (TERM dumb or unset: an editor's
  // shell, a log over a pseudo-terminal) gets no progress line.
  BatchLog() : progress_(::isatty(STDERR_FILENO) == 1 && CanEraseLines()) {}

  void Say(const std::string& utf8) {
    Clear();
    std::fprintf(stderr, "repquota batch: %s\n", utf8.c_str());
    std::fflush(stderr);
  }
  // "[2/50] 002 C.P. GRAN DE GRÀCIA, 88" over the previous one; only on a
  // terminal, and narrower than it: a line that wrapped would not be wiped.
  void Progress(std::size_t index, std::size_t count, const std::string& code, const std::string& name) {
    if (!progress_) return;
    std::string line = "[" + std::to_string(index + 1) + "/" + std::to_string(count) + "] " + code + " " +
                       base::BlankControlBytes(name);
    // Code page 850: a character is a byte.
    if (line.size() >= Columns()) line.resize(Columns() - 1);
    std::fprintf(stderr, "\r\033[K%s", Utf8(line).c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  static bool CanEraseLines() {
    const char* term = std::getenv("TERM");
    return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
  }
  static std::size_t Columns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return 80;
    return size.ws_col;
  }

  bool progress_;
  bool shown_ = false;
};

// The data layer's notices (a record or a lock waited for, a data file
// that cannot be opened) on standard error: nobody is at a keyboard.
// A program lock wait that can be given up (the owners' lock of a
// property, a lock file out of reach) is given up after `lockWaitSeconds`,
// as an operator would press Esc: no wait of the batch lasts for ever.
class BatchNotice final : public data::Notice {
 public:
  explicit BatchNotice(BatchLog& log, int lockWaitSeconds = -1) : log_(log), lockWait_(lockWaitSeconds) {}
  void Show(const std::string& text, int) override { log_.Say(Utf8(text)); }
  // The wait message goes: that wait is over.
  void Hide() override { waitingSince_.reset(); }
  void Beep() override {}
  void DiscardKeys() override {}
  void WaitKey() override {}
  int PollKey() override {
    if (lockWait_ < 0) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (!waitingSince_) waitingSince_ = now;
    if (now - *waitingSince_ < std::chrono::seconds(lockWait_)) return 0;
    waitingSince_.reset();
    return platform::keys::kEsc;
  }
  void EndProcess(int exitCode) override { throw platform::SessionEnded{exitCode, ""}; }

 private:
  BatchLog& log_;
  int lockWait_;
  std::optional<std::chrono::steady_clock::time_point> waitingSince_;
};

void DeleteWorkingFile() {
  platform::CurrentFileSystem().RemoveAll(platform::HostPathOrRaw(WorkingFile::SuitePath()));
}

// The budget lock of a property, waited for at most `seconds`: the lock
// is tried without waiting, again every half second until the time is up.
// `holder` then says who holds it, or, with `unreachable`, which lock
// file cannot be used and why (then it is not waited for).
bool TakeBudgetLock(const std::string& code, int seconds, std::string& holder, bool& unreachable, BatchLog& log,
                    const std::string& shownCode) {
  unreachable = false;
  data::LockState& locks = data::Locks();
  const char mode = locks.LockWaitMode;
  locks.LockWaitMode = 'S';
  CleanUp restore([&locks, mode] { locks.LockWaitMode = mode; });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool told = false;
  for (;;) {
    if (data::LockKey("PressupH", code) == 0) return true;
    holder = locks.LastRefusal;
    // A lock file out of reach is no workstation's: waiting does not mend it.
    if (locks.LastRefusalUnreachable) {
      unreachable = true;
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (!told)
      log.Say(shownCode + ": waiting up to " + std::to_string(seconds) + " s for its budget, in use elsewhere" +
              (holder.empty() ? std::string() : ": " + Utf8(holder)));
    told = true;
    data::BeforeWaiting();
    platform::Pause(500);
  }
}

// The properties asked for, in code order: packed code, and whether it
// exists. Codes of a range that no property has are left out; a single
// code asked for that none has is kept, to be reported.
std::map<std::string, bool> SelectProperties(const Report& report, const std::vector<CodeRange>& ranges,
                                             std::string& failure) {
  std::map<std::string, bool> selected;
  const records::Property property{report.areas.For(kPropertiesFile)};
  auto walk = [&](const std::string& from, const std::string& to) {
    data::KeyWalk properties(kPropertiesFile, 0, from, [&] { return to.empty() || property.Code() <= to; });
    for (; properties.Valid(); properties.Next()) selected[property.Code()] = true;
    if (properties.Failed()) failure = properties.FailureText();
  };
  if (ranges.empty()) walk(std::string(2, '\0'), "");
  for (const CodeRange& r : ranges) {
    const std::string first = format::PackCode(std::to_string(r.first));
    if (r.first == r.last) {
      const std::int16_t status = data::ReadByKey(kPropertiesFile, 0, first, 0);
      if (status != 0 && !data::EndsWalk(status)) failure = data::FailureText(kPropertiesFile, status);
      selected.try_emplace(first, status == 0);
    } else {
      walk(first, format::PackCode(std::to_string(r.last)));
    }
  }
  return selected;
}

class PropertyRun {
 public:
  PropertyRun(Report& report, const BatchOptions& options, BatchLog& log) : r_(report), options_(options), log_(log) {}

  // One property's report, from its budget lock to its PDF document. A
  // session that ends on the way leaves the property stopped, saying what
  // of it was written, and goes on up.
  void Run(PropertyOutcome& o);

 private:
  // How far a property's run got: what a stop leaves of it.
  enum class Stage { kNothingWritten, kBudgetSaved, kListingsPrinted };
  void Steps(PropertyOutcome& o);
  std::string StoppedText(const platform::SessionEnded& end, const PropertyOutcome& o) const;
  void Fail(PropertyOutcome& o, const std::string& utf8) {
    o.result = Result::kFailed;
    o.reason = utf8;
    // What was written before the failure is told with it: a property that
    // failed is otherwise taken for one left as it was.
    if (stage_ == Stage::kBudgetSaved && r_.WriteData)
      o.reason += std::string("; its stored budget was saved") + (r_.receipts.Made ? " and its receipts updated" : "");
  }
  // Writes the figures under their temporary names.
  std::string WriteFigures(const PropertyOutcome& o, const DistributionPass& pass,
                           const std::vector<records::WorkingLine>& lines);
  std::string MakePdf(const std::string& code, const std::string& printFile);

  Report& r_;
  const BatchOptions& options_;
  BatchLog& log_;
  Stage stage_ = Stage::kNothingWritten;
};

namespace {

// What a property's run leaves in the output folders: its listings, its PDF
// document and its figures.
std::vector<std::string> OutputsOf(const BatchOptions& options, const std::string& code) {
  std::vector<std::string> paths{options.outDir + "/" + code + ".prn"};
  if (!options.pdfDir.empty()) paths.push_back(options.pdfDir + "/" + code + ".pdf");
  if (!options.csvDir.empty()) {
    paths.push_back(options.csvDir + "/" + code + "-distribution.csv");
    paths.push_back(options.csvDir + "/" + code + "-budget.csv");
  }
  return paths;
}

// Files are written under this suffix and renamed when whole: a run killed
// half way leaves no cut file under a result's name.
constexpr const char* kPartSuffix = ".part";

// Renames `path` + ".part" to `path`: an empty text, or why it could not.
std::string PutInPlace(const std::string& path) {
  std::error_code ec;
  std::filesystem::rename(path + kPartSuffix, path, ec);
  if (!ec) return {};
  platform::CurrentFileSystem().Remove(path + kPartSuffix);
  return path + " cannot be put in place: " + ec.message();
}

}  // namespace

std::string PropertyRun::WriteFigures(const PropertyOutcome& o, const DistributionPass& pass,
                                      const std::vector<records::WorkingLine>& lines) {
  for (const auto& [suffix, csv] : {std::pair{"-distribution.csv", DistributionCsv(pass)},
                                    std::pair{"-budget.csv", BudgetCsv(lines)}}) {
    const std::string path = options_.csvDir + "/" + o.code + suffix;
    if (const platform::FileStatus status = platform::WriteWholeFile(path + kPartSuffix, csv); !status.ok())
      return "the figures " + path + " cannot be written: " + status.Describe();
  }
  return {};
}

std::string PropertyRun::MakePdf(const std::string& code, const std::string& printFile) {
  const std::string pdf = options_.pdfDir + "/" + code + ".pdf";
  // The print program says what it wrote on the same standard error.
  log_.Clear();
  // The print program is started as the dialogue starts it, from ExeDir.
  const std::string suitePath = config::Session().ExeDir + "KITPRINT";
  const int status = platform::RunAndWait(platform::HostPathOrRaw(suitePath), {"-o", pdf, printFile});
  if (status == -1) return "the print program " + suitePath + " cannot be started; the listings are in " + printFile;
  if (status != 0)
    return "the print program ended with status " + std::to_string(status) + " and " + pdf +
           " may not be whole; the listings are in " + printFile;
  return {};
}

void PropertyRun::Run(PropertyOutcome& o) {
  stage_ = Stage::kNothingWritten;
  try {
    Steps(o);
  } catch (const platform::SessionEnded& end) {
    o.receipts = r_.receipts;
    o.result = Result::kStopped;
    o.reason = StoppedText(end, o);
    throw;
  }
}

std::string PropertyRun::StoppedText(const platform::SessionEnded& end, const PropertyOutcome& o) const {
  const std::string ended = end.reason.empty() ? std::string("ended") : end.reason;
  const std::string printFile = options_.outDir + "/" + o.code + ".prn";
  switch (stage_) {
    case Stage::kNothingWritten:
      return ended + " before anything of it was written";
    case Stage::kBudgetSaved:
      return ended + (r_.WriteData ? " after its stored budget was saved" : "") +
             (o.receipts.Made && r_.WriteData ? " and its receipts updated" : "") + ", before its listings were whole";
    case Stage::kListingsPrinted:
      return ended + " before its PDF document was made; its listings are in " + printFile;
  }
  return ended;
}

void PropertyRun::Steps(PropertyOutcome& o) {
  const std::string& code = r_.parameters.PropertyCode;
  r_.receipts = ReceiptUpdate{};
  std::string holder;
  bool unreachable = false;
  if (!TakeBudgetLock(code, options_.lockWaitSeconds, holder, unreachable, log_, o.code)) {
    if (unreachable) return Fail(o, "its budget lock cannot be taken: " + Utf8(holder));
    o.result = Result::kSkipped;
    o.reason = "its budget is in use on another workstation" + (holder.empty() ? std::string() : ": " + Utf8(holder));
    return;
  }
  // However the property's run ends, its working file goes and its lock
  // is let go, in that order, as in the dialogue.
  CleanUp lock([] { data::ReleaseLock("PressupH"); });
  CleanUp working([this] {
    r_.working.Close();
    DeleteWorkingFile();
  });

  // What an earlier run left for the property goes first: a property that
  // fails now must not keep last time's listings and figures beside this
  // run's as if they were its own.
  for (const std::string& result : OutputsOf(options_, o.code)) {
    // A piece left by a run that was stopped half way goes too.
    for (const std::string& path : {result, result + kPartSuffix}) {
      if (const platform::FileStatus status = platform::CurrentFileSystem().Remove(path);
          !status.ok() && status.error != ENOENT)
        return Fail(o, "the earlier " + path + " cannot be removed: " + status.Describe());
    }
  }

  DeleteWorkingFile();
  StepResult result = r_.working.Open() ? StepResult{} : StepResult::Failed(r_.working.Failure());
  if (result.ok()) result = BuildBudget(r_);
  DistributionPass figures;
  if (result.ok()) result = ComputeDistribution(r_, figures);
  const std::vector<records::WorkingLine> lines = result.ok() ? r_.working.Lines() : std::vector<records::WorkingLine>{};
  if (result.ok() && r_.working.Failed()) result = StepResult::Failed(r_.working.Failure());
  if (!result.ok()) return Fail(o, Utf8(result.failure()));

  o.figures = true;
  o.owners = r_.budget.OwnerCount;
  o.budgetTotal = figures.totals.BudgetTotal;
  o.adjustment = RoundedAmount(static_cast<double>(figures.totals.BudgetTotal) - figures.totals.OwnersTotal);
  o.findings = CheckData(CheckInputOf(r_.budget, figures, lines));

  // The figures are written before any data file is: a folder that takes
  // no more must not leave a property saved and updated but failed.
  const std::vector<std::string> figureFiles =
      options_.csvDir.empty() ? std::vector<std::string>{}
                              : std::vector<std::string>{options_.csvDir + "/" + o.code + "-distribution.csv",
                                                         options_.csvDir + "/" + o.code + "-budget.csv"};
  CleanUp dropFigures([&figureFiles] {
    for (const std::string& path : figureFiles) platform::CurrentFileSystem().Remove(path + kPartSuffix);
  });
  if (!figureFiles.empty()) {
    if (const std::string problem = WriteFigures(o, figures, lines); !problem.empty()) return Fail(o, problem);
  }

  const std::string printFile = options_.outDir + "/" + o.code + ".prn";
  if (!r_.channel.Open(config::Session().OutputDest, printFile + kPartSuffix))
    return Fail(o, "the print file " + printFile + kPartSuffix + " cannot be made: " + r_.channel.Failure());
  CleanUp discard([this] { r_.channel.Discard(); });
  if (r_.WriteData) result = SaveStoredBudget(r_);
  if (result.ok()) stage_ = Stage::kBudgetSaved;
  // The distribution worked out for the figures is the one the listing
  // prints: only a pass that writes the receipts reads the owners again.
  if (result.ok()) result = PrintReport(r_, &figures);
  o.receipts = r_.receipts;
  if (!result.ok()) return Fail(o, Utf8(result.failure()));
  discard.Dismiss();
  r_.channel.Close();
  if (r_.channel.Failed()) {
    platform::CurrentFileSystem().Remove(printFile + kPartSuffix);
    return Fail(o, "the print file " + printFile + kPartSuffix + " could not be written: " + r_.channel.Failure());
  }
  if (const std::string problem = PutInPlace(printFile); !problem.empty())
    return Fail(o, "the print file " + problem);

  for (const std::string& path : figureFiles)
    if (const std::string problem = PutInPlace(path); !problem.empty()) return Fail(o, "the figures " + problem);
  dropFigures.Dismiss();
  stage_ = Stage::kListingsPrinted;
  working.RunNow();
  lock.RunNow();
  if (!options_.pdfDir.empty()) {
    const std::string problem = MakePdf(o.code, printFile);
    // A print program ended by the same request (Ctrl+C reaches the whole
    // process group) did not fail: the batch was stopped.
    if (!problem.empty()) platform::EndSessionIfTerminated();
    if (!problem.empty()) return Fail(o, problem);
  }
  o.result = Result::kDone;
}

}  // namespace

std::string CheckReceiptConcept(Report& report, bool* readFailed) {
  if (report.parameters.UpdatePeriodicity == 0) return {};
  const std::int16_t slot = report.parameters.UpdateSlot;
  std::optional<std::int16_t> kind;
  const records::ReceiptType type{report.areas.For(kReceiptTypesFile)};
  const std::int16_t status = slot >= 0 && slot <= 255
                                  ? data::ReadByKey(kReceiptTypesFile, 0, std::string(1, static_cast<char>(slot)), 0)
                                  : data::kStatusKeyNotFound;
  if (status == 0) {
    kind = type.Kind();
  } else if (!data::EndsWalk(status)) {
    if (readFailed) *readFailed = true;
    return Utf8(data::FailureText(kReceiptTypesFile, status));  // not a concept that does not exist
  }
  switch (JudgeReceiptConcept(kind)) {
    case ReceiptConceptVerdict::kUnknown:
      return "there is no receipt concept " + std::to_string(slot);
    case ReceiptConceptVerdict::kNotAFundsProvision:
      return "the receipt concept " + std::to_string(slot) + " (" + Utf8(std::string(base::TrimRight(type.Description()))) +
             ") is not of the funds-provision kind";
    case ReceiptConceptVerdict::kConfirmPrinting:
      break;
  }
  return {};
}

namespace {

// Why a batch that found no property to run did nothing: a range of codes
// that none has is a mistake worth hearing about, not a success.
std::string NothingSelected(const std::vector<CodeRange>& ranges) {
  if (ranges.empty()) return "the properties file holds no property";
  std::string asked;
  for (const CodeRange& r : ranges)
    asked += (asked.empty() ? "" : ",") + std::to_string(r.first) +
             (r.first == r.last ? std::string() : "-" + std::to_string(r.last));
  return "no property has a code in " + asked;
}

// Whether each output folder takes a file: one that does not (no write
// permission, a read-only file system) would fail every property in turn,
// each the same way.
std::string CheckFoldersTakeFiles(const BatchOptions& options) {
  for (const std::string* dir : {&options.outDir, &options.pdfDir, &options.csvDir}) {
    if (dir->empty()) continue;
    const std::string probe = *dir + "/.repquota-batch-" + std::to_string(::getpid()) + kPartSuffix;
    platform::FileStatus status;
    std::unique_ptr<platform::File> file =
        platform::OpenFile(probe, platform::kOpenCreate | platform::kOpenExclusive, status);
    if (!file) return "the folder " + *dir + " does not take files: " + status.Describe();
    file->Close();
    platform::CurrentFileSystem().Remove(probe);
  }
  return {};
}

// Whether the temporary folder takes the working file: one that does not
// (KITTMP naming a folder that is not there, or not writable) would fail
// every property in turn, each the same way.
std::string CheckWorkingFileCanBeMade(Report& report) {
  DeleteWorkingFile();
  const bool made = report.working.Open();
  report.working.Close();
  DeleteWorkingFile();
  if (made) return {};
  return "the temporary folder " + config::Session().TempDir + " (KITTMP) takes no working file: " +
         Utf8(report.working.Failure());
}

// A dry run's folders inside the folders given, which must be there: one
// that cannot be made is named by the check that the folders take files.
void MakeDryRunFolders(const BatchOptions& options) {
  for (const std::string* dir : {&options.outDir, &options.pdfDir, &options.csvDir}) {
    std::error_code ec;
    if (!dir->empty()) std::filesystem::create_directory(*dir, ec);
  }
}

// Runs the batch with its log at hand.
std::string RunBatchLogged(Report& report, const BatchOptions& options, std::vector<PropertyOutcome>& outcomes,
                           const BatchProgress& progress, BatchLog& log) {
  // Every program lock wait of the batch ends: given up after the wait
  // asked for, as at the keyboard with Esc.
  BatchNotice notice(log, options.lockWaitSeconds);
  data::ScopedNotice installed(notice);
  data::LockState& locks = data::Locks();
  const char mode = locks.LockWaitMode;
  locks.LockWaitMode = 'P';
  CleanUp restore([&locks, mode] { locks.LockWaitMode = mode; });
  const ReportParameters base = ParametersFrom(options.screens, config::Session().WorkDate, platform::Now().year);
  report.parameters = base;
  report.WriteData = !options.dryRun;
  if (std::string problem = CheckReceiptConcept(report); !problem.empty()) return problem;
  if (options.dryRun) MakeDryRunFolders(options);
  if (std::string problem = CheckFoldersTakeFiles(options); !problem.empty()) return problem;
  if (std::string problem = CheckWorkingFileCanBeMade(report); !problem.empty()) return problem;
  std::string failure;
  const std::map<std::string, bool> selected = SelectProperties(report, options.properties, failure);
  if (!failure.empty()) return Utf8(failure);

  if (selected.empty()) return NothingSelected(options.properties);

  PropertyRun run(report, options, log);
  std::size_t index = 0;
  for (auto next = selected.begin(); next != selected.end(); ++next, ++index) {
    const auto& [code, exists] = *next;
    PropertyOutcome o;
    o.code = ShownCode(code);
    // A batch ended here lists the properties it did not come to, so that
    // its summary is not taken for the whole batch; `started`: this
    // property's own outcome (stopped, failed) goes in before them.
    bool started = false;
    CleanUp untold([&] {
      if (started) outcomes.push_back(o);
      for (auto rest = started ? std::next(next) : next; rest != selected.end(); ++rest) {
        PropertyOutcome notRun;
        notRun.code = ShownCode(rest->first);
        notRun.result = Result::kNotRun;
        outcomes.push_back(std::move(notRun));
      }
    });
    platform::EndSessionIfTerminated();
    report.parameters = base;
    report.parameters.PropertyCode = code;
    const std::int16_t status = exists ? data::ReadByKey(kPropertiesFile, 0, code, 0) : data::kStatusKeyNotFound;
    if (status == 0) {
      o.name = base::TrimRight(format::NameInReadingOrder(records::Property{report.areas.For(kPropertiesFile)}.Name()));
      if (progress) progress(index, selected.size(), o.code, o.name);
      started = true;
      run.Run(o);
      started = false;
    } else if (data::EndsWalk(status)) {
      o.result = Result::kMissing;
    } else {
      o.result = Result::kFailed;
      o.reason = Utf8(data::FailureText(kPropertiesFile, status));
      // The properties file itself no longer answers (a damaged page, a
      // server gone away): every property after this one would fail the
      // same way, so the batch stops here with the rest not run.
      started = true;  // its outcome goes in with the rest not run
      return "the properties cannot be read (" + o.reason + "); the batch stopped";
    }
    untold.Dismiss();
    if (o.result == Result::kSkipped || o.result == Result::kFailed)
      log.Say(o.code + (o.result == Result::kSkipped ? " passed over: " : " failed: ") + o.reason);
    outcomes.push_back(std::move(o));
  }
  return {};
}

// The folders the results go to, made when missing.
std::string MakeFolders(const BatchOptions& options) {
  for (const std::string* dir : {&options.outDir, &options.pdfDir, &options.csvDir}) {
    if (dir->empty()) continue;
    std::error_code ec;
    std::filesystem::create_directories(*dir, ec);
    if (ec || !std::filesystem::is_directory(*dir, ec))
      return "the folder " + *dir + " cannot be made: " + (ec ? ec.message() : std::string("a file is in the way"));
  }
  return {};
}

}  // namespace

std::string RunBatch(Report& report, const BatchOptions& options, std::vector<PropertyOutcome>& outcomes,
                     const BatchProgress& progress) {
  BatchLog log;
  return RunBatchLogged(report, WithResultFolders(options), outcomes, progress, log);
}

int BatchMain(const std::vector<std::string>& args) {
  std::error_code ec;
  const std::string startDir = std::filesystem::current_path(ec).string();
  const BatchArguments parsed = ParseBatchArguments(args, startDir);
  if (parsed.help) {
    std::fputs(kBatchUsage, stdout);
    return 0;
  }
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "repquota batch: %s\n(repquota batch --help tells the options)\n", parsed.error.c_str());
    return 2;
  }
  const BatchOptions options = WithResultFolders(parsed.options);
  // Nothing is read from the terminal; the print program started for the
  // PDF documents must not wait there for a key either.
  if (std::freopen("/dev/null", "r", stdin) == nullptr) {
    // A batch without standard input reads nothing anyway.
  }
  platform::InstallTerminationSignals();

  BatchLog log;
  BatchNotice notice(log);
  data::ScopedNotice installed(notice);
  Report report;
  std::vector<PropertyOutcome> outcomes;
  int status = 0;
  bool ran = false;
  try {
    config::LoadSession();
    const config::SessionSettings& session = config::Session();
    if (std::string problem = CheckScreenOptions(options.screens, options.optionsFile); !problem.empty()) {
      log.Say(problem);
      return 2;
    }
    if (session.RootDir.empty()) {
      log.Say("KITROOT is not set (it names the suite root, for example KITROOT=/srv/kit/)");
      return 1;
    }
    if (::chdir(platform::HostPathOrRaw(session.RootDir).c_str()) != 0) {
      log.Say("the suite root " + session.RootDir + " (KITROOT) cannot be entered");
      return 1;
    }
    // The working budget file lives in the temporary folder, as in the
    // dialogue: one program at a time there.
    if (const data::TempFolderClaim claim = data::ClaimTempFolder(); !claim.claimed) {
      log.Say(claim.detail);
      return 1;
    }
    if (std::string problem = MakeFolders(options); !problem.empty()) {
      log.Say(problem);
      return 1;
    }
    // The PDF documents need the print program: one that cannot be run
    // would fail every property after its data was written.
    if (!options.pdfDir.empty()) {
      const std::string printProgram = platform::HostPathOrRaw(session.ExeDir + "KITPRINT");
      if (::access(printProgram.c_str(), X_OK) != 0) {
        log.Say("the print program " + printProgram + " (KITEXE) cannot be run: " +
                platform::FileStatus::FromErrno().Describe() + "; it writes the PDF documents (--pdf)");
        return 1;
      }
    }
    CleanUp closeFiles([] { data::ResetDataFiles(); });
    // A file gone missing would be made empty, and every property's budget
    // saved and its receipts updated as if it had no records.
    if (const std::string_view missing = OpenExistingModuleFiles(report.areas); !missing.empty()) {
      log.Say("the data file " + std::string(missing) +
              " does not exist; the batch makes no data file, so that a file gone missing is not taken for an "
              "empty one");
      return 1;
    }
    report.fees = ReadFeeSettings();
    report.parameters = ParametersFrom(options.screens, session.WorkDate, platform::Now().year);
    bool readFailed = false;
    if (std::string problem = CheckReceiptConcept(report, &readFailed); !problem.empty()) {
      log.Say(problem);
      return readFailed ? 1 : 2;  // the data, not the arguments
    }
    ran = true;
    const std::string problem =
        RunBatchLogged(report, options, outcomes, [&log](std::size_t i, std::size_t n, const std::string& code,
                                                         const std::string& name) { log.Progress(i, n, code, name); },
                       log);
    log.Clear();
    if (!problem.empty()) {
      log.Say(problem);
      // Stopped half way: what was done is still summed up.
      if (outcomes.empty()) return 1;
    }
    status = problem.empty() ? BatchExitStatus(outcomes) : 1;
  } catch (const platform::SessionEnded& end) {
    log.Clear();
    if (!end.reason.empty()) log.Say(end.reason);
    status = end.exitStatus;
  }
  if (ran) {
    errno = 0;
    std::fputs(BatchSummary(outcomes, options.dryRun).c_str(), stdout);
    // A summary that did not reach its file (a full disk) must not pass
    // for a batch that went well.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      const int error = errno;
      log.Say("the summary could not be written to standard output" +
              (error != 0 ? ": " + platform::FileStatus{error}.Describe() : std::string()));
      if (status == 0 || status == kBatchChecksFound) status = 1;
    }
  }
  return status;
}

}  // namespace app
