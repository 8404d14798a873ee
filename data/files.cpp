#include "data/files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/little_endian.h"
#include "config/built_in_texts.h"
#include "config/session.h"
#include "data/btrcall.h"
#include "data/engine/record_manager.h"
#include "data/notice.h"
#include "data/stat_layout.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/system.h"

namespace data {
namespace {

constexpr std::uint16_t kOpOpen = 0;
constexpr std::uint16_t kOpInsert = 2;
constexpr std::uint16_t kOpUpdate = 3;
constexpr std::uint16_t kOpDelete = 4;
constexpr std::uint16_t kOpGetEqual = 5;
constexpr std::uint16_t kOpGetNext = 6;
constexpr std::uint16_t kOpGetPrevious = 7;
constexpr std::uint16_t kOpGetGreaterOrEqual = 9;
constexpr std::uint16_t kOpGetLessOrEqual = 11;
constexpr std::uint16_t kOpCreate = 14;
constexpr std::uint16_t kOpStat = 15;
constexpr std::uint16_t kOpGetPosition = 22;
constexpr std::uint16_t kOpGetDirect = 23;
constexpr std::uint16_t kOpUnlock = 27;
constexpr std::uint16_t kLockNoWaitBias = 200;
constexpr std::int16_t kStatusNoCurrentRecord = 8;
constexpr std::uint16_t kOpReset = 28;

constexpr std::int16_t kStatusBufferShort = 22;
constexpr std::int16_t kStatusInvalidFileName = 11;
constexpr std::int16_t kStatusRecordLocked = 84;
constexpr std::int16_t kStatusFileLocked = 85;

constexpr std::size_t kBufferSize = 1536;
constexpr std::size_t kKeyBufferSize = 256;

// The owner name sent with every open: four digits and a zero byte.
constexpr char kOwnerName[5] = {'2', '0', '2', '6', '\0'};

RecordManagerEntry g_entry = nullptr;

std::int16_t Call(std::uint16_t op, void* block, void* data, std::uint32_t* length, void* key,
                  std::uint8_t keyLength, std::int8_t keyNumber) {
  RecordManagerEntry entry = g_entry ? g_entry : &BTRCALL;
  return entry(op, block, data, length, key, keyLength, keyNumber);
}

std::int16_t ToStatus(std::int16_t status) { return status == kStatusBufferShort ? 0 : status; }

// The slot of an open identifier, or 0.
int OpenSlot(std::int16_t fileId) {
  int slot = FindSlot(fileId);
  return slot > 0 ? slot : 0;
}

// The record area of a slot that the layer may touch: RecordLength bytes,
// never more than the caller handed over.
std::size_t AreaBytes(const FileSlot& s) {
  if (s.RecordLength <= 0) return 0;
  return std::min(static_cast<std::size_t>(s.RecordLength), s.RecordArea.size());
}

std::string OpenFailureText() { return std::string(config::InSessionLanguage(config::texts::kFileUnreachable)); }

std::string RecordWaitText() { return std::string(config::InSessionLanguage(config::texts::kFileLocked)) + "."; }

// The status as the operator is shown it: its number, and for a full disk
// also the words, since that is the operator's to mend.
std::string StatusText(std::int16_t status) {
  std::string text = std::to_string(status);
  if (status == recordmanager::kDiskFull) text += ": " + std::string(config::InSessionLanguage(config::texts::kDiskFull));
  return text;
}

// Shows the fatal message, resets every file and ends the process.
std::int16_t FailOpen(std::string_view shownName, std::int16_t status) {
  Notice& notice = CurrentNotice();
  notice.Show(OpenFailureText() + std::string(shownName) + " (" + StatusText(status) + ")", 12);
  notice.Beep();
  notice.DiscardKeys();
  notice.WaitKey();
  notice.Hide();
  ResetDataFiles();
  // A run that could not reach its data did not succeed: say so to whoever
  // started it.
  notice.EndProcess(kExitDataFileUnavailable);
  return status;
}

struct SplitName {
  std::string directory, base, extension;
};

// Scanning from the end: the first ":", "\" or "/" ends the directory; the
// leftmost "." after it starts the extension.
SplitName Split(std::string_view name) {
  SplitName r;
  std::size_t baseStart = 0;
  std::optional<std::size_t> dot;
  for (std::size_t i = name.size(); i-- > 0;) {
    char c = name[i];
    if (c == ':' || c == '\\' || c == '/') {
      baseStart = i + 1;
      break;
    }
    if (c == '.') dot = i;
  }
  r.directory = std::string(name.substr(0, baseStart));
  std::size_t baseEnd = dot ? *dot : name.size();
  r.base = std::string(name.substr(baseStart, baseEnd - baseStart));
  r.extension = dot ? std::string(name.substr(*dot)) : std::string(".dat");
  return r;
}

// The creation record of a dictionary; empty when the dictionary cannot be
// read (missing, a directory, an I/O error) or is broken (no length, a
// length beyond the file or the create buffer).
std::optional<std::string> ReadDictionary(const std::string& suitePath) {
  const platform::ReadResult read = platform::ReadWholeFile(platform::HostPathOrRaw(suitePath));
  if (!read.ok() || read.bytes.size() < 2) return std::nullopt;
  const auto length = base::ReadLe<std::int16_t>(read.bytes, 0);
  if (length <= 0 || static_cast<std::size_t>(length) > kBufferSize) return std::nullopt;
  if (read.bytes.size() - 2 < static_cast<std::size_t>(length)) return std::nullopt;
  return read.bytes.substr(2, static_cast<std::size_t>(length));
}

std::int16_t CallOpen(FileSlot& s, const std::string& path) {
  std::array<char, kKeyBufferSize> key{};
  std::copy(path.begin(), path.end(), key.begin());
  char owner[5];
  std::copy(std::begin(kOwnerName), std::end(kOwnerName), owner);
  std::uint32_t length = 5;
  return Call(kOpOpen, s.PositionBlock.data(), owner, &length, key.data(),
              static_cast<std::uint8_t>(path.size()), 0);
}

std::int16_t CallCreate(const std::string& path, const std::string& creation) {
  FileSlot& scratch = FileTable()[0];
  scratch.PositionBlock.fill(' ');
  std::array<char, kKeyBufferSize> key{};
  std::copy(path.begin(), path.end(), key.begin());
  std::string buffer = creation;
  buffer.resize(kBufferSize, ' ');
  std::uint32_t length = kBufferSize;
  std::int16_t status = Call(kOpCreate, scratch.PositionBlock.data(), buffer.data(), &length,
                             key.data(), static_cast<std::uint8_t>(path.size()), -1);
  scratch.PositionBlock.fill('\0');
  return status;
}

// The stat result of an open slot, without the record count nobody here
// reads; nothing when the call fails. `pageSize` zero bytes start the
// buffer sent.
std::optional<std::string> Stat(FileSlot& s, std::size_t pageSize = 0) {
  std::string buffer(std::min(pageSize, kBufferSize), '\0');
  buffer.resize(kBufferSize, ' ');
  std::string key(255, ' ');
  std::uint32_t length = kBufferSize;
  std::int16_t status =
      Call(kOpStat, s.PositionBlock.data(), buffer.data(), &length, key.data(), 255, recordmanager::kStatLayoutOnly);
  if (status != 0) return std::nullopt;
  return buffer;
}

// Learns the slot's layout: a first stat for the record length and the
// number of keys, a second one, sent with page-size zero bytes, for the key
// segments. The record length stays known when only the second fails.
void LearnLayout(FileSlot& s) {
  s.Layout = FileLayout{};
  auto first = Stat(s);
  if (!first) return;
  s.Layout.RecordLength = StatRecordLength(*first);
  const std::int32_t keys = StatKeyCount(*first);
  if (keys > 0) {
    auto full = Stat(s, static_cast<std::size_t>(StatPageSize(*first)));
    if (!full) return;
    for (std::int32_t k = 0; k < keys; ++k) s.Layout.Keys.push_back(KeySegments(*full, k));
    s.Layout.CollatingTable = std::string(CollatingTable(*full));
  }
  s.Layout.Known = true;
}

const FileLayout& Layout(FileSlot& s) {
  if (!s.Layout.Known) LearnLayout(s);
  return s.Layout;
}

// Opened for each line and closed again. The log is nearly always there
// under its own name, so that name is tried first; only when it is missing
// is the name resolved (another case of it may exist) and the file made.
// A log that cannot be written loses its line and nothing else.
void AppendChangeLog(std::int16_t fileId, std::uint16_t op, std::int16_t status) {
  const std::string line = ChangeLogLine(fileId, static_cast<std::int16_t>(op), status);
  if (platform::AppendToFile("db.log", line, false).error == ENOENT)
    platform::AppendToFile(platform::HostPathOrRaw("db.log"), line, true);
}

// The key returned by a direct call: as many bytes as the current key value.
void TakeReturnedKey(FileSlot& s, const char* key) {
  s.KeyValue.assign(key, s.KeyValue.size());
}

}  // namespace

FileTableSlots& FileTable() {
  static FileTableSlots table;
  return table;
}

std::string& SavedLockModes() {
  static std::string saved;
  return saved;
}

void ClearFileTable() {
  for (FileSlot& s : FileTable()) s = FileSlot{};
  SavedLockModes().clear();
}

RecordManagerEntry SetRecordManager(RecordManagerEntry entry) {
  RecordManagerEntry previous = g_entry;
  g_entry = entry;
  return previous;
}

int FindSlot(std::int16_t fileId) {
  FileTableSlots& table = FileTable();
  // Most calls ask for the file the last one found (a walk reads record
  // after record): that slot is tried first. Opening refuses an identifier
  // already open, so a slot holding it is the only, and lowest, one.
  static int lastFound = 1;
  // Identifier 0 marks a free slot, so it is never open.
  if (fileId != 0) {
    if (table[static_cast<std::size_t>(lastFound)].FileId == fileId) return lastFound;
    for (int i = 1; i <= kFileSlots; ++i)
      if (table[static_cast<std::size_t>(i)].FileId == fileId) return lastFound = i;
  }
  for (int i = kFileSlots; i >= 1; --i)
    if (table[static_cast<std::size_t>(i)].FileId == 0) return -i;
  return 0;
}

std::int16_t OpenDataFile(std::int16_t fileId, std::string_view fileName, std::span<char> recordArea,
                          MissingDataFile missing) {
  if (fileId == 0) return kStatusNotOpen;
  int found = FindSlot(fileId);
  if (found > 0) return kStatusAlreadyOpen;
  if (found == 0) return kStatusNoFreeSlot;
  FileSlot& s = FileTable()[static_cast<std::size_t>(-found)];
  s = FileSlot{};
  s.FileId = fileId;
  s.FileName = std::string(fileName);
  s.RecordArea = recordArea;

  SplitName parts = Split(fileName);
  auto hostPath = platform::HostPath(parts.directory + parts.base + parts.extension);
  const std::string path = hostPath.value_or(std::string());
  // A drive letter has no meaning here, and the record manager takes at most
  // 255 bytes of path.
  if (!hostPath || path.empty() || path.size() > 255) {
    s = FileSlot{};
    return FailOpen(fileName, kStatusInvalidFileName);
  }
  std::int16_t status;
  for (;;) {
    status = CallOpen(s, path);
    if (status == kStatusFileLocked) {
      BeforeWaiting();
      platform::Pause(3000);
      continue;
    }
    if (status != kStatusFileNotFound) break;
    if (missing == MissingDataFile::kReport) {
      s = FileSlot{};
      return kStatusFileNotFound;
    }
    std::string dictionary = config::Session().RootDir + "ddf\\" + parts.base + ".xdf";
    auto creation = ReadDictionary(dictionary);
    if (!creation) {
      // Nothing is created from a missing or broken dictionary; the message
      // names the dictionary so that the operator knows what to restore.
      s = FileSlot{};
      return FailOpen(dictionary, kStatusFileNotFound);
    }
    status = CallCreate(path, *creation);
    if (status != 0) break;
  }
  if (status != 0) {
    s = FileSlot{};
    return FailOpen(fileName, status);
  }
  KeyInfoResult info = KeyInfo(fileId, 0);
  s.KeyValue.assign(static_cast<std::size_t>(info.KeyLength), '\0');
  s.RecordLength = info.RecordLength;
  return 0;
}

KeyInfoResult KeyInfo(std::int16_t fileId, std::int16_t keyNumber) {
  KeyInfoResult r;
  int slot = OpenSlot(fileId);
  if (slot == 0) return r;
  const FileLayout& layout = Layout(FileTable()[static_cast<std::size_t>(slot)]);
  r.RecordLength = layout.RecordLength;
  if (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= layout.Keys.size()) return r;
  r.KeyLength = KeyLength(layout.Keys[static_cast<std::size_t>(keyNumber)]);
  return r;
}

namespace {
std::int16_t TransactionCall(std::uint16_t op) {
  std::array<char, 128> block{};
  std::uint32_t length = 0;
  char data[1] = {0};
  char key[1] = {0};
  return Call(op, block.data(), data, &length, key, 0, 0);
}
}  // namespace

std::int16_t BeginTransaction() { return TransactionCall(19); }
std::int16_t EndTransaction() { return TransactionCall(20); }
std::int16_t AbortTransaction() { return TransactionCall(21); }

std::int16_t ResetDataFiles() {
  FileSlot& scratch = FileTable()[0];
  scratch.PositionBlock.fill(' ');
  std::uint32_t length = 0;
  char data[1] = {0};
  char key[1] = {0};
  std::int16_t status = Call(kOpReset, scratch.PositionBlock.data(), data, &length, key, 0, 0);
  scratch.PositionBlock.fill('\0');
  if (status == 0) {
    std::string saved = SavedLockModes();
    ClearFileTable();
    SavedLockModes() = saved;
  }
  return status;
}

void BeforeWaiting() { recordmanager::Rest(); }

std::int16_t RecordCall(int slot, std::uint16_t& operation) {
  if (slot < 1 || slot > kFileSlots) return kStatusNotOpen;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  std::uint16_t op = operation;
  bool read = (op >= 5 && op <= 13) || op == 19 || (op >= 22 && op <= 24) || (op >= 33 && op <= 35);
  if (read && s.LockMode != kLockNone) op = static_cast<std::uint16_t>(op + 200);
  operation = op;

  const std::size_t bytes = AreaBytes(s);
  const std::uint16_t sent = static_cast<std::uint16_t>(op % 100);
  char filler = ' ';
  if (sent == 8 || sent == 9) filler = '\0';
  if (sent == 10 || sent == 11) filler = '\xFF';
  const std::size_t keyLength = std::min<std::size_t>(s.KeyValue.size(), 255);

  int attempt = 0;
  std::int16_t status;
  // One buffer for every call of the process (one thread): no allocation
  // per read.
  static std::vector<char> buffer;
  // The record manager may fill RecordLength bytes, whatever the area holds.
  const std::size_t recordBytes = s.RecordLength > 0 ? static_cast<std::size_t>(s.RecordLength) : 0;
  buffer.resize(std::max({kBufferSize, bytes, recordBytes}));
  // What the call may see: the area, then blanks up to the record length.
  const std::size_t seen = std::max(bytes, recordBytes);
  std::array<char, kKeyBufferSize> key{};
  for (;;) {
    if (attempt == 1) CurrentNotice().Show(RecordWaitText(), 24);
    std::copy_n(s.RecordArea.begin(), bytes, buffer.begin());
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(bytes), buffer.begin() + static_cast<std::ptrdiff_t>(seen),
              ' ');
    key.fill(filler);
    std::copy_n(s.KeyValue.begin(), keyLength, key.begin());
    auto length = static_cast<std::uint32_t>(s.RecordLength > 0 ? s.RecordLength : 0);
    status = Call(op, s.PositionBlock.data(), buffer.data(), &length, key.data(),
                  static_cast<std::uint8_t>(keyLength), static_cast<std::int8_t>(s.KeyNumber));
    std::copy_n(buffer.begin(), std::min<std::size_t>(bytes, length), s.RecordArea.begin());
    s.KeyValue.assign(key.data(), keyLength);
    if ((status == kStatusRecordLocked || status == kStatusFileLocked) && s.LockMode == kLockWait) {
      double ms = std::nearbyint(platform::RandomFraction() * 10000.0 + 1.0);
      BeforeWaiting();
      platform::Pause(static_cast<int>(std::clamp(ms, 1.0, 10000.0)));
      CurrentNotice().StillWaiting();
      attempt = std::min(attempt + 1, 2);
      continue;
    }
    if (attempt != 0) CurrentNotice().Hide();
    return status;
  }
}

