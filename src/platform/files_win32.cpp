// Files and folders on Windows as the copy and the log meet them: a name's kind, a folder's
// listing, the system's comparison of names, the mark on a file the copy replaces, the log's
// append and the companion's copy.
#include <windows.h>

#include "platform/win32.h"

namespace {

bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// A listing's data carries the reparse tag, which tells a link from a deduplicated file.
EntryFacts FactsOf(DWORD attributes, DWORD tag, uint64_t lastWrite, uint64_t size) {
    if (IsLinkReparsePoint((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, tag)) {
        return {EntryKind::Link, 0, lastWrite};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {EntryKind::Folder, 0, lastWrite};
    return {EntryKind::File, size, lastWrite};
}

EntryFacts FactsOf(const WIN32_FIND_DATAW& found) {
    return FactsOf(found.dwFileAttributes, found.dwReserved0, Ticks(found.ftLastWriteTime),
                   FileSize(found.nFileSizeHigh, found.nFileSizeLow));
}

// For a reparse point, a directory listing's EaSize holds its reparse tag ([MS-FSCC] 2.4.17,
// FileIdBothDirectoryInformation).
EntryFacts FactsOf(const FILE_ID_BOTH_DIR_INFO& listed) {
    return FactsOf(listed.FileAttributes, listed.EaSize,
                   static_cast<uint64_t>(listed.LastWriteTime.QuadPart),
                   static_cast<uint64_t>(listed.EndOfFile.QuadPart));
}

// Hands one batch of a handle's listing to the visitor; false when the visitor ends it or a
// name is longer than any file system keeps (255 units), with `error` set for the latter.
bool VisitBatch(const BYTE* batch, FolderVisitor& visitor, DWORD& error) {
    constexpr size_t kNameCapacity = 256;
    for (const BYTE* at = batch;;) {
        const auto* listed = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
        const size_t units = listed->FileNameLength / sizeof(WCHAR);
        if (units >= kNameCapacity) {
            error = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        char16_t name[kNameCapacity];
        memcpy(name, listed->FileName, units * sizeof(char16_t));
        name[units] = 0;
        if (!IsDotOrDotDot(Wide(name)) && !visitor.Visit(name, FactsOf(*listed))) return false;
        if (listed->NextEntryOffset == 0) return true;
        at += listed->NextEntryOffset;
    }
}

// What the held handle is, by its own attributes: on Windows a link opened itself says so.
bool ReadHeldKind(HANDLE handle, HeldEntry& entry) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!ReadAttributeTag(handle, tag) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
        return false;
    }
    entry.kind = IsLinkTag(tag)                                         ? EntryKind::Link
                 : (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder
                                                                        : EntryKind::File;
    entry.names = standard.NumberOfLinks;
    return true;
}

HANDLE OpenInFolder(HANDLE folder, const char16_t* leaf) {
    // Write access only to undo a short write: every write names the end of the file.
    HANDLE file = INVALID_HANDLE_VALUE;
    CreateInFolder(folder, leaf, FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES, nullptr,
                   kFileOpenIf, kFileNonDirectoryFile, file);
    return file;
}

// Appends at the end of the file whatever its handle's position; a write that does not go
// whole is cut back to the size before it, so the file holds whole records only. A file of odd
// size gets one zero byte first, so that this record and every later one decode.
void AppendWhole(HANDLE file, const char16_t* units, size_t count) {
    FILE_STANDARD_INFO before;
    if (count > kMaxPath ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &before, sizeof before)) {
        return;
    }
    const DWORD pad = static_cast<DWORD>(before.EndOfFile.QuadPart & 1);
    BYTE bytes[1 + kMaxPath * sizeof(char16_t)] = {};
    const DWORD length = pad + static_cast<DWORD>(count * sizeof(char16_t));
    memcpy(bytes + pad, units, count * sizeof(char16_t));
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    if (WriteFile(file, bytes, length, &written, &atEnd) && written == length) return;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile = before.EndOfFile;
    SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

// Sets the last-write time and reads back what the volume kept.
DWORD SetLastWrite(HANDLE file, uint64_t lastWrite, uint64_t& kept) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(lastWrite);
    time.dwHighDateTime = static_cast<DWORD>(lastWrite >> 32);
    if (!SetFileTime(file, nullptr, nullptr, &time)) return GetLastError();
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        return GetLastError();
    }
    kept = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
    return 0;
}

}  // namespace

// A file or folder opened itself, for reading what it is: a link at the path is not followed.
HANDLE OpenItself(const char16_t* path, DWORD access, DWORD sharing) {
    return CreateFileW(Wide(path), access, sharing, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A handle whose kind can't be read counts as a link: nothing is written through it.
bool ReadAttributeTag(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO& tag) {
    return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) != FALSE;
}

bool IsLinkTag(const FILE_ATTRIBUTE_TAG_INFO& tag) {
    return IsLinkReparsePoint((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                              tag.ReparseTag);
}

bool IsLinkHandle(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return !ReadAttributeTag(handle, tag) || IsLinkTag(tag);
}

// One attribute query per name: the copy's checks ask for every file of FU, and a search for
// an exact name costs several times more. Only a reparse point, rare, needs the search's tag.
EntryFacts QueryEntry(const char16_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) {
        return {EntryKind::Missing, 0, 0};
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW(Wide(path), &found);
        if (search == INVALID_HANDLE_VALUE) return {EntryKind::Missing, 0, 0};
        FindClose(search);
        return FactsOf(found);
    }
    const uint64_t lastWrite = Ticks(data.ftLastWriteTime);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {EntryKind::Folder, 0, lastWrite};
    }
    return {EntryKind::File, FileSize(data.nFileSizeHigh, data.nFileSizeLow), lastWrite};
}

