"""What a standard user can plant beside the elevated tool or on its paths, and that none of it
borrows the tool's rights: DLLs beside it, links at the log, links on the way to the reserve."""
import os
import shutil
import unittest

from castorel_case import (NO_FLAG_ON_C, SYSTEM_LOG, CastorelCase, companion_records,
                           console_bytes_of, run_records)

FU_TREE = {"readme.txt": b"payload\r\n", "drivers\\net.inf": b"net"}
PLANTED = ("shell32", "shlwapi", "user32", "shcore")


class ElevationSafetyTest(CastorelCase):
    def flagged_d(self):
        self.pc.add_drive("d")
        self.pc.put_file("D:\\Recovery\\_VLTRP2.FLG")

    def test_dlls_planted_beside_the_tool_are_never_loaded(self):
        self.flagged_d()
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
        for name in PLANTED:
            shutil.copyfile(os.environ["PLANTED_DLL"], self.pc.windows_path(f"C:\\pkg\\{name}.dll"))
        result = self.pc.run(tool, dll_overrides=",".join(PLANTED) + "=n,b")
        loaded = sorted(p.name for p in self.pc.windows_path("C:\\pkg").glob("*.loaded"))
        self.assertEqual(loaded, [])
        self.assertEqual(result.status, 0, result)
        self.assertEqual(self.pc.read("D:\\preload\\RM_Reserve\\drivers\\net.inf"), b"net")

    def test_log_that_is_a_link_to_another_file_is_never_written(self):
        win_ini = self.pc.windows_path("c:\\windows\\win.ini")
        original = win_ini.read_bytes()
        for kind, make in (("symbolic link", os.symlink), ("hard link", os.link)):
            with self.subTest(kind=kind):
                self.pc.reset()
                self.pc.put_folder("C:\\System.sav\\Logs")
                make(win_ini, self.pc.windows_path(SYSTEM_LOG))
                tool = self.pc.install_tool(self.exe)
                result = self.run_tool(tool)
                self.assertEqual(win_ini.read_bytes(), original)
                console = result.console.decode("latin-1").replace("\r\n", "\n")
                banner = self.banner_of(console[console.index("\n\n="):])
                self.assertEqual(result.console, console_bytes_of(
                    self.location_lines(tool, SYSTEM_LOG)
                    + run_records(banner, NO_FLAG_ON_C, companion_records(tool))))
                self.assertEqual(result.status, 0)

    def test_log_folder_reached_through_a_link_is_not_used(self):
        for link in ("C:\\System.sav", "C:\\System.sav\\Logs"):
            with self.subTest(link=link):
                self.pc.reset()
                elsewhere = self.pc.put_folder("C:\\elsewhere")
                (elsewhere / "Logs").mkdir()
                self.pc.put_folder(link[: link.rfind("\\")])
                target = elsewhere if link.endswith("System.sav") else elsewhere / "Logs"
                self.pc.windows_path(link).symlink_to(target)
                tool = self.pc.install_tool(self.exe)
                result = self.run_tool(tool)
                self.assertEqual(sorted(p.name for p in elsewhere.rglob("*")), ["Logs"])
                self.assert_run(result, tool, "C:\\pkg\\Castorel.log",
                                lambda banner: run_records(banner, NO_FLAG_ON_C,
                                                           companion_records(tool)))

    def test_reserve_reached_through_a_link_is_never_copied_into(self):
        for link in ("D:\\preload", "D:\\preload\\RM_Reserve"):
            with self.subTest(link=link):
                self.pc.reset()
                self.pc.put_folder("C:\\System.sav\\Logs")
                self.flagged_d()
                target = self.pc.put_folder("C:\\target")
                (target / "readme.txt").write_bytes(b"kept")
                self.pc.put_folder(link[: link.rfind("\\")])
                self.pc.windows_path(link).symlink_to(target)
                tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
                result = self.run_tool(tool)
                self.assertEqual(sorted(p.name for p in target.rglob("*")), ["readme.txt"])
                self.assertEqual((target / "readme.txt").read_bytes(), b"kept")
                self.assertIn("Copy [C:\\pkg\\FU\\*] to [D:\\preload\\RM_Reserve]\r\n"
                              "Copy failed with error code [4395]\r\n", self.log_text())
                self.assertTrue(self.log_text().endswith("Result=FAIL\r\n"))
                self.assertEqual(result.status, 1)


if __name__ == "__main__":
    unittest.main()
