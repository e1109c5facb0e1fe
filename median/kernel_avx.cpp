// SPDX-License-Identifier: MIT
//
// The row-pair sweep on 128-bit vectors, built with -mavx.  (The plain
// network at this width is median_filter_pass itself.)

#include "median/kernel_entry_points.h"
#include "median/ops_avx.h"
#include "median/sweep.h"

namespace median::avx {

void rowpair_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered) {
  detail::rowpair_pass<Ops>(h, w, padded_width, padded, filtered);
}

}  // namespace median::avx
