// SPDX-License-Identifier: MIT
//
// The caller's image to the kernels' bands (band.h): argument checks, the
// border, threads, in place, for every window size.  Built for the
// processor baseline: it only arranges pointers and copies a few elements,
// and calls the kernel through its table entry.
//
// No copy of the image is made.  Each thread takes a contiguous block of
// row pairs and cuts it into bands of the kernel's height; out of place, a
// thread whose block is done takes the back half of the largest block left
// (RowShares).
// A band's input rows are pointers: into the source, to a row of zeros, or,
// for rows beyond the top and bottom edges, to the source row the border
// mirrors or repeats.  Columns split in three: the interior, whose windows
// lie inside the image, is filtered straight from the caller's rows; at each
// end, the outputs whose windows leave the image (at least a vector's worth)
// are filtered from a scratch copy of their input rows with the border
// filled in beside the image.  A row too narrow for an interior goes through
// the scratch whole, and one narrower than a vector writes through a scratch
// output as well.
//
// In place, a band's output goes first to a staging buffer and is copied
// back once the band is done, so the band never reads its own output.  The
// ry rows above and below each thread's block, which the neighbouring
// blocks overwrite, are saved before any thread writes (a barrier), and
// before a band's output is copied back, the rows of it that later bands of
// the thread still read (its last ry) are saved in a ring of ry rows.
//
// Memory: one allocation per call, before anything is written, holding a
// row of zeros (zero border), the border's column maps, and per thread the
// scratch rows of the edges ((band rows + 2 ry) rows of about
// 2 * window_width pixels), the kernel's own working memory, and in place
// 3 ry + band rows rows of the image.

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "median/kernel_code.h"
#include "median/median.h"
#include "median/median_filter.h"

namespace median::detail {
namespace {

// Output frames of at least this many bytes are written with non-temporal
// stores: a frame that large has left the caches before anyone reads it, and
// an ordinary store would first read every line it is about to overwrite.
constexpr int64_t STREAMING_BYTES = int64_t(8) << 20;

// Every buffer of a thread starts on a cache line of its own.
constexpr size_t LINE = 64;

// Index i of a row or column of n, as the border reads it: inside, or -1 for
// the zero border.  Mirrors reflect again and again until they land inside,
// as OpenCV's borderInterpolate does for images smaller than the window.
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

// The column regions of every output row.
struct Columns {
  Region region[3];
  int count;
};

Columns plan_columns(ptrdiff_t width, ptrdiff_t reach, int lanes, int border) {
  if (border == PADDED_FRAME) return {{{0, width, width < lanes}}, 1};
  // An edge holds every output whose window leaves the image, and at least
  // one vector.
  const ptrdiff_t edge = std::max<ptrdiff_t>(lanes, reach);
  if (width >= 2 * edge + lanes)
    return {{{0, edge, true}, {edge, width - edge, false}, {width - edge, width, true}}, 3};
  return {{{0, width, true}}, 1};
}

// Elements in the longest scratch input row: the widest scratch region
// (or a vector, where that is wider) and the window's reach on both sides.
ptrdiff_t scratch_row_elements(ptrdiff_t width, ptrdiff_t reach, int lanes, int border) {
  const Columns columns = plan_columns(width, reach, lanes, border);
  ptrdiff_t widest = 0;
  for (int i = 0; i < columns.count; ++i)
    if (columns.region[i].scratch)
      widest = std::max(widest, columns.region[i].end - columns.region[i].first);
  return std::max<ptrdiff_t>(widest, lanes) + 2 * reach;
}

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
  int32_t rx, ry;   // the window's half-width and half-height
  ptrdiff_t reach;  // rx * step: elements a window reaches on either side
  // For MEDIAN_BORDER_ZERO: a row of zeros, readable from element -reach to
  // width + reach - 1.
  const T* zero_row;
  // Where elements -reach .. -1 and width .. width + reach - 1 of a row
  // read, by the border: an element of the row, or -1 for zero (reach
  // entries each).
  ptrdiff_t* left;
  ptrdiff_t* right;
};

// Fills image->left and image->right.
template <class T>
void map_edges(Image<T>* image) {
  const ptrdiff_t step = image->step, reach = image->reach;
  for (ptrdiff_t k = 0; k < reach; ++k)
    for (const bool right : {false, true}) {
      const ptrdiff_t j = right ? image->width + k : k - reach;
      const ptrdiff_t pixel = floor_div(j, step), channel = j - pixel * step;
      const int32_t mapped = border_index(pixel, image->w, image->border);
      (right ? image->right : image->left)[k] = mapped < 0 ? -1 : mapped * step + channel;
    }
}

// What one thread works in: the edges' scratch rows, the kernel's working
// memory, and in place the saved and staging rows.
template <class T>
struct ThreadMemory {
  T* scratch;
  void* work;
  T* rows;
};

// One thread's work on its block of rows first_row .. end_row - 1.
template <class T>
class Worker {
 public:
  Worker(const Image<T>& image, const KernelCode& code, int32_t band_rows, int32_t first_row,
         int32_t end_row, const ThreadMemory<T>& memory, bool streaming)
      : image_(image), code_(code), band_(band_function<T>(code)), band_rows_(band_rows),
        first_(first_row), end_(end_row), streaming_(streaming), memory_(memory) {}

