#include "tools/kitprint/pager_view.h"

#include <algorithm>

namespace kitprint {
namespace {

// Where Page Downs from a page's top stop on its last screen.
int LastScreen(int lines, int rows) { return lines > 0 ? (lines - 1) / rows * rows : 0; }

}  // namespace

PagerView::PagerView(std::size_t pages, std::function<int(std::size_t)> linesOf)
    : pages_(pages), linesOf_(std::move(linesOf)) {
  if (pages_ > 0) Show(0, 0);
}

void PagerView::Show(std::size_t page, int top) {
  page_ = page;
  lines_ = linesOf_(page);
  top_ = top;
}

void PagerView::PageDown(int rows) {
  rows = std::max(rows, 1);
  if (top_ + rows < lines_) {
    top_ += rows;
  } else if (page_ + 1 < pages_) {
    leftAt_[page_] = Left{top_, rows};
    Show(page_ + 1, 0);
  }
}

void PagerView::PageUp(int rows) {
  rows = std::max(rows, 1);
  if (top_ >= rows) {
    top_ -= rows;
  } else if (top_ > 0) {
    top_ = 0;
  } else if (page_ > 0) {
    const std::size_t previous = page_ - 1;
    const int lines = linesOf_(previous);
    // Back where Page Down left it; else its last screen as Page Downs
    // from its top reach it.
    const auto left = leftAt_.find(previous);
    const bool same = left != leftAt_.end() && left->second.rows == rows && left->second.top < lines &&
                      left->second.top + rows >= lines;
    Show(previous, same ? left->second.top : LastScreen(lines, rows));
  }
}

void PagerView::LineDown(int rows) {
  if (top_ + std::max(rows, 1) < lines_) ++top_;
}

void PagerView::LineUp() {
  if (top_ > 0) --top_;
}

void PagerView::Home() {
  if (pages_ > 0) Show(0, 0);
}

void PagerView::End(int rows) {
  if (pages_ == 0) return;
  const std::size_t last = pages_ - 1;
  Show(last, LastScreen(linesOf_(last), std::max(rows, 1)));
}

}  // namespace kitprint
