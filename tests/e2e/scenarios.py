"""One definition of every run: the table of scenarios that the end-to-end test plays with the
real Castorel.exe under Wine. A row gives the PC's layout, the records the run must log, and the
files it must leave or leave alone; the console and the exit status follow from the records by
the tool's rules, so no row states them twice."""
import contextlib
import json
import os
import re
import shutil
import subprocess
import sys
import unittest
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from sandbox_pc import SandboxPc, decode_log  # noqa: E402

SYSTEM_LOG = "c:\\System.sav\\Logs\\Castorel.log"
FLAG = "Recovery\\_VLTRP2.FLG"
FOLDER = object()  # in Row.put: a folder rather than a file
BANNER = object()  # in Row.records: the run's banner, the same at both places
SOME = "some"  # in Row.log_written: some of the records, each whole, in order
ABOVE_LATIN1 = re.compile("[^\x00-\xff]")
ABOVE_LATIN1_ON = re.compile("[^\x00-\xff].*", re.S)  # a record's echo stops there
BANNER_SHAPE = re.compile(r"\n\n={32} \d\d/\d\d/\d\d \d\d:\d\d:\d\d ={40}")
FU = {"readme.txt": b"payload\r\n", "drivers\\net.inf": b"net", "drivers\\audio\\audio.inf": b"a"}
RESERVE = {f"D:\\preload\\RM_Reserve\\{name}": data for name, data in FU.items()}
RESERVE_FOLDER = "D:\\preload\\RM_Reserve"
RESERVE_README = RESERVE_FOLDER + "\\readme.txt"
# What FU does not bring, left in the reserve: beside its files, in a folder it enters, and a
# folder of its own.
EXTRAS = {RESERVE_FOLDER + "\\extra.txt": b"extra", RESERVE_FOLDER + "\\drivers\\user.inf": b"inf",
          RESERVE_FOLDER + "\\extra": FOLDER}
OPEN_FILES = {RESERVE_FOLDER + "\\extra.txt": b"extra", RESERVE_FOLDER + "\\extra\\a.txt": b"a",
              RESERVE_FOLDER + "\\drivers\\user.inf": b"inf"}
PLANTED = ("shell32", "shlwapi", "user32", "shcore")
OUTSIDE = Path("outside.txt")  # in the sandbox's folder, on none of the PC's drives
VICTIM = "C:\\Windows\\victim.txt"
# Wine's shell copy costs most per file: 2,000 files make it last seconds, long enough to act
# while it runs.
BIG_FU = {f"part{i // 100:02}\\file{i:04}.bin": bytes([i % 251]) * 20_000 for i in range(2000)}


@dataclass
class Helpers:
    """The helper programs some layouts need, built beside Castorel.exe."""
    hold_file: str = os.environ.get("HOLD_FILE_EXE", "")
    planted_dll: str = os.environ.get("PLANTED_DLL", "")


@dataclass
class Row:
    name: str
    records: list  # what the log receives, without line ends
    folder: str = "C:\\pkg"  # the tool's folder
    drives: dict = field(default_factory=dict)  # letter: Wine drive kind, besides C
    put: dict = field(default_factory=dict)  # laid out before the tool: path: bytes or FOLDER
    lay_out: Optional[Callable] = None  # lay_out(pc, helpers) for what put can't say
    small_volume: Optional[tuple] = None  # (folder, size): a tmpfs of that size mounted there
    as_root: bool = False  # the layout mounts, gives files away or needs root's rights to a
    # read-only file: skipped without root
    log_folder: bool = True
    fu: dict = field(default_factory=lambda: dict(FU))
    companion: Optional[bytes] = b"MZ companion"
    log: str = SYSTEM_LOG  # the log path the tool chooses
    log_written: object = True  # False: the records reach the console only; SOME: whole ones
    hold: Optional[tuple] = None  # (path, mode) held open by another program during the run
    dll_overrides: str = ""
    files: dict = field(default_factory=dict)  # after the run: path: bytes, or None for absent
    unchanged: tuple = ()  # files or folders the run must leave as they were
    closed_to_users: tuple = ()  # files that no standard user may write after the run

    @property
    def status(self):
        return 1 if self.records[-1] == "Result=FAIL" else 0


