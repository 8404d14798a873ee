#include "tools/kitprint/page_stream.h"

#include "tools/kitprint/line_reader.h"

namespace kitprint {

platform::FileStatus IndexPrintFile(platform::File& file, PrintFileIndex& index,
                                    const std::function<void(const PrintFileProblem&)>& problem,
                                    const std::function<void(std::uint64_t)>& progress) {
  index = PrintFileIndex{};
  PageLayout layout([&](Page&&, const PageStart& start) { index.pages.push_back(start); });
  LineReader reader(file, 0, kLongestPrintLine);
  std::string_view line;
  std::uint64_t offset = 0;
  int lineNumber = 0;
  while (reader.Next(line, offset)) {
    ++lineNumber;
    ParsedLine parsed = ParsePrintLine(line);
    if (parsed.kind == ParsedLine::Kind::kProblem) {
      problem(PrintFileProblem{lineNumber, std::move(parsed.problem)});
    } else if (parsed.kind == ParsedLine::Kind::kItem) {
      if (const auto* device = std::get_if<DeviceLine>(&parsed.item); device && !index.hasDevice) {
        index.hasDevice = true;
        index.device = device->name;
      }
      layout.Add(parsed.item, offset);
    }
    if (progress && (lineNumber & 0xFFFF) == 0) progress(reader.Offset());
  }
  if (!reader.Status().ok()) return reader.Status();
  layout.Finish();
  if (!index.hasDevice) problem(PrintFileProblem{1, kNoDeviceProblem});
  return {};
}

platform::FileStatus StreamPages(platform::File& file, const std::optional<PageStart>& from,
                                 const std::function<bool(Page&&)>& sink) {
  bool more = true;
  PageLayout layout([&](Page&& page, const PageStart&) {
    if (more) more = sink(std::move(page));
  });
  LineReader reader(file, from ? from->offset : 0, kLongestPrintLine);
  if (from) layout.StartPage(from->length);
  std::string_view line;
  std::uint64_t offset = 0;
  while (more && reader.Next(line, offset)) {
    ParsedLine parsed = ParsePrintLine(line);
    if (parsed.kind == ParsedLine::Kind::kItem) layout.Add(parsed.item, offset);
  }
  if (!reader.Status().ok()) return reader.Status();
  if (more) layout.Finish();
  return {};
}

Page IndexedPages::At(std::size_t i) const {
  Page result;
  if (i >= index_.pages.size()) return result;
  StreamPages(file_, index_.pages[i], [&](Page&& page) {
    result = std::move(page);
    return false;
  });
  return result;
}

}  // namespace kitprint
