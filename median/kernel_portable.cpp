// SPDX-License-Identifier: MIT
//
// The sweeps in plain C++ (isa_portable.h), so that the library builds and
// runs on any processor; the automatic choice only where nothing faster is
// built.  Every lane type.  Also the sliding histogram, which serves every
// window.

#include "median/network/band_sweeps.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/histogram/sliding_histogram.h"
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

MEDIAN_DEFINE_SEPARABLE(Isa)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint8_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(uint16_t)
MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(float)

template <class T>
void huang_band(const ::median::detail::Band<T>& band) {
  if constexpr (std::is_same_v<T, float>)
    detail::histogram::float_band(band);
  else
    detail::histogram::integer_band(band);
}
template void huang_band<uint8_t>(const ::median::detail::Band<uint8_t>&);
template void huang_band<uint16_t>(const ::median::detail::Band<uint16_t>&);
template void huang_band<float>(const ::median::detail::Band<float>&);

}  // namespace median::portable
