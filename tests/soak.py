#!/usr/bin/env python3
"""Soak with faults: the scenario table's rows replayed one after another in one sandboxed PC,
all logging into one long-lived c:\\System.sav\\Logs\\Castorel.log, with every sixth run
killed at a random moment while it copies an FU of 2,000 files. Each finished run is checked
by the table's own expectations, which include that every earlier log byte stays as it was; a
killed run must leave only whole records, in order, that begin its row's records.
Usage: soak.py CASTOREL_EXE SANDBOX_FOLDER [--runs N] [--seed S], with the helper programs
named in HOLD_FILE_EXE and PLANTED_DLL, as for the end-to-end test."""
import argparse
import contextlib
import dataclasses
import random
import subprocess
import sys
import time
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "e2e"))
from scenarios import (BANNER_SHAPE, BIG_FU, ROWS, SYSTEM_LOG, Helpers,  # noqa: E402
                       SandboxPc, as_log, decode_log, lay_out, play, record_texts)

# Rows whose records all reach the long-lived log; the others are the end-to-end test's alone.
REPLAYED = [row for row in ROWS
            if row.log == SYSTEM_LOG and row.log_written and SYSTEM_LOG not in row.put
            and not row.as_root]
KILLED = dataclasses.replace(next(row for row in ROWS if row.name == "typical run"),
                             name="killed mid-copy", fu=BIG_FU, files={})


class Soak:
    def __init__(self, exe, root, seed):
        self.exe = exe
        self.pc = SandboxPc(root).ensure()
        self.random = random.Random(seed)
        self.log = b""
        self.findings = []
        self.counts = Counter()
        self.kills_ended_at = Counter()
        self.copy_seconds = self.timed_copy()

    def fresh_pc(self):
        """The PC as a row expects it, but with the log every earlier run left."""
        self.pc.reset()
        if self.log:
            self.pc.put_file(SYSTEM_LOG, self.log)

    def timed_copy(self):
        """How long the killed row's copy takes when left alone: kills land within it."""
        self.fresh_pc()
        started = time.perf_counter()
        self.findings += play(self.pc, KILLED, self.exe, Helpers())
        self.log = self.pc.read(SYSTEM_LOG)
        return time.perf_counter() - started

    def replay(self, row):
        self.fresh_pc()
        self.findings += [f"{row.name}: {finding}"
                          for finding in play(self.pc, row, self.exe, Helpers())]
        self.log = self.pc.read(SYSTEM_LOG) or b""

    def kill(self):
        self.fresh_pc()
        tool = lay_out(self.pc, KILLED, self.exe, Helpers(), contextlib.ExitStack())
        process = self.pc.start(tool, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        time.sleep(self.random.uniform(0.05, 0.5) * self.copy_seconds)
        if process.poll() is not None:
            self.findings.append("a run ended before it could be killed mid-copy")
        process.kill()
        process.wait()
        log = self.pc.read(SYSTEM_LOG) or b""
        if log[: len(self.log)] != self.log or len(log) % 2:
            self.findings.append("a killed run changed earlier log bytes or cut a code unit")
        added = decode_log(log[len(self.log):])
        banner = BANNER_SHAPE.match(added)
        whole = as_log(record_texts(KILLED, banner.group(0) if banner else ""))
        if not whole.startswith(added) or (added and not added.endswith("\r\n")):
            self.findings.append(f"a killed run left {added!r}")
        self.kills_ended_at[added.split("\r\n")[-2].split(" [")[0] if added else "(nothing)"] += 1
        self.log = log

    def go(self, runs):
        for number in range(1, runs + 1):
            if number % 6 == 0:
                self.kill()
                self.counts[KILLED.name] += 1
            else:
                row = REPLAYED[(number - 1) % len(REPLAYED)]
                self.replay(row)
                self.counts[row.name] += 1
        self.pc.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("exe")
    parser.add_argument("root")
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()

    started = time.perf_counter()
    soak = Soak(options.exe, options.root, options.seed)
    soak.go(options.runs)
    print(f"soak runs: {options.runs} and a timed copy in {time.perf_counter() - started:.0f} s "
          f"(seed {options.seed}), kills within the first {0.5 * soak.copy_seconds:.1f} s of "
          f"a {soak.copy_seconds:.1f} s run")
    for name, count in sorted(soak.counts.items()):
        print(f"  {count:4}  {name}")
    for record, count in soak.kills_ended_at.items():
        print(f"  a killed run's last record was '{record}' {count} times")
    print(f"log: {len(soak.log)} bytes, {decode_log(soak.log).count(chr(13) + chr(10))} records")
    print(f"soak findings: {len(soak.findings)}")
    for finding in soak.findings:
        print(f"  {finding}")
    sys.exit(1 if soak.findings else 0)


if __name__ == "__main__":
    main()