def update(fixed, flagged=None, result="Copy successfully", source="C:\\pkg\\FU\\*"):
    """The recovery-partition update's records: every fixed drive examined up to the flagged."""
    examined = fixed[: fixed.index(flagged) + 1] if flagged else fixed
    records = [f"Fixed list [{''.join(root + ';' for root in fixed)}]"]
    records += [f"First found fixed drive letter [{root}]" for root in examined]
    if not flagged:
        return records + ["Cannot finf RP, skip FU copy"]
    return records + [f"Find RP flag in [{flagged}]",
                      f"Copy [{source}] to [{flagged}preload\\RM_Reserve]", result]


def failed_copy(code, folder="C:\\pkg"):
    """A run of the tool in `folder` that finds the flag on D: and fails to copy FU with this
    error number."""
    return run(update(ON_C_D, "D:\\", COPY_FAILED.format(code), folder + "\\FU\\*"),
               companion(folder), verdict="FAIL")


def companion(folder="C:\\pkg", outcome="successful"):
    """The companion install's records; its source is the tool's folder without a trailing
    backslash but a root's, then "\\QXCUST2.exe"."""
    source = folder + "\\QXCUST2.exe"
    if outcome == "missing":
        return [f"Source file not exists: {source}"]
    code = 1 if outcome == "successful" else 0
    return [f"{source} copy to c:\\Windows\\QXCUST2.exe",
            f"Copy file {outcome} with return code: {code}"]


def run(update_records, companion_records=None, verdict="PASS"):
    return [BANNER, *update_records, BANNER, *(companion_records or companion()),
            f"Result={verdict}"]


ON_C = ["C:\\"]
ON_C_D = ["C:\\", "D:\\"]
FLAG_ON_D = {"D:\\" + FLAG: b""}
COPY_FAILED = "Copy failed with error code [{}]"
OVERLONG = "C:\\" + "\\".join(letter * 50 for letter in "abcde")  # its tool path: 270 units
WIN_INI = "c:\\windows\\win.ini"
# From C:\\p\\FU its file's path is 247 units; from D:\\preload\\RM_Reserve, 261.
DEEP = "a" * 120 + "\\" + "b" * 118


def host_path(pc, path):
    """The Linux path of a Windows path, or of a path relative to the sandbox's folder."""
    return pc.root / path if isinstance(path, Path) else pc.windows_path(path)


def link(path, target, make=os.symlink):
    """A layout step: `path` becomes a link to `target` (a Windows path, or a path in the
    sandbox's folder)."""
    def step(pc, _):
        pc.put_folder(path[: path.rfind("\\")])
        make(host_path(pc, target), pc.windows_path(path))
    return step


def open_to_all(*paths, mode=0o777):
    """A layout step: anyone may change the files or folders, as an image may leave them."""
    def step(pc, _):
        for path in paths:
            pc.windows_path(path).chmod(mode)
    return step


OPEN_RESERVE = open_to_all("D:\\preload", "D:\\preload\\RM_Reserve")


def steps(*layout_steps):
    """One layout step of several, in order."""
    def step(pc, helpers):
        for each in layout_steps:
            each(pc, helpers)
    return step


def owned_by_user(*paths):
    """A layout step: the files and folders, with all below them, become another Unix user's,
    which Wine reads as owned by someone who is not an administrator."""
    def step(pc, _):
        for path in paths:
            top = pc.windows_path(path)
            for entry in (top, *top.rglob("*")):
                os.chown(entry, 1000, 1000, follow_symlinks=False)
    return step


def fill_volume_but_the_logs_last_page(log):
    """A layout step: the log (on a small volume of its own) gets earlier bytes that leave 150
    bytes of its last page free, and a filler takes every other page."""
    def step(pc, _):
        pc.put_file(log, ("e" * 1971 + "\r\n").encode("utf-16-le"))  # a page less 150 bytes
        with open(pc.windows_path(log).parent / "filler", "wb", buffering=0) as filler:
            with contextlib.suppress(OSError):
                while True:
                    filler.write(bytes(4096))
    return step


