// SPDX-License-Identifier: MIT
//
// The passes each instruction set's translation unit defines, for the
// kernel table (kernels.cpp).  Each runs only on a processor with its
// instruction set; every one has median_filter_pass's contract.
#pragma once

#include <cstdint>

#define MEDIAN_DECLARE_PASS(name) \
  void name(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded, uint8_t* filtered)

namespace median::avx {
MEDIAN_DECLARE_PASS(rowpair_pass);
}
namespace median::avx2 {
MEDIAN_DECLARE_PASS(network_pass);
MEDIAN_DECLARE_PASS(rowpair_pass);
}
namespace median::avx512bw {
MEDIAN_DECLARE_PASS(network_pass);
MEDIAN_DECLARE_PASS(rowpair_pass);
}

#undef MEDIAN_DECLARE_PASS
