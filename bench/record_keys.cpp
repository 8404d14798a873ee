#include "bench/record_keys.h"

#include "format/numbers.h"

namespace bench {

std::string PropertyCode(int property) { return format::PackDigits(format::ZeroPad(property, 4)); }

std::string OwnerKey(int property, int owner) {
  return format::PackDigits(format::ZeroPad(property, 4) + format::ZeroPad(owner, 4));
}

std::string ConceptCode(int i) { return {static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26)}; }

}  // namespace bench
