// SPDX-License-Identifier: MIT
//
// What the kernel table knows of a kernel's code, and the two ways of
// running it (filter.cpp): on the caller's image with a border, and on a
// zero-padded frame (median_filter_pass's contract).  Internal to the
// library and its tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "median/band.h"

namespace median::detail {

// At most this many output rows in a band, bytes in a vector, and elements
// in a pixel: they bound the scratch rows a band needs at its edges.  The
// networks take bands of 16 to 128 rows; the 8-bit histograms, which rebuild
// their column counts from 2 ry + 1 rows at every band's start, take bands as
// tall as this, so that a thread's share of a frame up to 2048 rows high is
// one band: at 255x255 on 1080 rows, bands of 512 rows gave 2 threads 1.3
// times one thread's speed, one band per thread 1.9 times.
constexpr int32_t MAX_BAND_ROWS = 2048;
// In place a band's output is staged in rows of the thread's own memory
// before it is copied back: bands of at most this many rows keep those
// rows as few as they were.
constexpr int32_t IN_PLACE_BAND_ROWS = 512;
// The rank method of 16-bit and float elements (tile_ranks.h) takes bands of
// its tallest tile's rows: it cuts them into tiles itself.
constexpr int32_t RANK_BAND_ROWS = 256;
// A padded-frame pass (which allocates nothing) takes bands of at most this
// many rows, whatever the kernel's own height.
constexpr int32_t PADDED_BAND_ROWS = 128;
constexpr int MAX_VECTOR_BYTES = 64;
constexpr int MAX_CHANNELS = 4;
// The most working memory a kernel with a padded-frame pass may ask for on a
// 5x5 window (the pass allocates nothing and gives it on the stack).
constexpr size_t PADDED_WORK_BYTES = 4096;

struct KernelCode {
  // The band sweep for the kernel's lane type; the other two are null.
  BandFunction<uint8_t> u8;
  BandFunction<uint16_t> u16;
  BandFunction<float> f32;
  int lanes;          // elements per vector
  int32_t band_rows;  // output rows per band, even, at most MAX_BAND_ROWS
  // The window the sweep computes, columns by rows; 0 by 0 for a sweep that
  // computes every window (it reads Band::rx and Band::ry).
  int32_t window_width, window_height;
  // Working memory per thread (Band::work) for a window of half-width rx and
  // half-height ry on pixels of `step` elements, in bytes; null for none.
  size_t (*work_bytes)(int32_t rx, int32_t ry, ptrdiff_t step);
  // A separable network run as data by one interpreter loop rather than
  // compiled: the choice weighs these apart from the compiled ones.
  bool interpreted = false;
};

// True when `code` computes windows of window_width x window_height.
inline bool serves(const KernelCode& code, int32_t window_width, int32_t window_height) {
  return code.window_width == 0 ||
         (code.window_width == window_width && code.window_height == window_height);
}

template <class T>
BandFunction<T> band_function(const KernelCode& code);
template <>
inline BandFunction<uint8_t> band_function<uint8_t>(const KernelCode& code) { return code.u8; }
template <>
inline BandFunction<uint16_t> band_function<uint16_t>(const KernelCode& code) { return code.u16; }
template <>
inline BandFunction<float> band_function<float>(const KernelCode& code) { return code.f32; }

// The border value that stands for "the frame around the image is in
// memory already and holds the border" (a zero-padded frame).
constexpr int PADDED_FRAME = -1;

// Checks every argument as median.h says (the window too, and that `code`
// serves it: MEDIAN_ERROR_KERNEL otherwise), then filters with `code`.
template <class T>
int filter_image(const KernelCode& code, const T* src, ptrdiff_t src_stride, T* dst,
                 ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
                 int32_t window_width, int32_t window_height, int border);

// median_filter_pass's contract, with `code`'s 8-bit sweep on a 5x5 window.
void padded_pass(const KernelCode& code, int32_t h, int32_t w, int32_t padded_width,
                 const uint8_t* padded, uint8_t* filtered);

}  // namespace median::detail
