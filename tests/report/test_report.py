"""castorel-report on logs from the field, made by hand: what each run's row says, the CSV and
JSON read back as a spreadsheet and a log pipeline would, the summary and the exit status."""
import contextlib
import csv
import io
import json
import os
import resource
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

REPORT = os.environ["REPORT_EXE"]
BANNER = "\n\n{} {} {} {}\r\n".format("=" * 32, "03/07/18", "09:05:02", "=" * 40)
OTHER_BANNER = BANNER.replace("09:05:02", "09:06:00")
UPDATE = ["Fixed list [C:\\;D:\\;]", "First found fixed drive letter [C:\\]",
          "First found fixed drive letter [D:\\]", "Find RP flag in [D:\\]",
          "Copy [C:\\pkg\\FU\\*] to [D:\\preload\\RM_Reserve]"]
COMPANION = ["C:\\pkg\\QXCUST2.exe copy to c:\\Windows\\QXCUST2.exe",
             "Copy file successful with return code: 1"]


def records(*texts):
    return "".join(text if text.startswith("\n") else text + "\r\n" for text in texts)


def run(outcome="Copy successfully", verdict=None, banner=BANNER, closing=None):
    update = UPDATE[:1] + ["Cannot finf RP, skip FU copy"] if outcome.startswith("Cannot") \
        else UPDATE + [outcome]
    verdict = verdict or ("FAIL" if "failed" in outcome else "PASS")
    return records(banner, *update, closing or banner, *COMPANION, f"Result={verdict}")


PASSED = run()
FAILED = run("Copy failed with error code [29]")
# What reorders, hides or splits a name where a person reads it.
INVISIBLE = ("\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069\u200b\u200c\u200d\u200e"
             "\u200f\u00ad\ufeff\u3164\u2028\u2029")
FIELDS = ["log", "run", "started", "fixed_drives", "recovery_drive", "copy", "error",
          "companion", "result", "notes"]


