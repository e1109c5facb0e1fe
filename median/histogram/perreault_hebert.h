// SPDX-License-Identifier: MIT
//
// Every window of 8-bit elements at a cost per output that does not grow
// with the window: the method of S. Perreault and P. Hébert ("Median
// filtering in constant time", IEEE Trans. Image Processing 16(9), 2007).
// Each input column keeps the histogram of the 2 ry + 1 values of it that
// the current output row's windows cover; going one row down, every column
// takes in the new row's value and lets the old one go; along the row, the
// window's histogram adds the column that comes in and subtracts the one
// that leaves, whatever the window's width; the median is then found from
// the coarse level down.  In steps:
//
//   fill    the column histograms of a tile from its first 2 ry + 1 rows
//   slide   one row down: each column adds one value and removes one
//   sweep   along an output row: the window's coarse counts += one column
//           - one column; the median's coarse bin; that bin's fine counts,
//           brought up to date; the median's fine bin
//
// The histograms are cumulative, so that no output waits on a running sum:
// a column's coarse counts say, for each block b of 16 values, how many of
// its values lie below the block (16 bytes), and its fine counts, block by
// block, how many lie in the block at or below each value (256 bytes).  The
// window's sums of these rise along the lanes, and the lanes at most k
// (the median's rank, counted from 0) are a prefix whose length is a
// compare and a count: the median's block c is the last lane of the coarse
// sum at most k; its value in the block is the number of lanes of the
// block's fine sum at most k less the values below the block.  A value
// going in or out changes a column by three 16-byte additions of masks.
//
// The window's fine sums are kept per block and brought up to date only
// when the median falls in that block again (Perreault and Hébert's lazy
// update): column by column from where the block was last used, or, when
// that is further back than half a window, afresh from the window's
// columns.  Column counts fit in a byte (at most 255 rows), window counts in
// 16 bits (at most 255 x 255 = 65025), compared unsigned.
//
// The vector operations (`Ops`: ops_x86.h, ops_neon.h), in the kernel file
// of each instruction set:
//
//   Bytes                   16 bytes
//   load_bytes, store_bytes unaligned
//   add_bytes, sub_bytes    lane by lane, wrapping
//   prefix_bytes            each lane the sum of it and the lanes before it
//   last_byte               lane 15
//   Counts                  16 unsigned 16-bit lanes
//   zero, add, sub          lane by lane, wrapping
//   splat(k)                k in every lane
//   widen(p)                the 16 bytes at p, one per lane
//   count_le(v, k)          how many lanes of v are at most those of k,
//                           where they are a prefix (v rises along the
//                           lanes, k is the same in all)
//   lane(v, i)              lane i
//   broadcast(v, i)         lane i in every lane
//   for the rank method (tile_ranks.h):
//   POSITIONS               32-bit entries per vector (at most 16)
//   inside(p, origin, limit)
//                           a bit per entry p[0 .. POSITIONS - 1], set when
//                           both 16-bit halves of the entry minus origin
//                           (each half wrapping on its own) are at most
//                           limit's
//   count_bits(mask)        the set bits of such a mask
//   WHOLE                   whether the following exist (Avx512bw only):
//   Whole, whole_zero, whole_add, whole_step, whole_find, Values,
//   whole_values, whole_column_prefix, whole_column_slide
//                           the window's whole cumulative histogram in
//                           registers and its columns' (whole_medians)
//   inside64, nth_bit64     inside for 64 entries; the nth set bit
//
// Everything here is a template on Ops, whose tag is the kernel file's own:
// code built with one instruction set's flags never meets another's.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "median/band.h"
#include "median/kernel_code.h"

