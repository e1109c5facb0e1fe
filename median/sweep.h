// SPDX-License-Identifier: MIT
//
// The row sweeps, written once for every vector width.  `Ops` gives the
// vector type V of BYTES unsigned byte lanes and its load, store (both
// unaligned), stream (a non-temporal store to an address aligned to BYTES),
// min and max; each instruction set instantiates these templates
// with its own Ops in its own translation unit (kernel_*.cpp), so code built
// for different processors never meets.  Frames as in median_filter.h:
// interleaved 3-byte pixels, a zero border of 2 pixels, output rows of
// w * 3 bytes, padded rows of padded_width * 3 bytes.
#pragma once

#include <omp.h>
#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "median/median25_network.h"
#include "median/rowpair_networks.h"

namespace median::detail {

constexpr int CHANNELS = 3;                   // bytes per pixel
constexpr int RADIUS = 2;                     // window half-width, also the zero border
constexpr int WINDOW = 2 * RADIUS + 1;
constexpr int NEIGHBOUR_BYTES = (WINDOW - 1) * CHANNELS;  // read beyond a vector's lanes

// Median of the BYTES windows whose top-left bytes start at `top`: input
// (r, c) is the vector at top + r * stride + c * CHANNELS, so lane i sees the
// 25 bytes of its own channel around byte i + RADIUS * CHANNELS of row RADIUS.
// Each input is loaded where the network first uses it: 25 vectors do not fit
// in 16 registers, and a load beside its operation is never spilled.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V window_median(const uint8_t* top, ptrdiff_t stride) {
  return median25<Ops>([=](int k) {
    return Ops::load(top + k / WINDOW * stride + k % WINDOW * CHANNELS);
  });
}

// A row narrower than one vector: copy each padded row into a zeroed scratch
// row so that every byte the group reads exists, and store only the row's own
// bytes.  The lanes that are stored depend only on bytes inside the padded
// row, so the zeros never reach the output.
template <class Ops>
void narrow_row(const uint8_t* top, ptrdiff_t stride, ptrdiff_t row_bytes, uint8_t* dst) {
  constexpr int SPAN = Ops::BYTES + NEIGHBOUR_BYTES;
  alignas(64) uint8_t scratch[WINDOW][SPAN] = {};
  const size_t copy = stride < SPAN ? size_t(stride) : size_t(SPAN);
  for (int r = 0; r < WINDOW; ++r) std::memcpy(scratch[r], top + r * stride, copy);
  alignas(64) uint8_t out[Ops::BYTES];
  Ops::store(out, window_median<Ops>(scratch[0], SPAN));
  std::memcpy(dst, out, size_t(row_bytes));
}

// Output rows first_row..last_row (inclusive), one network per vector of
// output bytes; rows and vectors share no work.
template <class Ops>
void network_rows(int32_t first_row, int32_t last_row, int32_t w, int32_t padded_width,
                  const uint8_t* padded, uint8_t* filtered) {
  constexpr ptrdiff_t N = Ops::BYTES;
  const ptrdiff_t row_bytes = ptrdiff_t(w) * CHANNELS;
  const ptrdiff_t stride = ptrdiff_t(padded_width) * CHANNELS;
  for (int32_t y = first_row; y <= last_row; ++y) {
    const uint8_t* top = padded + y * stride;
    uint8_t* dst = filtered + y * row_bytes;
    if (row_bytes < N) {
      if (row_bytes > 0) narrow_row<Ops>(top, stride, row_bytes, dst);
      continue;
    }
    ptrdiff_t off = 0;
    for (; off + N <= row_bytes; off += N) Ops::store(dst + off, window_median<Ops>(top + off, stride));
    // The partial last vector ends exactly at the end of the row and overlaps
    // the one before it, so it neither reads past the padded row nor writes
    // into the next output row (which may belong to another thread).
    if (off < row_bytes) {
      off = row_bytes - N;
      Ops::store(dst + off, window_median<Ops>(top + off, stride));
    }
  }
}

