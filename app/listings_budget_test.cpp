// The budget listing as a whole: its first page in Spanish from the
// letterhead to the closing line, copies, page breaks and the report
// currency.
#include "app/listings_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace app {
namespace {

using testing::Padded;

class BudgetListingTest : public testing::ListingsFixture {
 protected:
  void SetUp() override {
    ListingsFixture::SetUp();
    WriteAdministrator("Linia5=FAX 930 000 001\r\nLinia6=ADMINISTRADOR COL.LEGIAT 123\r\nPoblacio=BARCELONA   \r\n");
    report_.budget.OwnerCount = 2;
    report_.parameters.BudgetCopies = 1;
  }
  static long CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  }
};

TEST_F(BudgetListingTest, SpanishFirstPageFromLetterheadToClosingLine) {
  config::Session().Language = "SPA";
  format::SetLanguage("SPA");
  report_.budget.ColumnName[1] = Padded(std::string("SEGÚN COEFICIENTE GENERAL"_cp), 30);
  report_.working.Append(records::WorkingLine{"NE", Padded("NETEJA ESCALA", 25), 'A', 200000, "110%", 220000});
  report_.working.Append(records::WorkingLine{"PI", Padded("PINTURA", 25), 'A', 0, "500", 500});
  PrepareListings(report_);
  PrintBudgetListing(report_);
  const std::string heading = "GASTOS < A > SEGÚN COEFICIENTE GENERAL      :";
  const std::vector<std::string> expected = {
      "DEVICE",
      "PAGE 66 ",
      "*@e",
      " 1 ,FINQUES ROCA, 0 ",
      "JUSD",
      " 85 ,PÁGINA    1, 1 ",
      " 1 ,ADMINISTRADOR COL.LEGIAT 123, 1 ",  // line 6 comes first when it is not blank
      " 1 ,C. MAJOR, 1, 1 ",
      " 1 ,08001 BARCELONA, 1 ",
      " 1 ,TEL. 930 000 000, 1 ",
      " 1 ,FAX 930 000 001, 1 ",
      " 1 ,N.I.F. ES 38.123.456-Z, 2 ",
      "JUSA",
      // 89 characters: 48 - 44.5 rounded to even gives column 4.
      " 4 ,GASTOS PRESUPUESTADOS PARA EL PERÍODO COMPRENDIDO ENTRE ENERO DE 2025 Y DICIEMBRE DE 2025, 1 ",
      "JUSA",
      // 70 characters: column 48 - 35.
      " 13 ,CORRESPONDIENTE A LA COMUNIDAD DE PROPIETARIOS 007 - C.P. PROVENCA, 12, 1 ",
      " 13 ," + std::string(70, '=') + ", 2 ",
      " 1 ,, 1 ",
      "JUSA",
      " 1 ," + heading + ", 1 ",
      " 1 ," + std::string(45, '-') + ", 1 ",
      " 1 ,NETEJA ESCALA            , 0 ",
      "JUSD",
      " 39 ,  2.000'00, 0 ",
      " 50 ,+    200'00, 0 ",
      " 62 ,(+ 10'00%), 0 ",
      " 73 ,=, 0 ",
      " 75 ,  2.200'00, 1 ",
      " 1 ,PINTURA                  , 0 ",
      "JUSD",
      " 39 ,      0'00, 0 ",
      " 50 ,+      5'00, 0 ",
      " 62 ,( -- -- %), 0 ",
      " 73 ,=, 0 ",
      " 75 ,      5'00, 1 ",
      " 75 ,----------, 1 ",
      "JUSN 84 \\.\\",
      " 39 ,TOTAL GASTOS < A > , 0 ",
      "JUSD",
      " 86 ,  2.205'00, 1 ",
      " 86 ,----------, 1 ",
      " 39 ,TOTAL PRESUPUESTO, 0 ",
      "JUSD",
      " 86 ,  2.205'00, 1 ",
      " 39 ," + std::string(57, '=') + ", 2 ",
      "JUSD",
      // The place loses its trailing blanks; 34 characters end at column 95.
      " 62 ,BARCELONA, 15 de noviembre de 2024, 1 ",
  };
  EXPECT_EQ(Lines(), expected);
}

