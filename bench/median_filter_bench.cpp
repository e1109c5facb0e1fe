// SPDX-License-Identifier: MIT
//
// How close each kernel comes to what the core can do.  The bound of a kernel
// is the rate at which one core retires independent vpminub/vpmaxub at the
// kernel's vector width, measured in this same run (BM_MinMaxPeak, and again
// around every other benchmark).  Efficiency = (min/max operations per
// 16-byte group x groups per second) / (peak rate at that width x threads);
// cycles per group = seconds per group per thread x the clock, itself
// measured by a chain of dependent additions.
//
//   BM_MinMaxPeak/bits:N/lane:L the calibration at each width this processor
//                               runs, for each lane type's min/max
//                               (u8, u16, and i32 for the float keys):
//                               independent min/max, no memory
//   BM_NetworkInL1              loads, network and store of one 128-bit group,
//                               on a few rows that stay in L1: the benchmark's
//                               kernel alone
//   BM_KernelInL1/K             kernel K's band function (every lane type)
//                               on one thread over rows small enough to stay
//                               in L1
//   BM_Pass/w/h/threads         median_filter_pass on a w x h frame, and its
//                               speed-up over one thread
//   BM_Pass/K/w/h/threads       the same for every other kernel K
//
// Kernels this processor cannot run are named on standard error and left
// out.  The network costs the same for any pixel values, so the frames hold
// random bytes instead of a decoded photo; only their size matters.

#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "median/kernel_code.h"
#include "median/median_filter.h"
#include "median/ops_avx.h"
#include "median/network/sweep.h"
#include "minmax_peak.h"

namespace {

using median::detail::CHANNELS;
using median::detail::WINDOW;
using Ops128 = median::avx::Ops;
constexpr double OPS_PER_GROUP = median::detail::MEDIAN25_OPS;  // the benchmark's kernel
constexpr int VECTOR_BYTES = Ops128::BYTES;
constexpr int GROUP_BYTES = 16;  // the unit every kernel's min/max count is given in
constexpr int BORDER = median::detail::RADIUS;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The calibrations around one benchmark: the min/max rate at its width and
// the clock, each the higher of a measurement before and one after (other
// work can only make either low).
class Bounds {
 public:
  explicit Bounds(int bits, median::Lane lane = median::Lane::u8)
      : peak_(bits, lane), clock_before_(calibration::clock_hz_now()) {}
  double peak_ops() const { return peak_.peak_ops(); }
  double clock_hz() const { return std::max(clock_before_, calibration::clock_hz_now()); }

