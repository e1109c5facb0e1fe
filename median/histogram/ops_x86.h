// SPDX-License-Identifier: MIT
//
// The vector operations of the histogram methods (perreault_hebert.h says
// what each must do) on x86, at three widths.  Each is a template on a tag,
// like isa_x86.h: the kernel file of one instruction set instantiates it
// with a tag of its own, so nothing built with one file's flags is merged
// with another's.
//
//   Sse41<Tag>     -msse4.1   counts in two 128-bit halves; 4 positions
//   Avx2<Tag>      -mavx2     counts in one 256-bit register; 8 positions
//   Avx512bw<Tag>  -mavx512f -mavx512bw
//                             counts as Avx2's, compared into a mask; 16
//                             positions
//
// The 16-byte column blocks are SSE2 operations at every width (VEX-encoded
// where the file is built with AVX).
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace median::detail::histogram {

template <class Tag>
struct BytesSse2 {
  // Whether the window's whole cumulative histogram fits in registers (the
  // `Whole` operations of Avx512bw).
  static constexpr bool WHOLE = false;
  using Bytes = __m128i;
  [[gnu::always_inline]] static Bytes load_bytes(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  [[gnu::always_inline]] static void store_bytes(uint8_t* p, Bytes v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  }
  [[gnu::always_inline]] static Bytes add_bytes(Bytes a, Bytes b) { return _mm_add_epi8(a, b); }
  [[gnu::always_inline]] static Bytes sub_bytes(Bytes a, Bytes b) { return _mm_sub_epi8(a, b); }
  [[gnu::always_inline]] static Bytes prefix_bytes(Bytes x) {
    x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
    return _mm_add_epi8(x, _mm_slli_si128(x, 8));
  }
  [[gnu::always_inline]] static unsigned last_byte(Bytes x) {
    return unsigned(_mm_extract_epi16(x, 7)) >> 8;
  }
};

template <class Tag>
struct Sse41 : BytesSse2<Tag> {
  struct Counts {
    __m128i low, high;  // lanes 0-7, 8-15
  };
  [[gnu::always_inline]] static Counts zero() { return {_mm_setzero_si128(), _mm_setzero_si128()}; }
  [[gnu::always_inline]] static Counts widen(const uint8_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return {_mm_cvtepu8_epi16(v), _mm_cvtepu8_epi16(_mm_srli_si128(v, 8))};
  }
  [[gnu::always_inline]] static Counts add(Counts a, Counts b) {
    return {_mm_add_epi16(a.low, b.low), _mm_add_epi16(a.high, b.high)};
  }
  [[gnu::always_inline]] static Counts sub(Counts a, Counts b) {
    return {_mm_sub_epi16(a.low, b.low), _mm_sub_epi16(a.high, b.high)};
  }
  [[gnu::always_inline]] static Counts splat(uint32_t k) {
    const __m128i kv = _mm_set1_epi16(short(k));
    return {kv, kv};
  }
  // The lanes at most k are a prefix: count its ones.
  [[gnu::always_inline]] static int count_le(Counts v, Counts k) {
    const __m128i low = _mm_cmpeq_epi16(_mm_max_epu16(v.low, k.low), k.low);
    const __m128i high = _mm_cmpeq_epi16(_mm_max_epu16(v.high, k.high), k.high);
    const unsigned at_most = unsigned(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
    return __builtin_ctz(~at_most);
  }
  [[gnu::always_inline]] static uint32_t lane(Counts v, int i) {
    alignas(16) uint16_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v.low);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 8), v.high);
    return lanes[i];
  }
  [[gnu::always_inline]] static Counts broadcast(Counts v, int i) { return splat(lane(v, i)); }

  static constexpr int POSITIONS = 4;
  // Set bits of a 4-bit mask, 4 bits per mask in a constant: SSE4.1 has no
  // population count.
  [[gnu::always_inline]] static int count_bits(unsigned mask) {
    return int(0x4332322132212110ull >> (4 * mask) & 0xF);
  }
  [[gnu::always_inline]] static unsigned inside(const uint32_t* p, uint32_t origin, uint32_t limit) {
    const __m128i d = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                    _mm_set1_epi32(int(origin)));
    const __m128i l = _mm_set1_epi32(int(limit));
    return unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_max_epu16(d, l), l))));
  }
};

