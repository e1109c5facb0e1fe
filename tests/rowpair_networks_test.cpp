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
#include <random>
#include <vector>

#include "median/ops_avx.h"
#include "median/network/rowpair_networks.h"
#include "window_lanes.h"

namespace {

using Ops = median::avx::Ops;
using V = Ops::V;
namespace d = median::detail;

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

// Runs `piece` on every pair of sorted 0/1 lists of N and M values and
// checks its OUT outputs against `ranks` of the two lists together.
template <int N, int M, int OUT, class Piece>
void check_on_sorted_pairs(const Piece& piece, const std::vector<int>& ranks, const char* what) {
  for (int a = 0; a <= N; ++a)
    for (int b = 0; b <= M; ++b) {
      V x[N], y[M], out[OUT];
      sorted_01(a, x), sorted_01(b, y);
      piece(x, y, out);
      std::vector<int> all = ones_list(N, a), more = ones_list(M, b);
      all.insert(all.end(), more.begin(), more.end());
      expect_ranks(all, ranks, out, what);
    }
}

TEST(RowPairPieces, MergesSelectTheirRanksOfEverySortedZeroOnePair) {
  check_on_sorted_pairs<5, 5, 10>([](auto& x, auto& y, auto& out) { d::merge_rows<Ops>(x, y, out); },
                                  {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, "merge_rows");
  check_on_sorted_pairs<10, 10, 6>(
      [](auto& x, auto& y, auto& out) { d::shared_candidates<Ops>(x, y, out); },
      {7, 8, 9, 10, 11, 12}, "shared_candidates");
  check_on_sorted_pairs<6, 5, 1>(
      [](auto& x, auto& y, auto& out) { out[0] = d::median_of_candidates<Ops>(x, y); }, {5},
      "median_of_candidates");
}

// The pieces as the sweep puts them together for one output: window row r
// is inputs 5r .. 5r + 4; `own` is the row not shared with the other output.
V pieced_median(const V (&in)[25], int own) {
  V rows[5][5], sorted[5][5], first[10], second[10], candidates[6];
  for (int wire = 0; wire < 25; ++wire) rows[wire / 5][wire % 5] = in[wire];
  for (int r = 0; r < 5; ++r) d::sort_row<Ops>(rows[r], sorted[r]);
  int shared[4], n = 0;
  for (int r = 0; r < 5; ++r)
    if (r != own) shared[n++] = r;
  d::merge_rows<Ops>(sorted[shared[0]], sorted[shared[1]], first);
  d::merge_rows<Ops>(sorted[shared[2]], sorted[shared[3]], second);
  d::shared_candidates<Ops>(first, second, candidates);
  return d::median_of_candidates<Ops>(candidates, sorted[own]);
}

// The top row is the own row of output y, the bottom one of output y + 1.
TEST(RowPairPieces, TogetherSelectTheMedianOfEveryZeroOneWindow) {
  for (int own : {0, 4})
    EXPECT_EQ(zero_one_failures([own](const V (&in)[25]) { return pieced_median(in, own); }), 0u)
        << "own row " << own;
}

TEST(RowPairPieces, TogetherMatchNthElementOnRandomWindows) {
  std::mt19937 rng(59);
  for (int round = 0; round < 20000; ++round) {
    const auto windows = random_windows(&rng, round % 3 == 0);
    V in[25];
    wires_of(windows, in);
    const int own = round % 5;
    ASSERT_EQ(lanes_of(pieced_median(in, own)), nth_element_medians(windows)) << "round " << round;
  }
}

}  // namespace
