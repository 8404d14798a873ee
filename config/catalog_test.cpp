#include "config/catalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/session.h"
#include "config/test_files.h"
#include "base/cp850.h"

namespace config {
namespace {

using config::testing::ScratchDir;

CatalogEntry E(std::string key, std::string glg, std::string oci, std::string spa) {
  return {std::move(key), std::move(glg), std::move(oci), std::move(spa)};
}

TEST(ParseCatalog, ItemsInGroupsOfFour) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<CatalogEntry> entries;
  } cases[] = {
      {"one line", "TOTAL,TOTAL G,TOTAU,TOTAL S\r\n", {E("TOTAL", "TOTAL G", "TOTAU", "TOTAL S")}},
      {"trailing blank kept", std::string("PÀGINA ,PÁXINA ,PAGINA ,PÁGINA \r\n"_cp),
       {E(std::string("PÀGINA "_cp), std::string("PÁXINA "_cp), "PAGINA ", std::string("PÁGINA "_cp))}},
      {"leading blanks skipped", "  A,  B,\tC, D\r\n", {E("A", "B", "C", "D")}},
      {"quoted items hold commas", "\"A, B\",\"G, B\",\"O\",\"S, B\"\r\n", {E("A, B", "G, B", "O", "S, B")}},
      {"quoted blanks kept", "\" A \",\"\",x,y\r\n", {E(" A ", "", "x", "y")}},
      {"two entries", "A,B,C,D\r\nE,F,G,H\r\n", {E("A", "B", "C", "D"), E("E", "F", "G", "H")}},
      {"line ends separate items", "A\r\nB\r\nC\r\nD\r\n", {E("A", "B", "C", "D")}},
      {"empty items", "A,,,\r\nB,1,2,3\r\n", {E("A", "", "", ""), E("B", "1", "2", "3")}},
      {"empty last item at the end", "A,,,", {E("A", "", "", "")}},
      {"tabs and line feeds dropped", "A\tB,C\nD,E,F\r\n", {E("AB", "CD", "E", "F")}},
      {"no final line end", "A,B,C,D", {E("A", "B", "C", "D")}},
      {"last line only a key", "A,B,C,D\r\nLAST\r\n", {E("A", "B", "C", "D")}},
      {"cut after two items", "A,B,C,D\r\nK,G\r\n", {E("A", "B", "C", "D")}},
      {"ctrl-z ends the file", "A,B,C,D\r\n\x1a" "E,F,G,H\r\n", {E("A", "B", "C", "D")}},
      {"junk after a closing quote", "\"A\"x,B,C,D\r\n", {E("A", "B", "C", "D")}},
      {"unterminated quote runs to the end", "A,B,C,\"D\r\nE,F", {E("A", "B", "C", "D\r\nE,F")}},
      {"empty file", "", {}},
      {"only line ends", "\r\n\r\n", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseCatalog(c.bytes), c.entries) << c.name;
}

TEST(ParseCatalog, SurvivesDamagedBytes) {
  std::string binary;
  std::uint32_t x = 99;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1664525u + 1013904223u;
    binary += static_cast<char>(x >> 24);
  }
  EXPECT_NO_THROW(ParseCatalog(binary));
  EXPECT_NO_THROW(FindCatalogEntry(binary, "TOTAL"));

  const std::string huge(100000, 'k');
  auto entries = ParseCatalog(huge + ",g,o," + huge + "\r\n");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].spanish, huge);

  entries = ParseCatalog(std::string("A\0B,G,O,S\0\r\n", 13));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].key, std::string("A\0B", 3));
  EXPECT_EQ(entries[0].spanish, std::string("S\0", 2));

  EXPECT_TRUE(ParseCatalog("\"").empty());
  EXPECT_TRUE(ParseCatalog("\"unterminated, with, commas").empty());
}

TEST(FindCatalogEntry, FirstMatchByteForByte) {
  const std::string bytes = "A,1,2,3\r\nA,4,5,6\r\na,7,8,9\r\n";
  auto e = FindCatalogEntry(bytes, "A");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->spanish, "3");
  e = FindCatalogEntry(bytes, "a");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->spanish, "9");
  EXPECT_FALSE(FindCatalogEntry(bytes, "A "));
  EXPECT_FALSE(FindCatalogEntry(bytes, "1"));  // only keys are matched
}

class CatalogTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    ResetCatalog();
    Session().RootDir = dir_.path() + "/";
  }
  void TearDown() override {
    ResetSession();
    ResetCatalog();
  }
  void UseLanguage(std::string code) { Session().Language = std::move(code); }
  std::string CataloguePath(const char* name = "REPQUOTA") const {
    return dir_ / (std::string("LOCALE/") + name + ".LNG");
  }

  ScratchDir dir_;
};

TEST_F(CatalogTextTest, CatalanTouchesNoFile) {
  UseLanguage("CAT");
  EXPECT_EQ(CatalogText("PÀGINA "_cp), "PÀGINA "_cp);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "LOCALE"));
}

