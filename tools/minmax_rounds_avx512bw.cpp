// SPDX-License-Identifier: MIT
//
// The 512-bit timing loop, built with -mavx512f -mavx512bw.  Called only when
// minmax_width_supported(512).

#include <cstdint>

#include "minmax_rounds.h"

namespace calibration {

void minmax_rounds_avx512bw(int64_t rounds) {
  if (rounds > 0) MINMAX_ROUNDS_ASM(z, rounds);
}

}  // namespace calibration
