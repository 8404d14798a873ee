#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "config/catalog.h"
#include "platform/file_system.h"
#include "config/session.h"
#include "base/cp850.h"
#include "tools/kitprint/line_reader.h"
#include "tools/kitprint/outputs.h"
#include "tools/kitprint/page_layout.h"
#include "tools/kitprint/page_stream.h"
#include "tools/kitprint/print_file.h"
#include "tools/kitprint/texts.h"

namespace kitprint {
namespace {

std::string Crlf(std::initializer_list<std::string_view> lines) {
  std::string s;
  for (auto l : lines) (s += l) += "\r\n";
  return s;
}

TEST(PrintFileReader, ReadsEveryLineKind) {
  PrintFile f = ParsePrintFile(Crlf({"DEVICEinforme.txt", "PAGE 66 ", "*@e", "JUSN 84 \\.\\",
                                     " 10 ,TOTAL, 1 ", " 0 ,A,B,C, 0 "}));
  EXPECT_TRUE(f.problems.empty());
  EXPECT_EQ(f.device, "informe.txt");
  ASSERT_EQ(f.items.size(), 6u);
  EXPECT_EQ(std::get<PageLine>(f.items[1]).length, 66);
  EXPECT_EQ(std::get<CommandLine>(f.items[2]).text, "@e");
  EXPECT_EQ(std::get<JustifyLine>(f.items[3]).code, "N 84 \\.\\");
  const auto& t = std::get<TextLine>(f.items[4]);
  EXPECT_EQ(t.column, 10);
  EXPECT_EQ(t.text, "TOTAL");
  EXPECT_EQ(t.advance, 1);
  // Commas inside the text belong to it: the first and last comma delimit.
  EXPECT_EQ(std::get<TextLine>(f.items[5]).text, "A,B,C");
}

TEST(PrintFileReader, ReportsWhatItCannotReadAndKeepsTheRest) {
  std::string bytes = "PAGE x\r\nGARBAGE\r\n\x01\x02\xff\r\n 1 ,OK, 1 \r\n 1 ,bad, z \n";
  PrintFile f = ParsePrintFile(bytes);
  ASSERT_EQ(f.items.size(), 1u);
  EXPECT_EQ(std::get<TextLine>(f.items[0]).text, "OK");
  // bad page, unknown, binary, bad advance, and the missing device line
  ASSERT_EQ(f.problems.size(), 5u);
  EXPECT_EQ(f.problems[0].lineNumber, 1);
  EXPECT_EQ(f.problems[3].lineNumber, 5);
  EXPECT_FALSE(f.hasDevice);
}

// Found by fuzzing: an advance of 2 000 000 000 made kitprint ask for a
// page of that many lines.
TEST(PrintFileReader, NumbersBeyondAnyPaperAreReported) {
  PrintFile f = ParsePrintFile(Crlf({"DEVICE", "PAGE 10000 ", "PAGE 9999 ", " 1000 ,wide, 1 ",
                                     " 1 ,long, 1000 ", " 999 ,edge, 999 ", " 1 ,huge, 2000000000 "}));
  ASSERT_EQ(f.items.size(), 3u);
  EXPECT_EQ(std::get<PageLine>(f.items[1]).length, 9999);
  EXPECT_EQ(std::get<TextLine>(f.items[2]).text, "edge");
  ASSERT_EQ(f.problems.size(), 4u);
  EXPECT_EQ(f.problems[0].message, "page length beyond 9999");
  EXPECT_EQ(f.problems[1].lineNumber, 4);
  EXPECT_EQ(f.problems[1].message, "column or advance beyond 999");
}

TEST(PageLayout, APageWithoutALengthEndsAfter9999Lines) {
  std::string bytes = "DEVICE\r\nPAGE 0 \r\n";
  for (int i = 0; i < 30; ++i) bytes += " 1 ,x, 999 \r\n";
  const auto pages = LayOutPages(ParsePrintFile(bytes));
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].lines.size(), 9991u);  // eleven lines of text, 999 apart
  EXPECT_EQ(pages[0].length, 0);
}

