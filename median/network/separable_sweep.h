// SPDX-License-Identifier: MIT
//
// The sweep of the separable networks (separable_KxK_networks.h), written
// once for every window, instruction set and lane type: `W` is a network
// struct (Separable3x3, Separable7x7, ...), `Ops` a lane type's operations
// on one instruction set (lane_ops.h).  It follows the protocol each header
// states: a vector column is walked down the band, W::TILE_ROWS output rows
// a step; each step sorts the new window rows (W::COLUMNS loads `step`
// elements apart each) into the pieces of age 0, and W::tile makes the
// step's outputs and the pieces later steps read, from the pieces kept by
// the steps before it.
//
// The kept pieces of a column form a ring: piece `id` made `age` steps ago
// is slot (phase - age) mod RING[id] of that piece's slots, `phase` being
// the step's number modulo the least common multiple of the RING values.
// Two places for it:
//
//   registers  the walk is unrolled over a whole period of phases, so every
//              slot index is a constant and the ring is a set of local
//              values the compiler keeps in registers (3x3: 17 vectors);
//   memory     the ring lives in the thread's working memory (Band::work)
//              and each operand of the tile that comes from a kept piece is
//              read from there (for the x86 min/max, as a memory operand);
//              the tile's own temporaries are the compiler's to allocate.
//
// Columns are walked in chunks narrow enough that the rows a chunk reads
// stay in the L1 cache from one walk to the next, and while the walks of a
// chunk run they ask for the next chunk's lines, a share of the rows per
// walk, as column_band does (band_sweeps.h).  Each row's output vectors are
// the whole ones from the row's start and then one that ends exactly at
// the row's end, overlapping the one before it.
//
// A band of any height: the last step may make outputs past the band's end,
// which are not stored; the window rows they would read past the band's
// last input row are that row again (any readable row will do, as the
// headers say: an output depends on its own window rows only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "median/band.h"
#include "median/network/band_sweeps.h"

