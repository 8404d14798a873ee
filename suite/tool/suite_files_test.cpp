// Checks the installed form file and catalogue against each other and
// against the 80 x 25 screen the module runs on.
#include <gtest/gtest.h>

#include <set>

#include "config/catalog.h"
#include "console/form_file.h"
#include "console/key_options.h"
#include "base/cp850.h"
#include "platform/file_system.h"

namespace {

const std::string kSuite = KIT_SUITE_DIR;

class SuiteFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bytes = platform::ReadWholeFile(kSuite + "/FORMS/REPQUOTA.JPN").bytes;
    ASSERT_FALSE(bytes.empty());
    result = console::ParseFormFile(bytes);
    ASSERT_TRUE(result.ok()) << result.error;
    catalog = config::ParseCatalog(platform::ReadWholeFile(kSuite + "/LOCALE/REPQUOTA.LNG").bytes);
    for (const auto& entry : catalog) keys.insert(entry.key);
  }
  console::FormFileResult result;
  std::vector<config::CatalogEntry> catalog;
  std::set<std::string> keys;
};

bool HasKey(const std::string& list, const std::string& key) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    std::string item = list.substr(start, comma - start);
    item = item.substr(0, item.find('='));
    if (item == key) return true;
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

TEST_F(SuiteFiles, ScreensFitTheConsoleAndOfferTheirKeys) {
  const console::FormScreens& f = result.forms;
  ASSERT_EQ(f.screens.size(), 5u);
  ASSERT_EQ(f.items.size(), 2u);
  for (int s = 1; s <= 5; ++s) {
    const console::FormScreen& sc = f.Screen(s);
    EXPECT_TRUE(HasKey(sc.keys, "2")) << "screen " << s;
    // With End's two bytes anywhere in the exit keys (even across two
    // codes) the field editor reports Enter as End, and Enter would no
    // longer go on to the next field. The table as the form input sets it:
    console::ResetKeyOptions();
    console::SetKeyOptions("+ea", sc.keys + ",3b00");
    EXPECT_EQ(console::KeyOptions().ExitKeys.find(console::KeyImage(0x4f00)), std::string::npos) << "screen " << s;
    console::ResetKeyOptions();
    const auto& g = sc.geometry;
    if (g[0] != 0) {
      EXPECT_TRUE(g[0] >= 1 && g[2] <= 25 && g[0] < g[2] && g[1] >= 1 && g[3] <= 80 && g[1] < g[3]) << s;
    }
    const int width = g[0] != 0 ? g[3] - g[1] - 1 : 80;
    for (const console::FormField& field : sc.fields) {
      const int shown = field.ShownWidth() ? field.ShownWidth() : field.Length() + 1;
      const int end = field.CaptionColumn() + static_cast<int>(field.caption.size()) + shown + field.TrailingCells() - 1;
      EXPECT_LE(end, width) << "screen " << s << " row " << field.Row();
      EXPECT_LE(field.Row(), g[0] != 0 ? g[2] - g[0] - 1 : 25) << "screen " << s;
      if (field.LookupList() != 0) {
        EXPECT_TRUE(HasKey(sc.keys, "3e00")) << "screen " << s;
      }
    }
  }
  // The budget page: two totals, then five fields per line.
  const console::FormScreen& budget = f.Screen(2);
  EXPECT_EQ((budget.fieldCount - 2) % 5, 0);
  EXPECT_GE((budget.fieldCount - 3) / 5 + 1, 10);
  for (const char* k : {"4900", "5100", "3f00", "4000", "4100", "4200", "4300"})
    EXPECT_TRUE(HasKey(budget.keys, k)) << k;
  for (int j = 3; j + 4 <= budget.fieldCount; j += 5) {
    EXPECT_EQ(f.Field(2, j + 1).ValueType(), 11);
    EXPECT_EQ(f.Field(2, j + 3).ValueType(), 13);
    for (int d : {0, 2, 4}) EXPECT_NE(f.Field(2, j + d).Flags() & console::kFieldDisplayOnly, 0);
  }
  EXPECT_EQ(f.Field(1, 2).LookupList(), 1);
  EXPECT_EQ(f.Field(3, 4).LookupList(), 2);
  EXPECT_EQ(f.items[0].ints[0], 511);
  EXPECT_EQ(f.items[1].ints[0], 504);
}

// Every field, with its caption in each language, inside its screen or
// window, and each look-up list's heading inside the list's top border.
TEST_F(SuiteFiles, TranslatedScreensFitTheirWindows) {
  const std::string bytes = platform::ReadWholeFile(kSuite + "/FORMS/REPQUOTA.JPN").bytes;
  using Pick = std::string config::CatalogEntry::*;
  for (Pick pick : {&config::CatalogEntry::key, &config::CatalogEntry::galician, &config::CatalogEntry::aranese,
                    &config::CatalogEntry::spanish}) {
    const console::FormFileResult translated = console::ParseFormFile(bytes, [&](std::string_view text) {
      for (const config::CatalogEntry& e : catalog)
        if (e.key == text) return e.*pick;
      return std::string(text);
    });
    ASSERT_TRUE(translated.ok()) << translated.error;
    for (const console::FormScreen& sc : translated.forms.screens) {
      const auto& g = sc.geometry;
      const int width = g[0] != 0 ? g[3] - g[1] - 1 : 80;
      for (const console::FormField& field : sc.fields) {
        const int shown = field.ShownWidth() ? field.ShownWidth() : field.Length() + 1;
        const int end =
            field.CaptionColumn() + static_cast<int>(field.caption.size()) + shown + field.TrailingCells() - 1;
        EXPECT_LE(end, width) << base::Cp850ToUtf8(field.caption);
      }
    }
    for (const console::FormItem& item : translated.forms.items) {
      // The heading is written from the list's left border on.
      const int inside = item.ints[5] - item.ints[3] - 1;
      EXPECT_LE(static_cast<int>(item.text.size()), inside) << base::Cp850ToUtf8(item.text);
    }
  }
}

