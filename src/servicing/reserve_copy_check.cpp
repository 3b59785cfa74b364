#include "servicing/reserve_copy_check.h"

#include "platform/platform_operations.h"

namespace {

// The reserve's folders below the drive's root, in the order the copy creates them.
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

    // Goes down the reserve's own folders; before the copy, each that exists must be a real
    // folder, as any folder the copy enters, and one that a user owns is theirs to change
    // under the copy, after any check.
    int EnterReserve() {
        for (const char16_t* name : kReserveFolders) {
            if (!destination_.Descend(name, true)) return kErrorFilenameExcedRange;
            const int error = CheckDestination({EntryKind::Folder, 0});
            if (error != 0) return error;
            if (side_ == WalkSide::BeforeCopy && destinationExists_ &&
                QueryOwner(destination_.Text()) == Owner::Untrusted) {
                return kErrorAccessDenied;
            }
        }
        return 0;
    }

    int WalkFolder() {
        const int listed = ListFolder(source_.Text(), *this);
        return error_ != 0 ? error_ : listed;
    }

    size_t Entries() const { return entries_; }

  private:
    bool Visit(const char16_t* name, const EntryFacts& facts) override {
        ++entries_;
        // A link in FU would have the elevated copy read whatever it leads to.
        if (facts.kind == EntryKind::Link) return Stop(kErrorReparsePointEncountered);
        const bool folder = facts.kind == EntryKind::Folder;
        const size_t sourceEnd = source_.Length();
        const size_t destinationEnd = destination_.Length();
        const bool parentExists = destinationExists_;
        int error = kErrorFilenameExcedRange;
        if (source_.Descend(name, folder) && destination_.Descend(name, folder)) {
            error = CheckDestination(facts);
            if (error == 0 && folder) error = WalkFolder();
        }
        source_.Ascend(sourceEnd);
        destination_.Ascend(destinationEnd);
        destinationExists_ = parentExists;
        return error == 0 || Stop(error);
    }

    // Before the copy: what the entry would replace or enter, if anything, is of its own kind,
    // no link, and for a file no second name of another file (a system file hard-linked where
    // a user can write, on Windows 7 and 8.1). After it: each file arrived whole.
    int CheckDestination(const EntryFacts& source) {
        if (side_ == WalkSide::AfterCopy) {
            return source.kind == EntryKind::Folder || Arrived(source) ? 0 : kErrorWriteFault;
        }
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

    bool Arrived(const EntryFacts& source) const {
        const EntryFacts copied = QueryEntry(destination_.Text());
        return copied.kind == EntryKind::File && copied.size == source.size;
    }

    bool Stop(int error) {
        error_ = error;
        return false;
    }

    const WalkSide side_;
    PathCursor source_;
    PathCursor destination_;
    bool destinationExists_ = true;  // whether the destination folder walked now exists
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

int CheckCopyAfterShell(const char16_t* fu, const char16_t* driveRoot) {
    CopyWalk walk(WalkSide::AfterCopy);
    if (!walk.Start(fu, driveRoot)) return kErrorWriteFault;
    int error = walk.EnterReserve();
    if (error == 0) error = walk.WalkFolder();
    return error == 0 ? 0 : kErrorWriteFault;
}
