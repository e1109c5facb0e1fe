// SPDX-License-Identifier: MIT
//
// The 128-bit timing loop, built with the project's AVX baseline.  Called only when
// minmax_width_supported(128).

#include <cstdint>

#include "minmax_rounds.h"

namespace calibration {

void minmax_rounds_avx(int64_t rounds) {
  if (rounds > 0) MINMAX_ROUNDS_ASM(x, rounds);
}

}  // namespace calibration
