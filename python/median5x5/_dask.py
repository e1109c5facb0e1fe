# SPDX-License-Identifier: MIT
"""dask_median_filter: median_filter on a dask array, chunk by chunk.

Each chunk is filtered with a halo of its neighbours' rows and columns
around it, as deep as the window's radius on that axis, and only its own
pixels are kept.  A chunk gets a halo only on the sides where it has a
neighbour, never beyond the image (what dask's map_overlap calls
boundary="none").  So each padded chunk meets the edges of the image exactly
where the image's edges are, and the engine's own border (constant,
nearest, mirror or reflect, repeated reflections included) applies there,
while at the seams the windows of the kept pixels read real neighbours and
never reach the padded chunk's other edges.

The graph has two tasks a chunk: one takes the rows and columns its
neighbours read, the other puts the chunk and its neighbours' edges together
into one padded array, filters it and keeps the middle.  Only the edges
travel between worker processes, and each padded chunk is made by one copy,
or by none when the chunk and its neighbours are views into one image in
memory (from_array on an array or a memory map): then the padded chunk is a
view of that image too.

Why that gives the whole image's result bit for bit:

On one axis, let the image be n long, the radius r and the chunks, after
merging, each at least r long (or one chunk, the whole axis).  The window of
a kept pixel i, with chunk [s, e) padded to [S, E) (S = s - r, or 0 at the
image's start; E = e + r, or n at its end), reads positions i - r .. i + r.
Those inside [0, n) lie inside [S, E): the halo is r deep.  Those outside
[0, n) are read only near the image's edge, by a chunk whose padded chunk
starts (or ends) where the image does.  The engine maps such a position,
-k with k <= r, to k (mirror), k - 1 (reflect) or 0 (nearest), or reads a
zero (constant): within r of the edge, the same pixel in the padded chunk as
in the image, provided the padded chunk is longer than r so that no second
reflection off its far end comes into play.  It is: a chunk of at least r
plus a halo of r when there are several chunks, the whole axis when there is
one.  The two axes are mapped each on its own, and a "constant" position is
outside exactly when it is outside the image.

The channel axis gets no halo (the window spans rows and columns only) and
may be chunked.
"""

import itertools
import math
import operator

import numpy as np

from . import _core

MISSING = ("dask_median_filter needs dask.array, which could not be imported ({}): "
           "install Debian's python3-dask (and python3-distributed to run on a "
           "dask.distributed cluster)")


def _dask_array():
    try:
        import dask.array
    except ImportError as e:
        raise ModuleNotFoundError(MISSING.format(e), name=e.name) from e
    return dask.array


def _window(size):
    """(rows, columns) of a size median_filter has accepted."""
    try:
        side = operator.index(size)
        return side, side
    except TypeError:
        rows, columns = size
        return operator.index(rows), operator.index(columns)


def chunks_at_least(chunks, radius):
    """The chunks of one axis, neighbours merged so that each is at least
    `radius` long and none is empty, or one chunk when the axis is shorter
    than that: a chunk too short takes in the ones after it until it is long
    enough, and a last one still too short joins the one before it."""
    least = max(radius, 1)
    merged = []
    for length in chunks:
        if merged and merged[-1] < least:
            merged[-1] += length
        else:
            merged.append(length)
    if len(merged) > 1 and merged[-1] < least:
        last = merged.pop()
        merged[-1] += last
    return tuple(merged)


def _edges(chunk, halo):
    """What a chunk's neighbours read of it: its first and last `halo[0]`
    rows, its first and last `halo[1]` columns (None on an axis without a
    halo).  Only these travel between processes, never the chunk.  A chunk
    that owns its elements is copied from, so that it can be freed once it
    is filtered; a chunk that is a view into a larger array (an image in
    memory or a memory map read through from_array), which stays alive
    anyway, gives views, so that a neighbour on the same process can read
    the image where it lies (_padded_view)."""
    rows, columns = halo
    keep = np.copy if chunk.base is None else (lambda view: view)
    return ((keep(chunk[:rows]), keep(chunk[-rows:])) if rows else (None, None)) + \
        ((keep(chunk[:, :columns]), keep(chunk[:, -columns:])) if columns else (None, None))


