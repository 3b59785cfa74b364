// The process's start, its session, its own path, the clock, the drives' kinds and the
// console, on Windows.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>

#include "platform/win32.h"

// A DLL that is no KnownDLL, loaded by its full path in the system folder, so that one of that
// name beside the tool is never taken, even on Windows 7 without KB2533623.
HMODULE LoadSystemDll(const char16_t* name) {
    char16_t folder[kMaxPath];
    const UINT length = GetSystemDirectoryW(Wide(folder), kMaxPath);
    char16_t path[kMaxPath];
    if (length == 0 || length >= kMaxPath || !ComposeText(path, u"%s\\%s", {folder, name})) {
        return nullptr;
    }
    return LoadLibraryExW(Wide(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void FailCriticalErrorsWithoutDialog() { SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS); }

// Windows 7 has SetDefaultDllDirectories only with KB2533623: a load-time import of it would
// keep the tool from starting without that update. Removing the current folder from the search
// is then the best left; SHELL32 and SHLWAPI are KnownDLLs there and still come from System32.
void RestrictLibraryLoadsToSystemFolder() {
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDefault = LookUp<SetDefaultDirectories>(GetModuleHandleW(L"kernel32.dll"),
                                                          "SetDefaultDllDirectories");
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

// Windows before 10 (and 10 before 22H2) lacks the function or the policy: the tool's own
// link checks stand either way, so a refusal is ignored.
void RefuseJunctionsOfNonAdministrators() {
    using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const auto setPolicy = LookUp<SetPolicy>(GetModuleHandleW(L"kernel32.dll"),
                                             "SetProcessMitigationPolicy");
    if (!setPolicy) return;
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
}

ProcessSession QueryProcessSession() {
    DWORD session = 0;  // stays 0, nobody to answer, when the query fails
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    const bool visible = station != nullptr &&
                         GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags,
                                                   nullptr) &&
                         (flags.dwFlags & WSF_VISIBLE) != 0;
    return {visible, session};
}

size_t GetModulePath(char16_t* buffer, size_t capacity) {
    const DWORD length = GetModuleFileNameW(nullptr, Wide(buffer), static_cast<DWORD>(capacity));
    // A path that does not fit fills the whole buffer; Windows XP and Wine leave it without a
    // terminator, so it is cut to capacity - 1 here as later Windows does.
    if (length >= capacity) {
        buffer[capacity - 1] = 0;
        return capacity;
    }
    return length;
}

void RemoveLastComponent(char16_t* path) { PathRemoveFileSpecW(Wide(path)); }

unsigned QueryDriveType(const char16_t* root) { return GetDriveTypeW(Wide(root)); }

LocalClock ReadLocalClock() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

void WriteToStandardOutput(const char* bytes, size_t count) { fwrite(bytes, 1, count, stdout); }
