#include "servicing/reserve_copy_check.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform_operations.h"
#include "servicing/reserve_rights.h"

namespace {

// The reserve's folders below the drive's root, in the order the tool makes them.
constexpr const char16_t* kReserveFolders[kReserveFolderCount] = {u"preload", u"RM_Reserve"};

// A path grown and cut back in place as the walk goes down the tree and up again.
class PathCursor {
  public:
    bool Start(const char16_t* path) {
        const bool fits = ComposeText(units_, u"%s", {path});
        length_ = TextLength(units_);
        return fits;
    }

    // Appends `\name`. A folder keeps room for the `\*` that lists it. False, with the path
    // unchanged, when that would not fit.
    bool Descend(const char16_t* name, bool folder) {
        const size_t nameLength = TextLength(name);
        const size_t room = folder ? 2 : 0;
        if (length_ + 1 + nameLength + room >= kMaxPath) return false;
        units_[length_] = u'\\';
        for (size_t i = 0; i < nameLength; ++i) units_[length_ + 1 + i] = name[i];
        Ascend(length_ + 1 + nameLength);
        return true;
    }

    void Ascend(size_t length) {
        length_ = length;
        units_[length_] = 0;
    }

    size_t Length() const { return length_; }
    const char16_t* Text() const { return units_; }

  private:
    char16_t units_[kMaxPath];
    size_t length_ = 0;
};

constexpr uint64_t kSecond = 10'000'000;  // in 100 ns ticks (FILETIME)
constexpr uint64_t kHour = 3600 * kSecond;

// FAT keeps last-write times to 2 seconds.
constexpr uint64_t kTimeTolerance = 2 * kSecond;

// FAT keeps local times from 1980 to 2107 only. From a day after its first to a day before its
// last, it keeps a time in every time zone: 1980-01-02 and 2107-12-30, 00:00 UTC.
constexpr uint64_t kFatKeepsFrom = 119'600'928'000'000'000;
constexpr uint64_t kFatKeepsUntil = 159'991'200'000'000'000;

bool SameTimeWithinTolerance(uint64_t a, uint64_t b) {
    return (a > b ? a - b : b - a) <= kTimeTolerance;
}

// What a reserve file gets before the shell replaces it: a time an hour from FU's file's, far
// outside FAT's 2 seconds and a whole number of them, and one every volume keeps, so the check
// after the copy tells a file the shell replaced (FU's time) from one it left behind (this one).
uint64_t MarkedTime(uint64_t fuLastWrite) {
    const uint64_t kept = std::clamp(fuLastWrite, kFatKeepsFrom, kFatKeepsUntil);
    return kept >= kFatKeepsFrom + kHour ? kept - kHour : kept + kHour;
}

// The system changes a name that ends in a dot or a space: FU\a. would be checked and copied as
// FU\a, another file.
bool EndsInDotOrSpace(const char16_t* name) {
    const size_t length = TextLength(name);
    return length > 0 && (name[length - 1] == u'.' || name[length - 1] == u' ');
}

// A reserve file FU replaces, guarded; it gets `mark`, which must be the time it then keeps.
int JudgeReplacedFile(const HeldEntry& folder, const char16_t* name, const char16_t* path,
                      uint64_t mark) {
    uint64_t kept = 0;
    const int error = GuardAndMarkFile(folder, name, path, mark, kept);
    if (error != 0) return error;
    return SameTimeWithinTolerance(kept, mark) ? 0 : kErrorWriteFault;
}

// One folder as listed once, ordered as the file system tells names apart: for looking names
// up (one listing per folder costs far less than one query per file) and for finding two names
// it takes for one. A folder may hold any number of entries, so the names and their facts are
// kept in memory that grows with the listing.
class FolderListing : public FolderVisitor {
  public:
    FolderListing() = default;
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;
    ~FolderListing() {
        std::free(names_);
        std::free(entries_);
    }

    /// 0; the system's error number when the folder can't be listed; kErrorNotEnoughMemory
    /// when its listing can't be held.
    int Read(const char16_t* folder) { return Sorted(ListFolder(folder, *this)); }

