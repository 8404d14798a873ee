// Stands in for the record manager in test programs built while the
// record manager library is absent: every call answers "invalid operation",
// so tests that reach the real entry point fail visibly instead of the
// program failing to link. Tests of the data layer install their own
// in-memory record manager through data::SetRecordManager.
#include "data/btrcall.h"

extern "C" std::int16_t BTRCALL(std::uint16_t, void*, void*, std::uint32_t*, void*, std::uint8_t, std::int8_t) {
  return 1;
}
