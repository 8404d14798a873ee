#include "bench/record_loader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "data/files.h"

namespace bench {

RecordLoader::RecordLoader(app::RecordAreas& areas) : areas_(areas) {
  if (const std::int16_t status = data::BeginTransaction(); status != 0) {
    std::fprintf(stderr, "beginning the transaction failed with status %d\n", status);
    std::exit(1);
  }
}

void RecordLoader::Insert(std::int16_t file, const std::function<void(std::span<char>)>& fill) {
  std::span<char> area = areas_.For(file);
  std::fill(area.begin(), area.end(), '\0');
  fill(area);
  if (const std::int16_t status = data::InsertRecord(file); status != 0) {
    std::fprintf(stderr, "insert into file %d failed with status %d\n", file, status);
    std::exit(1);
  }
}

void RecordLoader::Commit() {
  if (const std::int16_t status = data::EndTransaction(); status != 0) {
    std::fprintf(stderr, "ending the transaction failed with status %d\n", status);
    std::exit(1);
  }
}

}  // namespace bench
