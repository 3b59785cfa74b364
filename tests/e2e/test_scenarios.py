"""Every row of the scenario table, played with the real Castorel.exe in the sandbox PC, and what
happens to a run while it copies: its log folder swapped for a link, links another user plants
in the reserve, and a kill."""
import contextlib
import dataclasses
import os
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from scenarios import (BANNER_SHAPE, BIG_FU, ROWS, SYSTEM_LOG, Helpers, SandboxPc, as_log,
                       console_of, decode_log, is_whole_records, lay_out, play, record_texts)

# Run as another Unix user: until its standard input closes, links every part folder of FU in
# the reserve to the target as soon as it can, and prints each link it made.
PLANTER = """
import os, select, sys
reserve, target = sys.argv[1:]
while not select.select([sys.stdin], [], [], 0.001)[0]:
    for part in range(20):
        try:
            os.symlink(target, os.path.join(reserve, f"part{part:02}"))
            print(part, flush=True)
        except OSError:
            pass
"""

# The typical run with an FU that takes Wine's shell seconds to copy.
LONG_COPY = dataclasses.replace(next(r for r in ROWS if r.name == "typical run"), fu=BIG_FU)


class ScenarioTest(unittest.TestCase):
    def setUp(self):
        self.pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure().reset()
        self.exe = os.environ["CASTOREL_EXE"]

    def test_every_row(self):
        for row in ROWS:
            with self.subTest(row.name):
                self.assertEqual(play(self.pc.reset(), row, self.exe, Helpers()), [])

    def start_long_copy(self, earlier_log=b""):
        """Starts the long-copy run on a log with earlier bytes; returns once it copies."""
        tool = lay_out(self.pc, LONG_COPY, self.exe, Helpers(), contextlib.ExitStack())
        self.pc.put_file(SYSTEM_LOG, earlier_log)
        tool_run = self.pc.start(tool, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while "Copy [" not in decode_log(self.pc.read(SYSTEM_LOG)[len(earlier_log):]):
            self.assertLess(time.monotonic(), deadline, "the copy never started")
            time.sleep(0.01)
        return tool, tool_run

    def test_log_folder_swapped_for_a_link_mid_run_receives_nothing_more(self):
        """A user renames the log folder and puts a link in its place while FU is copied: the
        records go on to the console only, never into the link's target."""
        target = self.pc.put_folder("C:\\elsewhere")
        tool, tool_run = self.start_long_copy()
        logs = self.pc.windows_path("C:\\System.sav\\Logs")
        logs.rename(logs.with_name("Logs.old"))
        logs.symlink_to(target)
        console, _ = tool_run.communicate(timeout=300)

        self.assertEqual(tool_run.returncode, 0)
        self.assertEqual(list(target.iterdir()), [])
        shown = console.decode("latin-1").replace("\r\n", "\n")
        texts = record_texts(LONG_COPY, BANNER_SHAPE.search(shown).group(0))
        self.assertEqual(console, console_of(tool, SYSTEM_LOG, texts))
        copy_started = next(i for i, text in enumerate(texts) if text.startswith("Copy ["))
        kept = decode_log(self.pc.read("C:\\System.sav\\Logs.old\\Castorel.log"))
        self.assertEqual(kept, as_log(texts[: copy_started + 1]))

    def copy_while_a_user_plants_links(self, existing_reserve):
        """Runs the long copy while a standard user waits for the reserve to appear and puts
        links to a folder of theirs in it, on a drive whose new folders anyone may change (a
        Wine server and tool started with umask 0). Returns the run's console and status, the
        links the user made, and what landed in their folder."""
        target = self.pc.put_folder("C:\\victim")
        # Drive D is a folder the user can reach: the build folder's parents may be closed to
        # them (a clone in a private temporary folder).
        drive = Path(tempfile.mkdtemp(prefix="castorel-drive-d-"))
        self.addCleanup(shutil.rmtree, drive, ignore_errors=True)
        os.chmod(drive, 0o755)
        self.pc.drive_folders.mkdir(parents=True, exist_ok=True)
        (self.pc.drive_folders / "d").symlink_to(drive)
        reserve = drive / "preload" / "RM_Reserve"
        self.pc.stop()
        umask = os.umask(0)
        try:
            if existing_reserve:
                reserve.mkdir(parents=True)
            with subprocess.Popen(["/usr/bin/python3", "-c", PLANTER, str(reserve), str(target)],
                                  user=1000, group=1000, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE) as planter:
                _, tool_run = self.start_long_copy()
                console, _ = tool_run.communicate(timeout=300)
                planted, _ = planter.communicate(b"")
        finally:
            os.umask(umask)
        return console, tool_run.returncode, planted, list(target.iterdir())

    def test_links_a_user_plants_in_the_reserve_mid_copy_never_pass(self):
        if os.geteuid() != 0:
            self.skipTest("another user's process takes root")
        # The reserve the tool makes lets no user in.
        console, status, planted, landed = self.copy_while_a_user_plants_links(False)
        self.assertEqual((status, planted, landed), (0, b"", []))
        self.assertIn(b"Copy successfully", console)
        # One the image left open to all takes the links, and the check after the copy sees them.
        self.pc.reset()
        console, status, planted, _ = self.copy_while_a_user_plants_links(True)
        self.assertNotEqual(planted, b"")
        self.assertEqual(status, 1)
        self.assertIn(b"Copy failed with error code [4395]", console)

    def test_a_run_killed_mid_copy_leaves_earlier_bytes_and_whole_records(self):
        earlier = "an earlier run\r\n".encode("utf-16-le")
        _, tool_run = self.start_long_copy(earlier)
        tool_run.kill()
        tool_run.communicate()
        log = self.pc.read(SYSTEM_LOG)
        self.assertEqual(log[: len(earlier)], earlier)
        added = decode_log(log[len(earlier):])
        banner = BANNER_SHAPE.match(added).group(0)
        self.assertTrue(is_whole_records(added, record_texts(LONG_COPY, banner)), added)


if __name__ == "__main__":
    unittest.main()
