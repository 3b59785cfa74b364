#include "fake_pc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

FakePc thePc;

// A path as the fake stores it: ASCII letters in upper case, runs of `\` as one.
std::u16string Canonical(const std::u16string& path) {
    std::u16string canonical;
    for (char16_t unit : path) {
        if (unit == u'\\' && !canonical.empty() && canonical.back() == u'\\') continue;
        canonical += (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 32) : unit;
    }
    return canonical;
}

// The real calls read a path up to its terminator within a MAX_PATH buffer: a path that
// reaches kMaxPath units has been built past its buffer.
std::u16string CheckedPath(const char16_t* path, const char* operation) {
    size_t length = 0;
    while (length < kMaxPath && path[length]) ++length;
    if (length == kMaxPath) ADD_FAILURE() << operation << ": path not terminated within MAX_PATH";
    return std::u16string(path, length);
}

std::u16string ParentOf(const std::u16string& canonical) {
    const size_t slash = canonical.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : canonical.substr(0, slash);
}

bool IsDriveRoot(const std::u16string& canonical) {
    return canonical.size() == 3 && canonical[1] == u':' && canonical[2] == u'\\';
}

bool ParentFolderExists(const std::u16string& canonical) {
    const std::u16string parent = ParentOf(canonical);
    if (parent.size() == 2 && parent[1] == u':') return thePc.driveTypes.count(parent[0]) > 0;
    const auto found = thePc.entries.find(parent);
    return found != thePc.entries.end() && found->second.folder;
}

// A drive's root is known by its letter; any other folder by the id it was made with.
FolderIdentity IdentityOfFolder(const std::u16string& canonical) {
    if (canonical.size() == 2 && canonical[1] == u':') {
        return {thePc.driveTypes.count(canonical[0]) > 0, 0, canonical[0]};
    }
    const auto found = thePc.entries.find(canonical);
    if (found == thePc.entries.end() || !found->second.folder) return {false, 0, 0};
    return {true, 1, found->second.id};
}

const FakeEntry* Lookup(const std::u16string& path) {
    const auto found = thePc.entries.find(Canonical(path));
    return found == thePc.entries.end() ? nullptr : &found->second;
}

// One path ended by NUL, the list by a second NUL, all within a MAX_PATH buffer.
std::u16string CheckedSinglePathList(const char16_t* list) {
    const std::u16string path = CheckedPath(list, "ShellCopy");
    if (path.empty()) ADD_FAILURE() << "ShellCopy: empty list";
    if (path.size() + 1 >= kMaxPath) ADD_FAILURE() << "ShellCopy: no room for the closing NUL";
    else if (list[path.size() + 1] != 0) ADD_FAILURE() << "ShellCopy: list not closed by NUL";
    return path;
}

EntryFacts FactsOf(const FakeEntry& entry) {
    if (entry.link) return {EntryKind::Link, 0, entry.lastWrite};
    if (entry.folder) return {EntryKind::Folder, 0, entry.lastWrite};
    return {EntryKind::File, entry.content.size() * sizeof(char16_t), entry.lastWrite};
}

// A FAT volume's first and last times, as one in the time zone furthest west keeps them.
constexpr uint64_t kFatFirst = 119'600'496'000'000'000;  // 1980-01-01 12:00 UTC
constexpr uint64_t kFatLast = 160'000'199'980'000'000;   // 2107-12-31 23:59:58 UTC

// When the shell's copy writes a file: what it keeps where FAT can't keep FU's time.
constexpr uint64_t kNow = 134'000'000'000'000'000;

// The time a file at that path keeps when given `ticks`: where a FAT volume can't hold that, the
// time it had (a file the shell writes has the time it was written).
bool IgnoresChanges(const std::u16string& canonical) {
    return thePc.drivesIgnoringChanges.find(canonical[0]) != std::u16string::npos;
}

