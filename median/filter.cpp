// SPDX-License-Identifier: MIT
//
// The caller's image to the kernels' bands (band.h): argument checks, the
// border, threads, in place.  Built for the processor baseline: it only
// arranges pointers and copies a few elements, and calls the kernel through
// its table entry.
//
// No copy of the image is made.  Each thread takes a contiguous block of
// row pairs (a static split) and cuts it into bands of the kernel's height.
// A band's input rows are pointers: into the source, to a row of zeros, or,
// for rows beyond the top and bottom edges, to the source row the border
// mirrors or repeats.  Columns split in three: the interior, whose windows
// lie inside the image, is filtered straight from the caller's rows; at each
// end, one vector's worth of output is filtered from a small scratch copy of
// its input rows with the border filled in beside the image.  A row too
// narrow for an interior goes through the scratch whole, and one narrower
// than a vector writes through a scratch output as well.
//
// In place, a band's output goes first to a staging buffer and is copied
// back once the band is done, so the band never reads its own output.  The
// two rows above and below each thread's block, which the neighbouring
// blocks overwrite, are saved before any thread writes (a barrier), and each
// band saves the last two input rows it will overwrite that the next band
// still reads.

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "median/kernel_code.h"
#include "median/median5x5.h"
#include "median/median_filter.h"

