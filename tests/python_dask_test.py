# SPDX-License-Identifier: MIT
"""median5x5.dask_median_filter against median_filter on the whole image,
bit for bit: every mode and element type, 2-D and 3-D, windows from 1x1 to
larger than the image, on chunkings from one chunk to chunks of one row or
column, irregular ones and chunked channels; on dask's threaded scheduler
and on a dask.distributed cluster of two worker processes; refusals before
anything is computed; and the package without dask.

CTest runs each test function with PYTHONPATH at the built package.
"""

import os
import pickle
import re
import subprocess
import sys

import numpy as np
import pytest

import dask
import dask.array as da

import median5x5
from median5x5._dask import chunks_at_least

MODES = ["constant", "nearest", "mirror", "reflect"]
DTYPES = [np.uint8, np.uint16, np.float32]
# 1: no halo.  3 to 15: halos deeper than the shortest chunks.  (7, 3) and
# (3, 11): rows and columns apart.  39: a radius of 19 on a 41x38 image, two
# chunks of at least 19 on each axis, larger than every chunk given.  255:
# larger than the image, one chunk, reflected again and again.
SIZES = [1, 3, 5, 15, (7, 3), (3, 11), 39, 255]


def random_image(rng, shape, dtype):
    if dtype == np.float32:
        # Few values, so many ties, and the ones whose order is the
        # library's own: NaNs of several bit patterns, signed zeros,
        # infinities, denormals.
        # (Made as float32 throughout: a signalling NaN through float64
        # comes back quiet.)
        nans = np.array([0x7FC00000, 0xFFC00001, 0x7F800001, 0x7FFFFFFF], np.uint32).view(np.float32)
        numbers = (rng.standard_normal(12) * 10.0 ** rng.integers(-40, 37, 12)).astype(np.float32)
        specials = np.array([0.0, -0.0, np.inf, -np.inf, 1e-45, -1e-45], np.float32)
        pool = np.concatenate([numbers, nans, specials])
        return rng.choice(pool, size=shape)
    return rng.integers(0, np.iinfo(dtype).max, size=shape, dtype=dtype, endpoint=True)


def assert_same_bits(got, want):
    assert got.shape == want.shape and got.dtype == want.dtype
    bits = np.dtype(f"u{want.dtype.itemsize}")
    np.testing.assert_array_equal(got.view(bits), want.view(bits))


def partition(rng, length, largest):
    """`length` cut into random chunks from 1 to `largest` long."""
    cuts = []
    while sum(cuts) < length:
        cuts.append(int(min(rng.integers(1, largest, endpoint=True), length - sum(cuts))))
    return tuple(cuts)


def chunkings(rng, shape):
    """One chunk; chunks of one row, then of one column; irregular ones."""
    rest = tuple((c,) for c in shape[2:])
    ragged_channels = tuple(partition(rng, c, 2) for c in shape[2:])
    return [shape,
            ((1,) * shape[0], (shape[1],)) + rest,
            ((shape[0],), (1,) * shape[1]) + ragged_channels,
            (partition(rng, shape[0], 9), partition(rng, shape[1], 9)) + ragged_channels]


@pytest.mark.parametrize("dtype", DTYPES, ids=lambda t: np.dtype(t).name)
def test_dask_is_median_filter_on_the_whole_image(dtype):
    rng = np.random.default_rng(DTYPES.index(dtype))
    for shape in [(41, 38), (41, 38, 3)]:
        a = random_image(rng, shape, dtype)
        cases = chunkings(rng, shape)
        for size in SIZES:
            for mode in MODES:
                want = median5x5.median_filter(a, size, mode)
                for chunks in cases:
                    y = median5x5.dask_median_filter(da.from_array(a, chunks=chunks), size, mode)
                    got = y.compute(scheduler="sync")
                    assert_same_bits(got, want)
                    # The channels keep their chunks.
                    assert y.chunks[2:] == da.from_array(a, chunks=chunks).chunks[2:]


def test_dask_merges_chunks_shorter_than_the_radius():
    # Each chunk at least the radius long, none empty, or one chunk.
    assert chunks_at_least((4, 4, 4), 2) == (4, 4, 4)
    assert chunks_at_least((1, 1, 1, 1, 1), 2) == (2, 3)
    assert chunks_at_least((5, 1, 5), 3) == (5, 6)
    assert chunks_at_least((1, 9), 3) == (10,)
    assert chunks_at_least((2, 2, 2), 7) == (6,)
    assert chunks_at_least((0, 3, 0, 0, 2, 0), 0) == (3, 2)
    assert chunks_at_least((7,), 100) == (7,)
    # And so the result's chunks along rows and columns.
    x = da.zeros((30, 20, 2), dtype=np.uint16, chunks=((1,) * 30, (3, 3, 3, 3, 8), (1, 1)))
    y = median5x5.dask_median_filter(x, (9, 11))
    assert y.chunks == (chunks_at_least((1,) * 30, 4), (6, 6, 8), (1, 1))