TEST(PageLayout, PlacesTextAtColumnsAndContinuesAtColumnZero) {
  PrintFile f = ParsePrintFile(Crlf({"DEVICE", "PAGE 66 ", " 10 ,XY, 0 ", " 0 ,ABC, 0 ", " 1 ,COD, 1 ",
                                     " 5 ,second, 2 ", " 3 ,third, 1 "}));
  auto pages = LayOutPages(f);
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].lines.size(), 4u);
  EXPECT_EQ(pages[0].lines[0], "COD      XYABC");
  EXPECT_EQ(pages[0].lines[1], "    second");
  EXPECT_EQ(pages[0].lines[2], "");  // advance 2 leaves one empty line
  EXPECT_EQ(pages[0].lines[3], "  third");
}

TEST(PageLayout, BreaksAtPageLinesAndWhenThePageIsFull) {
  PrintFile f = ParsePrintFile(Crlf({"DEVICE", "PAGE 3 ", " 1 ,a, 1 ", " 1 ,b, 1 ", " 1 ,c, 1 ",
                                     " 1 ,d, 1 ", "PAGE 66 ", "*q", " 1 ,e, 9 ", "PAGE 66 "}));
  auto pages = LayOutPages(f);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].lines, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(pages[1].lines, (std::vector<std::string>{"d"}));
  EXPECT_EQ(pages[2].lines, (std::vector<std::string>{"e"}));
  EXPECT_TRUE(pages[2].condensed);
  EXPECT_FALSE(pages[0].condensed);
}

TEST(PageLayout, JustificationDoesNotMoveFixedPitchText) {
  PrintFile f = ParsePrintFile(Crlf({"DEVICE", "PAGE 66 ", "JUSD", " 93 ,     TOTAL, 1 ", "JUSA",
                                     " 4 ,TITLE, 1 ", "JUSN 84 \\.\\", " 39 ,TOTAL DESPESES < A > , 0 ",
                                     "JUSD", " 86 ,    12,00, 1 "}));
  auto pages = LayOutPages(f);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].lines[0], std::string(92, ' ') + "     TOTAL");
  EXPECT_EQ(pages[0].lines[1], "   TITLE");
  EXPECT_EQ(pages[0].lines[2], std::string(38, ' ') + "TOTAL DESPESES < A > " + std::string(26, ' ') + "    12,00");
}

// The operator's texts follow the session's language through kitprint's
// own catalogue.
TEST(OperatorTexts, FollowTheSessionLanguage) {
  config::ResetSession();
  config::Session().RootDir = std::string(KIT_SUITE_DIR) + "/";
  struct Case {
    const char* language;
    const char* status;
    const char* saved;
  } cases[] = {
      {"CAT", " Pàgina 2/5   Av Pàg/Re Pàg: pàgines", "El llistat s'ha desat a /x/a.pdf"},
      {"SPA", " Página 2/5   Av Pág/Re Pág: páginas", "El listado se ha guardado en /x/a.pdf"},
      {"GLG", " Páxina 2/5   Av Páx/Re Páx: páxinas", "O listado gardouse en /x/a.pdf"},
  };
  for (const Case& c : cases) {
    config::Session().Language = c.language;
    EXPECT_EQ(base::Cp850ToUtf8(PagerStatus(2, 5)).rfind(c.status, 0), 0u) << c.language;
    EXPECT_EQ(base::Cp850ToUtf8(SavedNotice("/x/a.pdf")), c.saved) << c.language;
    EXPECT_FALSE(PressAKey().empty());
  }
  config::ResetSession();
  config::ResetCatalog();
}