std::int16_t ReadByKey(std::int16_t fileId, std::int16_t keyNumber, std::string_view keyValue,
                       std::int16_t direction) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return kStatusNotOpen;
  KeyInfoResult info = KeyInfo(fileId, keyNumber);
  if (info.KeyLength == 0) return kStatusNoSuchKey;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  s.KeyNumber = keyNumber;
  std::string value(keyValue.substr(0, static_cast<std::size_t>(info.KeyLength)));
  value.resize(static_cast<std::size_t>(info.KeyLength), '\0');
  s.KeyValue = value;
  std::uint16_t op = direction == 0 ? kOpGetEqual : direction > 0 ? kOpGetGreaterOrEqual : kOpGetLessOrEqual;
  return ToStatus(RecordCall(slot, op));
}

std::int16_t StepRecords(std::int16_t fileId, std::int16_t count) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return kStatusNotOpen;
  if (count == 0) return 0;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  std::uint16_t op = count > 0 ? kOpGetNext : kOpGetPrevious;
  int n = count > 0 ? count : -static_cast<int>(count);
  std::int16_t status = 0;
  while (n > 1 && status == 0) {
    // Skipped records go to a scratch buffer, not to the record area.
    std::vector<char> buffer(kBufferSize, ' ');
    std::array<char, kKeyBufferSize> key{};
    std::copy(s.KeyValue.begin(), s.KeyValue.end(), key.begin());
    std::uint32_t length = kBufferSize;
    status = ToStatus(Call(op, s.PositionBlock.data(), buffer.data(), &length, key.data(),
                           static_cast<std::uint8_t>(std::min<std::size_t>(s.KeyValue.size(), 255)),
                           static_cast<std::int8_t>(s.KeyNumber)));
    TakeReturnedKey(s, key.data());
    --n;
  }
  if (n == 1 && status == 0) status = ToStatus(RecordCall(slot, op));
  return status;
}

