// SPDX-License-Identifier: MIT
//
// The three ways a kernel computes a band (band.h), written once for every
// instruction set and lane type.  `Ops` (lane_ops.h) gives the element type
// T, the vector type V of LANES elements, unaligned load and store, stream
// (a non-temporal store to an address aligned to BYTES), min and max; each
// instruction set's translation unit (kernel_*.cpp) instantiates these
// templates with its own Ops, so code built for different processors never
// meets.
//
//   network_band  the 25-input selection network once per output vector;
//                 rows and vectors share no work
//   rowpair_band  two output rows at a time share four window rows; the
//                 state kept per vector column lives in memory, in strips
//                 narrow enough for the L1 cache
//   column_band   the same sharing, walking one vector column down the whole
//                 band with its state in registers: per output vector only
//                 the five loads of a new window row and the store
//
// Every sweep takes the output vectors of a row from its start, whole, and
// then one that ends exactly at the row's end, overlapping the one before
// it; so a row of at least one vector is read and written only inside
// itself.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "median/band.h"
#include "median/network/median25_network.h"
#include "median/network/rowpair_networks.h"

namespace median::detail {

constexpr int ROW = WINDOW;  // values in a window row

// The output columns of a band: whole vectors, then the overlapping last one.
template <class Ops>
[[gnu::always_inline]] inline ptrdiff_t vector_columns(ptrdiff_t width) {
  return width / Ops::LANES + (width % Ops::LANES != 0);
}
template <class Ops>
[[gnu::always_inline]] inline ptrdiff_t column_start(ptrdiff_t column, ptrdiff_t width) {
  const ptrdiff_t x = column * Ops::LANES;
  return x + Ops::LANES <= width ? x : width - Ops::LANES;
}

// Makes the band's non-temporal stores visible before the caller's barrier.
template <class Ops>
[[gnu::always_inline]] inline void fence_streams() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

// A store that bypasses the caches when the band asks for it and the
// address allows it.
template <class Ops>
[[gnu::always_inline]] inline void put(typename Ops::T* p, typename Ops::V v, bool streaming) {
  if (streaming && reinterpret_cast<uintptr_t>(p) % Ops::BYTES == 0)
    Ops::stream(p, v);
  else
    Ops::store(p, v);
}

// ---- network_band ----------------------------------------------------------

// Operations and memory accesses per output vector, from the code below.
constexpr double NETWORK_OPS_PER_VECTOR = MEDIAN25_OPS;
constexpr double NETWORK_LOADS_PER_VECTOR = WINDOW * WINDOW;
constexpr double NETWORK_STORES_PER_VECTOR = 1;
constexpr int32_t NETWORK_BAND_ROWS = 16;

template <class Ops>
void network_band(const Band<typename Ops::T>& b) {
  using T = typename Ops::T;
  const ptrdiff_t columns = vector_columns<Ops>(b.width), step = b.step;
  for (int32_t y = 0; y < b.rows; ++y) {
    // The five rows in locals: a store through T* (a char type for bytes)
    // could otherwise alias the pointer array, and reload it every vector.
    const T* rows[WINDOW];
    for (int r = 0; r < WINDOW; ++r) rows[r] = b.in[y + r];
    T* const out = b.out[y];
    for (ptrdiff_t column = 0; column < columns; ++column) {
      const ptrdiff_t x = column_start<Ops>(column, b.width);
      // Each input is loaded where the network first uses it: 25 vectors do
      // not fit in 16 registers, and a load beside its operation is never
      // spilled.
      Ops::store(out + x, median25<Ops>([&](int k) {
                   return Ops::load(rows[k / WINDOW] + x + k % WINDOW * step);
                 }));
    }
  }
}

// ---- shared by the two row-pair sweeps -------------------------------------
//
// Output rows y and y + 1 (y even) share the four window rows y + 1 .. y + 4,
// and each window row serves five outputs: every window row is sorted once,
// every pair of sorted rows is merged once and serves two row pairs, and the
// two merged pairs each pair of outputs shares are reduced once to the six
// values that can still be either output's median (rowpair_networks.h).

// The five neighbours of every lane in one input row, sorted.
template <class Ops>
[[gnu::always_inline]] inline void sorted_row(const typename Ops::T* p, ptrdiff_t step,
                                              typename Ops::V (&out)[ROW]) {
  typename Ops::V a[ROW];
#pragma GCC unroll 5
  for (int c = 0; c < ROW; ++c) a[c] = Ops::load(p + c * step);
  sort_row<Ops>(a, out);
}

// Operations per output vector of a band of BAND_ROWS rows, counting the
// band's start (four sorted rows and a merge) once per vector column.
template <int32_t BAND_ROWS>
constexpr double ROWPAIR_SWEEP_OPS_PER_VECTOR =
    double((WINDOW - 1) * SORT_ROW_OPS + MERGE_ROWS_OPS +
           BAND_ROWS / 2 * (2 * SORT_ROW_OPS + MERGE_ROWS_OPS + SHARED_CANDIDATES_OPS +
                            2 * MEDIAN_OF_CANDIDATES_OPS)) /
    BAND_ROWS;

// Asks for elements first .. end - 1 of input rows in_first .. in_end - 1
// and of output rows out_first .. out_end - 1.
template <class Ops>
[[gnu::always_inline]] inline void prefetch_rows(const Band<typename Ops::T>& b, ptrdiff_t first,
                                                 ptrdiff_t end, int32_t in_first, int32_t in_end,
                                                 int32_t out_first, int32_t out_end) {
  constexpr ptrdiff_t LINE = 64 / sizeof(typename Ops::T);
  const ptrdiff_t reach = end + (WINDOW - 1) * b.step;
  for (int32_t r = in_first; r < in_end; ++r)
    for (ptrdiff_t x = first; x < reach; x += LINE) __builtin_prefetch(b.in[r] + x, 0, 3);
  for (int32_t r = out_first; r < out_end; ++r)
    for (ptrdiff_t x = first; x < end; x += LINE) __builtin_prefetch(b.out[r] + x, 1, 3);
}

// ---- rowpair_band ----------------------------------------------------------

// Columns are taken in strips narrow enough that their state, 50 vectors per
// column, stays in the L1 cache, and wide enough that each row is read in
// runs of several cache lines, which the hardware prefetchers follow.  Each
// step also asks for the next step's two new rows over the strip: on an AMD
// Zen 3 that took a 16-megapixel pass from about 700 to 800 Mpixel/s on one
// thread, and bands of 32 rows rather than 16 (fewer band starts) a little
// more; narrower strips (128 or 256 bytes) were slower.
constexpr ptrdiff_t STRIP_BYTES = 384;
constexpr int32_t ROWPAIR_BAND_ROWS = 32;
constexpr int ROWPAIR_PREFETCH_STEPS = 1;
constexpr int KEPT_ROWS = 6;  // sorted window rows alive at once, by row mod 6

// Memory accesses per output vector on long rows, from the code below: per
// pair, the two new rows' loads (10), the sorted rows stored (10) and read
// by the merge (10), the merge's store (10), the shared candidates' reads
// (20), the top row's (5) and the bottom row's (5), and the two outputs.
constexpr double ROWPAIR_LOADS_PER_VECTOR = (10 + 10 + 20 + 5 + 5) / 2.0;
constexpr double ROWPAIR_STORES_PER_VECTOR = (10 + 10 + 2) / 2.0;

template <class Ops>
struct ColumnState {
  typename Ops::V sorted[KEPT_ROWS][ROW];
  typename Ops::V merged[2][2 * ROW];  // rows (y+1, y+2) and (y+3, y+4), alternating
};

template <class Ops, ptrdiff_t STRIP_WIDTH = STRIP_BYTES, int PREFETCH = ROWPAIR_PREFETCH_STEPS>
void rowpair_band(const Band<typename Ops::T>& b) {
  using T = typename Ops::T;
  using V = typename Ops::V;
  constexpr int STRIP = STRIP_WIDTH / Ops::BYTES > 0 ? int(STRIP_WIDTH / Ops::BYTES) : 1;
  const ptrdiff_t columns = vector_columns<Ops>(b.width), step = b.step;
  ColumnState<Ops> state[STRIP];
  ptrdiff_t x[STRIP];
  for (ptrdiff_t first_column = 0; first_column < columns; first_column += STRIP) {
    const int n = int(columns - first_column < STRIP ? columns - first_column : STRIP);
    for (int j = 0; j < n; ++j) x[j] = column_start<Ops>(first_column + j, b.width);
    // Before the first pair: its window rows 0 .. 3 sorted, 1 and 2 merged.
    for (int j = 0; j < n; ++j) {
      ColumnState<Ops>& s = state[j];
      for (int r = 0; r < WINDOW - 1; ++r) sorted_row<Ops>(b.in[r] + x[j], step, s.sorted[r]);
      merge_rows<Ops>(s.sorted[1], s.sorted[2], s.merged[0]);
    }
    int older = 0;  // the merged slot holding rows (y + 1, y + 2)
    for (int32_t y = 0; y < b.rows; y += 2) {
      const bool both = y + 1 < b.rows;
      const int top = y % KEPT_ROWS, shared3 = (y + 3) % KEPT_ROWS;
      const int new4 = (y + 4) % KEPT_ROWS, new5 = (y + 5) % KEPT_ROWS;
      const T* const row4 = b.in[y + 4];
      const T* const row5 = both ? b.in[y + 5] : nullptr;
      T* const out0 = b.out[y];
      T* const out1 = both ? b.out[y + 1] : nullptr;
      if constexpr (PREFETCH > 0) {
        // The rows the pair PREFETCH steps on will read, over this strip.
        const int32_t r = y + 4 + 2 * PREFETCH, in_rows = b.rows + WINDOW - 1;
        prefetch_rows<Ops>(b, x[0], x[n - 1] + Ops::LANES, r < in_rows ? r : in_rows,
                           r + 2 < in_rows ? r + 2 : in_rows, 0, 0);
      }
      for (int j = 0; j < n; ++j) {
        ColumnState<Ops>& s = state[j];
        // The new window row y + 4 joins y + 3; the four shared rows reduce
        // to the six values that can still be either output's median.
        sorted_row<Ops>(row4 + x[j], step, s.sorted[new4]);
        merge_rows<Ops>(s.sorted[shared3], s.sorted[new4], s.merged[older ^ 1]);
        V candidates[ROW + 1];
        shared_candidates<Ops>(s.merged[older], s.merged[older ^ 1], candidates);
        // Each output adds its own fifth row: y on top, y + 5 below.
        put<Ops>(out0 + x[j], median_of_candidates<Ops>(candidates, s.sorted[top]), b.streaming);
        if (both) {
          sorted_row<Ops>(row5 + x[j], step, s.sorted[new5]);
          put<Ops>(out1 + x[j], median_of_candidates<Ops>(candidates, s.sorted[new5]), b.streaming);
        }
      }
      older ^= 1;
    }
  }
  if (b.streaming) fence_streams<Ops>();
}

// ---- column_band ----------------------------------------------------------
//
// One vector column at a time walks down the whole band, two output rows per
// step.  Entering the step for output rows y and y + 1 it holds: the sorted
// rows y (the upper output's own row) and y + 2 (the next step's), the sorted
// row y + 3 (to merge with the new row y + 4), and rows y + 1, y + 2
// merged: 25 vectors.  With 32 vector registers all of them stay in
// registers, and a step's only memory accesses are the ten loads of its two
// new rows and its two stores.  With 16, the compiler would spill at random
// and copy spilled values from slot to slot as their roles rotate; instead
// the own rows and the merged pairs go to a small ring in memory, each
// stored once and read once (as an operand of a min/max, for free), and
// only the row to merge next stays in registers.

// Long bands spread each column's start (four sorted rows and a merge, 98
// operations) over more outputs, short ones touch fewer rows of pages and
// lines per walk: 16 rows (20 input rows) measured best on a Zen 3 among 8,
// 16 and 32, at 6 % more operations than an endless band.
constexpr int32_t COLUMN_BAND_ROWS = 16;

// Memory accesses per output vector on long rows, from the code below: the
// new rows' five loads and the store, the start's 20 loads once per band,
// and with 16 registers the ring: per step the new own row and the new merged
// pair stored (5 + 10), and both merged pairs and the own row read
// (20 + 5).
template <int REGISTERS>
constexpr double COLUMN_LOADS_PER_VECTOR =
    double((WINDOW - 1) * ROW + COLUMN_BAND_ROWS / 2 * (2 * ROW + (REGISTERS >= 32 ? 0 : 5 * ROW))) /
    COLUMN_BAND_ROWS;
template <int REGISTERS>
constexpr double COLUMN_STORES_PER_VECTOR =
    double(COLUMN_BAND_ROWS / 2 * (2 + (REGISTERS >= 32 ? 0 : 3 * ROW))) / COLUMN_BAND_ROWS;

// A walk down a column touches each row's next cache line for the first
// time, one line of each of 20 rows far apart: scattered single lines, which
// the hardware prefetchers do not foresee and memory serves slowly (on a
// Zen 3, a 16-megapixel photo ran at half the speed of one already in the
// caches, however early each line was asked for).  So the columns are
// walked in chunks of CHUNK_BYTES, and while the walks of one chunk run,
// they ask for the next chunk's lines in runs along each row, a share of
// the rows per walk.
constexpr ptrdiff_t COLUMN_CHUNK_BYTES = 384;

template <class Ops, int N>
[[gnu::always_inline]] inline void move_values(typename Ops::V (&to)[N],
                                               const typename Ops::V (&from)[N]) {
#pragma GCC unroll 10
  for (int i = 0; i < N; ++i) to[i] = from[i];
}

// The walk down one column with its whole state in registers.
template <class Ops>
[[gnu::always_inline]] inline void column_in_registers(const Band<typename Ops::T>& b,
                                                       ptrdiff_t x) {
  using V = typename Ops::V;
  const ptrdiff_t step = b.step;
  V top[ROW], next_top[ROW], third[ROW], upper[2 * ROW];
  {
    V first[ROW];
    sorted_row<Ops>(b.in[0] + x, step, top);
    sorted_row<Ops>(b.in[1] + x, step, first);
    sorted_row<Ops>(b.in[2] + x, step, next_top);
    sorted_row<Ops>(b.in[3] + x, step, third);
    merge_rows<Ops>(first, next_top, upper);
  }
  for (int32_t y = 0; y < b.rows; y += 2) {
    V fourth[ROW], lower[2 * ROW], candidates[ROW + 1];
    sorted_row<Ops>(b.in[y + 4] + x, step, fourth);
    merge_rows<Ops>(third, fourth, lower);
    shared_candidates<Ops>(upper, lower, candidates);
    Ops::store(b.out[y] + x, median_of_candidates<Ops>(candidates, top));
    if (y + 1 == b.rows) break;  // an odd band's last row has no partner
    sorted_row<Ops>(b.in[y + 5] + x, step, third);
    Ops::store(b.out[y + 1] + x, median_of_candidates<Ops>(candidates, third));
    move_values<Ops>(top, next_top);
    move_values<Ops>(next_top, fourth);
    move_values<Ops>(upper, lower);
  }
}

// The walk down K neighbouring columns with the own rows and merged pairs
// in a ring.  Each step first finishes its own two outputs from the merged
// pairs made before it, then sorts the next step's new row and merges its
// lower pair: the two halves depend on each other only through memory, so
// the processor overlaps one step's long chain of min/max (candidates, then
// the median) with the next one's (sort, then merge), and the K columns'
// chains with each other.  Entering step p (output rows y = 2p, y + 1):
// own[] holds rows y, y + 2, y + 4 sorted, own[p % 3] being row y;
// merged[p % 2] holds rows y + 1, y + 2 merged, the other rows y + 3, y + 4.
template <class Ops, int K>
[[gnu::always_inline]] inline void columns_in_memory(const Band<typename Ops::T>& b,
                                                     const ptrdiff_t (&x)[K]) {
  using V = typename Ops::V;
  const ptrdiff_t step = b.step;
  V own[K][3][ROW], merged[K][2][2 * ROW];
  for (int k = 0; k < K; ++k) {
    V first[ROW], third[ROW];
    sorted_row<Ops>(b.in[0] + x[k], step, own[k][0]);
    sorted_row<Ops>(b.in[1] + x[k], step, first);
    sorted_row<Ops>(b.in[2] + x[k], step, own[k][1]);
    sorted_row<Ops>(b.in[3] + x[k], step, third);
    sorted_row<Ops>(b.in[4] + x[k], step, own[k][2]);
    merge_rows<Ops>(first, own[k][1], merged[k][0]);
    merge_rows<Ops>(third, own[k][2], merged[k][1]);
  }
  int top = 0, upper = 0;  // p % 3 and p % 2
  for (int32_t y = 0; y < b.rows; y += 2) {
    const bool both = y + 1 < b.rows, next = y + 2 < b.rows;
    for (int k = 0; k < K; ++k) {
      V candidates[ROW + 1], bottom[ROW];
      shared_candidates<Ops>(merged[k][upper], merged[k][upper ^ 1], candidates);
      Ops::store(b.out[y] + x[k], median_of_candidates<Ops>(candidates, own[k][top]));
      if (!both) continue;  // an odd band's last row has no partner
      sorted_row<Ops>(b.in[y + 5] + x[k], step, bottom);
      Ops::store(b.out[y + 1] + x[k], median_of_candidates<Ops>(candidates, bottom));
      if (next) {
        // Row y + 6 takes the slot of row y, whose last use was above, and
        // rows y + 5, y + 6 the slot of the upper pair.
        sorted_row<Ops>(b.in[y + 6] + x[k], step, own[k][top]);
        merge_rows<Ops>(bottom, own[k][top], merged[k][upper]);
      }
    }
    top = top == 2 ? 0 : top + 1;
    upper ^= 1;
  }
}

// Columns walked at once by the ring variant: enough independent chains to
// keep the min/max units busy.
constexpr int COLUMNS_AT_ONCE = 2;
template <class Ops, int K = COLUMNS_AT_ONCE, ptrdiff_t CHUNK = COLUMN_CHUNK_BYTES>
void column_band(const Band<typename Ops::T>& b) {
  // With 32 registers one column at a time, with 16 K of them.
  constexpr int AT_ONCE = Ops::REGISTERS >= 32 ? 1 : K;
  constexpr ptrdiff_t CHUNK_COLUMNS =
      CHUNK / Ops::BYTES > AT_ONCE ? CHUNK / Ops::BYTES / AT_ONCE * AT_ONCE : AT_ONCE;
  const ptrdiff_t columns = vector_columns<Ops>(b.width);
  // The walks never stream (b.streaming is ignored): a walk stores a vector to each of many rows in turn,
  // which leaves the processor's write-combining buffers partly filled and
  // flushed piecemeal (on a Zen 3 it halved the speed of a 16-megapixel
  // pass); ordinary stores fill each line over a chunk's walks in the cache.
  const int32_t in_rows = b.rows + WINDOW - 1;
  for (ptrdiff_t chunk = 0; chunk < columns; chunk += CHUNK_COLUMNS) {
    const ptrdiff_t end = chunk + CHUNK_COLUMNS < columns ? chunk + CHUNK_COLUMNS : columns;
    const ptrdiff_t next_end = end + CHUNK_COLUMNS < columns ? end + CHUNK_COLUMNS : columns;
    const ptrdiff_t walks = (end - chunk + AT_ONCE - 1) / AT_ONCE;
    for (ptrdiff_t column = chunk, walk = 0; column < end; ++walk) {
      if (end < columns)
        prefetch_rows<Ops>(b, column_start<Ops>(end, b.width),
                           column_start<Ops>(next_end - 1, b.width) + Ops::LANES,
                           int32_t(walk * in_rows / walks), int32_t((walk + 1) * in_rows / walks),
                           int32_t(walk * b.rows / walks), int32_t((walk + 1) * b.rows / walks));
      if constexpr (AT_ONCE > 1) {
        if (column + AT_ONCE <= end) {
          ptrdiff_t x[AT_ONCE];
          for (int k = 0; k < AT_ONCE; ++k) x[k] = column_start<Ops>(column + k, b.width);
          columns_in_memory<Ops, AT_ONCE>(b, x);
          column += AT_ONCE;
          continue;
        }
      }
      const ptrdiff_t x = column_start<Ops>(column, b.width);
      if constexpr (Ops::REGISTERS >= 32) {
        column_in_registers<Ops>(b, x);
      } else {
        const ptrdiff_t one[1] = {x};
        columns_in_memory<Ops, 1>(b, one);
      }
      ++column;
    }
  }
}

}  // namespace median::detail
