// SPDX-License-Identifier: MIT
//
// The caller's entry points (median_filter_* and median5x5_*) as a caller
// meets them: every refusal with its status and message and the destination
// untouched, which buffers count as overlapping, the order of floats (NaNs,
// infinities, signed zeros, denormals) in every float kernel, agreement with
// OpenCV where the build has it, and which kernel the automatic choice and
// MEDIAN_KERNEL pick for each window.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#ifdef MEDIAN_WITH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "emulated_wide_kernels.h"
#include "median/median5x5.h"
#include "median/median_filter.h"
#include "reference_median.h"

namespace {

constexpr uint8_t UNTOUCHED = 0x5A;

// One call that must be refused with `status`, leaving dst as it was.
void expect_refused(int status, const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst,
                    ptrdiff_t dst_stride, int32_t w, int32_t h, int32_t c, int border,
                    size_t dst_bytes) {
  std::vector<uint8_t> before(dst ? dst : src, (dst ? dst : src) + dst_bytes);
  EXPECT_EQ(median5x5_u8(src, src_stride, dst, dst_stride, w, h, c, median_border(border)), status)
      << median_error_string(status);
  if (dst) {
    EXPECT_TRUE(std::equal(before.begin(), before.end(), dst)) << "dst was written";
  }
}

TEST(Median5x5, RefusesEveryBadArgumentAndWritesNothing) {
  std::vector<uint8_t> src(64 * 64 * 4, 7), dst(64 * 64 * 4, UNTOUCHED);
  const size_t n = dst.size();
  uint8_t *s = src.data(), *d = dst.data();
  expect_refused(MEDIAN_ERROR_NULL_POINTER, nullptr, 30, d, 30, 10, 10, 3, 0, n);
  expect_refused(MEDIAN_ERROR_NULL_POINTER, s, 30, nullptr, 30, 10, 10, 3, 0, 0);
  expect_refused(MEDIAN_ERROR_SIZE, s, 30, d, 30, 0, 10, 3, 0, n);
  expect_refused(MEDIAN_ERROR_SIZE, s, 30, d, 30, 10, -1, 3, 0, n);
  expect_refused(MEDIAN_ERROR_CHANNELS, s, 30, d, 30, 10, 10, 0, 0, n);
  expect_refused(MEDIAN_ERROR_CHANNELS, s, 50, d, 50, 10, 10, 5, 0, n);
  expect_refused(MEDIAN_ERROR_STRIDE, s, 29, d, 30, 10, 10, 3, 0, n);
  expect_refused(MEDIAN_ERROR_STRIDE, s, 30, d, -30, 10, 10, 3, 0, n);
  expect_refused(MEDIAN_ERROR_BORDER, s, 30, d, 30, 10, 10, 3, 4, n);
  expect_refused(MEDIAN_ERROR_BORDER, s, 30, d, 30, 10, 10, 3, -1, n);
  // dst one row down from src, with the same stride: neither the same image
  // nor disjoint.
  expect_refused(MEDIAN_ERROR_OVERLAP, s, 30, s + 30, 30, 10, 10, 3, 0, 0);
  // The same start with another stride.
  expect_refused(MEDIAN_ERROR_OVERLAP, s, 30, s, 40, 10, 10, 3, 0, 0);
  // An image that would run past the end of the address space.
  expect_refused(MEDIAN_ERROR_SIZE, s, PTRDIFF_MAX / 2, d, 30, 10, 10, 3, 0, n);

  // The other element types check their strides in whole elements.
  std::vector<uint16_t> s16(100), d16(100, 9);
  EXPECT_EQ(median5x5_u16(s16.data(), 21, d16.data(), 20, 10, 2, 1, MEDIAN_BORDER_ZERO),
            MEDIAN_ERROR_STRIDE);
  std::vector<float> s32(100), d32(100, 9);
  EXPECT_EQ(median5x5_f32(s32.data(), 40, d32.data(), 42, 10, 2, 1, MEDIAN_BORDER_ZERO),
            MEDIAN_ERROR_STRIDE);
  EXPECT_EQ(median5x5_f32(s32.data(), 36, d32.data(), 40, 10, 2, 1, MEDIAN_BORDER_ZERO),
            MEDIAN_ERROR_STRIDE);
  EXPECT_EQ(d16, std::vector<uint16_t>(100, 9));
  EXPECT_EQ(d32, std::vector<float>(100, 9));
}

// Every bad window, at every element type, with the destination untouched:
// even sides, sides below 1 or above the largest.
TEST(MedianFilter, RefusesEveryBadWindowAndWritesNothing) {
  const int32_t w = 9, h = 7;
  std::vector<uint8_t> s8(w * h, 7), d8(w * h, UNTOUCHED);
  std::vector<uint16_t> s16(w * h, 7), d16(w * h, UNTOUCHED);
  std::vector<float> s32(w * h, 7), d32(w * h, UNTOUCHED);
  const std::pair<int32_t, int32_t> bad[] = {{4, 5},  {5, 2},  {0, 3},   {3, -1},
                                             {257, 1}, {1, 256}, {-255, 3}, {INT32_MIN, 1}};
  for (const auto& [ww, wh] : bad) {
    EXPECT_EQ(median_filter_u8(s8.data(), w, d8.data(), w, w, h, 1, ww, wh, MEDIAN_BORDER_REFLECT),
              MEDIAN_ERROR_WINDOW);
    EXPECT_EQ(median_filter_u16(s16.data(), 2 * w, d16.data(), 2 * w, w, h, 1, ww, wh,
                                MEDIAN_BORDER_ZERO),
              MEDIAN_ERROR_WINDOW);
    EXPECT_EQ(median_filter_f32(s32.data(), 4 * w, d32.data(), 4 * w, w, h, 1, ww, wh,
                                MEDIAN_BORDER_REPLICATE),
              MEDIAN_ERROR_WINDOW);
  }
  EXPECT_EQ(d8, std::vector<uint8_t>(w * h, UNTOUCHED));
  EXPECT_EQ(d16, std::vector<uint16_t>(w * h, UNTOUCHED));
  EXPECT_EQ(d32, std::vector<float>(w * h, UNTOUCHED));
  // The largest window is allowed, and a kernel of one window size refuses
  // any other.
  EXPECT_EQ(median_filter_u8(s8.data(), w, d8.data(), w, w, h, 1, 255, 255, MEDIAN_BORDER_ZERO),
            MEDIAN_OK);
  std::fill(d8.begin(), d8.end(), UNTOUCHED);
  EXPECT_EQ(median::filter(median::fastest_kernel(median::Lane::u8), s8.data(), w, d8.data(), w,
                           w, h, 1, 7, 7, MEDIAN_BORDER_ZERO),
            MEDIAN_ERROR_KERNEL);
  EXPECT_EQ(d8, std::vector<uint8_t>(w * h, UNTOUCHED));
}

TEST(Median5x5, EveryStatusHasItsOwnMessage) {
  std::vector<std::string> seen;
  for (int status = MEDIAN_OK; status >= MEDIAN_ERROR_WINDOW; --status) {
    const std::string message = median_error_string(status);
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), message), 0) << message;
    seen.push_back(message);
  }
  EXPECT_STREQ(median_error_string(1), "unknown status");
  EXPECT_STREQ(median_error_string(-1000), "unknown status");
}

