// SPDX-License-Identifier: MIT
//
// Filters a small synthetic image with the installed engine's fastest kernel
// and with the benchmark's own pass; exits 0 when the two agree byte for
// byte, 1 otherwise.  Built against the installed header and library only.

#include <median/median_filter.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
  // Odd sizes, so the rows end in a partial vector.
  const int w = 45, h = 23, border = 2;
  const int padded_width = w + 2 * border;

  // The image inside a zero border of 2 pixels, 3 bytes a pixel.
  std::vector<uint8_t> padded(size_t(padded_width) * (h + 2 * border) * 3, 0);
  uint32_t state = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) {
      state = state * 1664525u + 1013904223u;
      padded[(size_t(y + border) * padded_width + border) * 3 + x] = uint8_t(state >> 24);
    }

  std::vector<uint8_t> fastest(size_t(w) * h * 3), reference(fastest.size());
  median_filter_pass_fastest(h, w, padded_width, padded.data(), fastest.data());
  median_filter_pass(h, w, padded_width, padded.data(), reference.data());

  const bool same = fastest == reference;
  std::printf("%s: %s\n", median::fastest_kernel().name,
              same ? "same bytes as median_filter_pass" : "DIFFERS from median_filter_pass");
  return same ? 0 : 1;
}
