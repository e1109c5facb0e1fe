// SPDX-License-Identifier: MIT
//
// Every window size and element type, exactly: the sliding histogram of
// T. S. Huang, G. J. Yang and G. Y. Tang ("A fast two-dimensional median
// filtering algorithm", IEEE Trans. ASSP 27(1), 1979).  Along each output
// row, one channel at a time, the window's histogram drops the column of
// 2 ry + 1 values that leaves and takes the one that comes in, and the
// median is found by walking from the last one; neighbouring outputs have
// close medians, so the walk is short.  Counts are kept on two levels, fine
// and coarse, so that a long walk skips whole coarse bins.
//
// 8-bit and 16-bit elements are their own bins (256 and 65536).  Floats are
// first replaced by their ranks among the values of a tile of the band (the
// ordered 32-bit keys of lane_ops.h, sorted by a radix sort), so there are as
// many bins as the tile has distinct values, and the median's rank gives its
// value back with its own bits.
//
// The method of last resort: it serves every window and element type at a
// cost per output of O(window side) updates (plus, per row, filling the
// first window), in a working memory that does not grow with the image
// (work_bytes).  Counts fit in 16 bits: a window holds at most 255 x 255 =
// 65025 values.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "median/band.h"
#include "median/lane_ops.h"

namespace median::detail::histogram {

// Counts of the values 0 .. bins - 1 of a window: per value, and per coarse
// bin of 2^shift consecutive values.
struct Counts {
  uint16_t* fine;
  uint16_t* coarse;
  uint32_t bins;
  int shift;
};

// The sliding median over one channel: value(r, j) is the value (below
// counts.bins) of input row r (0 .. rows + 2 ry - 1), column j (0 .. columns
// + 2 rx - 1) of the channel; put(y, x, m) receives the median value of
// output row y, column x.  `counts` must be all zeros, and is left so.
// *start is where the median walk begins, and is left at the last median.
template <class Value, class Put>
void slide_channel(const Value& value, int32_t rows, ptrdiff_t columns, int32_t rx, int32_t ry,
                   const Counts& counts, uint32_t* start, Put put) {
  if (columns <= 0) return;
  uint16_t* const fine = counts.fine;
  uint16_t* const coarse = counts.coarse;
  const int shift = counts.shift;
  const uint32_t coarse_mask = (uint32_t(1) << shift) - 1;
  const int32_t window_rows = 2 * ry + 1, window_columns = 2 * rx + 1;
  const uint32_t middle = uint32_t(window_rows * window_columns - 1) / 2;
  // m is the current median and below the count of values under it.
  uint32_t m = *start, below = 0;
  auto add = [&](uint32_t v) {
    ++fine[v];
    ++coarse[v >> shift];
    below += v < m;
  };
  auto remove = [&](uint32_t v) {
    --fine[v];
    --coarse[v >> shift];
    below -= v < m;
  };
  // Walks m to the value with below <= middle < below + fine[m], a whole
  // coarse bin at a time where m is at a bin's start and the bin lies
  // entirely on the side walked from.
  auto median = [&] {
    while (below > middle) {
      if ((m & coarse_mask) == 0 && below - coarse[(m >> shift) - 1] > middle) {
        m -= coarse_mask + 1;
        below -= coarse[m >> shift];
      } else {
        --m;
        below -= fine[m];
      }
    }
    while (below + fine[m] <= middle) {
      if ((m & coarse_mask) == 0 && below + coarse[m >> shift] <= middle) {
        below += coarse[m >> shift];
        m += coarse_mask + 1;
      } else {
        below += fine[m];
        ++m;
      }
    }
    return m;
  };
  // Emptying the counts value by value costs the window's area, clearing
  // them costs their size: whichever is less.
  const bool clear = uint64_t(window_rows) * uint64_t(window_columns) * 16 > counts.bins;
  for (int32_t y = 0; y < rows; ++y) {
    for (int32_t j = 0; j < window_columns; ++j)
      for (int32_t i = 0; i < window_rows; ++i) add(value(y + i, j));
    put(y, 0, median());
    for (ptrdiff_t x = 1; x < columns; ++x) {
      for (int32_t i = 0; i < window_rows; ++i) {
        remove(value(y + i, x - 1));
        add(value(y + i, x + 2 * rx));
      }
      put(y, x, median());
    }
    if (clear) {
      std::memset(fine, 0, counts.bins * sizeof(uint16_t));
      std::memset(coarse, 0, ((counts.bins >> shift) + 1) * sizeof(uint16_t));
      below = 0;
    } else {
      for (int32_t j = 0; j < window_columns; ++j)
        for (int32_t i = 0; i < window_rows; ++i) remove(value(y + i, columns - 1 + j));
    }
  }
  *start = m;
}

// The columns of a band's residue class `channel` (elements channel,
// channel + step, ...), of `width` elements.
inline ptrdiff_t channel_columns(ptrdiff_t width, ptrdiff_t step, ptrdiff_t channel) {
  return channel < width ? (width - channel + step - 1) / step : 0;
}

// The caller's rows need no alignment: elements are read and written as
// bytes.
template <class T>
T load(const T* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
void store(T* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// ---- 8-bit and 16-bit: the elements are the bins ---------------------------

constexpr int U8_SHIFT = 4;  // 16 coarse bins of 16
constexpr int U16_SHIFT = 8;  // 256 coarse bins of 256

template <class T>
constexpr uint32_t INTEGER_BINS = uint32_t(1) << (8 * sizeof(T));

// Bytes of the 16-bit counts (the 8-bit ones live on the stack).
inline size_t integer_work_bytes(int32_t, int32_t, ptrdiff_t) {
  return (INTEGER_BINS<uint16_t> + (INTEGER_BINS<uint16_t> >> U16_SHIFT) + 1) * sizeof(uint16_t);
}

template <class T>
void integer_band(const Band<T>& b) {
  constexpr int SHIFT = sizeof(T) == 1 ? U8_SHIFT : U16_SHIFT;
  constexpr uint32_t BINS = INTEGER_BINS<T>;
  uint16_t small[sizeof(T) == 1 ? BINS + (BINS >> SHIFT) + 1 : 1] = {};
  uint16_t* const fine = sizeof(T) == 1 ? small : static_cast<uint16_t*>(b.work);
  if (sizeof(T) != 1) std::memset(fine, 0, (BINS + (BINS >> SHIFT) + 1) * sizeof(uint16_t));
  const Counts counts{fine, fine + BINS, BINS, SHIFT};
  uint32_t start = BINS / 2;
  for (ptrdiff_t channel = 0; channel < b.step; ++channel) {
    const ptrdiff_t step = b.step;
    const T* const* const in = b.in;
    T* const* const out = b.out;
    slide_channel(
        [=](int32_t r, ptrdiff_t j) { return uint32_t(load(in[r] + channel + j * step)); },
        b.rows, channel_columns(b.width, step, channel), b.rx, b.ry, counts, &start,
        [=](int32_t y, ptrdiff_t x, uint32_t m) { store(out[y] + channel + x * step, T(m)); });
  }
}

// ---- floats: ranks within a tile ----------------------------------------

// A float's bits to a 32-bit key whose unsigned order is the order of
// lane_ops.h (numbers, -0.0 below +0.0, every NaN above +infinity), and
// back.
inline uint32_t order_key(uint32_t bits) {
  const uint32_t flipped = bits ^ (uint32_t(int32_t(bits) >> 31) >> 1);
  return (flipped - uint32_t(KEY_OFFSET)) ^ 0x80000000u;
}
inline uint32_t key_bits(uint32_t key) {
  const uint32_t flipped = (key ^ 0x80000000u) + uint32_t(KEY_OFFSET);
  return flipped ^ (uint32_t(int32_t(flipped) >> 31) >> 1);
}

// At most this many values are ranked at once: a tile's input rows times
// its input columns.  A band of MAX_BAND_ROWS rows and the largest window
// still leaves tiles of more than a hundred output columns.
constexpr size_t RANKED_VALUES = size_t(1) << 17;
constexpr int RANK_SHIFT = 8;

// Stable LSD radix sort of `n` entries by their upper 32 bits, 11, 11 and
// 10 bits at a time; a digit every entry shares is skipped.  Returns the
// buffer that holds the result (a or b).
inline uint64_t* sort_by_key(uint64_t* a, uint64_t* b, size_t n) {
  constexpr int BITS[] = {11, 11, 10};
  int low = 32;
  for (const int bits : BITS) {
    uint32_t count[size_t(1) << 11] = {};
    const uint32_t mask = (uint32_t(1) << bits) - 1;
    for (size_t i = 0; i < n; ++i) ++count[(a[i] >> low) & mask];
    if (count[(a[0] >> low) & mask] != n) {
      uint32_t sum = 0;
      for (uint32_t d = 0; d <= mask; ++d) {
        const uint32_t c = count[d];
        count[d] = sum;
        sum += c;
      }
      for (size_t i = 0; i < n; ++i) b[count[(a[i] >> low) & mask]++] = a[i];
      std::swap(a, b);
    }
    low += bits;
  }
  return a;
}

// The float working memory: two arrays of (key, position) entries for the
// sort, the keys of the distinct values, and their counts.
inline size_t float_work_bytes(int32_t, int32_t, ptrdiff_t) {
  return RANKED_VALUES * (2 * sizeof(uint64_t) + sizeof(uint32_t) + sizeof(uint16_t)) +
         ((RANKED_VALUES >> RANK_SHIFT) + 1) * sizeof(uint16_t);
}

inline void float_band(const Band<float>& b) {
  uint64_t* const entries = static_cast<uint64_t*>(b.work);
  uint64_t* const spare = entries + RANKED_VALUES;
  uint32_t* const keys = reinterpret_cast<uint32_t*>(spare + RANKED_VALUES);
  uint16_t* const fine = reinterpret_cast<uint16_t*>(keys + RANKED_VALUES);
  uint16_t* const coarse = fine + RANKED_VALUES;
  const int32_t in_rows = b.rows + 2 * b.ry;
  // Output columns per tile, so that its input fits the ranking.
  const ptrdiff_t tile = ptrdiff_t(RANKED_VALUES) / in_rows - 2 * b.rx;
  for (ptrdiff_t channel = 0; channel < b.step; ++channel) {
    const ptrdiff_t columns = channel_columns(b.width, b.step, channel);
    for (ptrdiff_t x0 = 0; x0 < columns; x0 += tile) {
      const ptrdiff_t tile_columns = std::min(tile, columns - x0);
      const ptrdiff_t in_columns = tile_columns + 2 * b.rx;
      const size_t n = size_t(in_rows) * size_t(in_columns);
      for (int32_t r = 0; r < in_rows; ++r) {
        const float* const row = b.in[r] + channel + x0 * b.step;
        for (ptrdiff_t j = 0; j < in_columns; ++j) {
          uint32_t bits;
          std::memcpy(&bits, row + j * b.step, sizeof bits);
          const size_t position = size_t(r) * size_t(in_columns) + size_t(j);
          entries[position] = uint64_t(order_key(bits)) << 32 | position;
        }
      }
      const uint64_t* const sorted = sort_by_key(entries, spare, n);
      // Dense ranks, written by position into whichever array the sort
      // left free.
      uint32_t* const ranks = reinterpret_cast<uint32_t*>(sorted == entries ? spare : entries);
      uint32_t distinct = 0;
      for (size_t i = 0; i < n; ++i) {
        const uint32_t key = uint32_t(sorted[i] >> 32);
        if (i == 0 || key != keys[distinct - 1]) keys[distinct++] = key;
        ranks[uint32_t(sorted[i])] = distinct - 1;
      }
      std::memset(fine, 0, distinct * sizeof(uint16_t));
      std::memset(coarse, 0, ((distinct >> RANK_SHIFT) + 1) * sizeof(uint16_t));
      const Counts counts{fine, coarse, distinct, RANK_SHIFT};
      uint32_t start = distinct / 2;
      float* const* const out = b.out;
      const ptrdiff_t step = b.step;
      slide_channel(
          [=](int32_t r, ptrdiff_t j) { return ranks[size_t(r) * size_t(in_columns) + size_t(j)]; },
          b.rows, tile_columns, b.rx, b.ry, counts, &start,
          [=](int32_t y, ptrdiff_t x, uint32_t m) {
            const uint32_t bits = key_bits(keys[m]);
            std::memcpy(out[y] + channel + (x0 + x) * step, &bits, sizeof bits);
          });
    }
  }
}

}  // namespace median::detail::histogram
