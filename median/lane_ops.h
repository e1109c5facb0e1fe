// SPDX-License-Identifier: MIT
//
// The vector operations the sweeps and networks use (the `Ops` of
// band_sweeps.h), for each lane type, written once over an instruction set.
// An instruction set (`Isa`, isa_*.h) supplies one vector type V of BYTES
// bytes, unaligned load and store, a non-temporal store, and the lane-wise
// operations below; a lane type adds what its elements need:
//
//   uint8_t   unsigned byte min/max                     Isa::min_u8,  max_u8
//   uint16_t  unsigned 16-bit min/max                   Isa::min_u16, max_u16
//   float     signed 32-bit min/max on order keys       Isa::min_i32, max_i32
//
// Floats are not compared as floats: hardware float min/max return one
// operand or the other when a NaN is involved, and treat -0.0 and +0.0 as
// equal, so a network's result would depend on its operand order.  Instead
// each float is loaded as a 32-bit key whose signed order is a total order
// of the values: -infinity < ... < -0.0 < +0.0 < ... < +infinity < NaN, every
// NaN above +infinity whatever its sign.  The key flips the magnitude bits of
// negative values (so their bit patterns order as signed integers) and then
// subtracts KEY_OFFSET, which moves -infinity to the lowest key and wraps the
// negative NaNs, the only patterns below it, round to the top.  A store
// undoes both steps, so every value comes out with its own bits.
//
// Every member is a template's, so each instruction set's translation unit
// instantiates its own copy: nothing built with one set of flags is shared
// with code built with another.
#pragma once

#include <cstdint>
#include <type_traits>

namespace median::detail {

constexpr int32_t KEY_OFFSET = 0x7FFFFF;

// Unsigned integer lanes of T, compared as they are.
template <class Isa, class T_>
struct UnsignedOps {
  using T = T_;
  using V = typename Isa::V;
  static constexpr int BYTES = Isa::BYTES;
  static constexpr int REGISTERS = Isa::REGISTERS;
  static constexpr int LANES = BYTES / int(sizeof(T));
  [[gnu::always_inline]] static V load(const T* p) { return Isa::load(p); }
  [[gnu::always_inline]] static void store(T* p, V v) { Isa::store(p, v); }
  // `p` aligned to BYTES.
  [[gnu::always_inline]] static void stream(T* p, V v) { Isa::stream(p, v); }
  [[gnu::always_inline]] static V min(V a, V b) {
    if constexpr (sizeof(T) == 1)
      return Isa::min_u8(a, b);
    else
      return Isa::min_u16(a, b);
  }
  [[gnu::always_inline]] static V max(V a, V b) {
    if constexpr (sizeof(T) == 1)
      return Isa::max_u8(a, b);
    else
      return Isa::max_u16(a, b);
  }
};

template <class Isa>
using U8Ops = UnsignedOps<Isa, uint8_t>;
template <class Isa>
using U16Ops = UnsignedOps<Isa, uint16_t>;

template <class Isa>
struct F32Ops {
  using T = float;
  using V = typename Isa::V;
  static constexpr int BYTES = Isa::BYTES;
  static constexpr int REGISTERS = Isa::REGISTERS;
  static constexpr int LANES = BYTES / int(sizeof(T));
  // Bits with the sign set get their other 31 bits flipped; the same step
  // turns a key back, since it keeps the sign bit.
  [[gnu::always_inline]] static V flip_negatives(V v) {
    return Isa::xor_bits(v, Isa::srli_i32_1(Isa::srai_i32_31(v)));
  }
  [[gnu::always_inline]] static V key(V bits) {
    return Isa::sub_i32(flip_negatives(bits), Isa::set1_i32(KEY_OFFSET));
  }
  [[gnu::always_inline]] static V bits(V key) {
    return flip_negatives(Isa::add_i32(key, Isa::set1_i32(KEY_OFFSET)));
  }
  [[gnu::always_inline]] static V load(const T* p) { return key(Isa::load(p)); }
  [[gnu::always_inline]] static void store(T* p, V v) { Isa::store(p, bits(v)); }
  [[gnu::always_inline]] static void stream(T* p, V v) { Isa::stream(p, bits(v)); }
  [[gnu::always_inline]] static V min(V a, V b) { return Isa::min_i32(a, b); }
  [[gnu::always_inline]] static V max(V a, V b) { return Isa::max_i32(a, b); }
};

// The Ops of lane type T on instruction set Isa.
template <class Isa, class T>
using LaneOps = std::conditional_t<
    std::is_same_v<T, uint8_t>, U8Ops<Isa>,
    std::conditional_t<std::is_same_v<T, uint16_t>, U16Ops<Isa>, F32Ops<Isa>>>;

}  // namespace median::detail
