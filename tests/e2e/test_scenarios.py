"""Every row of the scenario table, played with the real Castorel.exe in the sandbox PC, and the
one layout that changes while the tool runs."""
import contextlib
import dataclasses
import os
import subprocess
import time
import unittest

from scenarios import (BANNER_SHAPE, BIG_FU, ROWS, SYSTEM_LOG, Helpers, SandboxPc, as_log,
                       console_of, decode_log, lay_out, play, record_texts)


class ScenarioTest(unittest.TestCase):
    def setUp(self):
        self.pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure()
        self.exe = os.environ["CASTOREL_EXE"]

    def test_every_row(self):
        for row in ROWS:
            with self.subTest(row.name):
                self.assertEqual(play(self.pc.reset(), row, self.exe, Helpers()), [])

    def test_log_folder_swapped_for_a_link_mid_run_receives_nothing_more(self):
        """A user renames the log folder and puts a link in its place while FU is copied: the
        records go on to the console only, never into the link's target."""
        row = dataclasses.replace(next(r for r in ROWS if r.name == "typical run"),
                                  fu=BIG_FU, files={})
        pc = self.pc.reset()
        tool = lay_out(pc, row, self.exe, Helpers(), contextlib.ExitStack())
        target = pc.put_folder("C:\\elsewhere")
        logs = pc.windows_path("C:\\System.sav\\Logs")
        tool_run = pc.start(tool, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while "Copy [" not in decode_log(pc.read(SYSTEM_LOG) or b""):
            self.assertLess(time.monotonic(), deadline, "the copy never started")
            time.sleep(0.01)
        logs.rename(logs.with_name("Logs.old"))
        logs.symlink_to(target)
        console, _ = tool_run.communicate(timeout=300)

        self.assertEqual(tool_run.returncode, 0)
        self.assertEqual(list(target.iterdir()), [])
        shown = console.decode("latin-1").replace("\r\n", "\n")
        texts = record_texts(row, BANNER_SHAPE.search(shown).group(0))
        self.assertEqual(console, console_of(tool, SYSTEM_LOG, texts))
        before_swap = texts[: texts.index(next(t for t in texts if t.startswith("Copy [")))]
        kept = decode_log(pc.read("C:\\System.sav\\Logs.old\\Castorel.log"))
        self.assertEqual(kept, as_log(before_swap + [texts[len(before_swap)]]))


if __name__ == "__main__":
    unittest.main()
