// Other properties' collections, added to a collections file to show that a
// property's report does not pay for records that are not its own.
#pragma once

#include "bench/record_loader.h"

namespace bench {

// `count` collections of owners 1 to 999 of properties 3 and 11 (half of
// them sorting before property 7's keys, half after), over 2024 and 2025.
void InsertForeignCollections(RecordLoader& loader, int count);

}  // namespace bench