// A whole pass: one parallel loop over the output rows, static schedule,
// each thread's rows by network_rows.
template <class Ops>
void network_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered) {
#pragma omp parallel for schedule(static)
  for (int32_t y = 0; y < h; ++y) network_rows<Ops>(y, y, w, padded_width, padded, filtered);
}

// The row-pair sweep.  Output rows y and y + 1 (y even) share the four
// window rows y + 1 .. y + 4, and each window row serves five outputs, so
// the sweep walks down the image two rows at a time keeping, for every
// vector column, the sorted window rows and merged row pairs it will use
// again (rowpair_networks.h).  Columns are taken in strips narrow enough
// that this state, 50 vectors per column, stays in the L1 cache.
constexpr ptrdiff_t STRIP_BYTES = 384;
// Rows per band (even, so bands hold whole pairs): a band walks 2 * 16 + 4
// rows of pages down each strip, few enough for the first-level TLB.
constexpr int32_t BAND_ROWS = 16;
constexpr int KEPT_ROWS = 6;     // sorted window rows alive at once, by row mod 6
constexpr int ROW = WINDOW;      // values in a window row

template <class Ops>
struct ColumnState {
  typename Ops::V sorted[KEPT_ROWS][ROW];
  typename Ops::V merged[2][2 * ROW];  // rows (y+1, y+2) and (y+3, y+4), alternating
};

// The five neighbours of every lane in one padded row, sorted.
template <class Ops>
[[gnu::always_inline]] inline void sorted_row(const uint8_t* p, typename Ops::V (&out)[ROW]) {
  typename Ops::V a[ROW];
  for (int c = 0; c < ROW; ++c) a[c] = Ops::load(p + c * CHANNELS);
  sort_row<Ops>(a, out);
}

// Output rows first_row .. end_row - 1 of one band, in pairs from first_row
// (only the last pair of the image may be a single row), strip by strip.
// Needs row_bytes >= BYTES.
template <class Ops>
void rowpair_band(int32_t first_row, int32_t end_row, ptrdiff_t row_bytes, ptrdiff_t stride,
                  const uint8_t* padded, uint8_t* filtered, bool streaming) {
  using V = typename Ops::V;
  constexpr ptrdiff_t N = Ops::BYTES;
  constexpr int STRIP = STRIP_BYTES / N > 0 ? int(STRIP_BYTES / N) : 1;
  const auto put = [streaming](uint8_t* p, V v) {
    if (streaming && reinterpret_cast<uintptr_t>(p) % N == 0)
      Ops::stream(p, v);
    else
      Ops::store(p, v);
  };
  ColumnState<Ops> state[STRIP];
  ptrdiff_t x[STRIP];
  // Vector columns: whole vectors from the row's start, then one that ends
  // exactly at the row's end (overlapping the one before it) if needed.
  const ptrdiff_t whole = row_bytes / N;
  const ptrdiff_t columns = whole + (row_bytes % N != 0);
  for (ptrdiff_t first_column = 0; first_column < columns; first_column += STRIP) {
    const int n = int(columns - first_column < STRIP ? columns - first_column : STRIP);
    for (int j = 0; j < n; ++j) {
      const ptrdiff_t column = first_column + j;
      x[j] = column < whole ? column * N : row_bytes - N;
    }
    // Before the first pair: its window rows y .. y + 3 sorted, y+1 and y+2 merged.
    for (int j = 0; j < n; ++j) {
      ColumnState<Ops>& s = state[j];
      for (int r = 0; r < WINDOW - 1; ++r)
        sorted_row<Ops>(padded + (first_row + r) * stride + x[j], s.sorted[(first_row + r) % KEPT_ROWS]);
      merge_rows<Ops>(s.sorted[(first_row + 1) % KEPT_ROWS], s.sorted[(first_row + 2) % KEPT_ROWS],
                      s.merged[0]);
    }
    int older = 0;  // the merged slot holding rows (y + 1, y + 2)
    for (int32_t y = first_row; y < end_row; y += 2) {
      const bool both = y + 1 < end_row;
      const int top = y % KEPT_ROWS, shared3 = (y + 3) % KEPT_ROWS;
      const int new4 = (y + 4) % KEPT_ROWS, new5 = (y + 5) % KEPT_ROWS;
      const uint8_t* row4 = padded + (y + 4) * stride;
      uint8_t* out = filtered + y * row_bytes;
      for (int j = 0; j < n; ++j) {
        ColumnState<Ops>& s = state[j];
        // The new window row y + 4 joins y + 3; the four shared rows reduce
        // to the six values that can still be either output's median.
        sorted_row<Ops>(row4 + x[j], s.sorted[new4]);
        merge_rows<Ops>(s.sorted[shared3], s.sorted[new4], s.merged[older ^ 1]);
        V candidates[ROW + 1];
        shared_candidates<Ops>(s.merged[older], s.merged[older ^ 1], candidates);
        // Each output adds its own fifth row: y on top, y + 5 below.
        put(out + x[j], median_of_candidates<Ops>(candidates, s.sorted[top]));
        if (both) {
          sorted_row<Ops>(row4 + stride + x[j], s.sorted[new5]);
          put(out + row_bytes + x[j], median_of_candidates<Ops>(candidates, s.sorted[new5]));
        }
      }
      older ^= 1;
    }
  }
}

