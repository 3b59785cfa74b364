// Who counts as an administrator of this PC when judging who made a file or folder. Portable,
// so that the host tests cover every kind of owner a factory image may carry.
#include "platform/platform_operations.h"

namespace {

// BUILTIN\Administrators, SYSTEM, and TrustedInstaller's service SID, which owns the system's
// own files. Text forms as the system writes them.
constexpr const char16_t* kAdministratorSids[] = {
    u"S-1-5-32-544",
    u"S-1-5-18",
    u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
};

bool IsAdministratorSid(const char16_t* sid) {
    for (const char16_t* administrator : kAdministratorSids) {
        if (CompareIgnoringAsciiCase(sid, administrator) == 0) return true;
    }
    return false;
}

// The tool's own user does not change during a run: read once, as the check after the copy
// asks for every folder of the reserve.
bool IsTokenUser(const char16_t* sid) {
    static char16_t user[kSidTextCapacity];
    static const bool read = ReadTokenUser(user);
    return read && CompareIgnoringAsciiCase(sid, user) == 0;
}

}  // namespace

// An account's membership is asked last: it may have to reach a domain.
bool IsAdministratorAccount(const char16_t* sid) {
    return IsAdministratorSid(sid) || IsTokenUser(sid) ||
           QueryAdministratorsMembership(sid) == Membership::Member;
}

// The volume is asked only for an owner that would not pass: asking costs as much as the rest.
Owner QueryOwner(const char16_t* path) {
    char16_t sid[kSidTextCapacity];
    if (ReadOwner(path, sid) == OwnerAnswer::Read && IsAdministratorAccount(sid)) {
        return Owner::Trusted;
    }
    return VolumeKeepsOwners(path) ? Owner::Untrusted : Owner::None;
}
