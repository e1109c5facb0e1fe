// SPDX-License-Identifier: MIT
//
// Test helpers: an independent scalar median filter, image files in and out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb8Image {
  int32_t w = 0;
  int32_t h = 0;
  std::vector<uint8_t> pixels;  // w * h * 3 bytes, rows top to bottom
};

// 5x5 median of every byte with zeros outside the image, by gathering each
// window and calling std::nth_element.
std::vector<uint8_t> reference_median(const Rgb8Image& image);

// The zero-bordered frame the engine reads: (w + 4) x (h + 4) pixels.
std::vector<uint8_t> padded_frame(const Rgb8Image& image);

// Decodes `path` with DevIL to 8-bit RGB; false if it cannot.
bool decode_rgb(const std::string& path, Rgb8Image* image);

// Peak signal-to-noise ratio of two equally sized byte arrays, in dB.
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Encodes pixels (`components` bytes each) as a JPEG with libjpeg, storing
// them as `jpeg_color_space` (a J_COLOR_SPACE value).
std::vector<uint8_t> encode_jpeg(int w, int h, int components, int in_color_space,
                                 int jpeg_color_space, const std::vector<uint8_t>& pixels);

// A valid baseline JPEG of w x h mid-grey pixels (4:2:0 colour), built byte
// by byte: its Huffman tables give "no change" and "end of block" one-bit
// codes, so each 16 x 16 block of pixels costs 12 bits and an image of
// 700 megapixels takes about 4 MB and no time to make.
std::vector<uint8_t> uniform_grey_jpeg(uint16_t w, uint16_t h);

// A progressive JPEG of w x h pixels of a colour ramp (greyscale for one
// component), every component sampled in full.  With `scans` 0, libjpeg's
// standard progression; otherwise exactly `scans` scans (2 to 65 for one
// component): the DC coefficients of all components in one scan, or two for
// 65 (successive approximation), then the 63 AC coefficients of each
// component spread over the rest.
std::vector<uint8_t> progressive_jpeg(int w, int h, int components, int scans);

// Offset of the marker of the n-th scan header (SOS, from 0) of a JPEG: the
// marker segments are walked up to the first, the entropy-coded data, where
// FF DA cannot occur otherwise, searched for the others.
size_t scan_header_offset(const std::vector<uint8_t>& jpeg, int n);

// Rewrites the width and height in the frame header of a JPEG.
void patch_jpeg_size(std::vector<uint8_t>* jpeg, uint16_t w, uint16_t h);

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
