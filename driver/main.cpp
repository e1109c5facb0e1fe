// SPDX-License-Identifier: MIT
//
// The benchmark: load "input.jpg", run the 5x5 median filter over it
// NUM_RUNS times, report the elapsed time and throughput, save "output.jpg".
// Failures go to standard error as one line naming the file (or standard
// output, when the report cannot be written), with exit status 1; an
// existing "output.jpg" is only ever replaced by a complete file.  A
// processor without AVX is refused before any of this (cpu_check.cpp).

#include <IL/il.h>
#include <IL/ilu.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "benchmark.h"

namespace {

constexpr int NUM_RUNS = 200;

const char* const INPUT_FILE = "input.jpg";
const char* const OUTPUT_FILE = "output.jpg";
const char* const REPORT_NAME = "standard output";

}  // namespace

int main() {
  ilInit();
  iluInit();
  std::string error;
  if (!run_benchmark(INPUT_FILE, OUTPUT_FILE, NUM_RUNS, stdout, REPORT_NAME, &error)) {
    std::fprintf(stderr, "median_bench: %s\n", error.c_str());
    return 1;
  }
  // run_benchmark has checked its report; whatever else reached standard
  // output must have arrived too before the run counts as a success.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "median_bench: %s: %s\n", REPORT_NAME, std::strerror(errno ? errno : EIO));
    return 1;
  }
  return 0;
}