// A terminal narrower than the status line keeps the page and the way out.
TEST(OperatorTexts, TheStatusLineKeepsHowToLeaveOnANarrowTerminal) {
  config::ResetSession();
  config::Session().RootDir = std::string(KIT_SUITE_DIR) + "/";
  struct Case {
    const char* language;
    std::size_t width;
    const char* status;
  } cases[] = {
      {"SPA", 80, " Página 12/46   Av Pág/Re Pág: páginas   flechas: desplazar   Esc o q: salir "},
      {"SPA", 60, " Página 12/46   flechas: desplazar   Esc o q: salir "},
      {"GLG", 40, " Páxina 12/46   Esc ou q: saír "},
      {"CAT", 20, " Pàgina 12/46   Esc "},
      {"CAT", 5, " Pàgi"},
  };
  for (const Case& c : cases) {
    config::Session().Language = c.language;
    EXPECT_EQ(base::Cp850ToUtf8(PagerStatus(12, 46, c.width)), c.status) << c.language << " " << c.width;
  }
  config::ResetSession();
  config::ResetCatalog();
}

TEST(TextOutput, Utf8PagesEndedByFormFeeds) {
  PrintFile f = ParsePrintFile(std::string("DEVICEx.txt\r\nPAGE 66 \r\n 1 ,P\xB7GINA    , 1 \r\nPAGE 66 \r\n 2 ,\xC4\xC4, 1 \r\n"));
  EXPECT_EQ(PagesAsText(LayOutPages(f)), "PÀGINA\n\f ──\n\f");
}

// A print file with every kind of trouble: lines before the first page
// line, pages that overflow, unbounded pages, control bytes, commas in
// texts, bad and unknown lines, a device line late or missing, LF-only line
// ends, blank lines, a line longer than a read block, and a last line
// without a line end.
std::string TrickyPrintFile(unsigned seed, bool withDevice, bool withLongLine) {
  std::minstd_rand random(seed);
  auto pick = [&](std::initializer_list<std::string_view> choices) {
    return std::string(choices.begin()[random() % choices.size()]);
  };
  auto text = [&]() {
    static const std::string alphabet = std::string("ABC abc019.,'-<>\x80\x90\xb7\xc4\xcd\xba\t\x01\x1b\x7f\xff") + '\0';
    std::string t(random() % 5 == 0 ? 0 : random() % 130, ' ');
    for (char& c : t) c = alphabet[random() % alphabet.size()];
    return t;
  };
  std::string lines;
  auto line = [&](const std::string& l) { lines += l + (random() % 9 == 0 ? "\n" : "\r\n"); };
  line(" 5 ,BEFORE ANY PAGE LINE, 1 ");
  line("*q");
  if (withDevice) line("DEVICEPANTALLA");
  for (int block = 0; block < 400; ++block) {
    switch (random() % 12) {
      case 0: line("PAGE " + pick({"0 ", "1 ", "2 ", "3 ", "66 ", "x", "10000"})); break;
      case 1: line(pick({"*q", "*@e", "*X", "JUSD", "JUSN 84 \\.\\"})); break;
      case 2: line(pick({"GARBAGE", "", "   ", " 1 ,x, z ", " 1000 ,wide, 1 ", "DEVICElater.txt"})); break;
      default: break;
    }
    for (auto n = random() % 12; n > 0; --n)
      line(" " + pick({"0", "0", "1", "5", "40", "126"}) + " ," + text() + ", " +
           pick({"0", "0", "1", "1", "2", "9", "999"}) + " ");
  }
  if (withLongLine) line(" 1 ," + std::string(300 * 1024, 'L') + ", 1 ");
  line("PAGE 0 ");
  for (int i = 0; i < 25; ++i) line(" 1 ,LONG, 999 ");
  return lines + " 2 ,LAST LINE WITHOUT A LINE END, 1 ";
}

bool SamePages(const Page& a, const Page& b) {
  return a.lines == b.lines && a.condensed == b.condensed && a.length == b.length;
}

