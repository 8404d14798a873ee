#include "app/listings_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace app {
namespace {

using testing::Padded;

class ListingsTest : public testing::ListingsFixture {
 protected:
  void SetUp() override {
    ListingsFixture::SetUp();
    report_.budget.ColumnName[1] = "SEGONS COEFICIENT GENERAL";
    report_.budget.ColumnName[2] = Padded("ESCALA", 30);
  }
  static std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first,
                                       std::size_t count) {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == first) return {lines.begin() + static_cast<long>(i),
                                     lines.begin() + static_cast<long>(std::min(lines.size(), i + count))};
    ADD_FAILURE() << "no line \"" << first << "\"";
    return {};
  }
  // One copy of the distribution listing for `owners` with `totals`.
  void PrintCopy(std::vector<OwnerShares> owners, const DistributionTotals& totals = {}) {
    DistributionPass pass;
    pass.owners = std::move(owners);
    pass.totals = totals;
    DistributionListing(report_).PassComputed(pass);
  }
  // The last `count` lines.
  static std::vector<std::string> Tail(const std::vector<std::string>& lines, std::size_t count) {
    return {lines.end() - static_cast<long>(std::min(count, lines.size())), lines.end()};
  }
  OwnerShares Owner() {
    OwnerShares o;
    o.OwnerNumber = 3;
    o.Department = "1r 2a     ";
    o.Share[1] = 30000;
    o.Share[2] = 333;
    o.OwnerTotal = 30333;
    o.Issued = 6000;
    o.Monthly = 2028;
    o.Quarterly = -6083;
    return o;
  }
};

TEST_F(ListingsTest, DistributionFirstPageWithLetterhead) {
  PrepareListings(report_);
  PrintCopy({Owner()});
  const std::vector<std::string> expected = {
      "DEVICE",
      "PAGE 66 ",
      "*@e",
      " 1 ,FINQUES ROCA, 0 ",
      "JUSD",
      " 85 ,PÀGINA    1, 1 ",
      " 1 ,C. MAJOR, 1, 1 ",
      " 1 ,08001 BARCELONA, 1 ",
      " 1 ,TEL. 930 000 000, 1 ",
      " 1 ,, 1 ",
      " 1 ,N.I.F. ES 38.123.456-Z, 2 ",
      "JUSA",
      " 2 ,REPARTIMENT DE LES DESPESES PER AL PERÍODE COMPRÈS ENTRE GENER DEL 2025 I DESEMBRE DEL 2025, 1 ",
      "JUSA",
      " 15 ,CORRESPONENT A LA COMUNITAT DE PROPIETARIS 007 - C.P. PROVENCA, 12, 1 ",
      " 15 ," + std::string(66, '=') + ", 2 ",
      " 1 ,COLUMNA < A > : SEGONS COEFICIENT GENERAL, 0 ",
      " 48 ,COLUMNA < B > : ESCALA                        , 1 ",
      " 0 ,, 1 ",
      "*q",
      "JUSD",
      " 93 ,     TOTAL, 0 ",
      " 104 ,      FONS, 0 ",
      " 115 ,      FONS, 0 ",
      " 126 ,      FONS, 1 ",
      " 1 ,COD, 0 ",
      " 5 ,DEPART., 0 ",
      "JUSD",
      " 16 ,     < A >, 0 ",
      " 27 ,     < B >, 0 ",
      " 38 ,     < C >, 0 ",
      " 49 ,     < D >, 0 ",
      " 60 ,     < E >, 0 ",
      " 71 ,     < F >, 0 ",
      " 82 ,     < G >, 0 ",
      " 93 ,  PRESSUP., 0 ",
      " 104 ,    GIRATS, 0 ",
      " 115 ,  MENSUALS, 0 ",
      " 126 , TRIMESTR., 1 ",
      " 1 ," + std::string(135, '-') + ", 1 ",
      " 1 ,003, 0 ",
      " 5 ,1r 2a     , 0 ",
      "JUSD",
      " 15 ,     300'00, 0 ",
      " 26 ,       3'33, 0 ",
      " 37 ,       0'00, 0 ",
      " 48 ,       0'00, 0 ",
      " 59 ,       0'00, 0 ",
      " 70 ,       0'00, 0 ",
      " 81 ,       0'00, 0 ",
      " 92 ,     303'33, 0 ",
      " 103 ,      60'00, 0 ",
      " 114 ,      20'28, 0 ",
      " 125 ,     -60'83, 1 ",
  };
  const std::vector<std::string> lines = Lines();
  ASSERT_GT(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(lines[expected.size()], " 5 ,AJUST, 0 ");  // the totals follow the last owner
}

TEST_F(ListingsTest, FirstPageWithoutLetterheadAndLaterPages) {
  report_.fees.LetterheadSetting = "N";
  PrepareListings(report_);
  PrintCopy(std::vector<OwnerShares>(61, Owner()));
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
            (std::vector<std::string>{"DEVICE", "PAGE 66 ", "*@e", "JUSD", " 85 ,PÀGINA    1, 9 ", "JUSA"}));
  // The second page: page line, property name, titles, no column names.
  const std::vector<std::string> second = From(lines, " 85 ,PÀGINA    2, 9 ", 7);
  EXPECT_EQ(second, (std::vector<std::string>{
                        " 85 ,PÀGINA    2, 9 ", " 1 ,C.P. PROVENCA, 12, 2 ", "JUSA",
                        " 2 ,REPARTIMENT DE LES DESPESES PER AL PERÍODE COMPRÈS ENTRE GENER DEL 2025 I DESEMBRE DEL "
                        "2025, 1 ",
                        "JUSA", " 15 ,CORRESPONENT A LA COMUNITAT DE PROPIETARIS 007 - C.P. PROVENCA, 12, 1 ",
                        " 15 ," + std::string(66, '=') + ", 2 "}));
  // Later pages have no column names: the headings follow the titles.
  const std::vector<std::string> after = From(second, " 15 ," + std::string(66, '=') + ", 2 ", 1);
  EXPECT_EQ(From(lines, " 85 ,PÀGINA    2, 9 ", 8).back(), "*q");
  EXPECT_EQ(after.size(), 1u);
}

