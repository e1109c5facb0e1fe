// SPDX-License-Identifier: MIT
// Built with -mavx2, like the library's 256-bit kernels; no test framework
// code here, so nothing AVX2-encoded is shared with the other test files.

#include "emulated_wide_kernels.h"

#include <immintrin.h>

#include "median/sweep.h"

namespace emulated512 {
namespace {

struct Ops {
  struct V {
    __m256i lo, hi;
  };
  static constexpr int BYTES = 64;
  static V load(const uint8_t* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32))};
  }
  static void store(uint8_t* p, V v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v.lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32), v.hi);
  }
  static void stream(uint8_t* p, V v) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v.lo);
    _mm256_stream_si256(reinterpret_cast<__m256i*>(p + 32), v.hi);
  }
  static V min(V a, V b) { return {_mm256_min_epu8(a.lo, b.lo), _mm256_min_epu8(a.hi, b.hi)}; }
  static V max(V a, V b) { return {_mm256_max_epu8(a.lo, b.lo), _mm256_max_epu8(a.hi, b.hi)}; }
};

}  // namespace

void network_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered) {
  median::detail::network_pass<Ops>(h, w, padded_width, padded, filtered);
}

void rowpair_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered) {
  median::detail::rowpair_pass<Ops>(h, w, padded_width, padded, filtered);
}

}  // namespace emulated512