namespace median::detail::histogram {

constexpr int BLOCKS = 16, BLOCK = 16, BINS = BLOCKS * BLOCK;
// Bytes of one column's histograms: its coarse and its fine counts.
constexpr size_t COLUMN_BYTES = BLOCKS + BINS;

// Output pixels per tile of the 8-bit method: its columns' histograms,
// (TILE_PIXELS + 2 rx) * channels * COLUMN_BYTES bytes, are the method's
// working memory; a tile much narrower than the window would spend its time
// filling the columns the window reaches beyond it.  (On an AMD Zen 5, one
// thread, a 1920x1080x3 photo at 25x25: tiles of 128 and 1024 ran within 4 %
// of 512, 256 at 0.92 and 64 at 0.80; at 51x51, 128 at 0.81.  The slide is
// about 40 % of the time there, and waits on neither memory nor its own
// stores: asking for the next columns' blocks ahead made it 10 % slower, and
// one update where a value comes into the block another leaves, 15 %.)
constexpr ptrdiff_t TILE_PIXELS = 512;

// A band's input rows, at most.
constexpr int32_t MAX_INPUT_ROWS = MAX_BAND_ROWS + 2 * MAX_RADIUS;

// What a value v changes in a column: lanes f >= v % 16 of its fine block
// v / 16 (`from`), and lanes b > v / 16 of its coarse counts (`after`).
struct StepMasks {
  uint8_t from[BLOCK][BLOCK], after[BLOCKS][BLOCKS];
  constexpr StepMasks() : from(), after() {
    for (int s = 0; s < BLOCK; ++s)
      for (int t = 0; t < BLOCK; ++t) {
        from[s][t] = t >= s;
        after[s][t] = t > s;
      }
  }
};
alignas(16) inline constexpr StepMasks STEP_MASKS{};

// The cumulative histograms of `count` columns, in `memory`
// (count * COLUMN_BYTES bytes): all coarse counts, then all fine counts.
template <class Ops>
class Columns {
 public:
  Columns(uint8_t* memory, ptrdiff_t count) : coarse_(memory), fine_(memory + count * BLOCKS) {}

  // 16 lanes: values of column j below block b, for each b.
  const uint8_t* coarse(ptrdiff_t j) const { return coarse_ + j * BLOCKS; }
  // 16 lanes: values of column j in block b, at most 16 b + f, for each f.
  const uint8_t* fine(ptrdiff_t j, int b) const { return fine_ + j * BINS + b * BLOCK; }

  // The histograms of elements 0 .. columns - 1 of rows[0 .. count - 1]:
  // plain counts first, then each block summed along its lanes.
  void fill(const uint8_t* const* rows, int32_t count, ptrdiff_t columns) {
    std::memset(fine_, 0, size_t(columns) * BINS);
    for (int32_t q = 0; q < count; ++q)
      for (ptrdiff_t j = 0; j < columns; ++j) ++fine_[j * BINS + rows[q][j]];
    for (ptrdiff_t j = 0; j < columns; ++j) {
      unsigned below = 0;
      for (int b = 0; b < BLOCKS; ++b) {
        coarse_[j * BLOCKS + b] = uint8_t(below);
        uint8_t* const block = fine_ + j * BINS + b * BLOCK;
        const typename Ops::Bytes sums = Ops::prefix_bytes(Ops::load_bytes(block));
        Ops::store_bytes(block, sums);
        below += Ops::last_byte(sums);
      }
    }
  }

  // One row down: column j takes add[j] in and lets remove[j] go.
  void slide(const uint8_t* add, const uint8_t* remove, ptrdiff_t columns) {
    const auto& from = STEP_MASKS.from;
    const auto& after = STEP_MASKS.after;
    for (ptrdiff_t j = 0; j < columns; ++j) {
      const unsigned a = add[j], d = remove[j];
      uint8_t* const fine = fine_ + j * BINS;
      uint8_t* const in = fine + (a & ~(BLOCK - 1u));
      Ops::store_bytes(in, Ops::add_bytes(Ops::load_bytes(in), Ops::load_bytes(from[a % BLOCK])));
      uint8_t* const out = fine + (d & ~(BLOCK - 1u));
      Ops::store_bytes(out, Ops::sub_bytes(Ops::load_bytes(out), Ops::load_bytes(from[d % BLOCK])));
      uint8_t* const coarse = coarse_ + j * BLOCKS;
      const typename Ops::Bytes with_a =
          Ops::add_bytes(Ops::load_bytes(coarse), Ops::load_bytes(after[a / BLOCK]));
      Ops::store_bytes(coarse, Ops::sub_bytes(with_a, Ops::load_bytes(after[d / BLOCK])));
    }
  }