def written_as_fu(*names, attributes=None):
    """A layout step: each reserve file of these names was last written when FU's file of its
    name was, within the same second; with `attributes`, it is also read-only and carries those
    DOS attributes (Wine keeps hidden and system in an extended attribute)."""
    def step(pc, _):
        for name in names:
            stamp = pc.windows_path(f"C:\\pkg\\FU\\{name}").stat().st_mtime_ns
            reserve = pc.windows_path(f"D:\\preload\\RM_Reserve\\{name}")
            os.utime(reserve, ns=(stamp, stamp))
            if attributes:
                os.setxattr(reserve, "user.DOSATTRIB", attributes)
                reserve.chmod(0o444)
    return step


def fu_also_holds(name, data):
    """A layout step: FU holds a file under a name the Linux side keeps apart from its others."""
    def step(pc, _):
        (pc.windows_path("C:\\pkg\\FU") / name).write_bytes(data)
    return step


def reserve_also_holds(name, data=FOLDER, target=None):
    """A layout step: the reserve holds an entry under a name the Linux side keeps apart from
    its others: a file of `data`, a folder, or a link to `target`."""
    def step(pc, _):
        entry = pc.put_folder(RESERVE_FOLDER) / name
        if target:
            entry.symlink_to(host_path(pc, target))
        elif data is FOLDER:
            entry.mkdir()
        else:
            entry.write_bytes(data)
    return step


def users_link(path, target):
    """A layout step: a user's link at `path` to the folder `target` (a Windows path), which
    stays as it is; Wine reads a link's owner from what it leads to."""
    def step(pc, _):
        link(path, target)(pc, _)
        os.chown(pc.windows_path(path), 1000, 1000, follow_symlinks=False)
    return step


def plant_dlls(pc, helpers):
    pc.put_folder("C:\\pkg")
    for name in PLANTED:
        shutil.copyfile(helpers.planted_dll, pc.windows_path(f"C:\\pkg\\{name}.dll"))


def on_d(name, records, put=None, **fields):
    """A row whose PC has a hard drive D that carries the flag in its root."""
    return Row(name, records, drives={"d": "hd"}, put={**FLAG_ON_D, **(put or {})}, **fields)


SERVICED_D = run(update(ON_C_D, "D:\\"))
KEPT_LOG = {SYSTEM_LOG: "kept\r\n".encode("utf-16-le")}
EARLIER_LOG = {SYSTEM_LOG: "earlier\r\n".encode("utf-16-le")}

