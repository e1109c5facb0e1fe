// SPDX-License-Identifier: MIT
//
// One pass of every kernel against the scalar reference, bit for bit: every
// width from 1 to 40 (so 3 * w meets every remainder mod 16, including rows
// narrower than one vector), odd and even small heights, rows wider than a
// row-pair strip, several thread counts, unaligned frames.  The
// padded frame ends at an inaccessible page and the output is fenced with
// guard bytes, so a stray read faults and a stray write shows.  Together they
// show that a pass, at any thread count, gives every output byte its median
// and reads and writes nothing beyond the two frames.  scripts/test runs them
// under AddressSanitizer too, which also watches the heap beyond the guards.

#include <gtest/gtest.h>
#include <omp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>

#include "emulated_wide_kernels.h"
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

// Runs one pass into a guarded buffer, `misalign` bytes past an aligned
// address; checks the guards and returns the frame.
std::vector<uint8_t> filter(const Rgb8Image& image,
                            median::PassFunction pass = median_filter_pass, size_t misalign = 0) {
  const FencedCopy padded(padded_frame(image));
  const size_t bytes = size_t(image.w) * image.h * 3;
  constexpr size_t ALIGNMENT = 64;  // the widest vector
  std::vector<uint8_t> buffer(bytes + 2 * GUARD_BYTES + ALIGNMENT + misalign, GUARD);
  const size_t to_aligned = (ALIGNMENT - reinterpret_cast<uintptr_t>(buffer.data()) % ALIGNMENT) % ALIGNMENT;
  uint8_t* const out = buffer.data() + to_aligned + misalign;
  pass(image.h, image.w, image.w + 4, padded.data(), out + GUARD_BYTES);
  for (size_t i = 0; i < GUARD_BYTES; ++i) {
    EXPECT_EQ(out[i], GUARD) << "write before the frame";
    EXPECT_EQ(out[GUARD_BYTES + bytes + i], GUARD) << "write past the frame";
  }
  return std::vector<uint8_t>(out + GUARD_BYTES, out + GUARD_BYTES + bytes);
}

// Every kernel built into the library, and the 512-bit sweeps emulated on
// 256-bit halves, so that their logic is tested where AVX-512 is missing.
const std::vector<median::Kernel>& kernels_under_test() {
  static const std::vector<median::Kernel> all = [] {
    std::vector<median::Kernel> k = median::kernels();
    k.push_back({"emulated512_network", "avx2", 512, 0, emulated512::network_pass});
    k.push_back({"emulated512_rowpair", "avx2", 512, 0, emulated512::rowpair_pass});
    return k;
  }();
  return all;
}

bool runs_here(const median::Kernel& kernel) {
  const median::Kernel* built = median::find_kernel(kernel.name);
  return built ? median::is_supported(*built) : __builtin_cpu_supports("avx2");
}

// Every kernel at several thread counts; a kernel this processor cannot run
// is skipped, saying so.
class KernelMatrix : public ::testing::TestWithParam<std::tuple<std::string, int>> {
 protected:
  void SetUp() override {
    for (const median::Kernel& k : kernels_under_test())
      if (k.name == std::get<0>(GetParam())) kernel_ = &k;
    ASSERT_NE(kernel_, nullptr);
    if (!runs_here(*kernel_))
      GTEST_SKIP() << kernel_->name << ": this processor lacks " << kernel_->isa;
    saved_ = omp_get_max_threads();
    omp_set_num_threads(std::get<1>(GetParam()));
  }
  void TearDown() override { omp_set_num_threads(saved_); }
  std::vector<uint8_t> run(const Rgb8Image& image, size_t misalign = 0) const {
    return filter(image, kernel_->pass, misalign);
  }

 private:
  const median::Kernel* kernel_ = nullptr;
  int saved_ = 1;
};

TEST_P(KernelMatrix, MatchesReferenceForEveryWidthUpTo40) {
  std::mt19937 rng{unsigned(std::get<1>(GetParam()))};
  for (int h = 1; h <= 7; ++h)
    for (int w = 1; w <= 40; ++w) {
      const Rgb8Image image = random_image(w, h, &rng);
      ASSERT_EQ(run(image, size_t(w % 3)), reference_median(image)) << w << "x" << h;
    }
}

