// SPDX-License-Identifier: MIT
//
// How close the filter comes to what the core can do.  The bound is the rate
// at which the core retires independent 128-bit vpminub/vpmaxub, measured in
// this same run (BM_MinMaxPeak, and again around every other benchmark).
// Efficiency = (202 operations per 16-byte group x groups per second) /
// (peak rate x threads); cycles per group = seconds per group per thread x
// peak rate / 4 operations per cycle.
//
//   BM_MinMaxPeak          the calibration: independent min/max, no memory
//   BM_NetworkInL1         loads, network and store of one group, on a few
//                          rows that stay in L1: the kernel alone
//   BM_Pass/w/h/threads    median_filter_pass on a w x h frame, and its
//                          speed-up over one thread
//
// The network costs the same for any pixel values, so the frames hold random
// bytes instead of a decoded photo; only their size matters.

#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "median/median25_network.h"
#include "median/ops_avx.h"
#include "median/median_filter.h"

namespace {

constexpr double OPS_PER_GROUP = 202;  // min/max operations per 16 output bytes
constexpr int VECTOR_BYTES = 16;
constexpr int CHANNELS = 3;
constexpr int WINDOW = 5;
constexpr int BORDER = 2;
// Zen 4 retires four 128-bit integer min/max per cycle: turns the calibrated
// rate into a clock rate, and times into cycles.
constexpr double PEAK_OPS_PER_CYCLE = 4;

using Clock = std::chrono::steady_clock;

// 48 min/max per round on twelve registers, six independent chains each of
// min and max: enough chains that the one-cycle latency never limits the
// rate.  The operands never change, so neither does the work per round.
void min_max_rounds(int64_t rounds) {
  asm volatile(
      "vpxor %%xmm12, %%xmm12, %%xmm12\n\t"
      "vpcmpeqb %%xmm13, %%xmm13, %%xmm13\n\t"
      "1:\n\t"
      ".rept 4\n\t"
      "vpminub %%xmm13, %%xmm0, %%xmm0\n\t"
      "vpmaxub %%xmm12, %%xmm1, %%xmm1\n\t"
      "vpminub %%xmm13, %%xmm2, %%xmm2\n\t"
      "vpmaxub %%xmm12, %%xmm3, %%xmm3\n\t"
      "vpminub %%xmm13, %%xmm4, %%xmm4\n\t"
      "vpmaxub %%xmm12, %%xmm5, %%xmm5\n\t"
      "vpminub %%xmm13, %%xmm6, %%xmm6\n\t"
      "vpmaxub %%xmm12, %%xmm7, %%xmm7\n\t"
      "vpminub %%xmm13, %%xmm8, %%xmm8\n\t"
      "vpmaxub %%xmm12, %%xmm9, %%xmm9\n\t"
      "vpminub %%xmm13, %%xmm10, %%xmm10\n\t"
      "vpmaxub %%xmm12, %%xmm11, %%xmm11\n\t"
      ".endr\n\t"
      "dec %0\n\t"
      "jnz 1b\n\t"
      : "+r"(rounds)
      :
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
        "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "cc");
}
constexpr int64_t OPS_PER_ROUND = 48;

double timed_peak_ops(int64_t rounds) {
  const auto start = Clock::now();
  min_max_rounds(rounds);
  const std::chrono::duration<double> s = Clock::now() - start;
  return double(rounds * OPS_PER_ROUND) / s.count();
}

// The peak rate now: best of 16 bursts of about 0.3 ms, so that a burst cut
// short by another process does not count.
double peak_ops_now() {
  double best = 0;
  for (int i = 0; i < 16; ++i) best = std::max(best, timed_peak_ops(20000));
  return best;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_MinMaxPeak(benchmark::State& state) {
  constexpr int64_t ROUNDS = 20000;
  const auto start = Clock::now();
  for (auto _ : state) min_max_rounds(ROUNDS);
  const double ops_per_s =
      double(state.iterations()) * ROUNDS * OPS_PER_ROUND / seconds_since(start);
  state.counters["Gop/s"] = ops_per_s / 1e9;
  state.counters["GHz"] = ops_per_s / PEAK_OPS_PER_CYCLE / 1e9;
}

// The clock of a shared machine drifts from one benchmark to the next, so
// each benchmark compares itself with a calibration taken right before and
// right after its own timed loop.  Other work can only make a calibration
// low, never high, so the higher of the two counts.
class Bracket {
 public:
  Bracket() : before_(peak_ops_now()) {}
  double peak_ops() const { return std::max(before_, peak_ops_now()); }

 private:
  double before_;
};

// Efficiency and cycles per group for `groups` network evaluations that
// took `seconds` on `threads` threads.  (The library's own time column is
// the mean iteration; these counters, like Mpixel/s, use the median one.)
void report_groups(benchmark::State& state, const Bracket& bracket, double groups,
                   double seconds, int threads) {
  const double peak = bracket.peak_ops();
  state.counters["efficiency"] = groups * OPS_PER_GROUP / seconds / (peak * threads);
  state.counters["cycles/group"] = seconds * threads / groups * peak / PEAK_OPS_PER_CYCLE;
}

double median_of(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Times every iteration on its own.  Other processes on a shared machine only
// ever add time, in bursts; the median iteration leaves those bursts out
// where a mean would spread them over the whole run.
class Laps {
 public:
  void start() { start_ = Clock::now(); }
  void stop() { laps_.push_back(seconds_since(start_)); }
  double median() const { return median_of(laps_); }

 private:
  Clock::time_point start_;
  std::vector<double> laps_;
};

std::vector<uint8_t> random_bytes(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::mt19937 rng(5);
  for (auto& b : bytes) b = uint8_t(rng());
  return bytes;
}

// The network with its 25 loads and its store, over the groups of one row of
// a small frame, again and again: the frame (five rows of 64 groups, 5 KB)
// stays in L1.  One iteration is 64 sweeps of the row, about 50 us.
void BM_NetworkInL1(benchmark::State& state) {
  constexpr int GROUPS = 64, SWEEPS = 64;
  constexpr ptrdiff_t STRIDE = GROUPS * VECTOR_BYTES + (WINDOW - 1) * CHANNELS;
  const std::vector<uint8_t> frame = random_bytes(STRIDE * WINDOW);
  alignas(16) uint8_t out[GROUPS * VECTOR_BYTES];
  const Bracket bracket;
  Laps laps;
  for (auto _ : state) {
    laps.start();
    for (int sweep = 0; sweep < SWEEPS; ++sweep) {
      for (int g = 0; g < GROUPS; ++g) {
        const uint8_t* top = frame.data() + g * VECTOR_BYTES;
        const __m128i m = median::detail::median25<median::avx::Ops>([=](int k) {
          return _mm_loadu_si128(reinterpret_cast<const __m128i*>(
              top + k / WINDOW * STRIDE + k % WINDOW * CHANNELS));
        });
        _mm_store_si128(reinterpret_cast<__m128i*>(out + g * VECTOR_BYTES), m);
      }
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
    laps.stop();
  }
  report_groups(state, bracket, GROUPS * SWEEPS, laps.median(), 1);
}

// One complete pass over a w x h image on `threads` threads, the way the
// program runs it: same frames, same call.  With more than one thread every
// iteration also runs a one-thread pass first, timed apart, so that the
// speed-up compares passes that met the same load on the machine.  (The
// library's time column then holds both passes.)
void BM_Pass(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1)), threads = int(state.range(2));
  const int padded_width = w + 2 * BORDER;
  const std::vector<uint8_t> padded =
      random_bytes(size_t(padded_width) * (h + 2 * BORDER) * CHANNELS);
  std::vector<uint8_t> filtered(size_t(w) * h * CHANNELS);
  const int saved_threads = omp_get_max_threads();
  auto pass = [&](int n, Laps* laps) {
    omp_set_num_threads(n);
    laps->start();
    median_filter_pass(h, w, padded_width, padded.data(), filtered.data());
    benchmark::ClobberMemory();
    laps->stop();
  };
  Laps warm_up, one_thread, laps;
  pass(threads, &warm_up);  // starts the runtime's threads

  const Bracket bracket;
  for (auto _ : state) {
    if (threads > 1) pass(1, &one_thread);
    pass(threads, &laps);
  }
  omp_set_num_threads(saved_threads);

  // Figures for the median pass.
  const double seconds = laps.median();
  const int groups_per_row = (w * CHANNELS + VECTOR_BYTES - 1) / VECTOR_BYTES;
  report_groups(state, bracket, double(h) * groups_per_row, seconds, threads);
  state.counters["Mpixel/s"] = double(w) * h / 1e6 / seconds;
  if (threads > 1) state.counters["speedup"] = one_thread.median() / seconds;
}

// Every thread count from 1 to the number of cores.
void thread_counts(benchmark::internal::Benchmark* b, int w, int h) {
  for (int threads = 1; threads <= omp_get_num_procs(); ++threads) b->Args({w, h, threads});
  b->ArgNames({"w", "h", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_MinMaxPeak);
BENCHMARK(BM_NetworkInL1);
// The shipped photo's size and full HD.  Every pass is timed on its own, so
// a fixed number of them (about a second's worth at one thread) replaces the
// library's trial runs.
BENCHMARK(BM_Pass)->Apply([](auto* b) { thread_counts(b, 5312, 2988); })->Iterations(20);
BENCHMARK(BM_Pass)->Apply([](auto* b) { thread_counts(b, 1920, 1080); })->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
