// SPDX-License-Identifier: MIT
//
// Both sweeps on 64-byte vectors emulated with two 256-bit halves, so that
// the 512-bit sweeps' logic (narrow rows, strips, bands, row pairs) is tested
// bit for bit on a processor with AVX2 but no AVX-512.
#pragma once

#include <cstdint>

namespace emulated512 {
void network_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered);
void rowpair_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered);
}  // namespace emulated512
