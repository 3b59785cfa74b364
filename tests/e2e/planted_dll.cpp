// Test helper for the Windows build: a DLL that, once loaded into a process, leaves a mark
// beside itself (its own path plus ".loaded"). Planted under a system DLL's name beside the
// tool, it shows whether the tool can be made to run code from its own folder.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    constexpr wchar_t kSuffix[] = L".loaded";
    wchar_t mark[MAX_PATH + sizeof kSuffix / sizeof kSuffix[0]];
    const DWORD length = GetModuleFileNameW(module, mark, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    for (size_t i = 0; i < sizeof kSuffix / sizeof kSuffix[0]; ++i) mark[length + i] = kSuffix[i];
    const HANDLE file = CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
