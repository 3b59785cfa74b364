#include "report/fleet_walk.h"

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;

namespace {

bool EndsInLog(const fs::path& name) {
    std::string extension = name.extension().u8string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".log";
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
                input = {path, true, false, ""};
                return true;
            }
            if (!Enter(path, input)) return true;
            continue;
        }
        Level& level = levels_.back();
        if (level.next == level.entries.size()) {
            levels_.pop_back();
            continue;
        }
        const Entry& entry = level.entries[level.next++];
        const fs::path path = level.folder / entry.name;
        if (entry.type != fs::file_type::directory) {
            input = {path, false, entry.type == fs::file_type::regular, ""};
            return true;
        }
        if (!Enter(path, input)) return true;
    }
}

bool FleetWalk::Enter(const fs::path& folder, Input& input) {
    Level level{folder, {}, 0};
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // The listing's own kind of each entry, asked of the system again only where it lacks it.
        std::error_code kind;
        const fs::file_type type = it->is_symlink(kind)        ? fs::file_type::symlink
                                   : it->is_directory(kind)    ? fs::file_type::directory
                                   : it->is_regular_file(kind) ? fs::file_type::regular
                                                               : fs::file_type::unknown;
        if (type == fs::file_type::directory || EndsInLog(it->path())) {
            level.entries.push_back({it->path().filename(), type});
        }
    }
    std::sort(level.entries.begin(), level.entries.end(),
              [](const Entry& a, const Entry& b) { return a.name.native() < b.name.native(); });
    levels_.push_back(std::move(level));
    if (!error) return true;
    input = {folder, false, false, error.message()};
    return false;
}