// The pages streamed from the file, and any one page read through the
// index, are those of the whole file read at once, and so are the problems.
TEST(StreamedPages, AreThoseOfTheWholeFile) {
  char tmpl[] = "/tmp/kitprintstreamXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/kitprint.tmp";
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const std::string bytes = TrickyPrintFile(seed, seed % 3 != 0, seed % 2 == 0);
    ASSERT_TRUE(platform::WriteWholeFile(path, bytes).ok());
    const PrintFile whole = ParsePrintFile(bytes);
    const std::vector<Page> expected = LayOutPages(whole);
    ASSERT_GT(expected.size(), 20u);

    platform::FileStatus status;
    auto file = platform::OpenFile(path, platform::kOpenRead, status);
    ASSERT_TRUE(file) << status.Describe();
    PrintFileIndex index;
    std::vector<PrintFileProblem> problems;
    ASSERT_TRUE(IndexPrintFile(*file, index, [&](const PrintFileProblem& p) { problems.push_back(p); }).ok());
    EXPECT_EQ(index.hasDevice, whole.hasDevice) << seed;
    EXPECT_EQ(index.device, whole.device) << seed;
    ASSERT_EQ(problems.size(), whole.problems.size()) << seed;
    for (std::size_t i = 0; i < problems.size(); ++i) {
      EXPECT_EQ(problems[i].lineNumber, whole.problems[i].lineNumber) << seed;
      EXPECT_EQ(problems[i].message, whole.problems[i].message) << seed;
    }
    ASSERT_EQ(index.pages.size(), expected.size()) << seed;

    std::size_t streamed = 0;
    ASSERT_TRUE(StreamPages(*file, std::nullopt, [&](Page&& page) {
                  EXPECT_TRUE(streamed < expected.size() && SamePages(page, expected[streamed]))
                      << "seed " << seed << ", page " << streamed;
                  ++streamed;
                  return true;
                }).ok());
    EXPECT_EQ(streamed, expected.size());

    const IndexedPages pages(*file, index);
    for (std::size_t i = expected.size(); i-- > 0;)
      EXPECT_TRUE(SamePages(pages.At(i), expected[i])) << "seed " << seed << ", page " << i;
  }
  std::filesystem::remove_all(dir);
}

// A file without line ends (a binary file given by mistake) is read in
// pieces of bounded size, whatever its size; the lines around such a
// stretch are printed, and the stretch is reported once.
TEST(StreamedPages, AStretchWithoutLineEndsIsNeverHeldWhole) {
  char tmpl[] = "/tmp/kitprintstreamXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/kitprint.tmp";
  const std::string bytes = Crlf({"DEVICE", "PAGE 66 ", " 1 ,BEFORE, 1 "}) + std::string(3 << 20, '\0') + "\r\n" +
                            Crlf({" 1 ,AFTER, 1 "});
  ASSERT_TRUE(platform::WriteWholeFile(path, bytes).ok());
  platform::FileStatus status;
  auto file = platform::OpenFile(path, platform::kOpenRead, status);
  ASSERT_TRUE(file) << status.Describe();
  LineReader reader(*file, 0, kLongestPrintLine);
  std::string_view line;
  std::uint64_t offset = 0;
  std::size_t lines = 0, longest = 0;
  while (reader.Next(line, offset)) ++lines, longest = std::max(longest, line.size());
  EXPECT_EQ(lines, 5u);
  EXPECT_LE(longest, kLongestPrintLine);

  PrintFileIndex index;
  std::vector<PrintFileProblem> problems;
  ASSERT_TRUE(IndexPrintFile(*file, index, [&](const PrintFileProblem& p) { problems.push_back(p); }).ok());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].lineNumber, 4);
  EXPECT_EQ(problems[0].message, "line of 1048576 bytes or more");
  const PrintFile whole = ParsePrintFile(bytes);
  ASSERT_EQ(whole.problems.size(), 1u);
  EXPECT_EQ(whole.problems[0].message, problems[0].message);
  std::vector<Page> pages;
  ASSERT_TRUE(StreamPages(*file, std::nullopt, [&](Page&& page) {
                pages.push_back(std::move(page));
                return true;
              }).ok());
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].lines, (std::vector<std::string>{"BEFORE", "AFTER"}));
  std::filesystem::remove_all(dir);
}

