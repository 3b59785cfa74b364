"""The run frame on the real system: where the log goes, what it holds byte for byte, what the
console shows, and what happens when the log can't be written."""
import unittest

from castorel_case import (NO_FLAG_ON_C, SYSTEM_LOG, CastorelCase, companion_records,
                           console_bytes_of, run_records)


def uneventful_run(tool):
    """The records of a run on a PC whose only drive, C, has no recovery flag."""
    return lambda banner: run_records(banner, NO_FLAG_ON_C, companion_records(tool))


class RunLogTest(CastorelCase):
    def test_log_folder_present_takes_the_log(self):
        self.pc.put_folder("C:\\System.sav\\Logs")
        tool = self.pc.install_tool(self.exe)
        result = self.run_tool(tool)
        self.assert_run(result, tool, SYSTEM_LOG, uneventful_run(tool))
        raw = self.pc.read(SYSTEM_LOG)
        self.assertEqual(raw[:6], "\n\n=".encode("utf-16-le"), "no byte-order mark")
        self.assertIsNone(self.pc.read("C:\\pkg\\Castorel.log"))

    def test_log_goes_beside_the_tool_without_a_log_folder(self):
        for folder, log in (("C:\\pkg", "C:\\pkg\\Castorel.log"), ("C:\\", "C:\\Castorel.log")):
            with self.subTest(folder=folder):
                self.pc.reset()
                tool = self.pc.install_tool(self.exe, folder=folder)
                self.assert_run(self.run_tool(tool), tool, log, uneventful_run(tool))

    def test_log_folder_that_is_a_file_does_not_count(self):
        self.pc.put_file("C:\\System.sav\\Logs", b"a file, not a folder")
        tool = self.pc.install_tool(self.exe)
        self.assert_run(self.run_tool(tool), tool, "C:\\pkg\\Castorel.log", uneventful_run(tool))
        self.assertEqual(self.pc.read("C:\\System.sav\\Logs"), b"a file, not a folder")

    def test_second_run_appends_and_leaves_the_first_untouched(self):
        self.pc.put_folder("C:\\System.sav\\Logs")
        tool = self.pc.install_tool(self.exe)
        self.run_tool(tool)
        first = self.pc.read(SYSTEM_LOG)
        result = self.run_tool(tool)
        both = self.pc.read(SYSTEM_LOG)
        self.assertEqual(both[: len(first)], first)
        second = both[len(first):].decode("utf-16-le")
        self.assertEqual(second, uneventful_run(tool)(self.banner_of(second)))
        self.assertEqual(result.status, 0)

    def test_format_directives_in_folder_names_are_plain_text(self):
        tool = self.pc.install_tool(self.exe, folder="C:\\pkg %s%d%c%%")
        log = "C:\\pkg %s%d%c%%\\Castorel.log"
        self.assert_run(self.run_tool(tool), tool, log, uneventful_run(tool))

    def test_non_ascii_folder_names(self):
        tool = self.pc.install_tool(self.exe, folder="C:\\caf\u00e9")
        self.assert_run(self.run_tool(tool), tool, "C:\\caf\u00e9\\Castorel.log",
                        uneventful_run(tool))

        self.pc.reset()
        tool = self.pc.install_tool(self.exe, folder="C:\\\u4e2d\u6587")
        result = self.run_tool(tool)
        log = self.log_text("C:\\\u4e2d\u6587\\Castorel.log")
        self.assertEqual(log, uneventful_run(tool)(self.banner_of(log)))
        # A location line shows each unit above U+00FF as "?"; a record's echo stops at one.
        install = "C:\\\u4e2d\u6587\\QXCUST2.exe copy to c:\\Windows\\QXCUST2.exe\r\n"
        echo = log.replace(install, "C:\\")
        self.assertEqual(result.console, console_bytes_of(
            self.location_lines("C:\\??\\Castorel.exe", "C:\\??\\Castorel.log") + echo))

    def test_overlong_tool_path_runs_on_cut_to_259_units(self):
        # Wine, like Windows XP, fills the whole buffer without a terminator when the path does
        # not fit; the run must still see it cut to 259 units and never read past it.
        folder = "C:\\" + "\\".join(letter * 50 for letter in "abcde")
        self.pc.put_folder("C:\\System.sav\\Logs")
        tool = self.pc.install_tool(self.exe, folder=folder)
        self.assertEqual(len(tool), 270)
        result = self.run_tool(tool)
        cut = tool[:259]
        self.assertTrue(result.console.startswith(
            console_bytes_of(f"ExePath=[{cut}]\r\nExeDir=[{folder}\\]\r\n")), result.console[:300])
        log = self.log_text()
        # The companion's source, formed from the cut path, would not fit: it counts as missing.
        self.assertIn("\r\nSource file not exists: C:\\aaaaa", log)
        self.assertTrue(log.endswith("Result=PASS\r\n"))
        self.assertEqual(result.status, 0)

    def test_log_held_without_write_sharing_loses_records_but_not_the_verdict(self):
        self.pc.put_file(SYSTEM_LOG, "kept\r\n".encode("utf-16-le"))
        tool = self.pc.install_tool(self.exe)
        for mode in ("deny-write", "write"):
            with self.subTest(mode=mode), self.pc.holding(self.hold_file_exe, SYSTEM_LOG, mode):
                result = self.run_tool(tool)
            self.assertEqual(self.pc.read(SYSTEM_LOG), "kept\r\n".encode("utf-16-le"))
            self.assertEqual(result.status, 0)
            self.assertTrue(result.console.endswith(b"Result=PASS\r\r\n"), result.console)
            self.assertEqual(result.console.count(b"=" * 40), 2, "both banners echoed")


if __name__ == "__main__":
    unittest.main()