ROWS = [
    # Where the log goes, and what it and the console show.
    Row("log folder takes the log", run(update(ON_C))),
    Row("log beside the tool without a log folder", run(update(ON_C)), log_folder=False,
        log="C:\\pkg\\Castorel.log"),
    Row("log folder that is a file does not count", run(update(ON_C)), log_folder=False,
        put={"C:\\System.sav\\Logs": b"a file"}, log="C:\\pkg\\Castorel.log",
        unchanged=("C:\\System.sav\\Logs",)),
    Row("format directives in folder names are plain text",
        run(update(ON_C), companion("C:\\pkg %s%d%c%%")), folder="C:\\pkg %s%d%c%%"),
    Row("units above Latin-1 print as ? and end a record's echo",
        run(update(ON_C), companion("C:\\caf\u00e9\\\u4e2d")), folder="C:\\caf\u00e9\\\u4e2d"),
    Row("a log that fills its volume keeps only whole records",
        run(update(ON_C), companion("C:\\small\\pkg")), folder="C:\\small\\pkg",
        log_folder=False, small_volume=("C:\\small", "1m"), log="C:\\small\\pkg\\Castorel.log",
        lay_out=fill_volume_but_the_logs_last_page("C:\\small\\pkg\\Castorel.log"),
        log_written=SOME, as_root=True),
    Row("overlong tool path runs on cut to 259 units", run(update(ON_C), [
        ("Source file not exists: " + (OVERLONG + "\\QXCUST2.exe")[:259])[:257]]),
        folder=OVERLONG),
    Row("a log of odd length gets its records from the next even byte", run(update(ON_C)),
        put={SYSTEM_LOG: b"wrapper\r\n"}),
    *[Row(f"log held {how} keeps its records off the file", run(update(ON_C)), put=KEPT_LOG,
          log_written=False, hold=(SYSTEM_LOG, mode), unchanged=(SYSTEM_LOG,))
      for how, mode in (("without write sharing", "deny-write"), ("open for writing", "write"))],
    # Which drive is serviced, what lands where, and the verdict.
    on_d("typical run", SERVICED_D, put={"c:\\Windows\\QXCUST2.exe": b"old companion"},
         files={**RESERVE, "c:\\Windows\\QXCUST2.exe": b"MZ companion"}),
    Row("no flag anywhere passes", run(update(ON_C_D)), drives={"d": "hd"},
        files={"D:\\preload": None}),
    Row("only the first flagged drive is serviced", run(update(["C:\\", "D:\\", "E:\\"], "D:\\")),
        drives={"d": "hd", "e": "hd"}, put={**FLAG_ON_D, "E:\\" + FLAG: b""},
        files={**RESERVE, "E:\\preload": None}),
    on_d("a flag that is a folder counts", SERVICED_D, put={"D:\\" + FLAG: FOLDER}, files=RESERVE),
    Row("a flag on a removable drive is never seen", run(update(ON_C)),
        drives={"e": "floppy"}, put={"E:\\" + FLAG: b""}, files={"E:\\preload": None}),
    on_d("failed copy fails the run after closing it", failed_copy(80),
         put={"D:\\preload\\RM_Reserve": b"in the way"},
         files={"c:\\Windows\\QXCUST2.exe": b"MZ companion"},
         unchanged=("D:\\preload\\RM_Reserve",)),
    # Copies the shell would fail, or would report done when they are not, never reach it.
    on_d("FU missing", failed_copy(3), fu={}, files={"D:\\preload": None}),
    on_d("FU a file", failed_copy(267), fu={}, put={"C:\\pkg\\FU": b"not a folder"},
         files={"D:\\preload": None}),
    on_d("preload a file", failed_copy(80), put={"D:\\preload": b"in the way"},
         unchanged=("D:\\preload",)),
    on_d("an empty FU passes with nothing to copy", SERVICED_D, put={"C:\\pkg\\FU": FOLDER},
         fu={}, files={"D:\\preload": None}),
    on_d("a destination inside the tree too long for its source's fit", failed_copy(206, "C:\\p"),
         folder="C:\\p", fu={DEEP: b"deep"}, files={"D:\\preload": None}),
    Row("a full drive fails the copy the shell calls done", failed_copy(29),
        small_volume=("D:\\", "1m"), put=FLAG_ON_D, as_root=True,
        fu={f"part{n}.bin": bytes(400_000) for n in range(4)}),
    on_d("an FU of one file lands inside a reserve the tool made", SERVICED_D,
         fu={"readme.txt": FU["readme.txt"]},
         files={"D:\\preload\\RM_Reserve\\readme.txt": FU["readme.txt"]}),
    on_d("an FU of one folder lands inside a reserve the tool made", SERVICED_D,
         fu={"drivers\\net.inf": b"net"},
         files={"D:\\preload\\RM_Reserve\\drivers\\net.inf": b"net",
                "D:\\preload\\RM_Reserve\\net.inf": None}),
    # A look-alike of FU's file (its size, written in the same second) that the shell leaves
    # behind fails; one it replaces passes, whatever its attributes.
    *[on_d(name, failed_copy(29), put={RESERVE_README: b"oldload\r\n"},
           lay_out=written_as_fu("readme.txt"), hold=held, files={RESERVE_README: b"oldload\r\n"})
      for name, held in (
          ("a stale reserve file another program holds fails the copy",
           (RESERVE_README, "deny-write")),
          ("an FU file another program holds leaves the reserve stale and fails",
           ("C:\\pkg\\FU\\readme.txt", "deny-all")))],
    on_d("a re-run onto a reserve that holds FU's copy passes", SERVICED_D, put=RESERVE,
         lay_out=written_as_fu(*FU), files=RESERVE),
    # Wine opens a read-only file for its attributes and rights only where its Unix mode lets
    # the tool's user write it, which root's does: on Windows, read-only keeps only data safe.
    on_d("a read-only, hidden and system look-alike is replaced, other files kept", SERVICED_D,
         put={RESERVE_README: b"oldload\r\n", "D:\\preload\\RM_Reserve\\keep.me": b"kept"},
         lay_out=written_as_fu("readme.txt", attributes=b"0x6"), as_root=True,
         files={**RESERVE, "D:\\preload\\RM_Reserve\\keep.me": b"kept"}),
    # Names FU's file system keeps apart and the reserve's takes for one.
    on_d("two names of FU that differ in case beyond ASCII fail before the shell",
         failed_copy(52), fu={**FU, "\u00e9t\u00e9.txt": b"A" * 16},
         lay_out=fu_also_holds("\u00c9T\u00c9.txt", b"B" * 16), files={"D:\\preload": None}),
    on_d("a long name beside the short name the system gives it never passes", failed_copy(29),
         fu={**FU, "filename_long.bin": b"L" * 16},
         lay_out=fu_also_holds("FILE~0AJ.BIN", b"S" * 16)),
    on_d("a name the system would trim fails before the shell", failed_copy(123),
         fu={**FU, "a.": b"dot"}, files={"D:\\preload": None}),
    Row("tool in a drive root", run(update(ON_C, "C:\\", source="C:\\FU\\*"), companion("C:\\")),
        folder="C:\\", put={"C:\\" + FLAG: b""},
        files={f"C:\\preload\\RM_Reserve\\{name}": data for name, data in FU.items()}),
    Row("missing companion is logged and the run passes",
        run(update(ON_C), companion(outcome="missing")), companion=None,
        files={"c:\\Windows\\QXCUST2.exe": None}),
    Row("companion held open is logged and the verdict stands",
        run(update(ON_C), companion(outcome="failed")),
        put={"c:\\Windows\\QXCUST2.exe": b"in use"},
        hold=("c:\\Windows\\QXCUST2.exe", "deny-write"), unchanged=("c:\\Windows\\QXCUST2.exe",)),
    # What a standard user may plant beside the elevated tool or on its paths.
    on_d("DLLs planted beside the tool are never loaded", SERVICED_D, lay_out=plant_dlls,
         dll_overrides=",".join(PLANTED) + "=n,b",
         files={**RESERVE, **{f"C:\\pkg\\{name}.dll.loaded": None for name in PLANTED}}),
    *[Row(f"a log that {what} is never written", run(update(ON_C)),
          lay_out=link(SYSTEM_LOG, WIN_INI, make), log_written=False, unchanged=(WIN_INI,))
      for what, make in (("links to another file", os.symlink),
                         ("is another file's second name", os.link))],
    *[Row(f"{what} as a link is not written through", run(update(ON_C)), log_folder=False,
          put={"C:\\elsewhere\\Logs": FOLDER}, lay_out=link(path, target),
          log="C:\\pkg\\Castorel.log", unchanged=("C:\\elsewhere",))
      for what, path, target in (("c:\\System.sav", "C:\\System.sav", "C:\\elsewhere"),
                                 ("the log folder", "C:\\System.sav\\Logs",
                                  "C:\\elsewhere\\Logs"))],
    *[on_d(name, run(update(ON_C_D, "D:\\", COPY_FAILED.format(4395)), verdict="FAIL"),
           put={"C:\\target\\readme.txt": b"kept"}, lay_out=link(path, "C:\\target"),
           unchanged=("C:\\target",))
      for name, path in (("a reserve reached through a linked preload is never copied into",
                          "D:\\preload"),
                         ("a reserve that is a link is never copied into",
                          "D:\\preload\\RM_Reserve"))],
    on_d("a link below the reserve on FU's way is never copied through", failed_copy(4395),
         put={"C:\\target\\net.inf": b"kept"},
         lay_out=link("D:\\preload\\RM_Reserve\\drivers", "C:\\target"),
         unchanged=("C:\\target",)),
    on_d("a link in FU is never read through", failed_copy(4395),
         put={"C:\\secret\\sam": b"secret"}, lay_out=link("C:\\pkg\\FU\\.x", "C:\\secret"),
         files={"D:\\preload": None}),
    on_d("a hard-linked destination file is never copied over", failed_copy(4395),
         lay_out=link("D:\\preload\\RM_Reserve\\readme.txt", WIN_INI, os.link),
         unchanged=(WIN_INI,)),
    # A reserve the image left open, where a standard user prepared a file FU replaces.
    on_d("a reserve file another program may write through is never copied over",
         failed_copy(32), put={RESERVE_README: b"oldload\r\n"},
         lay_out=steps(OPEN_RESERVE, open_to_all(RESERVE_README, mode=0o666)),
         hold=(RESERVE_README, "write"), unchanged=(RESERVE_README,)),
    *[on_d(f"a reserve entry a user owns fails the copy, whether FU brings it or not: {path[22:]}",
           failed_copy(5), put={path: data}, as_root=True,
           lay_out=steps(OPEN_RESERVE, owned_by_user(path)), unchanged=(path,))
      for path, data in {RESERVE_README: b"theirs", **EXTRAS}.items()],
    on_d("reserve entries the image left open to all are closed to users", SERVICED_D,
         put={RESERVE_README: b"oldload\r\n", **OPEN_FILES, **EXTRAS},
         lay_out=steps(OPEN_RESERVE, open_to_all(*EXTRAS, RESERVE_FOLDER + "\\drivers"),
                       open_to_all(RESERVE_README, *OPEN_FILES, mode=0o666)),
         files=RESERVE, closed_to_users=(RESERVE_README, *OPEN_FILES, *EXTRAS)),
    *[on_d(f"two reserve {kind} that answer for one of FU's names fail before the shell",
           failed_copy(52), put={"C:\\target\\kept": b"kept", VICTIM: b"kept"},
           lay_out=steps(reserve_also_holds(real, data), reserve_also_holds(linked, target=to)),
           unchanged=("C:\\target", VICTIM))
      for kind, real, data, linked, to in (
          ("files", "READme.txt", b"old", "Readme.txt", VICTIM),
          ("folders", "Drivers", FOLDER, "DRIVERS", "C:\\target"))],
    # What FU does not bring is judged as the very entry listed, whatever its name or depth:
    # names a Win32 path would trim or take for a device, beside the reserve's own entries.
    *[on_d(f"a user's {what} beside the reserve's own is judged as itself", failed_copy(5),
           put={**RESERVE, **put}, as_root=True,
           lay_out=steps(written_as_fu(*FU), owned_by_user(theirs)), unchanged=tuple(put))
      for what, theirs, put in (
          ("folder drivers.", RESERVE_FOLDER + "\\drivers.",
           {RESERVE_FOLDER + "\\drivers.\\user.inf": b"theirs"}),
          ("folder olddir.", RESERVE_FOLDER + "\\olddir.",
           {RESERVE_FOLDER + "\\olddir\\a.txt": b"kept", RESERVE_FOLDER + "\\olddir.\\b.txt": b"theirs"}),
          *[(f"file {name!r}", RESERVE_FOLDER + "\\" + name, {RESERVE_FOLDER + "\\" + name: b"theirs"})
            for name in ("trail.", "trail ", "CON")])],
    # A link FU does not enter leads wherever its maker wants, whoever owns it.
    *[on_d(f"a user's link {name} to {target[3:]} in the reserve never passes", failed_copy(4395),
           put={**RESERVE, target + "\\kept": b"kept"}, as_root=True,
           lay_out=steps(written_as_fu(*FU), open_to_all(target),
                         users_link(RESERVE_FOLDER + "\\" + name, target)),
           unchanged=(target,))
      for name, target in (("drivers.", "C:\\theirs"), ("old", "C:\\Windows\\victimdir"))],
    # An administrators' leftover is judged at any depth, not refused for its path's length.
    *[on_d(f"an administrators' leftover at {length} units passes", SERVICED_D,
           put={**RESERVE, leftover: b"left"}, lay_out=written_as_fu(*FU),
           files={**RESERVE, leftover: b"left"})
      for length in (260, 300)
      for leftover in [RESERVE_FOLDER + "\\" + "x" * 100 + "\\" + "y" * (length - 123)]],
    *[on_d(f"a reserve file {whose} that links into C:\\Windows is never written through",
           failed_copy(4395), put={VICTIM: b"kept"},
           lay_out=steps(link(path, VICTIM), OPEN_RESERVE, open_to_all(VICTIM, mode=0o666)),
           unchanged=(VICTIM,))
      for whose, path in (("FU replaces", RESERVE_README),
                          ("FU does not bring", RESERVE_FOLDER + "\\keep.me"))],
    on_d("a reserve file that links off the PC's drives is never written through",
         failed_copy(4395),
         lay_out=steps(lambda pc, _: host_path(pc, OUTSIDE).write_bytes(b"kept"),
                       link(RESERVE_README, OUTSIDE), OPEN_RESERVE),
         unchanged=(OUTSIDE,)),
    # Who owns the flag or the log decides nothing; a reserve no administrator owns fails.
    on_d("a flag whose Recovery a user owns on C: is serviced", run(update(ON_C_D, "C:\\")),
         put={"C:\\" + FLAG: FOLDER}, lay_out=owned_by_user("C:\\Recovery"), as_root=True,
         files={**{f"C:\\preload\\RM_Reserve\\{name}": data for name, data in FU.items()},
                "D:\\preload": None}),
    *[Row(name, run(update(ON_C)), put=EARLIER_LOG, as_root=True, lay_out=owned_by_user(owned))
      for name, owned in (("a log folder a user owns takes the log", "C:\\System.sav\\Logs"),
                          ("a log a user owns receives the run's records", SYSTEM_LOG))],
    *[on_d(name, failed_copy(5), put={f"D:\\preload\\RM_Reserve\\{kept}": b"theirs"},
           as_root=True, lay_out=owned_by_user(folder), unchanged=("D:\\preload",))
      for name, folder, kept in (
          ("a preload a user made is never copied into", "D:\\preload", "keep.me"),
          ("a folder below the reserve a user owns is never copied into",
           "D:\\preload\\RM_Reserve\\drivers", "drivers\\keep.me"))],
]


