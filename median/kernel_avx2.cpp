// SPDX-License-Identifier: MIT
//
// Both sweeps on 256-bit vectors, built with -mavx2: 32 byte lanes, 16
// vector registers.

#include <immintrin.h>

#include "median/kernel_entry_points.h"
#include "median/sweep.h"

namespace median::avx2 {
namespace {

struct Ops {
  using V = __m256i;
  static constexpr int BYTES = 32;
  [[gnu::always_inline]] static V load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
  }
  [[gnu::always_inline]] static void store(uint8_t* p, V v) {
    _mm256_storeu_si256(reinterpret_cast<V*>(p), v);
  }
  // `p` aligned to BYTES.
  [[gnu::always_inline]] static void stream(uint8_t* p, V v) {
    _mm256_stream_si256(reinterpret_cast<V*>(p), v);
  }
  [[gnu::always_inline]] static V min(V a, V b) { return _mm256_min_epu8(a, b); }
  [[gnu::always_inline]] static V max(V a, V b) { return _mm256_max_epu8(a, b); }
};

}  // namespace

void network_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered) {
  detail::network_pass<Ops>(h, w, padded_width, padded, filtered);
}

void rowpair_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered) {
  detail::rowpair_pass<Ops>(h, w, padded_width, padded, filtered);
}

}  // namespace median::avx2
