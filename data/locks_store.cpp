#include "data/locks_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "base/strings.h"
#include "config/session.h"
#include "data/engine/record_manager.h"
#include "platform/host_path.h"

namespace data {
namespace {

// Lock files and their folder are shared by every user of the suite's group:
// read and write for the group whatever the creator's umask, and the folder
// hands its group on to the files made in it.
constexpr mode_t kSharedFileMode = 0660;
constexpr mode_t kSharedFolderMode = 02770;

// Who took each record, one 64-byte line per lock record, in a file beside
// the lock file ("PressupH.lck" -> "PressupH.who"). Other programs of the
// suite know only the lock file; its layout has no room for the operator.
constexpr std::size_t kWhoSize = 64;
constexpr std::size_t kWhoId = 0, kWhoTime = 11, kWhoOperator = 19, kWhoOperatorSize = 43;

bool IsFolder(const std::string& hostPath) {
  struct stat st {};
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Gives a file or folder just made the group of `groupOf` (best effort: a
// user outside that group keeps its own).
void ShareGroupOf(int fd, const std::string& path, const std::string& groupOf) {
  struct stat st {};
  if (::stat(groupOf.c_str(), &st) != 0) return;
  if (fd >= 0) {
    if (::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      // Not a member of that group: the file keeps the creator's group.
    }
  } else if (::chown(path.c_str(), static_cast<uid_t>(-1), st.st_gid) != 0) {
    // Likewise for the folder.
  }
}

// Opens `path` for reading and writing, making it (shared with the group of
// `folder`) when missing.
std::unique_ptr<platform::File> OpenShared(const std::string& path, const std::string& folder,
                                           platform::FileStatus& status) {
  for (int tries = 0; tries < 8; ++tries) {
    std::unique_ptr<platform::File> file = platform::OpenFile(path, platform::kOpenReadWrite, status);
    if (file || status.error != ENOENT) return file;
    file = platform::OpenFile(path, platform::kOpenCreate | platform::kOpenExclusive, status, kSharedFileMode);
    if (file) {
      ShareGroupOf(file->Descriptor(), path, folder);
      // The umask took the group's write permission away: give it back.
      if (::fchmod(file->Descriptor(), kSharedFileMode) != 0) {
        // A file system without modes: it is usable as it is.
      }
      return file;
    }
    if (status.error != EEXIST) return nullptr;
    // Another program made it in between: open that one.
  }
  return nullptr;
}

struct flock RecordRange(short type, std::size_t index) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(index * kLockRecordSize);
  fl.l_len = static_cast<off_t>(kLockRecordSize);
  return fl;
}

// Takes the scan lock: one program at a time reads and writes a lock file.
// An open-file-description lock on one byte far past the records, so that it
// never meets a record's lock (a whole-file flock would, where the system
// emulates flock with record locks).
void LockForScan(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(kLockScanByte);
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLKW, &fl) == 0) return;
    if (errno == EINTR) continue;
    break;
  }
  // No record locks on this file system: the whole file then.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

std::string WhoPathOf(const std::string& lockPath) {
  return lockPath.substr(0, lockPath.size() - 4) + ".who";
}

// The records this process holds in one lock file, and the descriptor that
// keeps their operating-system locks.
struct HeldFile {
  std::string name;  // the lock's name, upper case
  dev_t device = 0;
  ino_t inode = 0;
  std::unique_ptr<platform::File> file;
  std::vector<std::size_t> records;
};

class FileStore;

class FileTable final : public LockTable {
 public:
  FileTable(FileStore& store, std::string name, std::string path, std::string folder,
            std::unique_ptr<platform::File> file)
      : store_(store),
        name_(base::AsciiUpper(name)),
        path_(std::move(path)),
        folder_(std::move(folder)),
        file_(std::move(file)) {
    struct stat st {};
    if (::fstat(file_->Descriptor(), &st) == 0) {
      device_ = st.st_dev;
      inode_ = st.st_ino;
    }
  }

  platform::FileStatus ReadRecords(std::vector<std::string>& records) override {
    records.clear();
    std::uint64_t size = 0;
    if (platform::FileStatus s = file_->Size(size); !s.ok()) return s;
    std::string bytes(static_cast<std::size_t>(size / kLockRecordSize) * kLockRecordSize, ' ');
    std::size_t got = 0;
    if (platform::FileStatus s = file_->ReadAt(0, bytes, got); !s.ok()) return s;
    for (std::size_t at = 0; at + kLockRecordSize <= got; at += kLockRecordSize)
      records.push_back(bytes.substr(at, kLockRecordSize));
    return {};
  }

