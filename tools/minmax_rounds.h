// SPDX-License-Identifier: MIT
//
// The timing loop, written once for every width and lane type:
// MINMAX_ROUNDS_ASM(x, "vpminub", "vpmaxub", rounds), with y or z, expands
// to the loop on xmm, ymm or zmm registers with those two operations
// (vpminuw/vpmaxuw for 16-bit lanes, vpminsd/vpmaxsd for the float keys);
// MINMAX_ROUNDS_SSE_ASM the same on 128 bits in the two-operand encoding of
// processors without AVX.  Included only by minmax_rounds_*.cpp.
//
// 48 min/max per round on twelve registers, six independent chains each of
// min and max: enough chains that the one-cycle latency never limits the
// rate on a core that issues up to four a cycle.  The two constant operands
// are set through their low 128 bits (VEX clears the rest), which every
// width can encode; min/max take as long whatever the values, and no memory
// is touched.
#pragma once

#define MINMAX_REG(r, n) "%%" #r "mm" #n

// Rounds of 4 x 12 independent operations on xmm0..xmm11 (or their wider
// forms), against constants in xmm12 and xmm13 that leave them unchanged.
#define MINMAX_LOOP_ASM(setup, twelve, rounds)                                     \
  asm volatile(setup "1:\n\t"                                                     \
               ".rept 4\n\t" twelve ".endr\n\t"                                  \
               "dec %0\n\t"                                                       \
               "jnz 1b\n\t"                                                       \
               : "+r"(rounds)                                                      \
               :                                                                   \
               : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",   \
                 "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "cc")

#define MINMAX_SIX_PAIRS(pair, ...)                                              \
  pair(__VA_ARGS__, 0, 1) pair(__VA_ARGS__, 2, 3) pair(__VA_ARGS__, 4, 5)        \
      pair(__VA_ARGS__, 6, 7) pair(__VA_ARGS__, 8, 9) pair(__VA_ARGS__, 10, 11)

#define MINMAX_VEX_PAIR(r, min, max, n, m)                                          \
  min " " MINMAX_REG(r, 13) ", " MINMAX_REG(r, n) ", " MINMAX_REG(r, n) "\n\t" max \
      " " MINMAX_REG(r, 12) ", " MINMAX_REG(r, m) ", " MINMAX_REG(r, m) "\n\t"

#define MINMAX_ROUNDS_ASM(r, min, max, rounds)                                   \
  MINMAX_LOOP_ASM("vpxor %%xmm12, %%xmm12, %%xmm12\n\t"                          \
                  "vpcmpeqb %%xmm13, %%xmm13, %%xmm13\n\t",                      \
                  MINMAX_SIX_PAIRS(MINMAX_VEX_PAIR, r, min, max), rounds)

#define MINMAX_SSE_PAIR(min, max, n, m) min " %%xmm13, %%xmm" #n "\n\t" max " %%xmm12, %%xmm" #m "\n\t"

#define MINMAX_ROUNDS_SSE_ASM(min, max, rounds)                                  \
  MINMAX_LOOP_ASM("pxor %%xmm12, %%xmm12\n\t"                                    \
                  "pcmpeqb %%xmm13, %%xmm13\n\t",                                \
                  MINMAX_SIX_PAIRS(MINMAX_SSE_PAIR, min, max), rounds)