uint64_t KeptTime(const std::u16string& canonical, uint64_t had, uint64_t ticks) {
    const bool fat = thePc.drivesWithoutOwners.find(canonical[0]) != std::u16string::npos;
    return fat && (ticks < kFatFirst || ticks > kFatLast) ? had : ticks;
}

// What a shell's successful copy of `folder\*` leaves: every entry below it in the destination,
// written into an entry the destination has under a name its file system takes for the same,
// with the last-write time that file system keeps.
void CopyTree(const std::u16string& folder, const std::u16string& destination) {
    thePc.AddFolder(destination);
    const std::u16string prefix = folder + u"\\";
    std::map<std::u16string, FakeEntry> copied;
    for (auto at = thePc.entries.lower_bound(prefix);
         at != thePc.entries.end() && at->first.rfind(prefix, 0) == 0; ++at) {
        std::u16string path = destination + at->first.substr(folder.size());
        for (const auto& [existing, entry] : thePc.entries) {
            if (thePc.entries.count(path) == 0 && CompareNames(existing.c_str(), path.c_str()) == 0)
                path = existing;
        }
        copied[path] = at->second;
        if (!at->second.folder) {
            copied[path].lastWrite = KeptTime(path, kNow,
                                              at->second.lastWrite + thePc.shellTimeShift);
        }
    }
    for (const auto& [path, entry] : copied) thePc.entries[path] = entry;
}

}  // namespace

FakePc& Pc() { return thePc; }

void ResetPc() {
    if (!thePc.held.empty()) ADD_FAILURE() << thePc.held.size() << " entries left held";
    thePc = FakePc();
}

std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t unit : text) {
        if (unit < 0x80) {
            narrow += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            narrow += escaped;
        }
    }
    return narrow;
}

void FakePc::AddFolder(const std::u16string& path) {
    std::u16string canonical = Canonical(path);
    while (!canonical.empty() && canonical.back() == u'\\') canonical.pop_back();
    if (canonical.empty() || (canonical.size() == 2 && canonical[1] == u':')) return;
    AddFolder(ParentOf(canonical));
    FakeEntry& entry = entries[canonical];
    if (!entry.folder) entry = FakeEntry{true, u"", ++lastId};
}

void FakePc::AddFile(const std::u16string& path, const std::u16string& content) {
    const std::u16string canonical = Canonical(path);
    AddFolder(ParentOf(canonical));
    entries[canonical] = FakeEntry{false, content, ++lastId};
}

void FakePc::SetOwner(const std::u16string& path, const std::u16string& sid) {
    entries.at(Canonical(path)).owner = sid;
}

void FakePc::SetLastWrite(const std::u16string& path, uint64_t ticks) {
    entries.at(Canonical(path)).lastWrite = ticks;
}

std::u16string FakePc::FileText(const std::u16string& path) const {
    const auto found = entries.find(Canonical(path));
    return found == entries.end() ? u"" : found->second.content;
}

// The platform operations, in the groups of platform_operations.h.

// --- the process and its console ---

ProcessSession QueryProcessSession() { return thePc.session; }

size_t GetModulePath(char16_t* buffer, size_t capacity) {
    if (thePc.modulePathUnreadable) return 0;
    const size_t length = std::min(thePc.modulePath.size(), capacity - 1);
    thePc.modulePath.copy(buffer, length);
    buffer[length] = 0;
    return thePc.modulePath.size() < capacity ? length : capacity;
}

void RemoveLastComponent(char16_t* path) {
    const std::u16string text = CheckedPath(path, "RemoveLastComponent");
    const size_t slash = text.rfind(u'\\');
    if (slash == std::u16string::npos) {
        path[0] = 0;
    } else {
        // As the real call does, a root keeps its `\`: "C:\" and "\".
        const bool rootSlash = slash == 0 || (slash == 2 && text[1] == u':');
        path[rootSlash ? slash + 1 : slash] = 0;
    }
}

