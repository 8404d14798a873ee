#include "tools/kitprint/outputs.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/cp850.h"
#include "tools/kitprint/document_file.h"

namespace kitprint {
namespace {

// The system's words for a failed write, or for one whose reason got lost.
std::string WriteFailure(int error) { return std::strerror(error != 0 ? error : EIO); }

// UTF-8 text to a stream that someone else closes.
class TextOutput : public PageOutput {
 public:
  TextOutput(std::FILE* stream, std::string name) : stream_(stream), name_(std::move(name)) {}
  bool Add(const Page& page) override {
    text_.clear();
    AppendPageText(page, text_);
    errno = 0;
    if (std::fwrite(text_.data(), 1, text_.size(), stream_) != text_.size()) return Failed(errno);
    return true;
  }
  bool Finish() override {
    errno = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) return Failed(errno);
    return true;
  }

 private:
  bool Failed(int error) {
    error_ = "cannot write " + name_ + ": " + WriteFailure(error);
    return false;
  }
  std::FILE* stream_;
  std::string name_;
  std::string text_;
};

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

// A PDF literal string of a code page 850 line in WinAnsi bytes.
void AppendPdfString(const std::string& cp850, std::string& out) {
  out += '(';
  for (char c : cp850) {
    const char b = ToWinAnsi(base::Cp850ToUnicode(static_cast<std::uint8_t>(c)));
    const auto u = static_cast<unsigned char>(b);
    if (b == '(' || b == ')' || b == '\\') {
      out += '\\';
      out += b;
    } else if (u < 32 || u >= 127) {
      const char octal[] = {'\\', static_cast<char>('0' + (u >> 6)), static_cast<char>('0' + ((u >> 3) & 7)),
                            static_cast<char>('0' + (u & 7))};
      out.append(octal, 4);
    } else {
      out += b;
    }
  }
  out += ')';
}

// A number for a PDF content stream: at most five decimals, no trailing zeros.
std::string PdfNumber(float value) {
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%.5f", static_cast<double>(value));
  std::string s(buf, static_cast<std::size_t>(std::max(n, 0)));
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// A PDF document written page by page: each page and its contents are
// written when the page comes, the page tree and the cross-reference table
// at the end. The standard Courier font needs nothing embedded.
class PdfOutput : public PageOutput {
 public:
  // `stream` is closed by whoever opened it.
  PdfOutput(std::FILE* stream, std::string path) : stream_(stream), path_(std::move(path)) {
    Write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    BeginObject(kCatalog);
    Write("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    BeginObject(kFont);
    Write("<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>\nendobj\n");
  }
  bool Add(const Page& page) override {
    constexpr float width = 595.0f, height = 842.0f, margin = 28.0f;  // A4 portrait
    std::size_t columns = page.condensed ? 136 : 96;
    for (const auto& l : page.lines) columns = std::max(columns, l.size());
    const int rows = std::max<int>(page.length > 0 ? page.length : 66, static_cast<int>(page.lines.size()));
    // Courier is 0.6 em wide: the widest line fills the width at most.
    const float size = std::min(11.0f, (width - 2 * margin) / (0.6f * static_cast<float>(columns)));
    const float leading = std::min(size * 1.25f, (height - 2 * margin) / static_cast<float>(rows));
    content_ = "/F1 " + PdfNumber(size) + " Tf\nBT\n";
    // Each line moves from the last one written, as Td does.
    float x = 0, y = height - margin - size, lastY = 0;
    for (const auto& line : page.lines) {
      if (!line.empty()) {
        content_ += PdfNumber(margin - x) + " " + PdfNumber(y - lastY) + " Td\n";
        AppendPdfString(line, content_);
        content_ += " Tj\n";
        x = margin;
        lastY = y;
      }
      y -= leading;
    }
    content_ += "ET\n";
    // Pages hang from nodes of at most kPagesPerNode pages under the root:
    // readers and printers need not take arrays of tens of thousands.
    if (pages_ % kPagesPerNode == 0) {
      nodes_.push_back(Reserve());
      nodeFirstPage_.push_back(offsets_.size());
    }
    const std::size_t pageObject = offsets_.size();
    BeginObject(pageObject);
    Write("<< /Type /Page /Parent " + std::to_string(nodes_.back()) + " 0 R /MediaBox [0 0 595 842] /Resources << /ProcSet [/PDF /Text] /Font << /F1 " +
          std::to_string(kFont) + " 0 R >> >> /Contents " + std::to_string(pageObject + 1) + " 0 R >>\nendobj\n");
    BeginObject(pageObject + 1);
    Write("<< /Length " + std::to_string(content_.size()) + " >>\nstream\n");
    Write(content_);
    Write("endstream\nendobj\n");
    ++pages_;
    return Check();
  }

  bool Finish() override {
    // A document of no pages is one that readers refuse: an empty listing
    // is one blank page.
    if (pages_ == 0 && !Add(Page{})) return false;
    BeginObject(kPages);
    Write("<< /Type /Pages /Count " + std::to_string(pages_) + " /Kids [");
    for (std::size_t node : nodes_) Write(" " + std::to_string(node) + " 0 R");
    Write(" ] >>\nendobj\n");
    std::string kids;
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
      const std::size_t count = std::min(kPagesPerNode, pages_ - n * kPagesPerNode);
      BeginObject(nodes_[n]);
      kids = "<< /Type /Pages /Parent " + std::to_string(kPages) + " 0 R /Count " + std::to_string(count) +
             " /Kids [";
      for (std::size_t i = 0; i < count; ++i)
        kids += (i % 8 == 0 ? "\n" : " ") + std::to_string(nodeFirstPage_[n] + 2 * i) + " 0 R";
      Write(kids + " ]\n>>\nendobj\n");
    }
    const std::uint64_t xref = written_;
    Write("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
    char entry[32];
    for (std::size_t i = 1; i < offsets_.size(); ++i) {
      std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(offsets_[i]));
      Write(entry);
    }
    Write("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root 1 0 R >>\nstartxref\n" +
          std::to_string(xref) + "\n%%EOF\n");
    if (!Check()) return false;
    errno = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
      failure_ = errno;
      SetError();
    }
    return error_.empty();
  }

 private:
  static constexpr std::size_t kCatalog = 1, kPages = 2, kFont = 3, kFirstPage = 4;
  static constexpr std::size_t kPagesPerNode = 1024;

  // An object number whose object is written later.
  std::size_t Reserve() {
    offsets_.push_back(0);
    return offsets_.size() - 1;
  }

  void BeginObject(std::size_t number) {
    if (offsets_.size() <= number) offsets_.resize(number + 1, 0);
    offsets_[number] = written_;
    Write(std::to_string(number) + " 0 obj\n");
  }
  void Write(std::string_view bytes) {
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size() && !failed_) {
      failed_ = true;
      failure_ = errno;
    }
    written_ += bytes.size();
  }
  bool Check() {
    if (failed_ || std::ferror(stream_)) SetError();
    return error_.empty();
  }
  void SetError() { error_ = "cannot write the PDF document " + path_ + ": " + WriteFailure(failure_); }

