#!/usr/bin/env python3
"""castorel-report against the floor of reading the same bytes. Makes 10,000 logs of 5 runs each
in one folder per PC (mixed outcomes, about 40 MB) in a scratch folder, then times
`castorel-report --csv /dev/null` on them against `cat` of the same files to /dev/null, the two
alternating, and prints both medians and their ratio. Then the report's peak memory
(/usr/bin/time -v) on those logs and on one log of 1 GiB.
Usage: report_benchmark.py REPORT ROUNDS SCRATCH_FOLDER"""
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

BANNER = "\n\n{} {{}} {{}} {}\r\n".format("=" * 32, "=" * 40)
OUTCOMES = [("Copy successfully", "PASS"), ("Cannot finf RP, skip FU copy", "PASS"),
            ("Copy failed with error code [29]", "FAIL"), ("Copy failed with error code [5]", "FAIL")]


def run_text(generator, outcome, verdict):
    banner = BANNER.format(f"{generator.randint(1, 12):02}/{generator.randint(1, 28):02}/26",
                           f"{generator.randint(0, 23):02}:{generator.randint(0, 59):02}:00")
    update = ["Fixed list [C:\\;D:\\;]", "First found fixed drive letter [C:\\]"]
    if not outcome.startswith("Cannot"):
        update += ["First found fixed drive letter [D:\\]", "Find RP flag in [D:\\]",
                   "Copy [C:\\factory\\kit\\FU\\*] to [D:\\preload\\RM_Reserve]"]
    records = [banner, *update, outcome, banner,
               "C:\\factory\\kit\\QXCUST2.exe copy to c:\\Windows\\QXCUST2.exe",
               "Copy file successful with return code: 1", f"Result={verdict}"]
    return "".join(r if r.startswith("\n") else r + "\r\n" for r in records)


def make_fleet(root, pcs=10_000, runs=5):
    shutil.rmtree(root, ignore_errors=True)
    generator = random.Random(2026)
    size = 0
    for pc in range(pcs):
        log = "".join(run_text(generator, *generator.choice(OUTCOMES)) for _ in range(runs))
        folder = root / f"PC{pc:05}"
        folder.mkdir(parents=True)
        data = log.encode("utf-16-le")
        (folder / "Castorel.log").write_bytes(data)
        size += len(data)
    return size


def make_big_log(path, size=1 << 30):
    generator = random.Random(7)
    block = "".join(run_text(generator, *generator.choice(OUTCOMES)) for _ in range(1000))
    data = block.encode("utf-16-le")
    with open(path, "wb") as log:
        for _ in range(size // len(data) + 1):
            log.write(data)


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - start


def peak_memory_mib(command):
    measured = subprocess.run(["/usr/bin/time", "-v", *command], capture_output=True, text=True,
                              check=False)
    kilobytes = re.search(r"Maximum resident set size \(kbytes\): (\d+)", measured.stderr)
    return int(kilobytes.group(1)) / 1024


def main():
    report, rounds, scratch = sys.argv[1], int(sys.argv[2]), Path(sys.argv[3])
    fleet = scratch / "fleet"
    size = make_fleet(fleet)
    read = ["sh", "-c", f"find '{fleet}' -type f -name '*.log' -print0 | xargs -0 cat >/dev/null"]
    command = [report, "--csv", "/dev/null", str(fleet)]
    timed(read)  # the files in the page cache for both
    reports, reads = [], []
    for _ in range(rounds):
        reports.append(timed(command))
        reads.append(timed(read))
    print(f"10,000 logs of 5 runs, {size / 1e6:.1f} MB, {rounds} rounds alternating:")
    print(f"  castorel-report --csv /dev/null, median {statistics.median(reports):.3f} s")
    print(f"  cat of the same files, median           {statistics.median(reads):.3f} s")
    print(f"  ratio report / cat:                     "
          f"{statistics.median(reports) / statistics.median(reads):.2f}")
    print(f"  peak memory: {peak_memory_mib(command):.1f} MiB")
    big = scratch / "big.log"
    make_big_log(big)
    print(f"one log of {big.stat().st_size / (1 << 30):.2f} GiB: peak memory "
          f"{peak_memory_mib([report, '--csv', '/dev/null', str(big)]):.1f} MiB")
    shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
