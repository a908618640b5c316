#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Where the batched engine's instructions go, function by function, and the fewest cycles
each function's instructions could take on the processor's pipes.

    bench/kernel_floors.py                      # build/, 64 channels, instruction counts only
    bench/kernel_floors.py --perf --ghz 3.6     # with sampled time, and cycles at 3.6 GHz

The counting build's driver (g729_frame_counter duplex batch, which runs without libhwy and so
under valgrind on any processor, with the AVX2 kernels) codes CHANNELS full-duplex channels
under callgrind twice, FRAMES and FRAMES / 5 frames; the difference of the two, per channel and
frame, is each instruction's count without start-up. Every instruction is classed from the
driver's disassembly by the pipes it takes: the multiply pipes (multiplications, fused
multiply-adds and variable blends, the selects), the add pipes (additions, subtractions,
compares, minima and maxima), other vector operations (logic, shuffles, gathers, conversions);
loads and stores (memory operands), and of them those of vector registers. A function's floor
is the largest of
    multiply pipes' operations / MUL_PIPES, add pipes' / ADD_PIPES,
    all vector operations / VECTOR_PIPES, vector loads and stores / VECTOR_MEMORY,
    loads / LOADS, stores / STORES, instructions / WIDTH
cycles: what its instructions need if nothing waits on anything. The defaults for vector
instructions are the rates bench/pipe_rates.py measured on a Zen 5 core (two multiply and two
add pipes, four vector pipes, two vector loads and stores together a cycle); for all
instructions, three loads, two stores and eight instructions a cycle. Give others for another
processor.

With --perf the same driver runs PERF_FRAMES frames twice, on the processor the caller chose
with taskset, if any: once on its own for its processor time, once under `perf record -e
cpu-clock` for each function's share of that time (sampling slows the run, so its samples
give shares, not times). With --ghz, each function's cycles and their ratio to the floor.
"""
import argparse
import collections
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile


def fail(message):
    print(f"kernel_floors: {message}", file=sys.stderr)
    sys.exit(1)


def callgrind_costs(path):
    """Self cost per (object, address), and the function of each, from a callgrind file
    written with --dump-instr=yes --dump-line=no."""
    cost = collections.Counter()
    function = {}
    names = {"ob": {}, "fn": {}}
    ob = fn = None
    last = 0
    call_line = False
    with open(path) as f:
        lines = f.read().splitlines()
    for line in lines:
        # A name is given once with its number, then by number alone; the called object's and
        # function's names (cob=, cfn=) only define numbers.
        m = re.match(r"(c?)(ob|fn)=\((\d+)\)(?: (.*))?", line)
        if m:
            called, kind, number, text = m.groups()
            if text:
                names[kind][number] = text
            if not called:
                if kind == "ob":
                    ob = names["ob"][number]
                else:
                    fn = names["fn"][number]
            continue
        if line.startswith("calls="):
            call_line = True  # the next cost line is the call's inclusive cost
            continue
        if not line or line[0] not in "0123456789+-*":
            continue
        parts = line.split()
        p = parts[0]
        if p.startswith("0x"):
            address = int(p, 16)
        elif p[0] == "+":
            address = last + int(p[1:])
        elif p[0] == "-":
            address = last - int(p[1:])
        elif p == "*":
            address = last
        else:
            address = int(p)
        last = address
        if call_line:
            call_line = False
        elif len(parts) > 1:
            cost[(ob, address)] += int(parts[1])
            function[(ob, address)] = fn
    return cost, function


def disassembly(binary):
    """address -> (mnemonic, operands), and address -> function, of the binary's code."""
    out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", "-C", binary],
                         capture_output=True, text=True, check=True).stdout
    insn, owner = {}, {}
    current = None
    for line in out.splitlines():
        m = re.match(r"^([0-9a-f]+) <(.*)>:$", line)
        if m:
            current = m.group(2)
            continue
        m = re.match(r"\s+([0-9a-f]+):\s+(\S+)\s*(.*)", line)
        if m and current:
            address = int(m.group(1), 16)
            insn[address] = (m.group(2), m.group(3))
            owner[address] = current
    return insn, owner