TEST_F(CatalogTextTest, PicksTheSessionLanguage) {
  dir_.Write("LOCALE/REPQUOTA.LNG", std::string("PÀGINA ,PÁXINA ,PAGINA ,PÁGINA \r\n"_cp) +
                                        "TOTAL,TOTAL GLG,TOTAU,\r\n");
  UseLanguage("SPA");
  EXPECT_EQ(CatalogText("PÀGINA "_cp), "PÁGINA "_cp);
  EXPECT_EQ(CatalogText("PÀGINA"_cp), "PÀGINA"_cp);  // without the blank: no entry
  EXPECT_EQ(CatalogText("TOTAL"), "");               // an empty translation is used
  EXPECT_EQ(CatalogText("RES"), "RES");
  UseLanguage("GLG");
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAL GLG");
  UseLanguage("OCI");
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAU");
  UseLanguage("spa");
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAL");
  UseLanguage("   ");
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAL");
}

TEST_F(CatalogTextTest, FirstEntryWinsAndAShortLastLineIsHarmless) {
  dir_.Write("locale/repquota.lng", "A,1,2,PRIMER\r\nA,1,2,SEGON\r\nB\r\n");
  UseLanguage("SPA");
  EXPECT_EQ(CatalogText("A"), "PRIMER");
  EXPECT_EQ(CatalogText("B"), "B");
}

TEST_F(CatalogTextTest, OtherLanguagesSearchAndCreateTheCatalogue) {
  std::filesystem::create_directories(dir_ / "LOCALE");
  UseLanguage("spa");
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAL");
  ASSERT_TRUE(std::filesystem::exists(CataloguePath()));
  EXPECT_EQ(std::filesystem::file_size(CataloguePath()), 0u);
  UseLanguage("SPA");
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAL");
}

TEST_F(CatalogTextTest, MissingLocaleDirectoryMeansNoTranslation) {
  UseLanguage("SPA");
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAL");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "LOCALE"));
  Session().RootDir = "C:\\KIT\\";
  EXPECT_EQ(CatalogText("TOTAL"), "TOTAL");
}

TEST_F(CatalogTextTest, CatalogueNameIsSetOnce) {
  dir_.Write("LOCALE/REPQUOTA.LNG", "A,1,2,MODUL\r\n");
  dir_.Write("LOCALE/ALTRE.LNG", "A,1,2,ALTRE\r\n");
  UseLanguage("SPA");
  EXPECT_EQ(CatalogName(), "");
  EXPECT_EQ(CatalogText("A"), "MODUL");
  EXPECT_EQ(CatalogName(), "REPQUOTA");
  SetCatalogName("ALTRE");
  EXPECT_EQ(CatalogText("A"), "ALTRE");
  ResetCatalog();
  EXPECT_EQ(CatalogText("A"), "MODUL");
}

// A catalogue saved as UTF-8 by a site's editor, with or without the byte
// order mark, translates as the code page 850 one does; a code page 850
// catalogue is never taken for UTF-8.
TEST_F(CatalogTextTest, ACatalogueSavedAsUtf8TranslatesAsWell) {
  UseLanguage("SPA");
  const std::string utf8 =
      "\"PÀGINA \",\"PÁXINA \",\"PAGINA \",\"PÁGINA \"\r\n"
      "\"FONS\",\"FONDOS\",\"FONS\",\"FONDOS\"\r\n";
  for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8}) {
    dir_.Write("LOCALE/REPQUOTA.LNG", bytes);
    EXPECT_EQ(CatalogText("PÀGINA "_cp), "PÁGINA "_cp) << bytes.size();
    EXPECT_EQ(CatalogText("FONS"), "FONDOS") << bytes.size();
  }
  // Code page 850 bytes that happen to pair up like UTF-8 nowhere else:
  // "ÓN" is E0 4E, not the start of a three-byte character.
  dir_.Write("LOCALE/REPQUOTA.LNG", std::string("\"IMPRESSIÓ\",\"IMPRESIÓN\",\"IMPRESSION\",\"IMPRESIÓN\"\r\n"_cp));
  EXPECT_EQ(CatalogText("IMPRESSIÓ"_cp), "IMPRESIÓN"_cp);
}

TEST_F(CatalogTextTest, DamagedCataloguesGiveTheTextBack) {
  UseLanguage("SPA");
  const std::string damaged[] = {
      "",
      std::string("\0\0\0\0", 4),
      "\"A,1,2,3",
      std::string(100000, 'A') + "\r\n",
      "A,1",
      "\x1a" "A,1,2,3\r\n",
  };
  for (const auto& bytes : damaged) {
    dir_.Write("LOCALE/REPQUOTA.LNG", bytes);
    EXPECT_EQ(CatalogText("A"), "A") << bytes.size();
  }
  // A catalogue that is a directory cannot be read either.
  std::filesystem::remove(CataloguePath());
  std::filesystem::create_directories(CataloguePath());
  EXPECT_EQ(CatalogText("A"), "A");
}

TEST_F(CatalogTextTest, AReadErrorTranslatesNothingAndCreatesNothing) {
  dir_.Write("LOCALE/REPQUOTA.LNG", "A,1,2,ESPANYOL\r\n");
  UseLanguage("SPA");
  EXPECT_EQ(CatalogText("A"), "ESPANYOL");
  {
    config::testing::FailingFile failing("/REPQUOTA.LNG");
    EXPECT_EQ(CatalogText("A"), "A");
    EXPECT_GE(failing.calls, 1);
  }
  // Only a missing catalogue is created, and a refused creation is harmless.
  std::filesystem::remove(CataloguePath());
  config::testing::FailingFile refused("/REPQUOTA.LNG", EACCES);
  EXPECT_EQ(CatalogText("A"), "A");
  EXPECT_FALSE(std::filesystem::exists(CataloguePath()));
}

}  // namespace
}  // namespace config
