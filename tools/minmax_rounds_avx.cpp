// SPDX-License-Identifier: MIT
//
// The 128-bit timing loops: in VEX encoding where the processor has AVX, in
// the SSE encoding otherwise (the 16-bit and 32-bit ones need SSE4.1).
// Called only for a width and lane type minmax_supported says are there.

#include <cstdint>

#include "minmax_rounds.h"

namespace calibration {

void minmax_rounds_avx(int lane, int64_t rounds) {
  if (rounds <= 0) return;
  if (lane == 0) MINMAX_ROUNDS_ASM(x, "vpminub", "vpmaxub", rounds);
  else if (lane == 1) MINMAX_ROUNDS_ASM(x, "vpminuw", "vpmaxuw", rounds);
  else MINMAX_ROUNDS_ASM(x, "vpminsd", "vpmaxsd", rounds);
}

void minmax_rounds_sse(int lane, int64_t rounds) {
  if (rounds <= 0) return;
  if (lane == 0) MINMAX_ROUNDS_SSE_ASM("pminub", "pmaxub", rounds);
  else if (lane == 1) MINMAX_ROUNDS_SSE_ASM("pminuw", "pmaxuw", rounds);
  else MINMAX_ROUNDS_SSE_ASM("pminsd", "pmaxsd", rounds);
}

}  // namespace calibration