namespace {
// Reads the record at `position` into the slot's area by a direct read
// `op` (with or without the lock bias).
std::int16_t ReadAtPosition(FileSlot& s, std::int32_t position, std::uint16_t op) {
  std::vector<char> buffer(kBufferSize, ' ');
  base::WriteLe<std::int32_t>(buffer.data(), position);
  std::array<char, kKeyBufferSize> key{};
  std::uint32_t length = kBufferSize;
  std::int16_t status = ToStatus(
      Call(op, s.PositionBlock.data(), buffer.data(), &length, key.data(), 255, static_cast<std::int8_t>(s.KeyNumber)));
  TakeReturnedKey(s, key.data());
  if (status == 0) {
    std::size_t bytes = std::min<std::size_t>(AreaBytes(s), length);
    std::copy_n(buffer.begin(), std::min(bytes, buffer.size()), s.RecordArea.begin());
  }
  return status;
}
}  // namespace

std::int32_t RecordPosition(std::int16_t fileId, std::int32_t position) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return position == 0 ? 0 : kStatusNotOpen;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  if (position == 0) {
    std::vector<char> buffer(kBufferSize, ' ');
    std::fill_n(buffer.begin(), 4, '\0');
    std::uint32_t length = kBufferSize;
    char key[kKeyBufferSize] = {};
    std::int16_t status = Call(kOpGetPosition, s.PositionBlock.data(), buffer.data(), &length, key, 0, 0);
    if (status != 0) return 0;
    return base::ReadLe<std::int32_t>(buffer.data());
  }
  return ReadAtPosition(s, position, kOpGetDirect);
}

