#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""What bounds the AVX-512 kernels, on a machine that may not run them.

Valgrind does not run AVX-512, and the processor under a benchmark may lack
it, so this reads the object code instead: for each 8-bit sweep in the
AVX-512BW kernel file it finds the steady-state loop (the innermost loop
with the most min/max; for the sweeps that share rows that is one step of
two output rows), counts its instructions, min/max, loads and stores
(spills included), and asks llvm-mca how many cycles an iteration takes on
the processors it models.  Everything is given per output vector: the
loop's min/max divided by the sweep's 59 per output.

llvm-19's Zen 4 and Zen 5 models both retire two 512-bit min/max per cycle,
which is Zen 4's half rate; a Zen 5 core does four.  The last column bounds
a Zen 5 by hand from the counts: four min/max, two loads and one store of
512 bits per cycle, the largest of the three.

Usage: avx512_loops.py OBJECT [LLVM_MCA]
  OBJECT   kernel_avx512bw.cpp.o of a build (build/median/CMakeFiles/...)
Prints a Markdown table.
"""

import re
import subprocess
import sys
import tempfile

SWEEPS = {"rowpair_band": 59, "column_band": 59}
CPUS = ["znver4", "znver5", "icelake-server", "sapphirerapids"]
U8 = "UnsignedOps<median::detail::Avx512bw<median::avx512bw::(anonymous namespace)::Tag>, unsigned char>"


def functions(obj):
    text = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", "-M", "att", obj],
                          capture_output=True, text=True, check=True).stdout
    for chunk in re.split(r"\n(?=[0-9a-f]+ <)", text):
        head, _, body = chunk.partition("\n")
        lines = []
        for line in body.split("\n"):
            m = re.match(r"\s+([0-9a-f]+):\s+(.*)", line)
            if m:
                lines.append((int(m.group(1), 16), m.group(2).split("#")[0].strip()))
        yield head, lines


def steady_loop(lines):
    """The innermost backward-branch loop with the most min/max."""
    addresses = [a for a, _ in lines]
    loops = []
    for i, (a, ins) in enumerate(lines):
        m = re.match(r"j\w+\s+([0-9a-f]+)", ins)
        if m and int(m.group(1), 16) <= a and int(m.group(1), 16) in addresses:
            loops.append((addresses.index(int(m.group(1), 16)), i))
    innermost = [(s, e) for s, e in loops
                 if not any(s <= s2 and e2 <= e and (s2, e2) != (s, e) for s2, e2 in loops)]
    def minmax(loop):
        return sum(1 for _, x in lines[loop[0]:loop[1] + 1] if re.match(r"vpm(in|ax)", x))
    best = max(innermost, key=minmax)
    return [x for _, x in lines[best[0]:best[1] + 1]]


def operands(ins):
    parts = ins.split(None, 1)
    return [o.strip() for o in re.split(r",(?![^(]*\))", parts[1])] if len(parts) > 1 else []


def counts(body):
    minmax = loads = stores = 0
    for ins in body:
        if ins.startswith(("j", "lea", "nop", "prefetch")):
            continue
        ops = operands(ins)
        minmax += bool(re.match(r"vpm(in|ax)", ins))
        if ops and "(" in ops[-1] and not ins.startswith(("cmp", "test")):
            stores += 1
        elif any("(" in o for o in ops):
            loads += 1
    return minmax, loads, stores


def mca_cycles(mca, body, cpu):
    with tempfile.NamedTemporaryFile("w", suffix=".s") as f:
        # Branches stay as instructions; their targets do not matter to a
        # throughput model of the loop body.
        for ins in body[:-1]:
            f.write(re.sub(r"^(j\w+)\s+.*", r"\1 .Lout", ins) + "\n")
        f.write(".Lout:\n")
        f.flush()
        run = subprocess.run([mca, "-mtriple=x86_64", f"-mcpu={cpu}", "-iterations=300", f.name],
                             capture_output=True, text=True)
        m = re.search(r"Total Cycles:\s+(\d+)", run.stdout)
        return int(m.group(1)) / 300 if m else None


def main():
    obj = sys.argv[1]
    mca = sys.argv[2] if len(sys.argv) > 2 else "llvm-mca-19"
    rows = []
    for head, lines in functions(obj):
        for sweep, per_output in SWEEPS.items():
            if f"median::detail::{sweep}<median::detail::{U8}" in head:
                body = steady_loop(lines)
                minmax, loads, stores = counts(body)
                outputs = minmax / per_output
                cycles = [mca_cycles(mca, body, cpu) for cpu in CPUS]
                zen5 = max(minmax / 4, loads / 2, stores) / outputs
                rows.append((sweep.replace("_band", "_avx512bw"), len(body) / outputs, minmax / outputs,
                             loads / outputs, stores / outputs,
                             [c / outputs if c else None for c in cycles], zen5))
    print("| Kernel | Instructions | Min/max | Loads | Stores | "
          + " | ".join(f"llvm-mca {c}: cycles" for c in CPUS) + " | Zen 5 by hand: cycles |")
    print("|---|" + "---:|" * (5 + len(CPUS)))
    for name, ins, mm, ld, st, cyc, zen5 in sorted(rows):
        print(f"| {name} | {ins:.1f} | {mm:.1f} | {ld:.1f} | {st:.1f} | "
              + " | ".join(f"{c:.1f}" if c else "–" for c in cyc) + f" | {zen5:.1f} |")
    print()
    print("Per output vector of 64 bytes, in the steady-state loop of each sweep (GCC's code as built; "
          "spills included).")


if __name__ == "__main__":
    main()
