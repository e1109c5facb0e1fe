// SPDX-License-Identifier: MIT
//
// Reading "input.jpg" and writing "output.jpg" safely.  The input is read
// into memory once, so the bytes that are checked are the bytes that are
// decoded, whatever happens to the file meanwhile.  The JPEG's header decides
// how much memory and work everything after it takes, so it is checked, and
// all of its data decoded once without the image library, before the library
// decodes anything.  The save goes to a temporary file that replaces the old
// output only once it is complete on disk.
//
// All functions return true on success and otherwise put a one-line reason
// into *error, without the file name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Largest padded frame, (w + 4) x (h + 4) x 3 bytes, that the 32-bit frame
// arithmetic can address.  The decoder's whole-image coefficient buffer,
// which progressive files need, is held to the same size, so that decoding
// never takes more memory than filtering does.
constexpr int64_t MAX_FRAME_BYTES = INT32_MAX;

// Largest input file read.  A JPEG that fits the frame is smaller than its
// own raw pixels, so this only stops endless inputs (a device, a pipe).
constexpr int64_t MAX_INPUT_BYTES = MAX_FRAME_BYTES;

// Most scans a JPEG may have.  Every scan of a progressive file walks the
// whole coefficient buffer again, so the count bounds the decoding time;
// encoders write about ten.
constexpr int MAX_SCANS = 64;

// True when an image of w x h pixels (both >= 1) has frames that fit
// MAX_FRAME_BYTES.
bool frames_fit(int64_t w, int64_t h);

struct JpegHeader {
  int32_t width = 0;
  int32_t height = 0;
  int components = 0;
  bool ink = false;  // CMYK or YCCK: stored as printing inks, not light
  // The whole-image coefficient buffer libjpeg allocates for files decoded
  // in several scans (progressive, or components in scans of their own),
  // 2 bytes per coefficient; 0 for files decoded in one scan.
  int64_t coefficient_bytes = 0;
};

// Reads all of `path` (a file, a pipe, anything that reads) into *bytes, at
// most MAX_INPUT_BYTES.
bool read_input_file(const char* path, std::vector<uint8_t>* bytes, std::string* error);

// Reads the JPEG header of the file at `path` with libjpeg, decoding no
// pixels.
bool read_jpeg_header(const char* path, JpegHeader* header, std::string* error);

// Loads the JPEG in `bytes` into the currently bound DevIL image as 8-bit,
// 3-channel pixels.  Refuses, before the library decodes anything, data that
// is not a JPEG, that claims frames or a coefficient buffer larger than
// MAX_FRAME_BYTES, that holds CMYK/YCCK or a number of components other than
// one or three, that has more than MAX_SCANS scans, whose data ends before
// all the pixels its header promises, or on which libjpeg warns from the
// first scan on (damaged entropy-coded data); converts greyscale.  The
// caller has called ilInit and bound an image.
bool load_rgb_image(const std::vector<uint8_t>& bytes, int32_t* w, int32_t* h, std::string* error);

// Encodes the bound DevIL image as JPEG and puts it at `path`, which is only
// ever replaced by a complete file: written to an unnamed temporary file in
// the same directory (a named one where the file system cannot do that, which
// SIGINT, SIGTERM and SIGHUP remove), synced, then renamed over `path`.  The
// new file keeps the mode, owner and group of the file it replaces; a new
// file gets 0666 less the umask.  On failure `path` is untouched and nothing
// is left behind.
bool save_jpeg_replacing(const char* path, std::string* error);
