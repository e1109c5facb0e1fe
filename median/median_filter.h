// SPDX-License-Identifier: MIT
//
// The engine's C++ interface: the benchmark's pass on a zero-padded frame of
// interleaved 3-byte pixels, and the table of kernels behind every entry
// point, for choosing, forcing and measuring them.  To filter an image as it
// is, with any window, stride, channel count, element type and border, call
// median_filter_u8, _u16 or _f32 (median.h) or, for 5x5, median5x5_u8, _u16
// or _f32 (median5x5.h); both are included here.
//
// `padded` holds the image with a zero border of 2 pixels on every side:
// h + 4 rows of `padded_width` pixels (padded_width >= w + 4), each row
// padded_width * 3 bytes with nothing between rows; image pixel (x, y) sits at
// padded pixel (x + 2, y + 2).  `filtered` receives h rows of w * 3 bytes.
// Neither pointer needs any alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "median/median.h"
#include "median/median5x5.h"

// One complete pass: every byte of `filtered` becomes the median of the 25
// bytes of the same channel in the 5x5 window around it.  The rows are split
// among the OpenMP threads (static schedule); each row is written by exactly
// one thread and nothing outside `filtered` is written.  Reads stay inside the
// padded frame, including its last byte.  Returns when every row is done.
// Safe to call from one thread at a time per `filtered` buffer; `padded` is
// only read.  This is the benchmark's kernel: 128-bit vectors, 202 min/max
// operations per 16 output bytes, whatever the processor; on x86-64 it needs
// AVX, on ARM64 it runs on NEON, which every such processor has.
void median_filter_pass(int32_t h, int32_t w, int32_t padded_width,
                        const uint8_t* padded, uint8_t* filtered);

// The same pass with the same contract and the same bytes out, run by the
// fastest 8-bit kernel this processor supports (median::fastest_kernel()),
// except that the rows are shared as median_filter_u8 shares them: each
// thread starts on its own contiguous block and, when that is done, takes
// the back half of the largest block left (c-api.md, Threads).  Runs on any
// processor.
void median_filter_pass_fastest(int32_t h, int32_t w, int32_t padded_width,
                                const uint8_t* padded, uint8_t* filtered);

namespace median {

// A pass with median_filter_pass's contract.
using PassFunction = void (*)(int32_t h, int32_t w, int32_t padded_width,
                              const uint8_t* padded, uint8_t* filtered);

// The element type a kernel filters.
enum class Lane { u8, u16, f32 };

namespace detail {
struct KernelCode;  // the library's own
}

// One way of computing the median.  Every kernel of a lane type gives the
// same elements out for the windows it serves; they differ in method,
// instruction set, vector width and how much work neighbouring outputs
// share.
struct Kernel {
  const char* name;            // e.g. "column_avx2", "rowpair_avx2_u16", "huang_portable_f32";
                               // what MEDIAN_KERNEL takes
  const char* isa;             // what the processor needs: "sse2", "sse4.1", "avx", "avx2",
                               // "avx512bw", "neon", or "none" (plain C++)
  int vector_bits;             // 128, 256 or 512; 0 for a kernel that works element by element
  Lane lane;
  int window_width;            // the window it computes, columns by rows (5 by 5 for the
  int window_height;           // kernels of median5x5_*); 0 by 0 for a kernel of every window
  double minmax_per_16_bytes;  // min/max operations per 16 output bytes, long rows; 0 for a
                               // kernel that is not a min/max network
  // Memory accesses per output vector on long rows as the sweep's code makes
  // them; what the compiler spills for want of registers comes on top.
  double loads_per_vector;
  double stores_per_vector;
  // 8-bit kernels that compute 5x5 windows: the pass on a zero-padded frame,
  // with median_filter_pass's contract.  Null for the others.
  PassFunction pass;
  const detail::KernelCode* code;
};

// Every kernel built into this library, 8-bit ones first, then 16-bit, then
// float; within a lane type from the slowest to the widest.  A kernel may be
// listed that this processor cannot run.
const std::vector<Kernel>& kernels();

// True when this processor (and its operating system) runs `kernel`.
bool is_supported(const Kernel& kernel);

// The kernel called `name`, or nullptr when there is none.
const Kernel* find_kernel(const char* name);

// True when `kernel` computes windows of window_width x window_height.
bool serves(const Kernel& kernel, int window_width, int window_height);

// The kernel that median_filter_u8 (for Lane::u8), _u16 or _f32 runs for a
// window of window_width x window_height (odd, 1 to MEDIAN_MAX_WINDOW):
// a kernel the environment variable MEDIAN_KERNEL names when it serves that
// lane type and window and this processor supports it (one of that very
// window before one of every window), otherwise the automatic choice for
// that lane type and window on this processor.  MEDIAN_KERNEL is a
// comma-separated list of kernel names, read once, on first use; a name
// that is unknown, or names a kernel this processor cannot run, is reported
// once on standard error and ignored.
const Kernel& chosen_kernel(Lane lane, int window_width, int window_height);

// The kernel of median5x5_u8 (for Lane::u8; also median_filter_pass_fastest),
// median5x5_u16 or median5x5_f32: chosen_kernel(lane, 5, 5).
const Kernel& fastest_kernel(Lane lane = Lane::u8);

// median_filter_u8, _u16 or _f32 run by `kernel` instead of the automatic
// choice: the same arguments, results and statuses, and MEDIAN_ERROR_KERNEL
// when this processor cannot run `kernel`, it filters another lane type or
// it does not serve the window (checked after the window itself).
int filter(const Kernel& kernel, const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst,
           ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
           int32_t window_width, int32_t window_height, median_border border);
int filter(const Kernel& kernel, const uint16_t* src, ptrdiff_t src_stride, uint16_t* dst,
           ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
           int32_t window_width, int32_t window_height, median_border border);
int filter(const Kernel& kernel, const float* src, ptrdiff_t src_stride, float* dst,
           ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
           int32_t window_width, int32_t window_height, median_border border);

// The same with a 5x5 window: median5x5_u8, _u16 or _f32 run by `kernel`.
int filter(const Kernel& kernel, const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst,
           ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
           median_border border);
int filter(const Kernel& kernel, const uint16_t* src, ptrdiff_t src_stride, uint16_t* dst,
           ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
           median_border border);
int filter(const Kernel& kernel, const float* src, ptrdiff_t src_stride, float* dst,
           ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
           median_border border);

}  // namespace median
