// SPDX-License-Identifier: MIT
//
// The kernel table and the choice among its entries.  Built for the plain
// x86-64 baseline, not for AVX, so that asking what the processor supports
// never executes an instruction it lacks.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "median/kernel_entry_points.h"
#include "median/median_filter.h"
#include "median/sweep.h"

namespace median {
namespace {

using detail::MEDIAN25_OPS;
using detail::ROWPAIR_OPS_PER_VECTOR;

// From the benchmark's kernel to the widest; the automatic choice is the
// last one the processor supports.  Operations per 16 output bytes: a
// vector of 16, 32 or 64 bytes costs the network's or the row-pair sweep's
// operations per output vector.
const std::vector<Kernel> KERNELS = {
    {"network_avx", "avx", 128, MEDIAN25_OPS, ::median_filter_pass},
    {"network_avx2", "avx2", 256, MEDIAN25_OPS / 2.0, avx2::network_pass},
    {"network_avx512bw", "avx512bw", 512, MEDIAN25_OPS / 4.0, avx512bw::network_pass},
    {"rowpair_avx", "avx", 128, ROWPAIR_OPS_PER_VECTOR, avx::rowpair_pass},
    {"rowpair_avx2", "avx2", 256, ROWPAIR_OPS_PER_VECTOR / 2, avx2::rowpair_pass},
    {"rowpair_avx512bw", "avx512bw", 512, ROWPAIR_OPS_PER_VECTOR / 4, avx512bw::rowpair_pass},
};

bool processor_has(const char* isa) {
  __builtin_cpu_init();
  if (std::strcmp(isa, "avx") == 0) return __builtin_cpu_supports("avx");
  if (std::strcmp(isa, "avx2") == 0) return __builtin_cpu_supports("avx2");
  if (std::strcmp(isa, "avx512bw") == 0)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return false;
}

const Kernel& choose() {
  const Kernel* automatic = &KERNELS.front();
  for (const Kernel& k : KERNELS)
    if (is_supported(k)) automatic = &k;
  const char* wanted = std::getenv("MEDIAN_KERNEL");
  if (!wanted || !*wanted) return *automatic;
  const Kernel* named = find_kernel(wanted);
  if (named && is_supported(*named)) return *named;
  std::fprintf(stderr, "median: MEDIAN_KERNEL=%s %s; using %s\n", wanted,
               named ? "needs an instruction set this processor lacks" : "names no kernel",
               automatic->name);
  return *automatic;
}

}  // namespace

const std::vector<Kernel>& kernels() { return KERNELS; }

bool is_supported(const Kernel& kernel) { return processor_has(kernel.isa); }

const Kernel* find_kernel(const char* name) {
  for (const Kernel& k : KERNELS)
    if (name && std::strcmp(k.name, name) == 0) return &k;
  return nullptr;
}

const Kernel& fastest_kernel() {
  static const Kernel& chosen = choose();
  return chosen;
}

}  // namespace median

void median_filter_pass_fastest(int32_t h, int32_t w, int32_t padded_width,
                                const uint8_t* padded, uint8_t* filtered) {
  median::fastest_kernel().pass(h, w, padded_width, padded, filtered);
}
