# SPDX-License-Identifier: MIT
"""The Python module median5x5 against scipy.ndimage.median_filter, a median
found by selection, written apart from the engine's sorting networks: every
mode, element type and channel count on random images from 1x1 to 40x37;
windows of many sizes and shapes, larger than the image too; the array
layouts NumPy makes (views, steps, Fortran order, unaligned data); `out` of
every layout, in place and overlapping `a`; several Python threads at once;
and each refusal once, with `out` left as it was.

CTest runs each test function with PYTHONPATH at the built module.
"""

import re
import threading

import numpy as np
import pytest
import scipy.ndimage as ndimage

import median5x5

MODES = ["constant", "nearest", "mirror", "reflect"]
DTYPES = [np.uint8, np.uint16, np.float32]
# The smallest images are where the mirror modes reflect more than once.
SHAPES = [(1, 1), (1, 2), (2, 1), (2, 2), (1, 9), (9, 1), (3, 4), (5, 5), (6, 3),
          (17, 16), (33, 17), (40, 37)]
CHANNELS = [None, 1, 2, 3, 4]  # None: a 2-D array


def random_image(rng, shape, dtype):
    if dtype == np.float32:
        # Magnitudes from denormals to near the largest float, both signs,
        # infinities, and many ties.  No NaN, which scipy does not order, and
        # no zero: scipy holds -0.0 and +0.0 equal and returns either, where
        # the module orders -0.0 below +0.0.
        pool = rng.standard_normal(64) * 10.0 ** rng.integers(-42, 37, 64)
        pool = np.concatenate([pool, [np.inf, -np.inf, 1.0, -1.0]]).astype(np.float32)
        return rng.choice(pool[pool != 0], size=shape)
    return rng.integers(0, np.iinfo(dtype).max, size=shape, dtype=dtype, endpoint=True)


def scipy_median(a, mode):
    size = (5, 5) if a.ndim == 2 else (5, 5, 1)
    return ndimage.median_filter(a, size=size, mode=mode, cval=0)


def assert_same_bits(got, want):
    assert got.shape == want.shape and got.dtype == want.dtype
    # As unsigned integers, so that floats are compared bit for bit.
    bits = np.dtype(f"u{want.dtype.itemsize}")
    np.testing.assert_array_equal(got.view(bits), want.view(bits))


def name_of_shape(shape):
    return "x".join(map(str, shape))


@pytest.mark.parametrize("shape", SHAPES, ids=name_of_shape)
@pytest.mark.parametrize("channels", CHANNELS, ids=lambda c: "2d" if c is None else f"c{c}")
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda t: np.dtype(t).name)
def test_matches_scipy(dtype, mode, channels, shape):
    rng = np.random.default_rng([len(shape), *shape, channels or 0, DTYPES.index(dtype)])
    a = random_image(rng, shape if channels is None else (*shape, channels), dtype)
    before = a.copy()
    # The default mode is scipy's, "nearest".
    got = median5x5.median5x5(a) if mode == "nearest" else median5x5.median5x5(a, mode)
    assert_same_bits(got, scipy_median(before, mode))
    assert_same_bits(a, before)
    assert not np.shares_memory(got, a)


# Windows (rows, columns) and the images they run on: square and not, the
# largest, and windows far larger than the image.
WINDOWS = [1, 3, (3, 9), (9, 1), 7, (1, 31), 15, (61, 5), 255]
WINDOW_SHAPES = [(1, 1), (2, 3), (9, 1), (17, 16), (40, 37)]
# numpy.pad's names for the borders the modes read.
PAD_MODES = {"constant": "constant", "nearest": "edge", "mirror": "reflect", "reflect": "symmetric"}


def padded_median(a, rows, columns, mode):
    """The median of every window of `a` extended by numpy.pad: a second,
    simpler reference, for the windows where scipy's own is wrong."""
    ry, rx = rows // 2, columns // 2
    pad = [(ry, ry), (rx, rx)] + [(0, 0)] * (a.ndim - 2)
    padded = np.pad(a, pad, mode=PAD_MODES[mode])
    windows = np.lib.stride_tricks.sliding_window_view(padded, (rows, columns), axis=(0, 1))
    windows = windows.reshape(*windows.shape[:-2], rows * columns)
    middle = rows * columns // 2
    return np.partition(windows, middle, axis=-1)[..., middle]