    /// The same, as listed through the held folder's handle.
    int Read(const HeldEntry& folder) { return Sorted(ListHeldFolder(folder, *this)); }

    size_t Count() const { return count_; }
    const char16_t* NameAt(size_t index) const { return NameOf(entries_[index]); }
    const EntryFacts& FactsAt(size_t index) const { return entries_[index].facts; }

    bool HasTwoNamesForOne() const {
        for (size_t i = 1; i < count_; ++i) {
            if (CompareNames(NameAt(i - 1), NameAt(i)) == 0) return true;
        }
        return false;
    }

    bool IsTaken(size_t index) const { return entries_[index].taken; }

    static constexpr size_t kNone = ~size_t{0};
    static constexpr size_t kSeveral = kNone - 1;

    /// The entry the file system takes `name` for; kNone when there is none, or when an earlier
    /// name took it already: one entry answers for one name at most. kSeveral where the folder
    /// keeps several apart that answer for it (a folder that tells case apart): the system's
    /// lookup, which the shell uses, may find any of them.
    size_t Take(const char16_t* name) {
        Entry* const end = entries_ + count_;
        Entry* const first = std::lower_bound(entries_, end, name,
                                              [this](const Entry& entry, const char16_t* key) {
                                                  return CompareNames(NameOf(entry), key) < 0;
                                              });
        Entry* last = first;
        while (last != end && CompareNames(NameOf(*last), name) == 0) ++last;
        if (last - first > 1) return kSeveral;
        if (first == last || first->taken) return kNone;
        first->taken = true;
        return static_cast<size_t>(first - entries_);
    }

  private:
    struct Entry {
        size_t name;  // where its name starts in names_
        EntryFacts facts;
        bool taken;
    };

    const char16_t* NameOf(const Entry& entry) const { return names_ + entry.name; }

    int Sorted(int listed) {
        if (listed != 0) return listed;
        if (outOfMemory_) return kErrorNotEnoughMemory;
        std::sort(entries_, entries_ + count_, [this](const Entry& a, const Entry& b) {
            return CompareNames(NameOf(a), NameOf(b)) < 0;
        });
        return 0;
    }

    bool Visit(const char16_t* name, const EntryFacts& facts) override {
        const size_t units = TextLength(name) + 1;
        if (!Reserve(names_, namesCapacity_, namesUsed_ + units) ||
            !Reserve(entries_, entriesCapacity_, count_ + 1)) {
            outOfMemory_ = true;
            return false;
        }
        std::memcpy(names_ + namesUsed_, name, units * sizeof(char16_t));
        entries_[count_++] = {namesUsed_, facts, false};
        namesUsed_ += units;
        return true;
    }

    template <typename Item>
    static bool Reserve(Item*& items, size_t& capacity, size_t needed) {
        if (needed <= capacity) return true;
        const size_t grown = needed * 2;
        Item* const moved = static_cast<Item*>(std::realloc(items, grown * sizeof(Item)));
        if (!moved) return false;
        items = moved;
        capacity = grown;
        return true;
    }

    char16_t* names_ = nullptr;
    size_t namesCapacity_ = 0;
    size_t namesUsed_ = 0;
    Entry* entries_ = nullptr;
    size_t entriesCapacity_ = 0;
    size_t count_ = 0;
    bool outOfMemory_ = false;
};

// A folder of the reserve, or below it, held while its entries that FU brings none of are
// judged, with its path on its volume. The folders being judged are kept on the heap, one above
// the other: a reserve may be as deep as its volume lets paths be, far deeper than the stack's
// room for a call per level.
struct FolderLeft {
    HeldEntry held{};
    FolderListing listing;
    size_t next = 0;
    char16_t* volumePath = nullptr;
    FolderLeft* above = nullptr;

