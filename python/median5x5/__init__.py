# SPDX-License-Identifier: MIT
"""Median filter of any odd window for NumPy images of uint8, uint16 or
float32 elements.

median_filter(a, size, mode="nearest", out=None, threads=None)
median5x5(a, mode="nearest", out=None)
"""

from ._core import MAX_WINDOW, __version__, median5x5, median_filter

__all__ = ["MAX_WINDOW", "median5x5", "median_filter"]
