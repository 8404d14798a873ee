// Filling the module's data files with a benchmark's records.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "app/data_files.h"

namespace bench {

// Inserts records into the open data files in one transaction. A failure
// ends the benchmark with a message: its figures would mean nothing.
class RecordLoader {
 public:
  // Begins the transaction.
  explicit RecordLoader(app::RecordAreas& areas);
  RecordLoader(const RecordLoader&) = delete;
  RecordLoader& operator=(const RecordLoader&) = delete;

  // Clears the record area of `file`, lets `fill` write the record in it and
  // inserts it.
  void Insert(std::int16_t file, const std::function<void(std::span<char>)>& fill);
  // Ends the transaction.
  void Commit();

 private:
  app::RecordAreas& areas_;
};

}  // namespace bench
