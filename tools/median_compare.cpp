// SPDX-License-Identifier: MIT
//
// median_compare: the median library against itself and against OpenCV's
// cv::medianBlur on the user's own image, for one window (5x5 unless told)
// at one depth (8-bit, 16-bit or float; the photo's bytes as they are, times
// 257, or divided by 255), on one thread and on every core:
//
//   kernels  every kernel of that depth that serves the window and that this
//            processor runs (kernels of every window included), through the
//            caller's entry point on the unpadded 3-channel image with the
//            replicate border; for min/max networks, against the calibrated
//            min/max bound at their vector width; and the speed-up over the
//            reference kernel below;
//   calls    median_filter_<depth> as a caller makes it (the automatic
//            choice), for 3 channels with every border and for 1 and 4 with
//            the replicate border, against OpenCV on the same image where
//            OpenCV has that median (its default call, and in row strips over
//            every core);
//   border   (5x5, 8-bit) the call with the replicate border against
//            median_filter_pass_fastest on a frame padded beforehand: what
//            building the border inside the sweep costs.
//
// All of them are timed in turn, round after round, in a rotated order, so a
// change in the machine's load or clock hits them alike; every figure is the
// median over the rounds, and every ratio is taken within a round before its
// median is.  The bound of a kernel is the rate at which one core retires
// independent min/max of its lane type at its vector width, calibrated
// before and after every round (the higher counts).
//
// Every kernel and call must give the same elements as the reference kernel
// with the same border: the 128-bit network for 5x5 windows, the sliding
// histogram in plain C++ (exact for every window) for the others.  The
// reference itself must give, at a few hundred sampled pixels that include
// every corner and the pixels around each edge where the border comes into
// the window, what sorting the window's elements gives.  With the replicate
// border OpenCV must agree on every element, edges included; and at 5x5 and
// 8 bits the zero border must give what the benchmark's median_filter_pass
// gives.  Any difference makes the exit status 1.

#include <IL/il.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <type_traits>
#include <string>
#include <utility>
#include <vector>

#ifdef MEDIAN_WITH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "image_file.h"
#include "median/median_filter.h"
#include "minmax_peak.h"

namespace {

using median::Lane;

constexpr int RADIUS = 2;  // of the 5x5 window of the benchmark's padded frame
constexpr int DEFAULT_WINDOW = 5;
constexpr double GROUP_BYTES = 16;  // min/max counts are per 16 output bytes
constexpr int DEFAULT_ROUNDS = 7;
// Time of one contender's turn in a round: long enough that a turn is many
// calls on small images, short enough that a whole run takes a minute.
constexpr double MIN_TURN_SECONDS = 0.15;
// Pixels besides the edges' at which the reference is checked against a
// direct selection of the window.
constexpr int SCATTERED_PIXELS = 64;
const int WIDTHS[] = {128, 256, 512};
constexpr int KERNEL_CHANNELS = 3;
const int CALL_CHANNELS[] = {1, 3, 4};
const median_border BORDERS[] = {MEDIAN_BORDER_ZERO, MEDIAN_BORDER_REPLICATE,
                                 MEDIAN_BORDER_REFLECT_101, MEDIAN_BORDER_REFLECT};
const char* const BORDER_NAMES[] = {"zero", "replicate", "reflect_101", "reflect"};

const char* const USAGE =
    "Usage: median_compare [--depth u8|u16|f32] [--window K|KxL] [--rounds N] [--json] [IMAGE]\n"
    "\n"
    "Runs every median kernel of one depth that serves the window and that this\n"
    "processor supports on IMAGE (a JPEG; input.jpg by default), on one thread\n"
    "and on every core, through the caller's entry point; then\n"
    "median_filter_<depth> for 1, 3 and 4 channels and every border, and\n"
    "OpenCV's cv::medianBlur on the same images where this program was built\n"
    "with OpenCV and OpenCV has that median (8-bit: any odd square window from\n"
    "3x3; 16-bit and float: 3x3 and 5x5).  16-bit and float images are the\n"
    "photo's bytes times 257 and divided by 255.  Checks that all agree (OpenCV\n"
    "with the replicate border, on every element) and prints Mpixel/s, the\n"
    "share of the calibrated min/max bound, speed-ups and ratios.\n"
    "\n"
    "  --depth D     u8 (default), u16 or f32\n"
    "  --window W    K for a K x K window, or KxL for K columns by L rows (the\n"
    "                window_width x window_height of median_filter_u8), each odd\n"
    "                from 1 to 255; 5 by default\n"
    "  --rounds N    alternating rounds to take the medians over (default 7)\n"
    "  --json        print JSON instead of Markdown tables\n"
    "  --help        print this and exit\n"
    "\n"
    "Exit status: 0 when everything agrees, 1 when the image cannot be loaded\n"
    "or a result differs, 2 on a usage error.\n";

using Clock = std::chrono::steady_clock;

struct Options {
  std::string path = "input.jpg";
  int rounds = DEFAULT_ROUNDS;
  bool json = false;
  Lane depth = Lane::u8;
  int window_width = DEFAULT_WINDOW;   // columns
  int window_height = DEFAULT_WINDOW;  // rows
};

const char* depth_name(Lane lane) { return lane == Lane::u8 ? "u8" : lane == Lane::u16 ? "u16" : "f32"; }

// Median, lowest and highest of one figure over the rounds.
struct Spread {
  double median = 0, lowest = 0, highest = 0;
};

Spread spread_of(std::vector<double> v) {
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  const double mid = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  return {mid, v.front(), v.back()};
}

enum class Section { kernel, padded, call, opencv };

struct Contender {
  Contender(std::string name_, Section section_, const median::Kernel* kernel_, int channels_,
            int border_, int threads_, std::function<void()> run_, std::function<long()> differences_)
      : name(std::move(name_)), section(section_), kernel(kernel_), channels(channels_),
        border(border_), threads(threads_), run(std::move(run_)), differences(std::move(differences_)) {}

