// The operations through which the logic reaches the system, grouped by what they ask it. The
// Windows build links one *_win32.cpp file for each group; the host tests link an in-memory PC
// with the same functions (tests/fake_pc.cpp, in the same groups). Portable helpers built on
// them sit beside each group's Windows file.
// Everything in this header is portable: text is UTF-16 held as char16_t code units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/error_numbers.h"
#include "platform/text_format.h"

// ================================================================================================
// The process and its console: process_win32.cpp; the console's text rules in console_text.cpp.
// ================================================================================================

// The entry's first acts, in this order, before anything loads a DLL or touches a drive. Each
// takes what the system offers and skips what an older one lacks.

/// A drive that fails (unplugged, offline) makes the call fail, never raises the system's box.
void FailCriticalErrorsWithoutDialog();

/// Lets the process load DLLs from the system folder only, never from the tool's own folder,
/// the current folder or PATH, where others may have planted one.
void RestrictLibraryLoadsToSystemFolder();

/// Has the system refuse to follow junctions that non-administrators made, in every call.
void RefuseJunctionsOfNonAdministrators();

/// Where the process runs, as far as a dialog it raised could be seen.
struct ProcessSession {
    bool windowStationVisible;  // its window station is shown on a screen
    uint32_t sessionId;         // 0: services, and what deployment systems run as SYSTEM
};
ProcessSession QueryProcessSession();

/// Reads the running executable's path. Returns its length in code units, 0 on failure.
/// A path that does not fit is cut to capacity - 1 units (terminated) and capacity is returned.
size_t GetModulePath(char16_t* buffer, size_t capacity);

/// Removes the last component and the `\` before it, in place; a drive root such as C:\ keeps
/// its `\`.
void RemoveLastComponent(char16_t* path);

constexpr unsigned kDriveFixed = 3;

/// The system's kind of drive for a root of the form `X:\`; kDriveFixed for a fixed disk.
unsigned QueryDriveType(const char16_t* root);

/// The local time, as the system clock reads it now.
struct LocalClock {
    int year;  // in full, four digits
    int month;
    int day;
    int hour;
    int minute;
    int second;
};
LocalClock ReadLocalClock();

/// Writes bytes to standard output as it is, in text mode: each LF goes out as CR LF, and to
/// a file or pipe the bytes are buffered until the normal end of the process.
void WriteToStandardOutput(const char* bytes, size_t count);

/// Formats to standard output as single bytes: a code unit up to U+00FF becomes that byte; a
/// unit above it becomes `?` (the formats themselves are ASCII, so only substituted text has one).
void PrintToConsole(const char16_t* format, std::initializer_list<FormatArg> args);

/// Echoes a finished text to standard output, never read as a format. The echo stops at the
/// first code unit above U+00FF.
void EchoToConsole(const char16_t* text);

// ================================================================================================
// What is held open: a file or folder, and what it is (files_win32.cpp).
// ================================================================================================

/// What a name is, as a copy would meet it. A link is a name-surrogate reparse point (symbolic
/// link, junction, mount point): it leads elsewhere. Other reparse points (deduplicated,
/// compressed or cloud files) are the file or folder they hold.
enum class EntryKind { Missing, File, Folder, Link };

struct EntryFacts {
    EntryKind kind;
    uint64_t size;       // a file's bytes; 0 for anything else
    uint64_t lastWrite;  // when it was last written, in 100 ns ticks (FILETIME); 0 if missing
};

/// What exactly this name is; a link at it is reported as a link, never followed. No wildcards.
EntryFacts QueryEntry(const char16_t* path);

/// Whether a file or folder of exactly this name exists, whatever it is. No wildcards.
inline bool PathExists(const char16_t* path) { return QueryEntry(path).kind != EntryKind::Missing; }

/// A file or folder held open by the platform, so that what is read and changed through it is
/// the very entry opened, whatever happens to its path. Only the platform reads `handle`.
struct HeldEntry {
    void* handle;     // null: nothing held
    uint32_t access;  // what the open was granted: a DACL is changed only where it was
    EntryKind kind;   // what the handle is, by its own attributes (never Missing)
    unsigned names;   // a file's number of names: more than 1 when hard-linked elsewhere
};

