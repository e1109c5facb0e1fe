// SPDX-License-Identifier: MIT
//
// Every kernel, at several thread counts, through the caller's entry point
// (median::filter, which median_filter_u8, _u16 and _f32 call with the
// automatic choice), against the independent reference, element for
// element, on the windows it serves (a kernel of one window size on its
// own, one of every window on a range of them, square and not, up to windows
// far larger than the image): every width from 1 to 40 (so rows meet every
// remainder of every vector width, narrower than a vector included) and
// heights from 1 to 9, with every channel count and border; rows wide enough
// for an interior at the widest vectors; strides with gaps; in place, with
// tall windows whose rows cross bands and threads' blocks.  The source ends at an inaccessible
// page and the destination is fenced with guard bytes, in the gaps between
// rows too, so a stray read faults and a stray write shows.  The 8-bit
// kernels' passes on a zero-padded frame are checked the same way.
// scripts/test runs all of this under AddressSanitizer as well.

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "emulated_wide_kernels.h"
#include "image_buffers.h"
#include "median/median_filter.h"
#include "reference_median.h"

namespace {

constexpr median_border BORDERS[] = {MEDIAN_BORDER_ZERO, MEDIAN_BORDER_REPLICATE,
                                     MEDIAN_BORDER_REFLECT_101, MEDIAN_BORDER_REFLECT};

// Random elements: full-range, or few values full of ties.  Floats are
// signed, with both zeros among them.
template <class T>
std::vector<T> random_elements(size_t n, std::mt19937* rng, bool few_values) {
  std::vector<T> out(n);
  for (T& v : out) {
    const uint32_t r = (*rng)();
    if constexpr (std::is_same_v<T, float>) {
      v = few_values ? float(int(r % 5) - 2) * 0.5f : float(int32_t(r % 200001) - 100000) / 64.0f;
      if (v == 0 && (r >> 20) % 2) v = -0.0f;
    } else {
      v = few_values ? T(r % 3 * (T(~T(0)) / 2)) : T(r);
    }
  }
  return out;
}

template <class T>
::testing::AssertionResult same_elements(const std::vector<T>& got, const std::vector<T>& want) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (size_t i = 0; i < got.size(); ++i)
    if (std::memcmp(&got[i], &want[i], sizeof(T)) != 0)
      return ::testing::AssertionFailure()
             << "element " << i << " is " << double(got[i]) << ", want " << double(want[i]);
  return ::testing::AssertionSuccess();
}

// The tallest band of the sweeps the matrices meet most (the row pairs and
// the column walk at 512 bits): images taller than two of them cross bands.
constexpr int32_t MAX_BAND = 128;

// A window, columns by rows.
struct Window {
  int32_t width, height;
};

// One image as a caller would hand it over: rows with a gap of `gap`
// elements, the destination `misalign` bytes off alignment; and the window.
struct Layout {
  int32_t w, h, channels;
  median_border border;
  size_t gap = 0, misalign = 0;
  Window window = {5, 5};
};

std::string describe(const Layout& l) {
  return std::to_string(l.w) + "x" + std::to_string(l.h) + "x" + std::to_string(l.channels) +
         " border " + std::to_string(int(l.border)) + " gap " + std::to_string(l.gap) +
         " window " + std::to_string(l.window.width) + "x" + std::to_string(l.window.height);
}

template <class T>
std::vector<T> reference_of(const std::vector<T>& image, const Layout& l) {
  return reference::median(image, l.w, l.h, l.channels, l.window.width, l.window.height, l.border);
}

// The windows a test takes its cases from for a kernel of every window:
// small and middle ones, flat and tall ones, even 1 x 1.
constexpr Window SMALL_WINDOWS[] = {{3, 3}, {1, 1}, {7, 7}, {1, 5}, {5, 1}, {3, 7},
                                    {9, 3}, {5, 5}, {11, 11}, {15, 5}, {3, 1}, {9, 9}};
// Windows for wide rows: larger, and rectangular both ways.
constexpr Window WIDE_ROW_WINDOWS[] = {{7, 7}, {31, 5}, {3, 15}, {25, 3}, {13, 13}, {1, 9}};

