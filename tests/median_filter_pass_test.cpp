// SPDX-License-Identifier: MIT
//
// The benchmark's pass and every kernel on real photos, and the pass's own
// edge cases: a uniform image keeps its value except at the corners, whose
// windows see 13 or more zeros; no rows or no columns write nothing.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "median/median_filter.h"
#include "reference.h"
#include "reference_median.h"

namespace {

constexpr uint8_t GUARD = 0xA5;

std::vector<uint8_t> pass_of(const Rgb8Image& image, median::PassFunction pass) {
  const std::vector<uint8_t> padded = padded_frame(image);
  std::vector<uint8_t> out(size_t(image.w) * image.h * 3);
  pass(image.h, image.w, image.w + 4, padded.data(), out.data());
  return out;
}

TEST(MedianFilterPass, UniformImageKeepsItsValueExceptAtTheCorners) {
  const int w = 9, h = 7;
  const Rgb8Image image{w, h, std::vector<uint8_t>(size_t(w) * h * 3, 90)};
  const std::vector<uint8_t> out = pass_of(image, median_filter_pass);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int dx = std::min(x, w - 1 - x), dy = std::min(y, h - 1 - y);
      const uint8_t want = dx + dy <= 1 ? 0 : 90;
      for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(out[(size_t(y) * w + x) * 3 + ch], want) << x << "," << y;
    }
}

TEST(MedianFilterPass, NoRowsOrNoColumnsWriteNothing) {
  uint8_t padded[64] = {};
  uint8_t out[16];
  std::memset(out, GUARD, sizeof out);
  for (const median::Kernel& k : median::kernels()) {
    if (!k.pass || !median::is_supported(k)) continue;
    k.pass(0, 5, 9, padded, out);
    k.pass(3, 0, 4, padded, out);
  }
  for (uint8_t b : out) EXPECT_EQ(b, GUARD);
}

// Every kernel this processor runs, on decoded photos: the 8-bit passes on
// the zero-padded frame, and every lane type through the caller's entry
// point with the replicate border, on the photo's bytes promoted.
TEST(MedianFilterPass, EveryKernelMatchesReferenceOnRealPhotos) {
  for (const char* name : {"01-photo-280x360-gopher-plush-baseline444.jpg",
                           "02-photo-512x512-eiffel-tower-baseline444.jpg"}) {
    Rgb8Image image;
    ASSERT_TRUE(decode_rgb(std::string(TEST_DATA_DIR) + "/" + name, &image)) << name;
    const std::vector<uint8_t> zero = reference_median(image);
    const std::vector<uint8_t> replicate =
        reference::median5x5(image.pixels, image.w, image.h, 3, MEDIAN_BORDER_REPLICATE);
    std::vector<uint16_t> wide(image.pixels.begin(), image.pixels.end());
    std::vector<float> real(image.pixels.begin(), image.pixels.end());
    for (const median::Kernel& k : median::kernels()) {
      if (!median::is_supported(k) || !median::serves(k, 5, 5)) continue;
      if (k.pass) {
        EXPECT_EQ(pass_of(image, k.pass), zero) << k.name << " on " << name;
      }
      const size_t n = image.pixels.size();
      const int32_t w = image.w, h = image.h;
      bool same = false;
      if (k.lane == median::Lane::u8) {
        std::vector<uint8_t> out(n);
        EXPECT_EQ(median::filter(k, image.pixels.data(), w * 3, out.data(), w * 3, w, h, 3,
                                 MEDIAN_BORDER_REPLICATE), MEDIAN_OK);
        same = out == replicate;
      } else if (k.lane == median::Lane::u16) {
        std::vector<uint16_t> out(n);
        EXPECT_EQ(median::filter(k, wide.data(), w * 6, out.data(), w * 6, w, h, 3,
                                 MEDIAN_BORDER_REPLICATE), MEDIAN_OK);
        same = std::equal(out.begin(), out.end(), replicate.begin());
      } else {
        std::vector<float> out(n);
        EXPECT_EQ(median::filter(k, real.data(), w * 12, out.data(), w * 12, w, h, 3,
                                 MEDIAN_BORDER_REPLICATE), MEDIAN_OK);
        same = std::equal(out.begin(), out.end(), replicate.begin());
      }
      EXPECT_TRUE(same) << k.name << " on " << name;
    }
  }
}

}  // namespace