int ListFolder(const char16_t* folder, FolderVisitor& visitor) {
    char16_t pattern[kMaxPath];
    if (!ComposeText(pattern, u"%s\\*", {folder})) return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAW found;
    // No short names, and larger batches: the check after the copy lists every folder of it.
    const HANDLE search = FindFirstFileExW(Wide(pattern), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
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

// The comparison Windows documents for file names: ordinal, with its own case table (no locale).
int CompareNames(const char16_t* a, const char16_t* b) {
    return CompareStringOrdinal(Wide(a), -1, Wide(b), -1, TRUE) - CSTR_EQUAL;
}

namespace {

// Opens with `access` and with what reading and changing the rights need: without the right to
// change them, they can still be read, and need no change. `open(access, handle)` answers 0 or
// the system's number; `access` then tells what the handle was given.
template <typename Open>
DWORD OpenToGuard(DWORD& access, Open open, HANDLE& handle) {
    access |= READ_CONTROL | WRITE_DAC;
    DWORD error = open(access, handle);
    if (error == ERROR_ACCESS_DENIED) {
        access &= ~static_cast<DWORD>(WRITE_DAC);
        error = open(access, handle);
    }
    return error;
}

// The opened handle held, its kind read through it; 0, or why it can't be.
int Hold(HANDLE handle, DWORD access, HeldEntry& entry) {
    entry = {handle, access, EntryKind::File, 1};
    if (ReadHeldKind(handle, entry)) return 0;
    const DWORD error = GetLastError();
    ReleaseEntry(entry);
    return static_cast<int>(error);
}

}  // namespace

// Data access, which sharing modes govern, so that a handle another program opened for writing
// before the rights were taken over is met here (a reader that shares reading is not); a
// read-only file opens too. No writer shares it: from this open on, the rights taken over
// through it are the only way in.
int HoldToGuard(const char16_t* path, HeldEntry& entry) {
    DWORD access = FILE_READ_DATA | FILE_READ_ATTRIBUTES;
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD error = OpenToGuard(
        access,
        [path](DWORD granted, HANDLE& opened) {
            opened = OpenItself(path, granted, kShareWithNoWriter);
            return opened == INVALID_HANDLE_VALUE ? GetLastError() : DWORD{0};
        },
        handle);
    return error != 0 ? static_cast<int>(error) : Hold(handle, access, entry);
}

// Some volumes (a FAT image through a user-space driver, a filter) answer success to a new time
// and keep the one they had: the time is read back through the same handle.
int MarkHeldFile(const HeldEntry& file, uint64_t lastWrite, uint64_t& kept) {
    return static_cast<int>(SetLastWrite(HandleOf(file), lastWrite, kept));
}

// As HoldToGuard holds an entry, by the name relative to the folder's handle.
int HoldEntryIn(const HeldEntry& folder, const char16_t* name, bool forMark, HeldEntry& entry) {
    DWORD access = FILE_READ_DATA | FILE_READ_ATTRIBUTES | (forMark ? FILE_WRITE_ATTRIBUTES : 0);
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD error = OpenToGuard(
        access,
        [&folder, name](DWORD granted, HANDLE& opened) {
            return OpenExactlyInFolder(HandleOf(folder), name, granted, kShareWithNoWriter, opened);
        },
        handle);
    return error != 0 ? static_cast<int>(error) : Hold(handle, access, entry);
}

// Listing and traversal only, and every use left to other programs: the folder is walked
// through, never guarded.
int HoldFolderToWalk(const char16_t* path, HeldEntry& folder) {
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
    const HANDLE handle = OpenItself(path, access, kShareWithAll);
    if (handle == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    return Hold(handle, access, folder);
}

int ListHeldFolder(const HeldEntry& folder, FolderVisitor& visitor) {
    alignas(FILE_ID_BOTH_DIR_INFO) BYTE batch[64 * 1024];
    FILE_INFO_BY_HANDLE_CLASS next = FileIdBothDirectoryRestartInfo;
    DWORD error = 0;
    while (GetFileInformationByHandleEx(HandleOf(folder), next, batch, sizeof batch)) {
        if (!VisitBatch(batch, visitor, error)) return static_cast<int>(error);
        next = FileIdBothDirectoryInfo;
    }
    error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(error);
}

void ReleaseEntry(HeldEntry& entry) {
    if (entry.handle != nullptr) CloseHandle(HandleOf(entry));
    entry.handle = nullptr;
}

void AppendToFile(const char16_t* path, const FolderIdentity& identity, const char16_t* units,
                  size_t count) {
    const HANDLE folder = OpenFolderOf(path);
    if (folder == INVALID_HANDLE_VALUE) return;
    if (IsSameFolder(IdentityOf(folder), identity)) {
        const HANDLE file = OpenInFolder(folder, LeafOf(path));
        if (file != INVALID_HANDLE_VALUE) {
            if (IsPlainFileInFolder(file, folder, LeafOf(path))) AppendWhole(file, units, count);
            CloseHandle(file);
        }
    }
    CloseHandle(folder);
}

bool CopyFileOverwrite(const char16_t* source, const char16_t* destination) {
    return CopyFileW(Wide(source), Wide(destination), FALSE) != 0;
}
