#!/usr/bin/env python3
"""Builds the release kit of the current commit from a clean checkout of it:
dist/Castorel-VERSION/ with Castorel.exe, castorel-report.exe, OPERATOR.txt and SHA256SUMS, and
beside it
dist/Castorel-VERSION.zip. Refuses a work tree with uncommitted changes.

Usage: release.py [--sign CERT.pfx --password-file FILE] [--timestamp URL]

With a certificate, both programs get an Authenticode SHA-256 signature (osslsigncode); the
password is read from its file by osslsigncode itself, never passed on a command line. Unsigned
kits of one commit are byte-identical: file times are the commit's, entries sorted, modes fixed."""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
PROGRAMS = ("Castorel.exe", "castorel-report.exe")
UNSIGNED_NOTE = ("This kit's Castorel.exe and castorel-report.exe are NOT signed: Windows names "
                 "no verified publisher for them.")
SIGNED_NOTE = ("This kit's Castorel.exe and castorel-report.exe carry an Authenticode SHA-256 "
               "signature: check in each one's Properties, Digital Signatures, that it names "
               "your company.")


def git(*args, cwd=ROOT):
    return subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True,
                          text=True).stdout.strip()


def fail(message):
    print(f"release: {message}", file=sys.stderr)
    sys.exit(1)


def project_version():
    match = re.search(r"project\(Castorel VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    return match.group(1)


def build_from_clean_checkout(commit, scratch):
    """Both programs built from a fresh clone of the commit, so nothing uncommitted gets in."""
    source = scratch / "source"
    subprocess.run(["git", "clone", "-q", "--no-hardlinks", str(ROOT), str(source)], check=True)
    subprocess.run(["git", "checkout", "-q", "--detach", commit], cwd=source, check=True)
    quiet = {"stdout": subprocess.DEVNULL, "check": True}
    subprocess.run(["cmake", "--preset", "windows"], cwd=source, **quiet)
    subprocess.run(["cmake", "--build", "--preset", "windows", "--target", "Castorel",
                    "castorel-report"], cwd=source, **quiet)
    return [source / "build" / "windows" / name for name in PROGRAMS]


def sign(exe, options):
    signed = exe.with_name("signed.exe")
    command = ["osslsigncode", "sign", "-pkcs12", options.sign, "-readpass",
               options.password_file, "-h", "sha256", "-n", "Castorel"]
    if options.timestamp:
        command += ["-ts", options.timestamp]
    result = subprocess.run(command + ["-in", str(exe), "-out", str(signed)],
                            capture_output=True, text=True)
    if result.returncode != 0:
        fail(f"signing failed (osslsigncode exit {result.returncode}); check the certificate, "
             "its password file and, with --timestamp, the time-stamp server")
    signed.replace(exe)


def operator_guide(signed):
    text = (ROOT / "docs" / "OPERATOR.txt").read_text(encoding="utf-8")
    text = text.replace("@SIGNATURE@", SIGNED_NOTE if signed else UNSIGNED_NOTE)
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def checksums(kit, names):
    lines = [f"{hashlib.sha256((kit / name).read_bytes()).hexdigest()}  {name}\n"
             for name in names]
    return "".join(lines).encode("ascii")


def write_zip(kit, names, stamp):
    """Sorted entries, the commit's time, fixed modes and host: the same bytes every time."""
    date_time = time.gmtime(stamp)[:6]
    archive = kit.with_name(kit.name + ".zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as zipped:
        for name in [""] + names:
            entry = zipfile.ZipInfo(f"{kit.name}/{name}", date_time)
            entry.create_system = 3
            entry.external_attr = (0o40755 << 16 | 0x10) if not name else (0o100644 << 16)
            data = b"" if not name else (kit / name).read_bytes()
            zipped.writestr(entry, data, zipfile.ZIP_STORED if not name else zipfile.ZIP_DEFLATED)
    return archive


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sign", metavar="CERT.pfx", help="PKCS#12 code-signing certificate")
    parser.add_argument("--password-file", metavar="FILE", help="file holding its password")
    parser.add_argument("--timestamp", metavar="URL", help="RFC 3161 time-stamp server")
    options = parser.parse_args()
    if bool(options.sign) != bool(options.password_file):
        parser.error("--sign and --password-file go together")
    if options.timestamp and not options.sign:
        parser.error("--timestamp needs --sign")

    if git("status", "--porcelain"):
        fail("the work tree has uncommitted changes; commit or stash them first")
    commit = git("rev-parse", "HEAD")
    stamp = int(git("log", "-1", "--format=%ct", commit))
    version = project_version()

    dist = ROOT / "dist"
    kit = dist / f"Castorel-{version}"
    shutil.rmtree(kit, ignore_errors=True)
    kit.with_name(kit.name + ".zip").unlink(missing_ok=True)
    kit.mkdir(parents=True)
    with tempfile.TemporaryDirectory() as scratch:
        for exe in build_from_clean_checkout(commit, Path(scratch)):
            if options.sign:
                sign(exe, options)
            shutil.copyfile(exe, kit / exe.name)
    (kit / "OPERATOR.txt").write_bytes(operator_guide(bool(options.sign)))
    names = [*PROGRAMS, "OPERATOR.txt"]
    (kit / "SHA256SUMS").write_bytes(checksums(kit, names))
    names.append("SHA256SUMS")
    for name in names:
        os.chmod(kit / name, 0o644)
        os.utime(kit / name, (stamp, stamp))
    archive = write_zip(kit, names, stamp)

    print(f"Castorel {version} from commit {commit[:12]}: "
          f"{'signed' if options.sign else 'unsigned'}"
          f"{' and time-stamped' if options.timestamp else ''}")
    print(f"  {kit.relative_to(ROOT)}/  ({', '.join(names)})")
    print(f"  {archive.relative_to(ROOT)}  sha256 {hashlib.sha256(archive.read_bytes()).hexdigest()}")


if __name__ == "__main__":
    main()
