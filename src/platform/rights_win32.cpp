// Owners and rights on Windows: who owns a file or folder, who the tool runs as, who is in
// Administrators, and a folder's or file's DACL judged and taken over through its handle.
#include <windows.h>
#include <aclapi.h>
#include <authz.h>
#include <sddl.h>

#include "platform/win32.h"

namespace {

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

}  // namespace

// Opens exactly this file or folder with `access`, and with what reading and changing its rights
// need: without the right to change them, they can still be read, and need no change. `access`
// tells what the handle was given. No writer shares it: from this open on, the rights taken
// over through it are the only way in.
HANDLE OpenToGuard(const char16_t* path, DWORD& access) {
    access |= READ_CONTROL | WRITE_DAC;
    HANDLE handle = OpenItself(path, access, kShareWithNoWriter);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        access &= ~static_cast<DWORD>(WRITE_DAC);
        handle = OpenItself(path, access, kShareWithNoWriter);
    }
    return handle;
}

DWORD JudgeRightsKept(HANDLE handle, RightsGuard& guard) {
    DWORD error = 0;
    const Rights rights = JudgeRights(handle, guard, error);
    return error == 0 && rights != Rights::Closed ? ERROR_ACCESS_DENIED : error;
}

DWORD GuardFileRights(HANDLE file, DWORD access, RightsGuard& guard) {
    return GuardRights(file, access, guard, kAdministratorsFileRights);
}

DWORD AdministratorsFolderRights(PSECURITY_DESCRIPTOR& rights) {
    return SecurityDescriptorOf(kAdministratorsFolderRights, rights);
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

int GuardFolder(const char16_t* path, RightsGuard& guard, FolderIdentity* identity) {
    DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
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

// A file's owner is judged before its final path is read, and its final path before any rights
// change: Wine follows a link to a file in every open, and the rights then read and changed
// would be those of whatever it leads to.
int GuardHeldEntry(const HeldEntry& folder, const char16_t* name, const HeldEntry& entry,
                   RightsGuard& guard) {
    const HANDLE handle = HandleOf(entry);
    if (entry.kind == EntryKind::Folder) {
        return static_cast<int>(
            GuardRights(handle, entry.access, guard, kAdministratorsFolderRights));
    }
    DWORD error = 0;
    const Rights rights = JudgeRights(handle, guard, error);
    if (error != 0) return static_cast<int>(error);
    if (rights == Rights::OwnerUntrusted) return ERROR_ACCESS_DENIED;
    error = CheckLeafOfHeldFolder(handle, HandleOf(folder), name);
    if (error != 0) return static_cast<int>(error);
    return static_cast<int>(GuardRights(handle, entry.access, guard, kAdministratorsFileRights));
}
