// Making a suite root: the installed suite files, the data and lock
// directories, the configuration files, and demo records.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <filesystem>
#include <unistd.h>

#include "base/cp850.h"
#include "data/locks_store.h"
#include "format/dates.h"
#include "format/numbers.h"
#include "platform/file_system.h"
#include "tools/kitdata/kitdata.h"

#ifndef KIT_SUITE_DIR
#define KIT_SUITE_DIR ""
#endif

namespace fs = std::filesystem;

namespace kitdata {
namespace {

// The administrator's letterhead (six lines), tax identification number and
// place name, as the listings print them; init leaves them to fill in.
constexpr const char* kBlankAdministrator =
    "[Administrador]\nLinia1=\nLinia2=\nLinia3=\nLinia4=\nLinia5=\nLinia6=\nNIF=\nPoblacio=\n";
constexpr const char* kDemoAdministrator =
    "[Administrador]\nLinia1=FINQUES CASTELL I ASSOCIATS\nLinia2=ADMINISTRACIÓ DE FINQUES\n"
    "Linia3=PASSEIG DE SANT JOAN, 41, 2n 1a\nLinia4=08009 BARCELONA\nLinia5=TEL. 934 567 890\nLinia6=\n"
    "NIF=ES38123456Z\nPoblacio=BARCELONA\n";

// CP850 with CR LF, as the INI files are written.
std::string IniBytes(const std::string& utf8Lines) {
  std::string text;
  for (char c : base::Utf8ToCp850(utf8Lines)) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

// INI text as the suite keeps it: code page 850, CR LF line ends.
std::string WriteIni(const fs::path& file, const std::string& utf8Lines, bool keepExisting) {
  std::error_code ec;
  if (keepExisting && fs::exists(file, ec)) return {};
  const platform::FileStatus written = platform::WriteWholeFile(file.string(), IniBytes(utf8Lines));
  if (!written.ok()) return file.string() + ": " + written.Describe();
  return {};
}

std::string Slash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

// The directory holding the print program, for KITEXE.
std::string ProgramDir() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  fs::path dir = self.parent_path();
  if (fs::exists(dir / "kitprint", ec)) return Slash(dir.string());
  if (fs::exists(dir.parent_path() / "kitprint" / "kitprint", ec)) return Slash((dir.parent_path() / "kitprint").string());
  return Slash(dir.string());
}

// One demo record, filled in field by field from the texts kitdata's CSV
// columns take.
class DemoRecord {
 public:
  explicit DemoRecord(const FileLayout& layout)
      : layout_(layout), bytes_(static_cast<std::size_t>(layout.recordLength), ' ') {}

  DemoRecord& Set(const std::string& field, const std::string& text) {
    for (const auto& f : layout_.fields)
      if (f.name == field) {
        std::string e = SetField(f, text, bytes_);
        if (!e.empty()) throw std::runtime_error(layout_.base + " demo record: " + e);
        return *this;
      }
    throw std::runtime_error(layout_.base + ": no field " + field);
  }
  const FileLayout& Layout() const { return layout_; }
  const std::string& Bytes() const { return bytes_; }

 private:
  const FileLayout& layout_;
  std::string bytes_;
};

// The demo's records of each data file, by its base name.
class DemoRecords {
 public:
  // A new record of data file `base`, added with Add once it is filled in.
  static DemoRecord New(std::string_view base) { return DemoRecord(*FindLayout(base)); }
  void Add(const DemoRecord& record) { records_[record.Layout().base].push_back(record.Bytes()); }
  const std::vector<std::string>& Of(const std::string& base) { return records_[base]; }

