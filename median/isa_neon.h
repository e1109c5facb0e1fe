// SPDX-License-Identifier: MIT
//
// ARM64 NEON for lane_ops.h: 128-bit vectors, 32 registers.  NEON is part
// of every ARM64 processor, so this needs no flags and no run-time check.
// One vector type for every lane type, reinterpreted per operation.  A
// template on a tag, like isa_x86.h.
#pragma once

#include <arm_neon.h>

#include <cstdint>

namespace median::detail {

template <class Tag>
struct Neon {
  using V = uint8x16_t;
  static constexpr int BYTES = 16;
  static constexpr int REGISTERS = 32;
  [[gnu::always_inline]] static V load(const void* p) { return vld1q_u8(static_cast<const uint8_t*>(p)); }
  [[gnu::always_inline]] static void store(void* p, V v) { vst1q_u8(static_cast<uint8_t*>(p), v); }
  [[gnu::always_inline]] static void stream(void* p, V v) { store(p, v); }
  [[gnu::always_inline]] static V min_u8(V a, V b) { return vminq_u8(a, b); }
  [[gnu::always_inline]] static V max_u8(V a, V b) { return vmaxq_u8(a, b); }
  [[gnu::always_inline]] static V min_u16(V a, V b) {
    return vreinterpretq_u8_u16(vminq_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
  }
  [[gnu::always_inline]] static V max_u16(V a, V b) {
    return vreinterpretq_u8_u16(vmaxq_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b)));
  }
  [[gnu::always_inline]] static V min_i32(V a, V b) {
    return vreinterpretq_u8_s32(vminq_s32(vreinterpretq_s32_u8(a), vreinterpretq_s32_u8(b)));
  }
  [[gnu::always_inline]] static V max_i32(V a, V b) {
    return vreinterpretq_u8_s32(vmaxq_s32(vreinterpretq_s32_u8(a), vreinterpretq_s32_u8(b)));
  }
  [[gnu::always_inline]] static V xor_bits(V a, V b) { return veorq_u8(a, b); }
  [[gnu::always_inline]] static V srai_i32_31(V a) {
    return vreinterpretq_u8_s32(vshrq_n_s32(vreinterpretq_s32_u8(a), 31));
  }
  [[gnu::always_inline]] static V srli_i32_1(V a) {
    return vreinterpretq_u8_u32(vshrq_n_u32(vreinterpretq_u32_u8(a), 1));
  }
  [[gnu::always_inline]] static V set1_i32(int32_t v) { return vreinterpretq_u8_s32(vdupq_n_s32(v)); }
  // Wrapping 32-bit addition, as the keys need.
  [[gnu::always_inline]] static V add_i32(V a, V b) {
    return vreinterpretq_u8_u32(vaddq_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
  }
  [[gnu::always_inline]] static V sub_i32(V a, V b) {
    return vreinterpretq_u8_u32(vsubq_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
  }
};

}  // namespace median::detail
