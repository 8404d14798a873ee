// The built repquota, driven by key scripts on demo suite roots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e_support.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Repquota : public ::testing::Test {
 protected:
  void SetUp() override { root_.Kitdata({"demo", root_.Dir().string(), "2024-11-15"}); }
  SuiteRoot root_{"CAT", "15112024"};
  std::vector<std::string> screens_;
};

TEST_F(Repquota, AnUnknownPropertyIsRefusedOnTheFirstScreen) {
  const ProgramResult r = root_.RunRepquota("{Down}99{Ctrl+B}{Snap}x{Snap}{Esc}{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_GE(screens_.size(), 2u);
  EXPECT_THAT(screens_[0], HasSubstr("FINCA INEXISTENT"));
  EXPECT_THAT(screens_[1], Not(HasSubstr("FINCA INEXISTENT")));
  EXPECT_THAT(screens_[1], HasSubstr("Finca ....................: 99"));
  // Nothing was started: no working file, no lock left, nothing printed.
  EXPECT_FALSE(std::filesystem::exists(root_.TempDir() / "PressupH.tmp"));
  EXPECT_TRUE(root_.PrintedFiles().empty());
}

TEST_F(Repquota, EscOnTheFirstScreenEndsTheRun) {
  const ProgramResult r = root_.RunRepquota("{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  EXPECT_EQ(r.standardError, "");
}

TEST_F(Repquota, AScriptThatRunsOutEndsWithStatusThree) {
  const ProgramResult r = root_.RunRepquota("{Down}", screens_);
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_THAT(r.standardError, HasSubstr("key script ended"));
  ASSERT_EQ(screens_.size(), 1u);
  EXPECT_THAT(screens_[0], HasSubstr("Data del pressupost ......: 15 de novembre del 2024"));
}

// The operator's whole job: property 1, the budget as it stands, one copy of
// each listing, the receipts untouched.
constexpr const char* kPrintAll = "{Down}1{Ctrl+B}{Ctrl+B}1{Down}1{Ctrl+B}S{Enter}{Snap}{Esc}";

TEST_F(Repquota, TheWholePathSavesPrintsAndCleansUp) {
  const std::string before = root_.Export("PressupH");
  const ProgramResult r = root_.RunRepquota(kPrintAll, screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens_.size(), 1u);
  EXPECT_THAT(screens_[0], HasSubstr("Data del pressupost"));  // back on the first screen

  const std::vector<std::string> printed = root_.PrintedFiles();
  ASSERT_EQ(printed.size(), 1u);
  const std::string listing = Utf8(printed[0]);
  EXPECT_EQ(listing.rfind("DEVICE\r\nPAGE 66 \r\n", 0), 0u);
  EXPECT_THAT(listing, HasSubstr("REPARTIMENT DE LES DESPESES PER AL PERÍODE COMPRÈS ENTRE GENER DEL 2025 I DESEMBRE DEL 2025"));
  EXPECT_THAT(listing, HasSubstr("DESPESES PRESSUPOSTADES PER AL PERÍODE COMPRÈS ENTRE GENER DEL 2025"));
  EXPECT_THAT(listing, HasSubstr(" 5 ,AJUST, 0 "));
  EXPECT_THAT(listing, HasSubstr(" 39 ,TOTAL PRESSUPOST, 0 "));
  EXPECT_THAT(listing, HasSubstr(", 15 de novembre del 2024, 1 \r\n"));  // the closing line ends the file
  EXPECT_EQ(listing.size() - listing.rfind(", 15 de novembre del 2024, 1 \r\n"),
            std::string(", 15 de novembre del 2024, 1 \r\n").size());

  // The stored budget now holds the budgets worked out this run: the
  // lighting line at 102.5 % of its spending (719.90 -> 737.90).
  const std::string after = root_.Export("PressupH");
  EXPECT_THAT(before, HasSubstr("0001,EN,A,102500,0.00,806.20"));
  EXPECT_THAT(after, HasSubstr("0001,EN,A,102500,0.00,737.90"));
  // The working file is gone and the budget lock free for another workstation.
  EXPECT_FALSE(std::filesystem::exists(root_.TempDir() / "PressupH.tmp"));
  root_.AddWorkstation("TMP2");
  std::vector<std::string> other;
  EXPECT_EQ(root_.RunRepquota("{Down}1{Ctrl+B}{Snap}", other, "other", "TMP2").exitStatus, 3);
  ASSERT_FALSE(other.empty());
  EXPECT_THAT(other[0], HasSubstr("AC  ASSEGURANÇA"));
  EXPECT_THAT(other[0], Not(HasSubstr("BLOQUEJAT")));
}

TEST_F(Repquota, EscOnTheBudgetAsksWhetherToGoOnEditing) {
  const std::string before = root_.Export("PressupH");
  const ProgramResult r =
      root_.RunRepquota("{Down}1{Ctrl+B}{Esc}{Snap}S{Enter}{Snap}{Esc}N{Enter}{Snap}{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens_.size(), 3u);
  EXPECT_THAT(screens_[0], HasSubstr("VOLS CONTINUAR EDITANT EL PRESSUPOST (S/N) ?"));
  EXPECT_THAT(screens_[1], HasSubstr("AC  ASSEGURANÇA"));  // "S": still on the budget
  EXPECT_THAT(screens_[1], Not(HasSubstr("VOLS CONTINUAR")));
  EXPECT_THAT(screens_[2], HasSubstr("Data del pressupost"));  // otherwise: back to the start
  // Nothing saved; the print program still ran, on a print file with only its device line.
  EXPECT_EQ(root_.Export("PressupH"), before);
  ASSERT_EQ(root_.PrintedFiles().size(), 1u);
  EXPECT_EQ(root_.PrintedFiles()[0], "DEVICE\r\n");
}

TEST_F(Repquota, EditsSurviveEscFromThePrintOptionsAndMoveTheTotals) {
  // F5 preset 110 %; on the budget: a column typed in lower case, F5 on the
  // first line's variation, then the print options and back with Esc.
  const ProgramResult r = root_.RunRepquota(
      "{Down}1{Down}110%{Ctrl+B}{Snap}c{Enter}{F5}{Snap}{Ctrl+B}{Esc}{Snap}{PgUp}{PgUp}{Snap}{Esc}N{Enter}{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens_.size(), 4u);
  // As read: insurance in column A, 843.00 spent, -25.50, budget 817.50.
  EXPECT_THAT(screens_[0], HasSubstr("AC  ASSEGURANÇA                    A         843'00        -25'50       817'50"));
  EXPECT_THAT(screens_[0], HasSubstr("TOTALS:   6.648'14                   6.428'60"));
  // The administration fee line holds the fee the module works out, once:
  // the demo records no payment of it.
  EXPECT_THAT(screens_[0], HasSubstr("HO  HONORARIS ADMINISTRACIÓ        A         661'44          0'00       661'44"));
  // Column C and 110 % of 843.00 = 927.30; the total budget moves by 109.80.
  for (std::size_t i = 1; i < screens_.size(); ++i) {
    EXPECT_THAT(screens_[i], HasSubstr("AC  ASSEGURANÇA                    C         843'00    +110'000 %       927'30")) << i;
    EXPECT_THAT(screens_[i], HasSubstr("TOTALS:   6.648'14                   6.538'40")) << i;
  }
  // Page Up on the first page stays there.
  EXPECT_THAT(screens_[3], HasSubstr("FINCA : 001"));
}

TEST_F(Repquota, ReceiptConceptsAreCheckedAndPrintingIsConfirmed) {
  const ProgramResult r = root_.RunRepquota(
      "{Down}1{Ctrl+B}{Ctrl+B}{Up}{Up}{Up}{Down}{Down}{Down}9{Ctrl+B}{Snap}"
      "{Backspace}3{Ctrl+B}{Snap}x{Up}{Up}{Up}{Down}{Down}{Down}2{Ctrl+B}{Snap}N{Enter}{Snap}{Esc}{Esc}N{Enter}{Esc}",
      screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens_.size(), 4u);
  // 9 is no receipt concept: the field keeps it and the screen stays.
  EXPECT_THAT(screens_[0], HasSubstr("Concepte del rebut .......: 9"));
  EXPECT_THAT(screens_[0], Not(HasSubstr("CONFIRMA")));
  // 3 exists but is not of the funds-provision kind.
  EXPECT_THAT(screens_[1], HasSubstr("EL CONCEPTE DERRAMA NO ÉS DE TIPUS PROVISIÓ DE FONS"));
  // 2 is: the confirmation; "N" keeps the operator on the print options.
  EXPECT_THAT(screens_[2], HasSubstr("CONFIRMA LA IMPRESSIÓ (S/N) ?"));
  EXPECT_THAT(screens_[3], HasSubstr("Concepte del rebut .......: 2  FONS DE RESERVA"));
  EXPECT_THAT(screens_[3], Not(HasSubstr("CONFIRMA")));
  ASSERT_EQ(root_.PrintedFiles().size(), 1u);
  EXPECT_EQ(root_.PrintedFiles()[0], "DEVICE\r\n");
}

TEST_F(Repquota, TheRunRepeatsUntilEscOnTheFirstScreen) {
  const std::string again = std::string(kPrintAll).substr(0, std::string(kPrintAll).size() - 11);  // without the Snap and Esc
  const ProgramResult r = root_.RunRepquota(again + "{Down}{Backspace}2{Ctrl+B}{Ctrl+B}1{Ctrl+B}S{Enter}{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  const std::vector<std::string> printed = root_.PrintedFiles();
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_THAT(Utf8(printed[0]), HasSubstr("PROPIETARIS 001 - "));
  EXPECT_THAT(Utf8(printed[1]), HasSubstr("PROPIETARIS 002 - "));
}

TEST_F(Repquota, PopUpResultsArriveAsTypedKeys) {
  // Alt+C in the date field: the calendar on the working date, a day on, chosen with Alt+F.
  ProgramResult r = root_.RunRepquota("{Alt+C}{Snap}{Right}{Alt+F}{Snap}{Esc}{Esc}", screens_);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens_.size(), 2u);
  EXPECT_THAT(screens_[0], HasSubstr("NOVEMBRE"));
  EXPECT_THAT(screens_[1], HasSubstr("Data del pressupost ......: 16/11/2024"));
  // Alt+X in the first line's variation: 200 + 15 = 215.00 added to 843.00.
  r = root_.RunRepquota("{Down}1{Ctrl+B}{Down}{Alt+X}200+15={Alt+F}{Enter}{Snap}{Esc}{Esc}N{Enter}{Esc}", screens_, "calc");
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens_.size(), 1u);
  EXPECT_THAT(screens_[0], HasSubstr("AC  ASSEGURANÇA                    A         843'00        215'00     1.058'00"));
}

TEST(RepquotaLanguages, SpanishCaptionsAndListings) {
  SuiteRoot root("SPA", "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  std::vector<std::string> screens;
  const ProgramResult r = root.RunRepquota(std::string("{Snap}") + kPrintAll, screens);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_GE(screens.size(), 1u);
  EXPECT_THAT(screens[0], HasSubstr("Fecha del presupuesto ....:"));
  ASSERT_EQ(root.PrintedFiles().size(), 1u);
  const std::string listing = Utf8(root.PrintedFiles()[0]);
  EXPECT_THAT(listing, HasSubstr("REPARTO DE LOS GASTOS PARA EL PERÍODO COMPRENDIDO ENTRE ENERO DE 2025 Y DICIEMBRE DE 2025"));
  EXPECT_THAT(listing, HasSubstr(" 39 ,TOTAL PRESUPUESTO, 0 "));
  EXPECT_THAT(listing, HasSubstr(", 15 de noviembre de 2024, 1 "));
}

// Every screen of the dialogue, and both listings, in another language of
// the catalogue: each shows its own words and none of the Catalan ones.
struct LanguageCase {
  const char* language;
  std::vector<const char*> shown;   // on the snapped screens, in order
  std::vector<const char*> listed;  // in the print file
};

void CheckEveryScreenAndListing(const LanguageCase& c) {
  SuiteRoot root(c.language, "15112024");
  root.Kitdata({"demo", root.Dir().string(), "2024-11-15"});
  std::vector<std::string> screens;
  const ProgramResult r =
      root.RunRepquota("{Snap}{Down}1{Ctrl+B}{Snap}{Ctrl+B}{Snap}1{Down}1{Ctrl+B}{Snap}S{Enter}{Esc}", screens);
  EXPECT_EQ(r.exitStatus, 0) << r.standardError;
  ASSERT_EQ(screens.size(), c.shown.size()) << r.standardError;
  for (std::size_t i = 0; i < screens.size(); ++i) {
    EXPECT_THAT(screens[i], HasSubstr(c.shown[i])) << "screen " << i + 1;
    for (const char* catalan :
         {"Data del pressupost", "VARIACIÓ    PRESSUPOST", "Còpies del repartiment", "CONFIRMA LA IMPRESSIÓ"})
      EXPECT_THAT(screens[i], Not(HasSubstr(catalan))) << "screen " << i + 1;
  }
  ASSERT_EQ(root.PrintedFiles().size(), 1u);
  const std::string listing = Utf8(root.PrintedFiles()[0]);
  for (const char* text : c.listed) EXPECT_THAT(listing, HasSubstr(text));
  for (const char* catalan : {"REPARTIMENT DE LES DESPESES", "DESPESES PRESSUPOSTADES", "TOTAL PRESSUPOST", "PÀGINA"})
    EXPECT_THAT(listing, Not(HasSubstr(catalan)));
}

TEST(RepquotaLanguages, EveryScreenAndListingInGalician) {
  CheckEveryScreenAndListing(
      {"GLG",
       {"Data do orzamento ........:", "CONCEPTO                      REPARTO          GASTO    VARIACIÓN     ORZAMENTO",
        "Copias do reparto ........:", "CONFIRMA A IMPRESIÓN (S/N) ?"},
       {"REPARTO DOS GASTOS PARA O PERÍODO COMPRENDIDO ENTRE", "TOTAL ORZAMENTO", "PÁXINA "}});
}

TEST(RepquotaLanguages, EveryScreenAndListingInAranese) {
  CheckEveryScreenAndListing(
      {"OCI",
       {"Data deth pressupòst .....:", "CONCÈPTE                      REPARTIMENT   DESPENSA    VARIACION    PRESSUPÒST",
        "Còpies deth repartiment ..:", "CONFIRMATZ ERA IMPRESSION (S/N) ?"},
       {"REPARTIMENT DES DESPENSES ENTÀ ETH PERIÒDE COMPRÉS ENTRE", "TOTAU PRESSUPÒST", "PAGINA "}});
}

}  // namespace
}  // namespace e2e