    FolderLeft() = default;
    FolderLeft(const FolderLeft&) = delete;
    FolderLeft& operator=(const FolderLeft&) = delete;
    ~FolderLeft() {
        ReleaseEntry(held);
        std::free(volumePath);
    }
};

// Walks the entries that FU brings none of, below one held reserve folder: recovery tools read
// the whole reserve as administrators, so none may answer to anyone else. Each folder is listed
// and its entries opened through its own handle, by the very name listed, at any depth.
class EntriesLeftWalk {
  public:
    EntriesLeftWalk() = default;
    EntriesLeftWalk(const EntriesLeftWalk&) = delete;
    EntriesLeftWalk& operator=(const EntriesLeftWalk&) = delete;
    ~EntriesLeftWalk() {
        while (deepest_) Ascend();
        std::free(topPath_);
        std::free(scratch_);
    }

    // The top folder's listing is the walk's own, with the entries FU brings taken.
    int Judge(const HeldEntry& top, FolderListing& topListing) {
        scratch_ = static_cast<char16_t*>(std::malloc(kVolumePathCapacity * sizeof(char16_t)));
        if (!scratch_) return kErrorNotEnoughMemory;
        int error = ReadVolumePath(top, scratch_);
        if (error == 0) error = KeepPath(topPath_);
        size_t topNext = 0;
        while (error == 0) {
            const HeldEntry& folder = deepest_ ? deepest_->held : top;
            FolderListing& listing = deepest_ ? deepest_->listing : topListing;
            size_t& next = deepest_ ? deepest_->next : topNext;
            if (next == listing.Count()) {
                if (!deepest_) break;
                Ascend();
                continue;
            }
            const size_t index = next++;
            if (listing.IsTaken(index)) continue;
            HeldEntry entry{};
            const char16_t* const name = listing.NameAt(index);
            error = JudgeEntry(folder, name, listing.FactsAt(index).kind, entry);
            if (error == 0 && entry.handle != nullptr && entry.kind == EntryKind::Folder) {
                error = Descend(entry);
            }
            ReleaseEntry(entry);
        }
        return error;
    }

  private:
    // A link is refused whoever owns it: nothing about its owner tells where it leads, and
    // recovery tools follow it; a file with a second name elsewhere too. An entry gone since
    // the listing leaves nothing to judge. A file's owner is judged before where it lies, and
    // that before its rights change: Wine follows a link to a file in every open, and shows it
    // only by the path the handle reached.
    int JudgeEntry(const HeldEntry& folder, const char16_t* name, EntryKind listed,
                   HeldEntry& entry) {
        if (listed == EntryKind::Link) return kErrorReparsePointEncountered;
        const int opened = HoldEntryIn(folder, name, false, entry);
        if (opened == kErrorFileNotFound) return 0;
        if (opened != 0) return opened;
        if (entry.kind == EntryKind::Link) return kErrorReparsePointEncountered;
        if (entry.kind == EntryKind::File && entry.names > 1) return kErrorReparsePointEncountered;
        RightsVerdict verdict = RightsVerdict::Open;
        int error = JudgeRights(entry, volume_, verdict);
        if (error != 0) return error;
        if (verdict == RightsVerdict::OwnerUntrusted) return kErrorAccessDenied;
        if (entry.kind == EntryKind::File) {
            error = ReadVolumePath(entry, scratch_);
            if (error != 0) return error;
            if (!IsFinalPathOfLeafInFolder(scratch_, FolderPath(), name)) {
                return kErrorReparsePointEncountered;
            }
        }
        return verdict == RightsVerdict::Open ? TakeOverRights(entry, volume_) : 0;
    }

    // Holds the folder judged while its own entries are.
    int Descend(HeldEntry& entry) {
        FolderLeft* const below = new (std::nothrow) FolderLeft;
        if (!below) return kErrorNotEnoughMemory;
        below->held = entry;
        entry.handle = nullptr;
        below->above = deepest_;
        deepest_ = below;
        int error = ReadVolumePath(below->held, scratch_);
        if (error == 0) error = KeepPath(below->volumePath);
        return error != 0 ? error : below->listing.Read(below->held);
    }

    void Ascend() {
        FolderLeft* const done = deepest_;
        deepest_ = done->above;
        delete done;
    }

