// SPDX-License-Identifier: MIT
//
// The filter against OpenCV's cv::medianBlur(src, dst, 5) on the same decoded
// photo, in one process: median_filter_pass on 1 thread and on every core,
// OpenCV's default call (its 5x5 path for 8-bit images runs on one thread),
// and OpenCV on row strips spread over the same number of threads with
// cv::parallel_for_.  The four are timed in turn, round after round, so that
// a change in the machine's load or clock hits them alike; each figure is the
// median of the rounds, with the spread (lowest..highest).
//
// OpenCV picks its vector width at run time: on a processor with AVX2 its
// median works on 256-bit vectors, twice the width this filter is held to.
// OPENCV_CPU_DISABLE=AVX2 in the environment holds it to 128 bits as well;
// the report says which width it used.
//
// OpenCV replicates the edge where this filter reads zeros, so only the
// pixels at least 2 from every edge can agree; they must agree exactly.
//
// Usage: median_opencv_peer [image [rounds]]   (prints a Markdown table)

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "median/median_filter.h"

namespace {

constexpr int KSIZE = 5;
constexpr int RADIUS = KSIZE / 2;  // also this filter's zero border
constexpr int CHANNELS = 3;
constexpr double MIN_ROUND_SECONDS = 0.25;  // time of one contender per round

using Clock = std::chrono::steady_clock;

struct Contender {
  std::string name;
  int threads;
  std::function<void()> run;
  int calls_per_round = 1;
  std::vector<double> mpixel_per_s;  // one per round
};

double median_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Seconds taken by `calls` calls of `run`.
double time_calls(const std::function<void()>& run, int calls) {
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i) run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// OpenCV on horizontal strips, one per thread.  A strip is filtered with the
// two rows above and below it that its windows need (fewer at the image's
// edges, where OpenCV's own border applies as in the whole-image call), and
// only its own rows are kept, so the result equals the whole-image call.
class StripMedian {
 public:
  StripMedian(const cv::Mat& src, cv::Mat& dst, int strips)
      : src_(src), dst_(dst), strips_(strips), scratch_(size_t(strips)) {}

  void operator()() {
    cv::parallel_for_(cv::Range(0, strips_), [this](const cv::Range& range) {
      for (int s = range.start; s < range.end; ++s) strip(s);
    }, strips_);
  }

 private:
  void strip(int s) {
    const int rows = src_.rows;
    const int first = rows * s / strips_, end = rows * (s + 1) / strips_;
    const int top = std::max(0, first - RADIUS), bottom = std::min(rows, end + RADIUS);
    cv::medianBlur(src_.rowRange(top, bottom), scratch_[size_t(s)], KSIZE);
    scratch_[size_t(s)].rowRange(first - top, end - top).copyTo(dst_.rowRange(first, end));
  }

