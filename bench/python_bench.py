#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""median5x5 from Python beside scipy.ndimage.median_filter and
cv2.medianBlur, on one thread and on every core, and what the module adds to
the engine's C call.  Writes Markdown tables to standard output, or to OUTPUT.

  /usr/bin/python3 bench/python_bench.py [--build DIR] [--rounds N]
                                         [--scipy-rounds N] [OUTPUT.md]

Needs the module built (build/ by default), NumPy, SciPy and OpenCV's
Python binding (Debian: python3-numpy python3-scipy python3-opencv).

Each thread count runs in a process of its own, with OMP_NUM_THREADS (the
engine's OpenMP) and cv2.setNumThreads set before any filtering.  Every
comparison is a pair of calls made one right after the other, in the
opposite order from the round before; each ratio is taken within a round
and the tables give the median over rounds.  Each filter is timed both
returning a new array (as most callers use it, paying for the fresh pages)
and writing into one allocated once (out= and dst=).  median5x5 and
cv2.medianBlur filter the bundled 16-megapixel photo; scipy, some hundred
times slower, filters its top-left 1920x1080 crop, and median5x5 is timed on
that crop right before and after each scipy call.  Every result is checked
against the others first (the same border: scipy "nearest" is OpenCV's
replicated edge).

The module's cost on top of the C call: median5x5_u8 is called on the same
arrays through ctypes (the module keeps the engine's C symbols visible), and
paired with median5x5(a, out=b), and with median5x5(a) against the C call
into a new np.empty_like(a).  Those differences drown in the noise of a
16-megapixel call, so the fixed cost per call is measured too: a 1x1 image,
many calls in a row, module minus ctypes, as a share of the C call (and, as
a bound that includes the engine's own fixed cost, the whole 1x1 call).
"""

import argparse
import ctypes
import datetime
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PHOTO = os.path.join(ROOT, "data", "06-photo-5312x2988-dandelions-16mp-progressive.jpg")
CROP = (1080, 1920)  # rows, columns
CROP_CALLS = 5       # median5x5 calls on the crop before and after each scipy call
TINY_CALLS = 20000   # 1x1 calls per round for the fixed cost


def timed(function, calls):
    """Median seconds of `calls` calls."""
    times = []
    for _ in range(calls):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def per_call(function, calls):
    """Mean seconds per call over `calls` calls in a row."""
    start = time.perf_counter()
    for _ in range(calls):
        function()
    return (time.perf_counter() - start) / calls


def worker(threads, rounds, scipy_rounds):
    """Runs in its own process, OMP_NUM_THREADS already set; prints JSON."""
    import cv2
    import numpy as np
    import scipy.ndimage as ndimage

    try:
        import median5x5
    except ImportError as e:
        sys.exit(f"{e}: build the module first (cmake --preset release && "
                 f"cmake --build --preset release), or name its build with --build")

    cv2.setNumThreads(threads)
    photo = cv2.imread(PHOTO, cv2.IMREAD_COLOR)
    if photo is None:
        sys.exit(f"cannot read {PHOTO}")
    crop = np.ascontiguousarray(photo[:CROP[0], :CROP[1]])

    # The C entry point itself, on the same memory, through ctypes.
    engine = ctypes.CDLL(median5x5._core.__file__)
    c_call = engine.median5x5_u8
    c_call.restype = ctypes.c_int
    c_call.argtypes = [ctypes.c_void_p, ctypes.c_ssize_t, ctypes.c_void_p, ctypes.c_ssize_t,
                       ctypes.c_int32, ctypes.c_int32, ctypes.c_int32, ctypes.c_int]
    REPLICATE = 1

    def through_ctypes(src, dst):
        h, w, c = src.shape
        status = c_call(src.ctypes.data, src.strides[0], dst.ctypes.data, dst.strides[0],
                        w, h, c, REPLICATE)
        assert status == 0, status

    out = np.empty_like(photo)
    tiny_a, tiny_out = np.zeros((1, 1, 3), np.uint8), np.zeros((1, 1, 3), np.uint8)
    # The ctypes arguments of the tiny call, made once: what is timed is the
    # call, not NumPy's .ctypes attribute.
    tiny_args = (tiny_a.ctypes.data, 3, tiny_out.ctypes.data, 3, 1, 1, 3, REPLICATE)

    ours = median5x5.median5x5(photo, "nearest")
    if not np.array_equal(ours, cv2.medianBlur(photo, 5)):
        sys.exit("median5x5 and cv2.medianBlur differ on the photo")
    through_ctypes(photo, out)
    if not np.array_equal(ours, out):
        sys.exit("the module and its C call differ on the photo")
    if not np.array_equal(median5x5.median5x5(crop, "nearest"),
                          ndimage.median_filter(crop, size=(5, 5, 1), mode="nearest")):
        sys.exit("median5x5 and scipy.ndimage.median_filter differ on the crop")

    cv2_out = np.empty_like(photo)
    if cv2.medianBlur(photo, 5, dst=cv2_out) is not cv2_out or not np.array_equal(ours, cv2_out):
        sys.exit("cv2.medianBlur with dst= did not fill dst with the same result")
    filters = {
        "median5x5": lambda: median5x5.median5x5(photo, "nearest"),
        "cv2": lambda: cv2.medianBlur(photo, 5),
        "median5x5_out": lambda: median5x5.median5x5(photo, "nearest", out=out),
        "cv2_out": lambda: cv2.medianBlur(photo, 5, dst=cv2_out),
        "ctypes": lambda: through_ctypes(photo, out),
        "ctypes_new": lambda: through_ctypes(photo, np.empty_like(photo)),
    }
    # Each comparison is timed as a pair of calls right after one another,
    # in the opposite order from the round before, so that neither the
    # machine's drift nor what ran just before (another library's idle
    # threads, a large array just freed) favours one side.
    pairs = {
        "cv2": ("median5x5", "cv2"),
        "cv2_out": ("median5x5_out", "cv2_out"),
        "c_out": ("median5x5_out", "ctypes"),
        "c_new": ("median5x5", "ctypes_new"),
    }
    tiny = {"tiny_module": lambda: median5x5.median5x5(tiny_a, "nearest", out=tiny_out),
            "tiny_ctypes": lambda: c_call(*tiny_args)}
    samples = {key: ([], []) for key in [*pairs, "tiny", "scipy"]}
    for r in range(rounds):
        order = (0, 1) if r % 2 == 0 else (1, 0)
        for key, names in pairs.items():
            for i in order:
                samples[key][i].append(timed(filters[names[i]], 1))
        for i in order:
            samples["tiny"][i].append(per_call(list(tiny.values())[i], TINY_CALLS))
    # scipy takes seconds; median5x5 is timed on the same crop just before
    # and just after each of its calls.
    for _ in range(scipy_rounds):
        before = timed(lambda: median5x5.median5x5(crop, "nearest"), CROP_CALLS)
        start = time.perf_counter()
        ndimage.median_filter(crop, size=(5, 5, 1), mode="nearest")
        samples["scipy"][1].append(time.perf_counter() - start)
        after = timed(lambda: median5x5.median5x5(crop, "nearest"), CROP_CALLS)
        samples["scipy"][0].append((before + after) / 2)
    json.dump({"threads": threads, "photo": list(photo.shape), "crop": list(crop.shape),
               "samples": samples, "numpy": np.__version__,
               "scipy": __import__("scipy").__version__, "opencv": cv2.__version__,
               "opencv_threads": cv2.getNumThreads()}, sys.stdout)


def processor():
    try:
        with open("/proc/cpuinfo") as f:
            info = f.read()
    except OSError:
        return platform.processor() or "unknown processor"
    field = lambda name: (re.search(rf"^{name}\s*:\s*(.*)$", info, re.M) or [None, "?"])[1].strip()
    avx512 = "AVX-512BW" if re.search(r"^flags\s*:.*\bavx512bw\b", info, re.M) else "no AVX-512BW"
    return f"{field('model name')} (family {field('cpu family')}, model {field('model')}, {avx512})"


def median_ratio(numerators, denominators):
    return statistics.median(n / d for n, d in zip(numerators, denominators))


def report(runs, rounds, scipy_rounds):
    first = runs[0]
    h, w, _ = first["photo"]
    ch, cw, _ = first["crop"]
    mpix = lambda pixels, seconds: f"{pixels / statistics.median(seconds) / 1e6:.1f}"
    load = os.getloadavg()[0]
    lines = [
        f"Measured {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC on "
        f"{processor()}, {os.cpu_count()} cores, Linux {platform.release()}; Python "
        f"{platform.python_version()}, NumPy {first['numpy']}, SciPy {first['scipy']}, "
        f"OpenCV {first['opencv']}; load average {load:.2f} at the end. Median of {rounds} "
        f"rounds ({scipy_rounds} for scipy); ratios are taken within each round. `b` is an "
        f"array allocated once; without it every call returns a new one, whose fresh pages "
        f"the filter faults in. scipy filters "
        f"the photo's top-left {cw}x{ch} crop (it takes seconds), median5x5 is timed on the "
        f"same crop around it; the rest filter the whole {w}x{h} photo. Every filter uses the "
        f"replicated edge (mode \"nearest\").",
        "",
        "| Filter | Image | Threads | Mpixel/s | median5x5 is faster by |",
        "|---|---|---:|---:|---:|",
    ]
    photo_name, crop_name = f"{w}x{h}x3 uint8", f"{cw}x{ch}x3 uint8"
    for run in runs:
        s, t = run["samples"], run["threads"]
        ours = lambda key, pixels: mpix(pixels, s[key][0])
        ratio = lambda key: median_ratio(s[key][1], s[key][0])
        theirs = lambda key, pixels: (f"{mpix(pixels, s[key][1])} | "
                                      f"{ratio(key):.{0 if ratio(key) >= 100 else 2}f}x")
        lines += [
            f"| `median5x5(a)` | {photo_name} | {t} | {ours('cv2', w * h)} | |",
            f"| `cv2.medianBlur(a, 5)` | {photo_name} | {t} | {theirs('cv2', w * h)} |",
            f"| `median5x5(a, out=b)` | {photo_name} | {t} | {ours('cv2_out', w * h)} | |",
            f"| `cv2.medianBlur(a, 5, dst=b)` | {photo_name} | {t} | {theirs('cv2_out', w * h)} |",
            f"| `median5x5(a)` | {crop_name} | {t} | {ours('scipy', cw * ch)} | |",
            f"| `scipy.ndimage.median_filter(a, size=(5, 5, 1))` | {crop_name} | 1 | "
            f"{theirs('scipy', cw * ch)} |",
        ]
    lines += [
        "",
        f"What the module adds to the C call, on the {w}x{h}x3 photo:",
        "",
        "| Call | Threads | ms per call | Beyond the same C call |",
        "|---|---:|---:|---:|",
    ]
    for run in runs:
        s, t = run["samples"], run["threads"]
        ms = lambda seconds: f"{statistics.median(seconds) * 1e3:.2f}"
        us = lambda seconds: f"{statistics.median(seconds) * 1e6:.2f}"
        beyond = lambda key: f"{(median_ratio(s[key][0], s[key][1]) - 1) * 100:+.1f}%"
        module, c = s["tiny"]
        c_call = s["c_out"][1]
        fixed_share = statistics.median((m - k) / x for m, k, x in zip(module, c, c_call))
        whole_share = median_ratio(module, c_call)
        lines += [
            f"| `median5x5_u8` through ctypes, into `b` | {t} | {ms(s['c_out'][1])} | |",
            f"| `median5x5(a, out=b)` | {t} | {ms(s['c_out'][0])} | {beyond('c_out')} |",
            f"| `median5x5_u8` through ctypes, into `np.empty_like(a)` | {t} | "
            f"{ms(s['c_new'][1])} | |",
            f"| `median5x5(a)`, a new array each call | {t} | {ms(s['c_new'][0])} | "
            f"{beyond('c_new')} |",
            f"| fixed cost per call, on a 1x1 image: module {us(module)} µs, ctypes {us(c)} µs; "
            f"the difference (the whole module call) | {t} | | "
            f"{fixed_share * 100:.4f}% ({whole_share * 100:.4f}%) |",
        ]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", help="Markdown file to write (default: stdout)")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"),
                        help="the CMake build holding python/median5x5/ (default: build/)")
    parser.add_argument("--rounds", type=int, default=15, help="rounds of the fast filters")
    parser.add_argument("--scipy-rounds", type=int, default=3, help="calls of scipy")
    parser.add_argument("--worker", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    args.rounds, args.scipy_rounds = max(1, args.rounds), max(1, args.scipy_rounds)

    if args.worker:
        worker(args.worker, args.rounds, args.scipy_rounds)
        return
    runs = []
    for threads in sorted({1, os.cpu_count()}):
        path = [os.path.join(args.build, "python"), os.environ.get("PYTHONPATH", "")]
        env = dict(os.environ, OMP_NUM_THREADS=str(threads),
                   PYTHONPATH=os.pathsep.join(p for p in path if p))
        print(f"{threads} thread(s)...", file=sys.stderr)
        run = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker", str(threads),
                              "--rounds", str(args.rounds), "--scipy-rounds",
                              str(args.scipy_rounds)], env=env, stdout=subprocess.PIPE)
        if run.returncode != 0:
            sys.exit(run.returncode)  # the worker has said why
        runs.append(json.loads(run.stdout))
    table = report(runs, args.rounds, args.scipy_rounds)
    if args.output:
        with open(args.output, "w") as f:
            f.write(table)
    else:
        sys.stdout.write(table)


if __name__ == "__main__":
    main()
