"""The servicing phases on the real system: which drive gets FU, what lands where, what the
log and console say, and the verdict and exit status."""
import unittest

from castorel_case import (NO_FLAG_ON_C, SYSTEM_LOG, CastorelCase, companion_records,
                           run_records)

FLAG = "Recovery\\_VLTRP2.FLG"
FU_TREE = {
    "readme.txt": b"payload\r\n",
    "drivers\\net.inf": b"net",
    "drivers\\audio\\audio.inf": b"audio",
}


def update_records(fixed, examined, flagged, source, result_line):
    lines = f"Fixed list [{''.join(root + ';' for root in fixed)}]\r\n"
    lines += "".join(f"First found fixed drive letter [{root}]\r\n" for root in examined)
    if flagged:
        lines += f"Find RP flag in [{flagged}]\r\n"
        lines += f"Copy [{source}] to [{flagged}preload\\RM_Reserve]\r\n"
    return lines + result_line


class ServicingTest(CastorelCase):
    def setUp(self):
        super().setUp()
        self.pc.put_folder("C:\\System.sav\\Logs")

    def assert_tree(self, folder, tree):
        for relative, data in tree.items():
            self.assertEqual(self.pc.read(folder + "\\" + relative), data, relative)

    def test_typical_run_byte_for_byte(self):
        self.pc.add_drive("d")
        self.pc.put_file("D:\\" + FLAG)
        self.pc.put_file("c:\\Windows\\QXCUST2.exe", b"old companion")
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE, companion=b"new companion")
        result = self.run_tool(tool)
        update = update_records(["C:\\", "D:\\"], ["C:\\", "D:\\"], "D:\\", "C:\\pkg\\FU\\*",
                                "Copy successfully\r\n")
        self.assert_run(result, tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, update, companion_records(tool)))
        self.assert_tree("D:\\preload\\RM_Reserve", FU_TREE)
        self.assertEqual(self.pc.read("c:\\Windows\\QXCUST2.exe"), b"new companion")

    def test_no_flag_anywhere_passes(self):
        self.pc.add_drive("d")
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
        update = update_records(["C:\\", "D:\\"], ["C:\\", "D:\\"], None, None,
                                "Cannot finf RP, skip FU copy\r\n")
        self.assert_run(self.run_tool(tool), tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, update, companion_records(tool)))
        self.assertFalse(self.pc.windows_path("D:\\preload").exists())

    def test_only_the_first_flagged_drive_is_serviced(self):
        for letter in "de":
            self.pc.add_drive(letter)
            self.pc.put_file(f"{letter}:\\" + FLAG)
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
        update = update_records(["C:\\", "D:\\", "E:\\"], ["C:\\", "D:\\"], "D:\\",
                                "C:\\pkg\\FU\\*", "Copy successfully\r\n")
        self.assert_run(self.run_tool(tool), tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, update, companion_records(tool)))
        self.assert_tree("D:\\preload\\RM_Reserve", FU_TREE)
        self.assertFalse(self.pc.windows_path("E:\\preload").exists())

    def test_flag_as_a_folder_counts(self):
        self.pc.add_drive("d")
        self.pc.put_folder("D:\\" + FLAG)
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
        self.run_tool(tool)
        self.assertIn("Find RP flag in [D:\\]\r\n", self.log_text())
        self.assert_tree("D:\\preload\\RM_Reserve", FU_TREE)

    def test_flag_on_a_removable_drive_is_never_seen(self):
        self.pc.add_drive("e", kind="floppy")
        self.pc.put_file("E:\\" + FLAG)
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
        self.assert_run(self.run_tool(tool), tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, NO_FLAG_ON_C, companion_records(tool)))

    def test_failed_copy_fails_the_run_after_closing_it(self):
        # In Wine the shell copy fails when the reserve folder exists as a plain file, and it
        # says so only through its mark of aborted operations: returned 0 with that mark is
        # reported as cancelled (1223), never as success.
        self.pc.add_drive("d")
        self.pc.put_file("D:\\" + FLAG)
        self.pc.put_file("D:\\preload\\RM_Reserve", b"in the way")
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
        result = self.run_tool(tool)
        update = update_records(["C:\\", "D:\\"], ["C:\\", "D:\\"], "D:\\", "C:\\pkg\\FU\\*",
                                "Copy failed with error code [1223]\r\n")
        self.assert_run(result, tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, update, companion_records(tool), "FAIL"),
                        status=1)
        self.assertEqual(self.pc.read("c:\\Windows\\QXCUST2.exe"), b"MZ companion")

    def test_tool_in_a_drive_root(self):
        self.pc.put_file("C:\\" + FLAG)
        tool = self.pc.install_tool(self.exe, folder="C:\\", fu_files=FU_TREE)
        update = update_records(["C:\\"], ["C:\\"], "C:\\", "C:\\FU\\*", "Copy successfully\r\n")
        self.assert_run(self.run_tool(tool), tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, update, companion_records(tool)))
        self.assertIn("C:\\\\QXCUST2.exe copy to", self.log_text())
        self.assert_tree("C:\\preload\\RM_Reserve", FU_TREE)

    def test_copy_replaces_existing_files_and_keeps_the_others(self):
        self.pc.add_drive("d")
        self.pc.put_file("D:\\" + FLAG)
        self.pc.put_file("D:\\preload\\RM_Reserve\\readme.txt", b"stale")
        self.pc.put_file("D:\\preload\\RM_Reserve\\drivers\\audio\\audio.inf", b"stale audio")
        self.pc.put_file("D:\\preload\\RM_Reserve\\drivers\\old.inf", b"kept")
        self.pc.put_file("D:\\preload\\RM_Reserve\\keep.me", b"kept too")
        tool = self.pc.install_tool(self.exe, fu_files=FU_TREE)
        self.assertEqual(self.run_tool(tool).status, 0)
        self.assert_tree("D:\\preload\\RM_Reserve", FU_TREE)
        self.assert_tree("D:\\preload\\RM_Reserve",
                         {"drivers\\old.inf": b"kept", "keep.me": b"kept too"})

    def test_missing_companion_is_logged_and_the_run_passes(self):
        tool = self.pc.install_tool(self.exe, companion=None)
        self.assert_run(self.run_tool(tool), tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, NO_FLAG_ON_C,
                                                   companion_records(tool, installed=False)))
        self.assertIsNone(self.pc.read("c:\\Windows\\QXCUST2.exe"))

    def test_companion_destination_held_open_is_logged_and_the_verdict_stands(self):
        self.pc.put_file("c:\\Windows\\QXCUST2.exe", b"in use")
        tool = self.pc.install_tool(self.exe)
        with self.pc.holding(self.hold_file_exe, "c:\\Windows\\QXCUST2.exe", "deny-write"):
            result = self.run_tool(tool)
        companion = ("C:\\pkg\\QXCUST2.exe copy to c:\\Windows\\QXCUST2.exe\r\n"
                     "Copy file failed with return code: 0\r\n")
        self.assert_run(result, tool, SYSTEM_LOG,
                        lambda banner: run_records(banner, NO_FLAG_ON_C, companion))
        self.assertEqual(self.pc.read("c:\\Windows\\QXCUST2.exe"), b"in use")


if __name__ == "__main__":
    unittest.main()
