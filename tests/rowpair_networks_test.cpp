// SPDX-License-Identifier: MIT
//
// The row-pair sweep's pieces on their own, at 128 bits.  Each piece is a
// min/max network, so all of its 0/1 inputs prove it for bytes (the 0-1
// principle): every 0/1 row for the row sort, every pair of sorted 0/1 lists
// for the merges.  The pieces put together then select the median of every
// 0/1 window of 25, whichever row is the output's own, and of random
// full-range windows, which 0/1 inputs cannot tell from signed ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <random>
#include <vector>

#include "median/ops_avx.h"
#include "median/rowpair_networks.h"

namespace {

using Ops = median::avx::Ops;
using V = Ops::V;
namespace d = median::detail;

constexpr int LANES = 16;

V from_lanes(const std::array<uint8_t, LANES>& lanes) { return Ops::load(lanes.data()); }

std::array<uint8_t, LANES> lanes_of(V v) {
  std::array<uint8_t, LANES> out;
  Ops::store(out.data(), v);
  return out;
}

// A sorted list of n zeros and ones with k ones, as a uniform vector per value.
template <int N>
void sorted_01(int ones, V (&out)[N]) {
  for (int i = 0; i < N; ++i) out[i] = _mm_set1_epi8(i >= N - ones ? char(-1) : 0);
}

// Checks `got` (vectors) against the sorted values of a and b at `ranks`.
void expect_ranks(const std::vector<int>& values, const std::vector<int>& ranks, const V* got,
                  const char* what) {
  std::vector<int> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < ranks.size(); ++i)
    ASSERT_EQ(lanes_of(got[i])[0], sorted[size_t(ranks[i])] ? 0xFF : 0) << what << " rank " << ranks[i];
}

std::vector<int> ones_list(int n, int ones) {
  std::vector<int> v(size_t(n), 0);
  std::fill(v.end() - ones, v.end(), 1);
  return v;
}

TEST(RowPairPieces, SortRowSortsEveryZeroOneRow) {
  for (int pattern = 0; pattern < 32; ++pattern) {
    V in[5], out[5];
    std::vector<int> values;
    for (int i = 0; i < 5; ++i) {
      values.push_back(pattern >> i & 1);
      in[i] = _mm_set1_epi8(values.back() ? char(-1) : 0);
    }
    d::sort_row<Ops>(in, out);
    expect_ranks(values, {0, 1, 2, 3, 4}, out, "sort_row");
  }
}

TEST(RowPairPieces, MergesSelectTheirRanksOfEverySortedZeroOnePair) {
  for (int a = 0; a <= 5; ++a)
    for (int b = 0; b <= 5; ++b) {
      V x[5], y[5], out[10];
      sorted_01(a, x), sorted_01(b, y);
      d::merge_rows<Ops>(x, y, out);
      std::vector<int> all = ones_list(5, a), more = ones_list(5, b);
      all.insert(all.end(), more.begin(), more.end());
      expect_ranks(all, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, out, "merge_rows");
    }
  for (int a = 0; a <= 10; ++a)
    for (int b = 0; b <= 10; ++b) {
      V x[10], y[10], out[6];
      sorted_01(a, x), sorted_01(b, y);
      d::shared_candidates<Ops>(x, y, out);
      std::vector<int> all = ones_list(10, a), more = ones_list(10, b);
      all.insert(all.end(), more.begin(), more.end());
      expect_ranks(all, {7, 8, 9, 10, 11, 12}, out, "shared_candidates");
    }
  for (int a = 0; a <= 6; ++a)
    for (int b = 0; b <= 5; ++b) {
      V x[6], y[5];
      sorted_01(a, x), sorted_01(b, y);
      const V out[1] = {d::median_of_candidates<Ops>(x, y)};
      std::vector<int> all = ones_list(6, a), more = ones_list(5, b);
      all.insert(all.end(), more.begin(), more.end());
      expect_ranks(all, {5}, out, "median_of_candidates");
    }
}

// The pieces as the sweep puts them together for one output: `rows` are the
// window's five rows, `own` the one not shared with the other output.
V pieced_median(const V (&rows)[5][5], int own) {
  V sorted[5][5], first[10], second[10], candidates[6];
  for (int r = 0; r < 5; ++r) d::sort_row<Ops>(rows[r], sorted[r]);
  int shared[4], n = 0;
  for (int r = 0; r < 5; ++r)
    if (r != own) shared[n++] = r;
  d::merge_rows<Ops>(sorted[shared[0]], sorted[shared[1]], first);
  d::merge_rows<Ops>(sorted[shared[2]], sorted[shared[3]], second);
  d::shared_candidates<Ops>(first, second, candidates);
  return d::median_of_candidates<Ops>(candidates, sorted[own]);
}

TEST(RowPairPieces, TogetherSelectTheMedianOfEveryZeroOneWindow) {
  // As in the network's own proof: 16 consecutive patterns per vector, wires
  // 0..3 varying across the lanes, the rest uniform.
  alignas(16) uint8_t low_bits[4][LANES];
  for (int wire = 0; wire < 4; ++wire)
    for (int lane = 0; lane < LANES; ++lane) low_bits[wire][lane] = (lane >> wire & 1) ? 0xFF : 0;
  const V ones = _mm_set1_epi8(-1), zeros = _mm_setzero_si128();
  uint64_t failures = 0;
  for (uint32_t base = 0; base < (1u << 25); base += LANES) {
    V rows[5][5];
    for (int wire = 0; wire < 25; ++wire)
      rows[wire / 5][wire % 5] = wire < 4 ? Ops::load(low_bits[wire]) : (base >> wire & 1) ? ones : zeros;
    const int high = int(std::bitset<32>(base).count());
    // The top row is the own row of output y, the bottom one of output y + 1.
    for (int own : {0, 4}) {
      const auto out = lanes_of(pieced_median(rows, own));
      for (int lane = 0; lane < LANES; ++lane) {
        const int set = high + int(std::bitset<4>(unsigned(lane)).count());
        failures += out[lane] != (set >= 13 ? 0xFF : 0);
      }
    }
  }
  EXPECT_EQ(failures, 0u);
}

TEST(RowPairPieces, TogetherMatchNthElementOnRandomWindows) {
  std::mt19937 rng(59);
  for (int round = 0; round < 20000; ++round) {
    const bool few_values = round % 3 == 0;
    std::array<std::array<uint8_t, 25>, LANES> windows;
    for (auto& window : windows)
      for (auto& v : window) v = few_values ? uint8_t(rng() % 4 * 64 + 7) : uint8_t(rng());
    V rows[5][5];
    for (int wire = 0; wire < 25; ++wire) {
      std::array<uint8_t, LANES> lane_values;
      for (int lane = 0; lane < LANES; ++lane) lane_values[size_t(lane)] = windows[size_t(lane)][size_t(wire)];
      rows[wire / 5][wire % 5] = from_lanes(lane_values);
    }
    const int own = round % 5;
    const auto out = lanes_of(pieced_median(rows, own));
    for (int lane = 0; lane < LANES; ++lane) {
      auto w = windows[size_t(lane)];
      std::nth_element(w.begin(), w.begin() + 12, w.end());
      ASSERT_EQ(out[size_t(lane)], w[12]) << "round " << round << " lane " << lane;
    }
  }
}

}  // namespace
