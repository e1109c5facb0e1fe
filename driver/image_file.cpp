// SPDX-License-Identifier: MIT
#include "image_file.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <jpeglib.h>
#include <jerror.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t BORDER = 2;
constexpr int64_t CHANNELS = 3;
constexpr size_t READ_CHUNK = size_t(1) << 16;

std::string errno_text(int code) { return std::strerror(code); }

// DevIL keeps a stack of error codes and hands out the newest first.  Codes
// left by an earlier call would be taken for the cause of a later failure
// that sets none, so the stack is emptied before every call whose failure is
// reported, and again once its cause has been read.
void il_clear_errors() {
  while (ilGetError() != IL_NO_ERROR) {
  }
}

std::string il_error_text() {
  const ILenum code = ilGetError();
  il_clear_errors();
  if (code == IL_NO_ERROR) return "the image library gave no reason";
  return iluErrorString(code);
}

// libjpeg reports fatal errors through error_exit, which must not return.
// Warnings that mean damaged pixels, and the scan limit, end the decoding
// through the same jump.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool in_data = false;  // the header is read: what follows is pixel data
  char message[JMSG_LENGTH_MAX + 64];
};

[[noreturn]] void jpeg_fail(j_common_ptr cinfo, const char* prefix, const char* cause) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::snprintf(err->message, sizeof err->message, "%s%s", prefix, cause);
  std::longjmp(err->jump, 1);
}

void jpeg_error_exit(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  cinfo->err->format_message(cinfo, text);
  jpeg_fail(cinfo, "not a readable JPEG: ", text);
}

void jpeg_ignore_message(j_common_ptr) {}

// libjpeg warns and carries on where data is missing or damaged, filling in
// grey or garbage, and so would the image library.  Missing data ends the
// decoding anywhere.  Once the header is read, every warning is about the
// entropy-coded data, the scan parameters or the bytes between scans, all of
// which decide pixels, except two about the contents of APP markers.
void jpeg_refuse_damage(j_common_ptr cinfo, int msg_level) {
  if (msg_level >= 0) return;  // trace messages
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  const int code = err->pub.msg_code;
  const bool lost = code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC;
  const bool about_app_marker = code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR;
  if (lost || (err->in_data && !about_app_marker)) {
    char text[JMSG_LENGTH_MAX];
    err->pub.format_message(cinfo, text);
    jpeg_fail(cinfo, "damaged image data: ", text);
  }
}

// Called by libjpeg between steps of its input; a scan beyond the limit is
// refused as soon as its header is read.
void jpeg_limit_scans(j_common_ptr cinfo) {
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MAX_SCANS) {
    char text[64];
    std::snprintf(text, sizeof text, "more than %d scans", MAX_SCANS);
    jpeg_fail(cinfo, "", text);
  }
}

int64_t round_up(int64_t n, int64_t multiple) { return (n + multiple - 1) / multiple * multiple; }

// What libjpeg's coefficient controller allocates for the whole image when
// the file is decoded in several scans.
int64_t coefficient_bytes(j_decompress_ptr cinfo) {
  if (!jpeg_has_multiple_scans(cinfo)) return 0;
  int64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& comp = cinfo->comp_info[c];
    blocks += round_up(comp.width_in_blocks, comp.h_samp_factor) *
              round_up(comp.height_in_blocks, comp.v_samp_factor);
  }
  return blocks * DCTSIZE2 * int64_t(sizeof(JCOEF));
}

