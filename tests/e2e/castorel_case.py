"""Shared scaffolding of the end-to-end tests: each test lays out the sandbox PC, runs the real
Castorel.exe under Wine and checks the console bytes, the log bytes and the exit status."""
import os
import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from sandbox_pc import SandboxPc, decode_log  # noqa: E402

SYSTEM_LOG = "c:\\System.sav\\Logs\\Castorel.log"
BANNER = re.compile(r"\n\n={32} (\d\d/\d\d/\d\d) (\d\d:\d\d:\d\d) ={40}\r\n")


def folder_of(tool):
    """The tool's folder as the companion install forms it: no trailing backslash but a root's."""
    folder = tool[: tool.rfind("\\")]
    return folder + "\\" if folder.endswith(":") else folder


def companion_records(tool, installed=True):
    source = folder_of(tool) + "\\QXCUST2.exe"
    if not installed:
        return f"Source file not exists: {source}\r\n"
    return (f"{source} copy to c:\\Windows\\QXCUST2.exe\r\n"
            "Copy file successful with return code: 1\r\n")


def run_records(banner, update, companion, verdict="PASS"):
    """A whole run's log records: the recovery-partition update between the two banners, then
    the companion install and the result line."""
    return banner + update + banner + companion + f"Result={verdict}\r\n"


NO_FLAG_ON_C = ("Fixed list [C:\\;]\r\nFirst found fixed drive letter [C:\\]\r\n"
                "Cannot finf RP, skip FU copy\r\n")


def console_bytes_of(text):
    """What a Latin-1 text becomes on Castorel's standard output: each LF as CR LF."""
    return text.replace("\n", "\r\n").encode("latin-1")


class CastorelCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.exe = os.environ["CASTOREL_EXE"]
        cls.hold_file_exe = os.environ.get("HOLD_FILE_EXE")
        cls.pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure()

    def setUp(self):
        self.pc.reset()

    def run_tool(self, tool):
        result = self.pc.run(tool)
        self.assertIn(result.status, (0, 1), result)
        return result

    def log_text(self, path=SYSTEM_LOG):
        return decode_log(self.pc.read(path))

    def banner_of(self, log):
        """The run's banner, checked to have the date and time in their fixed forms."""
        match = BANNER.match(log)
        self.assertIsNotNone(match, f"log does not open with a banner: {log[:120]!r}")
        return match.group(0)

    def location_lines(self, exe, log_path):
        directory = exe[: exe.rfind("\\") + 1]
        return f"ExePath=[{exe}]\r\nExeDir=[{directory}]\r\nlogPath=[{log_path}]\r\n"

    def assert_run(self, result, exe, log_path, records_after_banner, status=0):
        """The whole run: console lines, log records (banner included) and exit status."""
        log = self.log_text(log_path)
        banner = self.banner_of(log)
        records = records_after_banner(banner)
        self.assertEqual(log, records)
        self.assertEqual(result.console, console_bytes_of(self.location_lines(exe, log_path) + records))
        self.assertEqual(result.status, status)
