"""castorel-report.exe under Wine: a folder of logs whose PCs are named in several scripts reads
into the same CSV and JSON as the Linux build's (the paths' separators aside), with the same
exit status; a link to /dev/zero among them ends as no log; links to folders are not entered;
an output replaced whole; outputs that name one file or a log,
by any spelling the system takes for it, are refused; and its version is the kit's."""
import os
import re
import shutil
import subprocess
import unittest
from pathlib import Path

from scenarios import SandboxPc

BANNER = "\n\n{} 03/07/18 09:05:02 {}\r\n".format("=" * 32, "=" * 40)


def log(outcome, verdict):
    records = [BANNER, "Fixed list [C:\\;D:\\;]", "First found fixed drive letter [C:\\]", outcome,
               BANNER, "Source file not exists: C:\\pkg\\QXCUST2.exe", f"Result={verdict}"]
    return "".join(r if r.startswith("\n") else r + "\r\n" for r in records).encode("utf-16-le")


FLEET = {
    "PC-001": log("Cannot finf RP, skip FU copy", "PASS"),
    "PC-\u00e9t\u00e9": log("Copy failed with error code [29]", "FAIL"),
    "\u041f\u041a-7": log("Copy successfully", "PASS"),
    "\u96fb\u8166": log("Copy successfully", "FAIL"),
}


class ReportExeTest(unittest.TestCase):
    def setUp(self):
        self.pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure().reset()
        for name, data in FLEET.items():
            (self.pc.put_folder("C:\\fleet") / name).mkdir()
            (self.pc.windows_path("C:\\fleet") / name / "Castorel.log").write_bytes(data)
        os.symlink("/dev/zero", self.pc.windows_path("C:\\fleet") / "zero.log")
        shutil.copyfile(os.environ["REPORT_WINDOWS_EXE"], self.pc.windows_path("C:\\report.exe"))

    def report(self, *args):
        """The Windows build's run: its standard output and status; a hang fails the test."""
        windows = self.pc.start("C:\\report.exe", list(args), cwd=self.pc.c,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        try:
            return windows.communicate(timeout=120)[0], windows.returncode
        finally:
            windows.kill()

    def test_reads_a_fleet_as_the_linux_build_does(self):
        pc = self.pc
        for option in ("--csv", "--json", None):
            rows, status = self.report(*([option, "-"] if option else []), "fleet")
            linux = subprocess.run([os.environ["REPORT_EXE"], *([option, "-"] if option else []),
                                    "fleet"], cwd=pc.c, capture_output=True, check=False)
            self.assertEqual(rows.replace(b"\\\\", b"/").replace(b"\\", b"/"),
                             linux.stdout.replace(b"\\\\", b"/").replace(b"\\", b"/"))
            self.assertEqual(status, linux.returncode)
            if option:
                self.assertEqual(len(rows.splitlines()), len(FLEET) + (option == "--csv"))
        self.assertIn(b"zero.log: a device, not a regular file", rows)

    def test_links_to_folders_are_never_entered(self):
        """A link that loops back into the fleet, and one that leads out of it: the walk counts
        neither, as the Linux build does."""
        fleet = self.pc.windows_path("C:\\fleet")
        os.symlink("..", fleet / "PC-001" / "back")
        outside = self.pc.put_folder("C:\\outside")
        (outside / "pc9").mkdir()
        (outside / "pc9" / "Castorel.log").write_bytes(FLEET["PC-001"])
        os.symlink(outside, fleet / "elsewhere")
        rows, status = self.report("--csv", "-", "fleet")
        self.assertEqual(len(rows.splitlines()), len(FLEET) + 1)
        self.assertNotIn(b"outside", rows)
        self.assertEqual(status, 1)  # the failed copy's log, as without the links

    def test_an_output_is_replaced_whole_never_written_through(self):
        """An earlier report's second name keeps the earlier report: the new one is written
        beside it and put in its place, never written into it."""
        out = self.pc.put_folder("C:\\out")
        (out / "fleet.csv").write_bytes(b"an earlier report\r\n")
        os.link(out / "fleet.csv", out / "kept.csv")
        self.assertEqual(self.report("--csv", "C:\\out\\fleet.csv", "fleet")[1], 1)
        self.assertTrue((out / "fleet.csv").read_bytes().startswith(b"\xef\xbb\xbflog,run,"))
        self.assertEqual((out / "kept.csv").read_bytes(), b"an earlier report\r\n")
        self.assertEqual(sorted(p.name for p in out.iterdir()), ["fleet.csv", "kept.csv"])

    def test_outputs_that_name_one_file_or_a_log_are_refused(self):
        log = self.pc.windows_path("C:\\fleet\\PC-001\\Castorel.log")
        self.pc.put_folder("C:\\out")
        # Each spelling names C:\out\a.csv to the system.
        spellings = ["C:\\out\\a.csv.", "C:\\out\\a.csv ", "\\\\?\\C:\\out\\a.csv",
                     "\\\\.\\C:\\out\\a.csv", "c:\\OUT\\A.CSV"]
        for outputs in (["--csv", "out.csv", "--json", "OUT.CSV"],
                        ["--csv", "FLEET\\pc-001\\castorel.log"],
                        *(["--csv", "C:\\out\\a.csv", "--json", other] for other in spellings)):
            with self.subTest(outputs):
                self.assertEqual(self.report(*outputs, "fleet")[1], 2)
                self.assertEqual(log.read_bytes(), FLEET["PC-001"])
                self.assertFalse(self.pc.windows_path("C:\\out.csv").exists())
                self.assertEqual(list(self.pc.windows_path("C:\\out").iterdir()), [])

    def test_version_is_the_kits(self):
        record = (Path(__file__).resolve().parents[2] / "res" / "castorel.rc").read_text()
        version = re.search(r'VALUE "FileVersion", "([\d.]+)"', record).group(1)
        self.assertEqual(self.report("--version")[0].strip(),
                         f"castorel-report {version}".encode())


if __name__ == "__main__":
    unittest.main()
