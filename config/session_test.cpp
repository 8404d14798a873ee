#include "config/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/computer_name.h"
#include "config/test_files.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/user_settings.h"
#include "platform/system.h"

namespace config {
namespace {

using config::testing::ScratchDir;

// An environment made of a table; a computer name chosen by the test.
class FakeSystem : public platform::SystemWrapper {
 public:
  FakeSystem() : SystemWrapper(platform::RealSystem()) {}
  std::string GetEnv(const std::string& name) override {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  }
  std::string ComputerName() override { return computerName; }

  std::map<std::string, std::string> env;
  std::string computerName;
};

// The five colour pairs as (foreground, background).
std::vector<std::pair<int, int>> ColourPairs(const SessionSettings& s) {
  std::vector<std::pair<int, int>> out;
  for (const ColourPair& pair : s.ColourPairs) out.emplace_back(pair.foreground, pair.background);
  return out;
}

class LoadSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    // A suite root and a temporary directory, both written without their
    // final separator as an operator might set them.
    fake_.env["KITTMP"] = dir_.path() + "/tmp";
    fake_.env["KITROOT"] = dir_.path() + "/root/";
  }
  void TearDown() override {
    ResetSession();
    format::SetUserSettingReader(nullptr);
    format::SetLanguage("");
  }
  const SessionSettings& Load() {
    LoadSession();
    return Session();
  }

  ScratchDir dir_;
  FakeSystem fake_;
  platform::ScopedSystem scoped_{fake_};
};

TEST_F(LoadSessionTest, ReadsTheSessionAndTerminalFiles) {
  dir_.Write("tmp/SESSIO.INI",
             "[Menu]\r\nTitol=Comptes\r\nNomMenu=PRESSUP\r\nMenu=M1\r\nChnMenu=C1\r\nOperador=ANNA\r\n"
             "KitTipOper=12.6abc\r\n[Terminal]\r\nDir=D:\\TERM\r\n");
  dir_.Write("tmp/VoraTerm.ini",
             "[Pantalla]\r\nSeleccio=2\r\nCol0=01020304050607080910\r\nCol2=14011502000400050006\r\n"
             "[Sistema]\r\nData=20240405\r\nSortida=PANTALLA\r\nIdioma=SPA\r\n");
  fake_.env["KITEXE"] = "/opt/kit/bin/";
  const SessionSettings& s = Load();
  EXPECT_EQ(s.RootDir, dir_.path() + "/root/");
  EXPECT_EQ(s.ExeDir, "/opt/kit/bin/");
  EXPECT_EQ(s.TempDir, dir_.path() + "/tmp\\");
  EXPECT_EQ(s.MenuTitle, " Comptes ");
  EXPECT_EQ(s.MenuName, "PRESSUP");
  EXPECT_EQ(s.MenuEntry, "M1");
  EXPECT_EQ(s.MenuChain, "C1");
  EXPECT_EQ(s.Operator, "ANNA");
  EXPECT_EQ(s.OperatorType, 13);
  EXPECT_EQ(s.TerminalDir, "D:\\TERM\\");
  EXPECT_EQ(ColourPairs(s), (std::vector<std::pair<int, int>>{{14, 1}, {15, 2}, {0, 4}, {0, 5}, {0, 6}}));
  EXPECT_EQ(s.WorkDate, "\x94\x98\x84\x85");
  EXPECT_EQ(s.OutputDest, "PANTALLA");
  EXPECT_EQ(s.Language, "SPA");
  EXPECT_EQ(format::Language(), "SPA");
  EXPECT_EQ(s.RunEnvironment, "DOS");
}

