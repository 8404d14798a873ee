#include "tools/kitdata/kitdata.h"
#include "tools/kitdata/test_roots.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <array>
#include <set>
#include <stdexcept>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/wait.h>

#include "config/test_files.h"
#include "data/files.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "platform/file_system.h"

namespace kitdata {
namespace {

namespace fs = std::filesystem;
using config::testing::ScratchDir;

using testing::DataRoot;
using testing::FieldOf;

std::string BudgetRecord(const std::string& property, const std::string& code, const std::string& budget) {
  const FileLayout& l = *FindLayout("PressupH");
  std::string r(static_cast<std::size_t>(l.recordLength), ' ');
  EXPECT_EQ(SetField(FieldOf("PressupH", "property"), property, r), "");
  EXPECT_EQ(SetField(FieldOf("PressupH", "concept"), code, r), "");
  EXPECT_EQ(SetField(FieldOf("PressupH", "budget"), budget, r), "");
  return r;
}

TEST(Layouts, FieldsLieInsideTheirRecordsAndDoNotOverlap) {
  ASSERT_EQ(Layouts().size(), 8u);
  for (const FileLayout& l : Layouts()) {
    std::vector<int> owner(static_cast<std::size_t>(l.recordLength), -1);
    for (std::size_t i = 0; i < l.fields.size(); ++i) {
      const Field& f = l.fields[i];
      ASSERT_LE(f.offset + f.length, l.recordLength) << l.base << " " << f.name;
      for (int b = f.offset; b < f.offset + f.length; ++b) {
        EXPECT_EQ(owner[static_cast<std::size_t>(b)], -1) << l.base << " " << f.name << " overlaps at " << b;
        owner[static_cast<std::size_t>(b)] = static_cast<int>(i);
      }
    }
  }
  EXPECT_EQ(FindLayout("propieth")->base, "PropietH");
  EXPECT_EQ(FindLayout("Nothing"), nullptr);
  EXPECT_EQ(BaseName("ROOT/DADES/PropietH.dat"), "PropietH");
  EXPECT_EQ(BaseName("ROOT\\DADES\\PagamH"), "PagamH");
}

// The CSV columns are what CSV files already written rely on.
TEST(Layouts, CsvColumnsKeepTheirNames) {
  const std::map<std::string, std::string> headers{
      {"TDespesa", "concept,description"},
      {"THRebut", "number,description,kind"},
      {"FinquesH",
       "property,name,first_month,period_months,fee,rate_index,total_b,name_b,total_c,name_c,total_d,name_d,total_e,"
       "name_e,total_f,name_f,total_g,name_g,tax_id"},
      {"FinDespH", "property,columns"},
      {"PropietH",
       "owner,name,department,coef_a,coef_b,coef_c,coef_d,coef_e,coef_f,coef_g,slot1_period,slot1_amount,"
       "slot2_period,slot2_amount,slot3_period,slot3_amount,slot4_period,slot4_amount,slot5_period,slot5_amount,"
       "slot6_period,slot6_amount,slot7_period,slot7_amount,slot8_period,slot8_amount"},
      {"PagamH", "property,date,concept,description,amount,kind,column"},
      {"CobramH", "owner,date,amount"},
      {"PressupH", "property,concept,column,percent_thousandths,amount,budget"},
  };
  ASSERT_EQ(Layouts().size(), headers.size());
  for (const FileLayout& l : Layouts()) {
    std::string header;
    for (const Field& f : l.fields) header += (header.empty() ? "" : ",") + f.name;
    EXPECT_EQ(header, headers.at(l.base)) << l.base;
  }
}

// A CSV text for a field that fills it: no blank, zero or default left.
std::string FullText(const Field& f) {
  const auto n = static_cast<std::size_t>(f.length);
  switch (f.kind) {
    case FieldKind::Text: {
      std::string text = "Ç";  // one byte in the record
      for (std::size_t i = 1; i < n; ++i) text += static_cast<char>('A' + (i + n) % 26);
      return text;
    }
    case FieldKind::Packed: {
      std::string digits;
      for (std::size_t i = 0; i < 2 * n; ++i) digits += static_cast<char>('0' + (i + n) % 10);
      return digits;
    }
    case FieldKind::Number: return std::string(2 * n, '7');
    case FieldKind::Date: return "2024-02-29";
    case FieldKind::Byte: return "200";
    case FieldKind::Int16: return "-12345";
    case FieldKind::Int32: return "-123456789";
    case FieldKind::Amount: return "-1234567.89";
  }
  return {};
}

TEST(Csv, EveryFieldOfEveryFileTravelsThroughExportAndImport) {
  ScratchDir from, to;
  const std::string fromRoot = DataRoot(from), toRoot = DataRoot(to);
  for (const FileLayout& l : Layouts()) {
    SCOPED_TRACE(l.base);
    std::string record(static_cast<std::size_t>(l.recordLength), ' ');
    for (const Field& f : l.fields) ASSERT_EQ(SetField(f, FullText(f), record), "") << f.name;
    for (const Field& f : l.fields) EXPECT_EQ(FieldText(f, record), FullText(f)) << f.name;
    ASSERT_EQ(PutRaw(fromRoot + "/DADES/" + l.base, record).error, "");
    std::string csv;
    ASSERT_EQ(ExportCsv(fromRoot + "/DADES/" + l.base, csv), "");
    ASSERT_EQ(ImportCsv(toRoot + "/DADES/" + l.base, csv).error, "");
    std::string raw;
    ASSERT_EQ(GetRaw(toRoot + "/DADES/" + l.base, raw), "");
    EXPECT_EQ(raw, record);
  }
}

TEST(Fields, CsvTextsConvertBothWays) {
  struct Case {
    const char* file;
    const char* field;
    const char* text;
  };
  const Case cases[] = {
      {"PropietH", "owner", "00010007"},       {"PropietH", "name", "MARTÍ CASALS *NÚRIA"},
      {"PropietH", "department", "1r 1a"},     {"PropietH", "coef_a", "-120000"},
      {"PropietH", "slot1_period", "12"},      {"PropietH", "slot1_amount", "-0.01"},
      {"PropietH", "slot2_amount", "21474836.47"}, {"CobramH", "date", "2026-02-28"},
      {"CobramH", "date", ""},                 {"PagamH", "column", "7"},
      {"CobramH", "date", "2024-02-29"},       {"CobramH", "date", "2000-02-29"},
      {"THRebut", "number", "255"},            {"TDespesa", "description", "ASSEGURANÇA"},
  };
  for (const Case& c : cases) {
    const Field& f = FieldOf(c.file, c.field);
    std::string record(static_cast<std::size_t>(FindLayout(c.file)->recordLength), ' ');
    EXPECT_EQ(SetField(f, c.text, record), "") << c.field << " " << c.text;
    EXPECT_EQ(FieldText(f, record), c.text) << c.field;
  }
  // Stored forms the module reads.
  auto bytes = [](const std::string& record, const Field& f) {
    return record.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length));
  };
  std::string record(static_cast<std::size_t>(FindLayout("PressupH")->recordLength), ' ');
  ASSERT_EQ(SetField(FieldOf("PressupH", "property"), "1", record), "");
  EXPECT_EQ(bytes(record, FieldOf("PressupH", "property")), format::PackDigits("0001"));
  ASSERT_EQ(SetField(FieldOf("PressupH", "budget"), "12.5", record), "");
  EXPECT_EQ(bytes(record, FieldOf("PressupH", "budget")), std::string("\xE2\x04\0\0", 4));  // 1250 cents
  std::string cobram(static_cast<std::size_t>(FindLayout("CobramH")->recordLength), ' ');
  ASSERT_EQ(SetField(FieldOf("CobramH", "date"), "2027-01-01", cobram), "");
  EXPECT_EQ(bytes(cobram, FieldOf("CobramH", "date")), format::PackDate(2027, 1, 1));
}