/// Closes what is held; `entry` then holds nothing.
void ReleaseEntry(HeldEntry& entry);

// ================================================================================================
// Identities and final paths: identity_win32.cpp; their judgment in final_path.cpp.
// ================================================================================================

/// Who a folder is, whatever path leads to it: its volume and its file ID there.
struct FolderIdentity {
    bool known;  // false: no folder was identified, and none ever matches
    uint32_t volume;
    uint64_t file;
};

inline bool IsSameFolder(const FolderIdentity& a, const FolderIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.file == b.file;
}

/// Identifies exactly this folder, opened without following a link. Unknown when it is missing,
/// a file or a link.
FolderIdentity IdentifyFolder(const char16_t* path);

/// Identifies the folder a file's path lies in (the path without its last component).
FolderIdentity IdentifyFolderOf(const char16_t* path);

/// Identifies the held entry: unknown for a file or a link.
FolderIdentity IdentifyHeld(const HeldEntry& entry);

/// Creates the folder at `path` and holds it, with the rights given in SDDL as its own, not
/// inherited. It is created inside its parent folder, opened without following a link; a
/// parent that is missing, a file or a link fails. Held for reading its rights back. Returns 0;
/// kErrorAlreadyExists when the name is taken by anything, a link included; otherwise the
/// system's error number.
int CreateProtectedFolder(const char16_t* path, const char16_t* rights, HeldEntry& made);

/// Whether a reparse point leads elsewhere: a name surrogate (symbolic link, junction, mount
/// point), or one whose tag the system did not report. Data deduplication, compression and
/// cloud storage put reparse points on ordinary files and folders too.
bool IsLinkReparsePoint(bool reparsePoint, uint32_t tag);

/// Room for a final path: one may name a share or a substituted drive's folder, or be in NT
/// form, and be longer than MAX_PATH.
constexpr size_t kFinalPathCapacity = 1024;

/// Normalized names first; the names as opened where normalizing fails, as it does on a share
/// with a folder along the path that can't be read.
enum class PathForm { Dos, Nt, DosOpened, NtOpened };

/// Reads the final paths of an opened file and of an opened folder, as the system resolves them.
class FinalPathReader {
  public:
    /// Both paths in one form; false when the system can't give either in that form.
    virtual bool Read(PathForm form, char16_t (&file)[kFinalPathCapacity],
                      char16_t (&folder)[kFinalPathCapacity]) = 0;

  protected:
    ~FinalPathReader() = default;
};

/// Whether the opened file is exactly `leaf` in the opened folder, by their final paths: in the
/// first form of PathForm's in which the system gives both, never one of each. Volumes the mount
/// manager doesn't know (RAM disks, letters made with DefineDosDevice) have no DOS form.
bool IsFileLeafOfFolder(FinalPathReader& reader, const char16_t* leaf);

/// Whether a file's final path, as the system resolves an opened file, is exactly `leaf` in the
/// folder whose final path is given. The folder's part must match exactly (both come from the
/// same resolution); the leaf's letter case may differ, as a file system that ignores case keeps
/// the case the file was created with.
bool IsFinalPathOfLeafInFolder(const char16_t* fileFinalPath, const char16_t* folderFinalPath,
                               const char16_t* leaf);

/// Whether a file's final path in normalized DOS form (`\\?\D:\…`) names exactly `path`, a
/// drive-letter path, letter case in ASCII aside. Where it does not, the file may still lie
/// there (a substituted drive, a share, a mount point): IsFileLeafOfFolder tells.
bool IsDosFinalPathOf(const char16_t* fileFinalPath, const char16_t* path);

/// Whether the held file is exactly the entry at `path`, by its final path (IsDosFinalPathOf,
/// then IsFileLeafOfFolder against the folder of `path`): Wine follows a link to a file in
/// every open, and only the final path names where it leads.
bool IsHeldEntryAtPath(const HeldEntry& entry, const char16_t* path);

/// Room for a path on a volume: the longest a volume keeps, and a terminator.
constexpr size_t kVolumePathCapacity = 32768;

