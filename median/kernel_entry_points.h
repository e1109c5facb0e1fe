// SPDX-License-Identifier: MIT
//
// The band sweeps each instruction set's translation unit defines, for the
// kernel table (kernels.cpp).  Each runs only on a processor with its
// instruction set.  Every file defines the three sweeps with
// MEDIAN_DEFINE_BANDS on its own Isa (isa_*.h) and instantiates them for the
// lane types it has kernels for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "median/band.h"

#define MEDIAN_DECLARE_BANDS(isa)                                   \
  namespace median::isa {                                           \
  template <class T>                                                \
  void network_band(const ::median::detail::Band<T>& band);         \
  template <class T>                                                \
  void rowpair_band(const ::median::detail::Band<T>& band);         \
  template <class T>                                                \
  void column_band(const ::median::detail::Band<T>& band);          \
  template <int K, class T>                                         \
  void separable_band(const ::median::detail::Band<T>& band);       \
  template <int K, class T>                                         \
  void program_band(const ::median::detail::Band<T>& band);         \
  }

#if defined(__x86_64__)
MEDIAN_DECLARE_BANDS(sse2)   // u8, f32
MEDIAN_DECLARE_BANDS(sse41)  // u16, f32
MEDIAN_DECLARE_BANDS(avx)    // all three, 128-bit
MEDIAN_DECLARE_BANDS(avx2)
MEDIAN_DECLARE_BANDS(avx512bw)
#endif
#if defined(__aarch64__)
MEDIAN_DECLARE_BANDS(neon)
#endif
MEDIAN_DECLARE_BANDS(portable)

// The sliding histogram of every window (histogram/sliding_histogram.h), in
// plain C++ only: it works one element at a time.
namespace median::portable {
template <class T>
void huang_band(const ::median::detail::Band<T>& band);
}

// The histogram methods of every window, on the instruction sets that have
// them: Perreault and Hébert's for 8-bit elements
// (histogram/perreault_hebert.h), ranks within a tile for 16-bit and float
// elements (histogram/tile_ranks.h), each with the size of its working
// memory.
#define MEDIAN_DECLARE_HISTOGRAMS(isa)                                              \
  namespace median::isa {                                                           \
  void histogram_band(const ::median::detail::Band<uint8_t>& band);                 \
  size_t histogram_work_bytes(int32_t rx, int32_t ry, ptrdiff_t step);              \
  template <class T>                                                                \
  void rank_band(const ::median::detail::Band<T>& band);                            \
  template <class T>                                                                \
  size_t rank_work_bytes(int32_t rx, int32_t ry, ptrdiff_t step);                   \
  }

#if defined(__x86_64__)
MEDIAN_DECLARE_HISTOGRAMS(sse41)
MEDIAN_DECLARE_HISTOGRAMS(avx2)
MEDIAN_DECLARE_HISTOGRAMS(avx512bw)
#endif
#if defined(__aarch64__)
MEDIAN_DECLARE_HISTOGRAMS(neon)
#endif

// Inside namespace median::<isa> of a kernel file, after
// histogram/tile_ranks.h and the histogram operations of its instruction
// set (histogram/ops_*.h): the histogram methods on those operations.
#define MEDIAN_DEFINE_HISTOGRAMS(HistogramOps)                                             \
  void histogram_band(const ::median::detail::Band<uint8_t>& band) {                       \
    ::median::detail::histogram::histogram_band<HistogramOps>(band);                       \
  }                                                                                        \
  size_t histogram_work_bytes(int32_t rx, int32_t ry, ptrdiff_t step) {                    \
    return ::median::detail::histogram::histogram_work_bytes<HistogramOps>(rx, ry, step);  \
  }                                                                                        \
  template <class T>                                                                       \
  void rank_band(const ::median::detail::Band<T>& band) {                                  \
    ::median::detail::histogram::rank_band<HistogramOps, T>(band);                         \
  }                                                                                        \
  template <class T>                                                                       \
  size_t rank_work_bytes(int32_t rx, int32_t ry, ptrdiff_t step) {                         \
    return ::median::detail::histogram::rank_work_bytes<HistogramOps, T>(rx, ry, step);    \
  }                                                                                        \
  template void rank_band<uint16_t>(const ::median::detail::Band<uint16_t>&);              \
  template void rank_band<float>(const ::median::detail::Band<float>&);                    \
  template size_t rank_work_bytes<uint16_t>(int32_t, int32_t, ptrdiff_t);                  \
  template size_t rank_work_bytes<float>(int32_t, int32_t, ptrdiff_t);

