// The files the report reads, where Linux and Windows differ: the folders the walk lists, each
// opened once and the logs in it opened from it; a log is only ever a regular file, read no
// further than it reached when opened, so that nothing named *.log on a share (a FIFO, a device,
// a link to one) can hold the report up; and who a file is, by which the outputs
// (output_file.h) are kept from every log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// Why a file is no log, by what a look at it found (its status, links followed): empty for a
/// regular file; otherwise "a FIFO, not a regular file" and the like.
std::string WhyNoLog(const std::filesystem::file_status& status);

/// Who a file is, whatever path names it: its device and inode, or its volume and file ID.
struct FileIdentity {
    uint64_t device;
    uint64_t file;
    bool operator==(const FileIdentity& other) const {
        return device == other.device && file == other.file;
    }
};

/// A folder the walk lists, held open on Linux while anything found in it is still to be read:
/// what lies in it is opened from it by name, so that no path is walked again for each log and
/// no folder put in the place of one listed is entered. Windows names it by its path.
class Folder {
  public:
    using Name = std::filesystem::path::string_type;
    struct Entry {
        Name name;
        std::filesystem::file_type type;  // as listed, a link not followed
    };

    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    /// Opens the folder at `path`, which is `name` in `parent`, a link there not followed; with
    /// no parent, a folder named on the command line. Null, with `reason`, when it can't be.
    static std::shared_ptr<const Folder> Open(const Folder* parent, const Name& path,
                                              const Name& name, std::string& reason);

    /// Every entry but . and ..; false, with `reason` saying why, when the listing broke off
    /// (the entries listed till then kept).
    bool List(std::vector<Entry>& entries, std::string& reason) const;

    /// Who the file named `name` in it is, a link followed; nothing when it can't be told.
    std::optional<FileIdentity> Identify(const Name& name) const;

  private:
    friend class LogFile;
    Folder() = default;

    intptr_t handle_ = -1;        // a descriptor on Linux
    std::filesystem::path path_;  // what Windows lists it by
};

/// How many of `wanted` files the process may hold open at once, its limit raised towards it
/// where the system allows.
size_t OpenFilesAllowed(size_t wanted);

/// A log opened for reading: only as a regular file, opened without blocking and checked on its
/// handle, so that a file put in the place of the one looked at is never read from.
class LogFile {
  public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    enum class Opened { Yes, NoLog, Failed };

    /// Opens the file at `path`, which is `name` in `folder` (null: named on the command line);
    /// `reason` says why it is no log, or why it failed.
    Opened Open(const Folder* folder, const Folder::Name& name, const Folder::Name& path,
                std::string& reason);

    /// Reads up to `size` bytes into `buffer`, never past the size the file had when opened.
    /// Returns how many; 0 at that end; nothing on a failure, with `reason` saying why.
    std::optional<size_t> Read(char* buffer, size_t size, std::string& reason);

    /// The bytes still to read of what the file held when opened.
    uint64_t Left() const { return left_; }

    /// Who the opened file is.
    const FileIdentity& Identity() const { return identity_; }

  private:
    intptr_t handle_ = -1;  // a descriptor, or a Windows handle
    uint64_t left_ = 0;     // bytes up to the size it had when opened
    FileIdentity identity_{0, 0};
};

/// Who standard output is, where the system can tell.
std::optional<FileIdentity> StandardOutputIdentity();

/// Whether standard output is a regular file, which may be a log.
bool StandardOutputIsRegularFile();

/// The identity of the file the path leads to; nothing when there is none or it can't be told.
std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path);
