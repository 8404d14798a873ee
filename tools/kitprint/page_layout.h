// Lays the lines of a print file out on pages of fixed-pitch characters.
#pragma once

#include <string>
#include <vector>

#include "tools/kitprint/print_file.h"

namespace kitprint {

struct Page {
  std::vector<std::string> lines;  // code page 850, trailing blanks removed
  bool condensed = false;          // the "q" command was given on this page
  int length = 0;                  // lines per page in force
};

// Every text line is put at its column (1 = the left edge; 0 = where the
// previous text of the line ended) and then the paper advances. With a
// fixed-pitch font every justification lands the text where its column
// says, so justification codes do not move text. A page ends at each page
// line and when the lines in force are used up.
std::vector<Page> LayOutPages(const PrintFile& file);

}  // namespace kitprint
