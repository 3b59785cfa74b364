// The platform operations on Windows: the only code that talks to the system.
#include <windows.h>
#include <aclapi.h>
#include <authz.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <winternl.h>

#include <cstdio>

#include "platform/platform_operations.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is 16-bit code units");

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

uint64_t Ticks(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

uint64_t FileSize(DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; }

// A search's data carries the reparse tag, which tells a link from a deduplicated file.
EntryFacts FactsOf(const WIN32_FIND_DATAW& found) {
    const bool reparsePoint = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const uint64_t lastWrite = Ticks(found.ftLastWriteTime);
    if (IsLinkReparsePoint(reparsePoint, found.dwReserved0)) {
        return {EntryKind::Link, 0, lastWrite};
    }
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {EntryKind::Folder, 0, lastWrite};
    }
    return {EntryKind::File, FileSize(found.nFileSizeHigh, found.nFileSizeLow), lastWrite};
}

// NtCreateFile's dispositions and options (ntifs.h, which mingw-w64's headers lack).
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileOpenIf = 3;
constexpr ULONG kFileDirectoryFile = 0x1;
constexpr ULONG kFileSynchronousIoNonalert = 0x20;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileOpenReparsePoint = 0x200000;

bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// A function of a loaded system DLL that older Windows may lack; null there.
template <typename Function>
Function LookUp(HMODULE dll, const char* name) {
    const FARPROC found = dll ? GetProcAddress(dll, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

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

bool CopySidText(PSID sid, char16_t (&text)[kSidTextCapacity]) {
    LPWSTR converted = nullptr;
    if (!ConvertSidToStringSidW(sid, &converted)) return false;
    const bool fits = ComposeText(text, u"%s", {reinterpret_cast<const char16_t*>(converted)});
    LocalFree(converted);
    return fits;
}

// The groups Windows works out for the account, as its logon would get them; a group kept
// for denying only grants nothing.
Membership AdministratorsAmongGroups(AUTHZ_CLIENT_CONTEXT_HANDLE context,
                                     decltype(&AuthzGetInformationFromContext) getInformation) {
    DWORD size = 0;
    getInformation(context, AuthzContextInfoGroupsSids, 0, &size, nullptr);
    const HLOCAL buffer = size != 0 ? LocalAlloc(LMEM_FIXED, size) : nullptr;
    if (!buffer) return Membership::Unknown;
    Membership membership = Membership::Unknown;
    if (getInformation(context, AuthzContextInfoGroupsSids, size, &size, buffer)) {
        const auto* groups = static_cast<const TOKEN_GROUPS*>(buffer);
        membership = Membership::NotMember;
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            const SID_AND_ATTRIBUTES& group = groups->Groups[i];
            if (IsWellKnownSid(group.Sid, WinBuiltinAdministratorsSid) &&
                (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0) {
                membership = Membership::Member;
            }
        }
    }
    LocalFree(buffer);
    return membership;
}

// Authz works out an account's groups from its SID alone, nested and domain groups included;
// it fails for an account unknown here or in a domain it can't reach.
Membership MembershipThroughAuthz(HMODULE authz, PSID sid) {
    const auto startManager = LookUp<decltype(&AuthzInitializeResourceManager)>(
        authz, "AuthzInitializeResourceManager");
    const auto startContext = LookUp<decltype(&AuthzInitializeContextFromSid)>(
        authz, "AuthzInitializeContextFromSid");
    const auto getInformation = LookUp<decltype(&AuthzGetInformationFromContext)>(
        authz, "AuthzGetInformationFromContext");
    const auto freeContext = LookUp<decltype(&AuthzFreeContext)>(authz, "AuthzFreeContext");
    const auto freeManager = LookUp<decltype(&AuthzFreeResourceManager)>(
        authz, "AuthzFreeResourceManager");
    if (!startManager || !startContext || !getInformation || !freeContext || !freeManager) {
        return Membership::Unknown;
    }
    AUTHZ_RESOURCE_MANAGER_HANDLE manager = nullptr;
    if (!startManager(AUTHZ_RM_FLAG_NO_AUDIT, nullptr, nullptr, nullptr, nullptr, &manager)) {
        return Membership::Unknown;
    }
    Membership membership = Membership::Unknown;
    AUTHZ_CLIENT_CONTEXT_HANDLE context = nullptr;
    if (startContext(0, sid, manager, nullptr, LUID{}, nullptr, &context)) {
        membership = AdministratorsAmongGroups(context, getInformation);
        freeContext(context);
    }
    freeManager(manager);
    return membership;
}

// A file or folder opened itself, for reading what it is: a link at the path is not followed.
HANDLE OpenItself(const char16_t* path, DWORD access) {
    return CreateFileW(Wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

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

const char16_t* LeafOf(const char16_t* path) {
    const char16_t* leaf = path;
    for (const char16_t* unit = path; *unit; ++unit) {
        if (*unit == u'\\') leaf = unit + 1;
    }
    return leaf;
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

// Opens or creates `leaf` inside the open folder, so that no change to the folder's path can
// lead it elsewhere; a link at the leaf is opened itself, never followed. NTDLL is always
// loaded, and NtCreateFile is the call that opens relative to a folder. Returns the system's
// error number, 0 when opened.
DWORD CreateInFolder(HANDLE folder, const char16_t* leaf, ACCESS_MASK access,
                     PSECURITY_DESCRIPTOR security, ULONG disposition, ULONG options,
                     HANDLE& opened) {
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
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, folder, security);
    IO_STATUS_BLOCK status;
    opened = INVALID_HANDLE_VALUE;
    const NTSTATUS result = create(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                   FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, disposition,
                                   options | kFileSynchronousIoNonalert | kFileOpenReparsePoint,
                                   nullptr, 0);
    if (result >= 0) return 0;
    opened = INVALID_HANDLE_VALUE;
    return toError(result);
}

HANDLE OpenInFolder(HANDLE folder, const char16_t* leaf) {
    // Write access only to undo a short write: every write names the end of the file.
    HANDLE file = INVALID_HANDLE_VALUE;
    CreateInFolder(folder, leaf, FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES, nullptr,
                   kFileOpenIf, kFileNonDirectoryFile, file);
    return file;
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

// Rights of the reserve's folders: full control for Administrators and SYSTEM, read and list
// for Users, passed down to all below and never inherited from above.
constexpr const wchar_t* kAdministratorsFolderRights =
    L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// The same for a reserve file: Users may read and execute it.
constexpr const wchar_t* kAdministratorsFileRights =
    L"D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";

// Rights as a security descriptor, to be freed with LocalFree; 0 or the system's number.
DWORD SecurityDescriptorOf(const wchar_t* rightsText, PSECURITY_DESCRIPTOR& rights) {
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(rightsText, SDDL_REVISION_1,
                                                                &rights, nullptr)
               ? 0
               : GetLastError();
}

enum class Rights { Closed, Open, OwnerUntrusted };

AccessEntry EntryOf(const ACE_HEADER* header) {
    AccessEntry entry{};
    // Every allow entry's layout starts as ACCESS_ALLOWED_ACE's; object entries are not for files.
    entry.allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                   header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    entry.forItself = (header->AceFlags & INHERIT_ONLY_ACE) == 0;
    entry.forSubfolders = (header->AceFlags & CONTAINER_INHERIT_ACE) != 0;
    entry.forFiles = (header->AceFlags & OBJECT_INHERIT_ACE) != 0;
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    entry.mask = allowed->Mask;
    if (!entry.allows || !CopySidText(const_cast<DWORD*>(&allowed->SidStart), entry.sid)) {
        entry.allows = false;  // a deny entry, or one whose SID can't be read, grants nothing here
    }
    return entry;
}

// Reads the owner and the DACL through the handle and has the guard judge them.
Rights JudgeSecurity(HANDLE handle, RightsGuard& guard, DWORD& error) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    error = GetSecurityInfo(handle, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return Rights::Open;
    char16_t sid[kSidTextCapacity];
    const bool read = owner != nullptr && CopySidText(owner, sid);
    Rights rights = Rights::OwnerUntrusted;
    if (guard.TrustsOwner(read ? OwnerAnswer::Read : OwnerAnswer::Unreadable, read ? sid : u"")) {
        rights = dacl == nullptr ? Rights::Open
                                 : Rights::Closed;  // no DACL: anyone may do anything
        for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && rights == Rights::Closed; ++i) {
            void* header = nullptr;
            if (!GetAce(dacl, i, &header) ||
                guard.OpensToOthers(EntryOf(static_cast<const ACE_HEADER*>(header)))) {
                rights = Rights::Open;
            }
        }
    }
    LocalFree(descriptor);
    return rights;
}

// A volume that keeps no ACLs keeps no owners either. One that can't be told keeps them.
bool KeepsOwners(HANDLE handle) {
    DWORD volumeFlags = 0;
    return !GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &volumeFlags,
                                          nullptr, 0) ||
           (volumeFlags & FILE_PERSISTENT_ACLS) != 0;
}

// A volume that keeps no rights (FAT) passes whatever was read; it is asked only for rights that
// would not pass, as asking costs Wine as much as the rest.
Rights JudgeRights(HANDLE handle, RightsGuard& guard, DWORD& error) {
    const Rights rights = JudgeSecurity(handle, guard, error);
    if (rights == Rights::Closed || KeepsOwners(handle)) return rights;
    error = 0;
    return Rights::Closed;
}

// Opens exactly this file or folder with `access`, and with what reading and changing its rights
// need: without the right to change them, they can still be read, and need no change. `access`
// tells what the handle was given.
HANDLE OpenToGuard(const char16_t* path, DWORD& access) {
    access |= READ_CONTROL | WRITE_DAC;
    HANDLE handle = OpenItself(path, access);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        access &= ~static_cast<DWORD>(WRITE_DAC);
        handle = OpenItself(path, access);
    }
    return handle;
}

// The given rights through the handle judged, never a new owner; protected, so nothing from
// above is inherited.
DWORD TakeOverRights(HANDLE handle, const wchar_t* rightsText) {
    PSECURITY_DESCRIPTOR rights = nullptr;
    const DWORD converted = SecurityDescriptorOf(rightsText, rights);
    if (converted != 0) return converted;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(rights, &present, &dacl, &defaulted);
    const DWORD error = SetSecurityInfo(
        handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, dacl, nullptr);
    LocalFree(rights);
    return error;
}

// Judges the rights read through the handle; takes open ones over with `rightsText` where the
// handle may, and judges them again. 0, or the number the guard's rules give.
DWORD GuardRights(HANDLE handle, DWORD access, RightsGuard& guard, const wchar_t* rightsText) {
    DWORD error = 0;
    Rights rights = JudgeRights(handle, guard, error);
    if (error == 0 && rights == Rights::Open) {
        error = (access & WRITE_DAC) != 0 ? TakeOverRights(handle, rightsText)
                                          : ERROR_ACCESS_DENIED;
        if (error == 0) rights = JudgeRights(handle, guard, error);
    }
    if (error == 0 && rights != Rights::Closed) error = ERROR_ACCESS_DENIED;
    return error;
}

// Whether the opened file is the entry at `path` itself, by its final path. Wine shows a
// symbolic link to a file as that file and follows it in every open, so only the final path
// tells that the handle is the link's target. The file's own DOS path settles the common case;
// opening its folder to compare with costs Wine three times as much.
bool IsEntryAtPath(HANDLE file, const char16_t* path) {
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

DWORD SetLastWrite(HANDLE file, uint64_t lastWrite) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(lastWrite);
    time.dwHighDateTime = static_cast<DWORD>(lastWrite >> 32);
    return SetFileTime(file, nullptr, nullptr, &time) ? 0 : GetLastError();
}

}  // namespace

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

OwnerAnswer ReadOwner(const char16_t* path, char16_t (&sid)[kSidTextCapacity]) {
    const HANDLE handle = OpenItself(path, READ_CONTROL | FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return OwnerAnswer::Unreadable;
    OwnerAnswer answer = OwnerAnswer::Unreadable;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
        if (owner != nullptr && CopySidText(owner, sid)) answer = OwnerAnswer::Read;
        LocalFree(descriptor);
    }
    CloseHandle(handle);
    return answer;
}

bool VolumeKeepsOwners(const char16_t* path) {
    const HANDLE handle = OpenItself(path, FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return true;
    const bool keeps = KeepsOwners(handle);
    CloseHandle(handle);
    return keeps;
}

bool ReadTokenUser(char16_t (&sid)[kSidTextCapacity]) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                      CopySidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, sid);
    CloseHandle(token);
    return read;
}

