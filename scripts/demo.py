#!/usr/bin/env python3
"""Runs Castorel.exe once in a small sandboxed PC: fixed drives C and D, the log folder
c:\\System.sav\\Logs, and the tool in C:\\pkg with an FU tree and a QXCUST2.exe beside it.
Usage: demo.py CASTOREL_EXE SANDBOX_FOLDER"""
import sys

from sandbox_pc import SandboxPc, decode_log

FU_TREE = {
    "readme.txt": b"Recovery payload\r\n",
    "drivers\\net.inf": b"[Version]\r\n",
    "drivers\\audio\\audio.inf": b"[Version]\r\n",
}


def lay_out(pc, exe):
    pc.put_folder("C:\\System.sav\\Logs")
    if not (pc.prefix / "dosdevices" / "d:").exists():
        pc.add_drive("d")
    return pc.install_tool(exe, folder="C:\\pkg", fu_files=FU_TREE)


def show(title, text):
    print(f"--- {title} ---")
    print(text.rstrip("\r\n").replace("\r\n", "\n"))


def main():
    exe, root = sys.argv[1], sys.argv[2]
    pc = SandboxPc(root).ensure()
    tool = lay_out(pc, exe)
    result = pc.run(tool)
    show(f"console of {tool}", result.console.decode("latin-1"))
    show("c:\\System.sav\\Logs\\Castorel.log", decode_log(pc.read("c:\\System.sav\\Logs\\Castorel.log")))
    print(f"--- exit status: {result.status} ---")
    pc.stop()


if __name__ == "__main__":
    main()
