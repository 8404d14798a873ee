#include <algorithm>
#include <string>
#include <vector>

#include "config/session.h"
#include "console/key_reader.h"
#include "console/messages.h"
#include "console/screen.h"
#include "console/window_stack.h"
#include "data/files.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/system.h"
#include "platform/terminal.h"

namespace console {

namespace {

constexpr int kTextWidth = 76;
constexpr char kHighlight = 30, kUnderline = 31, kReverse = 16;

// Writes one help line at window row `row`, the control codes switching
// styles and taking no room.
void ShowLine(int row, std::string_view line) {
  SetStyle("n");
  LocateInWindow(static_cast<std::int16_t>(row), 2);
  platform::Terminal& term = platform::CurrentTerminal();
  if (line.find_first_of(std::string_view("\x1e\x1f\x10", 3)) == std::string_view::npos) {
    term.Write(line.substr(0, kTextWidth));
    return;
  }
  bool highlight = false, underline = false, reverse = false;
  int written = 0;
  for (char c : line) {
    if (c == kHighlight || c == kUnderline || c == kReverse) {
      bool& flag = c == kHighlight ? highlight : c == kUnderline ? underline : reverse;
      flag = !flag;
      if (flag) {
        if (c == kHighlight && !underline) SetStyle("h");
        if (c == kUnderline && !highlight) SetStyle("u");
        if (c == kReverse) SetStyle("r");
      } else if (!highlight && !underline && !reverse) {
        SetStyle("n");
      }
      continue;
    }
    if (written >= kTextWidth) continue;
    term.Write(std::string_view(&c, 1));
    ++written;
  }
}

class Viewer {
 public:
  Viewer(std::vector<std::string> lines, int visible) : lines_(std::move(lines)), visible_(visible) {}

  int Count() const { return static_cast<int>(lines_.size()); }

  void ShowPage(int first) {
    top_ = first;
    SetStyle("n");
    const std::string blanks(static_cast<std::size_t>(PopupWindow().Right - PopupWindow().Left - 1), ' ');
    for (int k = 1; k <= visible_; ++k) {
      WriteAt(static_cast<std::int16_t>(k), 1, blanks);
      ShowAt(k, top_ + k - 1);
    }
  }

  void LineDown() {
    if (top_ + visible_ - 1 >= Count()) return;
    Scroll(1);
    ++top_;
    ShowAt(visible_, top_ + visible_ - 1);
  }

  void LineUp() {
    if (top_ <= 1) return;
    Scroll(-1);
    --top_;
    ShowAt(1, top_);
  }

  void PageDown() {
    if (top_ + visible_ - 1 >= Count()) return;
    ShowPage(std::min(top_ + visible_, Count() - visible_ + 1));
  }
  void PageUp() {
    if (top_ <= 1) return;
    ShowPage(std::max(1, top_ - visible_));
  }
  void Home() {
    if (top_ > 1) ShowPage(1);
  }
  void End() {
    if (top_ + visible_ - 1 < Count()) ShowPage(Count() - visible_ + 1);
  }

 private:
  void ShowAt(int row, int line) {
    if (line >= 1 && line <= Count()) ShowLine(row, lines_[static_cast<std::size_t>(line - 1)]);
  }
  void Scroll(int lines) {
    const PopupWindowState& w = PopupWindow();
    SetStyle("n");
    // The inside of the frame, counted from 0.
    ScrollArea(static_cast<std::int16_t>(w.Top), static_cast<std::int16_t>(w.Left),
               static_cast<std::int16_t>(w.Top + visible_ - 1), static_cast<std::int16_t>(w.Right - 2),
               static_cast<std::int16_t>(lines));
  }

  std::vector<std::string> lines_;
  int visible_;
  int top_ = 1;
};

std::vector<std::string> ReadHelpFile(std::string_view topic, int recordLength) {
  std::vector<std::string> lines;
  if (recordLength <= 0) return lines;
  // A help file that cannot be read (missing, a directory, an I/O error)
  // gives an empty viewer.
  const platform::ReadResult read =
      platform::ReadWholeFile(platform::HostPathOrRaw("AJUDA\\" + std::string(topic) + ".HLP"));
  if (!read.ok()) return lines;
  const std::string& bytes = read.bytes;
  // A short last record (a file cut off) is left out, as whole lines only count.
  const std::size_t count = bytes.size() / static_cast<std::size_t>(recordLength);
  for (std::size_t i = 0; i < count; ++i) {
    lines.push_back(bytes.substr(i * static_cast<std::size_t>(recordLength), static_cast<std::size_t>(recordLength)));
  }
  return lines;
}

}  // namespace

void ShowHelp(std::string_view topic) {
  if (config::Session().RunEnvironment == "WIN") {
    const std::string shell = platform::GetEnv("COMSPEC");
    if (shell.empty()) return;  // no launcher: the screen stays as it is
    platform::Terminal& term = platform::CurrentTerminal();
    term.Suspend();
    data::BeforeWaiting();
    platform::RunAndWait(shell, {"/C", "DOCRUN", "AJUDA\\" + std::string(topic) + ".HTM"});
    term.Resume();
    return;
  }
  const int top = 4, left = 1, bottom = ScreenRows() - 3, right = ScreenColumns();
  const int visible = bottom - 5;
  Viewer viewer(ReadHelpFile(topic, ScreenColumns()), visible);
  SetStyle("+h");
  PushWindow(static_cast<std::int16_t>(top), static_cast<std::int16_t>(left), static_cast<std::int16_t>(bottom),
             static_cast<std::int16_t>(right));
  DrawFrame(2);
  viewer.ShowPage(1);
  while (true) {
    const KeyCode key = WaitInput().key;  // clicks scroll nothing
    if (key == keys::kEsc) break;
    switch (key) {
      case keys::kF1:
        if (topic != "TOOLSMNU") ShowHelp("TOOLSMNU");
        break;
      case keys::kDown: viewer.LineDown(); break;
      case keys::kUp: viewer.LineUp(); break;
      case keys::kPgDn: viewer.PageDown(); break;
      case keys::kPgUp: viewer.PageUp(); break;
      case keys::kHome: viewer.Home(); break;
      case keys::kEnd: viewer.End(); break;
      default: break;
    }
  }
  PopWindow();
  SetStyle("-");
}

}  // namespace console
