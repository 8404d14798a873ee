// The record manager's entry point: what every storage shares. Position
// blocks name open files; each open keeps a cursor along its current key, a
// window of records read ahead of it, and at most one record lock. The
// records themselves live in a storage (storage.h): SQLite files, or the
// PostgreSQL server named by KITDB.
#include "data/btrcall.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/engine/file_definition.h"
#include "data/engine/read_window.h"
#include "data/engine/record_manager.h"
#include "data/engine/storage.h"

namespace recordmanager {
namespace {

constexpr char kBlockMagic[4] = {'K', 'R', 'M', '1'};

// Read-ahead sizes: a walk, or a search that may start one, reads
// kFirstReadAhead records, enough for the short walks of a report (an
// owner's collections) in one read; a walk that keeps using up what was
// read doubles it, up to kMostReadAhead records or kMostReadAheadBytes per
// open. A get equal reads one record. The most is kept small: beyond a few
// hundred records a read costs little more per record, while what a walk
// reads past the end of its range (another property's records) is wasted.
constexpr int kFirstReadAhead = 16;
constexpr int kMostReadAhead = 256;
constexpr int kMostReadAheadBytes = 256 * 1024;

struct Handle {
  std::unique_ptr<StoredFile> file;
  // The cursor: where the last operation left along `key`.
  bool positioned = false;
  int key = 0;
  std::string image;
  std::int64_t seq = 0;
  std::int64_t pos = 0;  // 0 after a delete: no current record
  std::int64_t lockedPos = 0;
  ReadWindow window;
  // Where the cursor's record lies in the window, when it was taken from
  // it: a walk goes on from there without searching.
  bool inWindow = false;
  std::uint64_t windowGeneration = 0;
  std::size_t windowIndex = 0;