std::string RunCapture(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The names in a folder.
std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

Page SomePage() {
  Page page;
  page.lines = {"TOTAL", "", "      1.234'56"};
  page.length = 66;
  return page;
}

using MakeOutput = std::unique_ptr<PageOutput> (*)(const std::string&, std::string&);
const std::pair<const char*, MakeOutput> kDocuments[] = {{"doc.txt", TextToFile}, {"doc.pdf", PdfToFile}};

// A document takes its place only once complete: one abandoned half way
// (a failure, an exception) leaves the one there before, and nothing else.
TEST(DocumentOutput, AnUnfinishedDocumentLeavesTheOneBefore) {
  char tmpl[] = "/tmp/kitprintdocXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  for (const auto& [name, make] : kDocuments) {
    const std::string path = dir + "/" + name;
    ASSERT_TRUE(platform::WriteWholeFile(path, "the listing of last month").ok());
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    {
      std::string error;
      std::unique_ptr<PageOutput> out = make(path, error);
      ASSERT_TRUE(out) << error;
      ASSERT_TRUE(out->Add(SomePage()));
    }
    EXPECT_EQ(platform::ReadWholeFile(path).bytes, "the listing of last month") << name;
    EXPECT_EQ(FilesIn(dir), std::set<std::string>{name}) << name;
    std::string error;
    std::unique_ptr<PageOutput> out = make(path, error);
    ASSERT_TRUE(out && out->Add(SomePage()) && out->Finish()) << out->Error();
    EXPECT_NE(platform::ReadWholeFile(path).bytes, "the listing of last month") << name;
    EXPECT_EQ(FilesIn(dir), std::set<std::string>{name}) << name;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << name << ": the permissions of the document replaced";
    std::filesystem::remove(path);
  }
  std::filesystem::remove_all(dir);
}

// Ctrl+C or a SIGTERM while a document is written removes what was begun;
// the program still ends by that signal.
TEST(DocumentOutput, ATerminationSignalRemovesTheUnfinishedDocument) {
  char tmpl[] = "/tmp/kitprintdocXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  for (const int sig : {SIGINT, SIGTERM}) {
    for (const auto& [name, make] : kDocuments) {
      const std::string path = dir + "/" + name;
      ASSERT_TRUE(platform::WriteWholeFile(path, "the listing of last month").ok());
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        std::string error;
        std::unique_ptr<PageOutput> out = make(path, error);
        if (out && out->Add(SomePage())) std::raise(sig);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << name << " " << sig;
      EXPECT_EQ(platform::ReadWholeFile(path).bytes, "the listing of last month") << name << " " << sig;
      EXPECT_EQ(FilesIn(dir), std::set<std::string>{name}) << name << " " << sig;
      std::filesystem::remove(path);
    }
  }
  std::filesystem::remove_all(dir);
}

// A reader refuses a document without pages: an empty listing is a blank page.
TEST(DocumentOutput, AnEmptyListingIsAPdfOfOneBlankPage) {
  char tmpl[] = "/tmp/kitprintdocXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/empty.pdf";
  std::string error;
  std::unique_ptr<PageOutput> out = PdfToFile(path, error);
  ASSERT_TRUE(out && out->Finish()) << error;
  const std::string pdf = platform::ReadWholeFile(path).bytes;
  EXPECT_NE(pdf.find("/Type /Page "), std::string::npos) << pdf;
  EXPECT_NE(pdf.find("/Count 1 "), std::string::npos) << pdf;
  EXPECT_EQ(pdf.find("/Count 0 "), std::string::npos) << pdf;
  if (std::system("command -v pdfinfo >/dev/null 2>&1") == 0) {
    const std::string info = RunCapture("pdfinfo " + path + " 2>&1");
    EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << info;
  }
  std::filesystem::remove_all(dir);
}

class KitprintProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kitprinttestXXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  void WritePrintFile(const std::string& device) {
    std::ofstream(dir_ + "/kitprint.tmp", std::ios::binary)
        << Crlf({"DEVICE" + device, "PAGE 66 ", "*@e"})
        << std::string(" 1 ,CORRESPONENT A LA COMUNITAT DE PROPIETARIS 001 - ESCALA \x90S, 1 \r\n")
        << Crlf({" 5 ,TOTAL, 0 ", "JUSD", " 15 ,      1.234'56, 1 ", "PAGE 66 ", " 1 ,second page, 1 "});
  }
  std::string dir_;
};

