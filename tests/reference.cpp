// SPDX-License-Identifier: MIT
#include "reference.h"

#include <IL/il.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <stdexcept>

std::vector<uint8_t> reference_median(const Rgb8Image& image) {
  const int w = image.w, h = image.h;
  std::vector<uint8_t> out(size_t(w) * h * 3);
  std::vector<uint8_t> window;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        window.clear();
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx) {
            const int sx = x + dx, sy = y + dy;
            const bool inside = sx >= 0 && sx < w && sy >= 0 && sy < h;
            window.push_back(inside ? image.pixels[(size_t(sy) * w + sx) * 3 + ch] : 0);
          }
        std::nth_element(window.begin(), window.begin() + 12, window.end());
        out[(size_t(y) * w + x) * 3 + ch] = window[12];
      }
  return out;
}

std::vector<uint8_t> padded_frame(const Rgb8Image& image) {
  const size_t row = size_t(image.w + 4) * 3;
  std::vector<uint8_t> frame(row * (image.h + 4), 0);
  for (int y = 0; y < image.h; ++y)
    std::copy_n(&image.pixels[size_t(y) * image.w * 3], size_t(image.w) * 3,
                &frame[(y + 2) * row + 6]);
  return frame;
}

bool decode_rgb(const std::string& path, Rgb8Image* image) {
  static const bool initialised = (ilInit(), true);
  (void)initialised;
  ILuint name = 0;
  ilGenImages(1, &name);
  ilBindImage(name);
  const bool ok = ilLoadImage(path.c_str()) && ilConvertImage(IL_RGB, IL_UNSIGNED_BYTE);
  if (ok) {
    image->w = ilGetInteger(IL_IMAGE_WIDTH);
    image->h = ilGetInteger(IL_IMAGE_HEIGHT);
    const uint8_t* data = ilGetData();
    image->pixels.assign(data, data + size_t(image->w) * image->h * 3);
  }
  ilDeleteImages(1, &name);
  return ok;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0.0) return INFINITY;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

namespace {

// A libjpeg encoder into memory, set up for w x h pixels of `components`
// bytes in `color_space` with libjpeg's defaults; the caller adjusts and runs it.
struct MemoryEncoder {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;

  MemoryEncoder(int w, int h, int components, J_COLOR_SPACE color_space) {
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = color_space;
    jpeg_set_defaults(&cinfo);
  }
  ~MemoryEncoder() {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
  }
  std::vector<uint8_t> bytes() const { return std::vector<uint8_t>(buffer, buffer + size); }
};

}  // namespace

std::vector<uint8_t> encode_jpeg(int w, int h, int components, int in_color_space,
                                 int jpeg_color_space, const std::vector<uint8_t>& pixels) {
  MemoryEncoder encoder(w, h, components, J_COLOR_SPACE(in_color_space));
  jpeg_compress_struct& cinfo = encoder.cinfo;
  jpeg_set_colorspace(&cinfo, J_COLOR_SPACE(jpeg_color_space));
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t(cinfo.next_scanline) * w * components]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return encoder.bytes();
}

