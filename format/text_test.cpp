#include "format/text.h"

#include <gtest/gtest.h>

#include <string>

#include "base/cp850.h"

namespace format {
namespace {

TEST(FoldText, CaseFoldKeepsAccents) {
  EXPECT_EQ(FoldText("Pérez i Muñoz"_cp), "PÉREZ I MUÑOZ"_cp);
  EXPECT_EQ(FoldText("abc xyz 0123456789 @_[]{}"), "ABC XYZ 0123456789 @_[]{}");
  EXPECT_EQ(FoldText("çüéâäàåêëèïîìæôöòûùáíóúñãðõý"_cp), "ÇÜÉÂÄÀÅÊËÈÏÎÌÆÔÖÒÛÙÁÍÓÚÑÃÐÕÝ"_cp);
  // Letters without a capital in the code page, and capitals, stay.
  EXPECT_EQ(FoldText("ÿøßµþ"_cp), "ÿøßµþ"_cp);
  EXPECT_EQ(FoldText("ÇÜÉÑ€"_cp), "ÇÜÉÑ€"_cp);
}

TEST(FoldText, KeyFoldRemovesAccentsAndBlanksTheRest) {
  EXPECT_EQ(FoldText("Pérez i Muñoz"_cp, KeyFoldTable()), "PEREZ I MUNOZ");
  EXPECT_EQ(FoldText("a@b_c 09", KeyFoldTable()), "A B C 09");
  struct Row {
    std::string_view letters;
    char folded;
  } rows[] = {
      {"Çç"_cp, 'C'},
      {"éèêëÉÈÊË€"_cp, 'E'},
      {"àáâäåãÀÁÂÄÅÃæÆª"_cp, 'A'},
      {"ºøØöÖòÒóÓôÔõÕ"_cp, 'O'},
      {"ïîìíÏÎÌÍ"_cp, 'I'},
      {"üûùúÜÛÙÚ"_cp, 'U'},
      {"ñÑ"_cp, 'N'},
      {"ß"_cp, 'S'},
      {"þÞ"_cp, 'T'},
      {"ÿýÝ"_cp, 'Y'},
      {"ðÐ"_cp, 'D'},
      {"@[\\]^_`{|}~\x7F£¥×ƒ¿®¬½¼¡«»░▒▓│┤╣║╗╝┐└┴┬├─┼╚╔╩╦╠═╬¤µ¢¦┘┌█▄▀©"_cp, ' '},
  };
  for (const auto& row : rows)
    for (char c : row.letters)
      EXPECT_EQ(FoldText(std::string(1, c), KeyFoldTable()), std::string(1, row.folded))
          << "code " << static_cast<int>(static_cast<unsigned char>(c));
}

TEST(FoldText, CodesOutsideTheTablesNeverChange) {
  std::string outside;
  for (int c = 0; c < kFoldFirst; ++c) outside += static_cast<char>(c);
  for (int c = kFoldLast + 1; c < 256; ++c) outside += static_cast<char>(c);
  EXPECT_EQ(FoldText(outside), outside);
  EXPECT_EQ(FoldText(outside, KeyFoldTable()), outside);
}

TEST(FoldText, KeyFoldNeverYieldsLowerCaseOrAccents) {
  for (int c = kFoldFirst; c <= kFoldLast; ++c) {
    char f = FoldText(std::string(1, static_cast<char>(c)), KeyFoldTable())[0];
    EXPECT_TRUE(f == ' ' || (f >= 'A' && f <= 'Z')) << "code " << c;
  }
}

TEST(NameInReadingOrder, SurnamesAfterFirstName) {
  struct Case {
    const char* stored;
    const char* reading;
  } cases[] = {
      {"GARCIA PUIG*JOAN", "JOAN GARCIA PUIG"},
      {"  GARCIA PUIG  *  JOAN  ", "JOAN GARCIA PUIG"},
      {"ARTAGNAN*D'", "D'ARTAGNAN"},
      {"ARTAGNAN*D'   ", "D'ARTAGNAN"},
      {"  COMUNITAT  ", "COMUNITAT"},
      {"*JOAN", "*JOAN"},
      {" *JOAN ", "JOAN "},  // star at position 2: an empty surname
      {"PUIG*", " PUIG"},
      {"", ""},
      {"A*B*C", "B*C A"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameInReadingOrder(c.stored), c.reading) << c.stored;
}

TEST(IsAllChar, OneRepeatedCharacter) {
  EXPECT_TRUE(IsAllChar("   ", 32));
  EXPECT_TRUE(IsAllChar("", 32));
  EXPECT_TRUE(IsAllChar("", 300));
  EXPECT_FALSE(IsAllChar("  x", 32));
  EXPECT_FALSE(IsAllChar("x  ", 32));
  EXPECT_TRUE(IsAllChar("===", '='));
  EXPECT_TRUE(IsAllChar("ÍÍ"_cp, 214));
  EXPECT_FALSE(IsAllChar(",,", 300));  // 300 is no byte, not 300 mod 256
  EXPECT_FALSE(IsAllChar("\xFF", -1));
}

TEST(WrapText, AlignmentsAndIndents) {
  struct Case {
    const char* text;
    std::int16_t indent, width;
    const char* alignment;
    const char* wrapped;
  } cases[] = {
      {"uno dos tres", 0, 8, "E", "uno dos tres    "},
      {"uno dos tres", 0, 8, "l", "uno dos tres    "},
      {"uno dos tres", 0, 8, "I", "uno dos tres    "},
      {"uno dos tres", 0, 8, "R", " uno dos    tres"},
      {"uno dos tres", 0, 8, "Dreta", " uno dos    tres"},
      {"uno dos tres", 0, 8, "A", "uno  dostres"},
      {"uno dos tres", 0, 8, "b", "uno  dostres"},
      {"uno dos tres", 0, 8, "C", "uno dos   tres  "},
      {"uno dos tres", 0, 8, "N", "uno dos-tres----"},
      {"uno dos tres", 0, 8, "", "uno dostres"},
      {"uno dos tres", 0, 8, "X", "uno dostres"},
      {"uno dos tres", 0, 7, "E", "uno dostres   "},  // the blank after the line is not carried
      {"uno dos tres cuatro", -2, 8, "E", "uno dos   tres    cuatro"},
      {"uno dos tres", 2, 8, "E", "  uno   dos tres"},
      {"abcdefghij", 0, 4, "E", "abcdefghij  "},
      {"abcdefghij", 0, 4, "A", "abcdefghij"},
      {"a b c dd", 0, 7, "A", "a  b  cdd"},
      {"a b c xxxxxxx", 0, 9, "A", "a   b   cxxxxxxx"},
      {"a b c zzzzzzzz", 0, 8, "A", "a   b  czzzzzzzz"},  // the first gap gets the odd blank
      {"  ab", 0, 8, "E", "  ab    "},
      {"", 0, 8, "E", ""},
      {"uno     dos", 0, 8, "E", "uno     dos     "},
  };
  for (const auto& c : cases) {
    std::string t = c.text;
    WrapText(t, c.indent, c.width, c.alignment);
    EXPECT_EQ(t, c.wrapped) << "'" << c.text << "' " << c.indent << "/" << c.width << " " << c.alignment;
  }
}

TEST(WrapText, ControlCharactersTakeNoRoom) {
  std::string t = "ab\x01" "cd ef";
  WrapText(t, 0, 4, "E");
  EXPECT_EQ(t, "ab\x01" "cdef  ");

  // A line cut at a control character also loses the blanks before it.
  t = "ab  \x01" "cdef";
  WrapText(t, 0, 6, "E");
  EXPECT_EQ(t, "ab    \x01" "cdef ");
}

TEST(WrapText, EveryLineTakesAtLeastOneCharacter) {
  // No room at all must not loop for ever.
  for (int width : {0, -5, 1}) {
    std::string t = "abc";
    WrapText(t, 0, static_cast<std::int16_t>(width), "E");
    EXPECT_EQ(t, "abc") << width;
  }
  std::string t = "abc";
  WrapText(t, 5, 3, "E");
  EXPECT_EQ(t, "  abc ");
  t = "abc def";
  WrapText(t, -30000, 4, "E");
  EXPECT_EQ(t, "abc    d   e   f");
}

}  // namespace
}  // namespace format