  // In place: the rows of the neighbouring blocks this block reads.  Every
  // thread must do this before any thread writes.
  void save_neighbours() {
    for (int32_t i = 0; i < image_.ry; ++i) {
      const int64_t above = int64_t(first_) - image_.ry + i, below = int64_t(end_) + i;
      if (above >= 0) copy_row(saved_row(i), source_row(int32_t(above)));
      if (below < image_.h) copy_row(saved_row(image_.ry + i), source_row(int32_t(below)));
    }
  }

  void run() { run(first_, end_); }

  // Rows first .. end - 1 of the block, in bands.
  void run(int32_t first, int32_t end) {
    for (int32_t y0 = first; y0 < end; y0 += band_rows_)
      band(y0, end - y0 < band_rows_ ? end - y0 : band_rows_);
  }

 private:
  const T* source_row(int32_t y) const { return image_.src + y * image_.src_stride; }
  T* dst_row(int32_t y) const { return image_.dst + y * image_.dst_stride; }
  void copy_row(T* to, const T* from) const {
    std::memcpy(to, from, size_t(image_.width) * sizeof(T));
  }
  // In place, row i of the thread's rows: ry saved above the block, ry
  // below it, ry in the ring of rows this block has overwritten, then the
  // staging rows.
  T* saved_row(int32_t i) const { return memory_.rows + i * image_.width; }
  T* ring_row(int32_t y) const { return saved_row(2 * image_.ry + y % image_.ry); }
  T* staging_row(int32_t r) const { return saved_row(3 * image_.ry + r); }

  // Element 0 of the input row y (any row the band's windows reach), with
  // the border applied; for the zero border outside the image, a zero row.
  const T* input_row(int64_t y, int32_t band_first) const {
    if (image_.border == PADDED_FRAME) return source_row(int32_t(y));
    const int32_t mapped = border_index(y, image_.h, image_.border);
    if (mapped < 0) return image_.zero_row;
    if (!image_.in_place) return source_row(mapped);
    // Rows that have been overwritten, by this block or its neighbours,
    // come from their copies.  A band reads no row above band_first - ry
    // nor below its block's end + ry - 1, wherever the border maps.
    if (mapped < first_) return saved_row(mapped - (first_ - image_.ry));
    if (mapped >= end_) return saved_row(image_.ry + mapped - end_);
    if (mapped < band_first) return ring_row(mapped);
    return source_row(mapped);
  }