@pytest.mark.parametrize("size", WINDOWS, ids=lambda s: "x".join(map(str, np.atleast_1d(s))))
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda t: np.dtype(t).name)
def test_median_filter_matches_scipy(dtype, mode, size):
    rows, columns = (size, size) if isinstance(size, int) else size
    for i, shape in enumerate(WINDOW_SHAPES):
        # The references gather every window: large ones on small images.
        if shape[0] * shape[1] * rows * columns > 2_000_000:
            continue
        rng = np.random.default_rng([i, rows, columns, DTYPES.index(dtype)])
        a = random_image(rng, shape if i % 2 else (*shape, 1 + i % 4), dtype)
        got = median5x5.median_filter(a, size, mode)
        # Debian's scipy 1.10 reads values from outside the image in its
        # "reflect" mode once the window reaches about four times beyond
        # the image: there the windows are gathered with numpy.pad instead.
        if mode == "reflect" and (rows // 2 > shape[0] or columns // 2 > shape[1]):
            want = padded_median(a, rows, columns, mode)
        else:
            want = ndimage.median_filter(a, size=(rows, columns) + (1,) * (a.ndim - 2), mode=mode,
                                         cval=0)
        assert_same_bits(got, want)


def test_median5x5_is_median_filter_of_five():
    rng = np.random.default_rng(55)
    for dtype in DTYPES:
        a = random_image(rng, (31, 45, 3), dtype)
        for mode in MODES:
            assert_same_bits(median5x5.median5x5(a, mode), median5x5.median_filter(a, 5, mode))
            assert_same_bits(median5x5.median_filter(a, (5, 5), mode),
                             median5x5.median_filter(a, np.int64(5), mode))


def test_median_filter_on_any_number_of_threads():
    # Every count gives the same bits; counts that are not one are refused.
    rng = np.random.default_rng(56)
    a = random_image(rng, (67, 45, 3), np.uint16)
    want = median5x5.median_filter(a, 7, "reflect")
    for threads in [1, 2, 3, np.int8(2), None]:
        assert_same_bits(median5x5.median_filter(a, 7, "reflect", threads=threads), want)
    for threads, exception in [(0, ValueError), (4097, ValueError), (2**70, ValueError),
                               ("2", TypeError), (2.0, TypeError), (True, TypeError)]:
        with pytest.raises(exception, match="threads"):
            median5x5.median_filter(a, 7, threads=threads)


# Sizes median_filter refuses, with the exception and words of its message;
# `out` is left as it was.
BAD_SIZES = [(4, ValueError, "window side is even"), ((3, 6), ValueError, "(size 6)"),
             (0, ValueError, "below 1"), (257, ValueError, "above 255"),
             (2**70, ValueError, "size"), ((3, 5, 1), TypeError, "pair"),
             (3.0, TypeError, "odd int"), ("3", TypeError, "odd int"), (None, TypeError, "odd int"),
             (True, TypeError, "odd int")]


@pytest.mark.parametrize("size, exception, words", BAD_SIZES, ids=lambda v: repr(v))
def test_median_filter_refuses_bad_sizes(size, exception, words):
    a = np.zeros((6, 7), np.uint8)
    out = np.full_like(a, 7)
    with pytest.raises(exception, match=re.escape(words)):
        median5x5.median_filter(a, size, out=out)
    assert (out == 7).all()


def unaligned(a):
    """A copy of `a` starting one byte past an allocation's start."""
    storage = np.empty(a.nbytes + 1, np.uint8)
    copy = storage[1:].view(a.dtype).reshape(a.shape)
    copy[...] = a
    return copy


def overlapping_rows(a):
    """Rows one pixel apart in memory, as a sliding window over one long row
    of pixels makes them."""
    h, w, c = a.shape
    line = a.reshape(-1, c)[: h + w - 1]
    return np.lib.stride_tricks.sliding_window_view(line, w, axis=0).transpose(0, 2, 1)


def read_only(a):
    view = a.view()
    view.flags.writeable = False
    return view


# Views of a (23, 29, 3) image; some are handed to the engine where they
# lie (rows with gaps, every other row, one row, unaligned), the rest go
# through a copy.
LAYOUTS = {
    "fortran_order": np.asfortranarray,
    "rows_with_gaps": lambda a: a[2:-3, 4:-5],
    "every_other_row": lambda a: a[::2],
    "every_third_column": lambda a: a[:, ::3],
    "rows_reversed": lambda a: a[::-1],
    "columns_reversed": lambda a: a[:, ::-1],
    "two_of_three_channels": lambda a: a[:, :, 1:],
    "channels_reversed": lambda a: a[:, :, ::-1],
    "axes_swapped": lambda a: a.transpose(1, 0, 2),
    "one_channel_on_a_new_axis": lambda a: a[:, :, 1][:, :, np.newaxis],
    "one_channel_2d": lambda a: a[:, :, 1],
    "one_row": lambda a: a[7:8],
    "one_column": lambda a: a[:, 5:6],
    "every_row_the_same": lambda a: np.broadcast_to(a[3], a.shape),
    "overlapping_rows": overlapping_rows,
    "unaligned": unaligned,
    "read_only": read_only,
}


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda t: np.dtype(t).name)
def test_layouts_match_scipy(dtype, layout):
    rng = np.random.default_rng([list(LAYOUTS).index(layout), DTYPES.index(dtype)])
    a = LAYOUTS[layout](random_image(rng, (23, 29, 3), dtype))
    before = a.copy()
    for mode in MODES:
        assert_same_bits(median5x5.median5x5(a, mode), scipy_median(before, mode))
    assert_same_bits(a, before)


