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
                       console_of, decode_log, expected_state, is_whole_records, lay_out, play,
                       record_texts, reported_state)

# Run as another Unix user, with drive D's folder and a folder of theirs, until its standard
# input closes. Once the shell has made part00 in the reserve, links every part folder not yet
# there to their folder, and prints each link it made.
PLANTER = """
import os, select, sys
reserve, target = os.path.join(sys.argv[1], "preload", "RM_Reserve"), sys.argv[2]
while not select.select([sys.stdin], [], [], 0.001)[0]:
    if not os.path.exists(os.path.join(reserve, "part00")):
        continue
    for part in range(1, 20):
        try:
            os.symlink(target, os.path.join(reserve, f"part{part:02}"))
            print(part, flush=True)
        except OSError:
            pass
"""

# The same user, once the tool has made RM_Reserve in its preload, moves that preload aside and
# puts one of their own in its place, whose RM_Reserve links to their folder; once the shell has
# written there, swaps in a copy of FU they staged.
EXCHANGER = """
import os, select, sys
drive, target = sys.argv[1:]
preload = os.path.join(drive, "preload")
def ended():
    return select.select([sys.stdin], [], [], 0.0005)[0]
while not ended():
    if os.path.isdir(preload) and os.stat(preload).st_nlink > 2:
        os.rename(preload, preload + ".old")
        os.makedirs(preload)
        os.symlink(target, os.path.join(preload, "RM_Reserve"))
        print("exchanged", flush=True)
        break
while not ended():
    if os.listdir(target):
        os.rename(os.path.join(preload, "RM_Reserve"), os.path.join(preload, "link"))
        os.rename(os.path.join(drive, "staged"), os.path.join(preload, "RM_Reserve"))
        print("swapped", flush=True)
        break
"""

AS_ANOTHER_USER = unittest.skipUnless(os.geteuid() == 0, "another user's process takes root")
# The typical run with an FU that takes Wine's shell seconds to copy.
LONG_COPY = dataclasses.replace(next(r for r in ROWS if r.name == "typical run"), fu=BIG_FU)


class ScenarioTest(unittest.TestCase):
    def setUp(self):
        self.pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure().reset()
        self.exe = os.environ["CASTOREL_EXE"]

    def test_every_row(self):
        """Each row's run, and the report's reading of the log it left: a second, independent
        check of the records, and of the report on real logs."""
        for row in ROWS:
            with self.subTest(row.name):
                self.assertEqual(play(self.pc.reset(), row, self.exe, Helpers()), [])
                if row.log_written is True:
                    self.assertEqual(reported_state(self.pc, row), expected_state(row))

    def start_long_copy(self, earlier_log=b"", laid_out=False):
        """Starts the long-copy run on a log with earlier bytes; returns once it copies."""
        tool = (lay_out(self.pc, LONG_COPY, self.exe, Helpers(), contextlib.ExitStack())
                if not laid_out else "C:\\pkg\\Castorel.exe")
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

    def copy_while_a_user_acts(self, script, drive_mode=0o755, existing_reserve=False):
        """Runs the long copy while a standard user runs the script, on a drive whose new
        folders anyone may change (a Wine server and tool started with umask 0). Returns the
        run's console and status, what the script printed, what landed in the user's folder
        (D:\\victim, outside the reserve), and drive D's folder."""
        # Drive D, and the user's folder outside the reserve, are folders the user can reach:
        # the build folder's parents may be closed to them (a clone in a private temporary
        # folder).
        drive = Path(tempfile.mkdtemp(prefix="castorel-drive-d-"))
        self.addCleanup(shutil.rmtree, drive, ignore_errors=True)
        closed = [str(p) for p in drive.parents if p.stat().st_mode & 0o001 == 0]
        if closed:
            self.skipTest(f"the standard user can't enter {closed[0]}, which holds drive D")
        target = drive / "victim"
        target.mkdir()
        os.chmod(drive, drive_mode)
        self.pc.drive_folders.mkdir(parents=True, exist_ok=True)
        (self.pc.drive_folders / "d").symlink_to(drive)
        lay_out(self.pc, LONG_COPY, self.exe, Helpers(), contextlib.ExitStack())
        shutil.copytree(self.pc.windows_path("C:\\pkg\\FU"), drive / "staged")
        for entry in (drive / "staged", *(drive / "staged").rglob("*")):
            os.chown(entry, 1000, 1000)
        self.pc.stop()
        umask = os.umask(0)
        try:
            if existing_reserve:
                (drive / "preload" / "RM_Reserve").mkdir(parents=True)
            with subprocess.Popen(["/usr/bin/python3", "-c", script, str(drive), str(target)],
                                  user=1000, group=1000, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE) as user:
                _, tool_run = self.start_long_copy(laid_out=True)
                console, _ = tool_run.communicate(timeout=300)
                acted, _ = user.communicate(b"")
        finally:
            os.umask(umask)
        return console, tool_run.returncode, acted, list(target.iterdir()), drive

    @AS_ANOTHER_USER
    def test_links_a_user_plants_in_the_reserve_mid_copy_never_pass(self):
        # The reserve the tool makes lets no user in; one the image left open to all is taken
        # over before the copy, and then lets no user in either.
        for existing in (False, True):
            self.pc.reset()
            console, status, planted, landed, drive = self.copy_while_a_user_acts(
                PLANTER, existing_reserve=existing)
            self.assertEqual((status, planted, landed), (0, b"", []))
            self.assertIn(b"Copy successfully", console)
            reserve = drive / "preload" / "RM_Reserve"
            self.assertEqual(reserve.stat().st_mode & 0o777, 0o775 if existing else 0o770)
            self.assertEqual({p.stat().st_uid for p in reserve.rglob("*") if p.is_dir()}, {0})

    @AS_ANOTHER_USER
    def test_a_preload_a_user_exchanges_mid_copy_never_passes(self):
        """Wine lets a user rename an administrator's folder in a root any user may change;
        Windows' default rights do not. The verdict does not depend on it."""
        console, status, acted, _, _ = self.copy_while_a_user_acts(EXCHANGER, drive_mode=0o777)
        self.assertIn(b"exchanged", acted)
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
