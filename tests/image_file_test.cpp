// SPDX-License-Identifier: MIT
//
// The checks that stand between an untrusted file and the frame arithmetic.

#include <IL/il.h>
#include <IL/ilu.h>
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>

#include "image_file.h"
#include "reference.h"

namespace {

// A fresh DevIL image, bound for the test's length; the library is set up
// once per process.
class BoundImage {
 public:
  BoundImage() {
    static const bool initialised = (ilInit(), iluInit(), true);
    (void)initialised;
    ilGenImages(1, &name_);
    ilBindImage(name_);
  }
  ~BoundImage() { ilDeleteImages(1, &name_); }

 private:
  ILuint name_ = 0;
};

TEST(FramesFit, LimitIsThePaddedFrameIn31Bits) {
  EXPECT_TRUE(frames_fit(1, 1));
  EXPECT_TRUE(frames_fit(5312, 2988));
  // (w + 4) * (h + 4) * 3 <= 2^31 - 1: 26754 * 26755 * 3 = 2147409810 fits,
  // 26754 * 26756 * 3 = 2147490072 does not.
  EXPECT_TRUE(frames_fit(26750, 26751));
  EXPECT_FALSE(frames_fit(26750, 26752));
  EXPECT_FALSE(frames_fit(64250, 64250));
  EXPECT_FALSE(frames_fit(65535, 65535));
  EXPECT_FALSE(frames_fit(0, 10));
  EXPECT_FALSE(frames_fit(10, 0));
}

TEST(ReadJpegHeader, ReportsSizeAndInkWithoutDecoding) {
  const std::string dir = TEST_DATA_DIR;
  JpegHeader header;
  std::string error;
  ASSERT_TRUE(read_jpeg_header((dir + "/01-photo-280x360-gopher-plush-baseline444.jpg").c_str(),
                               &header, &error));
  EXPECT_EQ(header.width, 280);
  EXPECT_EQ(header.height, 360);
  EXPECT_FALSE(header.ink);
  ASSERT_TRUE(read_jpeg_header((dir + "/09-cmyk-adobe-150x103-video-frame.jpg").c_str(), &header,
                               &error));
  EXPECT_TRUE(header.ink);
  EXPECT_FALSE(read_jpeg_header((dir + "/18-png-rgba-500x500-tulips-alpha.png").c_str(), &header,
                                &error));
  EXPECT_NE(error.find("Not a JPEG file"), std::string::npos) << error;
}

TEST(ReadJpegHeader, TrustsNothingButTheHeaderForTheSize) {
  // A few hundred bytes that claim 64250 x 64250 pixels: the header alone
  // says so, and nothing is allocated for it.
  std::vector<uint8_t> jpeg = encode_jpeg(8, 8, 3, JCS_RGB, JCS_YCbCr, std::vector<uint8_t>(192, 50));
  patch_jpeg_size(&jpeg, 64250, 64250);
  const std::string path = ::testing::TempDir() + "claims_huge.jpg";
  write_file(path, jpeg);
  JpegHeader header;
  std::string error;
  ASSERT_TRUE(read_jpeg_header(path.c_str(), &header, &error)) << error;
  EXPECT_EQ(header.width, 64250);
  EXPECT_EQ(header.height, 64250);
}

// Decodes all of a JPEG's data at 1/8 scale with plain libjpeg; true when
// every row arrives without a warning about missing or corrupt data.
bool decodes_cleanly(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  jpeg_start_decompress(&cinfo);
  std::vector<JSAMPLE> row(size_t(cinfo.output_width) * cinfo.output_components);
  JSAMPROW rows[] = {row.data()};
  while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, rows, 1);
  jpeg_finish_decompress(&cinfo);
  const bool clean = err.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return clean;
}

// A real image, not a lying header: every byte of its data is there.
TEST(LoadRgbImage, RefusesAValidImageJustOverTheFrameLimitBeforeDecoding) {
  const BoundImage image;
  int32_t w = 0, h = 0;
  std::string error;

  // The same construction at a small size decodes to what it claims.
  ASSERT_TRUE(load_rgb_image(uniform_grey_jpeg(40, 24), &w, &h, &error)) << error;
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 24);
  const uint8_t* data = ilGetData();
  EXPECT_TRUE(std::all_of(data, data + 40 * 24 * 3, [](uint8_t b) { return b == 128; }));

  // 26750 x 26752: its padded frame is 2^31 + 6424 bytes, one row too many.
  const std::vector<uint8_t> over = uniform_grey_jpeg(26750, 26752);
  ASSERT_TRUE(decodes_cleanly(over));
  const BoundImage fresh;
  EXPECT_FALSE(load_rgb_image(over, &w, &h, &error));
  EXPECT_NE(error.find("26750x26752 pixels is too large"), std::string::npos) << error;
  // The library never saw the file: its image is still the empty default.
  EXPECT_LE(ilGetInteger(IL_IMAGE_WIDTH), 1);
}

// Every scan counts towards the limit; warnings about the headers, which
// decide no pixel, do not refuse a file.
TEST(LoadRgbImage, TakesUpToTheScanLimitAndHeaderWarnings) {
  const BoundImage image;
  int32_t w = 0, h = 0;
  std::string error;
  EXPECT_TRUE(load_rgb_image(progressive_jpeg(16, 16, 1, MAX_SCANS), &w, &h, &error)) << error;
  EXPECT_FALSE(load_rgb_image(progressive_jpeg(16, 16, 1, MAX_SCANS + 1), &w, &h, &error));
  EXPECT_EQ(error, "more than 64 scans");

  // Three stray bytes before the frame header: libjpeg warns of
  // extraneous data while reading the header.
  std::vector<uint8_t> stray = uniform_grey_jpeg(40, 24);
  const size_t frame_header = 2 + 2 + 2 + 65;  // after SOI and the DQT segment
  stray.insert(stray.begin() + frame_header, {0x55, 0x55, 0x55});
  EXPECT_TRUE(load_rgb_image(stray, &w, &h, &error)) << error;
}

// DevIL keeps a stack of error codes: a failure names its own cause, and
// leaves no code behind for a later failure to be blamed on.
TEST(SaveJpegReplacing, NamesTheLibrarysCauseAndLeavesNoErrorBehind) {
  const BoundImage image;
  // The JPEG writer refuses palette images.
  ASSERT_TRUE(ilTexImage(2, 2, 1, 1, IL_COLOUR_INDEX, IL_UNSIGNED_BYTE, nullptr));
  ilGetInteger(0x7777);  // an earlier, unrelated error: invalid enumerant
  ilGetInteger(0x7778);
  const std::string path = ::testing::TempDir() + "palette.jpg";
  std::string error;
  EXPECT_FALSE(save_jpeg_replacing(path.c_str(), &error));
  EXPECT_EQ(error, "cannot encode: illegal operation");
  EXPECT_EQ(ilGetError(), ILenum(IL_NO_ERROR));
  EXPECT_EQ(read_file(path).size(), 0u);
}

}  // namespace
