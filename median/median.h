/* SPDX-License-Identifier: MIT */
/*
 * Median filter of any odd window size on the caller's own image, from C or
 * C++.  The library's main header.
 *
 * An image is `height` rows of `width` pixels, each pixel `channels`
 * interleaved elements (1 to 4: grey, grey and alpha, RGB, RGBA, in any
 * order); the rows start `stride` bytes apart, which may leave any gap
 * between them, and the pointers need no alignment.  Every element of the
 * result is the median of the window_width x window_height elements of the
 * same channel around it (window_width columns, window_height rows, both odd
 * and centred on the element): the (n - 1) / 2-th smallest of the n window
 * elements, counting from 0.  Channels never mix, so an alpha channel gets a
 * median of its own.  Where the window leaves the image, the border decides
 * what it reads; a window larger than the image is allowed, and the mirror
 * borders then reflect again and again until they land inside, as OpenCV's
 * borderInterpolate does.
 *
 * Only the `width` * `channels` elements of each row are read from `src`
 * and written to `dst`; the gaps between rows are never touched.  `dst` may
 * be `src` itself with the same stride (in place, same result); otherwise
 * the two may not share a byte.  Every argument is checked before any
 * memory is touched, and on any failure `dst` is left as it was.
 *
 * The rows are shared among the threads of an OpenMP parallel region
 * (OMP_NUM_THREADS): each starts on an equal block of rows and, out of
 * place, when that is done takes half of the largest block left.  The
 * method and the kernel are chosen by window size and element type for
 * this processor; the environment variable MEDIAN_KERNEL can name another
 * kernel (median_filter.h).  Calls on different images may run at the same
 * time.
 *
 * Working memory: a call allocates, before it writes anything, a buffer per
 * thread that grows with the window and the channels but never with the
 * image: for the edges, about 1.5 * (band + window_height) * window_width *
 * channels elements, where band, the rows a thread filters at a time, is
 * 2048 for the histogram method of 8-bit elements and the interpreted
 * networks (512 in place), 256 for the rank method of 16-bit and float
 * elements and at most 128 for the compiled networks; the method's own
 * memory, for 8 bits (512 + window_width) * channels * 272 bytes (140 KB to
 * 830 KB), for 16 bits and floats 100 KB at 7x7 up to 4.6 MB at 255x255
 * (2.9 MB for the plain sliding histogram, on flat windows and where
 * nothing faster is built); the compiled separable networks 128 to 1953
 * vectors (8 KB at 7x7 to 122 KB at 21x21 at 512 bits), and the
 * interpreted ones (23x23 and 25x25 on x86, 17x17 to 25x25 on ARM64)
 * 300 KB to 630 KB;
 * and in place (3 * window_height / 2 + band) rows of the image on top.  The
 * largest window on a 4-channel float image takes about 8 MB per thread
 * besides in-place rows, 8 bits about 4 MB; a 5x5 window takes a few
 * kilobytes.  Each thread also keeps about 90 KB of row pointers on its
 * stack.  When it
 * cannot be had, the call returns MEDIAN_ERROR_OUT_OF_MEMORY and writes
 * nothing.
 */
#ifndef MEDIAN_MEDIAN_H
#define MEDIAN_MEDIAN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The largest window side, in pixels, in either direction. */
#define MEDIAN_MAX_WINDOW 255

/*
 * What the window reads beyond the image, shown for a row a b c d.
 * Rows above and below are extended the same way.  When the image is
 * narrower or lower than the window reaches, the mirror modes reflect again
 * and again until they land inside (so one pixel is repeated, and of two
 * pixels a b, REFLECT_101 reads ...b a b a b a...), which is what OpenCV's
 * copyMakeBorder and borderInterpolate do.
 */
typedef enum {
  MEDIAN_BORDER_ZERO = 0,        /* 0 0|a b c d|0 0 (what median_filter_pass does) */
  MEDIAN_BORDER_REPLICATE = 1,   /* a a|a b c d|d d  cv::BORDER_REPLICATE, scipy 'nearest' */
  MEDIAN_BORDER_REFLECT_101 = 2, /* c b|a b c d|c b  cv::BORDER_REFLECT_101, scipy 'mirror' */
  MEDIAN_BORDER_REFLECT = 3      /* b a|a b c d|d c  cv::BORDER_REFLECT, scipy 'reflect' */
} median_border;

/* What the functions return: 0 on success, one of the negative statuses
 * otherwise.  median_error_string gives each one's message. */
enum {
  MEDIAN_OK = 0,
  MEDIAN_ERROR_NULL_POINTER = -1,  /* src or dst is a null pointer */
  MEDIAN_ERROR_SIZE = -2,          /* width or height below 1, or the image does not fit in memory */
  MEDIAN_ERROR_CHANNELS = -3,      /* channels is not 1, 2, 3 or 4 */
  MEDIAN_ERROR_STRIDE = -4,        /* a stride is below width * channels elements or not a whole number of elements */
  MEDIAN_ERROR_BORDER = -5,        /* border is not one of median_border */
  MEDIAN_ERROR_OVERLAP = -6,       /* src and dst share bytes without being the same image */
  MEDIAN_ERROR_OUT_OF_MEMORY = -7, /* the working buffers could not be allocated */
  MEDIAN_ERROR_KERNEL = -8,        /* (C++ median::filter) the kernel cannot run here, or is of another element type or window */
  MEDIAN_ERROR_WINDOW = -9         /* a window side is even, below 1 or above MEDIAN_MAX_WINDOW */
};

/* 8-bit elements. */
int median_filter_u8(const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst, ptrdiff_t dst_stride,
                     int32_t width, int32_t height, int32_t channels, int32_t window_width,
                     int32_t window_height, median_border border);

/* 16-bit unsigned elements; strides in bytes, a multiple of 2. */
int median_filter_u16(const uint16_t* src, ptrdiff_t src_stride, uint16_t* dst,
                      ptrdiff_t dst_stride, int32_t width, int32_t height, int32_t channels,
                      int32_t window_width, int32_t window_height, median_border border);

/*
 * 32-bit floats; strides in bytes, a multiple of 4.  The median is taken in
 * this total order: -infinity < negative numbers < -0.0 < +0.0 < positive
 * numbers < +infinity < NaN, every NaN above +infinity whatever its sign.
 * So a window in which fewer NaNs than elements below the middle never
 * yields one, and one with more yields one of its own NaNs, bit for bit
 * (among NaNs of different bits the order is fixed: the same one for every
 * kernel and thread count).  -0.0 and +0.0 keep their signs: -0.0 comes out
 * where it is the middle element.  Infinities and denormals are values like
 * any other; nothing is flushed to zero.
 */
int median_filter_f32(const float* src, ptrdiff_t src_stride, float* dst, ptrdiff_t dst_stride,
                      int32_t width, int32_t height, int32_t channels, int32_t window_width,
                      int32_t window_height, median_border border);

/* A sentence saying what `status` means; never null.  Unknown statuses get
 * a sentence saying so. */
const char* median_error_string(int status);

#ifdef __cplusplus
}
#endif

#endif /* MEDIAN_MEDIAN_H */
