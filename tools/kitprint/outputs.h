// Where the pages go: a text file, a PDF document, a printer queue, the screen.
// Each output takes the pages one at a time, so a listing of any length
// costs the memory of one page.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/kitprint/page_layout.h"

namespace kitprint {

class IndexedPages;

// A page as UTF-8 text ended by a form feed, appended to `out`.
void AppendPageText(const Page& page, std::string& out);
// UTF-8 text, each page ended by a form feed.
std::string PagesAsText(const std::vector<Page>& pages);

// Receives the pages of a listing one by one.
class PageOutput {
 public:
  virtual ~PageOutput() = default;
  // False with `Error()` set on failure; the output is then abandoned.
  virtual bool Add(const Page& page) = 0;
  // Completes the output after the last page.
  virtual bool Finish() = 0;
  const std::string& Error() const { return error_; }

 protected:
  std::string error_;
};

// UTF-8 text to an open stream (standard output), not closed at the end.
std::unique_ptr<PageOutput> TextToStream(std::FILE* stream, std::string name);
// UTF-8 text to a file at `path`, and a PDF document at `path`. Each is
// written beside its place and takes it only once complete: an output
// abandoned, failed or interrupted leaves what was there before. nullptr
// with `error` (naming the file and the reason) when it cannot be begun.
std::unique_ptr<PageOutput> TextToFile(const std::string& path, std::string& error);
std::unique_ptr<PageOutput> PdfToFile(const std::string& path, std::string& error);
// Text for the printer queue `queue`, handed to lp when finished; nullptr
// with `error` set when printing is not available.
std::unique_ptr<PageOutput> TextToPrinter(const std::string& queue, std::string& error);

// Shows the pages on the terminal, page by page, until Esc or q.
void ShowInPager(const IndexedPages& pages);

}  // namespace kitprint
