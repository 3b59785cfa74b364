"""The release kit: two kits of one commit are the same to the byte; signed with a throwaway
certificate it verifies, a flipped byte does not, signing changes nothing but the certificate
table, and the signed tool still does its job. Its operator's guide names every text the tool
can print or log."""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

from scenarios import ROWS, Helpers, SandboxPc, play

ROOT = Path(__file__).resolve().parents[2]
KIT = "dist/Castorel-1.0.0.1"
PASSWORD = "throwaway-pass-7f3a"


def run(command, cwd, check=True):
    return subprocess.run(command, cwd=cwd, check=check, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


def committed_copy_of_work_tree(repo):
    """The work tree as it is now, committed in a repository of its own: the kit is built from
    exactly what is under test, committed or not, even from a copy that is no repository."""
    shutil.copytree(ROOT, repo, ignore=shutil.ignore_patterns(".git", "build", "dist",
                                                              "__pycache__"))
    run(["git", "init", "-q"], repo)
    run(["git", "add", "-A"], repo)
    run(["git", "-c", "user.name=kit", "-c", "user.email=kit@test", "commit", "-qm", "kit"], repo)


def make_throwaway_signer(folder):
    """A CA and a code-signing certificate issued by it, as a PKCS#12 file with a password."""
    def openssl(*args):
        run(["openssl", *args], folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Throwaway Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Throwaway Code Signer")
    (folder / "signer.ext").write_text("basicConstraints=CA:FALSE\n"
                                       "keyUsage=critical,digitalSignature\n"
                                       "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "signer.pem", "-days", "2", "-extfile", "signer.ext")
    (folder / "password").write_text(PASSWORD)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile",
            "ca.pem", "-out", "signer.pfx", "-passout", "file:password")


def signature_fields(data):
    """Offsets of the PE checksum and of the certificate table's directory entry, and where the
    table itself begins (the file's end when there is none)."""
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    directory = optional + (144 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 128)
    table, size = struct.unpack_from("<II", data, directory)
    return optional + 64, directory, table if size else len(data)


def authenticode_digest(data):
    checksum, directory, table = signature_fields(data)
    return hashlib.sha256(data[:checksum] + data[checksum + 4:directory]
                          + data[directory + 8:table]).hexdigest()


class ReleaseKitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(dir=Path(os.environ["SANDBOX_ROOT"]).parent))
        cls.repo = cls.scratch / "repo"
        committed_copy_of_work_tree(cls.repo)
        for kit in ("first", "second"):
            run(["scripts/release.sh"], cls.repo)
            shutil.copytree(cls.repo / "dist", cls.scratch / kit)
        make_throwaway_signer(cls.scratch)
        cls.signing = run(["scripts/release.sh", "--sign", str(cls.scratch / "signer.pfx"),
                           "--password-file", str(cls.scratch / "password")], cls.repo)
        cls.signed = cls.repo / KIT

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def verify(self, exe):
        return run(["osslsigncode", "verify", "-CAfile", str(self.scratch / "ca.pem"), "-in",
                    str(exe)], self.scratch, check=False).returncode

    def test_two_unsigned_kits_of_one_commit_are_byte_identical(self):
        first, second = self.scratch / "first", self.scratch / "second"
        files = sorted(p.relative_to(first) for p in first.rglob("*") if p.is_file())
        self.assertEqual(files, sorted(p.relative_to(second) for p in second.rglob("*")
                                       if p.is_file()))
        self.assertIn(Path("Castorel-1.0.0.1.zip"), files)
        for name in files:
            self.assertEqual((first / name).read_bytes(), (second / name).read_bytes(), name)

    def test_kit_holds_the_tool_its_guide_and_their_checksums(self):
        kit = self.scratch / "first" / "Castorel-1.0.0.1"
        sums = (kit / "SHA256SUMS").read_text().splitlines()
        self.assertEqual(sums, [f"{hashlib.sha256((kit / n).read_bytes()).hexdigest()}  {n}"
                                for n in ("Castorel.exe", "OPERATOR.txt")])
        guide = (kit / "OPERATOR.txt").read_bytes()
        self.assertEqual(guide.count(b"\n"), guide.count(b"\r\n"), "CR LF throughout")
        self.assertIn(b"is NOT signed", guide)
        self.assertIn(b"carries an Authenticode SHA-256 signature",
                      (self.signed / "OPERATOR.txt").read_bytes())

    def test_signed_kit_verifies_and_one_flipped_byte_fails_it(self):
        exe = self.signed / "Castorel.exe"
        self.assertEqual(self.verify(exe), 0)
        flipped = bytearray(exe.read_bytes())
        flipped[0x1000] ^= 0x01
        (self.scratch / "flipped.exe").write_bytes(flipped)
        self.assertNotEqual(self.verify(self.scratch / "flipped.exe"), 0)
        self.assertNotIn(PASSWORD, self.signing.stdout + self.signing.stderr)

    def test_signing_changes_nothing_but_the_certificate_table(self):
        unsigned = (self.scratch / "first" / "Castorel-1.0.0.1" / "Castorel.exe").read_bytes()
        signed = (self.signed / "Castorel.exe").read_bytes()
        self.assertEqual(authenticode_digest(signed), authenticode_digest(unsigned))
        checksum, directory, table = signature_fields(signed)
        self.assertEqual(table, len(unsigned))
        changed = {i for i in range(len(unsigned)) if signed[i] != unsigned[i]}
        self.assertLessEqual(changed, set(range(checksum, checksum + 4))
                             | set(range(directory, directory + 8)))

    def test_signed_tool_does_the_typical_job(self):
        typical = next(row for row in ROWS if row.name == "typical run")
        pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure().reset()
        self.assertEqual(play(pc, typical, self.signed / "Castorel.exe", Helpers()), [])

    def test_a_work_tree_with_uncommitted_changes_is_refused(self):
        readme = self.repo / "README.md"
        original = readme.read_bytes()
        readme.write_bytes(original + b"\nchanged\n")
        try:
            refused = run(["scripts/release.sh"], self.repo, check=False)
        finally:
            readme.write_bytes(original)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("uncommitted changes", refused.stderr)


class OperatorGuideTest(unittest.TestCase):
    def test_guide_names_every_text_and_error_number_the_tool_can_show(self):
        guide = (ROOT / "docs" / "OPERATOR.txt").read_text()
        literals = re.compile(r'(?:u"((?:[^"\\]|\\.)*)"\s*)+')
        for source in sorted(p for p in (ROOT / "src").rglob("*") if p.suffix in (".cpp", ".h")):
            code = source.read_text()
            for run_of_literals in literals.finditer(code):
                text = "".join(re.findall(r'u"((?:[^"\\]|\\.)*)"', run_of_literals.group(0)))
                if not text.endswith("\\r\\n"):
                    continue
                shown = text.replace("\\r\\n", "").replace("\\n", "").replace("\\\\", "\\")
                # %s and %d stand for whatever the guide shows there.
                pattern = r"\S+".join(re.escape(part) for part in re.split(r"%[sd]", shown))
                self.assertTrue(re.search(pattern, guide), f"{source.name}: {shown!r} missing")
            for number in re.findall(r"constexpr int kError\w+ = (\d+);", code):
                self.assertIn(f"\n  {number} ", guide, f"{source.name}: error {number} missing")


if __name__ == "__main__":
    unittest.main()