template <class T>
std::vector<T> run_kernel(const median::Kernel& kernel, const std::vector<T>& packed,
                          const Layout& l) {
  const size_t row = size_t(l.w) * l.channels, stride = (row + l.gap) * sizeof(T);
  const FencedImage<T> src(packed, l.h, row, stride, 0);
  GuardedImage<T> dst(l.h, row, stride + (l.gap % 2) * sizeof(T), l.misalign);
  const int status = median::filter(kernel, src.data(), src.stride(), dst.data(), dst.stride(),
                                    l.w, l.h, l.channels, l.window.width, l.window.height, l.border);
  EXPECT_EQ(status, MEDIAN_OK) << median_error_string(status);
  EXPECT_TRUE(dst.guards_intact()) << "wrote outside the rows";
  return dst.packed();
}

// Filters in place: the source rows are the destination rows.
template <class T>
std::vector<T> run_in_place(const median::Kernel& kernel, const std::vector<T>& packed,
                            const Layout& l) {
  const size_t row = size_t(l.w) * l.channels, stride = (row + l.gap) * sizeof(T);
  GuardedImage<T> image(l.h, row, stride, l.misalign);
  for (int32_t y = 0; y < l.h; ++y)
    std::memcpy(reinterpret_cast<uint8_t*>(image.data()) + y * stride, &packed[y * row],
                row * sizeof(T));
  const int status =
      median::filter(kernel, image.data(), image.stride(), image.data(), image.stride(), l.w, l.h,
                     l.channels, l.window.width, l.window.height, l.border);
  EXPECT_EQ(status, MEDIAN_OK) << median_error_string(status);
  EXPECT_TRUE(image.guards_intact()) << "wrote outside the rows";
  return image.packed();
}

// Every kernel built into the library, and the 512-bit sweeps emulated on
// 256-bit halves, so that their logic is tested where AVX-512 is missing.
const std::vector<median::Kernel>& kernels_under_test() {
  static const std::vector<median::Kernel> all = [] {
    std::vector<median::Kernel> k = median::kernels();
    k.insert(k.end(), emulated512::KERNELS, emulated512::KERNELS + emulated512::KERNEL_COUNT);
    return k;
  }();
  return all;
}

class KernelMatrix : public ::testing::TestWithParam<std::tuple<std::string, int>> {
 protected:
  void SetUp() override {
    for (const median::Kernel& k : kernels_under_test())
      if (k.name == std::get<0>(GetParam())) kernel_ = &k;
    ASSERT_NE(kernel_, nullptr);
    if (!median::is_supported(*kernel_))
      GTEST_SKIP() << kernel_->name << ": this processor lacks " << kernel_->isa;
    saved_ = omp_get_max_threads();
    omp_set_num_threads(std::get<1>(GetParam()));
  }
  void TearDown() override { omp_set_num_threads(saved_); }

  // The window for case i: the kernel's own, or for a kernel of every
  // window, one of `windows`, in turn.
  template <size_t N>
  Window window(size_t i, const Window (&windows)[N]) const {
    if (kernel_->window_width) return {kernel_->window_width, kernel_->window_height};
    return windows[i % N];
  }

  // Calls body.template operator()<T>() with the kernel's lane type.
  template <class Body>
  void for_lane(Body body) const {
    switch (kernel_->lane) {
      case median::Lane::u8: return body(uint8_t{});
      case median::Lane::u16: return body(uint16_t{});
      case median::Lane::f32: return body(float{});
    }
  }

  const median::Kernel* kernel_ = nullptr;

 private:
  int saved_ = 1;
};

TEST_P(KernelMatrix, MatchesReferenceForEveryWidthUpTo40) {
  for_lane([&](auto zero) {
    using T = decltype(zero);
    std::mt19937 rng{unsigned(std::get<1>(GetParam()))};
    for (int32_t h = 1; h <= 9; ++h)
      for (int32_t w = 1; w <= 40; ++w) {
        // Every channel count and border meets every height's residue mod
        // 4, and every window many sizes.
        const Layout l{w,           h,           1 + (w + h) % 4, BORDERS[(w + 2 * h) % 4],
                       size_t(w % 3), size_t(w % 5), window(size_t(w * 3 + h), SMALL_WINDOWS)};
        const std::vector<T> image = random_elements<T>(size_t(w) * h * l.channels, &rng, w % 7 == 0);
        ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l)))
            << describe(l);
      }
  });
}

