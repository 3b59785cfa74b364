#include "servicing/reserve_copy_check.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/platform_operations.h"

namespace {

// The reserve's folders below the drive's root, in the order the tool makes them.
constexpr const char16_t* kReserveFolders[] = {u"preload", u"RM_Reserve"};

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

// FAT keeps last-write times to 2 seconds, in 100 ns ticks here.
constexpr uint64_t kTimeTolerance = uint64_t{2} * 10'000'000;

bool SameTimeWithinTolerance(uint64_t a, uint64_t b) {
    return (a > b ? a - b : b - a) <= kTimeTolerance;
}

// The system changes a name that ends in a dot or a space: FU\a. would be checked and copied as
// FU\a, another file.
bool EndsInDotOrSpace(const char16_t* name) {
    const size_t length = TextLength(name);
    return length > 0 && (name[length - 1] == u'.' || name[length - 1] == u' ');
}

// An existing folder of the reserve: a link could lead the copy anywhere, and one that no
// administrator owns is its owner's to change under the copy, after any check.
int JudgeReserveFolder(EntryKind found, const char16_t* path) {
    if (found == EntryKind::Link) return kErrorReparsePointEncountered;
    if (found == EntryKind::File) return kErrorFileExists;
    return QueryOwner(path) == Owner::Untrusted ? kErrorAccessDenied : 0;
}

// One folder of the reserve as listed once, for looking up each of FU's entries in it: one
// listing per folder costs far less than one query per file. Names are ordered as the file
// system tells them apart. A folder may hold any number of entries, so the names and their
// facts are kept in memory that grows with the listing.
class ReserveListing : public FolderVisitor {
  public:
    ReserveListing() = default;
    ReserveListing(const ReserveListing&) = delete;
    ReserveListing& operator=(const ReserveListing&) = delete;
    ~ReserveListing() {
        std::free(names_);
        std::free(entries_);
    }

    /// False when the folder can't be listed or its listing held in memory.
    bool Read(const char16_t* folder) {
        if (ListFolder(folder, *this) != 0 || outOfMemory_) return false;
        std::sort(entries_, entries_ + count_, [this](const Entry& a, const Entry& b) {
            return CompareIgnoringAsciiCase(names_ + a.name, names_ + b.name) < 0;
        });
        return true;
    }

    const EntryFacts* Find(const char16_t* name) const {
        size_t low = 0;
        size_t high = count_;
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            const int order = CompareIgnoringAsciiCase(names_ + entries_[middle].name, name);
            if (order == 0) return &entries_[middle].facts;
            if (order < 0) low = middle + 1;
            else high = middle;
        }
        return nullptr;
    }

  private:
    struct Entry {
        size_t name;  // where its name starts in names_
        EntryFacts facts;
    };