def _address(a):
    return a.__array_interface__["data"][0]


def _placed(pieces, heights, widths):
    """Each piece there is, with the row and column of the padded chunk at
    which it starts, row by row."""
    top = 0
    for row, height in zip(pieces, heights):
        left = 0
        for piece, width in zip(row, widths):
            if piece is not None:
                yield piece, top, left
            left += width
        top += height


def _padded_view(chunk, pieces, heights, widths):
    """The padded chunk as a view, when each piece lies in memory exactly
    where it lies in the padded chunk, with the chunk's strides (neighbours
    that are views into one image): then the rectangle holds those pieces
    and nothing else, and the filter reads them without a copy.  None
    otherwise."""
    strides = chunk.strides
    origin = _address(chunk) - heights[0] * strides[0] - widths[0] * strides[1]
    placed = list(_placed(pieces, heights, widths))
    if any(piece.strides != strides or
           _address(piece) != origin + top * strides[0] + left * strides[1]
           for piece, top, left in placed):
        return None
    # The first piece starts at the padded chunk's first element.
    return np.lib.stride_tricks.as_strided(
        placed[0][0], (sum(heights), sum(widths)) + chunk.shape[2:], strides, writeable=False)


def _piece(edges, di, dj, columns):
    """The part of the neighbour at (di, dj) rows and columns away, given its
    edges, that borders this chunk."""
    first_rows, last_rows, first_columns, last_columns = edges
    if di == 0:
        return last_columns if dj < 0 else first_columns
    rows = last_rows if di < 0 else first_rows
    return rows if dj == 0 else rows[:, -columns:] if dj < 0 else rows[:, :columns]


def _filter_chunk(chunk, around, window, mode, threads, halo):
    """Filters one chunk as part of the whole image: `around` holds, by
    rows above, level and below and columns left, level and right, the edges
    of each neighbour (None where there is none, and in the middle).  The
    chunk and the neighbours' parts that border it make the padded chunk,
    which is filtered whole; the chunk's own pixels are kept."""
    pieces = [[chunk if (di, dj) == (0, 0) else
               None if around[di + 1][dj + 1] is None else
               _piece(around[di + 1][dj + 1], di, dj, halo[1])
               for dj in (-1, 0, 1)] for di in (-1, 0, 1)]
    heights = [halo[0] if pieces[0][1] is not None else 0, chunk.shape[0],
               halo[0] if pieces[2][1] is not None else 0]
    widths = [halo[1] if pieces[1][0] is not None else 0, chunk.shape[1],
              halo[1] if pieces[1][2] is not None else 0]
    if heights[0] == heights[2] == widths[0] == widths[2] == 0:
        return _core.median_filter(chunk, window, mode, threads=threads)
    padded = _padded_view(chunk, pieces, heights, widths)
    if padded is None:
        padded = np.empty((sum(heights), sum(widths)) + chunk.shape[2:], chunk.dtype)
        for piece, top, left in _placed(pieces, heights, widths):
            padded[top:top + piece.shape[0], left:left + piece.shape[1]] = piece
    filtered = _core.median_filter(padded, window, mode, threads=threads)
    return filtered[heights[0]:heights[0] + chunk.shape[0], widths[0]:widths[0] + chunk.shape[1]]