  const cv::Mat& src_;
  cv::Mat& dst_;
  int strips_;
  std::vector<cv::Mat> scratch_;  // kept between calls: no allocation once warm
};

// Number of pixels at least RADIUS from every edge where `ours` (w x h x 3
// bytes) and `theirs` differ.
long interior_mismatches(const std::vector<uint8_t>& ours, const cv::Mat& theirs) {
  const int w = theirs.cols, h = theirs.rows;
  long bad = 0;
  for (int y = RADIUS; y < h - RADIUS; ++y) {
    const uint8_t* a = ours.data() + size_t(y) * w * CHANNELS;
    const uint8_t* b = theirs.ptr<uint8_t>(y);
    for (int x = RADIUS; x < w - RADIUS; ++x)
      bad += std::memcmp(a + x * CHANNELS, b + x * CHANNELS, CHANNELS) != 0;
  }
  return bad;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path =
      argc > 1 ? argv[1] : "data/06-photo-5312x2988-dandelions-16mp-progressive.jpg";
  const int rounds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 7;

  const cv::Mat src = cv::imread(path, cv::IMREAD_COLOR);  // 8-bit, 3 channels
  if (src.empty() || !src.isContinuous()) {
    std::fprintf(stderr, "cannot decode %s\n", path.c_str());
    return 1;
  }
  const int w = src.cols, h = src.rows, padded_width = w + 2 * RADIUS;
  const int cores = omp_get_num_procs();

  // This filter's frames: the photo inside a zero border, and the output.
  std::vector<uint8_t> padded(size_t(padded_width) * (h + 2 * RADIUS) * CHANNELS, 0);
  for (int y = 0; y < h; ++y)
    std::memcpy(&padded[(size_t(y + RADIUS) * padded_width + RADIUS) * CHANNELS],
                src.ptr<uint8_t>(y), size_t(w) * CHANNELS);
  std::vector<uint8_t> filtered(size_t(w) * h * CHANNELS);
  auto ours = [&](int threads) {
    return [&, threads] {
      omp_set_num_threads(threads);
      median_filter_pass(h, w, padded_width, padded.data(), filtered.data());
    };
  };

  cv::Mat default_out, strip_out(src.size(), src.type());
  cv::setNumThreads(cores);
  StripMedian strips(src, strip_out, cores);

  std::vector<Contender> contenders = {
      {"median_filter_pass", 1, ours(1), 1, {}},
      {"cv::medianBlur, default call", 1, [&] { cv::medianBlur(src, default_out, KSIZE); }, 1, {}},
      {"median_filter_pass", cores, ours(cores), 1, {}},
      {"cv::medianBlur, row strips (cv::parallel_for_)", cores, std::ref(strips), 1, {}},
  };

  // Warm up (threads, allocations, caches) and size each contender's turn.
  for (auto& c : contenders) {
    const double once = time_calls(c.run, 1);
    c.calls_per_round = std::max(1, int(MIN_ROUND_SECONDS / std::max(once, 1e-6)));
  }

  const long bad_default = interior_mismatches(filtered, default_out);
  const long bad_strips = interior_mismatches(filtered, strip_out);

  for (int r = 0; r < rounds; ++r) {
    std::fprintf(stderr, "round %d of %d\n", r + 1, rounds);
    // Rotate the order each round, so none always runs first or last.
    for (size_t i = 0; i < contenders.size(); ++i) {
      auto& c = contenders[(i + size_t(r)) % contenders.size()];
      const double s = time_calls(c.run, c.calls_per_round);
      c.mpixel_per_s.push_back(double(w) * h * c.calls_per_round / s / 1e6);
    }
  }
  // The last call of every contender has run; check the pixels once more.
  const long bad_after = interior_mismatches(filtered, default_out) +
                         interior_mismatches(filtered, strip_out);

  std::printf("Image: %s, %dx%d, %d cores; median of %d alternating rounds "
              "(lowest..highest).  OpenCV %s, its median on %s vectors.\n\n",
              path.substr(path.find_last_of('/') + 1).c_str(), w, h, cores, rounds,
              CV_VERSION, cv::checkHardwareSupport(CV_CPU_AVX2) ? "256-bit (AVX2)" : "128-bit");
  std::printf("| Program | Threads | Mpixel/s | Spread |\n|---|---:|---:|---:|\n");
  for (const auto& c : contenders) {
    const auto [lo, hi] = std::minmax_element(c.mpixel_per_s.begin(), c.mpixel_per_s.end());
    std::printf("| %s | %d | %.1f | %.1f..%.1f |\n", c.name.c_str(), c.threads,
                median_of(c.mpixel_per_s), *lo, *hi);
  }
  const double ours_1 = median_of(contenders[0].mpixel_per_s);
  const double cv_default = median_of(contenders[1].mpixel_per_s);
  const double ours_n = median_of(contenders[2].mpixel_per_s);
  const double cv_strips = median_of(contenders[3].mpixel_per_s);
  std::printf("\n| Ratio | Value |\n|---|---:|\n");
  std::printf("| median_filter_pass / default call, 1 thread | %.2f |\n", ours_1 / cv_default);
  std::printf("| median_filter_pass / row strips, %d threads | %.2f |\n", cores, ours_n / cv_strips);
  std::printf("| median_filter_pass on %d threads / faster OpenCV configuration | %.2f |\n",
              cores, ours_n / std::max(cv_default, cv_strips));
  std::printf("\nPixels at least %d from every edge that differ: %ld (default call), "
              "%ld (row strips).\n", RADIUS, bad_default, bad_strips);
  return bad_default + bad_strips + bad_after == 0 ? 0 : 1;
}
