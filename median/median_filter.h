// SPDX-License-Identifier: MIT
//
// 5x5 median filter on interleaved 3-byte pixels.
//
// `padded` holds the image with a zero border of 2 pixels on every side:
// h + 4 rows of `padded_width` pixels (padded_width >= w + 4), each row
// padded_width * 3 bytes with nothing between rows; image pixel (x, y) sits at
// padded pixel (x + 2, y + 2).  `filtered` receives h rows of w * 3 bytes.
#pragma once

#include <cstdint>

// One complete pass: every byte of `filtered` becomes the median of the 25
// bytes of the same channel in the 5x5 window around it.  The rows are split
// among the OpenMP threads (static schedule); each row is written by exactly
// one thread and nothing outside `filtered` is written.  Reads stay inside the
// padded frame, including its last byte.  Returns when every row is done.
// Safe to call from one thread at a time per `filtered` buffer; `padded` is
// only read.
void median_filter_pass(int32_t h, int32_t w, int32_t padded_width,
                        const uint8_t* padded, uint8_t* filtered);