template <class Tag>
struct Avx2 : BytesSse2<Tag> {
  using Counts = __m256i;
  [[gnu::always_inline]] static Counts zero() { return _mm256_setzero_si256(); }
  [[gnu::always_inline]] static Counts widen(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  [[gnu::always_inline]] static Counts add(Counts a, Counts b) { return _mm256_add_epi16(a, b); }
  [[gnu::always_inline]] static Counts sub(Counts a, Counts b) { return _mm256_sub_epi16(a, b); }
  [[gnu::always_inline]] static Counts splat(uint32_t k) { return _mm256_set1_epi16(short(k)); }
  // Two mask bits per lane.
  [[gnu::always_inline]] static int count_le(Counts v, Counts k) {
    const __m256i at_most = _mm256_cmpeq_epi16(_mm256_max_epu16(v, k), k);
    return __builtin_popcount(unsigned(_mm256_movemask_epi8(at_most))) / 2;
  }
  [[gnu::always_inline]] static uint32_t lane(Counts v, int i) {
    const __m256i pair = _mm256_permutevar8x32_epi32(v, _mm256_set1_epi32(i / 2));
    return (uint32_t(_mm256_cvtsi256_si32(pair)) >> (16 * (i % 2))) & 0xFFFF;
  }
  // The pair of lanes that holds lane i to every pair, then its half.
  [[gnu::always_inline]] static Counts broadcast(Counts v, int i) {
    const __m256i pair = _mm256_permutevar8x32_epi32(v, _mm256_set1_epi32(i / 2));
    return _mm256_shuffle_epi8(pair, _mm256_set1_epi16(short(i % 2 ? 0x0302 : 0x0100)));
  }

  static constexpr int POSITIONS = 8;
  [[gnu::always_inline]] static int count_bits(unsigned mask) { return __builtin_popcount(mask); }
  [[gnu::always_inline]] static unsigned inside(const uint32_t* p, uint32_t origin, uint32_t limit) {
    const __m256i d = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                                       _mm256_set1_epi32(int(origin)));
    const __m256i l = _mm256_set1_epi32(int(limit));
    return unsigned(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_max_epu16(d, l), l))));
  }
};

template <class Tag>
struct Avx512bw : Avx2<Tag> {
  using Counts = __m256i;
  // The counts in the low half of a 512-bit register; the high half is zero
  // and left out of the mask.
  [[gnu::always_inline]] static int count_le(Counts v, Counts k) {
    const __mmask32 at_most =
        _mm512_mask_cmple_epu16_mask(0xFFFF, _mm512_zextsi256_si512(v), _mm512_zextsi256_si512(k));
    return __builtin_popcount(unsigned(at_most));
  }
  [[gnu::always_inline]] static Counts broadcast(Counts v, int i) {
    return _mm512_castsi512_si256(
        _mm512_permutexvar_epi16(_mm512_set1_epi16(short(i)), _mm512_zextsi256_si512(v)));
  }
  [[gnu::always_inline]] static uint32_t lane(Counts v, int i) {
    return uint32_t(_mm256_cvtsi256_si32(broadcast(v, i))) & 0xFFFF;
  }

