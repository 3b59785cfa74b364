// What the Windows side's files share: the casts between the portable text and Windows', the
// lookup of functions older Windows lacks, and the helpers one concern lends another. Only the
// *_win32.cpp files include it; each helper's definition is in the file its comment names.
#pragma once

#include <windows.h>

#include "platform/platform_operations.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is 16-bit code units");

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

/// The handle a HeldEntry holds.
inline HANDLE HandleOf(const HeldEntry& entry) { return entry.handle; }

inline uint64_t Ticks(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

inline uint64_t FileSize(DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; }

// NtCreateFile's dispositions and options (ntifs.h, which mingw-w64's headers lack).
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileOpenIf = 3;
constexpr ULONG kFileDirectoryFile = 0x1;
constexpr ULONG kFileSynchronousIoNonalert = 0x20;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileOpenReparsePoint = 0x200000;

// A function of a loaded system DLL that older Windows may lack; null there.
template <typename Function>
Function LookUp(HMODULE dll, const char* name) {
    const FARPROC found = dll ? GetProcAddress(dll, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// process_win32.cpp

/// A DLL that is no KnownDLL, loaded by its full path in the system folder; null on failure.
HMODULE LoadSystemDll(const char16_t* name);

// files_win32.cpp

constexpr DWORD kShareWithAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// Sharing that no handle with write access (for a folder: to add entries) can meet, either way.
constexpr DWORD kShareWithNoWriter = FILE_SHARE_READ | FILE_SHARE_DELETE;

/// A file or folder opened itself, for reading what it is: a link at the path is not followed.
HANDLE OpenItself(const char16_t* path, DWORD access, DWORD sharing = kShareWithAll);

/// The handle's attributes and reparse tag; false when they can't be read.
bool ReadAttributeTag(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO& tag);

/// Whether the tag names a link (IsLinkReparsePoint).
bool IsLinkTag(const FILE_ATTRIBUTE_TAG_INFO& tag);

/// Whether the handle is a link; one whose kind can't be read counts as one.
bool IsLinkHandle(HANDLE handle);

// identity_win32.cpp

/// The last component of a path.
const char16_t* LeafOf(const char16_t* path);

/// The folder a path's file lies in, opened itself: a link there is opened, never followed.
HANDLE OpenFolderOf(const char16_t* path);

/// Who the open folder is; unknown for a file or a link.
FolderIdentity IdentityOf(HANDLE folder);

/// Opens or creates `leaf` inside the open folder (NtCreateFile relative to it); a link at the
/// leaf is opened itself. 0 when opened, else the system's error number.
DWORD CreateInFolder(HANDLE folder, const char16_t* leaf, ACCESS_MASK access,
                     PSECURITY_DESCRIPTOR security, ULONG disposition, ULONG options,
                     HANDLE& opened);

/// Opens `leaf` inside the open folder as NtCreateFile does relative to it, by exactly that name
/// (its letter case too), with the sharing given; a link at the leaf is opened itself. 0 when
/// opened, else the system's error number.
DWORD OpenExactlyInFolder(HANDLE folder, const char16_t* leaf, ACCESS_MASK access, ULONG sharing,
                          HANDLE& opened);

/// Whether the open file is the log: no link, one name, and `leaf` in the open folder.
bool IsPlainFileInFolder(HANDLE file, HANDLE folder, const char16_t* leaf);

// rights_win32.cpp

/// Rights written in SDDL as a security descriptor, to be freed with LocalFree: 0 or the
/// system's number.
DWORD SecurityDescriptorOf(const char16_t* rightsText, PSECURITY_DESCRIPTOR& rights);
