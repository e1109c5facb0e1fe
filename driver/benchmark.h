// SPDX-License-Identifier: MIT
//
// The benchmark from one file to another: load and check the image, build
// the zero-bordered frame, run the filter passes under the timer, report,
// copy the result back into the library's image and save it.  main runs it
// on "input.jpg" with 200 passes; the fuzz target runs the same path on
// arbitrary bytes with one pass, so both exercise exactly the same code.
#pragma once

#include <cstdio>
#include <string>

// Filters the image in `input_path` `runs` times and saves the result at
// `output_path`, which is only ever replaced by a complete file.  The four
// report lines go to `report`, called `report_name` in messages, or nowhere
// when it is null.  Returns false with *error set to one line
// "<name>: <cause>" naming the file at fault: the input (nothing has been
// printed), the output (the four lines have), or the report when its lines
// could not be written (the output is saved all the same).  The caller has
// called ilInit and iluInit; the image library keeps global state, so this
// runs on one thread at a time.
bool run_benchmark(const char* input_path, const char* output_path, int runs, std::FILE* report,
                   const char* report_name, std::string* error);