TEST_F(BudgetListingTest, CatalanTitleAndColumnsInLetterOrder) {
  report_.budget.ColumnName[1] = Padded("SEGONS COEFICIENT GENERAL", 30);
  report_.budget.ColumnName[3] = Padded("ASCENSOR", 30);
  // Stored out of column order: the listing goes column by column.
  report_.working.Append(records::WorkingLine{"AS", Padded("MANTENIMENT ASCENSOR", 25), 'C', 100000, "", 100000});
  report_.working.Append(records::WorkingLine{"NE", Padded("NETEJA", 25), 'A', 50000, "", 60000});
  report_.fees.LetterheadSetting = "N";
  PrepareListings(report_);
  PrintBudgetListing(report_);
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 12),
            (std::vector<std::string>{
                "DEVICE", "PAGE 66 ", "*@e", "JUSD", " 85 ,PÀGINA    1, 9 ", "JUSA",
                " 4 ,DESPESES PRESSUPOSTADES PER AL PERÍODE COMPRÈS ENTRE GENER DEL 2025 I DESEMBRE DEL 2025, 1 ",
                "JUSA", " 15 ,CORRESPONENT A LA COMUNITAT DE PROPIETARIS 007 - C.P. PROVENCA, 12, 1 ",
                " 15 ," + std::string(66, '=') + ", 2 ", " 1 ,, 1 ", "JUSA"}));
  const auto a = std::find(lines.begin(), lines.end(), " 1 ,DESPESES < A > SEGONS COEFICIENT GENERAL      :, 1 ");
  const auto c = std::find(lines.begin(), lines.end(), " 1 ,DESPESES < C > ASCENSOR                       :, 1 ");
  ASSERT_NE(a, lines.end());
  ASSERT_NE(c, lines.end());
  EXPECT_LT(a, c);
  EXPECT_EQ(CountOf(lines, " 39 ,TOTAL DESPESES < A > , 0 "), 1);
  EXPECT_EQ(CountOf(lines, " 39 ,TOTAL DESPESES < C > , 0 "), 1);
  EXPECT_EQ(CountOf(lines, " 86 ,    600'00, 1 "), 1);    // column A
  EXPECT_EQ(CountOf(lines, " 86 ,  1.000'00, 1 "), 1);    // column C
  EXPECT_EQ(CountOf(lines, " 86 ,  1.600'00, 1 "), 1);    // the listing
  EXPECT_EQ(CountOf(lines, " 62 ,(+ 20'00%), 0 "), 1);    // 600 on 500 spent
  EXPECT_EQ(CountOf(lines, " 62 ,(+  0'00%), 0 "), 1);    // unchanged
}

TEST_F(BudgetListingTest, EveryCopyStartsAtPageOne) {
  report_.working.Append(records::WorkingLine{"NE", Padded("NETEJA", 25), 'A', 50000, "", 60000});
  const struct {
    std::int16_t copies;
    long printed;
  } cases[] = {{1, 1}, {3, 3}, {-1, 2}, {0, 0}, {-2, 0}};  // -1: one per owner (two owners)
  for (const auto& c : cases) {
    ASSERT_TRUE(report_.channel.Open(""));
    report_.parameters.BudgetCopies = c.copies;
    PrepareListings(report_);
    PrintBudgetListing(report_);
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(CountOf(lines, " 85 ,PÀGINA    1, 1 "), c.printed) << c.copies;
    EXPECT_EQ(CountOf(lines, " 85 ,PÀGINA    2, 2 "), 0) << c.copies;
    EXPECT_EQ(CountOf(lines, " 86 ,    600'00, 1 "), 2 * c.printed) << c.copies;  // subtotal and total
  }
}