std::int16_t LockCurrentRecord(std::int16_t fileId) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return kStatusNotOpen;
  const std::int32_t position = RecordPosition(fileId, 0);
  if (position == 0) return kStatusNoCurrentRecord;
  return ReadAtPosition(FileTable()[static_cast<std::size_t>(slot)], position, kOpGetDirect + kLockNoWaitBias);
}

std::int16_t InsertRecord(std::int16_t fileId) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return kStatusNotOpen;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  std::uint16_t op = kOpInsert;
  std::int16_t status = RecordCall(slot, op);
  AppendChangeLog(fileId, op, status);
  if (status != 0) std::fill(s.KeyValue.begin(), s.KeyValue.end(), '\0');
  return status;
}

std::int16_t UpdateRecord(std::int16_t fileId) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return kStatusNotOpen;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  std::int32_t position = RecordPosition(fileId, 0);
  std::uint16_t op = kOpUpdate;
  std::int16_t status = RecordCall(slot, op);
  AppendChangeLog(fileId, op, status);
  status = ToStatus(status);
  if (status != 0) std::fill(s.KeyValue.begin(), s.KeyValue.end(), '\0');
  // Reading the record again drops unsaved changes after a failed update.
  RecordPosition(fileId, position);
  return status;
}

std::int16_t DeleteRecord(std::int16_t fileId) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return kStatusNotOpen;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  std::uint16_t op = kOpDelete;
  std::int16_t status = RecordCall(slot, op);
  if (status != 0) std::fill(s.KeyValue.begin(), s.KeyValue.end(), '\0');
  return status;
}

