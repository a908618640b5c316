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
        # (pipes, memory, vector memory): selects take the multiply pipes, compares the add
        # pipes; a vector register's memory operand counts against the vector memory rate.
        cases = [
            ("vmulpd", "%ymm1,%ymm2,%ymm3", ("mul", None, False)),
            ("vmulpd", "0x20(%rcx),%ymm0,%ymm5", ("mul", "load", True)),
            ("vfnmadd132pd", "%ymm1,%ymm2,%ymm3", ("mul", None, False)),
            ("vblendvpd", "%ymm12,%ymm1,%ymm7,%ymm7", ("mul", None, False)),
            ("vsubpd", "%ymm1,%ymm2,%ymm3", ("add", None, False)),
            ("vaddsd", "(%rax),%xmm0,%xmm0", ("add", "load", True)),
            ("vcmpgt_oqpd", "%ymm1,%ymm2,%ymm3", ("add", None, False)),
            ("vmaxsd", "%xmm1,%xmm2,%xmm3", ("add", None, False)),
            ("vxorpd", "%ymm1,%ymm2,%ymm3", ("vec", None, False)),
            ("vgatherqpd", "%ymm1,(%rax,%ymm2,8),%ymm3", ("vec", "load", True)),
            ("vmovapd", "0x448(%rsp),%ymm1", ("other", "load", True)),
            ("vmovupd", "%ymm1,(%rsi,%rax,1)", ("other", "store", True)),
            ("mov", "%rdx,(%rsi,%r8,1)", ("other", "store", False)),
            ("mov", "0x8(%rdi),%rax", ("other", "load", False)),
            ("add", "$0x20,%rsi", ("other", None, False)),
            ("lea", "0xd00(%r12),%rsi", ("other", None, False)),
            ("vzeroupper", "", ("other", None, False)),
        ]
        for mnemonic, operands, expected in cases:
            with self.subTest(mnemonic=mnemonic, operands=operands):
                self.assertEqual(kf.instruction_class(mnemonic, operands), expected)


if __name__ == "__main__":
    sys.exit(unittest.main())
