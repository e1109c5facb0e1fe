// SPDX-License-Identifier: MIT
//
// libFuzzer target for the road an untrusted file takes through the
// benchmark: header checks, decoding through DevIL, conversion to 8-bit RGB,
// the padded frame, one filter pass and the save.  Each input becomes
// input.jpg in a private temporary directory and goes through run_benchmark,
// the same call main makes, with one pass instead of 200.
//
// Besides the sanitizers, every run checks what a user relies on: a failure
// is one line naming one of the two files and leaves the earlier output.jpg
// byte for byte; a success leaves a JPEG of the input's size; neither leaves
// a temporary file behind.  A broken promise aborts, which libFuzzer reports
// as a crash with the input that caused it.

#include <IL/il.h>
#include <IL/ilu.h>
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "benchmark.h"
#include "image_file.h"

namespace {

// Images that fit the frame limit but exceed this many pixels are skipped:
// they are legal, and decoding them would only spend the fuzzer's memory and
// time.  The frame limit itself is exercised, since larger claims still run.
constexpr int64_t MAX_FUZZ_PIXELS = 1 << 20;

const std::vector<uint8_t> OLD_OUTPUT = {'e', 'a', 'r', 'l', 'i', 'e', 'r', '\n'};

std::string g_dir;
std::string g_input;
std::string g_output;

void die(const char* what, const std::string& detail) {
  std::fprintf(stderr, "input_path_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

void write_bytes(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) die("cannot create", path);
  const bool ok = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !ok) die("cannot write", path);
}

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
  }
  return bytes;
}

std::set<std::string> listing() {
  std::set<std::string> names;
  if (DIR* d = opendir(g_dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

void remove_dir() {
  for (const std::string& name : listing()) std::remove((g_dir + "/" + name).c_str());
  std::remove(g_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The image library keeps global state: set it up once for all inputs.
  ilInit();
  iluInit();
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/input_path_fuzz_XXXXXX";
  if (!mkdtemp(&dir[0])) die("cannot create a temporary directory", dir);
  g_dir = dir;
  g_input = g_dir + "/input.jpg";
  g_output = g_dir + "/output.jpg";
  std::atexit(remove_dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  write_bytes(g_input, data, size);
  write_bytes(g_output, OLD_OUTPUT.data(), OLD_OUTPUT.size());

  JpegHeader header;
  std::string error;
  const bool has_header = read_jpeg_header(g_input.c_str(), &header, &error);
  if (has_header && frames_fit(header.width, header.height) &&
      int64_t(header.width) * header.height > MAX_FUZZ_PIXELS)
    return -1;  // keep it out of the corpus

  error.clear();
  const bool ok = run_benchmark(g_input.c_str(), g_output.c_str(), 1, nullptr, nullptr, &error);
  if (listing() != std::set<std::string>{"input.jpg", "output.jpg"}) die("files left behind", g_dir);
  if (ok) {
    JpegHeader saved;
    std::string saved_error;
    if (!has_header) die("success on a file without a JPEG header", error);
    if (!read_jpeg_header(g_output.c_str(), &saved, &saved_error)) die("unreadable output", saved_error);
    if (saved.width != header.width || saved.height != header.height) die("output size differs", "");
  } else {
    if (error.empty() || error.find('\n') != std::string::npos) die("not a one-line message", error);
    if (error.rfind(g_input + ": ", 0) != 0 && error.rfind(g_output + ": ", 0) != 0)
      die("message names no file", error);
    if (read_bytes(g_output) != OLD_OUTPUT) die("earlier output changed on failure", error);
  }
  return 0;
}