 private:
  uint8_t* coarse_;
  uint8_t* fine_;
};

// The medians of one output row of one channel: output i's window is the
// columns first + (i + c) * step, c = 0 .. 2 rx, and k its median's rank.
// found(i, value, ranks, counts, f) for each i in turn: the median's value,
// its rank among the window's values of its block (value / 16) in every
// lane of `ranks`, the window's fine counts of that block, and f = value %
// 16.
template <class Ops, class Found>
void sweep(const Columns<Ops>& columns, ptrdiff_t first, ptrdiff_t step, ptrdiff_t outputs,
           int32_t rx, uint32_t k, Found found) {
  using Counts = typename Ops::Counts;
  const ptrdiff_t width = 2 * ptrdiff_t(rx) + 1;
  // Local copies, which the outputs' stores (bytes, which may alias
  // anything) cannot make the compiler read again.
  const uint8_t* const coarse_first = columns.coarse(first);
  const uint8_t* const fine_first = columns.fine(first, 0);
  const ptrdiff_t coarse_step = step * BLOCKS, fine_step = step * BINS;
  auto coarse = [=](ptrdiff_t c) { return Ops::widen(coarse_first + c * coarse_step); };
  auto fine = [=](ptrdiff_t c, int b) { return Ops::widen(fine_first + c * fine_step + b * BLOCK); };
  // The window's coarse counts; the fine counts of the block of the last
  // median, `counts`, and of each other block b as they were at output
  // since[b].
  const Counts ks = Ops::splat(k);
  Counts below = Ops::zero();
  for (ptrdiff_t c = 0; c < width; ++c) below = Ops::add(below, coarse(c));
  Counts blocks[BLOCKS], counts = Ops::zero();
  ptrdiff_t since[BLOCKS];
  std::fill(since, since + BLOCKS, -width);
  int last = 0;
  for (ptrdiff_t i = 0; i < outputs; ++i) {
    if (i) below = Ops::sub(Ops::add(below, coarse(i + 2 * rx)), coarse(i - 1));
    const int b = Ops::count_le(below, ks) - 1;
    const Counts ranks = Ops::sub(ks, Ops::broadcast(below, b));
    if (i && b == last) {
      counts = Ops::sub(Ops::add(counts, fine(i + 2 * rx, b)), fine(i - 1, b));
    } else {
      if (i) {
        blocks[last] = counts;
        since[last] = i - 1;
      }
      last = b;
      if (2 * (i - since[b]) > width) {
        Counts even = Ops::zero(), odd = Ops::zero();
        ptrdiff_t c = 0;
        for (; c + 1 < width; c += 2) {
          even = Ops::add(even, fine(i + c, b));
          odd = Ops::add(odd, fine(i + c + 1, b));
        }
        counts = Ops::add(Ops::add(even, odd), fine(i + c, b));
      } else {
        counts = blocks[b];
        for (ptrdiff_t t = since[b] + 1; t <= i; ++t)
          counts = Ops::sub(Ops::add(counts, fine(t + 2 * rx, b)), fine(t - 1, b));
      }
    }
    const int f = Ops::count_le(counts, ranks);
    found(i, uint32_t(b * BLOCK + f), ranks, counts, f);
  }
}

// The medians of a tile of an 8-bit image with `step` channels: output rows
// 0 .. rows - 1, elements 0 .. width - 1, from input rows in[0 .. rows +
// 2 ry - 1], each read at elements 0 .. width + 2 rx step - 1.
// found(r, x, value, ranks, counts, f) for output element x of row r, as
// sweep gives them.  `memory`: (width + 2 rx step) * COLUMN_BYTES bytes.
template <class Ops, class Found>
void tile_medians(const uint8_t* const* in, int32_t rows, ptrdiff_t width, ptrdiff_t step,
                  int32_t rx, int32_t ry, uint8_t* memory, Found found) {
  const ptrdiff_t count = width + 2 * rx * step;
  Columns<Ops> columns(memory, count);
  const uint32_t k = uint32_t((2 * rx + 1) * (2 * ry + 1) - 1) / 2;
  columns.fill(in, 2 * ry + 1, count);
  for (int32_t r = 0; r < rows; ++r) {
    if (r) columns.slide(in[r + 2 * ry], in[r - 1], count);
    for (ptrdiff_t channel = 0; channel < step && channel < width; ++channel)
      sweep(columns, channel, step, (width - channel + step - 1) / step, rx, k,
            [=](ptrdiff_t i, uint32_t value, const typename Ops::Counts& ranks,
                const typename Ops::Counts& counts, int f) {
              found(r, channel + i * step, value, ranks, counts, f);
            });
  }
}

// tile_medians of one channel for Ops that keep the window's whole
// cumulative histogram (Ops::WHOLE): each column's counts of values at most
// each of the 256 (BINS bytes), the window's the sum of its columns' in
// registers.  found(r, x, value, nth) for output x of row r: the median's
// value and its rank among the window's elements of that value (from 0).
// `memory`: (width + 2 rx) * BINS bytes.
template <class Ops, class Found>
void whole_medians(const uint8_t* const* in, int32_t rows, ptrdiff_t width, int32_t rx,
                   int32_t ry, uint8_t* memory, Found found) {
  const ptrdiff_t count = width + 2 * ptrdiff_t(rx);
  const uint32_t k = uint32_t((2 * rx + 1) * (2 * ry + 1) - 1) / 2;
  std::memset(memory, 0, size_t(count) * BINS);
  for (int32_t q = 0; q <= 2 * ry; ++q)
    for (ptrdiff_t j = 0; j < count; ++j) ++memory[j * BINS + in[q][j]];
  for (ptrdiff_t j = 0; j < count; ++j) Ops::whole_column_prefix(memory + j * BINS);
  const typename Ops::Values values = Ops::whole_values();
  for (int32_t r = 0; r < rows; ++r) {
    if (r) {
      const uint8_t* const add = in[r + 2 * ry];
      const uint8_t* const remove = in[r - 1];
      for (ptrdiff_t j = 0; j < count; ++j)
        Ops::whole_column_slide(memory + j * BINS, add[j], remove[j], values);
    }
    typename Ops::Whole w = Ops::whole_zero();
    for (ptrdiff_t c = 0; c <= 2 * rx; ++c) Ops::whole_add(w, memory + c * BINS);
    for (ptrdiff_t i = 0; i < width; ++i) {
      if (i) Ops::whole_step(w, memory + (i + 2 * rx) * BINS, memory + (i - 1) * BINS);
      // The window's count at 255 is all of it, more than k: value < 256.
      uint32_t before;
      const int value = Ops::whole_find(w, k, before);
      found(r, i, uint32_t(value), k - before);
    }
  }
}

// Working memory of the 8-bit method.
template <class Ops>
size_t histogram_work_bytes(int32_t rx, int32_t, ptrdiff_t step) {
  return size_t(TILE_PIXELS + 2 * rx) * size_t(step) * COLUMN_BYTES;
}

// A band of 8-bit elements, tile by tile.
template <class Ops>
void histogram_band(const Band<uint8_t>& b) {
  const ptrdiff_t tile = TILE_PIXELS * b.step;
  const int32_t in_rows = b.rows + 2 * b.ry;
  const uint8_t* in[MAX_INPUT_ROWS];
  for (ptrdiff_t x0 = 0; x0 < b.width; x0 += tile) {
    for (int32_t q = 0; q < in_rows; ++q) in[q] = b.in[q] + x0;
    uint8_t* const* const out = b.out;
    tile_medians<Ops>(in, b.rows, std::min(tile, b.width - x0), b.step, b.rx, b.ry,
                      static_cast<uint8_t*>(b.work),
                      [=](int32_t r, ptrdiff_t x, uint32_t value, const typename Ops::Counts&,
                          const typename Ops::Counts&, int) { out[r][x0 + x] = uint8_t(value); });
  }
}

}  // namespace median::detail::histogram
