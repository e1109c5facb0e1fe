// SPDX-License-Identifier: MIT
//
// The separable networks of the windows without compiled code, run as
// data: one loop over a window's instructions (separable_KxK_program.h,
// each the min and the max of two operands) instead of a function per
// window, instruction set and lane type.  The construction is the compiled
// windows' (separable_sweep.h): a vector column is walked down the band,
// TILE_ROWS output rows a step; each step sorts its new window rows into
// the pieces of age 0 and runs the tile network over the ring of pieces the
// steps before it kept.
//
// Memory.  Everything an instruction reads or writes lies in the thread's
// working memory (Band::work) as slots of SLOT_VECTORS vectors, at the
// places the generator gave them: each piece's ages side by side, the
// scratch, the step's outputs and the loaded row.  An operand is a slot's
// number, which the loop only scales: no table to look up, so an
// instruction costs four small loads and shifts besides its vectors' loads,
// min/max and stores.  After each step every piece's ages move one place
// up (a copy of the kept ones, a few tenths of a step's stores), which is
// what keeps the operands fixed.  Each instruction works on the
// SLOT_VECTORS neighbouring vector columns of its slots at once, which
// spreads its decoding over that many min/max pairs.
//
// No start.  A walk begins WARM_UP_STEPS steps above the band, reading
// row 0 wherever a row above it would be; the pieces those steps make from
// such rows (and whatever the memory held before) reach only outputs above
// the band, which are not stored: every piece a stored output reads holds
// rows of its own window, and so did every piece it was made from.  Past
// the band's end the rows are its last input row again, as in the compiled
// sweep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "median/band.h"
#include "median/network/band_sweeps.h"
#include "median/network/program_op.h"
#include "median/network/separable_17x17_program.h"
#include "median/network/separable_19x19_program.h"
#include "median/network/separable_21x21_program.h"
#include "median/network/separable_23x23_program.h"
#include "median/network/separable_25x25_program.h"

namespace median::detail {

// The windows interpreted: the odd ones from this to 25x25.
constexpr int SMALLEST_PROGRAM_WINDOW = 17;

template <int K>
struct ProgramWindow;
template <>
struct ProgramWindow<17> { using type = SeparableProgram17x17; };
template <>
struct ProgramWindow<19> { using type = SeparableProgram19x19; };
template <>
struct ProgramWindow<21> { using type = SeparableProgram21x21; };
template <>
struct ProgramWindow<23> { using type = SeparableProgram23x23; };
template <>
struct ProgramWindow<25> { using type = SeparableProgram25x25; };

template <int K>
using SeparableProgram = typename ProgramWindow<K>::type;

// Bytes of a slot: 4 vectors of 512 bits, 8 of 256, 16 of 128.  Wider slots
// spread an instruction's decoding over more vectors, narrower ones keep
// the working memory closer to L1; at 17x17 on an AMD Zen 5 (16 bits,
// AVX-512, one thread) slots of 64, 128, 256 and 512 bytes ran at 15.8,
// 19.1, 22 to 23 and 19.1 Mpixel/s.
constexpr int PROGRAM_SLOT_BYTES = 256;

// Working memory of a walk of P.
template <class P>
constexpr size_t PROGRAM_WORK_BYTES = size_t(P::SLOTS) * PROGRAM_SLOT_BYTES;

// Operations per output vector of a band of BAND_ROWS rows, counting the
// warm-up steps and the outputs the last step makes past the band's end.
template <class P, int32_t BAND_ROWS>
constexpr double PROGRAM_OPS_PER_VECTOR =
    double(((BAND_ROWS + P::TILE_ROWS - 1) / P::TILE_ROWS + P::WARM_UP_STEPS) *
           (P::TILE_ROWS * P::SORT_ROW_OPS + P::TILE_OPS)) /
    BAND_ROWS;

// Vectors each step moves one age up.
template <class P>
constexpr int moved_slots() {
  int n = 0;
  for (int id = 0; id < P::PIECES; ++id) n += (P::RING[id] - 1) * P::SIZE[id];
  return n;
}

// Memory accesses per output vector on long rows and tall bands, as many
// loads as stores: each instruction's two loads and two stores, the new
// rows' loads and their stores into the row slots, the ages moved (a load
// and a store each), and each output read from its slot and stored.
template <class P>
constexpr double PROGRAM_ACCESSES_PER_VECTOR =
    double(2 * (std::size(P::STEP) + P::TILE_ROWS * std::size(P::SORT[0])) + P::TILE_ROWS * P::WINDOW +
           moved_slots<P>() + P::TILE_ROWS) /
    P::TILE_ROWS;

// Runs the instructions first .. end - 1 on slots of M vectors from `work`.
// Both operands of every column are loaded before either result is stored:
// a result may take an operand's slot.
template <class Ops, int M>
[[gnu::always_inline]] inline void run_program(const ProgramOp* first, const ProgramOp* end,
                                               typename Ops::V* work) {
  using V = typename Ops::V;
  for (const ProgramOp* p = first; p != end; ++p) {
    const ProgramOp op = *p;
    const V* const a = work + size_t(op.a) * M;
    const V* const b = work + size_t(op.b) * M;
    V* const lo = work + size_t(op.min) * M;
    V* const hi = work + size_t(op.max) * M;
    V x[M], y[M];
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m) x[m] = a[m], y[m] = b[m];
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m) lo[m] = Ops::min(x[m], y[m]), hi[m] = Ops::max(x[m], y[m]);
  }
}

