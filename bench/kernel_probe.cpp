// SPDX-License-Identifier: MIT
//
// One band of one kernel, for counting what it does under valgrind
// (bench/memory_accesses.py): the kernel's band function, called from
// run_band alone, on 64 output rows of 3 072 elements (1 024 pixels of 3
// channels) of the kernel's lane type, in one band or in bands of the
// kernel's own height; 5x5 vector kernels only.  Prints the output vectors computed.  With --list,
// prints the kernels this processor runs, one per line: name, instruction
// set.
//
//   kernel_probe --list
//   kernel_probe KERNEL

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "median/kernel_code.h"
#include "median/median_filter.h"

namespace {

constexpr int ROWS = 64, WIDTH = 3072, STEP = 3;

// The 5x5 min/max networks on vectors: the kernels whose memory accesses
// per output vector the tables compare.
bool is_probed(const median::Kernel& k) {
  return k.vector_bits && k.window_width == 5 && k.window_height == 5;
}

template <class T>
[[gnu::noinline]] void run_band(median::detail::BandFunction<T> band, const median::detail::Band<T>& b) {
  band(b);
}

template <class T>
int probe(const median::Kernel& k) {
  const ptrdiff_t stride = WIDTH + 2 * 2 * STEP;
  std::vector<T> image(size_t(stride) * (ROWS + 4)), out(size_t(WIDTH) * ROWS);
  for (size_t i = 0; i < image.size(); ++i) image[i] = T((i * 2654435761u) >> 24);
  std::vector<const T*> in(ROWS + 4);
  std::vector<T*> rows(ROWS);
  for (int r = 0; r < ROWS + 4; ++r) in[size_t(r)] = image.data() + r * stride;
  for (int r = 0; r < ROWS; ++r) rows[size_t(r)] = out.data() + r * WIDTH;
  const median::detail::BandFunction<T> band = median::detail::band_function<T>(*k.code);
  const size_t work_bytes = k.code->work_bytes ? k.code->work_bytes(2, 2, STEP) : 0;
  std::vector<uint64_t> work((work_bytes + 7) / 8 + 8);
  void* const aligned = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(work.data()) + 63) / 64 * 64);
  for (int first = 0; first < ROWS; first += k.code->band_rows) {
    const int32_t band_rows = std::min(k.code->band_rows, ROWS - first);
    run_band<T>(band, {in.data() + first, rows.data() + first, band_rows, WIDTH, STEP, false, 2, 2,
                       work_bytes ? aligned : nullptr});
  }
  std::printf("%.1f\n", double(WIDTH) / k.code->lanes * ROWS);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kernel_probe --list | KERNEL\n");
    return 2;
  }
  if (std::strcmp(argv[1], "--list") == 0) {
    for (const median::Kernel& k : median::kernels())
      if (median::is_supported(k) && is_probed(k)) std::printf("%s %s\n", k.name, k.isa);
    return 0;
  }
  const median::Kernel* k = median::find_kernel(argv[1]);
  if (!k || !median::is_supported(*k) || !is_probed(*k)) {
    std::fprintf(stderr, "kernel_probe: no kernel %s runs here\n", argv[1]);
    return 1;
  }
  switch (k->lane) {
    case median::Lane::u8: return probe<uint8_t>(*k);
    case median::Lane::u16: return probe<uint16_t>(*k);
    case median::Lane::f32: return probe<float>(*k);
  }
  return 1;
}
