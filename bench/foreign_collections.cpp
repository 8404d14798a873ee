#include "bench/foreign_collections.h"

#include "bench/record_keys.h"
#include "format/dates.h"
#include "records/layouts.h"

namespace bench {
namespace {

constexpr int kProperties[] = {3, 11};
constexpr int kOwners = 999;

}  // namespace

void InsertForeignCollections(RecordLoader& loader, int count) {
  for (int i = 0; i < count; ++i) {
    loader.Insert(app::kCollectionsFile, [i](std::span<char> area) {
      const int property = kProperties[i % 2];
      const int owner = i / 2 % kOwners + 1, round = i / 2 / kOwners;
      const records::Collection r{area};
      r.SetOwnerKey(OwnerKey(property, owner));
      r.SetDate(format::PackDate(2024 + round / 140 % 2, round / 12 % 12 + 1, round % 12 + 1));
      r.SetAmount(3000 + owner);
    });
  }
}

}  // namespace bench
