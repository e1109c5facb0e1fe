/* SPDX-License-Identifier: MIT */
/*
 * A C program using the installed engine as a caller would: filters a small
 * RGBA image held in a buffer with a row gap, with the replicate border,
 * once into another buffer and once in place, and has an impossible request
 * refused with a message.  Exits 0 when the two results agree and the
 * refusal is right, 1 otherwise.  Built against the installed header and
 * library only.
 */
#include <median/median5x5.h>

#include <stdio.h>
#include <string.h>

enum { W = 45, H = 23, CHANNELS = 4, STRIDE = W * CHANNELS + 7 };

static uint8_t image[H * STRIDE], filtered[H * STRIDE];

int main(void) {
  uint32_t state = 12345;
  for (int i = 0; i < H * STRIDE; ++i) {
    state = state * 1664525u + 1013904223u;
    image[i] = (uint8_t)(state >> 24);
  }
  int status = median5x5_u8(image, STRIDE, filtered, STRIDE, W, H, CHANNELS, MEDIAN_BORDER_REPLICATE);
  if (status != MEDIAN_OK) {
    printf("median5x5_u8 failed: %s\n", median_error_string(status));
    return 1;
  }
  status = median5x5_u8(image, STRIDE, image, STRIDE, W, H, CHANNELS, MEDIAN_BORDER_REPLICATE);
  int same = status == MEDIAN_OK;
  for (int y = 0; y < H && same; ++y)
    same = memcmp(image + y * STRIDE, filtered + y * STRIDE, W * CHANNELS) == 0;
  const int refused = median5x5_u8(image, STRIDE, filtered, STRIDE, W, H, 5, MEDIAN_BORDER_ZERO);
  printf("in place %s; 5 channels: %s\n", same ? "gives the same bytes" : "DIFFERS",
         median_error_string(refused));
  return same && refused == MEDIAN_ERROR_CHANNELS ? 0 : 1;
}
