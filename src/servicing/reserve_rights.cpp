#include "servicing/reserve_rights.h"

namespace {

// Rights that let their holder add, remove or rename entries in a folder, or change its rights:
// FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY, FILE_DELETE_CHILD, DELETE, WRITE_DAC, WRITE_OWNER, and
// GENERIC_ALL and GENERIC_WRITE, which include them.
constexpr uint32_t kFolderChangeRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 |
                                         0x10000000 | 0x40000000;

// Rights that let their holder change a file's bytes, attributes (its time among them) or
// rights, or remove it: FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_WRITE_EA, FILE_WRITE_ATTRIBUTES,
// DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL and GENERIC_WRITE.
constexpr uint32_t kFileChangeRights = 0x2 | 0x4 | 0x10 | 0x100 | 0x10000 | 0x40000 | 0x80000 |
                                       0x10000000 | 0x40000000;

// Reads an owner and a DACL as the copy needs them: for a folder, what it covers includes the
// folders and files the shell makes inside it during the copy; for a file, what recovery tools
// later read from it as administrators. An owner who is no administrator ends the reading, as
// an account's membership may have to be asked of a domain.
class AdministratorsOnlyReader final : public SecurityReader {
  public:
    explicit AdministratorsOnlyReader(EntryKind kind) : folder_(kind == EntryKind::Folder) {}

    bool Owner(OwnerAnswer answer, const char16_t* sid) override {
        ownerTrusted_ = answer == OwnerAnswer::Read && IsAdministratorAccount(sid);
        return ownerTrusted_;
    }

    bool Entry(const AccessEntry& entry) override {
        opensToOthers_ = entry.allows && (entry.mask & RightsItGives(entry)) != 0 &&
                         !IsAdministratorAccount(entry.sid);
        return !opensToOthers_;
    }

    RightsVerdict Judged(bool hasDacl) const {
        if (!ownerTrusted_) return RightsVerdict::OwnerUntrusted;
        return !hasDacl || opensToOthers_ ? RightsVerdict::Open : RightsVerdict::Closed;
    }

  private:
    uint32_t RightsItGives(const AccessEntry& entry) const {
        if (!folder_) return entry.forItself ? kFileChangeRights : 0;
        return ((entry.forItself || entry.forSubfolders) ? kFolderChangeRights : 0) |
               (entry.forFiles ? kFileChangeRights : 0);
    }

    const bool folder_;
    bool ownerTrusted_ = false;
    bool opensToOthers_ = false;
};

}  // namespace

bool VolumeOwners::Kept(const HeldEntry& entry) {
    if (known_ == Known::No) known_ = HeldVolumeKeepsOwners(entry) ? Known::Kept : Known::NotKept;
    return known_ == Known::Kept;
}

namespace {

// An error, else access denied for what is not an administrators' alone.
int Refused(int error, RightsVerdict verdict) {
    return error == 0 && verdict != RightsVerdict::Closed ? kErrorAccessDenied : error;
}

}  // namespace

// A volume that keeps no rights (FAT) passes whatever was read.
int JudgeRights(const HeldEntry& entry, VolumeOwners& volume, RightsVerdict& verdict) {
    AdministratorsOnlyReader reader(entry.kind);
    bool hasDacl = true;
    const int error = ReadSecurity(entry, reader, hasDacl);
    if (error != 0) return error;
    verdict = reader.Judged(hasDacl);
    if (verdict != RightsVerdict::Closed && !volume.Kept(entry)) verdict = RightsVerdict::Closed;
    return 0;
}

int TakeOverRights(const HeldEntry& entry, VolumeOwners& volume) {
    int error = SetProtectedRights(entry, entry.kind == EntryKind::Folder
                                              ? kAdministratorsFolderRights
                                              : kAdministratorsFileRights);
    RightsVerdict verdict = RightsVerdict::Open;
    if (error == 0) error = JudgeRights(entry, volume, verdict);
    return Refused(error, verdict);
}

int JudgeAdministratorsOnly(const HeldEntry& entry) {
    VolumeOwners volume;
    RightsVerdict verdict = RightsVerdict::Open;
    const int error = JudgeRights(entry, volume, verdict);
    return Refused(error, verdict);
}

int GuardAdministratorsOnly(const HeldEntry& entry) {
    VolumeOwners volume;
    RightsVerdict verdict = RightsVerdict::Open;
    const int error = JudgeRights(entry, volume, verdict);
    if (error != 0 || verdict == RightsVerdict::Closed) return error;
    return verdict == RightsVerdict::Open ? TakeOverRights(entry, volume) : kErrorAccessDenied;
}

namespace {

// A link there could lead the copy anywhere; a file is no folder to copy into.
int GuardHeldFolder(const HeldEntry& folder, FolderIdentity* identity) {
    if (folder.kind == EntryKind::Link) return kErrorReparsePointEncountered;
    if (folder.kind == EntryKind::File) return kErrorFileExists;
    if (identity) *identity = IdentifyHeld(folder);
    return GuardAdministratorsOnly(folder);
}

}  // namespace

int GuardFolder(const char16_t* path, FolderIdentity* identity) {
    HeldEntry folder{};
    int error = HoldToGuard(path, folder);
    if (error == 0) error = GuardHeldFolder(folder, identity);
    ReleaseEntry(folder);
    return error;
}

int GuardFolderIn(const HeldEntry& parent, const char16_t* name, FolderIdentity* identity,
                  HeldEntry& folder) {
    int error = HoldEntryIn(parent, name, false, folder);
    if (error == 0) error = GuardHeldFolder(folder, identity);
    if (error != 0) ReleaseEntry(folder);
    return error;
}

// A file with a second name elsewhere (a system file hard-linked where a user can write, on
// Windows 7 and 8.1) is left as it is, as is anything that is no file at `path`.
int GuardAndMarkFile(const HeldEntry& folder, const char16_t* name, const char16_t* path,
                     uint64_t lastWrite, uint64_t& kept) {
    HeldEntry file{};
    int error = HoldEntryIn(folder, name, true, file);
    if (error != 0) return error;
    if (file.kind != EntryKind::File || file.names > 1 || !IsHeldEntryAtPath(file, path)) {
        error = kErrorReparsePointEncountered;
    } else {
        error = GuardAdministratorsOnly(file);
    }
    if (error == 0) error = MarkHeldFile(file, lastWrite, kept);
    ReleaseEntry(file);
    return error;
}

int MakeAdministratorsFolder(const char16_t* path, FolderIdentity& made) {
    HeldEntry folder{};
    int error = CreateProtectedFolder(path, kAdministratorsFolderRights, folder);
    if (error != 0) return error;
    made = IdentifyHeld(folder);
    error = JudgeAdministratorsOnly(folder);
    ReleaseEntry(folder);
    return error;
}