  // Element j of input row `row` (element 0 at `row`) for j outside the
  // image: the border's, or zero beyond the window's reach (only a row
  // narrower than a vector reads there).
  T outside(const T* row, ptrdiff_t j) const {
    const ptrdiff_t width = image_.width, reach = image_.reach;
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
    const ptrdiff_t width = image_.width, reach = image_.reach;
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
    const ptrdiff_t step = image_.step, reach = image_.reach;
    const int32_t ry = image_.ry, in_count = rows + 2 * ry;
    const T* in_rows[MAX_BAND_ROWS + 2 * MAX_RADIUS];
    T* out_rows[MAX_BAND_ROWS];
    for (int32_t r = 0; r < in_count; ++r) in_rows[r] = input_row(int64_t(y0) - ry + r, y0);
    for (int32_t r = 0; r < rows; ++r) out_rows[r] = image_.in_place ? staging_row(r) : dst_row(y0 + r);

    const Columns columns = plan_columns(image_.width, reach, code_.lanes, image_.border);
    const T* in[MAX_BAND_ROWS + 2 * MAX_RADIUS];
    T* out[MAX_BAND_ROWS];
    for (int i = 0; i < columns.count; ++i) {
      const Region& region = columns.region[i];
      const ptrdiff_t n = region.end - region.first;
      Band<T> b{in, out, rows, n, step, streaming_, image_.rx, ry, memory_.work};
      if (!region.scratch) {
        for (int32_t r = 0; r < in_count; ++r) in[r] = in_rows[r] + region.first - reach;
        for (int32_t r = 0; r < rows; ++r) out[r] = out_rows[r] + region.first;
        band_(b);
        continue;
      }
      // The scratch copy: each input row's elements region.first - reach on,
      // as many as a vector of output needs at least.
      const ptrdiff_t lanes = code_.lanes, width = n > lanes ? n : lanes;
      const ptrdiff_t row_elements = width + 2 * reach;
      T* const scratch_in = memory_.scratch;
      T* const scratch_out = scratch_in + in_count * row_elements;
      for (int32_t r = 0; r < in_count; ++r) {
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
      // Later bands of this block read this band's last ry rows as they
      // were: into the ring before they are overwritten.
      if (y0 + rows < end_)
        for (int32_t y = std::max(y0, y0 + rows - ry); y < y0 + rows; ++y)
          copy_row(ring_row(y), source_row(y));
      for (int32_t r = 0; r < rows; ++r) copy_row(dst_row(y0 + r), out_rows[r]);
    }
  }

  const Image<T>& image_;
  const KernelCode& code_;
  const BandFunction<T> band_;
  const int32_t band_rows_;
  const int32_t first_, end_;
  const bool streaming_;
  const ThreadMemory<T> memory_;
};

// How the one allocation of a call is laid out: the shared part, then one
// part per thread.  Sizes in bytes, each a whole number of cache lines.
struct Layout {
  size_t zero_row, maps, scratch, work, rows;
  size_t shared() const { return zero_row + maps; }
  size_t per_thread() const { return scratch + work + rows; }
};

bool round_up(size_t* n) {
  return !__builtin_add_overflow(*n, LINE - 1, n) && ((*n = *n / LINE * LINE), true);
}

// n * size, rounded up to whole lines; false on overflow.
bool line_bytes(size_t n, size_t size, size_t* out) {
  return !__builtin_mul_overflow(n, size, out) && round_up(out);
}

// The sizes a call on `image` with `code` in bands of `rows_per_band` needs;
// false when they do not fit in a size_t.
template <class T>
bool plan_memory(const Image<T>& image, const KernelCode& code, int32_t rows_per_band,
                 Layout* layout) {
  const size_t width = size_t(image.width), reach = size_t(image.reach);
  const size_t ry = size_t(image.ry), band_rows = size_t(rows_per_band);
  const size_t in_rows = band_rows + 2 * ry;
  const size_t scratch_row =
      size_t(scratch_row_elements(image.width, image.reach, code.lanes, image.border));
  size_t scratch_in = 0, zero = 0;
  *layout = {};
  layout->work = code.work_bytes ? code.work_bytes(image.rx, image.ry, image.step) : 0;
  return (image.border != MEDIAN_BORDER_ZERO || line_bytes(width + 2 * reach, sizeof(T), &zero)) &&
         ((layout->zero_row = zero), true) &&
         line_bytes(2 * reach, sizeof(ptrdiff_t), &layout->maps) &&
         !__builtin_mul_overflow(in_rows, scratch_row, &scratch_in) &&
         !__builtin_add_overflow(scratch_in, band_rows * size_t(code.lanes), &scratch_in) &&
         line_bytes(scratch_in, sizeof(T), &layout->scratch) && round_up(&layout->work) &&
         (!image.in_place || (!__builtin_mul_overflow(3 * ry + band_rows, width, &layout->rows) &&
                              line_bytes(layout->rows, sizeof(T), &layout->rows)));
}

// Each thread's scratch and working memory on a padded frame, which
// allocates nothing (median_filter_pass cannot fail), live on the thread's
// stack: a 5x5 window needs little, and only frames narrower than a vector
// go through the scratch at all.
constexpr size_t PADDED_SCRATCH_BYTES =
    ((PADDED_BAND_ROWS + 2 * RADIUS) * (MAX_VECTOR_BYTES + 2 * RADIUS * 3) +
     PADDED_BAND_ROWS * MAX_VECTOR_BYTES + LINE - 1) / LINE * LINE;

// Rows [first, end) of a frame.
struct RowRange {
  int32_t first, end;
};

// Block i of n contiguous blocks of row pairs of nearly equal size, as a
// static schedule makes them, in a frame of h rows.
RowRange equal_block(int32_t h, int64_t i, int64_t n) {
  const int64_t pairs = (int64_t(h) + 1) / 2;
  return {int32_t(pairs * i / n * 2), int32_t(std::min<int64_t>(pairs * (i + 1) / n * 2, h))};
}

// The rows of a frame filtered out of place, shared among the threads so
// that one that runs slower (a busy sibling core, a neighbour on a shared
// machine) takes fewer rows instead of holding the others up: with fixed
// equal blocks one thread of two sat idle for 10-30 % of a call on a
// shared two-core AMD Zen 5.  Each thread starts on its own contiguous
// block, as a static schedule gives it, and takes a band at a time from
// its front; a thread whose block is empty takes the back half of the
// block with the most rows left, and makes that its block.  Threads so
// work far apart until the end: handing out bands from one counter put two
// threads on neighbouring bands at once, and the 16-register column sweep
// then ran at half speed on each (the same Zen 5, a 16-megapixel frame).
// A half is taken only when both halves keep at least a band or 8 ry rows
// (8 for a window one row high), whichever is less, as each band start
// sorts or counts 2 ry rows again; a kernel whose band is longer than a
// block takes its block whole and so keeps the static split.  Every block
// starts on an even row, as the row-pair sweeps want.
class RowShares {
 public:
  // Blocks of their own for this many threads; any more take halves and
  // work through them alone.
  static constexpr int BLOCKS = 256;

