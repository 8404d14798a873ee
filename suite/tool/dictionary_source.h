// Dictionary sources: the readable text a data file's record layout is kept
// in. It is compiled into the creation record the record manager makes the
// file from (the dictionary), and into the typed views of the records that
// the programs use (see layout_header.h).
//
//   # comment
//   view Property               the name of the record's typed view
//   record 400                  record length
//   page 4096                   page size (512 to 4096, a multiple of 512)
//   key 1:4 + 5:4 duplicates    one line per key, in key order: segments
//                               position:length[:binary][:descending] joined
//                               by "+", then "duplicates" / "modifiable"
//   field Name 7:30 text name   a field: its name, position:length, type and
//                               CSV column (default: the name in lower case
//                               words joined by "_"); a comment after it
//                               describes it
//   part PropertyCode 1:2 packed of Key
//                               a named piece of a field, for reading; no CSV
//                               column of its own
//   repeat 2..7 at 165 step 34 [as Name [column]]
//     field ColumnTotal 1:4 int32 total_{letter}
//   end                         fields repeated for the indexes 2 to 7, the
//                               element of index 2 starting at 165 and each
//                               next one 34 bytes on; field positions count
//                               from the element's start. In the CSV column
//                               {n} is the index and {letter} its letter
//                               (1 = a). "as Name" also names the whole run,
//                               which is then one text CSV column instead.
//
// Positions count from 1. Types: text (blank padded), packed (digits two to
// a byte: codes, owner keys), number (packed digits read as a number), date
// (packed date, 4 bytes), byte (one unsigned byte), int16 (2 bytes), int32
// and amount (4 bytes; amount holds cents). Integers are little-endian.
//
// A record layout that belongs to no data file (a working file of a program)
// is written the same way without keys: it gets a view and no dictionary.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace suite {

enum class FieldType { Text, Packed, Number, Date, Byte, Int16, Int32, Amount };

struct KeySegmentSource {
  int position = 0, length = 0;  // position from 1
  int flags = 0;                 // as in the creation record
};

struct FieldSource {
  std::string name;
  int position = 0;  // from 1, in the record or in a repeat's element
  int length = 0;
  FieldType type = FieldType::Text;
  std::string csv;      // the CSV column; in a repeat with {n} / {letter}
  std::string comment;  // what follows "#" on its line
  int line = 0;
};

struct RepeatSource {
  int first = 0, last = 0;  // the indexes
  int position = 0;         // from 1: where the element of index `first` starts
  int step = 0;             // bytes from one element to the next
  std::string wholeName;    // "as Name": the whole run as one text field
  std::string wholeCsv;
  std::string comment;
  std::vector<FieldSource> fields;
  int line = 0;
};

struct PartSource {
  std::string name;
  int position = 0, length = 0;  // position from 1 in the record
  FieldType type = FieldType::Text;
  std::string of;  // the field it is a piece of
  std::string comment;
  int line = 0;
};

struct DictionarySource {
  std::string error;  // "line N: what"; empty on success
  std::vector<std::string> heading;  // the comment lines the source opens with
  std::string view;   // empty when not given
  int record = 0;
  int page = 0;  // 0 when not given
  std::vector<std::vector<KeySegmentSource>> keys;
  std::vector<std::variant<FieldSource, RepeatSource>> items;  // in source order
  std::vector<PartSource> parts;
  int lines = 0;
};

// Reads a source; keys are optional here. Whatever it accepts has fields
// inside the record that do not overlap and keys the record manager takes.
DictionarySource ParseDictionarySource(std::string_view source);

// One column of the field table: every field with its repeats spelled out,
// in source order (element by element); a repeat taken as a whole is one
// text field.
struct FlatField {
  std::string csv;
  int offset = 0;  // from 0
  int length = 0;
  FieldType type = FieldType::Text;
};
std::vector<FlatField> FieldTable(const DictionarySource& source);

// The name of a field type in sources ("int16"), and the bytes it always
// takes (0 for any length).
std::string_view TypeName(FieldType type);
int TypeWidth(FieldType type);

struct CompiledDictionary {
  std::string creation;  // the creation record
  std::string error;     // "line N: what"; empty on success
};

// The creation record of a source, which must declare at least one key.
CompiledDictionary CompileDictionary(std::string_view source);
CompiledDictionary CompileDictionary(const DictionarySource& parsed);

// The installed dictionary file: the 2-byte little-endian length, then the
// creation record.
std::string DictionaryFile(const std::string& creation);

}  // namespace suite