TEST_F(LoadSessionTest, DefaultsWhenNothingIsConfigured) {
  const SessionSettings& s = Load();
  EXPECT_EQ(s.MenuTitle, "  ");
  EXPECT_EQ(s.MenuName, "");
  EXPECT_EQ(s.OperatorType, 0);
  EXPECT_EQ(s.TerminalDir, "");
  EXPECT_EQ(s.WorkDate, "");
  EXPECT_EQ(s.Language, "   ");
  EXPECT_EQ(ColourPairs(s), (std::vector<std::pair<int, int>>{{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}));
}

TEST_F(LoadSessionTest, ShortColourTextAndMissingSelection) {
  dir_.Write("tmp/VoraTerm.ini", "[Pantalla]\nCol0=1500\nCol1=01010101010101010101\n");
  const SessionSettings& s = Load();
  EXPECT_EQ(ColourPairs(s), (std::vector<std::pair<int, int>>{{15, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}));
}

TEST_F(LoadSessionTest, QuotedTitleIsCutAtItsComment) {
  dir_.Write("tmp/Sessio.ini", "[menu]\n  titol = X\n");
  EXPECT_EQ(Load().MenuTitle, "  X ");
  dir_.Write("tmp/Sessio.ini", "[Menu]\nTitol=\"A;B\"\n");
  EXPECT_EQ(Load().MenuTitle, " \"A ");
}

TEST_F(LoadSessionTest, TemporaryDirectorySeparators) {
  fake_.env["KITTMP"] = "C:";
  EXPECT_EQ(Load().TempDir, "C:");
  fake_.env["KITTMP"] = "D:\\TMP";
  EXPECT_EQ(Load().TempDir, "D:\\TMP\\");
  fake_.env["KITTMP"] = "D:\\TMP\\";
  EXPECT_EQ(Load().TempDir, "D:\\TMP\\");
  // A folder given with its final "/" gets no backslash after it, which
  // every message naming a file of the folder would show ("tmp/\PressupH.tmp").
  fake_.env["KITTMP"] = "/srv/kit/tmp/";
  EXPECT_EQ(Load().TempDir, "/srv/kit/tmp/");
  fake_.env["KITTMP"] = "/srv/kit/tmp";
  EXPECT_EQ(Load().TempDir, "/srv/kit/tmp\\");
}

TEST_F(LoadSessionTest, WithoutKittmpTheTerminalDirectoryServes) {
  // The session file is then looked for in the current directory.
  dir_.Write("cwd/Sessio.ini", "[Terminal]\nDir=" + dir_.path() + "/term\n");
  dir_.Write("term/VoraTerm.ini", "[Sistema]\nIdioma=GLG\n");
  fake_.env.erase("KITTMP");
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir((dir_ / "cwd").c_str()), 0);
  const SessionSettings s = Load();
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(s.TerminalDir, dir_.path() + "/term\\");
  EXPECT_EQ(s.TempDir, s.TerminalDir);
  EXPECT_EQ(s.Language, "GLG");

  fake_.env["TERM"] = "xterm";
  EXPECT_EQ(Load().TerminalDir, "xterm\\");
  EXPECT_EQ(Session().TempDir, "xterm\\");
}

TEST_F(LoadSessionTest, LanguageFieldAndItsFallback) {
  dir_.Write("tmp/VoraTerm.ini", "[Sistema]\nIdioma=CATALA\n");
  EXPECT_EQ(Load().Language, "CAT");
  dir_.Write("tmp/VoraTerm.ini", "[Sistema]\nIdioma=SP\n");
  EXPECT_EQ(Load().Language, "SP ");
  dir_.Write("tmp/VoraTerm.ini", "[Sistema]\nIdioma=  \n");
  dir_.Write("root/Vora.ini", "[Usuari]\nIdioma=OCI\n");
  EXPECT_EQ(Load().Language, "OCI");
  EXPECT_EQ(format::Language(), "OCI");
  dir_.Write("root/Vora.ini", "[Usuari]\nIdioma=\n");
  EXPECT_EQ(Load().Language, "   ");
}

TEST_F(LoadSessionTest, RootDirectoryGetsItsSeparator) {
  // "KITROOT" typed without its final "/" still names the root itself, not
  // files beside it ("APPVora.ini", "APPFORMS\...").
  fake_.env["KITROOT"] = dir_.path() + "/APP";
  dir_.Write("APPVora.ini", "[Usuari]\nIdioma=SPA\nDecCaracter=,\n");
  dir_.Write("APP/Vora.ini", "[Usuari]\nIdioma=GLG\nDecCaracter=:\n");
  EXPECT_EQ(Load().RootDir, dir_.path() + "/APP/");
  EXPECT_EQ(Load().Language, "GLG");
  EXPECT_EQ(format::ReadUserSetting("DecCaracter"), ":");
  // A root that ends in a separator is taken as it is.
  fake_.env["KITROOT"] = dir_.path() + "/APP/";
  EXPECT_EQ(Load().RootDir, dir_.path() + "/APP/");
  fake_.env["KITROOT"] = "C:\\APP\\";
  EXPECT_EQ(Load().RootDir, "C:\\APP\\");
  fake_.env["KITROOT"] = "";
  EXPECT_EQ(Load().RootDir, "");
}

TEST_F(LoadSessionTest, UserSettingsStartAtTheirFirstNonBlank) {
  // INI values keep the blanks after "=": the characters the user wrote
  // are still the ones used.
  dir_.Write("root/Vora.ini",
             "[Usuari]\nDecCaracter = ,\nMilCaracter =  .\nDatCaracter = -\nDatOrdre =  amd\n");
  Load();
  EXPECT_EQ(format::ReadUserSetting("DecCaracter"), ",");
  EXPECT_EQ(format::ReadUserSetting("DatOrdre"), "amd");
  EXPECT_EQ(format::FormatWithMask("ZZ,ZZ9.99", 1234.5), " 1.234,50");
  EXPECT_EQ(format::LongDateText(format::PackDate(2024, 4, 5), 0, "dma"), "2024-4-5  ");
  // All blank: the defaults.
  dir_.Write("root/Vora.ini", "[Usuari]\nDecCaracter =   \nDatCaracter = \nDatOrdre =    \n");
  Load();
  EXPECT_EQ(format::ReadUserSetting("DecCaracter"), "");
  EXPECT_EQ(format::FormatWithMask("ZZ,ZZ9.99", 1234.5), " 1.234'50");
  EXPECT_EQ(format::LongDateText(format::PackDate(2024, 4, 5), 0, "dma"), "5/4/2024  ");
}

TEST_F(LoadSessionTest, UserSettingsAreReadFromTheRoot) {
  dir_.Write("root/VORA.INI", "[Usuari]\nDatCaracter=-\nDatOrdre=AMD\n[Altres]\nMilCaracter=x\n");
  Load();
  EXPECT_EQ(format::ReadUserSetting("DatCaracter"), "-");
  EXPECT_EQ(format::ReadUserSetting("datordre"), "AMD");
  EXPECT_EQ(format::ReadUserSetting("MilCaracter"), "");
}

TEST_F(LoadSessionTest, RunEnvironment) {
  EXPECT_EQ(Load().RunEnvironment, "DOS");
  fake_.env["SYSTEMROOT"] = "C:\\WINDOWS";
  EXPECT_EQ(Load().RunEnvironment, "WIN");
  fake_.env["HTTP_ACCEPT"] = "text/html";
  EXPECT_EQ(Load().RunEnvironment, "CGI");
  fake_.env.erase("HTTP_ACCEPT");
  fake_.env.erase("SYSTEMROOT");
  fake_.env["WINDIR"] = "C:\\WINDOWS";
  fake_.env["HTTP_USER_AGENT"] = "x";
  EXPECT_EQ(Load().RunEnvironment, "CGI");
}

TEST_F(LoadSessionTest, OutOfRangeNumbersAreClamped) {
  dir_.Write("tmp/Sessio.ini", "[Menu]\nKitTipOper=99999999\n");
  dir_.Write("tmp/VoraTerm.ini", "[Pantalla]\nSeleccio=-1\nCol-1=0102\n");
  const SessionSettings& s = Load();
  EXPECT_EQ(s.OperatorType, 32767);
  EXPECT_EQ(s.ColourPairs[0].foreground, 1);
  EXPECT_EQ(s.ColourPairs[0].background, 2);
}

TEST_F(LoadSessionTest, DamagedFilesLoadWithoutFailing) {
  std::string binary;
  for (unsigned i = 0; i < 300000; ++i) binary += static_cast<char>((i * 7919u) % 256u);
  dir_.Write("tmp/Sessio.ini", binary);
  dir_.Write("tmp/VoraTerm.ini", "[Pantalla]\nCol0=\"" + std::string(100000, '9'));
  dir_.Write("root/Vora.ini", std::string("\0\0\0[Usuari]\0\nIdioma=SPA", 24));
  const SessionSettings& s = Load();
  EXPECT_EQ(s.ColourPairs[0].foreground, 0);  // "\"9" reads as no number
  EXPECT_EQ(s.ColourPairs[4].background, 99);
  EXPECT_EQ(s.Language, "   ");  // the header line holds a NUL: no such section
}

TEST(ComputerName, SeventeenByteBuffer) {
  FakeSystem fake;
  platform::ScopedSystem scoped(fake);
  fake.computerName = "ADMINISTRACIO-PRINCIPAL";
  EXPECT_EQ(ComputerName(), "ADMINISTRACIO-PR");
  fake.computerName = std::string("PC\0XX", 5);
  EXPECT_EQ(ComputerName(), "PC");
  fake.computerName = "";
  EXPECT_EQ(ComputerName(), "");
  fake.computerName = "OFICINA";
  EXPECT_EQ(ComputerName(), "OFICINA");
}

}  // namespace
}  // namespace config
