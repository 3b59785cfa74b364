"""castorel-report.exe under Wine: a folder of logs whose PCs are named in several scripts reads
into the same CSV and JSON as the Linux build's (the paths' separators aside), with the same
exit status."""
import os
import shutil
import subprocess
import unittest

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
    def test_reads_a_fleet_as_the_linux_build_does(self):
        pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure().reset()
        for name, data in FLEET.items():
            (pc.put_folder("C:\\fleet") / name).mkdir()
            (pc.windows_path("C:\\fleet") / name / "Castorel.log").write_bytes(data)
        shutil.copyfile(os.environ["REPORT_WINDOWS_EXE"], pc.windows_path("C:\\report.exe"))
        for option in ("--csv", "--json"):
            windows = pc.start("C:\\report.exe", [option, "-", "fleet"], cwd=pc.c,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
            rows, _ = windows.communicate(timeout=120)
            linux = subprocess.run([os.environ["REPORT_EXE"], option, "-", "fleet"], cwd=pc.c,
                                   capture_output=True, check=False)
            self.assertEqual(rows.replace(b"\\\\", b"/").replace(b"\\", b"/"),
                             linux.stdout.replace(b"\\\\", b"/").replace(b"\\", b"/"))
            self.assertEqual((windows.returncode, len(linux.stdout.splitlines())),
                             (linux.returncode, len(FLEET) + (option == "--csv")))


if __name__ == "__main__":
    unittest.main()