  // One thread sets the blocks up for a team of `team`.
  void start(int32_t h, int32_t band_rows, int32_t ry, int team) {
    count_ = std::min(team, BLOCKS);
    band_ = band_rows;
    least_ = std::min(band_rows, 8 * std::max(ry, 1));
    for (int i = 0; i < count_; ++i) {
      const RowRange block = equal_block(h, i, count_);
      blocks_[i].rows.store(pack(block.first, block.end), std::memory_order_relaxed);
    }
  }

  // Thread t's next rows [*first, *end); false when every row is taken.
  bool next(int t, int32_t* first, int32_t* end) {
    for (;;) {
      if (t < count_ && take_front(blocks_[t].rows, first, end)) return true;
      int32_t from = 0, to = 0;
      if (!take_back_half(&from, &to)) return false;
      if (t < count_) {
        // Nobody writes an empty block: others only take from blocks with
        // rows left.
        blocks_[t].rows.store(pack(from, to), std::memory_order_relaxed);
        continue;
      }
      *first = from;
      *end = to;
      return true;
    }
  }

 private:
  struct alignas(64) Block {
    std::atomic<uint64_t> rows;  // next << 32 | end
  };
  static uint64_t pack(int32_t next, int32_t end) { return uint64_t(uint32_t(next)) << 32 | uint32_t(end); }
  static int32_t next_of(uint64_t v) { return int32_t(v >> 32); }
  static int32_t end_of(uint64_t v) { return int32_t(uint32_t(v)); }

