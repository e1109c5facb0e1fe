// SPDX-License-Identifier: MIT
//
// The sweeps on 128-bit SSE4.1 vectors, built with -msse4.1: the unsigned
// 16-bit and signed 32-bit min/max that SSE2 lacks, for processors without
// AVX; and the histogram methods of every window, on processors with
// SSE4.1 but not AVX2.

#include "median/network/band_sweeps.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/histogram/ops_x86.h"
#include "median/histogram/tile_ranks.h"
#include "median/isa_x86.h"
#include "median/kernel_entry_points.h"
#include "median/lane_ops.h"

namespace median::sse41 {
namespace {
struct Tag;
using HistogramOps = detail::histogram::Sse41<Tag>;
using Isa = detail::Sse41<Tag>;
}  // namespace

MEDIAN_DEFINE_BANDS(Isa)
MEDIAN_INSTANTIATE_BANDS(uint16_t)
MEDIAN_INSTANTIATE_BANDS(float)
MEDIAN_DEFINE_HISTOGRAMS(HistogramOps)

MEDIAN_DEFINE_SEPARABLE(Isa)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint16_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(float)

}  // namespace median::sse41