  std::FILE* stream_;
  std::string path_;
  std::vector<std::uint64_t> offsets_ = std::vector<std::uint64_t>(kFirstPage, 0);
  std::uint64_t written_ = 0;
  std::size_t pages_ = 0;
  std::vector<std::size_t> nodes_;          // the page tree's nodes under the root
  std::vector<std::size_t> nodeFirstPage_;  // the first page object of each
  bool failed_ = false;
  int failure_ = 0;  // errno of the first failed write
  std::string content_;
};

// `text` as one word for the shell, whatever it holds.
std::string ShellWord(const std::string& text) {
  std::string word = "'";
  for (char c : text) {
    if (c == '\'') word += "'\\''";
    else word += c;
  }
  return word + "'";
}

// A document written beside its place and put there when complete.
class DocumentOutput : public PageOutput {
 public:
  DocumentOutput(std::unique_ptr<DocumentFile> file, std::unique_ptr<PageOutput> pages)
      : file_(std::move(file)), pages_(std::move(pages)) {}
  bool Add(const Page& page) override { return pages_->Add(page) || Failed(pages_->Error()); }
  bool Finish() override {
    if (!pages_->Finish()) return Failed(pages_->Error());
    std::string error;
    return file_->PutInPlace(error) || Failed(what_ + error);
  }
  // Says what the document is in front of the file's own message.
  void Describe(std::string what) { what_ = std::move(what); }