    bool Visit(const char16_t* name, const EntryFacts& facts) override {
        const size_t units = TextLength(name) + 1;
        if (!Reserve(names_, namesCapacity_, namesUsed_ + units) ||
            !Reserve(entries_, entriesCapacity_, count_ + 1)) {
            outOfMemory_ = true;
            return false;
        }
        std::memcpy(names_ + namesUsed_, name, units * sizeof(char16_t));
        entries_[count_++] = {namesUsed_, facts};
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

enum class WalkSide { BeforeCopy, AfterCopy };

// Walks FU's tree once, carrying the path each entry maps to in the reserve beside its own.
class CopyWalk : public FolderVisitor {
  public:
    explicit CopyWalk(WalkSide side) : side_(side) {}

    // Starts at the drive's root: `X:\` becomes `X:`, to which each folder adds `\name`.
    bool Start(const char16_t* fu, const char16_t* driveRoot) {
        if (!source_.Start(fu) || !destination_.Start(driveRoot)) return false;
        destination_.Ascend(destination_.Length() - 1);
        return true;
    }

    // Goes down the reserve's own folders: before the copy, each that exists must be fit to
    // copy into; after it, each must be there.
    int EnterReserve() {
        for (const char16_t* name : kReserveFolders) {
            if (!destination_.Descend(name, true)) return kErrorFilenameExcedRange;
            const int error = side_ == WalkSide::BeforeCopy
                                  ? JudgeExistingReserveFolder()
                                  : CheckArrived(name, {EntryKind::Folder, 0, 0});
            if (error != 0) return error;
        }
        return 0;
    }

    // After the copy, each folder of the reserve is listed once, beside FU's own listing.
    int WalkFolder() {
        ReserveListing listing;
        const ReserveListing* const parentListing = listing_;
        if (side_ == WalkSide::AfterCopy) {
            if (!listing.Read(destination_.Text())) return kErrorWriteFault;
            listing_ = &listing;
        }
        const int listed = ListFolder(source_.Text(), *this);
        listing_ = parentListing;
        return error_ != 0 ? error_ : listed;
    }

    size_t Entries() const { return entries_; }

  private:
    bool Visit(const char16_t* name, const EntryFacts& facts) override {
        ++entries_;
        if (side_ == WalkSide::BeforeCopy && EndsInDotOrSpace(name)) {
            return Stop(kErrorInvalidName);
        }
        // A link in FU would have the elevated copy read whatever it leads to.
        if (facts.kind == EntryKind::Link) return Stop(kErrorReparsePointEncountered);
        const bool folder = facts.kind == EntryKind::Folder;
        const size_t sourceEnd = source_.Length();
        const size_t destinationEnd = destination_.Length();
        const bool parentExists = destinationExists_;
        int error = kErrorFilenameExcedRange;
        if (source_.Descend(name, folder) && destination_.Descend(name, folder)) {
            error = side_ == WalkSide::BeforeCopy ? CheckDestination(facts)
                                                  : CheckArrived(name, facts);
            if (error == 0 && folder) error = WalkFolder();
        }
        source_.Ascend(sourceEnd);
        destination_.Ascend(destinationEnd);
        destinationExists_ = parentExists;
        return error == 0 || Stop(error);
    }

    int JudgeExistingReserveFolder() {
        if (!destinationExists_) return 0;
        const EntryKind found = QueryEntry(destination_.Text()).kind;
        if (found != EntryKind::Missing) return JudgeReserveFolder(found, destination_.Text());
        destinationExists_ = false;
        return 0;
    }

    // What the entry would replace or enter, if anything, is of its own kind, no link, and for
    // a file no second name of another file (a system file hard-linked where a user can write,
    // on Windows 7 and 8.1).
    int CheckDestination(const EntryFacts& source) {
        if (!destinationExists_) return 0;
        const EntryKind found = QueryEntry(destination_.Text()).kind;
        if (found == EntryKind::Missing) destinationExists_ = false;
        if (found == EntryKind::File && source.kind == EntryKind::File &&
            CountNames(destination_.Text()) > 1) {
            return kErrorReparsePointEncountered;
        }
        if (found == EntryKind::Missing || found == source.kind) return 0;
        return found == EntryKind::Link ? kErrorReparsePointEncountered : kErrorFileExists;
    }

    // The entry is in the reserve as FU has it, never through a link: a folder as a real
    // folder, a file as a real file with its size and last-write time. A name the listing
    // lacks is asked for itself, since its case may differ beyond ASCII.
    int CheckArrived(const char16_t* name, const EntryFacts& source) const {
        const EntryFacts* const listed = listing_ ? listing_->Find(name) : nullptr;
        const EntryFacts copied = listed ? *listed : QueryEntry(destination_.Text());
        if (copied.kind == EntryKind::Link) return kErrorReparsePointEncountered;
        if (copied.kind != source.kind) return kErrorWriteFault;
        if (source.kind == EntryKind::Folder) return 0;
        return copied.size == source.size &&
                       SameTimeWithinTolerance(copied.lastWrite, source.lastWrite)
                   ? 0
                   : kErrorWriteFault;
    }

    bool Stop(int error) {
        error_ = error;
        return false;
    }

    const WalkSide side_;
    PathCursor source_;
    PathCursor destination_;
    bool destinationExists_ = true;            // whether the destination folder walked now exists
    const ReserveListing* listing_ = nullptr;  // after the copy: the reserve's folder walked now
    int error_ = 0;
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
    CopyWalk walk(WalkSide::BeforeCopy);
    if (!walk.Start(fu, driveRoot)) return {kErrorFilenameExcedRange, 0};
    int error = walk.EnterReserve();
    if (error == 0) error = CheckFuItself(fu);
    if (error == 0) error = walk.WalkFolder();
    return {error, walk.Entries()};
}

int MakeReserve(const char16_t* driveRoot) {
    PathCursor reserve;
    if (!reserve.Start(driveRoot)) return kErrorFilenameExcedRange;
    reserve.Ascend(reserve.Length() - 1);
    for (const char16_t* name : kReserveFolders) {
        if (!reserve.Descend(name, true)) return kErrorFilenameExcedRange;
        EntryKind found = QueryEntry(reserve.Text()).kind;
        if (found == EntryKind::Missing) {
            const int made = MakeAdministratorsFolder(reserve.Text());
            if (made == 0) continue;
            if (made != kErrorAlreadyExists) return made;
            found = QueryEntry(reserve.Text()).kind;
        }
        const int error = JudgeReserveFolder(found, reserve.Text());
        if (error != 0) return error;
    }
    return 0;
}

int CheckCopyAfterShell(const char16_t* fu, const char16_t* driveRoot) {
    CopyWalk walk(WalkSide::AfterCopy);
    if (!walk.Start(fu, driveRoot)) return kErrorWriteFault;
    int error = walk.EnterReserve();
    if (error == 0) error = walk.WalkFolder();
    if (error == 0 || error == kErrorReparsePointEncountered) return error;
    return kErrorWriteFault;
}