// Rows with an interior at every vector width and several strips of the
// row-pair sweep; odd and even heights, several bands; every channel count
// and border, with full-range values and with ties.
TEST_P(KernelMatrix, MatchesReferenceOnWideRowsWithEveryBorderAndChannelCount) {
  for_lane([&](auto zero) {
    using T = decltype(zero);
    std::mt19937 rng{7};
    size_t i = 0;
    for (const auto& [w, h] : {std::pair{130, 9}, {301, 12}, {83, 70}})
      for (int32_t channels = 1; channels <= 4; ++channels)
        for (const median_border border : BORDERS) {
          const Layout l{w, h, channels, border, size_t(channels + 1), 3, window(i++, WIDE_ROW_WINDOWS)};
          const bool few = (channels + int(border)) % 2;
          const std::vector<T> image = random_elements<T>(size_t(w) * h * channels, &rng, few);
          ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l)))
              << describe(l);
        }
    // Taller than two of the tallest bands, with a remainder.
    for (const median_border border : {MEDIAN_BORDER_ZERO, MEDIAN_BORDER_REFLECT}) {
      const Layout l{97, 2 * MAX_BAND + 21, 3, border, 5, 1, window(i++, WIDE_ROW_WINDOWS)};
      const std::vector<T> image = random_elements<T>(size_t(l.w) * l.h * 3, &rng, false);
      ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l)))
          << describe(l);
    }
  });
}

// In place the result is the same, whatever the heights of the bands and
// the threads' blocks, and however many rows above and below they reach.
constexpr Window IN_PLACE_WINDOWS[] = {{5, 5}, {3, 61}, {9, 1}, {21, 21}, {1, 3}, {7, 131}};
TEST_P(KernelMatrix, InPlaceGivesTheSameResult) {
  for_lane([&](auto zero) {
    using T = decltype(zero);
    std::mt19937 rng{13};
    size_t i = 0;
    for (const auto& [w, h] :
         {std::pair{1, 1}, {2, 3}, {5, 2}, {37, 9}, {70, 17}, {40, 131}, {19, 2 * MAX_BAND + 35}}) {
      const int32_t channels = 1 + (w + h) % 4;
      for (const median_border border : BORDERS) {
        const Layout l{w, h, channels, border, size_t(w % 2), 1, window(i++, IN_PLACE_WINDOWS)};
        const std::vector<T> image = random_elements<T>(size_t(w) * h * channels, &rng, false);
        ASSERT_TRUE(same_elements(run_in_place(*kernel_, image, l), reference_of(image, l)))
            << describe(l);
      }
    }
  });
}

// Windows up to the largest, on images smaller than them, square and not:
// the mirrors reflect again and again.  Kernels of every window only.
class AnyWindowMatrix : public KernelMatrix {};

TEST_P(AnyWindowMatrix, WindowsLargerThanTheImage) {
  for_lane([&](auto zero) {
    using T = decltype(zero);
    std::mt19937 rng{21};
    // The largest windows on the smallest images, so that the reference,
    // which gathers every window, stays quick.
    struct Case {
      int32_t w, h;
      Window windows[2];
    };
    const Case cases[] = {{1, 1, {{255, 255}, {1, 255}}},
                          {2, 3, {{255, 255}, {3, 255}}},
                          {17, 5, {{255, 3}, {101, 51}}},
                          {40, 20, {{31, 101}, {3, 255}}}};
    size_t i = 0;
    for (const Case& c : cases)
      for (const median_border border : BORDERS) {
        const Layout l{c.w, c.h, 1 + int32_t(i % 4), border, i % 3, i % 5, c.windows[i % 2]};
        ++i;
        const std::vector<T> image = random_elements<T>(size_t(c.w) * c.h * l.channels, &rng, i % 3 == 0);
        ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l)))
            << describe(l);
      }
  });
}

// Values at the ends of the range and at the edges of the histograms'
// coarse bins (16 values for 8 bits, 256 for 16); for floats, infinities,
// NaNs of both signs and other payloads, both zeros, denormals.
template <class T>
std::vector<T> extreme_values() {
  if constexpr (std::is_same_v<T, float>) {
    const float inf = std::numeric_limits<float>::infinity();
    const float denormal = std::numeric_limits<float>::denorm_min();
    float negative_nan;
    const uint32_t bits = 0xFFC00005u;
    std::memcpy(&negative_nan, &bits, sizeof bits);
    return {-inf, inf, std::numeric_limits<float>::quiet_NaN(), negative_nan, -0.0f, 0.0f,
            std::numeric_limits<float>::max(), -denormal, denormal};
  } else {
    const T top = T(~T(0)), bin = sizeof(T) == 1 ? 16 : 256;
    return {0, top, T(bin - 1), bin, T(top - bin + 1), 1};
  }
}

