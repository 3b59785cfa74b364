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

// The given rights through the handle, never a new owner; protected, so nothing from above is
// inherited.
DWORD SetProtectedDacl(HANDLE handle, const char16_t* rightsText) {
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

// An entry of a DACL that can't be read counts as one that lets everyone do anything.
constexpr AccessEntry kUnreadableEntry{true, true, true, true, GENERIC_ALL, u"S-1-1-0"};

// A volume that keeps no ACLs keeps no owners either. One that can't be told keeps them.
bool KeepsOwners(HANDLE handle) {
    DWORD volumeFlags = 0;
    return !GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &volumeFlags,
                                          nullptr, 0) ||
           (volumeFlags & FILE_PERSISTENT_ACLS) != 0;
}

}  // namespace

DWORD SecurityDescriptorOf(const char16_t* rightsText, PSECURITY_DESCRIPTOR& rights) {
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(rightsText), SDDL_REVISION_1,
                                                                &rights, nullptr)
               ? 0
               : GetLastError();
}

int ReadSecurity(const HeldEntry& entry, SecurityReader& reader, bool& hasDacl) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(HandleOf(entry), SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return static_cast<int>(error);
    char16_t sid[kSidTextCapacity];
    const bool read = owner != nullptr && CopySidText(owner, sid);
    hasDacl = dacl != nullptr;
    if (reader.Owner(read ? OwnerAnswer::Read : OwnerAnswer::Unreadable, read ? sid : u"")) {
        bool more = true;
        for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && more; ++i) {
            void* header = nullptr;
            more = GetAce(dacl, i, &header)
                       ? reader.Entry(EntryOf(static_cast<const ACE_HEADER*>(header)))
                       : reader.Entry(kUnreadableEntry);
        }
    }
    LocalFree(descriptor);
    return 0;
}

bool HeldVolumeKeepsOwners(const HeldEntry& entry) { return KeepsOwners(HandleOf(entry)); }

int SetProtectedRights(const HeldEntry& entry, const char16_t* rights) {
    if ((entry.access & WRITE_DAC) == 0) return ERROR_ACCESS_DENIED;
    return static_cast<int>(SetProtectedDacl(HandleOf(entry), rights));
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
