#include "format/text.h"

#include <algorithm>
#include <vector>

#include "base/cp850.h"
#include "base/strings.h"

namespace format {
namespace {

FoldTable TableFromString(std::string_view s) {
  FoldTable t{};
  std::copy_n(s.begin(), std::min(s.size(), t.size()), t.begin());
  return t;
}

FoldTable BuildCaseFoldTable() {
  FoldTable t{};
  for (int c = kFoldFirst; c <= kFoldLast; ++c) t[static_cast<std::size_t>(c - kFoldFirst)] = static_cast<char>(c);
  for (int c = 'a'; c <= 'z'; ++c) t[static_cast<std::size_t>(c - kFoldFirst)] = static_cast<char>(c - 32);
  // Small accented letters whose capital exists in the code page; the
  // others (ÿ ø ß µ þ) stay as they are.
  constexpr std::string_view small = "çüéâäàåêëèïîìæôöòûùáíóúñãðõý"_cp;
  constexpr std::string_view capital = "ÇÜÉÂÄÀÅÊËÈÏÎÌÆÔÖÒÛÙÁÍÓÚÑÃÐÕÝ"_cp;
  static_assert(small.size() == capital.size());
  for (std::size_t i = 0; i < small.size(); ++i)
    t[static_cast<unsigned char>(small[i]) - static_cast<std::size_t>(kFoldFirst)] = capital[i];
  return t;
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 32; }

// Inserts blanks into the gaps between words, one per gap from left to
// right and round again, until the line is `width` long.
void Justify(std::string& line, std::size_t indent, std::size_t width) {
  std::vector<std::size_t> gaps;  // where each run of blanks ends
  for (std::size_t i = indent; i < line.size(); ++i)
    if (line[i] == ' ' && (i + 1 == line.size() || line[i + 1] != ' ')) gaps.push_back(i + 1);
  if (gaps.empty() || line.size() >= width) return;
  // Each gap gets its share of the rounds at once: the first gaps one more.
  const std::size_t extra = width - line.size();
  std::string out;
  out.reserve(width);
  std::size_t from = 0;
  for (std::size_t g = 0; g < gaps.size(); ++g) {
    out.append(line, from, gaps[g] - from);
    out.append(extra / gaps.size() + (g < extra % gaps.size() ? 1 : 0), ' ');
    from = gaps[g];
  }
  out.append(line, from, std::string::npos);
  line = std::move(out);
}

}  // namespace

const FoldTable& KeyFoldTable() {
  static const FoldTable table = TableFromString(
      " ABCDEFGHIJKLMNOPQRSTUVWXYZ      ABCDEFGHIJKLMNOPQRSTUVWXYZ     CUEAAAACEEEIIIAAEAAOOOUUYOUO O  "
      "AIOUNNAO             AAA              AA        DDEEEEIII     I OSOOOO TTUUUYY");
  return table;
}

const FoldTable& CaseFoldTable() {
  static const FoldTable table = BuildCaseFoldTable();
  return table;
}

std::string FoldText(std::string_view text) { return FoldText(text, CaseFoldTable()); }

std::string FoldText(std::string_view text, const FoldTable& table) {
  std::string out(text);
  for (char& c : out) {
    const int code = static_cast<unsigned char>(c);
    if (code >= kFoldFirst && code <= kFoldLast) c = table[static_cast<std::size_t>(code - kFoldFirst)];
  }
  return out;
}

std::string NameInReadingOrder(std::string_view storedName) {
  const std::size_t star = storedName.find('*');
  if (star == std::string_view::npos || star == 0) return std::string(base::Trim(storedName));
  const std::string_view trimmedWhole = base::Trim(storedName);
  std::string out(base::Trim(storedName.substr(star + 1)));
  if (trimmedWhole.empty() || trimmedWhole.back() != '\'') out += ' ';
  out += base::Trim(storedName.substr(0, star));
  return out;
}

bool IsAllChar(std::string_view text, std::int16_t code) {
  if (text.empty()) return true;
  if (code < 0 || code > 255) return false;
  const char c = static_cast<char>(code);
  return std::all_of(text.begin(), text.end(), [c](char t) { return t == c; });
}

namespace {

// Where the line that starts at `start` ends: after `room` characters that
// take room, with the control characters right after them, but before the
// last blank or control character when a word would be cut there. A word
// longer than the line is cut.
std::size_t LineEnd(std::string_view text, std::size_t start, int room) {
  const std::size_t n = text.size();
  std::size_t full = start;
  for (int used = 0; full < n && used < room; ++full)
    if (!IsControl(text[full])) ++used;
  if (text[full - 1] != ' ')
    while (full < n && IsControl(text[full])) ++full;
  const bool cutsWord = full < n && text[full] != ' ' && !IsControl(text[full]);
  if (!cutsWord) return full;
  std::size_t wordStart = full;
  while (wordStart > start && text[wordStart - 1] != ' ' && !IsControl(text[wordStart - 1])) --wordStart;
  // The word starts the line (after at most one blank): cut it.
  if (wordStart <= start + 1) return full;
  const std::size_t cut = wordStart - 1;
  std::size_t end = cut;
  // Blanks before a control character that ends the line go too.
  if (IsControl(text[cut]))
    while (end > start && text[end - 1] == ' ') --end;
  return end == start ? full : end;
}

// Pads `line` to `width` as the first letter of the alignment asks.
void AlignLine(std::string& line, char how, std::size_t indent, std::size_t width, bool moreFollows) {
  const std::size_t pad = line.size() < width ? width - line.size() : 0;
  switch (how) {
    case 'E':
    case 'L':
    case 'I':
      line.append(pad, ' ');
      break;
    case 'N':
      line.append(pad, '-');
      break;
    case 'D':
    case 'R':
      line.insert(0, pad, ' ');
      break;
    case 'C':
      line.insert(0, pad / 2, ' ');
      line.append(pad - pad / 2, ' ');
      break;
    case 'A':
    case 'B':
      // The last line of a justified text stays as it is.
      if (moreFollows) Justify(line, indent, width);
      break;
    default:
      break;
  }
}

}  // namespace

void WrapText(std::string& text, std::int16_t indent, std::int16_t width, std::string_view alignment) {
  const std::size_t n = text.size();
  const int w = width;
  // An indent as wide as the line would leave no room at all: keep one
  // column, so that every line takes at least one character.
  const int maxIndent = std::max(0, w - 1);
  const int firstIndent = std::min(indent > 0 ? static_cast<int>(indent) : 0, maxIndent);
  const int nextIndent = std::min(indent < 0 ? -static_cast<int>(indent) : 0, maxIndent);
  const char how = alignment.empty() ? '\0' : base::AsciiUpper(alignment.front());
  const std::size_t lineWidth = w > 0 ? static_cast<std::size_t>(w) : 0;

  std::string out;
  std::size_t start = 0;
  for (bool first = true; start < n; first = false) {
    const int lineIndent = first ? firstIndent : nextIndent;
    const std::size_t end = LineEnd(text, start, std::max(1, w - lineIndent));
    std::string line(static_cast<std::size_t>(lineIndent), ' ');
    line.append(text, start, end - start);
    // The blanks where a line breaks are dropped.
    start = end;
    while (start < n && text[start] == ' ') ++start;
    AlignLine(line, how, static_cast<std::size_t>(lineIndent), lineWidth, start < n);
    out += line;
  }
  text = std::move(out);
}

}  // namespace format
