// SPDX-License-Identifier: MIT
//
// The timing loop, written once for every width: MINMAX_ROUNDS_ASM(x), (y) or
// (z) expands to the loop on xmm, ymm or zmm registers.  Included only by
// minmax_rounds_*.cpp, each built for the instruction set its width needs.
//
// 48 min/max per round on twelve registers, six independent chains each of
// vpminub and vpmaxub: enough chains that the one-cycle latency never limits
// the rate on a core that issues up to four a cycle.  The two constant
// operands are set through their low 128 bits (VEX clears the rest), which
// every width can encode; min/max take as long whatever the values, and no
// memory is touched.
#pragma once

#define MINMAX_REG(r, n) "%%" #r "mm" #n

#define MINMAX_ROUNDS_ASM(r, rounds)                                          \
  asm volatile(                                                               \
      "vpxor %%xmm12, %%xmm12, %%xmm12\n\t"                                   \
      "vpcmpeqb %%xmm13, %%xmm13, %%xmm13\n\t"                               \
      "1:\n\t"                                                                \
      ".rept 4\n\t"                                                           \
      "vpminub " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 0) ", " MINMAX_REG(r, 0) "\n\t" \
      "vpmaxub " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 1) ", " MINMAX_REG(r, 1) "\n\t" \
      "vpminub " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 2) ", " MINMAX_REG(r, 2) "\n\t" \
      "vpmaxub " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 3) ", " MINMAX_REG(r, 3) "\n\t" \
      "vpminub " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 4) ", " MINMAX_REG(r, 4) "\n\t" \
      "vpmaxub " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 5) ", " MINMAX_REG(r, 5) "\n\t" \
      "vpminub " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 6) ", " MINMAX_REG(r, 6) "\n\t" \
      "vpmaxub " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 7) ", " MINMAX_REG(r, 7) "\n\t" \
      "vpminub " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 8) ", " MINMAX_REG(r, 8) "\n\t" \
      "vpmaxub " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 9) ", " MINMAX_REG(r, 9) "\n\t" \
      "vpminub " MINMAX_REG(r, 13) ", " MINMAX_REG(r, 10) ", " MINMAX_REG(r, 10) "\n\t" \
      "vpmaxub " MINMAX_REG(r, 12) ", " MINMAX_REG(r, 11) ", " MINMAX_REG(r, 11) "\n\t" \
      ".endr\n\t"                                                             \
      "dec %0\n\t"                                                            \
      "jnz 1b\n\t"                                                            \
      : "+r"(rounds)                                                          \
      :                                                                       \
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", \
        "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "cc")
