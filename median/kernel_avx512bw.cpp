// SPDX-License-Identifier: MIT
//
// The sweeps on 512-bit vectors, built with -mavx512f -mavx512bw: 32 vector
// registers, enough for the column sweep's whole state; and the histogram
// methods of every window, their counts compared into masks.

#include "median/network/band_sweeps.h"
#include "median/network/separable_program.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/histogram/ops_x86.h"
#include "median/histogram/tile_ranks.h"
#include "median/isa_x86.h"
#include "median/kernel_entry_points.h"
#include "median/lane_ops.h"

namespace median::avx512bw {
namespace {
struct Tag;
using HistogramOps = detail::histogram::Avx512bw<Tag>;
using Isa = detail::Avx512bw<Tag>;
}  // namespace

MEDIAN_DEFINE_BANDS(Isa)
MEDIAN_INSTANTIATE_BANDS(uint8_t)
MEDIAN_INSTANTIATE_BANDS(uint16_t)
MEDIAN_INSTANTIATE_BANDS(float)
MEDIAN_DEFINE_HISTOGRAMS(HistogramOps)

MEDIAN_DEFINE_SEPARABLE(Isa)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint8_t)
MEDIAN_INSTANTIATE_WIDE_SEPARABLE_WINDOWS(uint8_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint16_t)
MEDIAN_INSTANTIATE_WIDE_SEPARABLE_WINDOWS(uint16_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(float)
MEDIAN_INSTANTIATE_WIDE_SEPARABLE_WINDOWS(float)

MEDIAN_DEFINE_PROGRAMS(Isa)
MEDIAN_INSTANTIATE_WIDE_PROGRAMS(uint8_t)
MEDIAN_INSTANTIATE_WIDE_PROGRAMS(uint16_t)
MEDIAN_INSTANTIATE_WIDE_PROGRAMS(float)

}  // namespace median::avx512bw
