// kitdata migrate: a suite root's SQLite data files copied into the server
// named by KITDB. The two storages are reached directly (storage.h), not
// through BTRCALL, whose storage follows KITDB for every open: here each
// open says which one it means.
//
// Everything goes in one transaction on the server: the tables made, the
// records deleted (--replace) and the records copied stay only when every
// file was copied; a file that cannot be read, a table of another layout or
// a table that already holds records leaves the server as it was.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <queue>
#include <set>

#include "data/engine/file_definition.h"
#include "data/engine/record_manager.h"
#include "data/engine/storage.h"
#include "tools/kitdata/kitdata.h"

namespace kitdata {
namespace {

namespace fs = std::filesystem;
using recordmanager::Cut;
using recordmanager::Row;
using recordmanager::RowBuffer;
using recordmanager::StoredFile;

constexpr int kBatch = 1000;

// Every record along `key`, in its order.
std::int16_t ReadAlong(StoredFile& file, int key, std::vector<Row>& rows) {
  rows.clear();
  Cut from = Cut::Bottom();
  RowBuffer batch;
  for (;;) {
    batch.Clear();
    if (std::int16_t status = file.Find(key, from, true, kBatch, batch); status != recordmanager::kOk) return status;
    for (std::size_t i = 0; i < batch.Size(); ++i) rows.push_back(batch[i]);
    if (batch.Size() < static_cast<std::size_t>(kBatch)) return recordmanager::kOk;
    from = Cut::After(rows.back().image, rows.back().seq);
  }
}

// Which records must be inserted before which (indices into the key-0
// order): along every key that allows duplicates, each record of a group of
// equal keys before the next one of the group.
struct InsertBefore {
  std::vector<std::vector<std::size_t>> after;  // the records each one must precede
  std::vector<std::size_t> before;              // how many must precede each one
};

std::int16_t EqualKeyOrder(StoredFile& file, const std::vector<Row>& byKey0, InsertBefore& rules) {
  const std::size_t n = byKey0.size();
  std::map<std::int64_t, std::size_t> indexOf;
  for (std::size_t i = 0; i < n; ++i) indexOf[byKey0[i].pos] = i;
  rules.after.assign(n, {});
  rules.before.assign(n, 0);
  const auto& keys = file.Definition().keys;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    if (!keys[k].duplicates) continue;
    std::vector<Row> along;
    if (k == 0) {
      along = byKey0;
    } else if (std::int16_t status = ReadAlong(file, static_cast<int>(k), along); status != recordmanager::kOk) {
      return status;
    }
    for (std::size_t i = 1; i < along.size(); ++i) {
      if (along[i].image != along[i - 1].image) continue;
      const std::size_t a = indexOf[along[i - 1].pos], b = indexOf[along[i].pos];
      rules.after[a].push_back(b);
      ++rules.before[b];
    }
  }
  return recordmanager::kOk;
}

// The order to insert the records in (indices into the key-0 order) so that
// records with equal keys come out in their order along every key that
// allows duplicates: the server numbers them as they come. Of the records
// free to go next, the first along key 0 goes. Where no order can keep
// every rule (a record whose key was changed), the first left along key 0
// goes next all the same.
std::int16_t InsertOrder(StoredFile& file, const std::vector<Row>& byKey0, std::vector<std::size_t>& order) {
  const std::size_t n = byKey0.size();
  InsertBefore rules;
  if (std::int16_t status = EqualKeyOrder(file, byKey0, rules); status != recordmanager::kOk) return status;
  order.clear();
  std::vector<bool> placed(n, false);
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  for (std::size_t i = 0; i < n; ++i)
    if (rules.before[i] == 0) ready.push(i);
  std::size_t firstLeft = 0;
  while (order.size() < n) {
    std::size_t next;
    if (!ready.empty()) {
      next = ready.top();
      ready.pop();
      if (placed[next]) continue;
    } else {
      // Orders that contradict each other: the first left along key 0.
      while (placed[firstLeft]) ++firstLeft;
      next = firstLeft;
    }
    placed[next] = true;
    order.push_back(next);
    for (std::size_t b : rules.after[next])
      if (--rules.before[b] == 0 && !placed[b]) ready.push(b);
  }
  return recordmanager::kOk;
}

bool IsDataFile(const fs::directory_entry& entry) {
  std::error_code ec;
  if (!entry.is_regular_file(ec)) return false;
  std::string ext = entry.path().extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".dat";
}

// Copies one file into the server's transaction.
std::string CopyFile(const std::string& path, bool replace, std::int64_t& copied) {
  using namespace recordmanager;
  std::unique_ptr<StoredFile> source;
  if (std::int16_t status = SqliteStorage().Open(path, source); status != kOk)
    return path + ": cannot be read (" + StatusText(status) + ")";
  const FileDefinition& def = source->Definition();
  std::vector<Row> records;
  if (std::int16_t status = ReadAlong(*source, 0, records); status != kOk)
    return path + ": cannot be read (" + StatusText(status) + ")";
  std::vector<std::size_t> order;
  if (std::int16_t status = InsertOrder(*source, records, order); status != kOk)
    return path + ": cannot be read (" + StatusText(status) + ")";

  Storage& server = PostgresStorage();
  std::unique_ptr<StoredFile> target;
  std::int16_t status = server.Open(path, target);
  if (status == kFileNotFound) {
    if ((status = server.Create(path, def)) == kOk) status = server.Open(path, target);
  }
  if (status != kOk) return path + ": cannot be made on the server (" + StatusText(status) + ")";
  // The count bytes of a creation record are no part of the layout.
  std::string theirs = target->Definition().creation, ours = def.creation;
  for (std::string* c : {&theirs, &ours})
    if (c->size() >= 10) c->replace(6, 4, 4, '\0');
  if (theirs != ours)
    return path + ": the server's file of that name has another layout (another dictionary); its records would be "
                  "read wrongly";
  if (const std::int64_t held = target->RecordCount(); held > 0) {
    if (!replace)
      return path + ": the server's file already holds " + std::to_string(held) +
             " records (--replace replaces them)";
    std::vector<Row> old;
    if ((status = ReadAlong(*target, 0, old)) != kOk)
      return path + ": the server's records cannot be read (" + StatusText(status) + ")";
    for (const Row& r : old)
      if ((status = target->Delete(r.pos, 0, nullptr)) != kOk)
        return path + ": the server's records cannot be deleted (" + StatusText(status) + ")";
  }
  for (std::size_t i : order) {
    const std::string& record = records[i].data;
    std::vector<std::string> images;
    for (std::size_t k = 0; k < def.keys.size(); ++k) images.push_back(ImageFromRecord(def, static_cast<int>(k), record));
    std::int64_t pos = 0;
    std::vector<std::int64_t> seqs;
    if ((status = target->Insert(record, images, pos, seqs, nullptr)) != kOk)
      return path + ": record " + std::to_string(records[i].pos) + " cannot be copied (" +
             (status == kDuplicateKey ? std::string("a duplicate key") : StatusText(status)) + ")";
  }
  copied = static_cast<std::int64_t>(records.size());
  return {};
}

}  // namespace