// Rows of two images may interleave without sharing a byte: a region of a
// picture filtered into the region beside it is not an overlap.
TEST(Median5x5, ImagesSideBySideInOneBufferAreDisjoint) {
  const int32_t w = 9, h = 6, stride = 2 * w;
  std::vector<uint8_t> buffer(size_t(stride) * h);
  std::mt19937 rng(1);
  for (auto& b : buffer) b = uint8_t(rng());
  std::vector<uint8_t> left(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y) std::memcpy(&left[size_t(y) * w], &buffer[size_t(y) * stride], w);
  ASSERT_EQ(median5x5_u8(buffer.data(), stride, buffer.data() + w, stride, w, h, 1,
                         MEDIAN_BORDER_REFLECT),
            MEDIAN_OK);
  const std::vector<uint8_t> want = reference::median5x5(left, w, h, 1, MEDIAN_BORDER_REFLECT);
  for (int32_t y = 0; y < h; ++y) {
    EXPECT_EQ(std::memcmp(&buffer[size_t(y) * stride], &left[size_t(y) * w], w), 0) << "source row " << y;
    EXPECT_EQ(std::memcmp(&buffer[size_t(y) * stride + w], &want[size_t(y) * w], w), 0) << "row " << y;
  }
  // Shifted by one element, the rows share bytes.
  EXPECT_EQ(median5x5_u8(buffer.data(), stride, buffer.data() + w - 1, stride, w, h, 1,
                         MEDIAN_BORDER_REFLECT),
            MEDIAN_ERROR_OVERLAP);
}

