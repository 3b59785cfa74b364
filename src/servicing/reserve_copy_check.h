// The copy of FU into the reserve, checked whole on both sides of the shell's copy: before it,
// so that the shell is never asked for a copy that can be seen to fail or that would write
// through a link; after it, because a shell may report success for work it did not finish.
// Between the two, the reserve's own folders are made by the tool, so that only administrators
// can change what is in them.
#pragma once

#include <cstddef>

#include "platform/platform_operations.h"

constexpr size_t kReserveFolderCount = 2;

/// Who `preload` and `preload\RM_Reserve` are, as judged before the copy or made for it.
struct ReserveFolders {
    FolderIdentity identities[kReserveFolderCount];
};

/// What the check before the copy found: 0 or the error number, how many entries FU holds, and
/// which of the reserve's folders exist.
struct CopyPreflight {
    int error;
    size_t entries;
    ReserveFolders folders;
};

/// Checks FU (the folder itself and every folder and file in it, and the path each maps to in
/// the drive's reserve), `preload` and every entry of `preload\RM_Reserve` below the drive's
/// root (`X:\`), whether FU brings it or not: each must be an administrators' alone, by its
/// owner (else kErrorAccessDenied) and its rights, which are taken over where they let others
/// change it, and none may be held by a writer (kErrorSharingViolation); a link FU does not
/// enter is judged by its owner alone. Two names in one folder of FU that the file system takes
/// for one, or two entries of a reserve folder that answer for one of FU's names, give
/// kErrorDuplicateName. Each reserve file FU will replace gets a last-write time FU's file
/// can't have, so that one the shell leaves behind is seen after the copy; a time that does not
/// take gives kErrorWriteFault. Its bytes are never touched. `fu` has no trailing `\`.
CopyPreflight CheckCopyBeforeShell(const char16_t* fu, const char16_t* driveRoot);

/// Makes `preload` and `preload\RM_Reserve` on the drive where they are missing, with rights
/// that let only administrators change them, and identifies them. A name that appears meanwhile
/// is judged as one that was there: a link gives kErrorReparsePointEncountered, a file
/// kErrorFileExists, an owner who is no administrator kErrorAccessDenied. Returns 0 or the
/// error number.
int MakeReserve(const char16_t* driveRoot, ReserveFolders& folders);

/// Whether the reserve holds all of FU as it is: `preload` and `RM_Reserve` still the folders
/// identified, every folder a real folder an administrator owns, every file a real file with
/// its size and its last-write time (within FAT's 2 seconds), each found by its own name in its
/// folder's listing, which answers for one of FU's names at most. 0; else
/// kErrorReparsePointEncountered for a link or a folder put in place of the tool's, and
/// kErrorWriteFault for anything missing or stale.
int CheckCopyAfterShell(const char16_t* fu, const char16_t* driveRoot, ReserveFolders folders);