  std::string name;
  Section section;
  const median::Kernel* kernel;  // the kernel it runs, where one is known
  int channels;
  int border;  // index into BORDERS, or -1
  int threads;
  std::function<void()> run;
  std::function<long()> differences;  // against what it must reproduce, after a run
  int calls_per_turn = 1;
  long differing = 0;
  std::vector<double> rate;  // Mpixel/s, one per round
  std::vector<double> percent_of_bound;
  std::vector<double> ratio;  // kernels: over the 128-bit network; calls: over OpenCV
};

struct Processor {
  std::string name = "unknown processor", family = "?", model = "?";
  bool avx512 = false;
};

Processor this_processor() {
  Processor p;
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  auto value = [&](const char* key, std::string* out) {
    if (line.compare(0, std::strlen(key), key) != 0) return;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || line.find_first_not_of(" \t", std::strlen(key)) != colon) return;
    const size_t start = line.find_first_not_of(' ', colon + 1);
    *out = start == std::string::npos ? "" : line.substr(start);
  };
  // The first processor's lines; they stop at the first blank line.
  while (std::getline(in, line) && !line.empty()) {
    value("model name", &p.name);
    value("cpu family", &p.family);
    value("model", &p.model);
  }
  p.avx512 = calibration::minmax_width_supported(512);
  return p;
}

double seconds_of(const std::function<void()>& run, int calls) {
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i) run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A packed image of one depth and channel count, with a buffer for results.
struct Plane {
  int channels = 0;
  std::vector<unsigned char> src, out;
  size_t row_bytes = 0;
};

// The photo's RGB bytes as `channels` elements a pixel of the depth: grey is
// the mean of the three, the fourth channel repeats green.
template <class T>
void fill_plane(const uint8_t* rgb, int32_t w, int32_t h, int channels, Plane* plane) {
  plane->channels = channels;
  plane->row_bytes = size_t(w) * channels * sizeof(T);
  plane->src.resize(plane->row_bytes * size_t(h));
  plane->out.resize(plane->src.size());
  T* dst = reinterpret_cast<T*>(plane->src.data());
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    const uint8_t* p = rgb + 3 * i;
    const uint8_t grey = uint8_t((p[0] + p[1] + p[2]) / 3);
    for (int c = 0; c < channels; ++c) {
      const uint8_t v = channels == 1 ? grey : c < 3 ? p[c] : p[1];
      if constexpr (std::is_same_v<T, float>)
        dst[i * channels + c] = float(v) / 255.0f;
      else
        dst[i * channels + c] = T(v * (T(~T(0)) / 255));
    }
  }
}

template <class T>
int filter_plane(const median::Kernel& kernel, Plane* plane, int32_t w, int32_t h, int window_width,
                 int window_height, median_border border, std::vector<unsigned char>* out) {
  return median::filter(kernel, reinterpret_cast<const T*>(plane->src.data()), ptrdiff_t(plane->row_bytes),
                        reinterpret_cast<T*>(out->data()), ptrdiff_t(plane->row_bytes), w, h,
                        plane->channels, window_width, window_height, border);
}

int filter_any(Lane lane, const median::Kernel& kernel, Plane* plane, int32_t w, int32_t h,
               int window_width, int window_height, median_border border,
               std::vector<unsigned char>* out) {
  switch (lane) {
    case Lane::u8: return filter_plane<uint8_t>(kernel, plane, w, h, window_width, window_height, border, out);
    case Lane::u16: return filter_plane<uint16_t>(kernel, plane, w, h, window_width, window_height, border, out);
    case Lane::f32: return filter_plane<float>(kernel, plane, w, h, window_width, window_height, border, out);
  }
  return MEDIAN_ERROR_KERNEL;
}

// median_filter_u8, _u16 or _f32 itself, with its automatic choice.
int call_any(Lane lane, Plane* plane, int32_t w, int32_t h, int window_width, int window_height,
             median_border border, std::vector<unsigned char>* out) {
  const ptrdiff_t stride = ptrdiff_t(plane->row_bytes);
  switch (lane) {
    case Lane::u8:
      return median_filter_u8(plane->src.data(), stride, out->data(), stride, w, h, plane->channels,
                              window_width, window_height, border);
    case Lane::u16:
      return median_filter_u16(reinterpret_cast<const uint16_t*>(plane->src.data()), stride,
                               reinterpret_cast<uint16_t*>(out->data()), stride, w, h, plane->channels,
                               window_width, window_height, border);
    case Lane::f32:
      return median_filter_f32(reinterpret_cast<const float*>(plane->src.data()), stride,
                               reinterpret_cast<float*>(out->data()), stride, w, h, plane->channels,
                               window_width, window_height, border);
  }
  return MEDIAN_ERROR_KERNEL;
}

// Where a window that reaches position p of a line of n elements reads, as
// OpenCV's borderInterpolate gives it: -1 for the zero border outside.
int source_of(int p, int n, median_border border) {
  if (p >= 0 && p < n) return p;
  if (border == MEDIAN_BORDER_ZERO) return -1;
  if (border == MEDIAN_BORDER_REPLICATE || n == 1) return p < 0 ? 0 : n - 1;
  const int delta = border == MEDIAN_BORDER_REFLECT_101 ? 1 : 0;
  do {
    p = p < 0 ? -p - 1 + delta : 2 * n - 1 - p - delta;
  } while (p < 0 || p >= n);
  return p;
}

// The library's order of elements as unsigned keys: for floats, -0.0 below
// +0.0 and NaNs above +infinity (the images here have none).
uint32_t order_key(uint8_t v) { return v; }
uint32_t order_key(uint16_t v) { return v; }
uint32_t order_key(float v) {
  if (std::isnan(v)) return 0xffffffffu;
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits & 0x80000000u ? ~bits : bits | 0x80000000u;
}

// The pixels at which the reference is checked directly: every corner and
// the rows and columns around each edge where the border starts or stops
// coming into the window, crossed; the middle; and SCATTERED_PIXELS more.
std::vector<std::pair<int, int>> sampled_pixels(int32_t w, int32_t h, int window_width, int window_height) {
  auto marks = [](int n, int r) {
    std::vector<int> v = {0, 1, r - 1, r, r + 1, n / 2, n - 2 - r, n - 1 - r, n - r, n - 2, n - 1};
    v.erase(std::remove_if(v.begin(), v.end(), [n](int i) { return i < 0 || i >= n; }), v.end());
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return v;
  };
  std::vector<std::pair<int, int>> pixels;
  for (const int y : marks(h, window_height / 2))
    for (const int x : marks(w, window_width / 2)) pixels.emplace_back(x, y);
  uint32_t seed = 12345;
  for (int i = 0; i < SCATTERED_PIXELS; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int x = int((seed >> 8) % uint32_t(w));
    seed = seed * 1664525u + 1013904223u;
    pixels.emplace_back(x, int((seed >> 8) % uint32_t(h)));
  }
  return pixels;
}

