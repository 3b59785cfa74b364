#!/usr/bin/env python3
"""Soak with faults: many consecutive Castorel runs in one sandboxed PC, cycling through the
outcomes a factory line meets: copy succeeds, no flag, copy fails, companion missing, log held
by another program, and a run killed at a random moment while it copies a large FU. After every
run it checks that the log only grew with every earlier byte unchanged, that every record in it
is whole, that each finished run's records are complete and in order (a run whose log was held
leaves none in the file but all on its console), and the exit status. Prints the figures.
Usage: soak.py CASTOREL_EXE HOLD_FILE_EXE SANDBOX_FOLDER [--runs N] [--seed S]"""
import argparse
import contextlib
import random
import re
import subprocess
import sys
import time
from collections import Counter

from sandbox_pc import SandboxPc, decode_log

LOG = "c:\\System.sav\\Logs\\Castorel.log"
FLAG = "D:\\Recovery\\_VLTRP2.FLG"
RESERVE = "D:\\preload\\RM_Reserve"
OUTCOMES = ("copy succeeds", "no flag", "copy fails", "companion missing", "log held", "killed")
SMALL_FU = {"readme.txt": b"payload\r\n", "drivers\\net.inf": b"net"}
# Wine's shell copy costs most per file: 2,000 files make it last seconds, so a kill lands in it.
BIG_FU = {f"part{i // 100:02}\\file{i:04}.bin": bytes([i % 251]) * 20_000 for i in range(2000)}

BANNER = r"\n\n={32} \d\d/\d\d/\d\d \d\d:\d\d:\d\d ={40}"
# Every record this PC can produce, without its CR LF.
RECORD_SHAPES = [re.compile(shape) for shape in (
    BANNER,
    r"Fixed list \[C:\\;D:\\;\]",
    r"First found fixed drive letter \[[CD]:\\\]",
    r"Find RP flag in \[D:\\\]",
    r"Copy \[C:\\(pkg|big)\\FU\\\*\] to \[D:\\preload\\RM_Reserve\]",
    r"Copy successfully",
    r"Copy failed with error code \[-?\d+\]",
    r"Cannot finf RP, skip FU copy",
    r"C:\\(pkg|big)\\QXCUST2\.exe copy to c:\\Windows\\QXCUST2\.exe",
    r"Copy file successful with return code: 1",
    r"Copy file failed with return code: 0",
    r"Source file not exists: C:\\(pkg|big)\\QXCUST2\.exe",
    r"Result=(PASS|FAIL)",
)]


def expected_records(outcome, folder):
    """The shapes of one finished run's records, in order."""
    update = ["Fixed list [C:\\;D:\\;]", "First found fixed drive letter [C:\\]",
              "First found fixed drive letter [D:\\]"]
    if outcome == "no flag":
        update.append("Cannot finf RP, skip FU copy")
    else:
        update += ["Find RP flag in [D:\\]",
                   f"Copy [C:\\{folder}\\FU\\*] to [D:\\preload\\RM_Reserve]",
                   "Copy failed with error code [1223]" if outcome == "copy fails" else "Copy successfully"]
    if outcome == "companion missing":
        companion = [f"Source file not exists: C:\\{folder}\\QXCUST2.exe"]
    else:
        companion = [f"C:\\{folder}\\QXCUST2.exe copy to c:\\Windows\\QXCUST2.exe",
                     "Copy file successful with return code: 1"]
    verdict = "Result=FAIL" if outcome == "copy fails" else "Result=PASS"
    return [BANNER] + update + [BANNER] + companion + [verdict]


def records_of(text):
    """The records of a log text, without their CR LF; None for a text that ends mid-record."""
    if text and not text.endswith("\r\n"):
        return None
    return text.split("\r\n")[:-1]


def matches(record, shape):
    return re.fullmatch(shape, record) if shape == BANNER else record == shape