TEST_F(ListingsTest, AdjustmentAndTotalRows) {
  PrepareListings(report_);
  DistributionTotals t;
  t.ColumnBudget[1] = 120000;
  t.ColumnOwnerSum[1] = 120000;
  t.ColumnBudget[2] = 1000;
  t.ColumnOwnerSum[2] = 999;
  t.BudgetTotal = 121000;
  t.OwnersTotal = 120999;
  PrintCopy({Owner()}, t);
  const std::vector<std::string> expected = {
      " 125 ,     -60'83, 1 ", " 5 ,AJUST, 0 ", "JUSD", " 15 ,, 0 ", " 15 ,           , 0 ", " 26 ,       0'01, 0 ",
      " 37 ,           , 0 ", " 48 ,           , 0 ", " 59 ,           , 0 ", " 70 ,           , 0 ",
      " 81 ,           , 0 ", " 92 ,       0'01, 1 ", " 16 ," + std::string(87, '-') + ", 1 ",
      " 5 ,TOTAL, 0 ", "JUSD", " 15 ,, 0 ", " 15 ,   1.200'00, 0 ", " 26 ,      10'00, 0 ",
      " 37 ,       0'00, 0 ", " 48 ,       0'00, 0 ", " 59 ,       0'00, 0 ", " 70 ,       0'00, 0 ",
      " 81 ,       0'00, 0 ", " 92 ,   1.210'00, 1 ", " 5 ," + std::string(98, '=') + ", 1 "};
  EXPECT_EQ(Tail(Lines(), expected.size()), expected);
}

TEST_F(ListingsTest, EveryCopyStartsAtPageOneAndACopyWithoutOwnersPrintsNothing) {
  PrepareListings(report_);
  PrintCopy({});
  EXPECT_EQ(Lines(), (std::vector<std::string>{"DEVICE"}));
  ASSERT_TRUE(report_.channel.Open(""));
  PrintCopy({Owner()});
  PrintCopy({Owner(), Owner()});
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), " 85 ,PÀGINA    1, 1 "), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), " 5 ,AJUST, 0 "), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), " 1 ,003, 0 "), 3);
}

