// SPDX-License-Identifier: MIT
//
// The sweeps in plain C++ (isa_portable.h), so that the library builds and
// runs on any processor; the automatic choice only where nothing faster is
// built.  Every lane type.

#include "median/band_sweeps.h"
#include "median/isa_portable.h"
#include "median/kernel_entry_points.h"
#include "median/lane_ops.h"

namespace median::portable {
namespace {
struct Tag;
using Isa = detail::Portable<Tag>;
}  // namespace

MEDIAN_DEFINE_BANDS(Isa)
MEDIAN_INSTANTIATE_BANDS(uint8_t)
MEDIAN_INSTANTIATE_BANDS(uint16_t)
MEDIAN_INSTANTIATE_BANDS(float)

}  // namespace median::portable