TEST_F(BudgetListingTest, LongColumnBreaksThePageAboveSixtyLines) {
  report_.budget.ColumnName[1] = Padded("GENERAL", 30);
  for (int i = 1; i <= 50; ++i)
    report_.working.Append(records::WorkingLine{"L" + std::to_string(i % 10), Padded("LINIA " + std::to_string(i), 25),
                                          'A', 1000, "", 1100});
  PrepareListings(report_);
  PrintBudgetListing(report_);
  const std::vector<std::string> lines = Lines();
  // Page 1 advances 8 header lines (letterhead line 6 included), 4 of titles
  // and 3 of the column heading, so 46 budget lines bring it to 61 and the
  // 47th starts page 2.
  const auto page2 = std::find(lines.begin(), lines.end(), " 1 ,C.P. PROVENCA, 12, 0 ");
  ASSERT_NE(page2, lines.end());
  ASSERT_GE(page2 - lines.begin(), 9);
  EXPECT_EQ(*(page2 - 3), " 75 ,     11'00, 1 ");
  EXPECT_EQ(*(page2 - 9), " 1 ,LINIA 46                 , 0 ");
  EXPECT_EQ(std::vector<std::string>(page2 - 2, page2 + 8),
            (std::vector<std::string>{
                "PAGE 66 ", "*@e", " 1 ,C.P. PROVENCA, 12, 0 ", "JUSD", " 85 ,PÀGINA    2, 2 ", "JUSA",
                " 4 ,DESPESES PRESSUPOSTADES PER AL PERÍODE COMPRÈS ENTRE GENER DEL 2025 I DESEMBRE DEL 2025, 1 ",
                "JUSA", " 15 ,CORRESPONENT A LA COMUNITAT DE PROPIETARIS 007 - C.P. PROVENCA, 12, 1 ",
                " 15 ," + std::string(66, '=') + ", 2 "}));
  // The column goes on without its heading again; the channel itself never
  // had to break a page.
  EXPECT_EQ(*(page2 + 8), " 1 ,LINIA 47                 , 0 ");
  EXPECT_EQ(CountOf(lines, "PAGE 66 "), 2);
  EXPECT_EQ(CountOf(lines, " 1 ,DESPESES < A > GENERAL                        :, 1 "), 1);
  EXPECT_EQ(CountOf(lines, " 86 ,    550'00, 1 "), 2);
}

TEST_F(BudgetListingTest, AmountsInTheAlternativeCurrency) {
  format::SetCurrency("x,P");  // pesetas as the alternative currency
  format::SetCurrency("p");
  report_.working.Append(records::WorkingLine{"NE", Padded("NETEJA ESCALA", 25), 'A', 200000, "", 220000});
  PrepareListings(report_);
  PrintBudgetListing(report_);
  const std::vector<std::string> lines = Lines();
  // 2000 and 2200 euros at 166.386: 332772 and 366049 pesetas, no decimals.
  const auto line = std::find(lines.begin(), lines.end(), " 1 ,NETEJA ESCALA            , 0 ");
  ASSERT_NE(line, lines.end());
  ASSERT_GE(lines.end() - line, 7);
  EXPECT_EQ(std::vector<std::string>(line, line + 7),
            (std::vector<std::string>{" 1 ,NETEJA ESCALA            , 0 ", "JUSD", " 39 ,   332.772, 0 ",
                                      " 50 ,+    33.277, 0 ", " 62 ,(+ 10'00%), 0 ", " 73 ,=, 0 ",
                                      " 75 ,   366.049, 1 "}));
}

TEST_F(BudgetListingTest, SpanishAdjustmentAndTotalRowsOfTheDistribution) {
  config::Session().Language = "SPA";
  format::SetLanguage("SPA");
  DistributionTotals t;
  t.ColumnBudget[1] = 100000;  // 1000.00 shared out as 3 x 333.33
  t.ColumnOwnerSum[1] = 99999;
  t.ColumnBudget[3] = -250;    // a column of refunds, shared out exactly
  t.ColumnOwnerSum[3] = -250;
  t.BudgetTotal = 99750;
  t.OwnersTotal = 99749;
  PrepareListings(report_);
  DistributionPass pass;
  pass.owners.resize(1);
  pass.totals = t;
  DistributionListing(report_).PassComputed(pass);
  const std::string blank(11, ' ');
  const std::vector<std::string> expected = {
      " 5 ,AJUSTE, 0 ", "JUSD", " 15 ,, 0 ", " 15 ,       0'01, 0 ", " 26 ," + blank + ", 0 ",
      " 37 ," + blank + ", 0 ", " 48 ," + blank + ", 0 ", " 59 ," + blank + ", 0 ", " 70 ," + blank + ", 0 ",
      " 81 ," + blank + ", 0 ", " 92 ,       0'01, 1 ", " 16 ," + std::string(87, '-') + ", 1 ", " 5 ,TOTAL, 0 ",
      "JUSD", " 15 ,, 0 ", " 15 ,   1.000'00, 0 ", " 26 ,       0'00, 0 ", " 37 ,      -2'50, 0 ",
      " 48 ,       0'00, 0 ", " 59 ,       0'00, 0 ", " 70 ,       0'00, 0 ", " 81 ,       0'00, 0 ",
      " 92 ,     997'50, 1 ", " 5 ," + std::string(98, '=') + ", 1 "};
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(expected.size()), lines.end()), expected);
}

}  // namespace
}  // namespace app
