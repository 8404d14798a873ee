// What the tests of the budget, the distribution and the run share: a
// scratch suite root with the module's data files made from the installed
// dictionaries, opened into a report, and ways to fill them and read them
// back.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/data_files.h"
#include "app/records.h"
#include "app/report.h"
#include "app/testing/scratch_suite_root.h"
#include "config/session.h"
#include "data/files.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "platform/file_system.h"

namespace app::testing {

inline std::string Date(int y, int m, int d) { return format::PackDate(y, m, d); }
inline std::string Code(int property) { return format::PackDigits(format::ZeroPad(property, 4)); }
inline std::string OwnerKey(int property, int owner) {
  return format::PackDigits(format::ZeroPad(property, 4) + format::ZeroPad(owner, 4));
}

// A suite root with the module's data files, made from the installed
// dictionaries, in a scratch directory that is also the current one.
class SuiteRootFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.Enter();
    report_.fees = FeeSettings{};
    OpenModuleFiles(report_.areas);
    report_.parameters = ReportParameters{};
    report_.parameters.PropertyCode = Code(7);
    report_.parameters.ReportDate = Date(2024, 11, 15);
  }
  void TearDown() override {
    report_.working.Close();
    data::ResetDataFiles();
    config::ResetSession();
  }

  // Lets `fill` write a zeroed record area and inserts it.
  void Insert(std::int16_t file, const std::function<void(std::span<char>)>& fill) {
    std::span<char> area = report_.areas.For(file);
    std::fill(area.begin(), area.end(), '\0');
    fill(area);
    ASSERT_EQ(data::InsertRecord(file), 0) << file;
  }
  void Property(int code, std::int16_t firstMonth, std::int16_t months, std::int32_t fee, const char* taxId,
                std::map<int, std::pair<std::int32_t, std::string>> columns = {}) {
    Insert(kPropertiesFile, [&](std::span<char> area) {
      const records::Property r{area};
      r.SetCode(Code(code));
      r.SetName("PROVENÇA, 12 *C.P.");
      r.SetFirstMonth(firstMonth);
      r.SetPeriodMonths(months);
      r.SetFeePerOwnerMonth(fee);
      r.SetTaxId(taxId);
      for (const auto& [k, c] : columns) {
        r.SetColumnTotal(k, c.first);
        r.SetColumnName(k, c.second);
      }
    });
  }
  void Owner(int number, std::map<int, std::int32_t> coefficients, std::int16_t slot1 = 1) {
    Insert(kOwnersFile, [&](std::span<char> area) {
      const records::Owner r{area};
      r.SetKey(OwnerKey(7, number));
      r.SetDepartment("1r " + std::to_string(number) + "a");
      for (const auto& [k, c] : coefficients) r.SetCoefficient(k, c);
      r.SetSlotPeriodicity(1, slot1);
    });
  }
  void Collection(int owner, const std::string& date, std::int32_t amount) {
    Insert(kCollectionsFile, [&](std::span<char> area) {
      const records::Collection r{area};
      r.SetOwnerKey(OwnerKey(7, owner));
      r.SetDate(date);
      r.SetAmount(amount);
    });
  }
  void Concept(const char* code, const char* description) {
    Insert(kConceptsFile, [&](std::span<char> area) {
      const records::Concept r{area};
      r.SetCode(code);
      r.SetDescription(description);
    });
  }
  void Payment(const std::string& date, const char* conceptCode, std::int32_t amount, char kind, int column) {
    Insert(kPaymentsFile, [&](std::span<char> area) {
      const records::Payment r{area};
      r.SetPropertyCode(Code(7));
      r.SetDate(date);
      r.SetConcept(conceptCode);
      r.SetAmount(amount);
      r.SetKind(kind);
      r.SetColumnNumber(format::PackDigits(format::ZeroPad(column, 4)).substr(0, 2));
    });
  }
  // A stored budget line of `property`.
  void Stored(int property, const char* conceptCode, char column, std::int32_t percent, std::int32_t amount,
              std::int32_t budget) {
    Insert(kStoredBudgetFile, [&](std::span<char> area) {
      const records::StoredLine r{area};
      r.SetPropertyCode(Code(property));
      r.SetConcept(conceptCode);
      r.SetColumn(column);
      r.SetPercent(percent);
      r.SetAmount(amount);
      r.SetBudget(budget);
    });
  }
  void Stored(const char* conceptCode, char column, std::int32_t percent, std::int32_t amount, std::int32_t budget) {
    Stored(7, conceptCode, column, percent, amount, budget);
  }
  void WriteVora(const std::string& text) { std::ofstream(std::filesystem::path(root_.Path()) / "Vora.ini") << text; }

  // The stored lines of property 7 as "code column percent amount budget".
  std::vector<std::string> StoredLines() {
    std::vector<std::string> out;
    const records::StoredLine line{report_.areas.For(kStoredBudgetFile)};
    for (std::int16_t s = data::ReadByKey(kStoredBudgetFile, 0, Code(7), 1); s == 0 && line.PropertyCode() == Code(7);
         s = data::StepRecords(kStoredBudgetFile, 1))
      out.push_back(line.Concept() + " " + line.Column() + " " + std::to_string(line.Percent()) + " " +
                    std::to_string(line.Amount()) + " " + std::to_string(line.Budget()));
    return out;
  }
  // Receipt slot `slot` of every owner of property 7, as "periodicity:amount".
  std::vector<std::string> Slots(int slot) {
    std::vector<std::string> out;
    const records::Owner owner{report_.areas.For(kOwnersFile)};
    for (std::int16_t s = data::ReadByKey(kOwnersFile, 0, Code(7), 1); s == 0 && owner.PropertyCode() == Code(7);
         s = data::StepRecords(kOwnersFile, 1))
      out.push_back(std::to_string(owner.SlotPeriodicity(slot)) + ":" + std::to_string(owner.SlotAmount(slot)));
    return out;
  }
  std::vector<std::string> SlotsTwo() { return Slots(2); }
  records::WorkingLine Line(const std::string& code) {
    for (const auto& l : report_.working.Lines())
      if (l.code == code) return l;
    ADD_FAILURE() << "no line " << code;
    return {};
  }

  // Its destructor goes back to the directory that was current before.
  ScratchSuiteRoot root_;
  Report report_;
};

