// Two programs adding the same records to one data file at once, on SQLite
// files and on the server: the records go in once, and a run adds all of its
// records or none, however the two runs' steps meet.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/test_files.h"
#include "platform/file_system.h"
#include "tools/kitdata/kitdata.h"
#include "tools/kitdata/test_roots.h"

extern char** environ;

namespace kitdata {
namespace {

namespace fs = std::filesystem;
using config::testing::ScratchDir;

using testing::DataRoot;
using testing::FieldOf;

std::size_t RecordsIn(const std::string& data) {
  std::string raw;
  EXPECT_EQ(GetRaw(data, raw), "");
  return raw.size() / static_cast<std::size_t>(FindLayout(BaseName(data))->recordLength);
}

// Another program, started without waiting for it.
class OtherProgram {
 public:
  // `command` runs through the shell, its output into files of `dir`.
  OtherProgram(const ScratchDir& dir, const std::string& command)
      : out_(dir / "other.out"), err_(dir / "other.err") {
    const std::string line = command + " >" + out_ + " 2>" + err_;
    const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
    if (::posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) pid_ = -1;
  }
  ~OtherProgram() { Wait(); }
  bool Started() const { return pid_ > 0; }
  // Waits up to `most` for it to end; whether it has.
  bool EndsWithin(std::chrono::milliseconds most) {
    const auto until = std::chrono::steady_clock::now() + most;
    while (!ended_ && std::chrono::steady_clock::now() < until) {
      if (Reap(WNOHANG)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ended_;
  }
  // Its exit status, once it has ended; -1 when it did not exit.
  int Wait() {
    if (!ended_ && pid_ > 0) Reap(0);
    return status_;
  }
  std::string Err() const { return platform::ReadWholeFile(err_).bytes; }

 private:
  bool Reap(int flags) {
    int raw = 0;
    if (::waitpid(pid_, &raw, flags) != pid_) return false;
    ended_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
  }
  std::string out_, err_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = -1;
};

// Raw records put by two programs at once, into a file whose key takes
// duplicates: the other one commits the same records while this one is
// looking for repeats.
TEST(Raw, TwoPutsOfTheSameRecordsAtOnceAddThemOnce) {
  ScratchDir dir;
  const std::string data = DataRoot(dir) + "/DADES/CobramH";
  auto receipt = [](const std::string& amount) {
    std::string r(static_cast<std::size_t>(FindLayout("CobramH")->recordLength), ' ');
    EXPECT_EQ(SetField(FieldOf("CobramH", "owner"), "00010001", r), "");
    EXPECT_EQ(SetField(FieldOf("CobramH", "date"), "2026-01-01", r), "");
    EXPECT_EQ(SetField(FieldOf("CobramH", "amount"), amount, r), "");
    return r;
  };
  const std::vector<std::string> records = {receipt("10.00"), receipt("20.00")};
  ASSERT_TRUE(platform::WriteWholeFile(dir / "receipts.raw", records[0] + records[1]).ok());
  ASSERT_EQ(PutRaw(data, receipt("1.00")).error, "");  // the file exists
  std::string error;
  auto file = DataFile::Open(data, false, error);
  ASSERT_TRUE(file) << error;
  int status = -1;
  const std::string other =
      std::string(KITDATA_EXE) + " put " + data + " " + (dir / "receipts.raw") + " >/dev/null 2>&1";
  // The first record met after the file's own is the moment between the
  // look at the file and the inserts.
  int calls = 0;
  const AddResult result = file->Add(records, {"record 1", "record 2"}, [&](std::string_view r) {
    if (++calls == 2) status = std::system(other.c_str());
    return std::string(r);
  }, {});
  ASSERT_EQ(status, 0) << "the other put";
  EXPECT_NE(result.error.find("record 1: the same record is already in"), std::string::npos) << result.error;
  EXPECT_EQ(result.added, 0u);
  EXPECT_EQ(RecordsIn(data), 3u);
}

// CSV text whose second reading (the inserts) first lets another program
// run to its end: what another import does between the check of this one
// and its inserts.
class CsvWithAnotherProgramBetween : public CsvInput {
 public:
  CsvWithAnotherProgramBetween(std::string text, std::string command)
      : text_(std::move(text)), command_(std::move(command)) {}
  std::string Read(const std::function<bool(std::string_view)>& block) override {
    if (reads_++ == 1) status_ = std::system(command_.c_str());
    block(text_);
    return {};
  }
  int status_ = -1;

 private:
  int reads_ = 0;
  std::string text_, command_;
};

// Two imports of one file into one data file at once: one adds the
// records, the other refuses them as repeats, however their steps meet.
TEST(Csv, TwoImportsOfOneFileAtOnceAddItOnce) {
  ScratchDir dir;
  const std::string data = DataRoot(dir) + "/DADES/CobramH";
  const std::string csv = "owner,date,amount\n00010001,2026-01-01,10.00\n00010002,2026-01-01,20.00\n";
  dir.Write("receipts.csv", csv);
  CsvWithAnotherProgramBetween input(
      csv, std::string(KITDATA_EXE) + " import " + data + " " + (dir / "receipts.csv") + " >/dev/null 2>&1");
  const AddResult result = ImportCsv(data, input);
  ASSERT_EQ(input.status_, 0) << "the other import";
  EXPECT_NE(result.error.find("CSV line 2: the same record is already in"), std::string::npos) << result.error;
  EXPECT_EQ(result.added, 0u);
  EXPECT_EQ(RecordsIn(data), 2u);
}

// CSV text whose inserts stop after the first line's record for `midway`:
// this import has begun writing the file, and has not committed.
class CsvWithAPauseAfterTheFirstRecord : public CsvInput {
 public:
  CsvWithAPauseAfterTheFirstRecord(std::string text, std::function<void()> midway)
      : text_(std::move(text)), midway_(std::move(midway)) {}
  std::string Read(const std::function<bool(std::string_view)>& block) override {
    if (reads_++ == 0) {
      block(text_);
      return {};
    }
    const std::size_t secondRecord = text_.find('\n', text_.find('\n') + 1) + 1;
    if (!block(std::string_view(text_).substr(0, secondRecord))) return {};
    midway_();
    block(std::string_view(text_).substr(secondRecord));
    return {};
  }

 private:
  int reads_ = 0;
  std::string text_;
  std::function<void()> midway_;
};

// Another import of the same CSV starts while this one is writing the
// file: it waits for this one's commit and then refuses every record as a
// repeat, adding none, whether the file's key takes duplicates (receipts)
// or not (budget lines, where its inserts would meet this one's).
TEST(Csv, AnImportStartedWhileAnotherWritesTheFileWaitsAndAddsNothing) {
  const struct {
    std::string base, csv;
  } files[] = {
      {"CobramH", "owner,date,amount\n00010001,2026-01-01,10.00\n00010002,2026-01-01,20.00\n"},
      {"PressupH", "property,concept,budget\n0001,AS,100.00\n0001,NE,200.00\n"},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.base);
    ScratchDir dir;
    const std::string data = DataRoot(dir) + "/DADES/" + f.base;
    dir.Write("lines.csv", f.csv);
    std::unique_ptr<OtherProgram> other;
    bool endedFirst = false;
    CsvWithAPauseAfterTheFirstRecord input(f.csv, [&] {
      other = std::make_unique<OtherProgram>(
          dir, std::string(KITDATA_EXE) + " import " + data + " " + (dir / "lines.csv"));
      // Time for it to look at the file and try to write; it must not end
      // before this one commits.
      endedFirst = other->EndsWithin(std::chrono::milliseconds(600));
    });
    const AddResult result = ImportCsv(data, input);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.added, 2u);
    ASSERT_TRUE(other && other->Started());
    EXPECT_FALSE(endedFirst) << "the other import did not wait:\n" << other->Err();
    EXPECT_EQ(other->Wait(), 1);
    const std::string said = other->Err();
    EXPECT_NE(said.find((dir / "lines.csv") + ", line 2: the same record is already in"), std::string::npos) << said;
    EXPECT_NE(said.find((dir / "lines.csv") + ", line 3: the same record is already in"), std::string::npos) << said;
    EXPECT_NE(said.find("0 records added"), std::string::npos) << said;
    EXPECT_EQ(RecordsIn(data), 2u);
  }
}

}  // namespace
}  // namespace kitdata
