// SPDX-License-Identifier: MIT
//
// The selection network on its own.  A min/max network that selects the
// median of every 0/1 input selects it for every byte input (the 0-1
// principle), so all 2^25 zero/one patterns prove it; full-range random
// windows add what two-valued inputs cannot see, such as a signed comparison.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "median/network/median25_network.h"
#include "median/ops_avx.h"
#include "window_lanes.h"

namespace {

// The network on 25 vectors held in an array.
__m128i median25_epu8(const __m128i (&in)[25]) {
  return median::detail::median25<median::avx::Ops>([&](int k) { return in[k]; });
}

// Runs the network on 16 windows, one per lane.
Lanes run(const std::array<Window, LANES>& windows) {
  __m128i in[25];
  wires_of(windows, in);
  return lanes_of(median25_epu8(in));
}

TEST(Median25, SelectsTheMedianOfEveryZeroOnePattern) {
  EXPECT_EQ(zero_one_failures([](const __m128i (&in)[25]) { return median25_epu8(in); }), 0u);
}

TEST(Median25, MatchesNthElementOnRandomWindows) {
  std::mt19937 rng(25);
  for (int round = 0; round < 20000; ++round) {
    // Mix full-range values with few-valued windows, which have many ties.
    const auto windows = random_windows(&rng, round % 3 == 0);
    ASSERT_EQ(run(windows), nth_element_medians(windows)) << "round " << round;
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
