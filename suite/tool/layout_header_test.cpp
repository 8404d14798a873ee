#include "suite/tool/layout_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "records/layouts.h"
#include "suite/tool/dictionary_source.h"

namespace suite {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Columns(const DictionarySource& s) {
  std::string out;
  for (const FlatField& f : FieldTable(s))
    out += f.csv + "@" + std::to_string(f.offset) + ":" + std::to_string(f.length) + " ";
  return out;
}

TEST(LayoutSource, FieldsRepeatsAndPartsSpellOutAsTheFieldTable) {
  const DictionarySource s = ParseDictionarySource(
      "# Owners\n"
      "# of a building\n"
      "view Owner\n"
      "record 60\n"
      "key 1:4\n"
      "field Key 1:4 packed owner        # property code, then owner number\n"
      "part PropertyCode 1:2 packed of Key\n"
      "field FirstMonth 5:2 int16        # default CSV column\n"
      "repeat 2..3 at 7 step 7           # columns\n"
      "  field Total 1:4 amount total_{letter}\n"
      "  field Mark 5:1 text\n"
      "end\n"
      "repeat 1..3 at 21 step 3 as List columns\n"
      "  field Entry 1:2 text\n"
      "end\n"
      "field Kind 30:1 byte\n");
  ASSERT_EQ(s.error, "");
  EXPECT_EQ(s.view, "Owner");
  EXPECT_EQ(s.heading, (std::vector<std::string>{"Owners", "of a building"}));
  EXPECT_EQ(Columns(s),
            "owner@0:4 first_month@4:2 total_b@6:4 mark_2@10:1 total_c@13:4 mark_3@17:1 columns@20:9 kind@29:1 ");
  ASSERT_EQ(s.parts.size(), 1u);
  EXPECT_EQ(s.parts[0].of, "Key");
  const auto& key = std::get<FieldSource>(s.items[0]);
  EXPECT_EQ(key.comment, "property code, then owner number");
  EXPECT_EQ(CompileDictionary(s).error, "");
}

TEST(LayoutSource, RefusesMistakesNamingTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"record 20\nfield Code 1:2 packed\nfield Code 3:2 text", "line 3: name Code given twice (line 2)"},
      {"record 20\nfield code 1:2 text", "line 2: name \"code\" must be letters and digits starting with a capital"},
      {"record 20\nfield SetUp 1:2 text", "line 2: name \"SetUp\" would clash with a setter"},
      {"record 20\nfield Bytes 1:2 text", "line 2: name \"Bytes\" is the view's own"},
      {"record 20\nfield Code 1:2 letters", "line 2: unknown type \"letters\""},
      {"record 20\nfield Code 1:3 int16", "line 2: int16 fields are 2 bytes"},
      {"record 20\nfield Code 1:2 amount", "line 2: amount fields are 4 bytes"},
      {"record 20\nfield Code 1:2 byte", "line 2: byte fields are 1 byte"},
      {"record 20\nfield Code 1-2 text", "line 2: \"1-2\" is not position:length"},
      {"record 20\nfield Code 0:2 text", "line 2: \"0:2\" starts or ends before 1"},
      {"record 20\nfield Code 1:2", "line 2: field wants name position:length type [CSV column]"},
      {"record 20\nfield Code 1:2 text a-b", "line 2: CSV column \"a-b\" may hold letters, digits, \"_\", {n} and {letter}"},
      {"record 20\nfield Code 1:2 text code_{n}", "line 2: {n} and {letter} name the fields of a repeat only"},
      {"record 20\nfield Code 19:4 text", "line 2: field Code 19:4 ends past the record length 20"},
      {"record 20\nfield Code 1:4 text\n\nfield Name 3:5 text", "line 4: Name overlaps Code (line 2)"},
      {"record 20\nfield Code 1:2 text code\nfield Name 3:2 text code", "line 3: CSV column code given twice (line 2)"},
      {"record 20\nrepeat 1..2 at 1 step 3\n field A 1:4 text a{n}\nend",
       "line 3: field A 1:4 reaches past the step 3 of its repeat"},
      {"record 20\nrepeat 1..2 at 1 step 4\n field A 1:4 text a\nend",
       "line 3: the CSV column of a repeated field needs {n} or {letter}"},
      {"record 60\nrepeat 1..27 at 1 step 2\n field A 1:2 text a_{letter}\nend", "line 3: {letter} needs indexes 1 to 26"},
      {"record 20\nrepeat 1..6 at 1 step 4\n field A 1:4 int32 a{n}\nend",
       "line 2: repeat 1..6 at 1 step 4 ends past the record length 20"},
      {"record 20\nrepeat 1..3 at 1 step 4\n field A 1:2 int16 a{n}\nend\nfield B 10:1 text",
       "line 5: B overlaps A(3) (line 3)"},
      {"record 20\nrepeat 1..2 at 1 step 4 as All\n field A 1:2 text a\nend",
       "line 3: the fields of a repeat taken as a whole have no CSV columns"},
      {"record 20\nrepeat 2..1 at 1 step 4\nend", "line 2: indexes 2..1 must run up from 0 or more"},
      {"record 20\nrepeat 1..2 at 0 step 4\nend", "line 2: a repeat starts at 1 or more and steps 1 or more bytes"},
      {"record 20\nrepeat 1..2 from 1 step 4\nend",
       "line 2: repeat wants first..last at position step length [as name [CSV column]]"},
      {"record 20\nrepeat 1..2 at 1 step 4\nend", "line 3: a repeat needs fields"},
      {"record 20\nrepeat 1..2 at 1 step 4\n field A 1:2 text a{n}\n", "line 2: repeat without \"end\""},
      {"record 20\nrepeat 1..2 at 1 step 4\n key 1:2\nend", "line 3: only field lines go between repeat and end"},
      {"record 20\nend", "line 2: \"end\" without \"repeat\""},
      {"record 20\nfield Key 1:4 packed\npart Code 3:4 packed of Key", "line 3: part Code 3:4 lies outside Key 1:4"},
      {"record 20\npart Code 1:2 packed of Key", "line 2: part Code of Key: no such field outside repeats"},
      {"record 20\npart Code 1:2 packed Key", "line 2: part wants name position:length type of field"},
      {"record 20\nview A\nview B", "line 3: view given twice"},
      {"record 20\nview a", "line 2: name \"a\" must be letters and digits starting with a capital"},
  };
  for (const auto& [source, error] : cases) {
    const DictionarySource s = ParseDictionarySource(source);
    EXPECT_EQ(s.error, error) << source;
    EXPECT_TRUE(s.items.empty() && s.keys.empty()) << source;
  }
}

