// SPDX-License-Identifier: MIT
//
// Every window of 16-bit and float elements: ranks within a tile, and the
// 8-bit method (perreault_hebert.h) on the ranks' codes.  A band is taken a
// sub-band of rows and, in each channel, a tile of columns at a time:
//
//   sort   the tile's input elements with their positions (row << 16 |
//          column), by key (the element itself, or a float's ordered key),
//          least significant digit first, skipping digits every element
//          shares
//   code   each element's rank in that order, cut into 256 runs of equal
//          length: its code, a byte, in an image of the tile's codes
//   find   the median's code and its rank among the window's elements of
//          that code, by the 8-bit method on the code image (with
//          AVX-512, by the window's whole cumulative histogram of codes in
//          registers: whole_medians)
//   scan   that code's run of positions, in order, from whichever end is
//          nearer, counting those inside the window (a vector compare of
//          both halves of the packed positions), to the median's element;
//          with AVX-512, from the run's start, 64 positions a step, the
//          nth inside found by a bit deposit (nth_in_run)
//
// (On an AMD Zen 5, one thread, a 1920x1080x3 16-bit photo, 25x25: the
// bidirectional scan took 42 % of the time, most of it in branches that
// depend on the data; the whole histogram and the 64-position scan made
// rank_avx512bw_u16 1.4 times as fast.  Then, on two threads, the count
// below the median's code found in registers rather than read back from
// its 512 bytes of counts stored for each output, and the columns slid by
// compares rather than by loads of a step that split a cache line: 1.18
// times as fast again for 16 bits, 1.15 for floats.  Tiles of 96 for
// windows up to 33, whose runs still fit one step of the scan, sort fewer
// elements per output, but on one thread ran 0.75 times as fast for floats
// at 15x15 and 1.05 for 16 bits at 25x25: their sorted entries, 115 KB at
// 25x25, are read at random from beyond the L1 cache.)
//
// Ties do not matter: the order is total (by key, then position), and the
// element found gives the median's bits back.  Floats are ordered by the
// key of lane_ops.h: -infinity < ... < -0.0 < +0.0 < ... < +infinity < NaN.
//
// Tiles are 64 output columns (or rows) for a window up to 63 wide (or
// high), 128 up to 127, 256 beyond: wide enough that the 2 r columns the
// windows reach beyond the tile are not most of it, small enough that a
// code's run, which the scan walks, stays short.  (On an AMD Zen 5, 2
// threads, a 1920x1080x3 photo at 255x255: tiles of 256 sorted some 4
// elements per output instead of 9, and ran 26 % faster for floats and 17 %
// for 16 bits than tiles of 128; at 151x151, 8 %.  At 25x25 on one thread,
// tiles wider than tall, from 128x64 to 512x16, ran 1 to 14 % slower than
// 64x64.)  The working memory holds one tile's sort: for a window of
// (2 rx + 1) x (2 ry + 1), n = (tile columns + 2 rx) x (tile rows + 2 ry)
// elements take 16 n bytes for the sort, n for the codes, and the code
// columns' histograms; 125 KiB at 7x7, 4.4 MiB at 255x255.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "median/band.h"
#include "median/kernel_code.h"
#include "median/histogram/perreault_hebert.h"
#include "median/lane_ops.h"