TEST(Fields, BadCsvTextsAreRefusedAndLeaveTheRecordAlone) {
  struct Case {
    const char* file;
    const char* field;
    const char* text;
  };
  const Case cases[] = {
      {"CobramH", "date", "2026-02-30"},     {"CobramH", "date", "2026-13-01"},
      {"CobramH", "date", "2025-02-29"},     {"CobramH", "date", "1900-02-29"},
      {"CobramH", "date", "2026-04-31"},     {"CobramH", "date", "0000-01-01"},
      {"CobramH", "date", "26-01-01"},       {"CobramH", "date", "2026/01/01"},
      {"CobramH", "amount", "1.234"},        {"CobramH", "amount", "1,50"},
      {"CobramH", "amount", "abc"},          {"CobramH", "amount", "21474836.48"},
      {"CobramH", "owner", "123456789"},     {"CobramH", "owner", "12a4"},
      {"PropietH", "slot1_period", "40000"}, {"PropietH", "coef_a", "1.5"},
      {"THRebut", "number", "256"},          {"TDespesa", "concept", "ABC"},
      {"TDespesa", "description", "ЖЖ"},     {"PagamH", "column", "-1"},
      {"CobramH", "date", "#94A0808"},       {"CobramH", "date", "#94A080811"},
      {"CobramH", "date", "#GGA08081"},      {"CobramH", "owner", "#8081"},
      {"PagamH", "column", "#80"},
  };
  for (const Case& c : cases) {
    std::string record(static_cast<std::size_t>(FindLayout(c.file)->recordLength), ' ');
    std::string before = record;
    EXPECT_NE(SetField(FieldOf(c.file, c.field), c.text, record), "") << c.field << " " << c.text;
    EXPECT_EQ(record, before) << c.field << " " << c.text;
  }
}

// Found by fuzzing: a text ending in zero bytes was stored with them, and
// its export (which leaves trailing zero bytes out, as padding) then read
// back as another record.
TEST(Fields, TrailingZeroBytesOfATextArePadding) {
  const Field& columns = FieldOf("FinDespH", "columns");
  std::string record(static_cast<std::size_t>(FindLayout("FinDespH")->recordLength), ' ');
  ASSERT_EQ(SetField(columns, std::string("HOANEB\0\0", 8), record), "");
  const auto at = static_cast<std::size_t>(columns.offset);
  EXPECT_EQ(record.substr(at, 8), "HOANEB  ");
  EXPECT_EQ(FieldText(columns, record), "HOANEB");
  ASSERT_EQ(SetField(columns, std::string("A\0B\0 \0", 6), record), "");
  EXPECT_EQ(record.substr(at, 6), std::string("A\0B   ", 6));
}

TEST(Csv, SplitsQuotedFieldsAndCountsLines) {
  std::vector<std::vector<std::string>> rows;
  std::vector<int> lines;
  ASSERT_EQ(ParseCsv("a,b\r\n\"x,1\",\"say \"\"hi\"\"\"\n\n\"two\nlines\",\n", rows, lines), "");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (std::vector<std::string>{"x,1", "say \"hi\""}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"two\nlines", ""}));
  EXPECT_EQ(lines, (std::vector<int>{1, 2, 4}));
  EXPECT_NE(ParseCsv("a,b\n\"open,1\n", rows, lines), "");
  EXPECT_NE(ParseCsv("a,b\nx\"y,1\n", rows, lines), "");
  EXPECT_NE(ParseCsv("a,b\n\"x\"y,1\n", rows, lines), "");
}

// A file is read a block at a time: the rows must not depend on where the
// blocks end (inside a byte order mark, a CR LF, a doubled quote, a quoted
// line end), and neither must the place of an error.
TEST(Csv, RowsDoNotDependOnWhereTheBlocksEnd) {
  const std::string texts[] = {
      "\xEF\xBB\xBF" "a,b\r\n\"x,1\",\"say \"\"hi\"\"\"\r\n\r\n\"two\r\nlines\",\n\n,\rlast,\"\"",
      "a,b\n\"closed at the end\"",
      "\xEF\xBB",
      "a,b\n\"open,1\n",
      "a,b\nx,1\nx\"y,1\n",
      "a,b\n\"x\"y,1\n",
  };
  for (const std::string& text : texts) {
    std::vector<std::vector<std::string>> whole;
    std::vector<int> wholeLines;
    const std::string wholeError = ParseCsv(text, whole, wholeLines);
    for (std::size_t block : {1u, 2u, 3u, 5u}) {
      std::vector<std::vector<std::string>> rows;
      std::vector<int> lines;
      CsvRowParser parser([&](std::vector<std::string>& fields, int line) {
        rows.push_back(fields);
        lines.push_back(line);
      });
      bool ok = true;
      for (std::size_t at = 0; ok && at < text.size(); at += block)
        ok = parser.Feed(std::string_view(text).substr(at, block));
      if (ok) ok = parser.Finish();
      EXPECT_EQ(parser.Error(), wholeError) << text << " in blocks of " << block;
      EXPECT_EQ(ok, wholeError.empty());
      if (!ok) continue;
      EXPECT_EQ(rows, whole) << text << " in blocks of " << block;
      EXPECT_EQ(lines, wholeLines) << text << " in blocks of " << block;
    }
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<int> lines;
  ASSERT_EQ(ParseCsv(texts[0], rows, lines), "");
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                      {"a", "b"}, {"x,1", "say \"hi\""}, {"two\r\nlines", ""}, {"", ""}, {"last", ""}}));
  EXPECT_EQ(lines, (std::vector<int>{1, 2, 4, 7, 8}));
}

