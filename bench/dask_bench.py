#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""dask_median_filter on dask's threaded scheduler against median_filter on
the whole image in memory, on the same cores.  Prints a Markdown table.

  PYTHONPATH=build/python /usr/bin/python3 bench/dask_bench.py \\
      [--size HxW] [--chunk N] [--windows 5,15] [--rounds N]

A random HxWx3 uint8 image (4096x4096 by default) is filtered whole by
median_filter(a, size, out=b) on OpenMP's threads (every core unless
OMP_NUM_THREADS says otherwise), and, as a dask array in NxN chunks (1024),
by dask_median_filter stored into an array of its own with dask.array.store
on the threaded scheduler (a thread per core, one OpenMP thread per chunk).
Both write into memory allocated and touched beforehand.  Each round times
the two one right after the other, in the opposite order from the round
before; the ratio of the two is taken within each round, and the table gives
medians over rounds.  The results are checked equal first.  For scale, the
last column is dask.array.store of the unfiltered chunks into the same
array: what the scheduler and the copy out cost without any filtering.

Needs the package median5x5 (PYTHONPATH=build/python after the release
build), NumPy and Debian's python3-dask.
"""

import argparse
import os
import platform
import statistics
import time

import numpy as np
import dask.array as da

from median5x5 import dask_median_filter, median_filter


def processor():
    """The processor's name, family, model and whether it has AVX-512BW."""
    fields = {}
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                fields.setdefault(key.strip(), value.strip())
    except OSError:
        return platform.processor() or "unknown processor"
    avx512 = "AVX-512BW" if "avx512bw" in fields.get("flags", "").split() else "no AVX-512BW"
    return (f"{fields.get('model name', 'unknown')} (family {fields.get('cpu family', '?')}, "
            f"model {fields.get('model', '?')}, {avx512})")


def size_of(text):
    rows, columns = (int(n) for n in text.lower().split("x"))
    return rows, columns


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=size_of, default=(4096, 4096), help="HxW (4096x4096)")
    parser.add_argument("--chunk", type=int, default=1024, help="side of a chunk (1024)")
    parser.add_argument("--windows", default="5,15", help="window sides (5,15)")
    parser.add_argument("--rounds", type=int, default=15, help="rounds per window (15)")
    args = parser.parse_args()

    shape = args.size + (3,)
    a = np.random.default_rng(1).integers(0, 256, shape, dtype=np.uint8)
    x = da.from_array(a, chunks=(args.chunk, args.chunk, 3))
    whole, chunked = np.ones_like(a), np.ones_like(a)
    megapixels = shape[0] * shape[1] / 1e6

    def run_whole(size):
        median_filter(a, size, out=whole)

    def run_dask(size):
        da.store(dask_median_filter(x, size), chunked, lock=False, scheduler="threads")

    def run_store():
        da.store(x, chunked, lock=False, scheduler="threads")

    print(f"{processor()}, {os.cpu_count()} cores; {'x'.join(map(str, shape))} uint8 "
          f"in {args.chunk}x{args.chunk}x3 chunks, {max(1, args.rounds)} rounds\n")
    print("| Window | median_filter, whole image | dask_median_filter, threaded | "
          "Ratio (median of rounds) | Ratio range | dask.array.store, unfiltered |")
    print("|---|---:|---:|---:|---:|---:|")
    for size in (int(s) for s in args.windows.split(",")):
        run_whole(size)
        run_dask(size)
        assert np.array_equal(whole, chunked), "the two results differ"
        times = {"whole": [], "dask": [], "store": []}
        ratios = []
        for round in range(max(1, args.rounds)):
            order = [("whole", lambda: run_whole(size)), ("dask", lambda: run_dask(size))]
            for label, run in order if round % 2 == 0 else order[::-1]:
                start = time.perf_counter()
                run()
                times[label].append(time.perf_counter() - start)
            ratios.append(times["whole"][-1] / times["dask"][-1])
            start = time.perf_counter()
            run_store()
            times["store"].append(time.perf_counter() - start)
        mpx = {k: megapixels / statistics.median(v) for k, v in times.items()}
        print(f"| {size}x{size} | {mpx['whole']:.1f} Mpixel/s | {mpx['dask']:.1f} Mpixel/s | "
              f"{statistics.median(ratios) * 100:.0f} % | "
              f"{min(ratios) * 100:.0f}..{max(ratios) * 100:.0f} % | "
              f"{mpx['store']:.1f} Mpixel/s |", flush=True)


if __name__ == "__main__":
    main()
