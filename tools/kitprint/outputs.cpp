#include "tools/kitprint/outputs.h"

#include <hpdf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "base/cp850.h"

namespace kitprint {
namespace {

// The Windows-1252 byte of a code point for the PDF's standard Courier
// font; box-drawing lines become ASCII lines.
char ToWinAnsi(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  if (cp >= 0xA0 && cp <= 0xFF) return static_cast<char>(cp);
  switch (cp) {
    case 0x20AC: return static_cast<char>(0x80);
    case 0x0192: return static_cast<char>(0x83);
    case 0x2500: case 0x2550: return '-';
    case 0x2502: case 0x2551: return '|';
    default: break;
  }
  if (cp >= 0x2500 && cp <= 0x257F) return '+';
  if (cp >= 0x2580 && cp <= 0x259F) return '#';
  return '?';
}

std::string WinAnsiLine(const std::string& cp850) {
  std::string out;
  out.reserve(cp850.size());
  for (char c : cp850) out += ToWinAnsi(base::Cp850ToUnicode(static_cast<std::uint8_t>(c)));
  return out;
}

void PdfErrorHandler(HPDF_STATUS, HPDF_STATUS, void* userData) { *static_cast<bool*>(userData) = true; }

}  // namespace

std::string PagesAsText(const std::vector<Page>& pages) {
  std::string out;
  for (const auto& page : pages) {
    for (const auto& line : page.lines) {
      out += base::Cp850ToUtf8(line);
      out += '\n';
    }
    out += '\f';
  }
  return out;
}

bool WritePdf(const std::vector<Page>& pages, const std::string& path, std::string& error) {
  bool failed = false;
  HPDF_Doc pdf = HPDF_New(PdfErrorHandler, &failed);
  if (!pdf) {
    error = "cannot start a PDF document";
    return false;
  }
  HPDF_Font font = HPDF_GetFont(pdf, "Courier", "WinAnsiEncoding");
  const float width = 595.0f, height = 842.0f, margin = 28.0f;  // A4 portrait
  for (const auto& page : pages) {
    HPDF_Page p = HPDF_AddPage(pdf);
    HPDF_Page_SetWidth(p, width);
    HPDF_Page_SetHeight(p, height);
    std::size_t columns = page.condensed ? 136 : 96;
    for (const auto& l : page.lines) columns = std::max(columns, l.size());
    int rows = std::max<int>(page.length > 0 ? page.length : 66, static_cast<int>(page.lines.size()));
    // Courier is 0.6 em wide: the widest line fills the width at most.
    float size = std::min(11.0f, (width - 2 * margin) / (0.6f * static_cast<float>(columns)));
    float leading = std::min(size * 1.25f, (height - 2 * margin) / static_cast<float>(rows));
    HPDF_Page_SetFontAndSize(p, font, size);
    HPDF_Page_BeginText(p);
    float y = height - margin - size;
    for (const auto& line : page.lines) {
      if (!line.empty()) HPDF_Page_TextOut(p, margin, y, WinAnsiLine(line).c_str());
      y -= leading;
    }
    HPDF_Page_EndText(p);
  }
  if (!failed) HPDF_SaveToFile(pdf, path.c_str());
  HPDF_Free(pdf);
  if (failed) error = "cannot write the PDF document " + path;
  return !failed;
}

bool SendToPrinter(const std::vector<Page>& pages, const std::string& queue, std::string& error) {
  if (system("command -v lp >/dev/null 2>&1") != 0) {
    error = "printing is not available on this machine (no lp command); printer queue \"" + queue + "\"";
    return false;
  }
  char tmpl[] = "/tmp/kitprintXXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) {
    error = "cannot write a temporary file for the printer";
    return false;
  }
  std::string text = PagesAsText(pages);
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  if (ok) {
    std::string quoted = queue;
    std::string safe;
    for (char c : quoted) {
      if (c == '\'') safe += "'\\''";
      else safe += c;
    }
    std::string cmd = "lp -s -d '" + safe + "' '" + tmpl + "'";
    ok = system(cmd.c_str()) == 0;
    if (!ok) error = "the printer queue \"" + queue + "\" did not accept the listing";
  } else {
    error = "cannot write a temporary file for the printer";
  }
  unlink(tmpl);
  return ok;
}

}  // namespace kitprint