// On images of one or two pixels the mirrors reflect until they land
// inside, as OpenCV's borderInterpolate does: 1 x 1 repeats its pixel, and
// of a b the 101 mirror reads ...a b a b a....
TEST(Median5x5, TinyImagesMirrorAsOpenCVDoes) {
  const uint8_t one = 200;
  for (const median_border border :
       {MEDIAN_BORDER_REPLICATE, MEDIAN_BORDER_REFLECT_101, MEDIAN_BORDER_REFLECT}) {
    uint8_t out = 0;
    ASSERT_EQ(median5x5_u8(&one, 1, &out, 1, 1, 1, 1, border), MEDIAN_OK);
    EXPECT_EQ(out, 200);
  }
  uint8_t zero_out = 1;
  ASSERT_EQ(median5x5_u8(&one, 1, &zero_out, 1, 1, 1, 1, MEDIAN_BORDER_ZERO), MEDIAN_OK);
  EXPECT_EQ(zero_out, 0);
  // One row of two: REFLECT_101 reads b a b | a b | a b, so each window row
  // holds three of one and two of the other; all five rows are the same row.
  const uint8_t two[2] = {10, 90};
  uint8_t out[2];
  ASSERT_EQ(median5x5_u8(two, 2, out, 2, 2, 1, 1, MEDIAN_BORDER_REFLECT_101), MEDIAN_OK);
  EXPECT_EQ(out[0], 10);  // a b [a] b a: three 10s
  EXPECT_EQ(out[1], 90);  // b a [b] a b: three 90s
}

// ---- floats ----------------------------------------------------------------

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();
const float DENORMAL = std::numeric_limits<float>::denorm_min();

std::vector<const median::Kernel*> float_kernels() {
  std::vector<const median::Kernel*> out;
  for (const median::Kernel& k : median::kernels())
    if (k.lane == median::Lane::f32 && median::is_supported(k)) out.push_back(&k);
  for (size_t i = 0; i < emulated512::KERNEL_COUNT; ++i)
    if (emulated512::KERNELS[i].lane == median::Lane::f32 && median::is_supported(emulated512::KERNELS[i]))
      out.push_back(&emulated512::KERNELS[i]);
  return out;
}