// Windows of one value throughout, 255 x 255 of them (more than a signed
// 16-bit count holds), and images of two or of all the extreme values,
// whose many ties and extremes the histograms' counts and the ranks'
// orders must keep apart.
TEST_P(AnyWindowMatrix, ExtremeValuesAndTies) {
  for_lane([&](auto zero) {
    using T = decltype(zero);
    const std::vector<T> values = extreme_values<T>();
    std::mt19937 rng{33};
    size_t i = 0;
    for (const T v : values) {
      const Layout l{4, 3, 1 + int32_t(i % 2), BORDERS[1 + i % 3], i % 3, i % 5, {255, 255}};
      ++i;
      const std::vector<T> image(size_t(l.w) * l.h * l.channels, v);
      ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l))) << describe(l);
    }
    constexpr Window WINDOWS[] = {{255, 255}, {3, 3}, {9, 5}, {1, 7}, {31, 31}};
    for (const Window window : WINDOWS)
      for (const bool two : {true, false}) {
        const int32_t channels = 1 + int32_t(i % 4);
        const Layout l{window.width > 31 ? 5 : 33, window.height > 31 ? 4 : 7, channels,
                       BORDERS[i % 4], i % 3, i % 5, window};
        ++i;
        const T a = values[rng() % values.size()], b = values[rng() % values.size()];
        std::vector<T> image(size_t(l.w) * l.h * channels);
        for (T& e : image) e = two ? (rng() % 3 ? a : b) : values[rng() % values.size()];
        ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l))) << describe(l);
      }
  });
}

// The kernels that work in tiles of columns and bands of rows (512 pixels
// and 2048 rows for 8 bits, 512 in place; tiles of 64, 128 or 256 pixels a
// channel, and as many rows, for the ranks of 16 bits and floats): rows
// just longer than whole tiles, with every channel count, including a
// window one pixel wide, whose edges are one element and leave the interior
// starting at channel 1; and columns just taller than whole bands, under
// windows that reach across them, copied and in place.
TEST_P(AnyWindowMatrix, TileAndBandBoundaries) {
  for_lane([&](auto zero) {
    using T = decltype(zero);
    std::mt19937 rng{35};
    size_t i = 0;
    struct Case {
      int32_t w, h;
      Window window;
    };
    const Case rows[] = {{515, 2, {3, 3}}, {517, 2, {1, 3}}, {530, 2, {3, 1}}, {193, 2, {65, 3}},
                         {261, 2, {129, 3}}};
    // A tile of ranks whose runs of one code are longer than 64 entries
    // (192 x 154 elements, 116 a code), which the scans take in steps.
    {
      const Layout l{150, 90, 1, BORDERS[3], 1, 2, {65, 65}};
      const std::vector<T> image = random_elements<T>(size_t(l.w) * l.h, &rng, false);
      ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l))) << describe(l);
    }
    for (const Case& c : rows)
      for (int32_t channels = 1; channels <= 4; ++channels) {
        const Layout l{c.w, c.h, channels, BORDERS[i % 4], i % 3, i % 5, c.window};
        ++i;
        const std::vector<T> image = random_elements<T>(size_t(c.w) * c.h * channels, &rng, i % 2);
        ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), reference_of(image, l))) << describe(l);
      }
    const Case columns[] = {{3, 513, {3, 3}}, {2, 515, {1, 61}}, {3, 1030, {3, 129}}, {2, 4099, {3, 5}}};
    for (const Case& c : columns) {
      const Layout l{c.w, c.h, 1, BORDERS[i % 4], i % 3, i % 5, c.window};
      ++i;
      const std::vector<T> image = random_elements<T>(size_t(c.w) * c.h, &rng, false);
      const std::vector<T> want = reference_of(image, l);
      ASSERT_TRUE(same_elements(run_kernel(*kernel_, image, l), want)) << describe(l);
      ASSERT_TRUE(same_elements(run_in_place(*kernel_, image, l), want)) << describe(l);
    }
  });
}

class VectorKernelMatrix : public KernelMatrix {};

