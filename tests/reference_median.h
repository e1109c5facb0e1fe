// SPDX-License-Identifier: MIT
//
// The independent reference every kernel is held to: extend the image by the
// border with index arithmetic of its own (each mirror as a periodic
// sequence, not the library's step-by-step reflection), gather each window
// of one channel and take its middle element with std::nth_element.
// Floats are ordered as the library documents: numbers, -0.0 below +0.0,
// every NaN above +infinity.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "median/median.h"

namespace reference {

// Column or row i of an image n long, extended by `border`; -1 for zero.
inline int64_t extended_index(int64_t i, int64_t n, median_border border) {
  if (i >= 0 && i < n) return i;
  switch (border) {
    case MEDIAN_BORDER_ZERO:
      return -1;
    case MEDIAN_BORDER_REPLICATE:
      return i < 0 ? 0 : n - 1;
    case MEDIAN_BORDER_REFLECT: {  // a b c d d c b a a b ...: period 2n
      const int64_t m = ((i % (2 * n)) + 2 * n) % (2 * n);
      return m < n ? m : 2 * n - 1 - m;
    }
    case MEDIAN_BORDER_REFLECT_101: {  // a b c d c b a b ...: period 2n - 2
      if (n == 1) return 0;
      const int64_t period = 2 * n - 2;
      const int64_t m = ((i % period) + period) % period;
      return m < n ? m : period - m;
    }
  }
  return -1;
}

// The documented order of floats, as a strict weak order on values; among
// NaNs, by their bits, as the library orders them.
inline bool float_less(float a, float b) {
  const bool a_nan = std::isnan(a), b_nan = std::isnan(b);
  if (a_nan || b_nan) {
    if (!a_nan) return true;
    if (!b_nan) return false;
    uint32_t x, y;
    std::memcpy(&x, &a, 4);
    std::memcpy(&y, &b, 4);
    // Positive NaNs first, by payload; then negative ones, by decreasing payload.
    const bool x_negative = x >> 31, y_negative = y >> 31;
    if (x_negative != y_negative) return !x_negative;
    return x_negative ? x > y : x < y;
  }
  if (a == b) return std::signbit(a) && !std::signbit(b);  // -0.0 below +0.0
  return a < b;
}

template <class T>
bool less(T a, T b) {
  if constexpr (std::is_same_v<T, float>)
    return float_less(a, b);
  else
    return a < b;
}

// The window_width x window_height median of a packed image (rows of
// width * channels elements): the (n - 1) / 2-th smallest of the n window
// elements of the same channel.
template <class T>
std::vector<T> median(const std::vector<T>& image, int32_t width, int32_t height, int32_t channels,
                      int32_t window_width, int32_t window_height, median_border border) {
  std::vector<T> out(image.size());
  const int64_t rx = window_width / 2, ry = window_height / 2;
  std::vector<T> window(size_t(window_width) * size_t(window_height));
  const size_t middle = (window.size() - 1) / 2;
  // The source column of every window column, once per image.
  std::vector<int64_t> columns(size_t(width + 2 * rx));
  for (int64_t x = -rx; x < width + rx; ++x) columns[size_t(x + rx)] = extended_index(x, width, border);
  for (int64_t y = 0; y < height; ++y)
    for (int64_t x = 0; x < width; ++x)
      for (int64_t c = 0; c < channels; ++c) {
        size_t n = 0;
        for (int64_t dy = -ry; dy <= ry; ++dy) {
          const int64_t sy = extended_index(y + dy, height, border);
          for (int64_t dx = -rx; dx <= rx; ++dx) {
            const int64_t sx = columns[size_t(x + dx + rx)];
            window[n++] = sy < 0 || sx < 0 ? T(0) : image[size_t((sy * width + sx) * channels + c)];
          }
        }
        std::nth_element(window.begin(), window.begin() + ptrdiff_t(middle), window.end(), less<T>);
        out[size_t((y * width + x) * channels + c)] = window[middle];
      }
  return out;
}

template <class T>
std::vector<T> median5x5(const std::vector<T>& image, int32_t width, int32_t height,
                         int32_t channels, median_border border) {
  return median(image, width, height, channels, 5, 5, border);
}

}  // namespace reference
