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

// The loop counter, and the registers both loops use.
#define MINMAX_LOOP_OPERANDS(rounds)                                           \
  : "+r"(rounds)                                                               \
  :                                                                            \
  : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",    \
    "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "cc"

#define MINMAX_ROUNDS_ASM(r, min, max, rounds)                                \
  asm volatile(                                                               \
      "vpxor %%xmm12, %%xmm12, %%xmm12\n\t"                                   \
      "vpcmpeqb %%xmm13, %%xmm13, %%xmm13\n\t"                               \
      "1:\n\t"                                                                \
      ".rept 4\n\t"                                                           \
      min " " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 0) ", " MINMAX_REG(r, 0) "\n\t" \
      max " " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 1) ", " MINMAX_REG(r, 1) "\n\t" \
      min " " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 2) ", " MINMAX_REG(r, 2) "\n\t" \
      max " " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 3) ", " MINMAX_REG(r, 3) "\n\t" \
      min " " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 4) ", " MINMAX_REG(r, 4) "\n\t" \
      max " " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 5) ", " MINMAX_REG(r, 5) "\n\t" \
      min " " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 6) ", " MINMAX_REG(r, 6) "\n\t" \
      max " " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 7) ", " MINMAX_REG(r, 7) "\n\t" \
      min " " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 8) ", " MINMAX_REG(r, 8) "\n\t" \
      max " " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 9) ", " MINMAX_REG(r, 9) "\n\t" \
      min " " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 10) ", " MINMAX_REG(r, 10) "\n\t" \
      max " " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 11) ", " MINMAX_REG(r, 11) "\n\t" \
      ".endr\n\t"                                                             \
      "dec %0\n\t"                                                            \
      "jnz 1b\n\t"                                                            \
      MINMAX_LOOP_OPERANDS(rounds))

#define MINMAX_SSE_PAIR(min, max, n, m) min " %%xmm13, %%xmm" #n "\n\t" max " %%xmm12, %%xmm" #m "\n\t"

#define MINMAX_ROUNDS_SSE_ASM(min, max, rounds)                                   \
  asm volatile(                                                                   \
      "pxor %%xmm12, %%xmm12\n\t"                                                 \
      "pcmpeqb %%xmm13, %%xmm13\n\t"                                              \
      "1:\n\t"                                                                    \
      ".rept 4\n\t"                                                               \
      MINMAX_SSE_PAIR(min, max, 0, 1) MINMAX_SSE_PAIR(min, max, 2, 3) MINMAX_SSE_PAIR(min, max, 4, 5)             \
      MINMAX_SSE_PAIR(min, max, 6, 7) MINMAX_SSE_PAIR(min, max, 8, 9) MINMAX_SSE_PAIR(min, max, 10, 11)           \
      ".endr\n\t"                                                                 \
      "dec %0\n\t"                                                                \
      "jnz 1b\n\t"                                                                \
      MINMAX_LOOP_OPERANDS(rounds))
