// SPDX-License-Identifier: MIT
//
// The bound a kernel is measured against: the rate at which one core retires
// independent min/max of the kernel's lane type (vpminub/vpmaxub for bytes,
// vpminuw/vpmaxuw for 16 bits, vpminsd/vpmaxsd for the float keys) at a given
// vector width, 128, 256 or 512 bits, timed in the running process.  A kernel
// that needs k of them per 16 output bytes can produce at most peak / k
// groups of 16 bytes per second on one core.
//
// Every width has its own loops, in its own file; ask minmax_width_supported
// before timing a width.  Timing is
// wall-clock; none of this is thread-safe to mix with other work on the
// same core, which is the point.
#pragma once

#include <cstdint>

#include "median/median_filter.h"

namespace calibration {

using median::Lane;

// Independent min/max operations in one round of a timing loop.
constexpr int64_t MINMAX_OPS_PER_ROUND = 48;

// True when this processor and its operating system run the library's
// kernels of `vector_bits` (128: any x86-64, 256: AVX2, 512: AVX-512BW).
bool minmax_width_supported(int vector_bits);

// Runs `rounds` rounds of MINMAX_OPS_PER_ROUND independent min/max of `lane`
// at `vector_bits`, which must be supported.  On 128 bits without AVX, the
// SSE encodings; 16-bit and 32-bit ones without SSE4.1 time bytes instead.
void minmax_rounds(int vector_bits, Lane lane, int64_t rounds);

// Operations per second of one round loop of `rounds` rounds.
double timed_minmax_ops(int vector_bits, Lane lane, int64_t rounds);

// The peak rate now: the best of a few short bursts, so that a burst cut
// short by another process does not count.
double minmax_peak_now(int vector_bits, Lane lane = Lane::u8);

// The core's clock now, in Hz: the best of a few short bursts of a chain of
// dependent register additions, each of which takes one cycle on every
// x86 core.  Turns the min/max rates into operations per cycle, and times into
// cycles, without assuming how many min/max a processor issues per cycle.
double clock_hz_now();

// The clock of a shared machine drifts from one measurement to the next, so
// a measurement compares itself with calibrations taken right before and
// right after it.  Other work can only make a calibration low, never high,
// so the higher of the two counts.
class Bracket {
 public:
  explicit Bracket(int vector_bits, Lane lane = Lane::u8)
      : bits_(vector_bits), lane_(lane), before_(minmax_peak_now(vector_bits, lane)) {}
  // Calibrates again and returns the higher rate, in operations per second.
  double peak_ops() const;

 private:
  int bits_;
  Lane lane_;
  double before_;
};

}  // namespace calibration