namespace median::detail::histogram {

constexpr int CODES = 256;

// Guard entries on each side of the positions: a scan's vector loads go
// past the run's ends, and past the tile's, by less than 64 entries.
constexpr ptrdiff_t GUARD = 64;

// Output columns by output rows of a tile.
struct RankTile {
  int32_t columns, rows;
};

// The 32-bit key of an element, whose unsigned order is the order of the
// elements, and back: 16-bit elements are their own keys; floats flip the
// magnitude of negative values and move -infinity to key 0 (lane_ops.h).
template <class Ops, class T>
struct Keys;
template <class Ops>
struct Keys<Ops, uint16_t> {
  static constexpr int DIGIT_BITS = 8, DIGITS = 2;
  static uint32_t key(const uint16_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void store(uint16_t* p, uint32_t key) {
    const uint16_t v = uint16_t(key);
    std::memcpy(p, &v, sizeof v);
  }
};
template <class Ops>
struct Keys<Ops, float> {
  static constexpr int DIGIT_BITS = 11, DIGITS = 3;
  static uint32_t key(const float* p) {
    uint32_t bits;
    std::memcpy(&bits, p, sizeof bits);
    const uint32_t flipped = bits ^ (uint32_t(int32_t(bits) >> 31) >> 1);
    return (flipped - uint32_t(KEY_OFFSET)) ^ 0x80000000u;
  }
  static void store(float* p, uint32_t key) {
    const uint32_t flipped = (key ^ 0x80000000u) + uint32_t(KEY_OFFSET);
    const uint32_t bits = flipped ^ (uint32_t(int32_t(flipped) >> 31) >> 1);
    std::memcpy(p, &bits, sizeof bits);
  }
};

// Where the working memory's parts lie, in bytes from its start.
template <class Ops, class T>
struct RankLayout {
  RankTile tile;
  ptrdiff_t capacity;  // elements of the largest tile
  size_t entries[2], codes, columns, digits, total;

  // A tile's side for a window's side of 2 radius + 1.
  static int32_t side(int32_t radius) {
    return 2 * radius + 1 <= 63 ? 64 : 2 * radius + 1 <= 127 ? 128 : 256;
  }

  static_assert(RANK_BAND_ROWS >= 256, "a band holds the tallest tile's rows");