TEST(LayoutSource, KeysAreOptionalForALayoutButNotForADictionary) {
  const DictionarySource s = ParseDictionarySource("record 44\nfield Code 1:2 text\n");
  EXPECT_EQ(s.error, "");
  EXPECT_EQ(CompileDictionary(s).error, "line 2: no key");
}

// Every layout source of the suite compiles, and the generated views were
// made from them as they are now.
class SuiteSources : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(KIT_DDF_SOURCE_DIR))
      sources_[entry.path().stem().string()] = entry.path();
  }
  static const records::LayoutInfo* Generated(const std::string& base) {
    for (const records::LayoutInfo& l : records::kLayouts)
      if (l.base == base) return &l;
    return nullptr;
  }
  std::map<std::string, fs::path> sources_;
};

TEST_F(SuiteSources, EveryOneCompilesAndHasItsGeneratedView) {
  ASSERT_EQ(sources_.size(), records::kLayouts.size());
  std::size_t dataFiles = 0;
  for (const auto& [base, path] : sources_) {
    SCOPED_TRACE(path.string());
    const DictionarySource source = ParseDictionarySource(Slurp(path));
    ASSERT_EQ(source.error, "");
    const records::LayoutInfo* generated = Generated(base);
    ASSERT_NE(generated, nullptr);
    EXPECT_EQ(generated->view, source.view);
    EXPECT_EQ(generated->recordLength, source.record);
    const std::vector<FlatField> table = FieldTable(source);
    ASSERT_EQ(generated->fields.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
      EXPECT_EQ(generated->fields[i].name, table[i].csv);
      EXPECT_EQ(generated->fields[i].offset, table[i].offset);
      EXPECT_EQ(generated->fields[i].length, table[i].length);
      EXPECT_EQ(static_cast<int>(generated->fields[i].kind), static_cast<int>(table[i].type));
    }
    if (path.extension() == ".ddf") {
      ++dataFiles;
      EXPECT_TRUE(generated->dataFile);
      const CompiledDictionary d = CompileDictionary(source);
      ASSERT_EQ(d.error, "");
      EXPECT_EQ(generated->creation, d.creation);
    } else {
      EXPECT_EQ(path.extension(), ".layout");
      EXPECT_FALSE(generated->dataFile);
      EXPECT_TRUE(source.keys.empty());
      EXPECT_TRUE(generated->creation.empty());
    }
  }
  EXPECT_EQ(dataFiles, 8u);
}

