#include "app/figures_csv.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/cp850.h"
#include "format/numbers.h"

namespace app {
namespace {

TEST(FiguresCsv, AmountsAreEurosWithAPointExactly) {
  const struct {
    std::int64_t cents;
    const char* text;
  } cases[] = {
      {0, "0.00"},          {5, "0.05"},           {-5, "-0.05"},   {100, "1.00"},     {123456, "1234.56"},
      {-123456, "-1234.56"}, {-100, "-1.00"},      {99, "0.99"},    {2147483647, "21474836.47"},
      {std::numeric_limits<std::int64_t>::min(), "-92233720368547758.08"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecimalAmount(c.cents), c.text) << c.cents;
}

TEST(FiguresCsv, FieldsAreQuotedOnlyWhenTheyMustBe) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {
      {"", ""},
      {"NETEJA", "NETEJA"},
      {"MALLORCA, 245", "\"MALLORCA, 245\""},
      {"EL \"PORTER\"", "\"EL \"\"PORTER\"\"\""},
      {"DOS\r\nLINIES", "\"DOS\r\nLINIES\""},
      {"UNA\nLINIA", "\"UNA\nLINIA\""},
      {"ÀTIC 1r", "ÀTIC 1r"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvField(c.text), c.field) << c.text;
}

TEST(FiguresCsv, TheDistributionHasAHeaderAndARowPerOwner) {
  DistributionPass pass;
  OwnerShares o;
  o.OwnerKey = format::PackDigits("00070012");
  o.Name = "FERRER SOLÉ, \"MONTSE\" *ANNA"_cp;
  o.Department = "ÀTIC      "_cp;
  o.Share = {0, 12345, 0, -5, 0, 0, 0, 100};
  o.OwnerTotal = 12445;
  o.Issued = 2000;
  o.Monthly = 869;
  o.Quarterly = 2608;
  pass.owners.push_back(o);
  // A record whose texts were never filled holds zeros: blanks, as the
  // listings print them.
  OwnerShares blank;
  blank.OwnerKey = format::PackDigits("00070013");
  blank.Name = std::string("PONS\0\0 *JO", 10) + std::string(24, '\0');
  blank.Department = std::string(10, '\0');
  pass.owners.push_back(blank);
  EXPECT_EQ(DistributionCsv(pass),
            "owner,name,department,share_a,share_b,share_c,share_d,share_e,share_f,share_g,total,issued,monthly,"
            "quarterly\r\n"
            "00070012,\"ANNA FERRER SOLÉ, \"\"MONTSE\"\"\",ÀTIC,123.45,0.00,-0.05,0.00,0.00,0.00,1.00,124.45,20.00,"
            "8.69,26.08\r\n"
            "00070013,JO PONS,,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00\r\n");
}

TEST(FiguresCsv, TheBudgetHasEveryLineWithItsVariation) {
  std::vector<records::WorkingLine> lines(3);
  lines[0].code = "AC";
  lines[0].description = "ASSEGURANÇA              "_cp;
  lines[0].column = 'A';
  lines[0].spent = 84300;
  lines[0].variation = "-2550";
  lines[0].budget = 81750;
  lines[1].code = "\xFF" "C";
  lines[1].description = "DESPESES DIVERSES COLUMNA";
  lines[1].column = 'C';
  lines[2].code = "\xFF\xFF";
  lines[2].description = "DESPESES DIVERSES PARTIC.";
  lines[2].spent = 42350;
  lines[2].budget = 42350;
  EXPECT_EQ(BudgetCsv(lines),
            "code,description,column,spent,variation,budget\r\n"
            "AC,ASSEGURANÇA,A,843.00,-25.50,817.50\r\n"
            "*C,DESPESES DIVERSES COLUMNA,C,0.00,0.00,0.00\r\n"
            "**,DESPESES DIVERSES PARTIC.,,423.50,0.00,423.50\r\n");
}

}  // namespace
}  // namespace app