  RankLayout(int32_t rx, int32_t ry)
      : tile{side(rx), side(ry)},
        capacity((tile.columns + 2 * ptrdiff_t(rx)) * (tile.rows + 2 * ptrdiff_t(ry))) {
    auto line = [](size_t n) { return (n + 63) / 64 * 64; };
    const size_t entry_bytes = line(size_t(capacity + 2 * GUARD) * sizeof(uint64_t));
    entries[0] = 0;
    entries[1] = entry_bytes;
    codes = 2 * entry_bytes;
    columns = codes + line(size_t(capacity));
    digits = columns + line(size_t(tile.columns + 2 * rx) * COLUMN_BYTES);
    total = digits + sizeof(uint32_t) * (size_t(Keys<Ops, T>::DIGITS) << Keys<Ops, T>::DIGIT_BITS);
  }
};

template <class Ops, class T>
size_t rank_work_bytes(int32_t rx, int32_t ry, ptrdiff_t) {
  return RankLayout<Ops, T>(rx, ry).total;
}

// For each byte and n, the place of its nth (from 0) set bit.
struct SetBits {
  uint8_t place[256][8];
  constexpr SetBits() : place() {
    for (int byte = 0; byte < 256; ++byte)
      for (int bit = 0, n = 0; bit < 8; ++bit)
        if (byte >> bit & 1) place[byte][n++] = uint8_t(bit);
  }
};
inline constexpr SetBits SET_BITS{};

// The place of the nth (from 0) set bit of a 16-bit mask that has one,
// without branches.
template <class Ops>
[[gnu::always_inline]] inline int nth_set_bit(unsigned mask, uint32_t n) {
  if constexpr (Ops::POSITIONS <= 8) return SET_BITS.place[mask][n];
  const uint32_t low = uint32_t(Ops::count_bits(mask & 0xFF));
  const bool high = n >= low;
  return (high ? 8 : 0) + SET_BITS.place[(high ? mask >> 8 : mask) & 0xFF][high ? n - low : n];
}

// The index, from p, of the nth (from 0) entry inside the window, walking
// forward from p[0], or backward from p[-1] (the nth from the end; the
// index is then negative).  There must be such an entry.
template <class Ops>
ptrdiff_t nth_inside(const uint32_t* p, uint32_t origin, uint32_t limit, uint32_t nth, bool forward) {
  constexpr int N = Ops::POSITIONS;
  for (ptrdiff_t j = forward ? 0 : -N;; j += forward ? N : -N) {
    const unsigned in = Ops::inside(p + j, origin, limit);
    const uint32_t count = uint32_t(Ops::count_bits(in));
    // Forward, the nth set bit from the lowest; backward, from the highest.
    if (nth < count) return j + nth_set_bit<Ops>(in, forward ? nth : count - 1 - nth);
    nth -= count;
  }
}

// The index, from p, of the nth (from 0) of p[0 .. length - 1] inside the
// window, 64 entries at a time, for Ops with inside64 and nth_bit64: one
// step and no branch that depends on the data for the runs of windows up
// to 63 wide.  There must be such an entry.
template <class Ops>
[[gnu::always_inline]] inline ptrdiff_t nth_in_run(const uint32_t* p, ptrdiff_t length,
                                                   uint32_t origin, uint32_t limit, uint32_t nth) {
  for (ptrdiff_t j = 0;; j += 64) {
    const ptrdiff_t left = length - j;
    const uint64_t in =
        Ops::inside64(p + j, origin, limit) & (left >= 64 ? ~uint64_t(0) : (uint64_t(1) << left) - 1);
    const uint32_t count = uint32_t(__builtin_popcountll(in));
    if (nth < count) return j + Ops::nth_bit64(in, nth);
    nth -= count;
  }
}

// Sorts n entries by their upper 32 bits, least significant digit first,
// with the digits' counts of `digits`, between a and b; returns the one
// that holds the result.  (A photo's entries come in runs of equal digits,
// whose counts' increments wait on each other through memory; counting
// and placing four stretches of the entries at once, each with counts of
// its own, ran no faster: 0.6 to 1.0 times as fast, 16 bits at 25x25, one
// thread of an AMD Zen 5.)
template <class Ops, class T>
uint64_t* sort_entries(uint64_t* a, uint64_t* b, ptrdiff_t n, uint32_t* digits) {
  using K = Keys<Ops, T>;
  constexpr uint32_t MASK = (uint32_t(1) << K::DIGIT_BITS) - 1;
  for (int d = 0; d < K::DIGITS; ++d) {
    uint32_t* const count = digits + (size_t(d) << K::DIGIT_BITS);
    const int shift = 32 + d * K::DIGIT_BITS;
    if (count[(a[0] >> shift) & MASK] == uint32_t(n)) continue;  // one digit for all
    uint32_t sum = 0;
    for (uint32_t v = 0; v <= MASK; ++v) {
      const uint32_t c = count[v];
      count[v] = sum;
      sum += c;
    }
    for (ptrdiff_t i = 0; i < n; ++i) b[count[(a[i] >> shift) & MASK]++] = a[i];
    std::swap(a, b);
  }
  return a;
}

// At most layout.tile.rows output rows, one channel, one tile of columns:
// outputs px0 .. px0 + columns - 1 of the channel.
template <class Ops, class T>
void rank_tile(const Band<T>& b, const RankLayout<Ops, T>& layout, int32_t r0, int32_t rows,
               ptrdiff_t channel, ptrdiff_t px0, ptrdiff_t columns) {
  using K = Keys<Ops, T>;
  constexpr uint32_t MASK = (uint32_t(1) << K::DIGIT_BITS) - 1;
  // Local copies: the stores below may alias the band's members.
  uint8_t* const work = static_cast<uint8_t*>(b.work);
  const int32_t rx = b.rx, ry = b.ry;
  const ptrdiff_t step = b.step;
  const T* const* const in = b.in + r0;
  T* const* const out = b.out + r0;
  const ptrdiff_t in_columns = columns + 2 * rx;
  const int32_t in_rows = rows + 2 * ry;
  const ptrdiff_t n = in_columns * in_rows;

  // The tile's elements, keyed, with their positions; each key's digits
  // counted on the way.
  uint64_t* const entries[2] = {reinterpret_cast<uint64_t*>(work + layout.entries[0]) + GUARD,
                                reinterpret_cast<uint64_t*>(work + layout.entries[1]) + GUARD};
  uint32_t* const digits = reinterpret_cast<uint32_t*>(work + layout.digits);
  std::memset(digits, 0, sizeof(uint32_t) * (size_t(K::DIGITS) << K::DIGIT_BITS));
  for (int32_t q = 0; q < in_rows; ++q) {
    const T* const row = in[q] + channel + px0 * step;
    uint64_t* const e = entries[0] + q * in_columns;
    for (ptrdiff_t j = 0; j < in_columns; ++j) {
      const uint32_t key = K::key(row + j * step);
      e[j] = uint64_t(key) << 32 | uint32_t(q) << 16 | uint32_t(j);
      for (int d = 0; d < K::DIGITS; ++d)
        ++digits[size_t(d) << K::DIGIT_BITS | ((key >> (d * K::DIGIT_BITS)) & MASK)];
    }
  }
  const uint64_t* const sorted = sort_entries<Ops, T>(entries[0], entries[1], n, digits);

  // Codes by position; positions by rank, in the buffer the sort left free.
  uint8_t* const codes = work + layout.codes;
  uint32_t* const positions =
      reinterpret_cast<uint32_t*>(sorted == entries[0] ? entries[1] : entries[0]);
  const ptrdiff_t run = (n + CODES - 1) / CODES;
  for (ptrdiff_t i = 0, code = 0; i < n; ++code)
    for (const ptrdiff_t end = std::min(n, i + run); i < end; ++i) {
      const uint32_t p = uint32_t(sorted[i]);
      positions[i] = p;
      codes[(p >> 16) * in_columns + (p & 0xFFFF)] = uint8_t(code);
    }
  std::fill(positions - GUARD, positions, ~uint32_t(0));
  std::fill(positions + n, positions + n + GUARD, ~uint32_t(0));

  const uint8_t* code_rows[MAX_INPUT_ROWS];
  for (int32_t q = 0; q < in_rows; ++q) code_rows[q] = codes + q * in_columns;
  const uint32_t limit = uint32_t(2 * ry) << 16 | uint32_t(2 * rx);
  auto store = [=](int32_t r, ptrdiff_t i, ptrdiff_t at) {
    K::store(out[r] + channel + (px0 + i) * step, uint32_t(sorted[at] >> 32));
  };
  // The median of output (r, i) is the nth (from 0) of the window's
  // elements of this code, in its run of positions from `first`.
  if constexpr (Ops::WHOLE) {
    whole_medians<Ops>(code_rows, rows, columns, rx, ry, work + layout.columns,
                       [=](int32_t r, ptrdiff_t i, uint32_t code, uint32_t nth) {
                         const ptrdiff_t first = ptrdiff_t(code) * run;
                         const uint32_t origin = uint32_t(r) << 16 | uint32_t(i);
                         store(r, i, first + nth_in_run<Ops>(positions + first,
                                                             std::min(n, first + run) - first,
                                                             origin, limit, nth));
                       });
  } else {
    // Scanned from whichever end of the run is nearer the median.
    tile_medians<Ops>(
        code_rows, rows, columns, 1, rx, ry, work + layout.columns,
        [=](int32_t r, ptrdiff_t i, uint32_t code, const typename Ops::Counts& ranks,
            const typename Ops::Counts& counts, int f) {
          const uint32_t before = f ? Ops::lane(counts, f - 1) : 0;
          const uint32_t nth = Ops::lane(ranks, 0) - before;
          const uint32_t from_end = Ops::lane(counts, f) - before - 1 - nth;
          const ptrdiff_t first = ptrdiff_t(code) * run, end = std::min(n, first + run);
          const uint32_t origin = uint32_t(r) << 16 | uint32_t(i);
          store(r, i,
                nth <= from_end
                    ? first + nth_inside<Ops>(positions + first, origin, limit, nth, true)
                    : end + nth_inside<Ops>(positions + end, origin, limit, from_end, false));
        });
  }
}

// A band of 16-bit or float elements, a tile at a time.
template <class Ops, class T>
void rank_band(const Band<T>& b) {
  const RankLayout<Ops, T> layout(b.rx, b.ry);
  for (int32_t r0 = 0; r0 < b.rows; r0 += layout.tile.rows) {
    const int32_t rows = std::min(layout.tile.rows, b.rows - r0);
    for (ptrdiff_t channel = 0; channel < b.step && channel < b.width; ++channel) {
      const ptrdiff_t outputs = (b.width - channel + b.step - 1) / b.step;
      for (ptrdiff_t px0 = 0; px0 < outputs; px0 += layout.tile.columns)
        rank_tile<Ops, T>(b, layout, r0, rows, channel, px0,
                          std::min<ptrdiff_t>(layout.tile.columns, outputs - px0));
    }
  }
}

}  // namespace median::detail::histogram
