/* SPDX-License-Identifier: MIT */
/*
 * 5x5 median filter on the caller's own image, from C or C++: the calls of
 * median.h (included here) with a 5x5 window, kept for callers that only
 * ever want that size.  median5x5_u8(...) gives exactly what
 * median_filter_u8(..., 5, 5, border) gives, as fast; likewise _u16, _f32.
 *
 * An image is `height` rows of `width` pixels, each pixel `channels`
 * interleaved elements (1 to 4: grey, grey and alpha, RGB, RGBA, in any
 * order); the rows start `stride` bytes apart, which may leave any gap
 * between them, and the pointers need no alignment.  Every element of the
 * result is the median (the 13th smallest) of the 25 elements of the same
 * channel in the 5x5 pixel window around it; channels never mix, so an
 * alpha channel gets a median of its own.  Where the window leaves the
 * image, the border decides what it reads.
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
 * fastest kernel this processor runs filters them; the environment
 * variable MEDIAN_KERNEL can name another (see median_filter.h).  Calls on
 * different images may run at the same time.
 */
#ifndef MEDIAN_MEDIAN5X5_H
#define MEDIAN_MEDIAN5X5_H

#include "median/median.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 8-bit elements. */
int median5x5_u8(const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst, ptrdiff_t dst_stride,
                 int32_t width, int32_t height, int32_t channels, median_border border);

/* 16-bit unsigned elements; strides in bytes, a multiple of 2. */
int median5x5_u16(const uint16_t* src, ptrdiff_t src_stride, uint16_t* dst, ptrdiff_t dst_stride,
                  int32_t width, int32_t height, int32_t channels, median_border border);

/*
 * 32-bit floats; strides in bytes, a multiple of 4.  The median is the 13th
 * smallest under this total order: -infinity < negative numbers < -0.0 <
 * +0.0 < positive numbers < +infinity < NaN, every NaN above +infinity
 * whatever its sign.  So a window with at most 12 NaNs never yields one,
 * and one with 13 or more yields one of its own NaNs, bit for bit (among
 * NaNs of different bits the order is fixed: the same one for every kernel
 * and thread count).  -0.0 and +0.0 keep their signs: -0.0 comes out where
 * it is the 13th smallest.  Infinities and denormals are values like any
 * other; nothing is flushed to zero.
 */
int median5x5_f32(const float* src, ptrdiff_t src_stride, float* dst, ptrdiff_t dst_stride,
                  int32_t width, int32_t height, int32_t channels, median_border border);

#ifdef __cplusplus
}
#endif

#endif /* MEDIAN_MEDIAN5X5_H */