TEST(Raw, PutThenGetGivesTheSameBytesInKeyOrder) {
  ScratchDir dir;
  std::string file = DataRoot(dir) + "/DADES/PressupH";
  std::string a = BudgetRecord("1", "AS", "10.00"), b = BudgetRecord("1", "NE", "20.00"),
              c = BudgetRecord("2", "AS", "-3.00");
  a[19] = '\x01';  // bytes outside the known fields travel too
  ASSERT_EQ(PutRaw(file, c + a).error, "");
  ASSERT_EQ(PutRaw(file, b).error, "");
  std::string raw;
  ASSERT_EQ(GetRaw(file, raw), "");
  EXPECT_EQ(raw, a + b + c);
  ASSERT_EQ(PutRaw(file, "").error, "");
  ASSERT_EQ(GetRaw(file, raw), "");
  EXPECT_EQ(raw, a + b + c);
}

TEST(Raw, RefusedRawDataChangesNothing) {
  ScratchDir dir;
  std::string file = DataRoot(dir) + "/DADES/PressupH";
  std::string a = BudgetRecord("1", "AS", "10.00"), b = BudgetRecord("1", "NE", "20.00");
  // A length that is no whole number of records: the file is not even made.
  std::string e = PutRaw(file, a + "x").error;
  EXPECT_NE(e.find("not a whole number"), std::string::npos) << e;
  EXPECT_FALSE(fs::exists(dir / "DADES/PressupH.dat"));
  std::string raw;
  EXPECT_NE(GetRaw(file, raw), "");
  // A duplicate key half-way: none of the batch stays.
  ASSERT_EQ(PutRaw(file, a).error, "");
  std::string sameKey = BudgetRecord("1", "AS", "99.00");
  e = PutRaw(file, b + sameKey).error;
  EXPECT_NE(e.find("duplicate"), std::string::npos) << e;
  ASSERT_EQ(GetRaw(file, raw), "");
  EXPECT_EQ(raw, a);
  EXPECT_NE(PutRaw(dir / "DADES/Unknown", a).error, "");
}