# Where `out` lies: (the container's shape and order for an (h, w, c)
# result, the view of the container that is `out`).
OUTS = {
    "c_order": (lambda h, w, c: ((h, w, c), "C"), lambda m: m),
    "fortran_order": (lambda h, w, c: ((h, w, c), "F"), lambda m: m),
    "rows_with_gaps": (lambda h, w, c: ((h + 4, w + 6, c), "C"), lambda m: m[2:-2, 3:-3]),
    "every_other_pixel": (lambda h, w, c: ((2 * h, 2 * w, c), "C"), lambda m: m[::2, ::2]),
    "channels_reversed": (lambda h, w, c: ((h, w, c), "C"), lambda m: m[:, :, ::-1]),
}


@pytest.mark.parametrize("where", OUTS)
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda t: np.dtype(t).name)
def test_out_receives_the_result_and_nothing_else(dtype, where):
    rng = np.random.default_rng([list(OUTS).index(where), DTYPES.index(dtype)])
    a = random_image(rng, (19, 22, 3), dtype)
    container_of, view_of = OUTS[where]
    shape, order = container_of(*a.shape)
    container = np.full(shape, 7, dtype, order=order)
    untouched = np.ones(shape, bool)
    view_of(untouched)[...] = False
    out = view_of(container)
    assert median5x5.median5x5(a, "reflect", out=out) is out
    assert_same_bits(out, scipy_median(a, "reflect"))
    assert (container[untouched] == 7).all()


# `a` and `out` as views of one image: (a, out).  Each result must be the
# median of `a` as it was before the call.
SHARED = {
    "in_place": lambda m: (m, m),
    "in_place_two_views": lambda m: (m, m[...]),
    "in_place_rows_with_gaps": lambda m: (m[1:-1, 2:-2], m[1:-1, 2:-2]),
    "in_place_every_other_column": lambda m: (m[:, ::2], m[:, ::2]),
    "in_place_axes_swapped": lambda m: (m.transpose(1, 0, 2), m.transpose(1, 0, 2)),
    "out_two_rows_down": lambda m: (m[:-2], m[2:]),
    "out_one_pixel_right": lambda m: (m[:, :-1], m[:, 1:]),
    "out_one_channel_over": lambda m: (m[:, :, :-1], m[:, :, 1:]),
    "a_reversed_out_straight": lambda m: (m[::-1], m),
}


@pytest.mark.parametrize("case", SHARED)
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda t: np.dtype(t).name)
def test_out_sharing_memory_with_a(dtype, case):
    rng = np.random.default_rng([list(SHARED).index(case), DTYPES.index(dtype)])
    image = random_image(rng, (21, 26, 3), dtype)
    expected = image.copy()
    a, out = SHARED[case](expected)
    SHARED[case](expected)[1][...] = scipy_median(a.copy(), "mirror")
    a, out = SHARED[case](image)
    assert median5x5.median5x5(a, "mirror", out=out) is out
    # Compared whole: the result, and nothing written outside `out`.
    assert_same_bits(image, expected)


