#!/usr/bin/env python3
"""How long a whole Castorel.exe run takes, against the same job done with the platform's own
tools, in one sandboxed PC under Wine: an FU tree of 2,000 files and 200 MB in nested folders is
copied to D:\\preload\\RM_Reserve and the companion to c:\\Windows. Castorel and
`xcopy /E /I /Y` plus `copy /Y` take turns, each starting from an empty destination; the script
prints the median of each, their ratio, and for reference the same tree copied by `cp -r` on
Linux, and the time of a Castorel run with the flag hidden, which is all it does but the
shell's copy. Usage: copy_benchmark.py CASTOREL_EXE SANDBOX_FOLDER [ROUNDS]"""
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scripts"))
from sandbox_pc import WINE, SandboxPc  # noqa: E402

FOLDERS, SUBFOLDERS, FILES_EACH = 20, 10, 10  # 2,000 files
TREE_BYTES = 200 * 1000 * 1000
XCOPY = ("xcopy C:\\pkg\\FU D:\\preload\\RM_Reserve /E /I /Y /Q >NUL"
         " && copy /Y C:\\pkg\\QXCUST2.exe c:\\Windows\\QXCUST2.exe >NUL")


def make_tree(root):
    """Files of varied sizes around 100 kB, the same every time."""
    generator = random.Random(2026)
    count = FOLDERS * SUBFOLDERS * FILES_EACH
    weights = [generator.uniform(0.2, 1.8) for _ in range(count)]
    sizes = [int(TREE_BYTES * w / sum(weights)) for w in weights]
    index = 0
    for folder in range(FOLDERS):
        for subfolder in range(SUBFOLDERS):
            target = root / f"part{folder:02}" / f"set{subfolder:02}"
            target.mkdir(parents=True, exist_ok=True)
            for number in range(FILES_EACH):
                (target / f"file{number:02}.bin").write_bytes(generator.randbytes(sizes[index]))
                index += 1
    return count, sum(sizes)


def clear_destinations(pc):
    shutil.rmtree(pc.windows_path("D:\\preload"), ignore_errors=True)
    companion = pc.windows_path("c:\\Windows\\QXCUST2.exe")
    if companion.exists():
        companion.unlink()


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def run_castorel(pc, tool):
    result = pc.run(tool)
    if result.status != 0:
        raise RuntimeError(f"Castorel failed: {result.console[-300:]!r}")


def run_xcopy(pc):
    pc.warm()
    subprocess.run([WINE, "cmd.exe", "/c", XCOPY], env=pc.env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    exe, root = sys.argv[1], Path(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    pc = SandboxPc(root).ensure().reset()
    pc.add_drive("d")
    pc.put_file("D:\\Recovery\\_VLTRP2.FLG")
    pc.put_folder("C:\\System.sav\\Logs")
    tool = pc.install_tool(exe, companion=b"MZ" + bytes(500_000))
    files, size = make_tree(pc.windows_path("C:\\pkg\\FU"))
    print(f"tree: {files} files, {size / 1e6:.1f} MB in {FOLDERS * SUBFOLDERS} nested folders")

    castorel, xcopy, overhead = [], [], []
    for _ in range(rounds):
        clear_destinations(pc)
        castorel.append(timed(lambda: run_castorel(pc, tool)))
        clear_destinations(pc)
        xcopy.append(timed(lambda: run_xcopy(pc)))
    # The same run with the flag hidden: everything Castorel does except the shell's copy.
    flag = pc.windows_path("D:\\Recovery\\_VLTRP2.FLG")
    flag.rename(flag.with_name("hidden.FLG"))
    for _ in range(rounds):
        overhead.append(timed(lambda: run_castorel(pc, tool)))
    flag.with_name("hidden.FLG").rename(flag)
    copied = sum(1 for p in pc.windows_path("D:\\preload\\RM_Reserve").rglob("*") if p.is_file())
    assert copied == files, f"xcopy copied {copied} of {files} files"

    linux = []
    for _ in range(rounds):
        target = root / "cp-target"
        shutil.rmtree(target, ignore_errors=True)
        linux.append(timed(lambda: subprocess.run(
            ["cp", "-r", str(pc.windows_path("C:\\pkg\\FU")), str(target)], check=True)))
        shutil.rmtree(target, ignore_errors=True)
    pc.stop()

    castorel_median, xcopy_median = statistics.median(castorel), statistics.median(xcopy)
    print(f"rounds: {rounds}, alternating")
    print(f"Castorel.exe run (FU + companion), median: {castorel_median:.3f} s")
    print(f"xcopy /E /I /Y + copy /Y, median:          {xcopy_median:.3f} s")
    print(f"ratio Castorel / xcopy:                     {castorel_median / xcopy_median:.2f}")
    print(f"cp -r on Linux (reference), median:         {statistics.median(linux):.3f} s")
    print(f"Castorel.exe run without the FU copy, median: {statistics.median(overhead):.3f} s"
          " (its own cost: start, drive probes, log, companion)")


if __name__ == "__main__":
    main()
