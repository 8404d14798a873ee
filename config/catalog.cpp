#include "config/catalog.h"

#include <cerrno>

#include "base/cp850.h"
#include "config/session.h"
#include "platform/file_system.h"
#include "platform/host_path.h"

namespace config {
namespace {

constexpr char kEndOfFile = 26;  // Ctrl-Z

std::string& Name() {
  static std::string name;
  return name;
}

// Reads the catalogue's items one after the other.
class ItemReader {
 public:
  explicit ItemReader(std::string_view bytes) : bytes_(bytes) {
    if (auto eof = bytes_.find(kEndOfFile); eof != std::string_view::npos) bytes_ = bytes_.substr(0, eof);
  }

  // The next item; none at the end of the file.
  std::optional<std::string> Next() {
    while (pos_ < bytes_.size() && (bytes_[pos_] == ' ' || bytes_[pos_] == '\t' || bytes_[pos_] == '\n')) ++pos_;
    if (pos_ >= bytes_.size()) {
      // A comma just before the end still announces an (empty) item.
      if (afterComma_) {
        afterComma_ = false;
        return std::string();
      }
      return std::nullopt;
    }
    std::string item;
    if (bytes_[pos_] == '"') {
      const std::size_t close = bytes_.find('"', pos_ + 1);
      if (close == std::string_view::npos) {
        // An unterminated quote runs to the end of the file.
        item = bytes_.substr(pos_ + 1);
        pos_ = bytes_.size();
        afterComma_ = false;
        return item;
      }
      item = bytes_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
      // Anything between the closing quote and the separator is ignored.
      while (pos_ < bytes_.size() && bytes_[pos_] != ',' && bytes_[pos_] != '\r' && bytes_[pos_] != '\n') ++pos_;
    } else {
      while (pos_ < bytes_.size() && bytes_[pos_] != ',' && bytes_[pos_] != '\r') {
        if (bytes_[pos_] != '\t' && bytes_[pos_] != '\n') item += bytes_[pos_];
        ++pos_;
      }
    }
    afterComma_ = pos_ < bytes_.size() && bytes_[pos_] == ',';
    if (pos_ < bytes_.size()) ++pos_;
    return item;
  }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
  bool afterComma_ = false;
};

std::optional<CatalogEntry> NextEntry(ItemReader& reader) {
  CatalogEntry entry;
  for (std::string* item : {&entry.key, &entry.galician, &entry.aranese, &entry.spanish}) {
    std::optional<std::string> next = reader.Next();
    if (!next) return std::nullopt;
    *item = std::move(*next);
  }
  return entry;
}

// True when `bytes` are well-formed UTF-8 holding at least one character
// beyond ASCII. Code page 850 texts with accents almost never are: their
// accented letters stand alone where UTF-8 wants a lead byte and its
// continuation bytes.
bool LooksLikeUtf8(std::string_view bytes) {
  bool beyondAscii = false;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    beyondAscii = true;
    i += length;
  }
  return beyondAscii;
}

// The catalogue's bytes in code page 850. A site that edits the catalogue
// with an editor that saves UTF-8 (with or without its byte order mark)
// still gets its texts with the right letters, rather than every accent
// as two wrong characters and the accented keys not found.
std::string InCodePage850(std::string bytes) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  const bool marked = bytes.starts_with(kByteOrderMark);
  if (marked) bytes.erase(0, kByteOrderMark.size());
  if (!marked && !LooksLikeUtf8(bytes)) return bytes;
  return base::Utf8ToCp850(bytes);
}

}  // namespace

std::vector<CatalogEntry> ParseCatalog(std::string_view bytes) {
  std::vector<CatalogEntry> entries;
  ItemReader reader(bytes);
  while (auto entry = NextEntry(reader)) entries.push_back(std::move(*entry));
  return entries;
}

std::optional<CatalogEntry> FindCatalogEntry(std::string_view bytes, std::string_view text) {
  ItemReader reader(bytes);
  while (auto entry = NextEntry(reader))
    if (entry->key == text) return entry;
  return std::nullopt;
}

void SetCatalogName(std::string_view name) { Name() = std::string(name); }
const std::string& CatalogName() { return Name(); }
void ResetCatalog() { Name().clear(); }

std::string CatalogText(std::string_view text) {
  const std::string& language = Session().Language;
  if (language == "CAT") return std::string(text);
  if (Name().empty()) Name() = std::string(kModuleName);

  const std::optional<std::string> path = platform::HostPath(Session().RootDir + "LOCALE\\" + Name() + ".LNG");
  if (!path || path->empty()) return std::string(text);
  platform::ReadResult read = platform::ReadWholeFile(*path);
  if (read.status.error == ENOENT) {
    // A missing catalogue is created empty, as the suite expects to find one.
    platform::FileStatus created;
    platform::OpenFile(*path, platform::kOpenCreate, created);
    return std::string(text);
  }
  // A catalogue that cannot be read (a directory, an I/O error) translates nothing.
  if (!read.ok()) return std::string(text);
  const std::string bytes = InCodePage850(std::move(read.bytes));

  const std::optional<CatalogEntry> entry = FindCatalogEntry(bytes, text);
  if (!entry) return std::string(text);
  if (language == "GLG") return entry->galician;
  if (language == "OCI") return entry->aranese;
  if (language == "SPA") return entry->spanish;
  return std::string(text);
}

}  // namespace config
