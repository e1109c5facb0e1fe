// SPDX-License-Identifier: MIT
//
// The 512-bit timing loops, built with -mavx512f -mavx512bw.  Called only for a width and
// lane type minmax_supported says are there.

#include <cstdint>

#include "minmax_rounds.h"

namespace calibration {

void minmax_rounds_avx512bw(int lane, int64_t rounds) {
  if (rounds <= 0) return;
  if (lane == 0) MINMAX_ROUNDS_ASM(z, "vpminub", "vpmaxub", rounds);
  else if (lane == 1) MINMAX_ROUNDS_ASM(z, "vpminuw", "vpmaxuw", rounds);
  else MINMAX_ROUNDS_ASM(z, "vpminsd", "vpmaxsd", rounds);
}

}  // namespace calibration