// How many elements of `result` at `pixels` differ from the middle element
// of their window sorted.
template <class T>
long differing_from_direct(const Plane& plane, const std::vector<unsigned char>& result, int32_t w,
                           int32_t h, int window_width, int window_height, median_border border,
                           const std::vector<std::pair<int, int>>& pixels) {
  const T* src = reinterpret_cast<const T*>(plane.src.data());
  const T* out = reinterpret_cast<const T*>(result.data());
  const int channels = plane.channels;
  std::vector<T> window(size_t(window_width) * size_t(window_height));
  std::vector<int> xs(static_cast<size_t>(window_width)), ys(static_cast<size_t>(window_height));
  long differing = 0;
  for (const auto& [x, y] : pixels) {
    for (int i = 0; i < window_width; ++i) xs[size_t(i)] = source_of(x - window_width / 2 + i, w, border);
    for (int j = 0; j < window_height; ++j) ys[size_t(j)] = source_of(y - window_height / 2 + j, h, border);
    for (int c = 0; c < channels; ++c) {
      size_t n = 0;
      for (const int sy : ys)
        for (const int sx : xs)
          window[n++] = sx < 0 || sy < 0 ? T(0) : src[(size_t(sy) * size_t(w) + size_t(sx)) * size_t(channels) + size_t(c)];
      const auto middle = window.begin() + std::ptrdiff_t(n / 2);
      std::nth_element(window.begin(), middle, window.end(),
                       [](T a, T b) { return order_key(a) < order_key(b); });
      const T got = out[(size_t(y) * size_t(w) + size_t(x)) * size_t(channels) + size_t(c)];
      differing += std::memcmp(&*middle, &got, sizeof(T)) != 0;
    }
  }
  return differing;
}

long differing_from_direct_any(Lane lane, const Plane& plane, const std::vector<unsigned char>& result,
                               int32_t w, int32_t h, int window_width, int window_height,
                               median_border border, const std::vector<std::pair<int, int>>& pixels) {
  switch (lane) {
    case Lane::u8:
      return differing_from_direct<uint8_t>(plane, result, w, h, window_width, window_height, border, pixels);
    case Lane::u16:
      return differing_from_direct<uint16_t>(plane, result, w, h, window_width, window_height, border, pixels);
    case Lane::f32:
      return differing_from_direct<float>(plane, result, w, h, window_width, window_height, border, pixels);
  }
  return 0;
}

long differing_elements(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                        size_t element) {
  long n = 0;
  for (size_t i = 0; i + element <= a.size(); i += element) n += std::memcmp(&a[i], &b[i], element) != 0;
  return n;
}

#ifdef MEDIAN_WITH_OPENCV
int cv_depth(Lane lane) { return lane == Lane::u8 ? CV_8U : lane == Lane::u16 ? CV_16U : CV_32F; }

// Whether cv::medianBlur computes this window at this depth: square windows
// from 3x3 (it copies the image for 1x1), any size for 8 bits, 3x3 and 5x5
// for 16 bits and floats.
bool opencv_has(Lane lane, int window_width, int window_height) {
  return window_width == window_height && window_width >= 3 && (lane == Lane::u8 || window_width <= 5);
}

// OpenCV on horizontal strips, one per thread.  A strip is filtered with the
// rows above and below it that its windows need (fewer at the image's edges,
// where OpenCV's own border applies as in the whole-image call), and only
// its own rows are kept, so the result equals the whole-image call.
class StripMedian {
 public:
  StripMedian(const cv::Mat& src, cv::Mat& dst, int strips, int ksize)
      : src_(src), dst_(dst), strips_(strips), ksize_(ksize), scratch_(size_t(strips)) {}

  void operator()() {
    cv::parallel_for_(cv::Range(0, strips_), [this](const cv::Range& range) {
      for (int s = range.start; s < range.end; ++s) strip(s);
    }, strips_);
  }

 private:
  void strip(int s) {
    const int rows = src_.rows;
    const int first = rows * s / strips_, end = rows * (s + 1) / strips_;
    const int radius = ksize_ / 2;
    const int top = std::max(0, first - radius), bottom = std::min(rows, end + radius);
    cv::medianBlur(src_.rowRange(top, bottom), scratch_[size_t(s)], ksize_);
    scratch_[size_t(s)].rowRange(first - top, end - top).copyTo(dst_.rowRange(first, end));
  }

  const cv::Mat& src_;
  cv::Mat& dst_;
  int strips_;
  int ksize_;
  std::vector<cv::Mat> scratch_;  // kept between calls: no allocation once warm
};

long differing_from_mat(const std::vector<unsigned char>& expected, const cv::Mat& theirs,
                        size_t element) {
  std::vector<unsigned char> flat(expected.size());
  const size_t row = size_t(theirs.cols) * theirs.channels() * element;
  for (int y = 0; y < theirs.rows; ++y) std::memcpy(&flat[size_t(y) * row], theirs.ptr(y), row);
  return differing_elements(expected, flat, element);
}
#endif

// "rounds" must be a whole number from 1 up.
bool parse_rounds(const char* text, int* rounds) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > 100000) return false;
  *rounds = int(n);
  return true;
}

// "K" (K x K) or "KxL" (K columns by L rows), each side odd from 1 to
// MEDIAN_MAX_WINDOW.
bool parse_window(const char* text, int* width, int* height) {
  auto side = [](const char*& p, int* out) {
    long n = 0;
    const char* start = p;
    while (*p >= '0' && *p <= '9' && n <= MEDIAN_MAX_WINDOW) n = n * 10 + (*p++ - '0');
    if (p == start || (*p >= '0' && *p <= '9')) return false;
    if (n < 1 || n > MEDIAN_MAX_WINDOW || n % 2 == 0) return false;
    *out = int(n);
    return true;
  };
  const char* p = text;
  int w = 0, h = 0;
  if (!side(p, &w)) return false;
  if (*p == '\0') {
    h = w;
  } else {
    if (*p != 'x' && *p != 'X') return false;
    ++p;
    if (!side(p, &h) || *p != '\0') return false;
  }
  *width = w;
  *height = h;
  return true;
}

