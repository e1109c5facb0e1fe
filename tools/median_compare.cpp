// SPDX-License-Identifier: MIT
//
// median_compare: every kernel of the median library that this processor
// runs, and OpenCV's cv::medianBlur(src, dst, 5) when built with OpenCV, on
// the user's own image.  Each kernel runs on one thread and on every core;
// OpenCV runs its default call and row strips spread over every core with
// cv::parallel_for_.  All of them are timed in turn, round after round, in a
// rotated order, so a change in the machine's load or clock hits them alike;
// every figure is the median over the rounds, and every ratio is taken
// within a round before its median is.
//
// The bound of a kernel is the rate at which one core retires independent
// min/max at the kernel's vector width, calibrated before and after every
// round (the higher counts): % of bound = min/max per 16 bytes x 16-byte
// groups per second / (calibrated rate x threads).
//
// Every kernel must give the same bytes as the benchmark's kernel,
// median_filter_pass, on the whole image.  OpenCV replicates the edge where
// the library reads zeros, so only pixels at least 2 from every edge are
// compared with it.  Any difference makes the exit status 1.

#include <IL/il.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
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

constexpr int RADIUS = 2;  // the window's half-width and the frame's zero border
constexpr int KSIZE = 2 * RADIUS + 1;
constexpr int CHANNELS = 3;
constexpr double GROUP_BYTES = 16;  // min/max counts are per 16 output bytes
constexpr int DEFAULT_ROUNDS = 7;
// Time of one contender's turn in a round: long enough that a turn is many
// calls on small images, short enough that a whole run takes seconds.
constexpr double MIN_TURN_SECONDS = 0.2;
const int WIDTHS[] = {128, 256, 512};

const char* const USAGE =
    "Usage: median_compare [--rounds N] [--json] [IMAGE]\n"
    "\n"
    "Runs every 5x5 median kernel this processor supports on IMAGE (a JPEG;\n"
    "input.jpg by default), on one thread and on every core, and OpenCV's\n"
    "cv::medianBlur where this program was built with OpenCV.  Checks that all\n"
    "give the same bytes as median_filter_pass (OpenCV: pixels at least 2 from\n"
    "every edge) and prints, per kernel and thread count, Mpixel/s, the share\n"
    "of the calibrated min/max bound at its vector width, and the speed-up over\n"
    "median_filter_pass.\n"
    "\n"
    "  --rounds N  alternating rounds to take the medians over (default 7)\n"
    "  --json      print JSON instead of a Markdown table\n"
    "  --help      print this and exit\n"
    "\n"
    "Exit status: 0 when everything agrees, 1 when the image cannot be loaded\n"
    "or a result differs, 2 on a usage error.\n";

using Clock = std::chrono::steady_clock;

struct Options {
  std::string path = "input.jpg";
  int rounds = DEFAULT_ROUNDS;
  bool json = false;
};

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

struct Contender {
  Contender(std::string name_, const median::Kernel* kernel_, int vector_bits_, int threads_,
            std::function<void()> run_, std::function<long()> differences_)
      : name(std::move(name_)), kernel(kernel_), vector_bits(vector_bits_), threads(threads_),
        run(std::move(run_)), differences(std::move(differences_)) {}

  std::string name;
  const median::Kernel* kernel;  // null for OpenCV
  int vector_bits;
  int threads;
  std::function<void()> run;
  std::function<long()> differences;  // against the benchmark's kernel, after a run
  int calls_per_turn = 1;
  long differing = 0;                  // bytes (kernels) or interior pixels (OpenCV)
  std::vector<double> rate;            // Mpixel/s, one per round
  std::vector<double> percent_of_bound;
  std::vector<double> speedup;         // over median_filter_pass on as many threads
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

#ifdef MEDIAN_WITH_OPENCV
// OpenCV on horizontal strips, one per thread.  A strip is filtered with the
// two rows above and below it that its windows need (fewer at the image's
// edges, where OpenCV's own border applies as in the whole-image call), and
// only its own rows are kept, so the result equals the whole-image call.
class StripMedian {
 public:
  StripMedian(const cv::Mat& src, cv::Mat& dst, int strips)
      : src_(src), dst_(dst), strips_(strips), scratch_(size_t(strips)) {}

