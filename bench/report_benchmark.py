#!/usr/bin/env python3
"""castorel-report on a fleet of a million logs against the floor of reading the same bytes.
Makes the fleet cheaply, in a scratch folder: LOGS logs as SITE/PC/Castorel.log, 1,000 PCs a
site, each a hard link to a copy of one of the real logs of tests/fuzz/corpus (logs the tool
wrote under Wine). Then times `castorel-report --csv F --json F`, into outputs made anew and
into the ones the run before left (a nightly report's), against `find FLEET -name '*.log'
-print0 | xargs -0 cat >/dev/null`, warm, the three taking turns and which goes first turning
too, and prints the medians and the median and range of each report's per-round ratios. Last, the report's peak memory (/usr/bin/time -v) on the first 100,000 logs
(their 100 sites), on all of them, and on one log of 1 GiB.
Usage: report_benchmark.py REPORT ROUNDS SCRATCH_FOLDER [LOGS] [JOBS]"""
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

CORPUS = Path(__file__).resolve().parents[1] / "tests" / "fuzz" / "corpus"
PCS_PER_SITE = 1000
BANNER = "\n\n{} {{}} {{}} {}\r\n".format("=" * 32, "=" * 40)


def make_fleet(root, logs):
    """The fleet, made once and kept: a second call with the same count finds it made."""
    done = root / f".made-{logs}"
    if done.exists():
        return
    sources_folder = root.with_name(root.name + "-sources")  # out of the walk's way
    for folder in (root, sources_folder):
        shutil.rmtree(folder, ignore_errors=True)
    # A file takes at most 65,000 names on ext4: copies of the corpus share them out.
    sources = []
    for copy in range(logs // 50_000 + 1):
        for log in sorted(CORPUS.glob("*.log")):
            source = sources_folder / f"{copy}-{log.name}"
            source.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(log, source)
            sources.append(source)
    generator = random.Random(2026)
    for number in range(logs):
        site, pc = divmod(number, PCS_PER_SITE)
        folder = root / f"SITE{site:04}" / f"PC{pc:04}"
        folder.mkdir(parents=True)
        os.link(generator.choice(sources), folder / "Castorel.log")
    done.touch()


def make_big_log(path, size=1 << 30):
    block = (CORPUS / "typical.log").read_bytes() * 1000
    with open(path, "wb") as log:
        for _ in range(size // len(block) + 1):
            log.write(block)


def timed(command, removed=()):
    """Seconds the command takes, with `removed` gone first: outputs made anew."""
    for path in removed:
        path.unlink(missing_ok=True)
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
    logs = int(sys.argv[4]) if len(sys.argv) > 4 else 1_000_000
    jobs = ["--jobs", sys.argv[5]] if len(sys.argv) > 5 else []
    fleet = scratch / "fleet"
    make_fleet(fleet, logs)
    made = [scratch / "f.csv", scratch / "f.json"]
    outputs = ["--csv", str(made[0]), "--json", str(made[1])]
    command = [report, *jobs, *outputs, str(fleet)]
    read = ["sh", "-c", f"find '{fleet}' -name '*.log' -print0 | xargs -0 cat >/dev/null"]
    timed(read)  # the files in the page cache for all
    timed(command)  # outputs there for the first report into existing ones
    runs = [("new outputs", command, made), ("existing outputs", command, ()), ("cat", read, ())]
    times = {name: [] for name, _, _ in runs}
    for round_number in range(rounds):
        turn = round_number % len(runs)
        for name, each, removed in runs[turn:] + runs[:turn]:
            times[name].append(timed(each, removed))
    print(f"{logs:,} logs in {logs // PCS_PER_SITE:,} sites, {rounds} rounds taking turns:")
    print(f"  find | xargs cat, median {statistics.median(times['cat']):.2f} s")
    for name in ("new outputs", "existing outputs"):
        ratios = [ours / floor for ours, floor in zip(times[name], times["cat"])]
        print(f"  castorel-report {' '.join(jobs + ['--csv F --json F'])} into {name}, median "
              f"{statistics.median(times[name]):.2f} s; per-round ratio report / cat: median "
              f"{statistics.median(ratios):.2f}, range {min(ratios):.2f} to {max(ratios):.2f}")
    first_sites = sorted(fleet.iterdir())[:100]
    small = [report, *jobs, *outputs, *map(str, first_sites)]
    print(f"  peak memory: {min(logs, 100_000):,} logs {peak_memory_mib(small):.1f} MiB, "
          f"{logs:,} logs {peak_memory_mib(command):.1f} MiB")
    big = scratch / "big.log"
    make_big_log(big)
    print(f"one log of {big.stat().st_size / (1 << 30):.2f} GiB: peak memory "
          f"{peak_memory_mib([report, *outputs, str(big)]):.1f} MiB")
    for name in ("big.log", "f.csv", "f.json"):
        (scratch / name).unlink(missing_ok=True)


if __name__ == "__main__":
    main()
