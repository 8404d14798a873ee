// The suite root tool: record layouts of the module's eight data files, raw
// and CSV transfer of their records, the making of a suite root with demo
// data, and the move of a root's data files onto a server. Every function
// reports a failure as a text saying what and where; an empty text is
// success.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "records/layouts.h"

namespace kitdata {

// How a field is kept in CSV: Text in UTF-8 (CP850 in the record); Packed as
// all its digits; Number as the number the packed digits hold ("1" rather
// than "0001"); Date as YYYY-MM-DD, empty for the zero date; Byte, Int16 and
// Int32 as integers; Amount as euros with two decimals.
using FieldKind = records::FieldKind;

// A CSV column: the field table of the data file's dictionary source.
struct Field {
  std::string name;
  std::int32_t offset = 0;  // from 0
  std::int32_t length = 0;
  FieldKind kind = FieldKind::Text;
};

struct FileLayout {
  std::string base;  // "PropietH"
  std::int32_t recordLength = 0;
  std::string creation;  // its dictionary's creation record, for when none is installed
  std::vector<Field> fields;
};

// The eight data files by base name, as their dictionary sources describe them.
const std::vector<FileLayout>& Layouts();
// The layout of a base name, any case; nullptr when unknown.
const FileLayout* FindLayout(std::string_view base);
// The base name of a data file path ("ROOT/DADES/PropietH.dat" -> "PropietH").
std::string BaseName(std::string_view dataFile);

// A record manager's status as a message shows it: the number, and the
// meaning of the ones a user can act on.
std::string StatusText(std::int16_t status);

// The creation record of a layout (the data buffer of create), as its
// dictionary holds it.
std::string CreationRecord(const FileLayout& layout);

// How records are added to a data file.
struct AddOptions {
  // Also add records identical to one already in the file or to an earlier
  // one of the same input (refused otherwise: adding the same file twice
  // would double payments and collections).
  bool allowDuplicates = false;
};

// What adding did: `added` records, all of them or none.
struct AddResult {
  std::string error;  // empty on success
  std::size_t added = 0;
  std::string path;  // the data file's host path, once known
};

// What makes two records the same for AddOptions: the whole record for raw
// data, the CSV line for CSV.
using RecordIdentity = std::function<std::string(std::string_view record)>;

// One data file opened through the record manager.
class DataFile {
 public:
  // Opens `dataFile` (a path as the module names it, ".dat" added when it
  // has no extension). When it is missing and `create` is set it is made
  // from ROOT/ddf/<base>.xdf (ROOT: two levels above the file), or from the
  // built-in layout when no dictionary is installed.
  static std::optional<DataFile> Open(std::string_view dataFile, bool create, std::string& error);
  DataFile(DataFile&& other) noexcept;
  DataFile& operator=(DataFile&&) = delete;
  DataFile(const DataFile&) = delete;
  ~DataFile();

  std::int32_t RecordLength() const { return recordLength_; }
  const std::string& Path() const { return path_; }
  // Every record in key 0 order.
  std::string ReadAll(std::vector<std::string>& records) const;
  // Gives every record to `each` in key 0 order, one at a time, until
  // `each` answers false.
  std::string ReadEach(const std::function<bool(std::string_view record)>& each) const;
  // Inserts all records in one transaction: on any refusal none stays.
  // `where(i)` names record i in the message.
  std::string InsertAll(const std::vector<std::string>& records,
                        const std::vector<std::string>& where) ;
  // One insert transaction at a time: Begin, Insert each record, Commit.
  // An Insert that fails ends the transaction with nothing inserted and
  // says so, naming the record by `what`.
  std::string BeginInserts();
  std::string Insert(std::string_view record, const std::string& what);
  std::string CommitInserts();
  void AbortInserts();
  // Holds the file for this transaction's writes until it ends, as the
  // first insert into an SQLite file holds that file: another put or import
  // waits for this one's commit before it looks for repeats. Failing, it
  // ends the transaction with nothing inserted and says so.
  std::string HoldForWriting();
  // InsertAll, after refusing records that repeat one already in the file
  // or an earlier one of `records` (unless allowed): such refusals name
  // every repeated record by `where`, and nothing is inserted. The file is
  // looked at again once it is held for this transaction's writes, before
  // the inserts, for records another program added in between.
  AddResult Add(const std::vector<std::string>& records, const std::vector<std::string>& where,
                const RecordIdentity& identity, const AddOptions& options);

 private:
  DataFile() = default;
  std::string path_;
  std::int32_t recordLength_ = 0;
  mutable std::string positionBlock_ = std::string(128, '\0');
  std::string insertBuffer_;
  std::string insertKey_ = std::string(255, '\0');
  bool open_ = false;
};

// Raw records: a concatenation of fixed-length records.
AddResult PutRaw(std::string_view dataFile, const std::string& rawBytes, const AddOptions& options = {});
std::string GetRaw(std::string_view dataFile, std::string& rawBytes);
// The same into the file `rawFile`; an error names it and the reason.
std::string GetRawToFile(std::string_view dataFile, const std::string& rawFile);

// CSV text that can be read more than once, a block at a time.
class CsvInput {
 public:
  virtual ~CsvInput() = default;
  // Gives `block` the text from the start, block by block; an error text
  // naming the input and the reason when it cannot be read.
  // `block` returns false to stop reading.
  virtual std::string Read(const std::function<bool(std::string_view block)>& block) = 0;
  // What messages call the text: a file's path; empty for text in memory,
  // which they call "CSV".
  virtual std::string Name() const { return {}; }
};
// CSV text in memory.
class CsvText : public CsvInput {
 public:
  explicit CsvText(std::string_view text) : text_(text) {}
  std::string Read(const std::function<bool(std::string_view)>& block) override;

