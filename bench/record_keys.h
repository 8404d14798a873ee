// The keys of the benchmarks' records, made from numbers.
#pragma once

#include <string>

namespace bench {

// The packed code of property number `property`.
std::string PropertyCode(int property);
// The packed key of owner number `owner` of that property.
std::string OwnerKey(int property, int owner);
// Expense concept number `i` (from 0): "AA", "AB", ... "AZ", "BA", ...
std::string ConceptCode(int i);

}  // namespace bench