/// The held entry's path on its volume, without the volume (`\preload\RM_Reserve\a`), into
/// `path` of kVolumePathCapacity units: for one held through its folder, that folder's path and
/// its name, unless it lies elsewhere. No MAX_PATH limits it. 0, or the system's number.
int ReadVolumePath(const HeldEntry& entry, char16_t* path);

// ================================================================================================
// Owners and rights: rights_win32.cpp; who counts as an administrator in owner_trust.cpp.
// ================================================================================================

/// Room for a security identifier in text form ("S-1-5-21-…"): at most 15 sub-authorities of
/// up to 10 digits each, terminator included.
constexpr size_t kSidTextCapacity = 192;

enum class OwnerAnswer {
    Read,        // the owner's SID was read
    Unreadable,  // the file or folder could not be opened, or its owner not read
};

/// The owner of exactly this file or folder, as SID text; a link at it is asked itself, never
/// followed. On a volume that keeps no owners the answer means nothing: VolumeKeepsOwners tells.
OwnerAnswer ReadOwner(const char16_t* path, char16_t (&sid)[kSidTextCapacity]);

/// Whether the volume of exactly this file or folder keeps owners and rights: false for FAT and
/// exFAT; true when it can't be told.
bool VolumeKeepsOwners(const char16_t* path);

/// The SID of the user the tool's own token runs as; false when it can't be read.
bool ReadTokenUser(char16_t (&sid)[kSidTextCapacity]);

enum class Membership { Member, NotMember, Unknown };

/// Whether the account is in this PC's Administrators group (S-1-5-32-544), directly or
/// through the groups it belongs to, as the system works out its groups now. Unknown when that
/// can't be established: an account unknown here, a domain that can't be reached.
Membership QueryAdministratorsMembership(const char16_t* sid);

/// Who owns a file or folder, as far as an elevated tool may trust what is there.
enum class Owner {
    Trusted,    // an administrator of this PC: Administrators, SYSTEM, TrustedInstaller, the
                // user of the tool's own token, or a member of the Administrators group
    Untrusted,  // anyone else, and an owner that can't be read or whose membership is unknown
    None,       // the volume keeps no owners (FAT, exFAT)
};

/// Whether the account counts as an administrator of this PC, as Owner::Trusted describes.
bool IsAdministratorAccount(const char16_t* sid);

/// The owner of exactly this file or folder, judged; a link at it is asked itself.
Owner QueryOwner(const char16_t* path);

/// One entry of a file's or folder's DACL.
struct AccessEntry {
    bool allows;         // an allow entry; a deny entry grants nothing
    bool forItself;      // applies to the file or folder itself (it is not inherit-only)
    bool forSubfolders;  // passed on to folders made inside it
    bool forFiles;       // passed on to files made inside it
    uint32_t mask;       // the rights it names, generic rights as they are
    char16_t sid[kSidTextCapacity];
};

/// Receives what a file's or folder's security descriptor says, as read through its handle.
class SecurityReader {
  public:
    /// Its owner, first. Returns false when its DACL need not be read.
    virtual bool Owner(OwnerAnswer answer, const char16_t* sid) = 0;
    /// Each entry of its DACL, in order. Returns false to read no further.
    virtual bool Entry(const AccessEntry& entry) = 0;

  protected:
    ~SecurityReader() = default;
};

/// Reads the held entry's owner and DACL through its handle and hands them to the reader;
/// `hasDacl` false: it has none, and anyone may do anything to it. 0, or the system's number.
int ReadSecurity(const HeldEntry& entry, SecurityReader& reader, bool& hasDacl);

/// Whether the held entry's volume keeps owners and rights: false for FAT and exFAT; true when
/// it can't be told.
bool HeldVolumeKeepsOwners(const HeldEntry& entry);

/// Gives the held entry, through its handle, the DACL given in SDDL, protected, so nothing from
/// above is inherited, and its owner unchanged. The access-denied number when the handle may
/// not change its DACL; else 0 or the system's number. A volume may answer 0 and keep what it
/// had.
int SetProtectedRights(const HeldEntry& entry, const char16_t* rights);

// ================================================================================================
// Files, listings and marks: files_win32.cpp.
// ================================================================================================

