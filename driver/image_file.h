// SPDX-License-Identifier: MIT
//
// Reading "input.jpg" and writing "output.jpg" safely.  The file's header
// decides how much memory everything after it takes, so it is checked before
// the image library decodes anything; the save goes to a temporary file that
// replaces the old output only once it is complete on disk.
//
// All functions return true on success and otherwise put a one-line reason
// into *error, without the file name.
#pragma once

#include <cstdint>
#include <string>

// Largest padded frame, (w + 4) x (h + 4) x 3 bytes, that the 32-bit frame
// arithmetic can address.
constexpr int64_t MAX_FRAME_BYTES = INT32_MAX;

// True when an image of w x h pixels (both >= 1) has frames that fit
// MAX_FRAME_BYTES.
bool frames_fit(int64_t w, int64_t h);

struct JpegHeader {
  int32_t width = 0;
  int32_t height = 0;
  int components = 0;
  bool ink = false;  // CMYK or YCCK: stored as printing inks, not light
};

// Reads the JPEG header of `path` with libjpeg, decoding no pixels.
bool read_jpeg_header(const char* path, JpegHeader* header, std::string* error);

// Loads `path` into the currently bound DevIL image as 8-bit, 3-channel
// pixels.  Refuses, before the library decodes anything, files that are not
// JPEGs, that claim frames larger than MAX_FRAME_BYTES, that hold CMYK/YCCK
// or a number of components other than one or three, or whose data ends
// before all the pixels its header promises; converts greyscale.  The caller
// has called ilInit and bound an image.
bool load_rgb_image(const char* path, int32_t* w, int32_t* h, std::string* error);

// Encodes the bound DevIL image as JPEG and puts it at `path`: written to a
// temporary file in the same directory, flushed and synced, then renamed over
// `path`.  On failure `path` is untouched and the temporary file is removed.
bool save_jpeg_replacing(const char* path, std::string* error);
