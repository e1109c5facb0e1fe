#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A median filter over an image kept on disk, chunk by chunk, on a dask
cluster of worker processes on this machine; prints the throughput.

  PYTHONPATH=build/python /usr/bin/python3 examples/dask_large_image.py \\
      [--size HxW] [--channels C] [--dtype uint8|uint16|float32] [--window N]
      [--mode MODE] [--chunk N] [--workers N] [--threads-per-worker N]
      [--dir DIR] [--check]

The image is a raw file (rows of pixels, no header) that the workers write
with random pixels, chunk by chunk, then read chunk by chunk through
dask_median_filter while they write the result into a second raw file with
dask.array.store: no process ever holds the whole image, so it may be larger
than memory; what it needs is twice its size on disk.  Each worker opens
the files itself (the arrays the graph carries are only their names).

The default, 4096x4096x3 uint8 in 2048x2048 chunks on two workers, runs in
seconds; --size 40000x40000 makes a 4.8 GB image.  Chunks of several
megabytes go faster than small ones: every chunk passes through new arrays,
NumPy asks the kernel for huge pages for arrays of 4 MB or more, and below
that each 4 KB page of a new array costs a page fault (on a virtual machine,
microseconds each).  --check compares the result with median_filter on the
whole image in memory (for small sizes).  Without --dir the files go to a
temporary folder, removed afterwards.

Needs the package median5x5 importable (PYTHONPATH=build/python after the
release build) and Debian's python3-dask and python3-distributed.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time

import numpy as np

try:
    import dask.array as da
    from distributed import Client, LocalCluster
except ImportError as e:
    sys.exit(f"{e}: this example needs Debian's python3-dask and python3-distributed")

from median5x5 import dask_median_filter, median_filter


class RawImage:
    """An image in a raw file of known shape and element type, read and
    written a region at a time by whichever process asks; it pickles as its
    name, shape and type, and dask takes it for an array.  A region of whole
    pixels is read and written row by row with pread and pwrite; any other
    goes through a memory map."""

    def __init__(self, path, shape, dtype):
        self.path, self.shape, self.dtype = path, tuple(shape), np.dtype(dtype)
        self.ndim = len(self.shape)

    def create(self):
        with open(self.path, "wb") as f:
            f.truncate(int(np.prod(self.shape)) * self.dtype.itemsize)
        return self

    def _rows(self, region):
        """The rows of `region` and, for each, its offset in the file and its
        length in bytes; None when the region is not whole pixels in steps
        of one."""
        region = region if isinstance(region, tuple) else (region,)
        if len(region) > self.ndim or not all(isinstance(s, slice) for s in region):
            return None
        region += (slice(None),) * (self.ndim - len(region))
        ranges = [range(*s.indices(n)) for s, n in zip(region, self.shape)]
        if any(r.step != 1 for r in ranges) or (self.ndim == 3 and len(ranges[2]) != self.shape[2]):
            return None
        pixel = self.dtype.itemsize * (self.shape[2] if self.ndim == 3 else 1)
        rows, columns = ranges[:2]
        return ([len(r) for r in ranges], rows,
                [(row * self.shape[1] + columns.start) * pixel for row in rows],
                len(columns) * pixel)

    def __getitem__(self, region):
        rows = self._rows(region)
        if rows is None:
            return np.array(np.memmap(self.path, self.dtype, "r", shape=self.shape)[region])
        shape, _, offsets, length = rows
        out = np.empty(shape, self.dtype)
        with open(self.path, "rb") as f:
            for row, offset in zip(out, offsets):
                if length and os.preadv(f.fileno(), [row], offset) != length:
                    raise OSError(f"{self.path}: short read")
        return out

    def __setitem__(self, region, value):
        rows = self._rows(region)
        if rows is None:
            np.memmap(self.path, self.dtype, "r+", shape=self.shape)[region] = value
            return
        shape, _, offsets, length = rows
        value = np.broadcast_to(np.asarray(value, self.dtype), shape)
        with open(self.path, "r+b") as f:
            for row, offset in zip(value, offsets):
                if length and os.pwritev(f.fileno(), [np.ascontiguousarray(row)], offset) != length:
                    raise OSError(f"{self.path}: short write")

    def __dask_tokenize__(self):
        return self.path, self.shape, self.dtype.str


