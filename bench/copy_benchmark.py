#!/usr/bin/env python3
"""How long a whole Castorel.exe run takes against its floor, in one sandboxed PC under Wine.
The floor is a bare program that makes only the calls a run must make: the reserve's two
folders, the shell's copy of C:\\pkg\\FU\\* to D:\\preload\\RM_Reserve with the same flags, then
the companion's CopyFileW. The copy engine is fixed, so the difference is what Castorel adds:
its checks, log and console. The shapes: 2,000 files of 200 MB in all in 200 folders, and
20,000 files of 1 KiB in 200 folders, each onto an empty destination; then the 2,000 files onto
a reserve that already holds them (a re-run), and that re-run again with 2,000 files of 1 KiB
beside FU's in the reserve, which FU does not bring; "leftovers", the re-run beside 20,000
administrators' files of 100 bytes in 200 folders that FU does not bring, and
"leftovers-open", the same opened to users before every run, so that each run takes every one
over. Before each timed run the disk is settled
(sync, outside the timing), so that no run pays for the write-back of the one before; the two
programs take turns, and which goes first alternates from round to round. The script prints
each one's median and minimum, the ratios of both, and the median and range of the per-round
ratios (each round pairs one run of each program, so the machine's drift cancels out). With
SHAPE, only the shapes whose name holds that text.
Usage: copy_benchmark.py CASTOREL_EXE BARE_EXE SANDBOX_FOLDER [ROUNDS] [SHAPE]"""
import os
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


def sizes_for_small(_, count):
    return [1024] * count


def sizes_for_tiny(_, count):
    return [100] * count


# What the reserve holds beside FU's copy, which FU does not bring: files in each of 200
# folders, their sizes, and whether they are opened to users before every run.
OTHERS = (10, sizes_for_small, False)
LEFTOVERS = (100, sizes_for_tiny, False)
LEFTOVERS_OPEN = (100, sizes_for_tiny, True)

SHAPES = [  # name, files in each folder, sizes(generator, count), onto a filled reserve, others
    ("2,000 files, 200 MB", 10, sizes_for_large, False, None),
    ("20,000 files of 1 KiB", 100, sizes_for_small, False, None),
    ("2,000 files, 200 MB, re-run", 10, sizes_for_large, True, None),
    ("2,000 files, 200 MB, again beside 2,000 others", 10, sizes_for_large, True, OTHERS),
    ("leftovers: the re-run beside 20,000 others", 10, sizes_for_large, True, LEFTOVERS),
    ("leftovers-open: the same, open to users", 10, sizes_for_large, True, LEFTOVERS_OPEN),
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


def fill_reserve(pc, others):
    """The reserve as a run leaves it: FU's copy, each file with FU's last-write time; with
    `others`, files beside it that FU does not bring."""
    clear_destinations(pc)
    reserve = pc.windows_path("D:\\preload\\RM_Reserve")
    shutil.copytree(pc.windows_path("C:\\pkg\\FU"), reserve, copy_function=shutil.copy2)
    if others:
        make_tree(reserve / "others", others[0], others[1])


def open_others(pc):
    """The files FU does not bring, and their folders, as an image may leave them: anyone may
    change them, so the run takes every one over."""
    others = pc.windows_path("D:\\preload\\RM_Reserve\\others")
    for path in (others, *others.rglob("*")):
        path.chmod(0o777 if path.is_dir() else 0o666)


def files_in_reserve(pc):
    return sum(1 for p in pc.windows_path("D:\\preload\\RM_Reserve").rglob("*") if p.is_file())


def timed_run(pc, program, files, rerun, reopen):
    if not rerun:
        clear_destinations(pc)
    if reopen:
        open_others(pc)
    pc.warm()
    os.sync()
    start = time.perf_counter()
    result = pc.run(program)
    seconds = time.perf_counter() - start
    copied = files_in_reserve(pc)
    if result.status != 0 or copied != files:
        raise RuntimeError(f"{program}: status {result.status}, {copied} of {files} files")
    return seconds


def main():
    exe, bare, root = sys.argv[1], sys.argv[2], Path(sys.argv[3])
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 9
    only = sys.argv[5] if len(sys.argv) > 5 else ""
    pc = SandboxPc(root).ensure().reset()
    pc.add_drive("d")
    pc.put_file("D:\\Recovery\\_VLTRP2.FLG")
    pc.put_folder("C:\\System.sav\\Logs")
    tool = pc.install_tool(exe, companion=b"MZ" + bytes(500_000))
    floor = "C:\\pkg\\bare_copy.exe"
    shutil.copyfile(bare, pc.windows_path(floor))
    print(f"rounds: {rounds}, alternating, which goes first too; the disk settled before each")
    for name, files_each, sizes, rerun, others in (shape for shape in SHAPES
                                                   if only in shape[0]):
        files, size = make_tree(pc.windows_path("C:\\pkg\\FU"), files_each, sizes)
        if rerun:
            fill_reserve(pc, others)
            files = files_in_reserve(pc)
        castorel, bare_times = [], []
        for round_number in range(rounds):
            programs = [(tool, castorel), (floor, bare_times)]
            for program, times in programs[:: 1 if round_number % 2 == 0 else -1]:
                times.append(timed_run(pc, program, files, rerun, others and others[2]))
        medians = statistics.median(castorel), statistics.median(bare_times)
        minima = min(castorel), min(bare_times)
        print(f"{name} ({files} files, {size / 1e6:.1f} MB, {FOLDERS * SUBFOLDERS} folders):")
        print(f"  Castorel.exe run, median {medians[0]:.3f} s, minimum {minima[0]:.3f} s")
        print(f"  bare copy program, median {medians[1]:.3f} s, minimum {minima[1]:.3f} s")
        print(f"  ratio Castorel / bare: medians {medians[0] / medians[1]:.3f}, "
              f"minima {minima[0] / minima[1]:.3f}")
        ratios = [ours / theirs for ours, theirs in zip(castorel, bare_times)]
        print(f"  per-round ratios: median {statistics.median(ratios):.3f}, "
              f"range {min(ratios):.3f} to {max(ratios):.3f}")
    pc.stop()


if __name__ == "__main__":
    main()