int At16(std::string_view s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}

TEST_F(SuiteSources, GeneratedConstantsMatchTheInstalledDictionaries) {
  std::int32_t largest = 0;
  for (const records::LayoutInfo& l : records::kLayouts) {
    if (!l.dataFile) continue;
    SCOPED_TRACE(std::string(l.base));
    const std::string file = Slurp(fs::path(KIT_SUITE_DIR) / "ddf" / (std::string(l.base) + ".xdf"));
    ASSERT_GE(file.size(), 2u);
    const std::string creation = file.substr(2);
    EXPECT_EQ(creation, l.creation);
    EXPECT_EQ(At16(creation, 0), l.recordLength);
    ASSERT_EQ(creation.size(), 16 + 16 * l.keySegments.size());
    int key = 0, keyLength = 0;
    for (std::size_t i = 0; i < l.keySegments.size(); ++i) {
      const records::KeySegmentInfo& seg = l.keySegments[i];
      const std::size_t at = 16 + 16 * i;
      EXPECT_EQ(seg.key, key) << i;
      EXPECT_EQ(At16(creation, at), seg.offset + 1) << i;
      EXPECT_EQ(At16(creation, at + 2), seg.length) << i;
      EXPECT_EQ(At16(creation, at + 4), seg.flags) << i;
      if (seg.key == 0) keyLength += seg.length;
      if ((seg.flags & 0x10) == 0) ++key;
    }
    EXPECT_EQ(key, At16(creation, 4));
    EXPECT_EQ(l.keyLength, keyLength);
    largest = std::max(largest, l.recordLength);
  }
  EXPECT_EQ(records::kLargestRecord, largest);
}

TEST(LayoutHeader, RefusesNamesThatWouldClash) {
  auto input = [](const std::string& base, const std::string& source) {
    return LayoutInput{base, ParseDictionarySource(source), ""};
  };
  EXPECT_EQ(LayoutHeader({input("One", "view Line\nrecord 10\n"), input("Two", "view Line\nrecord 10\n")}).error,
            "Two: the name Line is taken");
  EXPECT_EQ(LayoutHeader({input("One", "view Line\nrecord 10\n"), input("LineLayout", "record 10\n")}).error,
            "LineLayout: the name LineLayout is taken");
  EXPECT_EQ(LayoutHeader({input("FieldInfo", "record 10\n")}).error, "FieldInfo: the name FieldInfo is taken");
  EXPECT_EQ(LayoutHeader({input("my-file", "view Line\nrecord 10\n")}).error,
            "my-file: a base name must be letters, digits and \"_\"");
  EXPECT_EQ(LayoutHeader({input("One", "record 10\nfield A 1:20 text\n")}).error,
            "One: line 2: field A 1:20 ends past the record length 10");
  const GeneratedHeader ok = LayoutHeader({input("One", "record 10\n")});
  EXPECT_EQ(ok.error, "");
  EXPECT_NE(ok.text.find("class One "), std::string::npos);
}

// The offset of a CSV column in a layout's field table.
template <typename Layout>
std::size_t Offset(std::string_view column) {
  for (const records::FieldInfo& f : Layout::kFields)
    if (f.name == column) return static_cast<std::size_t>(f.offset);
  throw std::out_of_range(std::string(column));
}

