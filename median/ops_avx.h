// SPDX-License-Identifier: MIT
//
// 128-bit vector operations on bytes for the benchmark's pass
// (median_filter.cpp), the 128-bit AVX kernels (kernel_avx.cpp) and the
// tests of the networks: 16 unsigned byte lanes, unaligned loads and
// stores, lane-wise unsigned min and max.  Included only by code built with
// -mavx (VEX encodings), which is why its tag is shared.
#pragma once

#include "median/isa_x86.h"
#include "median/lane_ops.h"

namespace median::avx {

struct Tag;
using Isa = detail::Sse41<Tag>;
using Ops = detail::U8Ops<Isa>;

}  // namespace median::avx