  platform::FileStatus WriteRecord(std::size_t index, const std::string& record) override {
    return file_->WriteAt(index * kLockRecordSize, record);
  }

  LockHolder HolderOf(std::size_t index) override;
  std::string OperatorOf(std::size_t index, const std::string& record) override;
  platform::FileStatus Hold(std::size_t index, const std::string& record, std::string_view operatorName) override;
  void Unhold(std::size_t index) override;
  // Every write is in the file already.
  platform::FileStatus Close() override { return {}; }
  const std::string& Path() const override { return path_; }

 private:
  FileStore& store_;
  std::string name_, path_, folder_;
  std::unique_ptr<platform::File> file_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

class FileStore final : public LockStore {
 public:
  // The host path of lock `name`'s file.
  static std::string PathOf(std::string_view name) {
    return platform::HostPathOrRaw(config::Session().RootDir + "LOCKS\\" + std::string(name) + ".lck");
  }

  std::unique_ptr<LockTable> Open(std::string_view name, bool create, LockStoreFailure& failure) override {
    const std::string folderName = config::Session().RootDir + "LOCKS";
    const std::string rootPath = platform::HostPathOrRaw(config::Session().RootDir.empty() ? std::string(".")
                                                                                           : config::Session().RootDir);
    for (int tries = 0;; ++tries) {
      const std::string path = PathOf(name);
      const std::string folder = platform::HostPathOrRaw(folderName);
      platform::FileStatus status;
      std::unique_ptr<platform::File> file =
          create ? OpenShared(path, folder, status) : platform::OpenFile(path, platform::kOpenReadWrite, status);
      if (file) {
        LockForScan(file->Descriptor());
        return std::make_unique<FileTable>(*this, std::string(name), path, folder, std::move(file));
      }
      if (status.error == ENOENT && !create) return nullptr;
      if (status.error == ENOENT && tries < 2) {
        // The first lock of a new suite root makes the folder.
        status = MakeLockFolder(folder, rootPath);
        if (status.ok()) continue;
        failure = {folder, status};
        return nullptr;
      }
      // "LOCKS" that is a file, not a folder: name it rather than the lock.
      const bool folderIsFile = status.error == ENOTDIR && platform::PathExists(folder) && !IsFolder(folder);
      failure = {folderIsFile ? folder : path, status};
      return nullptr;
    }
  }

  void Forget() override { held_.clear(); }

