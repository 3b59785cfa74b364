// Who may change what the copy writes into: the reserve's folders and files are the
// administrators' alone. An administrator owns each, and nobody else may change it; rights that
// let others in are taken over through the one handle that judged them, and judged again.
#pragma once

#include <cstdint>

#include "platform/platform_operations.h"

/// The rights a folder of the reserve gets: full control for Administrators and SYSTEM, read
/// and list for Users, passed on to all made below it and never inherited from above.
inline constexpr const char16_t* kAdministratorsFolderRights =
    u"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

/// The same for a file of the reserve: Users may read and execute it.
inline constexpr const char16_t* kAdministratorsFileRights =
    u"D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";

/// What an entry's owner and rights leave to administrators.
enum class RightsVerdict {
    Closed,          // an administrator owns it, and nobody else may change it; or the volume
                     // keeps no owners and rights (FAT), where nothing can be judged
    Open,            // an administrator owns it, and its rights let others change it
    OwnerUntrusted,  // its owner is no administrator, or can't be read
};

/// Whether the volume of the entries judged keeps owners and rights: asked of the first entry
/// whose rights would not pass, and then known. Asking costs Wine as much as the rest of a
/// judgment; the entries of one walk lie on one volume, as a link to another is refused.
class VolumeOwners {
  public:
    bool Kept(const HeldEntry& entry);

  private:
    enum class Known { No, Kept, NotKept } known_ = Known::No;
};

/// Judges the held entry's owner and rights as read through its handle. Changes nothing. 0, or
/// the system's number when they can't be read.
int JudgeRights(const HeldEntry& entry, VolumeOwners& volume, RightsVerdict& verdict);

/// Gives the held entry, found Open, the administrators' rights and judges it again: 0;
/// kErrorAccessDenied where it is still not Closed; the system's number.
int TakeOverRights(const HeldEntry& entry, VolumeOwners& volume);

/// Whether the held entry is an administrators' alone, changing nothing: 0, kErrorAccessDenied,
/// or the system's number.
int JudgeAdministratorsOnly(const HeldEntry& entry);

/// The same, taking over rights that let others change it (an owner who is no administrator
/// is never taken over).
int GuardAdministratorsOnly(const HeldEntry& entry);

/// Guards an existing folder the copy writes into, held as HoldToGuard holds it, and identifies
/// it in `identity` unless that is null. A link there gives kErrorReparsePointEncountered, a
/// file kErrorFileExists.
int GuardFolder(const char16_t* path, FolderIdentity* identity);

/// The same for the folder `name` of the held `parent`, as HoldEntryIn opens it; held in
/// `folder` when this answers 0, and nothing held otherwise.
int GuardFolderIn(const HeldEntry& parent, const char16_t* name, FolderIdentity* identity,
                  HeldEntry& folder);

/// Guards the reserve file `name` of the held folder, which FU replaces, held as HoldEntryIn
/// holds it for its mark. It must be a file with no second name (none hard-linked elsewhere),
/// no link, and the entry at `path`, where the shell will write, itself: else
/// kErrorReparsePointEncountered, and nothing changed. It is guarded, and then gets `lastWrite`
/// as its last-write time, read back into `kept`. 0, or the error number.
int GuardAndMarkFile(const HeldEntry& folder, const char16_t* name, const char16_t* path,
                     uint64_t lastWrite, uint64_t& kept);

/// Makes the folder with the administrators' rights, identifies it in `made`, and judges the
/// rights it then has: a volume that did not keep them gives kErrorAccessDenied, on this run as
/// on every later one. 0, kErrorAlreadyExists, or the system's number.
int MakeAdministratorsFolder(const char16_t* path, FolderIdentity& made);