TEST(RecordViews, EachTypeReadsAndWritesItsBytesAtTheFieldsOffset) {
  std::string bytes(records::OwnerLayout::kRecordLength, '\0');
  const records::Owner owner{bytes};
  owner.SetKey(std::string("\x80\x87\x80\x83", 4));
  owner.SetName("GARCIA");                     // text: blank padded
  owner.SetCoefficient(3, -2);                 // int32, little-endian
  owner.SetSlotPeriodicity(8, 0x1234);         // int16
  owner.SetSlotAmount(2, 0x01020304);          // amount
  EXPECT_EQ(bytes.substr(Offset<records::OwnerLayout>("owner"), 4), std::string("\x80\x87\x80\x83", 4));
  EXPECT_EQ(owner.PropertyCode(), std::string("\x80\x87", 2));  // a part of the key
  EXPECT_EQ(bytes.substr(Offset<records::OwnerLayout>("name"), 34), "GARCIA" + std::string(28, ' '));
  EXPECT_EQ(bytes.substr(Offset<records::OwnerLayout>("coef_c"), 4), "\xFE\xFF\xFF\xFF");
  EXPECT_EQ(bytes.substr(Offset<records::OwnerLayout>("slot8_period"), 2), "\x34\x12");
  EXPECT_EQ(bytes.substr(Offset<records::OwnerLayout>("slot2_amount"), 4), "\x04\x03\x02\x01");
  EXPECT_EQ(owner.Coefficient(3), -2);
  EXPECT_EQ(owner.SlotPeriodicity(8), 0x1234);
  EXPECT_EQ(owner.SlotAmount(2), 0x01020304);
  owner.SetName(std::string(40, 'X'));  // cut to the width
  EXPECT_EQ(bytes.substr(Offset<records::OwnerLayout>("name"), 35), std::string(34, 'X') + '\0');

  std::string type(records::ReceiptTypeLayout::kRecordLength, ' ');
  const records::ReceiptType receipt{type};
  receipt.SetNumber(200);  // byte: unsigned
  EXPECT_EQ(static_cast<unsigned char>(type[Offset<records::ReceiptTypeLayout>("number")]), 200);
  EXPECT_EQ(receipt.Number(), 200);

  std::string line(records::StoredLineLayout::kRecordLength, ' ');
  const records::StoredLine stored{line};
  stored.SetColumn('B');  // one-byte text: a character
  EXPECT_EQ(line[Offset<records::StoredLineLayout>("column")], 'B');
  EXPECT_EQ(stored.Column(), 'B');

  std::string columns(records::ConceptColumnsLayout::kRecordLength, ' ');
  const records::ConceptColumns list{columns};
  list.SetEntryConcept(2, "NE");
  list.SetEntryColumn(2, 'C');
  EXPECT_EQ(list.List().substr(0, 6), "   NEC");  // the whole run and its entries
  EXPECT_EQ(columns.substr(Offset<records::ConceptColumnsLayout>("columns") + 3, 3), "NEC");
}

TEST(RecordViews, RefuseIndexesOutsideTheRepeatAndAreasTooShort) {
  std::string bytes(records::PropertyLayout::kRecordLength, '\0');
  const records::Property property{bytes};
  static_assert(records::PropertyLayout::kColumnTotalFirst == 2 && records::PropertyLayout::kColumnNameLast == 7);
  EXPECT_NO_THROW(property.ColumnTotal(2));
  EXPECT_NO_THROW(property.ColumnName(7));
  EXPECT_THROW(property.ColumnTotal(1), std::out_of_range);  // column A has no total here
  EXPECT_THROW(property.SetColumnName(8, "X"), std::out_of_range);
  std::string shorter(records::PropertyLayout::kRecordLength - 1, '\0');
  EXPECT_THROW(records::Property{shorter}, std::length_error);
}

template <typename View>
concept CanSetName = requires(const View& v) { v.SetName("x"); };

TEST(RecordViews, ReadOnlyBytesGiveAViewWithoutSetters) {
  const std::string fixed(records::PropertyLayout::kRecordLength, ' ');
  const records::Property property{fixed};
  static_assert(std::is_same_v<decltype(property), const records::Property<const char>>);
  static_assert(!CanSetName<records::Property<const char>>);
  static_assert(CanSetName<records::Property<char>>);
  EXPECT_EQ(property.Name(), std::string(30, ' '));
}

}  // namespace
}  // namespace suite
