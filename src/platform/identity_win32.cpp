// Who a folder is and where an opened file lies, on Windows: identities by volume and file
// ID, final paths, and what is made or opened inside a folder's own handle.
#include <windows.h>
#include <winternl.h>

#include <new>

#include "platform/win32.h"

namespace {

// Reads final paths of two open handles, the log file and its folder.
class HandleFinalPaths : public FinalPathReader {
  public:
    HandleFinalPaths(HANDLE file, HANDLE folder) : file_(file), folder_(folder) {}

    bool Read(PathForm form, char16_t (&file)[kFinalPathCapacity],
              char16_t (&folder)[kFinalPathCapacity]) override {
        const bool dos = form == PathForm::Dos || form == PathForm::DosOpened;
        const bool opened = form == PathForm::DosOpened || form == PathForm::NtOpened;
        const DWORD flags = (opened ? FILE_NAME_OPENED : FILE_NAME_NORMALIZED) |
                            (dos ? VOLUME_NAME_DOS : VOLUME_NAME_NT);
        return ReadFinalPath(file_, flags, file) && ReadFinalPath(folder_, flags, folder);
    }

  private:
    static bool ReadFinalPath(HANDLE handle, DWORD flags, char16_t (&path)[kFinalPathCapacity]) {
        const DWORD length = GetFinalPathNameByHandleW(handle, Wide(path), kFinalPathCapacity,
                                                       flags);
        return length > 0 && length < kFinalPathCapacity;
    }

    HANDLE file_;
    HANDLE folder_;
};

}  // namespace

const char16_t* LeafOf(const char16_t* path) {
    const char16_t* leaf = path;
    for (const char16_t* unit = path; *unit; ++unit) {
        if (*unit == u'\\') leaf = unit + 1;
    }
    return leaf;
}

// The folder a path's file lies in, opened itself: a link there is opened, never followed.
HANDLE OpenFolderOf(const char16_t* path) {
    char16_t folder[kMaxPath];
    if (!ComposeText(folder, u"%s", {path})) return INVALID_HANDLE_VALUE;
    RemoveLastComponent(folder);
    return OpenItself(folder, FILE_READ_ATTRIBUTES | FILE_TRAVERSE);
}

FolderIdentity IdentityOf(HANDLE folder) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(folder, &information)) return {false, 0, 0};
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return {false, 0, 0};
    if (IsLinkHandle(folder)) return {false, 0, 0};
    return {true, information.dwVolumeSerialNumber,
            (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

namespace {

// NTDLL is always loaded, and NtCreateFile is the call that opens relative to a folder.
DWORD NtOpenInFolder(HANDLE folder, const char16_t* leaf, ACCESS_MASK access,
                     PSECURITY_DESCRIPTOR security, ULONG disposition, ULONG options, ULONG sharing,
                     ULONG nameRules, HANDLE& opened) {
    using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                              PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                              ULONG, PVOID, ULONG);
    using ToErrorCall = ULONG(NTAPI*)(NTSTATUS);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto create = LookUp<NtCreateFileCall>(ntdll, "NtCreateFile");
    const auto toError = LookUp<ToErrorCall>(ntdll, "RtlNtStatusToDosError");
    if (!create || !toError) return ERROR_PROC_NOT_FOUND;
    UNICODE_STRING name;
    name.Buffer = const_cast<wchar_t*>(Wide(leaf));
    name.Length = static_cast<USHORT>(TextLength(leaf) * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, nameRules, folder, security);
    IO_STATUS_BLOCK status;
    opened = INVALID_HANDLE_VALUE;
    const NTSTATUS result = create(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                   FILE_ATTRIBUTE_NORMAL, sharing, disposition,
                                   options | kFileSynchronousIoNonalert | kFileOpenReparsePoint,
                                   nullptr, 0);
    if (result >= 0) return 0;
    opened = INVALID_HANDLE_VALUE;
    return toError(result);
}

}  // namespace

// Opens or creates `leaf` inside the open folder, so that no change to the folder's path can
// lead it elsewhere; a link at the leaf is opened itself, never followed.
DWORD CreateInFolder(HANDLE folder, const char16_t* leaf, ACCESS_MASK access,
                     PSECURITY_DESCRIPTOR security, ULONG disposition, ULONG options,
                     HANDLE& opened) {
    return NtOpenInFolder(folder, leaf, access, security, disposition, options, FILE_SHARE_READ,
                          OBJ_CASE_INSENSITIVE, opened);
}

// The name as a listing gave it: where a folder tells case apart, another case is another entry.
DWORD OpenExactlyInFolder(HANDLE folder, const char16_t* leaf, ACCESS_MASK access, ULONG sharing,
                          HANDLE& opened) {
    return NtOpenInFolder(folder, leaf, access, nullptr, kFileOpen, 0, sharing, 0, opened);
}

// FileNameInfo, unlike the final path, has no limit of its own on a path's length (Wine's final
// path stops at MAX_PATH). It is laid out as FILE_NAME_INFO: the length in bytes, then the units.
int ReadVolumePath(const HeldEntry& entry, char16_t* path) {
    struct NameInfo {
        DWORD bytes;
        WCHAR units[kVolumePathCapacity];
    };
    const auto name = new (std::nothrow) NameInfo;
    if (!name) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD error = 0;
    if (!GetFileInformationByHandleEx(HandleOf(entry), FileNameInfo, name,
                                      sizeof *name - sizeof(WCHAR))) {
        error = GetLastError();
    } else {
        const size_t units = name->bytes / sizeof(WCHAR);
        memcpy(path, name->units, units * sizeof(char16_t));
        path[units] = 0;
    }
    delete name;
    return static_cast<int>(error);
}

// The opened file is the log only if it is no link itself, has no second name (a hard link to
// another file), and lies in the pinned folder under the leaf's name.
bool IsPlainFileInFolder(HANDLE file, HANDLE folder, const char16_t* leaf) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    if (information.nNumberOfLinks != 1 || IsLinkHandle(file)) return false;
    HandleFinalPaths paths(file, folder);
    return IsFileLeafOfFolder(paths, leaf);
}

