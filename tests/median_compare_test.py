#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""median_compare as a user runs it: its JSON on a real image, and its
one-line refusals.  Checks what the program claims against what this
processor offers (/proc/cpuinfo), not against the program's own tables.

Usage: median_compare_test.py MEDIAN_COMPARE json IMAGE
       median_compare_test.py MEDIAN_COMPARE refuses PATH
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


def json_run(program, image):
    run = subprocess.run([program, "--json", "--rounds", "1", image],
                         capture_output=True, text=True)
    check(run.returncode == 0, f"exit status {run.returncode}; stderr: {run.stderr}")
    report = json.loads(run.stdout)
    flags = cpu_flags()
    cores = os.cpu_count()
    threads = sorted({1, cores})

    names = [k["name"] for k in report["kernels"]]
    skipped = [k["name"] for k in report["skipped"]]
    check(len(set(names + skipped)) == len(names + skipped), f"a kernel listed twice: {names} {skipped}")
    check("network_avx" in names, "the benchmark's kernel is missing")
    check(report["fastest_kernel"] in names, "the automatic choice is not among the kernels run")
    for k in report["skipped"]:
        check(not has(flags, k["isa"]), f"{k['name']} skipped although the processor has {k['isa']}")
        check(k["reason"], f"{k['name']} skipped without a reason")
    for k in report["kernels"]:
        check(has(flags, k["isa"]), f"{k['name']} ran although the processor lacks {k['isa']}")
        check(k["identical"] and k["differing_bytes"] == 0, f"{k['name']} differs")
        check(sorted(r["threads"] for r in k["runs"]) == threads,
              f"{k['name']} ran on {[r['threads'] for r in k['runs']]} threads, not {threads}")
        for r in k["runs"]:
            check(r["mpixel_per_s"]["median"] > 0, f"{k['name']}: no rate")
            check(0 < r["percent_of_bound"]["median"] <= 150, f"{k['name']}: % of bound "
                  f"{r['percent_of_bound']['median']} is not a share of a bound")
    widths = {c["vector_bits"] for c in report["calibration"]}
    check({k["vector_bits"] for k in report["kernels"]} <= widths, "a kernel's width was not calibrated")
    check(report["processor"]["avx512"] == ("avx512bw" in flags), "AVX-512 reported wrongly")
    if report["opencv"] is not None:
        for r in report["opencv"]["runs"]:
            check(r["differing_interior_pixels"] == 0, f"{r['name']} differs")
    check(report["all_agree"], "all_agree is false")


def refuses(program, path):
    run = subprocess.run([program, path], capture_output=True, text=True)
    check(run.returncode == 1, f"exit status {run.returncode}, not 1")
    lines = run.stderr.splitlines()
    check(len(lines) == 1 and path in lines[0], f"stderr is not one line naming {path}: {run.stderr!r}")
    check(run.stdout == "", f"printed {run.stdout!r}")


if __name__ == "__main__":
    program, mode, path = sys.argv[1:4]
    {"json": json_run, "refuses": refuses}[mode](program, path)
