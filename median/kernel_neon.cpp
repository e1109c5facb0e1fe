// SPDX-License-Identifier: MIT
//
// The sweeps on ARM64 NEON: 128-bit vectors, 32 registers, every lane type;
// and the histogram methods of every window.

#include "median/network/band_sweeps.h"
#include "median/network/separable_program.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/histogram/ops_neon.h"
#include "median/histogram/tile_ranks.h"
#include "median/isa_neon.h"
#include "median/kernel_entry_points.h"
#include "median/lane_ops.h"

namespace median::neon {
namespace {
struct Tag;
using HistogramOps = detail::histogram::Neon<Tag>;
using Isa = detail::Neon<Tag>;
}  // namespace

MEDIAN_DEFINE_BANDS(Isa)
MEDIAN_INSTANTIATE_BANDS(uint8_t)
MEDIAN_INSTANTIATE_BANDS(uint16_t)
MEDIAN_INSTANTIATE_BANDS(float)
MEDIAN_DEFINE_HISTOGRAMS(HistogramOps)

MEDIAN_DEFINE_SEPARABLE(Isa)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint8_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint16_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(float)

MEDIAN_DEFINE_PROGRAMS(Isa)
MEDIAN_INSTANTIATE_NEON_PROGRAMS(uint8_t)
MEDIAN_INSTANTIATE_NEON_PROGRAMS(uint16_t)
MEDIAN_INSTANTIATE_NEON_PROGRAMS(float)

}  // namespace median::neon