TEST_F(SuiteFiles, EveryCaptionAndHeadingHasItsTranslations) {
  for (const console::FormScreen& sc : result.forms.screens)
    for (const console::FormField& field : sc.fields)
      if (!field.caption.empty()) {
        EXPECT_TRUE(keys.count(field.caption)) << base::Cp850ToUtf8(field.caption);
      }
  for (const console::FormItem& item : result.forms.items)
    EXPECT_TRUE(keys.count(item.text)) << base::Cp850ToUtf8(item.text);
  for (const char* key : {"LLEGINT PRESSUPOST", "FINCA INEXISTENT", "NO EXISTEIX EL CONCEPTE ", "EL CONCEPTE ",
                          "SEGONS COEFICIENT GENERAL", "TOTAL PRESSUPOST", "AJUST", " I ",
                          // The checks of the data before printing, the receipt update.
                          "REVISEU LES DADES ABANS D'IMPRIMIR:", "COLUMNA ", ": TOTAL ", ", SUMA DELS COEFICIENTS ",
                          "PROPIETARIS SENSE COEFICIENT", "PROPIETARIS SENSE MESOS PER GIRAR", " SENSE PROPIETARIS",
                          "REBUTS ACTUALITZATS", " PROPIETARIS, CONCEPTE ", ", SUMA DE LES QUOTES ",
                          // A write refused under a lost lock.
                          "S'HA PERDUT EL BLOQUEIG DE LA FINCA", "NO ES POT COMPROVAR EL BLOQUEIG DE LA FINCA",
                          // The message while printing.
                          "IMPRIMINT EL LLISTAT DE ", " PROPIETARIS"})
    EXPECT_TRUE(keys.count(key)) << key;
  EXPECT_TRUE(keys.count(std::string(" NO ÉS DE TIPUS PROVISIÓ DE FONS"_cp)));
  EXPECT_TRUE(keys.count(std::string("PÀGINA "_cp)));
  EXPECT_TRUE(keys.count(std::string("PROPIETARI EN ÚS EN UN ALTRE LLOC: "_cp)));
  for (const config::CatalogEntry& e : catalog) {
    EXPECT_FALSE(e.galician.empty() || e.aranese.empty() || e.spanish.empty()) << base::Cp850ToUtf8(e.key);
    // A translated caption keeps the input area where the form file puts it.
    if (e.key.size() >= 2 && e.key.substr(e.key.size() - 2) == ": ") {
      EXPECT_EQ(e.galician.size(), e.key.size()) << base::Cp850ToUtf8(e.galician);
      EXPECT_EQ(e.aranese.size(), e.key.size()) << base::Cp850ToUtf8(e.aranese);
      EXPECT_EQ(e.spanish.size(), e.key.size()) << base::Cp850ToUtf8(e.spanish);
    }
  }
}

TEST_F(SuiteFiles, HelpFilesAreWholeRecords) {
  for (const char* name : {"/AJUDA/REPQUOTA.HLP", "/AJUDA/TOOLSMNU.HLP"}) {
    const std::string bytes = platform::ReadWholeFile(kSuite + name).bytes;
    EXPECT_GT(bytes.size(), 800u) << name;
    EXPECT_EQ(bytes.size() % 80, 0u) << name;
    EXPECT_EQ(bytes.find('\n'), std::string::npos) << name;
    EXPECT_NE(bytes.find('\x1e'), std::string::npos) << name;  // has highlighted words
    // The viewer shows 76 characters of a line; the switches take no room.
    for (std::size_t at = 0; at + 80 <= bytes.size(); at += 80) {
      std::string line = bytes.substr(at, 80);
      std::erase_if(line, [](char c) { return c == '\x1e' || c == '\x1f' || c == '\x10'; });
      line.erase(line.find_last_not_of(' ') + 1);
      EXPECT_LE(line.size(), 76u) << name << " line " << at / 80 + 1 << ": " << base::Cp850ToUtf8(line);
    }
  }
}

// The help speaks of the keys and values as the program has them.
TEST_F(SuiteFiles, HelpDescribesTheKeysAsTheyAre) {
  std::string help;
  for (const char* name : {"/AJUDA/REPQUOTA.HLP", "/AJUDA/TOOLSMNU.HLP"}) {
    const std::string bytes = platform::ReadWholeFile(kSuite + name).bytes;
    // One record per line, so that phrases are looked for line by line.
    for (std::size_t at = 0; at + 80 <= bytes.size(); at += 80) {
      std::string line = bytes.substr(at, 80);
      std::erase_if(line, [](char c) { return c == '\x1e' || c == '\x1f' || c == '\x10'; });
      help += base::Cp850ToUtf8(line) + "\n";
    }
  }
  // A percentage is the budget as a share of what was spent; an amount is
  // typed in cents; Ctrl+B accepts a screen (End only goes to the end of
  // the text); Ctrl+Y clears a field; the pop-ups return their value with F.
  for (const char* said : {"103% és la despesa més un 3%", "import en cèntims", "Ctrl+B accepta", "Ctrl+Y",
                           "F escriu la data triada", "F surt i escriu el resultat", "Esc surt sense escriure"})
    EXPECT_NE(help.find(said), std::string::npos) << said;
  for (const char* wrong : {"Fi o Ctrl+B", "Intro escriu la data", "En sortir, el resultat s'escriu"})
    EXPECT_EQ(help.find(wrong), std::string::npos) << wrong;
}

}  // namespace