  void operator()() {
    cv::parallel_for_(cv::Range(0, strips_), [this](const cv::Range& range) {
      for (int s = range.start; s < range.end; ++s) strip(s);
    }, strips_);
  }

 private:
  void strip(int s) {
    const int rows = src_.rows;
    const int first = rows * s / strips_, end = rows * (s + 1) / strips_;
    const int top = std::max(0, first - RADIUS), bottom = std::min(rows, end + RADIUS);
    cv::medianBlur(src_.rowRange(top, bottom), scratch_[size_t(s)], KSIZE);
    scratch_[size_t(s)].rowRange(first - top, end - top).copyTo(dst_.rowRange(first, end));
  }

  const cv::Mat& src_;
  cv::Mat& dst_;
  int strips_;
  std::vector<cv::Mat> scratch_;  // kept between calls: no allocation once warm
};

// Pixels at least RADIUS from every edge where `expected` (w x h x 3 bytes)
// and OpenCV's `theirs` differ.
long interior_mismatches(const std::vector<uint8_t>& expected, const cv::Mat& theirs) {
  const int w = theirs.cols, h = theirs.rows;
  long bad = 0;
  for (int y = RADIUS; y < h - RADIUS; ++y) {
    const uint8_t* a = expected.data() + size_t(y) * w * CHANNELS;
    const uint8_t* b = theirs.ptr<uint8_t>(y);
    for (int x = RADIUS; x < w - RADIUS; ++x)
      bad += std::memcmp(a + x * CHANNELS, b + x * CHANNELS, CHANNELS) != 0;
  }
  return bad;
}
#endif

long differing_bytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  long n = 0;
  for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
  return n;
}

// "rounds" must be a whole number from 1 up.
bool parse_rounds(const char* text, int* rounds) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > 100000) return false;
  *rounds = int(n);
  return true;
}