def instruction_class(mnemonic, operands):
    """(pipes, memory, vector memory): "mul", "add", "vec" or "other"; None, "load" or
    "store"; whether the memory operand is a vector register's."""
    vector = "mm" in operands
    if vector and re.match(r"v?((mul|fn?madd\d*|fn?msub\d*)[ps][sd]|p?blendv\w+)$", mnemonic):
        kind = "mul"
    elif vector and re.match(r"v?((add|sub|min|max)[ps][sd]|cmp\w*[ps][sd])$", mnemonic):
        kind = "add"
    elif vector and not re.match(r"v?mov|vzero|lea|nop", mnemonic):
        kind = "vec"
    else:
        kind = "other"
    memory = None
    if "(" in operands and not mnemonic.startswith(("lea", "nop", "prefetch")):
        # AT&T order: a memory operand written last is the destination of a move.
        stored = operands.rstrip().endswith(")") and re.match(r"v?mov", mnemonic)
        memory = "store" if stored else "load"
    return kind, memory, memory is not None and vector


def exec_segment(binary):
    """(file offset, virtual address) of the binary's executable load segment."""
    out = subprocess.run(["readelf", "-lW", binary], capture_output=True, text=True,
                         check=True).stdout
    for line in out.splitlines():
        f = line.split()
        if f and f[0] == "LOAD" and "E" in f[6:-1]:
            return int(f[1], 16), int(f[2], 16)
    fail(f"{binary}: no executable segment")