unsigned QueryDriveType(const char16_t* root) {
    const std::u16string text = CheckedPath(root, "QueryDriveType");
    if (!IsDriveRoot(text)) ADD_FAILURE() << "not a drive root: " << Narrow(text);
    const auto found = thePc.driveTypes.find(text[0]);
    return found == thePc.driveTypes.end() ? 1 : found->second;  // 1: no root directory
}

LocalClock ReadLocalClock() {
    const size_t last = thePc.clockReadings.size() - 1;
    return thePc.clockReadings[std::min(thePc.clockReads++, last)];
}

void WriteToStandardOutput(const char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') thePc.console += '\r';
        thePc.console += bytes[i];
    }
}

// --- identities and final paths ---

bool GivenFinalPaths::Read(PathForm form, char16_t (&file)[kFinalPathCapacity],
                           char16_t (&folder)[kFinalPathCapacity]) {
    const auto& pair = paths[static_cast<int>(form)];
    return pair[0] && pair[1] && ComposeText(file, u"%s", {pair[0]}) &&
           ComposeText(folder, u"%s", {pair[1]});
}

FolderIdentity IdentifyFolder(const char16_t* path) {
    return IdentityOfFolder(Canonical(CheckedPath(path, "IdentifyFolder")));
}

FolderIdentity IdentifyFolderOf(const char16_t* path) {
    return IdentityOfFolder(ParentOf(Canonical(CheckedPath(path, "IdentifyFolderOf"))));
}

// --- owners, rights and the take-over ---

namespace {

// What the path-based calls and those through a held handle read alike.
OwnerAnswer OwnerOf(const std::u16string& path, char16_t (&sid)[kSidTextCapacity]) {
    const FakeEntry* entry = Lookup(path);
    if (!entry || entry->owner.empty() || entry->owner.size() >= kSidTextCapacity) {
        return OwnerAnswer::Unreadable;
    }
    sid[entry->owner.copy(sid, kSidTextCapacity - 1)] = 0;
    return OwnerAnswer::Read;
}

bool KeepsOwners(const std::u16string& canonical) {
    return canonical.empty() ||
           thePc.drivesWithoutOwners.find(canonical[0]) == std::u16string::npos;
}

}  // namespace

OwnerAnswer ReadOwner(const char16_t* path, char16_t (&sid)[kSidTextCapacity]) {
    return OwnerOf(CheckedPath(path, "ReadOwner"), sid);
}

bool VolumeKeepsOwners(const char16_t* path) {
    return KeepsOwners(Canonical(CheckedPath(path, "VolumeKeepsOwners")));
}

bool ReadTokenUser(char16_t (&sid)[kSidTextCapacity]) {
    sid[thePc.tokenUser.copy(sid, kSidTextCapacity - 1)] = 0;
    return true;
}

Membership QueryAdministratorsMembership(const char16_t* sid) {
    const auto found = thePc.administrators.find(sid);
    return found == thePc.administrators.end() ? Membership::NotMember : found->second;
}

// --- files, listings and marks ---

EntryFacts QueryEntry(const char16_t* path) {
    const std::u16string text = CheckedPath(path, "QueryEntry");
    if (text.find_first_of(u"*?") != std::u16string::npos) ADD_FAILURE() << "wildcard probed";
    const FakeEntry* entry = Lookup(text);
    return entry ? FactsOf(*entry) : EntryFacts{EntryKind::Missing, 0, 0};
}

