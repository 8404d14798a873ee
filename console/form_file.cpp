#include "console/form_file.h"

#include <cerrno>
#include <charconv>
#include <optional>

#include "config/catalog.h"
#include "platform/file_system.h"
#include "platform/host_path.h"

namespace console {
namespace {

constexpr char kEndOfFile = 26;  // Ctrl-Z

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Sequential text input: items end at a comma or a line end; a text item
// that begins with a double quote runs to the closing quote.
class ItemReader {
 public:
  explicit ItemReader(std::string_view bytes) : bytes_(bytes) {
    if (auto eof = bytes_.find(kEndOfFile); eof != std::string_view::npos) bytes_ = bytes_.substr(0, eof);
  }

  bool AtEnd() {
    SkipSpace();
    return pos_ >= bytes_.size();
  }

  // Skips leading comment lines; they count only before the first item.
  void SkipComments() {
    while (pos_ < bytes_.size()) {
      std::size_t lineEnd = pos_;
      while (lineEnd < bytes_.size() && !IsLineEnd(bytes_[lineEnd])) ++lineEnd;
      std::size_t first = pos_;
      while (first < lineEnd && IsBlank(bytes_[first])) ++first;
      if (first < lineEnd && bytes_[first] == '\'') {
        pos_ = SkipLineEnd(lineEnd);
      } else if (first == lineEnd && lineEnd < bytes_.size()) {
        // An empty line before the counts separates nothing.
        pos_ = SkipLineEnd(lineEnd);
      } else {
        return;
      }
    }
  }

  std::optional<std::string> Text() {
    if (AtEnd()) {
      // A comma just before the end still announces an (empty) item.
      if (!afterComma_) return std::nullopt;
      afterComma_ = false;
      return std::string();
    }
    std::string item;
    if (bytes_[pos_] == '"') {
      const std::size_t close = bytes_.find('"', pos_ + 1);
      const std::size_t stop = close == std::string_view::npos ? bytes_.size() : close;
      item = bytes_.substr(pos_ + 1, stop - pos_ - 1);
      pos_ = close == std::string_view::npos ? bytes_.size() : close + 1;
      while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !IsLineEnd(bytes_[pos_])) ++pos_;
    } else {
      const std::size_t start = pos_;
      while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !IsLineEnd(bytes_[pos_])) ++pos_;
      item = bytes_.substr(start, pos_ - start);
      while (!item.empty() && IsBlank(item.back())) item.pop_back();
    }
    EndItem();
    return item;
  }

  // A number item: empty counts as 0; anything but digits with an optional
  // sign is refused rather than guessed at.
  enum class NumberStatus { kOk, kEnd, kBad };
  NumberStatus Number(std::int16_t& out, std::string& seen) {
    std::optional<std::string> item = Text();
    if (!item) return NumberStatus::kEnd;
    seen = *item;
    std::string_view text = *item;
    if (text.empty()) {
      out = 0;
      return NumberStatus::kOk;
    }
    if (text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < INT16_MIN || value > INT16_MAX)
      return NumberStatus::kBad;
    out = static_cast<std::int16_t>(value);
    return NumberStatus::kOk;
  }

 private:
  void SkipSpace() {
    // A line end right after a comma closes an empty item; elsewhere line
    // ends only separate.
    while (pos_ < bytes_.size() && (IsBlank(bytes_[pos_]) || (!afterComma_ && IsLineEnd(bytes_[pos_])))) ++pos_;
  }
  std::size_t SkipLineEnd(std::size_t at) const {
    if (at < bytes_.size() && bytes_[at] == '\r') ++at;
    if (at < bytes_.size() && bytes_[at] == '\n') ++at;
    return at;
  }
  void EndItem() {
    if (pos_ >= bytes_.size()) return;
    afterComma_ = bytes_[pos_] == ',';
    if (afterComma_)
      ++pos_;
    else
      pos_ = SkipLineEnd(pos_);
  }

  std::string_view bytes_;
  std::size_t pos_ = 0;
  bool afterComma_ = false;
};

class Parser {
 public:
  Parser(std::string_view bytes, const TextTranslator& translate) : in_(bytes), translate_(translate) {}

