// A damaged owners file: the report stops with the data layer's message
// naming the file, instead of counting the owners it could read as all of
// them and saving and printing a budget built from part of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::size_t kPageSize = 4096;

// Overwrites the whole database page holding `marker` with garbage.
bool DamagePageHolding(const std::filesystem::path& file, const std::string& marker) {
  std::string bytes = ReadFile(file);
  const std::size_t at = bytes.find(marker);
  if (at == std::string::npos) return false;
  const std::size_t page = at / kPageSize * kPageSize;
  std::mt19937 random(20241115);
  for (std::size_t i = page; i < page + kPageSize && i < bytes.size(); ++i) bytes[i] = static_cast<char>(random());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  return true;
}

// The demo root, on the embedded storage only.
class DamagedData : public ::testing::Test {
 protected:
  void SetUp() override {
    if (DataOnServer()) GTEST_SKIP() << "damages a data file of the embedded storage";
    root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  }
  // Imports DADES\<file> as its header line and `rows` (CSV lines, enough
  // for the file to span several pages), then damages the page holding
  // `marker`.
  void ImportAndDamage(const std::string& file, const std::string& rows, const std::string& marker) {
    const std::string exported = root.Export(file);
    root.Import(file, exported.substr(0, exported.find('\n') + 1) + rows);
    ASSERT_TRUE(DamagePageHolding(root.Dir() / "DADES" / (file + ".dat"), marker));
  }
  SuiteRoot root{"CAT", "15112024"};
};

TEST_F(DamagedData, AnOwnersPageThatCannotBeReadStopsTheReportAndKeepsTheStoredBudget) {
  // Enough owners on property 1 for the owners file to span several pages.
  std::string rows;
  for (int n = 9; n <= 60; ++n) {
    const std::string number = (n < 10 ? "0" : "") + std::to_string(n);
    rows += "000100" + number + ",PROPIETARI " + number + " *NOM,PIS " + number +
            ",0,0,0,0,0,0,0,1,10.00,0,0.00,0,0.00,0,0.00,0,0.00,0,0.00,0,0.00,0,0.00\n";
  }
  const std::string storedBefore = root.Export("PressupH");
  ASSERT_NO_FATAL_FAILURE(ImportAndDamage("PropietH", rows, "PROPIETARI 40 *NOM"));

  // The operator's whole job on property 1; the first screen dump comes
  // right after the parameters are accepted.
  std::vector<std::string> screens;
  const ProgramResult r =
      root.RunRepquota("{Down}1{Ctrl+B}{Snap}{Ctrl+B}1{Down}1{Ctrl+B}S{Enter}{Snap}{Esc}{Esc}", screens);
  ASSERT_FALSE(screens.empty()) << r.standardError;
  EXPECT_THAT(Utf8(screens[0]), HasSubstr("NO ES POT ACCEDIR AL FITXER DADES\\PropietH (2)"));
  EXPECT_THAT(screens[0], Not(HasSubstr("AC  ASSEGURANÇA")));  // no budget built from part of the owners
  // Nothing saved, no listing handed to the print program.
  EXPECT_EQ(root.Export("PressupH"), storedBefore);
  for (const std::string& printed : root.PrintedFiles()) EXPECT_EQ(printed, "DEVICE\r\n");
  EXPECT_EQ(r.exitStatus, 1) << r.standardError;
  EXPECT_FALSE(std::filesystem::exists(root.TempDir() / "PressupH.tmp"));
}

TEST_F(DamagedData, APropertiesPageThatCannotBeReadIsToldInTheLookUpList) {
  // Properties enough for the properties file to span several pages.
  std::string rows;
  for (int n = 10; n <= 70; ++n)
    rows += "00" + std::to_string(n) + ",FINCA " + std::to_string(n) + " *C.P.,1,12,6.50,0,0,,0,,0,,0,,0,,0,,\n";
  ASSERT_NO_FATAL_FAILURE(ImportAndDamage("FinquesH", rows, "FINCA 40 *C.P."));

  // F4 on the property: the list reads on until the damaged page.
  std::vector<std::string> screens;
  const ProgramResult r = root.RunRepquota("{Down}{F4}{Snap}{Enter}{Snap}{Esc}{Esc}{Esc}", screens);
  ASSERT_EQ(screens.size(), 2u) << r.standardError;
  EXPECT_THAT(screens[0], HasSubstr("NO ES POT ACCEDIR AL FITXER DADES\\FinquesH (2)"));
  // The message goes with a key; the list of what could be read stays.
  EXPECT_THAT(screens[1], Not(HasSubstr("NO ES POT ACCEDIR")));
  EXPECT_THAT(screens[1], HasSubstr("001  MALLORCA, 245"));
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
}

// A property or a receipt concept that cannot be read is not an unknown
// one: the operator is told which file failed, and the screen stays.
TEST_F(DamagedData, APropertyThatCannotBeReadIsToldAsSuch) {
  ASSERT_TRUE(DamagePageHolding(root.Dir() / "DADES" / "FinquesH.dat", "MALLORCA, 245"));
  std::vector<std::string> screens;
  const ProgramResult r = root.RunRepquota("{Down}1{Ctrl+B}{Snap}{Enter}{Esc}{Esc}", screens);
  ASSERT_GE(screens.size(), 1u) << r.standardError;
  EXPECT_THAT(screens[0], HasSubstr("NO ES POT ACCEDIR AL FITXER DADES\\FinquesH (2)"));
  EXPECT_THAT(screens[0], Not(HasSubstr("FINCA INEXISTENT")));
}

TEST_F(DamagedData, AReceiptConceptThatCannotBeReadIsToldAsSuch) {
  ASSERT_TRUE(DamagePageHolding(root.Dir() / "DADES" / "THRebut.dat", "FONS DE RESERVA"));
  std::vector<std::string> screens;
  const ProgramResult r = root.RunRepquota(
      "{Down}1{Ctrl+B}{Ctrl+B}{Snap}{Up}{Up}{Up}{Down}{Down}{Down}2{Ctrl+B}{Snap}{Enter}{Snap}{Esc}{Esc}{Esc}{Esc}",
      screens);
  ASSERT_GE(screens.size(), 3u) << r.standardError;
  EXPECT_THAT(screens[0], Not(HasSubstr("conc.no def.")));
  EXPECT_THAT(screens[1], HasSubstr("NO ES POT ACCEDIR AL FITXER DADES\\THRebut (2)"));
  EXPECT_THAT(screens[2], Not(HasSubstr("CONFIRMA")));
  EXPECT_THAT(screens[2], Not(HasSubstr("conc.no def.")));
  EXPECT_THAT(screens[2], HasSubstr("Concepte del rebut .......: 2"));
  for (const std::string& printed : root.PrintedFiles()) EXPECT_EQ(printed, "DEVICE\r\n");
}

// The batch alike: the concept that cannot be read is named as a failed
// read, and no property is run.
TEST_F(DamagedData, TheBatchTellsAReceiptConceptThatCannotBeReadAsSuch) {
  ASSERT_TRUE(DamagePageHolding(root.Dir() / "DADES" / "THRebut.dat", "FONS DE RESERVA"));
  const ProgramResult r = root.RunBatch({"--date", "15/11/2024", "--periodicity", "1", "--concept", "2", "1"});
  EXPECT_THAT(r.standardError, HasSubstr("THRebut (2)"));
  EXPECT_THAT(r.standardError, Not(HasSubstr("there is no receipt concept")));
  EXPECT_EQ(r.exitStatus, 1);
}

}  // namespace
}  // namespace e2e
