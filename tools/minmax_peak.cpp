// SPDX-License-Identifier: MIT
//
// Choosing the round loop for a width and lane type and timing it.  Built
// for the processor baseline; the loops themselves live in
// minmax_rounds_*.cpp.

#include "minmax_peak.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "median/median_filter.h"

namespace calibration {

void minmax_rounds_sse(int lane, int64_t rounds);
void minmax_rounds_avx(int lane, int64_t rounds);
void minmax_rounds_avx2(int lane, int64_t rounds);
void minmax_rounds_avx512bw(int lane, int64_t rounds);

namespace {

// About 0.1 to 0.3 ms per burst at any width and clock: long against the
// timer's resolution, short against a scheduler's time slice.
constexpr int64_t BURST_ROUNDS = 20000;
constexpr int BURSTS = 16;

}  // namespace

// A width is there when the library's kernels of that width run here: the
// same instructions, and the same check of the processor and its system.
bool minmax_width_supported(int vector_bits) {
  for (const median::Kernel& k : median::kernels())
    if (k.vector_bits == vector_bits) return median::is_supported(k);
  return false;
}

void minmax_rounds(int vector_bits, Lane lane, int64_t rounds) {
  const int l = int(lane);
  switch (vector_bits) {
    case 128:
      __builtin_cpu_init();
      if (__builtin_cpu_supports("avx"))
        minmax_rounds_avx(l, rounds);
      else
        minmax_rounds_sse(__builtin_cpu_supports("sse4.1") ? l : 0, rounds);
      return;
    case 256: minmax_rounds_avx2(l, rounds); return;
    case 512: minmax_rounds_avx512bw(l, rounds); return;
    default: std::abort();  // a caller's error: only the three widths exist
  }
}

double timed_minmax_ops(int vector_bits, Lane lane, int64_t rounds) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  minmax_rounds(vector_bits, lane, rounds);
  const std::chrono::duration<double> s = Clock::now() - start;
  return double(rounds * MINMAX_OPS_PER_ROUND) / s.count();
}

double minmax_peak_now(int vector_bits, Lane lane) {
  double best = 0;
  for (int i = 0; i < BURSTS; ++i)
    best = std::max(best, timed_minmax_ops(vector_bits, lane, BURST_ROUNDS));
  return best;
}

double clock_hz_now() {
  using Clock = std::chrono::steady_clock;
  constexpr int64_t ADDS_PER_ROUND = 48;
  double best = 0;
  for (int i = 0; i < BURSTS; ++i) {
    int64_t rounds = BURST_ROUNDS, sum = 0;
    const auto start = Clock::now();
    // Register to register: some cores fold chains of additions of an
    // immediate in the renamer and run several a cycle.
    asm volatile(
        "1:\n\t"
        ".rept 48\n\t"
        "add %1, %1\n\t"
        ".endr\n\t"
        "dec %0\n\t"
        "jnz 1b\n\t"
        : "+r"(rounds), "+r"(sum)
        :
        : "cc");
    const std::chrono::duration<double> s = Clock::now() - start;
    best = std::max(best, double(BURST_ROUNDS * ADDS_PER_ROUND) / s.count());
  }
  return best;
}

double Bracket::peak_ops() const { return std::max(before_, minmax_peak_now(bits_, lane_)); }

}  // namespace calibration
