// Data files: the table of open files, opening through dictionaries, the one
// record manager call every record operation passes through, and the record
// operations themselves.
//
// Callers name a file by a small identifier of their own (501 to 516 in the
// module) and exchange records through a byte area they hand over at open
// and keep alive while the file is open. Every operation returns the record
// manager's status; the layer adds 3 (identifier not open), 1002 (already
// open), 1003 (no free slot) and 1004 (no such key number).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/stat_layout.h"

namespace data {

inline constexpr int kFileSlots = 40;
inline constexpr std::int16_t kStatusNotOpen = 3;
inline constexpr std::int16_t kStatusFileNotFound = 12;  // the record manager's: no such file
inline constexpr std::int16_t kStatusAlreadyOpen = 1002;
inline constexpr std::int16_t kStatusNoFreeSlot = 1003;
inline constexpr std::int16_t kStatusNoSuchKey = 1004;

// Exit status of a process ended because a data file could not be opened.
inline constexpr int kExitDataFileUnavailable = 1;

// Lock modes of a file (letters "D", "A", "B").
inline constexpr std::int16_t kLockNone = 0;
inline constexpr std::int16_t kLockWait = 1;
inline constexpr std::int16_t kLockNoWait = 2;

// A file's record length and keys as its stat result gives them, learnt once
// when the file is opened: they do not change while it is open, and asking
// the record manager again on every read would count the whole file.
struct FileLayout {
  bool Known = false;
  std::int32_t RecordLength = 0;
  std::vector<std::vector<KeySegment>> Keys;  // the segments of each key
  std::string CollatingTable;                 // 256 bytes, or empty
};

struct FileSlot {
  std::int16_t FileId = 0;  // 0: free
  std::string FileName;     // as the caller passed it to OpenDataFile
  std::array<char, 128> PositionBlock{};
  std::span<char> RecordArea;
  std::int32_t RecordLength = 0;
  std::int16_t KeyNumber = 0;
  std::string KeyValue;
  std::int16_t LockMode = kLockNone;
  FileLayout Layout;
};

// Slots 1 to 40; slot 0 is the scratch position block of create and reset.
using FileTableSlots = std::array<FileSlot, kFileSlots + 1>;
FileTableSlots& FileTable();
// Pairs of bytes (slot number, lock mode) saved by SetLockMode "+".
std::string& SavedLockModes();
// Empties the table and the saved lock modes without calling the record
// manager (tests).
void ClearFileTable();

// The record manager entry point in use; tests install a double.
using RecordManagerEntry = std::int16_t (*)(std::uint16_t operation, void* positionBlock,
                                            void* dataBuffer, std::uint32_t* dataLength,
                                            void* keyBuffer, std::uint8_t keyLength,
                                            std::int8_t keyNumber);
// Installs `entry` (nullptr: the real BTRCALL) and returns the previous one.
RecordManagerEntry SetRecordManager(RecordManagerEntry entry);

// The slot holding `fileId` when it is open (opening refuses an open
// identifier, so there is one at most);
// otherwise minus the highest-numbered free slot; 0 when there is none.
int FindSlot(std::int16_t fileId);

// What opening a data file that does not exist does: make it from its
// dictionary, or report it to the caller (a program that runs unattended
// must not take a file gone missing for an empty one).
enum class MissingDataFile { kCreate, kReport };

// Opens `fileName` (a suite path; ".dat" when it has no extension), creating
// it from its dictionary RootDir + "ddf\" + base + ".xdf" when it does not
// exist. A file that cannot be opened shows a message, resets every file and
// ends the session (the notice's EndProcess). With MissingDataFile::kReport
// a file that does not exist is neither made nor shown: the result is
// kStatusFileNotFound and the identifier stays free.
std::int16_t OpenDataFile(std::int16_t fileId, std::string_view fileName, std::span<char> recordArea,
                          MissingDataFile missing = MissingDataFile::kCreate);

// Answered from the layout learnt at the open; the record manager is asked
// only while that layout could not be read.
struct KeyInfoResult {
  std::int32_t KeyLength = 0;     // 0 when the key does not exist
  std::int32_t RecordLength = 0;  // 0 when the file is not open
};
KeyInfoResult KeyInfo(std::int16_t fileId, std::int16_t keyNumber);

// A transaction over every file of the process: the writes between Begin
// and End are kept together or, after Abort or a crash, not at all.
std::int16_t BeginTransaction();
std::int16_t EndTransaction();
std::int16_t AbortTransaction();

// Closes every file of the process; on success empties the table.
std::int16_t ResetDataFiles();

// Called before the program waits for its operator or for a lock: the data
// files let go of the read transactions they keep open between calls, so
// that an idle program never holds back the upkeep of files others write.
void BeforeWaiting();

// The common call of the record operations: lock bias (the caller sees the
// changed operation code), the wait on locked records in lock mode "A".
std::int16_t RecordCall(int slot, std::uint16_t& operation);

// direction: 0 equal, positive greater or equal, negative less or equal.
std::int16_t ReadByKey(std::int16_t fileId, std::int16_t keyNumber, std::string_view keyValue,
                       std::int16_t direction);
// Moves `count` records along the current key (negative: backwards); only
// the last record reached is read into the record area.
std::int16_t StepRecords(std::int16_t fileId, std::int16_t count);
// position 0: the current record's position (0 on failure); otherwise jumps
// to that position and returns the status.
std::int32_t RecordPosition(std::int16_t fileId, std::int32_t position);
std::int16_t InsertRecord(std::int16_t fileId);
std::int16_t UpdateRecord(std::int16_t fileId);
std::int16_t DeleteRecord(std::int16_t fileId);
// Takes a single no-wait record lock on the record last read and reads it
// again into the record area: another program may have changed it since.
// 0, 84 when another program holds it, or the read's status. The lock lasts
// until the record is rewritten or deleted, or UnlockRecord.
std::int16_t LockCurrentRecord(std::int16_t fileId);
// Lets go of the record lock this file holds, if any.
std::int16_t UnlockRecord(std::int16_t fileId);

// Letters "D", "A", "B" set the lock mode, "+" saves it, "-" restores the
// last saved one of this file; case does not matter. Sets `status` to 3 when
// the file is not open and leaves it alone otherwise.
void SetLockMode(std::int16_t fileId, std::string_view letters, std::int16_t& status);

// The key value turned into the bytes that order like the file's current
// key (binary segments reversed, collated segments through the file's table).
std::string KeyImage(std::string_view keyValue, std::int16_t fileId);
std::string CurrentKeyImage(std::int16_t fileId);

// The operator's message for a failed operation on an open file, as for a
// file that cannot be opened: "NO ES POT ACCEDIR AL FITXER " (in the
// session's language), the file's name as it was opened, and the status in
// parentheses.
std::string FailureText(std::int16_t fileId, std::int16_t status);

// The line the change log "db.log" gets for one insert or update.
std::string ChangeLogLine(std::int16_t fileId, std::int16_t operation, std::int16_t status);

}  // namespace data
