#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Separable median networks for any odd window, for gen_networks.py.

A window of kw columns and kh rows holds N = kw * kh values; its median is
rank R = (N - 1) / 2 (0 = smallest).  Vector lanes run along x, so a window
row (kw horizontal neighbours, kw shifted loads) is what one lane sorts
cheaply, and a sorted row serves the kh outputs below it that read it: the
transposed form of A. Adams, "Fast median filters using separable sorting
networks" (ACM TOG 40(4), 2021), whose column sorts are shared along x.

Pieces.  Every value computed is a piece: the sorted values of a set of
window rows (a contiguous range of rows, in a vertical tile) or, for the
two-dimensional comparison, of a rectangle.  A piece of n values that will
be completed by N - n more can hold the median only at its ranks
max(0, R - (N - n)) .. min(n - 1, R), so only those are kept: a piece of at
most (N + 1) / 2 values is kept whole, a larger one loses as many values at
each end.  Two disjoint pieces of one window cannot both be larger than
half of it, so a merge sees at most one trimmed input, and the union's kept
ranks are a run of consecutive positions of the merge of the kept values.
Each merge is Batcher's odd-even merge (for the two sizes as they are, or
padded with +infinity to a power of two, whichever is smaller once pruned),
or, when a single rank is wanted, the min of maxima over the splits of the
two lists; each row sort is Batcher's merge sort.  All are pruned to the
outputs used.

Sharing.  A tile is th output rows of one vector column (no data re-layout:
the lanes run along x); a sweep walks down the column a tile per step.  A
piece is a range of rows; a piece made in one step is the same piece th
rows higher in the next, so pieces are made once, in the step whose new
rows complete them, and kept for the steps that still read them (a ring of
sorted rows and merged pieces).  Each piece is the merge of two shorter
ranges; which split each piece takes is searched (VerticalTile.search),
scoring the merges of all pieces the outputs need, each counted once per
step.  Adams's two-dimensional tiles are modelled beside (Tile2D) to show
what sharing only along one direction costs.

Commands (through gen_networks.py): `separable K` writes the header of a
K x K window, `table` the operation counts of every window and tile,
`interpreted K` the data of a K x K window's interpreted networks (its step
and row sorts as scheduled instructions on fixed slots),
`program KW[xKH] [TH]` a tile's networks as instructions for an
interpreter, `prove [KW[xKH] ...]` the proofs of every tile height of the
windows given (K alone is K x K; kw columns by kh rows otherwise).