// A frame large enough for streaming stores, 3 channels, zero border, at
// the kernel's own window (5x5 for a kernel of every window), made of bytes
// mapped into the lane type in order.  What each output must be comes from
// the bytes: for 5x5 by the fastest pass on the padded frame, for other
// windows by the sliding histogram, once per frame height and window.
constexpr int32_t STREAMED_W = 1603;
constexpr size_t STREAMED_BYTES = size_t(8) << 20;

std::vector<uint8_t> streamed_bytes(int32_t h) {
  std::mt19937 rng{3};
  return random_elements<uint8_t>(size_t(STREAMED_W) * h * 3, &rng, false);
}

const std::vector<uint8_t>& streamed_median(int32_t h, int32_t window) {
  static std::map<std::pair<int32_t, int32_t>, std::vector<uint8_t>> medians;
  std::vector<uint8_t>& want = medians[{h, window}];
  if (!want.empty()) return want;
  const std::vector<uint8_t> bytes = streamed_bytes(h);
  want.resize(bytes.size());
  if (window == 5) {
    std::vector<uint8_t> padded(size_t(STREAMED_W + 4) * (h + 4) * 3, 0);
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(&padded[(size_t(y + 2) * (STREAMED_W + 4) + 2) * 3],
                  &bytes[size_t(y) * STREAMED_W * 3], size_t(STREAMED_W) * 3);
    median_filter_pass_fastest(h, STREAMED_W, STREAMED_W + 4, padded.data(), want.data());
  } else {
    const ptrdiff_t stride = ptrdiff_t(STREAMED_W) * 3;
    EXPECT_EQ(median::filter(*median::find_kernel("huang_portable"), bytes.data(), stride,
                             want.data(), stride, STREAMED_W, h, 3, window, window,
                             MEDIAN_BORDER_ZERO),
              MEDIAN_OK);
  }
  return want;
}

TEST_P(VectorKernelMatrix, MatchesTheExpectedMedianOnAStreamedFrame) {
  const int32_t window = kernel_->window_width ? kernel_->window_width : 5;
  for_lane([&](auto zero) {
    using T = decltype(zero);
    const int32_t h = int32_t(STREAMED_BYTES / (size_t(STREAMED_W) * 3 * sizeof(T))) + 3;
    const std::vector<uint8_t> bytes = streamed_bytes(h);
    const std::vector<uint8_t>& want = streamed_median(h, window);
    // An order-preserving map of bytes into the lane type that keeps 0, the
    // zero border's value, at 0.
    auto promote = [](uint8_t v) {
      if constexpr (std::is_same_v<T, float>)
        return float(v) / 255.0f;
      else
        return T(v * (T(~T(0)) / 255));
    };
    std::vector<T> image(bytes.size()), expected(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) image[i] = promote(bytes[i]), expected[i] = promote(want[i]);
    for (const size_t misalign : {size_t(0), sizeof(T)}) {
      GuardedImage<T> dst(h, size_t(STREAMED_W) * 3, size_t(STREAMED_W) * 3 * sizeof(T), misalign);
      ASSERT_EQ(median::filter(*kernel_, image.data(), ptrdiff_t(STREAMED_W) * 3 * sizeof(T),
                               dst.data(), dst.stride(), STREAMED_W, h, 3, window, window,
                               MEDIAN_BORDER_ZERO),
                MEDIAN_OK);
      EXPECT_TRUE(dst.guards_intact());
      EXPECT_TRUE(same_elements(dst.packed(), expected)) << "misaligned by " << misalign;
    }
  });
}

// Each kernel with the thread counts it runs on: 1, 2, 3 and 7 for the 5x5
// kernels and those of every window; 1 and 3 (one band, and blocks of odd
// heights) for the kernels of other windows, which are many and whose
// windows the reference is slow to gather.
std::vector<std::tuple<std::string, int>> with_threads(const std::vector<std::string>& names) {
  std::vector<std::tuple<std::string, int>> params;
  for (const std::string& name : names) {
    const median::Kernel* k = nullptr;
    for (const median::Kernel& candidate : kernels_under_test())
      if (name == candidate.name) k = &candidate;
    const bool all = k->window_width == 0 || (k->window_width == 5 && k->window_height == 5);
    for (const int threads : {1, 2, 3, 7})
      if (all || threads == 1 || threads == 3) params.emplace_back(name, threads);
  }
  return params;
}

