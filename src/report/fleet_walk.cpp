#include "report/fleet_walk.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// As the path's extension is: ".log" alone is a hidden file's name, no extension.
bool EndsInLog(const Folder::Name& name) {
    constexpr char kExtension[] = ".log";
    constexpr size_t kLength = sizeof kExtension - 1;
    if (name.size() <= kLength) return false;
    for (size_t i = 0; i < kLength; ++i) {
        const auto unit = name[name.size() - kLength + i];
        const bool letter = kExtension[i] != '.';
        if ((letter ? (unit | 0x20) : unit) != kExtension[i]) return false;
    }
    return true;
}

bool Wanted(const Folder::Entry& entry) {
    return entry.type == fs::file_type::directory || EndsInLog(entry.name);
}

}  // namespace

FleetWalk::FleetWalk(std::vector<fs::path> paths) : paths_(std::move(paths)) {}

bool FleetWalk::Next(Input& input) {
    for (;;) {
        if (levels_.empty()) {
            if (nextPath_ == paths_.size()) return false;
            const fs::path& path = paths_[nextPath_++];
            std::error_code error;
            if (!fs::is_directory(path, error)) {
                input = {path.native(), nullptr, {}, false, ""};
                return true;
            }
            // What the system's join puts between a PATH and a name (nothing after / or C:).
            Folder::Name prefix = (path / "-").native();
            prefix.pop_back();
            if (!Enter(nullptr, path.native(), {}, std::move(prefix), input)) return true;
            continue;
        }
        Level& level = levels_.back();
        if (level.next == level.entries.size()) {
            levels_.pop_back();
            continue;
        }
        const Folder::Entry& entry = level.entries[level.next++];
        Folder::Name path = level.prefix + entry.name;
        if (entry.type != fs::file_type::directory) {
            const bool regular = entry.type == fs::file_type::regular;
            input = {std::move(path), level.folder, entry.name, regular, ""};
            return true;
        }
        // After a name, the join always puts a separator.
        Folder::Name prefix = path + fs::path::preferred_separator;
        if (!Enter(level.folder.get(), path, entry.name, std::move(prefix), input)) return true;
    }
}

bool FleetWalk::Enter(const Folder* parent, const Folder::Name& path, const Folder::Name& name,
                      Folder::Name prefix, Input& input) {
    std::string reason;
    Level level{std::move(prefix), Folder::Open(parent, path, name, reason), {}, 0};
    const bool listed = level.folder && level.folder->List(level.entries, reason);
    level.entries.erase(std::remove_if(level.entries.begin(), level.entries.end(),
                                       [](const Folder::Entry& entry) { return !Wanted(entry); }),
                        level.entries.end());
    std::sort(level.entries.begin(), level.entries.end(),
              [](const Folder::Entry& a, const Folder::Entry& b) { return a.name < b.name; });
    levels_.push_back(std::move(level));
    if (listed) return true;
    input = {path, nullptr, {}, false, reason};
    return false;
}
