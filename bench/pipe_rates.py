#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""How many of each kind of vector instruction an x86-64 core completes a cycle, alone and in
pairs, the rates bench/kernel_floors.py builds its floors from.

    taskset -c 1 bench/pipe_rates.py          # every mix, cycles per instruction
    taskset -c 1 bench/pipe_rates.py mul add  # some of them

Each mix is 600 independent AVX2 instructions (register operands, or aligned 32-byte memory
operands within 2 KB, loads and stores at different addresses) in one straight block, assembled
with the C compiler. Cycles come from a chain of 600 dependent integer additions, one cycle
each on every x86-64 core. The two blocks run in turns of 2,000 calls each, 400 turns, and the
figure is the ratio of their least turn times. Other processes and a slower clock only lengthen
a turn (a turn is short enough to fit in a time slice), so the least times are both of the
processor at full speed. Two mixes that share a pipe run at the rate of the one pipe; two on
separate pipes, at the sum of their rates.
"""
import os
import shutil
import subprocess
import sys
import tempfile

COUNT = 600

MAIN = r"""
#include <stdio.h>
#include <time.h>
void body(double*);
void chain(void);
static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}
int main(void) {
    static double buf[1024] __attribute__((aligned(64)));
    double chain_best = 1e30, body_best = 1e30;
    for (int r = 0; r < 400; r++) {
        double t0 = now();
        for (int i = 0; i < 2000; i++) chain();
        double t1 = now();
        for (int i = 0; i < 2000; i++) body(buf);
        double t2 = now();
        if (t1 - t0 < chain_best) chain_best = t1 - t0;
        if (t2 - t1 < body_best) body_best = t2 - t1;
    }
    printf("%.3f\n", body_best / chain_best);
    return 0;
}
"""


def instruction(kind, i):
    """The i-th instruction of a block of kind: independent of every other in the block."""
    r = i % 12
    mem = f"{(i * 32) % 2048}(%rdi)"
    return {
        "mul": f"vmulpd %ymm13, %ymm14, %ymm{r}",
        "fma": f"vfmadd231pd %ymm13, %ymm14, %ymm{r}",
        "add": f"vaddpd %ymm13, %ymm14, %ymm{r}",
        "cmp": f"vcmpgtpd %ymm13, %ymm14, %ymm{r}",
        "max": f"vmaxpd %ymm13, %ymm14, %ymm{r}",
        "blendv": f"vblendvpd %ymm15, %ymm13, %ymm14, %ymm{r}",
        "xor": f"vxorpd %ymm13, %ymm14, %ymm{r}",
        "load": f"vmovapd {mem}, %ymm{r}",
        "store": f"vmovapd %ymm15, {mem}",
        "mulmem": f"vmulpd {mem}, %ymm14, %ymm{r}",
        # A dependent chain: the latency of an addition, not a rate.
        "addchain": "vaddpd %ymm13, %ymm0, %ymm0",
    }[kind]


MIXES = ["mul", "fma", "add", "cmp", "max", "blendv", "xor", "load", "store", "mulmem",
         "mul+blendv", "add+blendv", "add+cmp", "mul+cmp", "mul+add", "mul+add+xor",
         "load+store", "addchain"]


def block(name, lines):
    return f".globl {name}\n{name}:\n" + "\n".join(lines) + "\nret\n"


def assembly(mix):
    kinds = mix.split("+")
    body = [instruction(kinds[i % len(kinds)], i) for i in range(COUNT)]
    chain = ["add $1, %rax"] * COUNT
    return (".text\n" + block("chain", chain) + block("body", body) +
            '.section .note.GNU-stack,"",@progbits\n')


def cycles_per_instruction(mix, tmp, cc):
    src, asm, exe = (os.path.join(tmp, n) for n in ("main.c", "mix.s", "mix"))
    with open(src, "w") as f:
        f.write(MAIN)
    with open(asm, "w") as f:
        f.write(assembly(mix))
    subprocess.run([cc, "-O1", src, asm, "-o", exe], check=True, capture_output=True)
    return float(subprocess.run([exe], check=True, capture_output=True, text=True).stdout)


def main():
    mixes = sys.argv[1:] or MIXES
    unknown = [m for m in mixes if m not in MIXES]
    if unknown:
        print(f"pipe_rates: no mix {unknown[0]!r}; mixes: {' '.join(MIXES)}", file=sys.stderr)
        return 1
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None or os.uname().machine != "x86_64":
        print("pipe_rates: needs an x86-64 machine with a C compiler", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as tmp:
        print("cycles/instr  instructions/cycle  mix")
        for mix in mixes:
            try:
                c = cycles_per_instruction(mix, tmp, cc)
            except subprocess.CalledProcessError as e:
                built = e.cmd[0] != cc
                print(f"pipe_rates: could not {'run' if built else 'assemble'} the {mix} block "
                      f"(status {e.returncode}"
                      f"{'; does the processor have AVX2?' if built else ''})", file=sys.stderr)
                return 1
            print(f"{c:12.3f}  {1 / c:18.2f}  {mix}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