// On a disk that has run full (a real small file system, where mounting is
// allowed) records that do not fit are refused whole, and the message says
// why in words, whether the file cannot even be opened or its commit fails.
TEST(Raw, AFullDiskIsToldAndNothingIsAdded) {
  ScratchDir dir;
  if (::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a small file system here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{dir.path()};
  const std::string file = DataRoot(dir) + "/DADES/PressupH";
  const std::string a = BudgetRecord("1", "AS", "10.00");
  ASSERT_EQ(PutRaw(file, a).error, "");
  std::string many;
  for (int i = 0; i < 5000; ++i) many += BudgetRecord(std::to_string(2 + i / 90), format::ZeroPad(i % 90, 2), "1.00");
  {
    std::FILE* filler = std::fopen((dir / "filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
  }
  const std::string e = PutRaw(file, many).error;
  EXPECT_NE(e.find("the disk is full"), std::string::npos) << e;
  fs::remove(dir / "filler");
  std::string raw;
  ASSERT_EQ(GetRaw(file, raw), "");
  EXPECT_EQ(raw, a);
}

TEST(Raw, RepeatsOfRecordsWithoutAPlaceAreNamedByTheirNumbers) {
  ScratchDir dir;
  std::string error;
  auto file = DataFile::Open(DataRoot(dir) + "/DADES/PressupH", true, error);
  ASSERT_TRUE(file) << error;
  const std::string a = BudgetRecord("1", "AS", "10.00"), b = BudgetRecord("1", "NE", "20.00");
  // Fewer places than records: the others are named by their number, the
  // first of a repeat too.
  const AddResult added =
      file->Add({a, b, a}, {"first"}, [](std::string_view r) { return std::string(r); }, AddOptions{});
  EXPECT_NE(added.error.find("record 3: the same record is also first"), std::string::npos) << added.error;
  const AddResult unnamed =
      file->Add({b, a, b}, {}, [](std::string_view r) { return std::string(r); }, AddOptions{});
  EXPECT_NE(unnamed.error.find("record 3: the same record is also record 1"), std::string::npos) << unnamed.error;
  EXPECT_EQ(unnamed.added, 0u);
  std::string raw;
  ASSERT_EQ(GetRaw(DataRoot(dir) + "/DADES/PressupH", raw), "");
  EXPECT_EQ(raw, "");
}

TEST(Raw, MissingFilesAreMadeFromTheInstalledDictionary) {
  ScratchDir dir;
  std::string root = DataRoot(dir);
  fs::create_directories(dir / "ddf");
  std::string creation = CreationRecord(*FindLayout("PressupH"));
  creation[0] = 24;  // a longer record than the built-in layout
  std::string dictionary = std::string(1, static_cast<char>(creation.size())) + '\0' + creation;
  std::ofstream(dir / "ddf/PressupH.xdf", std::ios::binary) << dictionary;
  std::string record = BudgetRecord("1", "NE", "5.00") + "tail";
  EXPECT_NE(PutRaw(root + "/DADES/PressupH", record.substr(0, static_cast<std::size_t>(FindLayout("PressupH")->recordLength))).error, "");
  EXPECT_FALSE(fs::exists(dir / "DADES/PressupH.dat"));
  ASSERT_EQ(PutRaw(root + "/DADES/PressupH", record).error, "");
  std::string raw;
  ASSERT_EQ(GetRaw(root + "/DADES/PressupH", raw), "");
  EXPECT_EQ(raw, record);
  // CSV rows are widened to the file's records.
  ASSERT_EQ(ImportCsv(root + "/DADES/PressupH", "property,concept,budget\n0002,AS,1.00\n").error, "");
  ASSERT_EQ(GetRaw(root + "/DADES/PressupH", raw), "");
  EXPECT_EQ(raw.size(), 48u);
}

// A file system whose writes find the disk full.
class FullDisk : public platform::FileSystemWrapper {
 public:
  FullDisk() : FileSystemWrapper(platform::RealFileSystem()) {}
  std::unique_ptr<platform::File> Open(const std::string& path, unsigned flags, platform::FileStatus& status,
                                       mode_t mode) override {
    std::unique_ptr<platform::File> file = target().Open(path, flags, status, mode);
    if (!file) return file;
    return std::make_unique<Full>(std::move(file));
  }
  platform::FileStatus WriteWholeFile(const std::string& path, std::string_view bytes, bool,
                                      mode_t mode) override {
    platform::FileStatus status;
    std::unique_ptr<platform::File> file =
        Open(path, platform::kOpenCreate | platform::kOpenTruncate, status, mode);
    if (file) status = file->WriteAt(0, bytes);
    return status;
  }

 private:
  struct Full : platform::FileWrapper {
    using FileWrapper::FileWrapper;
    platform::FileStatus WriteAt(std::uint64_t, std::string_view) override { return {ENOSPC}; }
  };
};

// The settings the demo fills in are not lost when they cannot be written.
TEST(DemoRoot, ASettingsFileThatCannotBeRewrittenStaysAsItWas) {
  ScratchDir dir;
  std::string lines;
  ASSERT_EQ(InitRoot(dir.path(), 20261208, lines), "");
  const std::string before = platform::ReadWholeFile(dir / "Vora.ini").bytes;
  ASSERT_NE(before, "");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename());
  {
    FullDisk full;
    platform::ScopedFileSystem scoped(full);
    EXPECT_EQ(FillDemo(dir.path(), 20261208), (dir / "Vora.ini") + ": No space left on device");
  }
  EXPECT_EQ(platform::ReadWholeFile(dir / "Vora.ini").bytes, before);
  std::set<std::string> after;
  for (const auto& entry : fs::directory_iterator(dir.path())) after.insert(entry.path().filename());
  EXPECT_EQ(after, names);
}

class Demo : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string lines;
    ASSERT_EQ(InitRoot(dir_.path(), 20261208, lines), "");
    EXPECT_NE(lines.find("export KITROOT=" + dir_.path() + "/\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("export KITTMP=" + dir_.path() + "/TMP/\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("export KITEXE="), std::string::npos) << lines;
    ASSERT_EQ(FillDemo(dir_.path(), 20261208), "");
  }
  std::string File(const std::string& base) const { return dir_.path() + "/DADES/" + base; }
  std::vector<std::string> Records(const std::string& base) const {
    std::string error;
    auto f = DataFile::Open(File(base), false, error);
    EXPECT_TRUE(f.has_value()) << error;
    std::vector<std::string> r;
    if (f) {
      EXPECT_EQ(f->ReadAll(r), "");
    }
    return r;
  }
  ScratchDir dir_;
};

TEST_F(Demo, RootHoldsTheSuiteFilesAndSettings) {
  for (const char* f : {"FORMS/REPQUOTA.JPN", "LOCALE/REPQUOTA.LNG", "Vora.ini", "TMP/Sessio.ini", "TMP/VoraTerm.ini"})
    EXPECT_TRUE(fs::exists(dir_ / f)) << f;
  EXPECT_TRUE(fs::is_directory(dir_ / "LOCKS"));
  // Shared by the suite's group, as the module makes it, whatever the umask.
  struct stat locks {};
  ASSERT_EQ(::stat((dir_ / "LOCKS").c_str(), &locks), 0);
  EXPECT_EQ(locks.st_mode & 07777, 02770u);
  std::string term = platform::ReadWholeFile(dir_ / "TMP/VoraTerm.ini").bytes;
  EXPECT_NE(term.find("Data=20261208\r\n"), std::string::npos);
  std::string vora = platform::ReadWholeFile(dir_ / "Vora.ini").bytes;
  EXPECT_NE(vora.find("[Administrador]\r\nLinia1=FINQUES"), std::string::npos) << vora;
  EXPECT_NE(vora.find("\r\nNIF=ES38123456Z\r\n"), std::string::npos) << vora;
  EXPECT_NE(vora.find("ADMINISTRACI\xE0"), std::string::npos) << "code page 850 Ó";
  // A second init keeps settings the administrator has edited.
  std::ofstream(dir_ / "Vora.ini", std::ios::app) << "Membret=EDITED\r\n";
  std::string lines;
  ASSERT_EQ(InitRoot(dir_.path(), 20270101, lines), "");
  EXPECT_NE(platform::ReadWholeFile(dir_ / "Vora.ini").bytes.find("EDITED"), std::string::npos);
}

TEST_F(Demo, TheModuleOpensTheFilesAndWalksTheFirstProperty) {
  // As the module does: from the root, by its own names, through the data layer.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_.path());
  const std::pair<std::int16_t, const char*> files[] = {
      {501, "DADES\\TDespesa"}, {504, "DADES\\THRebut"}, {511, "DADES\\FinquesH"}, {512, "DADES\\FinDespH"},
      {513, "DADES\\PropietH"}, {515, "DADES\\PagamH"},  {514, "DADES\\CobramH"},  {516, "DADES\\PressupH"}};
  static std::array<std::array<char, 1024>, 8> areas{};
  data::ClearFileTable();
  for (std::size_t i = 0; i < 8; ++i) ASSERT_EQ(data::OpenDataFile(files[i].first, files[i].second, areas[i]), 0);
  const std::string property = format::PackDigits("0001");
  ASSERT_EQ(data::ReadByKey(511, 0, property, 0), 0);
  std::string record(areas[2].data(), static_cast<std::size_t>(data::KeyInfo(511, 0).RecordLength));
  EXPECT_EQ(FieldText(FieldOf("FinquesH", "period_months"), record), "12");
  EXPECT_EQ(FieldText(FieldOf("FinquesH", "name_b"), record), "ESCALA");
  int owners = 0;
  for (std::int16_t st = data::ReadByKey(513, 0, property, 1); st == 0 && std::string(areas[4].data(), 2) == property;
       st = data::StepRecords(513, 1))
    ++owners;
  EXPECT_EQ(owners, 8);
  const std::string from = property + format::PackDate(2026, 1, 1), to = property + format::PackDate(2026, 12, 31);
  int payments = 0;
  for (std::int16_t st = data::ReadByKey(515, 0, from, 1); st == 0 && std::string(areas[5].data(), 6) <= to;
       st = data::StepRecords(515, 1))
    ++payments;
  EXPECT_GT(payments, 12);
  EXPECT_EQ(data::ReadByKey(516, 0, property + "NE", 0), 0);
  EXPECT_EQ(data::ResetDataFiles(), 0);
  fs::current_path(cwd);
}

TEST_F(Demo, FirstPropertyHasACurrentPeriodWithPaymentsAndReceiptsAhead) {
  auto properties = Records("FinquesH");
  ASSERT_EQ(properties.size(), 3u);
  // Column totals agree with the owners' coefficients.
  auto owners = Records("PropietH");
  std::array<long, 8> sums{};
  std::size_t firstOwners = 0;
  for (const auto& o : owners) {
    if (FieldText(FieldOf("PropietH", "owner"), o).substr(0, 4) != "0001") continue;
    ++firstOwners;
    for (char k = 'a'; k <= 'g'; ++k)
      sums[static_cast<std::size_t>(k - 'a')] += std::stol(FieldText(FieldOf("PropietH", std::string("coef_") + k), o));
  }
  EXPECT_EQ(firstOwners, 8u);
  EXPECT_EQ(sums[0], 1000000);
  for (char k = 'b'; k <= 'g'; ++k)
    EXPECT_EQ(std::to_string(sums[static_cast<std::size_t>(k - 'a')]),
              FieldText(FieldOf("FinquesH", std::string("total_") + k), properties[0]));
  // Payments of 2026 up to the given day, of both kinds.
  int general = 0, particular = 0;
  for (const auto& p : Records("PagamH")) {
    if (FieldText(FieldOf("PagamH", "property"), p) != "0001") continue;
    std::string date = FieldText(FieldOf("PagamH", "date"), p);
    EXPECT_GE(date, "2026-01-01");
    EXPECT_LE(date, "2026-12-08");
    (FieldText(FieldOf("PagamH", "kind"), p) == "N" ? general : particular)++;
  }
  EXPECT_GT(general, 12);
  EXPECT_EQ(particular, 1);
  // The administration fee is the module's own computation for its line:
  // no payment of it, or the demo would count it twice.
  for (const auto& p : Records("PagamH")) EXPECT_NE(FieldText(FieldOf("PagamH", "concept"), p), "HO");
  int ahead = 0;
  for (const auto& c : Records("CobramH"))
    if (FieldText(FieldOf("CobramH", "date"), c) >= "2027-01-01") ++ahead;
  EXPECT_GT(ahead, 0);
  EXPECT_EQ(Records("PressupH").size(), 4u);
  auto types = Records("THRebut");
  ASSERT_GE(types.size(), 2u);
  std::set<std::string> kinds;
  for (const auto& t : types) kinds.insert(FieldText(FieldOf("THRebut", "kind"), t) == "0" ? "funds" : "other");
  EXPECT_EQ(kinds.size(), 2u);
  // The module's default receipt concept must be one it accepts.
  EXPECT_EQ(FieldText(FieldOf("THRebut", "number"), types[0]), "1");
  EXPECT_EQ(FieldText(FieldOf("THRebut", "kind"), types[0]), "0");
}

TEST_F(Demo, ASecondDemoIsRefusedAndChangesNothing) {
  std::string before;
  ASSERT_EQ(GetRaw(File("PagamH"), before), "");
  EXPECT_NE(FillDemo(dir_.path(), 20261208), "");
  std::string after;
  ASSERT_EQ(GetRaw(File("PagamH"), after), "");
  EXPECT_EQ(before, after);
}

TEST_F(Demo, ExportThenImportGivesTheSameRecords) {
  for (const FileLayout& l : Layouts()) {
    std::string csv;
    ASSERT_EQ(ExportCsv(File(l.base), csv), "") << l.base;
    ScratchDir other;
    std::string target = DataRoot(other) + "/DADES/" + l.base;
    ASSERT_EQ(ImportCsv(target, csv).error, "") << l.base;
    std::string again;
    ASSERT_EQ(ExportCsv(target, again), "");
    EXPECT_EQ(again, csv) << l.base;
    std::string rawBefore, rawAfter;
    ASSERT_EQ(GetRaw(File(l.base), rawBefore), "");
    ASSERT_EQ(GetRaw(target, rawAfter), "");
    EXPECT_EQ(rawAfter, rawBefore) << l.base;
  }
}

// The export hands its lines on as it reads; output that cannot be written
// stops it with an error rather than a CSV cut short without a word.
TEST_F(Demo, AnExportStopsAtTheFirstLineThatCannotBeWritten) {
  std::string whole;
  ASSERT_EQ(ExportCsv(File("CobramH"), whole), "");
  std::vector<std::string> lines;
  const auto upTo = [&lines](std::size_t most) {
    return [&lines, most](std::string_view line) {
      if (lines.size() == most) return false;
      lines.emplace_back(line);
      return true;
    };
  };
  ASSERT_EQ(ExportCsv(File("CobramH"), upTo(SIZE_MAX)), "");
  std::string joined;
  for (const std::string& l : lines) joined += l;
  EXPECT_EQ(joined, whole);
  ASSERT_GT(lines.size(), 3u);
  lines.clear();
  const std::string e = ExportCsv(File("CobramH"), upTo(3));
  EXPECT_NE(e.find("CobramH"), std::string::npos) << e;
  EXPECT_NE(e.find("could not be written"), std::string::npos) << e;
  EXPECT_EQ(lines.size(), 3u);
  // Nor is the rest of the file read for nothing.
  std::string error;
  auto file = DataFile::Open(File("CobramH"), false, error);
  ASSERT_TRUE(file) << error;
  int asked = 0;
  EXPECT_EQ(file->ReadEach([&asked](std::string_view) { return ++asked < 2; }), "");
  EXPECT_EQ(asked, 2);
}

TEST_F(Demo, RefusedCsvNamesTheLineAndInsertsNothing) {
  std::string csv;
  ASSERT_EQ(ExportCsv(File("CobramH"), csv), "");
  std::string before = csv;
  struct Case {
    const char* csv;
    const char* message;
  };
  const Case cases[] = {
      {"owner,date,amount\n00010009,2030-01-01,1.00\n00010009,2030-02-30,1.00\n", "line 3"},
      {"owner,date,amount\n00010009,2030-01-01,1.00\n00010009,2030-03-01\n", "line 3"},
      {"owner,date,amount,extra\n", "unknown field"},
      {"owner,date,amount\n\"00010009,2030-01-01,1.00\n", "quote not closed"},
  };
  for (const Case& c : cases) {
    std::string e = ImportCsv(File("CobramH"), c.csv).error;
    EXPECT_NE(e.find(c.message), std::string::npos) << e;
    EXPECT_NE(e.find("nothing inserted"), std::string::npos) << e;
    ASSERT_EQ(ExportCsv(File("CobramH"), csv), "");
    EXPECT_EQ(csv, before);
  }
  // Fields left out of the header are empty.
  ASSERT_EQ(ImportCsv(File("CobramH"), "date,owner\n2030-01-01,00010009\n").error, "");
  ASSERT_EQ(ExportCsv(File("CobramH"), csv), "");
  EXPECT_NE(csv.find("\n00010009,2030-01-01,0.00\n"), std::string::npos);
  // A duplicate key in an otherwise good file rolls the whole file back.
  std::string e = ImportCsv(File("PressupH"),
                            "property,concept,column,percent_thousandths,amount,budget\n"
                            "0009,NE,B,0,0,1.00\n0001,NE,B,0,0,1.00\n")
                      .error;
  EXPECT_NE(e.find("line 3"), std::string::npos) << e;
  EXPECT_EQ(Records("PressupH").size(), 4u);
}

// Records of CobramH and PagamH as the module keeps them; their key allows
// duplicates, so only the check on identical records keeps them from doubling.
TEST_F(Demo, AddingTheSameRecordsTwiceIsRefusedUnlessAllowed) {
  for (const char* base : {"CobramH", "PagamH"}) {
    std::string csv;
    ASSERT_EQ(ExportCsv(File(base), csv), "");
    const std::size_t count = Records(base).size();
    ASSERT_GT(count, 2u);
    AddResult again = ImportCsv(File(base), csv);
    EXPECT_EQ(again.added, 0u);
    EXPECT_NE(again.error.find("CSV line 2: the same record is already in " + dir_.path() + "/DADES/" + base +
                               ".dat"),
              std::string::npos)
        << again.error;
    EXPECT_NE(again.error.find("CSV line " + std::to_string(count + 1) + ": the same record is already in"),
              std::string::npos)
        << again.error;
    EXPECT_NE(again.error.find("nothing inserted"), std::string::npos) << again.error;
    EXPECT_EQ(Records(base).size(), count);
    // The user may say that they are meant.
    AddResult allowed = ImportCsv(File(base), csv, AddOptions{.allowDuplicates = true});
    EXPECT_EQ(allowed.error, "");
    EXPECT_EQ(allowed.added, count);
    EXPECT_EQ(Records(base).size(), 2 * count);
  }
  // Two identical lines of one CSV, the second named with the first.
  const std::string header = "owner,date,amount\n";
  AddResult twice = ImportCsv(File("CobramH"), header +
                                                   "00010009,2030-01-01,1.00\n00010009,2030-02-01,1.00\n"
                                                   "00010009,2030-01-01,1.00\n");
  EXPECT_NE(twice.error.find("CSV line 4: the same record is also CSV line 2"), std::string::npos)
      << twice.error;
  EXPECT_EQ(twice.error.find("line 3"), std::string::npos) << twice.error;
  // Different records of the same key are still added, and counted.
  AddResult added =
      ImportCsv(File("CobramH"), header + "00010009,2030-01-01,1.00\n00010009,2030-01-01,2.00\n");
  EXPECT_EQ(added.error, "");
  EXPECT_EQ(added.added, 2u);
  EXPECT_EQ(added.path, dir_.path() + "/DADES/CobramH.dat");
  // Raw records: the same bytes.
  std::string raw;
  ASSERT_EQ(GetRaw(File("PagamH"), raw), "");
  const std::size_t length = static_cast<std::size_t>(FindLayout("PagamH")->recordLength);
  AddResult rawAgain = PutRaw(File("PagamH"), raw.substr(0, length));
  EXPECT_NE(rawAgain.error.find("record 1 (byte 0): the same record is already in"), std::string::npos)
      << rawAgain.error;
  EXPECT_EQ(rawAgain.added, 0u);
}

// CSV text that is one text on the first reading and another afterwards,
// as a file rewritten while it is imported.
class ChangingCsv : public CsvInput {
 public:
  ChangingCsv(std::string first, std::string later) : first_(std::move(first)), later_(std::move(later)) {}
  std::string Read(const std::function<bool(std::string_view)>& block) override {
    block(reads_++ == 0 ? first_ : later_);
    return {};
  }
  int reads_ = 0;

 private:
  std::string first_, later_;
};

TEST_F(Demo, ACsvFileIsImportedAsItsTextAndOnlyTheTextCheckedIsInserted) {
  // The exported records, imported from a file into an empty file of a
  // second root, come back as they were; progress ends at every record added.
  std::string csv;
  ASSERT_EQ(ExportCsv(File("PagamH"), csv), "");
  ScratchDir other;
  const std::string target = DataRoot(other) + "/DADES/PagamH";
  ASSERT_TRUE(platform::WriteWholeFile(other.path() + "/pay.csv", csv).ok());
  CsvFile file(other.path() + "/pay.csv");
  std::size_t lastDone = 0, lastTotal = 0;
  AddResult result = ImportCsv(target, file, {}, [&](std::string_view stage, std::size_t done, std::size_t total) {
    if (stage == "adding") lastDone = done, lastTotal = total;
  });
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.added, Records("PagamH").size());
  EXPECT_EQ(lastDone, result.added);
  EXPECT_EQ(lastTotal, result.added);
  std::string back;
  ASSERT_EQ(ExportCsv(target, back), "");
  EXPECT_EQ(back, csv);
  // A file that cannot be read is named with the reason, and nothing is made.
  CsvFile missing(other.path() + "/none.csv");
  EXPECT_EQ(ImportCsv(other.path() + "/DADES/CobramH", missing).error,
            other.path() + "/none.csv: No such file or directory; nothing inserted");
  EXPECT_FALSE(fs::exists(other.path() + "/DADES/CobramH.dat"));

  // Text that changes after it was checked (a line more, a line broken)
  // inserts nothing.
  const std::size_t before = Records("CobramH").size();
  const std::string good = "owner,date,amount\n00010009,2031-01-01,1.00\n";
  for (const std::string& later : {good + "00010009,2031-02-01,1.00\n", good + "00010009,2031-02-30,1.00\n",
                                   std::string("owner,date,amount\n")}) {
    ChangingCsv changing(good, later);
    AddResult changed = ImportCsv(File("CobramH"), changing);
    EXPECT_NE(changed.error.find("nothing inserted"), std::string::npos) << changed.error;
    EXPECT_EQ(changed.added, 0u);
    EXPECT_EQ(Records("CobramH").size(), before);
    EXPECT_GE(changing.reads_, 2);
  }
}

