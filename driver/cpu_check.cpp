// SPDX-License-Identifier: MIT
//
// The filter runs AVX instructions, and so may any code compiled with -mavx,
// static initialisers included; on a processor without AVX they would end
// the program with SIGILL.  This file is compiled without -mavx and checks
// the processor from a constructor of the first priority open to programs,
// which runs before every default-priority initialiser linked into the
// program; without AVX it stops with one line and exit status 1.

#include <cstdio>
#include <cstdlib>

namespace {

bool processor_has_avx() {
#ifdef MEDIAN_CPU_CHECK_TEST_HOOK
  // Only the test build's copy of the program reads this, so that the
  // refusal can be seen on a processor that has AVX.
  if (std::getenv("MEDIAN_TEST_WITHOUT_AVX")) return false;
#endif
  // Constructors may run before the compiler's own processor probe.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx");
}

__attribute__((constructor(101))) void require_avx() {
  if (processor_has_avx()) return;
  std::fputs("median_bench: this processor does not support AVX, which the filter needs\n", stderr);
  std::_Exit(1);
}

}  // namespace
