#include "console/form_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config/session.h"
#include "config/test_files.h"

namespace console {
namespace {

// One screen with two fields, then one look-up list.
constexpr std::string_view kSmall =
    "2,2\r\n"
    "\"d,1b,2\",2,0,3,5,10,70\r\n"
    "1,2,\"Data:\",10,0,0,0,1,0,\"\"\r\n"
    "2,2,\"Finca:\",4,0,3,8,2,1,\"\"\r\n"
    "\"d,1b\",0,3,0,0,0,0\r\n"
    "1\r\n"
    "511,0,4,10,20,70,0,\"Codi_Nom\",2\r\n";

TEST(FormFile, ReadsScreensFieldsAndItems) {
  FormFileResult r = ParseFormFile(kSmall);
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_EQ(r.forms.screens.size(), 2u);
  EXPECT_EQ(r.forms.maxFields, 2);
  const FormScreen& s1 = r.forms.Screen(1);
  EXPECT_EQ(s1.keys, "d,1b,2");
  EXPECT_EQ(s1.fieldCount, 2);
  EXPECT_EQ(s1.continuation, 0);
  EXPECT_EQ(s1.geometry, (std::array<std::int16_t, 4>{3, 5, 10, 70}));
  const FormField& f2 = r.forms.Field(1, 2);
  EXPECT_EQ(f2.caption, "Finca:");
  EXPECT_EQ(f2.ints, (std::array<std::int16_t, 8>{2, 2, 4, 0, 3, 8, 2, 1}));
  EXPECT_EQ(f2.value, "    ");
  EXPECT_EQ(r.forms.Field(1, 1).value, std::string(10, ' '));
  // A screen without fields still keeps its numbers.
  EXPECT_EQ(r.forms.Screen(2).fieldCount, 0);
  EXPECT_EQ(r.forms.Screen(2).continuation, 3);
  ASSERT_EQ(r.forms.items.size(), 1u);
  EXPECT_EQ(r.forms.items[0].ints, (std::array<std::int16_t, 8>{511, 0, 4, 10, 20, 70, 0, 2}));
  EXPECT_EQ(r.forms.items[0].text, "Codi_Nom");
}

TEST(FormFile, CommentLinesOnlyBeforeTheCounts) {
  const std::string withComments =
      "' first\r\n   ' indented comment\r\n\t'tab\r\n" + std::string(kSmall);
  FormFileResult r = ParseFormFile(withComments);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.forms.screens, ParseFormFile(kSmall).forms.screens);
  EXPECT_EQ(r.forms.items, ParseFormFile(kSmall).forms.items);

  // After the counts a "'" line is data: here it lands where a title is
  // expected, so it becomes the title text.
  FormFileResult late = ParseFormFile("1,0\r\n'x\r\n0,0,0,0,0,0\r\n0\r\n");
  ASSERT_TRUE(late.ok()) << late.error;
  EXPECT_EQ(late.forms.Screen(1).keys, "'x");
}

TEST(FormFile, TextsGoThroughTheTranslatorButKeyListsDoNot) {
  auto upper = [](std::string_view t) {
    std::string s(t);
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "<" + s + ">";
  };
  FormFileResult r = ParseFormFile(kSmall, upper);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.forms.Screen(1).keys, "d,1b,2");
  EXPECT_EQ(r.forms.Field(1, 1).caption, "<DATA:>");
  EXPECT_EQ(r.forms.Field(1, 1).options, "<>");
  EXPECT_EQ(r.forms.items[0].text, "<CODI_NOM>");
}

struct ItemCase {
  const char* name;
  std::string_view bytes;
  std::string caption;  // caption of screen 1 field 1
  std::int16_t length;  // its ints[2]
};

TEST(FormFile, ItemSyntax) {
  const ItemCase cases[] = {
      {"quoted with commas", "1,1\r\n\"k\",1,0,0,0,0,0\r\n1,2,\"A, B\",3,0,0,0,0,0,\"\"\r\n0\r\n", "A, B", 3},
      {"unquoted, trailing blanks cut", "1,1\r\n\"k\",1,0,0,0,0,0\r\n1,2,Nom   ,3,0,0,0,0,0,\r\n0\r\n", "Nom", 3},
      {"LF line ends", "1,1\n\"k\",1,0,0,0,0,0\n1,2,\"N\",3,0,0,0,0,0,\"\"\n0\n", "N", 3},
      {"blanks around numbers", "1 , 1\r\n\"k\", 1 ,0,0,0,0,0\r\n1,2,\"N\", +7 ,0,0,0,0,0,\"\"\r\n0\r\n", "N", 7},
      {"one item per line", "1\r\n1\r\nk\r\n1\r\n0\r\n0\r\n0\r\n0\r\n0\r\n1\r\n2\r\nN\r\n2\r\n0\r\n0\r\n0\r\n0\r\n0\r\n\"\"\r\n0\r\n",
       "N", 2},
      {"empty number counts as zero", "1,1\r\n\"k\",1,,0,0,0,0\r\n1,2,\"N\",5,,,,,,\"\"\r\n0\r\n", "N", 5},
      {"Ctrl-Z ends the file", "1,1\r\n\"k\",1,0,0,0,0,0\r\n1,2,\"N\",4,0,0,0,0,0,\"\"\r\n0\r\n\x1a garbage", "N", 4},
  };
  for (const ItemCase& c : cases) {
    FormFileResult r = ParseFormFile(c.bytes);
    ASSERT_TRUE(r.ok()) << c.name << ": " << r.error;
    EXPECT_EQ(r.forms.Field(1, 1).caption, c.caption) << c.name;
    EXPECT_EQ(r.forms.Field(1, 1).Length(), c.length) << c.name;
    EXPECT_EQ(r.forms.Field(1, 1).value.size(), static_cast<std::size_t>(c.length)) << c.name;
  }
}

