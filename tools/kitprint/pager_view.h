// Where the pager stands in the document and how its keys move it, apart
// from the terminal so that the moves can be tested as they are.
//
// The pages are shown one at a time, `rows` lines of a page at once. Page
// Down shows the next `rows` lines of the page while any is left unseen,
// then the next page from its top; Page Up is its exact reverse, so a run
// of Page Downs is retraced line for line by as many Page Ups, across pages
// too. The last screen of a page may show blank rows below the page's end
// rather than lines seen already.
#pragma once

#include <cstddef>
#include <functional>
#include <map>

namespace kitprint {

class PagerView {
 public:
  // `linesOf(i)`: the number of lines of page i (from 0).
  PagerView(std::size_t pages, std::function<int(std::size_t)> linesOf);

  std::size_t Page() const { return page_; }
  // The page's line at the top of the screen, from 0.
  int Top() const { return top_; }

  void PageDown(int rows);
  void PageUp(int rows);
  // One line, within the page: down only while its end is below the screen.
  void LineDown(int rows);
  void LineUp();
  // The first page from its top; the last page's last screen, where Page
  // Downs from its top stop.
  void Home();
  void End(int rows);

 private:
  void Show(std::size_t page, int top);

  std::size_t pages_;
  std::function<int(std::size_t)> linesOf_;
  std::size_t page_ = 0;
  int top_ = 0;
  int lines_ = 0;  // of the page shown
  // Where Page Down left a page for the next one (top line, rows then):
  // Page Up from the next page's top comes back there.
  struct Left {
    int top, rows;
  };
  std::map<std::size_t, Left> leftAt_;
};

}  // namespace kitprint
