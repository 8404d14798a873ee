// A process in lock mode "A" meets a record another process holds locked:
// it waits, shows the wait message after its first failed attempt, and gets
// the record once the holder has updated it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "config/session.h"
#include "data/files.h"
#include "data/notice.h"
#include "platform/system.h"

namespace data {
namespace {

namespace fs = std::filesystem;

// Records of 20 bytes with a unique 6-byte key at the start.
std::string Dictionary() {
  std::string creation(32, '\0');
  base::WriteLe<std::uint16_t>(creation, 0, 20);
  base::WriteLe<std::uint16_t>(creation, 2, 512);
  base::WriteLe<std::uint16_t>(creation, 4, 1);
  base::WriteLe<std::uint16_t>(creation, 16, 1);  // position
  base::WriteLe<std::uint16_t>(creation, 18, 6);  // length
  std::string file(2, '\0');
  base::WriteLe<std::uint16_t>(file, 0, static_cast<int>(creation.size()));
  return file + creation;
}

// Tells the parent through a pipe when the wait message goes up.
struct PipeNotice : Notice {
  int fd;
  std::vector<std::string>* events;
  void Show(const std::string& text, int row) override {
    events->push_back("show " + std::to_string(row) + " " + text);
    if (::write(fd, "s", 1) != 1) ::_exit(20);
  }
  void Hide() override { events->push_back("hide"); }
  void Beep() override {}
  void DiscardKeys() override {}
  void WaitKey() override {}
  int PollKey() override { return 0; }
  void EndProcess(int code) override { ::_exit(30 + code); }
};

struct ShortPauses : platform::SystemWrapper {
  std::vector<std::string>* events;
  explicit ShortPauses(std::vector<std::string>* e) : SystemWrapper(platform::RealSystem()), events(e) {}
  double RandomFraction() override { return 0.01; }  // 101 ms
  void Pause(int ms) override {
    events->push_back("pause");
    SystemWrapper::Pause(ms);
  }
};

TEST(RecordWaitAcrossProcesses, ModeAWaitsForTheHolderAndSeesItsUpdate) {
  const fs::path root = fs::temp_directory_path() / ("data_record_wait_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "ddf");
  fs::create_directories(root / "DADES");
  std::ofstream(root / "ddf" / "Wait.xdf", std::ios::binary) << Dictionary();
  const fs::path oldCwd = fs::current_path();
  fs::current_path(root);
  config::ResetSession();
  config::Session().RootDir = root.string() + "/";

  int go[2], shown[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(shown), 0);
  pid_t child = ::fork();
  if (child == 0) {
    std::vector<std::string> events;
    PipeNotice notice;
    notice.fd = shown[1];
    notice.events = &events;
    ScopedNotice scopedNotice(notice);
    ShortPauses pauses(&events);
    platform::ScopedSystem scopedSystem(pauses);
    char start;
    if (::read(go[0], &start, 1) != 1) ::_exit(2);
    char area[20];
    if (OpenDataFile(501, "DADES\\Wait", area) != 0) ::_exit(3);
    std::int16_t status = 0;
    SetLockMode(501, "A", status);
    if (ReadByKey(501, 0, "KEY001", 0) != 0) ::_exit(4);
    if (std::string(area, 20) != "KEY001 updated      ") ::_exit(5);
    // At least one pause before the message, the message once, removed at the end.
    if (events.size() < 3 || events[0] != "pause" ||
        events[1] != "show 24 FITXER BLOQUEJAT. ESPEREU UN MOMENT." || events.back() != "hide")
      ::_exit(6);
    if (std::count(events.begin(), events.end(), events[1]) != 1) ::_exit(7);
    ResetDataFiles();
    ::_exit(0);
  }

  char area[20];
  ASSERT_EQ(OpenDataFile(501, "DADES\\Wait", area), 0);
  std::copy_n("KEY001 original     ", 20, area);
  ASSERT_EQ(InsertRecord(501), 0);
  std::int16_t status = 0;
  SetLockMode(501, "B", status);
  ASSERT_EQ(ReadByKey(501, 0, "KEY001", 0), 0);  // now locked by this process
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  char signal;
  ASSERT_EQ(::read(shown[0], &signal, 1), 1);  // the other process is waiting
  std::copy_n("KEY001 updated      ", 20, area);
  EXPECT_EQ(UpdateRecord(501), 0);
  int childStatus = 0;
  ASSERT_EQ(::waitpid(child, &childStatus, 0), child);
  EXPECT_TRUE(WIFEXITED(childStatus));
  EXPECT_EQ(WEXITSTATUS(childStatus), 0);
  EXPECT_EQ(ResetDataFiles(), 0);
  fs::current_path(oldCwd);
  fs::remove_all(root);
}

}  // namespace
}  // namespace data