    int KeepPath(char16_t*& kept) const {
        const size_t units = TextLength(scratch_) + 1;
        kept = static_cast<char16_t*>(std::malloc(units * sizeof(char16_t)));
        if (!kept) return kErrorNotEnoughMemory;
        std::memcpy(kept, scratch_, units * sizeof(char16_t));
        return 0;
    }

    const char16_t* FolderPath() const { return deepest_ ? deepest_->volumePath : topPath_; }

    VolumeOwners volume_;
    FolderLeft* deepest_ = nullptr;
    char16_t* topPath_ = nullptr;
    char16_t* scratch_ = nullptr;  // a path read from the system, of kVolumePathCapacity units
};

enum class WalkSide { BeforeCopy, AfterCopy };

constexpr EntryFacts kAFolder{EntryKind::Folder, 0, 0};

// Walks FU's tree once, carrying the path each entry maps to in the reserve beside its own, and
// lists each folder of both once.
class CopyWalk {
  public:
    CopyWalk(WalkSide side, ReserveFolders& folders) : side_(side), folders_(folders) {}
    CopyWalk(const CopyWalk&) = delete;
    CopyWalk& operator=(const CopyWalk&) = delete;
    ~CopyWalk() { ReleaseEntry(reserve_); }

    // Starts at the drive's root: `X:\` becomes `X:`, to which each folder adds `\name`.
    bool Start(const char16_t* fu, const char16_t* driveRoot) {
        if (!source_.Start(fu) || !destination_.Start(driveRoot)) return false;
        destination_.Ascend(destination_.Length() - 1);
        return true;
    }

    // Goes down the reserve's own folders. Before the copy, from the drive's root down, each
    // is looked up in its parent's listing and, where it exists, held through its parent by the
    // name listed, judged fit to copy into and identified; the reserve stays held for the walk.
    // After it, each must still be the folder identified.
    int EnterReserve(const char16_t* driveRoot) {
        HeldEntry parent{};
        int error = side_ == WalkSide::BeforeCopy ? HoldFolderToWalk(driveRoot, parent) : 0;
        for (size_t i = 0; error == 0 && i < kReserveFolderCount; ++i) {
            if (!destination_.Descend(kReserveFolders[i], true)) {
                error = kErrorFilenameExcedRange;
            } else if (side_ == WalkSide::AfterCopy) {
                error = CheckStillTheFolder(folders_.identities[i]);
            } else if (parent.handle != nullptr) {
                error = HoldReserveFolder(parent, i);
            }
        }
        if (error == 0 && parent.handle != nullptr) {
            reserve_ = parent;
            parent.handle = nullptr;
            reserveFolder_ = &reserve_;
        }
        ReleaseEntry(parent);
        return error;
    }

    // The folder of FU walked now, against its folder in the reserve.
    int WalkFolder() {
        FolderListing fu;
        const int listed = fu.Read(source_.Text());
        if (listed != 0) return listed;
        if (side_ == WalkSide::BeforeCopy && fu.HasTwoNamesForOne()) return kErrorDuplicateName;
        if (side_ == WalkSide::AfterCopy) {
            FolderListing reserve;
            if (reserve.Read(destination_.Text()) != 0) return kErrorWriteFault;
            return WalkEntries(fu, &reserve);
        }
        if (!reserveFolder_) return WalkEntries(fu, nullptr);
        // Before the copy the reserve's folder is held while FU's entries are judged against
        // its listing, and each entry in it is opened through it.
        FolderListing reserve;
        int error = reserve.Read(*reserveFolder_);
        if (error == 0) error = WalkEntries(fu, &reserve);
        if (error == 0) error = EntriesLeftWalk().Judge(*reserveFolder_, reserve);
        return error;
    }

    size_t Entries() const { return entries_; }

  private:
    int WalkEntries(const FolderListing& fu, FolderListing* reserve) {
        for (size_t i = 0; i < fu.Count(); ++i) {
            const int error = WalkEntry(fu.NameAt(i), fu.FactsAt(i), reserve);
            if (error != 0) return error;
        }
        return 0;
    }