  // Held while this process keeps a record lock on the file that the name
  // leads to now: a file removed or replaced meanwhile guards nothing.
  LockStanding Standing(std::string_view name) override {
    const std::string key = base::AsciiUpper(name);
    const auto h = std::find_if(held_.begin(), held_.end(), [&](const HeldFile& f) { return f.name == key; });
    if (h == held_.end()) return LockStanding::kNotHeld;
    const std::string path = PathOf(name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
      return errno == ENOENT || errno == ENOTDIR ? LockStanding::kLost : LockStanding::kUnreachable;
    return st.st_dev == h->device && st.st_ino == h->inode ? LockStanding::kHeld : LockStanding::kLost;
  }

  // Records of a lock file removed or replaced under this process: their
  // descriptor goes, and their system locks with it.
  void ForgetLost(std::string_view name) override {
    const std::string key = base::AsciiUpper(name);
    const std::string path = PathOf(name);
    struct stat st {};
    const bool there = ::stat(path.c_str(), &st) == 0;
    std::erase_if(held_, [&](const HeldFile& f) {
      return f.name == key && !(there && st.st_dev == f.device && st.st_ino == f.inode);
    });
  }

  HeldFile* Find(dev_t device, ino_t inode) {
    for (HeldFile& h : held_)
      if (h.device == device && h.inode == inode) return &h;
    return nullptr;
  }

  bool Holds(dev_t device, ino_t inode, std::size_t index) {
    const HeldFile* h = Find(device, inode);
    return h != nullptr && std::find(h->records.begin(), h->records.end(), index) != h->records.end();
  }

  // The descriptor that keeps this process's record locks of one lock file.
  HeldFile* Keep(const std::string& name, const std::string& path, dev_t device, ino_t inode,
                 platform::FileStatus& status) {
    if (HeldFile* h = Find(device, inode)) return h;
    HeldFile h;
    h.name = name;
    h.file = platform::OpenFile(path, platform::kOpenReadWrite, status);
    if (!h.file) return nullptr;
    struct stat st {};
    if (::fstat(h.file->Descriptor(), &st) != 0 || st.st_dev != device || st.st_ino != inode) {
      status = platform::FileStatus{ESTALE};  // replaced while this scan had it open
      return nullptr;
    }
    h.device = device;
    h.inode = inode;
    held_.push_back(std::move(h));
    return &held_.back();
  }

  void Drop(dev_t device, ino_t inode, std::size_t index) {
    HeldFile* h = Find(device, inode);
    if (h == nullptr) return;
    struct flock fl = RecordRange(F_UNLCK, index);
    if (::fcntl(h->file->Descriptor(), F_OFD_SETLK, &fl) != 0) {
      // Nothing was locked there (a file system without record locks).
    }
    std::erase(h->records, index);
    if (h->records.empty()) {
      std::erase_if(held_, [&](const HeldFile& x) { return x.device == device && x.inode == inode; });
    }
  }

 private:
  std::vector<HeldFile> held_;
};

LockHolder FileTable::HolderOf(std::size_t index) {
  if (store_.Holds(device_, inode_, index)) return LockHolder::kThisProcess;
  struct flock fl = RecordRange(F_WRLCK, index);
  if (::fcntl(file_->Descriptor(), F_OFD_GETLK, &fl) != 0) return LockHolder::kUnknown;
  return fl.l_type == F_UNLCK ? LockHolder::kGone : LockHolder::kOtherProcess;
}

std::string FileTable::OperatorOf(std::size_t index, const std::string& record) {
  platform::FileStatus status;
  std::unique_ptr<platform::File> who = platform::OpenFile(WhoPathOf(path_), platform::kOpenRead, status);
  if (!who) return std::string();
  std::string line(kWhoSize, ' ');
  std::size_t got = 0;
  if (!who->ReadAt(index * kWhoSize, line, got).ok() || got != kWhoSize) return std::string();
  // A line left from an earlier holder of the record says nothing of this one.
  using namespace lock_record;
  if (line.compare(kWhoId, kIdSize, record, kId, kIdSize) != 0 ||
      line.compare(kWhoTime, kTimeSize, record, kTime, kTimeSize) != 0)
    return std::string();
  std::string name = line.substr(kWhoOperator, kWhoOperatorSize);
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}

platform::FileStatus FileTable::Hold(std::size_t index, const std::string& record, std::string_view operatorName) {
  platform::FileStatus status;
  HeldFile* h = store_.Keep(name_, path_, device_, inode_, status);
  if (h == nullptr) return status;
  struct flock fl = RecordRange(F_WRLCK, index);
  if (::fcntl(h->file->Descriptor(), F_OFD_SETLK, &fl) != 0) {
    const int error = errno;
    if (error == EAGAIN || error == EACCES) {
      if (h->records.empty()) store_.Drop(device_, inode_, index);
      return platform::FileStatus{error};
    }
    // A file system without record locks: the record still counts as held
    // here, and others fall back on its age.
  }
  if (std::find(h->records.begin(), h->records.end(), index) == h->records.end()) h->records.push_back(index);

  using namespace lock_record;
  std::string line(kWhoSize, ' ');
  line.replace(kWhoId, kIdSize, record, kId, kIdSize);
  line.replace(kWhoTime, kTimeSize, record, kTime, kTimeSize);
  line.replace(kWhoOperator, kWhoOperatorSize, PadLockField(operatorName, kWhoOperatorSize));
  line.replace(kWhoSize - 2, 2, "\r\n");
  std::unique_ptr<platform::File> who = OpenShared(WhoPathOf(path_), folder_, status);
  if (who && who->WriteAt(index * kWhoSize, line).ok()) {
    // Only the waiting operator's message misses it when it cannot be written.
  }
  return {};
}

void FileTable::Unhold(std::size_t index) { store_.Drop(device_, inode_, index); }

LockStore* g_store = nullptr;

}  // namespace

platform::FileStatus MakeLockFolder(const std::string& folder, const std::string& groupOf) {
  const bool existed = platform::PathExists(folder);
  platform::FileStatus status = platform::CurrentFileSystem().MakeDirectory(folder, kSharedFolderMode & 0777);
  if (status.ok() && !existed) {
    ShareGroupOf(-1, folder, groupOf);
    if (::chmod(folder.c_str(), kSharedFolderMode) != 0) {
      // A file system without modes: the folder is usable as it is.
    }
  }
  return status;
}

LockStore& FileLockStore() {
  static FileStore store;
  return store;
}

LockStore& CurrentLockStore() {
  if (g_store) return *g_store;
  return recordmanager::DataOnServer() ? ServerLockStore() : FileLockStore();
}

LockStore* SetLockStore(LockStore* store) {
  LockStore* previous = g_store;
  g_store = store;
  return previous;
}

}  // namespace data
