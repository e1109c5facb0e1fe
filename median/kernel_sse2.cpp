// SPDX-License-Identifier: MIT
//
// The sweeps on 128-bit SSE2 vectors, which every x86-64 processor has:
// bytes, and floats with 32-bit min/max made of a compare and a select.
// Built with the compiler's x86-64 baseline flags.

#include "median/network/band_sweeps.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/isa_x86.h"
#include "median/kernel_entry_points.h"
#include "median/lane_ops.h"

namespace median::sse2 {
namespace {
struct Tag;
using Isa = detail::Sse2<Tag>;
}  // namespace

MEDIAN_DEFINE_BANDS(Isa)
MEDIAN_INSTANTIATE_BANDS(uint8_t)
MEDIAN_INSTANTIATE_BANDS(float)

MEDIAN_DEFINE_SEPARABLE(Isa)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint8_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(float)

}  // namespace median::sse2
