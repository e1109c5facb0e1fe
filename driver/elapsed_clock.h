// SPDX-License-Identifier: MIT
//
// A millisecond clock of elapsed real time.  Linux's clock() counts processor
// time of all threads, which would overstate the time of a parallel run, so
// the benchmark reads the monotonic clock instead.
#pragma once

#include <cstdint>

// Whole milliseconds of elapsed real time since a reference reading taken
// during start-up, before main; -1 when the monotonic clock cannot be read or
// the count no longer fits in 31 bits.
int32_t elapsed_ms();
