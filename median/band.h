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

constexpr int RADIUS = 2;              // window half-width
constexpr int WINDOW = 2 * RADIUS + 1;  // window rows and columns

template <class T>
struct Band {
  // rows + 2 * RADIUS input rows, top to bottom: output row r reads in[r] to
  // in[r + 2 * RADIUS].  Element x + c * step of in[r + k] is window row k,
  // column c of output element x, so each in[] points RADIUS * step
  // elements (two pixels) left of the first output's centre.  Elements 0 to
  // width + 2 * RADIUS * step - 1 of every input row are read.
  const T* const* in;
  T* const* out;        // `rows` output rows; elements 0 to width - 1 are written
  int32_t rows;         // at least 1
  ptrdiff_t width;      // output elements per row, at least the kernel's lanes
  ptrdiff_t step;       // elements per pixel, 1 to 4
  bool streaming;       // the output is large: stores may bypass the caches
};

template <class T>
using BandFunction = void (*)(const Band<T>&);

}  // namespace median::detail
