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

// Only name surrogates lead elsewhere; dedup, WOF and cloud files also carry reparse points.
// A reparse point reported without its tag (0 is no valid tag; Wine gives it) may be a link.
bool IsLinkTag(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (tag == 0 || IsReparseTagNameSurrogate(tag));
}

bool IsLinkData(const WIN32_FIND_DATAW& found) {
    return IsLinkTag(found.dwFileAttributes, found.dwReserved0);
}

EntryFacts FactsOf(const WIN32_FIND_DATAW& found) {
    if (IsLinkData(found)) return {EntryKind::Link, 0};
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {EntryKind::Folder, 0};
    return {EntryKind::File, (uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow};
}

// A function of KERNEL32 that older Windows may lack; null there.
template <typename Function>
Function LookUpKernel32(const char* name) {
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
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

void FailCriticalErrorsWithoutDialog() { SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS); }

// Windows 7 has SetDefaultDllDirectories only with KB2533623: a load-time import of it would
// keep the tool from starting without that update. Removing the current folder from the search
// is then the best left; SHELL32 and SHLWAPI are KnownDLLs there and still come from System32.
void RestrictLibraryLoadsToSystemFolder() {
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDefault = LookUpKernel32<SetDefaultDirectories>("SetDefaultDllDirectories");
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

// Windows before 10 (and 10 before 22H2) lacks the function or the policy: the tool's own
// link checks stand either way, so a refusal is ignored.
void RefuseJunctionsOfNonAdministrators() {
    using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const auto setPolicy = LookUpKernel32<SetPolicy>("SetProcessMitigationPolicy");
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

EntryFacts QueryEntry(const char16_t* path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return {EntryKind::Missing, 0};
    FindClose(search);
    return FactsOf(found);
}

int ListFolder(const char16_t* folder, FolderVisitor& visitor) {
    char16_t pattern[kMaxPath];
    if (!ComposeText(pattern, u"%s\\*", {folder})) return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    bool more = true;
    do {
        if (!IsDotOrDotDot(found.cFileName)) {
            more = visitor.Visit(reinterpret_cast<const char16_t*>(found.cFileName),
                                 FactsOf(found));
        }
    } while (more && FindNextFileW(search, &found));
    const DWORD ended = more ? GetLastError() : ERROR_NO_MORE_FILES;
    FindClose(search);
    return ended == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(ended);
}

// Looks the name up as the shell would: the exact name, no wildcard.
bool PathExists(const char16_t* path) { return QueryEntry(path).kind != EntryKind::Missing; }

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

int ShellCopy(const char16_t* sourceList, const char16_t* destinationList,
              bool errorsWithoutDialog) {
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_COPY;
    operation.pFrom = Wide(sourceList);
    operation.pTo = Wide(destinationList);
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    if (errorsWithoutDialog) operation.fFlags |= FOF_NOERRORUI;
    const int returned = SHFileOperationW(&operation);
    return ShellCopyResult(returned, operation.fAnyOperationsAborted != FALSE);
}

LocalClock ReadLocalClock() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

void WriteToStandardOutput(const char* bytes, size_t count) { fwrite(bytes, 1, count, stdout); }
