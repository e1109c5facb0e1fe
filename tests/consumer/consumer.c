/* SPDX-License-Identifier: MIT */
/*
 * A C program using the installed engine as a caller would: filters a small
 * RGBA image held in a buffer with a row gap, with the replicate border,
 * with a 7x3 window once into another buffer and once in place, checks that
 * the 5x5 call equals the general one with a 5x5 window, and has two
 * impossible requests refused with a message.  Exits 0 when all holds, 1
 * otherwise.  Built against the installed headers and library only.
 */
#include <median/median.h>
#include <median/median5x5.h>

#include <stdio.h>
#include <string.h>

enum { W = 45, H = 23, CHANNELS = 4, STRIDE = W * CHANNELS + 7 };

static uint8_t image[H * STRIDE], filtered[H * STRIDE], five[H * STRIDE];

static int same_rows(const uint8_t* a, const uint8_t* b) {
  for (int y = 0; y < H; ++y)
    if (memcmp(a + y * STRIDE, b + y * STRIDE, W * CHANNELS) != 0) return 0;
  return 1;
}

int main(void) {
  uint32_t state = 12345;
  for (int i = 0; i < H * STRIDE; ++i) {
    state = state * 1664525u + 1013904223u;
    image[i] = (uint8_t)(state >> 24);
  }
  int status = median5x5_u8(image, STRIDE, five, STRIDE, W, H, CHANNELS, MEDIAN_BORDER_REPLICATE);
  if (status == MEDIAN_OK)
    status = median_filter_u8(image, STRIDE, filtered, STRIDE, W, H, CHANNELS, 5, 5,
                              MEDIAN_BORDER_REPLICATE);
  const int five_same = status == MEDIAN_OK && same_rows(five, filtered);
  if (status == MEDIAN_OK)
    status = median_filter_u8(image, STRIDE, filtered, STRIDE, W, H, CHANNELS, 7, 3,
                              MEDIAN_BORDER_REPLICATE);
  if (status == MEDIAN_OK)
    status = median_filter_u8(image, STRIDE, image, STRIDE, W, H, CHANNELS, 7, 3,
                              MEDIAN_BORDER_REPLICATE);
  if (status != MEDIAN_OK) {
    printf("median_filter_u8 failed: %s\n", median_error_string(status));
    return 1;
  }
  const int same = same_rows(image, filtered);
  const int channels = median_filter_u8(image, STRIDE, filtered, STRIDE, W, H, 5, 3, 3,
                                        MEDIAN_BORDER_ZERO);
  const int window = median_filter_u8(image, STRIDE, filtered, STRIDE, W, H, CHANNELS, 4, 3,
                                      MEDIAN_BORDER_ZERO);
  printf("5x5 %s; in place %s; 5 channels: %s; a 4x3 window: %s\n",
         five_same ? "equals median_filter_u8" : "DIFFERS", same ? "gives the same bytes" : "DIFFERS",
         median_error_string(channels), median_error_string(window));
  return five_same && same && channels == MEDIAN_ERROR_CHANNELS && window == MEDIAN_ERROR_WINDOW ? 0 : 1;
}