uint32_t bits_of(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

float from_bits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

// Windows of 25 values, one image each: a 5 x 5 grey image's centre output
// sees exactly its 25 pixels.
std::vector<std::vector<float>> special_windows() {
  std::vector<std::vector<float>> windows;
  std::mt19937 rng(5);
  auto numbers = [&](int n) {
    std::vector<float> v;
    for (int i = 0; i < n; ++i) v.push_back(float(int(rng() % 200) - 100) / 3.0f);
    return v;
  };
  // 0, 12, 13 and 25 NaNs among numbers, of either sign and other payloads.
  for (const int nans : {0, 12, 13, 25}) {
    std::vector<float> w = numbers(25 - nans);
    for (int i = 0; i < nans; ++i)
      w.push_back(i % 3 == 0 ? NaN : i % 3 == 1 ? -NaN : from_bits(0x7FC00000u + uint32_t(i)));
    windows.push_back(w);
  }
  // Infinities as values: 12 of -inf below, 13 of +inf at the median.
  std::vector<float> w(12, -INF);
  w.insert(w.end(), 13, INF);
  windows.push_back(w);
  // Signed zeros, with -0.0 at the median and with +0.0 there.
  w.assign(12, -1.0f), w.push_back(-0.0f), w.insert(w.end(), 12, 0.0f);
  windows.push_back(w);
  w.assign(12, -0.0f), w.push_back(0.0f), w.insert(w.end(), 12, 1.0f);
  windows.push_back(w);
  // Denormals keep their values (nothing is flushed to zero).
  w.assign(12, 0.0f), w.push_back(DENORMAL), w.insert(w.end(), 12, 2 * DENORMAL);
  windows.push_back(w);
  w.assign(12, -2 * DENORMAL), w.push_back(-DENORMAL), w.insert(w.end(), 12, 0.0f);
  windows.push_back(w);
  return windows;
}

TEST(Median5x5, FloatsFollowTheDocumentedOrderInEveryKernel) {
  std::mt19937 rng(9);
  for (std::vector<float> window : special_windows()) {
    const std::vector<float> sorted = [&] {
      std::vector<float> s = window;
      std::sort(s.begin(), s.end(), reference::float_less);
      return s;
    }();
    for (int shuffle = 0; shuffle < 4; ++shuffle) {
      std::shuffle(window.begin(), window.end(), rng);
      for (const median::Kernel* k : float_kernels()) {
        if (!median::serves(*k, 5, 5)) continue;
        std::vector<float> out(25);
        ASSERT_EQ(median::filter(*k, window.data(), 20, out.data(), 20, 5, 5, 1, MEDIAN_BORDER_ZERO),
                  MEDIAN_OK);
        EXPECT_EQ(bits_of(out[12]), bits_of(sorted[12]))
            << k->name << ": got " << out[12] << ", want " << sorted[12];
      }
    }
  }
}

// The same windows laid out as one row of 25 (a 25 x 1 window) and as one
// column (1 x 25), for the kernels of every window.
TEST(MedianFilter, FloatsFollowTheDocumentedOrderInEveryWindowShape) {
  std::mt19937 rng(10);
  for (std::vector<float> window : special_windows()) {
    std::vector<float> sorted = window;
    std::sort(sorted.begin(), sorted.end(), reference::float_less);
    std::shuffle(window.begin(), window.end(), rng);
    for (const median::Kernel* k : float_kernels()) {
      if (k->window_width) continue;
      for (const bool row : {true, false}) {
        std::vector<float> out(25);
        ASSERT_EQ(median::filter(*k, window.data(), row ? 100 : 4, out.data(), row ? 100 : 4,
                                 row ? 25 : 1, row ? 1 : 25, 1, row ? 25 : 1, row ? 1 : 25,
                                 MEDIAN_BORDER_ZERO),
                  MEDIAN_OK);
        EXPECT_EQ(bits_of(out[12]), bits_of(sorted[12]))
            << k->name << (row ? " row" : " column") << ": got " << out[12] << ", want " << sorted[12];
      }
    }
  }
}

// Every float kernel at its own window (7x5 for those of every window), on
// an image whose elements come from a pool of NaNs of both signs and other
// payloads, infinities, both zeros, denormals and a few numbers, many tied:
// the same bits as the reference's order gives.
TEST(MedianFilter, SpecialFloatsInEveryKernelAtItsWindow) {
  const float pool[] = {NaN, -NaN, from_bits(0x7FC00005u), from_bits(0xFFC00009u), INF, -INF,
                        0.0f, -0.0f, DENORMAL, -DENORMAL, 1.0f, -1.0f, 3.5f};
  const int32_t w = 19, h = 13;
  std::mt19937 rng(12);
  std::vector<float> image(size_t(w) * h);
  for (float& v : image) v = pool[rng() % std::size(pool)];
  for (const median::Kernel* k : float_kernels()) {
    const int32_t ww = k->window_width ? k->window_width : 7, wh = k->window_width ? k->window_height : 5;
    const std::vector<float> want = reference::median(image, w, h, 1, ww, wh, MEDIAN_BORDER_REFLECT);
    std::vector<float> out(image.size());
    ASSERT_EQ(median::filter(*k, image.data(), 4 * w, out.data(), 4 * w, w, h, 1, ww, wh,
                             MEDIAN_BORDER_REFLECT),
              MEDIAN_OK);
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_EQ(bits_of(out[i]), bits_of(want[i])) << k->name << " element " << i;
  }
}

// At most 12 NaNs never make a NaN; 13 always do.
TEST(Median5x5, TwelveNaNsNeverWinThirteenAlwaysDo) {
  for (const int nans : {12, 13}) {
    std::vector<float> window(25, 1.0f);
    for (int i = 0; i < nans; ++i) window[size_t(i * 2 % 25)] = i % 2 ? NaN : -NaN;
    float out[25];
    ASSERT_EQ(median5x5_f32(window.data(), 20, out, 20, 5, 5, 1, MEDIAN_BORDER_ZERO), MEDIAN_OK);
    EXPECT_EQ(std::isnan(out[12]), nans == 13);
  }
}

// ---- OpenCV ----------------------------------------------------------------

#ifdef MEDIAN_WITH_OPENCV
template <class T>
constexpr median::Lane LANE = std::is_same_v<T, uint8_t>    ? median::Lane::u8
                              : std::is_same_v<T, uint16_t> ? median::Lane::u16
                                                            : median::Lane::f32;

// cv::medianBlur(src, dst, k) replicates the edge; with that border every
// element, edges included, must be the same, for each window size, depth
// and channel count it takes (8-bit: every size; 16-bit and float: 3 and 5).
template <class T>
void expect_same_as_opencv(int cv_depth, std::initializer_list<int> sizes) {
  std::mt19937 rng(17);
  for (const int k : sizes)
    for (const int channels : {1, 3, 4})
      for (const auto& [w, h] : {std::pair{1, 1}, {2, 7}, {37, 29}, {301, 64}}) {
        cv::Mat src(h, w, CV_MAKETYPE(cv_depth, channels));
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w * channels; ++x) {
            if constexpr (std::is_same_v<T, float>)
              src.ptr<float>(y)[x] = float(int(rng() % 2001) - 1000) / 7.0f;
            else
              src.ptr<T>(y)[x] = T(rng());
          }
        cv::Mat theirs, ours(h, w, src.type());
        cv::medianBlur(src, theirs, k);
        ASSERT_EQ(median::filter(median::chosen_kernel(LANE<T>, k, k), src.ptr<T>(0),
                                 ptrdiff_t(src.step), ours.ptr<T>(0), ptrdiff_t(ours.step), w, h,
                                 channels, k, k, MEDIAN_BORDER_REPLICATE),
                  MEDIAN_OK);
        EXPECT_EQ(cv::norm(theirs, ours, cv::NORM_INF), 0)
            << w << "x" << h << "x" << channels << " window " << k;
      }
}

