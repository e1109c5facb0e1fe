// SPDX-License-Identifier: MIT
//
// What every kernel computes: one band of consecutive output rows, from
// pointers to the input rows its windows read.  The caller (filter.cpp)
// decides where those rows come from: the caller's own image, a zero row, a
// mirrored row, or a small scratch copy that holds the border beside the
// image's edge.  A kernel never sees the border; it only reads the rows it
// is given and writes the rows it is given.
//
// Elements are of one lane type T (uint8_t, uint16_t or float); pixels are
// `step` elements (the channels), and every channel is filtered on its own,
// because horizontal neighbours lie exactly `step` elements apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace median::detail {

// The window of the 5x5 kernels, which is also the zero border of the
// benchmark's padded frame.
constexpr int RADIUS = 2;              // window half-width
constexpr int WINDOW = 2 * RADIUS + 1;  // window rows and columns

// The largest window half-width any kernel serves (median.h's
// MEDIAN_MAX_WINDOW is 2 * MAX_RADIUS + 1).
constexpr int32_t MAX_RADIUS = 127;

template <class T>
struct Band {
  // rows + 2 * ry input rows, top to bottom: output row r reads in[r] to
  // in[r + 2 * ry].  Element x + c * step of in[r + k] is window row k,
  // column c of output element x, so each in[] points rx * step elements
  // (rx pixels) left of the first output's centre.  Elements 0 to
  // width + 2 * rx * step - 1 of every input row are read.
  const T* const* in;
  T* const* out;        // `rows` output rows; elements 0 to width - 1 are written
  int32_t rows;         // at least 1
  ptrdiff_t width;      // output elements per row, at least the kernel's lanes
  ptrdiff_t step;       // elements per pixel, 1 to 4
  bool streaming;       // the output is large: stores may bypass the caches
  int32_t rx, ry;       // the window's half-width and half-height; a kernel of
                        // one window size knows its own and ignores these
  // The calling thread's working memory, as many bytes as the kernel's
  // work_bytes asked for (aligned to 64 bytes), or null when it asked for
  // none.  Its contents do not survive from one band to the next.
  void* work;
};

template <class T>
using BandFunction = void (*)(const Band<T>&);

}  // namespace median::detail
