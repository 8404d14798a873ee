#include "app/figures_csv.h"

#include "base/cp850.h"
#include "base/strings.h"
#include "format/numbers.h"
#include "format/text.h"

namespace app {
namespace {

constexpr std::string_view kEnd = "\r\n";


// A text of the data files (code page 850) as a field, without its
// trailing blanks.
std::string TextField(const std::string& cp850) {
  return CsvField(base::Cp850ToUtf8(base::TrimRight(base::BlankControlBytes(cp850))));
}

void AddRow(std::string& csv, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) csv += ',';
    csv += fields[i];
  }
  csv += kEnd;
}

// The code of a working line as a spreadsheet shows it: the miscellaneous
// lines' byte 255 becomes "*".
std::string LineCode(const std::string& code) {
  std::string shown;
  for (char c : code) shown += static_cast<unsigned char>(c) == 0xFF ? '*' : c;
  return TextField(shown);
}

}  // namespace

std::string DecimalAmount(std::int64_t cents) {
  const std::uint64_t magnitude = cents < 0 ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
  const unsigned hundredths = static_cast<unsigned>(magnitude % 100);
  std::string text = std::to_string(magnitude / 100) + "." + static_cast<char>('0' + hundredths / 10) +
                     static_cast<char>('0' + hundredths % 10);
  return cents < 0 ? "-" + text : text;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string DistributionCsv(const DistributionPass& pass) {
  std::string csv;
  AddRow(csv, {"owner", "name", "department", "share_a", "share_b", "share_c", "share_d", "share_e", "share_f",
               "share_g", "total", "issued", "monthly", "quarterly"});
  for (const OwnerShares& o : pass.owners) {
    std::vector<std::string> row{CsvField(format::UnpackDigits(o.OwnerKey)),
                                 TextField(format::NameInReadingOrder(base::BlankControlBytes(o.Name))), TextField(o.Department)};
    for (std::size_t k = 1; k <= kColumns; ++k) row.push_back(DecimalAmount(o.Share[k]));
    for (std::int32_t amount : {o.OwnerTotal, o.Issued, o.Monthly, o.Quarterly}) row.push_back(DecimalAmount(amount));
    AddRow(csv, row);
  }
  return csv;
}

std::string BudgetCsv(const std::vector<records::WorkingLine>& lines) {
  std::string csv;
  AddRow(csv, {"code", "description", "column", "spent", "variation", "budget"});
  for (const records::WorkingLine& line : lines)
    AddRow(csv, {LineCode(line.code), TextField(line.description), TextField(std::string(1, line.column)),
                 DecimalAmount(line.spent), DecimalAmount(static_cast<std::int64_t>(line.budget) - line.spent),
                 DecimalAmount(line.budget)});
  return csv;
}

}  // namespace app