def test_threads_filter_at_once():
    rng = np.random.default_rng(5)
    images = [random_image(rng, (97, 83, c), dtype) for dtype in DTYPES for c in (1, 3, 4)]
    expected = [scipy_median(image, "constant") for image in images]
    results = [[] for _ in images]

    def work(i):
        for _ in range(4):
            results[i].append(median5x5.median5x5(images[i], "constant"))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        assert len(got) == 4
        for g in got:
            assert_same_bits(g, want)


def ragged():
    return [[1, 2], [3]]


# (arguments, the exception, words of its message).  Wherever an `out` of
# the right dtype and shape could be given, it is, and must be left as it was.
SIZE = "width or height is below 1"
CHANNEL_COUNT = "number of channels is not 1, 2, 3 or 4"
U8 = np.uint8
REFUSALS = {
    "int32": (lambda: (np.zeros((5, 5), np.int32), "nearest", np.full((5, 5), 7, np.int32)),
              TypeError, "int32"),
    "float64": (lambda: (np.zeros((5, 5)), "nearest", np.full((5, 5), 7.0)), TypeError, "float64"),
    "big_endian": (lambda: (np.zeros((5, 5), ">u2"), "nearest", None), TypeError, ">u2"),
    "python_objects": (lambda: (object(), "nearest", None), TypeError, "object"),
    "not_array_like": (lambda: (ragged(), "nearest", None), TypeError, "list"),
    "one_dimension": (lambda: (np.zeros(25, U8), "nearest", np.full(25, 7, U8)), ValueError, "2-D"),
    "four_dimensions": (lambda: (np.zeros((5, 5, 3, 1), U8), "nearest", None), ValueError, "3-D"),
    "five_channels": (lambda: (np.zeros((5, 5, 5), U8), "nearest", np.full((5, 5, 5), 7, U8)),
                      ValueError, CHANNEL_COUNT),
    "no_channels": (lambda: (np.zeros((5, 5, 0), U8), "nearest", None), ValueError, CHANNEL_COUNT),
    "no_rows": (lambda: (np.zeros((0, 5), U8), "nearest", None), ValueError, SIZE),
    "no_columns": (lambda: (np.zeros((5, 0, 3), U8), "nearest", None), ValueError, SIZE),
    # 2^32 + 3 columns would be 3 if cut to 32 bits; refused before any copy.
    "too_wide": (lambda: (np.broadcast_to(U8(0), (5, 2**32 + 3)), "nearest", None),
                 ValueError, SIZE),
    "unknown_mode": (lambda: (np.zeros((5, 5), U8), "wrap", np.full((5, 5), 7, U8)),
                     ValueError, "wrap"),
    "mode_not_a_string": (lambda: (np.zeros((5, 5), U8), 2, np.full((5, 5), 7, U8)),
                          TypeError, "incompatible"),
    "read_only_out": (lambda: (np.zeros((5, 5), U8), "nearest", read_only(np.full((5, 5), 7, U8))),
                      ValueError, "read-only"),
    "out_of_another_shape": (lambda: (np.zeros((5, 5), U8), "nearest", np.full((5, 6), 7, U8)),
                             ValueError, "shape"),
    "out_of_another_dtype": (lambda: (np.zeros((5, 5), U8), "nearest",
                                      np.full((5, 5), 7, np.uint16)), ValueError, "dtype"),
    "out_not_an_array": (lambda: (np.zeros((2, 2), U8), "nearest", [[7, 7], [7, 7]]),
                         TypeError, "ndarray"),
}


@pytest.mark.parametrize("case", REFUSALS)
def test_refusals(case):
    arguments, exception, words = REFUSALS[case]
    a, mode, out = arguments()
    before = np.array(out) if out is not None else None
    with pytest.raises(exception, match=re.escape(words)):
        median5x5.median5x5(a, mode, out=out)
    if before is not None:
        np.testing.assert_array_equal(np.asarray(out), before)