Membership QueryAdministratorsMembership(const char16_t* sidText) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(Wide(sidText), &sid)) return Membership::Unknown;
    const HMODULE authz = LoadSystemDll(u"authz.dll");
    const Membership membership = authz ? MembershipThroughAuthz(authz, sid) : Membership::Unknown;
    if (authz) FreeLibrary(authz);
    LocalFree(sid);
    return membership;
}

// The comparison Windows documents for file names: ordinal, with its own case table (no locale).
int CompareNames(const char16_t* a, const char16_t* b) {
    return CompareStringOrdinal(Wide(a), -1, Wide(b), -1, TRUE) - CSTR_EQUAL;
}

// Attribute and rights access alone: sharing modes govern data and delete access, so a file
// another program holds, even without sharing, still opens; so does a read-only one. A file of
// another name too (hard-linked) is left as it is.
MarkAnswer GuardAndMarkFile(const char16_t* path, RightsGuard& guard, uint64_t lastWrite) {
    DWORD access = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    const HANDLE file = OpenToGuard(path, access);
    if (file == INVALID_HANDLE_VALUE) return {static_cast<int>(GetLastError()), 0};
    // The standard information has the names' count; GetFileInformationByHandle would also
    // ask for the volume's serial number, which costs Wine six times the rest of the mark.
    FILE_STANDARD_INFO information;
    MarkAnswer answer{0, 0};
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &information, sizeof information)) {
        answer.error = static_cast<int>(GetLastError());
    } else if (information.Directory) {
        answer.error = kErrorReparsePointEncountered;
    } else {
        answer.names = information.NumberOfLinks;
        DWORD error = 0;
        if (answer.names == 1 && (IsLinkHandle(file) || !IsEntryAtPath(file, path))) {
            error = kErrorReparsePointEncountered;
        }
        if (answer.names == 1 && error == 0) {
            error = GuardRights(file, access, guard, kAdministratorsFileRights);
        }
        if (answer.names == 1 && error == 0) error = SetLastWrite(file, lastWrite);
        answer.error = static_cast<int>(error);
    }
    CloseHandle(file);
    return answer;
}