std::int16_t UnlockRecord(std::int16_t fileId) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return kStatusNotOpen;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  std::uint32_t length = 0;
  char data[1] = {0};
  char key[1] = {0};
  // Key number -1: the single record lock.
  return Call(kOpUnlock, s.PositionBlock.data(), data, &length, key, 0, -1);
}

void SetLockMode(std::int16_t fileId, std::string_view letters, std::int16_t& status) {
  int slot = OpenSlot(fileId);
  if (slot == 0) {
    status = kStatusNotOpen;
    return;
  }
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  std::string& saved = SavedLockModes();
  for (char c : letters) {
    switch (c) {
      case 'd': case 'D': s.LockMode = kLockNone; break;
      case 'a': case 'A': s.LockMode = kLockWait; break;
      case 'b': case 'B': s.LockMode = kLockNoWait; break;
      case '+':
        saved += static_cast<char>(slot);
        saved += static_cast<char>(s.LockMode);
        break;
      case '-':
        for (std::size_t i = saved.size() / 2; i-- > 0;) {
          if (saved[2 * i] == static_cast<char>(slot)) {
            s.LockMode = static_cast<std::int16_t>(saved[2 * i + 1]);
            saved.erase(2 * i, 2);
            break;
          }
        }
        break;
      default: break;
    }
  }
}

