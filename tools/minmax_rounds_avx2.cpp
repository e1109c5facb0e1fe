// SPDX-License-Identifier: MIT
//
// The 256-bit timing loops, built with -mavx2.  Called only for a width and
// lane type minmax_supported says are there.

#include <cstdint>

#include "minmax_rounds.h"

namespace calibration {

void minmax_rounds_avx2(int lane, int64_t rounds) {
  if (rounds <= 0) return;
  if (lane == 0) MINMAX_ROUNDS_ASM(y, "vpminub", "vpmaxub", rounds);
  else if (lane == 1) MINMAX_ROUNDS_ASM(y, "vpminuw", "vpmaxuw", rounds);
  else MINMAX_ROUNDS_ASM(y, "vpminsd", "vpmaxsd", rounds);
}

}  // namespace calibration
