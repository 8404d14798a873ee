// The record manager behind BTRCALL. Each data file is one SQLite database
// at the file's host path, with a lock file "<path>.rlk" beside it for
// record locks between programs; or, when the environment variable KITDB
// holds a libpq connection string, one table on that PostgreSQL server in
// the schema KITDB_SCHEMA ("kit" when unset).
//
// Creation record (the data buffer of create, what the dictionaries hold and
// what stat returns), 16-bit little-endian unless said:
//   file header, 16 bytes: 0 record length, 2 page size, 4 number of
//     keys, 6 number of records (32-bit, stat only), 10 file flags;
//   one 16-byte entry per key segment, in key order: 0 position in
//     the record counted from 1, 2 length, 4 flags (kSeg*), 10 extended type;
//   when any segment has kSegAlternate: signature byte 0xAC, an 8-byte name,
//     the 256-byte collating table.
#pragma once

#include <cstdint>

namespace recordmanager {

enum Operation : std::uint16_t {
  kOpen = 0, kClose = 1, kInsert = 2, kUpdate = 3, kDelete = 4,
  kGetEqual = 5, kGetNext = 6, kGetPrevious = 7, kGetGreater = 8, kGetGreaterOrEqual = 9,
  kGetLess = 10, kGetLessOrEqual = 11, kGetFirst = 12, kGetLast = 13,
  kCreate = 14, kStat = 15, kBeginTransaction = 19, kEndTransaction = 20, kAbortTransaction = 21,
  kGetPosition = 22, kGetDirect = 23, kUnlock = 27, kReset = 28,
  kSingleNoWaitLock = 200,
};

// Stat's key number for the file's layout alone, with 0 for its number of
// records: counting them costs a pass over a large file, and a caller that
// only learns the layout has no use for it. Any other key number counts.
inline constexpr std::int8_t kStatLayoutOnly = -1;

enum SegmentFlag : std::uint16_t {
  kSegDuplicates = 0x0001,
  kSegModifiable = 0x0002,
  kSegBinary = 0x0004,
  kSegNextFollows = 0x0010,
  kSegAlternate = 0x0020,
  kSegDescending = 0x0040,
};

enum Status : std::int16_t {
  kOk = 0,
  kInvalidOperation = 1,
  kIoError = 2,            // with a line on standard error naming the file
  kFileNotOpen = 3,
  kKeyNotFound = 4,
  kDuplicateKey = 5,
  kInvalidKeyNumber = 6,
  kNoCurrentRecord = 8,
  kEndOfFile = 9,
  kKeyNotModifiable = 10,
  kInvalidFileName = 11,
  kFileNotFound = 12,
  kDiskFull = 18,
  kBufferTooShort = 22,
  kBadRecordLength = 24,   // record length 0, or a segment beyond it
  kBadPageSize = 25,       // page size 0 or above 8192
  kBadKeyCount = 26,       // no keys, more than 24, or a creation record cut short
  kBadSegment = 27,        // a segment of length 0
  kBadCollating = 29,      // an alternate sequence without its 0xAC block
  kNotOurFile = 30,
  kInvalidPosition = 43,
  kReadOnly = 46,
  kFileExists = 59,
  kRecordLocked = 84,
  kFileLocked = 85,
};

// Reads keep what they need between calls; this lets go of it. Called
// before the program waits (for its operator, for a lock), so that nothing
// it keeps holds back the files' upkeep while nobody here reads.
void Rest();

// Takes the file open in `positionBlock` for this program's writes until
// its transaction ends, as the first write of a transaction takes an SQLite
// file: another program that asks the same, or (on SQLite) writes the file,
// waits until then, and gives up with kFileLocked after the wait a write
// gives up after. Once it is had, reads see every record that others
// committed before, and nobody else who asks can add any until this
// transaction ends: what a program looks for before it adds records stays
// true until it commits. Inside a transaction only (kInvalidOperation
// otherwise); taking it again is no change.
std::int16_t HoldForWriting(void* positionBlock);

// Whether the data files are tables on the server that KITDB names (set and
// not empty) rather than SQLite files.
bool DataOnServer();

// Round trips to the server made so far by this process (0 on SQLite).
std::int64_t ServerRoundTrips();

}  // namespace recordmanager
