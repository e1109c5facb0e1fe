// SPDX-License-Identifier: MIT
//
// Plain C++ vectors for lane_ops.h, for processors the library has no
// instruction-set kernels for: 16 bytes as a GCC/Clang vector type, whose
// lane-wise operators the compiler turns into whatever vectors the target
// has, or into loops where it has none.  No intrinsics.  32-bit arithmetic
// is done on unsigned lanes, so it wraps as the float keys need.  A
// template on a tag, like isa_x86.h, for the same reason.
#pragma once

#include <cstdint>
#include <cstring>

namespace median::detail {

template <class Tag>
struct Portable {
  typedef uint8_t V __attribute__((vector_size(16)));
  typedef uint16_t U16 __attribute__((vector_size(16)));
  typedef int32_t I32 __attribute__((vector_size(16)));
  typedef uint32_t U32 __attribute__((vector_size(16)));
  static constexpr int BYTES = 16;
  static constexpr int REGISTERS = 16;

  static V load(const void* p) {
    V v;
    std::memcpy(&v, p, BYTES);
    return v;
  }
  static void store(void* p, V v) { std::memcpy(p, &v, BYTES); }
  static void stream(void* p, V v) { store(p, v); }

  template <class L>
  static L as(V v) {
    return reinterpret_cast<L>(v);
  }
  template <class L>
  static V bytes(L v) {
    return reinterpret_cast<V>(v);
  }

  static V min_u8(V a, V b) { return b < a ? b : a; }
  static V max_u8(V a, V b) { return a < b ? b : a; }
  static V min_u16(V a, V b) {
    const U16 x = as<U16>(a), y = as<U16>(b);
    return bytes(y < x ? y : x);
  }
  static V max_u16(V a, V b) {
    const U16 x = as<U16>(a), y = as<U16>(b);
    return bytes(x < y ? y : x);
  }
  static V min_i32(V a, V b) {
    const I32 x = as<I32>(a), y = as<I32>(b);
    return bytes(y < x ? y : x);
  }
  static V max_i32(V a, V b) {
    const I32 x = as<I32>(a), y = as<I32>(b);
    return bytes(x < y ? y : x);
  }
  static V xor_bits(V a, V b) { return a ^ b; }
  static V add_i32(V a, V b) { return bytes(as<U32>(a) + as<U32>(b)); }
  static V sub_i32(V a, V b) { return bytes(as<U32>(a) - as<U32>(b)); }
  // All ones where the sign bit is set.
  static V srai_i32_31(V a) { return bytes(as<I32>(a) < 0); }
  static V srli_i32_1(V a) { return bytes(as<U32>(a) >> 1); }
  static V set1_i32(int32_t v) { return bytes(I32{v, v, v, v}); }
};

}  // namespace median::detail