// A file system whose working file cannot be made, or fails its Nth write
// or read: a full disk, a folder the operator may not write to.
class FailingWorkingFile : public platform::FileSystemWrapper {
 public:
  FailingWorkingFile() : platform::FileSystemWrapper(platform::RealFileSystem()) {}
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    const bool working = path.find("PressupH.tmp") != std::string::npos;
    if (working && openError != 0) {
      status = platform::FileStatus{openError};
      return nullptr;
    }
    std::unique_ptr<platform::File> real = target().Open(path, flags, status, mode);
    if (!real || !working) return real;
    struct Failing : platform::FileWrapper {
      Failing(std::unique_ptr<platform::File> f, FailingWorkingFile& owner) : FileWrapper(std::move(f)), counts(owner) {}
      platform::FileStatus WriteAt(std::uint64_t offset, std::string_view bytes) override {
        if (++counts.writes == counts.failingWrite) return platform::FileStatus{ENOSPC};
        return FileWrapper::WriteAt(offset, bytes);
      }
      platform::FileStatus ReadAt(std::uint64_t offset, std::span<char> out, std::size_t& got) override {
        if (++counts.reads == counts.failingRead) return platform::FileStatus{EIO};
        return FileWrapper::ReadAt(offset, out, got);
      }
      FailingWorkingFile& counts;
    };
    return std::make_unique<Failing>(std::move(real), *this);
  }
  int openError = 0;
  int failingWrite = 0, failingRead = 0;
  int writes = 0, reads = 0;
};

}  // namespace app::testing