    // `parent` becomes the reserve's folder at `index`, held; or nothing, where it is missing.
    int HoldReserveFolder(HeldEntry& parent, size_t index) {
        FolderListing listing;
        int error = listing.Read(parent);
        const size_t taken = error == 0 ? listing.Take(kReserveFolders[index])
                                        : FolderListing::kNone;
        if (taken == FolderListing::kSeveral) error = kErrorDuplicateName;
        HeldEntry folder{};
        if (error == 0 && taken != FolderListing::kNone) {
            error = CheckDestination(kAFolder, listing.FactsAt(taken), parent,
                                     listing.NameAt(taken), &folders_.identities[index], folder);
        }
        ReleaseEntry(parent);
        parent = folder;
        return error;
    }

    // The reserve's entry for it keeps its own name: the file system found it by FU's. Before
    // the copy, a folder found there is held while FU's folder is walked against it.
    int WalkEntry(const char16_t* name, const EntryFacts& facts, FolderListing* reserve) {
        ++entries_;
        if (side_ == WalkSide::BeforeCopy && EndsInDotOrSpace(name)) return kErrorInvalidName;
        // A link in FU would have the elevated copy read whatever it leads to.
        if (facts.kind == EntryKind::Link) return kErrorReparsePointEncountered;
        const bool folder = facts.kind == EntryKind::Folder;
        const size_t taken = reserve ? reserve->Take(name) : FolderListing::kNone;
        if (taken == FolderListing::kSeveral) return kErrorDuplicateName;
        const EntryFacts* const found = taken != FolderListing::kNone ? &reserve->FactsAt(taken)
                                                                      : nullptr;
        const char16_t* const reserveName = found ? reserve->NameAt(taken) : name;
        const size_t sourceEnd = source_.Length();
        const size_t destinationEnd = destination_.Length();
        const HeldEntry* const parentFolder = reserveFolder_;
        HeldEntry held{};
        int error = kErrorFilenameExcedRange;
        if (source_.Descend(name, folder) && destination_.Descend(reserveName, folder)) {
            error = CheckEntry(facts, found, reserveName, held);
            reserveFolder_ = held.handle != nullptr ? &held : nullptr;
            if (error == 0 && folder) error = WalkFolder();
        }
        source_.Ascend(sourceEnd);
        destination_.Ascend(destinationEnd);
        reserveFolder_ = parentFolder;
        ReleaseEntry(held);
        return error;
    }

    // Before the copy, what the entry meets in the reserve, if anything, with a folder held in
    // `folder`; after it, what arrived.
    int CheckEntry(const EntryFacts& facts, const EntryFacts* found, const char16_t* reserveName,
                   HeldEntry& folder) const {
        if (side_ == WalkSide::AfterCopy) return CheckArrived(facts, found);
        if (!found) return 0;
        return CheckDestination(facts, *found, *reserveFolder_, reserveName, nullptr, folder);
    }

    // A folder put in the place of one the tool judged or made redirected what the shell wrote.
    int CheckStillTheFolder(const FolderIdentity& identity) const {
        const EntryFacts found = QueryEntry(destination_.Text());
        const int error = CheckArrived(kAFolder, &found);
        if (error != 0) return error;
        return IsSameFolder(IdentifyFolder(destination_.Text()), identity)
                   ? 0
                   : kErrorReparsePointEncountered;
    }

    // What the entry would replace or enter is of its own kind and no link, as listed (Wine
    // follows a link to a folder in every open) and as held, opened through the reserve's folder
    // `parent` by the name listed there. A folder it enters is judged, identified in `identity`
    // unless that is null, and held in `folder`; a file it replaces is judged, and marked with a
    // time FU's file can't have.
    int CheckDestination(const EntryFacts& source, const EntryFacts& found, const HeldEntry& parent,
                         const char16_t* name, FolderIdentity* identity, HeldEntry& folder) const {
        if (found.kind == EntryKind::Link) return kErrorReparsePointEncountered;
        if (found.kind != source.kind) return kErrorFileExists;
        if (source.kind == EntryKind::Folder) return GuardFolderIn(parent, name, identity, folder);
        return JudgeReplacedFile(parent, name, destination_.Text(), MarkedTime(source.lastWrite));
    }