// Output rows first_row .. end_row - 1 in bands of BAND_ROWS.  Within a band
// the strips go across the image, so the band's rows are read and written
// front to back, a few hundred bytes at a time: the hardware prefetchers
// follow that, and the band's pages stay in the TLB.  Each band and strip
// costs one start (four sorted rows and a merge), small against its pairs.
// With `streaming`, output vectors at aligned addresses bypass the caches;
// the fence makes them visible before the pass's closing barrier.
template <class Ops>
void rowpair_rows(int32_t first_row, int32_t end_row, ptrdiff_t row_bytes, ptrdiff_t stride,
                  const uint8_t* padded, uint8_t* filtered, bool streaming) {
  for (int32_t band = first_row; band < end_row; band += BAND_ROWS)
    rowpair_band<Ops>(band, end_row - band > BAND_ROWS ? band + BAND_ROWS : end_row, row_bytes,
                      stride, padded, filtered, streaming);
  if (streaming) _mm_sfence();
}

// Min/max operations per output vector of the row-pair sweep on long rows,
// counting each band's start.
constexpr double ROWPAIR_OPS_PER_VECTOR =
    double((WINDOW - 1) * SORT_ROW_OPS + MERGE_ROWS_OPS +
           BAND_ROWS / 2 * (2 * SORT_ROW_OPS + MERGE_ROWS_OPS + SHARED_CANDIDATES_OPS +
                            2 * MEDIAN_OF_CANDIDATES_OPS)) / BAND_ROWS;

// Output frames of at least this many bytes are written with non-temporal
// stores: a frame that large has left the caches before anyone reads it, and
// an ordinary store would first read every line it is about to overwrite.
constexpr int64_t STREAMING_BYTES = int64_t(8) << 20;

// A whole pass: row pairs split among the threads in contiguous blocks of
// nearly equal size, as a static schedule does, so that each thread starts
// its sweep once.  Rows narrower than one vector take the network sweep.
template <class Ops>
void rowpair_pass(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded,
                  uint8_t* filtered) {
  const ptrdiff_t row_bytes = ptrdiff_t(w) * CHANNELS;
  if (h < 1 || row_bytes < 1) return;
  if (row_bytes < Ops::BYTES) {
    network_pass<Ops>(h, w, padded_width, padded, filtered);
    return;
  }
  const ptrdiff_t stride = ptrdiff_t(padded_width) * CHANNELS;
  const int64_t pairs = (int64_t(h) + 1) / 2;
  const bool streaming = int64_t(h) * row_bytes >= STREAMING_BYTES;
#pragma omp parallel
  {
    const int64_t threads = omp_get_num_threads(), t = omp_get_thread_num();
    const int64_t first = pairs * t / threads * 2;
    const int64_t end = pairs * (t + 1) / threads * 2;
    if (first < end)
      rowpair_rows<Ops>(int32_t(first), int32_t(end < h ? end : h), row_bytes, stride, padded,
                        filtered, streaming);
  }
}

}  // namespace median::detail