// Rows that span several strips of the row-pair sweep, with a partial last
// vector, at odd and even heights; and few-valued pixels, full of ties.
TEST_P(KernelMatrix, MatchesReferenceOnWideRowsAndTies) {
  std::mt19937 rng{7};
  for (const auto& [w, h] : {std::pair{130, 9}, {301, 12}, {517, 5}, {1000, 3}}) {
    Rgb8Image image = random_image(w, h, &rng);
    ASSERT_EQ(run(image, 1), reference_median(image)) << w << "x" << h;
    for (auto& b : image.pixels) b = uint8_t(b % 3 * 100);
    ASSERT_EQ(run(image), reference_median(image)) << w << "x" << h << " few values";
  }
}

// A frame large enough that the row-pair sweep streams its output past the
// caches, with the output aligned (streamed) and not (stored as usual):
// the same bytes as the benchmark's kernel, itself checked above.
TEST_P(KernelMatrix, MatchesTheBenchmarksKernelOnAStreamedFrame) {
  static const Rgb8Image image = [] {
    std::mt19937 rng{3};
    return random_image(1603, 1801, &rng);
  }();
  static const std::vector<uint8_t> want = filter(image);
  EXPECT_TRUE(run(image) == want);
  EXPECT_TRUE(run(image, 32) == want);
}

TEST_P(KernelMatrix, MatchesReferenceOnRealPhotos) {
  for (const char* name : {"01-photo-280x360-gopher-plush-baseline444.jpg",
                           "02-photo-512x512-eiffel-tower-baseline444.jpg"}) {
    Rgb8Image image;
    ASSERT_TRUE(decode_rgb(std::string(TEST_DATA_DIR) + "/" + name, &image)) << name;
    EXPECT_EQ(run(image), reference_median(image)) << name;
  }
}

std::vector<std::string> kernel_names() {
  std::vector<std::string> names;
  for (const median::Kernel& k : kernels_under_test()) names.push_back(k.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, KernelMatrix,
    ::testing::Combine(::testing::ValuesIn(kernel_names()), ::testing::Values(1, 2, 3, 7)),
    [](const auto& info) {
      return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param)) + "threads";
    });

// MEDIAN_KERNEL decides what median_filter_pass_fastest runs: each kernel
// this processor supports, by name; an unknown or unsupported name is
// reported and the automatic choice stays.  The choice is made once per
// process, so each case runs in a child.
TEST(KernelChoice, EnvironmentNamesTheKernelOfTheFastestPass) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::mt19937 rng{11};
  const Rgb8Image image = random_image(37, 9, &rng);
  const std::vector<uint8_t> want = reference_median(image);
  auto run_with = [&](const char* value) {
    setenv("MEDIAN_KERNEL", value, 1);
    std::fprintf(stderr, "[%s]", median::fastest_kernel().name);
    std::exit(filter(image, median_filter_pass_fastest) == want ? 0 : 1);
  };
  std::string automatic;
  for (const median::Kernel& k : median::kernels()) {
    if (median::is_supported(k)) {
      automatic = k.name;
      EXPECT_EXIT(run_with(k.name), ::testing::ExitedWithCode(0), "^\\[" + automatic + "\\]$");
    }
  }
  EXPECT_EXIT(run_with("no_such_kernel"), ::testing::ExitedWithCode(0),
              "MEDIAN_KERNEL=no_such_kernel names no kernel; using " + automatic + "\n\\[" +
                  automatic + "\\]$");
  for (const median::Kernel& k : median::kernels()) {
    if (!median::is_supported(k)) {
      EXPECT_EXIT(run_with(k.name), ::testing::ExitedWithCode(0),
                  "needs an instruction set this processor lacks; using " + automatic);
    }
  }
  // With nothing forced, the last supported kernel in the table: the widest.
  EXPECT_EXIT(run_with(""), ::testing::ExitedWithCode(0), "^\\[" + automatic + "\\]$");
}

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