// 0: run; 1: --help printed; 2: usage error printed.
int parse_options(int argc, char** argv, Options* options) {
  bool have_path = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value_of = [&](const char* option) -> const char* {
      const size_t n = std::strlen(option);
      if (arg == option) return i + 1 < argc ? argv[++i] : "";
      return arg.c_str() + n + 1;  // --option=value
    };
    auto is_option = [&](const char* option) {
      const size_t n = std::strlen(option);
      return arg == option || (arg.compare(0, n, option) == 0 && arg.size() > n && arg[n] == '=');
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      return 1;
    } else if (arg == "--json") {
      options->json = true;
    } else if (is_option("--rounds")) {
      const char* value = value_of("--rounds");
      if (!parse_rounds(value, &options->rounds)) {
        std::fprintf(stderr, "median_compare: --rounds wants a whole number from 1 up, not '%s'\n",
                     value);
        return 2;
      }
    } else if (is_option("--window")) {
      const char* value = value_of("--window");
      if (!parse_window(value, &options->window_width, &options->window_height)) {
        std::fprintf(stderr,
                     "median_compare: --window wants K or KxL (K columns by L rows), each odd from 1 "
                     "to %d, not '%s'\n", MEDIAN_MAX_WINDOW, value);
        return 2;
      }
    } else if (is_option("--depth")) {
      const std::string value = value_of("--depth");
      if (value == "u8") options->depth = Lane::u8;
      else if (value == "u16") options->depth = Lane::u16;
      else if (value == "f32") options->depth = Lane::f32;
      else {
        std::fprintf(stderr, "median_compare: --depth wants u8, u16 or f32, not '%s'\n", value.c_str());
        return 2;
      }
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      std::fprintf(stderr, "median_compare: unknown option %s (try --help)\n", arg.c_str());
      return 2;
    } else {
      if (arg == "--") {
        if (++i >= argc) break;
      }
      if (have_path) {
        std::fprintf(stderr, "median_compare: one image at a time (try --help)\n");
        return 2;
      }
      options->path = argv[i];
      have_path = true;
    }
  }
  return 0;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// A whole number as is, anything else as null.
std::string json_number(const std::string& s) {
  const bool digits = !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
  return digits ? s : "null";
}

std::string json_spread(const Spread& s) {
  char text[160];
  std::snprintf(text, sizeof text, "{\"median\": %.4g, \"lowest\": %.4g, \"highest\": %.4g}",
                s.median, s.lowest, s.highest);
  return text;
}

std::string format(const char* fmt, double v) {
  char text[64];
  std::snprintf(text, sizeof text, fmt, v);
  return text;
}

// A ratio with two decimals, or with as many as its first two digits need
// when below 0.1, and none from 100 up.
std::string ratio_text(double v) {
  if (v >= 100) return format("%.0f", v);
  if (v >= 0.1 || v <= 0) return format("%.2f", v);
  const int decimals = std::min(9, 1 - int(std::floor(std::log10(v))));
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// Characters of UTF-8 text, as a terminal lines them up.
size_t display_width(const std::string& text) {
  size_t n = 0;
  for (const unsigned char c : text) n += (c & 0xc0) != 0x80;
  return n;
}

// A Markdown table whose columns line up in a terminal as well.
void print_table(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right) {
  std::vector<size_t> width(rows[0].size(), 3);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], display_width(row[c]));
  auto print_row = [&](const std::vector<std::string>& row) {
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string pad(width[c] - display_width(row[c]), ' ');
      std::printf("| %s%s ", right[c] ? pad.c_str() : row[c].c_str(), right[c] ? row[c].c_str() : pad.c_str());
    }
    std::printf("|\n");
  };
  print_row(rows[0]);
  for (size_t c = 0; c < width.size(); ++c)
    std::printf("|%s%s", std::string(width[c] + 1, '-').c_str(), right[c] ? ":" : "-");
  std::printf("|\n");
  for (size_t r = 1; r < rows.size(); ++r) print_row(rows[r]);
}

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The kernel the others are held to and measured against.  For 5x5: the
// widest 128-bit network of that window this processor runs with
// instructions of its own (AVX's for 8 bits: the benchmark's network).  For
// every other window: the sliding histogram in plain C++, which is exact for
// every window.
const median::Kernel* baseline_kernel(Lane lane, int window_width, int window_height) {
  const median::Kernel* best = nullptr;
  if (window_width == 5 && window_height == 5)
    for (const median::Kernel& k : median::kernels())
      if (k.lane == lane && k.vector_bits == 128 && k.window_width == 5 && k.window_height == 5 &&
          std::strncmp(k.name, "network_", 8) == 0 && std::strcmp(k.isa, "none") != 0 &&
          median::is_supported(k))
        best = &k;
  if (!best)
    for (const median::Kernel& k : median::kernels())
      if (k.lane == lane && k.window_width == 0 && k.vector_bits == 0 && std::strcmp(k.isa, "none") == 0 &&
          median::serves(k, window_width, window_height)) {
        best = &k;
        break;
      }
  return best ? best : &median::chosen_kernel(lane, window_width, window_height);
}

// Whether the kernel's min/max per 16 bytes and vector width make a bound.
bool has_bound(const median::Kernel& k) { return k.vector_bits > 0 && k.minmax_per_16_bytes > 0; }

