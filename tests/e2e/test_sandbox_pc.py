"""The sandbox PC itself: nothing runs in it while it maps a drive it did not make, such as the
host's own root."""
import os
import shutil
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from sandbox_pc import SandboxPc, StrayDriveError  # noqa: E402


class SandboxPcTest(unittest.TestCase):
    def test_a_drive_the_pc_did_not_make_is_refused_before_anything_runs(self):
        pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure().reset()
        tool = pc.install_tool(os.environ["CASTOREL_EXE"])
        host_folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, host_folder)
        for letter, target in (("z", "/"), ("d", host_folder)):
            with self.subTest(drive=letter):
                mapping = pc.prefix / "dosdevices" / f"{letter}:"
                mapping.symlink_to(target)
                try:
                    with self.assertRaisesRegex(StrayDriveError, f"drive {letter.upper()}:"):
                        pc.run(tool)
                finally:
                    mapping.unlink()
                self.assertIsNone(pc.read("C:\\pkg\\Castorel.log"), "the tool never ran")
        self.assertEqual(pc.run(tool).status, 0)


if __name__ == "__main__":
    unittest.main()