  // The window's whole cumulative histogram: for each of the 256 values,
  // how many of the window's values are at most it, 32 16-bit counts in
  // each of eight registers (the other methods keep one block of 16 counts
  // and bring blocks up to date when the median moves into them, which
  // branches and reloads; this one does the same work for every output).
  // A column's histogram is its 256 byte counts, cumulative the same way.
  static constexpr bool WHOLE = true;
  struct Whole {
    __m512i h[8];
  };
  [[gnu::always_inline]] static Whole whole_zero() {
    Whole w;
    for (__m512i& h : w.h) h = _mm512_setzero_si512();
    return w;
  }
  [[gnu::always_inline]] static __m512i widen32(const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  // w + column `in` - column `out`.
  [[gnu::always_inline]] static void whole_step(Whole& w, const uint8_t* in, const uint8_t* out) {
    for (int q = 0; q < 8; ++q)
      w.h[q] = _mm512_sub_epi16(_mm512_add_epi16(w.h[q], widen32(in + 32 * q)), widen32(out + 32 * q));
  }
  [[gnu::always_inline]] static void whole_add(Whole& w, const uint8_t* in) {
    for (int q = 0; q < 8; ++q) w.h[q] = _mm512_add_epi16(w.h[q], widen32(in + 32 * q));
  }
  // How many of the 256 counts are at most `rank` (the median's value,
  // when rank is its rank from 0), and in `below` the largest of those
  // counts, 0 if none (the window's elements below that value: the counts
  // rise along the lanes, so the largest at most rank is the one just
  // before the median's value).  A masked max and a reduction, where reading
  // the count back from memory would store all 256 each output.
  [[gnu::always_inline]] static int whole_find(const Whole& w, uint32_t rank, uint32_t& below) {
    const __m512i k = _mm512_set1_epi16(short(rank));
    __m512i most[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    int n = 0;
    for (int q = 0; q < 8; q += 2) {
      const __mmask32 low = _mm512_cmple_epu16_mask(w.h[q], k);
      const __mmask32 high = _mm512_cmple_epu16_mask(w.h[q + 1], k);
      most[0] = _mm512_mask_max_epu16(most[0], low, most[0], w.h[q]);
      most[1] = _mm512_mask_max_epu16(most[1], high, most[1], w.h[q + 1]);
      n += __builtin_popcountll(uint64_t(high) << 32 | low);
    }
    const __m512i m = _mm512_max_epu16(most[0], most[1]);
    const __m256i m256 =
        _mm256_max_epu16(_mm512_castsi512_si256(m), _mm512_extracti64x4_epi64(m, 1));
    const __m128i m128 =
        _mm_max_epu16(_mm256_castsi256_si128(m256), _mm256_extracti128_si256(m256, 1));
    // The largest of eight as the smallest of their complements.
    const __m128i least = _mm_minpos_epu16(_mm_xor_si128(m128, _mm_set1_epi32(-1)));
    below = 0xFFFFu - (uint32_t(_mm_cvtsi128_si32(least)) & 0xFFFFu);
    return n;
  }
  // A column's cumulative histogram from its plain one, in place.
  static void whole_column_prefix(uint8_t* column) {
    __m128i carry = _mm_setzero_si128();
    for (int b = 0; b < 256; b += 16) {
      __m128i* const p = reinterpret_cast<__m128i*>(column + b);
      const __m128i sums = _mm_add_epi8(BytesSse2<Tag>::prefix_bytes(_mm_loadu_si128(p)), carry);
      _mm_storeu_si128(p, sums);
      carry = _mm_shuffle_epi8(sums, _mm_set1_epi8(15));
    }
  }
  // The 256 values, a byte each, in four registers: what a column's slide
  // compares with.
  struct Values {
    __m512i v[4];
  };
  [[gnu::always_inline]] static Values whole_values() {
    alignas(64) static constexpr struct Table {
      uint8_t v[256];
      constexpr Table() : v() {
        for (int i = 0; i < 256; ++i) v[i] = uint8_t(i);
      }
    } TABLE{};
    Values values;
    for (int q = 0; q < 4; ++q) values.v[q] = _mm512_load_si512(TABLE.v + 64 * q);
    return values;
  }
  // One row down for a column: value a comes in, d leaves; the counts of
  // values at or above each change by one.  Compares against the values in
  // registers, where loading a step of ones from a table at 256 - a split a
  // cache line in nearly every load.
  [[gnu::always_inline]] static void whole_column_slide(uint8_t* column, unsigned a, unsigned d,
                                                      const Values& values) {
    const __m512i in = _mm512_set1_epi8(char(a)), out = _mm512_set1_epi8(char(d));
    const __m512i one = _mm512_set1_epi8(1);
    for (int q = 0; q < 4; ++q) {
      __m512i* const p = reinterpret_cast<__m512i*>(column + 64 * q);
      const __mmask64 plus = _mm512_cmpge_epu8_mask(values.v[q], in);
      const __mmask64 minus = _mm512_cmpge_epu8_mask(values.v[q], out);
      const __m512i x = _mm512_loadu_si512(p);
      const __m512i added = _mm512_mask_add_epi8(x, plus, x, one);
      _mm512_storeu_si512(p, _mm512_mask_sub_epi8(added, minus, added, one));
    }
  }

  static constexpr int POSITIONS = 16;
  [[gnu::always_inline]] static unsigned inside(const uint32_t* p, uint32_t origin, uint32_t limit) {
    const __m512i d = _mm512_sub_epi16(_mm512_loadu_si512(p), _mm512_set1_epi32(int(origin)));
    const __m512i l = _mm512_set1_epi32(int(limit));
    return unsigned(_mm512_cmpeq_epi32_mask(_mm512_max_epu16(d, l), l));
  }
  // inside for 64 entries, and the place of the nth (from 0) set bit of
  // such a mask (BMI2, which every processor with AVX-512BW has).
  [[gnu::always_inline]] static uint64_t inside64(const uint32_t* p, uint32_t origin, uint32_t limit) {
    return uint64_t(inside(p + 48, origin, limit)) << 48 |
           uint64_t(inside(p + 32, origin, limit)) << 32 |
           uint64_t(inside(p + 16, origin, limit)) << 16 | inside(p, origin, limit);
  }
  [[gnu::always_inline]] static int nth_bit64(uint64_t mask, uint32_t nth) {
    return __builtin_ctzll(_pdep_u64(uint64_t(1) << nth, mask));
  }
};

}  // namespace median::detail::histogram