std::string window_name(int window_width, int window_height) {
  return std::to_string(window_width) + "x" + std::to_string(window_height);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int parsed = parse_options(argc, argv, &options)) return parsed == 1 ? 0 : 2;
  const Lane depth = options.depth;
  const size_t element = depth == Lane::u8 ? 1 : depth == Lane::u16 ? 2 : 4;
  const int ww = options.window_width, wh = options.window_height;
  const bool is_5x5 = ww == 5 && wh == 5;
  const std::string window = window_name(ww, wh);

  // Decode the image as the benchmark program does.
  ilInit();
  ILuint image = 0;
  ilGenImages(1, &image);
  ilBindImage(image);
  int32_t w = 0, h = 0;
  std::string cause;
  std::vector<uint8_t> file;
  if (!read_input_file(options.path.c_str(), &file, &cause) ||
      !load_rgb_image(file, &w, &h, &cause)) {
    std::fprintf(stderr, "median_compare: %s: %s\n", options.path.c_str(), cause.c_str());
    return 1;
  }
  const uint8_t* rgb = ilGetData();
  // One packed image per channel count, at the chosen depth.
  Plane planes[std::size(CALL_CHANNELS)];
  for (size_t i = 0; i < std::size(CALL_CHANNELS); ++i) {
    if (depth == Lane::u8) fill_plane<uint8_t>(rgb, w, h, CALL_CHANNELS[i], &planes[i]);
    if (depth == Lane::u16) fill_plane<uint16_t>(rgb, w, h, CALL_CHANNELS[i], &planes[i]);
    if (depth == Lane::f32) fill_plane<float>(rgb, w, h, CALL_CHANNELS[i], &planes[i]);
  }
  auto plane_of = [&](int channels) -> Plane& {
    for (Plane& p : planes)
      if (p.channels == channels) return p;
    return planes[0];
  };
  // The benchmark's zero-padded frame (5x5, 8 bits, 3 channels).
  const bool padded_passes = depth == Lane::u8 && is_5x5;
  const int32_t padded_width = w + 2 * RADIUS;
  std::vector<uint8_t> padded;
  std::vector<uint8_t> padded_out;
  if (padded_passes) {
    const size_t row = size_t(w) * 3, padded_row = size_t(padded_width) * 3;
    padded.assign(padded_row * size_t(h + 2 * RADIUS), 0);
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(&padded[size_t(y + RADIUS) * padded_row + RADIUS * 3], rgb + size_t(y) * row, row);
    padded_out.resize(row * size_t(h));
  }
  ilDeleteImages(1, &image);

  const int cores = omp_get_num_procs();
  std::vector<int> thread_counts = {1};
  if (cores > 1) thread_counts.push_back(cores);

  const int REPLICATE = 1;
  // Channels and borders of the calls: 3 channels with every border, 1 and
  // 4 with the replicate border.
  auto is_called = [&](int channels, int border) { return channels == 3 || border == REPLICATE; };

  // What every kernel and call must reproduce, per channel count and border,
  // and the reference checked against a direct selection at sampled pixels.
  const median::Kernel& baseline = *baseline_kernel(depth, ww, wh);
  const std::vector<std::pair<int, int>> pixels = sampled_pixels(w, h, ww, wh);
  long sampled = 0, reference_differing = 0;
  std::vector<unsigned char> expected[std::size(CALL_CHANNELS)][std::size(BORDERS)];
  for (size_t c = 0; c < std::size(CALL_CHANNELS); ++c)
    for (size_t b = 0; b < std::size(BORDERS); ++b) {
      if (!is_called(CALL_CHANNELS[c], int(b))) continue;
      expected[c][b].resize(planes[c].src.size());
      const int status = filter_any(depth, baseline, &planes[c], w, h, ww, wh, BORDERS[b], &expected[c][b]);
      if (status != MEDIAN_OK) {
        std::fprintf(stderr, "median_compare: %s: %s\n", baseline.name, median_error_string(status));
        return 1;
      }
      const long differing =
          differing_from_direct_any(depth, planes[c], expected[c][b], w, h, ww, wh, BORDERS[b], pixels);
      sampled += long(pixels.size()) * CALL_CHANNELS[c];
      reference_differing += differing;
      if (differing)
        std::fprintf(stderr, "median_compare: %s (%d channel%s, %s border) differs from the middle of "
                     "its window sorted in %ld of %zu sampled elements\n", baseline.name, CALL_CHANNELS[c],
                     CALL_CHANNELS[c] == 1 ? "" : "s", BORDER_NAMES[b], differing,
                     pixels.size() * size_t(CALL_CHANNELS[c]));
    }
  auto expected_of = [&](int channels, int border) -> const std::vector<unsigned char>& {
    for (size_t c = 0; c < std::size(CALL_CHANNELS); ++c)
      if (CALL_CHANNELS[c] == channels) return expected[c][border];
    return expected[0][0];
  };

  std::vector<Contender> contenders;
  std::vector<const median::Kernel*> skipped;
  auto add = [&](Contender c) { contenders.push_back(std::move(c)); };
  // Kernels that serve the window, through the caller's entry point.
  for (const median::Kernel& k : median::kernels()) {
    if (k.lane != depth || !median::serves(k, ww, wh)) continue;
    if (!median::is_supported(k)) {
      skipped.push_back(&k);
      continue;
    }
    for (const int threads : thread_counts) {
      Plane* plane = &plane_of(KERNEL_CHANNELS);
      auto status = std::make_shared<int>(MEDIAN_OK);
      add({k.name, Section::kernel, &k, KERNEL_CHANNELS, REPLICATE, threads,
           [=, &k] {
             omp_set_num_threads(threads);
             *status = filter_any(depth, k, plane, w, h, ww, wh, MEDIAN_BORDER_REPLICATE, &plane->out);
           },
           [=, &expected_of] {
             // A call that fails leaves the buffer as another contender wrote it.
             if (*status != MEDIAN_OK) return long(plane->out.size() / element);
             return differing_elements(plane->out, expected_of(KERNEL_CHANNELS, REPLICATE), element);
           }});
    }
  }
  // The padded-frame passes: the benchmark's, and the fastest kernel's.
  const median::Kernel* benchmark_kernel = median::find_kernel("network_avx");
  const bool have_benchmark_pass = padded_passes && benchmark_kernel && median::is_supported(*benchmark_kernel);
  if (padded_passes) {
    for (const int threads : thread_counts) {
      // The benchmark's frame has a zero border: the zero-border call's result.
      auto zero_expected = [&] { return differing_elements(padded_out, expected_of(3, 0), 1); };
      if (have_benchmark_pass)
        add({"median_filter_pass", Section::padded, benchmark_kernel, 3, 0, threads,
             [&, threads] {
               omp_set_num_threads(threads);
               median_filter_pass(h, w, padded_width, padded.data(), padded_out.data());
             },
             zero_expected});
      add({"median_filter_pass_fastest", Section::padded, &median::fastest_kernel(Lane::u8), 3, 0,
           threads,
           [&, threads] {
             omp_set_num_threads(threads);
             median_filter_pass_fastest(h, w, padded_width, padded.data(), padded_out.data());
           },
           zero_expected});
    }
  }
  // The call as a caller makes it, with the automatic choice.
  const median::Kernel& automatic = median::chosen_kernel(depth, ww, wh);
  const std::string call_name = std::string("median_filter_") + depth_name(depth);
  for (const int channels : CALL_CHANNELS)
    for (int b = 0; b < int(std::size(BORDERS)); ++b) {
      if (!is_called(channels, b)) continue;
      for (const int threads : thread_counts) {
        Plane* plane = &plane_of(channels);
        auto status = std::make_shared<int>(MEDIAN_OK);
        add({call_name, Section::call, &automatic, channels, b, threads,
             [=] {
               omp_set_num_threads(threads);
               *status = call_any(depth, plane, w, h, ww, wh, BORDERS[b], &plane->out);
             },
             [=, &expected_of] {
               if (*status != MEDIAN_OK) return long(plane->out.size() / element);
               return differing_elements(plane->out, expected_of(channels, b), element);
             }});
      }
    }
