// SPDX-License-Identifier: MIT
//
// The benchmark: load "input.jpg", run the 5x5 median filter over it
// NUM_RUNS times, report the elapsed time and throughput, save "output.jpg".
// Failures go to standard error as one line naming the file, with exit
// status 1; an existing "output.jpg" is only ever replaced by a complete file.

#include <IL/il.h>
#include <IL/ilu.h>
#include <cstdio>
#include <string>

#include "benchmark.h"

namespace {

constexpr int NUM_RUNS = 200;

const char* const INPUT_FILE = "input.jpg";
const char* const OUTPUT_FILE = "output.jpg";

}  // namespace

int main() {
  ilInit();
  iluInit();
  std::string error;
  if (!run_benchmark(INPUT_FILE, OUTPUT_FILE, NUM_RUNS, stdout, &error)) {
    std::fprintf(stderr, "median_bench: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
