// Look-up lists and the pop-up calculator and calendar inside repquota.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Lookups : public ::testing::Test {
 protected:
  void SetUp() override { root_.Kitdata({"demo", root_.Dir().string(), "2024-11-15"}); }
  // Types `keys` into repquota, which must end well having snapped `count`
  // screens into screens_.
  void Run(const std::string& keys, std::size_t count) {
    const ProgramResult r = root_.RunRepquota(keys, screens_);
    EXPECT_EQ(r.exitStatus, 0) << r.standardError;
    ASSERT_EQ(screens_.size(), count) << r.standardError;
  }
  SuiteRoot root_{"CAT", "15112024"};
  std::vector<std::string> screens_;
};

TEST_F(Lookups, F4OnThePropertyListsThePropertiesAndFillsTheField) {
  ASSERT_NO_FATAL_FAILURE(Run("{Down}{F4}{Snap}{Down}{Enter}{Snap}{Esc}{Esc}", 2));
  EXPECT_THAT(screens_[0], HasSubstr("Cod  Nom de la finca"));
  EXPECT_THAT(screens_[0], HasSubstr("001  MALLORCA, 245 *COMUNITAT PROP."));
  EXPECT_THAT(screens_[0], HasSubstr("003  SANT PERE, 12 *C.P."));
  EXPECT_THAT(screens_[1], Not(HasSubstr("Nom de la finca")));
  EXPECT_THAT(screens_[1], HasSubstr("Finca ....................: 002"));
}

TEST_F(Lookups, EscLeavesThePropertyListWithoutChoosing) {
  ASSERT_NO_FATAL_FAILURE(Run("{Down}{F4}{Esc}{Snap}{Esc}{Esc}", 1));
  EXPECT_THAT(screens_[0], Not(HasSubstr("Nom de la finca")));
  EXPECT_THAT(screens_[0], Not(HasSubstr("Finca ....................: 00")));
}

// The column where `word` starts on the row of `screen` that holds it, in
// characters (the screen is UTF-8 text); -1 when no row does.
int ColumnOf(const std::string& screen, const std::string& word) {
  std::size_t start = 0;
  for (std::size_t end; (end = screen.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string row = screen.substr(start, end - start);
    const std::size_t at = row.find(word);
    if (at == std::string::npos) continue;
    int column = 0;
    for (std::size_t i = 0; i < at; ++i) column += (static_cast<unsigned char>(row[i]) & 0xC0) != 0x80;
    return column;
  }
  return -1;
}

TEST_F(Lookups, F4OnTheReceiptConceptListsReceiptTypes) {
  const ProgramResult r =
      root_.RunRepquota("{Down}1{Ctrl+B}{Ctrl+B}1{Down}1{Down}{Down}{F4}{Snap}{Esc}{Snap}{Esc}{Esc}{Esc}", screens_);
  ASSERT_GE(screens_.size(), 2u) << r.standardError;
  EXPECT_THAT(screens_[0], HasSubstr("C  Descripci"));
  EXPECT_THAT(screens_[0], HasSubstr(" 1  QUOTA ORDIN"));
  EXPECT_THAT(screens_[1], Not(HasSubstr("C  Descripci")));
  // The heading stands over its columns: the code's last digit under "C",
  // the descriptions under "Descripció".
  EXPECT_EQ(ColumnOf(screens_[0], "Descripci"), ColumnOf(screens_[0], "QUOTA ORDIN")) << screens_[0];
  EXPECT_EQ(ColumnOf(screens_[0], "C  Descripci"), ColumnOf(screens_[0], "1  QUOTA ORDIN")) << screens_[0];
}

TEST_F(Lookups, ThePropertyListHeadingStandsOverItsColumns) {
  ASSERT_NO_FATAL_FAILURE(Run("{Down}{F4}{Snap}{Esc}{Esc}{Esc}", 1));
  EXPECT_EQ(ColumnOf(screens_[0], "Cod  Nom"), ColumnOf(screens_[0], "001  MALLORCA")) << screens_[0];
}

TEST_F(Lookups, AltCTypesTheChosenDate) {
  ASSERT_NO_FATAL_FAILURE(Run("{Alt+C}{Snap}{Right}F{Snap}{Esc}", 2));
  // The working date's quarter, October to December 2024.
  EXPECT_THAT(screens_[0], HasSubstr(" 2024 "));
  EXPECT_THAT(screens_[0], HasSubstr("DL DT DC DJ DV DS DG"));
  EXPECT_THAT(screens_[0], HasSubstr("NOVEMBRE"));
  EXPECT_THAT(screens_[0], HasSubstr("11 12 13 14 15 16 17"));
  EXPECT_THAT(screens_[1], HasSubstr("Data del pressupost ......: 16/11/2024"));
  EXPECT_THAT(screens_[1], Not(HasSubstr("NOVEMBRE")));
}

TEST_F(Lookups, AltXTypesTheResultIntoAVariation) {
  ASSERT_NO_FATAL_FAILURE(Run("{Down}{Down}{Alt+X}{Snap}12.5{Snap}F{Snap}{Esc}{Esc}", 3));
  EXPECT_THAT(screens_[0], HasSubstr("\xe2\x94\x82                     0  \xe2\x94\x82"));  // "│ ... 0  │"
  EXPECT_THAT(screens_[1], HasSubstr("\xe2\x94\x82                  12'5  \xe2\x94\x82"));
  EXPECT_THAT(screens_[2], HasSubstr("Variaci\xc3\xb3 F5 ..............: 1250"));
}

TEST_F(Lookups, AltXTypesANegativeResultWithItsSign) {
  ASSERT_NO_FATAL_FAILURE(Run("{Down}{Down}{Alt+X}2-7.25={Snap}F{Snap}{F1}{F1}{End}{Snap}{Esc}{Esc}{Esc}{Esc}", 3));
  EXPECT_THAT(screens_[0], HasSubstr("-                 5'25  \xe2\x94\x82"));
  EXPECT_THAT(screens_[1], HasSubstr("Variaci\xc3\xb3 F5 ..............: -525"));
  // The general help tells it as it happens.
  EXPECT_THAT(screens_[2], HasSubstr("Calculadora"));
  EXPECT_THAT(screens_[2], HasSubstr("-5,25 escriu -525"));
}

}  // namespace
}  // namespace e2e
