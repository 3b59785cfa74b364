#!/usr/bin/env python3
"""Runs Castorel.exe in a small sandboxed PC: fixed drives C and D, the recovery flag on D, the
log folder c:\\System.sav\\Logs, and the tool in C:\\pkg with an FU tree and a QXCUST2.exe
beside it. The first run services D and passes; a second run, with the reserve folder on D
replaced for the moment by a plain file, fails. The PC and its log are kept between calls.
Usage: demo.py CASTOREL_EXE SANDBOX_FOLDER"""
import shutil
import sys

from sandbox_pc import SandboxPc, decode_log

LOG = "c:\\System.sav\\Logs\\Castorel.log"
RESERVE = "D:\\preload\\RM_Reserve"
FU_TREE = {
    "readme.txt": b"Recovery payload\r\n",
    "drivers\\net.inf": b"[Version]\r\n",
    "drivers\\audio\\audio.inf": b"[Version]\r\n",
}


def lay_out(pc, exe):
    pc.put_folder("C:\\System.sav\\Logs")
    if not (pc.prefix / "dosdevices" / "d:").exists():
        pc.add_drive("d")
    pc.put_file("D:\\Recovery\\_VLTRP2.FLG")
    return pc.install_tool(exe, folder="C:\\pkg", fu_files=FU_TREE, companion=b"MZ companion\r\n")


def section(title, text=None):
    print(f"--- {title} ---")
    if text:
        print(text.rstrip("\r\n").replace("\r\n", "\n"))


def run_and_show(pc, tool):
    before = len(pc.read(LOG) or b"")
    result = pc.run(tool)
    section(f"console of {tool}", result.console.decode("latin-1"))
    section(f"what the run added to {LOG}", decode_log(pc.read(LOG)[before:]))
    section(f"exit status: {result.status}")


def main():
    exe, root = sys.argv[1], sys.argv[2]
    pc = SandboxPc(root).ensure()
    tool = lay_out(pc, exe)

    print("=== Run 1: the recovery partition on D receives FU ===")
    run_and_show(pc, tool)
    reserve = pc.windows_path(RESERVE)
    landed = sorted(str(p.relative_to(reserve)) for p in reserve.rglob("*") if p.is_file())
    section(f"{RESERVE} holds", "\n".join(landed))
    companion = pc.read("c:\\Windows\\QXCUST2.exe") or b""
    section("c:\\Windows\\QXCUST2.exe", f"installed, {len(companion)} bytes")

    print("\n=== Run 2: the same PC with a plain file in the way of D:\\preload\\RM_Reserve ===")
    aside = reserve.with_name("RM_Reserve.aside")
    shutil.rmtree(aside, ignore_errors=True)
    reserve.rename(aside)
    reserve.write_bytes(b"in the way")
    try:
        run_and_show(pc, tool)
    finally:
        reserve.unlink()
        aside.rename(reserve)

    runs = decode_log(pc.read(LOG)).count("Result=")
    section(f"{LOG} now holds {runs} runs")
    pc.stop()


if __name__ == "__main__":
    main()
