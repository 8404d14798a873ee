// Data files reached through the record manager's entry point directly: the
// tool must report a failure and go on (or exit non-zero), never stop the way
// the module's file layer does.
#include <cerrno>
#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "base/little_endian.h"
#include "data/btrcall.h"
#include "data/engine/record_manager.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "tools/kitdata/kitdata.h"

namespace kitdata {
namespace {

constexpr std::uint16_t kOpen = 0, kClose = 1, kInsert = 2, kGetNext = 6, kGetFirst = 12, kCreate = 14,
                        kStat = 15, kBegin = 19, kEnd = 20, kAbort = 21;
constexpr std::int16_t kFileNotFound = 12, kEndOfFile = 9, kDuplicateKey = 5, kFileLocked = 85;

}  // namespace

std::string StatusText(std::int16_t status) {
  switch (status) {
    case recordmanager::kIoError: return "status 2, an input/output error";
    case recordmanager::kDiskFull: return "status 18, the disk is full";
    case recordmanager::kNotOurFile: return "status 30, not a data file";
    case recordmanager::kRecordLocked: return "status 84, a record locked by another program";
    case recordmanager::kFileLocked: return "status 85, locked by another program";
    default: return "status " + std::to_string(status);
  }
}

namespace {

// Host path of the data file with ".dat" when the name has no extension.
std::string DataPath(std::string_view dataFile) {
  std::string name(dataFile);
  std::size_t sep = name.find_last_of("/\\");
  std::size_t dot = name.find('.', sep == std::string::npos ? 0 : sep + 1);
  if (dot == std::string::npos) name += ".dat";
  return platform::HostPathOrRaw(name);
}

// The creation record of an installed dictionary. Without a dictionary
// (missing) `creation` stays empty; one that cannot be read or is broken is
// an error, rather than a file made from another layout than installed.
std::string ReadDictionary(const std::string& dictionary, std::string& creation) {
  creation.clear();
  const platform::ReadResult read = platform::ReadWholeFile(dictionary);
  if (read.status.error == ENOENT) return {};
  if (!read.ok()) return dictionary + ": " + read.status.Describe();
  const std::string& bytes = read.bytes;
  const int length = bytes.size() < 2 ? 0 : base::ReadLe<std::int16_t>(bytes, 0);
  if (length <= 0 || bytes.size() - 2 < static_cast<std::size_t>(length))
    return dictionary + ": not a dictionary (no creation record of the length it gives)";
  creation = bytes.substr(2, static_cast<std::size_t>(length));
  return {};
}

// The creation record of a missing file: ROOT/ddf/<base>.xdf (ROOT two levels
// above the file), or the built-in layout when no dictionary is installed.
std::string CreationFor(std::string_view dataFile, std::string& error) {
  std::string base = BaseName(dataFile);
  std::filesystem::path host(DataPath(dataFile));
  std::filesystem::path root = host.parent_path().parent_path();
  std::string dictionary = platform::HostPathOrRaw((root / "ddf" / (base + ".xdf")).string());
  std::string creation;
  error = ReadDictionary(dictionary, creation);
  if (!error.empty() || !creation.empty()) return creation;
  const FileLayout* layout = FindLayout(base);
  if (layout == nullptr) {
    error = host.string() + ": no dictionary " + dictionary + " and no known layout for " + base;
    return {};
  }
  return CreationRecord(*layout);
}

std::int32_t CreationRecordLength(std::string_view creation) {
  if (creation.size() < 2) return 0;
  return base::ReadLe<std::uint16_t>(creation, 0);
}

// Where record `i` of a batch comes from, as `where` says; records it does
// not name are named by their number from 1.
std::string RecordPlace(const std::vector<std::string>& where, std::size_t i) {
  return i < where.size() ? where[i] : "record " + std::to_string(i + 1);
}

// Sets `repeated` to the text naming every record of `records` that is
// in the data file at `path` already or earlier in `records`; empty when
// none is. The result is a failure to read the file.
std::string FindRepeatedRecords(const std::string& path, const std::vector<std::string>& records,
                                const std::vector<std::string>& where, const RecordIdentity& identity,
                                std::string& repeated) {
  repeated.clear();
  // Read through a handle of its own: a handle that has walked the whole
  // file keeps what it read up to date on each of its own inserts, which
  // grows with the file on every insert.
  std::vector<std::string> existing;
  std::string error;
  auto reader = DataFile::Open(path, false, error);
  if (reader) error = reader->ReadAll(existing);
  if (!error.empty()) return error;
  // Each record's identity and where it was first met: -1 in the file.
  std::unordered_map<std::string, long> seen;
  for (const std::string& r : existing) seen.emplace(identity(r), -1);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto [first, isNew] = seen.emplace(identity(records[i]), static_cast<long>(i));
    if (isNew) continue;
    repeated += RecordPlace(where, i) + ": the same record is " +
                (first->second < 0 ? "already in " + path
                                   : "also " + RecordPlace(where, static_cast<std::size_t>(first->second))) +
                "\n";
  }
  if (!repeated.empty()) repeated += "nothing inserted (--allow-duplicates inserts repeated records all the same)";
  return {};
}

}  // namespace