TEST_F(KitprintProgram, WritesTextFileNamedByTheDevice) {
  WritePrintFile(dir_ + "/out.txt");
  ASSERT_EQ(std::system((std::string(KITPRINT_EXE) + " " + dir_ + "/kitprint.tmp").c_str()), 0);
  std::ifstream in(dir_ + "/out.txt");
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(),
            "CORRESPONENT A LA COMUNITAT DE PROPIETARIS 001 - ESCALA ÉS\n"
            "    TOTAL           1.234'56\n\fsecond page\n\f");
}

// A print file full of awkward lines gives, page for page and byte for
// byte, the text and the reports the program gave when it read the whole
// file into memory.
TEST_F(KitprintProgram, TrickyFileGivesTheTextItAlwaysGave) {
  const std::string data = KITPRINT_TESTDATA;
  const std::string out = dir_ + "/tricky.txt";
  const std::string said = RunCapture(std::string(KITPRINT_EXE) + " -o " + out + " " + data + "/tricky.prn 2>&1");
  const platform::ReadResult text = platform::ReadWholeFile(out);
  const platform::ReadResult expected = platform::ReadWholeFile(data + "/tricky.txt");
  ASSERT_TRUE(text.ok() && expected.ok());
  EXPECT_TRUE(text.bytes == expected.bytes);
  std::string expectedSaid = platform::ReadWholeFile(data + "/tricky.err").bytes;
  for (std::size_t at; (at = expectedSaid.find("PRINTFILE")) != std::string::npos;)
    expectedSaid.replace(at, 9, data + "/tricky.prn");
  expectedSaid.replace(expectedSaid.find("OUTPUT"), 6, out);
  EXPECT_EQ(said, expectedSaid);
  // The PDF has the same pages, and a reader finds nothing wrong with it.
  if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdfinfo is not installed";
  const std::string pdf = dir_ + "/tricky.pdf";
  ASSERT_EQ(std::system((std::string(KITPRINT_EXE) + " -o " + pdf + " " + data + "/tricky.prn 2>/dev/null").c_str()), 0);
  const std::string info = RunCapture("pdfinfo " + pdf + " 2>&1");
  EXPECT_NE(info.find("Pages:           92\n"), std::string::npos) << info;
  EXPECT_EQ(info.find("rror"), std::string::npos) << info;
}

