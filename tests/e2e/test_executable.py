"""What Castorel.exe carries: its resources, read back from the built file, and its imports."""
import os
import struct
import unittest

import pefile

# Loaded before the entry can limit where DLLs come from; everything else is delay-loaded.
LOAD_TIME_DLLS = {"kernel32.dll", "msvcrt.dll"}


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(os.environ["CASTOREL_EXE"])

    def resource(self, kind, name):
        for type_entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if type_entry.id != kind:
                continue
            for name_entry in type_entry.directory.entries:
                if name_entry.id == name:
                    language = name_entry.directory.entries[0]
                    data = language.data.struct
                    return language.id, self.pe.get_data(data.OffsetToData, data.Size)
        self.fail(f"no resource of type {kind} named {name}")

    def test_manifest_asks_for_administrator_and_dpi_awareness_only(self):
        _, manifest = self.resource(24, 1)
        text = manifest.decode("utf-8")
        self.assertIn('<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>', text)
        self.assertIn(">true</dpiAware>", text)
        for other in ("supportedOS", "dependency", "longPathAware", "asInvoker", "gdiScaling"):
            self.assertNotIn(other, text)
        manifests = [t for t in self.pe.DIRECTORY_ENTRY_RESOURCE.entries if t.id == 24]
        self.assertEqual(len(manifests[0].directory.entries), 1, "exactly one manifest")

    def test_icon_group_holds_seven_images_of_the_required_forms(self):
        language, group = self.resource(14, 101)
        self.assertEqual(language, 0x409)
        _, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((kind, count), (1, 7))
        sizes = {}
        for index in range(count):
            width, _, _, _, _, bits, _, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
            _, image = self.resource(3, image_id)
            size = width or 256
            if size == 256:
                self.assertEqual(image[:8], b"\x89PNG\r\n\x1a\n")
            else:
                header = struct.unpack_from("<IiiHH", image)
                self.assertEqual(header, (40, size, 2 * size, 1, 24))
            sizes[size] = bits
        self.assertEqual(sorted(sizes), [16, 24, 32, 48, 96, 128, 256])

    def test_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0x00000001))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0x00000001))
        tables = [table for info in self.pe.FileInfo[0] if info.Key == b"StringFileInfo"
                  for table in info.StringTable]
        self.assertEqual([t.LangID for t in tables], [b"040904B0"])
        strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        self.assertEqual(strings["ProductName"], "Castorel")
        self.assertEqual(strings["FileDescription"], "Castorel")
        self.assertEqual(strings["InternalName"], "Castorel.exe")
        self.assertEqual(strings["OriginalFilename"], "Castorel.exe")
        self.assertEqual(strings["FileVersion"], "1.0.0.1")

    def test_loads_only_kernel32_and_msvcrt_at_start(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(imported, LOAD_TIME_DLLS)
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x8664)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 3, "a console program")


if __name__ == "__main__":
    unittest.main()
