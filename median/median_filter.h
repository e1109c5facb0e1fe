// SPDX-License-Identifier: MIT
//
// 5x5 median filter on interleaved 3-byte pixels.
//
// `padded` holds the image with a zero border of 2 pixels on every side:
// h + 4 rows of `padded_width` pixels (padded_width >= w + 4), each row
// padded_width * 3 bytes with nothing between rows; image pixel (x, y) sits at
// padded pixel (x + 2, y + 2).  `filtered` receives h rows of w * 3 bytes.
// Neither pointer needs any alignment.
#pragma once

#include <cstdint>
#include <vector>

// One complete pass: every byte of `filtered` becomes the median of the 25
// bytes of the same channel in the 5x5 window around it.  The rows are split
// among the OpenMP threads (static schedule); each row is written by exactly
// one thread and nothing outside `filtered` is written.  Reads stay inside the
// padded frame, including its last byte.  Returns when every row is done.
// Safe to call from one thread at a time per `filtered` buffer; `padded` is
// only read.  This is the benchmark's kernel: 128-bit vectors, 202 min/max
// operations per 16 output bytes, whatever the processor.
void median_filter_pass(int32_t h, int32_t w, int32_t padded_width,
                        const uint8_t* padded, uint8_t* filtered);

// The same pass with the same contract and the same bytes out, run by the
// fastest kernel this processor supports (median::fastest_kernel()).
void median_filter_pass_fastest(int32_t h, int32_t w, int32_t padded_width,
                                const uint8_t* padded, uint8_t* filtered);

namespace median {

// A pass with median_filter_pass's contract.
using PassFunction = void (*)(int32_t h, int32_t w, int32_t padded_width,
                              const uint8_t* padded, uint8_t* filtered);

// One way of computing the pass.  Every kernel gives the same bytes; they
// differ in vector width and in how much work neighbouring rows share.
struct Kernel {
  const char* name;            // e.g. "rowpair_avx2"; what MEDIAN_KERNEL takes
  const char* isa;             // what the processor needs: "avx", "avx2", "avx512bw"
  int vector_bits;             // 128, 256 or 512
  double minmax_per_16_bytes;  // min/max operations per 16 output bytes, long rows
  PassFunction pass;
};

// Every kernel built into this library, from the benchmark's own
// ("network_avx", which is median_filter_pass) to the widest; a kernel may be
// listed that this processor cannot run.
const std::vector<Kernel>& kernels();

// True when this processor (and its operating system) runs `kernel`.
bool is_supported(const Kernel& kernel);

// The kernel called `name`, or nullptr when there is none.
const Kernel* find_kernel(const char* name);

// The kernel median_filter_pass_fastest runs, chosen once, on first use:
// the one named by the environment variable MEDIAN_KERNEL when this
// processor supports it, otherwise the fastest supported one.  A name that
// is unknown or unsupported is reported once on standard error and ignored.
const Kernel& fastest_kernel();

}  // namespace median