def utf16(text):
    return text.encode("utf-16-le")


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="castorel-report-"))

    def tearDown(self):
        # Folders a test closed are opened again first: only root removes them closed.
        subprocess.run(["chmod", "-R", "u+rwX", str(self.folder)], check=True)
        subprocess.run(["rm", "-rf", str(self.folder)], check=True)

    def report(self, *args, cwd=None, stdout=subprocess.PIPE):
        """The report's run; one that would hang fails the test by its timeout instead."""
        return subprocess.run([REPORT, *map(str, args)], stdout=stdout, stderr=subprocess.PIPE,
                              check=False, cwd=cwd, timeout=60)

    def report_for_another_user(self):
        """A copy of the report in the test's folder, which another user may enter and run: the
        build tree's parents may be closed to them (a clone in a private folder)."""
        closed = [str(p) for p in self.folder.parents if p.stat().st_mode & 0o001 == 0]
        if closed:
            self.skipTest(f"other users can't enter {closed[0]}, which holds the test's folder")
        self.folder.chmod(0o755)
        copy = self.folder / "bin" / "castorel-report"
        copy.parent.mkdir()
        copy.parent.chmod(0o755)
        shutil.copy2(REPORT, copy)
        copy.chmod(0o755)
        return str(copy)

    def summary(self, *args, status):
        """The summary of a run of the report that must end with this exit status."""
        result = self.report(*args)
        summary = result.stdout.decode()
        self.assertEqual(result.returncode, status, summary)
        return summary

    def rows(self, data, name="Castorel.log"):
        """The CSV rows of one log, read back with Python's csv module."""
        path = self.folder / name
        path.write_bytes(data)
        result = self.report("--csv", "-", path)
        text = result.stdout.decode("utf-8")
        self.assertTrue(text.startswith("\ufeff"))
        return list(csv.DictReader(io.StringIO(text[1:], newline="")))

    def tables(self, csv_file, json_file):
        """The CSV's rows and the JSON's lines of one run of the report, each with every field."""
        raw = csv_file.read_bytes()
        self.assertTrue(raw.startswith(b"\xef\xbb\xbf") and raw.endswith(b"\r\n"))
        rows = list(csv.DictReader(io.StringIO(raw.decode("utf-8-sig"), newline="")))
        # NDJSON ends a line with LF alone: U+2028 in a name is text.
        lines = [json.loads(line) for line in json_file.read_text("utf-8").split("\n")[:-1]]
        self.assertTrue(all(list(entry) == FIELDS for entry in rows + lines))
        return rows, lines

    def test_each_run_of_a_field_log_is_read_with_notes_on_what_it_lacks(self):
        killed = records(BANNER, *UPDATE)
        fixed = "Fixed list [C:\\;D:\\;]\r\n"
        cut = BANNER + ("Fixed list [" + "C:\\;" * 70)[:257] + "\r\n" + \
            PASSED[len(BANNER) + len(fixed):]
        cases = [
            # name, log bytes, per run: (copy, error, result, notes)
            ("passed, then failed", utf16(PASSED + FAILED),
             [("copied", "", "PASS", ""), ("failed", "29", "FAIL", "")]),
            ("failed, then passed", utf16(FAILED + PASSED),
             [("failed", "29", "FAIL", ""), ("copied", "", "PASS", "")]),
            ("no flag", utf16(run("Cannot finf RP, skip FU copy")),
             [("no-flag", "", "PASS", "")]),
            ("killed mid-copy", utf16(PASSED + killed),
             [("copied", "", "PASS", ""), ("unknown", "", "", "no-result")]),
            ("a wrapper's odd line, then padded records",
             b"wrapper\r\n" + b"\0" + utf16(PASSED), [("copied", "", "PASS", "foreign-bytes")]),
            ("an odd line before unpadded records", b"x" + utf16(PASSED),
             [("copied", "", "PASS", "foreign-bytes")]),
            ("re-saved with a byte-order mark", b"\xff\xfe" + utf16(PASSED),
             [("copied", "", "PASS", "")]),
            ("a held log lost the copy's records",
             utf16(records(BANNER, *UPDATE[:2], BANNER, *COMPANION, "Result=PASS")),
             [("unknown", "", "PASS", "records-missing")]),
            ("the companion missing", utf16(PASSED.replace(
                "".join(c + "\r\n" for c in COMPANION), "Source file not exists: C:\\QXCUST2.exe\r\n")),
             [("copied", "", "PASS", "")]),
            ("the companion's outcome lost", utf16(PASSED.replace(COMPANION[1] + "\r\n", "")),
             [("copied", "", "PASS", "records-missing")]),
            ("a torn record is foreign", utf16(PASSED.replace("C:\\;D:\\;]", "C:\\;D")),
             [("copied", "", "PASS", "records-missing;foreign-bytes")]),
            ("banners differ", utf16(run(closing=OTHER_BANNER)),
             [("copied", "", "PASS", "banners-differ")]),
            ("success, then FAIL", utf16(run(verdict="FAIL")),
             [("copied", "", "FAIL", "result-contradicts-copy")]),
            ("a record cut at capacity", utf16(cut), [("copied", "", "PASS", "cut-record")]),
            ("two runs interleaved", utf16(records(
                BANNER, UPDATE[0], OTHER_BANNER, UPDATE[0], *UPDATE[1:], "Copy successfully",
                *UPDATE[1:], "Copy successfully", BANNER, OTHER_BANNER, *COMPANION, *COMPANION,
                "Result=PASS", "Result=PASS")),
             [("copied", "", "PASS", "overlapped"), ("copied", "", "PASS", "overlapped")]),
        ]
        for name, data, expected in cases:
            with self.subTest(name):
                rows = self.rows(data)
                self.assertEqual([(r["copy"], r["error"], r["result"], r["notes"]) for r in rows],
                                 expected)
                self.assertEqual([r["run"] for r in rows],
                                 [str(n) for n in range(1, len(expected) + 1)])
                # The banner's MM/DD/YY and time, as ISO 8601.
                self.assertEqual(rows[0]["started"], "2018-03-07T09:05:02")

    def test_a_log_cut_at_every_byte_of_its_last_record(self):
        log = utf16(FAILED + PASSED)
        last = len(utf16("Result=PASS\r\n"))
        for end in range(len(log) - last, len(log) + 1):
            rows = self.rows(log[:end])
            whole = end == len(log)
            self.assertEqual([row["result"] for row in rows], ["FAIL", "PASS" if whole else ""])
            self.assertEqual(rows[-1]["notes"], "" if whole else "no-result" if
                             end == len(log) - last else "no-result;foreign-bytes", end)

    def test_outputs_read_back_and_formulas_never_run(self):
        pc = self.folder / '=HYPERLINK("x")'
        pc.mkdir()
        injected = PASSED.replace("C:\\;D:\\;", "=1+2").replace("Find RP flag in [D:\\]",
                                                             "Find RP flag in [@SUM(A1)]")
        (pc / "Castorel.log").write_bytes(utf16(injected))
        (pc / "lone.log").write_bytes(
            PASSED.replace("C:\\;D:\\;", "\ud800;\udc00").encode("utf-16-le", "surrogatepass"))
        # A name that is no UTF-8 (a lead byte past F4) is shown with U+FFFD for each byte.
        (pc / os.fsdecode(b"\xf5\x80\x80\x80.log")).write_bytes(utf16(PASSED))
        csv_file, json_file = self.folder / "runs.csv", self.folder / "runs.jsonl"
        result = self.report("--csv", csv_file, "--json", json_file, pc.name, cwd=self.folder)
        self.assertEqual(result.returncode, 0, result.stdout)
        rows, lines = self.tables(csv_file, json_file)
        self.assertEqual((len(rows), len(lines)), (3, 3))
        injected_row = next(r for r in rows if r["log"].endswith("Castorel.log"))
        self.assertEqual(injected_row["log"][0], "'")
        self.assertEqual((injected_row["fixed_drives"], injected_row["recovery_drive"]),
                         ("'=1+2", "'@SUM(A1)"))
        self.assertEqual(next(r for r in rows if r["log"].endswith("lone.log"))["fixed_drives"],
                         "\ufffd;\ufffd")
        self.assertIn("'" + pc.name + "/\ufffd\ufffd\ufffd\ufffd.log", [r["log"] for r in rows])
        self.assertEqual((lines[0]["run"], lines[0]["error"], lines[0]["notes"]), (1, None, []))
        self.assertEqual(lines[0]["fixed_drives"], "=1+2")

    def test_bad_input_gets_a_reason_and_the_exit_status_says_what_needs_a_look(self):
        """A share may hold anything: FIFOs, devices and links to folders are left out, never
        waited for, and change no exit status; a log that can't be read as one does."""
        good = self.folder / "good"
        (good / "pc").mkdir(parents=True)
        (good / "pc" / "Castorel.log").write_bytes(utf16(PASSED))
        (good / "other.LOG").write_bytes(b"")
        os.mkfifo(good / "x.log")
        for name, device in (("zero.log", "/dev/zero"), ("random.log", "/dev/urandom")):
            os.symlink(device, good / name)
        (good / "folder").mkdir()
        os.symlink("folder", good / "folder.log")
        summary = self.summary(good, status=0)
        for reason in ("x.log: a FIFO", "zero.log: a device", "random.log: a device"):
            self.assertIn(reason + ", not a regular file", summary)
        self.assertNotIn("folder.log", summary)
        bad = self.folder / "bad"
        bad.mkdir()
        (bad / "empty.log").write_bytes(b"")
        (bad / "random.log").write_bytes(os.urandom(100_000))
        (bad / "utf8.log").write_bytes(PASSED.encode("utf-8"))
        (bad / "odd.log").write_bytes(utf16(PASSED) + b"\x00")
        os.symlink("loop.log", bad / "loop.log")
        # Named, a FIFO must be a log, and is never waited for.
        summary = self.summary(bad / "empty.log", bad / "loop.log", good / "x.log", bad, status=1)
        for told in ("empty.log: empty", "loop.log: Too many levels of symbolic links",
                     "random.log: no record of the tool's",
                     "x.log: unreadable: a FIFO, not a regular file",
                     "serviced (PASS, copied)          1"):
            self.assertIn(told, summary)
        for args in (["--frobnicate", good], [], [self.folder / "missing"]):
            result = self.report(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"castorel-report:", result.stderr)
            self.assertIn(b"Usage:", result.stderr)

    def test_jobs_is_a_decimal_count_from_1_to_256(self):
        log = self.folder / "Castorel.log"
        log.write_bytes(utf16(PASSED))
        for jobs, told in (("0x10", "not a number"), ("+8", "not a number"),
                           (" 8", "not a number"), ("abc", "not a number"), ("", "not a number"),
                           ("0", "not in range"), ("257", "not in range"),
                           ("1" + "0" * 30, "not in range")):
            with self.subTest(jobs=jobs):
                result = self.report("--jobs", jobs, log)
                self.assertEqual(result.returncode, 2)
                self.assertIn(f"--jobs: {told}".encode(), result.stderr)
        for jobs in ("1", "0256"):
            self.assertEqual(self.report("--jobs", jobs, log).returncode, 0)

    def test_an_output_that_cant_be_written_whole_is_trouble_with_its_reason(self):
        log = self.folder / "Castorel.log"
        log.write_bytes(utf16(PASSED * 5000))  # a table far larger than a pipe holds
        for args, stdout, told in ((["--csv", "/dev/full"], subprocess.PIPE, b"/dev/full"),
                                   (["--csv", "-"], "/dev/full", b"standard output"),
                                   ([], "/dev/full", b"standard output")):
            with self.subTest(args), open(stdout, "wb") if isinstance(stdout, str) else \
                    contextlib.nullcontext(stdout) as target:
                result = self.report(*args, log, stdout=target)
                self.assertEqual(result.returncode, 2)
                self.assertIn(b"can't write " + told + b": No space left on device",
                              result.stderr)
        # A reader that goes away: the report ends by SIGPIPE, or, where it is ignored, with 2.
        for ignored in (False, True):
            with self.subTest(ignored=ignored):
                report = subprocess.Popen(
                    [REPORT, "--csv", "-", str(log)], stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE,
                    preexec_fn=(lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN))
                    if ignored else None)
                report.stdout.close()
                _, error = report.communicate(timeout=60)
                self.assertEqual(report.returncode, 2 if ignored else -signal.SIGPIPE)
                if ignored:
                    self.assertIn(b"can't write standard output: Broken pipe", error)

    def test_an_output_is_replaced_only_by_a_report_written_whole(self):
        log = self.folder / "Castorel.log"
        log.write_bytes(utf16(PASSED * 40_000))
        earlier = self.folder / "fleet.csv"
        earlier.write_bytes(b"an earlier report\r\n" * 10_000)
        earlier.chmod(0o640)

        def left():
            return sorted(p.name for p in self.folder.iterdir())

        def too_little_room():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1_000_000, 1_000_000))
        result = subprocess.run([REPORT, "--csv", str(earlier), str(log)], capture_output=True,
                                preexec_fn=too_little_room, check=False, timeout=60)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"can't write " + bytes(earlier) + b": File too large", result.stderr)
        self.assertEqual(earlier.read_bytes(), b"an earlier report\r\n" * 10_000)
        self.assertEqual(left(), ["Castorel.log", "fleet.csv"])
        # Killed while it writes: what was there stays.
        report = subprocess.Popen([REPORT, "--csv", str(earlier), str(log)],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not any(p.name.endswith(".part") and p.stat().st_size > 0
                      for p in self.folder.iterdir()):
            self.assertLess(time.monotonic(), deadline, "nothing was written")
        report.kill()
        report.wait()
        self.assertEqual(earlier.read_bytes(), b"an earlier report\r\n" * 10_000)
        for part in self.folder.glob(".fleet.csv.*.part"):
            part.unlink()
        # Written whole, it takes the earlier report's place and keeps its mode.
        self.assertEqual(self.report("--csv", earlier, log).returncode, 0)
        self.assertEqual(earlier.read_bytes().count(b"\r\n"), 40_001)
        self.assertEqual(earlier.stat().st_mode & 0o777, 0o640)
        self.assertEqual(left(), ["Castorel.log", "fleet.csv"])

    def test_outputs_never_write_over_a_log_or_each_other(self):
        log = self.folder / "pc" / "Castorel.log"
        log.parent.mkdir()
        log.write_bytes(utf16(PASSED))
        os.link(log, self.folder / "second-name.csv")
        os.symlink(log, self.folder / "link.csv")
        (self.folder / "kept.csv").write_bytes(b"kept" * 500)
        os.symlink("made.json", self.folder / "dangling.csv")
        # Standard output as the shell leaves it: a file made anew, or a log appended to or
        # opened for reading and writing.
        out = self.folder / "out.txt"
        for outputs, stdout in (
                (["--csv", "out.csv", "--json", "out.csv"], None),
                (["--csv", "out.csv", "--html", "./sub/../out.csv"], None),
                (["--csv", "kept.csv", "--json", "link.csv", "--html", "kept.csv"], None),
                (["--csv", "dangling.csv", "--json", "made.json"], None),
                (["--json", "made.json", "--csv", "dangling.csv"], None),
                (["--csv", "kept.csv", "--json", "/proc/nope/x.json"], None),
                (["--csv", "-", "--json", "-"], None), (["--csv", "-", "--json", "/dev/stdout"], "wb"),
                (["--csv", "-"], "ab"), ([], "ab"), (["--json", "-"], "r+b"),
                (["--csv", log], None), (["--json", "second-name.csv"], None),
                (["--html", "link.csv"], None)):
            with self.subTest(outputs, stdout=stdout):
                with open(out if stdout == "wb" else log, stdout or "rb") as standard:
                    result = self.report(*outputs, "pc", cwd=self.folder,
                                         stdout=standard if stdout else subprocess.PIPE)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"Usage:", result.stderr)
                self.assertEqual(log.read_bytes(), utf16(PASSED))
                self.assertEqual((self.folder / "kept.csv").read_bytes(), b"kept" * 500)
                left = {p.name for p in self.folder.iterdir()} - {"out.txt"}
                self.assertEqual(left, {"dangling.csv", "kept.csv", "link.csv", "pc",
                                        "second-name.csv"})
                self.assertEqual(out.read_bytes() if out.exists() else b"", b"")
        self.assertEqual(self.report("--csv", "fresh.csv", "--json", "-", "pc", cwd=self.folder)
                         .returncode, 0)
        self.assertTrue(self.report("--csv", "/dev/stdout", "pc", cwd=self.folder).stdout
                        .startswith(b"\xef\xbb\xbf"))

    def test_an_output_exchanged_for_a_link_to_a_log_is_never_written_through(self):
        log = self.folder / "pc" / "Castorel.log"
        log.parent.mkdir()
        log.write_bytes(utf16(PASSED))
        output = self.folder / "out.csv"
        running = threading.Event()
        running.set()

        def exchange():
            while running.is_set():
                for making in (lambda tmp: tmp.write_bytes(b"x"), lambda tmp: tmp.symlink_to(log)):
                    tmp = self.folder / "tmp"
                    making(tmp)
                    os.replace(tmp, output)
        exchanger = threading.Thread(target=exchange)
        exchanger.start()
        try:
            statuses = {self.report("--csv", output, log).returncode for _ in range(30)}
        finally:
            running.clear()
            exchanger.join()
        self.assertLessEqual(statuses, {0, 2})
        self.assertEqual(log.read_bytes(), utf16(PASSED))

    def test_rows_come_in_the_trees_order_whatever_the_jobs(self):
        """Depth first, each folder's entries by name, files and folders together."""
        names = ["b/Castorel.log", "a.log", "a/z.log", "a/b/c.log", "A.log", "a.log.d/x.log",
                 "c.LoG", ".log", "a/b/c.log.txt", "catalog"]
        for name in names:
            (self.folder / "fleet" / name).parent.mkdir(parents=True, exist_ok=True)
            (self.folder / "fleet" / name).write_bytes(utf16(PASSED))
        tables = {}
        for jobs in ("1", "2", "8"):
            result = self.report("--jobs", jobs, "--csv", "-", self.folder / "fleet")
            tables[jobs] = [row["log"] for row in csv.DictReader(io.StringIO(
                result.stdout.decode("utf-8-sig"), newline=""))]
        fleet = str(self.folder / "fleet")
        self.assertEqual(tables["1"], [f"{fleet}/{name}" for name in
                                       ["A.log", "a/b/c.log", "a/z.log", "a.log", "a.log.d/x.log",
                                        "b/Castorel.log", "c.LoG"]])
        self.assertEqual(tables["2"], tables["1"])
        self.assertEqual(tables["8"], tables["1"])

    def test_a_folder_that_cannot_be_listed_comes_at_its_place_and_the_walk_goes_on(self):
        """As a user the folders are closed to (root lists any)."""
        fleet = self.folder / "fleet"
        for name in ("a", "b"):
            (fleet / name).mkdir(parents=True)
            (fleet / name / "Castorel.log").write_bytes(utf16(PASSED))
        (self.folder / "closed").mkdir()
        for path in (self.folder, fleet, fleet / "b"):
            path.chmod(0o755)
        (fleet / "a").chmod(0)
        (self.folder / "closed").chmod(0)

        def as_nobody():
            os.setgid(65534)
            os.setuid(65534)
        report, as_nobody = ((self.report_for_another_user(), as_nobody) if os.geteuid() == 0
                             else (REPORT, None))
        result = subprocess.run([report, "--csv", "-", str(self.folder / "closed"), str(fleet)],
                                capture_output=True, preexec_fn=as_nobody, check=False,
                                timeout=60)
        self.assertEqual(result.returncode, 1, result.stderr)
        rows = list(csv.DictReader(io.StringIO(result.stdout.decode("utf-8-sig"), newline="")))
        self.assertEqual([(row["log"], row["notes"]) for row in rows],
                         [(str(self.folder / "closed"), "unreadable: Permission denied"),
                          (str(fleet / "a"), "unreadable: Permission denied"),
                          (str(fleet / "b" / "Castorel.log"), "")])

    def test_a_fleet_of_more_folders_than_the_process_may_hold_open_is_read_whole(self):
        """Each log waiting to be read holds its folder open, and a thread reading one the log:
        the logs in flight keep within the limit on open files, whatever the threads, and a log
        over 1 MiB holds nothing open while it waits to be written."""
        small = self.folder / "small" / "seed"
        small.parent.mkdir()
        small.write_bytes(utf16(PASSED))
        big = self.folder / "big" / "seed"
        big.parent.mkdir()
        big.write_bytes(utf16(PASSED * (1_100_000 // len(utf16(PASSED)))))
        for seed, sites, pcs in ((small, 10, 100), (big, 1, 80)):
            for site in range(sites):
                for pc in range(pcs):
                    (seed.parent / f"S{site}" / f"PC{pc:03}").mkdir(parents=True)
                    os.link(seed, seed.parent / f"S{site}" / f"PC{pc:03}" / "Castorel.log")
        # Limits the report can't raise, and one it must raise to read a single batch.
        for fleet, jobs, limits in (("small", "8", (64, 64)), ("small", "2", (64, 64)),
                                    ("small", "256", (64, 64)), ("small", "8", (24, 4096)),
                                    ("big", "8", (64, 64))):
            with self.subTest(fleet=fleet, jobs=jobs, limits=limits):
                result = subprocess.run(
                    [REPORT, "--jobs", jobs, "--csv", os.devnull, str(self.folder / fleet)],
                    capture_output=True, check=False, timeout=120,
                    preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, limits))
                self.assertEqual(result.returncode, 0, result.stdout[-300:])
                logs = 1000 if fleet == "small" else 80
                self.assertIn(f"Read {logs} logs".encode(), result.stdout)

    def test_the_terminal_gets_text_and_the_tables_every_unreadable_file(self):
        forged = ("a\x1b[2J\x07\r\x7f\x9b\nserviced (PASS, copied)          999" + INVISIBLE +
                  "\u2028serviced (PASS, copied)          998")
        pc = self.folder / forged
        pc.mkdir()
        (pc / "Castorel.log").write_bytes(utf16(FAILED))
        for number in range(50):
            os.symlink("gone", pc / f"lost{number:02}.log")
        page = self.folder / "page.html"
        summary = self.summary("--csv", self.folder / "runs.csv", "--json",
                               self.folder / "runs.jsonl", "--html", page, pc, status=1)
        html = page.read_text("utf-8")
        for shown in (summary, html):
            self.assertFalse(set(shown) & set("\x1b\x07\r\x7f\x9b" + INVISIBLE), shown)
            self.assertIn("\\u202e\\u2066", shown)
        self.assertIn("<td><bdi>" + str(pc).replace("\x1b", "\\x1b")[:20], html)
        self.assertNotIn("\nserviced (PASS, copied)          999", summary)
        self.assertIn("a\\x1b[2J\\x07\\x0d\\x7f\\x9b\\x0aserviced", summary)
        self.assertIn("lost19.log: No such file or directory\n  and 30 more\n", summary)
        self.assertEqual(summary.count("lost"), 39)  # 20 unreadable; 19 beside the failed log
        self.assertIn("  unreadable                       50\n", summary)
        rows, lines = self.tables(self.folder / "runs.csv", self.folder / "runs.jsonl")
        for table in (rows, lines):
            self.assertEqual(len(table), 51)
            self.assertTrue(all(forged in str(entry["log"]) for entry in table))
            lost = [entry for entry in table if "lost" in entry["log"]]
            self.assertEqual(len(lost), 50)
            self.assertTrue(all("unreadable: No such file or directory" in str(entry["notes"])
                                and not entry["run"] for entry in lost))


if __name__ == "__main__":
    unittest.main()
