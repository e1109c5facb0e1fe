#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""median_compare as a user runs it: its JSON on a real image, and its
one-line refusals.  Checks what the program claims against what this
processor offers (/proc/cpuinfo), not against the program's own tables.

Usage: median_compare_test.py MEDIAN_COMPARE json IMAGE DEPTH [WINDOW]
       median_compare_test.py MEDIAN_COMPARE refuses PATH
       median_compare_test.py MEDIAN_COMPARE refuses-windows IMAGE
"""

import json
import os
import subprocess
import sys


def cpu_flags():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("flags"):
                return set(line.split(":", 1)[1].split())
    return set()


def has(flags, isa):
    """Whether the processor runs an instruction set named as the kernels
    name theirs ("none" is plain C++)."""
    return isa == "none" or {"sse4.1": "sse4_1"}.get(isa, isa) in flags


def check(condition, message):
    if not condition:
        sys.exit("FAIL: " + message)


def opencv_has(depth, width, height):
    """Whether cv::medianBlur computes the window: square from 3x3, any size
    for 8 bits, 3x3 and 5x5 only for 16 bits and floats."""
    return width == height and width >= 3 and (depth == "u8" or width <= 5)


def json_run(program, image, depth, window="5"):
    columns, _, rows = window.partition("x")
    width, height = int(columns), int(rows or columns)
    run = subprocess.run([program, "--json", "--rounds", "1", "--depth", depth, "--window", window, image],
                         capture_output=True, text=True)
    check(run.returncode == 0, f"exit status {run.returncode}; stderr: {run.stderr}")
    report = json.loads(run.stdout)
    flags = cpu_flags()
    cores = os.cpu_count()
    threads = sorted({1, cores})

    names = [k["name"] for k in report["kernels"]]
    skipped = [k["name"] for k in report["skipped"]]
    check(len(set(names + skipped)) == len(names + skipped), f"a kernel listed twice: {names} {skipped}")
    check(report["depth"] == depth, f"depth {report['depth']}, not {depth}")
    check(report["window"] == {"width": width, "height": height},
          f"window {report['window']}, not {width} columns by {height} rows")
    checked = report["baseline_checked"]
    check(checked["sampled_elements"] > 0 and checked["differing_elements"] == 0,
          f"the reference against a direct selection: {checked}")
    suffix = {"u8": "", "u16": "_u16", "f32": "_f32"}[depth]
    check(all(n.endswith(suffix) and (suffix or not n.endswith(("_u16", "_f32"))) for n in names + skipped),
          f"kernels of another depth listed: {names}")
    check(report["baseline_kernel"] in names, "the baseline kernel is missing")
    check(report["fastest_kernel"] in names, "the automatic choice is not among the kernels run")
    for k in report["skipped"]:
        check(not has(flags, k["isa"]), f"{k['name']} skipped although the processor has {k['isa']}")
        check(k["reason"], f"{k['name']} skipped without a reason")
    for k in report["kernels"]:
        check(has(flags, k["isa"]), f"{k['name']} ran although the processor lacks {k['isa']}")
        check(k["identical"] and k["differing_elements"] == 0, f"{k['name']} differs")
        vectors = k["vector_bits"] is not None
        check(vectors or (k["minmax_per_16_bytes"], k["loads_per_vector"]) == (None, None),
              f"{k['name']}: figures of vectors without vectors")
        check(not vectors or (k["loads_per_vector"] >= 1 and k["stores_per_vector"] >= 1),
              f"{k['name']}: memory accesses per vector missing")
        bounded = k["minmax_per_16_bytes"] is not None
        check(sorted(r["threads"] for r in k["runs"]) == threads,
              f"{k['name']} ran on {[r['threads'] for r in k['runs']]} threads, not {threads}")
        for r in k["runs"]:
            check(r["mpixel_per_s"]["median"] > 0, f"{k['name']}: no rate")
            if bounded:
                check(0 < r["percent_of_bound"]["median"] <= 150, f"{k['name']}: % of bound "
                      f"{r['percent_of_bound']['median']} is not a share of a bound")
            else:
                check(r["percent_of_bound"] is None, f"{k['name']}: a share of a bound it lacks")
    check(any(k["every_window"] for k in report["kernels"]),
          "no kernel of every window ran, though one serves every window anywhere")
    widths = {c["vector_bits"] for c in report["calibration"]}
    check({k["vector_bits"] for k in report["kernels"]} - {None} <= widths,
          "a kernel's width was not calibrated")
    check(report["processor"]["avx512"] == ("avx512bw" in flags), "AVX-512 reported wrongly")
    sections = {r["section"] for r in report["runs"]}
    check("call" in sections, "no call of median_filter was timed")
    check(("opencv" in sections) == (report["opencv"] is not None and opencv_has(depth, width, height)),
          f"OpenCV {'ran' if 'opencv' in sections else 'did not run'} at {window} and {depth}")
    for r in report["runs"]:
        check(r["differing_elements"] == 0, f"{r['name']} ({r['channels']} channels) differs")
    calls = {(r["channels"], r["border"]) for r in report["runs"] if r["section"] == "call"}
    check({(c, "replicate") for c in (1, 3, 4)} <= calls and
          {(3, b) for b in ("zero", "replicate", "reflect_101", "reflect")} <= calls,
          f"calls timed: {sorted(calls)}")
    check((len(report["border_cost"]) > 0) == (depth == "u8" and (width, height) == (5, 5)),
          "border cost only at 5x5 and 8 bits")
    check(report["all_agree"], "all_agree is false")


def refuses(program, path):
    run = subprocess.run([program, path], capture_output=True, text=True)
    check(run.returncode == 1, f"exit status {run.returncode}, not 1")
    lines = run.stderr.splitlines()
    check(len(lines) == 1 and path in lines[0], f"stderr is not one line naming {path}: {run.stderr!r}")
    check(run.stdout == "", f"printed {run.stdout!r}")


def refuses_windows(program, image):
    """Even sides, 0, past 255, and what is no window: one line naming the
    value, exit status 2, before the image is even read."""
    for window in ["4", "0", "257", "abc", "9x4", "3x", "x3", "3x3x3", ""]:
        run = subprocess.run([program, "--window", window, image], capture_output=True, text=True)
        check(run.returncode == 2, f"--window {window!r}: exit status {run.returncode}, not 2")
        lines = run.stderr.splitlines()
        check(len(lines) == 1 and f"'{window}'" in lines[0],
              f"--window {window!r}: stderr is not one line naming it: {run.stderr!r}")
        check(run.stdout == "", f"--window {window!r}: printed {run.stdout!r}")


if __name__ == "__main__":
    program, mode = sys.argv[1:3]
    {"json": json_run, "refuses": refuses, "refuses-windows": refuses_windows}[mode](program, *sys.argv[3:])