  const FileDefinition& Def() const { return file->Definition(); }
  bool ValidKey(int k) const { return k >= 0 && k < static_cast<int>(Def().keys.size()); }
};

std::map<std::int32_t, std::unique_ptr<Handle>>& Handles() {
  static std::map<std::int32_t, std::unique_ptr<Handle>> handles;
  return handles;
}
std::int32_t g_nextHandle = 1;
bool g_transaction = false;
// Goes up with every transaction that is rolled back: windows read before
// may hold records that are gone again.
std::uint64_t g_rollbacks = 0;

// Record locks of this process by (file, position): two opens of one file
// in one program refuse each other's locked records, as two programs do.
std::map<std::pair<std::string, std::int64_t>, const Handle*>& RecordLocks() {
  static std::map<std::pair<std::string, std::int64_t>, const Handle*> locks;
  return locks;
}

bool LockedByAnotherHandle(const Handle& h, std::int64_t pos) {
  auto it = RecordLocks().find({h.file->Identity(), pos});
  return it != RecordLocks().end() && it->second != &h;
}

void ForgetLock(Handle& h) {
  if (h.lockedPos != 0) RecordLocks().erase({h.file->Identity(), h.lockedPos});
  h.lockedPos = 0;
}

void ReleaseLock(Handle& h) {
  if (h.lockedPos != 0) h.file->Unlock(h.lockedPos);
  ForgetLock(h);
}

// The storage of a file about to be created or opened.
Storage& ChosenStorage() { return DataOnServer() ? PostgresStorage() : SqliteStorage(); }

Handle* FromBlock(void* block) {
  if (!block) return nullptr;
  auto* b = static_cast<unsigned char*>(block);
  if (std::memcmp(b, kBlockMagic, 4) != 0) return nullptr;
  std::int32_t id;
  std::memcpy(&id, b + 4, 4);
  auto it = Handles().find(id);
  return it == Handles().end() ? nullptr : it->second.get();
}

std::string KeyBufferPath(const void* keyBuffer, std::uint8_t keyLength) {
  if (!keyBuffer) return {};
  const char* k = static_cast<const char*>(keyBuffer);
  std::string path(k, keyLength);
  auto zero = path.find('\0');
  if (zero != std::string::npos) path.resize(zero);
  while (!path.empty() && path.back() == ' ') path.pop_back();
  return path;
}

// The key as its bytes stand in the record, segments joined, written
// straight into the caller's key buffer.
void CopyKey(const FileDefinition& def, int key, const std::string& record, void* keyBuffer) {
  auto* out = static_cast<char*>(keyBuffer);
  for (const Segment& seg : def.keys[static_cast<std::size_t>(key)].segments) {
    const auto at = static_cast<std::size_t>(seg.position - 1), length = static_cast<std::size_t>(seg.length);
    const std::size_t n = at < record.size() ? std::min(length, record.size() - at) : 0;
    if (n) std::memcpy(out, record.data() + at, n);
    if (n < length) std::memset(out + n, 0, length - n);
    out += length;
  }
}

void ReturnRecord(const Row& row, Handle& h, int key, void* data, std::uint32_t* length, void* keyBuffer,
                  std::int16_t& status) {
  std::uint32_t room = length ? *length : 0;
  std::size_t n = std::min<std::size_t>(room, row.data.size());
  if (data && n) std::memcpy(data, row.data.data(), n);
  if (length) *length = static_cast<std::uint32_t>(n);
  if (n < row.data.size()) status = kBufferTooShort;
  if (keyBuffer && h.ValidKey(key)) CopyKey(h.Def(), key, row.data, keyBuffer);
}

void SetCursor(Handle& h, int key, const Row& row) {
  h.inWindow = false;
  h.positioned = true;
  h.key = key;
  h.image = row.image;
  h.seq = row.seq;
  h.pos = row.pos;
}

// The cursor on row `index` of the window, and the record returned: the
// next step of a walk goes on from there without searching.
std::int16_t ReturnFromWindow(Handle& h, int key, const Row& row, std::size_t index, void* data,
                              std::uint32_t* length, void* keyBuffer) {
  SetCursor(h, key, row);
  h.inWindow = true;
  h.windowGeneration = h.window.Generation();
  h.windowIndex = index;
  std::int16_t status = kOk;
  ReturnRecord(row, h, key, data, length, keyBuffer, status);
  return status;
}

bool WindowGood(Handle& h, int key) {
  ReadWindow& w = h.window;
  if (w.Empty()) return false;
  if (w.Key() != key || w.epoch != g_rollbacks || h.file->ChangedSince(w.mark)) {
    w.Clear();
    return false;
  }
  return true;
}

// Reads `limit` records from `from` into the window.
std::int16_t FillWindow(Handle& h, int key, const Cut& from, bool forward, int limit) {
  ReadWindow& w = h.window;
  // Noted before the reading: a commit during it makes the window stale.
  const ChangeMark mark = h.file->Mark();
  w.Incoming().Clear();
  const std::int16_t status = h.file->Find(key, from, forward, limit, w.Incoming());
  if (status != kOk) {
    w.Clear();
    return status;
  }
  w.Fill(key, from, forward, limit);
  w.mark = mark;
  w.epoch = g_rollbacks;
  return kOk;
}

// The most records one read-ahead of this file takes.
int MostReadAhead(const Handle& h) {
  return std::max(kFirstReadAhead,
                  std::min(kMostReadAhead, kMostReadAheadBytes / std::max(1, h.Def().recordLength)));
}

// Finds the record a search from `from` reaches: from the window when it
// knows, otherwise from the storage. A search that goes on from the window
// (starts inside it, or right after a walk used it up) reads ahead more
// than the window did; any other reads kFirstReadAhead records when
// `readAhead` (a walk, or a search that may start one), else one. Returns 0
// with `row` set, or 0 with `row` null when there is no such record, or an
// error status.
std::int16_t Search(Handle& h, int key, const Cut& from, bool forward, bool readAhead, const Row*& row,
                    std::size_t& index) {
  row = nullptr;
  ReadWindow& w = h.window;
  const bool good = WindowGood(h, key);
  if (good) {
    const ReadWindow::Answer answer = w.Search(from, forward);
    if (answer.outcome == ReadWindow::Outcome::kRecord) {
      row = answer.row;
      index = answer.index;
      return kOk;
    }
    if (answer.outcome == ReadWindow::Outcome::kNone) return kOk;
  }
  int limit = 1;
  if (good && (w.Covers(from) || (readAhead && w.UsedUpBefore(from, forward))))
    limit = std::clamp(2 * w.Limit(), kFirstReadAhead, MostReadAhead(h));
  else if (readAhead)
    limit = kFirstReadAhead;
  if (std::int16_t status = FillWindow(h, key, from, forward, limit); status != kOk) return status;
  const ReadWindow::Answer answer = w.Search(from, forward);
  if (answer.outcome == ReadWindow::Outcome::kRecord) {
    row = answer.row;
    index = answer.index;
  }
  return kOk;
}

// The search each get operation makes.
Cut SearchFrom(int op, const Handle& h, const std::string& image) {
  switch (op) {
    case kGetEqual:
    case kGetGreaterOrEqual: return Cut::After(image, kSeqBelowAll);
    case kGetGreater: return Cut::After(image, kSeqAboveAll);
    case kGetLess: return Cut::After(image, kSeqBelowAll);
    case kGetLessOrEqual: return Cut::After(image, kSeqAboveAll);
    case kGetFirst: return Cut::Bottom();
    case kGetLast: return Cut::Top();
    case kGetNext: return Cut::After(h.image, h.seq);
    default: return Cut::After(h.image, h.seq - 1);  // previous
  }
}

bool Forward(int op) {
  return op == kGetEqual || op == kGetGreaterOrEqual || op == kGetGreater || op == kGetFirst || op == kGetNext;
}

// Takes the record lock on `row` for this open; on success `row` holds the
// record as it is now (nullopt when it has gone).
std::int16_t LockRecord(Handle& h, int key, std::optional<Row>& row) {
  const std::int64_t pos = row->pos;
  if (h.lockedPos == pos) return kOk;
  if (LockedByAnotherHandle(h, pos)) return kRecordLocked;
  std::optional<Row> fresh;
  const std::int16_t status = h.file->LockAndRead(key, pos, h.lockedPos, fresh);
  if (status != kOk) return status;
  ForgetLock(h);
  h.lockedPos = pos;
  RecordLocks()[{h.file->Identity(), pos}] = &h;
  if (h.window.AtPosition(pos) && (!fresh || fresh->data != row->data)) h.window.Clear();
  row = std::move(fresh);
  return kOk;
}

std::int16_t GetDirect(Handle& h, bool lock, void* data, std::uint32_t* length, void* keyBuffer, int key) {
  if (!data || !length || *length < 4) return kBufferTooShort;
  std::uint32_t pos32;
  std::memcpy(&pos32, data, 4);
  const auto pos = static_cast<std::int64_t>(pos32);
  if (!h.ValidKey(key)) key = 0;
  std::optional<Row> row;
  // The record just written or walked over is usually still in the window.
  const Row* known = !lock && WindowGood(h, key) ? h.window.AtPosition(pos) : nullptr;
  if (known) {
    row = *known;
  } else if (std::int16_t status = h.file->ReadAt(key, pos, row); status != kOk) {
    return status;
  }
  if (!row) return kInvalidPosition;
  if (lock) {
    if (std::int16_t status = LockRecord(h, key, row); status != kOk) return status;
    if (!row) {
      ReleaseLock(h);
      return kInvalidPosition;
    }
  }
  std::int16_t status = kOk;
  SetCursor(h, key, *row);
  ReturnRecord(*row, h, key, data, length, keyBuffer, status);
  return status;
}

std::int16_t Get(Handle& h, int op, bool lock, void* data, std::uint32_t* length, void* keyBuffer,
                 std::uint8_t keyLength, int key) {
  if (op == kGetDirect) return GetDirect(h, lock, data, length, keyBuffer, key);
  if (!h.ValidKey(key)) return kInvalidKeyNumber;
  const bool walk = op == kGetNext || op == kGetPrevious;
  if (walk && !lock && h.inWindow && h.key == key && WindowGood(h, key)) {
    std::size_t index = h.windowIndex;
    if (const Row* next = h.window.Neighbour(h.windowGeneration, index, op == kGetNext))
      return ReturnFromWindow(h, key, *next, index, data, length, keyBuffer);
  }
  if (walk) {
    if (!h.positioned) return kNoCurrentRecord;
    if (h.key != key) {
      // Another key: find the current record's place along it.
      std::optional<Row> current;
      if (std::int16_t status = h.file->ReadAt(key, h.pos, current); status != kOk) return status;
      if (!current) return kNoCurrentRecord;
      h.key = key;
      h.image = current->image;
      h.seq = current->seq;
    }
  }
  std::string image;
  if (op == kGetEqual || (op >= kGetGreater && op <= kGetLessOrEqual))
    image = ImageFromKeyValue(h.Def(), key,
                              std::string_view(static_cast<const char*>(keyBuffer), keyBuffer ? keyLength : 0));
  const Row* found = nullptr;
  std::size_t index = 0;
  if (std::int16_t status = Search(h, key, SearchFrom(op, h, image), Forward(op), op != kGetEqual, found, index);
      status != kOk)
    return status;
  if (found && op == kGetEqual && found->image != image) found = nullptr;
  if (!found) return op == kGetEqual ? kKeyNotFound : kEndOfFile;
  if (lock) {
    std::optional<Row> row = *found;
    std::int16_t status = LockRecord(h, key, row);
    if (status != kOk) return status;
    if (!row) {
      ReleaseLock(h);
      return op == kGetEqual ? kKeyNotFound : kEndOfFile;
    }
    SetCursor(h, key, *row);
    ReturnRecord(*row, h, key, data, length, keyBuffer, status);
    return status;
  }
  return ReturnFromWindow(h, key, *found, index, data, length, keyBuffer);
}

std::vector<std::string> Images(const FileDefinition& def, const std::string& record) {
  std::vector<std::string> images;
  for (std::size_t k = 0; k < def.keys.size(); ++k) images.push_back(ImageFromRecord(def, static_cast<int>(k), record));
  return images;
}

// The window's mark to keep through this open's own write, or null when
// there is no window worth keeping.
ChangeMark* KeepMark(Handle& h) {
  ReadWindow& w = h.window;
  if (w.Empty() || w.epoch != g_rollbacks) {
    w.Clear();
    return nullptr;
  }
  return &w.mark;
}

// After this open's own write: the window takes the record as written, or
// goes when anything else may have changed.
void WrittenIntoWindow(Handle& h, const ChangeMark* keep, std::int64_t oldPos, Row* written) {
  ReadWindow& w = h.window;
  if (!keep || !keep->valid) {
    w.Clear();
    return;
  }
  if (oldPos != 0 && written)
    w.Rewrite(oldPos, std::move(*written));
  else if (oldPos != 0)
    w.Remove(oldPos);
  else if (written)
    w.Put(std::move(*written));
}

void ReturnKey(const Handle& h, int key, const std::string& record, void* keyBuffer, std::uint8_t keyLength) {
  if (!keyBuffer) return;
  const std::string kb = KeyBytes(h.Def(), key, record);
  std::memcpy(keyBuffer, kb.data(), std::min<std::size_t>(kb.size(), std::max<std::size_t>(keyLength, kb.size())));
}

std::int16_t Insert(Handle& h, const void* data, std::uint32_t* length, void* keyBuffer, std::uint8_t keyLength,
                    int key) {
  if (!data || !length || *length < static_cast<std::uint32_t>(h.Def().recordLength)) return kBufferTooShort;
  const std::string record(static_cast<const char*>(data), static_cast<std::size_t>(h.Def().recordLength));
  const std::vector<std::string> images = Images(h.Def(), record);
  std::int64_t pos = 0;
  std::vector<std::int64_t> seqs;
  ChangeMark* keep = KeepMark(h);
  const std::int16_t status = h.file->Insert(record, images, pos, seqs, keep);
  if (status != kOk) {
    if (keep && !keep->valid) h.window.Clear();
    return status;
  }
  const int wk = h.window.Key();
  Row forWindow{pos, record, h.window.Empty() ? std::string() : images[static_cast<std::size_t>(wk)],
                      h.window.Empty() ? 0 : seqs[static_cast<std::size_t>(wk)]};
  WrittenIntoWindow(h, keep, 0, &forWindow);
  if (h.ValidKey(key)) {
    SetCursor(h, key, Row{pos, record, images[static_cast<std::size_t>(key)], seqs[static_cast<std::size_t>(key)]});
    ReturnKey(h, key, record, keyBuffer, keyLength);
  }
  return kOk;
}

std::int16_t Update(Handle& h, const void* data, std::uint32_t* length, void* keyBuffer, std::uint8_t keyLength,
                    int key) {
  if (!h.positioned || h.pos == 0) return kNoCurrentRecord;
  if (!data || !length || *length < static_cast<std::uint32_t>(h.Def().recordLength)) return kBufferTooShort;
  if (LockedByAnotherHandle(h, h.pos)) return kRecordLocked;
  const std::string record(static_cast<const char*>(data), static_cast<std::size_t>(h.Def().recordLength));
  const std::vector<std::string> images = Images(h.Def(), record);
  const std::int64_t pos = h.pos;
  std::vector<std::int64_t> seqs;
  ChangeMark* keep = KeepMark(h);
  const std::int16_t status = h.file->Update(pos, record, images, h.lockedPos, seqs, keep);
  if (status != kOk) {
    if (keep && !keep->valid) h.window.Clear();
    return status;
  }
  ForgetLock(h);
  const int wk = h.window.Key();
  Row forWindow{pos, record, h.window.Empty() ? std::string() : images[static_cast<std::size_t>(wk)],
                      h.window.Empty() ? 0 : seqs[static_cast<std::size_t>(wk)]};
  WrittenIntoWindow(h, keep, pos, &forWindow);
  const int ck = h.ValidKey(key) ? key : h.key;
  SetCursor(h, ck, Row{pos, record, images[static_cast<std::size_t>(ck)], seqs[static_cast<std::size_t>(ck)]});
  ReturnKey(h, ck, record, keyBuffer, keyLength);
  return kOk;
}

std::int16_t Delete(Handle& h) {
  if (!h.positioned || h.pos == 0) return kNoCurrentRecord;
  if (LockedByAnotherHandle(h, h.pos)) return kRecordLocked;
  ChangeMark* keep = KeepMark(h);
  const std::int16_t status = h.file->Delete(h.pos, h.lockedPos, keep);
  if (status != kOk) {
    if (keep && !keep->valid) h.window.Clear();
    return status;
  }
  ForgetLock(h);
  WrittenIntoWindow(h, keep, h.pos, nullptr);
  // The cursor keeps the deleted record's place: next and previous go on from there.
  h.pos = 0;
  return kOk;
}

std::int16_t Stat(Handle& h, void* data, std::uint32_t* length, int key) {
  std::string out = h.Def().creation;
  const auto n32 = key == kStatLayoutOnly ? 0u : static_cast<std::uint32_t>(h.file->RecordCount());
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(6 + i)] = static_cast<char>((n32 >> (8 * i)) & 0xFF);
  std::uint32_t room = length ? *length : 0;
  std::size_t n = std::min<std::size_t>(room, out.size());
  if (data) std::memcpy(data, out.data(), n);
  if (length) *length = static_cast<std::uint32_t>(n);
  return n < out.size() ? kBufferTooShort : kOk;
}

std::int16_t Create(const void* data, std::uint32_t length, const std::string& path) {
  if (path.empty()) return kInvalidFileName;
  FileDefinition def;
  std::int16_t status = ParseCreationRecord(std::string_view(static_cast<const char*>(data), data ? length : 0), def);
  if (status != kOk) return status;
  return ChosenStorage().Create(path, def);
}

std::int16_t Open(void* block, const std::string& path) {
  if (!block) return kInvalidOperation;
  if (path.empty()) return kInvalidFileName;
  auto h = std::make_unique<Handle>();
  if (std::int16_t status = ChosenStorage().Open(path, h->file); status != kOk) return status;
  std::int32_t id = g_nextHandle++;
  auto* b = static_cast<unsigned char*>(block);
  std::memcpy(b, kBlockMagic, 4);
  std::memcpy(b + 4, &id, 4);
  Handles()[id] = std::move(h);
  return kOk;
}

void CloseHandle(Handle& h) {
  ReleaseLock(h);
  h.file.reset();
}

std::array<Storage*, 2> AllStorages() { return {&SqliteStorage(), &PostgresStorage()}; }

std::int16_t Transaction(int op) {
  if (op == kBeginTransaction) {
    if (g_transaction) return kInvalidOperation;
    for (Storage* s : AllStorages())
      if (std::int16_t status = s->Begin(); status != kOk) {
        for (Storage* t : AllStorages()) t->Rollback();
        return status;
      }
    g_transaction = true;
    return kOk;
  }
  if (!g_transaction) return kInvalidOperation;
  g_transaction = false;
  std::int16_t result = kOk;
  for (Storage* s : AllStorages())
    if (std::int16_t status = op == kEndTransaction ? s->Commit() : s->Rollback(); status != kOk) result = status;
  if (op == kAbortTransaction || result != kOk) ++g_rollbacks;
  return result;
}

std::int16_t Reset() {
  for (auto& [id, h] : Handles()) CloseHandle(*h);
  Handles().clear();
  RecordLocks().clear();
  if (g_transaction) ++g_rollbacks;
  g_transaction = false;
  for (Storage* s : AllStorages()) s->Reset();
  return kOk;
}

}  // namespace

