// SPDX-License-Identifier: MIT
//
// x86 instruction sets for lane_ops.h, at 128, 256 and 512 bits.  Each is a
// template on a tag: the kernel file of one instruction set instantiates it
// with a tag of its own (a type in its anonymous namespace), so no code
// compiled with one file's flags can be merged with another's.  A template
// may only be instantiated where the compiler is told the processor has its
// instruction set:
//
//   Sse2<Tag>      any x86-64             u8; i32 min/max by compare and select
//   Sse41<Tag>     -msse4.1 (or -mavx)    u8, u16, i32 (AVX: the same, VEX-encoded)
//   Avx2<Tag>      -mavx2                 256 bits
//   Avx512bw<Tag>  -mavx512f -mavx512bw   512 bits
#pragma once

#include <immintrin.h>

namespace median::detail {

template <class Tag>
struct Sse2 {
  using V = __m128i;
  static constexpr int BYTES = 16;
  static constexpr int REGISTERS = 16;
  [[gnu::always_inline]] static V load(const void* p) {
    return _mm_loadu_si128(static_cast<const V*>(p));
  }
  [[gnu::always_inline]] static void store(void* p, V v) { _mm_storeu_si128(static_cast<V*>(p), v); }
  [[gnu::always_inline]] static void stream(void* p, V v) { _mm_stream_si128(static_cast<V*>(p), v); }
  [[gnu::always_inline]] static V min_u8(V a, V b) { return _mm_min_epu8(a, b); }
  [[gnu::always_inline]] static V max_u8(V a, V b) { return _mm_max_epu8(a, b); }
  // SSE2 has no 32-bit min/max: select by a compare.
  [[gnu::always_inline]] static V min_i32(V a, V b) {
    const V a_greater = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(a_greater, b), _mm_andnot_si128(a_greater, a));
  }
  [[gnu::always_inline]] static V max_i32(V a, V b) {
    const V a_greater = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(a_greater, a), _mm_andnot_si128(a_greater, b));
  }
  [[gnu::always_inline]] static V xor_bits(V a, V b) { return _mm_xor_si128(a, b); }
  [[gnu::always_inline]] static V srai_i32_31(V a) { return _mm_srai_epi32(a, 31); }
  [[gnu::always_inline]] static V srli_i32_1(V a) { return _mm_srli_epi32(a, 1); }
  [[gnu::always_inline]] static V set1_i32(int v) { return _mm_set1_epi32(v); }
  [[gnu::always_inline]] static V add_i32(V a, V b) { return _mm_add_epi32(a, b); }
  [[gnu::always_inline]] static V sub_i32(V a, V b) { return _mm_sub_epi32(a, b); }
};

template <class Tag>
struct Sse41 : Sse2<Tag> {
  using V = __m128i;
  [[gnu::always_inline]] static V min_u16(V a, V b) { return _mm_min_epu16(a, b); }
  [[gnu::always_inline]] static V max_u16(V a, V b) { return _mm_max_epu16(a, b); }
  [[gnu::always_inline]] static V min_i32(V a, V b) { return _mm_min_epi32(a, b); }
  [[gnu::always_inline]] static V max_i32(V a, V b) { return _mm_max_epi32(a, b); }
};

template <class Tag>
struct Avx2 {
  using V = __m256i;
  static constexpr int BYTES = 32;
  static constexpr int REGISTERS = 16;
  [[gnu::always_inline]] static V load(const void* p) {
    return _mm256_loadu_si256(static_cast<const V*>(p));
  }
  [[gnu::always_inline]] static void store(void* p, V v) { _mm256_storeu_si256(static_cast<V*>(p), v); }
  [[gnu::always_inline]] static void stream(void* p, V v) { _mm256_stream_si256(static_cast<V*>(p), v); }
  [[gnu::always_inline]] static V min_u8(V a, V b) { return _mm256_min_epu8(a, b); }
  [[gnu::always_inline]] static V max_u8(V a, V b) { return _mm256_max_epu8(a, b); }
  [[gnu::always_inline]] static V min_u16(V a, V b) { return _mm256_min_epu16(a, b); }
  [[gnu::always_inline]] static V max_u16(V a, V b) { return _mm256_max_epu16(a, b); }
  [[gnu::always_inline]] static V min_i32(V a, V b) { return _mm256_min_epi32(a, b); }
  [[gnu::always_inline]] static V max_i32(V a, V b) { return _mm256_max_epi32(a, b); }
  [[gnu::always_inline]] static V xor_bits(V a, V b) { return _mm256_xor_si256(a, b); }
  [[gnu::always_inline]] static V srai_i32_31(V a) { return _mm256_srai_epi32(a, 31); }
  [[gnu::always_inline]] static V srli_i32_1(V a) { return _mm256_srli_epi32(a, 1); }
  [[gnu::always_inline]] static V set1_i32(int v) { return _mm256_set1_epi32(v); }
  [[gnu::always_inline]] static V add_i32(V a, V b) { return _mm256_add_epi32(a, b); }
  [[gnu::always_inline]] static V sub_i32(V a, V b) { return _mm256_sub_epi32(a, b); }
};

template <class Tag>
struct Avx512bw {
  using V = __m512i;
  static constexpr int BYTES = 64;
  static constexpr int REGISTERS = 32;
  [[gnu::always_inline]] static V load(const void* p) { return _mm512_loadu_si512(p); }
  [[gnu::always_inline]] static void store(void* p, V v) { _mm512_storeu_si512(p, v); }
  [[gnu::always_inline]] static void stream(void* p, V v) { _mm512_stream_si512(static_cast<V*>(p), v); }
  [[gnu::always_inline]] static V min_u8(V a, V b) { return _mm512_min_epu8(a, b); }
  [[gnu::always_inline]] static V max_u8(V a, V b) { return _mm512_max_epu8(a, b); }
  [[gnu::always_inline]] static V min_u16(V a, V b) { return _mm512_min_epu16(a, b); }
  [[gnu::always_inline]] static V max_u16(V a, V b) { return _mm512_max_epu16(a, b); }
  [[gnu::always_inline]] static V min_i32(V a, V b) { return _mm512_min_epi32(a, b); }
  [[gnu::always_inline]] static V max_i32(V a, V b) { return _mm512_max_epi32(a, b); }
  [[gnu::always_inline]] static V xor_bits(V a, V b) { return _mm512_xor_si512(a, b); }
  [[gnu::always_inline]] static V srai_i32_31(V a) { return _mm512_srai_epi32(a, 31); }
  [[gnu::always_inline]] static V srli_i32_1(V a) { return _mm512_srli_epi32(a, 1); }
  [[gnu::always_inline]] static V set1_i32(int v) { return _mm512_set1_epi32(v); }
  [[gnu::always_inline]] static V add_i32(V a, V b) { return _mm512_add_epi32(a, b); }
  [[gnu::always_inline]] static V sub_i32(V a, V b) { return _mm512_sub_epi32(a, b); }
};

}  // namespace median::detail