// 0: run; 1: --help printed; 2: usage error printed.
int parse_options(int argc, char** argv, Options* options) {
  bool have_path = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      return 1;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--rounds" || arg.compare(0, 9, "--rounds=") == 0) {
      const char* value = arg == "--rounds" ? (i + 1 < argc ? argv[++i] : "") : argv[i] + 9;
      if (!parse_rounds(value, &options->rounds)) {
        std::fprintf(stderr, "median_compare: --rounds wants a whole number from 1 up, not '%s'\n",
                     value);
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

// A Markdown table whose columns line up in a terminal as well.
void print_table(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right) {
  std::vector<size_t> width(rows[0].size(), 3);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  auto print_row = [&](const std::vector<std::string>& row) {
    for (size_t c = 0; c < row.size(); ++c)
      std::printf(right[c] ? "| %*s " : "| %-*s ", int(width[c]), row[c].c_str());
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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int parsed = parse_options(argc, argv, &options)) return parsed == 1 ? 0 : 2;

  // Decode the image as the benchmark program does, into the zero-bordered
  // frame every kernel reads.
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
  const int32_t padded_width = w + 2 * RADIUS;
  const size_t row_bytes = size_t(w) * CHANNELS, padded_row_bytes = size_t(padded_width) * CHANNELS;
  std::vector<uint8_t> padded(padded_row_bytes * size_t(h + 2 * RADIUS), 0);
  const uint8_t* pixels = ilGetData();
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(&padded[size_t(y + RADIUS) * padded_row_bytes + RADIUS * CHANNELS],
                pixels + size_t(y) * row_bytes, row_bytes);
#ifdef MEDIAN_WITH_OPENCV
  cv::Mat src(h, w, CV_8UC3);  // DevIL's RGB as is: the median treats channels alike
  std::memcpy(src.data, pixels, row_bytes * size_t(h));
#endif
  ilDeleteImages(1, &image);

  const int cores = omp_get_num_procs();
  std::vector<int> thread_counts = {1};
  if (cores > 1) thread_counts.push_back(cores);

  // What every kernel must reproduce.
  const median::Kernel& benchmark_kernel = *median::find_kernel("network_avx");
  std::vector<uint8_t> expected(row_bytes * size_t(h)), filtered(expected.size());
  median_filter_pass(h, w, padded_width, padded.data(), expected.data());

  std::vector<Contender> contenders;
  std::vector<const median::Kernel*> skipped;
  for (const median::Kernel& k : median::kernels()) {
    if (k.lane != median::Lane::u8) continue;
    if (!median::is_supported(k)) {
      skipped.push_back(&k);
      continue;
    }
    for (const int threads : thread_counts) {
      contenders.emplace_back(k.name, &k, k.vector_bits, threads,
                              [&, pass = k.pass, threads] {
                                omp_set_num_threads(threads);
                                pass(h, w, padded_width, padded.data(), filtered.data());
                              },
                              [&] { return differing_bytes(filtered, expected); });
    }
  }
#ifdef MEDIAN_WITH_OPENCV
  // OpenCV chooses its vectors at run time; OPENCV_CPU_DISABLE=AVX2 holds
  // it to 128 bits.
  const int opencv_bits = cv::checkHardwareSupport(CV_CPU_AVX2) ? 256 : 128;
  cv::Mat default_out, strip_out(src.size(), src.type());
  cv::setNumThreads(cores);
  StripMedian strips(src, strip_out, cores);
  contenders.emplace_back("cv::medianBlur, default call", nullptr, opencv_bits, 1,
                          [&] { cv::medianBlur(src, default_out, KSIZE); },
                          [&] { return interior_mismatches(expected, default_out); });
  if (cores > 1)
    contenders.emplace_back("cv::medianBlur, row strips", nullptr, opencv_bits, cores,
                            std::ref(strips), [&] { return interior_mismatches(expected, strip_out); });
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
  std::vector<std::vector<double>> peaks(std::size(WIDTHS));  // Gop/s per width, per round
  std::vector<double> clock_ghz;                              // per round
  auto width_index = [](int bits) { return bits == 128 ? 0 : bits == 256 ? 1 : 2; };
  auto baseline_of = [&](int threads) {
    for (size_t i = 0; i < contenders.size(); ++i)
      if (contenders[i].kernel == &benchmark_kernel && contenders[i].threads == threads) return i;
    return size_t(0);
  };

  const double mpixels = double(w) * h / 1e6;
  const double groups = double(row_bytes) * h / GROUP_BYTES;
  for (int r = 0; r < options.rounds; ++r) {
    if (!options.json) std::fprintf(stderr, "round %d of %d\n", r + 1, options.rounds);
    std::vector<calibration::Bracket> brackets;
    for (const int bits : widths) brackets.emplace_back(bits);
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
    for (size_t i = 0; i < contenders.size(); ++i) {
      Contender& c = contenders[i];
      c.rate.push_back(mpixels / seconds[i]);
      c.speedup.push_back(seconds[baseline_of(c.threads)] / seconds[i]);
      if (c.kernel)
        c.percent_of_bound.push_back(100 * c.kernel->minmax_per_16_bytes * groups / seconds[i] /
                                     (peak[width_index(c.vector_bits)] * c.threads));
    }
  }
  // Every contender once more, checked again: a fault that depends on
  // timing between threads may show only in some runs.
  for (Contender& c : contenders) {
    c.run();
    c.differing = std::max(c.differing, c.differences());
  }

  // The library's automatic choice against the faster OpenCV configuration,
  // on every core, round by round.
  const median::Kernel& fastest = median::fastest_kernel();
  std::vector<double> fastest_over_opencv;
  size_t fastest_index = contenders.size();
  for (size_t i = 0; i < contenders.size(); ++i)
    if (contenders[i].kernel == &fastest && contenders[i].threads == thread_counts.back())
      fastest_index = i;
  bool have_opencv = false;
  for (int r = 0; r < options.rounds && fastest_index < contenders.size(); ++r) {
    double best_opencv = 0;
    for (const Contender& c : contenders)
      if (!c.kernel) best_opencv = std::max(best_opencv, c.rate[size_t(r)]);
    if (best_opencv > 0) {
      have_opencv = true;
      fastest_over_opencv.push_back(contenders[fastest_index].rate[size_t(r)] / best_opencv);
    }
  }

  bool all_agree = true;
  for (const Contender& c : contenders) {
    if (c.differing == 0) continue;
    all_agree = false;
    std::fprintf(stderr, "median_compare: %s on %d thread%s differs from median_filter_pass in %ld %s\n",
                 c.name.c_str(), c.threads, c.threads == 1 ? "" : "s", c.differing,
                 c.kernel ? "bytes" : "pixels at least 2 from every edge");
  }

  const Processor cpu = this_processor();
  if (options.json) {
    std::printf("{\n  \"image\": {\"path\": %s, \"width\": %d, \"height\": %d},\n",
                json_string(options.path).c_str(), w, h);
    std::printf("  \"processor\": {\"name\": %s, \"family\": %s, \"model\": %s, \"avx512\": %s},\n",
                json_string(cpu.name).c_str(), json_number(cpu.family).c_str(),
                json_number(cpu.model).c_str(), cpu.avx512 ? "true" : "false");
    std::printf("  \"cores\": %d,\n  \"rounds\": %d,\n", cores, options.rounds);
    std::printf("  \"calibration\": [");
    for (size_t i = 0; i < widths.size(); ++i)
      std::printf("%s\n    {\"vector_bits\": %d, \"peak_gop_per_s\": %s}", i ? "," : "", widths[i],
                  json_spread(spread_of(peaks[width_index(widths[i])])).c_str());
    std::printf("\n  ],\n  \"clock_ghz\": %s,\n  \"benchmark_kernel\": %s,\n  \"fastest_kernel\": %s,\n",
                json_spread(spread_of(clock_ghz)).c_str(), json_string(benchmark_kernel.name).c_str(),
                json_string(fastest.name).c_str());
    std::printf("  \"kernels\": [");
    bool first = true;
    for (const median::Kernel& k : median::kernels()) {
      if (k.lane != median::Lane::u8 || !median::is_supported(k)) continue;
      long differing = 0;
      std::string runs;
      for (const Contender& c : contenders) {
        if (c.kernel != &k) continue;
        differing = std::max(differing, c.differing);
        runs += std::string(runs.empty() ? "" : ",") + "\n        {\"threads\": " +
                std::to_string(c.threads) + ", \"mpixel_per_s\": " + json_spread(spread_of(c.rate)) +
                ", \"percent_of_bound\": " + json_spread(spread_of(c.percent_of_bound)) +
                ", \"speedup\": " + json_spread(spread_of(c.speedup)) + "}";
      }
      std::printf("%s\n    {\"name\": %s, \"isa\": %s, \"vector_bits\": %d, "
                  "\"minmax_per_16_bytes\": %.4g, \"identical\": %s, \"differing_bytes\": %ld,\n"
                  "      \"runs\": [%s\n      ]}",
                  first ? "" : ",", json_string(k.name).c_str(), json_string(k.isa).c_str(),
                  k.vector_bits, k.minmax_per_16_bytes, differing == 0 ? "true" : "false",
                  differing, runs.c_str());
      first = false;
    }
    std::printf("\n  ],\n  \"skipped\": [");
    for (size_t i = 0; i < skipped.size(); ++i)
      std::printf("%s\n    {\"name\": %s, \"isa\": %s, \"reason\": %s}", i ? "," : "",
                  json_string(skipped[i]->name).c_str(), json_string(skipped[i]->isa).c_str(),
                  json_string(std::string("needs ") + skipped[i]->isa +
                              ", which this processor lacks").c_str());
    std::printf("\n  ],\n  \"opencv\": ");
#ifdef MEDIAN_WITH_OPENCV
    std::printf("{\"version\": %s, \"vector_bits\": %d, \"runs\": [", json_string(CV_VERSION).c_str(),
                opencv_bits);
    first = true;
    for (const Contender& c : contenders) {
      if (c.kernel) continue;
      std::printf("%s\n      {\"name\": %s, \"threads\": %d, \"mpixel_per_s\": %s, \"speedup\": %s, "
                  "\"differing_interior_pixels\": %ld}",
                  first ? "" : ",", json_string(c.name).c_str(), c.threads,
                  json_spread(spread_of(c.rate)).c_str(), json_spread(spread_of(c.speedup)).c_str(),
                  c.differing);
      first = false;
    }
    std::printf("\n    ], \"fastest_kernel_over_faster_opencv\": %s}",
                json_spread(spread_of(fastest_over_opencv)).c_str());
#else
    std::printf("null");
#endif
    std::printf(",\n  \"all_agree\": %s\n}\n", all_agree ? "true" : "false");
    return all_agree ? 0 : 1;
  }

  std::printf("Image: %s, %dx%d, on %s (family %s, model %s, %s), %d core%s; median of %d "
              "alternating round%s (lowest..highest).\n",
              base_name(options.path).c_str(), w, h, cpu.name.c_str(), cpu.family.c_str(),
              cpu.model.c_str(), cpu.avx512 ? "AVX-512" : "no AVX-512", cores, cores == 1 ? "" : "s",
              options.rounds, options.rounds == 1 ? "" : "s");
  const double ghz = spread_of(clock_ghz).median;
  std::printf("Calibrated min/max per core, at %.2f GHz:", ghz);
  for (size_t i = 0; i < widths.size(); ++i) {
    const double gops = spread_of(peaks[width_index(widths[i])]).median;
    std::printf("%s %d-bit %.2f Gop/s (%.1f per cycle)", i ? "," : "", widths[i], gops, gops / ghz);
  }
  std::printf(".\n\n");

  std::vector<std::vector<std::string>> rows = {{"Kernel", "Bits", "Min/max per 16 B", "Threads",
                                                 "Mpixel/s", "Spread", "% of bound",
                                                 "Speed-up"}};
  for (const Contender& c : contenders) {
    const Spread rate = spread_of(c.rate);
    rows.push_back({c.name,
                    std::to_string(c.vector_bits),
                    c.kernel ? format("%.2f", c.kernel->minmax_per_16_bytes) : "–",
                    std::to_string(c.threads), format("%.1f", rate.median),
                    format("%.1f", rate.lowest) + ".." + format("%.1f", rate.highest),
                    c.kernel ? format("%.1f %%", spread_of(c.percent_of_bound).median) : "–",
                    format("%.2f", spread_of(c.speedup).median)});
  }
  print_table(rows, {false, true, true, true, true, true, true, true});
  std::printf("\n%% of bound: min/max per 16 B x 16-byte groups per second / (calibrated rate at "
              "that width x threads).  Speed-up: over median_filter_pass on as many threads, "
              "round by round.\n");
#ifdef MEDIAN_WITH_OPENCV
  std::printf("OpenCV %s, its median on %d-bit vectors; its default call runs on one thread.\n",
              CV_VERSION, opencv_bits);
#endif
  for (const median::Kernel* k : skipped)
    std::printf("Skipped %s: needs %s, which this processor lacks.\n", k->name, k->isa);
  std::printf("median_filter_pass_fastest runs %s here.", fastest.name);
  if (have_opencv)
    std::printf("  On %d thread%s it runs %.2f× the faster OpenCV configuration.", thread_counts.back(),
                thread_counts.back() == 1 ? "" : "s", spread_of(fastest_over_opencv).median);
  std::printf("\n%s\n", all_agree ? "Every kernel gives the same bytes as median_filter_pass"
#ifdef MEDIAN_WITH_OPENCV
                                    "; OpenCV agrees on every pixel at least 2 from every edge."
#else
                                    "."
#endif
                                  : "Results differ: see the messages above.");
  return all_agree ? 0 : 1;
}