std::optional<DataFile> DataFile::Open(std::string_view dataFile, bool create, std::string& error) {
  DataFile f;
  f.path_ = DataPath(dataFile);
  std::string key = f.path_;
  if (key.size() > 254) {
    error = f.path_ + ": path too long";
    return std::nullopt;
  }
  auto callOpen = [&]() {
    std::string keyBuffer = key + '\0';
    char owner[5] = {'0', '0', '0', '0', '\0'};
    std::uint32_t len = 5;
    return BTRCALL(kOpen, f.positionBlock_.data(), owner, &len, keyBuffer.data(),
                   static_cast<std::uint8_t>(key.size()), 0);
  };
  std::int16_t status = callOpen();
  if (status == kFileNotFound && create) {
    std::string creation = CreationFor(dataFile, error);
    if (creation.empty()) return std::nullopt;
    creation.resize(1536, ' ');
    std::string scratch(128, ' ');
    std::string keyBuffer = key + '\0';
    std::uint32_t len = 1536;
    std::int16_t made = BTRCALL(kCreate, scratch.data(), creation.data(), &len, keyBuffer.data(),
                                static_cast<std::uint8_t>(key.size()), -1);
    if (made != 0) {
      error = f.path_ + ": cannot be created (" + StatusText(made) + ")";
      return std::nullopt;
    }
    status = callOpen();
  }
  if (status != 0) {
    error = f.path_ + ": cannot be opened (" + StatusText(status) + ")";
    return std::nullopt;
  }
  f.open_ = true;
  std::string stat(1536, ' ');
  std::string keyBuffer(255, ' ');
  std::uint32_t len = 1536;
  status = BTRCALL(kStat, f.positionBlock_.data(), stat.data(), &len, keyBuffer.data(), 255,
                   recordmanager::kStatLayoutOnly);
  if (status != 0) {
    error = f.path_ + ": no file statistics (" + StatusText(status) + ")";
    return std::nullopt;
  }
  f.recordLength_ = base::ReadLe<std::uint16_t>(stat, 0);
  if (f.recordLength_ <= 0) {
    error = f.path_ + ": record length 0";
    return std::nullopt;
  }
  return std::optional<DataFile>(std::move(f));
}

DataFile::DataFile(DataFile&& other) noexcept
    : path_(std::move(other.path_)),
      recordLength_(other.recordLength_),
      positionBlock_(std::move(other.positionBlock_)),
      open_(other.open_) {
  other.open_ = false;
}

DataFile::~DataFile() {
  if (!open_) return;
  std::uint32_t len = 0;
  BTRCALL(kClose, positionBlock_.data(), nullptr, &len, nullptr, 0, 0);
}

std::string DataFile::ReadAll(std::vector<std::string>& records) const {
  records.clear();
  return ReadEach([&](std::string_view record) {
    records.emplace_back(record);
    return true;
  });
}

std::string DataFile::ReadEach(const std::function<bool(std::string_view record)>& each) const {
  std::string buffer(static_cast<std::size_t>(recordLength_), '\0');
  std::string key(255, '\0');
  std::uint16_t op = kGetFirst;
  for (std::size_t count = 0;; ++count) {
    std::uint32_t len = static_cast<std::uint32_t>(recordLength_);
    std::int16_t status = BTRCALL(op, positionBlock_.data(), buffer.data(), &len, key.data(), 255, 0);
    if (status == kEndOfFile) return {};
    if (status != 0)
      return path_ + ": reading record " + std::to_string(count + 1) + " failed (" + StatusText(status) + ")";
    if (!each(std::string_view(buffer.data(), std::min<std::size_t>(len, buffer.size())))) return {};
    op = kGetNext;
  }
}

std::string DataFile::BeginInserts() {
  std::uint32_t none = 0;
  std::int16_t status = BTRCALL(kBegin, positionBlock_.data(), nullptr, &none, nullptr, 0, 0);
  if (status != 0) return path_ + ": cannot begin a transaction (" + StatusText(status) + ")";
  return {};
}

std::string DataFile::Insert(std::string_view record, const std::string& what) {
  insertBuffer_.assign(record);
  std::uint32_t len = static_cast<std::uint32_t>(insertBuffer_.size());
  const std::int16_t status =
      BTRCALL(kInsert, positionBlock_.data(), insertBuffer_.data(), &len, insertKey_.data(), 255, 0);
  if (status == 0) return {};
  AbortInserts();
  return path_ + ": " + what + (status == kDuplicateKey ? ": duplicate key" : ": not inserted") + " (" +
         StatusText(status) + "); nothing inserted";
}