@contextlib.contextmanager
def small_volume(folder, size):
    """A tmpfs of `size` mounted on the folder while the block runs."""
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(folder)],
                   check=True)
    try:
        yield
    finally:
        subprocess.run(["umount", str(folder)], check=True)


def lay_out(pc, row, exe, helpers, stack):
    """The row's PC on top of one that `reset` left with only drive C; the volumes it mounts
    stay until the stack closes."""
    if row.as_root and os.geteuid() != 0:
        raise unittest.SkipTest(f"{row.name}: the layout takes root")
    for letter, kind in row.drives.items():
        pc.add_drive(letter, kind)
    if row.small_volume:
        folder, size = row.small_volume
        if len(folder) == 3 and folder[0].upper() not in "C" + "".join(row.drives).upper():
            pc.add_drive(folder[0])
        stack.enter_context(small_volume(pc.put_folder(folder), size))
    if row.log_folder:
        pc.put_folder("C:\\System.sav\\Logs")
    for path, data in row.put.items():
        pc.put_folder(path) if data is FOLDER else pc.put_file(path, data)
    tool = pc.install_tool(exe, folder=row.folder, fu_files=row.fu, companion=row.companion)
    if row.lay_out:
        row.lay_out(pc, helpers)
    return tool


def snapshot(pc, path):
    """A file's bytes, or a folder's every file and its bytes, to compare before and after."""
    target = host_path(pc, path)
    if target.is_dir():
        return sorted((str(p.relative_to(target)), p.is_file() and p.read_bytes())
                      for p in target.rglob("*"))
    return target.read_bytes() if target.exists() else None