TEST_F(ListingsTest, BudgetListingLinesSubtotalsTotalAndClosingLine) {
  report_.fees.LetterheadSetting = "N";
  ASSERT_TRUE(report_.working.Open());
  records::WorkingLine painting{"PI", Padded("PINTURA", 25), 'B', 0, "500", 500};
  records::WorkingLine cleaning{"NE", Padded("NETEJA ESCALA", 25), 'B', 200000, "110%", 220000};
  records::WorkingLine none{"JA", Padded("JARDINERIA", 25), 'C', 1000, "-1000", 0};  // budget 0: left out
  records::WorkingLine loose{"RE", Padded("REPARACIONS", 25), ' ', 1000, "", 1000};   // no column: left out
  for (const auto& l : {painting, cleaning, none, loose}) report_.working.Append(l);
  report_.parameters.BudgetCopies = 1;
  PrepareListings(report_);
  PrintBudgetListing(report_);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(From(lines, " 1 ,, 1 ", 24),
            (std::vector<std::string>{
                " 1 ,, 1 ", "JUSA", " 1 ,DESPESES < B > ESCALA                         :, 1 ",
                " 1 ," + std::string(47, '-') + ", 1 ",
                " 1 ,PINTURA                  , 0 ", "JUSD", " 39 ,      0'00, 0 ", " 50 ,+      5'00, 0 ",
                " 62 ,( -- -- %), 0 ", " 73 ,=, 0 ", " 75 ,      5'00, 1 ",
                " 1 ,NETEJA ESCALA            , 0 ", "JUSD", " 39 ,  2.000'00, 0 ", " 50 ,+    200'00, 0 ",
                " 62 ,(+ 10'00%), 0 ", " 73 ,=, 0 ", " 75 ,  2.200'00, 1 ",
                " 75 ,----------, 1 ", "JUSN 84 \\.\\", " 39 ,TOTAL DESPESES < B > , 0 ", "JUSD",
                " 86 ,  2.205'00, 1 ", " 86 ,----------, 1 "}));
  EXPECT_EQ(std::vector<std::string>(lines.end() - 6, lines.end()),
            (std::vector<std::string>{" 39 ,TOTAL PRESSUPOST, 0 ", "JUSD", " 86 ,  2.205'00, 1 ",
                                      " 39 ," + std::string(57, '=') + ", 2 ", "JUSD",
                                      " 62 ,BARCELONA, 15 de novembre del 2024, 1 "}));
  EXPECT_THAT(lines, ::testing::Not(::testing::Contains(::testing::HasSubstr("JARDINERIA"))));
  EXPECT_THAT(lines, ::testing::Not(::testing::Contains(::testing::HasSubstr("REPARACIONS"))));
}

TEST_F(ListingsTest, NothingToBudgetPrintsNothing) {
  ASSERT_TRUE(report_.working.Open());
  report_.working.Append(records::WorkingLine{"RE", "REPARACIONS", ' ', 1000, "", 1000});
  report_.parameters.BudgetCopies = 2;
  PrintBudgetListing(report_);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"DEVICE"}));
}

TEST_F(ListingsTest, SpanishTexts) {
  config::Session().Language = "SPA";
  format::SetLanguage("SPA");
  report_.budget.ColumnName[1] = "SEGÚN COEFICIENTE GENERAL"_cp;
  PrepareListings(report_);
  PrintCopy({Owner()});
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines[5], " 85 ,PÁGINA    1, 1 ");
  EXPECT_EQ(From(lines, "JUSA", 6),
            (std::vector<std::string>{
                "JUSA", " 4 ,REPARTO DE LOS GASTOS PARA EL PERÍODO COMPRENDIDO ENTRE ENERO DE 2025 Y DICIEMBRE DE 2025, 1 ",
                "JUSA", " 13 ,CORRESPONDIENTE A LA COMUNIDAD DE PROPIETARIOS 007 - C.P. PROVENCA, 12, 1 ",
                " 13 ," + std::string(70, '=') + ", 2 ", " 1 ,COLUMNA < A > : SEGÚN COEFICIENTE GENERAL, 0 "}));
  EXPECT_THAT(lines, ::testing::Contains(" 1 ,CÓD, 0 "));
  EXPECT_THAT(lines, ::testing::Contains(" 115 , MENSUALES, 0 "));
}

// One listing prints every copy of a run: the texts it looked up for the
// first copy serve the later ones, in the session's language.
TEST_F(ListingsTest, LaterCopiesOfOneListingPrintLikeTheFirst) {
  config::Session().Language = "SPA";
  format::SetLanguage("SPA");
  PrepareListings(report_);
  DistributionPass pass;
  pass.owners = {Owner()};
  DistributionListing listing(report_);
  listing.PassComputed(pass);
  listing.PassComputed(pass);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size() % 2, 1u);
  const std::size_t copy = lines.size() / 2;
  const std::vector<std::string> first(lines.begin() + 1, lines.begin() + 1 + static_cast<long>(copy));
  const std::vector<std::string> second(lines.begin() + 1 + static_cast<long>(copy), lines.end());
  EXPECT_EQ(first, second);
  EXPECT_THAT(second, ::testing::Contains(" 85 ,PÁGINA    1, 1 "));
  EXPECT_THAT(second, ::testing::Contains(" 115 , MENSUALES, 0 "));
}

TEST_F(ListingsTest, ThePrintingMessageCountsTheOwners) {
  report_.budget.OwnerCount = 999;
  const std::pair<const char*, const char*> expected[] = {{"CAT", "IMPRIMINT EL LLISTAT DE 999 PROPIETARIS"},
                                                          {"GLG", "IMPRIMINDO A LISTAXE DE 999 PROPIETARIOS"},
                                                          {"OCI", "IMPRIMINT ETH LISTAT DE 999 PROPRIETARIS"},
                                                          {"SPA", "IMPRIMIENDO EL LISTADO DE 999 PROPIETARIOS"}};
  for (const auto& [language, text] : expected) {
    config::Session().Language = language;
    EXPECT_EQ(PrintingMessage(report_), text) << language;
  }
}

}  // namespace
}  // namespace app