def random_chunk(chunk, dtype, block_id=None):
    """Random pixels for one chunk, the same for the same chunk every time."""
    rng = np.random.default_rng(block_id)
    if np.dtype(dtype).kind == "f":
        return rng.random(chunk.shape, np.float32)
    return rng.integers(0, np.iinfo(dtype).max, chunk.shape, dtype, endpoint=True)


def warm_up(dtype, window):
    median_filter(np.zeros((64, 64), dtype), window, threads=1)


def size_of(text):
    try:
        rows, columns = (int(n) for n in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected HxW, such as 4096x4096, got {text!r}")
    return rows, columns


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=size_of, default=(4096, 4096), help="HxW (4096x4096)")
    parser.add_argument("--channels", type=int, default=3, help="0 for a 2-D image (3)")
    parser.add_argument("--dtype", default="uint8", choices=["uint8", "uint16", "float32"])
    parser.add_argument("--window", type=int, default=5, help="odd side of the window (5)")
    parser.add_argument("--mode", default="nearest",
                        choices=["constant", "nearest", "mirror", "reflect"])
    parser.add_argument("--chunk", type=int, default=2048, help="side of a chunk (2048)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes (2)")
    parser.add_argument("--threads-per-worker", type=int, default=1, help="(1)")
    parser.add_argument("--dir", help="where the raw files go (kept); default: a temporary folder")
    parser.add_argument("--check", action="store_true",
                        help="compare with median_filter on the whole image in memory")
    args = parser.parse_args()

    shape = args.size + ((args.channels,) if args.channels else ())
    chunks = (args.chunk, args.chunk) + shape[2:]
    folder = args.dir or tempfile.mkdtemp(prefix="dask_large_image.")
    os.makedirs(folder, exist_ok=True)
    source = RawImage(os.path.join(folder, "input.raw"), shape, args.dtype).create()
    target = RawImage(os.path.join(folder, "output.raw"), shape, args.dtype).create()
    megabytes = np.prod(shape) * source.dtype.itemsize / 1e6
    megapixels = shape[0] * shape[1] / 1e6
    print(f"{'x'.join(map(str, shape))} {args.dtype} ({megabytes:.1f} MB) in {folder}, "
          f"chunks {'x'.join(map(str, chunks))}, {args.window}x{args.window} window, "
          f"mode {args.mode}")

    try:
        with LocalCluster(n_workers=args.workers, threads_per_worker=args.threads_per_worker,
                          processes=True, host="127.0.0.1", dashboard_address=None) as cluster, \
                Client(cluster) as client:
            print(f"{args.workers} worker processes x {args.threads_per_worker} thread(s)")

            start = time.perf_counter()
            image = da.map_blocks(random_chunk, da.empty(shape, dtype=args.dtype, chunks=chunks),
                                  args.dtype, dtype=args.dtype)
            da.store(image, source, lock=False)
            seconds = time.perf_counter() - start
            print(f"written: {seconds:.2f} s, {megabytes / seconds:.1f} MB/s")

            x = da.from_array(source, chunks=chunks)
            # Each worker imports median5x5 and runs its engine once, on a
            # small image, before the clock starts.
            client.run(warm_up, args.dtype, args.window)
            start = time.perf_counter()
            da.store(dask_median_filter(x, args.window, args.mode), target, lock=False)
            seconds = time.perf_counter() - start
            print(f"filtered: {seconds:.2f} s, {megabytes / seconds:.1f} MB/s, "
                  f"{megapixels / seconds:.1f} Mpixel/s (read, filtered, written)")

        if args.check:
            want = median_filter(source[...], args.window, args.mode)
            bits = f"u{source.dtype.itemsize}"
            if not np.array_equal(target[...].view(bits), want.view(bits)):
                sys.exit("check: the result differs from median_filter on the whole image")
            print("check: bit for bit median_filter on the whole image")
    finally:
        if not args.dir:
            shutil.rmtree(folder)


if __name__ == "__main__":
    main()