// Thousands of pages: each one found where it belongs in the document.
TEST_F(KitprintProgram, PdfOfThousandsOfPagesHasEachPageInItsPlace) {
  if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdfinfo is not installed";
  std::string bytes = "DEVICE\r\n";
  for (int page = 1; page <= 2500; ++page) bytes += "PAGE 1 \r\n 1 ,SHEET " + std::to_string(page) + ", 1 \r\n";
  ASSERT_TRUE(platform::WriteWholeFile(dir_ + "/kitprint.tmp", bytes).ok());
  const std::string pdf = dir_ + "/many.pdf";
  ASSERT_EQ(std::system((std::string(KITPRINT_EXE) + " -o " + pdf + " " + dir_ + "/kitprint.tmp 2>/dev/null").c_str()), 0);
  const std::string info = RunCapture("pdfinfo " + pdf + " 2>&1");
  EXPECT_NE(info.find("Pages:           2500\n"), std::string::npos) << info;
  EXPECT_EQ(info.find("rror"), std::string::npos) << info;
  for (int page : {1, 1024, 1025, 2049, 2500})
    EXPECT_EQ(RunCapture("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + pdf + " -"),
              "SHEET " + std::to_string(page) + "\n\n\f");
}

TEST_F(KitprintProgram, WritesPdfWhoseTextHoldsTheLines) {
  if (std::system("command -v pdftotext >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdftotext is not installed";
  WritePrintFile(dir_ + "/out.pdf");
  ASSERT_EQ(std::system((std::string(KITPRINT_EXE) + " " + dir_ + "/kitprint.tmp 2>/dev/null").c_str()), 0);
  std::string text = RunCapture("pdftotext -layout " + dir_ + "/out.pdf -");
  EXPECT_NE(text.find("CORRESPONENT A LA COMUNITAT DE PROPIETARIS 001 - ESCALA ÉS"), std::string::npos) << text;
  EXPECT_NE(text.find("TOTAL           1.234'56"), std::string::npos) << text;
  EXPECT_NE(text.find("second page"), std::string::npos) << text;
  EXPECT_NE(text.find('\f'), std::string::npos);  // two pages
}

TEST_F(KitprintProgram, ScreenDeviceWritesTextWhenNotATerminal) {
  WritePrintFile("PANTALLA");
  std::string out = RunCapture(std::string(KITPRINT_EXE) + " " + dir_ + "/kitprint.tmp </dev/null");
  EXPECT_EQ(out.substr(0, 11), "CORRESPONEN");
}

// A listing that could not be written is a failure, not a success.
TEST_F(KitprintProgram, AScreenListingThatCannotBeWrittenFails) {
  WritePrintFile("PANTALLA");
  const std::string out = RunCapture("/bin/sh -c '" + std::string(KITPRINT_EXE) + " " + dir_ +
                                     "/kitprint.tmp </dev/null 2>&1 >/dev/full; echo status=$?'");
  EXPECT_EQ(out, "kitprint: cannot write standard output: No space left on device\nstatus=1\n");
}

TEST_F(KitprintProgram, OutputChosenOnTheCommandLine) {
  WritePrintFile("PANTALLA");
  const std::string exe = KITPRINT_EXE;
  ASSERT_EQ(std::system((exe + " -o " + dir_ + "/chosen.txt " + dir_ + "/kitprint.tmp 2>/dev/null").c_str()), 0);
  std::ifstream in(dir_ + "/chosen.txt");
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str().substr(0, 11), "CORRESPONEN");
  // Not on a terminal: where it went is said on standard error.
  const std::string said = RunCapture(exe + " -o " + dir_ + "/chosen.pdf " + dir_ + "/kitprint.tmp 2>&1 </dev/null");
  EXPECT_NE(said.find("2 pages written to " + dir_ + "/chosen.pdf"), std::string::npos) << said;
  std::ifstream pdf(dir_ + "/chosen.pdf", std::ios::binary);
  std::string head(5, '\0');
  pdf.read(head.data(), 5);
  EXPECT_EQ(head, "%PDF-");
  // Only documents: anything else is a usage error.
  for (const char* bad : {" -o " , " -o x.doc ", " -o a.txt -o b.txt "})
    EXPECT_EQ(WEXITSTATUS(std::system((exe + bad + dir_ + "/kitprint.tmp 2>/dev/null").c_str())), 2) << bad;
}

// A document that cannot be written says where and why, and leaves the one
// that was there before: a folder that does not exist, a write refused half
// way (here a file size limit).
TEST_F(KitprintProgram, ADocumentThatCannotBeWrittenSaysWhyAndLeavesTheOneBefore) {
  const std::string exe = KITPRINT_EXE;
  WritePrintFile("PANTALLA");
  const std::string missing = RunCapture("/bin/sh -c '" + exe + " -o " + dir_ + "/none/out.pdf " + dir_ +
                                         "/kitprint.tmp 2>&1; echo status=$?'");
  EXPECT_EQ(missing, "kitprint: cannot write the PDF document " + dir_ +
                         "/none/out.pdf: No such file or directory\nstatus=1\n");
  std::string bytes = "DEVICE\r\n";
  for (int page = 1; page <= 200; ++page)
    bytes += "PAGE 66 \r\n 1 ,SHEET " + std::to_string(page) + std::string(100, '.') + ", 1 \r\n";
  ASSERT_TRUE(platform::WriteWholeFile(dir_ + "/long.prn", bytes).ok());
  for (const char* name : {"out.pdf", "out.txt"}) {
    const std::string path = dir_ + "/" + name;
    ASSERT_TRUE(platform::WriteWholeFile(path, "the listing of last month").ok());
    // Files of at most 10 blocks of 512 bytes; past that a write fails.
    const std::string said = RunCapture("/bin/sh -c 'trap \"\" XFSZ; ulimit -f 10; " + exe + " -o " + path + " " +
                                        dir_ + "/long.prn 2>&1; echo status=$?'");
    EXPECT_NE(said.find(path + ": File too large\n"), std::string::npos) << said;
    EXPECT_NE(said.find("status=1\n"), std::string::npos) << said;
    EXPECT_EQ(platform::ReadWholeFile(path).bytes, "the listing of last month") << name;
  }
  EXPECT_EQ(FilesIn(dir_), (std::set<std::string>{"kitprint.tmp", "long.prn", "out.pdf", "out.txt"}));
}

TEST_F(KitprintProgram, MissingFileAndBadUsageFail) {
  EXPECT_EQ(WEXITSTATUS(std::system((std::string(KITPRINT_EXE) + " " + dir_ + "/none 2>/dev/null").c_str())), 1);
  EXPECT_EQ(WEXITSTATUS(std::system((std::string(KITPRINT_EXE) + " --bogus 2>/dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((std::string(KITPRINT_EXE) + " a b 2>/dev/null").c_str())), 2);
}

TEST_F(KitprintProgram, APrintFileThatCannotBeReadIsNamedWithTheReason) {
  const std::string folder = dir_ + "/kitprint.tmp";
  ASSERT_EQ(std::system(("mkdir " + folder).c_str()), 0);
  const std::string out =
      RunCapture("/bin/sh -c '" + std::string(KITPRINT_EXE) + " " + folder + " 2>&1; echo status=$?'");
  EXPECT_EQ(out, "kitprint: " + folder + ": Is a directory\nstatus=1\n");
  const std::string missing =
      RunCapture("/bin/sh -c '" + std::string(KITPRINT_EXE) + " " + dir_ + "/none 2>&1'");
  EXPECT_EQ(missing, "kitprint: " + dir_ + "/none: No such file or directory\n");
}

// The listing reaches lp as a file of its own, whatever the queue and the
// temporary folder are called, and that file goes once lp has it.
TEST_F(KitprintProgram, APrinterQueueGetsTheListingFromTheTemporaryFolder) {
  WritePrintFile("OFICINA D'ALT");
  const std::string bin = dir_ + "/bin", tmp = dir_ + "/it's tmp";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(tmp);
  // An lp that keeps its arguments and a copy of the file it is given.
  ASSERT_TRUE(platform::WriteWholeFile(bin + "/lp", "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$0.args\"\n"
                                                    "for last; do :; done\ncp \"$last\" \"$0.file\"\n")
                  .ok());
  ASSERT_EQ(chmod((bin + "/lp").c_str(), 0755), 0);
  const std::string cmd = "PATH=\"" + bin + ":$PATH\" TMPDIR=\"" + tmp + "\" " + KITPRINT_EXE + " " + dir_ +
                          "/kitprint.tmp 2>&1; echo status=$?";
  ASSERT_TRUE(platform::WriteWholeFile(dir_ + "/run.sh", cmd + "\n").ok());
  EXPECT_EQ(RunCapture("/bin/sh " + dir_ + "/run.sh"), "status=0\n");
  const std::string args = platform::ReadWholeFile(bin + "/lp.args").bytes;
  EXPECT_EQ(args.substr(0, args.find(tmp)), "-s\n-d\nOFICINA D'ALT\n") << args;
  EXPECT_EQ(platform::ReadWholeFile(bin + "/lp.file").bytes.substr(0, 11), "CORRESPONEN");
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

TEST_F(KitprintProgram, UnavailablePrinterIsReportedNotSilent) {
  WritePrintFile("OFICINA");
  std::string cmd = "PATH=/nonexistent " + std::string(KITPRINT_EXE) + " " + dir_ + "/kitprint.tmp 2>&1";
  std::string out = RunCapture("/bin/sh -c '" + cmd + "; echo status=$?'");
  EXPECT_NE(out.find("printing is not available"), std::string::npos) << out;
  EXPECT_NE(out.find("status=1"), std::string::npos) << out;
}

}  // namespace
}  // namespace kitprint
