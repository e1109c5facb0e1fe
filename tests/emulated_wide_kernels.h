// SPDX-License-Identifier: MIT
//
// The three 5x5 sweeps, the separable sweep (3x3, its ring in registers,
// and 7x7, its ring in memory) and the interpreted 17x17 network (two
// vectors a slot) on 64-byte vectors emulated with
// two 256-bit halves, for every lane type, so that the 512-bit kernels'
// logic (narrow rows, edges, strips, chunks, bands, row pairs, the
// 32-register walks) is tested element for element on a processor with
// AVX2 but no AVX-512; and the rank method with AVX-512's scan of 16
// positions a vector.  Listed as kernels that need AVX2, named
// emulated512_<sweep>[_u16|_f32] and emulated512_rank_u16, _f32.
#pragma once

#include <cstddef>

#include "median/median_filter.h"

namespace emulated512 {
// A plain array, so that no library template is instantiated in the AVX2
// file where another file could pick up its AVX2 code.
extern const median::Kernel KERNELS[];
extern const size_t KERNEL_COUNT;
}  // namespace emulated512
