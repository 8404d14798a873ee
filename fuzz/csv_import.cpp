// CSV import: the first byte picks one of the data files (in the order of
// kitdata::Layouts(), by base name), the rest is the CSV text. Every record
// read from CSV comes back the same through its own CSV line; and any record
// bytes at all (taken from the input) come back through CSV as they were, but
// for trailing zero bytes of texts, which CSV writes as blanks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tools/kitdata/kitdata.h"

namespace {

std::string Header(const kitdata::FileLayout& layout) {
  std::string header;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) header += (i ? "," : "") + layout.fields[i].name;
  return header + "\n";
}

// One record through its CSV line.
std::string AgainThroughCsv(const kitdata::FileLayout& layout, const std::string& record) {
  std::vector<std::string> records, where;
  const std::string error =
      kitdata::CsvRecords(layout, Header(layout) + kitdata::CsvLine(layout, record) + "\n",
                          static_cast<std::int32_t>(record.size()), records, where);
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  FUZZ_CHECK(error.empty());
  FUZZ_CHECK(records.size() == 1);
  return records[0];
}

// What CSV keeps of a record: the layout's fields, texts without trailing
// blanks or zero bytes (padded with blanks again), blanks elsewhere.
std::string Kept(const kitdata::FileLayout& layout, const std::string& record) {
  std::string kept(record.size(), ' ');
  for (const kitdata::Field& f : layout.fields) {
    std::string bytes = record.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length));
    if (f.kind == kitdata::FieldKind::Text) {
      while (!bytes.empty() && (bytes.back() == ' ' || bytes.back() == '\0')) bytes.pop_back();
      bytes.resize(static_cast<std::size_t>(f.length), ' ');
    }
    kept.replace(static_cast<std::size_t>(f.offset), bytes.size(), bytes);
  }
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& layouts = kitdata::Layouts();
  const kitdata::FileLayout& layout = layouts[data[0] % layouts.size()];
  const std::string_view csv(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<std::string> records, where;
  const std::string error = kitdata::CsvRecords(layout, csv, layout.recordLength, records, where);
  FUZZ_CHECK(records.size() == where.size());
  for (std::size_t i = 0; i < records.size() && i < 16; ++i) {
    FUZZ_CHECK(records[i].size() == static_cast<std::size_t>(layout.recordLength));
    FUZZ_CHECK(AgainThroughCsv(layout, records[i]) == records[i]);
  }
  if (!error.empty()) FUZZ_CHECK(error.rfind("CSV", 0) == 0);

  // The input's first bytes as a stored record.
  if (csv.size() >= static_cast<std::size_t>(layout.recordLength)) {
    const std::string stored(csv.substr(0, static_cast<std::size_t>(layout.recordLength)));
    FUZZ_CHECK(AgainThroughCsv(layout, stored) == Kept(layout, stored));
  }
  return 0;
}