#ifdef MEDIAN_WITH_OPENCV
  // OpenCV chooses its vectors at run time; OPENCV_CPU_DISABLE=AVX2 holds
  // it to 128 bits.
  const int opencv_bits = cv::checkHardwareSupport(CV_CPU_AVX2) ? 256 : 128;
  cv::setNumThreads(cores);
  struct OpenCVImage {
    cv::Mat src, out, strip_out;
    std::unique_ptr<StripMedian> strips;
  };
  std::vector<std::unique_ptr<OpenCVImage>> cv_images;
  const bool opencv_runs = opencv_has(depth, ww, wh);
  for (const int channels : CALL_CHANNELS) {
    if (!opencv_runs) break;
    Plane& plane = plane_of(channels);
    auto im = std::make_unique<OpenCVImage>();
    im->src = cv::Mat(h, w, CV_MAKETYPE(cv_depth(depth), channels), plane.src.data());
    im->strip_out.create(h, w, im->src.type());
    im->strips = std::make_unique<StripMedian>(im->src, im->strip_out, cores, ww);
    OpenCVImage* p = im.get();
    add({"cv::medianBlur, default call", Section::opencv, nullptr, channels, REPLICATE, 1,
         [p, ww] { cv::medianBlur(p->src, p->out, ww); },
         [=, &expected_of] { return differing_from_mat(expected_of(channels, REPLICATE), p->out, element); }});
    if (cores > 1)
      add({"cv::medianBlur, row strips", Section::opencv, nullptr, channels, REPLICATE, cores,
           [p] { (*p->strips)(); },
           [=, &expected_of] {
             return differing_from_mat(expected_of(channels, REPLICATE), p->strip_out, element);
           }});
    cv_images.push_back(std::move(im));
  }
