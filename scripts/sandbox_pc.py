#!/usr/bin/env python3
"""A small Windows PC under Wine for running Castorel.exe: one Wine prefix of its own (never the
user's), fixed drive C with nothing else mapped, further drives as plain folders, and helpers to
lay out files, run a program with its console captured from a pipe, and read files back.

Used by the README's run command, the end-to-end tests and the benchmark. As a command,
`sandbox_pc.py --root DIR exec PROGRAM.exe [ARGS]` runs a Windows program in the sandbox's
drive C (the unit tests of the Windows build run that way)."""
import argparse
import contextlib
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

# Debian's wine64 package (installed by scripts/setup.sh) keeps its programs out of PATH.
WINE_PACKAGE_FOLDER = Path("/usr/lib/wine")


def wine_program(name):
    """A Wine program from PATH, else from the wine64 package's own folder."""
    found = shutil.which(name) or shutil.which(name, path=str(WINE_PACKAGE_FOLDER))
    if found is None:
        raise FileNotFoundError(f"{name} not found on PATH or in {WINE_PACKAGE_FOLDER}: "
                                "run scripts/setup.sh, which installs Debian's wine64")
    return found


WINE = wine_program("wine64")
WINESERVER = wine_program("wineserver64")
# What a new prefix has on drive C; everything else there belongs to a scenario.
WINE_OWN_FOLDERS = {"windows", "users", "programdata", "program files", "program files (x86)"}
# Written last into a prefix that is complete; a prefix without it is made afresh.
COMPLETE_MARK = "castorel-sandbox-complete"


class StrayDriveError(RuntimeError):
    """The PC maps a drive it did not make itself; nothing may run in it."""


class RunResult:
    def __init__(self, console, status):
        self.console = console  # the bytes the program wrote to standard output
        self.status = status  # its exit status

    def __repr__(self):
        return f"RunResult(status={self.status}, console={self.console!r})"


