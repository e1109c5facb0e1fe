// SPDX-License-Identifier: MIT
// Built with -mavx2, like the library's 256-bit kernels; no test framework
// code here, so nothing AVX2-encoded is shared with the other test files.

#include "emulated_wide_kernels.h"

#if defined(__x86_64__)
#include "median/histogram/ops_x86.h"
#include "median/histogram/tile_ranks.h"
#include "median/network/band_sweeps.h"
#include "median/network/separable_program.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/isa_x86.h"
#include "median/kernel_code.h"
#include "median/lane_ops.h"

namespace emulated512 {
namespace {

struct Tag;
using Half = median::detail::Avx2<Tag>;

// Every operation on both halves; the register count of AVX-512, so that
// the column sweep takes its all-register walk.
struct Isa {
  struct V {
    Half::V lo, hi;
  };
  static constexpr int BYTES = 2 * Half::BYTES;
  static constexpr int REGISTERS = 32;
  static V load(const void* p) {
    return {Half::load(p), Half::load(static_cast<const char*>(p) + Half::BYTES)};
  }
  static void store(void* p, V v) {
    Half::store(p, v.lo);
    Half::store(static_cast<char*>(p) + Half::BYTES, v.hi);
  }
  static void stream(void* p, V v) {
    Half::stream(p, v.lo);
    Half::stream(static_cast<char*>(p) + Half::BYTES, v.hi);
  }
#define EMULATED_BINARY(op) \
  static V op(V a, V b) { return {Half::op(a.lo, b.lo), Half::op(a.hi, b.hi)}; }
#define EMULATED_UNARY(op) \
  static V op(V a) { return {Half::op(a.lo), Half::op(a.hi)}; }
  EMULATED_BINARY(min_u8)
  EMULATED_BINARY(max_u8)
  EMULATED_BINARY(min_u16)
  EMULATED_BINARY(max_u16)
  EMULATED_BINARY(min_i32)
  EMULATED_BINARY(max_i32)
  EMULATED_BINARY(xor_bits)
  EMULATED_BINARY(add_i32)
  EMULATED_BINARY(sub_i32)
  EMULATED_UNARY(srai_i32_31)
  EMULATED_UNARY(srli_i32_1)
#undef EMULATED_BINARY
#undef EMULATED_UNARY
  static V set1_i32(int v) { return {Half::set1_i32(v), Half::set1_i32(v)}; }
};

template <class T>
using Ops = median::detail::LaneOps<Isa, T>;

// The rank method's scan at AVX-512's 16 positions a vector, from two
// halves of 8: its selection of a set bit among two bytes of mask.
struct RankOps : median::detail::histogram::Avx2<Tag> {
  using Eight = median::detail::histogram::Avx2<Tag>;
  static constexpr int POSITIONS = 16;
  static unsigned inside(const uint32_t* p, uint32_t origin, uint32_t limit) {
    return Eight::inside(p, origin, limit) | Eight::inside(p + 8, origin, limit) << 8;
  }
};

template <class T>
void rank(const median::detail::Band<T>& b) { median::detail::histogram::rank_band<RankOps, T>(b); }
template <class T>
size_t rank_work_bytes(int32_t rx, int32_t ry, ptrdiff_t step) {
  return median::detail::histogram::rank_work_bytes<RankOps, T>(rx, ry, step);
}

template <class T>
void network(const median::detail::Band<T>& b) { median::detail::network_band<Ops<T>>(b); }
template <class T>
void rowpair(const median::detail::Band<T>& b) { median::detail::rowpair_band<Ops<T>>(b); }
template <class T>
void column(const median::detail::Band<T>& b) { median::detail::column_band<Ops<T>>(b); }

// The separable sweep of the K x K window: 3x3 keeps its ring in
// registers, 7x7 in working memory.
template <int K, class T>
void separable(const median::detail::Band<T>& b) {
  median::detail::separable_band<Ops<T>, median::detail::SeparableNetwork<K>>(b);
}
template <int K>
size_t separable_work(int32_t, int32_t, ptrdiff_t) {
  return median::detail::SEPARABLE_WORK_BYTES<median::detail::SeparableNetwork<K>, Isa::REGISTERS,
                                              Isa::BYTES>;
}
template <int K>
constexpr int32_t SEPARABLE_ROWS = median::detail::SEPARABLE_BAND_ROWS<median::detail::SeparableNetwork<K>>;

// The interpreted 17x17 network, two vectors a slot.
template <class T>
void program17(const median::detail::Band<T>& b) {
  median::detail::program_band<Ops<T>, median::detail::SeparableProgram<17>>(b);
}
size_t program17_work(int32_t, int32_t, ptrdiff_t) {
  return median::detail::PROGRAM_WORK_BYTES<median::detail::SeparableProgram<17>>;
}

using median::detail::KernelCode;
template <class T>
constexpr int LANES = Isa::BYTES / int(sizeof(T));
const KernelCode CODES[] = {
    {network<uint8_t>, nullptr, nullptr, LANES<uint8_t>, median::detail::NETWORK_BAND_ROWS, 5, 5, nullptr},
    {rowpair<uint8_t>, nullptr, nullptr, LANES<uint8_t>, median::detail::ROWPAIR_BAND_ROWS, 5, 5, nullptr},
    {column<uint8_t>, nullptr, nullptr, LANES<uint8_t>, median::detail::COLUMN_BAND_ROWS<Isa::REGISTERS>, 5, 5, nullptr},
    {nullptr, network<uint16_t>, nullptr, LANES<uint16_t>, median::detail::NETWORK_BAND_ROWS, 5, 5, nullptr},
    {nullptr, rowpair<uint16_t>, nullptr, LANES<uint16_t>, median::detail::ROWPAIR_BAND_ROWS, 5, 5, nullptr},
    {nullptr, column<uint16_t>, nullptr, LANES<uint16_t>, median::detail::COLUMN_BAND_ROWS<Isa::REGISTERS>, 5, 5, nullptr},
    {nullptr, nullptr, network<float>, LANES<float>, median::detail::NETWORK_BAND_ROWS, 5, 5, nullptr},
    {nullptr, nullptr, rowpair<float>, LANES<float>, median::detail::ROWPAIR_BAND_ROWS, 5, 5, nullptr},
    {nullptr, nullptr, column<float>, LANES<float>, median::detail::COLUMN_BAND_ROWS<Isa::REGISTERS>, 5, 5, nullptr},
    {separable<3, uint8_t>, nullptr, nullptr, LANES<uint8_t>, SEPARABLE_ROWS<3>, 3, 3, nullptr},
    {separable<7, uint8_t>, nullptr, nullptr, LANES<uint8_t>, SEPARABLE_ROWS<7>, 7, 7, separable_work<7>},
    {nullptr, separable<3, uint16_t>, nullptr, LANES<uint16_t>, SEPARABLE_ROWS<3>, 3, 3, nullptr},
    {nullptr, separable<7, uint16_t>, nullptr, LANES<uint16_t>, SEPARABLE_ROWS<7>, 7, 7, separable_work<7>},
    {nullptr, nullptr, separable<3, float>, LANES<float>, SEPARABLE_ROWS<3>, 3, 3, nullptr},
    {nullptr, nullptr, separable<7, float>, LANES<float>, SEPARABLE_ROWS<7>, 7, 7, separable_work<7>},
    {nullptr, rank<uint16_t>, nullptr, 1, median::detail::RANK_BAND_ROWS, 0, 0, rank_work_bytes<uint16_t>},
    {nullptr, nullptr, rank<float>, 1, median::detail::RANK_BAND_ROWS, 0, 0, rank_work_bytes<float>},
    {program17<uint8_t>, nullptr, nullptr, LANES<uint8_t>, median::detail::MAX_BAND_ROWS, 17, 17, program17_work},
    {nullptr, program17<uint16_t>, nullptr, LANES<uint16_t>, median::detail::MAX_BAND_ROWS, 17, 17, program17_work},
    {nullptr, nullptr, program17<float>, LANES<float>, median::detail::MAX_BAND_ROWS, 17, 17, program17_work},
};

template <int I>
void pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded, uint8_t* filtered) {
  median::detail::padded_pass(CODES[I], h, w, padded_width, padded, filtered);
}

}  // namespace