 private:
  bool Failed(const std::string& error) {
    error_ = error;
    return false;
  }
  std::unique_ptr<DocumentFile> file_;
  std::unique_ptr<PageOutput> pages_;
  std::string what_ = "cannot write ";
};

// Text for lp in a temporary file, handed over at the end.
class PrinterOutput : public PageOutput {
 public:
  PrinterOutput(std::string queue, std::unique_ptr<DocumentFile> file)
      : queue_(std::move(queue)), file_(std::move(file)), text_(file_->Stream(), "a temporary file for the printer") {}
  bool Add(const Page& page) override { return text_.Add(page) || Failed(text_.Error()); }
  bool Finish() override {
    std::string error;
    if (!text_.Finish()) return Failed(text_.Error());
    if (!file_->Close("cannot write a temporary file for the printer " + file_->TemporaryPath(), error))
      return Failed(error);
    const std::string cmd = "lp -s -d " + ShellWord(queue_) + " " + ShellWord(file_->TemporaryPath());
    if (system(cmd.c_str()) == 0) return true;
    error_ = "the printer queue \"" + queue_ + "\" did not accept the listing";
    return false;
  }

 private:
  bool Failed(const std::string& error) {
    error_ = error;
    return false;
  }
  std::string queue_;
  std::unique_ptr<DocumentFile> file_;
  TextOutput text_;
};

}  // namespace

void AppendPageText(const Page& page, std::string& out) {
  for (const auto& line : page.lines) {
    out += base::Cp850ToUtf8(line);
    out += '\n';
  }
  out += '\f';
}

std::string PagesAsText(const std::vector<Page>& pages) {
  std::string out;
  for (const auto& page : pages) AppendPageText(page, out);
  return out;
}

std::unique_ptr<PageOutput> TextToStream(std::FILE* stream, std::string name) {
  return std::make_unique<TextOutput>(stream, std::move(name));
}

std::unique_ptr<PageOutput> TextToFile(const std::string& path, std::string& error) {
  std::unique_ptr<DocumentFile> file = DocumentFile::Beside(path, error);
  if (!file) {
    error = "cannot write " + error;
    return nullptr;
  }
  auto text = std::make_unique<TextOutput>(file->Stream(), path);
  return std::make_unique<DocumentOutput>(std::move(file), std::move(text));
}

std::unique_ptr<PageOutput> PdfToFile(const std::string& path, std::string& error) {
  std::unique_ptr<DocumentFile> file = DocumentFile::Beside(path, error);
  if (!file) {
    error = "cannot write the PDF document " + error;
    return nullptr;
  }
  auto pdf = std::make_unique<PdfOutput>(file->Stream(), path);
  auto document = std::make_unique<DocumentOutput>(std::move(file), std::move(pdf));
  document->Describe("cannot write the PDF document ");
  return document;
}

std::unique_ptr<PageOutput> TextToPrinter(const std::string& queue, std::string& error) {
  if (system("command -v lp >/dev/null 2>&1") != 0) {
    error = "printing is not available on this machine (no lp command); printer queue \"" + queue + "\"";
    return nullptr;
  }
  std::unique_ptr<DocumentFile> file = DocumentFile::Scratch(error);
  if (!file) {
    error = "cannot write a temporary file for the printer in " + error;
    return nullptr;
  }
  return std::make_unique<PrinterOutput>(queue, std::move(file));
}

}  // namespace kitprint
