// The report's reading of files, where Linux and Windows differ: a log is only ever a regular
// file, read no further than it reached when opened, so that nothing named *.log on a share
// (a FIFO, a device, a link to one) can hold the report up; and who a file is, so that no output
// is written over a log or another output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

/// Why a file is no log, by what a look at it found (its status, links followed): empty for a
/// regular file; otherwise "a FIFO, not a regular file" and the like.
std::string WhyNoLog(const std::filesystem::file_status& status);

/// A log opened for reading: only as a regular file, opened without blocking and checked on its
/// handle, so that a file put in the place of the one looked at is never read from.
class LogFile {
  public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    enum class Opened { Yes, NoLog, Failed };

    /// Opens the file; `reason` says why it is no log, or why it failed.
    Opened Open(const std::filesystem::path& path, std::string& reason);

    /// Reads up to `size` bytes into `buffer`, never past the size the file had when opened.
    /// Returns how many; 0 at that end; nothing on a failure, with `reason` saying why.
    std::optional<size_t> Read(char* buffer, size_t size, std::string& reason);

  private:
    intptr_t handle_ = -1;  // a descriptor, or a Windows handle
    uint64_t left_ = 0;     // bytes up to the size it had when opened
};

/// Who a file is, whatever path names it: its device and inode, or its volume and file ID.
struct FileIdentity {
    uint64_t device;
    uint64_t file;
    bool operator==(const FileIdentity& other) const {
        return device == other.device && file == other.file;
    }
};

/// The identity of the file the path leads to; nothing when there is none or it can't be told.
std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path);

/// Whether two whole paths name one file as the system spells paths: ignoring letter case on
/// Windows, exactly on Linux. For files that do not exist yet, where no identity can be read.
bool IsSamePathSpelled(const std::filesystem::path& a, const std::filesystem::path& b);