  // A band from the front of a block.
  bool take_front(std::atomic<uint64_t>& rows, int32_t* first, int32_t* end) const {
    uint64_t v = rows.load(std::memory_order_relaxed);
    for (;;) {
      const int32_t at = next_of(v), stop = end_of(v);
      if (at >= stop) return false;
      const int32_t to = stop - at <= band_ ? stop : at + band_;
      if (rows.compare_exchange_weak(v, pack(to, stop), std::memory_order_relaxed)) {
        *first = at;
        *end = to;
        return true;
      }
    }
  }

  // The back half of the block with the most rows left, while one has
  // enough for two.
  bool take_back_half(int32_t* first, int32_t* end) {
    for (;;) {
      int most = -1;
      uint64_t seen = 0;
      for (int i = 0; i < count_; ++i) {
        const uint64_t v = blocks_[i].rows.load(std::memory_order_relaxed);
        if (end_of(v) - next_of(v) >= 2 * least_ &&
            (most < 0 || end_of(v) - next_of(v) > end_of(seen) - next_of(seen))) {
          most = i;
          seen = v;
        }
      }
      if (most < 0) return false;
      const int32_t at = next_of(seen), stop = end_of(seen);
      const int32_t half = at + (stop - at) / 2 + ((stop - at) / 2 & 1);
      if (blocks_[most].rows.compare_exchange_strong(seen, pack(at, half),
                                                     std::memory_order_relaxed)) {
        *first = half;
        *end = stop;
        return true;
      }
    }
  }

