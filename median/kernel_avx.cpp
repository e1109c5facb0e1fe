// SPDX-License-Identifier: MIT
//
// The sweeps on 128-bit vectors, built with -mavx (VEX encodings of the
// SSE4.1 operations): every lane type.  The benchmark's own pass at this
// width, median_filter_pass, is median_filter.cpp.

#include "median/network/band_sweeps.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/kernel_entry_points.h"
#include "median/ops_avx.h"

namespace median::avx {

MEDIAN_DEFINE_BANDS(Isa)
MEDIAN_INSTANTIATE_BANDS(uint8_t)
MEDIAN_INSTANTIATE_BANDS(uint16_t)
MEDIAN_INSTANTIATE_BANDS(float)

MEDIAN_DEFINE_SEPARABLE(Isa)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint8_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint16_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(float)

}  // namespace median::avx