 private:
  std::map<std::string, std::vector<std::string>> records_;
};

std::string Euros(std::int64_t cents) {
  std::string sign = cents < 0 ? "-" : "";
  if (cents < 0) cents = -cents;
  std::string c = std::to_string(cents % 100);
  if (c.size() < 2) c.insert(0, "0");
  return sign + std::to_string(cents / 100) + "." + c;
}

std::string IsoDate(int number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", number / 10000, number / 100 % 100, number % 100);
  return buf;
}

int AddMonths(int date, int months) {
  return format::DateNumber(format::AddToDate(format::PackDate(date), months, "M"));
}

struct Owner {
  const char* name;
  const char* department;
  int coefficients[7];  // millionths per column A..G
  int monthly;          // cents per month, receipt slot 1
};

// What was paid for a concept. No administration fee ("HO") among them:
// the module works the fee out itself for that line, and a paid fee would
// be added to it a second time.
struct Payment {
  const char* conceptCode;
  const char* description;
  int cents;
  char kind;
  int column;
  int everyMonths;  // 1 monthly, 3 quarterly, 12 once a period
};

struct Property {
  int code;
  const char* name;
  int firstMonth, periodMonths, fee, rateIndex;
  const char* taxId;
  const char* columnNames[6];  // B..G
  const char* conceptColumns;
  std::vector<Owner> owners;
  std::vector<Payment> payments;
  int ownersIssuedAhead;  // the first owners whose receipts for the next period are out
};

std::vector<Property> DemoProperties() {
  std::vector<Property> p;
  p.push_back({1, "MALLORCA, 245 *COMUNITAT PROP.", 1, 12, 650, 0, "ESH08123456",
               {"ESCALA", "ASCENSOR", "", "", "", ""},
               "HOANEBASCENAAGAACAMAAREA",
               {{"GARCIA PUIG *JORDI", "BAIXOS", {160000, 0, 0}, 9500},
                {"FERRER SOLÉ *MONTSERRAT", "1r 1a", {120000, 142857, 142857}, 8200},
                {"VIDAL ROCA *PERE", "1r 2a", {120000, 142857, 142857}, 8200},
                {"MARTÍ CASALS *NÚRIA", "2n 1a", {120000, 142857, 142857}, 8200},
                {"SERRA BOSCH *JOAN", "2n 2a", {120000, 142857, 142857}, 8200},
                {"PUJOL FONT *MERCÈ", "3r 1a", {120000, 142857, 142857}, 8200},
                {"COMAS RIBAS *ANNA", "3r 2a", {120000, 142857, 142857}, 8200},
                {"ROVIRA SALA *FRANCESC", "ÀTIC", {120000, 142858, 142858}, 8600}},
               {{"NE", "NETEJA ESCALA", 18500, 'N', 2, 1},
                {"AS", "MANTENIMENT ASCENSOR", 12675, 'N', 3, 1},
                {"EN", "ENLLUMENAT ZONES COMUNES", 6420, 'N', 1, 1},
                {"AG", "AIGUA COMUNITÀRIA", 9810, 'N', 1, 3},
                {"AC", "ASSEGURANÇA EDIFICI", 84300, 'N', 1, 12},
                {"MA", "PORTA DEL GARATGE", 15125, 'N', 1, 12},
                {"RE", "REPARACIÓ BALCÓ 2n 1a", 42350, 'S', 0, 12}},
               3});
  p.push_back({2, "GRAN DE GRÀCIA, 88 *C.P.", 1, 3, 700, 1, "ESH17654321",
               {"", "", "", "", "", ""},
               "HOANEAENA",
               {{"ESTEVE PONS *LLUÍS", "1r", {250000}, 6500},
                {"RIERA MAS *CARME", "2n", {250000}, 6500},
                {"BADIA GIL *ORIOL", "3r", {250000}, 6500},
                {"TORRES BRU *LAIA", "LOCAL", {250000}, 6500}},
               {{"NE", "NETEJA ESCALA", 9000, 'N', 1, 1}, {"EN", "ENLLUMENAT", 3150, 'N', 1, 1}},
               1});
  p.push_back({3, "SANT PERE, 12 *C.P.", 7, 6, 600, 0, "ESH25111222",
               {"", "", "", "", "", ""},
               "HOA",
               {{"CODINA PRAT *ARNAU", "CASA 1", {500000}, 4000},
                {"MIRÓ VALLS *JÚLIA", "CASA 2", {500000}, 4000}},
               {},
               0});
  return p;
}

std::string Insert(const std::string& root, const FileLayout& l, const std::vector<std::string>& records) {
  std::string error;
  auto file = DataFile::Open(root + "/DADES/" + l.base, true, error);
  if (!file) return error;
  std::int32_t end = 0;
  for (const auto& f : l.fields) end = std::max(end, f.offset + f.length);
  if (file->RecordLength() < end)
    return file->Path() + ": records of " + std::to_string(file->RecordLength()) + " bytes are too short for the " +
           l.base + " layout (" + std::to_string(end) + " bytes)";
  std::vector<std::string> sized = records;
  for (auto& r : sized) r.resize(static_cast<std::size_t>(file->RecordLength()), ' ');
  std::vector<std::string> where;
  for (std::size_t i = 0; i < sized.size(); ++i) where.push_back("demo record " + std::to_string(i + 1));
  return file->InsertAll(sized, where);
}

}  // namespace

std::string SuiteDir() {
  const char* env = std::getenv("KIT_SUITE_DIR");
  if (env != nullptr && *env != '\0') return env;
  return KIT_SUITE_DIR;
}

std::string InitRoot(const std::string& rootText, int workDate, std::string& lines) {
  std::error_code ec;
  fs::path suite = SuiteDir();
  if (suite.empty() || !fs::is_directory(suite / "FORMS", ec) || !fs::is_directory(suite / "LOCALE", ec))
    return "suite files not found in \"" + suite.string() + "\" (build target suite_files, or set KIT_SUITE_DIR)";
  fs::path root = fs::absolute(rootText, ec);
  if (ec) return rootText + ": " + ec.message();
  for (const char* dir : {"DADES", "TMP"}) {
    fs::create_directories(root / dir, ec);
    if (ec) return (root / dir).string() + ": " + ec.message();
  }
  // The program locks' folder as the module makes it: shared by the group.
  if (const platform::FileStatus s = data::MakeLockFolder((root / "LOCKS").string(), root.string()); !s.ok())
    return (root / "LOCKS").string() + ": " + s.Describe();
  for (const char* dir : {"FORMS", "LOCALE", "ddf", "AJUDA"}) {
    if (!fs::is_directory(suite / dir, ec)) continue;
    fs::copy(suite / dir, root / dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) return (root / dir).string() + ": copying the suite files failed: " + ec.message();
  }
  std::string e = WriteIni(root / "Vora.ini",
                           std::string("[Usuari]\nIdioma=CAT\nDatCaracter=/\nDatOrdre=DMA\nDecCaracter='\nMilCaracter=.\n"
                           "[Rebut]\nMembret=\n"
                           "[Iva0]\nHonoraris=21\n[Iva1]\nHonoraris=10\n"
                           "[Ret0]\nHonoraris=15\n[Ret1]\nHonoraris=7\n") +
                               kBlankAdministrator,
                           true);
  if (e.empty())
    e = WriteIni(root / "TMP" / "Sessio.ini",
                 "[Menu]\nTitol=ADMINISTRACIÓ DE FINQUES\nNomMenu=REPQUOTA\nOperador=ADMIN\nKitTipOper=1\n"
                 "[Terminal]\nDir=" + Slash((root / "TMP").string()) + "\n",
                 true);
  if (e.empty())
    e = WriteIni(root / "TMP" / "VoraTerm.ini",
                 "[Pantalla]\nSeleccio=0\nCol0=15000700000700070007\n[Sistema]\nData=" + format::ZeroPadWhole(workDate, 8) +
                     "\nSortida=PANTALLA\nIdioma=CAT\n",
                 true);
  if (!e.empty()) return e;
  lines = "export KITROOT=" + Slash(root.string()) + "\nexport KITTMP=" + Slash((root / "TMP").string()) +
          "\nexport KITEXE=" + ProgramDir() + "\n";
  return {};
}

namespace {

// A demo over existing records would mix with them: refused.
std::string RefuseFilledFiles(const std::string& root) {
  for (const auto& l : Layouts()) {
    std::string error;
    if (auto f = DataFile::Open(root + "/DADES/" + l.base, false, error)) {
      std::vector<std::string> records;
      f->ReadAll(records);
      if (!records.empty()) return f->Path() + ": already holds records; the demo needs empty data files";
    }
  }
  return {};
}

void AddConcepts(DemoRecords& out) {
  const char* conceptList[][2] = {{"HO", "HONORARIS ADMINISTRACIÓ"}, {"NE", "NETEJA ESCALA"},
                                  {"AS", "ASCENSOR"},               {"EN", "ENLLUMENAT"},
                                  {"AG", "AIGUA"},                  {"AC", "ASSEGURANÇA"},
                                  {"MA", "MANTENIMENT"},            {"RE", "REPARACIONS"},
                                  {"JA", "JARDINERIA"}};
  for (auto& c : conceptList) out.Add(DemoRecords::New("TDespesa").Set("concept", c[0]).Set("description", c[1]));
}

// The ordinary fee is the funds provision the budget's instalments go into
// (receipt concept 1 is the module's default); the others are of both kinds.
void AddReceiptTypes(DemoRecords& out) {
  const char* typeList[][3] = {{"1", "QUOTA ORDINÀRIA", "0"}, {"2", "FONS DE RESERVA", "0"},
                               {"3", "DERRAMA", "1"},         {"4", "CONSUM D'AIGUA", "1"}};
  for (auto& t : typeList)
    out.Add(DemoRecords::New("THRebut").Set("number", t[0]).Set("description", t[1]).Set("kind", t[2]));
}

// The dates of one property's current period, which holds today, as
// numbers YYYYMMDD.
struct DemoPeriod {
  int start;      // the first day of the period
  int nextStart;  // the first day of the next one
};

DemoPeriod PeriodOf(const Property& p, int today) {
  const int year = today / 10000, month = today / 100 % 100;
  const int elapsed = (month - p.firstMonth + 12) % p.periodMonths;
  const int start = AddMonths(year * 10000 + month * 100 + 1, -elapsed);
  return {start, AddMonths(start, p.periodMonths)};
}

// The property record, with each column's total of coefficients, and its
// concepts' columns.
void AddProperty(DemoRecords& out, const Property& p, const std::string& code) {
  DemoRecord r = DemoRecords::New("FinquesH");
  r.Set("property", code)
      .Set("name", p.name)
      .Set("first_month", std::to_string(p.firstMonth))
      .Set("period_months", std::to_string(p.periodMonths))
      .Set("fee", Euros(p.fee))
      .Set("rate_index", std::to_string(p.rateIndex))
      .Set("tax_id", p.taxId);
  // Columns B to G; column A has no name, and its total is one million.
  for (int k = 2; k <= 7; ++k) {
    std::string letter(1, static_cast<char>('a' + k - 1));
    long total = 0;
    for (const Owner& o : p.owners) total += o.coefficients[k - 1];
    r.Set("total_" + letter, std::to_string(total));
    r.Set("name_" + letter, p.columnNames[k - 2]);
  }
  out.Add(r);
  out.Add(DemoRecords::New("FinDespH").Set("property", code).Set("columns", p.conceptColumns));
}

// The owners of a property with their coefficients and monthly instalment,
// and their monthly receipts of the current period up to this month; the
// first owners also have two months of the next period already out.
void AddOwners(DemoRecords& out, const Property& p, const std::string& code, const DemoPeriod& period, int today) {
  int number = 0;
  for (const Owner& o : p.owners) {
    ++number;
    const std::string key = code + format::ZeroPadWhole(number, 4);
    DemoRecord r = DemoRecords::New("PropietH");
    r.Set("owner", key).Set("name", o.name).Set("department", o.department);
    for (int k = 1; k <= 7; ++k)
      r.Set(std::string("coef_") + static_cast<char>('a' + k - 1), std::to_string(o.coefficients[k - 1]));
    for (int s = 1; s <= 8; ++s) {
      r.Set("slot" + std::to_string(s) + "_period", s == 1 ? "1" : "0");
      r.Set("slot" + std::to_string(s) + "_amount", s == 1 ? Euros(o.monthly) : "0");
    }
    out.Add(r);
    std::vector<int> dates;
    for (int d = period.start; d <= today; d = AddMonths(d, 1)) dates.push_back(d);
    if (number <= p.ownersIssuedAhead) dates.insert(dates.end(), {period.nextStart, AddMonths(period.nextStart, 1)});
    for (int d : dates)
      out.Add(DemoRecords::New("CobramH").Set("owner", key).Set("date", IsoDate(d)).Set("amount", Euros(o.monthly)));
  }
}

// What a property paid from the start of its period to today, each concept
// every so many months.
void AddPayments(DemoRecords& out, const Property& p, const std::string& code, const DemoPeriod& period, int today) {
  int step = 0;
  for (int d = period.start; d <= today; d = AddMonths(d, 1), ++step) {
    // One payment a day, so that a dictionary whose payment key takes
    // no duplicates still accepts them.
    int nth = 0;
    for (const Payment& pay : p.payments) {
      ++nth;
      if (step % pay.everyMonths != 0) continue;
      int day = d + 3 + nth;
      if (day > today) continue;  // not paid yet
      // Bills vary a little from month to month.
      const int cents = pay.cents + (pay.everyMonths == 1 ? (step % 3) * 137 : 0);
      out.Add(DemoRecords::New("PagamH")
                  .Set("property", code)
                  .Set("date", IsoDate(day))
                  .Set("concept", pay.conceptCode)
                  .Set("description", pay.description)
                  .Set("amount", Euros(cents))
                  .Set("kind", std::string(1, pay.kind))
                  .Set("column", std::to_string(pay.column)));
    }
  }
}

// The first property's stored budget: percentage and amount variations.
// A percentage is the new budget as a share of what was spent, in
// thousandths of a percent: 103000 is this period's spending plus 3 %.
void AddStoredBudget(DemoRecords& out) {
  const char* lines[][5] = {{"NE", "B", "103000", "0", "2286.60"},
                            {"AS", "C", "0", "150.00", "1671.00"},
                            {"EN", "A", "102500", "0", "806.20"},
                            {"AC", "A", "0", "-25.50", "817.50"}};
  for (auto& l : lines)
    out.Add(DemoRecords::New("PressupH")
                .Set("property", "0001")
                .Set("concept", l[0])
                .Set("column", l[1])
                .Set("percent_thousandths", l[2])
                .Set("amount", l[3])
                .Set("budget", l[4]));
}

// A demo administrator in Vora.ini, unless someone has filled in the real
// one.
std::string FillDemoAdministrator(const std::string& root) {
  fs::path vora = fs::path(root) / "Vora.ini";
  platform::ReadResult read = platform::ReadWholeFile(vora.string());
  // Without a Vora.ini there is no administrator to fill in.
  if (read.status.error == ENOENT) return {};
  if (!read.ok()) return vora.string() + ": " + read.status.Describe();
  std::string& ini = read.bytes;
  std::size_t at = ini.find(IniBytes(kBlankAdministrator));
  if (at != std::string::npos) {
    ini.replace(at, IniBytes(kBlankAdministrator).size(), IniBytes(kDemoAdministrator));
    const platform::FileStatus written = ReplaceFile(vora.string(), ini);
    if (!written.ok()) return vora.string() + ": " + written.Describe();
  }
  return {};
}

}  // namespace

std::string FillDemo(const std::string& rootText, int today) {
  std::error_code ec;
  std::string root = fs::absolute(rootText, ec).string();
  if (!fs::is_directory(fs::path(root) / "DADES", ec)) return root + "/DADES: missing (run kitdata init first)";
  if (std::string e = RefuseFilledFiles(root); !e.empty()) return e;
  DemoRecords out;
  try {
    AddConcepts(out);
    AddReceiptTypes(out);
    for (const Property& p : DemoProperties()) {
      const std::string code = format::ZeroPadWhole(p.code, 4);
      const DemoPeriod period = PeriodOf(p, today);
      AddProperty(out, p, code);
      AddOwners(out, p, code, period, today);
      AddPayments(out, p, code, period, today);
    }
    AddStoredBudget(out);
  } catch (const std::exception& e) {
    return e.what();
  }
  for (const auto& l : Layouts()) {
    std::string e = Insert(root, l, out.Of(l.base));
    if (!e.empty()) return e;
  }
  return FillDemoAdministrator(root);
}

}  // namespace kitdata
