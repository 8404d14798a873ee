#include "tools/kitprint/page_layout.h"

#include <type_traits>

namespace kitprint {
namespace {

// A page without a length still ends somewhere, so that a print file of
// millions of lines and no page line is not held as one page.
constexpr int kMaxUnboundedPageLines = 9999;

}  // namespace

void PageLayout::StartPage(int length) {
  if (started_) EndPage();
  started_ = true;
  current_ = Page{};
  current_.length = length;
  start_ = PageStart{itemOffset_, length};
  line_ = 0;
  column_ = 1;
}

void PageLayout::Add(const PrintItem& item, std::uint64_t offset) {
  itemOffset_ = offset;
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, PageLine>)
          StartPage(v.length);
        else if constexpr (std::is_same_v<T, CommandLine>)
          Command(v.text);
        else if constexpr (std::is_same_v<T, TextLine>)
          Text(v);
      },
      item);
}

void PageLayout::Finish() { EndPage(); }

void PageLayout::Command(const std::string& text) {
  if (!started_) StartPage(0);
  if (text == "q") current_.condensed = true;
  if (text == "@e") current_.condensed = false;
}

void PageLayout::Text(const TextLine& t) {
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

void PageLayout::Place(const std::string& text) {
  if (text.empty()) return;
  if (current_.lines.size() <= static_cast<std::size_t>(line_)) current_.lines.resize(line_ + 1);
  std::string& row = current_.lines[line_];
  std::size_t at = static_cast<std::size_t>(column_ - 1);
  if (row.size() < at + text.size()) row.resize(at + text.size(), ' ');
  row.replace(at, text.size(), text);
  column_ += static_cast<int>(text.size());
}

void PageLayout::EndPage() {
  if (!started_) return;
  started_ = false;
  for (auto& l : current_.lines) {
    while (!l.empty() && l.back() == ' ') l.pop_back();
  }
  while (!current_.lines.empty() && current_.lines.back().empty()) current_.lines.pop_back();
  // A page line followed by nothing (the last break) gives no empty page.
  if (!current_.lines.empty()) sink_(std::move(current_), start_);
  current_ = Page{};
}

std::vector<Page> LayOutPages(const PrintFile& file) {
  std::vector<Page> pages;
  PageLayout layout([&](Page&& page, const PageStart&) { pages.push_back(std::move(page)); });
  for (const auto& item : file.items) layout.Add(item);
  layout.Finish();
  return pages;
}

}  // namespace kitprint
