// SPDX-License-Identifier: MIT
//
// The benchmark's pass: each output row is computed in groups of 16 bytes
// (five and a third pixels); a group loads 25 vectors from the five padded
// rows around it and runs the 202-operation selection network once.  Groups
// and rows share no work, so the cost per byte is fixed and any split of the
// rows among threads is exact.  This is the network sweep of sweep.h
// (network_pass, network_rows) on 128-bit vectors: AVX on x86-64 (built with
// -mavx), NEON on ARM64, plain C++ elsewhere.

#include "median/median_filter.h"

#include "median/network/sweep.h"

#if defined(__x86_64__)
#include "median/ops_avx.h"
namespace {
using PassOps = median::avx::Ops;
}
#elif defined(__aarch64__)
#include "median/isa_neon.h"
#include "median/lane_ops.h"
namespace {
struct Tag;
using PassOps = median::detail::U8Ops<median::detail::Neon<Tag>>;
}  // namespace
#else
#include "median/isa_portable.h"
#include "median/lane_ops.h"
namespace {
struct Tag;
using PassOps = median::detail::U8Ops<median::detail::Portable<Tag>>;
}  // namespace
#endif

void median_filter_pass(int32_t h, int32_t w, int32_t padded_width,
                        const uint8_t* padded, uint8_t* filtered) {
  median::detail::network_pass<PassOps>(h, w, padded_width, padded, filtered);
}
