// SPDX-License-Identifier: MIT
#include "benchmark.h"

#include <IL/il.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "elapsed_clock.h"
#include "image_file.h"
#include "median/median_filter.h"

namespace {

constexpr int BORDER = 2;
constexpr int CHANNELS = 3;
constexpr size_t FRAME_ALIGNMENT = 32;
constexpr double TICKS_PER_SECOND = 1000.0;
constexpr double PIXELS_PER_MEGAPIXEL = 1000000.0;

// aligned_alloc wants the size to be a multiple of the alignment.
uint8_t* allocate_frame(size_t bytes) {
  const size_t rounded = (bytes + FRAME_ALIGNMENT - 1) / FRAME_ALIGNMENT * FRAME_ALIGNMENT;
  return static_cast<uint8_t*>(std::aligned_alloc(FRAME_ALIGNMENT, rounded));
}

bool fail(const char* path, const std::string& cause, std::string* error) {
  *error = std::string(path) + ": " + cause;
  return false;
}

// Filters the bound image, whose pixel buffer `data` holds w x h pixels of 3
// bytes, in place.  False only when the frames cannot be allocated; a report
// that could not be written leaves its errno in *report_errno.
bool filter_image(uint8_t* data, int32_t w, int32_t h, int runs, std::FILE* report,
                  int* report_errno, std::string* cause) {
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
    *cause = "cannot allocate " + std::to_string(padded_bytes + int64_t(filtered_bytes)) +
             " bytes for the working frames";
    return false;
  }
  // Nothing is printed before the last step that can fail on the input.
  if (report) std::fprintf(report, "Input resolution: %4dx%4d\n", w, h);
  // Zero border of BORDER pixels around a copy of the image.
  std::memset(padded, 0, size_t(padded_bytes));
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(padded + (y + BORDER) * padded_row_bytes + BORDER * CHANNELS,
                data + y * row_bytes, size_t(row_bytes));

  if (report) std::fprintf(report, "Start median filtering\n");
  const int32_t t0 = elapsed_ms();
  for (int run = 0; run < runs; ++run) median_filter_pass(h, w, padded_width, padded, filtered);
  const int32_t t1 = elapsed_ms();

  const double seconds = double(t1 - t0) / TICKS_PER_SECOND;
  const double megapixels_per_second =
      double(w * h) / (seconds / double(runs)) / PIXELS_PER_MEGAPIXEL;
  if (report) {
    std::fprintf(report, "SSE CPU TIME for %d runs: %4.4f sec\n", runs, seconds);
    std::fprintf(report, "SSE Performance: %4.4f Mpixel/s (average of %d runs)\n",
                 megapixels_per_second, runs);
    // The report stands before any message about the save.  A report that
    // cannot be written is a failure too, with the cause of the flush that
    // found it (a second flush would find the buffer gone and succeed).
    errno = 0;
    if (std::fflush(report) != 0 || std::ferror(report)) *report_errno = errno ? errno : EIO;
  }

  // The library's buffer has the filtered frame's layout exactly.
  std::memcpy(data, filtered, size_t(filtered_bytes));
  std::free(padded);
  std::free(filtered);
  return true;
}

}  // namespace

bool run_benchmark(const char* input_path, const char* output_path, int runs, std::FILE* report,
                   const char* report_name, std::string* error) {
  // The file is read once: the checks and the decoder see the same bytes,
  // even if the file is replaced meanwhile or is a pipe.
  std::vector<uint8_t> bytes;
  std::string cause;
  if (!read_input_file(input_path, &bytes, &cause)) return fail(input_path, cause, error);

  ILuint image = 0;
  ilGenImages(1, &image);
  ilBindImage(image);
  int32_t w = 0;
  int32_t h = 0;
  const bool loaded = load_rgb_image(bytes, &w, &h, &cause);
  std::vector<uint8_t>().swap(bytes);  // the file's memory is not needed any more
  if (!loaded) {
    ilDeleteImages(1, &image);
    return fail(input_path, cause, error);
  }
  int report_errno = 0;
  if (!filter_image(ilGetData(), w, h, runs, report, &report_errno, &cause)) {
    ilDeleteImages(1, &image);
    return fail(input_path, cause, error);
  }
  const bool saved = save_jpeg_replacing(output_path, &cause);
  ilDeleteImages(1, &image);
  if (!saved) return fail(output_path, cause, error);
  if (report_errno) return fail(report_name, std::strerror(report_errno), error);
  return true;
}
