// A print file laid out page by page straight from the file: one pass finds
// the device, the problems and where each page begins; later passes give
// the pages one at a time, all of them or any one, without holding the rest.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tools/kitprint/page_layout.h"
#include "tools/kitprint/print_file.h"

namespace kitprint {

struct PrintFileIndex {
  bool hasDevice = false;
  std::string device;  // the first device line's name, blanks trimmed
  std::vector<PageStart> pages;
};

// Reads the whole file once. Each problem goes to `problem` as it is met (the
// missing device line last); `progress` hears how many bytes were read.
platform::FileStatus IndexPrintFile(platform::File& file, PrintFileIndex& index,
                                    const std::function<void(const PrintFileProblem&)>& problem,
                                    const std::function<void(std::uint64_t)>& progress = {});

// Gives `sink` the pages from `from` (the first page when not given) in
// order, until the file ends or the sink returns false.
platform::FileStatus StreamPages(platform::File& file, const std::optional<PageStart>& from,
                                 const std::function<bool(Page&&)>& sink);

// The pages of an indexed print file, read from it on demand.
class IndexedPages {
 public:
  IndexedPages(platform::File& file, const PrintFileIndex& index) : file_(file), index_(index) {}
  std::size_t Count() const { return index_.pages.size(); }
  // Page `i` (from 0); an empty page when it cannot be read.
  Page At(std::size_t i) const;

 private:
  platform::File& file_;
  const PrintFileIndex& index_;
};

}  // namespace kitprint
