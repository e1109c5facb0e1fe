#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the engine's min/max networks as C++ headers.

  python3 median/network/gen_networks.py median25 > median/network/median25_network.h
  python3 median/network/gen_networks.py rowpair  > median/network/rowpair_networks.h
  python3 median/network/gen_networks.py separable 7 > median/network/separable_7x7_networks.h
  python3 median/network/gen_networks.py interpreted 17 > median/network/separable_17x17_program.h
  python3 median/network/gen_networks.py table > docs/separable_networks.md
  python3 median/network/gen_networks.py program 21
  python3 median/network/gen_networks.py prove

The last five are in gen_separable.py: median networks for any odd window
kw x kh, in tiles of output rows sharing sorted rows and merged pieces.

Both headers are written against a vector-operations type `Ops` (the vector
type `Ops::V` and lane-wise unsigned byte `Ops::min` and `Ops::max`), so one
text compiles for every vector width.

median25: Batcher's odd-even merge sort for 32 wires with every comparator
that touches wires 25..31 dropped (those wires act as +infinity), pruned
backwards from the final value of wire 12, the median: only the min and max
operations that wire 12 depends on are kept.  The operations are then put in
an order that keeps few values alive at once, because the 128-bit code has
only 16 vector registers and Batcher's order holds up to 25 wires.  Any order
that respects the dependencies gives the same result; the order only decides
how much the compiler spills.