// Each repeat is named once, with the first of its kind: the file's record
// before any line, the lowest line before later ones; records the file
// itself holds twice are not the import's business.
TEST_F(Demo, EveryRepeatIsNamedWithTheFirstOfItsKindInLineOrder) {
  const std::string header = "owner,date,amount\n";
  const std::string a = "00010009,2032-01-01,1.00\n", b = "00010009,2032-02-01,2.00\n";
  ASSERT_EQ(ImportCsv(File("CobramH"), header + a + a, AddOptions{.allowDuplicates = true}).added, 2u);
  std::vector<std::string> refusals;
  const std::string text = header + b + a + b + b + "00010009,2032-03-01,3.00\n";
  CsvText csv(text);
  AddResult result =
      ImportCsv(File("CobramH"), csv, {}, {}, [&](const std::string& line) { refusals.push_back(line); });
  const std::string file = dir_.path() + "/DADES/CobramH.dat";
  EXPECT_EQ(refusals, (std::vector<std::string>{"CSV line 3: the same record is already in " + file,
                                                 "CSV line 4: the same record is also CSV line 2",
                                                 "CSV line 5: the same record is also CSV line 2"}));
  EXPECT_EQ(result.error, "nothing inserted (--allow-duplicates inserts repeated records all the same)");
  EXPECT_EQ(result.added, 0u);
}