std::vector<uint8_t> uniform_grey_jpeg(uint16_t w, uint16_t h) {
  std::vector<uint8_t> b = {0xFF, 0xD8};  // start of image
  auto segment = [&b](uint8_t marker, std::vector<uint8_t> body) {
    const size_t length = body.size() + 2;
    b.insert(b.end(), {0xFF, marker, uint8_t(length >> 8), uint8_t(length)});
    b.insert(b.end(), body.begin(), body.end());
  };
  // One quantisation table; with every coefficient zero its values do not matter.
  std::vector<uint8_t> dqt = {0x00};
  dqt.resize(65, 1);
  segment(0xDB, dqt);
  // Frame: 8-bit samples, Y sampled 2x2, Cb and Cr 1x1, all on table 0.
  segment(0xC0, {8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), 3,
                 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0});
  // DC table 0 and AC table 0, each a single one-bit code "0": the DC
  // difference category 0 and the end-of-block symbol.
  std::vector<uint8_t> one_code(16, 0);
  one_code[0] = 1;
  std::vector<uint8_t> dht = {0x00};
  dht.insert(dht.end(), one_code.begin(), one_code.end());
  dht.push_back(0x00);
  dht.push_back(0x10);
  dht.insert(dht.end(), one_code.begin(), one_code.end());
  dht.push_back(0x00);
  segment(0xC4, dht);
  segment(0xDA, {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0});
  // Each 16 x 16 pixel unit holds six 8 x 8 blocks (four Y, one Cb, one Cr)
  // of two zero bits each, so the scan is all zero bytes and every DC
  // coefficient 0 (level 128 after the decoder's shift).  The last byte is
  // padded with one bits, as the format asks.
  const size_t mcus = size_t((w + 15) / 16) * size_t((h + 15) / 16);
  const size_t bits = mcus * 6 * 2;
  b.resize(b.size() + bits / 8, 0x00);
  if (bits % 8) b.push_back(uint8_t(0xFF >> (bits % 8)));
  b.insert(b.end(), {0xFF, 0xD9});  // end of image
  return b;
}

std::vector<uint8_t> progressive_jpeg(int w, int h, int components, int scans) {
  MemoryEncoder encoder(w, h, components, components == 1 ? JCS_GRAYSCALE : JCS_RGB);
  jpeg_compress_struct& cinfo = encoder.cinfo;
  for (int c = 0; c < cinfo.num_components; ++c)
    cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  std::vector<jpeg_scan_info> script;
  if (scans == 0) {
    jpeg_simple_progression(&cinfo);
  } else {
    const bool refine_dc = scans == 65;
    jpeg_scan_info dc{components, {0, 1, 2, 3}, 0, 0, 0, refine_dc ? 1 : 0};
    script.push_back(dc);
    if (refine_dc) script.push_back({components, {0, 1, 2, 3}, 0, 0, 1, 0});
    const int bands = (scans - int(script.size())) / components;
    for (int c = 0; c < components; ++c)
      for (int b = 0; b < bands; ++b)
        script.push_back({1, {c}, 1 + 63 * b / bands, 63 * (b + 1) / bands, 0, 0});
    cinfo.scan_info = script.data();
    cinfo.num_scans = int(script.size());
  }
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(size_t(w) * components);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < components; ++c)
        row[size_t(x) * components + c] = JSAMPLE((x * 255 / w + c * 85 + cinfo.next_scanline) & 255);
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  return encoder.bytes();
}

size_t scan_header_offset(const std::vector<uint8_t>& jpeg, int n) {
  const auto& b = jpeg;
  size_t i = 2;
  while (i + 3 < b.size() && b[i + 1] != 0xDA) {
    if (b[i] != 0xFF) throw std::runtime_error("not at a marker");
    i += 2 + (size_t(b[i + 2]) << 8 | b[i + 3]);
  }
  for (int k = 0; k < n; ++k) {
    i += 2;
    while (i + 1 < b.size() && !(b[i] == 0xFF && b[i + 1] == 0xDA)) ++i;
  }
  if (i + 1 >= b.size()) throw std::runtime_error("no such scan");
  return i;
}

void patch_jpeg_size(std::vector<uint8_t>* jpeg, uint16_t w, uint16_t h) {
  auto& b = *jpeg;
  // Walk the marker segments up to the first start-of-frame (SOF0..SOF2).
  for (size_t i = 2; i + 9 < b.size();) {
    if (b[i] != 0xFF) throw std::runtime_error("not at a marker");
    const uint8_t marker = b[i + 1];
    const size_t length = size_t(b[i + 2]) << 8 | b[i + 3];
    if (marker >= 0xC0 && marker <= 0xC2) {
      b[i + 5] = uint8_t(h >> 8), b[i + 6] = uint8_t(h);
      b[i + 7] = uint8_t(w >> 8), b[i + 8] = uint8_t(w);
      return;
    }
    i += 2 + length;
  }
  throw std::runtime_error("no frame header");
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