#endif

  // Warm up (threads, allocations, caches), check the output, and size each
  // contender's turn.
  for (Contender& c : contenders) {
    const double once = seconds_of(c.run, 1);
    c.differing = c.differences();
    c.calls_per_turn = std::max(1, int(MIN_TURN_SECONDS / std::max(once, 1e-6)));
  }

  std::vector<int> widths;
  for (const int bits : WIDTHS)
    if (calibration::minmax_width_supported(bits)) widths.push_back(bits);
  auto width_index = [](int bits) { return bits == 128 ? 0 : bits == 256 ? 1 : 2; };
  std::vector<std::vector<double>> peaks(std::size(WIDTHS));  // Gop/s per width, per round
  std::vector<double> clock_ghz;
  auto find = [&](Section section, const median::Kernel* k, const char* name, int channels, int border,
                  int threads) -> const Contender* {
    for (const Contender& c : contenders)
      if (c.section == section && (!k || c.kernel == k) && (!name || c.name == name) &&
          c.channels == channels && c.border == border && c.threads == threads)
        return &c;
    return nullptr;
  };
  std::vector<double> border_cost[2];  // call / padded fastest pass, per thread count

  const double mpixels = double(w) * h / 1e6;
  for (int r = 0; r < options.rounds; ++r) {
    if (!options.json) std::fprintf(stderr, "round %d of %d\n", r + 1, options.rounds);
    std::vector<calibration::Bracket> brackets;
    for (const int bits : widths) brackets.emplace_back(bits, depth);
    const double clock_before = calibration::clock_hz_now();
    std::vector<double> seconds(contenders.size());
    // Rotate the order each round, so none always runs first or last.
    for (size_t i = 0; i < contenders.size(); ++i) {
      const size_t k = (i + size_t(r)) % contenders.size();
      seconds[k] = seconds_of(contenders[k].run, contenders[k].calls_per_turn) /
                   contenders[k].calls_per_turn;
    }
    clock_ghz.push_back(std::max(clock_before, calibration::clock_hz_now()) / 1e9);
    double peak[std::size(WIDTHS)] = {};
    for (size_t i = 0; i < widths.size(); ++i) {
      peak[width_index(widths[i])] = brackets[i].peak_ops();
      peaks[width_index(widths[i])].push_back(peak[width_index(widths[i])] / 1e9);
    }
    auto seconds_of_contender = [&](const Contender* c) { return seconds[size_t(c - contenders.data())]; };
    for (size_t i = 0; i < contenders.size(); ++i) {
      Contender& c = contenders[i];
      c.rate.push_back(mpixels / seconds[i]);
      if (c.section == Section::kernel) {
        const double bytes = double(w) * h * c.channels * element;
        if (has_bound(*c.kernel))
          c.percent_of_bound.push_back(100 * c.kernel->minmax_per_16_bytes * bytes / GROUP_BYTES /
                                       seconds[i] / (peak[width_index(c.kernel->vector_bits)] * c.threads));
        if (const Contender* base = find(Section::kernel, &baseline, nullptr, c.channels, c.border, c.threads))
          c.ratio.push_back(seconds_of_contender(base) / seconds[i]);
      }
      if (c.section == Section::call) {
        // Over the faster OpenCV configuration on no more threads.
        double best = 0;
        for (const Contender& o : contenders)
          if (o.section == Section::opencv && o.channels == c.channels && o.threads <= c.threads)
            best = std::max(best, mpixels / seconds_of_contender(&o));
        if (best > 0) c.ratio.push_back(c.rate.back() / best);
      }
    }
    if (padded_passes)
      for (size_t t = 0; t < thread_counts.size(); ++t) {
        const Contender* call = find(Section::call, nullptr, nullptr, 3, REPLICATE, thread_counts[t]);
        const Contender* pass =
            find(Section::padded, nullptr, "median_filter_pass_fastest", 3, 0, thread_counts[t]);
        if (call && pass) border_cost[t].push_back(seconds_of_contender(pass) / seconds_of_contender(call));
      }
  }
  // Every contender once more, checked again: a fault that depends on
  // timing between threads may show only in some runs.
  for (Contender& c : contenders) {
    c.run();
    c.differing = std::max(c.differing, c.differences());
  }

  bool all_agree = reference_differing == 0;
  for (const Contender& c : contenders) {
    if (c.differing == 0) continue;
    all_agree = false;
    std::fprintf(stderr, "median_compare: %s (%d channel%s, %s border) on %d thread%s differs from %s in %ld elements\n",
                 c.name.c_str(), c.channels, c.channels == 1 ? "" : "s",
                 c.border >= 0 ? BORDER_NAMES[c.border] : "no", c.threads, c.threads == 1 ? "" : "s",
                 c.section == Section::padded ? "the zero-border call" : baseline.name, c.differing);
  }

  const Processor cpu = this_processor();
  const char* const section_names[] = {"kernel", "padded", "call", "opencv"};
  if (options.json) {
    std::printf("{\n  \"image\": {\"path\": %s, \"width\": %d, \"height\": %d},\n  \"depth\": \"%s\",\n",
                json_string(options.path).c_str(), w, h, depth_name(depth));
    std::printf("  \"window\": {\"width\": %d, \"height\": %d},\n", ww, wh);
    std::printf("  \"processor\": {\"name\": %s, \"family\": %s, \"model\": %s, \"avx512\": %s},\n",
                json_string(cpu.name).c_str(), json_number(cpu.family).c_str(),
                json_number(cpu.model).c_str(), cpu.avx512 ? "true" : "false");
    std::printf("  \"cores\": %d,\n  \"rounds\": %d,\n", cores, options.rounds);
    std::printf("  \"calibration\": [");
    for (size_t i = 0; i < widths.size(); ++i)
      std::printf("%s\n    {\"vector_bits\": %d, \"peak_gop_per_s\": %s}", i ? "," : "", widths[i],
                  json_spread(spread_of(peaks[width_index(widths[i])])).c_str());
    std::printf("\n  ],\n  \"clock_ghz\": %s,\n  \"baseline_kernel\": %s,\n  \"fastest_kernel\": %s,\n",
                json_spread(spread_of(clock_ghz)).c_str(), json_string(baseline.name).c_str(),
                json_string(automatic.name).c_str());
    std::printf("  \"baseline_checked\": {\"sampled_elements\": %ld, \"differing_elements\": %ld},\n",
                sampled, reference_differing);
    std::printf("  \"kernels\": [");
    bool first = true;
    for (const median::Kernel& k : median::kernels()) {
      if (k.lane != depth || !median::serves(k, ww, wh) || !median::is_supported(k)) continue;
      long differing = 0;
      std::string runs;
      for (const Contender& c : contenders) {
        if (c.section != Section::kernel || c.kernel != &k) continue;
        differing = std::max(differing, c.differing);
        runs += std::string(runs.empty() ? "" : ",") + "\n        {\"threads\": " +
                std::to_string(c.threads) + ", \"mpixel_per_s\": " + json_spread(spread_of(c.rate)) +
                ", \"percent_of_bound\": " +
                (has_bound(k) ? json_spread(spread_of(c.percent_of_bound)) : std::string("null")) +
                ", \"speedup\": " + json_spread(spread_of(c.ratio)) + "}";
      }
      // Null where a kernel has no such figure: no vectors, or no min/max network.
      auto figure = [](double v) { return v > 0 ? format("%.4g", v) : std::string("null"); };
      std::printf("%s\n    {\"name\": %s, \"isa\": %s, \"vector_bits\": %s, \"every_window\": %s, "
                  "\"minmax_per_16_bytes\": %s, \"loads_per_vector\": %s, "
                  "\"stores_per_vector\": %s, \"identical\": %s, \"differing_elements\": %ld,\n"
                  "      \"runs\": [%s\n      ]}",
                  first ? "" : ",", json_string(k.name).c_str(), json_string(k.isa).c_str(),
                  figure(k.vector_bits).c_str(), k.window_width == 0 ? "true" : "false",
                  figure(has_bound(k) ? k.minmax_per_16_bytes : 0).c_str(),
                  figure(k.vector_bits ? k.loads_per_vector : 0).c_str(),
                  figure(k.vector_bits ? k.stores_per_vector : 0).c_str(),
                  differing == 0 ? "true" : "false", differing, runs.c_str());
      first = false;
    }
    std::printf("\n  ],\n  \"skipped\": [");
    for (size_t i = 0; i < skipped.size(); ++i)
      std::printf("%s\n    {\"name\": %s, \"isa\": %s, \"reason\": %s}", i ? "," : "",
                  json_string(skipped[i]->name).c_str(), json_string(skipped[i]->isa).c_str(),
                  json_string(std::string("needs ") + skipped[i]->isa + ", which this processor lacks").c_str());
    std::printf("\n  ],\n  \"runs\": [");
    first = true;
    for (const Contender& c : contenders) {
      if (c.section == Section::kernel) continue;
      std::printf("%s\n    {\"section\": \"%s\", \"name\": %s, \"channels\": %d, \"border\": %s, "
                  "\"threads\": %d, \"mpixel_per_s\": %s, \"over_opencv\": %s, \"differing_elements\": %ld}",
                  first ? "" : ",", section_names[int(c.section)], json_string(c.name).c_str(), c.channels,
                  c.border >= 0 ? json_string(BORDER_NAMES[c.border]).c_str() : "null", c.threads,
                  json_spread(spread_of(c.rate)).c_str(),
                  c.ratio.empty() ? "null" : json_spread(spread_of(c.ratio)).c_str(), c.differing);
      first = false;
    }
    std::printf("\n  ],\n  \"border_cost\": [");
    for (size_t t = 0; t < thread_counts.size() && padded_passes; ++t)
      std::printf("%s\n    {\"threads\": %d, \"call_over_padded_pass\": %s}", t ? "," : "",
                  thread_counts[t], json_spread(spread_of(border_cost[t])).c_str());
    std::printf("\n  ],\n  \"opencv\": ");
#ifdef MEDIAN_WITH_OPENCV
    std::printf("{\"version\": %s, \"vector_bits\": %d, \"has_window\": %s}",
                json_string(CV_VERSION).c_str(), opencv_bits, opencv_runs ? "true" : "false");
#else
    std::printf("null");
#endif
    std::printf(",\n  \"all_agree\": %s\n}\n", all_agree ? "true" : "false");
    return all_agree ? 0 : 1;
  }

  std::printf("Image: %s, %dx%d, %s, window %s (columns x rows), on %s (family %s, model %s, %s), "
              "%d core%s; median of %d alternating round%s (lowest..highest).\n",
              base_name(options.path).c_str(), w, h,
              depth == Lane::u8 ? "8-bit" : depth == Lane::u16 ? "16-bit (bytes x 257)" : "float (bytes / 255)",
              window.c_str(), cpu.name.c_str(), cpu.family.c_str(), cpu.model.c_str(),
              cpu.avx512 ? "AVX-512" : "no AVX-512", cores, cores == 1 ? "" : "s", options.rounds,
              options.rounds == 1 ? "" : "s");
  const double ghz = spread_of(clock_ghz).median;
  std::printf("Calibrated %s min/max per core, at %.2f GHz:",
              depth == Lane::u8 ? "byte" : depth == Lane::u16 ? "16-bit" : "32-bit", ghz);
  for (size_t i = 0; i < widths.size(); ++i) {
    const double gops = spread_of(peaks[width_index(widths[i])]).median;
    std::printf("%s %d-bit %.2f Gop/s (%.1f per cycle)", i ? "," : "", widths[i], gops, gops / ghz);
  }
  std::printf(".\n\nEvery kernel of the %s window through the caller's call, 3 channels, replicate border:\n\n",
              window.c_str());

  const std::string none = "—";  // a figure the kernel or call does not have
  std::vector<std::vector<std::string>> rows = {{"Kernel", "Bits", "Min/max per 16 B", "Loads, stores per vector",
                                                 "Threads", "Mpixel/s", "Spread", "% of bound", "Speed-up"}};
  bool unbounded = false;
  for (const Contender& c : contenders) {
    if (c.section != Section::kernel) continue;
    const median::Kernel& k = *c.kernel;
    const Spread rate = spread_of(c.rate);
    unbounded = unbounded || !has_bound(k);
    rows.push_back({c.name, k.vector_bits ? std::to_string(k.vector_bits) : none,
                    has_bound(k) ? format("%.2f", k.minmax_per_16_bytes) : none,
                    k.vector_bits && k.loads_per_vector > 0
                        ? format("%.1f", k.loads_per_vector) + ", " + format("%.1f", k.stores_per_vector)
                        : none,
                    std::to_string(c.threads), format("%.1f", rate.median),
                    format("%.1f", rate.lowest) + ".." + format("%.1f", rate.highest),
                    has_bound(k) ? format("%.1f %%", spread_of(c.percent_of_bound).median) : none,
                    ratio_text(spread_of(c.ratio).median)});
  }
  print_table(rows, {false, true, true, true, true, true, true, true, true});
  std::printf("\n%% of bound: min/max per 16 B x 16-byte groups per second / (calibrated rate at that "
              "width x threads).  Speed-up: over %s on as many threads, round by round.  Loads and "
              "stores per output vector as the sweep's code makes them (spills not counted).%s\n",
              baseline.name,
              unbounded ? "  —: not a min/max network working on vectors, so no such bound or count." : "");
  for (const median::Kernel* k : skipped)
    std::printf("Skipped %s: needs %s, which this processor lacks.\n", k->name, k->isa);

  std::printf("\nThe call as a caller makes it (%s runs %s here), and OpenCV on the same images:\n\n",
              call_name.c_str(), automatic.name);
  rows = {{"Call", "Channels", "Border", "Threads", "Mpixel/s", "Spread", "× OpenCV"}};
  for (const Contender& c : contenders) {
    if (c.section == Section::kernel) continue;
    const Spread rate = spread_of(c.rate);
    rows.push_back({c.section == Section::padded ? c.name + " (padded frame)" : c.name,
                    std::to_string(c.channels), c.border >= 0 ? BORDER_NAMES[c.border] : none,
                    std::to_string(c.threads), format("%.1f", rate.median),
                    format("%.1f", rate.lowest) + ".." + format("%.1f", rate.highest),
                    c.ratio.empty() ? none : ratio_text(spread_of(c.ratio).median)});
  }
  print_table(rows, {false, true, false, true, true, true, true});