std::string KeyImage(std::string_view keyValue, std::int16_t fileId) {
  std::string value(keyValue);
  int slot = OpenSlot(fileId);
  if (slot == 0) return value;
  FileSlot& s = FileTable()[static_cast<std::size_t>(slot)];
  const FileLayout& layout = Layout(s);
  if (!layout.Known || s.KeyNumber < 0 || static_cast<std::size_t>(s.KeyNumber) >= layout.Keys.size()) return value;
  std::string_view table = layout.CollatingTable;
  std::size_t offset = 0;  // from 0 here
  for (const KeySegment& seg : layout.Keys[static_cast<std::size_t>(s.KeyNumber)]) {
    std::size_t length = static_cast<std::size_t>(seg.Length);
    if (seg.Flags & kSegmentBinary) {
      if (value.size() < offset + length) value.resize(offset + length, '\0');
      std::reverse(value.begin() + static_cast<std::ptrdiff_t>(offset),
                   value.begin() + static_cast<std::ptrdiff_t>(offset + length));
    } else if ((seg.Flags & kSegmentAlternate) && table.size() == 256) {
      for (std::size_t i = offset; i < offset + length && i < value.size(); ++i)
        value[i] = table[static_cast<unsigned char>(value[i])];
    }
    offset += length;
  }
  return value;
}

std::string CurrentKeyImage(std::int16_t fileId) {
  int slot = OpenSlot(fileId);
  if (slot == 0) return {};
  return KeyImage(FileTable()[static_cast<std::size_t>(slot)].KeyValue, fileId);
}

std::string FailureText(std::int16_t fileId, std::int16_t status) {
  const int slot = OpenSlot(fileId);
  const std::string name =
      slot > 0 ? FileTable()[static_cast<std::size_t>(slot)].FileName : std::to_string(fileId);
  return OpenFailureText() + name + " (" + StatusText(status) + ")";
}

std::string ChangeLogLine(std::int16_t fileId, std::int16_t operation, std::int16_t status) {
  std::string line;
  for (std::int16_t n : {fileId, operation, status}) {
    // Print zones of 14 characters: the next field starts at the next zone.
    if (!line.empty()) line.resize((line.size() + 13) / 14 * 14, ' ');
    line += n < 0 ? '-' : ' ';
    line += std::to_string(n < 0 ? -static_cast<int>(n) : static_cast<int>(n));
    line += ' ';
  }
  return line + "\r\n";
}

}  // namespace data
