#include "console/browse_list.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/test_files.h"
#include "console/form_hooks_double.h"
#include "console/form_input.h"
#include "platform/system.h"
#include "console/snap_terminal.h"
#include "console/test_terminal.h"

namespace console {
namespace {

using testing::ConsoleTest;

// Rows from a table of lines, as the records of a data file would give them.
struct Records {
  std::vector<std::string> lines;
  std::size_t at = 0;
  int reads = 0;
  BrowseCache::Producer Producer() {
    return RecordProducer([this] { ++reads; return at++ < lines.size(); }, [this] { return lines[at - 1]; },
                          [this] { return static_cast<std::int32_t>(100 + at); });
  }
};

std::vector<std::string> Numbered(int count, std::size_t width = 6) {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; ++i) {
    std::string line = "Row " + std::to_string(i);
    line.resize(std::max(width, line.size()), '.');
    lines.push_back(line);
  }
  return lines;
}

class BrowseTest : public ConsoleTest {
 protected:
  std::string CachePath() const { return scratch.path() + "/Browse.tmp"; }
  std::string ReadCache() const {
    std::ifstream in(CachePath(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(BrowseTest, CacheRowLayout) {
  {
    BrowseCache cache(CachePath(), true, nullptr);
    EXPECT_EQ(cache.Append(7, "AB"), 1);
    EXPECT_EQ(cache.Append(0x01020304, "C"), 13);
    BrowseRow row;
    ASSERT_TRUE(cache.Row(13, row));
    EXPECT_EQ(row.previous, 1);
    EXPECT_EQ(row.record, 0x01020304);
    EXPECT_EQ(row.text, "C");
    EXPECT_FALSE(cache.Row(row.next(), row));
  }
  const std::string expected("\0\0\0\0\x07\0\0\0\x02\0AB\x01\0\0\0\x04\x03\x02\x01\x01\0C", 23);
  EXPECT_EQ(ReadCache(), expected);
  // A kept cache is read as it is, and rows appended to it link to its last.
  BrowseCache kept(CachePath(), false, nullptr);
  EXPECT_EQ(kept.Append(5, ""), 24);
  BrowseRow row;
  ASSERT_TRUE(kept.Row(24, row));
  EXPECT_EQ(row.previous, 13);
  kept.Discard();
  EXPECT_FALSE(std::filesystem::exists(CachePath()));
}

TEST_F(BrowseTest, BlankLinesHiddenAndReadLazily) {
  Records records{{"one", "   ", "", "two  ", "three"}};
  BrowseCache cache(CachePath(), true, records.Producer());
  BrowsePager pager(cache, 2, 10);
  pager.Layout();
  EXPECT_EQ(pager.Lines(), 2);
  EXPECT_EQ(pager.PageRow(1).text, "one");
  EXPECT_EQ(pager.PageRow(2).text, "two");  // trailing blanks are not kept
  EXPECT_EQ(pager.PageRow(2).record, 104);
  EXPECT_EQ(records.reads, 5);  // one row beyond the page, to know a next page exists
  EXPECT_TRUE(pager.PageDown());
  EXPECT_EQ(pager.Lines(), 1);
  EXPECT_EQ(pager.PageRow(1).text, "three");
  EXPECT_EQ(pager.PageRow(2).text, "");
  EXPECT_FALSE(pager.PageDown());
}

TEST_F(BrowseTest, PagingTwentyFiveRowsByTen) {
  Records records{Numbered(25)};
  BrowseCache cache(CachePath(), true, records.Producer());
  BrowsePager pager(cache, 10, 20);
  pager.Layout();
  EXPECT_EQ(pager.PageRow(10).text, "Row 10");
  EXPECT_TRUE(pager.PageDown());
  EXPECT_TRUE(pager.PageDown());
  EXPECT_EQ(pager.Lines(), 5);
  EXPECT_EQ(pager.PageRow(1).text, "Row 21");
  EXPECT_EQ(pager.PageRow(5).text, "Row 25");
  EXPECT_EQ(pager.Shown(6), std::string(20, ' '));
  EXPECT_FALSE(pager.PageDown());
  EXPECT_TRUE(pager.PageUp());
  EXPECT_EQ(pager.PageRow(1).text, "Row 11");
  EXPECT_EQ(pager.PageRow(10).text, "Row 20");
}

// Pages 25 rows by 10 over `cache` and checks what is shown.
void PagesTwentyFiveRows(BrowseCache& cache) {
  BrowsePager pager(cache, 10, 20);
  pager.Layout();
  EXPECT_EQ(pager.Lines(), 10);
  EXPECT_EQ(pager.PageRow(10).text, "Row 10");
  EXPECT_TRUE(pager.PageDown());
  EXPECT_TRUE(pager.PageDown());
  EXPECT_EQ(pager.PageRow(5).text, "Row 25");
  EXPECT_TRUE(pager.PageUp());
  EXPECT_EQ(pager.PageRow(1).text, "Row 11");
}

TEST_F(BrowseTest, ACacheFileThatCannotBeUsedIsKeptInMemory) {
  {
    std::filesystem::create_directories(CachePath());
    Records records{Numbered(25)};
    BrowseCache cache(CachePath(), true, records.Producer());
    PagesTwentyFiveRows(cache);
    cache.Discard();
    EXPECT_TRUE(std::filesystem::is_directory(CachePath()));
    std::filesystem::remove(CachePath());
  }
  {
    config::testing::FailingFile failing("/Browse.tmp");
    Records records{Numbered(25)};
    BrowseCache cache(CachePath(), true, records.Producer());
    PagesTwentyFiveRows(cache);
    EXPECT_GE(failing.calls, 1);
    EXPECT_FALSE(std::filesystem::exists(CachePath()));
  }
}

TEST_F(BrowseTest, AFailingWriteMovesTheRowsReadSoFarToMemory) {
  // The file opens, then every write after the first row fails.
  class FullDisk : public platform::FileSystemWrapper {
   public:
    FullDisk() : FileSystemWrapper(platform::RealFileSystem()) {}
    std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags,
                                         platform::FileStatus& status, mode_t mode) override {
      class Full : public platform::FileWrapper {
       public:
        using FileWrapper::FileWrapper;
        platform::FileStatus WriteAt(std::uint64_t offset, std::string_view bytes) override {
          if (offset > 0) return platform::FileStatus{ENOSPC};
          return FileWrapper::WriteAt(offset, bytes);
        }
      };
      std::unique_ptr<platform::File> file = FileSystemWrapper::Open(path, flags, status, mode);
      return file ? std::make_unique<Full>(std::move(file)) : nullptr;
    }
  } full;
  platform::ScopedFileSystem scope(full);
  Records records{Numbered(25)};
  BrowseCache cache(CachePath(), true, records.Producer());
  PagesTwentyFiveRows(cache);
}

TEST_F(BrowseTest, AKeptCacheIsReadFromItsBytes) {
  std::string bytes;
  {
    BrowseCache cache(CachePath(), true, nullptr);
    cache.Append(7, "AB");
    cache.Append(8, "C");
    bytes = ReadCache();
  }
  std::unique_ptr<BrowseCache> kept = BrowseCache::InMemory(bytes, nullptr);
  BrowsePager pager(*kept, 5, 10);
  pager.Layout();
  EXPECT_EQ(pager.Lines(), 2);
  EXPECT_EQ(pager.PageRow(2).text, "C");
  EXPECT_EQ(pager.PageRow(2).record, 8);
  // A row whose text would run past the end is not shown.
  bytes[bytes.size() - 3] = '\x09';
  kept = BrowseCache::InMemory(bytes, nullptr);
  BrowsePager cut(*kept, 5, 10);
  cut.Layout();
  EXPECT_EQ(cut.Lines(), 1);
}

TEST_F(BrowseTest, CursorMovesAndScrolls) {
  Records records{Numbered(25, 0)};
  BrowseCache cache(CachePath(), true, records.Producer());
  BrowsePager pager(cache, 10, 20);
  pager.Layout();
  EXPECT_FALSE(pager.Up());  // start of the list
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(pager.Down());
  EXPECT_EQ(pager.Cursor(), 10);
  EXPECT_TRUE(pager.Down());
  EXPECT_TRUE(pager.Down());
  EXPECT_EQ(pager.PageRow(1).text, "Row 3");
  EXPECT_EQ(pager.PageRow(pager.Cursor()).text, "Row 12");
  // Back two rows only: the cursor goes to row 2 as it was below row 8.
  EXPECT_TRUE(pager.PageUp());
  EXPECT_EQ(pager.PageRow(1).text, "Row 1");
  EXPECT_EQ(pager.Cursor(), 2);
  EXPECT_FALSE(pager.Up());
  EXPECT_EQ(pager.Cursor(), 1);
  EXPECT_FALSE(pager.PageUp());
  // At the end of the list Down does nothing.
  pager.PageDown();
  pager.PageDown();
  for (int i = 0; i < 8; ++i) pager.Down();
  EXPECT_EQ(pager.PageRow(pager.Cursor()).text, "Row 25");
}

TEST_F(BrowseTest, HeadingAndHorizontalShift) {
  Records records{Numbered(3, 30)};
  BrowseCache cache(CachePath(), true, records.Producer());
  BrowsePager pager(cache, 5, 20);
  pager.Layout();
  EXPECT_EQ(pager.RightLimit(), 10);
  const std::string heading = "Code_Name                         end";
  EXPECT_EQ(pager.Heading("Code_Name"), "\xC9" "Code Name" + std::string(11, '\xCD') + "\xBB");
  EXPECT_EQ(pager.Heading(heading), "\xC9" "Code Name" + std::string(11, '\xCD') + "\x10");
  EXPECT_FALSE(pager.Left());
  EXPECT_TRUE(pager.Right());
  EXPECT_EQ(pager.Offset(), 9);
  EXPECT_EQ(pager.Shown(1), records.lines[0].substr(8, 20));
  EXPECT_EQ(pager.Heading(heading), "\x11" "e" + std::string(19, '\xCD') + "\x10");
  EXPECT_TRUE(pager.Right());
  EXPECT_EQ(pager.Offset(), 17);
  EXPECT_FALSE(pager.Right());
  // The heading goes on past the window, but the lines do not: no pointer.
  EXPECT_EQ(pager.Heading(heading), "\x11" + std::string(18, '\xCD') + "en\xBB");
  EXPECT_EQ(pager.Shown(1), records.lines[0].substr(16) + std::string(6, ' '));
  EXPECT_TRUE(pager.Left());
  EXPECT_TRUE(pager.Left());
  EXPECT_EQ(pager.Offset(), 1);
}

// A clock that moves on 100 ms each time it is read.
class SteppingClock : public platform::SystemWrapper {
 public:
  using SystemWrapper::SystemWrapper;
  std::int64_t MonotonicMs() override { return now += 100; }
  std::int64_t now = 0;
};

TEST_F(BrowseTest, EscStopsALongReadingAndOtherKeysAreKept) {
  SteppingClock clock(platform::CurrentSystem());
  platform::ScopedSystem scoped(clock);
  testing::SnapTerminal snap;
  snap.deliverOnLook = true;
  snap.Key('a');
  snap.Key(0x5000);
  snap.Key(27);
  snap.Key('z');
  ReadingWatch watch;  // read at 100
  std::deque<std::int16_t> kept;
  EXPECT_FALSE(watch.Stop(kept));  // 200: too soon to look
  EXPECT_TRUE(kept.empty());
  EXPECT_FALSE(watch.Stop(kept));  // 300: looks, keeps "a"
  EXPECT_FALSE(watch.Stop(kept));
  EXPECT_FALSE(watch.Stop(kept));  // 500: keeps Down
  EXPECT_FALSE(watch.Stop(kept));
  EXPECT_TRUE(watch.Stop(kept));   // 700: Esc
  EXPECT_EQ(kept, (std::deque<std::int16_t>{'a', 0x5000}));
  EXPECT_EQ(snap.events.size(), 1u);  // "z" still waits for the list
}

class ListOnScreen : public BrowseTest {
 protected:
  void SetUp() override {
    BrowseTest::SetUp();
    ResetForms();
    FormItem item;
    item.ints = {0, 0, 5, 10, 9, 40, 0, 0};
    item.text = "Code_Name";
    Forms().forms.items.push_back(item);
  }
  void TearDown() override {
    ResetForms();
    BrowseTest::TearDown();
  }
  void Keep(const std::vector<std::string>& lines) {
    BrowseCache cache(CachePath(), true, nullptr);
    for (std::size_t i = 0; i < lines.size(); ++i) cache.Append(static_cast<std::int32_t>(50 + i), lines[i]);
  }
};

TEST_F(ListOnScreen, EnterChoosesTheCursorLine) {
  Keep({"alpha", "beta", "gamma"});
  std::int16_t list = 1, result = 99;
  term.Key(0x5000);
  term.Key(13);
  BrowseList(list, result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ChosenLine(), "beta");
  EXPECT_EQ(ChosenPosition(), 51);
  EXPECT_FALSE(std::filesystem::exists(CachePath()));
  EXPECT_EQ(PopupWindow().Level, 0);
  EXPECT_TRUE(Screen().styleStack.empty());
}

TEST_F(ListOnScreen, DrawsHeadingPagesAndShift) {
  testing::SnapTerminal snap;
  // Window rows 5 to 16 (H = 10), columns 10 to 31 (W = 20).
  Forms().forms.items[0].ints = {0, 0, 5, 10, 16, 31, 0, 0};
  Forms().forms.items[0].text = "Code_Name";
  std::vector<std::string> lines;
  for (int i = 1; i <= 25; ++i) lines.push_back((i < 10 ? "0" : "") + std::to_string(i) + "  line " + std::string(20, 'x'));
  Keep(lines);
  for (int key : {0x5100, 0x5100, 0x4900, 0x4d00, 0x5000, 27}) snap.Key(key);
  std::int16_t list = 1, result = 0;
  BrowseList(list, result);
  EXPECT_EQ(result, -1);
  ASSERT_EQ(snap.shots.size(), 6u);
  auto heading = [&](std::size_t shot) { return snap.ShotText(shot, 5, 10, 22); };
  // The heading ends inside the window: no pointer on the right.
  EXPECT_EQ(heading(0), "\xC9" "Code Name" + std::string(11, '\xCD') + "\xBB");
  EXPECT_EQ(snap.ShotText(0, 6, 11, 20), "01  line xxxxxxxxxxx");
  EXPECT_EQ(snap.ShotAttr(0, 6, 11), testing::StyleAttribute(4));  // the cursor row
  EXPECT_EQ(snap.ShotText(0, 15, 11, 20), "10  line xxxxxxxxxxx");
  // Second PgDn: rows 21 to 25, the rest blank, the cursor on the first.
  EXPECT_EQ(snap.ShotText(2, 6, 11, 20), "21  line xxxxxxxxxxx");
  EXPECT_EQ(snap.ShotText(2, 10, 11, 20), "25  line xxxxxxxxxxx");
  EXPECT_EQ(snap.ShotText(2, 11, 11, 20), std::string(20, ' '));
  EXPECT_EQ(snap.ShotText(2, 15, 11, 20), std::string(20, ' '));
  // PgUp: rows 11 to 20.
  EXPECT_EQ(snap.ShotText(3, 6, 11, 20), "11  line xxxxxxxxxxx");
  EXPECT_EQ(snap.ShotText(3, 15, 11, 20), "20  line xxxxxxxxxxx");
  // Right: every line and the heading by 8 columns, both pointers shown.
  EXPECT_EQ(snap.ShotText(4, 6, 11, 20), " " + std::string(19, 'x'));
  EXPECT_EQ(heading(4), "\x11" "e" + std::string(19, '\xCD') + "\xBB");
  // Down moves the cursor only.
  EXPECT_EQ(snap.ShotAttr(5, 7, 11), testing::StyleAttribute(4));
  EXPECT_NE(snap.ShotAttr(5, 6, 11), testing::StyleAttribute(4));
  EXPECT_EQ(PopupWindow().Level, 0);
  EXPECT_FALSE(std::filesystem::exists(CachePath()));
}

TEST_F(ListOnScreen, EscAndEmptyListChooseNothing) {
  Keep({"alpha"});
  std::int16_t list = 1, result = 0;
  term.Key(27);
  BrowseList(list, result);
  EXPECT_EQ(result, -1);
  Keep({});
  term.Key(13);
  BrowseList(list, result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ChosenPosition(), 0);
}

TEST_F(ListOnScreen, PrepareListCanCancel) {
  Keep({"alpha"});
  testing::FormHooksDouble hooks;
  hooks.prepareList = [](int, std::string&, std::string&) { return HookAnswer::kRefuse; };
  ScopedFormHooks scoped(hooks);
  std::int16_t list = 1, result = 0;
  BrowseList(list, result);
  EXPECT_EQ(result, -1);  // nothing chosen
  EXPECT_EQ(PopupWindow().Level, 0);
}

}  // namespace
}  // namespace console