def test_dask_threaded_scheduler_with_any_threads_per_chunk():
    rng = np.random.default_rng(7)
    a = random_image(rng, (300, 257, 3), np.uint8)
    x = da.from_array(a, chunks=(64, 50, 3))
    # Chunks that are views into `a` (whose padded chunks are views too) and
    # chunks of their own (whose padded chunks are copies).
    for x in [x, x.map_blocks(np.copy)]:
        for size, mode in [(5, "reflect"), ((9, 3), "mirror")]:
            want = median5x5.median_filter(a, size, mode)
            for threads in [1, 2, None]:
                y = median5x5.dask_median_filter(x, size, mode, threads=threads)
                assert_same_bits(y.compute(scheduler="threads"), want)
    # The result stores chunk by chunk into an array of its own.
    out = np.zeros_like(a)
    da.store(median5x5.dask_median_filter(x, 7, "constant"), out, lock=False, scheduler="threads")
    assert_same_bits(out, median5x5.median_filter(a, 7, "constant"))


def test_dask_on_a_local_cluster_of_worker_processes():
    distributed = pytest.importorskip("distributed")
    rng = np.random.default_rng(11)
    a = random_image(rng, (97, 80, 2), np.float32)
    x = da.from_array(a, chunks=(25, 30, 1))
    y = median5x5.dask_median_filter(x, 5, "mirror")
    # The functions pickle by name.
    for function in [median5x5.dask_median_filter, median5x5.median_filter, median5x5.median5x5]:
        assert pickle.loads(pickle.dumps(function)) is function
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        got = client.compute(y).result()
        # The workers that filtered it are processes of their own.
        pids = client.run(os.getpid)
        assert len(pids) == 2 and os.getpid() not in pids.values()
        # median_filter itself travels to a worker too.
        whole = client.submit(median5x5.median_filter, a, 5, "mirror").result()
    assert_same_bits(got, whole)
    assert_same_bits(got, median5x5.median_filter(a, 5, "mirror"))


class Computed(Exception):
    pass


def never_computed(shape, dtype, chunks=None):
    """A dask array that raises Computed if anything computes it."""
    def boom():
        raise Computed

    x = da.from_delayed(dask.delayed(boom)(), shape, dtype)
    return x.rechunk(chunks) if chunks else x


# (x, size, mode, threads), the exception, words of its message.
REFUSALS = {
    "int32": (lambda: (never_computed((8, 8), np.int32), 3, "nearest", 1), TypeError, "int32"),
    "float64": (lambda: (never_computed((8, 8), np.float64), 3, "nearest", 1), TypeError,
                "float64"),
    "big_endian": (lambda: (never_computed((8, 8), ">u2"), 3, "nearest", 1), TypeError, ">u2"),
    "one_dimension": (lambda: (never_computed((8,), np.uint8), 3, "nearest", 1), ValueError,
                      "2-D"),
    "four_dimensions": (lambda: (never_computed((8, 8, 3, 1), np.uint8), 3, "nearest", 1),
                        ValueError, "3-D"),
    "five_channels": (lambda: (never_computed((8, 8, 5), np.uint8), 3, "nearest", 1), ValueError,
                      "channels"),
    "no_rows": (lambda: (never_computed((0, 8), np.uint8), 3, "nearest", 1), ValueError,
                "below 1"),
    "even_size": (lambda: (never_computed((8, 8), np.uint8), (3, 4), "nearest", 1), ValueError,
                  "even"),
    "size_not_an_int": (lambda: (never_computed((8, 8), np.uint8), 3.0, "nearest", 1), TypeError,
                        "odd int"),
    "unknown_mode": (lambda: (never_computed((8, 8), np.uint8), 3, "wrap", 1), ValueError, "wrap"),
    "no_threads": (lambda: (never_computed((8, 8), np.uint8), 3, "nearest", 0), ValueError,
                   "threads"),
    "unknown_chunk_sizes": (lambda: (da.zeros((9, 4), dtype=np.uint8, chunks=3)[da.arange(9, chunks=3) > 4],
                                     3, "nearest", 1), ValueError, "unknown"),
    "numpy_array": (lambda: (np.zeros((8, 8), np.uint8), 3, "nearest", 1), TypeError,
                    "dask array"),
}


@pytest.mark.parametrize("case", REFUSALS)
def test_dask_refusals_before_computing(case):
    arguments, exception, words = REFUSALS[case]
    x, size, mode, threads = arguments()
    with pytest.raises(exception, match=re.escape(words)):
        median5x5.dask_median_filter(x, size, mode, threads=threads)
    # A good call builds its graph without computing anything either.
    y = median5x5.dask_median_filter(never_computed((40, 30, 3), np.uint8, (7, 9, 1)), 15)
    with pytest.raises(Computed):
        y.compute(scheduler="sync")


def test_dask_missing_names_debian_packages():
    # Importing the package does not import dask; without dask, the package
    # works and only dask_median_filter says what to install.
    script = """
import sys
import median5x5
assert "dask" not in sys.modules, "median5x5 imported dask"
sys.modules["dask"] = None
import numpy as np
assert median5x5.median_filter(np.ones((3, 3), np.uint8), 3).sum() == 9
try:
    median5x5.dask_median_filter(None, 3)
except ModuleNotFoundError as e:
    print(e)
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "python3-dask" in run.stdout and "python3-distributed" in run.stdout
