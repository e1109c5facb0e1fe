// SPDX-License-Identifier: MIT
//
// The benchmark: load "input.jpg", run the 5x5 median filter over it
// NUM_RUNS times, report the elapsed time and throughput, save "output.jpg".
// Failures go to standard error as one line naming the file, with exit
// status 1; an existing "output.jpg" is only ever replaced by a complete file.

#include <IL/il.h>
#include <IL/ilu.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "elapsed_clock.h"
#include "image_file.h"
#include "median/median_filter.h"

namespace {

constexpr int NUM_RUNS = 200;
constexpr int BORDER = 2;
constexpr int CHANNELS = 3;
constexpr size_t FRAME_ALIGNMENT = 32;
constexpr double TICKS_PER_SECOND = 1000.0;
constexpr double PIXELS_PER_MEGAPIXEL = 1000000.0;

const char* const INPUT_FILE = "input.jpg";
const char* const OUTPUT_FILE = "output.jpg";

int fail(const char* file, const std::string& cause) {
  std::fprintf(stderr, "median_bench: %s: %s\n", file, cause.c_str());
  return 1;
}

// aligned_alloc wants the size to be a multiple of the alignment.
uint8_t* allocate_frame(size_t bytes) {
  const size_t rounded = (bytes + FRAME_ALIGNMENT - 1) / FRAME_ALIGNMENT * FRAME_ALIGNMENT;
  return static_cast<uint8_t*>(std::aligned_alloc(FRAME_ALIGNMENT, rounded));
}

}  // namespace

int main() {
  ilInit();
  iluInit();
  ILuint image = 0;
  ilGenImages(1, &image);
  ilBindImage(image);

  int32_t w = 0;
  int32_t h = 0;
  std::string error;
  if (!load_rgb_image(INPUT_FILE, &w, &h, &error)) {
    ilDeleteImages(1, &image);
    return fail(INPUT_FILE, error);
  }
  uint8_t* data = ilGetData();
  std::printf("Input resolution: %4dx%4d\n", w, h);

  // Sizes fit in 32 bits: load_rgb_image refuses larger images.
  const int32_t padded_width = w + 2 * BORDER;
  const int32_t padded_row_bytes = padded_width * CHANNELS;
  const int32_t row_bytes = w * CHANNELS;
  const int32_t padded_bytes = (h + 2 * BORDER) * padded_row_bytes;
  const int32_t filtered_bytes = h * row_bytes;

  uint8_t* padded = allocate_frame(size_t(padded_bytes));
  uint8_t* filtered = allocate_frame(size_t(filtered_bytes));
  if (!padded || !filtered) {
    std::free(padded);
    std::free(filtered);
    ilDeleteImages(1, &image);
    return fail(INPUT_FILE, "cannot allocate " + std::to_string(padded_bytes + int64_t(filtered_bytes)) +
                                " bytes for the working frames");
  }
  // Zero border of BORDER pixels around a copy of the image.
  std::memset(padded, 0, size_t(padded_bytes));
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(padded + (y + BORDER) * padded_row_bytes + BORDER * CHANNELS,
                data + y * row_bytes, size_t(row_bytes));

  std::printf("Start median filtering\n");
  const int32_t t0 = elapsed_ms();
  for (int run = 0; run < NUM_RUNS; ++run) median_filter_pass(h, w, padded_width, padded, filtered);
  const int32_t t1 = elapsed_ms();

  const double seconds = double(t1 - t0) / TICKS_PER_SECOND;
  std::printf("SSE CPU TIME for %d runs: %4.4f sec\n", NUM_RUNS, seconds);
  const double megapixels_per_second =
      double(w * h) / (seconds / double(NUM_RUNS)) / PIXELS_PER_MEGAPIXEL;
  std::printf("SSE Performance: %4.4f Mpixel/s (average of %d runs)\n", megapixels_per_second,
              NUM_RUNS);
  std::fflush(stdout);

  // The library's buffer has the filtered frame's layout exactly.
  std::memcpy(data, filtered, size_t(filtered_bytes));
  std::free(padded);
  std::free(filtered);

  const bool saved = save_jpeg_replacing(OUTPUT_FILE, &error);
  ilDeleteImages(1, &image);
  if (!saved) return fail(OUTPUT_FILE, error);
  return 0;
}
