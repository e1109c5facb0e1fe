// SPDX-License-Identifier: MIT
//
// The kernel table, the choice among its entries, and the entry points that
// use the choice.  Built for the processor baseline (on x86-64, without
// AVX), so that asking what the processor supports never executes an
// instruction it lacks.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "median/network/band_sweeps.h"
#include "median/network/separable_program.h"
#include "median/network/separable_sweep.h"
#include "median/network/separable_windows.h"
#include "median/kernel_code.h"
#include "median/kernel_entry_points.h"
#include "median/histogram/sliding_histogram.h"
#include "median/median.h"
#include "median/median5x5.h"
#include "median/median_filter.h"

namespace median {
namespace {

using detail::BandFunction;
using detail::KernelCode;

// What the three sweeps cost per output vector and how tall their bands are
// (band_sweeps.h), each figure twice: on an instruction set with 16 vector
// registers, and on one with 32.
struct Sweep {
  double ops[2];
  double loads[2], stores[2];
  int32_t band_rows[2];
};
constexpr Sweep NETWORK{{detail::NETWORK_OPS_PER_VECTOR, detail::NETWORK_OPS_PER_VECTOR},
                        {detail::NETWORK_LOADS_PER_VECTOR, detail::NETWORK_LOADS_PER_VECTOR},
                        {detail::NETWORK_STORES_PER_VECTOR, detail::NETWORK_STORES_PER_VECTOR},
                        {detail::NETWORK_BAND_ROWS, detail::NETWORK_BAND_ROWS}};
constexpr double ROWPAIR_OPS = detail::ROWPAIR_SWEEP_OPS_PER_VECTOR<detail::ROWPAIR_BAND_ROWS>;
constexpr Sweep ROWPAIR{{ROWPAIR_OPS, ROWPAIR_OPS},
                        {detail::ROWPAIR_LOADS_PER_VECTOR, detail::ROWPAIR_LOADS_PER_VECTOR},
                        {detail::ROWPAIR_STORES_PER_VECTOR, detail::ROWPAIR_STORES_PER_VECTOR},
                        {detail::ROWPAIR_BAND_ROWS, detail::ROWPAIR_BAND_ROWS}};
constexpr Sweep COLUMN{{detail::ROWPAIR_SWEEP_OPS_PER_VECTOR<detail::COLUMN_BAND_ROWS<16>>,
                        detail::ROWPAIR_SWEEP_OPS_PER_VECTOR<detail::COLUMN_BAND_ROWS<32>>},
                       {detail::COLUMN_LOADS_PER_VECTOR<16>, detail::COLUMN_LOADS_PER_VECTOR<32>},
                       {detail::COLUMN_STORES_PER_VECTOR<16>, detail::COLUMN_STORES_PER_VECTOR<32>},
                       {detail::COLUMN_BAND_ROWS<16>, detail::COLUMN_BAND_ROWS<32>}};

template <class T>
constexpr Lane LANE = std::is_same_v<T, uint8_t> ? Lane::u8 : std::is_same_v<T, uint16_t> ? Lane::u16 : Lane::f32;

using WorkBytes = size_t (*)(int32_t, int32_t, ptrdiff_t);

template <class T>
constexpr KernelCode code_of(BandFunction<T> band, int lanes, int32_t band_rows, int32_t window,
                             WorkBytes work_bytes, bool interpreted) {
  KernelCode code{nullptr, nullptr, nullptr,    lanes,      band_rows,
                  window,  window,  work_bytes, interpreted};
  if constexpr (LANE<T> == Lane::u8)
    code.u8 = band;
  else if constexpr (LANE<T> == Lane::u16)
    code.u16 = band;
  else
    code.f32 = band;
  return code;
}

// One KernelCode per band function, with static storage, for the table to
// point at.  WINDOW: the side of the square window it computes, 0 for every
// window; INTERPRETED: a network run as data.
template <class T, BandFunction<T> BAND, int LANES, int32_t ROWS, int32_t WINDOW = detail::WINDOW,
          WorkBytes WORK = nullptr, bool INTERPRETED = false>
constexpr KernelCode CODE = code_of<T>(BAND, LANES, ROWS, WINDOW, WORK, INTERPRETED);

template <const KernelCode& CODE>
void pass_of(int32_t h, int32_t w, int32_t padded_width, const uint8_t* padded, uint8_t* filtered) {
  detail::padded_pass(CODE, h, w, padded_width, padded, filtered);
}

// The padded-frame pass of an 8-bit kernel that computes 5x5 windows.
template <class T, const KernelCode& CODE>
constexpr PassFunction pass_for() {
  if constexpr (std::is_same_v<T, uint8_t>)
    return pass_of<CODE>;
  else
    return nullptr;
}

template <class T, BandFunction<T> BAND, int BITS, int REGISTERS, const Sweep& SWEEP>
Kernel kernel(const char* name, const char* isa) {
  constexpr int LANES = BITS / 8 / int(sizeof(T));
  constexpr int r = REGISTERS >= 32;
  constexpr const KernelCode& code = CODE<T, BAND, LANES, SWEEP.band_rows[r]>;
  return {name,          isa,       BITS,          LANE<T>,          detail::WINDOW, detail::WINDOW,
          SWEEP.ops[r] * 16.0 * 8 / BITS, SWEEP.loads[r], SWEEP.stores[r], pass_for<T, code>(), &code};
}

// The sliding histogram (histogram/sliding_histogram.h): every window, one
// element at a time, in plain C++; the method of last resort.
constexpr int32_t HUANG_BAND_ROWS = 64;
template <class T, WorkBytes WORK>
Kernel huang_kernel(const char* name) {
  constexpr const KernelCode& code =
      CODE<T, &portable::huang_band<T>, 1, HUANG_BAND_ROWS, 0, WORK>;
  return {name, "none", 0, LANE<T>, 0, 0, 0, 0, 0, pass_for<T, code>(), &code};
}

// The histogram methods of every window (kernel_entry_points.h), one
// element at a time with vector counts (vector_bits 0: no min/max network's
// bound applies): for 8 bits, bands as tall as the frame walk takes, as
// each band fills its columns' histograms from its first 2 ry + 1 rows (on
// an AMD Zen 5, one thread, a 1920x1080x3 photo: at 255x255, 512 rows ran
// 15 % faster than 128 and 38 % faster than 64; at 7x7, the same from 128
// rows up; two threads went from 1.3 to 1.9 times one thread's speed when
// each thread's 540 rows became one band instead of 512 and 28); for 16
// bits and floats, bands of a tile's rows or two
// (tile_ranks.h cuts them).  The edges' scratch regions need no more than
// the window's reach (lanes 1).
constexpr int32_t HISTOGRAM_BAND_ROWS = detail::MAX_BAND_ROWS;
template <class T, BandFunction<T> BAND, WorkBytes WORK, int32_t ROWS>
Kernel histogram_kernel(const char* name, const char* isa) {
  constexpr const KernelCode& code = CODE<T, BAND, 1, ROWS, 0, WORK>;
  return {name, isa, 0, LANE<T>, 0, 0, 0, 0, 0, nullptr, &code};
}
#define MEDIAN_HISTOGRAM_KERNELS(isa, isa_name)                                               \
  histogram_kernel<uint8_t, &isa::histogram_band, &isa::histogram_work_bytes,                 \
                   HISTOGRAM_BAND_ROWS>("histogram_" #isa, isa_name),                         \
      histogram_kernel<uint16_t, &isa::rank_band<uint16_t>, &isa::rank_work_bytes<uint16_t>,  \
                       detail::RANK_BAND_ROWS>("rank_" #isa "_u16", isa_name),                        \
      histogram_kernel<float, &isa::rank_band<float>, &isa::rank_work_bytes<float>,           \
                       detail::RANK_BAND_ROWS>("rank_" #isa "_f32", isa_name)

// isa: the namespace of kernel_<isa>.cpp; bits and registers: its vectors.
#define MEDIAN_KERNEL_ENTRY(sweep, SWEEP, isa, isa_name, bits, registers, T, suffix) \
  kernel<T, &isa::sweep##_band<T>, bits, registers, SWEEP>(#sweep "_" #isa suffix, isa_name)

// The separable sweep of the K x K window (network/separable_sweep.h): its
// min/max per output vector from the header's counts, with each walk's
// start spread over the band; working memory for the ring where that is in
// memory.
template <class W, int REGISTERS, int BYTES>
size_t separable_work(int32_t, int32_t, ptrdiff_t) {
  return detail::SEPARABLE_WORK_BYTES<W, REGISTERS, BYTES>;
}

template <class T, int K, BandFunction<T> BAND, int BITS, int REGISTERS>
Kernel separable_kernel(const char* name, const char* isa) {
  using W = detail::SeparableNetwork<K>;
  constexpr int32_t ROWS = detail::SEPARABLE_BAND_ROWS<W>;
  constexpr int LANES = BITS / 8 / int(sizeof(T));
  constexpr WorkBytes WORK = detail::SEPARABLE_WORK_BYTES<W, REGISTERS, BITS / 8> > 0
                                 ? &separable_work<W, REGISTERS, BITS / 8>
                                 : nullptr;
  constexpr const KernelCode& code = CODE<T, BAND, LANES, ROWS, K, WORK>;
  return {name,
          isa,
          BITS,
          LANE<T>,
          K,
          K,
          detail::SEPARABLE_OPS_PER_VECTOR<W, ROWS> * 16.0 * 8 / BITS,
          detail::SEPARABLE_LOADS_PER_VECTOR<W, ROWS, REGISTERS>,
          detail::SEPARABLE_STORES_PER_VECTOR<W, ROWS, REGISTERS>,
          nullptr,
          &code};
}

#define MEDIAN_SEPARABLE_ENTRY(K, isa, isa_name, bits, registers, T, suffix)                  \
  separable_kernel<T, K, &isa::separable_band<K, T>, bits, registers>("separable" #K "x" #K \
                                                                      "_" #isa suffix,      \
                                                                      isa_name)

// The interpreted separable networks (network/separable_program.h): bands
// as tall as the frame walk takes, since each walk's warm-up steps cost as
// much as a few steps of outputs; the ring and the other slots in working
// memory.
constexpr int32_t PROGRAM_BAND_ROWS = detail::MAX_BAND_ROWS;
template <class P>
size_t program_work(int32_t, int32_t, ptrdiff_t) {
  return detail::PROGRAM_WORK_BYTES<P>;
}

template <class T, int K, BandFunction<T> BAND, int BITS>
Kernel program_kernel(const char* name, const char* isa) {
  using P = detail::SeparableProgram<K>;
  constexpr int LANES = BITS / 8 / int(sizeof(T));
  constexpr const KernelCode& code =
      CODE<T, BAND, LANES, PROGRAM_BAND_ROWS, K, &program_work<P>, true>;
  return {name,
          isa,
          BITS,
          LANE<T>,
          K,
          K,
          detail::PROGRAM_OPS_PER_VECTOR<P, PROGRAM_BAND_ROWS> * 16.0 * 8 / BITS,
          detail::PROGRAM_ACCESSES_PER_VECTOR<P>,
          detail::PROGRAM_ACCESSES_PER_VECTOR<P>,
          nullptr,
          &code};
}

#define MEDIAN_PROGRAM_ENTRY(K, isa, isa_name, bits, T, suffix)                             \
  program_kernel<T, K, &isa::program_band<K, T>, bits>("separable" #K "x" #K "_" #isa suffix, \
                                                       isa_name)

// The interpreted windows of one lane type: those the wide instruction sets
// do not compile, and on NEON every one.
#if defined(__x86_64__)
#define MEDIAN_PROGRAM_ENTRIES(K, T, suffix)                    \
  MEDIAN_PROGRAM_ENTRY(K, avx2, "avx2", 256, T, suffix),        \
      MEDIAN_PROGRAM_ENTRY(K, avx512bw, "avx512bw", 512, T, suffix)
#define MEDIAN_PROGRAM_KERNELS(T, suffix) \
  , MEDIAN_PROGRAM_ENTRIES(23, T, suffix), MEDIAN_PROGRAM_ENTRIES(25, T, suffix)
#elif defined(__aarch64__)
#define MEDIAN_PROGRAM_ENTRIES(K, T, suffix) MEDIAN_PROGRAM_ENTRY(K, neon, "neon", 128, T, suffix)
#define MEDIAN_PROGRAM_KERNELS(T, suffix)                                                   \
  , MEDIAN_PROGRAM_ENTRIES(17, T, suffix), MEDIAN_PROGRAM_ENTRIES(19, T, suffix),            \
      MEDIAN_PROGRAM_ENTRIES(21, T, suffix), MEDIAN_PROGRAM_ENTRIES(23, T, suffix),          \
      MEDIAN_PROGRAM_ENTRIES(25, T, suffix)
#else
#define MEDIAN_PROGRAM_KERNELS(T, suffix)
#endif

// One sweep's kernels of one lane type: in plain C++ everywhere, and on the
// x86 instruction sets that have them (BASE: those without AVX), or on NEON.
#if defined(__x86_64__)
#define MEDIAN_SWEEP_KERNELS(sweep, SWEEP, T, suffix, BASE)               \
  MEDIAN_KERNEL_ENTRY(sweep, SWEEP, portable, "none", 128, 16, T, suffix),    \
      BASE(sweep, SWEEP), MEDIAN_KERNEL_ENTRY(sweep, SWEEP, avx, "avx", 128, 16, T, suffix), \
      MEDIAN_KERNEL_ENTRY(sweep, SWEEP, avx2, "avx2", 256, 16, T, suffix),    \
      MEDIAN_KERNEL_ENTRY(sweep, SWEEP, avx512bw, "avx512bw", 512, 32, T, suffix)
#elif defined(__aarch64__)
#define MEDIAN_SWEEP_KERNELS(sweep, SWEEP, T, suffix, BASE)            \
  MEDIAN_KERNEL_ENTRY(sweep, SWEEP, portable, "none", 128, 16, T, suffix), \
      MEDIAN_KERNEL_ENTRY(sweep, SWEEP, neon, "neon", 128, 32, T, suffix)
#else
#define MEDIAN_SWEEP_KERNELS(sweep, SWEEP, T, suffix, BASE) \
  MEDIAN_KERNEL_ENTRY(sweep, SWEEP, portable, "none", 128, 16, T, suffix)
#endif

// x86 processors without AVX: SSE2 for bytes and floats, SSE4.1 for 16 bits
// (whose unsigned min/max SSE2 lacks) and for floats where it is there.
#define MEDIAN_BASE_U8(sweep, SWEEP) MEDIAN_KERNEL_ENTRY(sweep, SWEEP, sse2, "sse2", 128, 16, uint8_t, "")
#define MEDIAN_BASE_U16(sweep, SWEEP) \
  MEDIAN_KERNEL_ENTRY(sweep, SWEEP, sse41, "sse4.1", 128, 16, uint16_t, "_u16")
#define MEDIAN_BASE_F32(sweep, SWEEP)                                    \
  MEDIAN_KERNEL_ENTRY(sweep, SWEEP, sse2, "sse2", 128, 16, float, "_f32"),   \
      MEDIAN_KERNEL_ENTRY(sweep, SWEEP, sse41, "sse4.1", 128, 16, float, "_f32")

// The separable kernels of one window and lane type, the same way; and,
// each after a comma, those of a window compiled only for the wide
// instruction sets (MEDIAN_WIDE_SEPARABLE).
#if defined(__x86_64__)
#define MEDIAN_SEPARABLE_KERNELS(K, T, suffix, BASE)                           \
  MEDIAN_SEPARABLE_ENTRY(K, portable, "none", 128, 16, T, suffix), BASE(K),     \
      MEDIAN_SEPARABLE_ENTRY(K, avx, "avx", 128, 16, T, suffix),                \
      MEDIAN_SEPARABLE_ENTRY(K, avx2, "avx2", 256, 16, T, suffix),              \
      MEDIAN_SEPARABLE_ENTRY(K, avx512bw, "avx512bw", 512, 32, T, suffix)
#define MEDIAN_WIDE_SEPARABLE(K, T, suffix)                     \
  , MEDIAN_SEPARABLE_ENTRY(K, avx2, "avx2", 256, 16, T, suffix), \
      MEDIAN_SEPARABLE_ENTRY(K, avx512bw, "avx512bw", 512, 32, T, suffix)
#elif defined(__aarch64__)
#define MEDIAN_SEPARABLE_KERNELS(K, T, suffix, BASE)                 \
  MEDIAN_SEPARABLE_ENTRY(K, portable, "none", 128, 16, T, suffix),    \
      MEDIAN_SEPARABLE_ENTRY(K, neon, "neon", 128, 32, T, suffix)
#define MEDIAN_WIDE_SEPARABLE(K, T, suffix)
#else
#define MEDIAN_SEPARABLE_KERNELS(K, T, suffix, BASE) \
  MEDIAN_SEPARABLE_ENTRY(K, portable, "none", 128, 16, T, suffix)
#define MEDIAN_WIDE_SEPARABLE(K, T, suffix)
#endif

#define MEDIAN_SEPARABLE_BASE_U8(K) MEDIAN_SEPARABLE_ENTRY(K, sse2, "sse2", 128, 16, uint8_t, "")
#define MEDIAN_SEPARABLE_BASE_U16(K) \
  MEDIAN_SEPARABLE_ENTRY(K, sse41, "sse4.1", 128, 16, uint16_t, "_u16")
#define MEDIAN_SEPARABLE_BASE_F32(K)                                  \
  MEDIAN_SEPARABLE_ENTRY(K, sse2, "sse2", 128, 16, float, "_f32"),     \
      MEDIAN_SEPARABLE_ENTRY(K, sse41, "sse4.1", 128, 16, float, "_f32")

// BASE: U8, U16 or F32, for the kernels of processors without AVX.
#define MEDIAN_LANE_KERNELS(T, suffix, BASE)                                      \
  MEDIAN_SWEEP_KERNELS(network, NETWORK, T, suffix, MEDIAN_BASE_##BASE),          \
      MEDIAN_SWEEP_KERNELS(rowpair, ROWPAIR, T, suffix, MEDIAN_BASE_##BASE),      \
      MEDIAN_SWEEP_KERNELS(column, COLUMN, T, suffix, MEDIAN_BASE_##BASE),        \
      MEDIAN_SEPARABLE_KERNELS(3, T, suffix, MEDIAN_SEPARABLE_BASE_##BASE),       \
      MEDIAN_SEPARABLE_KERNELS(7, T, suffix, MEDIAN_SEPARABLE_BASE_##BASE),       \
      MEDIAN_SEPARABLE_KERNELS(9, T, suffix, MEDIAN_SEPARABLE_BASE_##BASE),       \
      MEDIAN_SEPARABLE_KERNELS(11, T, suffix, MEDIAN_SEPARABLE_BASE_##BASE)       \
          MEDIAN_WIDE_SEPARABLE(13, T, suffix) MEDIAN_WIDE_SEPARABLE(15, T, suffix) \
              MEDIAN_WIDE_SEPARABLE(17, T, suffix) MEDIAN_WIDE_SEPARABLE(19, T, suffix) \
                  MEDIAN_WIDE_SEPARABLE(21, T, suffix) MEDIAN_PROGRAM_KERNELS(T, suffix)

// Which sweep the automatic choice prefers, lowest first.  The network
// shares no work and comes last.  The column walk keeps its state in
// registers where there are 32 of them (AVX-512, NEON), and there it stores
// a fifth of what the row pairs store, which limits cores that run wide
// min/max at full rate.  With 16 registers it keeps part of that state in
// memory all the same, and the row pairs measured faster or as fast (AMD
// Zen 3, AVX2, a 16-megapixel frame: 633 against 540 Mpixel/s at 8 bits on
// one thread, 1287 against 1108 on two; 387 against 405 at 16 bits, 174
// against 173 for floats, on one thread).
int preference(const Kernel& k) {
  const bool wide_register_file =
      std::strcmp(k.isa, "avx512bw") == 0 || std::strcmp(k.isa, "neon") == 0;
  if (std::strncmp(k.name, "network_", 8) == 0) return 0;
  if (std::strncmp(k.name, "column_", 7) == 0) return wide_register_file ? 3 : 1;
  return 2;
}

// Within a lane type, by the preference above, each from the narrowest
// instruction set to the widest; the automatic choice is the last one the
// processor supports.
std::vector<Kernel> make_table() {
  std::vector<Kernel> table = {
      MEDIAN_LANE_KERNELS(uint8_t, "", U8),
      MEDIAN_LANE_KERNELS(uint16_t, "_u16", U16),
      MEDIAN_LANE_KERNELS(float, "_f32", F32),
      huang_kernel<uint8_t, nullptr>("huang_portable"),
      huang_kernel<uint16_t, &detail::histogram::integer_work_bytes>("huang_portable_u16"),
      huang_kernel<float, &detail::histogram::float_work_bytes>("huang_portable_f32"),
#if defined(__x86_64__)
      MEDIAN_HISTOGRAM_KERNELS(sse41, "sse4.1"),
      MEDIAN_HISTOGRAM_KERNELS(avx2, "avx2"),
      MEDIAN_HISTOGRAM_KERNELS(avx512bw, "avx512bw"),
#elif defined(__aarch64__)
      MEDIAN_HISTOGRAM_KERNELS(neon, "neon"),
#endif
  };
  std::stable_sort(table.begin(), table.end(), [](const Kernel& a, const Kernel& b) {
    return a.lane != b.lane ? a.lane < b.lane : preference(a) < preference(b);
  });
#if defined(__x86_64__)
  // The benchmark's own kernel is median_filter_pass itself.
  for (Kernel& k : table)
    if (std::strcmp(k.name, "network_avx") == 0) k.pass = ::median_filter_pass;
#endif
  return table;
}

const std::vector<Kernel>& table() {
  static const std::vector<Kernel> kernels = make_table();
  return kernels;
}

bool processor_has(const char* isa) {
  if (std::strcmp(isa, "none") == 0) return true;
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (std::strcmp(isa, "sse2") == 0) return __builtin_cpu_supports("sse2");
  if (std::strcmp(isa, "sse4.1") == 0) return __builtin_cpu_supports("sse4.1");
  if (std::strcmp(isa, "avx") == 0) return __builtin_cpu_supports("avx");
  if (std::strcmp(isa, "avx2") == 0) return __builtin_cpu_supports("avx2");
  if (std::strcmp(isa, "avx512bw") == 0)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("bmi2");
#elif defined(__aarch64__)
  if (std::strcmp(isa, "neon") == 0) return true;
#endif
  return false;
}

// The kernels MEDIAN_KERNEL names, comma-separated, read once.  A name of
// no kernel, or of one this processor cannot run, is reported then.
const std::vector<const Kernel*>& forced_kernels() {
  static const std::vector<const Kernel*> forced = [] {
    std::vector<const Kernel*> kernels;
    const char* value = std::getenv("MEDIAN_KERNEL");
    for (const char* p = value ? value : ""; *p;) {
      const char* comma = std::strchr(p, ',');
      const std::string name(p, comma ? size_t(comma - p) : std::strlen(p));
      if (!name.empty()) {
        const Kernel* k = find_kernel(name.c_str());
        if (!k)
          std::fprintf(stderr, "median: MEDIAN_KERNEL names no kernel called '%s'\n", name.c_str());
        else if (!is_supported(*k))
          std::fprintf(stderr, "median: MEDIAN_KERNEL=%s needs %s, which this processor lacks; ignored\n",
                       k->name, k->isa);
        else
          kernels.push_back(k);
      }
      p = comma ? comma + 1 : p + std::strlen(p);
    }
    return kernels;
  }();
  return forced;
}

// Whether this processor runs each kernel of the table, asked once.
const std::vector<bool>& supported() {
  static const std::vector<bool> flags = [] {
    std::vector<bool> f;
    for (const Kernel& k : table()) f.push_back(processor_has(k.isa));
    return f;
  }();
  return flags;
}

// The automatic choice, in one place: of the kernels this processor runs
// that serve the lane type and window, the highest ranked; among equals the
// later in the table, which is the wider instruction set.
//
//   window                          8 bits              16 bits, floats
//   5x5                             the 5x5 sweeps      the 5x5 sweeps
//   3x3, 7x7 to 11x11 (all), and    separable networks  separable networks
//     13x13, 15x15 (AVX2, AVX-512)
//   17x17 (AVX2, AVX-512)           separable networks  separable networks
//   19x19, 21x21 (AVX2, AVX-512)    histogram_<isa>     separable networks
//                                                       (floats: on AVX2, and
//                                                       at 21x21 on AVX-512,
//                                                       rank_<isa>)
//   23x23, 25x25 (AVX2, AVX-512),   histogram_<isa>     interpreted networks
//     17x17 to 25x25 (NEON)                             (16 bits without
//                                                       AVX-512), rank_<isa>
//                                                       (floats beyond 17x17)
//   width 127 to 253, height 1      huang_portable      rank_<isa>
//   width 255, height 1             huang_portable      huang_portable
//   width 255, height 3 to 9        histogram_<isa>     huang_portable
//   any other                       histogram_<isa>     rank_<isa>
//
// A kernel made for exactly that window beats any kernel of every window
// (at 15x15 the compiled network, still in tiles of 8 rows, ran at 119
// Mpixel/s and the histogram at 56: AMD Zen 5, two cores, 1920x1080x3,
// medians of 3 rounds; median_compare --window 15), except where the
// networks past 15x15 lose (large_network_wins).
// Between the kernels of every window the sliding histogram's cost per
// output grows with the window's height and the vectorised kernels' hardly
// at all, so the sliding histogram wins only on flat windows
// (bench/crossover.py, AMD Zen 5, one thread, 960x540x3, medians of 3
// rounds, a photo and full-range noise; the vectorised kernel's speed over
// the sliding histogram's): at 8 bits, 127x1 0.83, 255x1 0.78 and 0.96,
// but 255x3 already 1.2 to 1.3; at 16 bits, 255x1 to 255x9 0.52 to 0.89 on
// the photo and 0.96 to 1.07 on noise, while at 127 columns noise gives
// 1.4 to 1.5; floats of a photo (256 distinct values, which the sliding
// histogram walks quickly) 0.31 to 0.71 wherever the window is flat, but
// floats of many values 1.3 to 2 up to 127 columns and 1.0 to 1.3 at 255,
// so only the widest flat windows go to the sliding histogram; everywhere
// else the vectorised kernels run 1.2 to 50 times as fast.
bool sliding_histogram_wins(Lane lane, int32_t window_width, int32_t window_height) {
  if (lane == Lane::u8) return window_height == 1 && window_width >= 127;
  return window_width == MEDIAN_MAX_WINDOW && window_height <= 9;
}

// Whether a network past 15x15 beats the kernels of every window: the
// histogram at 8 bits, the ranks at 16 bits and floats.  Measured on an AMD
// Zen 5 (two cores, 1920x1080x3 photo, median_compare --window K, Mpixel/s).
//
// Compiled, against the best of every window: 8 bits 207 (AVX-512) and 134
// (AVX2) against the histogram's 121 at 17x17, but 99 against 90 at 19x19
// (one thread: 54 against 62) and 82 against 121 at 21x21; 16 bits 67,
// 68 and 42 (AVX-512) and 38, 27 and 22 (AVX2) against the ranks' 15 to 16
// at 17x17, 19x19 and 21x21; floats 33, 38 and 15 (AVX-512) against 15, 13
// and 13, and 18, 14 and 10.5 (AVX2) against the same.
//
// Interpreted, whose whole ring lives in working memory, in the L2 cache
// from 17x17 on: 8 bits 84 against the histogram's 118 at 17x17 and 34
// against 124 at 25x25; 16 bits 43 against the ranks' 17 at 17x17, 17.3
// against 15.2 at 21x21, 17.7 against 14.3 at 25x25 (and 8.5 against 15.5
// at 31x31, which is why no larger window is interpreted); floats 16.0
// against 13.6 at 17x17, but 10.8 against 15.3 at 21x21.  With their
// instructions in the order of the merges (gen_separable.py, schedule):
// 16 bits 19.6 against 13.9 at 23x23 and 21.9 against 16.4 at 25x25,
// floats 10.2 against 12.9 and 7.7 against 12.7 (AVX-512, 3 rounds).
// Larger windows, generated and timed on one thread, 16 bits, AVX-512:
// 9.0 against the ranks' 8.3 at 27x27 (679 KB of slots, more than the L2
// cache of a Zen 3), 7.2 against 8.1 at 29x29 and 6.7 against 7.9 at 31x31,
// so the interpreted windows still stop at 25x25.
//
// The AVX-512 ranks, which keep the window's whole histogram of codes in
// registers (tile_ranks.h), beat the interpreted networks and the compiled
// floats' 21x21: 16 bits 18.2 against 18.0 at 23x23 and 26.1 against 20.6
// at 25x25, floats 22.9 against 20.3 at 21x21; not the compiled 16 bits'
// 21x21 (29.4 against 43.5) nor floats' 19x19 (about 23 against 36).
// Where the 512-bit min/max run at half rate (AMD Zen 4) the networks lose
// more, the ranks' sorting and scans less.
bool large_network_wins(const Kernel& k) {
  const int32_t window = k.window_width;
  const bool whole_ranks = processor_has("avx512bw");
  if (k.code->interpreted)
    return (k.lane == Lane::u16 && !whole_ranks) || (k.lane == Lane::f32 && window <= 17);
  switch (k.lane) {
    case Lane::u8: return window <= 17;
    case Lane::u16: return true;
    case Lane::f32: return window <= 17 || (k.vector_bits == 512 && window <= 19);
  }
  return false;
}

int automatic_rank(const Kernel& k, int32_t window_width, int32_t window_height) {
  if (k.window_width >= detail::SMALLEST_PROGRAM_WINDOW && !large_network_wins(k)) return -1;
  if (k.window_width) return 100 + preference(k);
  const bool vectorised = std::strcmp(k.isa, "none") != 0;
  return vectorised != sliding_histogram_wins(k.lane, window_width, window_height);
}

const Kernel& choose(Lane lane, int32_t window_width, int32_t window_height) {
  for (const bool exact : {true, false})
    for (const Kernel* k : forced_kernels())
      if (k->lane == lane && serves(*k, window_width, window_height) &&
          (k->window_width != 0) == exact)
        return *k;
  const Kernel* best = nullptr;
  for (size_t i = 0; i < table().size(); ++i) {
    const Kernel& k = table()[i];
    if (k.lane == lane && supported()[i] && serves(k, window_width, window_height) &&
        (!best || automatic_rank(k, window_width, window_height) >=
                      automatic_rank(*best, window_width, window_height)))
      best = &k;
  }
  return *best;  // the sliding histogram serves every window and runs anywhere
}

template <class T>
int filter_with(const Kernel& kernel, const T* src, ptrdiff_t src_stride, T* dst,
                ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
                int32_t window_width, int32_t window_height, median_border border) {
  if (kernel.lane != LANE<T> || !kernel.code || !is_supported(kernel)) return MEDIAN_ERROR_KERNEL;
  return detail::filter_image(*kernel.code, src, src_stride, dst, dst_stride, width, height,
                              channels, window_width, window_height, int(border));
}

}  // namespace

const std::vector<Kernel>& kernels() { return table(); }

bool is_supported(const Kernel& kernel) { return processor_has(kernel.isa); }

const Kernel* find_kernel(const char* name) {
  for (const Kernel& k : table())
    if (name && std::strcmp(k.name, name) == 0) return &k;
  return nullptr;
}

bool serves(const Kernel& kernel, int window_width, int window_height) {
  return kernel.window_width == 0 ||
         (kernel.window_width == window_width && kernel.window_height == window_height);
}

const Kernel& chosen_kernel(Lane lane, int window_width, int window_height) {
  return choose(lane, window_width, window_height);
}

const Kernel& fastest_kernel(Lane lane) {
  static const Kernel& u8 = choose(Lane::u8, detail::WINDOW, detail::WINDOW);
  static const Kernel& u16 = choose(Lane::u16, detail::WINDOW, detail::WINDOW);
  static const Kernel& f32 = choose(Lane::f32, detail::WINDOW, detail::WINDOW);
  return lane == Lane::u8 ? u8 : lane == Lane::u16 ? u16 : f32;
}

#define MEDIAN_FILTER_OVERLOADS(T)                                                               \
  int filter(const Kernel& kernel, const T* src, ptrdiff_t src_stride, T* dst,                   \
             ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,              \
             int32_t window_width, int32_t window_height, median_border border) {                \
    return filter_with(kernel, src, src_stride, dst, dst_stride, width, height, channels,        \
                       window_width, window_height, border);                                     \
  }                                                                                              \
  int filter(const Kernel& kernel, const T* src, ptrdiff_t src_stride, T* dst,                   \
             ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,              \
             median_border border) {                                                             \
    return filter_with(kernel, src, src_stride, dst, dst_stride, width, height, channels,        \
                       detail::WINDOW, detail::WINDOW, border);                                  \
  }
MEDIAN_FILTER_OVERLOADS(uint8_t)
MEDIAN_FILTER_OVERLOADS(uint16_t)
MEDIAN_FILTER_OVERLOADS(float)
#undef MEDIAN_FILTER_OVERLOADS

}  // namespace median

void median_filter_pass_fastest(int32_t h, int32_t w, int32_t padded_width,
                                const uint8_t* padded, uint8_t* filtered) {
  median::fastest_kernel(median::Lane::u8).pass(h, w, padded_width, padded, filtered);
}

extern "C" {

// The window is checked by filter_image, in its place among the arguments;
// an invalid one still has a kernel chosen for it (one of every window).
#define MEDIAN_ENTRY_POINTS(T, suffix, lane)                                                    \
  int median_filter_##suffix(const T* src, ptrdiff_t src_stride, T* dst, ptrdiff_t dst_stride,  \
                             int32_t width, int32_t height, int32_t channels,                   \
                             int32_t window_width, int32_t window_height, median_border border) { \
    return median::filter(median::chosen_kernel(lane, window_width, window_height), src,        \
                          src_stride, dst, dst_stride, width, height, channels, window_width,   \
                          window_height, border);                                               \
  }                                                                                             \
  int median5x5_##suffix(const T* src, ptrdiff_t src_stride, T* dst, ptrdiff_t dst_stride,      \
                         int32_t width, int32_t height, int32_t channels, median_border border) { \
    return median::filter(median::fastest_kernel(lane), src, src_stride, dst, dst_stride, width, \
                          height, channels, border);                                            \
  }
MEDIAN_ENTRY_POINTS(uint8_t, u8, median::Lane::u8)
MEDIAN_ENTRY_POINTS(uint16_t, u16, median::Lane::u16)
MEDIAN_ENTRY_POINTS(float, f32, median::Lane::f32)
#undef MEDIAN_ENTRY_POINTS

const char* median_error_string(int status) {
  // One sentence per status of median.h, in its order.
  static const char* const MESSAGES[] = {
      "success",
      "a null pointer was given for the source or the destination image",
      "the width or height is below 1, or the image does not fit in the address space",
      "the number of channels is not 1, 2, 3 or 4",
      "a stride is smaller than a row (width x channels elements) or not a whole number of "
      "elements",
      "the border is not one of MEDIAN_BORDER_ZERO, _REPLICATE, _REFLECT_101 or _REFLECT",
      "the source and destination share memory without being the same image with the same "
      "stride",
      "the working buffers could not be allocated",
      "the kernel does not run on this processor, or filters another element type or window",
      "a window side is even, below 1 or above 255 (MEDIAN_MAX_WINDOW)",
  };
  constexpr int COUNT = int(sizeof MESSAGES / sizeof MESSAGES[0]);
  return status <= 0 && -status < COUNT ? MESSAGES[-status] : "unknown status";
}

}  // extern "C"