namespace median::detail {

// Where W's kept pieces lie in one column's ring, in vectors.
template <class W>
struct PieceRing {
  static constexpr int offset(int id) {
    int n = 0;
    for (int i = 0; i < id; ++i) n += W::RING[i] * W::SIZE[i];
    return n;
  }
  static constexpr int gcd(int a, int b) { return b ? gcd(b, a % b) : a; }
  static constexpr int period() {
    int p = 1;
    for (int id = 0; id < W::PIECES; ++id) p = p / gcd(p, W::RING[id]) * W::RING[id];
    return p;
  }
  static constexpr int VECTORS = offset(W::PIECES);
  static constexpr int PERIOD = period();
  // The first vector of piece `id` made `age` steps before a step of
  // phase `phase` (0 .. PERIOD - 1).
  [[gnu::always_inline]] static constexpr int slot(int id, int phase, int age) {
    const int ring = W::RING[id];
    return offset(id) + (phase - age + PERIOD * ring) % ring * W::SIZE[id];
  }
};

// Operations per output vector of a band of BAND_ROWS rows, counting each
// walk's start (W::ROWS - 1 sorted rows and W::start) and the outputs the
// last step makes past the band's end.
template <class W, int32_t BAND_ROWS>
constexpr double SEPARABLE_OPS_PER_VECTOR =
    double((BAND_ROWS + W::TILE_ROWS - 1) / W::TILE_ROWS *
               (W::TILE_ROWS * W::SORT_ROW_OPS + W::TILE_OPS) +
           (W::ROWS - 1) * W::SORT_ROW_OPS + W::START_OPS) /
    BAND_ROWS;

// Rows in a band.  A band's start costs W::ROWS - 1 sorted rows and
// W::start per column walk, which long bands spread over more outputs; but
// a walk down a tall band touches a line of as many rows, far apart, which
// the cache and the address translation hold fewer of.  Measured on an AMD
// Zen 5 (EPYC, AVX-512, one thread, 16-megapixel RGB frame): 3x3, whose
// start is 22 operations, ran fastest in bands of 16 rows (3174 Mpixel/s
// against 2362 to 2627 at 32 to 256 rows); 7x7 gained from 16 to 64 rows
// (782 to 931) and 11x11 from 32 to 128 (312 to 374), little beyond.
template <class W>
constexpr int32_t SEPARABLE_BAND_ROWS = W::ROWS <= 3 ? 16 : 128;

// Bytes of vector columns walked in one chunk.
constexpr ptrdiff_t SEPARABLE_CHUNK_BYTES = 384;

// Whether the ring of W stays in registers on an instruction set with
// REGISTERS vector registers: where the pieces kept from one step to the
// next and a step's work fit (3x3: 7 kept vectors and 17 in all).  The 7x7
// ring (64 vectors kept from step to step) left to the compiler's
// allocation with 32 registers ran at 521 Mpixel/s against 757 in memory
// (Zen 5, AVX-512, one thread); the 3x3 ring in memory at 2117 against 2855
// in registers.
template <class W, int REGISTERS>
constexpr bool SEPARABLE_IN_REGISTERS = W::ROWS <= 3;

// Working memory of a walk: its ring, where that is in memory.
template <class W, int REGISTERS, int BYTES>
constexpr size_t SEPARABLE_WORK_BYTES =
    SEPARABLE_IN_REGISTERS<W, REGISTERS> ? 0 : size_t(PieceRing<W>::VECTORS) * size_t(BYTES);

// Memory accesses per output vector on long rows, from the code below: the
// new rows' loads and the store, the start's loads once per band, and with
// the ring in memory the sorted new rows stored and the kept pieces read
// and written.
template <class W, int32_t BAND_ROWS, int REGISTERS>
constexpr double SEPARABLE_LOADS_PER_VECTOR =
    W::COLUMNS + double((W::ROWS - 1) * W::COLUMNS) / BAND_ROWS +
    (SEPARABLE_IN_REGISTERS<W, REGISTERS> ? 0 : double(W::PIECE_READS) / W::TILE_ROWS);
template <class W, int32_t BAND_ROWS, int REGISTERS>
constexpr double SEPARABLE_STORES_PER_VECTOR =
    1 + (SEPARABLE_IN_REGISTERS<W, REGISTERS>
             ? 0
             : W::COLUMNS + double(W::PIECE_WRITES) / W::TILE_ROWS);

// The W::COLUMNS elements of a window row, `step` apart from `row`, sorted
// into `sorted`.
template <class Ops, class W>
[[gnu::always_inline]] inline void separable_sort_row(const typename Ops::T* row, ptrdiff_t step,
                                                      typename Ops::V* sorted) {
  using V = typename Ops::V;
  V a[W::COLUMNS];
#pragma GCC unroll 16
  for (int c = 0; c < W::COLUMNS; ++c) a[c] = Ops::load(row + c * step);
  W::template sort_row<Ops>(a, *reinterpret_cast<V(*)[W::COLUMNS]>(sorted));
}

// The same, as one function that every row sort of a walk calls.  Where
// the sorted rows go to memory anyway, inlining a copy per row only grows
// the step: unrolled, a 15x15 step (then in tiles of 8 rows) was 57 KB of
// AVX-512 code, which the processor fetched from the L2 cache at every
// step.  Called instead (Zen 5, one thread, random 1920x1080x3 frames,
// Mpixel/s, unrolled / called, with the tiles of that time):
// 13x13 bytes 140 / 230, 16 bits 88 / 116, floats 45 / 57 (AVX-512);
// 15x15 bytes 116 / 137 (AVX-512), 80 / 86 (AVX2); 9x9 bytes 456 / 562;
// 7x7 within the noise.
template <class Ops, class W>
[[gnu::noinline]] void separable_sort_row_called(const typename Ops::T* row, ptrdiff_t step,
                                                 typename Ops::V* sorted) {
  separable_sort_row<Ops, W>(row, step, sorted);
}

// One step at vector column x, output rows y .. y + TILE_ROWS - 1: the new
// window rows sorted into the pieces of age 0, then the tile.  CALLED: the
// row sorts call separable_sort_row_called.
template <class Ops, class W, bool CALLED, class Piece>
[[gnu::always_inline]] inline void separable_step(const Band<typename Ops::T>& b, ptrdiff_t x,
                                                  int32_t y, const Piece& piece) {
  using V = typename Ops::V;
  const ptrdiff_t step = b.step;
  const int32_t last_row = b.rows + W::ROWS - 2;
#pragma GCC unroll 16
  for (int j = 0; j < W::TILE_ROWS; ++j) {
    const int32_t r = y + W::ROWS - 1 + j;
    const typename Ops::T* const row = b.in[r < last_row ? r : last_row] + x;
    if constexpr (CALLED)
      separable_sort_row_called<Ops, W>(row, step, piece(j, 0));
    else
      separable_sort_row<Ops, W>(row, step, piece(j, 0));
  }
  V out[W::TILE_ROWS];
  W::template tile<Ops>(piece, out);
#pragma GCC unroll 16
  for (int j = 0; j < W::TILE_ROWS; ++j)
    if (y + j < b.rows) Ops::store(b.out[y + j] + x, out[j]);
}

// The first W::ROWS - 1 window rows of the band sorted, and W::start: the
// pieces of age 1 and more that the first step reads, through `piece`
// (phase 0).
template <class Ops, class W, class Piece>
[[gnu::always_inline]] inline void separable_start(const Band<typename Ops::T>& b, ptrdiff_t x,
                                                   const Piece& piece) {
  using V = typename Ops::V;
  V rows[W::ROWS - 1][W::COLUMNS];
#pragma GCC unroll 16
  for (int r = 0; r < W::ROWS - 1; ++r) separable_sort_row_called<Ops, W>(b.in[r] + x, b.step, rows[r]);
  W::template start<Ops>([&](int r) { return static_cast<const V*>(rows[r]); }, piece);
}

// The walk down column x with the ring in registers: a period of steps at
// a time, each with its phase known to the compiler.
template <class Ops, class W, int... PHASE>
[[gnu::always_inline]] inline void separable_walk_in_registers(const Band<typename Ops::T>& b,
                                                               ptrdiff_t x,
                                                               std::integer_sequence<int, PHASE...>) {
  using V = typename Ops::V;
  using Ring = PieceRing<W>;
  V ring[Ring::VECTORS];
  separable_start<Ops, W>(b, x, [&](int id, int age) { return ring + Ring::slot(id, 0, age); });
  for (int32_t y = 0; y < b.rows;) {
    // Each phase's step, until the band's end.
    (void)((separable_step<Ops, W, false>(
                b, x, y, [&](int id, int age) { return ring + Ring::slot(id, PHASE, age); }),
            (y += W::TILE_ROWS) < b.rows) &&
           ...);
  }
}

// The walk down column x with the ring in `ring` (PieceRing<W>::VECTORS
// vectors).
template <class Ops, class W>
[[gnu::always_inline]] inline void separable_walk_in_memory(const Band<typename Ops::T>& b,
                                                            ptrdiff_t x, typename Ops::V* ring) {
  using Ring = PieceRing<W>;
  separable_start<Ops, W>(b, x, [&](int id, int age) { return ring + Ring::slot(id, 0, age); });
  int phase = 0;
  for (int32_t y = 0; y < b.rows; y += W::TILE_ROWS) {
    separable_step<Ops, W, true>(b, x, y, [&](int id, int age) { return ring + Ring::slot(id, phase, age); });
    phase = phase + 1 == Ring::PERIOD ? 0 : phase + 1;
  }
}

// Asks for elements first .. end - 1 (and the window's reach beyond) of
// input rows in_first .. in_end - 1, and of output rows out_first ..
// out_end - 1.
template <class Ops, class W>
[[gnu::always_inline]] inline void separable_prefetch(const Band<typename Ops::T>& b,
                                                      ptrdiff_t first, ptrdiff_t end,
                                                      int32_t in_first, int32_t in_end,
                                                      int32_t out_first, int32_t out_end) {
  constexpr ptrdiff_t LINE = 64 / sizeof(typename Ops::T);
  const ptrdiff_t reach = end + (W::COLUMNS - 1) * b.step;
  for (int32_t r = in_first; r < in_end; ++r)
    for (ptrdiff_t x = first; x < reach; x += LINE) __builtin_prefetch(b.in[r] + x, 0, 3);
  for (int32_t r = out_first; r < out_end; ++r)
    for (ptrdiff_t x = first; x < end; x += LINE) __builtin_prefetch(b.out[r] + x, 1, 3);
}

template <class Ops, class W, bool IN_REGISTERS = SEPARABLE_IN_REGISTERS<W, Ops::REGISTERS>,
          ptrdiff_t CHUNK = SEPARABLE_CHUNK_BYTES>
void separable_band(const Band<typename Ops::T>& band) {
  // A copy the stores cannot alias (bytes are of a char type), so that the
  // row pointers and the height stay in registers.
  const Band<typename Ops::T> b = band;
  constexpr ptrdiff_t CHUNK_COLUMNS = CHUNK / Ops::BYTES > 1 ? CHUNK / Ops::BYTES : 1;
  const ptrdiff_t columns = vector_columns<Ops>(b.width);
  const int32_t in_rows = b.rows + W::ROWS - 1;
  for (ptrdiff_t chunk = 0; chunk < columns; chunk += CHUNK_COLUMNS) {
    const ptrdiff_t end = chunk + CHUNK_COLUMNS < columns ? chunk + CHUNK_COLUMNS : columns;
    const ptrdiff_t next_end = end + CHUNK_COLUMNS < columns ? end + CHUNK_COLUMNS : columns;
    const ptrdiff_t walks = end - chunk;
    for (ptrdiff_t column = chunk; column < end; ++column) {
      const ptrdiff_t walk = column - chunk;
      if (end < columns)
        separable_prefetch<Ops, W>(b, column_start<Ops>(end, b.width),
                                   column_start<Ops>(next_end - 1, b.width) + Ops::LANES,
                                   int32_t(walk * in_rows / walks), int32_t((walk + 1) * in_rows / walks),
                                   int32_t(walk * b.rows / walks), int32_t((walk + 1) * b.rows / walks));
      const ptrdiff_t x = column_start<Ops>(column, b.width);
      if constexpr (IN_REGISTERS)
        separable_walk_in_registers<Ops, W>(b, x, std::make_integer_sequence<int, PieceRing<W>::PERIOD>());
      else
        separable_walk_in_memory<Ops, W>(b, x, static_cast<typename Ops::V*>(b.work));
    }
  }
}

}  // namespace median::detail
