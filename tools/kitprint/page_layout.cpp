#include "tools/kitprint/page_layout.h"

#include <type_traits>

namespace kitprint {
namespace {

// A page without a length still ends somewhere, so that a print file of
// millions of lines and no page line is not held as one page.
constexpr int kMaxUnboundedPageLines = 9999;

class Layout {
 public:
  std::vector<Page> Finish() {
    EndPage();
    return std::move(pages_);
  }

  void StartPage(int length) {
    if (started_) EndPage();
    started_ = true;
    current_ = Page{};
    current_.length = length;
    line_ = 0;
    column_ = 1;
  }

  void Command(const std::string& text) {
    if (!started_) StartPage(0);
    if (text == "q") current_.condensed = true;
    if (text == "@e") current_.condensed = false;
  }

  void Text(const TextLine& t) {
    if (!started_) StartPage(0);
    if (current_.length > 0 && line_ >= current_.length) StartPage(current_.length);
    if (current_.length == 0 && line_ >= kMaxUnboundedPageLines) StartPage(0);
    if (t.column > 0) column_ = t.column;
    Place(t.text);
    if (t.advance > 0) {
      line_ += t.advance;
      column_ = 1;
    }
  }

 private:
  void Place(const std::string& text) {
    if (text.empty()) return;
    if (current_.lines.size() <= static_cast<std::size_t>(line_)) current_.lines.resize(line_ + 1);
    std::string& row = current_.lines[line_];
    std::size_t at = static_cast<std::size_t>(column_ - 1);
    if (row.size() < at + text.size()) row.resize(at + text.size(), ' ');
    row.replace(at, text.size(), text);
    column_ += static_cast<int>(text.size());
  }

  void EndPage() {
    if (!started_) return;
    for (auto& l : current_.lines) {
      while (!l.empty() && l.back() == ' ') l.pop_back();
    }
    while (!current_.lines.empty() && current_.lines.back().empty()) current_.lines.pop_back();
    // A page line followed by nothing (the last break) gives no empty page.
    if (!current_.lines.empty()) pages_.push_back(std::move(current_));
    started_ = false;
  }

  std::vector<Page> pages_;
  Page current_;
  bool started_ = false;
  int line_ = 0;
  int column_ = 1;
};

}  // namespace

std::vector<Page> LayOutPages(const PrintFile& file) {
  Layout layout;
  for (const auto& item : file.items) {
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, PageLine>)
            layout.StartPage(v.length);
          else if constexpr (std::is_same_v<T, CommandLine>)
            layout.Command(v.text);
          else if constexpr (std::is_same_v<T, TextLine>)
            layout.Text(v);
        },
        item);
  }
  return layout.Finish();
}

}  // namespace kitprint
