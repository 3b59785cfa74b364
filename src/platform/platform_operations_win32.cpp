// The platform operations on Windows: the only code that talks to the system.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>

#include "platform/platform_operations.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is 16-bit code units");

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// Looks the name up as the shell would (exact name, no wildcard) and reports its attributes.
bool FindAttributes(const char16_t* path, DWORD& attributes) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    attributes = found.dwFileAttributes;
    return true;
}

}  // namespace

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

bool PathExists(const char16_t* path) {
    DWORD attributes = 0;
    return FindAttributes(path, attributes);
}

bool FolderExists(const char16_t* path) {
    DWORD attributes = 0;
    return FindAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

unsigned QueryDriveType(const char16_t* root) { return GetDriveTypeW(Wide(root)); }

void AppendToFile(const char16_t* path, const char16_t* units, size_t count) {
    const HANDLE file = CreateFileW(Wide(path), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, units, static_cast<DWORD>(count * sizeof(char16_t)), &written, nullptr);
    CloseHandle(file);
}

bool CopyFileOverwrite(const char16_t* source, const char16_t* destination) {
    return CopyFileW(Wide(source), Wide(destination), FALSE) != 0;
}

int ShellCopy(const char16_t* sourceList, const char16_t* destinationList) {
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_COPY;
    operation.pFrom = Wide(sourceList);
    operation.pTo = Wide(destinationList);
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    const int returned = SHFileOperationW(&operation);
    return ShellCopyResult(returned, operation.fAnyOperationsAborted != FALSE);
}

LocalClock ReadLocalClock() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

void WriteToStandardOutput(const char* bytes, size_t count) { fwrite(bytes, 1, count, stdout); }