struct DamageCase {
  const char* name;
  std::string_view bytes;
  std::string_view mention;  // part of the error text
  std::size_t screensKept;
};

TEST(FormFile, DamagedFilesAreReportedWithWhatWasRead) {
  const DamageCase cases[] = {
      {"empty", "", "screen count", 0},
      {"only comments", "' a\r\n' b\r\n", "screen count", 0},
      {"cut inside a field", "2,1\r\n\"k\",1,0,0,0,0,0\r\n1,2,\"N\",4,0", "field 1 of screen 1", 1},
      {"second screen missing", "2,0\r\n\"k\",0,0,0,0,0,0\r\n", "screen 2", 1},
      {"no item count", "1,0\r\n\"k\",0,0,0,0,0,0\r\n", "look-up list count", 1},
      {"item cut short", "1,0\r\n\"k\",0,0,0,0,0,0\r\n2\r\n1,0,1,1,5,5,0,\"h\",0\r\n1,0", "look-up list 2", 1},
      {"letters for a number", "1,0\r\n\"k\",abc,0,0,0,0,0\r\n0\r\n", "\"abc\"", 0},
      {"number too large", "1,0\r\n\"k\",0,0,99999,0,0,0\r\n0\r\n", "99999", 0},
      {"negative field count", "1,0\r\n\"k\",-1,0,0,0,0,0\r\n0\r\n", "negative field count", 0},
      {"negative length", "1,1\r\n\"k\",1,0,0,0,0,0\r\n1,2,\"N\",-4,0,0,0,0,0,\"\"\r\n0\r\n", "negative length", 1},
  };
  for (const DamageCase& c : cases) {
    FormFileResult r = ParseFormFile(c.bytes);
    EXPECT_FALSE(r.ok()) << c.name;
    EXPECT_NE(r.error.find(c.mention), std::string::npos) << c.name << ": " << r.error;
    EXPECT_EQ(r.forms.screens.size(), c.screensKept) << c.name;
  }
}

TEST(FormFile, FitValueCutsOrPads) {
  EXPECT_EQ(FitValue("08/12/26", 10), "08/12/26  ");
  EXPECT_EQ(FitValue("123456", 4), "1234");
  EXPECT_EQ(FitValue("", 2), "  ");
  EXPECT_EQ(FitValue("x", 0), "");
}

class FormFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("form_file_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "forms");
    config::ResetSession();
    config::Session().RootDir = root_.string() + "/";
    config::Session().Language = "CAT";
  }
  void TearDown() override {
    std::filesystem::remove_all(root_);
    config::ResetSession();
  }
  std::filesystem::path root_;
};

TEST_F(FormFileOnDisk, FindsTheFileWhateverItsCase) {
  std::ofstream(root_ / "forms" / "repquota.jpn", std::ios::binary) << kSmall;
  FormFileResult r = LoadFormFile(config::Session().RootDir, "REPQUOTA");
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.forms.screens.size(), 2u);
}

TEST_F(FormFileOnDisk, MissingAndDamagedFilesNameTheFile) {
  FormFileResult missing = LoadFormFile(config::Session().RootDir, "REPQUOTA");
  EXPECT_FALSE(missing.ok());
  EXPECT_TRUE(missing.missing);
  EXPECT_NE(missing.error.find("FORMS\\REPQUOTA.JPN"), std::string::npos) << missing.error;

  std::ofstream(root_ / "forms" / "REPQUOTA.JPN", std::ios::binary) << "3,2\r\n\"d\",1,0";
  FormFileResult damaged = LoadFormFile(config::Session().RootDir, "REPQUOTA");
  EXPECT_FALSE(damaged.ok());
  EXPECT_FALSE(damaged.missing);
  EXPECT_NE(damaged.error.find("REPQUOTA.JPN"), std::string::npos) << damaged.error;
  EXPECT_NE(damaged.error.find("damaged"), std::string::npos) << damaged.error;
}

TEST_F(FormFileOnDisk, ADirectoryOrAReadErrorIsAnUnreadableFileWithItsReason) {
  std::filesystem::create_directories(root_ / "forms" / "REPQUOTA.JPN");
  FormFileResult directory = LoadFormFile(config::Session().RootDir, "REPQUOTA");
  EXPECT_FALSE(directory.ok());
  EXPECT_TRUE(directory.missing);
  EXPECT_NE(directory.error.find("FORMS\\REPQUOTA.JPN"), std::string::npos) << directory.error;
  EXPECT_NE(directory.error.find("Is a directory"), std::string::npos) << directory.error;

  std::filesystem::remove(root_ / "forms" / "REPQUOTA.JPN");
  std::ofstream(root_ / "forms" / "REPQUOTA.JPN", std::ios::binary) << kSmall;
  config::testing::FailingFile failing("REPQUOTA.JPN");
  FormFileResult unreadable = LoadFormFile(config::Session().RootDir, "REPQUOTA");
  EXPECT_TRUE(unreadable.missing);
  EXPECT_NE(unreadable.error.find("Input/output error"), std::string::npos) << unreadable.error;
}

}  // namespace
}  // namespace console