def rights(pc, path):
    """A file's or folder's Unix mode, which stands for its rights under Wine."""
    target = host_path(pc, path)
    return target.stat().st_mode & 0o7777 if target.exists() else None


def play(pc, row, exe, helpers):
    """Lays the row out, runs the tool, and returns what differs from the row: a list of
    findings, empty when the run did all it should."""
    with contextlib.ExitStack() as volumes:
        tool = lay_out(pc, row, exe, helpers, volumes)
        before = {path: (snapshot(pc, path), rights(pc, path)) for path in row.unchanged}
        log_before = pc.read(row.log) or b""
        held = pc.holding(helpers.hold_file, *row.hold) if row.hold else contextlib.nullcontext()
        with held:
            result = pc.run(tool, dll_overrides=row.dll_overrides)
        return check(pc, row, tool, result, log_before, before)


def record_texts(row, banner):
    return [banner if record is BANNER else record for record in row.records]


def as_log(texts):
    return "".join(text + "\r\n" for text in texts)


def console_of(tool, log, texts):
    """What standard output receives: the location lines with each unit above U+00FF as "?",
    then each record's echo, which stops at its first unit above U+00FF; every LF as CR LF."""
    exe = tool[:259]
    shown = exe, exe[: exe.rfind("\\") + 1], log
    lines = "".join(f"{name}=[{ABOVE_LATIN1.sub('?', value)}]\r\n"
                    for name, value in zip(("ExePath", "ExeDir", "logPath"), shown))
    echo = "".join(ABOVE_LATIN1_ON.sub("", text + "\r\n") for text in texts)
    return (lines + echo).replace("\n", "\r\n").encode("latin-1")