namespace {

// In the reverse of the order the system's comparison gives: a file system may list in any.
void ListCanonical(const std::u16string& canonical, FolderVisitor& visitor) {
    const std::u16string prefix = canonical + u"\\";
    std::vector<std::pair<std::u16string, EntryFacts>> listed;
    for (auto at = thePc.entries.lower_bound(prefix);
         at != thePc.entries.end() && at->first.compare(0, prefix.size(), prefix) == 0; ++at) {
        const std::u16string name = at->first.substr(prefix.size());
        if (name.find(u'\\') == std::u16string::npos)
            listed.emplace_back(name, FactsOf(at->second));
    }
    for (auto at = listed.rbegin(); at != listed.rend(); ++at) {
        if (!visitor.Visit(at->first.c_str(), at->second)) break;
    }
}

// What a held handle stands for; a handle not held fails the test.
const std::u16string& HeldPath(const HeldEntry& entry, const char* operation) {
    static const std::u16string none;
    const auto found = thePc.held.find(entry.handle);
    if (found != thePc.held.end()) return found->second;
    ADD_FAILURE() << operation << ": a handle not held";
    return none;
}

// What a hold for a mark is granted beyond any other: the right to change attributes.
constexpr uint32_t kHeldForMark = 0x100;

// A handle is a number the fake counts up, never an address.
HeldEntry Hold(const std::u16string& canonical, EntryKind kind) {
    void* const handle = reinterpret_cast<void*>(static_cast<uintptr_t>(++thePc.lastHandle));
    thePc.held[handle] = canonical;
    return {handle, 0, kind, 1};
}

void RemoveWithAllBelow(const std::u16string& canonical) {
    const std::u16string prefix = canonical + u"\\";
    thePc.entries.erase(canonical);
    for (auto at = thePc.entries.lower_bound(prefix);
         at != thePc.entries.end() && at->first.compare(0, prefix.size(), prefix) == 0;) {
        at = thePc.entries.erase(at);
    }
}

}  // namespace

int ListFolder(const char16_t* folder, FolderVisitor& visitor) {
    const std::u16string text = CheckedPath(folder, "ListFolder");
    if (text.size() + 2 >= kMaxPath) return 206;
    const FakeEntry* entry = Lookup(text);
    if (!entry || !entry->folder) return 3;
    ListCanonical(Canonical(text), visitor);
    return 0;
}

int HoldEntryIn(const HeldEntry& folder, const char16_t* name, bool forMark, HeldEntry& entry) {
    const std::u16string& folderPath = HeldPath(folder, "HoldEntryIn");
    if (folder.kind != EntryKind::Folder) ADD_FAILURE() << "HoldEntryIn: not a folder";
    const std::u16string canonical = folderPath + u"\\" + Canonical(name);
    const FakeEntry* const found = Lookup(canonical);
    if (!found) return 2;
    if (found->openError != 0) return found->openError;
    if (found->heldForWriting) return kErrorSharingViolation;
    entry = Hold(canonical, FactsOf(*found).kind);
    if (forMark) entry.access = kHeldForMark;
    return 0;
}

// A drive's root, or a folder: the tool walks through no other entry.
int HoldFolderToWalk(const char16_t* path, HeldEntry& folder) {
    std::u16string canonical = Canonical(CheckedPath(path, "HoldFolderToWalk"));
    if (IsDriveRoot(canonical)) {
        canonical.pop_back();
        if (thePc.driveTypes.count(canonical[0]) == 0) return 3;
    } else if (const FakeEntry* const found = Lookup(canonical); !found || !found->folder) {
        ADD_FAILURE() << "HoldFolderToWalk: no folder at " << Narrow(canonical);
        return 3;
    }
    folder = Hold(canonical, EntryKind::Folder);
    return 0;
}

int ListHeldFolder(const HeldEntry& folder, FolderVisitor& visitor) {
    const std::u16string& canonical = HeldPath(folder, "ListHeldFolder");
    ListCanonical(canonical, visitor);
    for (const std::u16string& vanishing : thePc.vanishingAfterListing) {
        if (ParentOf(Canonical(vanishing)) == canonical) RemoveWithAllBelow(Canonical(vanishing));
    }
    return 0;
}

void ReleaseEntry(HeldEntry& entry) {
    if (entry.handle != nullptr && thePc.held.erase(entry.handle) == 0) {
        ADD_FAILURE() << "ReleaseEntry: a handle not held";
    }
    entry.handle = nullptr;
}

