// What the report reads, and in which order: the order the tree alone fixes, whatever the
// system lists first, found as it is read so that memory holds one folder's listing per level
// however large the fleet.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "report/log_file.h"

/// One thing to read: a log, or a folder that could not be listed, and why.
struct Input {
    std::filesystem::path::string_type path;  // as the system spells it
    // Where it was found, held open; null for a PATH and for a folder that could not be listed.
    std::shared_ptr<const Folder> folder;
    Folder::Name name;     // its name there
    bool regular = false;  // listed as a regular file, no link: no look is needed before the open
    std::string reason;    // a folder's that could not be listed; empty for a log
};

/// The inputs below the PATHs, in the order given: a file as it is; a folder's files whose names
/// end in .log (in any case) and its folders, depth first, each folder's entries in the order of
/// their names (files and folders together, by the system's units: bytes on Linux, UTF-16 on
/// Windows). Links to folders are not followed, so no link can loop. A folder that can't be
/// listed, or whose listing breaks off, comes before what was listed of it. Each input holds its
/// folder open until it is dropped.
class FleetWalk {
  public:
    explicit FleetWalk(std::vector<std::filesystem::path> paths);

    /// The next input; false after the last.
    bool Next(Input& input);

  private:
    struct Level {
        Folder::Name prefix;  // its path with a separator after, what its entries' paths begin with
        std::shared_ptr<const Folder> folder;
        std::vector<Folder::Entry> entries;  // sorted by name
        size_t next = 0;
    };

    /// Lists the folder `name` in `parent` (null: a PATH) as a new level, its entries' paths
    /// beginning with `prefix`; false, with `input` naming it, when that failed.
    bool Enter(const Folder* parent, const Folder::Name& path, const Folder::Name& name,
               Folder::Name prefix, Input& input);

    std::vector<std::filesystem::path> paths_;
    size_t nextPath_ = 0;
    std::vector<Level> levels_;
};
