// SPDX-License-Identifier: MIT
//
// Feeding 25-input median networks at 128 bits in tests: sixteen windows of
// 25 bytes, one per lane, and all 2^25 zero/one windows, sixteen at a time.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <random>

using Window = std::array<uint8_t, 25>;
constexpr int LANES = 16;
using Lanes = std::array<uint8_t, LANES>;

inline Lanes lanes_of(__m128i v) {
  Lanes out;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data()), v);
  return out;
}

// Input wire k of sixteen windows: lane l holds byte k of window l.
inline void wires_of(const std::array<Window, LANES>& windows, __m128i (&in)[25]) {
  for (int wire = 0; wire < 25; ++wire) {
    Lanes bytes;
    for (int lane = 0; lane < LANES; ++lane) bytes[size_t(lane)] = windows[size_t(lane)][size_t(wire)];
    in[wire] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data()));
  }
}

// Sixteen random windows: full-range bytes, or few values with many ties.
inline std::array<Window, LANES> random_windows(std::mt19937* rng, bool few_values) {
  std::array<Window, LANES> windows;
  for (auto& window : windows)
    for (auto& v : window) v = few_values ? uint8_t((*rng)() % 4 * 64 + 7) : uint8_t((*rng)());
  return windows;
}

// The median of each window, by std::nth_element.
inline Lanes nth_element_medians(std::array<Window, LANES> windows) {
  Lanes out;
  for (int lane = 0; lane < LANES; ++lane) {
    Window& w = windows[size_t(lane)];
    std::nth_element(w.begin(), w.begin() + 12, w.end());
    out[size_t(lane)] = w[12];
  }
  return out;
}

// Runs `median` (25 input vectors in, one vector out) on every 0/1 window
// and returns how many lanes missed the median.  Pattern p puts 0xFF on wire
// j when bit j of p is set; sixteen consecutive patterns share bits 4..24,
// so those wires are uniform vectors and only wires 0..3 vary across lanes.
template <class Median>
uint64_t zero_one_failures(const Median& median) {
  alignas(16) uint8_t low_bits[4][LANES];
  for (int wire = 0; wire < 4; ++wire)
    for (int lane = 0; lane < LANES; ++lane) low_bits[wire][lane] = (lane >> wire & 1) ? 0xFF : 0;
  const __m128i ones = _mm_set1_epi8(-1), zeros = _mm_setzero_si128();
  uint64_t failures = 0;
  for (uint32_t base = 0; base < (1u << 25); base += LANES) {
    __m128i in[25];
    for (int wire = 0; wire < 4; ++wire)
      in[wire] = _mm_load_si128(reinterpret_cast<const __m128i*>(low_bits[wire]));
    for (int wire = 4; wire < 25; ++wire) in[wire] = (base >> wire & 1) ? ones : zeros;
    const Lanes out = lanes_of(median(in));
    const int high = int(std::bitset<32>(base).count());
    for (int lane = 0; lane < LANES; ++lane) {
      const int set = high + int(std::bitset<4>(unsigned(lane)).count());
      failures += out[size_t(lane)] != (set >= 13 ? 0xFF : 0);
    }
  }
  return failures;
}
