"""The operator's guide, which goes into the release kit, names every text the tool can print or
log and every error number it can give, and the report's table of meanings lists the same
numbers. Read from the sources alone: no build is needed."""
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


if __name__ == "__main__":
    unittest.main()