unsigned QueryDriveType(const char16_t* root) { return GetDriveTypeW(Wide(root)); }

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

// The parent is opened first and must be a real folder: the new folder is made inside that
// very one, whatever happens to the path meanwhile.
int MakeAdministratorsFolder(const char16_t* path, FolderIdentity& made) {
    const HANDLE parent = OpenFolderOf(path);
    if (parent == INVALID_HANDLE_VALUE) return ERROR_PATH_NOT_FOUND;
    DWORD error = kErrorReparsePointEncountered;  // mingw-w64's headers lack its name
    PSECURITY_DESCRIPTOR rights = nullptr;
    if (IdentityOf(parent).known) {
        error = SecurityDescriptorOf(kAdministratorsFolderRights, rights);
    }
    if (error == 0) {
        HANDLE folder = INVALID_HANDLE_VALUE;
        error = CreateInFolder(parent, LeafOf(path), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                               rights, kFileCreate, kFileDirectoryFile, folder);
        if (folder != INVALID_HANDLE_VALUE) {
            made = IdentityOf(folder);
            CloseHandle(folder);
        }
        LocalFree(rights);
    }
    CloseHandle(parent);
    return static_cast<int>(error);
}

// A folder itself, no link: what identifying it also tells, for less.
bool IsFolderItself(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return ReadAttributeTag(handle, tag) && (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           !IsLinkTag(tag);
}

int GuardFolder(const char16_t* path, RightsGuard& guard, FolderIdentity* identity) {
    DWORD access = FILE_READ_ATTRIBUTES;
    const HANDLE folder = OpenToGuard(path, access);
    if (folder == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    if (identity) *identity = IdentityOf(folder);
    const bool folderItself = identity ? identity->known : IsFolderItself(folder);
    const DWORD error = folderItself
                            ? GuardRights(folder, access, guard, kAdministratorsFolderRights)
                            : kErrorReparsePointEncountered;
    CloseHandle(folder);
    return static_cast<int>(error);
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
