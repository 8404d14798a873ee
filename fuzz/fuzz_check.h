// What the fuzz targets hold every reader to, beyond not crashing: a broken
// promise is reported and ends the run like a crash, so libFuzzer keeps the
// input. Checked in every build type (assert would vanish under NDEBUG).
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                              \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (false)
