"""The report's page in a real browser: headless Chromium renders it from a folder of logs; the
text it shows holds the summary's counts, and names and records that carry markup show as text
and make no element. Leaves a screenshot of the page in PAGE_SCREENSHOT."""
import html.parser
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from test_report import FAILED, PASSED, REPORT, run, utf16

BROWSER = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run"]
INJECTED = "<img src=x onerror=alert(1)>"


class Page(html.parser.HTMLParser):
    """The rendered DOM's elements and the text of each table's rows."""
    def __init__(self):
        super().__init__()
        self.tags, self.rows, self.texts, self.table = set(), {}, [], None

    def handle_starttag(self, tag, attrs):
        self.tags.add(tag)
        if tag == "table":
            self.table = dict(attrs).get("id")
            self.rows[self.table] = []
        elif tag == "tr" and self.table:
            self.rows[self.table].append([])

    def handle_endtag(self, tag):
        if tag == "table":
            self.table = None

    def handle_data(self, data):
        self.texts.append(data)
        if self.table and self.rows[self.table] and data.strip():
            self.rows[self.table][-1].append(data.strip())


class PageTest(unittest.TestCase):
    def test_the_page_shows_the_summary_and_runs_nothing_from_the_logs(self):
        fleet = Path(tempfile.mkdtemp(prefix="castorel-page-"))
        self.addCleanup(shutil.rmtree, fleet)
        logs = {"PC-1": PASSED, "PC-2": run("Cannot finf RP, skip FU copy"), "PC-3": FAILED,
                "PC-4": FAILED.replace("[29]", "[5]"), INJECTED: PASSED + FAILED,
                "PC-5": PASSED.replace("C:\\;D:\\;", "<script>alert(1)</script>")[:-13]}
        for name, text in logs.items():
            (fleet / name).mkdir()
            (fleet / name / "Castorel.log").write_bytes(utf16(text))
        page = fleet / "page.html"
        summary = subprocess.run([REPORT, "--html", page, fleet], capture_output=True,
                                 check=False).stdout.decode()
        dom = subprocess.run([*BROWSER, "--dump-dom", page.as_uri()], capture_output=True,
                             check=True).stdout.decode()
        rendered = Page()
        rendered.feed(dom)
        shown = {row[0]: row[-1] for row in rendered.rows["states"][1:]}
        self.assertEqual(shown, {"serviced (PASS, copied)": "1", "nothing to do (PASS, no flag)":
                                 "1", "failed 5": "1", "failed 29": "2", "no result": "1",
                                 "unreadable": "0"})
        told = {f"failed {number}": count for number, count in
                re.findall(r"^    (\d+): .*  (\d+)$", summary, re.M)}
        for label in ("serviced (PASS, copied)", "nothing to do (PASS, no flag)", "no result",
                      "unreadable"):
            told[label] = re.search(rf"^  {re.escape(label)}\s+(\d+)$", summary, re.M).group(1)
        self.assertEqual(shown, told)
        self.assertIn("Read 6 logs with 7 runs", dom)
        self.assertTrue(rendered.tags.isdisjoint({"img", "script"}), rendered.tags)
        self.assertIn(INJECTED, "".join(rendered.texts))
        self.assertIn("<script>alert(1)</script>no result", "".join(rendered.texts))
        subprocess.run([*BROWSER, "--window-size=900,1100", "--hide-scrollbars",
                        f"--screenshot={os.environ['PAGE_SCREENSHOT']}", page.as_uri()],
                       capture_output=True, check=True)


if __name__ == "__main__":
    unittest.main()
