// What the report reads, and in which order: the order the tree alone fixes, whatever the
// system lists first, found as it is read so that memory holds one folder's listing per level
// however large the fleet.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

/// One thing to read: a log, or a folder that could not be listed, and why.
struct Input {
    std::filesystem::path path;
    bool named = false;    // named on the command line, not found in a folder
    bool regular = false;  // listed as a regular file, no link: no look is needed before the open
    std::string reason;    // a folder's that could not be listed; empty for a log
};

/// The inputs below the PATHs, in the order given: a file as it is; a folder's files whose names
/// end in .log (in any case) and its folders, depth first, each folder's entries in the order of
/// their names (files and folders together, by the system's units: bytes on Linux, UTF-16 on
/// Windows). Links to folders are not followed, so no link can loop. A folder that can't be
/// listed, or whose listing breaks off, comes before what was listed of it.
class FleetWalk {
  public:
    explicit FleetWalk(std::vector<std::filesystem::path> paths);

    /// The next input; false after the last.
    bool Next(Input& input);

  private:
    struct Entry {
        std::filesystem::path name;
        std::filesystem::file_type type;  // as listed, a link not followed
    };
    struct Level {
        std::filesystem::path folder;
        std::vector<Entry> entries;  // sorted by name
        size_t next = 0;
    };

    /// Lists the folder as a new level; false, with `input` naming it, when that failed.
    bool Enter(const std::filesystem::path& folder, Input& input);

    std::vector<std::filesystem::path> paths_;
    size_t nextPath_ = 0;
    std::vector<Level> levels_;
};
