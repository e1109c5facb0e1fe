// SPDX-License-Identifier: MIT
//
// 128-bit vector operations for the sweeps and networks: 16 unsigned byte
// lanes, unaligned loads and stores, lane-wise unsigned min and max.
// Included only by code built with -mavx (VEX encodings).
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace median::avx {

struct Ops {
  using V = __m128i;
  static constexpr int BYTES = 16;
  [[gnu::always_inline]] static V load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const V*>(p));
  }
  [[gnu::always_inline]] static void store(uint8_t* p, V v) {
    _mm_storeu_si128(reinterpret_cast<V*>(p), v);
  }
  // `p` aligned to BYTES.
  [[gnu::always_inline]] static void stream(uint8_t* p, V v) {
    _mm_stream_si128(reinterpret_cast<V*>(p), v);
  }
  [[gnu::always_inline]] static V min(V a, V b) { return _mm_min_epu8(a, b); }
  [[gnu::always_inline]] static V max(V a, V b) { return _mm_max_epu8(a, b); }
};

}  // namespace median::avx