TEST(MedianFilter, ReplicateBorderMatchesOpenCVEverywhere) {
  expect_same_as_opencv<uint8_t>(CV_8U, {3, 5, 7, 9, 15, 31, 101});
  expect_same_as_opencv<uint16_t>(CV_16U, {3, 5});
  expect_same_as_opencv<float>(CV_32F, {3, 5});
}
#endif

// ---- the choice of kernel --------------------------------------------------

// MEDIAN_KERNEL decides what the entry points run, per lane type and
// window: each kernel this processor supports, by name, takes the windows it
// serves (a kernel of that very window before one of every window); an
// unknown or unsupported name is reported and the automatic choice stays.
// The choice is made once per process, so each case runs in a child, which
// prints what median5x5_u8, _u16, _f32 and a 7x7 median_filter_u8 run.
TEST(KernelChoice, EnvironmentNamesTheKernelOfEachLaneTypeAndWindow) {
  // A child normally starts afresh by executing this program again.  Under
  // a user-mode emulator (MEDIAN_TEST_EMULATOR, set for a cross build's
  // tests) it cannot: the host kernel does not run the target's programs.
  // There it is a plain fork, which starts afresh only while this process
  // has chosen no kernel and started no OpenMP team: when this test is the
  // only one it runs, as under ctest.
  if (const char* emulator = std::getenv("MEDIAN_TEST_EMULATOR")) {
    if (::testing::UnitTest::GetInstance()->test_to_run_count() > 1)
      GTEST_SKIP() << "under " << emulator << " this test needs a process of its own: "
                   << "run it alone (--gtest_filter), as ctest does";
    GTEST_FLAG_SET(death_test_style, "fast");
  } else {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
  const uint8_t src[64] = {1, 2, 3};
  auto run_with = [&](const char* value) {
    setenv("MEDIAN_KERNEL", value, 1);
    uint8_t dst[64];
    const int status = median5x5_u8(src, 8, dst, 8, 8, 8, 1, MEDIAN_BORDER_REPLICATE) |
                       median_filter_u8(src, 8, dst, 8, 8, 8, 1, 7, 7, MEDIAN_BORDER_REPLICATE);
    std::fprintf(stderr, "[%s %s %s %s]", median::fastest_kernel(median::Lane::u8).name,
                 median::fastest_kernel(median::Lane::u16).name,
                 median::fastest_kernel(median::Lane::f32).name,
                 median::chosen_kernel(median::Lane::u8, 7, 7).name);
    std::exit(status);
  };
  // Without MEDIAN_KERNEL: for 5x5, the last supported 5x5 kernel of each
  // lane type in the table; for 7x7 whatever the automatic choice is
  // (AutomaticChoiceServesEveryWindow holds it to its rules).
  const std::string ANY = "[a-z0-9_]+";
  std::string automatic[4] = {"", "", "", ANY};
  for (const median::Kernel& k : median::kernels())
    if (median::is_supported(k) && k.window_width == 5) automatic[int(k.lane)] = k.name;
  auto expected = [](const std::string (&names)[4]) {
    return "^\\[" + names[0] + " " + names[1] + " " + names[2] + " " + names[3] + "\\]$";
  };
  for (const median::Kernel& k : median::kernels()) {
    if (!median::is_supported(k)) continue;
    std::string want[4] = {automatic[0], automatic[1], automatic[2], automatic[3]};
    if (median::serves(k, 5, 5)) want[int(k.lane)] = k.name;
    if (k.lane == median::Lane::u8 && median::serves(k, 7, 7)) want[3] = k.name;
    EXPECT_EXIT(run_with(k.name), ::testing::ExitedWithCode(0), expected(want)) << k.name;
  }
  // One name per lane type and window, in a list: the 5x5 kernel takes
  // 5x5 windows although a kernel of every window comes first, which takes
  // the 7x7 windows unless a 7x7 kernel is named too.
  for (const median::Kernel& any : median::kernels()) {
    if (any.lane != median::Lane::u8 || any.window_width || !median::is_supported(any)) continue;
    const std::string list = std::string(any.name) + ",network_portable,rowpair_portable_f32";
    EXPECT_EXIT(run_with(list.c_str()), ::testing::ExitedWithCode(0),
                expected({"network_portable", automatic[1], "rowpair_portable_f32", any.name}));
    const std::string with_7x7 = list + ",separable7x7_portable";
    EXPECT_EXIT(run_with(with_7x7.c_str()), ::testing::ExitedWithCode(0),
                expected({"network_portable", automatic[1], "rowpair_portable_f32", "separable7x7_portable"}));
  }
  EXPECT_EXIT(run_with("no_such_kernel"), ::testing::ExitedWithCode(0),
              "MEDIAN_KERNEL names no kernel called 'no_such_kernel'\n" + expected(automatic).substr(1));
  for (const median::Kernel& k : median::kernels()) {
    if (!median::is_supported(k)) {
      EXPECT_EXIT(run_with(k.name), ::testing::ExitedWithCode(0),
                  "needs " + std::string(k.isa) + ", which this processor lacks; ignored\n" +
                      expected(automatic).substr(1));
    }
  }
  EXPECT_EXIT(run_with(""), ::testing::ExitedWithCode(0), expected(automatic));
}

// Without MEDIAN_KERNEL, every window of every lane type gets a kernel this
// processor runs that serves it: one made for exactly that window wherever
// the processor runs one of the networks to 15x15, and where it runs one of
// the larger ones at 16 bits (to 21x21, and to 25x25 without the AVX-512
// ranks) or for floats at 17x17, which there beat the kernels of every
// window whether compiled or interpreted.
TEST(KernelChoice, AutomaticChoiceServesEveryWindow) {
  if (std::getenv("MEDIAN_KERNEL")) GTEST_SKIP() << "MEDIAN_KERNEL is set";
  const median::Kernel* whole = median::find_kernel("rank_avx512bw_u16");
  const int u16_networks = whole && median::is_supported(*whole) ? 21 : 25;
  for (const median::Lane lane : {median::Lane::u8, median::Lane::u16, median::Lane::f32})
    for (int w = 1; w <= MEDIAN_MAX_WINDOW; w += 2)
      for (const int h : {1, 3, 5, w, 255}) {
        const median::Kernel& k = median::chosen_kernel(lane, w, h);
        EXPECT_TRUE(k.lane == lane && median::serves(k, w, h) && median::is_supported(k))
            << k.name << " for " << w << "x" << h;
        bool exact_exists = false;
        for (const median::Kernel& e : median::kernels())
          exact_exists = exact_exists || (e.lane == lane && e.window_width == w &&
                                          e.window_height == h && median::is_supported(e));
        if (w <= 15 || (lane == median::Lane::u16 && w <= u16_networks) ||
            (lane == median::Lane::f32 && w == 17))
          EXPECT_EQ(k.window_width != 0, exact_exists) << k.name << " for " << w << "x" << h;
        else
          EXPECT_TRUE(k.window_width == 0 || exact_exists) << k.name << " for " << w << "x" << h;
        // Square windows, which grow the sliding histogram's cost, go to a
        // vectorised kernel wherever one runs.
        bool vectorised_exists = false;
        for (const median::Kernel& e : median::kernels())
          vectorised_exists = vectorised_exists || (e.lane == lane && e.window_width == 0 &&
                                                    std::strcmp(e.isa, "none") != 0 &&
                                                    median::is_supported(e));
        if (h == w && vectorised_exists) {
          EXPECT_STRNE(k.isa, "none") << k.name << " for " << w << "x" << h;
        }
      }
}

TEST(KernelChoice, AKernelOfAnotherLaneTypeOrProcessorIsRefused) {
  const float src[25] = {};
  float dst[25];
  const median::Kernel& bytes = median::fastest_kernel(median::Lane::u8);
  EXPECT_EQ(median::filter(bytes, src, 20, dst, 20, 5, 5, 1, MEDIAN_BORDER_ZERO), MEDIAN_ERROR_KERNEL);
  for (const median::Kernel& k : median::kernels()) {
    if (!median::is_supported(k) && k.lane == median::Lane::f32) {
      EXPECT_EQ(median::filter(k, src, 20, dst, 20, 5, 5, 1, MEDIAN_BORDER_ZERO), MEDIAN_ERROR_KERNEL);
    }
  }
}

}  // namespace
