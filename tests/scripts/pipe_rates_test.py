# SPDX-License-Identifier: BSD-2-Clause
# bench/pipe_rates.py measures what every x86-64 core with AVX2 is known to do: a chain of
# dependent vector additions waits at least two cycles a step, independent multiplications
# complete at least one a cycle. A swapped pair of blocks, a chain that is not one, or a wrong
# clock reference would break one of the two.
import importlib.util
import os
import shutil
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location(
    "pipe_rates", os.path.join(HERE, "..", "..", "bench", "pipe_rates.py"))
pr = importlib.util.module_from_spec(spec)
spec.loader.exec_module(pr)


def has_avx2():
    try:
        with open("/proc/cpuinfo") as f:
            return " avx2 " in f.read()
    except OSError:
        return False


@unittest.skipUnless(os.uname().machine == "x86_64" and has_avx2() and shutil.which("cc"),
                     "needs an x86-64 processor with AVX2 and a C compiler")
class PipeRatesTest(unittest.TestCase):
    def test_latency_and_rate(self):
        with tempfile.TemporaryDirectory() as tmp:
            chain = pr.cycles_per_instruction("addchain", tmp, shutil.which("cc"))
            mul = pr.cycles_per_instruction("mul", tmp, shutil.which("cc"))
        self.assertGreaterEqual(chain, 1.5)
        self.assertLessEqual(mul, 1.05)

    def test_mix_alternates_its_kinds(self):
        body = pr.assembly("mul+add").split("body:\n")[1].splitlines()[:pr.COUNT]
        self.assertEqual([line.split()[0] for line in body[:4]],
                         ["vmulpd", "vaddpd", "vmulpd", "vaddpd"])
        self.assertEqual(len(set(body[:12])), 12)  # twelve destinations: no chain


if __name__ == "__main__":
    unittest.main()