rowpair: the pieces of a median that two vertically adjacent output rows
share.  Each is Batcher's odd-even merge (or merge sort) on a power of two
of wires, padded with +infinity, folded where an operand is that constant and
pruned to the outputs used.  Every piece is checked here on all of its 0/1
inputs before it is written.
"""

import itertools
import random
import sys

WIRES = 25
MEDIAN_WIRE = WIRES // 2
REGISTERS = 16          # xmm0..xmm15
SCHEDULE_TRIALS = 3000  # randomised list schedules tried; the best is kept
SCHEDULE_SEED = 25      # fixed, so that the header is reproducible


def batcher_comparators():
    """Comparators (a, b) in the order that the merge sort applies them."""
    out = []
    p = 1
    while p < WIRES:
        k = p
        while k >= 1:
            for a in range(WIRES):
                b = a + k
                if b >= WIRES or a // (2 * p) != b // (2 * p):
                    continue
                if k == p:
                    if a % (2 * p) >= p:
                        continue
                elif a < k or (a - k) % (2 * k) >= k:
                    continue
                out.append((a, b))
            k //= 2
        p *= 2
    return out


def selection_ops(comparators):
    """SSA operations that compute the final value of the median wire.

    Each operation is (name, op, x, y) where op is 'min' or 'max' and x, y
    name earlier operations or inputs ('in0'..'in24').  Operations whose
    result the median does not depend on are left out.
    """
    current = [f"in{i}" for i in range(WIRES)]
    ops = []
    for a, b in comparators:
        x, y = current[a], current[b]
        lo, hi = f"t{len(ops)}", f"t{len(ops) + 1}"
        ops.append((lo, "min", x, y))
        ops.append((hi, "max", x, y))
        current[a], current[b] = lo, hi
    return pruned(ops, [current[MEDIAN_WIRE]]), current[MEDIAN_WIRE]


def pruned(ops, outputs):
    """The operations the outputs depend on, in their original order."""
    by_name = {op[0]: op for op in ops}
    needed, stack = set(), list(outputs)
    while stack:
        name = stack.pop()
        if name in needed or name not in by_name:
            continue
        needed.add(name)
        stack.extend(by_name[name][2:])
    return [op for op in ops if op[0] in needed]


def depth(ops):
    level = {}
    for name, _, x, y in ops:
        level[name] = 1 + max(level.get(x, 0), level.get(y, 0))
    return max(level.values())


def is_input(name):
    return name.startswith("in")


class Network:
    """The kept operations grouped back into comparators.

    Every wire value is read by exactly one comparator (the next one on its
    wire), which is what makes the spill count below easy to simulate.
    """

    def __init__(self, ops, result):
        self.result = result
        self.units = []  # (x, y, [ops of this comparator])
        index = {}
        for op in ops:
            key = op[2:]
            if key not in index:
                index[key] = len(self.units)
                self.units.append((op[2], op[3], []))
            self.units[index[key]][2].append(op)
        self.reader = {}
        for u, (x, y, _) in enumerate(self.units):
            for v in (x, y):
                assert v not in self.reader, v
                self.reader[v] = u
        writer = {op[0]: u for u, (_, _, unit_ops) in enumerate(self.units)
                  for op in unit_ops}
        self.deps = [{writer[v] for v in (x, y) if v in writer}
                     for x, y, _ in self.units]

    def outputs(self, u):
        return [op[0] for op in self.units[u][2] if op[0] != self.result]

    def spills(self, order, registers=REGISTERS):
        """Values a register allocator must store, for this order.

        Models an allocator that evicts the value read furthest in the future
        (the best possible choice).  Inputs cost nothing: they are read from
        the image when needed and can be read again, so they never need a
        store, and an input used once can be an operand straight from memory.
        A comparator needs a register for its min while both operands are
        still needed for its max.
        """
        position = {u: p for p, u in enumerate(order)}
        in_register, stored = set(), set()
        count = 0

        def next_read(v):
            return position[self.reader[v]] if v in self.reader else len(order)

        def make_room(keep, free_needed):
            nonlocal count
            while len(in_register) + free_needed > registers:
                victim = max((v for v in in_register if v not in keep), key=next_read)
                in_register.discard(victim)
                if not is_input(victim) and victim not in stored:
                    stored.add(victim)
                    count += 1

        for u in order:
            x, y, _ = self.units[u]
            # Both operands from memory: one is loaded into a register first.
            if x not in in_register and y not in in_register:
                make_room((x, y), 1)
                in_register.add(x)
            make_room((x, y), 1)
            in_register.discard(x)
            in_register.discard(y)
            for out in self.outputs(u):
                make_room((), 1)
                in_register.add(out)
        return count

    def list_schedule(self, rng, noise, recency):
        """One greedy order: among the comparators whose operands exist, take
        the one that adds fewest live values, preferring operands made most
        recently (which walks the sub-sorts depth first); `noise` randomises
        the ties."""
        users = [[] for _ in self.units]
        waiting = [len(d) for d in self.deps]
        for u, d in enumerate(self.deps):
            for w in d:
                users[w].append(u)
        ready = [u for u, n in enumerate(waiting) if n == 0]
        live, made = set(), {}
        order = []
        while ready:
            def score(u):
                x, y, _ = self.units[u]
                grows = len(self.outputs(u)) - (x in live) - (y in live)
                age = max(made.get(x, -1), made.get(y, -1))
                return grows - recency * age / len(self.units) + noise * rng.random()
            u = min(ready, key=score)
            ready.remove(u)
            order.append(u)
            x, y, _ = self.units[u]
            live -= {x, y}
            for out in self.outputs(u):
                live.add(out)
                made[out] = len(order)
            for w in users[u]:
                waiting[w] -= 1
                if waiting[w] == 0:
                    ready.append(w)
        return order

    def best_order(self):
        rng = random.Random(SCHEDULE_SEED)
        best = list(range(len(self.units)))
        best_cost = self.spills(best)
        for _ in range(SCHEDULE_TRIALS):
            order = self.list_schedule(rng, rng.choice([0, 0.5, 1, 2, 4]),
                                       rng.choice([0, 0.5, 1, 2, 5]))
            cost = self.spills(order)
            if cost < best_cost:
                best, best_cost = order, cost
        return best


HEADER = ("// SPDX-License-Identifier: MIT\n"
          "// generated by median/network/gen_networks.py {which}; do not edit\n")

OPS_CONTRACT = (
    "// `Ops` supplies the vector type and its lane-wise unsigned byte\n"
    "// operations: `using V = ...; static V min(V, V); static V max(V, V);`.\n")


def emit_median25(network, order, out):
    ops = [op for u in order for op in network.units[u][2]]
    mins = sum(1 for op in ops if op[1] == "min")
    maxs = len(ops) - mins
    assert (mins, maxs) == (101, 101), (mins, maxs)
    out.write(
        HEADER.format(which="median25") +
        "//\n"
        "// Median of 25 bytes per lane: Batcher's odd-even merge sort on 32 wires,\n"
        "// cut to 25 wires and pruned to the operations that wire 12 depends on.\n"
        f"// {mins} min + {maxs} max = {len(ops)} operations, depth {depth(ops)};\n"
        "// the result is the final value of wire 12 (13th smallest of 25).\n"
        "// Input 5*r + c is window row r, column c; lanes never mix.\n"
        "//\n"
        f"// Order: the generator tries {SCHEDULE_TRIALS} randomised greedy list schedules\n"
        "// (fewest new live values first, newest operands first) and keeps the one\n"
        f"// with the fewest values that an ideal {REGISTERS}-register allocator must store:\n"
        f"// {network.spills(order)} here, against {network.spills(range(len(network.units)))}"
        " in Batcher's order.  Each input is\n"
        "// read just before its comparator, so it is never held or spilled.\n"
        "#pragma once\n\n"
        "namespace median::detail {\n\n"
        f"constexpr int MEDIAN25_OPS = {len(ops)};\n\n" + OPS_CONTRACT +
        "// `in(k)` returns input k; it is called once per input, at the point of\n"
        "// use, so a load from the image can sit right beside the operation.\n"
        "template <class Ops, class Input>\n"
        "[[gnu::always_inline]] inline typename Ops::V median25(const Input& in) {\n"
        "  using V = typename Ops::V;\n"
    )
    loaded = set()
    for op in ops:
        name, kind, x, y = op
        for v in (x, y):
            if is_input(v) and v not in loaded:
                loaded.add(v)
                out.write(f"  const V {v} = in({v[2:]});\n")
        out.write(f"  const V {name} = Ops::{kind}({x}, {y});\n")
    assert len(loaded) == WIRES
    out.write(f"  return {network.result};\n}}\n\n}}  // namespace median::detail\n")


# The row-pair pieces.  Values are SSA names; INF is the +infinity padding.
INF = "+inf"


class Builder:
    """Min/max operations on named values, folding the +infinity constant
    and sharing repeated operations."""

    def __init__(self):
        self.ops = []
        self.memo = {}

    def op(self, kind, x, y):
        if INF in (x, y):
            other = y if x == INF else x
            return other if kind == "min" else INF
        key = (kind,) + tuple(sorted((x, y)))
        if key not in self.memo:
            self.memo[key] = f"t{len(self.ops)}"
            self.ops.append((self.memo[key], kind, x, y))
        return self.memo[key]

    def apply(self, wires, comparators):
        for i, j in comparators:
            a, b = wires[i], wires[j]
            wires[i], wires[j] = self.op("min", a, b), self.op("max", a, b)

    def pruned(self, outputs):
        return pruned(self.ops, outputs)


def odd_even_merge(lo, n, step=1):
    """Batcher's merge of wires lo..lo+n-1 (n a power of two) whose two
    halves are sorted."""
    double = step * 2
    if double < n:
        yield from odd_even_merge(lo, n, double)
        yield from odd_even_merge(lo + step, n, double)
        for i in range(lo + step, lo + n - step, double):
            yield (i, i + step)
    else:
        yield (lo, lo + step)


def odd_even_sort(lo, n):
    if n > 1:
        yield from odd_even_sort(lo, n // 2)
        yield from odd_even_sort(lo + n // 2, n // 2)
        yield from odd_even_merge(lo, n)


def power_of_two(n):
    return 1 << (n - 1).bit_length()


def sort_piece(n):
    """Sorts n values: a merge sort on a power of two of wires."""
    b = Builder()
    size = power_of_two(n)
    wires = [f"a[{i}]" for i in range(n)] + [INF] * (size - n)
    b.apply(wires, odd_even_sort(0, size))
    return b, wires[:n]


def merge_piece(n, m, ranks):
    """The values of the given ranks (0 = smallest) of two sorted lists."""
    b = Builder()
    half = power_of_two(max(n, m))
    wires = ([f"a[{i}]" for i in range(n)] + [INF] * (half - n) +
             [f"b[{i}]" for i in range(m)] + [INF] * (half - m))
    b.apply(wires, odd_even_merge(0, 2 * half))
    return b, [wires[r] for r in ranks]


def evaluate(ops, inputs, outputs):
    values = dict(inputs)
    for name, kind, x, y in ops:
        values[name] = (min if kind == "min" else max)(values[x], values[y])
    return [values[o] for o in outputs]


def sorted_01_lists(n):
    """The n + 1 sorted lists of n zeros and ones."""
    return [[0] * (n - k) + [1] * k for k in range(n + 1)]


def check_sort(ops, outputs, n):
    for bits in itertools.product((0, 1), repeat=n):
        got = evaluate(ops, {f"a[{i}]": v for i, v in enumerate(bits)}, outputs)
        assert got == sorted(bits), (bits, got)


def check_merge(ops, outputs, n, m, ranks):
    for a in sorted_01_lists(n):
        for b in sorted_01_lists(m):
            inputs = {f"a[{i}]": v for i, v in enumerate(a)}
            inputs.update({f"b[{i}]": v for i, v in enumerate(b)})
            want = sorted(a + b)
            assert evaluate(ops, inputs, outputs) == [want[r] for r in ranks], (a, b)


ROW = 5                 # values in a window row
SHARED = 4 * ROW        # values the two outputs of a pair share
FIRST_CANDIDATE = MEDIAN_WIRE - ROW  # lowest rank of SHARED that can be the median
CANDIDATES = ROW + 1    # ranks FIRST_CANDIDATE .. MEDIAN_WIRE of SHARED


def rowpair_pieces():
    """(function name, comment, inputs, output array or None, builder, output names)."""
    pieces = []
    b, outs = sort_piece(ROW)
    check_sort(b.pruned(outs), outs, ROW)
    pieces.append(("sort_row", "Sorts the five values of one window row.",
                   [("a", ROW)], ("out", ROW), b, outs))
    ranks = list(range(2 * ROW))
    b, outs = merge_piece(ROW, ROW, ranks)
    check_merge(b.pruned(outs), outs, ROW, ROW, ranks)
    pieces.append(("merge_rows", "Merges two sorted rows into one sorted list of ten.",
                   [("a", ROW), ("b", ROW)], ("out", 2 * ROW), b, outs))
    ranks = list(range(FIRST_CANDIDATE, MEDIAN_WIRE + 1))
    b, outs = merge_piece(2 * ROW, 2 * ROW, ranks)
    check_merge(b.pruned(outs), outs, 2 * ROW, 2 * ROW, ranks)
    pieces.append((
        "shared_candidates",
        f"Of the {SHARED} values of four window rows (two sorted lists of ten), the\n"
        f"// ranks {FIRST_CANDIDATE}..{MEDIAN_WIRE} (0 = smallest), in order: with a fifth row of\n"
        f"// {ROW} values added, only these can be the 13th smallest of all 25, because\n"
        f"// at most {ROW} values come in below or above any of them.",
        [("a", 2 * ROW), ("b", 2 * ROW)], ("out", CANDIDATES), b, outs))
    rank = MEDIAN_WIRE - FIRST_CANDIDATE
    b, outs = merge_piece(CANDIDATES, ROW, [rank])
    check_merge(b.pruned(outs), outs, CANDIDATES, ROW, [rank])
    pieces.append((
        "median_of_candidates",
        f"The median of the window: the {FIRST_CANDIDATE} shared values below the candidates\n"
        f"// and the {SHARED - MEDIAN_WIRE - 1} above them fall away on both sides, leaving rank {rank}\n"
        f"// (the middle) of the {CANDIDATES} candidates and the window's own sorted row.",
        [("a", CANDIDATES), ("b", ROW)], None, b, outs))
    return pieces


def emit_rowpair(out):
    pieces = rowpair_pieces()
    counts = {name: len(b.pruned(outs)) for name, _, _, _, b, outs in pieces}
    per_output = (counts["sort_row"] + counts["merge_rows"] / 2 +
                  counts["shared_candidates"] / 2 + counts["median_of_candidates"])
    out.write(
        HEADER.format(which="rowpair") +
        "//\n"
        "// The pieces of a 5x5 median that neighbouring output rows share.  Output\n"
        "// rows y and y + 1 read window rows y .. y + 5; they share rows y + 1 .. y + 4.\n"
        "// Each window row is sorted once and serves five outputs; each pair of\n"
        "// sorted rows is merged once and serves two row pairs; the two merged\n"
        "// lists of the shared rows are reduced once per row pair to the ranks that\n"
        "// can still be the median; each output then adds its own fifth row.\n"
        "// Operations: " + ", ".join(f"{n} {c}" for n, c in counts.items()) + ";\n"
        f"// {per_output:g} per output vector once rows and merges are shared.\n"
        "// Each piece is Batcher's odd-even merge (sort_row: merge sort) padded\n"
        "// with +infinity to a power of two of wires and pruned to the outputs used;\n"
        "// the generator checks each on all of its 0/1 inputs.  Lanes never mix.\n"
        "#pragma once\n\n"
        "namespace median::detail {\n\n" +
        "".join(f"constexpr int {n.upper()}_OPS = {c};\n" for n, c in counts.items()) +
        "\n" + OPS_CONTRACT + "\n")
    for name, comment, inputs, output, b, outs in pieces:
        ops = b.pruned(outs)
        params = ", ".join(f"const typename Ops::V (&{n})[{k}]" for n, k in inputs)
        if output:
            params += f", typename Ops::V (&{output[0]})[{output[1]}]"
            result = "void"
        else:
            result = "typename Ops::V"
        out.write(f"// {comment}  {len(ops)} operations.\n"
                  "template <class Ops>\n"
                  f"[[gnu::always_inline]] inline {result} {name}({params}) {{\n"
                  "  using V = typename Ops::V;\n")
        for op_name, kind, x, y in ops:
            out.write(f"  const V {op_name} = Ops::{kind}({x}, {y});\n")
        if output:
            for i, v in enumerate(outs):
                out.write(f"  {output[0]}[{i}] = {v};\n")
        else:
            out.write(f"  return {outs[0]};\n")
        out.write("}\n\n")
    out.write("}  // namespace median::detail\n")


def main():
    which = sys.argv[1] if len(sys.argv) > 1 else ""
    if which == "median25":
        network = Network(*selection_ops(batcher_comparators()))
        emit_median25(network, network.best_order(), sys.stdout)
    elif which == "rowpair":
        emit_rowpair(sys.stdout)
    elif which in ("separable", "interpreted", "table", "program", "prove"):
        import gen_separable
        gen_separable.main(sys.argv[1:])
    else:
        sys.exit("usage: gen_networks.py median25|rowpair|separable K|interpreted K|table|"
                 "program KW[xKH] [TH]|"
                 "prove [KW[xKH] ...]")


if __name__ == "__main__":
    main()
