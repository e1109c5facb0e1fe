# SPDX-License-Identifier: MIT
"""Median filter of any odd window for NumPy images of uint8, uint16 or
float32 elements, and for dask arrays of them larger than memory.

median_filter(a, size, mode="nearest", out=None, threads=None)
median5x5(a, mode="nearest", out=None)
dask_median_filter(x, size, mode="nearest", threads=1)   (needs dask)
"""

from ._core import MAX_WINDOW, __version__, median5x5, median_filter
from ._dask import dask_median_filter

__all__ = ["MAX_WINDOW", "dask_median_filter", "median5x5", "median_filter"]
