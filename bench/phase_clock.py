#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Wall-clock share of each step of the batched engine's frame (x86 only).

A sampling profile charges a chain of dependent additions to the instruction that waits for
it even when out-of-order execution hides the chain behind other channels' work, and it cannot
tell a kernel's own time from the time its neighbours spend in the same loop. This measures
instead: it copies the working tree, wraps each step of the batched encoder's and decoder's
frame (batch_entry.cpp) in a timer that reads the time-stamp counter, builds g729_channels
from the copy and runs it on one processor. The working tree itself is not changed.

  bench/phase_clock.py                        # batch-ws, 64 channels, 10 s, 3 runs
  bench/phase_clock.py --runs 5 -- --simd avx2  # after --: to g729_channels
"""
import argparse
import os
import shutil
import subprocess
import sys

# The timer: a per-step sum of time-stamp counter ticks, printed when the program ends.
CLOCK = r'''
struct PhaseClock {
    unsigned long long ticks[16] = {};
    const char* names[16] = {};
    ~PhaseClock() {
        unsigned long long sum = 0;
        for (unsigned long long t : ticks) sum += t;
        for (int i = 0; i < 16; ++i) {
            if (names[i] != nullptr) {
                std::fprintf(stderr, "phase %-28s %5.1f%%\n", names[i], 100.0 * ticks[i] / sum);
            }
        }
    }
};
PhaseClock phase_clock;
struct Phase {
    Phase(int i, const char* name) : index(i), start(__rdtsc()) { phase_clock.names[i] = name; }
    ~Phase() { phase_clock.ticks[index] += __rdtsc() - start; }
    int index;
    unsigned long long start;
};
'''

# The encoder's steps: each statement of encode_pass that starts with the text is timed
# (written on one line, or on several up to its semicolon).
STEPS = [
    ("    const int active = encode_analysis(", 0, "encoder: analysis, LSPs"),
    ("    encode_lsp(", 1, "encoder: LSP quantizer, filters"),
    ("    encode_open_loop(", 2, "encoder: open-loop pitch"),
    ("        encode_pitch(", 3, "encoder: closed-loop pitch"),
    ("        encode_codebook(", 4, "encoder: algebraic codebook"),
    ("        encode_gains(", 5, "encoder: gains"),
]

# The start of the encoder's loop over the frames' ends.
ENCODER_FRAME_END = ('    for (int k = 0; k < n; ++k) {\n        if (k + 1 < n) {\n'
                     '            const g729_encoder_state* next')

# (text in batch_entry.cpp, its replacement): the decoder's steps timed from where each
# starts to where the next one starts.
EDITS = [
    ('#include <new>\n', '#include <new>\n#include <cstdio>\n#include <x86intrin.h>\n'),
    ('namespace g729 {\nnamespace {\n', 'namespace g729 {\nnamespace {\n' + CLOCK),
    (ENCODER_FRAME_END, '    Phase t(6, "encoder: frame end");\n' + ENCODER_FRAME_END),
    ('    int lanes = 0;  // the channels of this pass with a frame to decode\n',
     '    int lanes = 0;  // the channels of this pass with a frame to decode\n'
     '    Phase* t = new Phase(7, "decoder: frames begun");\n'),
    ('    lsp_interpolate_channels(old_lsp, new_lsp, synthesis_count, lpc, kernels);',
     '    delete t;\n    t = new Phase(8, "decoder: excitation");\n'
     '    lsp_interpolate_channels(old_lsp, new_lsp, synthesis_count, lpc, kernels);'),
    ("    // The frames' excitation energies, kept by their ends.\n",
     '    delete t;\n    t = new Phase(9, "decoder: energies, records");\n'
     "    // The frames' excitation energies, kept by their ends.\n"),
    ('        decoder_output_channels(frames, lanes, output_scratch, kernels);\n',
     '        delete t;\n        t = new Phase(10, "decoder: synthesis to output");\n'
     '        decoder_output_channels(frames, lanes, output_scratch, kernels);\n'
     '        delete t;\n        t = new Phase(11, "decoder: frame ends, output");\n'),
    ('    for (int k = 0; k < lanes; ++k) decoder_emit(speech[k], out[k]);\n    return failed;',
     '    for (int k = 0; k < lanes; ++k) decoder_emit(speech[k], out[k]);\n'
     '    delete t;\n    return failed;'),
]


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--cpu", default="0", help="the processor to run on")
    p.add_argument("--work", default="/tmp/g729-phase-clock", help="copy and build directory")
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    o = p.parse_args(argv[:len(argv) - len(extra) - (1 if "--" in argv else 0)])

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    src = os.path.join(o.work, "src")
    build = os.path.join(o.work, "build")
    ignore = shutil.ignore_patterns(".git", "build*", "node_modules")
    if os.path.isdir(src):
        shutil.rmtree(src)
    shutil.copytree(root, src, ignore=ignore, symlinks=True)
    shared = os.path.join(os.path.dirname(root), "shared")
    if os.path.isdir(shared) and not os.path.exists(os.path.join(o.work, "shared")):
        os.symlink(shared, os.path.join(o.work, "shared"))

    path = os.path.join(src, "codec", "batch", "batch_entry.cpp")
    with open(path) as f:
        text = f.read()
    for start, index, name in STEPS:
        if text.count(start) != 1:
            print(f"phase_clock: batch_entry.cpp no longer has exactly one {start.strip()!r}; "
                  "update STEPS", file=sys.stderr)
            return 1
        at = text.index(start)
        end = text.index(";", at) + 1
        statement = text[at:end]
        indent = start[:len(start) - len(start.lstrip())]
        if statement.lstrip().startswith("const int active = "):
            # The step's result is used after it: declared before the timed block.
            call = statement.split("=", 1)[1].strip()
            timed = (f"{indent}int active;\n{indent}{{ Phase t({index}, \"{name}\"); "
                     f"active = {call} }}")
        else:
            timed = f"{indent}{{ Phase t({index}, \"{name}\"); {statement.strip()} }}"
        text = text[:at] + timed + text[end:]
    for old, new in EDITS:
        if text.count(old) != 1:
            print(f"phase_clock: batch_entry.cpp no longer has exactly one {old.strip()!r}; "
                  "update EDITS", file=sys.stderr)
            return 1
        text = text.replace(old, new)
    with open(path, "w") as f:
        f.write(text)

    subprocess.run(["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=Release"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2), "--target",
                    "g729_channels"], check=True, stdout=subprocess.DEVNULL)
    program = os.path.join(build, "bin", "g729_channels")
    command = ["taskset", "-c", o.cpu, program, "--engine", "batch-ws", "--threads", "1",
               "--channels", "64", "--seconds", "10"] + extra
    runs = []
    for _ in range(o.runs):
        out = subprocess.run(command, check=True, capture_output=True, text=True)
        runs.append([line.split(None, 1)[1].rsplit(None, 1) for line in out.stderr.splitlines()
                     if line.startswith("phase ")])
    print(" ".join(command[3:]))
    for i, (name, _) in enumerate(runs[0]):
        shares = "  ".join(r[i][1] for r in runs)
        print(f"{name.strip():32s} {shares}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