 private:
  calibration::Bracket peak_;
  double clock_before_;
};

// Efficiency and cycles per group for `groups` 16-byte groups of a kernel
// that needs `ops_per_group` min/max each, which took `seconds` on `threads`
// threads.  (The library's own time column is the mean iteration; these
// counters, like Mpixel/s, use the median one.)
void report_groups(benchmark::State& state, const Bounds& bounds, double ops_per_group,
                   double groups, double seconds, int threads) {
  const double peak = bounds.peak_ops();
  state.counters["efficiency"] = groups * ops_per_group / seconds / (peak * threads);
  state.counters["cycles/group"] = seconds * threads / groups * bounds.clock_hz();
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
  double fastest() const { return *std::min_element(laps_.begin(), laps_.end()); }

 private:
  Clock::time_point start_;
  std::vector<double> laps_;
};

// The rate of independent min/max at one width, burst by burst (about
// 0.2 ms each): the fastest burst, as in the calibrations around every
// other benchmark, since other processes (on this core, or on its sibling
// hardware thread) only ever slow a burst down; and the clock that turns it
// into operations per cycle.
void BM_MinMaxPeak(benchmark::State& state, int bits, median::Lane lane) {
  constexpr int64_t ROUNDS = 20000;
  Laps laps;
  for (auto _ : state) {
    laps.start();
    calibration::minmax_rounds(bits, lane, ROUNDS);
    laps.stop();
  }
  const double ops_per_s = double(ROUNDS * calibration::MINMAX_OPS_PER_ROUND) / laps.fastest();
  const double hz = calibration::clock_hz_now();
  state.counters["Gop/s"] = ops_per_s / 1e9;
  state.counters["GHz"] = hz / 1e9;
  state.counters["op/cycle"] = ops_per_s / hz;
}

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
  const Bounds bounds(VECTOR_BYTES * 8);
  Laps laps;
  for (auto _ : state) {
    laps.start();
    for (int sweep = 0; sweep < SWEEPS; ++sweep) {
      for (int g = 0; g < GROUPS; ++g) {
        Ops128::store(out + g * VECTOR_BYTES,
                      median::detail::window_median<Ops128>(frame.data() + g * VECTOR_BYTES, STRIDE));
      }
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
    laps.stop();
  }
  report_groups(state, bounds, OPS_PER_GROUP, GROUPS * SWEEPS, laps.median(), 1);
}

// The elements of one lane type for random bytes, in the order of the bytes.
template <class T>
std::vector<T> elements_of(const std::vector<uint8_t>& bytes) {
  std::vector<T> out(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i)
    out[i] = std::is_same_v<T, float> ? T(bytes[i]) / 255 : T(bytes[i] * (sizeof(T) == 2 ? 257 : 1));
  return out;
}

// A kernel's band function alone on one thread, again and again, on rows
// that stay in L1 with their output: 32 output rows of 128 pixels of 3
// channels (12 KB in and out at 8 bits, 48 KB at float), in bands of the
// kernel's own height, read from rows that hold the border already.  What
// the kernel does without the memory traffic of a photo or the caller's
// edges.  One iteration is 64 passes over the rows.
template <class T>
void kernel_in_l1(benchmark::State& state, const median::Kernel* kernel) {
  constexpr int W = 128, H = 32, PASSES = 64;
  const int32_t rx = kernel->window_width / 2, ry = kernel->window_height / 2;
  constexpr ptrdiff_t WIDTH = ptrdiff_t(W) * CHANNELS;
  const ptrdiff_t stride = WIDTH + 2 * rx * CHANNELS;
  const std::vector<T> image = elements_of<T>(random_bytes(size_t(stride) * (H + 2 * ry)));
  std::vector<T> filtered(size_t(WIDTH) * H);
  std::vector<const T*> in(size_t(H + 2 * ry));
  std::vector<T*> out(H);
  for (int r = 0; r < H + 2 * ry; ++r) in[size_t(r)] = image.data() + r * stride;
  for (int r = 0; r < H; ++r) out[size_t(r)] = filtered.data() + r * WIDTH;
  const median::detail::BandFunction<T> band = median::detail::band_function<T>(*kernel->code);
  const int32_t band_rows = kernel->code->band_rows;
  // The kernel's working memory, 64-byte aligned as the frame walk gives it.
  const size_t work_bytes = kernel->code->work_bytes ? kernel->code->work_bytes(rx, ry, CHANNELS) : 0;
  std::vector<unsigned char> work_memory(work_bytes + 64);
  void* work = work_bytes ? work_memory.data() + (64 - uintptr_t(work_memory.data()) % 64) : nullptr;
  auto pass = [&] {
    for (int32_t first = 0; first < H; first += band_rows)
      band({in.data() + first, out.data() + first, std::min(band_rows, H - first), WIDTH, CHANNELS,
            false, rx, ry, work});
  };
  pass();  // warm the caches
  const Bounds bounds(kernel->vector_bits, kernel->lane);
  Laps laps;
  for (auto _ : state) {
    laps.start();
    for (int i = 0; i < PASSES; ++i) {
      pass();
      benchmark::ClobberMemory();
    }
    laps.stop();
  }
  const double seconds = laps.median() / PASSES;
  report_groups(state, bounds, kernel->minmax_per_16_bytes,
                double(WIDTH) * H * sizeof(T) / GROUP_BYTES, seconds, 1);
  state.counters["Mpixel/s"] = double(W) * H / 1e6 / seconds;
  // What the report needs to say about the kernel beside its figures.
  state.counters["vector_bits"] = kernel->vector_bits;
  state.counters["minmax/16B"] = kernel->minmax_per_16_bytes;
  state.counters["lane"] = int(kernel->lane);
}

void BM_KernelInL1(benchmark::State& state, const median::Kernel* kernel) {
  switch (kernel->lane) {
    case median::Lane::u8: return kernel_in_l1<uint8_t>(state, kernel);
    case median::Lane::u16: return kernel_in_l1<uint16_t>(state, kernel);
    case median::Lane::f32: return kernel_in_l1<float>(state, kernel);
  }
}

// One complete pass over a w x h image on `threads` threads, the way the
// program runs it: same frames, same call.  With more than one thread every
// iteration also runs a one-thread pass first, timed apart, so that the
// speed-up compares passes that met the same load on the machine.  (The
// library's time column then holds both passes.)
void BM_Pass(benchmark::State& state, const median::Kernel* kernel) {
  const int w = int(state.range(0)), h = int(state.range(1)), threads = int(state.range(2));
  const int padded_width = w + 2 * BORDER;
  const std::vector<uint8_t> padded =
      random_bytes(size_t(padded_width) * (h + 2 * BORDER) * CHANNELS);
  std::vector<uint8_t> filtered(size_t(w) * h * CHANNELS);
  const int saved_threads = omp_get_max_threads();
  auto pass = [&](int n, Laps* laps) {
    omp_set_num_threads(n);
    laps->start();
    kernel->pass(h, w, padded_width, padded.data(), filtered.data());
    benchmark::ClobberMemory();
    laps->stop();
  };
  Laps warm_up, one_thread, laps;
  pass(threads, &warm_up);  // starts the runtime's threads

  const Bounds bounds(kernel->vector_bits);
  for (auto _ : state) {
    if (threads > 1) pass(1, &one_thread);
    pass(threads, &laps);
  }
  omp_set_num_threads(saved_threads);

  // Figures for the median pass.
  const double seconds = laps.median();
  report_groups(state, bounds, kernel->minmax_per_16_bytes,
                double(w) * h * CHANNELS / GROUP_BYTES, seconds, threads);
  state.counters["Mpixel/s"] = double(w) * h / 1e6 / seconds;
  if (threads > 1) state.counters["speedup"] = one_thread.median() / seconds;
}

// Every thread count from 1 to the number of cores.
void thread_counts(benchmark::internal::Benchmark* b, int w, int h) {
  for (int threads = 1; threads <= omp_get_num_procs(); ++threads) b->Args({w, h, threads});
  b->ArgNames({"w", "h", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
}

// The shipped photo's size and full HD.  Every pass is timed on its own, so
// a fixed number of them (about a second's worth of the benchmark's kernel
// at one thread) replaces the library's trial runs.
struct Frame {
  int w, h, iterations;
};
constexpr Frame FRAMES[] = {{5312, 2988, 20}, {1920, 1080, 100}};

void register_all() {
  for (const int bits : {128, 256, 512}) {
    if (!calibration::minmax_width_supported(bits)) continue;
    for (const auto& [lane, name] : {std::pair{median::Lane::u8, "u8"}, {median::Lane::u16, "u16"},
                                     {median::Lane::f32, "f32"}})
      benchmark::RegisterBenchmark(
          ("BM_MinMaxPeak/bits:" + std::to_string(bits) + "/lane:" + name).c_str(), BM_MinMaxPeak,
          bits, lane);
  }
  benchmark::RegisterBenchmark("BM_NetworkInL1", BM_NetworkInL1);

  std::vector<const median::Kernel*> runnable;
  std::string skipped;
  for (const median::Kernel& k : median::kernels()) {
    if (median::is_supported(k)) {
      runnable.push_back(&k);
    } else {
      std::fprintf(stderr, "Skipping %s: needs %s, which this processor lacks\n", k.name, k.isa);
      skipped += std::string(skipped.empty() ? "" : ",") + k.name;
    }
  }
  // Kernels of every window cost what their window makes them cost; they
  // are timed by window on whole frames (median_compare, crossover.py).
  for (const median::Kernel* k : runnable)
    if (k->window_width)
      benchmark::RegisterBenchmark(("BM_KernelInL1/" + std::string(k->name)).c_str(), BM_KernelInL1, k);
  // The 8-bit kernels' passes on a padded frame; the benchmark's kernel keeps
  // its rows' names: BM_Pass/w:.../h:.../threads:...
  for (const Frame& frame : FRAMES)
    for (const median::Kernel* k : runnable) {
      // The plain C++ kernels are timed in L1 and by median_compare.
      if (!k->pass || std::string(k->isa) == "none") continue;
      const std::string name = k->pass == &median_filter_pass ? "BM_Pass"
                                                                : "BM_Pass/" + std::string(k->name);
      benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name.c_str(), BM_Pass, k);
      thread_counts(b, frame.w, frame.h);
      b->Iterations(frame.iterations);
    }
  benchmark::AddCustomContext("fastest_kernel", median::fastest_kernel().name);
  benchmark::AddCustomContext("skipped_kernels", skipped);
  benchmark::AddCustomContext("avx512", calibration::minmax_width_supported(512) ? "yes" : "no");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