    // The entry is in the reserve as FU has it, never through a link: a folder as a real
    // folder an administrator owns (one a user put there took what the shell wrote into it),
    // a file as a real file with its size and last-write time.
    int CheckArrived(const EntryFacts& source, const EntryFacts* copied) const {
        if (!copied || copied->kind == EntryKind::Missing) return kErrorWriteFault;
        if (copied->kind == EntryKind::Link) return kErrorReparsePointEncountered;
        if (copied->kind != source.kind) return kErrorWriteFault;
        if (source.kind == EntryKind::Folder) {
            return QueryOwner(destination_.Text()) == Owner::Untrusted
                       ? kErrorReparsePointEncountered
                       : 0;
        }
        return copied->size == source.size && IsKeptTime(copied->lastWrite, source.lastWrite)
                   ? 0
                   : kErrorWriteFault;
    }

    // FU's time as the reserve's volume keeps it. FAT can't keep one outside its years, and
    // keeps another instead; only the mark, which it can keep, tells a file left behind there.
    bool IsKeptTime(uint64_t copied, uint64_t fuLastWrite) const {
        if (SameTimeWithinTolerance(copied, fuLastWrite)) return true;
        const bool beyondFat = fuLastWrite < kFatKeepsFrom || fuLastWrite > kFatKeepsUntil;
        return beyondFat && !SameTimeWithinTolerance(copied, MarkedTime(fuLastWrite)) &&
               !VolumeKeepsOwners(destination_.Text());
    }

    const WalkSide side_;
    ReserveFolders& folders_;
    PathCursor source_;
    PathCursor destination_;
    HeldEntry reserve_{};                       // RM_Reserve, held before the copy if it exists
    const HeldEntry* reserveFolder_ = nullptr;  // the reserve's folder walked now, if held
    size_t entries_ = 0;
};

int CheckFuItself(const char16_t* fu) {
    switch (QueryEntry(fu).kind) {
        case EntryKind::Missing:
            return kErrorPathNotFound;
        case EntryKind::File:
            return kErrorDirectory;
        case EntryKind::Link:
            return kErrorReparsePointEncountered;
        case EntryKind::Folder:
            break;
    }
    return 0;
}

}  // namespace

CopyPreflight CheckCopyBeforeShell(const char16_t* fu, const char16_t* driveRoot) {
    CopyPreflight preflight{kErrorFilenameExcedRange, 0, {}};
    CopyWalk walk(WalkSide::BeforeCopy, preflight.folders);
    if (!walk.Start(fu, driveRoot)) return preflight;
    int error = walk.EnterReserve(driveRoot);
    if (error == 0) error = CheckFuItself(fu);
    if (error == 0) error = walk.WalkFolder();
    preflight.error = error;
    preflight.entries = walk.Entries();
    return preflight;
}

int MakeReserve(const char16_t* driveRoot, ReserveFolders& folders) {
    PathCursor reserve;
    if (!reserve.Start(driveRoot)) return kErrorFilenameExcedRange;
    reserve.Ascend(reserve.Length() - 1);
    for (size_t i = 0; i < kReserveFolderCount; ++i) {
        if (!reserve.Descend(kReserveFolders[i], true)) return kErrorFilenameExcedRange;
        FolderIdentity& identity = folders.identities[i];
        if (identity.known) continue;  // judged before the copy
        const int made = MakeAdministratorsFolder(reserve.Text(), identity);
        if (made == 0) continue;
        if (made != kErrorAlreadyExists) return made;
        const int error = GuardFolder(reserve.Text(), &identity);
        if (error != 0) return error;
    }
    return 0;
}

int CheckCopyAfterShell(const char16_t* fu, const char16_t* driveRoot, ReserveFolders folders) {
    CopyWalk walk(WalkSide::AfterCopy, folders);
    if (!walk.Start(fu, driveRoot)) return kErrorWriteFault;
    int error = walk.EnterReserve(driveRoot);
    if (error == 0) error = walk.WalkFolder();
    if (error == 0 || error == kErrorReparsePointEncountered) return error;
    return kErrorWriteFault;
}
