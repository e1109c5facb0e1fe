// SPDX-License-Identifier: MIT
//
// The separable networks (3x3 and the middle windows) on their own, at 128 bits, run the
// way their headers tell a sweep to: down a column of windows, sixteen
// independent columns at once (one per lane), with a ring of pieces of the
// depths the header gives, from start() through enough steps that every
// kept piece is read at every age it is kept for.  Each output is checked
// against std::nth_element of its window.  The generator proves each merge
// on all of its 0/1 inputs; here the compiled code meets 0/1 columns
// (bytes 0 and 255, most lanes near half ones, where the median is decided),
// full-range bytes, and few-valued bytes with many ties.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "median/ops_avx.h"
#include "median/network/separable_11x11_networks.h"
#include "median/network/separable_3x3_networks.h"
#include "median/network/separable_13x13_networks.h"
#include "median/network/separable_15x15_networks.h"
#include "median/network/separable_7x7_networks.h"
#include "median/network/separable_9x9_networks.h"
#include "window_lanes.h"

namespace {

using Ops = median::avx::Ops;
using V = Ops::V;
namespace d = median::detail;

template <class W>
class SeparableNetworks : public ::testing::Test {};
using Windows = ::testing::Types<d::Separable3x3, d::Separable7x7, d::Separable9x9, d::Separable11x11,
                                 d::Separable13x13, d::Separable15x15>;
TYPED_TEST_SUITE(SeparableNetworks, Windows);

V bytes(const Lanes& lanes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes.data())); }

TYPED_TEST(SeparableNetworks, SortRowSortsEveryZeroOneRow) {
  using W = TypeParam;
  constexpr int K = W::COLUMNS;
  // Pattern p puts 255 in value j where bit j of p is set; lane l takes
  // pattern base + l.
  for (uint32_t base = 0; base < (1u << K); base += LANES) {
    V in[K], out[K];
    for (int j = 0; j < K; ++j) {
      Lanes lanes;
      for (int l = 0; l < LANES; ++l) lanes[size_t(l)] = ((base + uint32_t(l)) >> j & 1) ? 255 : 0;
      in[j] = bytes(lanes);
    }
    W::template sort_row<Ops>(in, out);
    for (int l = 0; l < LANES; ++l) {
      const int ones = __builtin_popcount((base + uint32_t(l)) & ((1u << K) - 1));
      for (int j = 0; j < K; ++j)
        ASSERT_EQ(lanes_of(out[j])[size_t(l)], j >= K - ones ? 255 : 0) << "pattern " << base + l;
    }
  }
}

// The pieces of one column walk, RING[id] of each, as a sweep keeps them.
template <class W>
class Ring {
 public:
  Ring() {
    for (int id = 0, at = 0; id < W::PIECES; at += W::RING[id] * W::SIZE[id], ++id) first_[id] = at;
  }
  V* piece(int id, int age) {
    EXPECT_TRUE(id >= 0 && id < W::PIECES && age >= 0 && age < W::RING[id]) << id << " " << age;
    const int slot = ((step_ - age) % W::RING[id] + W::RING[id]) % W::RING[id];
    return slots_ + first_[id] + slot * W::SIZE[id];
  }
  void next() { ++step_; }

 private:
  static constexpr int vectors() {
    int n = 0;
    for (int id = 0; id < W::PIECES; ++id) n += W::RING[id] * W::SIZE[id];
    return n;
  }
  int step_ = 0, first_[W::PIECES];
  V slots_[vectors()];
};

enum class Values { ZeroOne, FullRange, FewValues };

// Walks sixteen columns of random rows (row r, value c of lane l is
// image[r][c][l]) down `steps` steps; returns the outputs that differ from
// nth_element.
template <class W>
int walk(std::mt19937* rng, Values kind, int steps) {
  constexpr int K = W::COLUMNS, TH = W::TILE_ROWS;
  const int rows = W::ROWS - 1 + steps * TH;
  std::vector<std::array<Lanes, K>> image(static_cast<size_t>(rows));
  Lanes level;  // the chance of 255 in each lane, of 256, for 0/1 columns
  for (auto& l : level) l = uint8_t((*rng)() % 4 == 0 ? (*rng)() % 256 : 112 + (*rng)() % 33);
  for (auto& row : image)
    for (auto& value : row)
      for (int l = 0; l < LANES; ++l) {
        const uint32_t u = (*rng)();
        value[size_t(l)] = kind == Values::ZeroOne     ? (u % 256 < level[size_t(l)] ? 255 : 0)
                           : kind == Values::FewValues ? uint8_t(u % 4 * 64 + 7)
                                                       : uint8_t(u);
      }
  auto sorted_row = [&](int r, V (&out)[K]) {
    V in[K];
    for (int c = 0; c < K; ++c) in[c] = bytes(image[size_t(r)][size_t(c)]);
    W::template sort_row<Ops>(in, out);
  };
  Ring<W> ring;
  auto piece = [&](int id, int age) { return ring.piece(id, age); };
  {
    V first[W::ROWS - 1][K];
    for (int r = 0; r < W::ROWS - 1; ++r) sorted_row(r, first[r]);
    W::template start<Ops>([&](int r) { return static_cast<const V*>(first[r]); }, piece);
  }
  int failures = 0;
  for (int step = 0; step < steps; ++step) {
    for (int j = 0; j < TH; ++j)
      sorted_row(W::ROWS - 1 + step * TH + j, reinterpret_cast<V(&)[K]>(*ring.piece(j, 0)));
    V out[TH];
    W::template tile<Ops>(piece, out);
    for (int j = 0; j < TH; ++j) {
      const int y = step * TH + j;
      const Lanes got = lanes_of(out[j]);
      for (int l = 0; l < LANES; ++l) {
        std::vector<uint8_t> window;
        for (int r = y; r < y + W::ROWS; ++r)
          for (int c = 0; c < K; ++c) window.push_back(image[size_t(r)][size_t(c)][size_t(l)]);
        std::nth_element(window.begin(), window.begin() + window.size() / 2, window.end());
        failures += got[size_t(l)] != window[window.size() / 2];
      }
    }
    ring.next();
  }
  return failures;
}

TYPED_TEST(SeparableNetworks, ColumnWalksMatchNthElement) {
  using W = TypeParam;
  int deepest = 0;
  for (int id = 0; id < W::PIECES; ++id) deepest = std::max(deepest, W::RING[id]);
  std::mt19937 rng(W::ROWS);
  for (Values kind : {Values::ZeroOne, Values::FullRange, Values::FewValues})
    for (int round = 0; round < 100; ++round)
      ASSERT_EQ(walk<W>(&rng, kind, deepest + 2), 0) << "values " << int(kind) << " round " << round;
}

}  // namespace