def perf_samples(binary, args, frequency):
    """Samples per address of the binary (file addresses), per other symbol, and in all."""
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "perf.data")
        run = subprocess.run(["perf", "record", "-q", "-e", "cpu-clock", "-F", str(frequency),
                              "-o", data, binary] + args, capture_output=True, text=True)
        if run.returncode != 0:
            fail("perf record failed: " + (run.stderr.strip().splitlines() or ["?"])[-1])
        out = subprocess.run(["perf", "script", "-i", data, "--show-mmap-events",
                              "-F", "ip,sym,dso"], capture_output=True, text=True).stdout
    seg_offset, seg_vaddr = exec_segment(binary)
    name = os.path.realpath(binary)
    base = None
    by_address, by_symbol = collections.Counter(), collections.Counter()
    total = 0
    for line in out.splitlines():
        if "PERF_RECORD_MMAP" in line:
            m = re.search(r"\[(0x[0-9a-f]+)\((0x[0-9a-f]+)\) @ (0x[0-9a-f]+|\d+)", line)
            if m and line.rstrip().endswith(name) and "x" in line.split("]:")[-1].split()[0]:
                base = int(m.group(1), 16) - int(m.group(3), 0)
            continue
        parts = line.split()
        if not parts or not re.match(r"^[0-9a-f]+$", parts[0]):
            continue
        total += 1
        if parts[-1] == f"({name})" and base is not None:
            by_address[int(parts[0], 16) - base - seg_offset + seg_vaddr] += 1
        else:
            by_symbol[" ".join(parts[1:-1]) or parts[-1]] += 1
    if total == 0:
        fail("perf recorded no samples")
    return by_address, by_symbol, total


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default="build", help="build directory (default: build)")
    ap.add_argument("--channels", type=int, default=64)
    ap.add_argument("--frames", type=int, default=250, help="frames counted (callgrind)")
    ap.add_argument("--speech", help="speech file (default: the driver's)")
    ap.add_argument("--top", type=int, default=30, help="functions listed")
    ap.add_argument("--perf", action="store_true", help="also sample time with perf")
    ap.add_argument("--perf-frames", type=int, default=3000)
    ap.add_argument("--frequency", type=int, default=10000, help="perf samples a second")
    ap.add_argument("--ghz", type=float, help="clock of the processor sampled, for cycles")
    ap.add_argument("--pipes", default="2,2,4,2,3,2,8",
                    help="multiply, add and vector pipes, vector loads and stores, loads, "
                         "stores and instructions a cycle (default: 2,2,4,2,3,2,8)")
    a = ap.parse_args()
    if a.channels < 1 or a.frames < 5 or a.perf_frames < 1:
        fail("channels must be at least 1 and frames at least 5")
    try:
        mul_p, add_p, vec_p, vmem_p, load_p, store_p, width = (
            float(x) for x in a.pipes.split(","))
    except ValueError:
        fail(f"--pipes wants seven numbers, not {a.pipes!r}")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = a.build if os.path.isabs(a.build) else os.path.join(root, a.build)
    binary = os.path.join(build, "bin", "g729_frame_counter")
    if not os.path.isfile(binary):
        fail(f"{binary} not found: build the g729_frame_counter target")
    for tool in ["valgrind", "objdump", "readelf"] + (["perf"] if a.perf else []):
        if shutil.which(tool) is None:
            fail(f"{tool} not found")
    speech = [a.speech] if a.speech else []

    counts = []
    with tempfile.TemporaryDirectory() as tmp:
        for frames in (a.frames // 5, a.frames):
            out = os.path.join(tmp, f"cg.{frames}")
            run = subprocess.run(["valgrind", "--tool=callgrind", "--dump-instr=yes",
                                  "--dump-line=no", f"--callgrind-out-file={out}", binary,
                                  "duplex", "batch", str(a.channels), str(frames)] + speech,
                                 capture_output=True, text=True)
            if run.returncode != 0:
                fail("the driver failed under valgrind: " +
                     (run.stderr.strip().splitlines() or ["?"])[-1])
            counts.append(callgrind_costs(out))
    (few, _), (many, function) = counts
    per = (a.frames - a.frames // 5) * a.channels
    insn, owner = disassembly(binary)
    own = os.path.realpath(binary)

    rows = collections.defaultdict(collections.Counter)
    for key, n in many.items():
        n -= few.get(key, 0)
        if n <= 0:
            continue
        ob, address = key
        if ob and os.path.realpath(ob) == own:
            name = owner.get(address, function.get(key) or "?")
            kind, memory, vector_memory = instruction_class(*insn.get(address, ("", "")))
        else:
            name = f"{function.get(key) or '?'} ({os.path.basename(ob or '?')})"
            kind, memory, vector_memory = "other", None, False
        r = rows[name]
        r["instructions"] += n
        r[kind] += n
        if memory:
            r[memory] += n
        if vector_memory:
            r["vmem"] += n

    samples, other_samples, total = ({}, {}, 0)
    ns_per_sample = 0.0
    if a.perf:
        timed = ["duplex", "batch", str(a.channels), str(a.perf_frames)] + speech
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run([binary] + timed, capture_output=True, check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        samples, other_samples, total = perf_samples(binary, timed, a.frequency)
        ns_per_sample = cpu * 1e9 / (a.perf_frames * a.channels) / total
    time_of = collections.Counter()
    for address, s in samples.items():
        time_of[owner.get(address, "?")] += s
    for symbol, s in other_samples.items():
        for name in rows:
            if name.startswith(symbol + " ("):
                time_of[name] += s
                break

    def floor(r):
        return max(r["mul"] / mul_p, r["add"] / add_p,
                   (r["mul"] + r["add"] + r["vec"]) / vec_p, r["vmem"] / vmem_p,
                   r["load"] / load_p, r["store"] / store_p, r["instructions"] / width) / per

    header = (f"{'instr':>7} {'mul':>6} {'add':>6} {'vec':>6} {'load':>6} {'store':>6} "
              f"{'vmem':>6} {'floor':>6}")
    if a.perf:
        header += f" {'ns':>6}" + (f" {'cycles':>6} {'ratio':>5}" if a.ghz else "")
    print(f"per channel-frame, {a.channels} channels, AVX2 kernels (counted: "
          f"{a.frames // 5} and {a.frames} frames)")
    print(header + "  function")
    order = sorted(rows, key=lambda k: -(time_of[k] if a.perf else rows[k]["instructions"]))
    sums = collections.Counter()
    for rank, name in enumerate(order):
        r = rows[name]
        least = floor(r)
        cycles = time_of[name] * ns_per_sample * (a.ghz or 0)
        line = " ".join(f"{r[k] / per:{w}.0f}" for k, w in
                        (("instructions", 7), ("mul", 6), ("add", 6), ("vec", 6),
                         ("load", 6), ("store", 6), ("vmem", 6)))
        line += f" {least:6.0f}"
        if a.perf:
            line += f" {time_of[name] * ns_per_sample:6.0f}"
            if a.ghz:
                line += f" {cycles:6.0f} {cycles / least if least else 0:5.2f}"
        sums["cycles"] += cycles
        sums["floor"] += least
        sums["instructions"] += r["instructions"] / per
        if "lanes::" in name:
            sums["lane floor"] += least
            sums["lane cycles"] += cycles
        if rank < a.top:
            print(line + "  " + name[:100])
    print(f"all: {sums['instructions']:.0f} instructions, floor {sums['floor']:.0f} cycles"
          + (f", {sums['cycles']:.0f} cycles sampled" if a.perf and a.ghz else ""))
    print(f"lane kernels: floor {sums['lane floor']:.0f} cycles"
          + (f", {sums['lane cycles']:.0f} cycles sampled" if a.perf and a.ghz else ""))
    if a.perf:
        print(f"samples: {total}, {total * ns_per_sample:.0f} ns a channel-frame in all")


if __name__ == "__main__":
    main()
