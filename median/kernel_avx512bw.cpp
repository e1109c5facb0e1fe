// SPDX-License-Identifier: MIT
//
// Both sweeps on 512-bit vectors, built with -mavx512bw: 64 byte lanes, 32
// vector registers.

#include <immintrin.h>

#include "median/kernel_entry_points.h"
#include "median/sweep.h"

namespace median::avx512bw {
namespace {

struct Ops {
  using V = __m512i;
  static constexpr int BYTES = 64;
  [[gnu::always_inline]] static V load(const uint8_t* p) {
    return _mm512_loadu_si512(p);
  }
  [[gnu::always_inline]] static void store(uint8_t* p, V v) {
    _mm512_storeu_si512(p, v);
  }
  // `p` aligned to BYTES.
  [[gnu::always_inline]] static void stream(uint8_t* p, V v) {
    _mm512_stream_si512(reinterpret_cast<V*>(p), v);
  }
  [[gnu::always_inline]] static V min(V a, V b) { return _mm512_min_epu8(a, b); }
  [[gnu::always_inline]] static V max(V a, V b) { return _mm512_max_epu8(a, b); }
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

}  // namespace median::avx512bw
