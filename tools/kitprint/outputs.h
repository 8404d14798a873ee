// Where the pages go: a text file, a PDF document, a printer queue, the screen.
#pragma once

#include <string>
#include <vector>

#include "tools/kitprint/page_layout.h"

namespace kitprint {

// UTF-8 text, each page ended by a form feed.
std::string PagesAsText(const std::vector<Page>& pages);

// Writes the pages as a PDF document; false with `error` set on failure.
bool WritePdf(const std::vector<Page>& pages, const std::string& path, std::string& error);

// Sends the pages as text to the printer queue `queue` through lp.
bool SendToPrinter(const std::vector<Page>& pages, const std::string& queue, std::string& error);

// Shows the pages on the terminal, page by page, until Esc or q.
void ShowInPager(const std::vector<Page>& pages);

}  // namespace kitprint
