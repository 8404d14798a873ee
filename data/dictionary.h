// Record lengths of the module's data files, as their dictionaries
// (suite/ddf/*.ddf) create them. A record area must hold at least this many
// bytes; the data layer exchanges exactly this many with it.
#pragma once

#include <cstdint>

namespace data::dictionary {

inline constexpr std::int32_t kTDespesaRecord = 40;   // 501 expense concepts
inline constexpr std::int32_t kTHRebutRecord = 32;    // 504 receipt types
inline constexpr std::int32_t kFinquesHRecord = 400;  // 511 properties
inline constexpr std::int32_t kFinDespHRecord = 602;  // 512 concept columns of a property
inline constexpr std::int32_t kPropietHRecord = 300;  // 513 owners
inline constexpr std::int32_t kCobramHRecord = 24;    // 514 collections
inline constexpr std::int32_t kPagamHRecord = 50;     // 515 payments
inline constexpr std::int32_t kPressupHRecord = 20;   // 516 stored budget lines

// Lengths of key 0, the only key of each file.
inline constexpr std::int32_t kTDespesaKey = 2;   // concept code
inline constexpr std::int32_t kTHRebutKey = 1;    // concept number byte
inline constexpr std::int32_t kFinquesHKey = 2;   // property code
inline constexpr std::int32_t kFinDespHKey = 2;   // property code
inline constexpr std::int32_t kPropietHKey = 4;   // property code + owner number
inline constexpr std::int32_t kCobramHKey = 8;    // owner key + date, duplicates
inline constexpr std::int32_t kPagamHKey = 6;     // property code + date, duplicates
inline constexpr std::int32_t kPressupHKey = 4;   // property code + concept code

// The largest record of the eight.
inline constexpr std::int32_t kLargestRecord = kFinDespHRecord;

}  // namespace data::dictionary