  FormFileResult Run() {
    in_.SkipComments();
    std::int16_t screenCount = 0;
    if (!Int(screenCount, "the screen count") || !Int(result_.forms.maxFields, "the largest field count"))
      return Done();
    if (screenCount < 0) return Fail("a negative screen count");
    for (int s = 1; s <= screenCount; ++s) {
      where_ = "screen " + std::to_string(s);
      if (!ReadScreen()) return Done();
    }
    where_ = "the look-up lists";
    std::int16_t itemCount = 0;
    if (!Int(itemCount, "the look-up list count")) return Done();
    if (itemCount < 0) return Fail("a negative look-up list count");
    for (int i = 1; i <= itemCount; ++i) {
      where_ = "look-up list " + std::to_string(i);
      if (!ReadItem()) return Done();
    }
    return Done();
  }

 private:
  bool ReadScreen() {
    FormScreen screen;
    std::int16_t fieldCount = 0;
    if (!Str(screen.keys, "the key list") || !Int(fieldCount, "the field count") ||
        !Int(screen.continuation, "the continuation screen"))
      return false;
    if (fieldCount < 0) return Fail("a negative field count"), false;
    for (auto& g : screen.geometry)
      if (!Int(g, "the window")) return false;
    screen.fieldCount = fieldCount;
    result_.forms.screens.push_back(screen);
    FormScreen& stored = result_.forms.screens.back();
    for (int j = 1; j <= fieldCount; ++j) {
      FormField field;
      const std::string what = "field " + std::to_string(j);
      if (!Int(field.ints[0], what) || !Int(field.ints[1], what) || !Str(field.caption, what)) return false;
      for (std::size_t k = 2; k < 8; ++k)
        if (!Int(field.ints[k], what)) return false;
      if (!Str(field.options, what)) return false;
      if (field.ints[2] < 0) return Fail("a negative length in " + what), false;
      field.caption = Translate(field.caption);
      field.options = Translate(field.options);
      field.value.assign(static_cast<std::size_t>(field.ints[2]), ' ');
      stored.fields.push_back(std::move(field));
    }
    return true;
  }

  bool ReadItem() {
    FormItem item;
    for (std::size_t k = 0; k < 7; ++k)
      if (!Int(item.ints[k], "its numbers")) return false;
    if (!Str(item.text, "its heading") || !Int(item.ints[7], "its F4 list")) return false;
    item.text = Translate(item.text);
    result_.forms.items.push_back(std::move(item));
    return true;
  }

  std::string Translate(const std::string& text) const { return translate_ ? translate_(text) : text; }

  bool Int(std::int16_t& out, const std::string& what) {
    std::string seen;
    switch (in_.Number(out, seen)) {
      case ItemReader::NumberStatus::kOk:
        return true;
      case ItemReader::NumberStatus::kEnd:
        return Fail("ends too early, at " + what + Where()), false;
      case ItemReader::NumberStatus::kBad:
        return Fail("has \"" + seen + "\" where a number is expected, at " + what + Where()), false;
    }
    return false;
  }
  bool Str(std::string& out, const std::string& what) {
    std::optional<std::string> item = in_.Text();
    if (!item) return Fail("ends too early, at " + what + Where()), false;
    out = std::move(*item);
    return true;
  }
  std::string Where() const { return where_.empty() ? std::string() : " of " + where_; }

  FormFileResult Fail(std::string error) {
    if (result_.error.empty()) result_.error = std::move(error);
    return result_;
  }
  FormFileResult Done() { return std::move(result_); }

  ItemReader in_;
  const TextTranslator& translate_;
  FormFileResult result_;
  std::string where_;
};

}  // namespace

FormFileResult ParseFormFile(std::string_view bytes, const TextTranslator& translate) {
  return Parser(bytes, translate).Run();
}

FormFileResult LoadFormFile(std::string_view rootDir, std::string_view moduleName) {
  const std::string suitePath = std::string(rootDir) + "FORMS\\" + std::string(moduleName) + ".JPN";
  FormFileResult result;
  const std::optional<std::string> host = platform::HostPath(suitePath);
  const platform::ReadResult read =
      host ? platform::ReadWholeFile(*host) : platform::ReadResult{{}, platform::FileStatus{ENOENT}};
  if (!read.ok()) {
    result.error = "The form file " + suitePath + " cannot be read: " + read.status.Describe() + ".";
    result.missing = true;
    return result;
  }
  const std::string& bytes = read.bytes;
  result = ParseFormFile(bytes, [](std::string_view text) { return config::CatalogText(text); });
  if (!result.ok()) result.error = "The form file " + suitePath + " is damaged: it " + result.error + ".";
  return result;
}

std::string FitValue(std::string_view text, std::size_t width) {
  std::string value(text.substr(0, width));
  value.resize(width, ' ');
  return value;
}

}  // namespace console