bool DataOnServer() {
  const char* server = std::getenv("KITDB");
  return server && *server;
}

void Rest() {
  for (Storage* s : AllStorages()) s->Rest();
}

std::int16_t HoldForWriting(void* positionBlock) {
  Handle* h = FromBlock(positionBlock);
  if (!h) return kFileNotOpen;
  if (!g_transaction) return kInvalidOperation;
  const std::int16_t status = h->file->HoldForWriting();
  // Records read ahead before the hold may be older than what it lets this
  // program see (on the server, other programs' commits are told only
  // between transactions).
  if (status == kOk)
    for (auto& [id, other] : Handles())
      if (other->file && other->file->Identity() == h->file->Identity()) other->window.Clear();
  return status;
}

}  // namespace recordmanager

extern "C" std::int16_t BTRCALL(std::uint16_t operation, void* positionBlock, void* dataBuffer,
                                std::uint32_t* dataLength, void* keyBuffer, std::uint8_t keyLength,
                                std::int8_t keyNumber) {
  using namespace recordmanager;
  bool lock = false;
  int op = operation;
  if (op >= 100 && op < 500) {
    lock = true;  // single or multiple lock, wait or no wait: a no-wait single lock here
    op %= 100;
  }
  switch (op) {
    case kCreate: return Create(dataBuffer, dataLength ? *dataLength : 0, KeyBufferPath(keyBuffer, keyLength));
    case kOpen: return Open(positionBlock, KeyBufferPath(keyBuffer, keyLength));
    case kReset: return Reset();
    case kBeginTransaction:
    case kEndTransaction:
    case kAbortTransaction: return Transaction(op);
    default: break;
  }
  Handle* h = FromBlock(positionBlock);
  if (!h) return kFileNotOpen;
  switch (op) {
    case kClose: {
      std::int32_t id;
      std::memcpy(&id, static_cast<unsigned char*>(positionBlock) + 4, 4);
      CloseHandle(*h);
      Handles().erase(id);
      std::memset(positionBlock, 0, 8);
      return kOk;
    }
    case kInsert: return Insert(*h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    case kUpdate: return Update(*h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    case kDelete: return Delete(*h);
    case kStat: return Stat(*h, dataBuffer, dataLength, keyNumber);
    case kUnlock: ReleaseLock(*h); return kOk;
    case kGetPosition: {
      if (!h->positioned || h->pos == 0) return kNoCurrentRecord;
      if (!dataBuffer || !dataLength || *dataLength < 4) return kBufferTooShort;
      auto pos = static_cast<std::uint32_t>(h->pos);
      std::memcpy(dataBuffer, &pos, 4);
      *dataLength = 4;
      return kOk;
    }
    case kGetEqual: case kGetNext: case kGetPrevious: case kGetGreater: case kGetGreaterOrEqual:
    case kGetLess: case kGetLessOrEqual: case kGetFirst: case kGetLast: case kGetDirect:
      return Get(*h, op, lock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    default: return kInvalidOperation;
  }
}