TEST(Csv, StoredBytesThatAreNoCodeOrDateComeBackUnchanged) {
  ScratchDir from, to;
  const std::string source = DataRoot(from) + "/DADES/CobramH", target = DataRoot(to) + "/DADES/CobramH";
  const FileLayout& layout = *FindLayout("CobramH");
  auto record = [&](std::string_view owner, std::string_view date) {
    std::string r(static_cast<std::size_t>(layout.recordLength), ' ');
    r.replace(0, 4, owner);
    r.replace(4, 4, date);
    return r;
  };
  const std::string owner = format::PackDigits("00010001");
  const std::vector<std::string> records = {
      record(owner, format::PackDigits("20260015")),                               // month 0
      record(owner, format::PackDigits("20261300")),                               // month 13, day 0
      record(owner, format::ZeroDate()),                                           // no date
      record(owner, format::PackDigits("00000101")),                               // year 0
      record(owner, std::string("\x00\xff\x41\x94", 4)),                           // no digits at all
      record(std::string("\x20\x20\x81\x82", 4), format::PackDigits("20260301")),  // an owner of blanks
  };
  std::string raw;
  for (const std::string& r : records) raw += r;
  ASSERT_EQ(PutRaw(source, raw).error, "");
  std::string csv;
  ASSERT_EQ(ExportCsv(source, csv), "");
  EXPECT_NE(csv.find(",#949A808F,"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",#00FF4194,"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\n#20208182,2026-03-01,"), std::string::npos) << csv;
  AddResult imported = ImportCsv(target, csv);
  ASSERT_EQ(imported.error, "");
  EXPECT_EQ(imported.added, records.size());
  std::string back, original;
  ASSERT_EQ(GetRaw(source, original), "");
  ASSERT_EQ(GetRaw(target, back), "");
  EXPECT_EQ(back, original);
}

int RunTool(const std::string& args) {
  int status = std::system((std::string(KITDATA_EXE) + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Program, UsageErrorsExitTwoAndFailuresNonZero) {
  ScratchDir dir;
  EXPECT_EQ(RunTool(""), 2);
  EXPECT_EQ(RunTool("--help"), 0);
  EXPECT_EQ(RunTool("frobnicate"), 2);
  EXPECT_EQ(RunTool("put onlyone"), 2);
  EXPECT_EQ(RunTool("demo " + dir.path() + " 2026-99-01"), 2);
  EXPECT_EQ(RunTool("demo " + dir.path() + " 2026-02-31"), 2);
  EXPECT_EQ(RunTool("demo " + dir.path() + " 2026-04-31"), 2);
  EXPECT_EQ(RunTool("get " + dir.path() + "/DADES/PressupH"), 1);
  EXPECT_EQ(RunTool("import " + dir.path() + "/DADES/PressupH " + dir.path() + "/none.csv"), 1);
  ASSERT_EQ(RunTool("init " + dir.path() + "/root"), 0);
  ASSERT_EQ(RunTool("demo " + dir.path() + "/root 2026-03-15"), 0);
  ASSERT_EQ(RunTool("get " + dir.path() + "/root/DADES/PropietH " + dir.path() + "/owners.raw"), 0);
  std::string raw = platform::ReadWholeFile(dir / "owners.raw").bytes;
  EXPECT_EQ(raw.size() % static_cast<std::size_t>(FindLayout("PropietH")->recordLength), 0u);
  EXPECT_EQ(raw.size() / static_cast<std::size_t>(FindLayout("PropietH")->recordLength), 14u);
}

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun RunToolOutput(const ScratchDir& dir, const std::string& args) {
  const std::string out = dir / "tool.out", err = dir / "tool.err";
  const int status = std::system((std::string(KITDATA_EXE) + " " + args + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, platform::ReadWholeFile(out).bytes,
          platform::ReadWholeFile(err).bytes};
}

// A usage error says first what was wrong, then how the tool is used.
TEST(Program, AUsageErrorSaysWhatWasWrong) {
  ScratchDir dir;
  const struct {
    std::string args, said;
  } cases[] = {
      {"frobnicate", "kitdata: unknown command frobnicate\nusage: kitdata init"},
      {"put onlyone", "kitdata: wrong arguments for put\nusage:"},
      {"import --quick a b", "kitdata: unknown option --quick\nusage:"},
      {"demo " + dir.path() + " 2026-02-31", "kitdata: not a day of the calendar (YYYY-MM-DD): 2026-02-31\nusage:"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunToolOutput(dir, c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_EQ(run.err.rfind(c.said, 0), 0u) << c.args << "\n" << run.err;
  }
}

TEST(Program, ImportSaysHowManyRecordsItAddedAndRefusesTheSameFileTwice) {
  ScratchDir dir;
  const std::string data = DataRoot(dir) + "/DADES/PagamH";
  dir.Write("pay.csv", "property,date,concept,amount\n0001,2026-01-05,NE,10.00\n0001,2026-01-05,AS,20.00\n");
  ToolRun first = RunToolOutput(dir, "import " + data + " " + (dir / "pay.csv"));
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "2 records added to " + data + ".dat\n");
  ToolRun second = RunToolOutput(dir, "import " + data + " " + (dir / "pay.csv"));
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("kitdata: " + (dir / "pay.csv") + ", line 2: the same record is already in"),
            std::string::npos)
      << second.err;
  EXPECT_NE(second.err.find("kitdata: " + (dir / "pay.csv") + ", line 3: the same record is already in"),
            std::string::npos)
      << second.err;
  EXPECT_NE(second.err.find("kitdata: 0 records added to " + data + ".dat\n"), std::string::npos)
      << second.err;
  ToolRun allowed = RunToolOutput(dir, "import --allow-duplicates " + data + " " + (dir / "pay.csv"));
  EXPECT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_EQ(allowed.out, "2 records added to " + data + ".dat\n");
  EXPECT_EQ(RunToolOutput(dir, "import --sideways " + data + " " + (dir / "pay.csv")).status, 2);
  std::string raw;
  ASSERT_EQ(GetRaw(data, raw), "");
  EXPECT_EQ(raw.size(), 4u * static_cast<std::size_t>(FindLayout("PagamH")->recordLength));
}

TEST(Program, ADirectoryWhereAFileIsExpectedIsNamedWithTheReason) {
  ScratchDir dir;
  const std::string data = DataRoot(dir) + "/DADES/PressupH";
  fs::create_directories(dir / "input");
  for (const char* command : {"import", "put"}) {
    ToolRun run = RunToolOutput(dir, std::string(command) + " " + data + " " + (dir / "input"));
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.err, "kitdata: " + (dir / "input") + ": Is a directory\n") << command;
  }
  // The dictionary a missing data file is made from.
  fs::create_directories(dir / "ddf/PressupH.xdf");
  dir.Write("budget.csv", "property,concept,budget\n0001,NE,1.00\n");
  ToolRun dictionary = RunToolOutput(dir, "import " + data + " " + (dir / "budget.csv"));
  EXPECT_EQ(dictionary.status, 1);
  EXPECT_NE(dictionary.err.find("kitdata: " + (dir / "ddf/PressupH.xdf") + ": Is a directory\n"),
            std::string::npos)
      << dictionary.err;
  EXPECT_FALSE(fs::exists(dir / "DADES/PressupH.dat"));
  // The raw file get writes.
  fs::create_directories(dir / "out.raw");
  fs::remove(dir / "ddf/PressupH.xdf");
  ASSERT_EQ(RunToolOutput(dir, "import " + data + " " + (dir / "budget.csv")).status, 0);
  ToolRun get = RunToolOutput(dir, "get " + data + " " + (dir / "out.raw"));
  EXPECT_EQ(get.status, 1);
  EXPECT_EQ(get.err, "kitdata: " + (dir / "out.raw") + ": Is a directory\n");
}

TEST(Program, DemoNamesAVoraIniThatCannotBeRead) {
  ScratchDir dir;
  ASSERT_EQ(RunTool("init " + dir.path() + "/root"), 0);
  fs::remove(dir / "root/Vora.ini");
  fs::create_directories(dir / "root/Vora.ini");
  ToolRun demo = RunToolOutput(dir, "demo " + dir.path() + "/root 2026-03-15");
  EXPECT_EQ(demo.status, 1);
  EXPECT_EQ(demo.err, "kitdata: " + dir.path() + "/root/Vora.ini: Is a directory\n");
}

// Output that cannot be written is a failure, whatever its size: a write
// larger than the stream's buffer goes past it and fails there, not at the
// flush.
TEST(Program, StandardOutputThatCannotBeWrittenIsAFailure) {
  ScratchDir dir;
  ASSERT_EQ(RunTool("init " + dir.path() + "/root"), 0);
  std::string receipts = "owner,date,amount\n";
  for (int i = 1; i <= 2000; ++i) receipts += "00010001,2026-01-01," + std::to_string(i) + ".00\n";
  dir.Write("receipts.csv", receipts);
  const std::string data = dir.path() + "/root/DADES/CobramH";
  ASSERT_EQ(RunTool("import " + data + " " + (dir / "receipts.csv")), 0);
  for (const std::string& args : {"get " + data, "export " + data, "init " + dir.path() + "/other",
                                  "import --allow-duplicates " + data + " " + (dir / "receipts.csv")}) {
    const int status = std::system((std::string(KITDATA_EXE) + " " + args + " >/dev/full 2>/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << args;
  }
}
// An administrator importing several files is told which one is wrong, and
// where in it; nothing of it goes in.
TEST(Program, ImportErrorsNameTheCsvFileAndItsLine) {
  ScratchDir dir;
  const std::string data = DataRoot(dir) + "/DADES/PagamH";
  const std::string header = "property,date,concept,amount\n";
  const std::string good = "0001,2026-01-05,NE,10.00\n";
  const std::pair<std::string, std::string> cases[] = {
      {header + good + "0001,2026-02-30,NE,10.00\n", ", line 3: date: 2026-02-30 is not a calendar date"},
      {header + good + "0001,2026-01-06,NE\n", ", line 3: 3 fields, the header has 4"},
      {header + good + "\"0001,2026-01-06,NE,1.00\n", ", line 3: quote not closed"},
      {"property,date,concept,amont\n" + good, ", line 1: unknown field \"amont\""},
      {header + good + good, ", line 3: the same record is also " + (dir / "in put.csv") + ", line 2"},
      {"", ": no header line"},
  };
  for (const auto& [csv, said] : cases) {
    dir.Write("in put.csv", csv);
    ToolRun run = RunToolOutput(dir, "import " + data + " '" + (dir / "in put.csv") + "'");
    EXPECT_EQ(run.status, 1) << said;
    EXPECT_NE(run.err.find("kitdata: " + (dir / "in put.csv") + said), std::string::npos) << run.err;
    std::string raw;
    GetRaw(data, raw);
    EXPECT_EQ(raw, "") << said;
  }
}

// A raw file that cannot be written whole is left as it was.
TEST(Raw, GetLeavesTheRawFileAsItWasWhenItCannotBeWritten) {
  ScratchDir dir;
  const std::string data = DataRoot(dir) + "/DADES/PressupH";
  ASSERT_EQ(PutRaw(data, BudgetRecord("0001", "NE", "10.00")).error, "");
  dir.Write("budget.raw", "last month's records");
  {
    FullDisk full;
    platform::ScopedFileSystem scoped(full);
    EXPECT_EQ(GetRawToFile(data, dir / "budget.raw"), (dir / "budget.raw") + ": No space left on device");
  }
  EXPECT_EQ(platform::ReadWholeFile(dir / "budget.raw").bytes, "last month's records");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"DADES", "budget.raw"}));
  ASSERT_EQ(GetRawToFile(data, dir / "budget.raw"), "");
  EXPECT_EQ(platform::ReadWholeFile(dir / "budget.raw").bytes, BudgetRecord("0001", "NE", "10.00"));

  // Written through a symbolic link, the file it names is replaced and the
  // link stays.
  fs::create_symlink(dir / "budget.raw", dir / "link.raw");
  ASSERT_EQ(PutRaw(data, BudgetRecord("0001", "AS", "20.00")).error, "");
  ASSERT_EQ(GetRawToFile(data, dir / "link.raw"), "");
  EXPECT_TRUE(fs::is_symlink(dir / "link.raw"));
  EXPECT_EQ(platform::ReadWholeFile(dir / "budget.raw").bytes,
            BudgetRecord("0001", "AS", "20.00") + BudgetRecord("0001", "NE", "10.00"));
}

}  // namespace
}  // namespace kitdata
