// CSV text split into rows a block at a time, and where the text comes from.
#include <algorithm>
#include <span>

#include "platform/file_system.h"
#include "tools/kitdata/kitdata.h"

namespace kitdata {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kBlock = 1 << 20;

}  // namespace

std::string CsvText::Read(const std::function<bool(std::string_view)>& block) {
  block(text_);
  return {};
}

std::string CsvFile::Read(const std::function<bool(std::string_view)>& block) {
  platform::FileStatus status;
  std::unique_ptr<platform::File> file = platform::OpenFile(path_, platform::kOpenRead, status);
  if (!file) return path_ + ": " + status.Describe();
  std::string buffer(kBlock, '\0');
  for (std::uint64_t offset = 0;;) {
    std::size_t got = 0;
    status = file->ReadAt(offset, std::span<char>(buffer.data(), buffer.size()), got);
    if (!status.ok()) return path_ + ": " + status.Describe();
    if (got == 0) return {};
    if (!block(std::string_view(buffer.data(), got))) return {};
    offset += got;
  }
}

bool CsvRowParser::Feed(std::string_view block) {
  if (!error_.empty()) return false;
  if (!headDone_) {
    // A byte order mark may come in pieces: hold the first bytes until it
    // can be told.
    const std::size_t wanted = std::min(block.size(), kByteOrderMark.size() - head_.size());
    head_.append(block.substr(0, wanted));
    block.remove_prefix(wanted);
    if (head_.size() < kByteOrderMark.size()) return true;
    headDone_ = true;
    if (!Take(head_ == kByteOrderMark ? std::string_view() : std::string_view(head_))) return false;
  }
  return Take(block);
}

bool CsvRowParser::Finish() {
  if (!headDone_) {
    headDone_ = true;
    if (!Take(head_)) return false;
  }
  if (!error_.empty()) return false;
  if (quoteInQuotes_) quoted_ = quoteInQuotes_ = false;
  if (quoted_) {
    error_ = "line " + std::to_string(rowLine_) + ": quote not closed";
    return false;
  }
  EndRow();
  return true;
}

void CsvRowParser::EndRow() {
  if (any_ || !field_.empty() || wasQuoted_ || !row_.empty()) {
    row_.push_back(std::move(field_));
    sink_(row_, rowLine_);
  }
  row_.clear();
  field_.clear();
  any_ = wasQuoted_ = false;
}

bool CsvRowParser::Take(std::string_view block) {
  for (std::size_t i = 0; i < block.size(); ++i) {
    const char c = block[i];
    if (afterCr_) {
      afterCr_ = false;
      if (c == '\n') continue;
    }
    if (quoteInQuotes_) {
      quoteInQuotes_ = false;
      if (c == '"') {
        field_ += '"';
        continue;
      }
      quoted_ = false;  // that quote closed the field; c is read outside quotes
    }
    if (quoted_) {
      // Runs of plain text inside quotes at once.
      const std::size_t end = block.find('"', i);
      const std::string_view run = block.substr(i, (end == std::string_view::npos ? block.size() : end) - i);
      for (char r : run)
        if (r == '\n') ++line_;
      field_ += run;
      i += run.size();
      if (i < block.size()) quoteInQuotes_ = true;
      continue;
    }
    if (c == '"') {
      if (!field_.empty()) {
        error_ = "line " + std::to_string(line_) + ": quote inside an unquoted field";
        return false;
      }
      quoted_ = wasQuoted_ = true;
      any_ = true;
    } else if (c == ',') {
      row_.push_back(std::move(field_));
      field_.clear();
      wasQuoted_ = false;
      any_ = true;
    } else if (c == '\r' || c == '\n') {
      afterCr_ = c == '\r';
      EndRow();
      ++line_;
      rowLine_ = line_;
    } else {
      if (wasQuoted_) {
        error_ = "line " + std::to_string(line_) + ": text after a closing quote";
        return false;
      }
      field_ += c;
      any_ = true;
    }
  }
  return true;
}

}  // namespace kitdata