template <class Ops, class P>
void program_band(const Band<typename Ops::T>& band) {
  using T = typename Ops::T;
  using V = typename Ops::V;
  constexpr int M = PROGRAM_SLOT_BYTES / Ops::BYTES > 1 ? PROGRAM_SLOT_BYTES / Ops::BYTES : 1;
  static_assert(M * Ops::BYTES == PROGRAM_SLOT_BYTES);
  const Band<T> b = band;
  V* const work = static_cast<V*>(b.work);
  V* const out = work + P::OUT_SLOT * M;
  V* const row = work + P::ROW_SLOT * M;
  // Whatever the memory holds reaches no stored output; cleared, so that
  // it is no value of another call's.
  std::memset(static_cast<void*>(work), 0, PROGRAM_WORK_BYTES<P>);
  const ptrdiff_t columns = vector_columns<Ops>(b.width);
  const int32_t last_row = b.rows + P::WINDOW - 2;
  for (ptrdiff_t column = 0; column < columns; column += M) {
    // A last group short of M columns repeats its last column.
    ptrdiff_t x[M];
    for (int m = 0; m < M; ++m)
      x[m] = column_start<Ops>(column + m < columns ? column + m : columns - 1, b.width);
    for (int32_t y = -P::WARM_UP_STEPS * P::TILE_ROWS; y < b.rows; y += P::TILE_ROWS) {
      for (int j = 0; j < P::TILE_ROWS; ++j) {
        const int32_t r = y + P::WINDOW - 1 + j;
        const T* const in = b.in[r < 0 ? 0 : r < last_row ? r : last_row];
        for (int c = 0; c < P::WINDOW; ++c)
#pragma GCC unroll 16
          for (int m = 0; m < M; ++m) row[c * M + m] = Ops::load(in + x[m] + c * b.step);
        run_program<Ops, M>(std::begin(P::SORT[j]), std::end(P::SORT[j]), work);
      }
      run_program<Ops, M>(std::begin(P::STEP), std::end(P::STEP), work);
      for (int j = 0; j < P::TILE_ROWS; ++j)
        if (y + j >= 0 && y + j < b.rows)
#pragma GCC unroll 16
          for (int m = 0; m < M; ++m) Ops::store(b.out[y + j] + x[m], out[j * M + m]);
      for (int id = 0; id < P::PIECES; ++id)
        if (P::RING[id] > 1)
          std::memmove(static_cast<void*>(work + (P::PIECE_SLOT[id] + P::SIZE[id]) * M),
                       static_cast<const void*>(work + P::PIECE_SLOT[id] * M),
                       size_t(P::RING[id] - 1) * P::SIZE[id] * PROGRAM_SLOT_BYTES);
    }
  }
}

}  // namespace median::detail
