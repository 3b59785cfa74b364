"""The manuals are true to the code, read from the sources alone (no build is needed): the
operator's guide, which goes into the release kit, names every text the tool can print or log
and every error number it can give, and the report's table of meanings lists the same numbers;
the report's manual names every word and option the report has. Every link between the
documents leads somewhere."""
import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


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
        # The report's one table of meanings has every number the guide explains, and no other.
        table = re.findall(r"\{(\d+), \"", (ROOT / "src" / "log" / "copy_errors.h").read_text())
        numbers = guide[guide.index("\n5. ERROR NUMBERS"):guide.index("\n6. ")]
        self.assertEqual(sorted(set(re.findall(r"^  (\d+) ", numbers, re.M)), key=int), table)


def quoted_in(text, start, end="};"):
    """The quoted words of the first list that follows `start`."""
    at = text.index(start)
    return re.findall(r'"([^"]+)"', text[at:text.index(end, at)])


class ReportManualTest(unittest.TestCase):
    def test_manual_names_every_word_and_option_the_report_has(self):
        manual = (ROOT / "docs" / "castorel-report.md").read_text()
        report = ROOT / "src" / "report"
        header = (report / "fleet_report.h").read_text()
        rows = (report / "fleet_report.cpp").read_text()
        main = (report / "main.cpp").read_text()
        words = {
            "state": quoted_in(header, "kWords[] ="),
            "copy": quoted_in(rows, "kCopyNames[] ="),
            "companion": quoted_in(rows, "kCompanionNames[] ="),
            "note": quoted_in((report / "log_reader.h").read_text(), "kNoteNames[] ="),
            "field": re.findall(r'row\["(\w+)"\]', rows),
            "option": re.findall(r'(?:add_option|set_version_flag)\(\s*"(--\w+)"', main)
            + ["--help"],
        }
        for kind, names in words.items():
            self.assertGreater(len(names), 2, kind)
            for name in names:
                named = re.search(rf"`{re.escape(name)}[` ]", manual)
                self.assertTrue(named, f"the {kind} {name} is missing")
        statuses = {0, 1} | {int(n) for n in re.findall(r"kTrouble = (\d+);", (
            report / "report_outputs.h").read_text())}
        table = manual[manual.index("\n## Exit status"):]
        self.assertEqual({int(n) for n in re.findall(r"^\| (\d+) \|", table, re.M)}, statuses)

    def test_guide_names_every_state_the_summary_counts(self):
        guide = (ROOT / "docs" / "OPERATOR.txt").read_text()
        section = guide[guide.index("\n8. READING"):]
        states = quoted_in((ROOT / "src" / "report" / "fleet_report.h").read_text(), "kWords[] =")
        for state in states:
            shown = state.split(" (")[0]
            self.assertRegex(section, rf"\n  {re.escape(shown)}(  |\n)", f"{shown} missing")


def outside_code(text):
    return re.sub(r"^```.*?^```", "", text, flags=re.M | re.S)


def anchors(document):
    """The anchors of a Markdown document's headings, as GitHub makes them."""
    headings = re.findall(r"^#+ (.+)$", outside_code(document.read_text()), re.M)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in headings}


class DocumentLinksTest(unittest.TestCase):
    DOCUMENTS = [ROOT / "README.md", ROOT / "bench" / "README.md",
                 *sorted((ROOT / "docs").glob("*.md"))]

    def test_every_link_leads_to_a_file_and_a_heading_that_exist(self):
        for document in self.DOCUMENTS:
            for target in re.findall(r"\]\(([^)\s]+)\)", outside_code(document.read_text())):
                if re.match(r"[a-z]+:", target):
                    continue
                path, _, anchor = target.partition("#")
                reached = (document.parent / path).resolve() if path else document
                where = f"{document.relative_to(ROOT)}: {target}"
                self.assertTrue(reached.exists(), where)
                if anchor:
                    self.assertIn(anchor, anchors(reached), where)

    def test_the_readme_leads_to_every_manual(self):
        readme = (ROOT / "README.md").read_text()
        for document in [*sorted((ROOT / "docs").iterdir()), ROOT / "bench" / "README.md"]:
            self.assertIn(f"]({document.relative_to(ROOT)})", readme)


if __name__ == "__main__":
    unittest.main()