std::string DataFile::HoldForWriting() {
  const std::int16_t status = recordmanager::HoldForWriting(positionBlock_.data());
  if (status == 0) return {};
  AbortInserts();
  return path_ + (status == kFileLocked ? ": another program is writing it" : ": cannot be held for writing") + " (" +
         StatusText(status) + "); nothing inserted";
}

void DataFile::AbortInserts() {
  std::uint32_t none = 0;
  BTRCALL(kAbort, positionBlock_.data(), nullptr, &none, nullptr, 0, 0);
}

std::string DataFile::CommitInserts() {
  std::uint32_t none = 0;
  std::int16_t status = BTRCALL(kEnd, positionBlock_.data(), nullptr, &none, nullptr, 0, 0);
  if (status != 0) return path_ + ": cannot commit (" + StatusText(status) + "); nothing inserted";
  return {};
}

std::string DataFile::InsertAll(const std::vector<std::string>& records, const std::vector<std::string>& where) {
  std::string error = BeginInserts();
  if (!error.empty()) return error;
  for (std::size_t i = 0; i < records.size(); ++i) {
    error = Insert(records[i], RecordPlace(where, i));
    if (!error.empty()) return error;
  }
  return CommitInserts();
}

AddResult DataFile::Add(const std::vector<std::string>& records, const std::vector<std::string>& where,
                        const RecordIdentity& identity, const AddOptions& options) {
  AddResult result;
  result.path = path_;
  std::string repeated;
  if (!options.allowDuplicates) {
    result.error = FindRepeatedRecords(path_, records, where, identity, repeated);
    if (!result.error.empty()) {
      result.error += "; nothing inserted";
      return result;
    }
    if (!repeated.empty()) {
      result.error = repeated;
      return result;
    }
  }
  result.error = BeginInserts();
  if (!result.error.empty()) return result;
  if (!records.empty()) {
    // Held from here to the commit: looked at again, the file shows every
    // record another program added since the first look, and no other put
    // or import can add more until this one commits. The look comes before
    // the inserts, which it would see on the server.
    result.error = HoldForWriting();
    if (!result.error.empty()) return result;
    if (!options.allowDuplicates) {
      result.error = FindRepeatedRecords(path_, records, where, identity, repeated);
      if (!result.error.empty() || !repeated.empty()) {
        AbortInserts();
        result.error = result.error.empty() ? repeated : result.error + "; nothing inserted";
        return result;
      }
    }
  }
  for (std::size_t i = 0; result.error.empty() && i < records.size(); ++i)
    result.error = Insert(records[i], RecordPlace(where, i));
  if (!result.error.empty()) return result;
  result.error = CommitInserts();
  if (result.error.empty()) result.added = records.size();
  return result;
}

AddResult PutRaw(std::string_view dataFile, const std::string& rawBytes, const AddOptions& options) {
  AddResult result;
  std::string& error = result.error;
  // The record length comes from the file, or from what it would be created
  // from: bad raw data must not even leave an empty file behind.
  std::size_t length = 0;
  if (auto existing = DataFile::Open(dataFile, false, error)) {
    length = static_cast<std::size_t>(existing->RecordLength());
  } else {
    error.clear();
    std::string creation = CreationFor(dataFile, error);
    if (creation.empty()) return result;
    length = static_cast<std::size_t>(CreationRecordLength(creation));
  }
  if (length == 0) {
    error = DataPath(dataFile) + ": record length 0";
    return result;
  }
  if (rawBytes.size() % length != 0) {
    error = DataPath(dataFile) + ": raw data of " + std::to_string(rawBytes.size()) +
            " bytes is not a whole number of " + std::to_string(length) + "-byte records; nothing inserted";
    return result;
  }
  std::vector<std::string> records;
  std::vector<std::string> where;
  auto file = DataFile::Open(dataFile, true, error);
  if (!file) return result;
  result.path = file->Path();
  if (static_cast<std::size_t>(file->RecordLength()) != length) {
    error = file->Path() + ": record length changed";
    return result;
  }
  for (std::size_t at = 0; at < rawBytes.size(); at += length) {
    records.push_back(rawBytes.substr(at, length));
    where.push_back("record " + std::to_string(records.size()) + " (byte " + std::to_string(at) + ")");
  }
  return file->Add(
      records, where, [](std::string_view r) { return std::string(r); }, options);
}

std::string GetRaw(std::string_view dataFile, std::string& rawBytes) {
  rawBytes.clear();
  std::string error;
  auto file = DataFile::Open(dataFile, false, error);
  if (!file) return error;
  return file->ReadEach([&rawBytes](std::string_view record) {
    rawBytes += record;
    return true;
  });
}

std::string GetRawToFile(std::string_view dataFile, const std::string& rawFile) {
  std::string raw;
  std::string error = GetRaw(dataFile, raw);
  if (!error.empty()) return error;
  const platform::FileStatus written = ReplaceFile(rawFile, raw);
  return written.ok() ? std::string() : rawFile + ": " + written.Describe();
}

}  // namespace kitdata
