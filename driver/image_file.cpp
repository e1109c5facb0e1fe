// SPDX-License-Identifier: MIT
#include "image_file.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <jpeglib.h>
#include <jerror.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t BORDER = 2;
constexpr int64_t CHANNELS = 3;

std::string il_error_text() {
  const ILenum code = ilGetError();
  if (code == IL_NO_ERROR) return "the image library gave no reason";
  return iluErrorString(code);
}

// libjpeg reports fatal errors through error_exit, which must not return.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void jpeg_error_exit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  err->pub.format_message(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

std::string errno_text(int code) { return std::strerror(code); }

void jpeg_ignore_message(j_common_ptr) {}

// Warnings that mean pixels are missing: libjpeg fills them with grey and
// carries on, and so would the image library, so they end the scan here.
void jpeg_fail_on_lost_data(j_common_ptr cinfo, int msg_level) {
  const int code = cinfo->err->msg_code;
  if (msg_level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC))
    cinfo->err->error_exit(cinfo);
}

// Refuses what the frames or the library cannot take, from the header alone.
bool header_acceptable(const JpegHeader& header, std::string* error) {
  if (!frames_fit(header.width, header.height)) {
    *error = "image of " + std::to_string(header.width) + "x" + std::to_string(header.height) +
             " pixels is too large (the padded frame may hold at most " +
             std::to_string(MAX_FRAME_BYTES) + " bytes)";
    return false;
  }
  if (header.ink) {
    *error = "CMYK/YCCK JPEGs are not supported; convert the image to RGB first";
    return false;
  }
  // Two components, or five and more, carry no colour model libjpeg can turn
  // into RGB; the image library would load them in a layout of its own and
  // then fail to convert, so they are refused before it decodes anything.
  if (header.components != 1 && header.components != 3) {
    *error = "JPEGs with " + std::to_string(header.components) +
             " components are not supported; only greyscale and colour are";
    return false;
  }
  return true;
}

// Reads the header; with `scan`, checks it and then entropy-decodes all the
// data (at 1/8 scale, so the pixels themselves cost little), because a header
// may promise far more pixels than the file holds and the library would
// decode the missing ones as grey and report success.  Kept apart from its
// callers so that no object with a destructor lives across the longjmp: the
// only such objects, the check's strings, are gone before libjpeg runs again.
bool parse_jpeg(std::FILE* file, bool scan, JpegHeader* header, std::string* error) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jpeg_error_exit;
  err.pub.output_message = jpeg_ignore_message;
  err.pub.emit_message = jpeg_fail_on_lost_data;
  if (setjmp(err.jump)) {
    *error = std::string("not a readable JPEG: ") + err.message;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  header->width = int32_t(cinfo.image_width);
  header->height = int32_t(cinfo.image_height);
  header->components = cinfo.num_components;
  header->ink = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  if (scan) {
    if (!header_acceptable(*header, error)) {
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    jpeg_start_decompress(&cinfo);
    JSAMPARRAY row = cinfo.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                             cinfo.output_width * cinfo.output_components, 1);
    while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, row, 1);
    jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

bool parse_jpeg_file(const char* path, bool scan, JpegHeader* header, std::string* error) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    *error = errno_text(errno);
    return false;
  }
  struct stat st;
  if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file);
    *error = errno_text(EISDIR);
    return false;
  }
  const bool ok = parse_jpeg(file, scan, header, error);
  std::fclose(file);
  return ok;
}

}  // namespace

bool frames_fit(int64_t w, int64_t h) {
  return w >= 1 && h >= 1 && (w + 2 * BORDER) * (h + 2 * BORDER) * CHANNELS <= MAX_FRAME_BYTES;
}

bool read_jpeg_header(const char* path, JpegHeader* header, std::string* error) {
  return parse_jpeg_file(path, false, header, error);
}

bool load_rgb_image(const char* path, int32_t* w, int32_t* h, std::string* error) {
  JpegHeader header;
  if (!parse_jpeg_file(path, true, &header, error)) return false;
  if (!ilLoadImage(path)) {
    *error = "cannot decode: " + il_error_text();
    return false;
  }
  const bool rgb8 = ilGetInteger(IL_IMAGE_FORMAT) == IL_RGB &&
                    ilGetInteger(IL_IMAGE_TYPE) == IL_UNSIGNED_BYTE;
  if (!rgb8 && !ilConvertImage(IL_RGB, IL_UNSIGNED_BYTE)) {
    *error = "cannot convert to 8-bit RGB: " + il_error_text();
    return false;
  }
  // The filter addresses the pixel buffer as w x h x 3 bytes; make sure that
  // is what the library holds before anything reads it.
  const int64_t width = ilGetInteger(IL_IMAGE_WIDTH);
  const int64_t height = ilGetInteger(IL_IMAGE_HEIGHT);
  if (width != header.width || height != header.height || ilGetInteger(IL_IMAGE_BPP) != 3 ||
      ilGetInteger(IL_IMAGE_DEPTH) != 1 ||
      ilGetInteger(IL_IMAGE_SIZE_OF_DATA) < width * height * CHANNELS || !ilGetData()) {
    *error = "decoded image does not have the size or layout its header promises";
    return false;
  }
  *w = int32_t(width);
  *h = int32_t(height);
  return true;
}

bool save_jpeg_replacing(const char* path, std::string* error) {
  // The temporary file sits beside `path` so that rename() replaces the old
  // file in one step; its leading dot keeps it out of a plain listing.
  const std::string target(path);
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";

  const int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    *error = "cannot create a temporary file: " + errno_text(errno);
    return false;
  }
  // mkstemp makes the file private; give it the mode a new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);

  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    *error = "cannot open the temporary file: " + errno_text(errno);
    close(fd);
    unlink(temp.c_str());
    return false;
  }
  // DevIL's writer ignores failed writes, so the stream's own error state and
  // the flush, sync and close results decide whether every byte arrived.
  errno = 0;
  const bool encoded = ilSaveF(IL_JPG, file) != 0;
  const std::string encode_error = encoded ? "" : il_error_text();
  int failure = 0;
  if (std::fflush(file) != 0 || std::ferror(file)) failure = errno ? errno : EIO;
  if (!failure && fsync(fileno(file)) != 0) failure = errno;
  if (std::fclose(file) != 0 && !failure) failure = errno;
  if (!encoded || failure) {
    unlink(temp.c_str());
    *error = encoded ? "cannot write: " + errno_text(failure) : "cannot encode: " + encode_error;
    return false;
  }
  if (std::rename(temp.c_str(), path) != 0) {
    *error = "cannot replace the file: " + errno_text(errno);
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; the new file is in place either way.
  const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return true;
}
