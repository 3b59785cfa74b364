"""Every row of the scenario table, played with the real Castorel.exe in the sandbox PC."""
import os
import unittest

from scenarios import ROWS, Helpers, SandboxPc, play


class ScenarioTest(unittest.TestCase):
    def test_every_row(self):
        pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure()
        for row in ROWS:
            with self.subTest(row.name):
                self.assertEqual(play(pc.reset(), row, os.environ["CASTOREL_EXE"], Helpers()), [])


if __name__ == "__main__":
    unittest.main()
