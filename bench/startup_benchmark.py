#!/usr/bin/env python3
"""What a Castorel run that finds no recovery flag costs beyond starting a process at all, in
one sandboxed PC under Wine: the run and a do-nothing console program take turns; the script
prints the median wall time of each, the difference, and the DLLs each loads (Wine's loader
trace), naming whether SHELL32 was among them.
Usage: startup_benchmark.py CASTOREL_EXE MINIMAL_EXE SANDBOX_FOLDER [ROUNDS]"""
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scripts"))
from sandbox_pc import WINE, SandboxPc  # noqa: E402


def timed_run(pc, program):
    start = time.perf_counter()
    result = pc.run(program)
    elapsed = time.perf_counter() - start
    if result.status != 0:
        raise RuntimeError(f"{program} exited with {result.status}")
    return elapsed


def loaded_dlls(pc, program):
    """The DLLs a run loads, by file name, as Wine's loader reports them."""
    env = dict(pc.env, WINEDEBUG="+loaddll")
    trace = subprocess.run([WINE, str(pc.windows_path(program))], env=env, check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE).stderr.decode(errors="replace")
    return [line.split('"')[1].split("\\")[-1].lower()
            for line in trace.splitlines() if "loaddll:build_module Loaded" in line][1:]


def main():
    castorel, minimal, root, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    pc = SandboxPc(root).ensure().reset()
    pc.put_folder("C:\\System.sav\\Logs")
    tool = pc.install_tool(castorel)
    baseline = "C:\\tools\\minimal_console.exe"
    pc.put_folder("C:\\tools")
    shutil.copyfile(minimal, pc.windows_path(baseline))

    times = {tool: [], baseline: []}
    for _ in range(rounds):
        for program in times:
            times[program].append(timed_run(pc, program))
    medians = {program: statistics.median(values) for program, values in times.items()}
    print(f"{rounds} alternating rounds, a run on drive C only, no recovery flag:")
    for program, label in ((tool, "Castorel"), (baseline, "do-nothing program")):
        dlls = loaded_dlls(pc, program)
        shell = "SHELL32 loaded" if "shell32.dll" in dlls else "no SHELL32"
        print(f"  {label:20} median {medians[program] * 1000:7.1f} ms, "
              f"{len(dlls)} DLLs ({shell})")
    print(f"  Castorel beyond the do-nothing program: "
          f"{(medians[tool] - medians[baseline]) * 1000:.1f} ms")
    pc.stop()


if __name__ == "__main__":
    main()
