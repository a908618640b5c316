# SPDX-License-Identifier: BSD-2-Clause
# bench/kernel_floors.py's readers: callgrind's compressed positions and names, calls' inclusive
# costs kept out of self costs, and the instruction classes the floors are built from.
import importlib.util
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location(
    "kernel_floors", os.path.join(HERE, "..", "..", "bench", "kernel_floors.py"))
kf = importlib.util.module_from_spec(spec)
spec.loader.exec_module(kf)

CALLGRIND = """\
positions: instr
events: Ir
ob=(1) /bin/prog
fn=(1) first
0x1000 3
+4 5
* 2
calls=7 0x2000
+3 100
+2 1
fn=(2) second
cob=(3) /lib/libm.so.6
cfn=(4) cos
calls=1 0x9000
0x2000 40
-8 6
ob=(3)
fn=(4)
0x9000 9
ob=(1)
fn=(1)
0x1009 4
"""


class KernelFloorsTest(unittest.TestCase):
    def test_callgrind_self_costs(self):
        with tempfile.NamedTemporaryFile("w", suffix=".out", delete=False) as f:
            f.write(CALLGRIND)
        try:
            cost, function = kf.callgrind_costs(f.name)
        finally:
            os.unlink(f.name)
        prog, libm = "/bin/prog", "/lib/libm.so.6"
        # The call lines' inclusive costs (100 at 0x1007, 40 at 0x2000) are not self costs;
        # relative positions count from the call lines too.
        self.assertEqual(dict(cost), {(prog, 0x1000): 3, (prog, 0x1004): 7,
                                      (prog, 0x1009): 5, (prog, 0x1ff8): 6,
                                      (libm, 0x9000): 9})
        self.assertEqual(function[(prog, 0x1ff8)], "second")
        self.assertEqual(function[(libm, 0x9000)], "cos")
        self.assertEqual(function[(prog, 0x1009)], "first")

    def test_instruction_classes(self):
        cases = [
            ("vmulpd", "%ymm1,%ymm2,%ymm3", ("mul", None)),
            ("vmulpd", "0x20(%rcx),%ymm0,%ymm5", ("mul", "load")),
            ("vfnmadd132pd", "%ymm1,%ymm2,%ymm3", ("mul", None)),
            ("vsubpd", "%ymm1,%ymm2,%ymm3", ("add", None)),
            ("vaddsd", "(%rax),%xmm0,%xmm0", ("add", "load")),
            ("vblendvpd", "%ymm12,%ymm1,%ymm7,%ymm7", ("vec", None)),
            ("vgatherqpd", "%ymm1,(%rax,%ymm2,8),%ymm3", ("vec", "load")),
            ("vmovapd", "0x448(%rsp),%ymm1", ("other", "load")),
            ("vmovupd", "%ymm1,(%rsi,%rax,1)", ("other", "store")),
            ("mov", "%rdx,(%rsi,%r8,1)", ("other", "store")),
            ("add", "$0x20,%rsi", ("other", None)),
            ("lea", "0xd00(%r12),%rsi", ("other", None)),
            ("vzeroupper", "", ("other", None)),
        ]
        for mnemonic, operands, expected in cases:
            with self.subTest(mnemonic=mnemonic, operands=operands):
                self.assertEqual(kf.instruction_class(mnemonic, operands), expected)


if __name__ == "__main__":
    sys.exit(unittest.main())