// Whether the opened file is the entry at `path` itself, by its final path. Wine shows a
// symbolic link to a file as that file and follows it in every open, so only the final path
// tells that the handle is the link's target. The file's own DOS path settles the common case;
// opening its folder to compare with costs Wine three times as much.
bool IsHeldEntryAtPath(const HeldEntry& entry, const char16_t* path) {
    const HANDLE file = HandleOf(entry);
    char16_t finalPath[kFinalPathCapacity];
    const DWORD length = GetFinalPathNameByHandleW(file, Wide(finalPath), kFinalPathCapacity,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length > 0 && length < kFinalPathCapacity && IsDosFinalPathOf(finalPath, path)) {
        return true;
    }
    const HANDLE folder = OpenFolderOf(path);
    if (folder == INVALID_HANDLE_VALUE) return false;
    HandleFinalPaths paths(file, folder);
    const bool itself = IsFileLeafOfFolder(paths, LeafOf(path));
    CloseHandle(folder);
    return itself;
}

FolderIdentity IdentifyFolder(const char16_t* path) {
    const HANDLE folder = OpenItself(path, FILE_READ_ATTRIBUTES);
    if (folder == INVALID_HANDLE_VALUE) return {false, 0, 0};
    const FolderIdentity identity = IdentityOf(folder);
    CloseHandle(folder);
    return identity;
}

FolderIdentity IdentifyFolderOf(const char16_t* path) {
    char16_t folder[kMaxPath];
    if (!ComposeText(folder, u"%s", {path})) return {false, 0, 0};
    RemoveLastComponent(folder);
    return IdentifyFolder(folder);
}

FolderIdentity IdentifyHeld(const HeldEntry& entry) { return IdentityOf(HandleOf(entry)); }

// The parent is opened first and must be a real folder: the new folder is made inside that
// very one, whatever happens to the path meanwhile. It is held for its rights to be read back
// through the handle that made it.
int CreateProtectedFolder(const char16_t* path, const char16_t* rightsText, HeldEntry& made) {
    const HANDLE parent = OpenFolderOf(path);
    if (parent == INVALID_HANDLE_VALUE) return ERROR_PATH_NOT_FOUND;
    DWORD error = kErrorReparsePointEncountered;  // mingw-w64's headers lack its name
    PSECURITY_DESCRIPTOR rights = nullptr;
    if (IdentityOf(parent).known) {
        error = SecurityDescriptorOf(rightsText, rights);
    }
    if (error == 0) {
        const DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
        HANDLE folder = INVALID_HANDLE_VALUE;
        error = CreateInFolder(parent, LeafOf(path), access, rights, kFileCreate,
                               kFileDirectoryFile, folder);
        if (error == 0) made = {folder, access, EntryKind::Folder, 1};
        LocalFree(rights);
    }
    CloseHandle(parent);
    return static_cast<int>(error);
}
