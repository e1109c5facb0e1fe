# SPDX-License-Identifier: MIT
"""Median filter of any odd window for NumPy images of uint8, uint16 or
float32 elements, and for dask arrays of them larger than memory.

median_filter(a, size, mode="nearest", out=None, threads=None)
median5x5(a, mode="nearest", out=None)
dask_median_filter(x, size, mode="nearest", threads=1)   (needs dask)
"""

from . import _core
from ._core import MAX_WINDOW, __version__
from ._dask import dask_median_filter

__all__ = ["MAX_WINDOW", "dask_median_filter", "median5x5", "median_filter"]


# The compiled functions, each inside a Python function of the same name:
# these pickle (by name), as dask.distributed does to send a function to its
# workers, where pybind11's functions do not.

def median_filter(a, size, mode="nearest", out=None, threads=None):
    return _core.median_filter(a, size, mode, out, threads)


def median5x5(a, mode="nearest", out=None):
    return _core.median5x5(a, mode, out)


median_filter.__doc__ = _core.median_filter.__doc__
median5x5.__doc__ = _core.median5x5.__doc__