/// Receives the entries of a folder, one at a time.
class FolderVisitor {
  public:
    /// The entry's own name (no folder part). Returns false to end the listing early.
    virtual bool Visit(const char16_t* name, const EntryFacts& facts) = 0;

  protected:
    ~FolderVisitor() = default;
};

/// Hands every entry of the folder but `.` and `..` to the visitor, in the system's order.
/// Returns 0, or the system's error number when the folder can't be listed; 206 when the
/// folder's path with `\*` would not fit kMaxPath. The search ends before this returns.
int ListFolder(const char16_t* folder, FolderVisitor& visitor);

/// Orders two names of one folder as the file system tells them apart: the system's own
/// case-insensitive ordinal comparison, which folds letters beyond ASCII too. Negative, 0 (one
/// name to the file system) or positive.
int CompareNames(const char16_t* a, const char16_t* b);

/// Holds exactly this file or folder, opened without following a link (a link is held itself),
/// for its data (a folder: its listing) and attributes, its owner and DACL, and to change its
/// DACL where that is granted. Shared with no writer: a handle another program holds that may
/// write it (a folder: add or remove entries) gives kErrorSharingViolation, and none can be
/// opened while this one is. 0, or the system's error number.
int HoldToGuard(const char16_t* path, HeldEntry& entry);

/// Holds the entry of the held folder named exactly `name`, as its listing gave it, as
/// HoldToGuard holds an entry; with `forMark`, to change its attributes too. Opened relative to
/// the folder's handle, so that no rule of Win32 paths trims or reinterprets the name (a
/// trailing dot or space, a device name) and no length of the whole path limits it. 0, or the
/// system's error number: 2 when the name is gone.
int HoldEntryIn(const HeldEntry& folder, const char16_t* name, bool forMark, HeldEntry& entry);

/// Holds the folder at `path` (a drive's root) to list it and open entries relative to it,
/// shared with every other program and changing nothing; a link there is held itself. 0, or
/// the system's error number.
int HoldFolderToWalk(const char16_t* path, HeldEntry& folder);

/// Hands every entry of the held folder but `.` and `..` to the visitor, as listed through its
/// handle. 0, or the system's error number.
int ListHeldFolder(const HeldEntry& folder, FolderVisitor& visitor);

/// Sets the held file's last-write time (in 100 ns ticks) through its handle and reads back the
/// time the volume kept into `kept`. Never touches its bytes. 0, or the system's number.
int MarkHeldFile(const HeldEntry& file, uint64_t lastWrite, uint64_t& kept);

/// Appends the code units as UTF-16LE bytes to the file, creating it if missing, and only
/// there: the file's folder is opened without following a link and must still be the one
/// identified, and the file is opened inside that very folder and must be no link and have no
/// second name. A record that can't be written whole is undone, so the file only ever holds
/// whole records. Where the file's size is odd (something else wrote to it), one zero byte goes
/// before the units in the same write, so that they start on a whole unit. At most kMaxPath
/// units. The file is open only during the call and shared for reading only; a failure is
/// silent.
void AppendToFile(const char16_t* path, const FolderIdentity& identity, const char16_t* units,
                  size_t count);

/// Copies a file, replacing an existing destination. Returns whether it was copied.
bool CopyFileOverwrite(const char16_t* source, const char16_t* destination);

// ================================================================================================
// The shell's copy: shell_copy_win32.cpp; its answer judged in shell_copy_result.cpp.
// ================================================================================================

/// Copies with the shell, without a progress window and answering yes to every question;
/// with `errorsWithoutDialog`, a failure is returned rather than shown in a dialog. Each list
/// holds one path ended by NUL, the list ended by a second NUL. Returns 0 on success, otherwise
/// the shell's error number (ShellCopyResult says which).
int ShellCopy(const char16_t* sourceList, const char16_t* destinationList,
              bool errorsWithoutDialog);

/// Whether anyone could see, and so answer, a dialog the process raised.
bool CanAnswerDialogs(const ProcessSession& session);

/// The result ShellCopy reports for the shell's answer: a copy the shell aborted silently
/// (returned 0 with operations aborted) counts as cancelled, never as success.
int ShellCopyResult(int shellReturn, bool anyOperationsAborted);
