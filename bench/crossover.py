#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Where the kernels of every window take over from one another: the plain
sliding histogram (huang_portable, huang_portable_u16, huang_portable_f32)
against the vectorised histogram and rank kernels (histogram_<isa>,
rank_<isa>_u16, rank_<isa>_f32, the widest instruction set this processor
has), by window shape, at each depth, on one thread.  The automatic choice's
rule in median/kernels.cpp comes from this table.

  /usr/bin/python3 bench/crossover.py [--build DIR] [--rounds N] [IMAGE]

Needs the Python module built (build/ by default) and NumPy.  IMAGE is a
photo (the bundled 16-megapixel one by default, read with OpenCV's Python
binding); its top-left 960x540 crop is filtered as uint8, as uint16 (bytes
times 257) and as float32 (bytes divided by 255, so only 256 distinct
values, the sliding histogram's best case), and beside it uniform noise over
each depth's whole range (for floats, random bit patterns that are not
NaN), the other end.  Each kernel runs in a process of its own, forced with
MEDIAN_KERNEL, one thread; the two processes alternate, their order flipping
every round, and the ratio is taken within each round, the table giving the
median over rounds.  Writes a Markdown table to standard output.
"""

import argparse
import os
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Flat, tall and square windows: the sliding histogram's cost per output
# grows with the window's height, the vectorised kernels' hardly at all.
WINDOWS = [(3, 1), (63, 1), (127, 1), (255, 1), (15, 3), (63, 3), (127, 3), (255, 3),
           (63, 5), (255, 5), (127, 9), (255, 9), (255, 15), (1, 1), (3, 5), (1, 63),
           (17, 17), (63, 63)]

CHILD = r"""
import sys, time, numpy as np, median5x5
depth, photo, windows = sys.argv[1], sys.argv[2], eval(sys.argv[3])
rng = np.random.default_rng(7)
if photo == "noise":
    if depth == "f32":
        bits = rng.integers(0, 2**32, size=(540, 960, 3), dtype=np.uint64).astype(np.uint32)
        a = bits.view(np.float32)
        a[np.isnan(a)] = 0.5
    else:
        a = rng.integers(0, 256 if depth == "u8" else 65536, size=(540, 960, 3)).astype(
            np.uint8 if depth == "u8" else np.uint16)
else:
    import cv2
    b = cv2.imread(photo)[:540, :960]
    a = b if depth == "u8" else (b.astype(np.uint16) * 257 if depth == "u16" else
                                 b.astype(np.float32) / 255)
out = np.empty_like(a)
for w, h in windows:
    median5x5.median_filter(a, (h, w), out=out, threads=1)
    best = 1e9
    for _ in range(2):
        t = time.perf_counter()
        median5x5.median_filter(a, (h, w), out=out, threads=1)
        best = min(best, time.perf_counter() - t)
    print(a.shape[0] * a.shape[1] / best / 1e6)
"""


def run(build, kernel, depth, photo, windows):
    env = dict(os.environ, MEDIAN_KERNEL=kernel, OMP_NUM_THREADS="1",
               PYTHONPATH=os.path.join(build, "python"))
    done = subprocess.run([sys.executable, "-c", CHILD, depth, photo, repr(windows)], env=env,
                          capture_output=True, text=True, check=True)
    if done.stderr.strip():
        raise RuntimeError(done.stderr.strip())
    return [float(x) for x in done.stdout.split()]


def fast_kernel(build, depth):
    suffix = {"u8": "", "u16": "_u16", "f32": "_f32"}[depth]
    method = "histogram" if depth == "u8" else "rank"
    for isa in ("avx512bw", "avx2", "sse41", "neon"):
        name = f"{method}_{isa}{suffix}"
        try:
            run(build, name, depth, "noise", [(1, 1)])
            return name
        except (RuntimeError, subprocess.CalledProcessError):
            continue
    raise SystemExit(f"no vectorised kernel of every window runs here for {depth}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("image", nargs="?",
                        default=os.path.join(ROOT, "data",
                                             "06-photo-5312x2988-dandelions-16mp-progressive.jpg"))
    args = parser.parse_args()

    cpu = {}
    with open("/proc/cpuinfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            cpu.setdefault(key.strip(), value.strip())
            if key.strip() == "flags":
                cpu["avx512bw"] = "avx512bw" in value.split()
    print(f"{cpu.get('model name', '?')} (family {cpu.get('cpu family', '?')}, model "
          f"{cpu.get('model', '?')}, {'AVX-512BW' if cpu.get('avx512bw') else 'no AVX-512BW'}), "
          f"one thread, 960x540x3, median of {args.rounds} alternating rounds; Mpixel/s.\n")
    print("| Depth | Data | Window (columns x rows) | Sliding histogram | Vectorised | Vectorised is faster by |")
    print("|---|---|---|---:|---:|---:|")
    for depth in ("u8", "u16", "f32"):
        suffix = {"u8": "", "u16": "_u16", "f32": "_f32"}[depth]
        slow, fast = "huang_portable" + suffix, fast_kernel(args.build, depth)
        for data in ("photo", "noise"):
            source = args.image if data == "photo" else "noise"
            rates = {slow: [], fast: []}
            ratios = [[] for _ in WINDOWS]
            for r in range(args.rounds):
                order = (slow, fast) if r % 2 == 0 else (fast, slow)
                got = {k: run(args.build, k, depth, source, WINDOWS) for k in order}
                for k in order:
                    rates[k].append(got[k])
                for i in range(len(WINDOWS)):
                    ratios[i].append(got[fast][i] / got[slow][i])
            for i, (w, h) in enumerate(WINDOWS):
                s = statistics.median(x[i] for x in rates[slow])
                v = statistics.median(x[i] for x in rates[fast])
                print(f"| {depth} | {data} | {w}x{h} | {s:.1f} | {v:.1f} ({fast}) | "
                      f"{statistics.median(ratios[i]):.2f} |", flush=True)


if __name__ == "__main__":
    main()
