"""The sandbox PC itself: it is made all or nothing, and nothing runs in it while it maps a drive
it did not make."""
import os
import shutil
import sys
import tempfile
import unittest
from pathlib import Path
from unittest import mock

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from sandbox_pc import WINESERVER, SandboxPc, StrayDriveError, is_drive_mapping  # noqa: E402


def drive_mappings(pc):
    return sorted(d.name for d in (pc.prefix / "dosdevices").iterdir() if is_drive_mapping(d))


class SandboxPcTest(unittest.TestCase):
    def test_a_making_that_fails_part_way_is_never_used_and_is_made_afresh(self):
        root = Path(tempfile.mkdtemp(dir=Path(os.environ["SANDBOX_ROOT"]).parent))
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        quiet = SandboxPc._quiet

        def fail_after_wineboot(pc, command, **options):
            if command == [WINESERVER, "-w"]:
                raise RuntimeError("interrupted")
            return quiet(pc, command, **options)

        with mock.patch.object(SandboxPc, "_quiet", fail_after_wineboot):
            self.assertRaises(RuntimeError, SandboxPc(root).ensure)
        self.assertFalse((root / "prefix").exists())

        pc = SandboxPc(root).ensure()
        self.addCleanup(pc.stop)
        self.assertEqual(drive_mappings(pc), ["c:"])
        self.assertEqual(list(root.glob("prefix.making-*")), [])
        self.assertEqual(pc.wine(["cmd.exe", "/c", "exit"]), 0)

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