std::vector<std::string> kernel_names() {
  std::vector<std::string> names;
  for (const median::Kernel& k : kernels_under_test()) names.push_back(k.name);
  return names;
}

std::string param_name(const ::testing::TestParamInfo<std::tuple<std::string, int>>& info) {
  return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param)) + "threads";
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelMatrix, ::testing::ValuesIn(with_threads(kernel_names())),
                         param_name);

std::vector<std::string> any_window_kernel_names() {
  std::vector<std::string> names;
  for (const median::Kernel& k : kernels_under_test())
    if (!k.window_width) names.push_back(k.name);
  return names;
}

// Streaming stores are a matter of the 5x5 vector sweeps only (the row
// pairs store past the caches on large frames; the other sweeps never do,
// and the matrices above hold them on every width).
std::vector<std::string> vector_kernel_names() {
  std::vector<std::string> names;
  for (const median::Kernel& k : kernels_under_test())
    if (k.vector_bits && k.window_width == 5) names.push_back(k.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Kernels, VectorKernelMatrix,
                         ::testing::ValuesIn(with_threads(vector_kernel_names())), param_name);

INSTANTIATE_TEST_SUITE_P(Kernels, AnyWindowMatrix,
                         ::testing::Combine(::testing::ValuesIn(any_window_kernel_names()),
                                            ::testing::Values(1, 3)),
                         param_name);

// The 8-bit kernels' passes on a zero-padded frame (median_filter_pass's
// contract): every width up to 40, small heights, the frame ending at an
// inaccessible page, the output fenced.
class PaddedPassMatrix : public KernelMatrix {};

TEST_P(PaddedPassMatrix, MatchesReferenceForEveryWidthUpTo40) {
  std::mt19937 rng{unsigned(std::get<1>(GetParam()))};
  for (int32_t h = 1; h <= 7; ++h)
    for (int32_t w = 1; w <= 40; ++w) {
      const std::vector<uint8_t> image = random_elements<uint8_t>(size_t(w) * h * 3, &rng, false);
      std::vector<uint8_t> padded(size_t(w + 4) * (h + 4) * 3, 0);
      for (int32_t y = 0; y < h; ++y)
        std::memcpy(&padded[(size_t(y + 2) * (w + 4) + 2) * 3], &image[size_t(y) * w * 3], size_t(w) * 3);
      const FencedBytes frame(padded);
      GuardedImage<uint8_t> out(h, size_t(w) * 3, size_t(w) * 3, size_t(w % 3));
      kernel_->pass(h, w, w + 4, frame.data(), out.data());
      EXPECT_TRUE(out.guards_intact()) << w << "x" << h;
      ASSERT_TRUE(same_elements(out.packed(), reference::median5x5(image, w, h, 3, MEDIAN_BORDER_ZERO)))
          << w << "x" << h;
    }
}

// The 8-bit kernels that have a padded-frame pass (those that compute 5x5).
std::vector<std::string> pass_kernel_names() {
  std::vector<std::string> names;
  for (const median::Kernel& k : kernels_under_test())
    if (k.pass) names.push_back(k.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Kernels, PaddedPassMatrix,
                         ::testing::Combine(::testing::ValuesIn(pass_kernel_names()),
                                            ::testing::Values(1, 3)),
                         param_name);

// Threads take each other's rows when their own run out, and threads past
// the 256 that have blocks of their own work only on rows they take.  On
// frames tall enough for many such halves, with windows one row high (the
// smallest halves) and taller, every row is filtered once and right, at
// thread counts below and above 256.
TEST(FrameWalk, ThreadsTakingEachOthersRowsFilterEveryRowOnce) {
  const int saved = omp_get_max_threads();
  std::mt19937 rng{41};
  const std::vector<uint16_t> image = random_elements<uint16_t>(size_t(3) * 8200 * 2, &rng, false);
  for (const int threads : {5, 263})
    for (const Window window : {Window{3, 1}, Window{5, 5}, Window{1, 9}}) {
      omp_set_num_threads(threads);
      const Layout l{3, 8200, 2, MEDIAN_BORDER_REFLECT, 1, 0, window};
      const std::vector<uint16_t> got = run_kernel(median::chosen_kernel(median::Lane::u16,
                                                   window.width, window.height), image, l);
      omp_set_num_threads(saved);
      ASSERT_TRUE(same_elements(got, reference_of(image, l)))
          << threads << " threads, " << describe(l);
    }
}

}  // namespace