class SandboxPc:
    def __init__(self, root):
        self.root = Path(root).resolve()
        self.prefix = self.root / "prefix"
        self.drive_folders = self.root / "drives"
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": "-all",
            "WINESERVER": WINESERVER,  # the loader starts the same server the helpers stop
            # No desktop menus, no crash debugger waiting for an answer.
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;winedbg.exe=d",
        })
        self.env.pop("DISPLAY", None)

    # --- the machine ---

    def ensure(self):
        """Makes the prefix once, all or nothing; later calls (and other processes) reuse it."""
        self.root.mkdir(parents=True, exist_ok=True)
        with open(self.root / ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not (self.prefix / COMPLETE_MARK).exists():
                self._make_prefix()
        return self

    def _make_prefix(self):
        """Builds the prefix in a scratch folder and moves it into place only when complete, so
        an interrupted or failed making never leaves a PC that a later call would use."""
        remove(self.prefix)
        for leftover in self.root.glob("prefix.making-*"):
            remove(leftover)
        scratch = Path(tempfile.mkdtemp(prefix="prefix.making-", dir=self.root))
        env = dict(self.env, WINEPREFIX=str(scratch))
        self._quiet([WINE, "wineboot", "--init"], env=env)
        self._quiet([WINESERVER, "-w"], env=env)
        for device in (scratch / "dosdevices").iterdir():
            if is_drive_mapping(device) and device.name != "c:":
                device.unlink()
        (scratch / COMPLETE_MARK).touch()
        scratch.rename(self.prefix)

    def check_drives(self):
        """Refuses a PC that maps any drive but C: and those added here, above all one that
        points into the host's own folders: a program run there could reach them."""
        for device in (self.prefix / "dosdevices").iterdir():
            if not is_drive_mapping(device):
                continue
            own = self.c if device.name == "c:" else self.drive_folders / device.name[0]
            target = device.resolve()
            if target == own.resolve():
                continue
            raise StrayDriveError(
                f"the sandbox PC in {self.root} maps drive {device.name.upper()} to {target}, "
                f"which it did not make; nothing was run. Remove {device} (or the whole folder "
                f"{self.root}, which is made afresh) and try again.")

    @property
    def c(self):
        return self.prefix / "drive_c"

    def reset(self):
        """Back to a PC with only drive C and nothing of Castorel's on it."""
        for entry in self.c.iterdir():
            if entry.name.lower() not in WINE_OWN_FOLDERS:
                remove(entry)
        remove(self.windows_path("c:\\Windows\\QXCUST2.exe"))
        kinds_changed = False
        for device in (self.prefix / "dosdevices").iterdir():
            if is_drive_mapping(device) and device.name != "c:":
                device.unlink()
                kinds_changed |= self._drive_kind(device.name[0]) != "hd"
        if kinds_changed:
            for letter in "abdefghijklmnopqrstuvwxyz":
                self._forget_drive_kind(letter)
            self.stop()
        shutil.rmtree(self.drive_folders, ignore_errors=True)
        return self

    def add_drive(self, letter, kind="hd"):
        """Maps a fresh folder as drive `letter` of the given kind; returns the folder."""
        letter = letter.lower()
        folder = self.drive_folders / letter
        folder.mkdir(parents=True, exist_ok=True)
        (self.prefix / "dosdevices" / f"{letter}:").symlink_to(folder)
        if kind != "hd":
            # Wine reads drive kinds when its services start, so the server is stopped.
            self.wine(["reg", "add", r"HKLM\Software\Wine\Drives", "/v", f"{letter}:", "/d",
                       kind, "/f"])
            (self.root / "kinds").mkdir(exist_ok=True)
            (self.root / "kinds" / letter).write_text(kind)
            self.stop()
        return folder

    def stop(self):
        """Ends the Wine server and everything it runs; the next program starts them afresh."""
        self._quiet([WINESERVER, "-k"], check=False)
        self._quiet([WINESERVER, "-w"], check=False)

    def windows_path(self, path):
        """The Linux path of a Windows path such as C:\\pkg\\FU on this PC."""
        drive, _, rest = path.partition(":")
        base = self.c if drive.lower() == "c" else self.drive_folders / drive.lower()
        parts = [p for p in rest.split("\\") if p]
        return resolve_case(base, parts)

    # --- laying out files ---

    def put_file(self, path, data=b""):
        target = self.windows_path(path)
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        return target

    def put_folder(self, path):
        target = self.windows_path(path)
        target.mkdir(parents=True, exist_ok=True)
        return target

    def install_tool(self, exe, folder="C:\\pkg", fu_files=None, companion=b"MZ companion"):
        """Puts Castorel.exe into a folder with an FU tree ({relative path: bytes}) and, unless
        companion is None, a QXCUST2.exe beside it. Returns the tool's Windows path."""
        tool = folder.rstrip("\\") + "\\Castorel.exe"
        self.put_folder(folder)
        shutil.copyfile(exe, self.windows_path(tool))
        for relative, data in (fu_files or {}).items():
            self.put_file(folder.rstrip("\\") + "\\FU\\" + relative, data)
        if companion is not None:
            self.put_file(folder.rstrip("\\") + "\\QXCUST2.exe", companion)
        return tool

    def read(self, path):
        target = self.windows_path(path)
        return target.read_bytes() if target.is_file() else None

    # --- running programs ---

    def warm(self):
        """Starts the server and its services with their output elsewhere: a service started by
        a program whose output is a pipe would hold that pipe open, and its reader would hang."""
        self.check_drives()
        started = self._quiet([WINESERVER, "-p15"], check=False) == 0
        if started:
            self._quiet([WINE, "cmd.exe", "/c", "exit"], check=False)

    def run(self, program, timeout=300, dll_overrides=""):
        """Runs a Windows program by its Windows path; returns its console and exit status.
        dll_overrides adds to WINEDLLOVERRIDES for this run, such as "shell32=n,b"."""
        self.warm()
        env = dict(self.env)
        if dll_overrides:
            env["WINEDLLOVERRIDES"] += ";" + dll_overrides
        completed = subprocess.run([WINE, str(self.windows_path(program))], env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        return RunResult(completed.stdout, completed.returncode)

    def start(self, program, args=(), **popen):
        """Starts a Windows program and leaves it running."""
        self.warm()
        return subprocess.Popen([WINE, str(self.windows_path(program)), *args], env=self.env,
                                **popen)

    def wine(self, args, check=True):
        self.warm()
        return self._quiet([WINE, *args], check=check)

    @contextlib.contextmanager
    def holding(self, helper_exe, path, mode):
        """Keeps `path` open in another Windows process while the block runs: mode "deny-write"
        opens it for reading and lets nobody write; "write" opens it for writing."""
        helper = "C:\\tools\\hold_file.exe"
        self.put_folder("C:\\tools")
        shutil.copyfile(helper_exe, self.windows_path(helper))
        holder = self.start(helper, [path, mode], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
        try:
            line = holder.stdout.readline()
            if not line.startswith(b"held"):
                raise RuntimeError(f"could not hold {path}: {line!r}")
            yield
        finally:
            holder.stdin.close()
            holder.wait(timeout=30)
            holder.stdout.close()

    def _drive_kind(self, letter):
        marker = self.root / "kinds" / letter
        return marker.read_text() if marker.exists() else "hd"

    def _forget_drive_kind(self, letter):
        marker = self.root / "kinds" / letter
        if marker.exists():
            self.wine(["reg", "delete", r"HKLM\Software\Wine\Drives", "/v", f"{letter}:", "/f"],
                      check=False)
            marker.unlink()

    def _quiet(self, command, check=True, env=None):
        result = subprocess.run(command, env=env or self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        if check and result.returncode != 0:
            raise RuntimeError(f"{command} failed with {result.returncode}")
        return result.returncode


def is_drive_mapping(device):
    """Whether a dosdevices entry maps a drive letter ("d:"), not a raw device ("d::", "com1")."""
    return len(device.name) == 2 and device.name[1] == ":"


def remove(path):
    if path.is_symlink() or path.is_file():
        path.unlink()
    elif path.is_dir():
        shutil.rmtree(path)


def resolve_case(base, parts):
    """Joins Windows path parts onto a Linux folder, matching existing names without regard to
    case, as Windows would."""
    current = base
    for part in parts:
        match = None
        if current.is_dir():
            lower = part.lower()
            match = next((entry for entry in current.iterdir() if entry.name.lower() == lower), None)
        current = match if match is not None else current / part
    return current


def decode_log(data):
    return data.decode("utf-16-le") if data else ""


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True, help="folder holding the sandbox PC")
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser("exec", help="run a Windows program from drive C of the sandbox")
    run.add_argument("program")
    run.add_argument("args", nargs=argparse.REMAINDER)
    options = parser.parse_args()

    pc = SandboxPc(options.root).ensure()
    windows_path = "C:\\tools\\" + Path(options.program).name
    pc.put_folder("C:\\tools")
    shutil.copyfile(options.program, pc.windows_path(windows_path))
    # Its own stdin, not the caller's: a CI runner may hand over a closed or odd one.
    status = pc.start(windows_path, options.args, stdin=subprocess.DEVNULL).wait()
    if status != 0:
        # A program that dies before its first line would otherwise fail without a word.
        print(f"{options.program} ended with status {status} under Wine", file=sys.stderr)
    sys.exit(status)


if __name__ == "__main__":
    main()
