// SPDX-License-Identifier: MIT
//
// The vector operations of the histogram methods (perreault_hebert.h says
// what each must do) on ARM64 NEON: counts in two 128-bit halves, counted
// against k by a horizontal add of the compare, 4 positions per vector.  A
// template on a tag, like isa_neon.h.
#pragma once

#include <arm_neon.h>

#include <cstdint>

namespace median::detail::histogram {

template <class Tag>
struct Neon {
  static constexpr bool WHOLE = false;  // 256 counts take 16 of the 32 registers
  using Bytes = uint8x16_t;
  [[gnu::always_inline]] static Bytes load_bytes(const uint8_t* p) { return vld1q_u8(p); }
  [[gnu::always_inline]] static void store_bytes(uint8_t* p, Bytes v) { vst1q_u8(p, v); }
  [[gnu::always_inline]] static Bytes add_bytes(Bytes a, Bytes b) { return vaddq_u8(a, b); }
  [[gnu::always_inline]] static Bytes sub_bytes(Bytes a, Bytes b) { return vsubq_u8(a, b); }
  [[gnu::always_inline]] static Bytes prefix_bytes(Bytes x) {
    const uint8x16_t z = vdupq_n_u8(0);
    x = vaddq_u8(x, vextq_u8(z, x, 15));
    x = vaddq_u8(x, vextq_u8(z, x, 14));
    x = vaddq_u8(x, vextq_u8(z, x, 12));
    return vaddq_u8(x, vextq_u8(z, x, 8));
  }
  [[gnu::always_inline]] static unsigned last_byte(Bytes x) { return vgetq_lane_u8(x, 15); }

  struct Counts {
    uint16x8_t low, high;  // lanes 0-7, 8-15
  };
  [[gnu::always_inline]] static Counts zero() { return {vdupq_n_u16(0), vdupq_n_u16(0)}; }
  [[gnu::always_inline]] static Counts widen(const uint8_t* p) {
    const uint8x16_t v = vld1q_u8(p);
    return {vmovl_u8(vget_low_u8(v)), vmovl_high_u8(v)};
  }
  [[gnu::always_inline]] static Counts add(Counts a, Counts b) {
    return {vaddq_u16(a.low, b.low), vaddq_u16(a.high, b.high)};
  }
  [[gnu::always_inline]] static Counts sub(Counts a, Counts b) {
    return {vsubq_u16(a.low, b.low), vsubq_u16(a.high, b.high)};
  }
  [[gnu::always_inline]] static Counts splat(uint32_t k) {
    const uint16x8_t kv = vdupq_n_u16(uint16_t(k));
    return {kv, kv};
  }
  // Each lane at most k compares as 0xFFFF, that is -1: the sum of the
  // compares is minus the count.
  [[gnu::always_inline]] static int count_le(Counts v, Counts k) {
    const uint16x8_t both = vaddq_u16(vcleq_u16(v.low, k.low), vcleq_u16(v.high, k.high));
    return uint16_t(-vaddvq_u16(both));
  }
  [[gnu::always_inline]] static uint32_t lane(Counts v, int i) {
    uint16_t lanes[16];
    vst1q_u16(lanes, v.low);
    vst1q_u16(lanes + 8, v.high);
    return lanes[i];
  }
  [[gnu::always_inline]] static Counts broadcast(Counts v, int i) { return splat(lane(v, i)); }

  static constexpr int POSITIONS = 4;
  [[gnu::always_inline]] static int count_bits(unsigned mask) { return __builtin_popcount(mask); }
  [[gnu::always_inline]] static unsigned inside(const uint32_t* p, uint32_t origin, uint32_t limit) {
    const uint16x8_t d = vsubq_u16(vreinterpretq_u16_u32(vld1q_u32(p)),
                                   vreinterpretq_u16_u32(vdupq_n_u32(origin)));
    const uint32x4_t l = vdupq_n_u32(limit);
    const uint32x4_t in = vceqq_u32(vreinterpretq_u32_u16(vmaxq_u16(d, vreinterpretq_u16_u32(l))), l);
    const uint32x4_t bits = {1, 2, 4, 8};
    return vaddvq_u32(vandq_u32(in, bits));
  }
};

}  // namespace median::detail::histogram