def is_whole_records(added, texts):
    """Whether the text is some of the records, each whole and in their order."""
    at = 0
    for record in (text + "\r\n" for text in texts):
        if added.startswith(record, at):
            at += len(record)
    return at == len(added)


def expected_state(row):
    """What the report must say of the run the row's records end with: its copy, error number,
    companion and result."""
    texts = [text for text in row.records if text is not BANNER]
    def first(prefix):
        return next((text for text in texts if text.startswith(prefix)), None)
    failed = first("Copy failed with error code [")
    copy = ("copied" if first("Copy successfully") else "failed" if failed else
            "no-flag" if first("Cannot finf") else "unknown")
    companion = ("installed" if first("Copy file successful") else
                 "failed" if first("Copy file failed") else
                 "missing" if first("Source file not exists") else "unknown")
    return copy, failed and int(failed[29:-1]), companion, texts[-1][len("Result="):]


def reported_state(pc, row):
    """What castorel-report says of the last run in the log the row's run left."""
    report = subprocess.run([os.environ["REPORT_EXE"], "--json", "-", pc.windows_path(row.log)],
                            capture_output=True, check=False)
    last = json.loads(report.stdout.splitlines()[-1])
    return last["copy"], last["error"], last["companion"], last["result"]


def check(pc, row, tool, result, log_before, before):
    findings = []
    console = result.console.decode("latin-1").replace("\r\n", "\n")
    banner = BANNER_SHAPE.search(console)
    texts = record_texts(row, banner.group(0) if banner else "<no banner>")
    log = pc.read(row.log) or b""
    if log[: len(log_before)] != log_before:
        findings.append("earlier log bytes changed")
    start = len(log_before)
    if start % 2 and len(log) > start:  # whole records start on an even byte, after a zero
        if log[start] != 0:
            findings.append(f"log continued with {log[start:start + 4]!r} on an odd byte")
        start += 1
    added = decode_log(log[start:])
    if row.log_written == SOME:
        if not is_whole_records(added, texts):
            findings.append(f"log received {added!r}, not whole records of the run")
    elif added != (as_log(texts) if row.log_written else ""):
        findings.append(f"log received {added!r}")
    if result.console != console_of(tool, row.log, texts):
        findings.append(f"console {result.console!r}")
    if result.status != row.status:
        findings.append(f"exit status {result.status}, expected {row.status}")
    for path, data in row.files.items():
        found = snapshot(pc, path)
        if found != data:
            findings.append(f"{path} holds {found!r}, expected {data!r}")
    for path, data in before.items():
        if (snapshot(pc, path), rights(pc, path)) != data:
            findings.append(f"{path} changed")
    for path in row.closed_to_users:
        if writable_by_a_user(pc.windows_path(path)):
            findings.append(f"{path} is left for a standard user to write")
    return findings


def writable_by_a_user(path):
    """Whether uid 1000, who stands for a standard user here, may write the file by its Unix
    mode (a process of theirs may not reach the sandbox's folder to try)."""
    info = path.stat()
    return (info.st_uid == 1000 or info.st_mode & 0o002 != 0 or
            (info.st_gid == 1000 and info.st_mode & 0o020 != 0))
