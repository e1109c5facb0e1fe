// SPDX-License-Identifier: MIT
//
// One pass of the filter against the scalar reference, bit for bit: every
// width from 1 to 40 (so 3 * w meets every remainder mod 16, including rows
// narrower than one vector), small heights, several thread counts.  The
// padded frame ends at an inaccessible page and the output is fenced with
// guard bytes, so a stray read faults and a stray write shows.  Together they
// show that a pass, at any thread count, gives every output byte its median
// and reads and writes nothing beyond the two frames.  scripts/test runs them
// under AddressSanitizer too, which also watches the heap beyond the guards.

#include <gtest/gtest.h>
#include <omp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "median/median_filter.h"
#include "reference.h"

namespace {

constexpr uint8_t GUARD = 0xA5;
constexpr size_t GUARD_BYTES = 64;

// A copy of `bytes` whose last byte is the last readable byte before a
// PROT_NONE page, so reading one byte too far faults.
class FencedCopy {
 public:
  explicit FencedCopy(const std::vector<uint8_t>& bytes) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t data_pages = (bytes.size() + page - 1) / page;
    mapped_ = (data_pages + 1) * page;
    base_ = static_cast<uint8_t*>(
        mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + data_pages * page, page, PROT_NONE);
    data_ = base_ + data_pages * page - bytes.size();
    std::memcpy(data_, bytes.data(), bytes.size());
  }
  ~FencedCopy() { munmap(base_, mapped_); }
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* base_;
  uint8_t* data_;
  size_t mapped_;
};

Rgb8Image random_image(int w, int h, std::mt19937* rng) {
  Rgb8Image image{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
  for (auto& b : image.pixels) b = uint8_t((*rng)());
  return image;
}

// Runs one pass into a guarded buffer; checks the guards and returns the frame.
std::vector<uint8_t> filter(const Rgb8Image& image) {
  const FencedCopy padded(padded_frame(image));
  const size_t bytes = size_t(image.w) * image.h * 3;
  std::vector<uint8_t> out(bytes + 2 * GUARD_BYTES, GUARD);
  median_filter_pass(image.h, image.w, image.w + 4, padded.data(), out.data() + GUARD_BYTES);
  for (size_t i = 0; i < GUARD_BYTES; ++i) {
    EXPECT_EQ(out[i], GUARD) << "write before the frame";
    EXPECT_EQ(out[GUARD_BYTES + bytes + i], GUARD) << "write past the frame";
  }
  return std::vector<uint8_t>(out.begin() + GUARD_BYTES, out.end() - GUARD_BYTES);
}

class WithThreads : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    saved_ = omp_get_max_threads();
    omp_set_num_threads(GetParam());
  }
  void TearDown() override { omp_set_num_threads(saved_); }

 private:
  int saved_ = 1;
};

TEST_P(WithThreads, MatchesReferenceForEveryWidthUpTo40) {
  std::mt19937 rng{unsigned(GetParam())};
  for (int h = 1; h <= 6; ++h)
    for (int w = 1; w <= 40; ++w) {
      const Rgb8Image image = random_image(w, h, &rng);
      ASSERT_EQ(filter(image), reference_median(image)) << w << "x" << h;
    }
}

TEST_P(WithThreads, MatchesReferenceOnRealPhotos) {
  for (const char* name : {"01-photo-280x360-gopher-plush-baseline444.jpg",
                           "02-photo-512x512-eiffel-tower-baseline444.jpg"}) {
    Rgb8Image image;
    ASSERT_TRUE(decode_rgb(std::string(TEST_DATA_DIR) + "/" + name, &image)) << name;
    EXPECT_EQ(filter(image), reference_median(image)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, WithThreads, ::testing::Values(1, 2, 3, 7));

TEST(MedianFilterPass, UniformImageKeepsItsValueExceptAtTheCorners) {
  const int w = 9, h = 7;
  const Rgb8Image image{w, h, std::vector<uint8_t>(size_t(w) * h * 3, 90)};
  const std::vector<uint8_t> out = filter(image);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // The corner pixel and its two edge neighbours see 13 or more zeros.
      const int dx = std::min(x, w - 1 - x), dy = std::min(y, h - 1 - y);
      const uint8_t want = dx + dy <= 1 ? 0 : 90;
      for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(out[(size_t(y) * w + x) * 3 + ch], want) << x << "," << y;
    }
}

TEST(MedianFilterPass, NoRowsOrNoColumnsWriteNothing) {
  uint8_t padded[64] = {};
  uint8_t out[16];
  std::memset(out, GUARD, sizeof out);
  median_filter_pass(0, 5, 9, padded, out);
  median_filter_pass(3, 0, 4, padded, out);
  for (uint8_t b : out) EXPECT_EQ(b, GUARD);
}

}  // namespace