std::string MigrateRoot(const std::string& root, bool replace, std::vector<MigratedFile>& copied) {
  copied.clear();
  const char* server = std::getenv("KITDB");
  if (!server || !*server) return "KITDB is not set: it names the server to copy into (a libpq connection string)";
  std::error_code ec;
  const fs::path dades = fs::path(root) / "DADES";
  if (!fs::is_directory(dades, ec)) return dades.string() + ": missing (not a suite root?)";
  std::vector<std::string> files;
  for (fs::directory_iterator it(dades, ec), end; !ec && it != end; it.increment(ec))
    if (IsDataFile(*it)) files.push_back(it->path().string());
  if (ec) return dades.string() + ": cannot be listed (" + ec.message() + ")";
  if (files.empty()) return dades.string() + ": no data files (*.dat) to copy";
  std::sort(files.begin(), files.end());

  recordmanager::Storage& target = recordmanager::PostgresStorage();
  if (std::int16_t status = target.Begin(); status != recordmanager::kOk)
    return "the server's transaction cannot begin (" + StatusText(status) + ")";
  for (const std::string& file : files) {
    MigratedFile m{file, 0};
    if (std::string error = CopyFile(file, replace, m.records); !error.empty()) {
      target.Rollback();
      copied.clear();
      return error + "; nothing was copied";
    }
    copied.push_back(m);
  }
  if (std::int16_t status = target.Commit(); status != recordmanager::kOk) {
    copied.clear();
    return "the server did not keep the copy (" + StatusText(status) + "); nothing was copied";
  }
  return {};
}

}  // namespace kitdata
