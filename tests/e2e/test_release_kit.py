"""The release kit: two kits of one commit are the same to the byte; signed with a throwaway
certificate both its programs verify and a flipped byte does not."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

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
    """A code-signing certificate that is its own CA, as a PKCS#12 file with a password."""
    def openssl(*args):
        run(["openssl", *args], folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out",
            "ca.pem", "-days", "2", "-subj", "/CN=Throwaway Code Signer",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,digitalSignature,keyCertSign",
            "-addext", "extendedKeyUsage=codeSigning")
    (folder / "password").write_text(PASSWORD)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "ca.pem", "-out", "signer.pfx",
            "-passout", "file:password")


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

    def test_signed_kit_verifies_and_one_flipped_byte_fails_it(self):
        sums = (self.signed / "SHA256SUMS").read_text()
        for program in ("Castorel.exe", "castorel-report.exe"):
            self.assertEqual(self.verify(self.signed / program), 0, program)
            self.assertIn(f"  {program}\n", sums)
        exe = self.signed / "Castorel.exe"
        flipped = bytearray(exe.read_bytes())
        flipped[0x1000] ^= 0x01
        (self.scratch / "flipped.exe").write_bytes(flipped)
        self.assertNotEqual(self.verify(self.scratch / "flipped.exe"), 0)
        self.assertNotIn(PASSWORD, self.signing.stdout + self.signing.stderr)


if __name__ == "__main__":
    unittest.main()
