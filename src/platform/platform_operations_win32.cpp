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

// Final paths may name a share or a substituted drive's folder, longer than MAX_PATH.
constexpr DWORD kFinalPathCapacity = 1024;

bool FinalPathOf(HANDLE handle, wchar_t (&finalPath)[kFinalPathCapacity]) {
    const DWORD length = GetFinalPathNameByHandleW(handle, finalPath, kFinalPathCapacity,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < kFinalPathCapacity;
}

// The folder a path names (everything before its last `\`, a root keeping it), resolved as the
// system resolves it.
bool FinalPathOfFolderOf(const char16_t* path, wchar_t (&finalPath)[kFinalPathCapacity]) {
    char16_t folder[kMaxPath];
    if (!ComposeText(folder, u"%s", {path})) return false;
    RemoveLastComponent(folder);
    const HANDLE handle = CreateFileW(Wide(folder), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool resolved = FinalPathOf(handle, finalPath);
    CloseHandle(handle);
    return resolved;
}

const char16_t* LeafOf(const char16_t* path) {
    const char16_t* leaf = path;
    for (const char16_t* unit = path; *unit; ++unit) {
        if (*unit == u'\\') leaf = unit + 1;
    }
    return leaf;
}

// The opened file is the one the path names only if it is no link itself, has no second name
// (a hard link to another file), and really lies in the path's folder under the path's name.
// Final paths, not the texts given, are compared: a mapped or substituted drive, 8.3 names and
// letter case then resolve alike on both sides.
bool IsFileThePathNames(HANDLE file, const char16_t* path) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if (information.nNumberOfLinks != 1) return false;
    wchar_t fileFinal[kFinalPathCapacity];
    wchar_t folderFinal[kFinalPathCapacity];
    return FinalPathOf(file, fileFinal) && FinalPathOfFolderOf(path, folderFinal) &&
           IsFinalPathOfLeafInFolder(reinterpret_cast<const char16_t*>(fileFinal),
                                     reinterpret_cast<const char16_t*>(folderFinal),
                                     LeafOf(path));
}

}  // namespace

void RestrictLibraryLoadsToSystemFolder() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
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

bool PathExists(const char16_t* path) {
    DWORD attributes = 0;
    return FindAttributes(path, attributes);
}

bool FolderExists(const char16_t* path) {
    DWORD attributes = 0;
    return FindAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(const char16_t* path) {
    DWORD attributes = 0;
    return FindAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

unsigned QueryDriveType(const char16_t* root) { return GetDriveTypeW(Wide(root)); }

void AppendToFile(const char16_t* path, const char16_t* units, size_t count) {
    // A link at the log's own name is opened itself, never followed to its target.
    const HANDLE file = CreateFileW(Wide(path), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    if (IsFileThePathNames(file, path)) {
        DWORD written = 0;
        WriteFile(file, units, static_cast<DWORD>(count * sizeof(char16_t)), &written, nullptr);
    }
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
