#include "config/ini.h"

#include <gtest/gtest.h>

#include <string>

#include "config/test_files.h"
#include "base/cp850.h"

namespace config {
namespace {

using config::testing::ScratchDir;

struct Lookup {
  const char* name;
  std::string bytes;
  std::string section;
  const char* key;
  std::string value;
};

TEST(IniValueFromBytes, FindsKeysAsTheSuiteWritesThem) {
  const Lookup cases[] = {
      {"plain", "[Menu]\nTitol=Comptes\n", "Menu", "Titol", "Comptes"},
      {"crlf", "[Menu]\r\nTitol=Comptes\r\nNomMenu=X\r\n", "Menu", "NomMenu", "X"},
      {"lone cr", "[Menu]\rTitol=A\rNomMenu=B\r", "Menu", "NomMenu", "B"},
      {"blanks in header", "[ menu ]\nTitol=X\n", "Menu", "Titol", "X"},
      {"header without ]", "[MENU\nTitol=X\n", "Menu", "Titol", "X"},
      {"argument trimmed", "[Menu]\nTitol=X\n", " Menu ", " Titol ", "X"},
      {"indented key", "[Menu]\n  titol = X\n", "Menu", "Titol", " X"},
      {"value kept as written", "[Menu]\nTitol=  X  \n", "Menu", "Titol", "  X  "},
      {"comment cut", "[Menu]\nTitol=X ; note\n", "Menu", "Titol", "X "},
      {"comment inside quotes", "[Menu]\nTitol=\"A;B\"\n", "Menu", "Titol", "\"A"},
      {"quotes removed", "[Menu]\nTitol=\"ABC\"\n", "Menu", "Titol", "ABC"},
      {"blank inside quotes", "[Menu]\nTitol=\" A \"\n", "Menu", "Titol", " A "},
      {"single quote char", "[Menu]\nTitol=\"\n", "Menu", "Titol", "\""},
      {"two quotes", "[Menu]\nTitol=\"\"\n", "Menu", "Titol", ""},
      {"quoted then blanks", "[Menu]\nTitol=\"ABC\"  \n", "Menu", "Titol", "\"ABC\"  "},
      {"further equals", "[Menu]\nTitol=a=b\n", "Menu", "Titol", "a=b"},
      {"empty value", "[Menu]\nTitol=\nNomMenu=Y\n", "Menu", "Titol", ""},
      {"key case", "[Pantalla]\ncol0=15000700000700070007\n", "Pantalla", "Col0", "15000700000700070007"},
      {"first section only", "[Menu]\nTitol=A\n[Menu]\nNomMenu=B\n", "Menu", "NomMenu", ""},
      {"first of two", "[Menu]\nTitol=A\n[Menu]\nTitol=B\n", "Menu", "Titol", "A"},
      {"next header ends", "[Menu]\n[Altre]\nTitol=X\n", "Menu", "Titol", ""},
      {"other section", "[Altre]\nTitol=X\n[Menu]\nTitol=Y\n", "Menu", "Titol", "Y"},
      {"before any header", "Titol=X\n[Menu]\n", "Menu", "Titol", ""},
      {"first key wins", "[Menu]\nTitol=A\nTitol=B\n", "Menu", "Titol", "A"},
      {"line without equals", "[Menu]\nTitol\nTitol=Y\n", "Menu", "Titol", "Y"},
      {"tab is no blank", "[Menu]\n\tTitol=X\n", "Menu", "Titol", ""},
      {"blank lines and comments", "\n; top\n[Menu] ; the menu\n\n   \n;Titol=N\nTitol=Y\n", "Menu", "Titol", "Y"},
      {"commented header", ";[Menu]\nTitol=X\n", "Menu", "Titol", ""},
      {"no final line end", "[Menu]\nTitol=X", "Menu", "Titol", "X"},
      {"ctrl-z ends the file", std::string("[Menu]\n\x1aTitol=X\n"), "Menu", "Titol", ""},
      {"ctrl-z after the value", std::string("[Menu]\nTitol=X\x1aY\n"), "Menu", "Titol", "X"},
      {"accented names", std::string("[Año]\nClau=1\n"_cp), std::string("AÑO"_cp), "CLAU", "1"},
      {"only some accents fold", std::string("[Direcció]\nClau=1\n"_cp), std::string("DIRECCIÓ"_cp), "Clau", ""},
      {"missing key", "[Menu]\nTitol=X\n", "Menu", "Operador", ""},
      {"missing section", "[Menu]\nTitol=X\n", "Sistema", "Data", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(IniValueFromBytes(c.bytes, c.section, c.key), c.value) << c.name;
}

TEST(IniValueFromBytes, SurvivesDamagedFiles) {
  EXPECT_EQ(IniValueFromBytes("", "Menu", "Titol"), "");

  std::string binary;
  std::uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1103515245u + 12345u;
    binary += static_cast<char>(x >> 24);
  }
  EXPECT_NO_THROW(IniValueFromBytes(binary, "Menu", "Titol"));
  // Bytes of every value, then a real section.
  std::string all;
  for (int i = 0; i < 256; ++i)
    if (i != 26) all += static_cast<char>(i);  // Ctrl-Z would end the file
  EXPECT_EQ(IniValueFromBytes(all + "\n[Menu]\nTitol=X\n", "Menu", "Titol"), "X");

  const std::string huge(100000, 'v');
  EXPECT_EQ(IniValueFromBytes("[Menu]\n" + std::string(100000, 'x') + "\nTitol=" + huge + "\n", "Menu", "Titol"), huge);
  EXPECT_EQ(IniValueFromBytes("[" + huge, huge, "Titol"), "");

  const std::string withNul("[Menu]\nTi\0tol=A\nTitol=B\0C\n", 25);
  EXPECT_EQ(IniValueFromBytes(withNul, "Menu", "Titol"), std::string("B\0C", 3));

  EXPECT_EQ(IniValueFromBytes("[Menu]\nTitol=\"ABC\n", "Menu", "Titol"), "\"ABC");
  EXPECT_EQ(IniValueFromBytes("[Menu]\nTitol=ABC\"\n", "Menu", "Titol"), "ABC\"");
  EXPECT_EQ(IniValueFromBytes("[Menu]\nTitol=\"", "Menu", "Titol"), "\"");
}

TEST(IniUpper, LettersThatFold) {
  EXPECT_EQ(IniUpper("abz AZ 09"), "ABZ AZ 09");
  EXPECT_EQ(IniUpper("äöüéñåç"_cp), "ÄÖÜÉÑÅÇ"_cp);
  EXPECT_EQ(IniUpper("àóíÿ"_cp), "àóíÿ"_cp);
}

TEST(ReadIniValue, ReadsFilesThroughSuitePaths) {
  ScratchDir dir;
  dir.Write("TMP/sessio.INI", "[Menu]\r\nTitol=Comptes\r\n");
  // Backslashes and any case name the same file.
  EXPECT_EQ(ReadIniValue(dir.path() + "\\tmp\\Sessio.ini", "Menu", "Titol"), "Comptes");
  EXPECT_EQ(ReadIniValue(dir.path() + "/TMP/SESSIO.INI", "menu", "titol"), "Comptes");
}

TEST(ReadIniValue, UnreadableFilesGiveTheEmptyText) {
  ScratchDir dir;
  dir.Write("sub/empty.ini", "");
  EXPECT_EQ(ReadIniValue(dir / "missing.ini", "Menu", "Titol"), "");
  EXPECT_EQ(ReadIniValue(dir / "sub", "Menu", "Titol"), "");  // a directory
  EXPECT_EQ(ReadIniValue(dir / "sub/empty.ini", "Menu", "Titol"), "");
  EXPECT_EQ(ReadIniValue("C:Sessio.ini", "Menu", "Titol"), "");
  EXPECT_EQ(ReadIniValue("", "Menu", "Titol"), "");
}

TEST(ReadIniValue, AReadErrorGivesTheEmptyText) {
  ScratchDir dir;
  dir.Write("Vora.ini", "[Usuari]\r\nIdioma=SPA\r\n");
  EXPECT_EQ(ReadIniValue(dir / "Vora.ini", "Usuari", "Idioma"), "SPA");
  config::testing::FailingFile failing("/Vora.ini");
  EXPECT_EQ(ReadIniValue(dir / "Vora.ini", "Usuari", "Idioma"), "");
  EXPECT_EQ(failing.calls, 1);
}

TEST(ReadIniValue, StopsAtCtrlZInLargeFiles) {
  ScratchDir dir;
  std::string bytes = "[Menu]\n" + std::string(200000, ';') + "\nTitol=A\n";
  dir.Write("a.ini", bytes);
  EXPECT_EQ(ReadIniValue(dir / "a.ini", "Menu", "Titol"), "A");
  dir.Write("b.ini", "[Menu]\n" + std::string(100000, ';') + "\x1a\nTitol=A\n");
  EXPECT_EQ(ReadIniValue(dir / "b.ini", "Menu", "Titol"), "");
}

}  // namespace
}  // namespace config