namespace median::detail {
namespace {

// Output frames of at least this many bytes are written with non-temporal
// stores: a frame that large has left the caches before anyone reads it, and
// an ordinary store would first read every line it is about to overwrite.
constexpr int64_t STREAMING_BYTES = int64_t(8) << 20;

// Bytes of the longest scratch row: a row with no interior is shorter than
// two edges and a vector (each edge a vector, or two pixels where that is
// more), and a scratch row adds the window's reach on both sides.
constexpr int MAX_ELEMENT_BYTES = 4;
constexpr size_t MAX_SCRATCH_ROW_BYTES =
    3 * MAX_VECTOR_BYTES + 2 * RADIUS * MAX_CHANNELS * MAX_ELEMENT_BYTES;

// Index i of a row or column of n, as the border reads it: inside, or -1 for
// the zero border.  Mirrors reflect again and again until they land inside,
// as OpenCV's borderInterpolate does for images of one or two pixels.
int32_t border_index(int64_t i, int32_t n, int border) {
  if (i >= 0 && i < n) return int32_t(i);
  switch (border) {
    case MEDIAN_BORDER_REPLICATE:
      return i < 0 ? 0 : n - 1;
    case MEDIAN_BORDER_REFLECT_101:
      if (n == 1) return 0;
      while (i < 0 || i >= n) i = i < 0 ? -i : 2 * int64_t(n - 1) - i;
      return int32_t(i);
    case MEDIAN_BORDER_REFLECT:
      while (i < 0 || i >= n) i = i < 0 ? -i - 1 : 2 * int64_t(n) - 1 - i;
      return int32_t(i);
    default:  // MEDIAN_BORDER_ZERO
      return -1;
  }
}

// Rounds towards minus infinity.
ptrdiff_t floor_div(ptrdiff_t a, ptrdiff_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// A run of output columns [first, end) and whether it reads a scratch copy.
struct Region {
  ptrdiff_t first, end;
  bool scratch;
};

template <class T>
struct Image {
  const T* src;
  ptrdiff_t src_stride;  // in elements
  T* dst;
  ptrdiff_t dst_stride;
  int32_t w, h;
  ptrdiff_t step;   // channels
  ptrdiff_t width;  // w * step elements per row
  int border;
  bool in_place;
  // For MEDIAN_BORDER_ZERO: a row of zeros, readable from element
  // -RADIUS * step to width + RADIUS * step - 1.
  const T* zero_row;
  // Where elements -RADIUS * step .. -1 and width .. width + RADIUS * step - 1
  // of a row read, by the border: an element of the row, or -1 for zero.
  ptrdiff_t left[RADIUS * MAX_CHANNELS], right[RADIUS * MAX_CHANNELS];
};

// Fills image->left and image->right.
template <class T>
void map_edges(Image<T>* image) {
  const ptrdiff_t step = image->step, reach = RADIUS * step;
  for (ptrdiff_t k = 0; k < reach; ++k)
    for (const bool right : {false, true}) {
      const ptrdiff_t j = right ? image->width + k : k - reach;
      const ptrdiff_t pixel = floor_div(j, step), channel = j - pixel * step;
      const int32_t mapped = border_index(pixel, image->w, image->border);
      (right ? image->right : image->left)[k] = mapped < 0 ? -1 : mapped * step + channel;
    }
}

// The column regions of every output row.
struct Columns {
  Region region[3];
  int count;
};

Columns plan_columns(ptrdiff_t width, ptrdiff_t step, int lanes, int border) {
  if (border == PADDED_FRAME) return {{{0, width, width < lanes}}, 1};
  // An edge holds every output whose window leaves the image, and at least
  // one vector.
  const ptrdiff_t reach = RADIUS * step;
  const ptrdiff_t edge = lanes > reach ? lanes : reach;
  if (width >= 2 * edge + lanes)
    return {{{0, edge, true}, {edge, width - edge, false}, {width - edge, width, true}}, 3};
  return {{{0, width, true}}, 1};
}

// One thread's work on its block of rows first_row .. end_row - 1.
template <class T>
class Worker {
 public:
  Worker(const Image<T>& image, const KernelCode& code, int32_t first_row, int32_t end_row,
         T* rows_buffer, bool streaming)
      : image_(image), code_(code), band_(band_function<T>(code)), first_(first_row), end_(end_row),
        streaming_(streaming) {
    if (image_.in_place) {
      // Six saved rows (two above the block, two below, two carried from
      // band to band), then the staging rows.
      const ptrdiff_t width = image_.width;
      for (int i = 0; i < 2; ++i) {
        above_[i] = rows_buffer + i * width;
        below_[i] = rows_buffer + (2 + i) * width;
        carry_[i] = rows_buffer + (4 + i) * width;
      }
      staging_ = rows_buffer + 6 * width;
    }
  }

  // In place: the rows of the neighbouring blocks this block reads.  Every
  // thread must do this before any thread writes.
  void save_neighbours() {
    for (int i = 0; i < 2; ++i) {
      const int64_t above = int64_t(first_) - 2 + i, below = int64_t(end_) + i;
      if (above >= 0) copy_row(above_[i], source_row(int32_t(above)));
      if (below < image_.h) copy_row(below_[i], source_row(int32_t(below)));
    }
  }

  void run() {
    for (int32_t y0 = first_; y0 < end_; y0 += code_.band_rows)
      band(y0, end_ - y0 < code_.band_rows ? end_ - y0 : code_.band_rows);
  }

 private:
  const T* source_row(int32_t y) const { return image_.src + y * image_.src_stride; }
  T* dst_row(int32_t y) const { return image_.dst + y * image_.dst_stride; }
  void copy_row(T* to, const T* from) const {
    std::memcpy(to, from, size_t(image_.width) * sizeof(T));
  }

  // Element 0 of the input row y (any row the band's windows reach), with
  // the border applied; for the zero border outside the image, a zero row.
  const T* input_row(int64_t y, int32_t band_first) const {
    if (image_.border == PADDED_FRAME) return source_row(int32_t(y));
    const int32_t mapped = border_index(y, image_.h, image_.border);
    if (mapped < 0) return image_.zero_row;
    if (!image_.in_place) return source_row(mapped);
    // Rows that have been overwritten, by this block or its neighbours,
    // come from their copies; a band reads no row above band_first - 2.
    if (mapped < first_) return above_[mapped - (first_ - 2)];
    if (mapped >= end_) return below_[mapped - end_];
    if (mapped < band_first) return carry_[mapped - (band_first - 2)];
    return source_row(mapped);
  }

  // Element j of input row `row` (element 0 at `row`) for j outside the
  // image: the border's, or zero beyond the window's reach (only a row
  // narrower than a vector reads there).
  T outside(const T* row, ptrdiff_t j) const {
    const ptrdiff_t width = image_.width, reach = RADIUS * image_.step;
    ptrdiff_t mapped = -1;
    if (image_.border != PADDED_FRAME && j >= -reach && j < width + reach)
      mapped = j < 0 ? image_.left[j + reach] : image_.right[j - width];
    T value{};
    if (mapped >= 0) std::memcpy(&value, row + mapped, sizeof(T));
    return value;
  }

  // Elements j0 .. j0 + count - 1 of input row `row`: a copy of what is in
  // memory, the border beyond it.
  void fill(T* out, const T* row, ptrdiff_t j0, ptrdiff_t count) const {
    const ptrdiff_t width = image_.width, reach = RADIUS * image_.step;
    const bool padded = image_.border == PADDED_FRAME;
    const ptrdiff_t j_end = j0 + count;
    const ptrdiff_t first = std::max(j0, padded ? -reach : ptrdiff_t(0));
    const ptrdiff_t end = std::max(first, std::min(j_end, padded ? width + reach : width));
    for (ptrdiff_t j = j0; j < first; ++j) out[j - j0] = outside(row, j);
    std::memcpy(out + (first - j0), row + first, size_t(end - first) * sizeof(T));
    for (ptrdiff_t j = end; j < j_end; ++j) out[j - j0] = outside(row, j);
  }

  // Output rows y0 .. y0 + rows - 1.
  void band(int32_t y0, int32_t rows) {
    const ptrdiff_t step = image_.step, reach = RADIUS * step;
    const T* in_rows[MAX_BAND_ROWS + 2 * RADIUS];
    T* out_rows[MAX_BAND_ROWS];
    for (int32_t r = 0; r < rows + 2 * RADIUS; ++r) in_rows[r] = input_row(int64_t(y0) - RADIUS + r, y0);
    for (int32_t r = 0; r < rows; ++r)
      out_rows[r] = image_.in_place ? staging_ + r * image_.width : dst_row(y0 + r);

    const Columns columns = plan_columns(image_.width, step, code_.lanes, image_.border);
    const T* in[MAX_BAND_ROWS + 2 * RADIUS];
    T* out[MAX_BAND_ROWS];
    for (int i = 0; i < columns.count; ++i) {
      const Region& region = columns.region[i];
      const ptrdiff_t n = region.end - region.first;
      Band<T> b{in, out, rows, n, step, streaming_};
      if (!region.scratch) {
        for (int32_t r = 0; r < rows + 2 * RADIUS; ++r) in[r] = in_rows[r] + region.first - reach;
        for (int32_t r = 0; r < rows; ++r) out[r] = out_rows[r] + region.first;
        band_(b);
        continue;
      }
      // The scratch copy: each input row's elements region.first - reach on,
      // as many as a vector of output needs at least.
      const ptrdiff_t lanes = code_.lanes, width = n > lanes ? n : lanes;
      const ptrdiff_t row_elements = width + 2 * reach;
      T* const scratch_in = reinterpret_cast<T*>(scratch_);
      T* const scratch_out = scratch_in + (rows + 2 * RADIUS) * row_elements;
      for (int32_t r = 0; r < rows + 2 * RADIUS; ++r) {
        in[r] = scratch_in + r * row_elements;
        fill(scratch_in + r * row_elements, in_rows[r], region.first - reach, row_elements);
      }
      for (int32_t r = 0; r < rows; ++r)
        out[r] = n < lanes ? scratch_out + r * lanes : out_rows[r] + region.first;
      b.width = width;
      b.streaming = false;
      band_(b);
      if (n < lanes)
        for (int32_t r = 0; r < rows; ++r)
          std::memcpy(out_rows[r] + region.first, out[r], size_t(n) * sizeof(T));
    }

    if (image_.in_place) {
      // The next band reads this band's last two input rows of its own.
      for (int i = 0; i < 2; ++i) {
        const int32_t y = y0 + rows - 2 + i;
        if (y >= y0 && y0 + rows < end_) copy_row(carry_[i], source_row(y));
      }
      for (int32_t r = 0; r < rows; ++r) copy_row(dst_row(y0 + r), out_rows[r]);
    }
  }

  const Image<T>& image_;
  const KernelCode& code_;
  const BandFunction<T> band_;
  const int32_t first_, end_;
  const bool streaming_;
  T* above_[2] = {};
  T* below_[2] = {};
  T* carry_[2] = {};
  T* staging_ = nullptr;
  // Scratch rows of the edges: at most MAX_BAND_ROWS + 4 rows in, and a
  // vector per output row out.
  alignas(MAX_VECTOR_BYTES) unsigned char
      scratch_[(MAX_BAND_ROWS + 2 * RADIUS) * MAX_SCRATCH_ROW_BYTES +
               MAX_BAND_ROWS * MAX_VECTOR_BYTES];
};

// Filters `image` on every thread.  `rows_per_thread` elements of
// `rows_buffer` belong to each thread (in place only).
template <class T>
void run_threads(const Image<T>& image, const KernelCode& code, int threads, T* rows_buffer,
                 ptrdiff_t rows_per_thread) {
  const int64_t pairs = (int64_t(image.h) + 1) / 2;
  const bool streaming =
      !image.in_place && int64_t(image.h) * image.width * int64_t(sizeof(T)) >= STREAMING_BYTES;
#pragma omp parallel num_threads(threads)
  {
    const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
    // Contiguous blocks of nearly equal size, as a static schedule makes, so
    // that each thread starts its bands once.
    const int64_t first = pairs * t / team * 2;
    const int64_t end = pairs * (t + 1) / team * 2 < image.h ? pairs * (t + 1) / team * 2 : image.h;
    Worker<T> worker(image, code, int32_t(first), int32_t(end),
                     rows_buffer ? rows_buffer + t * rows_per_thread : nullptr, streaming);
    if (image.in_place) {
      if (first < end) worker.save_neighbours();
#pragma omp barrier
    }
    if (first < end) worker.run();
  }
}

// True when some row of one image shares a byte with some row of the other:
// both are increasing runs of disjoint intervals, walked together.
bool rows_intersect(uintptr_t a, ptrdiff_t a_stride, uintptr_t b, ptrdiff_t b_stride,
                    size_t row_bytes, int32_t h) {
  int32_t i = 0, j = 0;
  while (i < h && j < h) {
    const uintptr_t a_row = a + uintptr_t(i) * uintptr_t(a_stride);
    const uintptr_t b_row = b + uintptr_t(j) * uintptr_t(b_stride);
    if (a_row + row_bytes <= b_row)
      ++i;
    else if (b_row + row_bytes <= a_row)
      ++j;
    else
      return true;
  }
  return false;
}

// The byte after the last one an image of `h` rows uses, or 0 when that
// does not exist in the address space.
uintptr_t image_end(const void* p, ptrdiff_t stride, size_t row_bytes, int32_t h) {
  uintptr_t span = 0;
  if (__builtin_mul_overflow(uintptr_t(h - 1), uintptr_t(stride), &span) ||
      __builtin_add_overflow(span, uintptr_t(row_bytes), &span))
    return 0;
  uintptr_t end = 0;
  if (__builtin_add_overflow(reinterpret_cast<uintptr_t>(p), span, &end)) return 0;
  return end;
}

}  // namespace

template <class T>
int filter_image(const KernelCode& code, const T* src, ptrdiff_t src_stride, T* dst,
                 ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
                 int border) {
  if (!src || !dst) return MEDIAN_ERROR_NULL_POINTER;
  if (width < 1 || height < 1) return MEDIAN_ERROR_SIZE;
  if (channels < 1 || channels > MAX_CHANNELS) return MEDIAN_ERROR_CHANNELS;
  const ptrdiff_t elements = ptrdiff_t(width) * channels;  // fits: both are 32-bit
  const size_t row_bytes = size_t(elements) * sizeof(T);
  for (const ptrdiff_t stride : {src_stride, dst_stride})
    if (stride < ptrdiff_t(row_bytes) || stride % ptrdiff_t(sizeof(T)) != 0)
      return MEDIAN_ERROR_STRIDE;
  if (border < MEDIAN_BORDER_ZERO || border > MEDIAN_BORDER_REFLECT) return MEDIAN_ERROR_BORDER;
  const uintptr_t src_end = image_end(src, src_stride, row_bytes, height);
  const uintptr_t dst_end = image_end(dst, dst_stride, row_bytes, height);
  if (!src_end || !dst_end) return MEDIAN_ERROR_SIZE;
  const uintptr_t src_first = reinterpret_cast<uintptr_t>(src);
  const uintptr_t dst_first = reinterpret_cast<uintptr_t>(dst);
  const bool in_place = src_first == dst_first && src_stride == dst_stride;
  if (!in_place && src_first < dst_end && dst_first < src_end &&
      rows_intersect(src_first, src_stride, dst_first, dst_stride, row_bytes, height))
    return MEDIAN_ERROR_OVERLAP;

  // Everything a pass needs beyond the stack, before anything is written:
  // a zero row for the zero border, and in place each thread's saved and
  // staging rows.
  const int threads = omp_get_max_threads();
  const ptrdiff_t reach = RADIUS * channels;
  const size_t zero_elements = border == MEDIAN_BORDER_ZERO ? size_t(elements + 2 * reach) : 0;
  const ptrdiff_t rows_per_thread = in_place ? (6 + code.band_rows) * elements : 0;
  size_t total = 0;
  if (__builtin_mul_overflow(size_t(rows_per_thread), size_t(threads), &total) ||
      __builtin_add_overflow(total, zero_elements, &total) ||
      __builtin_mul_overflow(total, sizeof(T), &total))
    return MEDIAN_ERROR_OUT_OF_MEMORY;
  T* const buffer = total ? static_cast<T*>(std::calloc(total / sizeof(T), sizeof(T))) : nullptr;
  if (total && !buffer) return MEDIAN_ERROR_OUT_OF_MEMORY;

  Image<T> image{src,
                       src_stride / ptrdiff_t(sizeof(T)),
                       dst,
                       dst_stride / ptrdiff_t(sizeof(T)),
                       width,
                       height,
                       channels,
                       elements,
                       border,
                       in_place,
                       zero_elements ? buffer + reach : nullptr,
                       {},
                       {}};
  map_edges(&image);
  run_threads(image, code, threads, in_place ? buffer + zero_elements : nullptr, rows_per_thread);
  std::free(buffer);
  return MEDIAN_OK;
}

template int filter_image<uint8_t>(const KernelCode&, const uint8_t*, ptrdiff_t, uint8_t*,
                                   ptrdiff_t, int32_t, int32_t, int32_t, int);
template int filter_image<uint16_t>(const KernelCode&, const uint16_t*, ptrdiff_t, uint16_t*,
                                    ptrdiff_t, int32_t, int32_t, int32_t, int);
template int filter_image<float>(const KernelCode&, const float*, ptrdiff_t, float*, ptrdiff_t,
                                 int32_t, int32_t, int32_t, int);

void padded_pass(const KernelCode& code, int32_t h, int32_t w, int32_t padded_width,
                 const uint8_t* padded, uint8_t* filtered) {
  if (h < 1 || w < 1) return;
  constexpr int CHANNELS = 3;
  const ptrdiff_t stride = ptrdiff_t(padded_width) * CHANNELS;
  const Image<uint8_t> image{padded + RADIUS * stride + RADIUS * CHANNELS,
                             stride,
                             filtered,
                             ptrdiff_t(w) * CHANNELS,
                             w,
                             h,
                             CHANNELS,
                             ptrdiff_t(w) * CHANNELS,
                             PADDED_FRAME,
                             false,
                             nullptr,
                             {},
                             {}};
  run_threads<uint8_t>(image, code, omp_get_max_threads(), nullptr, 0);
}

}  // namespace median::detail
