// SPDX-License-Identifier: MIT
//
// The checks that stand between an untrusted file and the frame arithmetic.

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "image_file.h"
#include "reference.h"

namespace {

TEST(FramesFit, LimitIsThePaddedFrameIn31Bits) {
  EXPECT_TRUE(frames_fit(1, 1));
  EXPECT_TRUE(frames_fit(5312, 2988));
  // (w + 4) * (h + 4) * 3 <= 2^31 - 1: 26754 * 26755 * 3 = 2147409810 fits,
  // 26754 * 26756 * 3 = 2147570472 does not.
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

}  // namespace
