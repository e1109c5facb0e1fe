// SPDX-License-Identifier: MIT
#include "elapsed_clock.h"

#include <ctime>

namespace {

bool read_monotonic(timespec* t) { return clock_gettime(CLOCK_MONOTONIC, t) == 0; }

// Static initialisation runs before main, so every reading is taken against
// the same reference.
timespec g_reference{};
const bool g_have_reference = read_monotonic(&g_reference);

}  // namespace

int32_t elapsed_ms() {
  timespec now;
  if (!g_have_reference || !read_monotonic(&now)) return -1;
  const int64_t ns = (int64_t(now.tv_sec) - g_reference.tv_sec) * 1000000000 +
                     (int64_t(now.tv_nsec) - g_reference.tv_nsec);
  const int64_t ms = ns / 1000000;
  if (ms < 0 || ms > INT32_MAX) return -1;
  return int32_t(ms);
}