Proofs.  Each network is run on every input its 0/1 domain holds, many
inputs at once as the bits of Python integers (min = and, max = or): a merge
on every pair of 0/1 sets of its two sizes (each given by its kept ranks),
a row sort through the merges of its merge sort, each on every pair of
sorted 0/1 lists (and whole on all 2^kw rows up to 20 values).  A min/max
network that selects ranks of every 0/1 input selects them of every input
(the 0-1 principle, which holds on these domains because a threshold of a
piece's kept ranks is the kept ranks of the thresholded set); and since each
piece holds exactly the kept ranks of its rows, a tile made of proved
pieces is proved.  Whole tiles are run besides, network and program form,
through the sweep's protocol: on every 0/1 input up to 25 inputs, otherwise
on random 0/1 columns and on random bytes against sorting.
"""

import functools
import heapq
import random
import sys
import textwrap
import time

import gen_networks as g

INF = g.INF


# ---- networks on named values ----------------------------------------------

class Net:
    """A min/max network over inputs a[0..p) and b[0..q) (b absent for a
    sort), pruned to `outputs`, as SSA operations (name, kind, x, y)."""

    def __init__(self, ops, outputs):
        self.ops = g.pruned(ops, outputs)
        self.outputs = outputs

    def __len__(self):
        return len(self.ops)


def odd_even_merge_values(b, xs, ys):
    """Batcher's odd-even merge of two sorted lists of any lengths: merge the
    even positions and the odd positions, then one layer of comparators."""
    if not xs or not ys:
        return list(xs or ys)
    if len(xs) == 1 and len(ys) == 1:
        return [b.op("min", xs[0], ys[0]), b.op("max", xs[0], ys[0])]
    v = odd_even_merge_values(b, xs[0::2], ys[0::2])
    w = odd_even_merge_values(b, xs[1::2], ys[1::2])
    out = [v[0]]
    for i, wi in enumerate(w):
        if i + 1 < len(v):
            out += [b.op("min", wi, v[i + 1]), b.op("max", wi, v[i + 1])]
        else:
            out.append(wi)
    out += v[len(w) + 1:]
    return out


def inputs(name, n):
    return [f"{name}[{i}]" for i in range(n)]


def instantiate(b, net, a, c=()):
    """Adds `net` to builder b on input values a (and c for its b inputs);
    returns the values of its outputs."""
    values = {f"a[{i}]": v for i, v in enumerate(a)}
    values.update({f"b[{i}]": v for i, v in enumerate(c)})
    for name, kind, x, y in net.ops:
        values[name] = b.op(kind, values[x], values[y])
    return [values[o] for o in net.outputs]


def sort_halves(k):
    return (k + 1) // 2, k // 2


@functools.lru_cache(maxsize=None)
def sort_net(k):
    """Sorts k values: Batcher's merge sort on the halves as they come
    (smaller than on a power of two of wires padded with +infinity, for
    every odd k to 31), each merge the smallest of merge_net's."""
    b = g.Builder()

    def merge_sort(values):
        if len(values) <= 1:
            return list(values)
        h, _ = sort_halves(len(values))
        return instantiate(b, merge_net(h, len(values) - h, tuple(range(len(values)))),
                           merge_sort(values[:h]), merge_sort(values[h:]))
    return Net(b.ops, merge_sort(inputs("a", k)))


@functools.lru_cache(maxsize=None)
def merge_net(p, q, positions):
    """Positions `positions` (a tuple) of the merge of sorted lists a (p
    values) and b (q values): the smallest of several constructions."""
    a, c = inputs("a", p), inputs("b", q)
    candidates = []
    for xs, ys in ((a, c), (c, a)):
        b = g.Builder()
        merged = odd_even_merge_values(b, xs, ys)
        candidates.append(Net(b.ops, [merged[i] for i in positions]))
    b = g.Builder()
    half = g.power_of_two(max(p, q))
    wires = a + [INF] * (half - p) + c + [INF] * (half - q)
    b.apply(wires, g.odd_even_merge(0, 2 * half))
    candidates.append(Net(b.ops, [wires[i] for i in positions]))
    if len(positions) == 1:
        candidates.append(select_net(p, q, positions[0]))
    return min(candidates, key=len)


def select_net(p, q, k):
    """Rank k of the merge of sorted a (p) and b (q): the first k + 1 values
    hold i of a and k + 1 - i of b for one i, and for every i the largest
    of those is at least rank k, so rank k is the least of these maxima."""
    b = g.Builder()
    terms = []
    for i in range(max(0, k + 1 - q), min(p, k + 1) + 1):
        x = f"a[{i - 1}]" if i > 0 else None
        y = f"b[{k - i}]" if k - i >= 0 else None
        terms.append(b.op("max", x, y) if x and y else x or y)
    while len(terms) > 1:  # a balanced tree: same count, shorter chain
        terms = [b.op("min", terms[i], terms[i + 1]) if i + 1 < len(terms) else terms[i]
                 for i in range(0, len(terms), 2)]
    return Net(b.ops, terms)


# ---- pieces of a window ----------------------------------------------------

class Window:
    """kw columns x kh rows; `kept(n)` are the ranks of a piece of n values
    that can still be the median."""

    def __init__(self, kw, kh):
        assert kw % 2 == 1 and kh % 2 == 1 and kw >= 3 and kh >= 3, (kw, kh)
        self.kw, self.kh = kw, kh
        self.n = kw * kh
        self.rank = self.n // 2

    def __str__(self):
        return f"{self.kw}x{self.kh}"

    def kept(self, n):
        return max(0, self.rank - (self.n - n)), min(n - 1, self.rank)

    def stored(self, n):
        lo, hi = self.kept(n)
        return hi - lo + 1

    @functools.lru_cache(maxsize=None)
    def merge(self, na, nb):
        """The network that joins pieces of na and nb values, inputs a and b
        holding their kept ranks."""
        (la, _), (lb, _) = self.kept(na), self.kept(nb)
        lo, hi = self.kept(na + nb)
        assert la == 0 or lb == 0
        positions = tuple(range(lo - la - lb, hi - la - lb + 1))
        return merge_net(self.stored(na), self.stored(nb), positions)

    @functools.lru_cache(maxsize=None)
    def merge_cost(self, na, nb):
        return min(len(self.merge(na, nb)), len(self.merge(nb, na)))

    @functools.lru_cache(maxsize=None)
    def tree(self, count, size):
        """How to merge `count` sorted strips of `size` values each into one
        piece with fewest operations, nothing shared: (operations, how many
        strips go to the first part)."""
        if count == 1:
            return 0, None
        return min((self.tree(m, size)[0] + self.tree(count - m, size)[0] +
                    self.merge_cost(m * size, (count - m) * size), abs(2 * m - count), m)
                   for m in range(1, count))[::2]

    def merge_order(self, na, nb):
        """(na, nb) or (nb, na): the order whose network is smaller."""
        return (na, nb) if len(self.merge(na, nb)) <= len(self.merge(nb, na)) else (nb, na)


@functools.lru_cache(maxsize=None)
def window(kw, kh):
    """The one Window of each size, so that its networks are built once."""
    return Window(kw, kh)


# ---- proofs on 0/1 inputs, many at once --------------------------------------
#
# A lane is one 0/1 input; a value is a Python integer whose bit l is its
# value in lane l, so min is & and max is |.

def run_bits(ops, values):
    """Runs SSA ops on bit-lane integers; `values` maps input names (INF
    never appears: the builders fold it)."""
    values = dict(values)
    for name, kind, x, y in ops:
        values[name] = values[x] & values[y] if kind == "min" else values[x] | values[y]
    return values


def counter(bits):
    """The number of ones among `bits` in every lane, as binary digits
    (least significant first), each a bit-lane integer."""
    digits = []
    for v in bits:
        carry, i = v, 0
        while carry:
            if i == len(digits):
                digits.append(carry)
                break
            digits[i], carry = digits[i] ^ carry, digits[i] & carry
            i += 1
    return digits


def at_least(digits, c, full):
    """Lanes whose count (binary `digits`) is at least c; `full` has every
    lane's bit set."""
    if c <= 0:
        return full
    if c >= 1 << len(digits):
        return 0
    greater, equal = 0, full
    for i in reversed(range(len(digits))):
        if c >> i & 1:
            equal &= digits[i]
        else:
            greater |= equal & digits[i]
            equal &= ~digits[i] & full
    return greater | equal


def pattern_bits(k, lanes_log2):
    """Wire j of the 2^lanes_log2 patterns whose lane l is bit j of l."""
    out = []
    for j in range(k):
        unit, length = ((1 << (1 << j)) - 1) << (1 << j), 2 << j  # 2^j zeros, 2^j ones
        while length < 1 << lanes_log2:
            unit |= unit << length
            length *= 2
        out.append(unit)
    return out


def prove_sort(k, exhaustive_up_to=20, chunk_log2=16):
    """Each merge of the merge sort on every pair of sorted 0/1 lists, which
    proves the sort; and, up to `exhaustive_up_to` values, the whole sort on
    all 2^k rows besides, 2^chunk at a time (the wires above the chunk are
    the same in all of its lanes)."""
    sizes, merges = [k], set()
    while sizes:  # the merges of sort_net(k)
        n = sizes.pop()
        if n > 1:
            merges.add(sort_halves(n))
            sizes += sort_halves(n)
    for h, l in sorted(merges):
        prove_sorted_merge(h, l)
    if k > exhaustive_up_to:
        return
    net = sort_net(k)
    low = min(k, chunk_log2)
    full = (1 << (1 << low)) - 1
    low_wires = pattern_bits(low, low)
    for high in range(1 << (k - low)):
        wires = low_wires + [full if high >> j & 1 else 0 for j in range(k - low)]
        values = run_bits(net.ops, {f"a[{i}]": w for i, w in enumerate(wires)})
        digits = counter(wires)
        for r, name in enumerate(net.outputs):
            assert values[name] == at_least(digits, k - r, full), ("sort", k, r)


def prove_sorted_merge(p, q):
    """merge_net(p, q, all) sorts every pair of sorted 0/1 lists."""
    net = merge_net(p, q, tuple(range(p + q)))
    check_merge(net.ops, net.outputs, p, q, (0, p - 1), (0, q - 1), (0, p + q - 1))


def pair_lanes(na, nb, first):
    """One lane per pair of 0/1 sets of na and nb values, lane
    ca * (nb + 1) + cb for the sets with ca and cb ones: the lanes whose cb
    is at least first(ca), as a bit-lane integer (built as a string of
    digits, which takes time linear in the lanes)."""
    blocks = []
    for ca in reversed(range(na + 1)):
        f = min(max(first(ca), 0), nb + 1)
        blocks.append("1" * (nb + 1 - f) + "0" * f)
    return int("".join(blocks), 2)


def check_merge(ops, outputs, na, nb, kept_a, kept_b, kept):
    """Runs a merge on every pair of 0/1 sets of na and nb values, inputs
    a and b their ranks kept_a and kept_b (lo, hi), and checks its outputs
    against the union's ranks `kept`: rank r of a 0/1 set of n values is one
    where the set holds at least n - r ones."""
    never = nb + 1
    values = {f"a[{i}]": pair_lanes(na, nb, lambda ca, r=r: 0 if ca >= na - r else never)
              for i, r in enumerate(range(kept_a[0], kept_a[1] + 1))}
    values.update({f"b[{i}]": pair_lanes(na, nb, lambda ca, r=r: nb - r)
                   for i, r in enumerate(range(kept_b[0], kept_b[1] + 1))})
    got = run_bits(ops, values)
    for r, name in zip(range(kept[0], kept[1] + 1), outputs):
        assert got[name] == pair_lanes(na, nb, lambda ca: na + nb - r - ca), ("merge", na, nb, r)


def prove_merge(window, na, nb):
    """The merge of pieces of na and nb values gives the union's kept ranks
    for every pair of 0/1 sets of those sizes."""
    net = window.merge(na, nb)
    check_merge(net.ops, net.outputs, na, nb, window.kept(na), window.kept(nb),
                window.kept(na + nb))


# ---- vertical tiles: th output rows of one vector column -------------------
#
# Rows are numbered from the tile's first window row: the tile reads rows
# 0 .. kh + th - 2, output i (0 .. th - 1) reads rows i .. i + kh - 1, and
# each step of a sweep down the column brings the th new rows
# kh - 1 .. kh + th - 2.  A piece is a range of rows (first, count).  With
# `shared`, a piece is made once, in the step whose new rows it first
# includes, and kept for the later steps that read it (th rows further up
# each step): pieces are classes of ranges under shifts by th.  Without, only
# the sorted rows are shared, and every other piece belongs to one tile.

class VerticalTile:
    def __init__(self, window, th, shared=True):
        self.window, self.th, self.shared = window, th, shared
        self.kw, self.kh = window.kw, window.kh

    def canonical(self, first, count):
        """(piece, age): rows first .. first + count - 1 are the piece
        (first', count) made `age` steps before this one."""
        if count > 1 and not self.shared:
            return (first, count), 0
        age = -((first + count - self.kh) // self.th)
        return (first + age * self.th, count), age

    def outputs(self):
        return [self.canonical(i, self.kh)[0] for i in range(self.th)]

    @functools.lru_cache(maxsize=None)
    def children(self, piece, split):
        first, count = piece
        return (self.canonical(first, split), self.canonical(first + split, count - split))

    @functools.lru_cache(maxsize=None)
    def tree_split(self, count):
        return self.window.tree(count, self.kw)

    @functools.lru_cache(maxsize=None)
    def merge_cost(self, count, split):
        return self.window.merge_cost(split * self.kw, (count - split) * self.kw)

    def closure(self, splits):
        """The pieces the outputs need, each with its split (from `splits`,
        else tree_split)."""
        chosen, stack = {}, self.outputs()
        while stack:
            piece = stack.pop()
            if piece in chosen or piece[1] == 1:
                continue
            split = splits.get(piece) or self.tree_split(piece[1])[1]
            chosen[piece] = split
            stack += [child for child, _ in self.children(piece, split)]
        return chosen

    def merge_ops(self, chosen):
        return sum(self.merge_cost(piece[1], m) for piece, m in chosen.items())

    def ops_per_step(self, chosen):
        return self.th * len(sort_net(self.kw)) + self.merge_ops(chosen)

    def adams_splits(self):
        """Adams's recursion: the tile's common rows (its core) first, then
        halves of the tile, each adding the rows its outputs share beyond
        its parent's, down to single outputs."""
        splits = {}

        def node(lo, hi):  # outputs lo .. hi - 1 share rows hi - 1 .. lo + kh - 1
            if hi - lo == 1:
                return
            mid = (lo + hi) // 2
            upper = self.canonical(mid - 1, lo + self.kh - mid + 1)[0]
            splits[upper] = hi - mid                    # rows mid-1 .. hi-2, then the parent
            lower = self.canonical(hi - 1, mid + self.kh - hi + 1)[0]
            splits[lower] = lo + self.kh - hi + 1       # the parent, then rows lo+kh .. mid+kh-1
            node(lo, mid)
            node(mid, hi)
        node(0, self.th)
        return splits

    def search(self, rounds=200, seed=1, seeds=()):
        """The splits with fewest operations found: local search (each piece
        tries every split while the total falls) from Adams's recursion, from
        tree_split everywhere and from `seeds` (the best splits of tiles
        whose heights divide th, repeated), then again from random changes
        of the best so far."""
        rng = random.Random(seed)

        def descend(splits):
            state = SplitState(self, splits)
            improved = True
            while improved:
                improved = False
                for piece in sorted(state.count):
                    if piece not in state.count:  # gone since the list was made
                        continue
                    for m in range(1, piece[1]):
                        before, old = state.cost, state.split(piece)
                        if m != old and state.set_split(piece, m) >= before:
                            state.set_split(piece, old)
                        elif m != old:
                            improved = True
            return self.closure(state.splits), state.cost

        starts = [{}, self.adams_splits() if self.th <= self.kh else {}]
        for height, splits in seeds:
            starts.append({self.canonical(first + j * height, count)[0]: m
                           for (first, count), m in splits.items()
                           for j in range(self.th // height)})
        best_splits, best = min((descend(start) for start in starts), key=lambda r: r[1])
        for _ in range(rounds):
            trial = dict(best_splits)
            for piece in rng.sample(sorted(trial), min(len(trial), rng.randint(1, 4))):
                trial[piece] = rng.randint(1, piece[1] - 1)
            splits, cost = descend(trial)
            if cost <= best:
                best_splits, best = splits, cost
        return best_splits


class SplitState:
    """The pieces a tile's outputs need under some splits, kept up to date
    as splits change: each piece counts the pieces (or outputs) that read
    it, and enters or leaves the total with its merge when that count
    leaves or reaches zero."""

    def __init__(self, tile, splits):
        self.tile, self.splits = tile, dict(splits)
        self.count, self.cost = {}, 0
        for piece in tile.outputs():
            self.add(piece)

    def split(self, piece):
        return self.splits.get(piece) or self.tile.tree_split(piece[1])[1]

    def merge_cost(self, piece):
        return self.tile.merge_cost(piece[1], self.split(piece))

    def add(self, piece):
        if piece[1] == 1:
            return
        self.count[piece] = self.count.get(piece, 0) + 1
        if self.count[piece] == 1:
            self.cost += self.merge_cost(piece)
            for child, _ in self.tile.children(piece, self.split(piece)):
                self.add(child)

    def remove(self, piece):
        if piece[1] == 1:
            return
        self.count[piece] -= 1
        if self.count[piece] == 0:
            del self.count[piece]
            self.cost -= self.merge_cost(piece)
            for child, _ in self.tile.children(piece, self.split(piece)):
                self.remove(child)

    def set_split(self, piece, m):
        """Changes the split of a needed piece; returns the new total."""
        old = self.tile.children(piece, self.split(piece))
        self.cost -= self.merge_cost(piece)
        self.splits[piece] = m
        self.cost += self.merge_cost(piece)
        for child, _ in self.tile.children(piece, m):
            self.add(child)
        for child, _ in old:
            self.remove(child)
        return self.cost


@functools.lru_cache(maxsize=None)
def best_vertical(kw, kh, th, shared=True):
    """(VerticalTile, splits) with the fewest operations found for tiles of
    th rows, searched from the best of every height dividing th."""
    tile = VerticalTile(window(kw, kh), th, shared)
    seeds = [(h, best_vertical(kw, kh, h, shared)[1]) for h in range(1, th) if th % h == 0]
    return tile, tile.search(seeds=seeds)


# ---- two-dimensional tiles, for comparison ---------------------------------
#
# Adams's tiles of tw x th outputs, in our orientation: window rows are the
# sorted strips, shared by the tiles above and below (each row segment is
# sorted once for every tile that reads it); the tile's common rectangle is
# merged from its row segments, then the tile is halved, rows first (each
# half adds the sorted row segments its outputs share), then columns (each
# half adds column segments, sorted for this tile alone), down to single
# outputs.  Nothing else is shared between tiles.

class Tile2D:
    def __init__(self, window, tw, th, rows_first=True):
        self.window, self.tw, self.th, self.rows_first = window, tw, th, rows_first
        self.kw, self.kh = window.kw, window.kh
        self.row_sorts, self.column_sorts, self.merges = set(), set(), {}
        # Outputs (x, y) read columns x .. x + kw - 1 and rows y .. y + kh - 1.
        x1, y1 = tw, th
        core = self.strips((x1 - 1, y1 - 1, self.kw - tw + 1, self.kh - th + 1), rows=True)
        self.node(core, 0, tw, 0, th)

    def strip_split(self, count, size):
        return self.window.tree(count, size)[1]

    def strips(self, rect, rows):
        """The piece of rectangle rect = (x, y, w, h) merged from its row
        segments (rows) or column segments, in the cheapest tree."""
        x, y, w, h = rect
        count, size = (h, w) if rows else (w, h)
        if count == 1:
            if rows:
                self.row_sorts.add((x, w, y % self.th))
            else:
                self.column_sorts.add(rect)
            return rect
        m = self.strip_split(count, size)
        a = (x, y, w, m) if rows else (x, y, m, h)
        b = (x, y + m, w, h - m) if rows else (x + m, y, w - m, h)
        return self.merge(self.strips(a, rows), self.strips(b, rows))

    def merge(self, a, b):
        x, y = min(a[0], b[0]), min(a[1], b[1])
        w = a[2] + b[2] if a[1] == b[1] and a[3] == b[3] else a[2]
        h = a[3] + b[3] if a[0] == b[0] and a[2] == b[2] else a[3]
        rect = (x, y, w, h)
        assert w * h == a[2] * a[3] + b[2] * b[3], (a, b)
        self.merges[rect] = self.window.merge_cost(a[2] * a[3], b[2] * b[3])
        return rect

    def node(self, piece, x0, x1, y0, y1):
        """Outputs x0..x1-1 by y0..y1-1 share rectangle `piece`."""
        split_rows = y1 - y0 > 1 and (self.rows_first or x1 - x0 == 1)
        if split_rows:
            mid = (y0 + y1) // 2
            x, w = piece[0], piece[2]
            upper = self.strips((x, mid - 1, w, y1 - mid), rows=True)
            self.node(self.merge(upper, piece), x0, x1, y0, mid)
            lower = self.strips((x, y0 + self.kh, w, mid - y0), rows=True)
            self.node(self.merge(piece, lower), x0, x1, mid, y1)
        elif x1 - x0 > 1:
            mid = (x0 + x1) // 2
            y, h = piece[1], piece[3]
            left = self.strips((mid - 1, y, x1 - mid, h), rows=False)
            self.node(self.merge(left, piece), x0, mid, y0, y1)
            right = self.strips((x0 + self.kw, y, mid - x0, h), rows=False)
            self.node(self.merge(piece, right), mid, x1, y0, y1)

    def ops_per_output(self):
        ops = (sum(len(sort_net(w)) for _, w, _ in self.row_sorts) +
               sum(len(sort_net(h)) for _, _, _, h in self.column_sorts) +
               sum(self.merges.values()))
        return ops / (self.tw * self.th)


# ---- a vertical tile as code ---------------------------------------------------
#
# A sweep walks one vector column down in steps of th output rows and keeps
# a ring of pieces: the sorted rows, and the merged pieces that later steps
# read.  Piece `id` made `age` steps ago is piece(id, age).  Each step the
# sweep sorts the th new rows into piece(0 .. th-1, 0); the step's network
# reads pieces of every age, writes the merged pieces it makes into
# piece(id, 0) and gives the th medians.  Before the first step, `start`
# makes every piece of age >= 1 from the sorted rows 0 .. kh - 2.

class TileNetwork:
    def __init__(self, tile, splits):
        self.tile, self.splits = tile, splits
        self.window, self.kw, self.kh, self.th = tile.window, tile.kw, tile.kh, tile.th
        reads = {tile.canonical(tile.kh - 1 + j, 1)[0]: {0} for j in range(self.th)}
        for piece, m in splits.items():
            for child, age in tile.children(piece, m):
                reads.setdefault(child, set()).add(age)
        rows = [p for p in reads if p[1] == 1]
        merged = sorted(p for p in reads if p[1] > 1 and max(reads[p]) > 0)
        # Ids: the new rows in order, then the kept merged pieces.
        self.pieces = sorted(rows) + merged
        self.id = {p: i for i, p in enumerate(self.pieces)}
        self.ages = [max(reads[p]) for p in self.pieces]
        self.step_ops, self.step_outputs, self.step_stores = self.build_step()
        self.start_ops, self.start_stores = self.build_start()

    def size(self, piece):
        """Vectors a piece holds: its kept ranks."""
        return self.window.stored(piece[1] * self.kw)

    def join(self, b, piece, parts):
        """Adds the merge that makes `piece` from its two parts' values."""
        (c1, v1), (c2, v2) = parts
        na, nb = c1[1] * self.kw, c2[1] * self.kw
        if self.window.merge_order(na, nb) != (na, nb):
            (na, v1), (nb, v2) = (nb, v2), (na, v1)
        return instantiate(b, self.window.merge(na, nb), v1, v2)

    def build_step(self):
        b = g.Builder()
        made = {}

        def value(piece, age):
            if age > 0 or piece[1] == 1:
                return [f"p{self.id[piece]}_{age}[{i}]" for i in range(self.size(piece))]
            if piece not in made:
                parts = self.tile.children(piece, self.splits[piece])
                made[piece] = self.join(b, piece, [(c, value(c, a)) for c, a in parts])
            return made[piece]

        outputs = [value(p, 0)[0] for p in self.tile.outputs()]
        stores = []
        for piece in self.pieces:
            if piece[1] > 1:
                stores += [(f"k{self.id[piece]}[{i}]", v) for i, v in enumerate(value(piece, 0))]
        for piece in sorted(self.splits):  # pieces made for later steps only
            value(piece, 0)
        return b.ops, outputs, stores

    def build_start(self):
        b = g.Builder()
        made = {}

        def value(first, count):  # rows of the first step's frame
            assert first >= 0 and first + count <= self.kh - 1
            if count == 1:
                return [f"r{first}[{i}]" for i in range(self.kw)]
            if (first, count) not in made:
                piece, _ = self.tile.canonical(first, count)
                m = self.splits[piece]
                parts = [((first, m), value(first, m)),
                         ((first + m, count - m), value(first + m, count - m))]
                made[(first, count)] = self.join(b, piece, parts)
            return made[(first, count)]

        stores = []
        for piece in self.pieces:
            for age in range(1, self.ages[self.id[piece]] + 1):
                first = piece[0] - age * self.th
                stores += [(f"k{self.id[piece]}_{age}[{i}]", v)
                           for i, v in enumerate(value(first, piece[1]))]
        return b.ops, stores

    def reads(self, ops):
        """The (piece id, age) pairs that ops read through piece()."""
        found = set()
        for _, _, x, y in ops:
            for v in (x, y):
                if v.startswith("p"):
                    found.add(tuple(int(n) for n in v[1:v.index("[")].split("_")))
        return found

    def simulate(self, pixels, steps, low, high, median, program=None):
        """Runs the sweep's protocol down one column: rows sorted, start,
        then `steps` steps, by this network or by `program` (a Program of
        it).  pixels[r][c] is any value that low/high (min/max) take;
        returns for each output row the network's value and median(window
        values) of the same window."""
        kw, kh, th = self.kw, self.kh, self.th
        sort = sort_net(kw)

        def run(ops, env):
            env = dict(env)
            for name, kind, x, y in ops:
                env[name] = (low if kind == "min" else high)(env[x], env[y])
            return env

        rows = []
        for r in range(kh - 1 + steps * th):
            env = run(sort.ops, {f"a[{c}]": v for c, v in enumerate(pixels[r])})
            rows.append([env[o] for o in sort.outputs])
        ring = {}  # (piece id, step made, index) -> value
        if program:
            program.start.run({("r", r, i): v for r in range(kh - 1) for i, v in enumerate(rows[r])},
                              ring, 0, low, high)
        else:
            env = run(self.start_ops, {f"r{r}[{i}]": v for r in range(kh - 1)
                                       for i, v in enumerate(rows[r])})
            for slot, v in self.start_stores:
                name, i = slot[1:-1].split("[")
                piece, age = (int(n) for n in name.split("_"))
                ring[(piece, -age, int(i))] = env[v]
        results = []
        for step in range(steps):
            for j in range(th):
                for i, v in enumerate(rows[kh - 1 + step * th + j]):
                    ring[(j, step, i)] = v
            if program:
                out = program.step.run({}, ring, step, low, high)
                medians = [out[("out", j)] for j in range(th)]
            else:
                env = {}
                for piece, age in self.reads(self.step_ops):
                    assert age <= self.ages[piece]
                    for i in range(self.size(self.pieces[piece])):
                        env[f"p{piece}_{age}[{i}]"] = ring[(piece, step - age, i)]
                env = run(self.step_ops, env)
                for slot, v in self.step_stores:
                    piece, i = slot[1:-1].split("[")
                    ring[(int(piece), step, int(i))] = env[v]
                medians = [env[v] for v in self.step_outputs]
            for j, v in enumerate(medians):
                y = step * th + j
                window = [p for r in range(y, y + kh) for p in pixels[r]]
                results.append((v, median(window)))
        return results


# ---- the same networks as programs -------------------------------------------
#
# For windows without compiled code, a small interpreter can run a tile's
# network over memory: each instruction is (kind, dst, a, b), each operand a
# (base, index) pair, base 0 the interpreter's scratch vectors, base 1 the
# outputs and every other base one piece(id, age) (or, in start, one sorted
# row), looked up once per step.  Four 16-bit fields make an instruction of
# 8 bytes.  Scratch slots are reused as soon as a value's last reader has
# run, so the scratch is only as large as the values alive at once.

class Listing:
    """One network (a step's or start's) as instructions."""

    def __init__(self, ops, inputs, stores, outputs):
        """inputs(name) -> base key and index of an input value, or None;
        stores: (base key, index, value); outputs: values in order."""
        self.bases = [("scratch",), ("out",)]
        base_of = {}

        def operand(key, index):
            if key not in base_of:
                base_of[key] = len(self.bases)
                self.bases.append(key)
            return base_of[key], index

        place = {}
        for name in sorted({v for op in ops for v in op[2:]}):
            found = inputs(name)
            if found:
                place[name] = operand(*found)
        for key, index, v in stores:
            if inputs(v):  # an input copied to a piece: min(v, v)
                place[v] = operand(*inputs(v))
                ops = [(("copy", key, index), "min", v, v)] + list(ops)
                place[("copy", key, index)] = operand(key, index)
            else:
                place[v] = operand(key, index)
        for j, v in enumerate(outputs):
            place[v] = (1, j)
        last = {}
        for position, (_, _, x, y) in enumerate(ops):
            last[x] = last[y] = position
        free, self.scratch = [], 0
        self.code = []
        for position, (name, kind, x, y) in enumerate(ops):
            a, b = place[x], place[y]
            for v in sorted({x, y}):  # the operands are read before dst is written
                if last[v] == position and place[v][0] == 0:
                    free.append(place[v][1])
            if name not in place:
                if not free:
                    free.append(self.scratch)
                    self.scratch += 1
                place[name] = (0, free.pop())
            self.code.append((kind, place[name], a, b))

    def run(self, inputs, ring, step, low, high):
        """Runs the instructions; piece bases read and write ring[(id,
        step - age, index)], row bases read inputs[("r", row, index)].
        Returns the outputs as {("out", j): value}."""
        memory, out = {}, {}

        def cell(operand):
            key = self.bases[operand[0]]
            if key[0] == "scratch":
                return memory, operand[1]
            if key[0] == "out":
                return out, ("out", operand[1])
            if key[0] == "row":
                return inputs, ("r", key[1], operand[1])
            return ring, (key[1], step - key[2], operand[1])

        for kind, dst, a, b in self.code:
            (ma, ka), (mb, kb), (md, kd) = cell(a), cell(b), cell(dst)
            md[kd] = (low if kind == "min" else high)(ma[ka], mb[kb])
        return out

    def pairs(self):
        """Instructions that a min and a max of the same operands next to
        each other could share (one load of each operand for both)."""
        count = 0
        for (k1, _, a1, b1), (k2, _, a2, b2) in zip(self.code, self.code[1:]):
            count += k1 != k2 and {a1, b1} == {a2, b2}
        return count


def read_name(name):
    """'p3_1[4]' -> ('p', [3, 1], 4)"""
    head, index = name[:-1].split("[")
    return head[0], [int(n) for n in head[1:].split("_")], int(index)


class Program:
    """A network's step and start as Listings; `order` may reorder the
    step's operations (any order that computes each value before its
    readers)."""

    def __init__(self, net, order=list):
        def step_input(name):
            if name[0] == "p":
                _, (piece, age), index = read_name(name)
                return ("piece", piece, age), index
            return None

        def start_input(name):
            if name[0] == "r":
                _, (row,), index = read_name(name)
                return ("row", row), index
            return None

        self.step = Listing(order(net.step_ops), step_input,
                            [(("piece",) + tuple(read_name(slot)[1]) + (0,), read_name(slot)[2], v)
                             for slot, v in net.step_stores],
                            net.step_outputs)
        self.start = Listing(net.start_ops, start_input,
                             [(("piece",) + tuple(read_name(slot)[1]), read_name(slot)[2], v)
                              for slot, v in net.start_stores], [])


def random_bits(rng, lanes, levels):
    """A 0/1 value per lane, one with probability levels[lane] / 256: the
    bits of a random byte compared with the lane's level, bit-sliced."""
    full = (1 << lanes) - 1
    level = [sum(1 << lane for lane in range(lanes) if levels[lane] >> i & 1) for i in range(8)]

    def draw():
        below, equal = 0, full
        for i in reversed(range(8)):
            u = rng.getrandbits(lanes)
            below |= equal & ~u & level[i]
            equal &= ~(u ^ level[i]) & full
        return below
    return draw


def prove_tile(net, seed=25, lanes=4096, byte_columns=64):
    """Every piece of the tile on its whole 0/1 domain (which proves the
    tile), then the sweep's protocol (start, then steps until every kept
    piece has been read at every age) on whole columns, by the network and
    by its program: on every 0/1 input of as many steps as have at most 25
    input values, and unless that is all of them, on `lanes` random 0/1
    columns (each with its own density, most near one half) and, by the
    network, on random bytes against sorting.  Returns what was checked,
    for the header."""
    window, kw, kh, th = net.window, net.kw, net.kh, net.th
    prove_sort(kw)
    for piece, m in net.splits.items():
        na, nb = window.merge_order(m * kw, (piece[1] - m) * kw)
        prove_merge(window, na, nb)
    program = Program(net)

    def check(pixels, steps, lanes):
        full = (1 << lanes) - 1
        for form in (None, program):
            for got, want in net.simulate(pixels, steps, lambda x, y: x & y, lambda x, y: x | y,
                                          lambda w: at_least(counter(w), window.rank + 1, full),
                                          form):
                assert got == want, ("tile", str(window), th, "program" if form else "network")

    steps = max(net.ages) + 2
    every = max((s for s in range(1, steps + 1) if (kh - 1 + s * th) * kw <= 25), default=0)
    how = []
    if every:
        values = (kh - 1 + every * th) * kw
        wires = pattern_bits(values, values)
        check([wires[r * kw:(r + 1) * kw] for r in range(kh - 1 + every * th)], every, 1 << values)
        how.append(f"all {1 << values} 0/1 inputs of {every} step{'s' * (every > 1)}")
    if every < steps:
        rows = kh - 1 + steps * th
        rng = random.Random(seed)
        levels = [rng.randrange(112, 145) if lane % 4 else rng.randrange(1, 256)
                  for lane in range(lanes)]
        draw = random_bits(rng, lanes, levels)
        check([[draw() for _ in range(kw)] for _ in range(rows)], steps, lanes)
        for column in range(byte_columns):
            few = column % 2 == 0  # few distinct values: many ties
            pixels = [[rng.randrange(4) * 64 + 7 if few else rng.randrange(256) for _ in range(kw)]
                      for _ in range(rows)]
            for got, want in net.simulate(pixels, steps, min, max,
                                          lambda w: sorted(w)[window.rank]):
                assert got == want, ("tile bytes", str(window), th)
        how.append(f"{lanes} random 0/1 columns and {byte_columns} of random bytes, "
                   f"{steps} steps each")
    return " and ".join(how)


# ---- operation order --------------------------------------------------------
#
# The networks keep the order they are built in: depth first, each piece's
# merge finished before the next piece's begins, each merge in Batcher's
# recursion (even positions, odd positions, then the last layer).  Greedy
# list schedules of the median25 kind, tried on these tiles, always spilled
# more than this order (for 9x9 in tiles of 5, 140 to 220 stores against
# 100), so the headers only report the order's cost.

def in_memory(name):
    """Values that live in memory anyway: what the network reads through
    piece() and row()."""
    return name[0] in "pr"


def spills(ops, stored, registers):
    """Values an ideal allocator with `registers` vector registers must
    store, for ops in this order: it evicts the value read furthest ahead
    (the best choice); a value read from memory or already stored (a kept
    piece, stored as soon as it is made) costs nothing to evict, and one
    operand of each operation may come straight from memory."""
    uses = {}
    for position, (_, _, x, y) in enumerate(ops):
        for v in (x, y):
            uses.setdefault(v, []).append(position)
    cursor = {v: 0 for v in uses}
    in_register, safe, count = set(), set(stored), 0

    def next_use(v):
        positions = uses.get(v, ())
        i = cursor.get(v, 0)
        return positions[i] if i < len(positions) else len(ops)

    def make_room(keep):
        nonlocal count
        while len(in_register) >= registers:
            victim = max((v for v in in_register if v not in keep), key=next_use)
            in_register.discard(victim)
            if next_use(victim) < len(ops) and not in_memory(victim) and victim not in safe:
                safe.add(victim)
                count += 1

    for name, _, x, y in ops:
        if x not in in_register and y not in in_register:
            make_room((x, y))
            in_register.add(x)
        for v in (x, y):
            cursor[v] += 1
            if next_use(v) == len(ops):
                in_register.discard(v)
        make_room((x, y))
        in_register.add(name)
    return count


# ---- C++ -------------------------------------------------------------------------

def struct_name(window):
    return f"Separable{window.kw}x{window.kh}"


def header_name(window):
    return f"separable_{window.kw}x{window.kh}_networks.h"


def emit_ops(ops, stores, out, indent="    "):
    """Writes ops, each store right after the value it stores."""
    after = {}
    for slot, v in stores:
        after.setdefault(v, []).append(slot)
    for slot in after.pop(None, []):
        out.write(f"{indent}{slot};\n")
    for v in [v for v in after if not v.startswith("t")]:  # copies of inputs
        for slot in after.pop(v):
            out.write(f"{indent}{slot} = {v};\n")
    for name, kind, x, y in ops:
        out.write(f"{indent}const V {name} = Ops::{kind}({x}, {y});\n")
        for slot in after.pop(name, []):
            out.write(f"{indent}{slot} = {name};\n")
    assert not after, after


def comment(text, indent=""):
    """Paragraphs of text as // lines of at most 80 columns."""
    lines = []
    for paragraph in text.split("\n\n"):
        lines += textwrap.wrap(paragraph, 77 - len(indent)) + [""]
    return "".join(f"{indent}// {line}".rstrip() + "\n" for line in lines[:-1])


def emit_separable(kw, kh, th, out, which):
    tile, splits = best_vertical(kw, kh, th)
    net = TileNetwork(tile, splits)
    window = net.window
    proof = prove_tile(net)
    sort = sort_net(kw)
    per_output = (th * len(sort) + len(net.step_ops)) / th
    piece_reads = sum(1 for op in net.step_ops for v in op[2:] if v[0] == "p")
    stored = {v for _, v in net.step_stores}
    spilled = {r: spills(net.step_ops, stored, r) for r in (16, 32)}
    ring = [age + 1 for age in net.ages]
    sizes = [net.size(p) for p in net.pieces]
    first_new, last = kh - 1, kh + th - 2
    out.write(g.HEADER.format(which=which) + "//\n" + comment(
        f"The {window} median (rank {window.rank} of {window.n}) of {th} output rows at a "
        "time, down one vector column: A. Adams's separable sorting networks transposed, "
        "window rows sorted once and merged pieces of rows shared by the rows of a step and "
        "between steps (median/network/gen_separable.py says how the pieces are chosen).  Each merge "
        "is Batcher's odd-even merge or a min of maxima, pruned to the ranks that can still be "
        f"the median.  Per step: {th} row sorts of {len(sort)} operations and a tile network of "
        f"{len(net.step_ops)}, {per_output:g} operations per output vector.  The operations keep "
        "the order of construction, each merge finished before the next; an ideal allocator "
        f"stores {spilled[16]} values per step with 16 registers, {spilled[32]} with 32.  "
        "Proved by the generator: every merge on all of its 0/1 inputs, the row sort on all "
        f"0/1 rows, and this protocol on {proof}.\n\n"
        "The protocol.  Rows are counted from a step's first window row: the step makes output "
        f"rows 0 .. {th - 1} from window rows 0 .. {last}, of which {first_new} .. {last} are "
        f"new; the next step is {th} rows further down.  The sweep keeps a ring of pieces per "
        "vector column: `piece(id, age)` returns the storage (V*) of piece `id` as made `age` "
        "steps ago, RING[id] of them per id, SIZE[id] vectors each:") +
        "//\n"
        "//   id  rows      vectors                    made by   read at ages\n")
    reads = net.reads(net.step_ops)
    for i, piece in enumerate(net.pieces):
        first, count = piece
        rows = f"{first}" if count == 1 else f"{first} .. {first + count - 1}"
        lo, hi = window.kept(count * kw)
        what = (f"{sizes[i]} sorted" if sizes[i] == count * kw else
                f"{sizes[i]}, ranks {lo} .. {hi} of {count * kw}")
        ages = sorted(a for p, a in reads if p == i)
        made = "sort_row" if count == 1 else "tile"
        out.write(f"//   {i:2}  {rows:8}  {what:25}  {made:8}  {', '.join(map(str, ages))}\n")
    out.write("//\n" + comment(
        f"Each step: sort_row the new rows {first_new} .. {last} into piece(0 .. {th - 1}, 0), "
        f"then tile(piece, out), which writes piece({th} .. {len(net.pieces) - 1}, 0) and the "
        f"{th} medians.  Before the first step: sort_row window rows 0 .. {kh - 2} and call "
        "start(row, piece), `row(r)` returning sorted row r (const V*); it fills every piece "
        "of age 1 or more.  Past the end of a band the new rows may be any readable rows: an "
        "output depends on its own window rows only.") +
        "#pragma once\n\n"
        "namespace median::detail {\n\n" + g.OPS_CONTRACT +
        f"struct {struct_name(window)} {{\n"
        f"  static constexpr int COLUMNS = {kw}, ROWS = {kh}, TILE_ROWS = {th}, PIECES = {len(net.pieces)};\n"
        f"  static constexpr int SORT_ROW_OPS = {len(sort)}, TILE_OPS = {len(net.step_ops)}, "
        f"START_OPS = {len(net.start_ops)};\n"
        f"  // Values of kept pieces a step's tile reads (each a load) and writes.\n"
        f"  static constexpr int PIECE_READS = {piece_reads}, PIECE_WRITES = {len(net.step_stores)};\n"
        f"  static constexpr int RING[PIECES] = {{{', '.join(map(str, ring))}}};\n"
        f"  static constexpr int SIZE[PIECES] = {{{', '.join(map(str, sizes))}}};\n\n"
        f"  // Sorts the {kw} values of a window row.\n"
        "  template <class Ops>\n"
        f"  [[gnu::always_inline]] static void sort_row(const typename Ops::V (&a)[{kw}],\n"
        f"                                               typename Ops::V (&out)[{kw}]) {{\n"
        "    using V = typename Ops::V;\n")
    emit_ops(sort.ops, [(f"out[{i}]", v) for i, v in enumerate(sort.outputs)], out)
    out.write(
        "  }\n\n"
        "  // One step: the medians of output rows 0 .. TILE_ROWS - 1.\n"
        "  template <class Ops, class Piece>\n"
        "  [[gnu::always_inline]] static void tile(const Piece& piece,\n"
        f"                                           typename Ops::V (&out)[{th}]) {{\n"
        "    using V = typename Ops::V;\n")
    for i, age in sorted(reads):
        out.write(f"    const V* const p{i}_{age} = piece({i}, {age});\n")
    for i, piece in enumerate(net.pieces):
        if piece[1] > 1:
            out.write(f"    V* const k{i} = piece({i}, 0);\n")
    emit_ops(net.step_ops, net.step_stores + [(f"out[{j}]", v) for j, v in enumerate(net.step_outputs)],
             out)
    out.write(
        "  }\n\n"
        "  // Before the first step: every piece of age 1 or more.\n"
        "  template <class Ops, class Row, class Piece>\n"
        "  [[gnu::always_inline]] static void start(const Row& row, const Piece& piece) {\n"
        "    using V = typename Ops::V;\n")
    used_rows = sorted({int(v[1:v.index("[")]) for op in net.start_ops for v in op[2:] if v[0] == "r"} |
                       {int(v[1:v.index("[")]) for _, v in net.start_stores if v[0] == "r"})
    for r in used_rows:
        out.write(f"    const V* const r{r} = row({r});\n")
    for i in range(len(net.pieces)):
        for age in range(1, net.ages[i] + 1):
            out.write(f"    V* const k{i}_{age} = piece({i}, {age});\n")
    emit_ops(net.start_ops, net.start_stores, out)
    out.write("  }\n};\n\n}  // namespace median::detail\n")


# ---- the interpreted programs as C++ data -------------------------------------
#
# Windows past those with compiled code run as data: a step's tile network and
# the row sorts as instructions (Listing) that one loop of the sweep runs over
# the thread's working memory (separable_program.h).  Each instruction takes
# two operands and writes both their min and their max, so a min and a max of
# the same operands next to each other are one instruction; a lone min or
# max sends its other result to a sink slot of the scratch.  Every operand is
# a slot of one layout: each piece's ages side by side (age a of piece id at
# PIECE_SLOT[id] + a * SIZE[id]; after each step the sweep moves every age
# one place up), the scratch, the step's outputs and the loaded row.  So an
# operand is a number the interpreter only scales, with no table to look up.
# There is no start: a band's walk begins with warm-up steps above the band,
# whose rows above the first are any readable row; a piece made from such
# rows reaches only outputs above the band, which are not stored, since
# every piece a stored output reads holds rows of its own window.


def pairs_up(ops, i):
    """Whether ops[i] and ops[i + 1] (name or dst, kind, x, y) are a min and
    a max of the same operands, one instruction."""
    return (i + 1 < len(ops) and ops[i + 1][1] != ops[i][1] and
            {ops[i + 1][2], ops[i + 1][3]} == {ops[i][2], ops[i][3]})


def paired(code, sink):
    """Listing instructions (kind, dst, a, b) as (a, b, min dst, max dst)."""
    out, i = [], 0
    while i < len(code):
        kind, dst, a, b = code[i]
        if pairs_up(code, i):
            dst2 = code[i + 1][1]
            out.append((a, b) + ((dst, dst2) if kind == "min" else (dst2, dst)))
            i += 2
        else:
            out.append((a, b) + ((dst, sink) if kind == "min" else (sink, dst)))
            i += 1
    return out


# Instructions between a value's making and its first reader, where the
# network allows: an interpreted instruction's operands are loads from
# memory, and a load that closely follows the store of its value waits for
# it (or, predicted independent, is replayed); a distance beyond what the
# processor holds in flight hides both.
SCHEDULE_DISTANCE = 8


def schedule(ops, distance=SCHEDULE_DISTANCE):
    """ops (name, kind, x, y) in an order that keeps each value's readers at
    least `distance` instructions after it wherever the dependences allow
    (a min and a max of the same operands stay together, one instruction):
    list scheduling, of the instructions ready the earliest in the given
    order first.  The given order makes each merge whole before the next,
    so its operands are still in the L1 cache when it runs; the longest
    remaining chain first, which this replaced, interleaved every merge of
    the step: it read 2 to 3 times as many slots from outside a 48 KiB
    cache (256 bytes a slot) and ran 0.80 to 0.88 times as fast from 19x19
    to 25x25 (AMD Zen 5, 16 bits, AVX-512, one thread, best of 7
    alternating runs; the same at 17x17)."""
    units, unit_of = [], {}
    i = 0
    while i < len(ops):
        size = 2 if pairs_up(ops, i) else 1
        units.append(ops[i:i + size])
        i += size
    for u, unit in enumerate(units):
        for op in unit:
            unit_of[op[0]] = u
    producers = [{unit_of[v] for op in unit for v in op[2:] if v in unit_of} for unit in units]
    readers = [[] for _ in units]
    for u, ps in enumerate(producers):
        for p in ps:
            readers[p].append(u)
    waiting = [len(ps) for ps in producers]
    ready_at = [0] * len(units)
    pending = [(0, u) for u in range(len(units)) if not waiting[u]]
    heapq.heapify(pending)
    available, order = [], []
    while pending or available:
        t = len(order)
        while pending and pending[0][0] <= t:
            _, u = heapq.heappop(pending)
            heapq.heappush(available, u)
        if available:
            u = heapq.heappop(available)
        else:
            _, u = heapq.heappop(pending)
        order.append(u)
        for r in readers[u]:
            ready_at[r] = max(ready_at[r], t + distance)
            waiting[r] -= 1
            if not waiting[r]:
                heapq.heappush(pending, (ready_at[r], r))
    assert len(order) == len(units)
    return [op for u in order for op in units[u]]


def warm_up_steps(kh, th):
    """Steps above a band whose new rows can complete a piece of rows 0 and
    below: every step whose last new row, kh + th - 2 rows below its first
    output, is at least row 0."""
    return (kh + th - 2) // th


class InterpretedProgram:
    """A window's step and row sorts in the interpreter's form."""

    def __init__(self, k, th):
        tile, splits = best_vertical(k, k, th)
        self.net = net = TileNetwork(tile, splits)
        step = Program(net, schedule).step
        self.th, self.k = th, k
        self.ring = [age + 1 for age in net.ages]
        self.sizes = [net.size(p) for p in net.pieces]
        sort = sort_net(k)
        sort_listing = Listing(schedule(sort.ops), lambda name: (("row",), int(name[2:-1])) if name.startswith("a[") else None,
                               [(("sorted",), i, v) for i, v in enumerate(sort.outputs)], [])
        # The layout, in slots.
        self.piece_slot = [sum(r * s for r, s in zip(self.ring[:i], self.sizes[:i]))
                           for i in range(len(self.ring))]
        self.scratch_slot = sum(r * s for r, s in zip(self.ring, self.sizes))
        scratch = max(step.scratch, sort_listing.scratch) + 1  # and the sink
        self.out_slot = self.scratch_slot + scratch
        self.row_slot = self.out_slot + th
        self.slots = self.row_slot + k
        sink = (0, scratch - 1)

        def resolve(listing, code, sorted_piece=None):
            def slot(operand):
                base, index = operand
                key = listing.bases[base]
                if key[0] == "scratch":
                    return self.scratch_slot + index
                if key[0] == "out":
                    return self.out_slot + index
                if key[0] == "row":
                    return self.row_slot + index
                piece, age = (sorted_piece, 0) if key[0] == "sorted" else key[1:]
                return self.piece_slot[piece] + age * self.sizes[piece] + index
            return [tuple(slot(operand) for operand in ins) for ins in code]

        sort_code = paired(sort_listing.code, sink)
        self.sorts = [resolve(sort_listing, sort_code, j) for j in range(th)]
        self.step = resolve(step, paired(step.code, sink))
        self.sort_ops, self.step_ops = len(sort.ops), len(net.step_ops)
        self.warm_up = warm_up_steps(k, th)
        assert self.slots < 1 << 16

    def run(self, pixels, steps, low, high, garbage):
        """The sweep's walk down one column as the C++ interpreter runs it:
        warm-up steps on row 0 where rows above it would be, then `steps`
        steps, from memory holding `garbage`.  Returns each output row's
        value."""
        k, th = self.k, self.th
        memory = [garbage] * self.slots

        def execute(code):
            for a, b, lo, hi in code:
                x, y = memory[a], memory[b]
                memory[lo], memory[hi] = low(x, y), high(x, y)

        results = []
        for step in range(self.warm_up + steps):
            y = (step - self.warm_up) * th
            for j in range(th):
                r = max(0, y + k - 1 + j)
                memory[self.row_slot:self.row_slot + k] = pixels[r]
                execute(self.sorts[j])
            execute(self.step)
            if y >= 0:
                results += memory[self.out_slot:self.out_slot + th]
            for first, ring, size in zip(self.piece_slot, self.ring, self.sizes):
                memory[first + size:first + ring * size] = memory[first:first + (ring - 1) * size]
        return results


def prove_program(p, seed=17, columns=24):
    """The interpreted walk against sorting, on random columns of bytes and
    of three values (many ties), from memory holding garbage."""
    rng = random.Random(seed)
    k, th = p.k, p.th
    steps = 2 * p.warm_up + 2
    for column in range(columns):
        levels = 256 if column % 2 else 3
        pixels = [[rng.randrange(levels) for _ in range(k)] for _ in range(k - 1 + steps * th)]
        got = p.run(pixels, steps, min, max, rng.randrange(256))
        for y, v in enumerate(got):
            window = sorted(v for r in range(y, y + k) for v in pixels[r])
            assert v == window[len(window) // 2], ("program", k, column, y)
    return f"{columns} random columns of bytes and of three values, {steps} steps each"


def emit_program(k, out, which):
    p = InterpretedProgram(k, PROGRAMS[k])
    prove_tile(p.net, lanes=256, byte_columns=8)
    proof = prove_program(p)

    def code(instructions, indent):
        words = [", ".join(map(str, ins)) for ins in instructions]
        for i in range(0, len(words), 4):
            out.write(indent + " ".join(f"{{{w}}}," for w in words[i:i + 4]) + "\n")
    window = p.net.window
    per_output = (p.th * p.sort_ops + p.step_ops) / p.th
    out.write(g.HEADER.format(which=which) + "//\n" + comment(
        f"The {window} median (rank {window.rank} of {window.n}) of {p.th} output rows at a "
        "time, as data for the interpreter of separable_program.h: the same construction as "
        "the compiled windows (median/network/gen_separable.py), a step's tile network and "
        f"the row sorts as instructions.  Per step: {p.th} row sorts of {p.sort_ops} operations "
        f"({len(p.sorts[0])} instructions each) and a tile network of {p.step_ops} "
        f"({len(p.step)} instructions), {per_output:g} operations per output vector; "
        f"{p.warm_up} warm-up steps start each band's walk.  Proved by the generator: every "
        "merge on all of its 0/1 inputs, the row sort on all 0/1 rows, the tile through the "
        "sweep's protocol, and these instructions as the interpreter runs them on "
        f"{proof}.\n\n"
        "Slots: age a of piece id at PIECE_SLOT[id] + a * SIZE[id], RING[id] ages of SIZE[id] "
        "vectors; pieces 0 .. TILE_ROWS - 1 are the step's new rows sorted, SORT[j] sorting the "
        "row loaded at ROW_SLOT into piece j; then the scratch, and the step's outputs at "
        "OUT_SLOT.  An instruction {a, b, min, max} writes the min of slots a and b to slot "
        "min and their max to slot max.") +
        "#pragma once\n\n"
        "#include \"median/network/program_op.h\"\n\n"
        "namespace median::detail {\n\n"
        f"struct SeparableProgram{k}x{k} {{\n"
        f"  static constexpr int WINDOW = {k}, TILE_ROWS = {p.th}, PIECES = {len(p.ring)}, "
        f"WARM_UP_STEPS = {p.warm_up};\n"
        f"  static constexpr int SORT_ROW_OPS = {p.sort_ops}, TILE_OPS = {p.step_ops};\n"
        f"  static constexpr int RING[PIECES] = {{{', '.join(map(str, p.ring))}}};\n"
        f"  static constexpr int SIZE[PIECES] = {{{', '.join(map(str, p.sizes))}}};\n"
        f"  static constexpr int PIECE_SLOT[PIECES] = {{{', '.join(map(str, p.piece_slot))}}};\n"
        f"  static constexpr int OUT_SLOT = {p.out_slot}, ROW_SLOT = {p.row_slot}, SLOTS = {p.slots};\n"
        f"  static constexpr ProgramOp SORT[TILE_ROWS][{len(p.sorts[0])}] = {{\n")
    for sort in p.sorts:
        out.write("      {\n")
        code(sort, "          ")
        out.write("      },\n")
    out.write("  };\n  static constexpr ProgramOp STEP[] = {\n")
    code(p.step, "      ")
    out.write("  };\n};\n\n}  // namespace median::detail\n")


# ---- the commands -------------------------------------------------------------

# The tile height of each window with compiled code.  The fewest operations
# per output (see `table`) is not the fastest once a step's code outgrows
# the processor's instruction caches: 15x15 in tiles of 8 rows (572
# operations per output, 3632 in a step's tile) ran at 90 Mpixel/s on bytes
# and in tiles of 4 (657, 2156) at 226; 6 and 3 rows were slower than 4.
# 9x9 and 13x13 also ran up to 25 % faster in tiles of 4 than of 5 and 7;
# 17x17 to 21x21 take tiles of 2, whose steps stay near 2000-3300
# operations (AMD Zen 5, AVX-512, one thread, 960x540x3, alternating runs).
# Their compile time grows faster than their size: 19x19 and 21x21 add
# about 40 s each to an instruction set's file.
SHIPPED = {3: 2, 7: 4, 9: 4, 11: 4, 13: 4, 15: 4, 17: 2, 19: 2, 21: 2}
# The windows run as interpreted programs, their tile heights those with the
# fewest operations per output.  Beyond 25x25 the interpreter's working
# memory outgrows the L2 cache and the rank method is faster
# (docs/kernels.md).
PROGRAMS = {17: 6, 19: 8, 21: 7, 23: 8, 25: 8}
HEIGHTS = range(1, 9)
WINDOWS = range(3, 32, 2)
# Adams's own counts (min/max per output), as the paper gives them.
PAPER = {7: "1x1: 326, 1x2: 252, 2x2: 161", 25: "4x4: 1770"}
TILES_2D = [(1, 1), (2, 2), (2, 4), (4, 4)]


def per_output(k, th, shared=True, kh=None):
    tile, splits = best_vertical(k, kh or k, th, shared)
    return tile.ops_per_step(splits) / th


def adams_vertical(k, th):
    """Adams's recursion in tiles of 1 x th, or None where th > k (the
    tile's outputs then share no row)."""
    if th > k:
        return None
    tile = VerticalTile(window(k, k), th, shared=False)
    return tile.ops_per_step(tile.closure(tile.adams_splits())) / th


def best_height(kw, kh=None):
    return min(HEIGHTS, key=lambda th: (per_output(kw, th, kh=kh), th))


def number(x):
    return "–" if x is None else f"{x:.1f}".rstrip("0").rstrip(".")


def summary(k, th):
    """What a sweep of window k in tiles of th costs, per step."""
    tile, splits = best_vertical(k, k, th)
    net = TileNetwork(tile, splits)
    program = Program(net)
    stored = {v for _, v in net.step_stores}
    return {
        "ops/output": number(per_output(k, th)),
        "tile ops": len(net.step_ops),
        "start ops": len(net.start_ops),
        "kept vectors": sum((age + 1) * net.size(p) for age, p in zip(net.ages, net.pieces)),
        "spills (16, 32)": f"{spills(net.step_ops, stored, 16)}, {spills(net.step_ops, stored, 32)}",
        "program": f"{len(program.step.code)} + {len(program.start.code)}",
        "paired": f"{200 * program.step.pairs() / len(program.step.code):.0f} %",
        "scratch": program.step.scratch,
    }


def table(out):
    def row(cells):
        out.write("| " + " | ".join(str(c) for c in cells) + " |\n")

    def rule(n):
        row(["---"] * n)
    out.write(
        "<!-- generated by median/network/gen_networks.py table; do not edit -->\n"
        "# Separable median networks: operations per output\n\n"
        "Min/max operations per output vector of a k x k median, in steady state (a "
        "sweep's start is not counted), from `median/network/gen_separable.py`.  Tiles are tw x th "
        "outputs (columns x rows); our lanes run along x, so a tile that needs no re-layout "
        "is th output rows of one vector column, and window rows (sorted once each) are "
        "what its outputs share.\n\n"
        "## Vertical tiles, pieces shared between steps\n\n"
        "Sorted rows and merged ranges of rows are made once and kept for every later step "
        "that reads them; which ranges to merge is searched (best found; **bold**: the "
        "fewest for the window).\n\n")
    row(["window"] + [f"th = {th}" for th in HEIGHTS])
    rule(len(HEIGHTS) + 1)
    for k in WINDOWS:
        best = best_height(k)
        row([f"{k}x{k}"] + [f"**{number(per_output(k, th))}**" if th == best else
                           number(per_output(k, th)) for th in HEIGHTS])
    out.write(
        "\n## Vertical tiles, only the sorted rows shared\n\n"
        "Adams's recursion in tiles of 1 x th: the rows all th outputs share merged, then "
        "halves of the tile adding their own rows; each tile on its own but for the sorted "
        "rows.\n\n")
    row(["window"] + [f"th = {th}" for th in HEIGHTS])
    rule(len(HEIGHTS) + 1)
    for k in WINDOWS:
        row([f"{k}x{k}"] + [number(adams_vertical(k, th)) for th in HEIGHTS])
    out.write(
        "\n## Two-dimensional tiles, for comparison\n\n"
        "Adams's recursion in tw x th tiles, as `Tile2D` models it: row segments sorted once "
        "for the tiles above and below, the tile's common rectangle merged from them, then "
        "halves adding rows (sorted segments) and then columns (sorted for the tile alone). "
        "The last columns are the vertical tiles above, at their best height, and the "
        "paper's counts where it gives them (its tiles in its own orientation).\n\n")
    row(["window"] + [f"{tw}x{th}" for tw, th in TILES_2D] +
        ["1 x th, rows only", "1 x th, shared", "paper"])
    rule(len(TILES_2D) + 4)
    for k in WINDOWS:
        adams = min((th for th in HEIGHTS if th <= k), key=lambda th: adams_vertical(k, th))
        best = best_height(k)
        row([f"{k}x{k}"] +
            [number(Tile2D(window(k, k), tw, th).ops_per_output() if max(tw, th) <= k else None)
             for tw, th in TILES_2D] +
            [f"{number(adams_vertical(k, adams))} ({adams})", f"{number(per_output(k, best))} ({best})",
             PAPER.get(k, "")])
    out.write(
        "\n## What each window's best tile costs\n\n"
        "Per step of th output rows: the tile network's operations (th row sorts besides) and "
        "the start's; the vectors a sweep keeps per vector column (its ring of pieces); "
        "values an ideal allocator must store in the network's order with 16 and 32 "
        "registers; the program form's instructions (step + start), the share of them in "
        "min/max pairs on the same operands, and its scratch vectors.\n\n")
    keys = list(summary(7, 4))
    row(["window", "th"] + keys)
    rule(len(keys) + 2)
    for k in WINDOWS:
        th = best_height(k)
        row([f"{k}x{k}", th] + [summary(k, th)[key] for key in keys])


def program_listing(kw, kh, th, out):
    tile, splits = best_vertical(kw, kh, th)
    net = TileNetwork(tile, splits)
    program = Program(net)
    out.write(f"# {kw}x{kh} median, tiles of {th} output rows: the program form "
              "(median/network/gen_separable.py)\n")
    out.write("# piece id: rows, vectors, ring depth\n")
    for i, (first, count) in enumerate(net.pieces):
        out.write(f"piece {i}: {first}..{first + count - 1} {net.size((first, count))} "
                  f"{net.ages[i] + 1}\n")
    for name, listing in (("step", program.step), ("start", program.start)):
        out.write(f"{name}: {len(listing.code)} instructions, {listing.scratch} scratch vectors\n")
        out.write("bases: " + " ".join(f"{b}={'.'.join(map(str, key))}"
                                      for b, key in enumerate(listing.bases)) + "\n")
        for kind, *operands in listing.code:
            out.write(kind + " " + " ".join(f"{b}:{i}" for b, i in operands) + "\n")


def window_size(arg):
    """'7' or '7x3' (columns x rows) -> (kw, kh), odd sizes from 3."""
    kw, _, kh = arg.partition("x")
    size = int(kw), int(kh or kw)
    if min(size) < 3 or size[0] % 2 == 0 or size[1] % 2 == 0:
        raise ValueError(arg)
    return size


def main(args):
    which = args[0]
    if which == "separable" and len(args) == 2 and int(args[1]) in SHIPPED:
        k = int(args[1])
        emit_separable(k, k, SHIPPED[k], sys.stdout, f"separable {k}")
    elif which == "interpreted" and len(args) == 2 and int(args[1]) in PROGRAMS:
        k = int(args[1])
        emit_program(k, sys.stdout, f"interpreted {k}")
    elif which == "table" and len(args) == 1:
        table(sys.stdout)
    elif which == "program" and len(args) in (2, 3):
        kw, kh = window_size(args[1])
        program_listing(kw, kh, int(args[2]) if len(args) == 3 else best_height(kw, kh),
                        sys.stdout)
    elif which == "prove":
        for kw, kh in [window_size(a) for a in args[1:]] or [(k, k) for k in WINDOWS]:
            for th in HEIGHTS:
                started = time.time()
                how = prove_tile(TileNetwork(*best_vertical(kw, kh, th)))
                print(f"{kw}x{kh} in tiles of {th}: every merge and the row sort on all 0/1 "
                      f"inputs, the protocol on {how} ({time.time() - started:.1f} s)", flush=True)
    else:
        sys.exit("usage: gen_networks.py separable " + "|".join(map(str, SHIPPED)) +
                 " | interpreted " + "|".join(map(str, PROGRAMS)) +
                 " | table | program KW[xKH] [TH] | prove [KW[xKH] ...]")
