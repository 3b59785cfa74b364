// An in-memory PC behind the platform operations: drives, files and folders, a clock, the
// console and the executable's path. It checks the preconditions the real system would punish
// (unterminated or oversized paths, malformed copy lists) and fails the test when one breaks.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform_operations.h"

struct FakeEntry {
    bool folder;
    std::u16string content;  // a file's code units
    uint64_t id = 0;         // who a folder is, whatever its path (given when it is made)
    uint64_t lastWrite = 0;  // a file's last-write time, in 100 ns ticks
    std::u16string owner = u"S-1-5-32-544";  // SID text; empty: the owner can't be read
    int markError = 0;  // what setting a file's time answers: an immutable file's error
    std::vector<AccessEntry> dacl{};  // none: its rights let only administrators in
    bool noDacl = false;              // anyone may do anything to it
    int rightsError = 0;              // what setting its rights answers
    std::u16string leadsTo{};         // a file's: the file a link shown as this file leads to
    bool link = false;                // a link the listing shows as one, as Windows' does
    bool heldForWriting = false;      // another program holds a handle that may write it
    int openError = 0;                // what opening it relative to its folder answers
};

struct FakePc {
    std::u16string modulePath = u"C:\\pkg\\Castorel.exe";
    bool modulePathUnreadable = false;
    std::map<std::u16string, FakeEntry> entries;  // by canonical path (see Canonical)
    std::map<char16_t, unsigned> driveTypes;      // a letter without an entry has no drive
    uint64_t lastId = 0;
    std::vector<LocalClock> clockReadings{{2018, 3, 7, 9, 5, 2}};
    size_t clockReads = 0;
    std::string console;  // the bytes standard output receives, LF already turned into CR LF
    int shellReturn = 0;
    bool shellAborted = false;
    bool shellCopiesNothing = false;  // reports success for a copy it never made, as Wine's may
    int64_t shellTimeShift = 0;       // how far a copied file's time moves: FAT keeps 2 s
    std::vector<std::u16string> swappedDuringCopy;            // folders another put in their place
    std::map<std::u16string, FakeEntry> appearingDuringCopy;  // by their keys, as they are
    ProcessSession session{true, 1};                          // an operator's desktop
    std::u16string tokenUser = u"S-1-5-21-7-7-7-500";
    std::map<std::u16string, Membership> administrators;  // a SID not here is no member
    std::u16string drivesWithoutOwners;  // letters of FAT volumes, which keep no time outside
                                         // 1980 to 2107 and leave a file's time as it was
    // Letters of volumes that answer success to a change of time or rights and keep what they
    // had, whose new folders read back open to all (a FAT image through a user-space driver).
    std::u16string drivesIgnoringChanges;
    std::vector<std::pair<std::u16string, std::u16string>> shellCopies;  // source, destination
    bool shellErrorsWithoutDialog = false;  // as the last shell copy was asked
    std::vector<std::pair<std::u16string, std::u16string>> appends;  // path, text: every call
    std::vector<std::u16string> madeFolders;                         // by CreateProtectedFolder
    std::vector<std::u16string> takenOver;                 // their rights, by SetProtectedRights
    std::map<std::u16string, std::u16string> rightsGiven;  // in SDDL, by path: the last given
    // Put at a path by someone else in the instant before the tool makes a folder there.
    std::map<std::u16string, FakeEntry> appearing;
    std::vector<std::pair<std::u16string, std::u16string>> fileCopies;  // source, destination
    std::map<const void*, std::u16string> held;  // what the tool holds open, by handle
    uintptr_t lastHandle = 0;
    // Removed, with all below, by someone else just after their folder is listed by its handle.
    std::vector<std::u16string> vanishingAfterListing;

    void AddFolder(const std::u16string& path);  // with every folder above it
    void AddFile(const std::u16string& path, const std::u16string& content = u"");
    void SetOwner(const std::u16string& path, const std::u16string& sid);
    void SetLastWrite(const std::u16string& path, uint64_t ticks);
    std::u16string FileText(const std::u16string& path) const;
};

/// Final paths as the system would give them, by form ([DOS, NT, DOS as opened, NT as
/// opened][file, folder]); a form that misses either (null) can't be read.
struct GivenFinalPaths final : FinalPathReader {
    const char16_t* paths[4][2] = {};
    bool Read(PathForm form, char16_t (&file)[kFinalPathCapacity],
              char16_t (&folder)[kFinalPathCapacity]) override;
};

/// The machine the platform operations act on; ResetPc gives a fresh one.
FakePc& Pc();
void ResetPc();

/// Readable text of UTF-16 for failure messages and expectations (units above 0x7F as \u).
std::string Narrow(const std::u16string& text);
