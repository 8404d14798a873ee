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

void WrapText(std::string& text, std::int16_t indent, std::int16_t width, std::string_view alignment) {
  const std::size_t n = text.size();
  const int w = width;
  // An indent as wide as the line would leave no room at all: keep one
  // column, so that every line takes at least one character.
  const int maxIndent = std::max(0, w - 1);
  const int firstIndent = std::min(indent > 0 ? static_cast<int>(indent) : 0, maxIndent);
  const int nextIndent = std::min(indent < 0 ? -static_cast<int>(indent) : 0, maxIndent);
  const char how = alignment.empty() ? '\0' : base::AsciiUpper(alignment.front());

  std::string out;
  std::size_t s = 0;
  bool first = true;
  while (s < n) {
    const int lineIndent = first ? firstIndent : nextIndent;
    const int room = std::max(1, w - lineIndent);
    std::size_t e = s;
    int used = 0;
    while (e < n && used < room) {
      if (!IsControl(text[e])) ++used;
      ++e;
    }
    if (text[e - 1] != ' ')
      while (e < n && IsControl(text[e])) ++e;
    std::size_t end = e;
    if (e < n && text[e] != ' ' && !IsControl(text[e])) {
      // A word would be cut: stop before the line's last blank or control.
      std::size_t p = e;
      while (p > s && text[p - 1] != ' ' && !IsControl(text[p - 1])) --p;
      if (p > s) {
        std::size_t cut = p - 1;
        if (cut > s) {
          end = cut;
          if (IsControl(text[cut]))
            while (end > s && text[end - 1] == ' ') --end;
          if (end == s) end = e;
        }
      }
    }

    std::string line(static_cast<std::size_t>(lineIndent), ' ');
    line.append(text, s, end - s);
    s = end;
    while (s < n && text[s] == ' ') ++s;
    const bool moreFollows = s < n;

    const std::size_t target = w > 0 ? static_cast<std::size_t>(w) : 0;
    const std::size_t pad = line.size() < target ? target - line.size() : 0;
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
        if (moreFollows) Justify(line, static_cast<std::size_t>(lineIndent), target);
        break;
      default:
        break;
    }
    out += line;
    first = false;
  }
  text = std::move(out);
}

}  // namespace format
