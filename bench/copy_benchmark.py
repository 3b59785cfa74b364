#!/usr/bin/env python3
"""How long a whole Castorel.exe run takes against its floor, in one sandboxed PC under Wine.
The floor is a bare program that makes only the calls a run must make: the shell's copy of
C:\\pkg\\FU\\* to D:\\preload\\RM_Reserve with the same flags, then the companion's CopyFileW.
The copy engine is fixed, so the difference is what Castorel adds: its checks, log and console.
Two FU shapes: 2,000 files of 200 MB in all in 200 folders, and 20,000 files of 1 KiB in 200
folders. The two programs take turns, each starting from an empty destination; the script
prints the median of each and their ratio.
Usage: copy_benchmark.py CASTOREL_EXE BARE_EXE SANDBOX_FOLDER [ROUNDS]"""
import random
import shutil
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scripts"))
from sandbox_pc import SandboxPc  # noqa: E402

FOLDERS, SUBFOLDERS = 20, 10  # 200 folders in both shapes


def sizes_for_large(generator, count):
    """Files of varied sizes around 100 kB, 200 MB in all."""
    weights = [generator.uniform(0.2, 1.8) for _ in range(count)]
    return [int(200 * 1000 * 1000 * w / sum(weights)) for w in weights]


SHAPES = [  # name, files in each folder, sizes(generator, count)
    ("2,000 files, 200 MB", 10, sizes_for_large),
    ("20,000 files of 1 KiB", 100, lambda generator, count: [1024] * count),
]


def make_tree(root, files_each, sizes):
    """The same tree every time."""
    shutil.rmtree(root, ignore_errors=True)
    generator = random.Random(2026)
    count = FOLDERS * SUBFOLDERS * files_each
    all_sizes = sizes(generator, count)
    index = 0
    for folder in range(FOLDERS):
        for subfolder in range(SUBFOLDERS):
            target = root / f"part{folder:02}" / f"set{subfolder:02}"
            target.mkdir(parents=True, exist_ok=True)
            for number in range(files_each):
                (target / f"file{number:03}.bin").write_bytes(
                    generator.randbytes(all_sizes[index]))
                index += 1
    return count, sum(all_sizes)


def clear_destinations(pc):
    shutil.rmtree(pc.windows_path("D:\\preload"), ignore_errors=True)
    companion = pc.windows_path("c:\\Windows\\QXCUST2.exe")
    if companion.exists():
        companion.unlink()


def timed_run(pc, program, files):
    clear_destinations(pc)
    pc.warm()
    start = time.perf_counter()
    result = pc.run(program)
    seconds = time.perf_counter() - start
    copied = sum(1 for p in pc.windows_path("D:\\preload\\RM_Reserve").rglob("*") if p.is_file())
    if result.status != 0 or copied != files:
        raise RuntimeError(f"{program}: status {result.status}, {copied} of {files} files")
    return seconds


def main():
    exe, bare, root = sys.argv[1], sys.argv[2], Path(sys.argv[3])
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    pc = SandboxPc(root).ensure().reset()
    pc.add_drive("d")
    pc.put_file("D:\\Recovery\\_VLTRP2.FLG")
    pc.put_folder("C:\\System.sav\\Logs")
    tool = pc.install_tool(exe, companion=b"MZ" + bytes(500_000))
    floor = "C:\\pkg\\bare_copy.exe"
    shutil.copyfile(bare, pc.windows_path(floor))
    print(f"rounds: {rounds}, alternating")
    for name, files_each, sizes in SHAPES:
        files, size = make_tree(pc.windows_path("C:\\pkg\\FU"), files_each, sizes)
        castorel, bare_times = [], []
        for _ in range(rounds):
            castorel.append(timed_run(pc, tool, files))
            bare_times.append(timed_run(pc, floor, files))
        castorel_median, bare_median = statistics.median(castorel), statistics.median(bare_times)
        print(f"{name} ({files} files, {size / 1e6:.1f} MB, {FOLDERS * SUBFOLDERS} folders):")
        print(f"  Castorel.exe run, median:  {castorel_median:.3f} s")
        print(f"  bare copy program, median: {bare_median:.3f} s")
        print(f"  ratio Castorel / bare:     {castorel_median / bare_median:.3f}")
    pc.stop()


if __name__ == "__main__":
    main()