  Block blocks_[BLOCKS];
  int count_ = 0;
  int32_t band_ = 0, least_ = 0;
};

// Filters `image` on `threads` threads in bands of `band_rows`, each thread
// in its part of `memory`, or, with a null `memory`, on its stack
// (layout.rows must then be 0).
template <class T>
void run_threads(const Image<T>& image, const KernelCode& code, int32_t band_rows, int threads,
                 unsigned char* memory, const Layout& layout) {
  const bool streaming =
      !image.in_place && int64_t(image.h) * image.width * int64_t(sizeof(T)) >= STREAMING_BYTES;
  RowShares shares;
#pragma omp parallel num_threads(threads)
  {
    const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
    // In place, the blocks stay fixed: each thread saves the rows around
    // its block before any thread writes.
    const RowRange block = image.in_place ? equal_block(image.h, t, team) : RowRange{0, image.h};
    alignas(LINE) unsigned char stack[PADDED_SCRATCH_BYTES + PADDED_WORK_BYTES];
    unsigned char* const own = memory ? memory + t * layout.per_thread() : stack;
    const ThreadMemory<T> thread_memory{
        reinterpret_cast<T*>(own), layout.work ? own + layout.scratch : nullptr,
        reinterpret_cast<T*>(own + layout.scratch + layout.work)};
    Worker<T> worker(image, code, band_rows, block.first, block.end, thread_memory, streaming);
    if (image.in_place) {
      if (block.first < block.end) worker.save_neighbours();
#pragma omp barrier
      if (block.first < block.end) worker.run();
    } else {
#pragma omp single
      shares.start(image.h, band_rows, image.ry, int(team));
      for (int32_t y0, y1; shares.next(int(t), &y0, &y1);) worker.run(y0, y1);
    }
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

bool valid_window_side(int32_t side) { return side >= 1 && side <= MEDIAN_MAX_WINDOW && side % 2 == 1; }

}  // namespace

template <class T>
int filter_image(const KernelCode& code, const T* src, ptrdiff_t src_stride, T* dst,
                 ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
                 int32_t window_width, int32_t window_height, int border) {
  if (!src || !dst) return MEDIAN_ERROR_NULL_POINTER;
  if (width < 1 || height < 1) return MEDIAN_ERROR_SIZE;
  if (channels < 1 || channels > MAX_CHANNELS) return MEDIAN_ERROR_CHANNELS;
  const ptrdiff_t elements = ptrdiff_t(width) * channels;  // fits: both are 32-bit
  const size_t row_bytes = size_t(elements) * sizeof(T);
  for (const ptrdiff_t stride : {src_stride, dst_stride})
    if (stride < ptrdiff_t(row_bytes) || stride % ptrdiff_t(sizeof(T)) != 0)
      return MEDIAN_ERROR_STRIDE;
  if (border < MEDIAN_BORDER_ZERO || border > MEDIAN_BORDER_REFLECT) return MEDIAN_ERROR_BORDER;
  if (!valid_window_side(window_width) || !valid_window_side(window_height))
    return MEDIAN_ERROR_WINDOW;
  if (!serves(code, window_width, window_height)) return MEDIAN_ERROR_KERNEL;
  const uintptr_t src_end = image_end(src, src_stride, row_bytes, height);
  const uintptr_t dst_end = image_end(dst, dst_stride, row_bytes, height);
  if (!src_end || !dst_end) return MEDIAN_ERROR_SIZE;
  const uintptr_t src_first = reinterpret_cast<uintptr_t>(src);
  const uintptr_t dst_first = reinterpret_cast<uintptr_t>(dst);
  const bool in_place = src_first == dst_first && src_stride == dst_stride;
  if (!in_place && src_first < dst_end && dst_first < src_end &&
      rows_intersect(src_first, src_stride, dst_first, dst_stride, row_bytes, height))
    return MEDIAN_ERROR_OVERLAP;

  const int32_t rx = (window_width - 1) / 2, ry = (window_height - 1) / 2;
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
                 rx,
                 ry,
                 ptrdiff_t(rx) * channels,
                 nullptr,
                 nullptr,
                 nullptr};

  // Everything a call needs beyond the stack, before anything is written.
  const int threads = omp_get_max_threads();
  const int32_t band_rows = in_place ? std::min(code.band_rows, IN_PLACE_BAND_ROWS) : code.band_rows;
  Layout layout;
  size_t total = 0;
  if (!plan_memory(image, code, band_rows, &layout) ||
      __builtin_mul_overflow(layout.per_thread(), size_t(threads), &total) ||
      __builtin_add_overflow(total, layout.shared() + LINE, &total))
    return MEDIAN_ERROR_OUT_OF_MEMORY;
  void* const allocation = std::malloc(total);
  if (!allocation) return MEDIAN_ERROR_OUT_OF_MEMORY;
  unsigned char* const base = reinterpret_cast<unsigned char*>(
      (reinterpret_cast<uintptr_t>(allocation) + LINE - 1) / LINE * LINE);
  if (layout.zero_row) {
    std::memset(base, 0, layout.zero_row);
    image.zero_row = reinterpret_cast<const T*>(base) + image.reach;
  }
  image.left = reinterpret_cast<ptrdiff_t*>(base + layout.zero_row);
  image.right = image.left + image.reach;
  map_edges(&image);
  run_threads(image, code, band_rows, threads, base + layout.shared(), layout);
  std::free(allocation);
  return MEDIAN_OK;
}

template int filter_image<uint8_t>(const KernelCode&, const uint8_t*, ptrdiff_t, uint8_t*,
                                   ptrdiff_t, int32_t, int32_t, int32_t, int32_t, int32_t, int);
template int filter_image<uint16_t>(const KernelCode&, const uint16_t*, ptrdiff_t, uint16_t*,
                                    ptrdiff_t, int32_t, int32_t, int32_t, int32_t, int32_t, int);
template int filter_image<float>(const KernelCode&, const float*, ptrdiff_t, float*, ptrdiff_t,
                                 int32_t, int32_t, int32_t, int32_t, int32_t, int);

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
                             RADIUS,
                             RADIUS,
                             RADIUS * CHANNELS,
                             nullptr,
                             nullptr,
                             nullptr};
  // No kernel with a padded pass asks for more working memory than the
  // stack gives it.
  const size_t work = code.work_bytes ? code.work_bytes(RADIUS, RADIUS, CHANNELS) : 0;
  if (work > PADDED_WORK_BYTES) return;
  const Layout layout{0, 0, PADDED_SCRATCH_BYTES, work ? PADDED_WORK_BYTES : 0, 0};
  run_threads(image, code, std::min(code.band_rows, PADDED_BAND_ROWS), omp_get_max_threads(),
              nullptr, layout);
}

}  // namespace median::detail