def dask_median_filter(x, size, mode="nearest", threads=1):
    """dask_median_filter(x, size, mode="nearest", threads=1)

    median_filter on a dask array: a new dask array whose computed value is,
    bit for bit, what median_filter(x.compute(), size, mode) gives, chunk
    seams included, computed chunk by chunk.

    x:    a dask array, (H, W) or (H, W, C) with C from 1 to 4, of uint8,
          uint16 or float32.  Any chunks: along rows and columns, chunks
          shorter than the window's radius are merged with a neighbour (the
          result has the merged chunks); the channel axis may be chunked.
    size, mode: as median_filter's.
    threads: the OpenMP threads of each chunk's filter, 1 by default: the
          scheduler's threads or worker processes filter chunks side by
          side, one core each.  None leaves it to OMP_NUM_THREADS.

    Every argument is checked here, before anything is computed: TypeError
    for a dtype other than the three or a size that is not ints, ValueError
    for anything else median_filter refuses.  Each chunk's filter releases
    the GIL.  The function and its graph pickle, so dask.distributed's
    worker processes run it (they must be able to import median5x5).
    Raises ModuleNotFoundError, naming Debian's package, when dask.array
    cannot be imported.
    """
    da = _dask_array()
    from dask.base import tokenize
    from dask.highlevelgraph import HighLevelGraph

    if not isinstance(x, da.Array):
        raise TypeError(f"expected a dask array, got {type(x).__name__} "
                        "(median_filter takes NumPy arrays)")
    # The element type, size, mode and threads, refused by median_filter
    # itself with its own messages.
    _core.median_filter(np.zeros((1, 1), x.dtype), size, mode, threads=threads)
    if x.ndim not in (2, 3):
        raise ValueError(f"expected a 2-D (H, W) or 3-D (H, W, C) dask array, got shape {x.shape}")
    if any(math.isnan(n) for n in x.shape):
        raise ValueError(f"the chunk sizes of x are unknown (shape {x.shape}): "
                         "call x.compute_chunk_sizes() first")
    if x.shape[0] < 1 or x.shape[1] < 1:
        raise ValueError(f"width or height is below 1 (shape {x.shape})")
    if x.ndim == 3 and not 1 <= x.shape[2] <= 4:
        raise ValueError(f"number of channels is not 1, 2, 3 or 4 (shape {x.shape})")

    window = _window(size)
    radius = [side // 2 for side in window]
    # (Channels: radius 0, so that only empty chunks are merged.)
    chunks = tuple(chunks_at_least(c, r) for c, r in zip(x.chunks, radius + [0]))
    x = x.rechunk(chunks)
    # A halo on the axes of more than one chunk; an axis of one chunk is the
    # whole image's, and the engine's border is all it needs.
    halo = tuple(r if len(c) > 1 else 0 for r, c in zip(radius, chunks))

    # Two tasks a chunk: one takes the edges its neighbours read, the other
    # filters it with its neighbours' edges around it.
    token = tokenize(x, window, mode, threads)
    name, edges_name = "median_filter-" + token, "median_filter-edges-" + token
    edges_layer, filter_layer = {}, {}
    for index in itertools.product(*map(range, x.numblocks)):
        if halo != (0, 0):
            edges_layer[(edges_name,) + index] = (_edges, (x.name,) + index, halo)
        around = [[None] * 3 for _ in range(3)]
        for di, dj in itertools.product((-1, 0, 1), repeat=2):
            i, j = index[0] + di, index[1] + dj
            if ((di, dj) != (0, 0) and (halo[0] or not di) and (halo[1] or not dj) and
                    0 <= i < x.numblocks[0] and 0 <= j < x.numblocks[1]):
                around[di + 1][dj + 1] = (edges_name, i, j) + index[2:]
        filter_layer[(name,) + index] = (_filter_chunk, (x.name,) + index, around, window, mode,
                                         threads, halo)
    layers = dict(x.dask.layers, **{edges_name: edges_layer, name: filter_layer})
    dependencies = dict(x.dask.dependencies)
    dependencies[edges_name] = set(x.__dask_layers__())
    dependencies[name] = dependencies[edges_name] | {edges_name}
    graph = HighLevelGraph(layers, dependencies)
    return da.Array(graph, name, chunks=x.chunks, meta=np.empty((0,) * x.ndim, x.dtype))
