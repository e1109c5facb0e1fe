// SPDX-License-Identifier: MIT
//
// The row sweep: each output row is computed in groups of 16 bytes (five and
// a third pixels); a group loads 25 vectors from the five padded rows around
// it and runs the selection network once.  Groups and rows share no work, so
// the cost per byte is fixed and any split of the rows among threads is exact.

#include "median_filter.h"

#include <cstddef>
#include <cstring>
#include <emmintrin.h>

#include "median25_sse2.h"

namespace {

constexpr int CHANNELS = 3;         // bytes per pixel
constexpr int RADIUS = 2;           // window half-width, also the zero border
constexpr int WINDOW = 2 * RADIUS + 1;
constexpr int VECTOR_BYTES = 16;    // one group: 16 output bytes
// Bytes a group reads from each padded row: its 16 lanes plus four neighbours.
constexpr int GROUP_SPAN = VECTOR_BYTES + (WINDOW - 1) * CHANNELS;

// Median of the 16 windows whose top-left bytes start at `top`: input
// (r, c) is the 16 bytes at top + r * stride + c * CHANNELS, so lane i sees the
// 25 bytes of its own channel around byte i + RADIUS * CHANNELS of row RADIUS.
// Each input is loaded where the network first uses it, not all 25 up front:
// 25 vectors do not fit in 16 registers, and a load beside its operation is
// never spilled.  Inlined into each of its three callers, so that the hot
// loop keeps the row offsets in registers and makes no call.
[[gnu::always_inline]] inline __m128i group_median(const uint8_t* top, ptrdiff_t stride) {
  return median::detail::median25_epu8([=](int k) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(
        top + k / WINDOW * stride + k % WINDOW * CHANNELS));
  });
}

inline void store(uint8_t* dst, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}

// A row narrower than one vector (w < 6): copy each padded row into a zeroed
// scratch row so that the 28 bytes the group reads exist, and store only the
// row's own bytes.  The lanes that are stored depend only on bytes inside the
// padded row, so the zeros never reach the output.
void narrow_row(const uint8_t* top, ptrdiff_t stride, ptrdiff_t row_bytes,
                uint8_t* dst) {
  alignas(16) uint8_t scratch[WINDOW][GROUP_SPAN] = {};
  const size_t copy = stride < GROUP_SPAN ? size_t(stride) : GROUP_SPAN;
  for (int r = 0; r < WINDOW; ++r) std::memcpy(scratch[r], top + r * stride, copy);
  alignas(16) uint8_t out[VECTOR_BYTES];
  store(out, group_median(scratch[0], GROUP_SPAN));
  std::memcpy(dst, out, size_t(row_bytes));
}

// Rows first_row..last_row (inclusive) of the filtered frame.
void median_filter_rows(int32_t first_row, int32_t last_row, int32_t w,
                        int32_t padded_width, const uint8_t* padded,
                        uint8_t* filtered) {
  const ptrdiff_t row_bytes = ptrdiff_t(w) * CHANNELS;
  const ptrdiff_t stride = ptrdiff_t(padded_width) * CHANNELS;
  for (int32_t y = first_row; y <= last_row; ++y) {
    const uint8_t* top = padded + y * stride;
    uint8_t* dst = filtered + y * row_bytes;
    if (row_bytes < VECTOR_BYTES) {
      if (row_bytes > 0) narrow_row(top, stride, row_bytes, dst);
      continue;
    }
    ptrdiff_t off = 0;
    for (; off + VECTOR_BYTES <= row_bytes; off += VECTOR_BYTES)
      store(dst + off, group_median(top + off, stride));
    // The partial last group ends exactly at the end of the row and overlaps
    // the group before it, so it neither reads past the padded row nor writes
    // into the next output row (which may belong to another thread).
    if (off < row_bytes) {
      off = row_bytes - VECTOR_BYTES;
      store(dst + off, group_median(top + off, stride));
    }
  }
}

}  // namespace

void median_filter_pass(int32_t h, int32_t w, int32_t padded_width,
                        const uint8_t* padded, uint8_t* filtered) {
#pragma omp parallel for schedule(static)
  for (int32_t y = 0; y < h; ++y)
    median_filter_rows(y, y, w, padded_width, padded, filtered);
}