// Refuses what the frames, the decoder's memory or the library cannot take,
// from the header alone.
bool header_acceptable(const JpegHeader& header, std::string* error) {
  if (!frames_fit(header.width, header.height)) {
    *error = "image of " + std::to_string(header.width) + "x" + std::to_string(header.height) +
             " pixels is too large (the padded frame may hold at most " +
             std::to_string(MAX_FRAME_BYTES) + " bytes)";
    return false;
  }
  if (header.coefficient_bytes > MAX_FRAME_BYTES) {
    *error = "image of " + std::to_string(header.width) + "x" + std::to_string(header.height) +
             " pixels in several scans needs " + std::to_string(header.coefficient_bytes) +
             " bytes of coefficients to decode (at most " + std::to_string(MAX_FRAME_BYTES) +
             " are allowed)";
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
// may promise far more pixels than the file holds, and damaged data decodes
// to garbage with no more than a warning.  Kept apart from its callers so
// that no object with a destructor lives across the longjmp: the only such
// objects, the check's strings, are gone before libjpeg runs again.
bool parse_jpeg(const uint8_t* data, size_t size, bool scan, JpegHeader* header,
                std::string* error) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jpeg_error_exit;
  err.pub.output_message = jpeg_ignore_message;
  err.pub.emit_message = jpeg_refuse_damage;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = jpeg_limit_scans;
  if (setjmp(err.jump)) {
    *error = err.message;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  header->width = int32_t(cinfo.image_width);
  header->height = int32_t(cinfo.image_height);
  header->components = cinfo.num_components;
  header->ink = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  header->coefficient_bytes = coefficient_bytes(&cinfo);
  if (scan) {
    if (!header_acceptable(*header, error)) {
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
    err.in_data = true;
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

std::string too_large_text() {
  return "file is larger than " + std::to_string(MAX_INPUT_BYTES) + " bytes";
}

// While the temporary output has a name, SIGINT, SIGTERM and SIGHUP remove it
// before they end the program as they would have.  The flag is set before
// the name exists and cleared only once it is gone, so a signal in between
// finds the file; the handler may run on any thread, hence the atomic.
char g_temp_path[PATH_MAX];
std::atomic<bool> g_temp_named{false};
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void remove_temp_and_end(int sig) {
  if (g_temp_named.load()) unlink(g_temp_path);
  // The action is back to the default (SA_RESETHAND): the signal, pending
  // until the handler returns, then ends the program.
  raise(sig);
}

// Installs the handler for the duration of a save, leaving a signal the
// caller ignores (as nohup does) ignored.
class CleanupOnSignals {
 public:
  CleanupOnSignals() {
    struct sigaction action {};
    action.sa_handler = remove_temp_and_end;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : CLEANUP_SIGNALS) sigaddset(&action.sa_mask, sig);
    for (size_t i = 0; i < COUNT; ++i) {
      installed_[i] = sigaction(CLEANUP_SIGNALS[i], nullptr, &old_[i]) == 0 &&
                      old_[i].sa_handler != SIG_IGN &&
                      sigaction(CLEANUP_SIGNALS[i], &action, nullptr) == 0;
    }
  }
  ~CleanupOnSignals() {
    for (size_t i = 0; i < COUNT; ++i)
      if (installed_[i]) sigaction(CLEANUP_SIGNALS[i], &old_[i], nullptr);
  }
  CleanupOnSignals(const CleanupOnSignals&) = delete;
  CleanupOnSignals& operator=(const CleanupOnSignals&) = delete;

  // `create` makes a file called `path` or fails with errno set; the handler
  // knows the name from just before it exists.
  template <class Create>
  bool name(const std::string& path, Create create) {
    if (path.size() >= sizeof g_temp_path) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(g_temp_path, path.c_str(), path.size() + 1);
    g_temp_named.store(true);
    if (create()) return true;
    const int saved = errno;
    g_temp_named.store(false);
    errno = saved;
    return false;
  }
  // The name is gone (renamed or removed).
  void forget() { g_temp_named.store(false); }

 private:
  static constexpr size_t COUNT = sizeof CLEANUP_SIGNALS / sizeof CLEANUP_SIGNALS[0];
  struct sigaction old_[COUNT];
  bool installed_[COUNT] = {};
};

// Gives a file a fresh name "<prefix>XXXXXX" by `create`, retrying names
// that are taken.  Returns the name, or "" with errno set.
template <class Create>
std::string fresh_name(const std::string& prefix, CleanupOnSignals* cleanup, Create create) {
  static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr int ATTEMPTS = 100;
  constexpr int SUFFIX = 6;
  std::random_device random;
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    uint64_t bits = uint64_t(random()) << 32 | random();
    std::string path = prefix;
    for (int i = 0; i < SUFFIX; ++i, bits /= sizeof LETTERS - 1) path += LETTERS[bits % (sizeof LETTERS - 1)];
    if (cleanup->name(path, [&] { return create(path); })) return path;
    if (errno != EEXIST) return "";
  }
  errno = EEXIST;
  return "";
}

}  // namespace

bool frames_fit(int64_t w, int64_t h) {
  return w >= 1 && h >= 1 && (w + 2 * BORDER) * (h + 2 * BORDER) * CHANNELS <= MAX_FRAME_BYTES;
}

bool read_input_file(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno_text(errno);
    return false;
  }
  auto fail = [&](const std::string& cause) {
    close(fd);
    bytes->clear();
    *error = cause;
    return false;
  };
  struct stat st;
  if (fstat(fd, &st) != 0) return fail(errno_text(errno));
  if (S_ISDIR(st.st_mode)) return fail(errno_text(EISDIR));
  if (S_ISREG(st.st_mode) && st.st_size > MAX_INPUT_BYTES) return fail(too_large_text());
  bytes->clear();
  if (S_ISREG(st.st_mode)) bytes->reserve(size_t(st.st_size) + READ_CHUNK);
  for (;;) {
    const size_t used = bytes->size();
    bytes->resize(used + READ_CHUNK);
    const ssize_t n = read(fd, bytes->data() + used, READ_CHUNK);
    bytes->resize(used + size_t(n > 0 ? n : 0));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno_text(errno));
    if (n == 0) break;
    if (int64_t(bytes->size()) > MAX_INPUT_BYTES) return fail(too_large_text());
    // A JPEG starts with FF D8; libjpeg refuses anything else from its
    // first two bytes, so an endless device need not be read any further.
    if (used < 2 && bytes->size() >= 2 && ((*bytes)[0] != 0xFF || (*bytes)[1] != 0xD8)) break;
  }
  close(fd);
  return true;
}

