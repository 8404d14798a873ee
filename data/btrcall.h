// The record manager's single entry point.
//
// operation: 0 open, 1 close, 2 insert, 3 update, 4 delete, 5 get equal,
// 6 next, 7 previous, 8 greater, 9 greater or equal, 10 less, 11 less or
// equal, 12 first, 13 last, 14 create, 15 stat, 19/20/21 begin/end/abort
// transaction, 22 get position, 23 get direct, 27 unlock, 28 reset; +200 on
// a read takes a single no-wait record lock. The position block is 128
// bytes owned by the caller. Returns a status; 0 is success.
#pragma once

#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

std::int16_t BTRCALL(std::uint16_t operation, void* positionBlock, void* dataBuffer,
                     std::uint32_t* dataLength, void* keyBuffer, std::uint8_t keyLength,
                     std::int8_t keyNumber);

#ifdef __cplusplus
}
#endif
