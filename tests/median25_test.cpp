// SPDX-License-Identifier: MIT
//
// The selection network on its own.  A min/max network that selects the
// median of every 0/1 input selects it for every byte input (the 0-1
// principle), so all 2^25 zero/one patterns prove it; full-range random
// windows add what two-valued inputs cannot see, such as a signed comparison.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <random>

#include "median/median25_network.h"
#include "median/ops_avx.h"

namespace {

using Window = std::array<uint8_t, 25>;

// The network on 25 vectors held in an array.
__m128i median25_epu8(const __m128i (&in)[25]) {
  return median::detail::median25<median::avx::Ops>([&](int k) { return in[k]; });
}

// Runs the network on 16 windows, one per lane.
std::array<uint8_t, 16> run(const std::array<Window, 16>& lanes) {
  alignas(16) uint8_t bytes[25][16];
  for (int lane = 0; lane < 16; ++lane)
    for (int wire = 0; wire < 25; ++wire) bytes[wire][lane] = lanes[lane][wire];
  __m128i in[25];
  for (int wire = 0; wire < 25; ++wire)
    in[wire] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes[wire]));
  std::array<uint8_t, 16> out;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data()), median25_epu8(in));
  return out;
}

uint8_t expected(Window w) {
  std::nth_element(w.begin(), w.begin() + 12, w.end());
  return w[12];
}

TEST(Median25, SelectsTheMedianOfEveryZeroOnePattern) {
  // Pattern p puts 0xFF on wire j when bit j of p is set.  Sixteen
  // consecutive patterns share bits 4..24, so those wires are uniform vectors
  // and only wires 0..3 vary across the lanes.
  alignas(16) uint8_t low_bits[4][16];
  for (int wire = 0; wire < 4; ++wire)
    for (int lane = 0; lane < 16; ++lane) low_bits[wire][lane] = (lane >> wire & 1) ? 0xFF : 0;
  const __m128i ones = _mm_set1_epi8(-1), zeros = _mm_setzero_si128();
  uint64_t failures = 0;
  for (uint32_t base = 0; base < (1u << 25); base += 16) {
    __m128i in[25];
    for (int wire = 0; wire < 4; ++wire)
      in[wire] = _mm_load_si128(reinterpret_cast<const __m128i*>(low_bits[wire]));
    for (int wire = 4; wire < 25; ++wire) in[wire] = (base >> wire & 1) ? ones : zeros;
    alignas(16) uint8_t out[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(out), median25_epu8(in));
    const int high = int(std::bitset<32>(base).count());
    for (int lane = 0; lane < 16; ++lane) {
      const int set = high + int(std::bitset<4>(unsigned(lane)).count());
      failures += out[lane] != (set >= 13 ? 0xFF : 0);
    }
  }
  EXPECT_EQ(failures, 0u);
}

TEST(Median25, MatchesNthElementOnRandomWindows) {
  std::mt19937 rng(25);
  for (int round = 0; round < 20000; ++round) {
    // Mix full-range values with few-valued windows, which have many ties.
    const bool few_values = round % 3 == 0;
    std::array<Window, 16> lanes;
    for (auto& window : lanes)
      for (auto& v : window) v = few_values ? uint8_t(rng() % 4 * 64 + 7) : uint8_t(rng());
    const auto out = run(lanes);
    for (int lane = 0; lane < 16; ++lane) ASSERT_EQ(out[lane], expected(lanes[lane])) << "round " << round;
  }
}

TEST(Median25, KnownWindows) {
  std::array<Window, 16> lanes{};
  std::array<uint8_t, 16> want{};
  auto put = [&](int lane, Window w, uint8_t median) { lanes[lane] = w, want[lane] = median; };
  Window w;
  w.fill(77), put(0, w, 77);
  for (int i = 0; i < 25; ++i) w[i] = uint8_t(i);
  put(1, w, 12);
  for (int i = 0; i < 25; ++i) w[i] = uint8_t(24 - i);
  put(2, w, 12);
  // Unsigned order: 200 ranks above 100, so the median is 100, not 0.
  for (int i = 0; i < 25; ++i) w[i] = i < 12 ? 0 : i == 12 ? 100 : 200;
  put(3, w, 100);
  for (int i = 0; i < 25; ++i) w[i] = i % 2 ? 0 : 255;  // 13 at 255
  put(4, w, 255);
  for (int i = 0; i < 25; ++i) w[i] = i % 2 ? 255 : 0;  // 13 at 0
  put(5, w, 0);
  // One outlier anywhere never moves the median.
  for (int pos = 0; pos < 5; ++pos) {
    w.fill(10), w[pos * 6] = 255, put(6 + pos, w, 10);
    w.fill(200), w[24 - pos * 6] = 0, put(11 + pos, w, 200);
  }
  EXPECT_EQ(run(lanes), want);
}

}  // namespace