bool read_jpeg_header(const char* path, JpegHeader* header, std::string* error) {
  std::vector<uint8_t> bytes;
  return read_input_file(path, &bytes, error) &&
         parse_jpeg(bytes.data(), bytes.size(), false, header, error);
}

bool load_rgb_image(const std::vector<uint8_t>& bytes, int32_t* w, int32_t* h, std::string* error) {
  JpegHeader header;
  if (!parse_jpeg(bytes.data(), bytes.size(), true, &header, error)) return false;
  // The size fits: MAX_INPUT_BYTES is below 2^32.
  il_clear_errors();
  if (!ilLoadL(IL_JPG, bytes.data(), ILuint(bytes.size()))) {
    *error = "cannot decode: " + il_error_text();
    return false;
  }
  const bool rgb8 = ilGetInteger(IL_IMAGE_FORMAT) == IL_RGB &&
                    ilGetInteger(IL_IMAGE_TYPE) == IL_UNSIGNED_BYTE;
  il_clear_errors();
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
  const std::string prefix = (slash == std::string::npos ? "" : dir) + "." + base + ".";
  constexpr mode_t NEW_FILE_MODE = 0666;  // less the umask, applied by open()

  struct stat old;
  const bool replacing = stat(path, &old) == 0 && S_ISREG(old.st_mode);
  CleanupOnSignals cleanup;

  // An unnamed file (O_TMPFILE) leaves nothing behind whatever ends the
  // program; it is named through /proc once complete.  Where the file system
  // cannot make one, a named file is created instead.
  std::string temp;  // the temporary file's name, once it has one
  int fd = -1;
  if (access("/proc/self/fd", X_OK) == 0) {
    fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, NEW_FILE_MODE);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      *error = "cannot create a temporary file: " + errno_text(errno);
      return false;
    }
  }
  if (fd < 0) {
    temp = fresh_name(prefix, &cleanup, [&fd](const std::string& name) {
      fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NEW_FILE_MODE);
      return fd >= 0;
    });
    if (temp.empty()) {
      *error = "cannot create a temporary file: " + errno_text(errno);
      return false;
    }
  }
  auto discard = [&](const std::string& cause) {
    if (!temp.empty()) unlink(temp.c_str());
    cleanup.forget();
    *error = cause;
    return false;
  };

  // The replacement keeps the old file's owner and group where we may set
  // them (only root may give a file away; a group we belong to is allowed),
  // then its mode, which a change of owner may have stripped of set-id bits.
  if (replacing) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, uid_t(-1), old.st_gid) != 0) {
      // Not allowed: the file stays ours, with the old file's mode.
    }
    if (fchmod(fd, old.st_mode & 07777) != 0) {
      const int code = errno;
      close(fd);
      return discard("cannot keep the file's mode: " + errno_text(code));
    }
  }

  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    const int code = errno;
    close(fd);
    return discard("cannot open the temporary file: " + errno_text(code));
  }
  // DevIL's writer ignores failed writes and reports some as a read error,
  // so the stream's own error state, with the errno of the write that
  // failed, and the flush, sync and close results decide whether every byte
  // arrived and what stopped it.
  il_clear_errors();
  errno = 0;
  const bool encoded = ilSaveF(IL_JPG, file) != 0;
  int failure = std::ferror(file) ? (errno ? errno : EIO) : 0;
  const std::string encode_error = encoded ? "" : il_error_text();
  if (!failure && (std::fflush(file) != 0 || std::ferror(file))) failure = errno ? errno : EIO;
  if (!failure && fsync(fd) != 0) failure = errno;
  if (!failure && encoded && temp.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    temp = fresh_name(prefix, &cleanup, [&self](const std::string& name) {
      return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (temp.empty()) {
      const int code = errno;
      std::fclose(file);
      return discard("cannot name the temporary file: " + errno_text(code));
    }
  }
  if (std::fclose(file) != 0 && !failure) failure = errno;
  if (failure) return discard("cannot write: " + errno_text(failure));
  if (!encoded) return discard("cannot encode: " + encode_error);
  if (std::rename(temp.c_str(), path) != 0) return discard("cannot replace the file: " + errno_text(errno));
  cleanup.forget();
  // Make the rename itself durable; the new file is in place either way.
  const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return true;
}
