// SPDX-License-Identifier: MIT
//
// The benchmark's sweep: median_filter_pass on a zero-padded frame of
// interleaved 3-byte pixels (median_filter.h), one 25-input network per
// vector of output bytes, rows split among the OpenMP threads.  `Ops` gives
// the vector type V of BYTES unsigned byte lanes, unaligned load and store,
// min and max (lane_ops.h).  Frames: a zero border of 2 pixels, output rows
// of w * 3 bytes, padded rows of padded_width * 3 bytes.  The library's other
// kernels work on bands of rows instead (band_sweeps.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "median/band.h"
#include "median/network/median25_network.h"

namespace median::detail {

constexpr int CHANNELS = 3;  // bytes per pixel; RADIUS is also the zero border
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

}  // namespace median::detail
