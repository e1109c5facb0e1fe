#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Counts the memory accesses of every kernel per output vector, with
valgrind's callgrind: data reads and writes (its cache simulation's Dr and
Dw, one per load or store instruction whatever its width) inside the
kernels' band functions only, on 64 rows of 3 072 elements (kernel_probe),
divided by the output vectors computed.  Unlike the counts in the kernel table,
these include what the compiler spills for want of registers.  Valgrind does
not run AVX-512, so those kernels are left out.

Usage: memory_accesses.py KERNEL_PROBE [JSON_OUT]
Prints a Markdown table; with JSON_OUT also writes the figures as JSON.
"""

import json
import os
import subprocess
import sys
import tempfile


def count(probe, kernel):
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "callgrind.out")
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", "--cache-sim=yes", f"--callgrind-out-file={out}",
             "--collect-atstart=no", "--toggle-collect=*run_band<*", probe, kernel],
            capture_output=True, text=True, env=dict(os.environ, OMP_NUM_THREADS="1"))
        if run.returncode != 0:
            raise RuntimeError(f"{kernel}: {run.stderr.strip().splitlines()[-1:]}")
        vectors = float(run.stdout.split()[0])
        events, totals = None, None
        with open(out) as f:
            for line in f:
                if line.startswith("events:"):
                    events = line.split()[1:]
                elif line.startswith("totals:") or line.startswith("summary:"):
                    totals = [int(v) for v in line.split()[1:]]
        figures = dict(zip(events, totals))
        return {"loads": figures["Dr"] / vectors, "stores": figures["Dw"] / vectors,
                "instructions": figures["Ir"] / vectors}


def main():
    probe = sys.argv[1]
    listed = subprocess.run([probe, "--list"], capture_output=True, text=True, check=True)
    results = {}
    print("| Kernel | Loads per output vector | Stores per output vector | Instructions per output vector |")
    print("|---|---:|---:|---:|")
    for line in listed.stdout.splitlines():
        name, isa = line.split()
        if isa == "avx512bw":
            continue
        r = count(probe, name)
        results[name] = r
        print(f"| {name} | {r['loads']:.1f} | {r['stores']:.1f} | {r['instructions']:.0f} |", flush=True)
    if len(sys.argv) > 2:
        with open(sys.argv[2], "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
