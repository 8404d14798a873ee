// For tests of what a program keeps open in SQLite data files.
#pragma once

#include <sqlite3.h>
#include <sys/stat.h>

#include <string>

namespace recordmanager::testing {

// Whether a checkpoint can empty the log of the data file at `path` right
// after one more commit: not while any connection still keeps a read
// transaction open in the log.
inline bool LogCanBeEmptied(const std::string& path) {
  sqlite3* db = nullptr;
  bool emptied = false;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_exec(db, "UPDATE meta SET value = value WHERE name = 'format'", nullptr, nullptr, nullptr) ==
          SQLITE_OK &&
      sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK) {
    struct stat log{};
    emptied = ::stat((path + "-wal").c_str(), &log) == 0 && log.st_size == 0;
  }
  sqlite3_close_v2(db);
  return emptied;
}

}  // namespace recordmanager::testing