using median::Lane;
const median::Kernel KERNELS[] = {
  {"emulated512_network", "avx2", 512, Lane::u8, 5, 5, 0, 0, 0, pass<0>, &CODES[0]},
  {"emulated512_rowpair", "avx2", 512, Lane::u8, 5, 5, 0, 0, 0, pass<1>, &CODES[1]},
  {"emulated512_column", "avx2", 512, Lane::u8, 5, 5, 0, 0, 0, pass<2>, &CODES[2]},
  {"emulated512_network_u16", "avx2", 512, Lane::u16, 5, 5, 0, 0, 0, nullptr, &CODES[3]},
  {"emulated512_rowpair_u16", "avx2", 512, Lane::u16, 5, 5, 0, 0, 0, nullptr, &CODES[4]},
  {"emulated512_column_u16", "avx2", 512, Lane::u16, 5, 5, 0, 0, 0, nullptr, &CODES[5]},
  {"emulated512_network_f32", "avx2", 512, Lane::f32, 5, 5, 0, 0, 0, nullptr, &CODES[6]},
  {"emulated512_rowpair_f32", "avx2", 512, Lane::f32, 5, 5, 0, 0, 0, nullptr, &CODES[7]},
  {"emulated512_column_f32", "avx2", 512, Lane::f32, 5, 5, 0, 0, 0, nullptr, &CODES[8]},
  {"emulated512_separable3x3", "avx2", 512, Lane::u8, 3, 3, 0, 0, 0, nullptr, &CODES[9]},
  {"emulated512_separable7x7", "avx2", 512, Lane::u8, 7, 7, 0, 0, 0, nullptr, &CODES[10]},
  {"emulated512_separable3x3_u16", "avx2", 512, Lane::u16, 3, 3, 0, 0, 0, nullptr, &CODES[11]},
  {"emulated512_separable7x7_u16", "avx2", 512, Lane::u16, 7, 7, 0, 0, 0, nullptr, &CODES[12]},
  {"emulated512_separable3x3_f32", "avx2", 512, Lane::f32, 3, 3, 0, 0, 0, nullptr, &CODES[13]},
  {"emulated512_separable7x7_f32", "avx2", 512, Lane::f32, 7, 7, 0, 0, 0, nullptr, &CODES[14]},
  {"emulated512_rank_u16", "avx2", 0, Lane::u16, 0, 0, 0, 0, 0, nullptr, &CODES[15]},
  {"emulated512_rank_f32", "avx2", 0, Lane::f32, 0, 0, 0, 0, 0, nullptr, &CODES[16]},
  {"emulated512_separable17x17", "avx2", 512, Lane::u8, 17, 17, 0, 0, 0, nullptr, &CODES[17]},
  {"emulated512_separable17x17_u16", "avx2", 512, Lane::u16, 17, 17, 0, 0, 0, nullptr, &CODES[18]},
  {"emulated512_separable17x17_f32", "avx2", 512, Lane::f32, 17, 17, 0, 0, 0, nullptr, &CODES[19]},
};
const size_t KERNEL_COUNT = sizeof KERNELS / sizeof KERNELS[0];

}  // namespace emulated512

#else  // no 256-bit x86 vectors to emulate with

namespace emulated512 {
const median::Kernel KERNELS[1] = {};
const size_t KERNEL_COUNT = 0;
}  // namespace emulated512

#endif