#ifdef MEDIAN_WITH_OPENCV
  if (opencv_runs) {
    std::printf("\n× OpenCV: over the faster OpenCV configuration on no more threads, same channels, round by round.\n");
    std::printf("OpenCV %s, its median on %d-bit vectors, replicating the edge; its default call runs on one "
                "thread.\n", CV_VERSION, opencv_bits);
  } else {
    std::printf("\nOpenCV %s has no %s median of %s: cv::medianBlur takes square windows from 3x3, of "
                "any size for 8 bits and 3x3 or 5x5 for 16 bits and floats.\n", CV_VERSION, window.c_str(),
                depth == Lane::u8 ? "bytes" : depth == Lane::u16 ? "16-bit elements" : "floats");
  }
#else
  std::printf("\nBuilt without OpenCV: the library alone.\n");
#endif
  if (padded_passes)
    for (size_t t = 0; t < thread_counts.size(); ++t)
      std::printf("Border cost, %d thread%s: the call with the replicate border runs at %.1f %% of "
                  "median_filter_pass_fastest on a frame padded beforehand.\n",
                  thread_counts[t], thread_counts[t] == 1 ? "" : "s", 100 * spread_of(border_cost[t]).median);
  if (all_agree) {
    std::printf("Every kernel and call gives the same elements as %s (%s), which gives the middle of the "
                "window sorted at all %ld sampled elements",
                baseline.vector_bits == 128 ? "the 128-bit network"
                : baseline.window_width == 0 ? "the sliding histogram" : "the reference kernel",
                baseline.name, sampled);
#ifdef MEDIAN_WITH_OPENCV
    if (opencv_runs) std::printf("; OpenCV agrees on every element with the replicate border");
#endif
    std::printf(".\n");
  } else {
    std::printf("Results differ: see the messages above.\n");
  }
  return all_agree ? 0 : 1;
}
