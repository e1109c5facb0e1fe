// SPDX-License-Identifier: MIT
//
// The 256-bit timing loop, built with -mavx2.  Called only when
// minmax_width_supported(256).

#include <cstdint>

#include "minmax_rounds.h"

namespace calibration {

void minmax_rounds_avx2(int64_t rounds) {
  if (rounds > 0) MINMAX_ROUNDS_ASM(y, rounds);
}

}  // namespace calibration