// Inside namespace median::<isa> of a kernel file, after band_sweeps.h and
// lane_ops.h: the three 5x5 sweeps on Isa's vectors; with separable_sweep.h
// and separable_windows.h, the separable sweep of the K x K window
// (MEDIAN_DEFINE_SEPARABLE, instantiated per window and lane type).
#define MEDIAN_DEFINE_BANDS(Isa)                                                   \
  template <class T>                                                               \
  void network_band(const ::median::detail::Band<T>& band) {                       \
    ::median::detail::network_band<::median::detail::LaneOps<Isa, T>>(band);       \
  }                                                                                \
  template <class T>                                                               \
  void rowpair_band(const ::median::detail::Band<T>& band) {                       \
    ::median::detail::rowpair_band<::median::detail::LaneOps<Isa, T>>(band);       \
  }                                                                                \
  template <class T>                                                               \
  void column_band(const ::median::detail::Band<T>& band) {                        \
    ::median::detail::column_band<::median::detail::LaneOps<Isa, T>>(band);        \
  }

#define MEDIAN_DEFINE_SEPARABLE(Isa)                                                   \
  template <int K, class T>                                                            \
  void separable_band(const ::median::detail::Band<T>& band) {                         \
    ::median::detail::separable_band<::median::detail::LaneOps<Isa, T>,                \
                                     ::median::detail::SeparableNetwork<K>>(band);     \
  }

#define MEDIAN_INSTANTIATE_SEPARABLE(K, T) \
  template void separable_band<K, T>(const ::median::detail::Band<T>&);

// The windows every instruction set compiles, and those that only the wide
// ones do (13x13 to 21x21 add about 2 minutes to each wide file's compile);
// the kernel table (kernels.cpp) lists the same.
#define MEDIAN_INSTANTIATE_SEPARABLE_WINDOWS(T)                            \
  MEDIAN_INSTANTIATE_SEPARABLE(3, T) MEDIAN_INSTANTIATE_SEPARABLE(7, T)     \
      MEDIAN_INSTANTIATE_SEPARABLE(9, T) MEDIAN_INSTANTIATE_SEPARABLE(11, T)
#define MEDIAN_INSTANTIATE_WIDE_SEPARABLE_WINDOWS(T)                      \
  MEDIAN_INSTANTIATE_SEPARABLE(13, T) MEDIAN_INSTANTIATE_SEPARABLE(15, T) \
  MEDIAN_INSTANTIATE_SEPARABLE(17, T) MEDIAN_INSTANTIATE_SEPARABLE(19, T) \
  MEDIAN_INSTANTIATE_SEPARABLE(21, T)

// Inside namespace median::<isa> of a kernel file, after
// separable_program.h: the interpreted separable networks of the windows
// without compiled code (separable_KxK_program.h): 23x23 and 25x25 on the
// wide instruction sets, 17x17 to 25x25 on NEON.  The kernel table lists
// the same.
#define MEDIAN_DEFINE_PROGRAMS(Isa)                                                 \
  template <int K, class T>                                                         \
  void program_band(const ::median::detail::Band<T>& band) {                        \
    ::median::detail::program_band<::median::detail::LaneOps<Isa, T>,               \
                                   ::median::detail::SeparableProgram<K>>(band);    \
  }

#define MEDIAN_INSTANTIATE_PROGRAM(K, T) \
  template void program_band<K, T>(const ::median::detail::Band<T>&);
#define MEDIAN_INSTANTIATE_WIDE_PROGRAMS(T) \
  MEDIAN_INSTANTIATE_PROGRAM(23, T) MEDIAN_INSTANTIATE_PROGRAM(25, T)
#define MEDIAN_INSTANTIATE_NEON_PROGRAMS(T)                                 \
  MEDIAN_INSTANTIATE_PROGRAM(17, T) MEDIAN_INSTANTIATE_PROGRAM(19, T)       \
  MEDIAN_INSTANTIATE_PROGRAM(21, T) MEDIAN_INSTANTIATE_WIDE_PROGRAMS(T)

#define MEDIAN_INSTANTIATE_BANDS(T)                                  \
  template void network_band<T>(const ::median::detail::Band<T>&);   \
  template void rowpair_band<T>(const ::median::detail::Band<T>&);   \
  template void column_band<T>(const ::median::detail::Band<T>&);
