// The copy benchmark's floor: only the calls a run must make, with the same flags and paths,
// and nothing else (no checks, no log, no console). The reserve's folders are made before the
// shell's copy, as the tool makes them: onto a missing destination the shell copies otherwise.
#include <windows.h>
#include <shellapi.h>

extern "C" int wmain(int, wchar_t**) {
    CreateDirectoryW(L"D:\\preload", nullptr);
    CreateDirectoryW(L"D:\\preload\\RM_Reserve", nullptr);
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_COPY;
    operation.pFrom = L"C:\\pkg\\FU\\*\0";
    operation.pTo = L"D:\\preload\\RM_Reserve\0";
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    const int copied = SHFileOperationW(&operation);
    const BOOL installed = CopyFileW(L"C:\\pkg\\QXCUST2.exe", L"c:\\Windows\\QXCUST2.exe", FALSE);
    return copied == 0 && installed ? 0 : 1;
}