// Letters as the system's comparison folds them, as far as the tests need: ASCII, Latin-1's and
// the Greek sigma. The store itself folds ASCII only, so FU can hold two names that the
// reserve takes for one, as on a file system that tells them apart.
int CompareNames(const char16_t* a, const char16_t* b) {
    const auto fold = [](char16_t unit) -> char16_t {
        if (unit >= u'a' && unit <= u'z') return unit - 32;
        if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return unit - 32;
        return unit == 0x03C3 ? 0x03A3 : unit;
    };
    for (;; ++a, ++b) {
        const char16_t x = fold(*a);
        const char16_t y = fold(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

// --- what the tool holds open, and what is read and changed through it ---

FolderIdentity IdentifyHeld(const HeldEntry& entry) {
    const std::u16string& canonical = HeldPath(entry, "IdentifyHeld");
    const FakeEntry* const found = Lookup(canonical);
    return found && !found->link ? IdentityOfFolder(canonical) : FolderIdentity{false, 0, 0};
}

int CreateProtectedFolder(const char16_t* path, const char16_t* rights, HeldEntry& made) {
    const std::u16string canonical = Canonical(CheckedPath(path, "CreateProtectedFolder"));
    const auto appeared = thePc.appearing.find(canonical);
    if (appeared != thePc.appearing.end()) thePc.entries[canonical] = appeared->second;
    if (thePc.entries.count(canonical) > 0) return kErrorAlreadyExists;
    if (!ParentFolderExists(canonical)) return 3;
    thePc.madeFolders.push_back(canonical);
    thePc.AddFolder(canonical);
    thePc.entries.at(canonical).noDacl = IgnoresChanges(canonical);
    thePc.rightsGiven[canonical] = rights;
    made = Hold(canonical, EntryKind::Folder);
    return 0;
}

// As the system resolves them, in every form: a link shown as a file leads elsewhere.
bool IsHeldEntryAtPath(const HeldEntry& entry, const char16_t* path) {
    const std::u16string& canonical = HeldPath(entry, "IsHeldEntryAtPath");
    const std::u16string text = CheckedPath(path, "IsHeldEntryAtPath");
    const FakeEntry& found = thePc.entries.at(canonical);
    const std::u16string finalPath = found.leadsTo.empty() ? canonical : Canonical(found.leadsTo);
    const std::u16string finalFile = u"\\\\?\\" + finalPath;
    const std::u16string finalFolder = u"\\\\?\\" + ParentOf(Canonical(text));
    GivenFinalPaths paths;
    for (auto& form : paths.paths) {
        form[0] = finalFile.c_str();
        form[1] = finalFolder.c_str();
    }
    const std::u16string leaf = text.substr(text.rfind(u'\\') + 1);
    return IsDosFinalPathOf(finalFile.c_str(), path) || IsFileLeafOfFolder(paths, leaf.c_str());
}

// Without the drive's letter and colon; a link shown as a file names where it leads.
int ReadVolumePath(const HeldEntry& entry, char16_t* path) {
    const std::u16string& canonical = HeldPath(entry, "ReadVolumePath");
    const std::u16string& leadsTo = thePc.entries.at(canonical).leadsTo;
    const std::u16string onVolume = (leadsTo.empty() ? canonical : Canonical(leadsTo)).substr(2);
    if (onVolume.size() >= kVolumePathCapacity) ADD_FAILURE() << "ReadVolumePath: too long";
    path[onVolume.copy(path, kVolumePathCapacity - 1)] = 0;
    return 0;
}

int ReadSecurity(const HeldEntry& entry, SecurityReader& reader, bool& hasDacl) {
    const std::u16string& canonical = HeldPath(entry, "ReadSecurity");
    const FakeEntry& found = thePc.entries.at(canonical);
    char16_t sid[kSidTextCapacity] = {};
    hasDacl = !found.noDacl;
    if (!reader.Owner(OwnerOf(canonical, sid), sid)) return 0;
    for (const AccessEntry& access : found.dacl) {
        if (!reader.Entry(access)) break;
    }
    return 0;
}

bool HeldVolumeKeepsOwners(const HeldEntry& entry) {
    return KeepsOwners(HeldPath(entry, "HeldVolumeKeepsOwners"));
}

// A volume that ignores changes answers success and keeps what it had.
int SetProtectedRights(const HeldEntry& entry, const char16_t* rights) {
    const std::u16string& canonical = HeldPath(entry, "SetProtectedRights");
    FakeEntry& found = thePc.entries.at(canonical);
    if (found.rightsError != 0) return found.rightsError;
    thePc.takenOver.push_back(canonical);
    thePc.rightsGiven[canonical] = rights;
    if (!IgnoresChanges(canonical)) {
        found.noDacl = false;
        found.dacl.clear();
    }
    return 0;
}

int HoldToGuard(const char16_t* path, HeldEntry& entry) {
    const std::u16string canonical = Canonical(CheckedPath(path, "HoldToGuard"));
    const FakeEntry* const found = Lookup(canonical);
    if (!found) return 2;
    if (found->heldForWriting) return kErrorSharingViolation;
    entry = Hold(canonical, FactsOf(*found).kind);
    return 0;
}

int MarkHeldFile(const HeldEntry& file, uint64_t lastWrite, uint64_t& kept) {
    const std::u16string& canonical = HeldPath(file, "MarkHeldFile");
    FakeEntry& entry = thePc.entries.at(canonical);
    if (file.kind != EntryKind::File) ADD_FAILURE() << "MarkHeldFile: not a file";
    if (file.access != kHeldForMark) ADD_FAILURE() << "MarkHeldFile: not held for its mark";
    if (entry.markError != 0) return entry.markError;
    if (!IgnoresChanges(canonical))
        entry.lastWrite = KeptTime(canonical, entry.lastWrite, lastWrite);
    kept = entry.lastWrite;
    return 0;
}

void AppendToFile(const char16_t* path, const FolderIdentity& identity, const char16_t* units,
                  size_t count) {
    const std::u16string text = CheckedPath(path, "AppendToFile");
    if (count > kMaxPath) ADD_FAILURE() << "AppendToFile: more than a record's capacity";
    thePc.appends.emplace_back(text, std::u16string(units, count));
    const std::u16string canonical = Canonical(text);
    if (!IsSameFolder(IdentityOfFolder(ParentOf(canonical)), identity)) return;
    FakeEntry& entry = thePc.entries[canonical];
    if (entry.folder) return;
    entry.content.append(units, count);
}

bool CopyFileOverwrite(const char16_t* source, const char16_t* destination) {
    const std::u16string sourceText = CheckedPath(source, "CopyFileOverwrite");
    const std::u16string destinationText = CheckedPath(destination, "CopyFileOverwrite");
    thePc.fileCopies.emplace_back(sourceText, destinationText);
    const FakeEntry* from = Lookup(sourceText);
    const std::u16string to = Canonical(destinationText);
    if (!from || from->folder || !ParentFolderExists(to)) return false;
    thePc.entries[to] = *from;
    return true;
}

// --- the shell's copy ---

int ShellCopy(const char16_t* sourceList, const char16_t* destinationList,
              bool errorsWithoutDialog) {
    thePc.shellErrorsWithoutDialog = errorsWithoutDialog;
    const std::u16string source = CheckedSinglePathList(sourceList);
    const std::u16string destination = CheckedSinglePathList(destinationList);
    thePc.shellCopies.emplace_back(source, destination);
    const int result = ShellCopyResult(thePc.shellReturn, thePc.shellAborted);
    for (const std::u16string& swapped : thePc.swappedDuringCopy) {
        thePc.entries.at(Canonical(swapped)).id = ++thePc.lastId;
    }
    if (result == 0 && !thePc.shellCopiesNothing)
        CopyTree(Canonical(source.substr(0, source.size() - 2)), Canonical(destination));
    thePc.entries.insert(thePc.appearingDuringCopy.begin(), thePc.appearingDuringCopy.end());
    return result;
}
