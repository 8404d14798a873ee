// Lays the lines of a print file out on pages of fixed-pitch characters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/kitprint/print_file.h"

namespace kitprint {

struct Page {
  std::vector<std::string> lines;  // code page 850, trailing blanks removed
  bool condensed = false;          // the "q" command was given on this page
  int length = 0;                  // lines per page in force
};

// Where a page of a print file begins: laying out from the line at
// `offset` on a fresh page of `length` lines gives that page first.
struct PageStart {
  std::uint64_t offset = 0;
  int length = 0;
};

// Every text line is put at its column (1 = the left edge; 0 = where the
// previous text of the line ended) and then the paper advances. With a
// fixed-pitch font every justification lands the text where its column
// says, so justification codes do not move text. A page ends at each page
// line and when the lines in force are used up. Items are given one at a
// time and each finished page goes to the sink, so only one page is held.
class PageLayout {
 public:
  using Sink = std::function<void(Page&& page, const PageStart& start)>;
  explicit PageLayout(Sink sink) : sink_(std::move(sink)) {}

  // Begins a page of `length` lines as if a page line had been read, for
  // laying out from a PageStart.
  void StartPage(int length);
  // `offset` is where the item's line starts in the print file.
  void Add(const PrintItem& item, std::uint64_t offset = 0);
  // Ends the last page.
  void Finish();

 private:
  void Command(const std::string& text);
  void Text(const TextLine& t);
  void Place(const std::string& text);
  void EndPage();

  Sink sink_;
  Page current_;
  PageStart start_;
  std::uint64_t itemOffset_ = 0;
  bool started_ = false;
  int line_ = 0;
  int column_ = 1;
};

// All pages of a parsed print file.
std::vector<Page> LayOutPages(const PrintFile& file);

}  // namespace kitprint
