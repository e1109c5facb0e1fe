#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The Python module beside scipy.ndimage.median_filter and cv2.medianBlur,
on one thread and on every core: median_filter by window size at every depth,
median5x5 on a 16-megapixel photo, and what the module adds to the engine's C
call.  Writes Markdown tables to standard output, or to OUTPUT.

  /usr/bin/python3 bench/python_bench.py [--build DIR] [--rounds N]
                                         [--scipy-rounds N] [--windows K,K,...]
                                         [--window-rounds N] [OUTPUT.md]

Needs the module built (build/ by default), NumPy, SciPy and OpenCV's
Python binding (Debian: python3-numpy python3-scipy python3-opencv).

Each thread count runs in a process of its own, with OMP_NUM_THREADS (the
engine's OpenMP) and cv2.setNumThreads set before any filtering.

By window size (--windows, 3 to 255 by default): median_filter(a, K) on the
photo's top-left 1920x1080 crop as uint8, uint16 (bytes times 257) and
float32 (bytes divided by 255), each call returning a new array, paired in
every round with cv2.medianBlur(a, K) where OpenCV has that median (any odd
size from 3 for uint8, 3 and 5 for the others) -- its own call, which
runs on one thread, and on more threads also in horizontal strips
filtered at once from a thread pool, the ratio taken over the faster --
and up to SCIPY_LARGEST with scipy.ndimage.median_filter(a, size=(K, K, 1))
on a small crop, median_filter timed on the same crop just before and
after it (scipy's time grows with the window's area: at 63x63 it filters
some 0.008 Mpixel/s).  Every round
goes through all windows and depths, the order of each pair flipping from
one round to the next (--window-rounds rounds, 3 by default); the first
call of each filter, untimed, is checked against the others.
  Every
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
WINDOWS = (3, 5, 7, 9, 15, 25, 31, 51, 101, 255)
SCIPY_CROP = (256, 256)  # rows, columns of the crop scipy filters by window size
SCIPY_LARGEST = 15       # the largest window scipy filters by window size
WINDOW_TURN = 0.05       # seconds: calls of a fast filter are repeated to fill a turn
DEPTHS = ("uint8", "uint16", "float32")
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


def cv2_has(depth, window):
    """Whether cv2.medianBlur computes a window x window median at this depth."""
    return window >= 3 and (depth == "uint8" or window <= 5)


def in_strips(threads):
    """cv2.medianBlur(a, K) run on `threads` horizontal strips of a at once,
    each with the K // 2 rows around it that its windows reach, as a caller
    would spread it over the cores (its call runs on one thread; it lets go
    of the GIL).  A function (a, K) -> new array, or None on one thread."""
    if threads < 2:
        return None
    import concurrent.futures
    import cv2
    import numpy as np
    pool = concurrent.futures.ThreadPoolExecutor(threads)

    def medians(a, k):
        h, r = a.shape[0], k // 2
        out = np.empty_like(a)

        def strip(s):
            first, end = h * s // threads, h * (s + 1) // threads
            top, bottom = max(0, first - r), min(h, end + r)
            out[first:end] = cv2.medianBlur(a[top:bottom], k)[first - top:end - top]
        list(pool.map(strip, range(threads)))
        return out
    return medians


def by_window(windows, rounds, photo, threads):
    """median_filter against cv2.medianBlur (its own call, and in strips on
    every thread) and scipy by window size and depth: {"K/depth": {"ours",
    "cv2", "cv2_strips", "ours_crop", "scipy": [seconds per call, one per
    round]}}."""
    import cv2
    import numpy as np
    import scipy.ndimage as ndimage
    from median5x5 import median_filter
    strips = in_strips(threads)

    crop8 = np.ascontiguousarray(photo[:CROP[0], :CROP[1]])
    frames = {"uint8": crop8, "uint16": crop8.astype(np.uint16) * 257,
              "float32": crop8.astype(np.float32) / 255}
    smalls = {d: np.ascontiguousarray(f[:SCIPY_CROP[0], :SCIPY_CROP[1]]) for d, f in frames.items()}
    cases = [(k, d) for k in windows for d in DEPTHS]
    filters, samples = {}, {}
    for k, d in cases:
        frame, small = frames[d], smalls[d]
        f = {"ours": lambda frame=frame, k=k: median_filter(frame, k)}
        if cv2_has(d, k):
            f["cv2"] = lambda frame=frame, k=k: cv2.medianBlur(frame, k)
            if strips:
                f["cv2_strips"] = lambda frame=frame, k=k: strips(frame, k)
        if k <= SCIPY_LARGEST:
            f["ours_crop"] = lambda small=small, k=k: median_filter(small, k)
            f["scipy"] = lambda small=small, k=k: ndimage.median_filter(small, size=(k, k, 1),
                                                                         mode="nearest")
        # The first call of each, untimed: the results must agree, and the
        # time of one call sets how many calls fill a turn.
        results, calls = {}, {}
        for name, function in f.items():
            start = time.perf_counter()
            results[name] = function()
            once = time.perf_counter() - start
            calls[name] = max(1, min(20, int(WINDOW_TURN / max(once, 1e-6))))
        for name in ("cv2", "cv2_strips"):
            if name in f and not np.array_equal(results["ours"], results[name]):
                sys.exit(f"median_filter and cv2.medianBlur ({name}) differ at {k}x{k}, {d}")
        if "scipy" in f and not np.array_equal(results["ours_crop"], results["scipy"]):
            sys.exit(f"median_filter and scipy.ndimage.median_filter differ at {k}x{k}, {d}")
        filters[(k, d)] = (f, calls)
        samples[f"{k}/{d}"] = {name: [] for name in f}
    for r in range(rounds):
        for k, d in cases:
            f, calls = filters[(k, d)]
            s = samples[f"{k}/{d}"]
            pair = [name for name in ("ours", "cv2", "cv2_strips") if name in f]
            for name in (pair if r % 2 == 0 else pair[::-1]):
                s[name].append(per_call(f[name], calls[name]))
            if "scipy" in f:
                before = per_call(f["ours_crop"], calls["ours_crop"])
                start = time.perf_counter()
                f["scipy"]()
                s["scipy"].append(time.perf_counter() - start)
                after = per_call(f["ours_crop"], calls["ours_crop"])
                s["ours_crop"].append((before + after) / 2)
    return samples


def worker(threads, rounds, scipy_rounds, windows, window_rounds):
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
    window_samples = by_window(windows, window_rounds, photo, threads)
    json.dump({"threads": threads, "photo": list(photo.shape), "crop": list(crop.shape),
               "samples": samples, "windows": window_samples, "numpy": np.__version__,
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


def window_table(runs, window_rounds):
    """Mpixel/s by window size, depth and threads, with the ratios over
    OpenCV and scipy taken within each round."""
    first = runs[0]
    ch, cw, _ = first["crop"]
    sh, sw = SCIPY_CROP
    keys = list(first["windows"])
    windows = sorted({int(key.split("/")[0]) for key in keys})
    scipy_windows = [k for k in windows if k <= SCIPY_LARGEST]
    skipped = [k for k in windows if k > SCIPY_LARGEST]
    mpix = lambda pixels, seconds: f"{pixels / statistics.median(seconds) / 1e6:.{1 if pixels / statistics.median(seconds) >= 1e7 else 2}f}"
    times = lambda ratio: f"{ratio:.{0 if ratio >= 100 else 2 if ratio >= 0.1 else 3}f}"
    lines = [
        f"Mpixel/s by window size, on the photo's top-left {cw}x{ch} crop with 3 channels "
        f"(uint16: its bytes times 257, float32: divided by 255); `median_filter(a, K)` and "
        f"`cv2.medianBlur(a, K)` each return a new array and repeat the edge. OpenCV's call "
        f"runs on one thread; \"in strips\": on more threads, `cv2.medianBlur` on as many "
        f"horizontal strips at once (each with the rows its windows reach beyond it), as a "
        f"caller would spread it over the cores. × OpenCV: how many times as fast "
        f"`median_filter` is as the faster of the two; × scipy: as scipy; each taken within each of "
        f"{window_rounds} alternating round{'s' if window_rounds != 1 else ''} and then the median. "
        f"OpenCV has 16-bit and float medians at 3x3 and 5x5 only (—). "
        + (f"scipy (`scipy.ndimage.median_filter(a, size=(K, K, 1), mode=\"nearest\")`, one thread) "
           f"filters a {sw}x{sh} crop, `median_filter` timed on the same crop right before "
           f"and after it"
           + (f"; it is left out from {skipped[0]}x{skipped[0]} on, where one call takes "
              f"many seconds even on that crop (its time grows with the window's area)."
              if skipped else ".")
           if scipy_windows else "scipy was not run at these sizes."),
        "",
        "| Window | Depth | Threads | median_filter | cv2.medianBlur | in strips | × OpenCV | scipy | × scipy |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for k in windows:
        for depth in DEPTHS:
            for run in runs:
                s = run["windows"].get(f"{k}/{depth}")
                if s is None:
                    continue
                none = "—"
                cv2_rate = mpix(cw * ch, s["cv2"]) if "cv2" in s else none
                strips_rate = mpix(cw * ch, s["cv2_strips"]) if "cv2_strips" in s else none
                # Within each round, OpenCV's faster configuration.
                fastest = [min(c) for c in zip(*(s[n] for n in ("cv2", "cv2_strips") if n in s))]
                over_cv2 = times(median_ratio(fastest, s["ours"])) if "cv2" in s else none
                scipy_rate = mpix(sw * sh, s["scipy"]) if "scipy" in s else none
                over_scipy = times(median_ratio(s["scipy"], s["ours_crop"])) if "scipy" in s else none
                lines.append(f"| {k}x{k} | {depth} | {run['threads']} | {mpix(cw * ch, s['ours'])} | "
                             f"{cv2_rate} | {strips_rate} | {over_cv2} | {scipy_rate} | {over_scipy} |")
    return lines


def report(runs, rounds, scipy_rounds, window_rounds):
    first = runs[0]
    h, w, _ = first["photo"]
    ch, cw, _ = first["crop"]
    mpix = lambda pixels, seconds: f"{pixels / statistics.median(seconds) / 1e6:.1f}"
    load = os.getloadavg()[0]
    lines = [
        f"Measured {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC on "
        f"{processor()}, {os.cpu_count()} cores, Linux {platform.release()}; Python "
        f"{platform.python_version()}, NumPy {first['numpy']}, SciPy {first['scipy']}, "
        f"OpenCV {first['opencv']}; load average {load:.2f} at the end. Threads: the "
        f"library's and OpenCV's; scipy runs on one.",
        "",
        *(window_table(runs, window_rounds) + [""] if first["windows"] else []),
        f"The 5x5 median on the whole {w}x{h} photo: median of {rounds} "
        f"round{'s' if rounds != 1 else ''} ({scipy_rounds} for scipy); ratios are taken within each round. `b` is an "
        f"array allocated once; without it every call returns a new one, whose fresh pages "
        f"the filter faults in. scipy filters "
        f"the photo's top-left {cw}x{ch} crop (it takes seconds), median5x5 is timed on the "
        f"same crop around it; the rest filter the whole photo. Every filter uses the "
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
    parser.add_argument("--windows", default=",".join(map(str, WINDOWS)),
                        help="window sizes to compare, odd, comma-separated (default: %(default)s; "
                             "empty: none)")
    parser.add_argument("--window-rounds", type=int, default=3, help="rounds of the windows")
    parser.add_argument("--worker", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    args.rounds, args.scipy_rounds = max(1, args.rounds), max(1, args.scipy_rounds)
    args.window_rounds = max(1, args.window_rounds)
    try:
        windows = [int(k) for k in args.windows.split(",") if k.strip()]
    except ValueError:
        windows = [0]
    if any(k < 1 or k > 255 or k % 2 == 0 for k in windows):
        parser.error(f"--windows wants odd sizes from 1 to 255, comma-separated, not {args.windows!r}")

    if args.worker:
        worker(args.worker, args.rounds, args.scipy_rounds, windows, args.window_rounds)
        return
    runs = []
    for threads in sorted({1, os.cpu_count()}):
        path = [os.path.join(args.build, "python"), os.environ.get("PYTHONPATH", "")]
        env = dict(os.environ, OMP_NUM_THREADS=str(threads),
                   PYTHONPATH=os.pathsep.join(p for p in path if p))
        print(f"{threads} thread(s)...", file=sys.stderr)
        run = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker", str(threads),
                              "--rounds", str(args.rounds), "--scipy-rounds", str(args.scipy_rounds),
                              "--windows", ",".join(map(str, windows)),
                              "--window-rounds", str(args.window_rounds)],
                             env=env, stdout=subprocess.PIPE)
        if run.returncode != 0:
            sys.exit(run.returncode)  # the worker has said why
        runs.append(json.loads(run.stdout))
    table = report(runs, args.rounds, args.scipy_rounds, args.window_rounds)
    if args.output:
        with open(args.output, "w") as f:
            f.write(table)
    else:
        sys.stdout.write(table)


if __name__ == "__main__":
    main()
