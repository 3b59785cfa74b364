"""What Castorel.exe carries: its resources, read back from the built file, and its imports."""
import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from sandbox_pc import WINE, SandboxPc  # noqa: E402

# Loaded before the entry can limit where DLLs come from; everything else is delay-loaded.
LOAD_TIME_DLLS = {"kernel32.dll", "msvcrt.dll"}
# What those may give at load time: each exists on Windows 7 SP1 without updates. A function
# newer than that (SetDefaultDllDirectories, SetProcessMitigationPolicy) is looked up at run
# time, or the tool would not start there at all. A new name here is a decision.
KERNEL32_NAMES = set("""
    AddVectoredExceptionHandler CloseHandle CopyFileW CreateEventA CreateFileW CreateSemaphoreA
    DeleteCriticalSection DuplicateHandle EnterCriticalSection FindClose FindFirstFileW
    FindNextFileW FreeLibrary GetCurrentProcess GetCurrentProcessId GetCurrentThread
    GetCurrentThreadId GetDriveTypeW GetErrorMode GetFileInformationByHandle
    GetFileInformationByHandleEx SetFileInformationByHandle GetVolumeInformationByHandleW
    GetFileAttributesExW FindFirstFileExW CompareStringOrdinal SetFileTime
    GetFinalPathNameByHandleW GetHandleInformation GetLastError GetLocalTime GetModuleFileNameW
    GetSystemDirectoryW LoadLibraryExW
    GetModuleHandleW GetProcAddress GetProcessAffinityMask GetStartupInfoW
    GetSystemTimeAsFileTime GetThreadContext GetThreadPriority GetTickCount64
    InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent LeaveCriticalSection
    LoadLibraryA LocalAlloc LocalFree MultiByteToWideChar OpenProcess OutputDebugStringA
    ProcessIdToSessionId RaiseException ReleaseSemaphore RemoveVectoredExceptionHandler
    ResetEvent ResumeThread RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx
    RtlVirtualUnwind SetDllDirectoryW SetErrorMode SetEvent SetLastError SetProcessAffinityMask
    SetThreadContext SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread TlsAlloc
    TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery
    WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte WriteFile
    __C_specific_handler
""".split())
MSVCRT_NAMES = set("""
    ___lc_codepage_func ___mb_cur_max_func __iob_func __set_app_type __setusermatherr
    __wgetmainargs __winitenv _amsg_exit _beginthreadex _cexit _commode _endthreadex _errno
    _fmode _initterm _onexit _setjmp _strdup _ultoa _wcmdln abort calloc exit fprintf fputc
    fputs free fwrite localeconv longjmp malloc memcpy memmove memset printf realloc signal
    strcmp strerror strlen strncmp vfprintf wcslen
""".split())


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

    def test_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0x00000001))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0x00000001))
        tables = [table for info in self.pe.FileInfo[0] if info.Key == b"StringFileInfo"
                  for table in info.StringTable]
        self.assertEqual([t.LangID for t in tables], [b"040904B0"])
        strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        self.assertLessEqual({"ProductName": "Castorel", "FileDescription": "Castorel",
                              "InternalName": "Castorel.exe", "OriginalFilename": "Castorel.exe",
                              "FileVersion": "1.0.0.1"}.items(), strings.items())

    def test_loads_only_kernel32_and_msvcrt_at_start(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(imported, LOAD_TIME_DLLS)
        allowed = {"kernel32.dll": KERNEL32_NAMES, "msvcrt.dll": MSVCRT_NAMES}
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            names = {function.name.decode() for function in entry.imports}
            self.assertEqual(names - allowed[entry.dll.decode().lower()], set(), entry.dll)
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x8664)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 3, "a console program")


# The entry's first acts, as Wine's relay trace shows each call into its DLLs, even to a stub
# or to a function looked up by name. Wine only stubs the junction policy; the call is what
# this shows.
FIRST_ACTS = [
    r"KERNEL32\.SetErrorMode\(([0-9a-f]+)\)",
    r'KERNEL32\.GetProcAddress\(\w+,\w+ "SetDefaultDllDirectories"\)',
    r"KERNEL32\.SetDefaultDllDirectories\(00000800\)",  # the system folder only
    r'KERNEL32\.SetDllDirectoryW\(\w+ L""\)',
    r'KERNEL32\.GetProcAddress\(\w+,\w+ "SetProcessMitigationPolicy"\)',
    r"KERNEL32\.SetProcessMitigationPolicy\(00000010,\w+,00000004\)",  # redirection trust
]
SHELL_DLL_LOADED = re.compile(r'Loaded L".*\\(shell32|shlwapi|user32)\.dll"', re.I)


class EntryTest(unittest.TestCase):
    def test_first_acts_in_order_before_any_shell_dll_loads(self):
        pc = SandboxPc(os.environ["SANDBOX_ROOT"]).ensure().reset()
        tool = pc.install_tool(os.environ["CASTOREL_EXE"], fu_files={"a": b"x"})
        pc.warm()
        env = {**pc.env, "WINEDEBUG": "+relay,+loaddll"}
        trace = subprocess.run([WINE, str(pc.windows_path(tool))], env=env, check=False,
                               stdin=subprocess.DEVNULL, capture_output=True).stderr
        lines = trace.decode("latin-1").splitlines()
        first_load = next(i for i, line in enumerate(lines) if SHELL_DLL_LOADED.search(line))
        at = 0
        for act in FIRST_ACTS:
            found = next((i for i in range(at, first_load)
                          if re.search(r"Call " + act, lines[i])), None)
            self.assertIsNotNone(found, f"{act} not called, in order, before the shell's DLLs")
            at = found + 1
        error_mode = re.search(FIRST_ACTS[0], "\n".join(lines)).group(1)
        self.assertTrue(int(error_mode, 16) & 1, "SEM_FAILCRITICALERRORS")


if __name__ == "__main__":
    unittest.main()