class Soak:
    def __init__(self, exe, hold_file_exe, root, seed):
        self.pc = SandboxPc(root).ensure().reset()
        self.hold_file_exe = hold_file_exe
        self.random = random.Random(seed)
        self.findings = []
        self.counts = Counter()
        self.pc.put_folder("C:\\System.sav\\Logs")
        self.pc.add_drive("d")
        self.pc.put_file(FLAG)
        self.tools = {"pkg": self.pc.install_tool(exe, folder="C:\\pkg", fu_files=SMALL_FU),
                      "big": self.pc.install_tool(exe, folder="C:\\big", fu_files=BIG_FU)}
        self.log = b""
        self.copy_seconds = 0.0
        self.kills_ended_at = Counter()

    def finding(self, run, text):
        self.findings.append(f"run {run}: {text}")

    def run_once(self, run, outcome):
        pc = self.pc
        if outcome == "no flag":
            with self.moved_aside(FLAG):
                return pc.run(self.tools["pkg"])
        if outcome == "copy fails":
            reserve = pc.windows_path(RESERVE)
            with self.moved_aside(RESERVE):
                reserve.parent.mkdir(parents=True, exist_ok=True)
                reserve.write_bytes(b"in the way")
                try:
                    return pc.run(self.tools["pkg"])
                finally:
                    reserve.unlink()
        if outcome == "companion missing":
            with self.moved_aside("C:\\pkg\\QXCUST2.exe"):
                return pc.run(self.tools["pkg"])
        if outcome == "log held":
            with pc.holding(self.hold_file_exe, LOG, "deny-write"):
                return pc.run(self.tools["pkg"])
        if outcome == "killed":
            return self.killed_run(run)
        if run == 1:
            # The first run copies the large FU whole; its length sets when kills may land.
            started = time.perf_counter()
            result = pc.run(self.tools["big"])
            self.copy_seconds = time.perf_counter() - started
            return result
        return pc.run(self.tools["pkg"])

    def killed_run(self, run):
        process = self.pc.start(self.tools["big"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(self.random.uniform(0.05, 0.5) * self.copy_seconds)
        if process.poll() is not None:
            self.finding(run, "the run ended before it could be killed mid-copy")
        process.kill()
        process.wait()
        return None

    @contextlib.contextmanager
    def moved_aside(self, path):
        """Moves a file or folder out of the way for the duration of a run."""
        target = self.pc.windows_path(path)
        aside = target.with_name(target.name + ".aside")
        target.rename(aside)
        try:
            yield
        finally:
            aside.rename(target)

    def check(self, run, outcome, result):
        log = self.pc.read(LOG) or b""
        if log[: len(self.log)] != self.log:
            self.finding(run, "earlier log bytes changed or the log shrank")
        added = log[len(self.log):]
        self.log = log
        if len(added) % 2:
            self.finding(run, "half a code unit at the end of the log")
            return
        records = records_of(decode_log(log))
        if records is None:
            self.finding(run, "the log ends inside a record")
            return
        for record in records:
            if not any(shape.fullmatch(record) for shape in RECORD_SHAPES):
                self.finding(run, f"a record that is not whole: {record[:80]!r}")
        new = records_of(decode_log(added))
        folder = "big" if outcome == "killed" or run == 1 else "pkg"
        expected = expected_records(outcome, folder)
        if outcome == "log held":
            if new:
                self.finding(run, "records reached a log held by another program")
            echo = result.console.decode("latin-1").replace("\r\r\n", "\r\n")
            if echo.count("=" * 40) != 2 or not echo.endswith("Result=PASS\r\n"):
                self.finding(run, "the console lacks the held run's records")
        elif outcome == "killed":
            self.kills_ended_at[new[-1].split(" [")[0] if new else "(nothing)"] += 1
            if len(new) > len(expected) or not all(map(matches, new, expected)):
                self.finding(run, f"a killed run left records out of order: {new}")
            elif any(record.startswith("Result=") for record in new):
                self.finding(run, "the kill came after the run had finished")
        elif len(new) != len(expected) or not all(map(matches, new, expected)):
            self.finding(run, f"records {new} are not those of '{outcome}'")
        if result is not None:
            status = 1 if outcome == "copy fails" else 0
            if result.status != status:
                self.finding(run, f"exit status {result.status}, expected {status}")

    def go(self, runs):
        for run in range(1, runs + 1):
            outcome = OUTCOMES[(run - 1) % len(OUTCOMES)]
            result = self.run_once(run, outcome)
            self.counts[outcome] += 1
            self.check(run, outcome, result)
        self.pc.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("exe")
    parser.add_argument("hold_file_exe")
    parser.add_argument("root")
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()

    started = time.perf_counter()
    soak = Soak(options.exe, options.hold_file_exe, options.root, options.seed)
    soak.go(options.runs)
    print(f"soak runs: {options.runs} in {time.perf_counter() - started:.0f} s (seed {options.seed}),"
          f" kills within the first {0.5 * soak.copy_seconds:.1f} s of a {soak.copy_seconds:.1f} s copy")
    for outcome in OUTCOMES:
        print(f"  {outcome:18} {soak.counts[outcome]}")
    for record, count in soak.kills_ended_at.items():
        print(f"  a killed run's last record was '{record.strip()}' {count} times")
    print(f"log: {len(soak.log)} bytes, {len(records_of(decode_log(soak.log)))} records")
    print(f"soak findings: {len(soak.findings)}")
    for finding in soak.findings:
        print(f"  {finding}")
    sys.exit(1 if soak.findings else 0)


if __name__ == "__main__":
    main()
