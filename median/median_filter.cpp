// SPDX-License-Identifier: MIT
//
// The benchmark's pass: each output row is computed in groups of 16 bytes
// (five and a third pixels); a group loads 25 vectors from the five padded
// rows around it and runs the 202-operation selection network once.  Groups
// and rows share no work, so the cost per byte is fixed and any split of the
// rows among threads is exact.

#include "median/median_filter.h"

#include "median/ops_avx.h"
#include "median/sweep.h"

namespace {

// Rows first_row..last_row (inclusive) of the filtered frame.
void median_filter_rows(int32_t first_row, int32_t last_row, int32_t w,
                        int32_t padded_width, const uint8_t* padded, uint8_t* filtered) {
  median::detail::network_rows<median::avx::Ops>(first_row, last_row, w, padded_width, padded,
                                                 filtered);
}

}  // namespace

void median_filter_pass(int32_t h, int32_t w, int32_t padded_width,
                        const uint8_t* padded, uint8_t* filtered) {
#pragma omp parallel for schedule(static)
  for (int32_t y = 0; y < h; ++y)
    median_filter_rows(y, y, w, padded_width, padded, filtered);
}