 private:
  std::string_view text_;
};
// A CSV file, read a block at a time so that its size does not matter.
class CsvFile : public CsvInput {
 public:
  explicit CsvFile(std::string path) : path_(std::move(path)) {}
  std::string Read(const std::function<bool(std::string_view)>& block) override;
  std::string Name() const override { return path_; }

 private:
  std::string path_;
};

// Splits CSV text given block by block into rows of fields ("" quoting),
// each with the line it starts on (from 1). Blank lines give no row.
class CsvRowParser {
 public:
  using RowSink = std::function<void(std::vector<std::string>& fields, int line)>;
  explicit CsvRowParser(RowSink sink) : sink_(std::move(sink)) {}
  // False once the text is malformed (an open quote, text after a closing
  // quote); Error() then says where.
  bool Feed(std::string_view block);
  // After the last block.
  bool Finish();
  const std::string& Error() const { return error_; }

 private:
  bool Take(std::string_view block);
  void EndRow();

  RowSink sink_;
  std::string error_;
  std::string head_;  // the first bytes, until a byte order mark can be told
  bool headDone_ = false;
  std::vector<std::string> row_;
  std::string field_;
  bool quoted_ = false, wasQuoted_ = false, any_ = false;
  bool quoteInQuotes_ = false;  // a quote met inside quotes: doubled or closing
  bool afterCr_ = false;        // a line ended by CR: a LF right after belongs to it
  int line_ = 1, rowLine_ = 1;
};

// How far an import got: `stage` "checking" (total 0: not known yet) or
// "adding", for a progress line.
using ImportProgress = std::function<void(std::string_view stage, std::size_t done, std::size_t total)>;

// CSV with a header line of the layout's field names, handed to `write` a
// line at a time as the records are read (one record is held at a time).
// Stops at the first line `write` refuses; the error names the file.
std::string ExportCsv(std::string_view dataFile, const std::function<bool(std::string_view line)>& write);
// The same into one string.
std::string ExportCsv(std::string_view dataFile, std::string& csv);
AddResult ImportCsv(std::string_view dataFile, const std::string& csv, const AddOptions& options = {});
// Reads the CSV twice (a check, then the inserts) and holds one record at
// a time, whatever its size, and 24 bytes for each record of the CSV (twice
// while looking) and of the file to tell repeated ones. Repeats are looked
// for before the inserts and again once the file is held for this import's
// writes (from just before its first insert to its commit), so that two
// imports of one CSV at once add it once, on files and on the server. Each repeated record refused goes to `refused` when given (one
// line each, so that thousands need not be held), else into the error text.
AddResult ImportCsv(std::string_view dataFile, CsvInput& csv, const AddOptions& options = {},
                    const ImportProgress& progress = {},
                    const std::function<void(const std::string& line)>& refused = {});
// The records of CSV text for `layout`, `recordLength` bytes each, and the
// line each comes from ("CSV line 3"). An error text names every refused
// line; `records` is then incomplete.
std::string CsvRecords(const FileLayout& layout, std::string_view csv, std::int32_t recordLength,
                       std::vector<std::string>& records, std::vector<std::string>& where);
// A record as its CSV line, without the line end.
std::string CsvLine(const FileLayout& layout, std::string_view record);
// One field of a record as CSV text, and back (error text on bad input).
// Packed digits and dates that are not what their kind says (a month 0,
// bytes that are no digits) are written as "#" and their bytes in hex, so
// that they come back unchanged.
std::string FieldText(const Field& field, std::string_view record);
std::string SetField(const Field& field, std::string_view text, std::string& record);
// Splits CSV text into rows of fields ("" quoting); error on an open quote.
std::string ParseCsv(std::string_view text, std::vector<std::vector<std::string>>& rows,
                     std::vector<int>& lineNumbers);

// Replaces the file at `path` with `bytes` as one step: they are written
// to a new file beside it, which takes its place once complete and on the
// disk. A failure at any point leaves the file as it was.
platform::FileStatus ReplaceFile(const std::string& path, std::string_view bytes);

// The installed suite files: KIT_SUITE_DIR from the environment, else the
// build's suite directory.
std::string SuiteDir();
// Makes a suite root; `lines` gets the environment lines to use it.
std::string InitRoot(const std::string& root, int workDate, std::string& lines);
// Fills a root with demo records dated around `today` (YYYYMMDD).
std::string FillDemo(const std::string& root, int today);

// A data file MigrateRoot copied, and how many records it had.
struct MigratedFile {
  std::string source;
  std::int64_t records = 0;
};
// Copies every data file of ROOT/DADES (SQLite files, *.dat) into the
// server named by KITDB, schema KITDB_SCHEMA, in one transaction: every
// file or none. A server file that already holds records is refused unless
// `replace`, which deletes them first; one of another layout is refused.
std::string MigrateRoot(const std::string& root, bool replace, std::vector<MigratedFile>& copied);

}  // namespace kitdata
